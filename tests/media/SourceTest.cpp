#include "tests/media/SourceTest.h"

#include <chrono>
#include <thread>

bool WaitFor(const std::function<bool()> &fnDone, u32 u32Ms)
{
    for (u32 i = 0; i < u32Ms / 10; i++) {
        if (fnDone())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return fnDone();
}

HostMedia_S Engine(void)
{
    HostMedia_S st;
    HostMedia_Get(&st);
    return st;
}
