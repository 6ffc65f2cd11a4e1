// The deferred save: every change re-arms a 2 s one-shot timer whose
// thread writes the whole record.
#include "config/Config.h"

#include <cstring>
#include <ctime>

#include "core/Debug.h"

ConfigAttr_S g_stConfigAttr;
ConfigEdidText_S g_stConfigAttrNew;
std::atomic<s32> bConfigSaveBlock{0};

static std::mutex s_TimerMutex;        // guards the two below
static timer_t g_tConfigSaveTimer;
static bool s_bTimerCreated;
static std::atomic<bool> s_bSavePending{false};   // a change not written yet

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
    std::lock_guard<std::mutex> lock(s_TimerMutex);
    if (!s_bTimerCreated) {
        Debug_Log("[%s]: %s: no save timer\n", log_Time(), __func__);
        return -1;
    }
    struct itimerspec stSpec;
    memset(&stSpec, 0, sizeof(stSpec));
    stSpec.it_value.tv_sec = CONFIG_SAVE_DELAY_S;
    s_bSavePending = true;
    if (timer_settime(g_tConfigSaveTimer, 0, &stSpec, nullptr) < 0) {
        Debug_Log("[%s]: fail to timer_settime", log_Time());
        return -1;
    }
    return 0;
}

void MAIN_CONFIG_SaveTimerProc(union sigval unused)
{
    (void)unused;
    // The flag is read under the store's lock: a factory reset sets it before
    // taking the lock, so a save either ends before the reset or sees it.
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (bConfigSaveBlock)
        return;
    s_bSavePending = false;
    (void)MAIN_CONFIG_Save_all(&g_stConfigAttr, &g_stConfigAttrNew);   // logged; the next change retries
}

s32 MAIN_CONFIG_Save_all(const ConfigAttr_S *pstAttr, const ConfigEdidText_S *pstEdid)
{
    s32 s32Ret = Config_set(pstAttr, pstEdid);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_set failed with %#x!\n", log_Time(), s32Ret);
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
    // A change the timer did not write yet is not lost with it.
    if (s_bSavePending)
        MAIN_CONFIG_SaveTimerProc(sigval());
    return 0;
}
