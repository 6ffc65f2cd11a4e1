#include "board/Wdt.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "core/Debug.h"
#include "platform/HalWdt.h"

std::atomic<s32> g_wdtkeepalive_flag{0};
static std::atomic<bool> s_bWdtOpen{false};
static std::atomic<WdtBeforeRebootProc *> s_pfnBeforeReboot{nullptr};
static std::atomic<WdtHoldProc *> s_pfnHold{nullptr};

s32 MAIN_WdtStart(void)
{
    if (HAL_Wdt_Open() < 0) {
        Debug_Log("[%s]: %s: open watchdog: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    if (HAL_Wdt_SetTimeout(WDT_TIMEOUT_S) < 0)
        Debug_Log("[%s]: %s: set timeout: %s\n", log_Time(), __func__, strerror(errno));
    s_bWdtOpen = true;
    MAIN_WdtKeepLive();
    return 0;
}

void MAIN_WdtKeepLive(void)
{
    if (!s_bWdtOpen || g_wdtkeepalive_flag)
        return;
    if (HAL_Wdt_Kick() < 0)
        Debug_Log("[%s]: %s: kick: %s\n", log_Time(), __func__, strerror(errno));
}

void Wdt_AttachBeforeReboot(WdtBeforeRebootProc *pfnProc)
{
    s_pfnBeforeReboot = pfnProc;
}

static void Wdt_RunBeforeReboot(void)
{
    WdtBeforeRebootProc *pfnProc = s_pfnBeforeReboot;
    if (pfnProc != nullptr)
        (void)pfnProc();   // a failure is logged there; the reboot is wanted all the same
}

static void Wdt_Hold(bool bHold)
{
    WdtHoldProc *pfnProc = s_pfnHold;
    if (pfnProc != nullptr)
        pfnProc(bHold);
}

void Wdt_AttachHold(WdtHoldProc *pfnProc)
{
    s_pfnHold = pfnProc;
}

void Wdt_BeforeReboot(void)
{
    Wdt_RunBeforeReboot();
    Wdt_Hold(true);
}

void Wdt_CancelReboot(void)
{
    Wdt_Hold(false);
}

void WdtReboot(void)
{
    Wdt_RunBeforeReboot();
    if (!s_bWdtOpen) {
        (void)system("reboot -d 1 &");   // nothing left to do if even this fails
        return;
    }
    g_wdtkeepalive_flag = 1;
    if (HAL_Wdt_SetTimeout(1) < 0) {
        // Kicking has stopped, so the old time-out resets the board all the same.
        Debug_Log("[%s]: ioctl error\n", log_Time());
        return;
    }
    HAL_Wdt_Close();
    s_bWdtOpen = false;
}
