#include "config/Config.h"

#include <cstring>
#include <ctime>
#include <unistd.h>

#include "core/Debug.h"
#include "core/Main.h"
#include "upgrade/ConfigOld.h"

ConfigAttr_S g_stConfigAttr;
ConfigEdidText_S g_stConfigAttrNew;
std::atomic<s32> bConfigSaveBlock{0};

static std::mutex s_TimerMutex;        // guards the two below
static timer_t g_tConfigSaveTimer;
static bool s_bTimerCreated;

// Takes the settings of an older firmware over from flash. The old block is
// cleared only once the file holds them, so a failed write loses nothing.
static void MAIN_CONFIG_Migrate(void)
{
    Debug_Log("[%s]: %s: no app.ini, try to find old params\n", log_Time(), "MAIN_CONFIG_Init");
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;
    memset(&stAttr, 0, sizeof(stAttr));
    memset(&stEdid, 0, sizeof(stEdid));
    s32 s32Ret = Config_get_old(&stAttr, &stEdid);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_get_old failed with %#x!\n", log_Time(), s32Ret);
        return;
    }
    s32Ret = Config_set(&stAttr, &stEdid);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_set failed with %#x!\n", log_Time(), s32Ret);
        return;
    }
    s32Ret = Config_clear_old();
    if (s32Ret != 0)
        Debug_Log("[%s]: Config_clear_old failed with %#x!\n", log_Time(), s32Ret);
}

s32 MAIN_CONFIG_Init(void)
{
    bool bExists = access(CONFIG_FILE, F_OK) == 0;
    // A failure leaves nothing loaded; MAIN_CONFIG_Recv reports it.
    (void)Config_init(CONFIG_FILE, g_stMainServerAttr.stDevInfo.azMac);
    if (!bExists)
        MAIN_CONFIG_Migrate();

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

s32 MAIN_CONFIG_Recv(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid)
{
    s32 s32Ret = Config_get(pstAttr, pstEdid, g_stMainServerAttr.stDevInfo.azMac);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_get failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    const struct { const char *pszText; u8 *pu8Edid; } astEdid[] = {
        { pstEdid->azRxEdid, g_stMainServerAttr.au8CopyEdid },
        { pstEdid->azUser1Edid, g_stMainServerAttr.au8User1Edid },
        { pstEdid->azUser2Edid, g_stMainServerAttr.au8User2Edid },
    };
    for (const auto &st : astEdid) {
        size_t sizeLen = strnlen(st.pszText, CONFIG_EDID_TEXT_LEN);
        for (size_t i = 0; i < MAIN_EDID_LEN; i++)
            st.pu8Edid[i] = Config_HexByte(st.pszText, sizeLen, 2 * i);
    }
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
    if (timer_settime(g_tConfigSaveTimer, 0, &stSpec, nullptr) < 0) {
        Debug_Log("[%s]: fail to timer_settime", log_Time());
        return -1;
    }
    return 0;
}

void MAIN_CONFIG_SaveTimerProc(union sigval unused)
{
    (void)unused;
    if (!g_bRun)
        return;
    // The flag is read under the store's lock: a factory reset sets it before
    // taking the lock, so a save either ends before the reset or sees it.
    std::lock_guard<std::recursive_mutex> lock(g_ConfigMutex);
    if (bConfigSaveBlock)
        return;
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

s32 MAIN_CONFIG_Reset(void)
{
    s32 s32Ret = Config_reset(g_stMainServerAttr.stDevInfo.azMac);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_reset failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 MAIN_CONFIG_deInit(void)
{
    std::lock_guard<std::mutex> lock(s_TimerMutex);
    if (!s_bTimerCreated || timer_delete(g_tConfigSaveTimer) < 0) {
        Debug_Log("[%s]: timer_delete failed!\n", log_Time());
        return -1;
    }
    s_bTimerCreated = false;
    return 0;
}
