// Bounds on the snapshot replies. A 12-byte request draws a reply of up to
// 64 KiB, so an unbounded server multiplies a flood by hundreds, and with a
// forged source it aims that at a bystander. Each window of
// SNAP_CAP_WINDOW_MS lets every source address have SNAP_CAP_PER_ADDR
// replies and all of them together SNAP_CAP_TOTAL: a controller polls a
// picture a second, a flood gets a trickle.
#ifndef MEDIA_SNAPCAP_H
#define MEDIA_SNAPCAP_H

#include "core/Types.h"

#define SNAP_CAP_WINDOW_MS 1000
#define SNAP_CAP_PER_ADDR  10
#define SNAP_CAP_TOTAL     100

struct SnapCapAddr_S {
    u32 u32Addr;    // IPv4, network order
    u32 u32Count;   // requests taken from it in the window
};

// A zeroed record is ready. Only addresses that had a request taken have an
// entry, so the table never holds more than SNAP_CAP_TOTAL.
struct SnapCap_S {
    s64 s64WindowMs;   // monotonic ms the window began
    u32 u32Total;      // requests taken in the window
    u32 u32Addrs;      // entries in use
    SnapCapAddr_S astAddr[SNAP_CAP_TOTAL];
};

// Whether a request from u32Addr at s64NowMs (monotonic) may be answered;
// a request taken is counted.
bool SnapCap_Take(SnapCap_S *pstCap, u32 u32Addr, s64 s64NowMs);

#endif
