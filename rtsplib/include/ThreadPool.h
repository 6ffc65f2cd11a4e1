// A pool of worker threads running queued tasks.
#ifndef RTSPLIB_INCLUDE_THREADPOOL_H
#define RTSPLIB_INCLUDE_THREADPOOL_H

#include "core/Types.h"

struct ThreadPool_S;
typedef void ThreadPoolProc(void *pvParam);

// Starts u32Min workers (at least 1); the pool grows to u32Max while tasks
// wait and no worker is idle, and shrinks back to u32Min idle workers.
// u32Spare is not read. Null when no worker can be started.
ThreadPool_S *thread_pool_create(u32 u32Min, u32 u32Spare, u32 u32Max);
// Stops the pool: queued tasks still run, running tasks are waited for (a
// task that never returns blocks this call), every worker is joined.
void thread_pool_destroy(ThreadPool_S *pstPool);
// Queues pfnProc(pvParam); 0, or -1 when no worker can run it.
s32 thread_pool_push(ThreadPool_S *pstPool, ThreadPoolProc *pfnProc, void *pvParam);
u32 thread_pool_threads_count(ThreadPool_S *pstPool);

#endif
