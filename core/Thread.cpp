#include "core/Thread.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include "core/Clock.h"
#include "core/Debug.h"

static s32 Thread_Create(pthread_t *pThread, void *(*pfnRun)(void *), void *pvArg, const char *pszFunc)
{
    s32 s32Ret = pthread_create(pThread, nullptr, pfnRun, pvArg);
    if (s32Ret != 0 && pszFunc != nullptr)
        Debug_Log("[%s]: %s: pthread_create err! s32Ret=%#x\n", log_Time(), pszFunc, s32Ret);
    else if (s32Ret != 0)
        Debug_Log("[%s]: pthread_create err! s32Ret=%#x\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 MAIN_Thread_Start(MainThread_S *pstThread, void *(*pfnRun)(void *), void *pvArg, const char *pszFunc)
{
    if (pstThread->bRun.exchange(1))
        return 0;
    s32 s32Fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: eventfd: %s\n", log_Time(), pszFunc != nullptr ? pszFunc : __func__, strerror(errno));
        pstThread->bRun = 0;
        return -1;
    }
    pstThread->s32WakeFd = s32Fd;
    s32 s32Ret = Thread_Create(&pstThread->thread, pfnRun, pvArg, pszFunc);
    if (s32Ret != 0) {
        close(s32Fd);
        pstThread->s32WakeFd = 0;
        pstThread->bRun = 0;
    }
    return s32Ret;
}

void MAIN_Thread_Wake(MainThread_S *pstThread)
{
    s32 s32Fd = pstThread->s32WakeFd;
    u64 u64One = 1;
    if (s32Fd > 0 && write(s32Fd, &u64One, sizeof(u64One)) < 0 && errno != EAGAIN)
        Debug_Log("[%s]: %s: write: %s\n", log_Time(), __func__, strerror(errno));
    if (pstThread->pfnWake != nullptr)
        pstThread->pfnWake();
}

void MAIN_Thread_Stop(MainThread_S *pstThread)
{
    if (!pstThread->bRun.exchange(0))
        return;
    MAIN_Thread_Wake(pstThread);
    pthread_join(pstThread->thread, nullptr);
    close(pstThread->s32WakeFd);
    pstThread->s32WakeFd = 0;
}

bool MAIN_Thread_Running(const MainThread_S *pstThread)
{
    return pstThread->bRun != 0;
}

s32 MAIN_Thread_WakeFd(const MainThread_S *pstThread)
{
    return pstThread->s32WakeFd;
}

s32 MAIN_Thread_WaitFd(MainThread_S *pstThread, s32 s32Fd, s16 s16Events, s32 s32Ms)
{
    struct pollfd astPfd[2] = {{pstThread->s32WakeFd, POLLIN, 0}, {s32Fd, s16Events, 0}};
    s64 s64End = Clock_NowMs() + (s32Ms < 0 ? 0 : s32Ms);
    s32 s32Left = s32Ms;

    while (MAIN_Thread_Running(pstThread)) {
        s32 s32Ret = poll(astPfd, s32Fd >= 0 ? 2 : 1, s32Left);
        if (s32Ret > 0) {
            u64 u64Count;
            // A stop leaves the eventfd readable for every later wait.
            if ((astPfd[0].revents & POLLIN) && MAIN_Thread_Running(pstThread) &&
                read(astPfd[0].fd, &u64Count, sizeof(u64Count)) < 0 && errno != EAGAIN)
                Debug_Log("[%s]: %s: read: %s\n", log_Time(), __func__, strerror(errno));
            return astPfd[1].revents != 0 && s32Fd >= 0 ? 1 : 0;
        }
        if (s32Ret == 0)
            return 0;
        if (errno != EINTR) {
            Debug_Log("[%s]: %s: poll: %s\n", log_Time(), __func__, strerror(errno));
            return -1;
        }
        if (s32Ms >= 0) {
            s64 s64Left = s64End - Clock_NowMs();
            if (s64Left <= 0)
                return 0;
            s32Left = (s32)s64Left;
        }
    }
    return 0;
}

bool MAIN_Thread_Wait(MainThread_S *pstThread, s32 s32Ms)
{
    (void)MAIN_Thread_WaitFd(pstThread, -1, 0, s32Ms);   // only its time and wake matter here
    return MAIN_Thread_Running(pstThread);
}
