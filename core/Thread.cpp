#include "core/Thread.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/eventfd.h>
#include <time.h>
#include <unistd.h>

#include "core/Debug.h"

s32 MAIN_Thread_Create(pthread_t *pThread, void *(*pfnRun)(void *), void *pvArg, const char *pszFunc)
{
    s32 s32Ret = pthread_create(pThread, nullptr, pfnRun, pvArg);
    if (s32Ret != 0 && pszFunc != nullptr)
        Debug_Log("[%s]: %s: pthread_create err! s32Ret=%#x\n", log_Time(), pszFunc, s32Ret);
    else if (s32Ret != 0)
        Debug_Log("[%s]: pthread_create err! s32Ret=%#x\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 MAIN_Thread_Start(pthread_t *pThread, std::atomic<s32> *pbRun, void *(*pfnRun)(void *),
                      void *pvArg, const char *pszFunc)
{
    if (pbRun->exchange(1))
        return 0;
    s32 s32Ret = MAIN_Thread_Create(pThread, pfnRun, pvArg, pszFunc);
    if (s32Ret != 0)
        *pbRun = 0;
    return s32Ret;
}

void MAIN_Thread_Stop(pthread_t *pThread, std::atomic<s32> *pbRun)
{
    if (pbRun->exchange(0))
        pthread_join(*pThread, nullptr);
}

s32 MAIN_Thread_Start(MainThread_S *pstThread, void *(*pfnRun)(void *), void *pvArg, const char *pszFunc)
{
    if (pstThread->bRun.exchange(1))
        return 0;
    s32 s32Fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: eventfd: %s\n", log_Time(), pszFunc, strerror(errno));
        pstThread->bRun = 0;
        return -1;
    }
    pstThread->s32WakeFd = s32Fd;
    s32 s32Ret = MAIN_Thread_Create(&pstThread->thread, pfnRun, pvArg, pszFunc);
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

static s64 Thread_NowMs(void)
{
    struct timespec stNow;
    clock_gettime(CLOCK_MONOTONIC, &stNow);
    return (s64)stNow.tv_sec * 1000 + stNow.tv_nsec / 1000000;
}

bool MAIN_Thread_Wait(MainThread_S *pstThread, s32 s32Ms)
{
    struct pollfd stPfd = {pstThread->s32WakeFd, POLLIN, 0};
    s64 s64End = Thread_NowMs() + (s32Ms < 0 ? 0 : s32Ms);
    s32 s32Left = s32Ms;

    while (MAIN_Thread_Running(pstThread)) {
        s32 s32Ret = poll(&stPfd, 1, s32Left);
        if (s32Ret > 0) {
            u64 u64Count;
            // A stop leaves the eventfd readable for every later wait.
            if (MAIN_Thread_Running(pstThread) && read(stPfd.fd, &u64Count, sizeof(u64Count)) < 0 &&
                errno != EAGAIN)
                Debug_Log("[%s]: %s: read: %s\n", log_Time(), __func__, strerror(errno));
            break;
        }
        if (s32Ret == 0)
            break;
        if (errno != EINTR) {
            Debug_Log("[%s]: %s: poll: %s\n", log_Time(), __func__, strerror(errno));
            break;
        }
        if (s32Ms >= 0) {
            s64 s64Left = s64End - Thread_NowMs();
            if (s64Left <= 0)
                break;
            s32Left = (s32)s64Left;
        }
    }
    return MAIN_Thread_Running(pstThread);
}
