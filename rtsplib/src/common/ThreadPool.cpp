#include "rtsplib/include/ThreadPool.h"

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <list>
#include <mutex>
#include <sys/prctl.h>
#include <system_error>
#include <thread>

#include "core/Debug.h"

#define THREAD_POOL_IDLE_WAIT std::chrono::seconds(60)

struct ThreadPoolTask_S {
    ThreadPoolProc *pfnProc;
    void *pvParam;
};

struct ThreadPoolWorker_S {
    std::thread th;
    bool bDone;               // the thread has left its loop; join it
};

struct ThreadPool_S {
    std::mutex mtx;           // guards everything below
    std::condition_variable cv;
    bool bRun;
    u32 u32Min, u32Max;
    u32 u32Threads;           // workers in their loop
    u32 u32Idle;              // workers waiting for a task
    std::deque<ThreadPoolTask_S> dqTask;
    std::list<ThreadPoolWorker_S> lstWorker;
};

static void ThreadPool_Worker(ThreadPool_S *pstPool, ThreadPoolWorker_S *pstWorker)
{
    prctl(PR_SET_NAME, "pool_worker", 0, 0, 0);
    std::unique_lock<std::mutex> lk(pstPool->mtx);
    for (;;) {
        if (!pstPool->dqTask.empty()) {
            ThreadPoolTask_S stTask = pstPool->dqTask.front();
            pstPool->dqTask.pop_front();
            lk.unlock();
            stTask.pfnProc(stTask.pvParam);
            lk.lock();
            continue;
        }
        if (!pstPool->bRun || pstPool->u32Idle >= pstPool->u32Min)
            break;
        pstPool->u32Idle++;
        pstPool->cv.wait_for(lk, THREAD_POOL_IDLE_WAIT);
        pstPool->u32Idle--;
    }
    pstPool->u32Threads--;
    pstWorker->bDone = true;
}

// Caller holds the mutex. 0, or -1 when the thread cannot be started.
static s32 ThreadPool_StartWorker(ThreadPool_S *pstPool)
{
    pstPool->lstWorker.emplace_back();
    ThreadPoolWorker_S *pstWorker = &pstPool->lstWorker.back();
    pstWorker->bDone = false;
    try {
        pstWorker->th = std::thread(ThreadPool_Worker, pstPool, pstWorker);
    } catch (const std::system_error &e) {
        Debug_Log("[%s]: %s: pthread_create err! s32Ret=%#x\n", log_Time(), __func__, e.code().value());
        pstPool->lstWorker.pop_back();
        return -1;
    }
    pstPool->u32Threads++;
    return 0;
}

// Joins the workers that have left. Caller holds the mutex; a leaving
// worker touches nothing after setting bDone but the unlock.
static void ThreadPool_Reap(ThreadPool_S *pstPool, std::unique_lock<std::mutex> &lk)
{
    for (auto it = pstPool->lstWorker.begin(); it != pstPool->lstWorker.end();) {
        if (!it->bDone) {
            ++it;
            continue;
        }
        std::thread th = std::move(it->th);
        it = pstPool->lstWorker.erase(it);
        lk.unlock();
        th.join();
        lk.lock();
    }
}

ThreadPool_S *thread_pool_create(u32 u32Min, u32 u32Spare, u32 u32Max)
{
    (void)u32Spare;   // kept for the callers' signature; the pool sizes itself
    ThreadPool_S *pstPool = new ThreadPool_S();
    pstPool->bRun = true;
    pstPool->u32Min = u32Min < 1 ? 1 : u32Min;
    pstPool->u32Max = u32Max < pstPool->u32Min ? pstPool->u32Min : u32Max;
    std::unique_lock<std::mutex> lk(pstPool->mtx);
    for (u32 i = 0; i < pstPool->u32Min; i++) {
        if (ThreadPool_StartWorker(pstPool) < 0) {
            lk.unlock();
            thread_pool_destroy(pstPool);
            return nullptr;
        }
    }
    return pstPool;
}

void thread_pool_destroy(ThreadPool_S *pstPool)
{
    {
        std::lock_guard<std::mutex> lk(pstPool->mtx);
        pstPool->bRun = false;
        pstPool->cv.notify_all();
    }
    // Only push and destroy change the list, and push is over by now.
    for (ThreadPoolWorker_S &stWorker : pstPool->lstWorker)
        stWorker.th.join();
    delete pstPool;
}

s32 thread_pool_push(ThreadPool_S *pstPool, ThreadPoolProc *pfnProc, void *pvParam)
{
    std::unique_lock<std::mutex> lk(pstPool->mtx);
    ThreadPool_Reap(pstPool, lk);
    if (!pstPool->bRun)
        return -1;
    pstPool->dqTask.push_back({pfnProc, pvParam});
    // A woken worker counts as idle until it runs: grow while the queue
    // holds more tasks than there are idle workers to take them.
    if (pstPool->dqTask.size() > pstPool->u32Idle && pstPool->u32Threads < pstPool->u32Max &&
        ThreadPool_StartWorker(pstPool) < 0 && pstPool->u32Threads == 0) {
        pstPool->dqTask.pop_back();
        return -1;
    }
    pstPool->cv.notify_one();
    return 0;
}

u32 thread_pool_threads_count(ThreadPool_S *pstPool)
{
    std::lock_guard<std::mutex> lk(pstPool->mtx);
    return pstPool->u32Threads;
}
