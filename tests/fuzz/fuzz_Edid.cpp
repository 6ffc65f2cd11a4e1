// The 4K filter on EDIDs as the network delivers them: any 256 bytes. It
// must stay inside the block, never grow the data-block area, and leave
// both checksums right.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "media/Edid.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    (void)!freopen("/dev/null", "w", stdout);   // the filter's log lines are not the point
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    u8 au8Edid[EDID_LEN] = {};
    memcpy(au8Edid, pu8Data, size < EDID_LEN ? size : EDID_LEN);
    u8 u8D = au8Edid[130];
    EDID_Filte4k(au8Edid);
    if (Edid_Sum(au8Edid, EDID_BLOCK_LEN) != 0 || Edid_Sum(au8Edid + EDID_BLOCK_LEN, EDID_BLOCK_LEN) != 0)
        __builtin_trap();
    if (u8D >= 4 && u8D <= 127 && (au8Edid[130] > u8D || au8Edid[130] < 4))
        __builtin_trap();
    if ((u8D < 4 || u8D > 127) && au8Edid[130] != u8D)
        __builtin_trap();
    return 0;
}
