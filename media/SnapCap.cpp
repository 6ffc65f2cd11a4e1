#include "media/SnapCap.h"

bool SnapCap_Take(SnapCap_S *pstCap, u32 u32Addr, s64 s64NowMs)
{
    if (s64NowMs - pstCap->s64WindowMs >= SNAP_CAP_WINDOW_MS || s64NowMs < pstCap->s64WindowMs) {
        pstCap->s64WindowMs = s64NowMs;
        pstCap->u32Total = 0;
        pstCap->u32Addrs = 0;
    }
    if (pstCap->u32Total >= SNAP_CAP_TOTAL)
        return false;
    u32 i = 0;
    while (i < pstCap->u32Addrs && pstCap->astAddr[i].u32Addr != u32Addr)
        i++;
    if (i == pstCap->u32Addrs) {
        // Fewer entries than requests taken, and those stay below the size.
        pstCap->astAddr[i] = {u32Addr, 0};
        pstCap->u32Addrs++;
    }
    if (pstCap->astAddr[i].u32Count >= SNAP_CAP_PER_ADDR)
        return false;
    pstCap->astAddr[i].u32Count++;
    pstCap->u32Total++;
    return true;
}
