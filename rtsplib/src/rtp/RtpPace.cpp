#include "rtsplib/include/RtpPace.h"

#include <cerrno>
#include <ctime>

#define PACE_BURSTS_MAX  (RTP_PACE_SPREAD_US / RTP_PACE_GAP_US + 1)

u32 rtp_pace_burst(u32 u32Num)
{
    u32 u32Burst = (u32Num + PACE_BURSTS_MAX - 1) / PACE_BURSTS_MAX;
    return u32Burst > RTP_PACE_BURST ? u32Burst : RTP_PACE_BURST;
}

static u64 Pace_Now(void)
{
    struct timespec stTs;
    clock_gettime(CLOCK_MONOTONIC, &stTs);
    return (u64)stTs.tv_sec * 1000000000ULL + (u64)stTs.tv_nsec;
}

u64 rtp_pace_next(void)
{
    return Pace_Now() + RTP_PACE_GAP_US * 1000ULL;
}

void rtp_pace_wait(u64 u64NextNs)
{
    struct timespec stTs = {(time_t)(u64NextNs / 1000000000ULL), (long)(u64NextNs % 1000000000ULL)};
    // An absolute time: a signal only means sleeping again to the same end.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &stTs, nullptr) == EINTR) {
    }
}
