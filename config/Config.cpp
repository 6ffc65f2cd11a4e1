#include "config/Config.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "config/ConfigFile.h"
#include "core/Debug.h"

#define CONFIG_VALUE_LEN  64    // room for a number's text
#define CONFIG_NAME_LEN   128   // room for "user%d:passwd"

enum ConfigKeyKind_E {
    CONFIG_KEY_INT,             // a 32-bit word of ConfigAttr_S
    CONFIG_KEY_TEXT,            // a text of ConfigAttr_S
    CONFIG_KEY_IP,              // a text whose default is getDefaultIp of the MAC
    CONFIG_KEY_EDID,            // a text of ConfigEdidText_S, not in a new file
};

struct ConfigKey_S {
    const char *pszSection;
    const char *pszKey;
    ConfigKeyKind_E enKind;
    u32 u32Offset;              // in ConfigAttr_S, or ConfigEdidText_S for CONFIG_KEY_EDID
    u32 u32Width;               // bytes of a text field
    u32 u32Default;             // written into a new file
    u32 u32Fallback;            // read when the key is missing or holds -1
    const char *pszDefault;
    const char *pszFallback;
    const char *pszAddName;     // name in the builder's failure message, else prefix and key
};

#define CFG_KEY(sec, key, kind, rec, field, dnum, fnum, dtext, ftext, name)          \
    { sec, key, kind, offsetof(rec, field), sizeof(((rec *)nullptr)->field), dnum, fnum, \
      dtext, ftext, name }
#define CFG_WORD(sec, key, field, def, fb) \
    CFG_KEY(sec, key, CONFIG_KEY_INT, ConfigAttr_S, field, def, fb, nullptr, nullptr, nullptr)
#define CFG_TEXT(sec, key, field, def, fb, name) \
    CFG_KEY(sec, key, CONFIG_KEY_TEXT, ConfigAttr_S, field, 0, 0, def, fb, name)
#define CFG_EDID(key, field) \
    CFG_KEY("edidattr", key, CONFIG_KEY_EDID, ConfigEdidText_S, field, 0, 0, "", "", nullptr)
#define CFG_STREAM(sec, st, key, field, def, fb) CFG_WORD(sec, key, st.field, def, fb)

// Every persisted field, in the order of the file, except that the edidattr
// keys are visited before the last three miscattr keys.
static const ConfigKey_S s_astConfigKeys[] = {
    CFG_TEXT("devattr", "devicename", stDevAttr.azDeviceName, "QRX-T4100LNK", "QRX-T4100LNK",
             "DevAttr:DeviceName"),
    CFG_TEXT("devattr", "deviceid", stDevAttr.azDeviceId, "00:00:00:00:00:00", "00:00:00:00:00:00",
             "DevAttr:DeviceId"),
    CFG_TEXT("devattr", "alias", stDevAttr.azAlias, "KVB 001", "TX 001", "DevAttr:alias"),
    CFG_STREAM("mainattr", stMainAttr, "audiobitrate", u32Audiobitrate, 128000, 128000),
    CFG_STREAM("mainattr", stMainAttr, "audiocodec", u32Audiocodec, 0, 0),
    CFG_STREAM("mainattr", stMainAttr, "audiofreq", u32Audiofreq, 48000, 48000),
    CFG_STREAM("mainattr", stMainAttr, "audioinput", u32Audioinput, 1, 1),
    CFG_STREAM("mainattr", stMainAttr, "videobitrate", u32Videobitrate, 20480, 8192),
    CFG_STREAM("mainattr", stMainAttr, "encres", u32Encres, 1, 1),
    CFG_STREAM("mainattr", stMainAttr, "enctype", u32Enctype, 1, 1),
    CFG_STREAM("mainattr", stMainAttr, "fps", u32Fps, 60, 60),
    CFG_STREAM("mainattr", stMainAttr, "height", u32Height, 1080, 1080),
    CFG_STREAM("mainattr", stMainAttr, "ratecontrol", u32Ratecontrol, 1, 1),
    CFG_STREAM("mainattr", stMainAttr, "width", u32Width, 1920, 1920),
    CFG_STREAM("subattr", stSubAttr, "audiobitrate", u32Audiobitrate, 0, 128000),
    CFG_STREAM("subattr", stSubAttr, "audiocodec", u32Audiocodec, 1, 1),
    CFG_STREAM("subattr", stSubAttr, "audiofreq", u32Audiofreq, 0, 48000),
    CFG_STREAM("subattr", stSubAttr, "audioinput", u32Audioinput, 0, 1),
    CFG_STREAM("subattr", stSubAttr, "videobitrate", u32Videobitrate, 1024, 1024),
    CFG_STREAM("subattr", stSubAttr, "encres", u32Encres, 0, 1),
    CFG_STREAM("subattr", stSubAttr, "enctype", u32Enctype, 1, 1),
    CFG_STREAM("subattr", stSubAttr, "fps", u32Fps, 60, 60),
    CFG_STREAM("subattr", stSubAttr, "height", u32Height, 360, 360),
    CFG_STREAM("subattr", stSubAttr, "ratecontrol", u32Ratecontrol, 1, 1),
    CFG_STREAM("subattr", stSubAttr, "width", u32Width, 640, 640),
    CFG_WORD("netattr", "dhcp", stNetAttr.enDHCP, 1, 0),
    CFG_TEXT("netattr", "gateway", stNetAttr.azGateway, "169.254.100.1", "169.254.100.1", nullptr),
    CFG_KEY("netattr", "ip", CONFIG_KEY_IP, ConfigAttr_S, stNetAttr.azIp, 0, 0, nullptr, nullptr, nullptr),
    CFG_TEXT("netattr", "submask", stNetAttr.azNetmask, "255.255.0.0", "255.255.0.0", nullptr),
    CFG_KEY("netattr", "httpport", CONFIG_KEY_INT, ConfigAttr_S, stNetAttr.u32HttpPort, 80, 80,
            nullptr, nullptr, "NetAttr:httpport"),
    CFG_WORD("serialattr", "baudrate", stSerialAttr.u32Baudrate, 115200, 115200),
    CFG_WORD("serialattr", "databits", stSerialAttr.u32Databits, 8, 8),
    CFG_WORD("serialattr", "parity", stSerialAttr.u32Parity, 0, 0),
    CFG_WORD("serialattr", "stopbits", stSerialAttr.u32Stopbits, 1, 1),
    CFG_WORD("manualattr", "edidindex", stManual.s32Edid_index, 0, 0),
    CFG_WORD("manualattr", "id", stManual.s32ID, 0, 0),
    CFG_WORD("manualattr", "irvoltage", stManual.s32IrVoltage, 1, 1),
    CFG_WORD("manualattr", "lcdmode", stManual.s32LcdDisplayMode, 1, 1),
    CFG_WORD("manualattr", "ledmode", stManual.s32LedDisplayMode, 1, 1),
    CFG_TEXT("miscattr", "webpsw", stMisc.azWebPsw, "qarzy", "qarzy", nullptr),
    CFG_TEXT("miscattr", "webuser", stMisc.azWebUser, "qarzy", "qarzy", nullptr),
    CFG_WORD("miscattr", "dot1x", stMisc.s32Dot1x, 0, 0),
    CFG_WORD("miscattr", "https", stMisc.s32Https, 0, 0),
    CFG_WORD("miscattr", "ports", stMisc.s32Ports, 1, 1),
    CFG_WORD("miscattr", "ssh", stMisc.s32Ssh, 1, 1),
    CFG_WORD("miscattr", "telnet", stMisc.s32Telnet, 1, 1),
    CFG_WORD("miscattr", "web", stMisc.s32Web, 1, 1),
    CFG_TEXT("miscattr", "dot1xpwd", stMisc.azDot1xPwd, "", "", nullptr),
    CFG_WORD("miscattr", "hdcpmode", stMisc.s32HdcpMode, 0, 0),
    CFG_WORD("miscattr", "telnetport", stMisc.s32TelnetPort, 23, 23),
    CFG_TEXT("miscattr", "dot1xuser", stMisc.azDot1xUser, "", "", nullptr),
    CFG_EDID("rxedid", azRxEdid),
    CFG_EDID("user1edid", azUser1Edid),
    CFG_EDID("user2edid", azUser2Edid),
    CFG_WORD("miscattr", "streamdbg", stMisc.s32StreamDbg, 0, 0),
    CFG_WORD("miscattr", "filedebug", stMisc.s32FileDebug, 0, 0),
    CFG_WORD("miscattr", "btnmode", stMisc.s32BtnMode, 0, 0),
};

// The builder's failure messages name a key with its section's prefix.
static const char *const s_apszAddPrefix[][2] = {
    { "netattr", "netattr:" },       { "mainattr", "mainattr:" },     { "subattr", "subattr:" },
    { "serialattr", "SerialAttr:" }, { "manualattr", "ManualAttr:" }, { "miscattr", "MiscAttr:" },
};

std::recursive_mutex g_ConfigMutex;
static dictionary *g_pstConfigDict;    // under g_ConfigMutex; null while nothing is loaded
static char *g_pszConfigPath;          // under g_ConfigMutex; every save writes here
static bool s_bFileBehind;             // under g_ConfigMutex; the last Config_set wrote no file
static bool s_bInMemory;               // under g_ConfigMutex; the path is not written in this process
static char s_azWhy[CONFIG_WHY_LEN];   // under g_ConfigMutex; why the last store failed, with the path
static DebugLimit_S s_stSaveLimit;     // every setter sent from the LAN comes to a save
static DebugLimit_S s_stMemoryLimit;   // the same, for a store that runs from memory
static DebugLimit_S s_stNotesLimit;    // a copy beside that cannot be written fails at every save

static std::string Config_Name(const ConfigKey_S *pstKey)
{
    return std::string(pstKey->pszSection) + ":" + pstKey->pszKey;
}

static std::string Config_AddName(const ConfigKey_S *pstKey)
{
    if (pstKey->pszAddName != nullptr)
        return pstKey->pszAddName;
    for (const auto &apsz : s_apszAddPrefix) {
        if (strcmp(apsz[0], pstKey->pszSection) == 0)
            return std::string(apsz[1]) + pstKey->pszKey;
    }
    return Config_Name(pstKey);
}

static char *Config_Field(const ConfigKey_S *pstKey, const ConfigAttr_S *pstAttr,
                          const ConfigEdidText_S *pstEdid)
{
    const char *pc = pstKey->enKind == CONFIG_KEY_EDID ? (const char *)pstEdid : (const char *)pstAttr;
    return (char *)pc + pstKey->u32Offset;
}

// The text of a field as the file stores it: "%u" for the builder, "%d"
// for the writer; a text field is read up to its width even without NUL.
static std::string Config_Value(const ConfigKey_S *pstKey, const char *pcField, const char *pszNumFmt)
{
    if (pstKey->enKind != CONFIG_KEY_INT)
        return std::string(pcField, strnlen(pcField, pstKey->u32Width));
    char az[CONFIG_VALUE_LEN] = {0};
    u32 u32Word;
    memcpy(&u32Word, pcField, sizeof(u32Word));
    snprintf(az, sizeof(az), pszNumFmt, u32Word);
    return az;
}

static bool Config_Ready(const void *pvAttr, const void *pvEdid)
{
    if (pvAttr == nullptr || pvEdid == nullptr) {
        Debug_Log("[%s]: param err!\n", log_Time());
        return false;
    }
    if (g_pstConfigDict == nullptr) {
        Debug_Log("[%s]: config not init!\n", log_Time());
        return false;
    }
    return true;
}

u8 Config_HexByte(const char *psz, size_t sizeLen, size_t sizePos)
{
    u32 u32Val = 0;
    for (size_t i = sizePos; i < sizeLen && i < sizePos + 2 && isxdigit((u8)psz[i]); i++)
        u32Val = u32Val * 16 + (u32)(isdigit((u8)psz[i]) ? psz[i] - '0' : tolower((u8)psz[i]) - 'a' + 10);
    return (u8)u32Val;
}

s32 getDefaultIp(char *pszOut, const char *pszMac)
{
    size_t sizeLen = pszMac != nullptr ? strnlen(pszMac, 17) : 0;
    u8 u8B5 = Config_HexByte(pszMac, sizeLen, 12);
    u8 u8B6 = Config_HexByte(pszMac, sizeLen, 15);
    Debug_Log("[%s]: ipVal1 %hhu ipVal2 %hhu\n", log_Time(), u8B5, u8B6);
    // 169.254.0.0 and 169.254.255.255 are not host addresses.
    if (u8B6 == 255 && u8B5 == 0)
        snprintf(pszOut, CONFIG_IP_LEN, "169.254.0.128");
    else if (u8B6 == 254 && u8B5 == 255)
        snprintf(pszOut, CONFIG_IP_LEN, "169.254.255.127");
    else
        snprintf(pszOut, CONFIG_IP_LEN, "169.254.%hhu.%hhu", (u8)(u8B6 + 1), u8B5);
    Debug_Log("[%s]: %s: default ip %s\n", log_Time(), "getDefaultIp", pszOut);
    return 0;
}

s32 Config_default(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid, const char *pszMac)
{
    for (const ConfigKey_S &stKey : s_astConfigKeys) {
        char *pcField = Config_Field(&stKey, pstAttr, pstEdid);
        if (stKey.enKind == CONFIG_KEY_INT)
            memcpy(pcField, &stKey.u32Default, sizeof(u32));
        else if (stKey.enKind == CONFIG_KEY_TEXT)
            snprintf(pcField, stKey.u32Width, "%s", stKey.pszDefault);
        else if (stKey.enKind == CONFIG_KEY_IP)
            getDefaultIp(pcField, pszMac);
    }
    pstAttr->stNetAttr.bHdcpServer = 0;
    for (ConfigRoute_S *pstRoute : { &pstAttr->stSerialMatrix, &pstAttr->stIrMatrix }) {
        pstRoute->s32Enable = 0;
        snprintf(pstRoute->azTxId, sizeof(pstRoute->azTxId), CONFIG_ROUTE_CLEARED);
    }
    memset(pstEdid, 0, sizeof(*pstEdid));
    return 0;
}

dictionary *Config_createDefault(const char *pszMac)
{
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;
    memset(&stAttr, 0, sizeof(stAttr));
    Config_default(&stAttr, &stEdid, pszMac);
    dictionary *d = dictionary_new(0);
    if (d == nullptr) {
        Debug_Log("[%s]: %s: out of memory\n", log_Time(), __func__);
        return nullptr;
    }
    const char *pszSection = "";
    for (const ConfigKey_S &stKey : s_astConfigKeys) {
        if (stKey.enKind == CONFIG_KEY_EDID)
            continue;
        if (strcmp(pszSection, stKey.pszSection) != 0) {
            pszSection = stKey.pszSection;
            (void)ini_add_entry(d, pszSection, nullptr, nullptr);   // a failure shows at its first key
        }
        std::string val = Config_Value(&stKey, Config_Field(&stKey, &stAttr, &stEdid), "%u");
        if (ini_add_entry(d, stKey.pszSection, stKey.pszKey, val.c_str()) != 0) {
            Debug_Log("[%s]: add %s failed\n", log_Time(), Config_AddName(&stKey).c_str());
            dictionary_del(d);
            return nullptr;
        }
    }
    return d;
}

s32 Config_get(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid, const char *pszMac)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (!Config_Ready(pstAttr, pstEdid))
        return -1;
    for (const ConfigKey_S &stKey : s_astConfigKeys) {
        std::string name = Config_Name(&stKey);
        char *pcField = Config_Field(&stKey, pstAttr, pstEdid);
        if (stKey.enKind == CONFIG_KEY_INT) {
            s32 s32Val = ini_getint(g_pstConfigDict, name.c_str(), -1);
            memcpy(pcField, s32Val == -1 ? (const void *)&stKey.u32Fallback : &s32Val, sizeof(u32));
            continue;
        }
        const char *pszVal = ini_getstr(g_pstConfigDict, name.c_str());
        if (pszVal != nullptr)
            snprintf(pcField, stKey.u32Width, "%s", pszVal);
        else if (stKey.enKind == CONFIG_KEY_IP)
            getDefaultIp(pcField, pszMac);
        else
            snprintf(pcField, stKey.u32Width, "%s", stKey.pszFallback);
    }
    return 0;
}

// Updates or inserts section:key, and its section when missing; 0, or -1
// after logging which. A value the file cannot hold changes nothing.
static s32 Config_PutKey(const char *pszSection, const char *pszKey, const char *pszVal)
{
    std::string name = std::string(pszSection) + ":" + pszKey;
    bool bFound = ini_find_entry(g_pstConfigDict, name.c_str()) != 0;
    s32 s32Ret = dictionary_storable(pszVal) ? 0 : -1;
    if (s32Ret == 0 && bFound) {
        s32Ret = ini_setstr(g_pstConfigDict, name.c_str(), pszVal);
    } else if (s32Ret == 0) {
        (void)ini_add_entry(g_pstConfigDict, pszSection, nullptr, nullptr);   // may exist
        s32Ret = ini_add_entry(g_pstConfigDict, pszSection, pszKey, pszVal);
    }
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s %s failed\n", log_Time(), bFound ? "set" : "add", name.c_str());
        return -1;
    }
    return 0;
}

// The keys of the record alone, with their values in d: a text whose
// length is bounded by the table, so the loader always reads it. Null when
// out of memory (logged).
static dictionary *Config_SettingsOnly(const dictionary *d)
{
    dictionary *pstSettings = dictionary_new(0);
    for (const ConfigKey_S &stKey : s_astConfigKeys) {
        const char *pszVal = ini_getstr(d, Config_Name(&stKey).c_str());
        if (pstSettings == nullptr || pszVal == nullptr)
            continue;
        (void)ini_add_entry(pstSettings, stKey.pszSection, nullptr, nullptr);   // a failure shows at its key
        if (ini_add_entry(pstSettings, stKey.pszSection, stKey.pszKey, pszVal) != 0) {
            dictionary_del(pstSettings);
            pstSettings = nullptr;
        }
    }
    if (pstSettings == nullptr)
        Debug_Log("[%s]: %s: out of memory\n", log_Time(), __func__);
    return pstSettings;
}

// Writes the whole text beside the loaded path, under CONFIG_NOTES_SUFFIX
// or, while something else is in the way there, CONFIG_WHOLE_SUFFIX; the
// other name's older text is removed. The name written, or "" when neither
// could be (logged).
static std::string Config_KeepWhole(const std::string &text)
{
    const std::string names[2] = { std::string(g_pszConfigPath) + CONFIG_NOTES_SUFFIX,
                                   std::string(g_pszConfigPath) + CONFIG_WHOLE_SUFFIX };
    for (s32 i = 0; i < 2; i++) {
        char azWhy[CONFIG_WHY_LEN];
        if (ConfigFile_Write(names[i].c_str(), text, azWhy) == 0) {
            ConfigFile_Drop(names[1 - i], ("older than " + names[i]).c_str());
            return names[i];
        }
        Debug_LogLimited(&s_stNotesLimit, "[%s]: %s: %s\n", log_Time(), __func__, azWhy);
    }
    return "";
}

// Writes d to the loaded path: 0, or -1 with s_azWhy. Nothing is written
// while the store runs from memory. When the notes (comments, keys of no
// setting) do not fit beside the settings under the loader's bound, the
// whole text is kept beside, and the path gets the settings alone: the next
// start reads every one of them. A copy beside is removed once the whole
// text fits again.
static s32 Config_Store(const dictionary *d)
{
    if (s_bInMemory) {
        snprintf(s_azWhy, sizeof(s_azWhy), "%s not written: the settings run from memory", g_pszConfigPath);
        return -1;
    }
    std::string text = ini_text(d);
    if (text.size() <= INI_FILE_MAX) {
        if (ConfigFile_Write(g_pszConfigPath, text, s_azWhy) < 0)
            return -1;
        for (const char *pszSuffix : { CONFIG_NOTES_SUFFIX, CONFIG_WHOLE_SUFFIX })
            ConfigFile_Drop(std::string(g_pszConfigPath) + pszSuffix,
                            ("the whole text fits in " + std::string(g_pszConfigPath) + " again").c_str());
        return 0;
    }
    std::string kept = Config_KeepWhole(text);
    dictionary *pstSettings = Config_SettingsOnly(d);
    if (pstSettings == nullptr) {
        snprintf(s_azWhy, sizeof(s_azWhy), "%s not written: out of memory", g_pszConfigPath);
        return -1;
    }
    s32 s32Ret = ConfigFile_Write(g_pszConfigPath, ini_text(pstSettings), s_azWhy);
    dictionary_del(pstSettings);
    if (s32Ret == 0)
        Debug_Log("[%s]: %s: the notes do not fit beside the settings in %u bytes: it holds the settings alone, "
                  "%s the whole text\n", log_Time(), g_pszConfigPath, INI_FILE_MAX,
                  kept.empty() ? "only the memory holds" : kept.c_str());
    return s32Ret;
}

// Config_Store of the loaded dictionary; a failure is logged, at most once
// a second, as each setter from the LAN comes to a save.
static s32 Config_StoreLoaded(void)
{
    if (Config_Store(g_pstConfigDict) == 0)
        return 0;
    Debug_LogLimited(s_bInMemory ? &s_stMemoryLimit : &s_stSaveLimit, "[%s]: %s\n", log_Time(), s_azWhy);
    return -1;
}

bool Config_IsInMemory(void)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    return s_bInMemory;
}

bool Config_IsFileBehind(void)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    return s_bFileBehind;
}

s32 Config_set(const ConfigAttr_S *pstAttr, const ConfigEdidText_S *pstEdid)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (!Config_Ready(pstAttr, pstEdid))
        return -1;
    // A refused value keeps its stored one; the other keys are still saved,
    // so one bad text cannot hold every later change back.
    s32 s32Ret = 0;
    for (const ConfigKey_S &stKey : s_astConfigKeys) {
        std::string val = Config_Value(&stKey, Config_Field(&stKey, pstAttr, pstEdid), "%d");
        if (Config_PutKey(stKey.pszSection, stKey.pszKey, val.c_str()) < 0)
            s32Ret = -1;
    }
    bool bFailed = Config_StoreLoaded() < 0;
    s_bFileBehind = bFailed && !s_bInMemory;   // from memory, no later try could write it
    if (bFailed)
        return -1;
    if (s32Ret != 0)
        Debug_Log("[%s]: config save failed!\n", log_Time());
    return s32Ret;
}

static void Config_Unload(void)
{
    dictionary_del(g_pstConfigDict);
    free(g_pszConfigPath);
    g_pstConfigDict = nullptr;
    g_pszConfigPath = nullptr;
    s_bFileBehind = false;
    s_bInMemory = false;
}

// Saves the defaults in place of a file that was not read. One that exists
// (pstSt) is kept first, renamed over an older copy: a rename reads nothing,
// so an endless or blocking file costs nothing, keeps what the file is, and
// moves a link, not its target. A directory is not moved, so that no copy
// is one (a rename puts no file over a directory, nor a directory over a
// file). 0; 1 when the defaults run from memory: what is there could not
// be kept, and stays untouched, or they could not be saved, and the path
// is as it was.
static s32 Config_SaveDefaults(const dictionary *d, const char *pszPath, const struct stat *pstSt,
                               const char *pszWhy)
{
    std::string copy = std::string(pszPath) + CONFIG_UNREAD_SUFFIX;
    if (pstSt != nullptr) {
        bool bDir = S_ISDIR(pstSt->st_mode);
        if (bDir || rename(pszPath, copy.c_str()) < 0) {
            Debug_Log("[%s]: %s not read (%s) and not kept as %s: %s; the default settings run from memory\n",
                      log_Time(), pszPath, pszWhy, copy.c_str(), strerror(bDir ? EISDIR : errno));
            return 1;
        }
        Debug_Log("[%s]: %s not read (%s): kept as %s, the default settings replace it\n", log_Time(), pszPath,
                  pszWhy, copy.c_str());
    }
    if (Config_save(d, pszPath) == 0)
        return 0;
    Debug_Log("[%s]: %s: the default settings run from memory\n", log_Time(), __func__);
    if (pstSt != nullptr && rename(copy.c_str(), pszPath) < 0)
        Debug_Log("[%s]: %s: %s stays as %s: %s\n", log_Time(), __func__, pszPath, copy.c_str(), strerror(errno));
    return 1;
}

s32 Config_init(const char *pszPath, const char *pszMac)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    Config_Unload();
    struct stat st;
    bool bExists = lstat(pszPath, &st) == 0;   // a dangling link too: it is not lost
    char azWhy[INI_WHY_LEN];
    dictionary *d = ini_load(pszPath, azWhy);
    if (d != nullptr && d->n == ini_getnsec(d))
        Debug_Log("[%s]: %s holds no settings: the fallback values apply\n", log_Time(), pszPath);
    if (d == nullptr) {
        if (!bExists)
            Debug_Log("[%s]: %s ini not file\n", log_Time(), pszPath);
        d = Config_createDefault(pszMac);
        if (d == nullptr) {
            Debug_Log("[%s]: get default dictionary failed\n", log_Time());
            return -1;
        }
        s_bInMemory = Config_SaveDefaults(d, pszPath, bExists ? &st : nullptr, azWhy) > 0;
    }
    g_pszConfigPath = strdup(pszPath);
    if (g_pszConfigPath == nullptr) {
        Debug_Log("[%s]: %s: out of memory\n", log_Time(), __func__);
        dictionary_del(d);
        return -1;
    }
    g_pstConfigDict = d;
    return 0;
}

s32 Config_deinit(void)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    Config_Unload();
    return 0;
}

s32 Config_save(const dictionary *d, const char *pszPath)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (d == nullptr || pszPath == nullptr) {
        Debug_Log("[%s]: param err!\n", log_Time());
        return -1;
    }
    if (ConfigFile_Write(pszPath, ini_text(d), s_azWhy) == 0)
        return 0;
    Debug_Log("[%s]: %s: %s\n", log_Time(), __func__, s_azWhy);
    return -1;
}

s32 Config_reset(const char *pszMac)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (g_pszConfigPath == nullptr) {
        Debug_Log("[%s]: config not init!\n", log_Time());
        return -1;
    }
    dictionary *d = Config_createDefault(pszMac);
    if (d == nullptr)
        return -1;
    if (Config_Store(d) < 0) {
        Debug_Log("[%s]: %s: %s; the settings stay as they were\n", log_Time(), __func__, s_azWhy);
        dictionary_del(d);
        return -1;
    }
    dictionary_del(g_pstConfigDict);
    g_pstConfigDict = d;
    return 0;
}

static void Config_WebSection(s32 n, char *pszSection)
{
    snprintf(pszSection, CONFIG_VALUE_LEN, "user%d", n);
}

// The two keys of account n: "user%d:username" and "user%d:passwd".
static void Config_WebKeys(s32 n, char *pszSection, char *pszUser, char *pszPass)
{
    Config_WebSection(n, pszSection);
    snprintf(pszUser, CONFIG_NAME_LEN, "%s:%s", pszSection, "username");
    snprintf(pszPass, CONFIG_NAME_LEN, "%s:%s", pszSection, "passwd");
}

s32 Config_setWebAuth(const WebAccount_S *pstAccount, s32 n)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (pstAccount == nullptr || g_pstConfigDict == nullptr)
        return -1;
    char azSection[CONFIG_VALUE_LEN];
    Config_WebSection(n, azSection);
    const WebAccount_S &stAcc = *pstAccount;
    std::string user(stAcc.azUsername, strnlen(stAcc.azUsername, sizeof(stAcc.azUsername)));
    std::string pass(stAcc.azPasswd, strnlen(stAcc.azPasswd, sizeof(stAcc.azPasswd)));
    const struct { const char *pszKey, *pszVal; } astKey[] = {
        { "username", user.c_str() },
        { "passwd", pass.c_str() },
    };
    // The account is stored whole or not at all: a text the file cannot
    // hold is refused (and logged) by Config_PutKey before anything changes.
    for (const auto &st : astKey) {
        if (!dictionary_storable(st.pszVal))
            return Config_PutKey(azSection, st.pszKey, st.pszVal);
    }
    // An existing section or key is the account's own, taken over; a key
    // that still fails (out of memory) is logged and the rest goes on.
    s32 s32Ret = 0;
    for (const auto &st : astKey) {
        if (Config_PutKey(azSection, st.pszKey, st.pszVal) < 0)
            s32Ret = -1;
    }
    return Config_StoreLoaded() == 0 ? s32Ret : -1;
}

s32 Config_getWebAuth(WebAccount_S *pstAccount, s32 n)
{
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (pstAccount == nullptr || g_pstConfigDict == nullptr)
        return -1;
    char azSection[CONFIG_VALUE_LEN], azUser[CONFIG_NAME_LEN], azPass[CONFIG_NAME_LEN];
    Config_WebKeys(n, azSection, azUser, azPass);
    if (!ini_find_entry(g_pstConfigDict, azUser) || !ini_find_entry(g_pstConfigDict, azPass))
        return -1;
    const struct { const char *pszKey; char *pszOut; size_t sizeOut; } astGet[] = {
        { azUser, pstAccount->azUsername, sizeof(pstAccount->azUsername) },
        { azPass, pstAccount->azPasswd, sizeof(pstAccount->azPasswd) },
    };
    for (const auto &stGet : astGet) {
        const char *pszVal = ini_getstr(g_pstConfigDict, stGet.pszKey);
        if (pszVal == nullptr) {
            Debug_Log("[%s]: get %s failed\n", log_Time(), stGet.pszKey);
            return -1;
        }
        snprintf(stGet.pszOut, stGet.sizeOut, "%s", pszVal);
    }
    return 0;
}
