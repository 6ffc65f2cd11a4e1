// Application side of the source layer: the receiver's reset line, the
// layer's start with the EDID preset, and the notify callback that hands
// an accepted timing to the capture driver.
#include "media/AVSource.h"

#include <unistd.h>

#include "board/Gpio.h"
#include "core/Debug.h"
#include "media/Edid.h"
#include "media/MediaSnr.h"

std::atomic<s32> g_s32StopSend{0};

s32 MAIN_HDMIRX_RESET_set(s32 s32Level)
{
    static std::atomic<bool> s_bFirst{true};

    // A line that cannot be opened shows in GPIO_INIT's own message; the
    // receiver then stays as the board left it.
    (void)GPIO_INIT(AVSOURCE_RESET_GPIO);
    (void)GPIO_OUTPUT(AVSOURCE_RESET_GPIO);
    if (s_bFirst.exchange(false))
        (void)GPIO_SET(AVSOURCE_RESET_GPIO, 1);
    (void)GPIO_SET(AVSOURCE_RESET_GPIO, s32Level != 0 ? 1 : 0);
    return 0;
}

void *MAIN_AVSource_Start(void)
{
    void *hAVSource = AVSource_Init();
    if (hAVSource == nullptr) {
        Debug_Log("[%s]: AVSource_Init failed!\n", log_Time());
        return nullptr;
    }
    s32 s32Ret = AVSource_RegisterNotify(hAVSource, MAIN_AVSourceMsgCallback, MAIN_AVSourceStopStream);
    if (s32Ret != 0) {
        Debug_Log("[%s]: AVSource_RegisterNotify failed with %#x!\n", log_Time(), s32Ret);
        (void)AVSource_deInit(hAVSource);   // nothing runs yet
        return nullptr;
    }
    (void)MAIN_SetEDID_preset(hAVSource);   // logs its own failure; the receiver keeps its EDID
    s32Ret = AVSource_Start(hAVSource);
    if (s32Ret != 0) {
        Debug_Log("[%s]: AVSource_Start failed with %#x!\n", log_Time(), s32Ret);
        (void)AVSource_deInit(hAVSource);   // no thread is left running
        return nullptr;
    }
    return hAVSource;
}

s32 MAIN_AVSource_Stop(void *hAVSource)
{
    s32 s32Ret = AVSource_Stop(hAVSource);
    if (s32Ret != 0) {
        Debug_Log("[%s]: AVSource_Stop failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = AVSource_deInit(hAVSource);
    if (s32Ret != 0) {
        Debug_Log("[%s]: AVSource_deInit failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

static void Main_SendVideoInfo(const SnrVideoInfo_S *pstInfo)
{
    s32 s32Ret = Media_SNR_SendVideoInfo(pstInfo);
    if (s32Ret != 0)
        Debug_Log("[%s]: Media_SNR_SendVideoInfo failed with %#x!\n", log_Time(), s32Ret);
}

static void Main_LogTiming(const AVSourceVideoInfo_S *pstInfo)
{
    Debug_Log("[%s]: TIMING: u16VideoWidth[%d] u16VideoHeight[%d] u8VideoFps[%d]\n", log_Time(),
              (s32)pstInfo->u32Hactive, (s32)pstInfo->u32Vactive, (s32)pstInfo->u32Fps);
}

// Once per lock, as the source thread reports each lock once. The name
// is the source's: whole lines for an interlaced input, its field rate.
static void Main_LogRefused(const AVSourceVideoInfo_S *pstInfo)
{
    bool bInterlace = pstInfo->bInterlace != 0;
    Debug_Log("[%s]: input %ux%u%c%u not supported: the capture takes %u..%ux%u..%u up to %u Hz, the streams "
              "stay without signal\n",
              log_Time(), pstInfo->u32Hactive, bInterlace ? 2 * pstInfo->u32Vactive : pstInfo->u32Vactive,
              bInterlace ? 'i' : 'p', pstInfo->u32Fps, AVSOURCE_MIN_WIDTH, AVSOURCE_MAX_WIDTH, AVSOURCE_MIN_HEIGHT,
              AVSOURCE_MAX_HEIGHT, AVSOURCE_MAX_FPS);
}

static bool Main_TimingAccepted(const AVSourceVideoInfo_S *pstInfo)
{
    return pstInfo->u32Hactive >= AVSOURCE_MIN_WIDTH && pstInfo->u32Hactive <= AVSOURCE_MAX_WIDTH &&
           pstInfo->u32Vactive >= AVSOURCE_MIN_HEIGHT && pstInfo->u32Vactive <= AVSOURCE_MAX_HEIGHT &&
           pstInfo->u32Fps <= AVSOURCE_MAX_FPS;
}

s32 MAIN_AVSourceMsgCallback(SignalState_E enState, const AVSourceVideoInfo_S *pstInfo)
{
    Debug_Log("[%s]: \nbsupport[%u]  \nu32Vtotal[%u]  \nu32Hactive[%u]  \nu32Vactive[%u]  \nu32Htotal[%u]  "
              "\nu32HsyncW[%u]  \nu32HBP[%u]  \nu32HFP[%u]  \nu32PixelClk[%u]  \nu32Fps[%u]  \n",
              log_Time(), pstInfo->bsupport, pstInfo->u32Vtotal, pstInfo->u32Hactive, pstInfo->u32Vactive,
              pstInfo->u32Htotal, pstInfo->u32HsyncW, pstInfo->u32HBP, pstInfo->u32HFP, pstInfo->u32PixelClk,
              pstInfo->u32Fps);
    SnrVideoInfo_S stSnr = {};
    stSnr.bsupport = pstInfo->bsupport;
    stSnr.u16VideoWidth = (u16)pstInfo->u32Hactive;
    stSnr.u16VideoHeight = (u16)pstInfo->u32Vactive;
    stSnr.u8VideoFps = (u8)(pstInfo->u32Fps > 59 ? 60 : pstInfo->u32Fps);
    stSnr.u16Interlace = (u16)pstInfo->bInterlace;

    if (enState == EN_SIGNAL_NO_CONNECTION) {
        Debug_Log("[%s]: ================EN_SIGNAL_NO_CONNECTION\n", log_Time());
        g_s32StopSend = 0;
        Main_SendVideoInfo(&stSnr);
        g_video_incompatible = 0;
        usleep(AVSOURCE_LOSS_WAIT_MS * 1000);
        return 0;
    }
    if (enState != EN_SIGNAL_LOCK)
        return 0;
    if (!Main_TimingAccepted(pstInfo)) {
        g_video_incompatible = 1;
        g_s32StopSend = 0;
        Main_LogTiming(pstInfo);
        Main_LogRefused(pstInfo);
        return 0;
    }
    g_video_incompatible = 0;
    Debug_Log("[%s]: ----------------EN_SIGNAL_LOCK\n", log_Time());
    Main_LogTiming(pstInfo);
    stSnr.u32Width = pstInfo->u32Hactive;
    stSnr.u32Height = pstInfo->u32Vactive;
    g_s32StopSend = 1;
    Main_SendVideoInfo(&stSnr);
    return 0;
}

s32 MAIN_AVSourceStopStream(void)
{
    if (g_s32StopSend)
        g_s32StopSend = 0;
    return 0;
}
