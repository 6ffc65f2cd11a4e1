// The hardware watchdog and the reboot through it.
#ifndef BOARD_WDT_H
#define BOARD_WDT_H

#include <atomic>

#include "core/Types.h"

#define WDT_TIMEOUT_S 10   // time-out while the program runs

extern std::atomic<s32> g_wdtkeepalive_flag;   // 1: kicking suspended (a reboot is under way)

// What must be done before the board resets (a pending save written): 0,
// or -1 when it could not be done, which it logs itself.
typedef s32 WdtBeforeRebootProc(void);
// Holds (true) what the proc above writes, while the flash is rewritten
// before the reset, or releases it (false) when no reset follows.
typedef void WdtHoldProc(bool bHold);

s32  MAIN_WdtStart(void);      // 0, or -1 when the watchdog cannot be opened
void MAIN_WdtKeepLive(void);
// Given once at start-up; every WdtReboot calls it first.
void Wdt_AttachBeforeReboot(WdtBeforeRebootProc *pfnProc);
// Given once at start-up, beside the proc above.
void Wdt_AttachHold(WdtHoldProc *pfnProc);
// For a reboot that first rewrites the flash: calls the attached proc now,
// then holds what it writes until the reset.
void Wdt_BeforeReboot(void);
// The rewrite failed and no reset follows: the hold is released.
void Wdt_CancelReboot(void);
// Runs the attached proc, then, with the watchdog open: 1 s time-out and
// close, so the board resets. Without it: "reboot -d 1 &".
void WdtReboot(void);

#endif
