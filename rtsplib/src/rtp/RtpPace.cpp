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
    struct timespec stTs = {0, RTP_PACE_GAP_US * 1000L};
    // A signal only means sleeping the rest.
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &stTs, &stTs) == EINTR) {
    }
}
