#include "upgrade/Identity.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

#include "core/Debug.h"
#include "core/MacText.h"
#include "upgrade/Flash.h"
#include "upgrade/Image.h"

// First line of a file without its line end into az (size bytes); 0 when
// it is not empty.
static s32 Identity_ReadLine(const char *pszFile, char *az, size_t size)
{
    az[0] = '\0';
    FILE *fp = fopen(pszFile, "r");
    if (fp == nullptr)
        return -1;
    if (fgets(az, (int)size, fp) == nullptr)
        az[0] = '\0';
    fclose(fp);
    az[strcspn(az, "\r\n")] = '\0';
    return az[0] != '\0' ? 0 : -1;
}

// The identity block when it is sealed; else a cleared record and -1.
static s32 Identity_ReadBlock(ImageInfo_S *pstInfo)
{
    if (Flash_Read(IMAGE_IDENTITY_OFFSET, pstInfo, sizeof(*pstInfo)) == 0 && Image_IsSealed(pstInfo)) {
        Image_EndTexts(pstInfo);
        return 0;
    }
    memset(pstInfo, 0, sizeof(*pstInfo));
    return -1;
}

static void Identity_Lower(char *psz)
{
    for (; *psz != '\0'; psz++)
        *psz = (char)tolower((unsigned char)*psz);
}

// A MAC text from a stored place, when it is one.
static bool Identity_TakeMac(const char *pszStored, char *pszMac)
{
    if (!Mac_IsText(pszStored))
        return false;
    memcpy(pszMac, pszStored, MAC_TEXT_LEN + 1);
    Identity_Lower(pszMac);
    return true;
}

static void Identity_RandomBytes(u8 *pu8, size_t len)
{
    s32 s32Fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (s32Fd >= 0 && read(s32Fd, pu8, len) == (ssize_t)len) {
        close(s32Fd);
        return;
    }
    if (s32Fd >= 0)
        close(s32Fd);
    srand((unsigned)time(nullptr) ^ (unsigned)getpid());
    for (size_t i = 0; i < len; i++)
        pu8[i] = (u8)rand();
}

s32 getVersion(char *pszVersion)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    return Identity_ReadLine(IDENTITY_VERSION_FILE, pszVersion, IDENTITY_VERSION_LEN);
}

// Why a stored MAC text is not taken: a group address has the form of a
// MAC and is refused for its first byte, which the log then names.
static const char *Identity_MacFault(const char *pszStored)
{
    if (Mac_IsForm(pszStored, ":") && (strtoul(pszStored, nullptr, 16) & 1) != 0)
        return "is not a unicast address";
    return "is not a usable MAC address";
}

s32 getMac(char *pszMac)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    char azLine[64];
    ImageInfo_S stInfo;
    bool bFile = Identity_ReadLine(IDENTITY_MAC_FILE, azLine, sizeof(azLine)) == 0;
    if (bFile && Identity_TakeMac(azLine, pszMac))
        return 0;
    bool bBlock = Identity_ReadBlock(&stInfo) == 0 && stInfo.azMac[0] != '\0';
    if (bBlock && Identity_TakeMac(stInfo.azMac, pszMac))
        return 0;
    u8 au8[3];
    Identity_RandomBytes(au8, sizeof(au8));
    snprintf(pszMac, IDENTITY_MAC_LEN, "%s:%02x:%02x:%02x", IDENTITY_MAC_PREFIX, au8[0], au8[1],
             au8[2]);
    if (!bFile && !bBlock) {
        Debug_Log("[%s]: %s: no stored MAC, made %s\n", log_Time(), __func__, pszMac);
    } else {
        const char *pszStored = bFile ? azLine : stInfo.azMac;
        Debug_Log("[%s]: %s: stored MAC \"%.31s\" %s, made %s\n", log_Time(), __func__, pszStored,
                  Identity_MacFault(pszStored), pszMac);
    }
    return setMac(pszMac);
}

s32 getSn(char *pszSn)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    ImageInfo_S stInfo;
    if (Identity_ReadLine(IDENTITY_SN_FILE, pszSn, IDENTITY_SN_LEN) == 0)
        return 0;
    if (Identity_ReadBlock(&stInfo) == 0 && stInfo.azSn[0] != '\0') {
        snprintf(pszSn, IDENTITY_SN_LEN, "%.*s", IDENTITY_SN_LEN - 1, stInfo.azSn);
        return 0;
    }
    pszSn[0] = '\0';
    return -1;
}

// Writes the MAC file through a temporary file, so that it is whole or old.
static s32 Identity_WriteMacFile(const char *pszMac)
{
    static const char TMP[] = IDENTITY_MAC_FILE ".tmp";
    FILE *fp = fopen(TMP, "w");
    if (fp == nullptr) {
        Debug_Log("[%s]: %s: %s: %s\n", log_Time(), __func__, TMP, strerror(errno));
        return -1;
    }
    bool bOk = fprintf(fp, "%s\n", pszMac) > 0;
    bOk = fflush(fp) == 0 && fsync(fileno(fp)) == 0 && bOk;
    bOk = fclose(fp) == 0 && bOk;
    if (!bOk || rename(TMP, IDENTITY_MAC_FILE) < 0) {
        Debug_Log("[%s]: %s: %s: %s\n", log_Time(), __func__, IDENTITY_MAC_FILE, strerror(errno));
        unlink(TMP);
        return -1;
    }
    return 0;
}

s32 setMac(const char *pszMac)
{
    char azMac[IDENTITY_MAC_LEN];
    if (!Identity_TakeMac(pszMac, azMac)) {
        Debug_Log("[%s]: %s: refused \"%.31s\"\n", log_Time(), __func__, pszMac);
        return -1;
    }
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    ImageInfo_S stInfo;
    (void)Identity_ReadBlock(&stInfo);   // an unsealed block starts cleared
    snprintf(stInfo.azModel, sizeof(stInfo.azModel), "%s", IMAGE_MODEL);
    snprintf(stInfo.azMac, sizeof(stInfo.azMac), "%s", azMac);
    Image_Seal(&stInfo);
    s32 s32Ret = Identity_WriteMacFile(azMac);
    if (Flash_Update(IMAGE_IDENTITY_OFFSET, &stInfo, sizeof(stInfo)) < 0)
        s32Ret = -1;
    return s32Ret;
}
