// Pacing of large units over UDP. A key frame handed to the kernel at once
// reaches a player as one burst of a hundred packets and more, more than a
// player's default socket buffer holds while its thread is busy elsewhere.
// Such a unit goes out in bursts a little apart instead, all of it within
// a few milliseconds, well under a frame's interval. TCP paces itself.
#ifndef RTSPLIB_INCLUDE_RTPPACE_H
#define RTSPLIB_INCLUDE_RTPPACE_H

#include "core/Types.h"

#define RTP_PACE_BURST      16      // packets a receiver gets at once
#define RTP_PACE_GAP_US     500     // quiet time after a burst, for the receiver to read it
#define RTP_PACE_SPREAD_US  6000    // most time one unit's gaps add up to

// Packets per burst for a unit of u32Num packets: RTP_PACE_BURST, or more
// where that many bursts would add up to more than RTP_PACE_SPREAD_US of
// gaps. A unit of at most one burst is not paced.
u32 rtp_pace_burst(u32 u32Num);
// The quiet time between two bursts of a unit: RTP_PACE_GAP_US of the wait
// in place, a sleep unless a test put its own.
void rtp_pace_gap(void);
// A wait of u32Us between two bursts.
typedef void RtpPaceWait(u32 u32Us);
// Puts pfnWait in place of the sleep (null: the sleep again), so that a
// test sees each wait the sender asks for, and where in a unit. Set it
// while no frame is being sent.
void rtp_pace_set_wait(RtpPaceWait *pfnWait);

#endif
