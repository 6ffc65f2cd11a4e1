// The source layer: its context, the source thread and the connection
// watcher.
#include "media/AVSource.h"

#include <cstring>
#include <mutex>
#include <new>
#include <sys/prctl.h>
#include <unistd.h>

#include "core/Debug.h"
#include "core/Thread.h"
#include "media/Edid.h"
#include "media/HdmiRxMipi.h"

std::atomic<s32> g_signal_detect{0};
std::atomic<u8> g_hdcp_state{0};
std::atomic<s32> g_video_incompatible{0};

struct AVSourceAttr_S {
    u32 bInit;                       // 1 once initialised
    AVSourceNotifyProc *pfnNotify;
    MainThread_S stSourceThread;     // the receiver's state machine, every 50 ms
    std::mutex EdidMutex;            // guards bEdidChanged and au8Edid
    u32 bEdidChanged;                // 1: au8Edid is to be written into the receiver
    u8 au8Edid[EDID_LEN];            // the EDID the receiver is to serve
    std::atomic<u32> enState;        // SignalState_E last reported through pfnNotify
    AVSourceStopStreamProc *pfnStopStream;   // kept; never called here
    MainThread_S stConnThread;       // the connection watcher
    HdmiRxAttr_S *hHdmiRx;
    s32 s32SwitchLockSta;           // lock state of a switch chip, stored only
    std::mutex StatusMutex;          // guards stStatus
    AVSourceStatus_S stStatus;       // written by the source thread
};

static AVSourceAttr_S *AVSource_Ctx(void *hAVSource)
{
    AVSourceAttr_S *pstCtx = (AVSourceAttr_S *)hAVSource;
    if (pstCtx == nullptr || !pstCtx->bInit) {
        Debug_Log("[%s]: uninitialized!\n", log_Time());
        return nullptr;
    }
    return pstCtx;
}

static void AVSource_Notify(AVSourceAttr_S *pstCtx, SignalState_E enState, const AVSourceVideoInfo_S *pstInfo)
{
    {
        std::lock_guard<std::mutex> lock(pstCtx->StatusMutex);
        pstCtx->stStatus = AVSourceStatus_S();
        if (enState == EN_SIGNAL_LOCK) {
            pstCtx->stStatus.u32Width = pstInfo->u32Hactive;
            pstCtx->stStatus.u32Height = pstInfo->u32Vactive;
            pstCtx->stStatus.u32Fps = pstInfo->u32Fps;
            pstCtx->stStatus.u32Scan = pstInfo->bInterlace != 0 ? 1 : 0;
        }
    }
    pstCtx->enState = enState;
    if (pstCtx->pfnNotify != nullptr)
        (void)pstCtx->pfnNotify(enState, pstInfo);   // the callback logs its own trouble
}

// The AVI infoframe that names the colour space may come after the lock.
// On the source thread, which owns the receiver's record.
static void AVSource_SetColor(AVSourceAttr_S *pstCtx)
{
    std::lock_guard<std::mutex> lock(pstCtx->StatusMutex);
    if (pstCtx->stStatus.u32Width != 0)
        pstCtx->stStatus.u32ColorSpace = pstCtx->hHdmiRx->stAviInfo.enColorspace;
}

// A new EDID: the input is reported lost while the receiver serves it, and
// measured afresh after, also when the source keeps its link meanwhile.
static void AVSource_WriteEdid(AVSourceAttr_S *pstCtx)
{
    u8 au8Edid[EDID_LEN];
    {
        std::lock_guard<std::mutex> lock(pstCtx->EdidMutex);
        if (!pstCtx->bEdidChanged)
            return;
        pstCtx->bEdidChanged = 0;
        memcpy(au8Edid, pstCtx->au8Edid, EDID_LEN);
    }
    hdmirx_restart_video(pstCtx->hHdmiRx);
    AVSourceVideoInfo_S stNone = {};
    AVSource_Notify(pstCtx, EN_SIGNAL_NO_CONNECTION, &stNone);
    Debug_Log("[%s]: \n================HDMIRX update edid============\n\n", log_Time());
    hdmirx_update_edid_data(pstCtx->hHdmiRx, au8Edid, EDID_LEN);
}

static void *AVSource_ThreadBody(void *pvArg)
{
    AVSourceAttr_S *pstCtx = (AVSourceAttr_S *)pvArg;
    HdmiRxAttr_S *pstRx = pstCtx->hHdmiRx;

    prctl(PR_SET_NAME, "AVSource_ThreadBody", 0, 0, 0);   // the kernel keeps 15 characters
    while (MAIN_Thread_Running(&pstCtx->stSourceThread)) {
        AVSource_WriteEdid(pstCtx);
        hdmirx_fsm(pstRx);
        g_signal_detect = (s32)hdmirx_get_hdmi_sta(pstRx);
        if (hdmirx_get_run(pstRx)) {
            if (pstCtx->pfnNotify != nullptr && pstCtx->enState != EN_SIGNAL_LOCK) {
                AVSourceVideoInfo_S stInfo = {};
                hdmirx_get_video_msg(pstRx, &stInfo);
                AVSource_Notify(pstCtx, EN_SIGNAL_LOCK, &stInfo);
            }
            AVSource_SetColor(pstCtx);
            g_hdcp_state = hdmirx_get_hdcp_status(pstRx) != 0 ? 1 : 0;
        } else if (pstCtx->enState != EN_SIGNAL_NO_CONNECTION) {
            AVSourceVideoInfo_S stNone = {};
            AVSource_Notify(pstCtx, EN_SIGNAL_NO_CONNECTION, &stNone);
        }
        (void)MAIN_Thread_Wait(&pstCtx->stSourceThread, AVSOURCE_PASS_MS);
    }
    return nullptr;
}

// Leaves the state to the source thread; only the output goes off at once.
static void *AVSource_CheckConectSta(void *pvArg)
{
    AVSourceAttr_S *pstCtx = (AVSourceAttr_S *)pvArg;

    while (MAIN_Thread_Running(&pstCtx->stConnThread)) {
        if (pstCtx->hHdmiRx != nullptr && hdmirx_get_conect_sta(pstCtx->hHdmiRx) == 0 &&
            pstCtx->enState != EN_SIGNAL_NO_CONNECTION)
            hdmirx_disable_mipi(pstCtx->hHdmiRx);
        (void)MAIN_Thread_Wait(&pstCtx->stConnThread, AVSOURCE_WATCH_MS);
    }
    return nullptr;
}

void *AVSource_Init(void)
{
    usleep(500 * 1000);              // the receiver comes out of reset
    AVSourceAttr_S *pstCtx = new (std::nothrow) AVSourceAttr_S();
    if (pstCtx == nullptr) {
        Debug_Log("[%s]: malloc err!\n", log_Time());
        return nullptr;
    }
    pstCtx->hHdmiRx = hdmirx_init();
    memcpy(pstCtx->au8Edid, Default_Edid_Block.au8, EDID_LEN);
    pstCtx->bInit = 1;
    return pstCtx;
}

s32 AVSource_RegisterNotify(void *hAVSource, AVSourceNotifyProc *pfnNotify, AVSourceStopStreamProc *pfnStopStream)
{
    AVSourceAttr_S *pstCtx = AVSource_Ctx(hAVSource);
    if (pstCtx == nullptr)
        return -1;
    pstCtx->pfnNotify = pfnNotify;
    pstCtx->pfnStopStream = pfnStopStream;
    return 0;
}

s32 AVSource_Start(void *hAVSource)
{
    AVSourceAttr_S *pstCtx = AVSource_Ctx(hAVSource);
    if (pstCtx == nullptr)
        return -1;
    if (MAIN_Thread_Running(&pstCtx->stSourceThread))
        return 0;
    s32 s32Ret = MAIN_Thread_Start(&pstCtx->stSourceThread, AVSource_ThreadBody, pstCtx, nullptr);
    if (s32Ret != 0)
        return s32Ret;
    s32Ret = MAIN_Thread_Start(&pstCtx->stConnThread, AVSource_CheckConectSta, pstCtx, nullptr);
    if (s32Ret != 0) {
        MAIN_Thread_Stop(&pstCtx->stSourceThread);
        return s32Ret;
    }
    Debug_Log("[%s]: AVSource Start Success!\n", log_Time());
    return 0;
}

s32 AVSource_Stop(void *hAVSource)
{
    AVSourceAttr_S *pstCtx = AVSource_Ctx(hAVSource);
    if (pstCtx == nullptr)
        return -1;
    if (!MAIN_Thread_Running(&pstCtx->stSourceThread))
        return 0;
    MAIN_Thread_Stop(&pstCtx->stSourceThread);
    MAIN_Thread_Stop(&pstCtx->stConnThread);
    Debug_Log("[%s]: AVSource Stop Success!\n", log_Time());
    return 0;
}

s32 AVSource_deInit(void *hAVSource)
{
    AVSourceAttr_S *pstCtx = AVSource_Ctx(hAVSource);
    if (pstCtx == nullptr)
        return -1;
    (void)AVSource_Stop(pstCtx);     // a running thread must not outlive the context
    delete pstCtx;
    return 0;
}

s32 AVSource_setEdid(void *hAVSource, const u8 *pu8Edid)
{
    AVSourceAttr_S *pstCtx = AVSource_Ctx(hAVSource);
    if (pstCtx == nullptr)
        return -1;
    std::lock_guard<std::mutex> lock(pstCtx->EdidMutex);
    if (memcmp(pstCtx->au8Edid, pu8Edid, EDID_LEN) != 0) {
        memcpy(pstCtx->au8Edid, pu8Edid, EDID_LEN);
        pstCtx->bEdidChanged = 1;
    }
    return 0;
}

s32 AVSource_getEdid(void *hAVSource, u8 *pu8Out)
{
    AVSourceAttr_S *pstCtx = AVSource_Ctx(hAVSource);
    if (pstCtx == nullptr)
        return -1;
    std::lock_guard<std::mutex> lock(pstCtx->EdidMutex);
    memcpy(pu8Out, pstCtx->au8Edid, EDID_LEN);
    return 0;
}

s32 AVSource_getDefaultEdid(void *hAVSource, u8 *pu8Out)
{
    if (AVSource_Ctx(hAVSource) == nullptr)
        return -1;
    memcpy(pu8Out, Default_Edid_Block.au8, EDID_LEN);
    return 0;
}

s32 AVSource_getStatus(void *hAVSource, AVSourceStatus_S *pstOut)
{
    AVSourceAttr_S *pstCtx = AVSource_Ctx(hAVSource);
    if (pstCtx == nullptr)
        return -1;
    std::lock_guard<std::mutex> lock(pstCtx->StatusMutex);
    *pstOut = pstCtx->stStatus;
    return 0;
}

void AVSource_SetSwitchLockSta(void *hAVSource, s32 s32State)
{
    AVSourceAttr_S *pstCtx = (AVSourceAttr_S *)hAVSource;
    if (pstCtx == nullptr || pstCtx->s32SwitchLockSta == s32State)
        return;
    Debug_Log("[%s]: AVSource_SetSwitchLockSta = [%d]\n", log_Time(), s32State);
    pstCtx->s32SwitchLockSta = s32State;
}

// The driver knows its bus and addresses; the arguments are not needed.
HdmiRxAttr_S *HDMIRX_Init(s32, s32, s32)
{
    return hdmirx_init();
}
