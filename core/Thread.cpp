#include "core/Thread.h"

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
