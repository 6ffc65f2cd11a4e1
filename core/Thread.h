// Thread start for the long-lived threads of every module. Handles are
// plain pthread_t so that globals stay trivially destructible: main may
// return while threads run.
#ifndef CORE_THREAD_H
#define CORE_THREAD_H

#include <atomic>
#include <pthread.h>

#include "core/Types.h"

// Starts pfnRun(pvArg) with default attributes. On failure logs
// "[%s]: pthread_create err! s32Ret=%#x\n" (with "%s: " and pszFunc after
// the time stamp when pszFunc is given) and returns the error; else 0.
s32 MAIN_Thread_Create(pthread_t *pThread, void *(*pfnRun)(void *), void *pvArg,
                       const char *pszFunc = nullptr);

// A thread with a run flag: sets *pbRun and starts pfnRun(pvArg) unless
// the flag is set already (0 then); on failure clears the flag again and
// returns the error, logged as above.
s32 MAIN_Thread_Start(pthread_t *pThread, std::atomic<s32> *pbRun, void *(*pfnRun)(void *),
                      void *pvArg, const char *pszFunc);
// Clears *pbRun and joins the thread, when it was running.
void MAIN_Thread_Stop(pthread_t *pThread, std::atomic<s32> *pbRun);

#endif
