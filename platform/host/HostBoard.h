// State of the host stand-ins for the board's devices, for tests to read.
#ifndef PLATFORM_HOST_HOSTBOARD_H
#define PLATFORM_HOST_HOSTBOARD_H

#include "core/Types.h"

struct HostWdt_S {
    bool bOpen;
    u32  u32Opens;
    u32  u32Kicks;
    s32  s32Timeout;          // seconds, 0 until set
    u32  u32Closes;
};
HostWdt_S *HostWdt_Get(void);

#endif
