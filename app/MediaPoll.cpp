// The 100 ms poll of the capture driver's input state: a change to lock
// sends a video start and an audio start, a change to no input an audio
// stop and a video stop. The timer is re-armed only after each poll, so
// polls never overlap and a long rebuild delays the next one.
#include "app/AVSourceMsg.h"

#include <cerrno>
#include <csignal>
#include <ctime>
#include <mutex>

#include "app/Main.h"
#include "core/Debug.h"
#include "media/AVSource.h"
#include "media/MediaSnr.h"

static std::mutex s_PollMutex;       // held by each poll with its re-arm, and by the de-init
static timer_t s_tPollTimer;
static bool s_bPollTimer;            // s_tPollTimer created and not deleted
static bool s_bPollEnded;            // de-initialised: a late expiry polls no more
static u32 s_u32LastState;           // SignalState_E of the last poll

s32 MAIN_CheckFps(s32 s32Fps)
{
    static const struct { s32 s32Low, s32High, s32Fps; } astRanges[] = {
        {55, 62, 60}, {45, 54, 50}, {28, 34, 30}, {25, 26, 25}, {20, 24, 24},
    };
    for (const auto &st : astRanges)
        if (s32Fps >= st.s32Low && s32Fps <= st.s32High)
            return st.s32Fps;
    return s32Fps;
}

static void MAIN_Media_Send(AVSourceMsgType_E enType, const void *pvMsg)
{
    if (MAIN_AVSource_MsgProc(enType, pvMsg) != 0)
        Debug_Log("[%s]: pfnCallBack err!\n", log_Time());
}

static void MAIN_Media_OnLock(void)
{
    Debug_Log("[%s]: g_enSNRState: EN_SIGNAL_LOCK\n", log_Time());
    SnrVideoInfo_S stInfo = {};
    s32 s32Ret = Media_SNR_GetVideoInfo(&stInfo);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Media_SNR_GetVideoInfo failed with %#x!\n", log_Time(), s32Ret);
        return;
    }
    stInfo.u8VideoFps = (u8)MAIN_CheckFps(stInfo.u8VideoFps);
    Debug_Log("[%s]: Media_SNR_GetVideoInfo OK, stVideoInfo.bsupport: %d  u8VideoFps [%u] u16VideoWidth [%u] "
              "u16VideoHeight [%u]\n",
              log_Time(), stInfo.bsupport, stInfo.u8VideoFps, stInfo.u16VideoWidth, stInfo.u16VideoHeight);
    if (!stInfo.bsupport)
        return;
    AVSourceVMsg_S stVMsg = {AVSOURCE_OP_START, 0, MAIN_VI_MODE_MIPI, stInfo.u16VideoWidth, stInfo.u16VideoHeight,
                             stInfo.u8VideoFps, stInfo.u16Interlace != 0 ? 1u : 0u};
    MAIN_Media_Send(AVSOURCE_MSG_VIDEO, &stVMsg);
    AVSourceAMsg_S stAMsg = {AVSOURCE_OP_START, 0, MAIN_SAMPLE_RATE};
    MAIN_Media_Send(AVSOURCE_MSG_AUDIO, &stAMsg);
}

// The state is taken before the messages go, so a lock whose timing
// cannot be read waits for the next change.
static void MAIN_Media_OnLoss(void)
{
    AVSourceAMsg_S stAMsg = {AVSOURCE_OP_STOP, 0, MAIN_SAMPLE_NONE};
    MAIN_Media_Send(AVSOURCE_MSG_AUDIO, &stAMsg);
    AVSourceVMsg_S stVMsg = {AVSOURCE_OP_STOP, 0, MAIN_VI_MODE_MIPI, MAIN_SIZE_STOP, MAIN_SIZE_STOP, 0, 0};
    MAIN_Media_Send(AVSOURCE_MSG_VIDEO, &stVMsg);
}

static void MAIN_Media_Poll(void)
{
    u32 u32State = Media_SNR_GetState();
    if (u32State == s_u32LastState)
        return;
    s_u32LastState = u32State;
    if (u32State == EN_SIGNAL_NO_CONNECTION) {
        MAIN_Media_OnLoss();
    } else if (u32State == EN_SIGNAL_LOCK) {
        MAIN_Media_OnLock();
    } else {
        Debug_Log("[%s]: g_enSNRState: unkown\n", log_Time());
    }
}

static void MAIN_Media_TimerProc(union sigval)
{
    (void)MAIN_Media_TimerThread();   // always 0; a failed re-arm is logged there
}

s32 MAIN_Media_TimerInit(void)
{
    struct sigevent stEvent = {};
    stEvent.sigev_notify = SIGEV_THREAD;
    stEvent.sigev_notify_function = MAIN_Media_TimerProc;
    stEvent.sigev_value.sival_int = 0;
    std::lock_guard<std::mutex> lock(s_PollMutex);
    if (timer_create(CLOCK_REALTIME, &stEvent, &s_tPollTimer) != 0) {
        Debug_Log("[%s]: timer_create failed with %#x!\n", log_Time(), errno);
        return -1;
    }
    s_bPollTimer = true;
    return 0;
}

s32 MAIN_Media_TimerThread(void)
{
    std::lock_guard<std::mutex> lock(s_PollMutex);
    if (s_bPollEnded)
        return 0;
    MAIN_Media_Poll();
    struct itimerspec stSpec = {};
    stSpec.it_value.tv_nsec = MAIN_POLL_MS * 1000000L;
    if (!s_bPollTimer || timer_settime(s_tPollTimer, 0, &stSpec, nullptr) != 0)
        Debug_Log("[%s]: fail to timer_settime", log_Time());
    return 0;
}

void MAIN_Media_TimerDeInit(void)
{
    std::lock_guard<std::mutex> lock(s_PollMutex);
    if (s_bPollTimer && timer_delete(s_tPollTimer) != 0)
        Debug_Log("[%s]: timer_delete failed with %#x!\n", log_Time(), errno);
    s_bPollTimer = false;
    s_bPollEnded = true;
    if (s_u32LastState == EN_SIGNAL_LOCK)
        MAIN_Media_OnLoss();
    s_u32LastState = EN_SIGNAL_NO_CONNECTION;
}
