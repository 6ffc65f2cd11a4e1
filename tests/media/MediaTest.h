// Shared by the media tests: waiting on the threads under test, and the
// media engine stand-in's state.
#ifndef TESTS_MEDIA_MEDIATEST_H
#define TESTS_MEDIA_MEDIATEST_H

#include <chrono>
#include <thread>

#include "platform/host/HostMedia.h"

// Polls cond every 5 ms for up to u32Ms; true once it held.
template <typename Cond> bool Test_WaitFor(Cond cond, u32 u32Ms = 5000)
{
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(u32Ms);
    while (!cond()) {
        if (std::chrono::steady_clock::now() > tEnd)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// A copy of the media engine stand-in's state.
inline HostMedia_S Engine(void)
{
    HostMedia_S st;
    HostMedia_Get(&st);
    return st;
}

#endif
