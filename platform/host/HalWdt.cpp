// Watchdog stand-in: never touches a real device. Each call is counted, and
// appended as "<monotonic ms> <call>" to "/dev/watchdog" when that is a
// plain file, so that a box's harness can follow it.
#include "platform/HalWdt.h"
#include "platform/host/HostBoard.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

static std::mutex s_WdtMutex;          // guards everything below
static HostWdt_S s_stWdt;
static s32 s_s32RecordFd = -1;

HostWdt_S *HostWdt_Get(void)
{
    return &s_stWdt;
}

static void HostWdt_Record(const char *pszCall, s32 s32Arg)
{
    if (s_s32RecordFd < 0)
        return;
    struct timespec stNow;
    clock_gettime(CLOCK_MONOTONIC, &stNow);
    char az[64];
    s32 s32Len = snprintf(az, sizeof(az), "%lld %s %d\n",
                          (long long)stNow.tv_sec * 1000 + stNow.tv_nsec / 1000000, pszCall, s32Arg);
    (void)!write(s_s32RecordFd, az, (size_t)s32Len);   // a lost record only hides a call from the harness
}

s32 HAL_Wdt_Open(void)
{
    std::lock_guard<std::mutex> lock(s_WdtMutex);
    if (s_s32RecordFd < 0) {
        s32 s32Fd = open("/dev/watchdog", O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        struct stat st;
        if (s32Fd >= 0 && (fstat(s32Fd, &st) < 0 || !S_ISREG(st.st_mode))) {
            close(s32Fd);             // a real device: not ours to arm
            s32Fd = -1;
        }
        s_s32RecordFd = s32Fd;
    }
    s_stWdt.bOpen = true;
    s_stWdt.u32Opens++;
    HostWdt_Record("open", 0);
    return 0;
}

static s32 HostWdt_CheckOpen(void)
{
    if (s_stWdt.bOpen)
        return 0;
    errno = EBADF;
    return -1;
}

s32 HAL_Wdt_Kick(void)
{
    std::lock_guard<std::mutex> lock(s_WdtMutex);
    if (HostWdt_CheckOpen() < 0)
        return -1;
    s_stWdt.u32Kicks++;
    HostWdt_Record("kick", 0);
    return 0;
}

s32 HAL_Wdt_SetTimeout(s32 s32Seconds)
{
    std::lock_guard<std::mutex> lock(s_WdtMutex);
    if (HostWdt_CheckOpen() < 0)
        return -1;
    s_stWdt.s32Timeout = s32Seconds;
    HostWdt_Record("timeout", s32Seconds);
    return 0;
}

void HAL_Wdt_Close(void)
{
    std::lock_guard<std::mutex> lock(s_WdtMutex);
    if (!s_stWdt.bOpen)
        return;
    s_stWdt.bOpen = false;
    s_stWdt.u32Closes++;
    HostWdt_Record("close", 0);
}
