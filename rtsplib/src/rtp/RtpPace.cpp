#include "rtsplib/include/RtpPace.h"

#include <atomic>
#include <cerrno>
#include <ctime>

#define PACE_BURSTS_MAX  (RTP_PACE_SPREAD_US / RTP_PACE_GAP_US + 1)

u32 rtp_pace_burst(u32 u32Num)
{
    u32 u32Burst = (u32Num + PACE_BURSTS_MAX - 1) / PACE_BURSTS_MAX;
    return u32Burst > RTP_PACE_BURST ? u32Burst : RTP_PACE_BURST;
}

static void rtp_pace_sleep(u32 u32Us)
{
    struct timespec stTs = {(time_t)(u32Us / 1000000), (long)(u32Us % 1000000) * 1000L};
    // A signal only means sleeping the rest.
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &stTs, &stTs) == EINTR) {
    }
}

static std::atomic<RtpPaceWait *> s_pfnWait{rtp_pace_sleep};

void rtp_pace_gap(void)
{
    s_pfnWait.load(std::memory_order_relaxed)(RTP_PACE_GAP_US);
}

void rtp_pace_set_wait(RtpPaceWait *pfnWait)
{
    s_pfnWait = pfnWait ? pfnWait : rtp_pace_sleep;
}
