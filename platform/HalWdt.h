// Hardware watchdog. Board: "/dev/watchdog". Host: a stand-in that records
// each call as a line in "/dev/watchdog" when that is a plain file (as in a
// box), and counts them in HostWdt_Get().
#ifndef PLATFORM_HALWDT_H
#define PLATFORM_HALWDT_H

#include "core/Types.h"

s32  HAL_Wdt_Open(void);                      // 0, or -1 with errno
s32  HAL_Wdt_Kick(void);                      // 0, or -1 with errno
s32  HAL_Wdt_SetTimeout(s32 s32Seconds);      // 0, or -1 with errno
void HAL_Wdt_Close(void);                     // without the magic close: the board resets

#endif
