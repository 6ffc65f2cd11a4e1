// The one life cycle of every long-lived thread: a start function, a stop
// that wakes the thread and joins it. Records are plain words so that
// globals stay trivially destructible.
#ifndef CORE_THREAD_H
#define CORE_THREAD_H

#include <atomic>
#include <pthread.h>

#include "core/Types.h"

// A long-lived thread with its run flag and a wake-up. Its loop waits with
// MAIN_Thread_Wait (or polls MAIN_Thread_WakeFd beside its own descriptors)
// instead of sleeping, so a stop ends any wait at once. A zeroed record is
// a thread that is not running.
struct MainThread_S {
    pthread_t thread;
    std::atomic<s32> bRun;       // 1 from start until stop
    std::atomic<s32> s32WakeFd;  // eventfd, open while the thread runs; 0 when none
    void (*pfnWake)(void);       // set before the start by a thread that waits elsewhere
                                 // (a queue): called by every wake and the stop
};

// Sets the run flag and starts pfnRun(pvArg); 0 also when it runs already.
// On failure logs "[%s]: pthread_create err! s32Ret=%#x\n" (with "%s: "
// and pszFunc after the time stamp when pszFunc is given), leaves the record stopped
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
// MAIN_Thread_Wait that also ends when s32Fd is ready for s16Events:
// 1 then, 0 after the time, a wake or a stop, -1 on a poll error (logged).
s32 MAIN_Thread_WaitFd(MainThread_S *pstThread, s32 s32Fd, s16 s16Events, s32 s32Ms);
// Ends the thread's current or next wait without stopping it.
void MAIN_Thread_Wake(MainThread_S *pstThread);
// The descriptor a thread that polls sockets adds to its set (POLLIN): it
// becomes readable on a stop or a wake. MAIN_Thread_Wait drains a wake.
s32 MAIN_Thread_WakeFd(const MainThread_S *pstThread);

#endif
