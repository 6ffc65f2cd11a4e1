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

s32  MAIN_WdtStart(void);      // 0, or -1 when the watchdog cannot be opened
void MAIN_WdtKeepLive(void);
// Given once at start-up; every WdtReboot calls it first.
void Wdt_AttachBeforeReboot(WdtBeforeRebootProc *pfnProc);
// Calls the attached proc now, for a reboot that first rewrites the flash.
void Wdt_BeforeReboot(void);
// Runs the attached proc, then, with the watchdog open: 1 s time-out and
// close, so the board resets. Without it: "reboot -d 1 &".
void WdtReboot(void);

#endif
