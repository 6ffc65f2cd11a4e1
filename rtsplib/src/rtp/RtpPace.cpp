#include "rtsplib/include/RtpPace.h"

#include <cerrno>
#include <ctime>

#define PACE_BURSTS_MAX  (RTP_PACE_SPREAD_US / RTP_PACE_GAP_US + 1)

u32 rtp_pace_burst(u32 u32Num)
{
    u32 u32Burst = (u32Num + PACE_BURSTS_MAX - 1) / PACE_BURSTS_MAX;
    return u32Burst > RTP_PACE_BURST ? u32Burst : RTP_PACE_BURST;
}

void rtp_pace_gap(void)
{
    struct timespec stTs;
    clock_gettime(CLOCK_MONOTONIC, &stTs);
    stTs.tv_nsec += RTP_PACE_GAP_US * 1000L;
    if (stTs.tv_nsec >= 1000000000L) {
        stTs.tv_sec++;
        stTs.tv_nsec -= 1000000000L;
    }
    // An absolute end: a signal only means sleeping again to the same end.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &stTs, nullptr) == EINTR) {
    }
}
