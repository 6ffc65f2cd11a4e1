#include "tests/rtsplib/RtspTestAlloc.h"

#include <atomic>
#include <cstdlib>
#include <new>
#include <pthread.h>

static std::atomic<bool> s_bArmed{false};
static std::atomic<pthread_t> s_thArmer;
static std::atomic<s64> s_s64Pass{0};    // allocations still let pass; below 0: failed ones
static std::atomic<u32> s_u32Failed{0};

static void *TestAlloc_Take(size_t size, bool bMayFail)
{
    if (bMayFail && s_bArmed && !pthread_equal(pthread_self(), s_thArmer) && s_s64Pass.fetch_sub(1) <= 0) {
        s_u32Failed++;
        return nullptr;
    }
    return malloc(size ? size : 1);
}

static void *TestAlloc_Throwing(size_t size)
{
    void *pv = TestAlloc_Take(size, true);
    if (pv == nullptr)
        throw std::bad_alloc();
    return pv;
}

void *operator new(size_t size) { return TestAlloc_Throwing(size); }
void *operator new[](size_t size) { return TestAlloc_Throwing(size); }
void *operator new(size_t size, const std::nothrow_t &) noexcept { return TestAlloc_Take(size, false); }
void *operator new[](size_t size, const std::nothrow_t &) noexcept { return TestAlloc_Take(size, false); }
void operator delete(void *pv) noexcept { free(pv); }
void operator delete[](void *pv) noexcept { free(pv); }
void operator delete(void *pv, size_t) noexcept { free(pv); }
void operator delete[](void *pv, size_t) noexcept { free(pv); }
void operator delete(void *pv, const std::nothrow_t &) noexcept { free(pv); }
void operator delete[](void *pv, const std::nothrow_t &) noexcept { free(pv); }

void TestAlloc_FailOthers(u32 u32Pass)
{
    s_bArmed = false;
    s_thArmer = pthread_self();
    s_s64Pass = u32Pass;
    s_u32Failed = 0;
    s_bArmed = true;
}

void TestAlloc_Pass(void)
{
    s_bArmed = false;
}

u32 TestAlloc_Failed(void)
{
    return s_u32Failed;
}
