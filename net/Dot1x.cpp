#include "net/Dot1x.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Debug.h"
#include "net/NetIf.h"

#define DOT1X_RUN_DIR "/var/run/wpa_supplicant"
#define DOT1X_LOG     "/tmp/wpa_supplicant.log"

// A text goes between double quotes of the configuration, which the
// supplicant takes as they stand, without escapes (so a backslash is only
// a character): nothing may end the quotes or the line.
static bool Dot1x_IsSafeText(const char *psz)
{
    size_t len = strnlen(psz, DOT1X_TEXT_MAX + 1);
    if (len > DOT1X_TEXT_MAX)
        return false;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)psz[i];
        if (c < 0x20 || c == 0x7f || c == '"')
            return false;
    }
    return true;
}

s32 MAIN_8021xClient_Start(const char *pszUser, const char *pszPasswd)
{
    if (!Dot1x_IsSafeText(pszUser) || !Dot1x_IsSafeText(pszPasswd)) {
        Debug_Log("[%s]: %s: user or password refused\n", log_Time(), __func__);
        return DOT1X_REFUSED;
    }
    FILE *fp = fopen(DOT1X_CONF, "w");
    if (fp == nullptr) {
        Debug_Log("[%s]: %s: create config file fail!\n", log_Time(), __func__);
        return -1;
    }
    fprintf(fp,
            "ctrl_interface=%s\n"
            "ap_scan=0\n"
            "network={\n"
            "\tkey_mgmt=IEEE8021X\n"
            "\teap=MD5\n"
            "\tidentity=\"%s\"\n"
            "\tpassword=\"%s\"\n"
            "\teapol_flags=0\n"
            "}\n",
            DOT1X_RUN_DIR, pszUser, pszPasswd);
    if (fclose(fp) != 0) {
        Debug_Log("[%s]: %s: create config file fail!\n", log_Time(), __func__);
        return -1;
    }
    if (mkdir(DOT1X_RUN_DIR, 0755) < 0 && errno != EEXIST)
        Debug_Log("[%s]: %s: mkdir %s: %s\n", log_Time(), __func__, DOT1X_RUN_DIR, strerror(errno));
    // The supplicant reports its own failures in its log; it runs detached.
    (void)Net_Shell("/customer/wpa_supplicant -B -i eth0 -c " DOT1X_CONF " -D wired");
    return 0;
}

s32 MAIN_8021xClient_Stop(void)
{
    // A supplicant that is gone already makes these fail; that is the goal.
    (void)Net_Shell("/customer/wpa_cli -i eth0 logoff");
    (void)Net_Shell("/customer/wpa_cli -i eth0 terminate");
    if (unlink(DOT1X_LOG) < 0 && errno != ENOENT)
        Debug_Log("[%s]: %s: unlink %s: %s\n", log_Time(), __func__, DOT1X_LOG, strerror(errno));
    return 0;
}
