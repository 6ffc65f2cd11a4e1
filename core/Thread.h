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

// The older pair over a bare flag, for threads not yet moved to MainThread_S.
s32 MAIN_Thread_Start(pthread_t *pThread, std::atomic<s32> *pbRun, void *(*pfnRun)(void *),
                      void *pvArg, const char *pszFunc);
void MAIN_Thread_Stop(pthread_t *pThread, std::atomic<s32> *pbRun);

// A long-lived thread with its run flag and a wake-up. Its loop waits with
// MAIN_Thread_Wait (or polls MAIN_Thread_WakeFd beside its own descriptors)
// instead of sleeping, so a stop ends any wait at once. A zeroed record is
// a thread that is not running.
struct MainThread_S {
    pthread_t thread;
    std::atomic<s32> bRun;       // 1 from start until stop
    std::atomic<s32> s32WakeFd;  // eventfd, open while the thread runs; 0 when none
};

// Sets the run flag and starts pfnRun(pvArg); 0 also when it runs already.
// On failure logs as MAIN_Thread_Create does, leaves the record stopped
// and returns the error (or -1 when no eventfd could be made).
s32 MAIN_Thread_Start(MainThread_S *pstThread, void *(*pfnRun)(void *), void *pvArg,
                      const char *pszFunc);
// Clears the run flag, wakes the thread, joins it and closes its eventfd.
// Does nothing for a thread that is not running. Never call it from the
// thread itself.
void MAIN_Thread_Stop(MainThread_S *pstThread);
// True while the thread should go on.
bool MAIN_Thread_Running(const MainThread_S *pstThread);
// Waits up to s32Ms milliseconds (negative: without end) or until a stop
// or a wake; returns MAIN_Thread_Running afterwards. Retries on EINTR with
// the time left.
bool MAIN_Thread_Wait(MainThread_S *pstThread, s32 s32Ms);
// Ends the thread's current or next wait without stopping it.
void MAIN_Thread_Wake(MainThread_S *pstThread);
// The descriptor a thread that polls sockets adds to its set (POLLIN): it
// becomes readable on a stop or a wake. MAIN_Thread_Wait drains a wake.
s32 MAIN_Thread_WakeFd(const MainThread_S *pstThread);

#endif
