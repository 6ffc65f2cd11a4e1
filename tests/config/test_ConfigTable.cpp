// Every key of "/etc/app.ini" with the value a new file gets (Default) and
// the value reading takes when the key is missing or an integer key holds
// -1 (Fallback).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "config/Config.h"
#include "config/Ini.h"
#include "core/Debug.h"
#include "tests/config/ConfigTest.h"
#include "tests/support/Files.h"

typedef std::string ConfigField(const ConfigAttr_S &a, const ConfigEdidText_S &e);

struct ConfigRow_S {
    const char *pszKey;
    const char *pszDefault;         // null: the new file has no such key
    const char *pszFallback;
    bool bNumber;
    ConfigField *pfnField;
};

#define NUM(f) true, [](const ConfigAttr_S &a, const ConfigEdidText_S &) { return std::to_string(a.f); }
#define TXT(f) false, [](const ConfigAttr_S &a, const ConfigEdidText_S &) { return std::string(a.f); }
#define EDID(f) false, [](const ConfigAttr_S &, const ConfigEdidText_S &e) { return std::string(e.f); }
#define DEFAULT_IP "169.254.86.68"   // of TEST_MAC

static const ConfigRow_S s_astRows[] = {
    {"devattr:devicename", "QRX-T4100LNK", "QRX-T4100LNK", TXT(stDevAttr.azDeviceName)},
    {"devattr:deviceid", "00:00:00:00:00:00", "00:00:00:00:00:00", TXT(stDevAttr.azDeviceId)},
    {"devattr:alias", "KVB 001", "TX 001", TXT(stDevAttr.azAlias)},
    {"mainattr:audiobitrate", "128000", "128000", NUM(stMainAttr.u32Audiobitrate)},
    {"mainattr:audiocodec", "0", "0", NUM(stMainAttr.u32Audiocodec)},
    {"mainattr:audiofreq", "48000", "48000", NUM(stMainAttr.u32Audiofreq)},
    {"mainattr:audioinput", "1", "1", NUM(stMainAttr.u32Audioinput)},
    {"mainattr:videobitrate", "20480", "8192", NUM(stMainAttr.u32Videobitrate)},
    {"mainattr:encres", "1", "1", NUM(stMainAttr.u32Encres)},
    {"mainattr:enctype", "1", "1", NUM(stMainAttr.u32Enctype)},
    {"mainattr:fps", "60", "60", NUM(stMainAttr.u32Fps)},
    {"mainattr:height", "1080", "1080", NUM(stMainAttr.u32Height)},
    {"mainattr:ratecontrol", "1", "1", NUM(stMainAttr.u32Ratecontrol)},
    {"mainattr:width", "1920", "1920", NUM(stMainAttr.u32Width)},
    {"subattr:audiobitrate", "0", "128000", NUM(stSubAttr.u32Audiobitrate)},
    {"subattr:audiocodec", "1", "1", NUM(stSubAttr.u32Audiocodec)},
    {"subattr:audiofreq", "0", "48000", NUM(stSubAttr.u32Audiofreq)},
    {"subattr:audioinput", "0", "1", NUM(stSubAttr.u32Audioinput)},
    {"subattr:videobitrate", "1024", "1024", NUM(stSubAttr.u32Videobitrate)},
    {"subattr:encres", "0", "1", NUM(stSubAttr.u32Encres)},
    {"subattr:enctype", "1", "1", NUM(stSubAttr.u32Enctype)},
    {"subattr:fps", "60", "60", NUM(stSubAttr.u32Fps)},
    {"subattr:height", "360", "360", NUM(stSubAttr.u32Height)},
    {"subattr:ratecontrol", "1", "1", NUM(stSubAttr.u32Ratecontrol)},
    {"subattr:width", "640", "640", NUM(stSubAttr.u32Width)},
    {"netattr:dhcp", "1", "0", NUM(stNetAttr.enDHCP)},
    {"netattr:gateway", "169.254.100.1", "169.254.100.1", TXT(stNetAttr.azGateway)},
    {"netattr:ip", DEFAULT_IP, DEFAULT_IP, TXT(stNetAttr.azIp)},
    {"netattr:submask", "255.255.0.0", "255.255.0.0", TXT(stNetAttr.azNetmask)},
    {"netattr:httpport", "80", "80", NUM(stNetAttr.u32HttpPort)},
    {"serialattr:baudrate", "115200", "115200", NUM(stSerialAttr.u32Baudrate)},
    {"serialattr:databits", "8", "8", NUM(stSerialAttr.u32Databits)},
    {"serialattr:parity", "0", "0", NUM(stSerialAttr.u32Parity)},
    {"serialattr:stopbits", "1", "1", NUM(stSerialAttr.u32Stopbits)},
    {"manualattr:edidindex", "0", "0", NUM(stManual.s32Edid_index)},
    {"manualattr:id", "0", "0", NUM(stManual.s32ID)},
    {"manualattr:irvoltage", "1", "1", NUM(stManual.s32IrVoltage)},
    {"manualattr:lcdmode", "1", "1", NUM(stManual.s32LcdDisplayMode)},
    {"manualattr:ledmode", "1", "1", NUM(stManual.s32LedDisplayMode)},
    {"miscattr:webpsw", "qarzy", "qarzy", TXT(stMisc.azWebPsw)},
    {"miscattr:webuser", "qarzy", "qarzy", TXT(stMisc.azWebUser)},
    {"miscattr:dot1x", "0", "0", NUM(stMisc.s32Dot1x)},
    {"miscattr:https", "0", "0", NUM(stMisc.s32Https)},
    {"miscattr:ports", "1", "1", NUM(stMisc.s32Ports)},
    {"miscattr:ssh", "1", "1", NUM(stMisc.s32Ssh)},
    {"miscattr:telnet", "1", "1", NUM(stMisc.s32Telnet)},
    {"miscattr:web", "1", "1", NUM(stMisc.s32Web)},
    {"miscattr:dot1xpwd", "", "", TXT(stMisc.azDot1xPwd)},
    {"miscattr:hdcpmode", "0", "0", NUM(stMisc.s32HdcpMode)},
    {"miscattr:telnetport", "23", "23", NUM(stMisc.s32TelnetPort)},
    {"miscattr:dot1xuser", "", "", TXT(stMisc.azDot1xUser)},
    {"miscattr:streamdbg", "0", "0", NUM(stMisc.s32StreamDbg)},
    {"miscattr:filedebug", "0", "0", NUM(stMisc.s32FileDebug)},
    {"miscattr:btnmode", "0", "0", NUM(stMisc.s32BtnMode)},
    {"edidattr:rxedid", nullptr, "", EDID(azRxEdid)},
    {"edidattr:user1edid", nullptr, "", EDID(azUser1Edid)},
    {"edidattr:user2edid", nullptr, "", EDID(azUser2Edid)},
};

struct ConfigTableTest : public testing::Test {
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;

    void SetUp() override
    {
        Config_deinit();
        g_bFileDebugOn = -1;   // quiet: the reader logs every missing key
        memset(&stAttr, 0xA5, sizeof(stAttr));
        memset(&stEdid, 0xA5, sizeof(stEdid));
    }
    void TearDown() override
    {
        Config_deinit();
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
    }
    void Load(const std::string &text)
    {
        File_Write(CONFIG_FILE, text);
        ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
        ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    }
};

// The default builder writes the Default column (and no EDID key); read
// back, each field holds it. Saved again, the file has the table's keys.
TEST_F(ConfigTableTest, NewFileHoldsTheDefaults)
{
    dictionary *d = Config_createDefault(TEST_MAC);
    ASSERT_NE(nullptr, d);
    for (const ConfigRow_S &r : s_astRows) {
        const char *pszValue = ini_getstring(d, r.pszKey, nullptr);
        EXPECT_EQ(r.pszDefault != nullptr, pszValue != nullptr) << r.pszKey;
        if (r.pszDefault != nullptr && pszValue != nullptr) {
            EXPECT_STREQ(r.pszDefault, pszValue) << r.pszKey;
        }
    }
    ASSERT_EQ(0, Config_save(d, CONFIG_FILE));
    dictionary_del(d);
    ASSERT_EQ(0, Config_init(CONFIG_FILE, TEST_MAC));
    ASSERT_EQ(0, Config_get(&stAttr, &stEdid, TEST_MAC));
    for (const ConfigRow_S &r : s_astRows)
        EXPECT_EQ(r.pszDefault != nullptr ? r.pszDefault : "", r.pfnField(stAttr, stEdid)) << r.pszKey;

    ASSERT_EQ(0, Config_set(&stAttr, &stEdid));
    std::string file = File_Read(CONFIG_FILE);
    size_t sizeKeys = 0;
    for (size_t at = 0; (at = file.find(" = ", at)) != std::string::npos; at++)
        sizeKeys++;
    EXPECT_EQ(sizeof(s_astRows) / sizeof(s_astRows[0]), sizeKeys);
}

// A file without the keys, and one whose integer keys hold -1, read as the
// Fallback column.
TEST_F(ConfigTableTest, MissingKeysAndMinusOneReadAsFallbacks)
{
    Load("; nothing\n");
    for (const ConfigRow_S &r : s_astRows)
        EXPECT_EQ(r.pszFallback, r.pfnField(stAttr, stEdid)) << r.pszKey << " missing";

    std::string text, section;
    for (const ConfigRow_S &r : s_astRows) {
        std::string key(r.pszKey);
        size_t sizeColon = key.find(':');
        if (!r.bNumber)
            continue;
        if (key.substr(0, sizeColon) != section) {
            section = key.substr(0, sizeColon);
            text += "[" + section + "]\n";
        }
        text += key.substr(sizeColon + 1) + " = -1\n";
    }
    memset(&stAttr, 0xA5, sizeof(stAttr));
    Load(text);
    for (const ConfigRow_S &r : s_astRows) {
        if (r.bNumber) {
            EXPECT_EQ(r.pszFallback, r.pfnField(stAttr, stEdid)) << r.pszKey << " = -1";
        }
    }
}
