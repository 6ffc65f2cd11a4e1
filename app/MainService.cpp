#include "app/MainService.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "core/Debug.h"

s32 MAIN_SshServer_Start(void)
{
    FILE *fp = popen(SERVICE_SSH_START, "r");
    if (fp == nullptr)
        return -1;
    (void)pclose(fp);   // the daemon reports its own failures
    return 0;
}

s32 MAIN_SshServer_Stop(void)
{
    (void)system("killall -9 dropbear\n");   // none may run: nothing to act on
    return 0;
}

s32 MAIN_TelnetServer_Start(s32 s32Port)
{
    char azCmd[SERVICE_CMD_LEN];
    snprintf(azCmd, sizeof(azCmd), "telnetd -p %d &", s32Port);
    FILE *fp = popen(azCmd, "r");
    if (fp == nullptr)
        return -1;
    (void)pclose(fp);   // as for SSH
    return 0;
}

s32 MAIN_TelnetServer_Stop(void)
{
    (void)system("killall -9 telnetd\n");   // as above
    return 0;
}

s32 MAIN_init_pinmux(void)
{
    return 0;
}

s32 MAIN_Init_SysPassword(void)
{
    if (access(SERVICE_PASSWD_FILE, F_OK) == 0) {
        s32 s32Ret = system("mv " SERVICE_PASSWD_FILE " /etc/passwd\n");
        Debug_Log("[%s]: %s: system return %d %s\n", log_Time(), __func__, s32Ret, strerror(errno));
    }
    return 0;
}
