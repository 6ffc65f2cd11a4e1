// The deferred save: every change re-arms a 2 s one-shot timer whose
// thread writes the whole record. A save that could not write the file is
// tried again, at growing intervals, until one succeeds. Once a reboot is
// asked for, a change is written at once: the board resets within a second.
#include "config/Config.h"

#include <cstring>
#include <ctime>

#include "core/Debug.h"

ConfigAttr_S g_stConfigAttr;
ConfigEdidText_S g_stConfigAttrNew;
std::atomic<s32> bConfigSaveBlock{0};

static std::mutex s_TimerMutex;        // guards the four below
static timer_t g_tConfigSaveTimer;
static bool s_bTimerCreated;
static u32 s_u32RetryS = CONFIG_SAVE_DELAY_S;   // wait before the next try of a failed save
static u32 s_u32Failed;                // saves failed since the last one that wrote the file
static std::atomic<bool> s_bSavePending{false};   // a change not written yet
static std::atomic<bool> s_bRebooting{false};     // a reboot was asked for: no time for the timer
static std::atomic<bool> s_bHeld{false};          // set under g_ConfigMutex: the flash is rewritten
static DebugLimit_S s_stRetryLimit;
static DebugLimit_S s_stFailLimit;     // every setter sent from the LAN may come to a failed save

// Arms the timer for u32Seconds from now; s_TimerMutex is held.
static s32 MAIN_CONFIG_Arm(u32 u32Seconds)
{
    struct itimerspec stSpec;
    memset(&stSpec, 0, sizeof(stSpec));
    stSpec.it_value.tv_sec = u32Seconds;
    if (timer_settime(g_tConfigSaveTimer, 0, &stSpec, nullptr) < 0) {
        Debug_Log("[%s]: fail to timer_settime", log_Time());
        return -1;
    }
    return 0;
}

s32 MAIN_CONFIG_TimerInit(void)
{
    std::lock_guard<std::mutex> lock(s_TimerMutex);
    if (s_bTimerCreated)
        return 0;
    struct sigevent stEvent;
    memset(&stEvent, 0, sizeof(stEvent));
    stEvent.sigev_notify = SIGEV_THREAD;
    stEvent.sigev_notify_function = MAIN_CONFIG_SaveTimerProc;
    stEvent.sigev_value.sival_int = 0;
    if (timer_create(CLOCK_REALTIME, &stEvent, &g_tConfigSaveTimer) < 0) {
        Debug_Log("[%s]: timer_create failed!\n", log_Time());
        return -1;
    }
    s_bTimerCreated = true;
    return 0;
}

s32 MAIN_CONFIG_Update(void)
{
    {
        std::lock_guard<std::mutex> lock(s_TimerMutex);
        if (!s_bTimerCreated) {
            Debug_Log("[%s]: %s: no save timer\n", log_Time(), __func__);
            return -1;
        }
        s_bSavePending = true;
        if (!s_bRebooting)
            return MAIN_CONFIG_Arm(CONFIG_SAVE_DELAY_S);
    }
    MAIN_CONFIG_SaveTimerProc(sigval());
    return 0;
}

// After a save that wrote no file: the next try, unless a change has armed
// the timer already or the timer is gone (the program stops).
static void MAIN_CONFIG_Retry(void)
{
    std::lock_guard<std::mutex> lock(s_TimerMutex);
    s_u32Failed++;
    struct itimerspec stSpec;
    if (!s_bTimerCreated || timer_gettime(g_tConfigSaveTimer, &stSpec) < 0)
        return;
    if (stSpec.it_value.tv_sec == 0 && stSpec.it_value.tv_nsec == 0 && MAIN_CONFIG_Arm(s_u32RetryS) == 0) {
        Debug_LogLimited(&s_stRetryLimit, "[%s]: %s: settings not saved (tries: %u), next try in %u s\n",
                         log_Time(), __func__, s_u32Failed, s_u32RetryS);
        s_u32RetryS = s_u32RetryS * 2 < CONFIG_SAVE_RETRY_MAX_S ? s_u32RetryS * 2 : CONFIG_SAVE_RETRY_MAX_S;
    }
}

static void MAIN_CONFIG_Saved(void)
{
    std::lock_guard<std::mutex> lock(s_TimerMutex);
    if (s_u32Failed != 0)
        Debug_Log("[%s]: %s: settings saved after %u failed tries\n", log_Time(), __func__, s_u32Failed);
    s_u32Failed = 0;
    s_u32RetryS = CONFIG_SAVE_DELAY_S;
}

void MAIN_CONFIG_SaveTimerProc(union sigval unused)
{
    (void)unused;
    // The flag is read under the store's lock: a factory reset sets it before
    // taking the lock, so a save either ends before the reset or sees it.
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (bConfigSaveBlock || s_bHeld || !s_bSavePending)   // nothing left: a flush wrote it already
        return;
    s_bSavePending = false;
    // A refused value is logged and stays refused: only a file that could
    // not be written is worth another try.
    if (MAIN_CONFIG_Save_all(&g_stConfigAttr, &g_stConfigAttrNew) == 0 || !Config_IsFileBehind()) {
        MAIN_CONFIG_Saved();
        return;
    }
    s_bSavePending = true;
    MAIN_CONFIG_Retry();
}

s32 MAIN_CONFIG_Save_all(const ConfigAttr_S *pstAttr, const ConfigEdidText_S *pstEdid)
{
    s32 s32Ret = Config_set(pstAttr, pstEdid);
    if (s32Ret != 0) {
        Debug_LogLimited(&s_stFailLimit, "[%s]: Config_set failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 MAIN_CONFIG_deInit(void)
{
    {
        std::lock_guard<std::mutex> lock(s_TimerMutex);
        if (!s_bTimerCreated || timer_delete(g_tConfigSaveTimer) < 0) {
            Debug_Log("[%s]: timer_delete failed!\n", log_Time());
            return -1;
        }
        s_bTimerCreated = false;
    }
    (void)MAIN_CONFIG_Flush();   // a failure is logged; the stop goes on
    return 0;
}

s32 MAIN_CONFIG_Flush(void)
{
    // A save running now ends first.
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    MAIN_CONFIG_SaveTimerProc(sigval());
    return s_bSavePending && !bConfigSaveBlock && !s_bHeld ? -1 : 0;
}

s32 MAIN_CONFIG_BeforeReboot(void)
{
    s_bRebooting = true;
    return MAIN_CONFIG_Flush();
}

void MAIN_CONFIG_Hold(bool bHold)
{
    // A save running now ends before the flash is touched.
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    s_bHeld = bHold;
    if (bHold)
        return;
    s_bRebooting = false;
    std::lock_guard<std::mutex> lockTimer(s_TimerMutex);
    if (s_bSavePending && s_bTimerCreated)
        (void)MAIN_CONFIG_Arm(CONFIG_SAVE_DELAY_S);   // logged there; the next change arms it again
}
