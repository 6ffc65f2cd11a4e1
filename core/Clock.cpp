#include "core/Clock.h"

#include <time.h>

s64 Clock_NowMs(void)
{
    struct timespec stNow;
    clock_gettime(CLOCK_MONOTONIC, &stNow);
    return (s64)stNow.tv_sec * 1000 + stNow.tv_nsec / 1000000;
}
