#include "platform/HalWdt.h"

#include <fcntl.h>
#include <linux/watchdog.h>
#include <sys/ioctl.h>
#include <unistd.h>

static s32 s_s32WdtFd = -1;

s32 HAL_Wdt_Open(void)
{
    if (s_s32WdtFd < 0)
        s_s32WdtFd = open("/dev/watchdog", O_WRONLY | O_CLOEXEC);
    return s_s32WdtFd < 0 ? -1 : 0;
}

s32 HAL_Wdt_Kick(void)
{
    return ioctl(s_s32WdtFd, WDIOC_KEEPALIVE, 0) < 0 ? -1 : 0;
}

s32 HAL_Wdt_SetTimeout(s32 s32Seconds)
{
    return ioctl(s_s32WdtFd, WDIOC_SETTIMEOUT, &s32Seconds) < 0 ? -1 : 0;
}

void HAL_Wdt_Close(void)
{
    if (s_s32WdtFd >= 0)
        close(s_s32WdtFd);
    s_s32WdtFd = -1;
}
