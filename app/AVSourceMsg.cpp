// The signal-change messages: the video pipeline rebuilt for a new input
// or taken down on a loss, the audio capture started or stopped, and the
// main and sub RTSP streams stopped and restarted around both. Numbers in
// the log texts name the step that failed.
#include "app/AVSourceMsg.h"

#include <cstring>
#include <initializer_list>
#include <unistd.h>

#include "app/Main.h"
#include "app/MainMedia.h"
#include "app/MainRtspServer.h"
#include "board/Led.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "media/AVSource.h"
#include "media/MediaFrame.h"

#define MAIN_MAX_FPS        60
#define MAIN_MAIN_MAX_H     1080      // the main encoder's height for a doubled field or 1920 x 1200
#define MAIN_SUB_540        540       // the scaler cannot give the sub stream 540 lines: it gets 538
#define MAIN_SUB_538        538
#define MAIN_STOP_WAIT_US   (10 * 1000)
#define MAIN_AENC_CHN       0         // the AAC channel the media start opened

std::mutex g_MediaMutex;
std::atomic<s32> g_audioinput_status{0};

static const char *const s_pszProc = "MAIN_AVSource_MsgProc";

// Sessions of both streams: the players an input change ends.
static u32 Main_Players(void)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    u32 u32Players = 0;
    for (RtspStreamDesc_S *pstDesc : {&pstNet->stMainStream, &pstNet->stSubStream}) {
        s32 s32Count = MAIN_RtspServer_GetStreamInfo(pstNet, pstDesc);
        u32Players += s32Count > 0 ? (u32)s32Count : 0;   // a failure was logged there
    }
    return u32Players;
}

// Players ended one by one would each log only as a connection that left.
static void Main_LogPlayersEnded(u32 u32Players)
{
    if (u32Players > 0)
        Debug_Log("[%s]: %s: input changed, %u players ended\n", log_Time(), s_pszProc, u32Players);
}

s32 MAIN_AVSource_Streams(bool bStart, const char *pszMainStep, const char *pszSubStep)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    if (!pstNet->bRtspStart)
        return 0;
    u32 u32Players = bStart ? 0 : Main_Players();
    RtspStreamDesc_S *apstDesc[] = {&pstNet->stMainStream, &pstNet->stSubStream};
    const char *apszStep[] = {pszMainStep, pszSubStep};
    for (u32 i = 0; i < ARRAY_SIZE(apstDesc); i++) {
        s32 s32Ret = bStart ? MAIN_RtspServer_StartStream(pstNet, apstDesc[i])
                            : MAIN_RtspServer_StopStream(pstNet, apstDesc[i]);
        if (s32Ret != 0) {
            Debug_Log("[%s]: %sMAIN_RtspServer_%sStream failed with %#x!\n", log_Time(), apszStep[i],
                      bStart ? "Start" : "Stop", s32Ret);
            return -1;
        }
    }
    Main_LogPlayersEnded(u32Players);
    return 0;
}

// Tells the streams whether an input feeds them: without one, their
// players are ended and new ones refused rather than left waiting.
static void Main_StreamSignal(u32 bSignal)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    if (!pstNet->bRtspStart)
        return;
    u32 u32Players = bSignal ? 0 : Main_Players();
    if (MAIN_RtspServer_SetSignal(pstNet, bSignal) != 0)
        Debug_Log("[%s]: MAIN_RtspServer_SetSignal failed!\n", log_Time());
    else
        Main_LogPlayersEnded(u32Players);
}

void MAIN_AudioCapture_Stop(const char *pszStep)
{
    s32 s32AiDev = g_stMainServerAttr.stMainMediaAttr.s32AiDev;
    s32 s32Ret = HI_Media_Ai_StopManualMode(s32AiDev);
    s32 s32Stop = HI_Media_Ai_stop(s32AiDev);
    if (s32Stop != 0 || s32Ret != 0)
        Debug_Log("[%s]: %sHI_Media_Ai_stop failed with %#x!\n", log_Time(), pszStep, s32Stop != 0 ? s32Stop : s32Ret);
    g_stMainServerAttr.bAiCapStart = 0;
}

static void Main_LogVMsg(const AVSourceVMsg_S *pstMsg)
{
    Debug_Log("[%s]: enOperate:%d\n", log_Time(), (s32)pstMsg->enOperate);
    Debug_Log("[%s]: s32DevChn:%d\n", log_Time(), pstMsg->s32DevChn);
    Debug_Log("[%s]: u32Width:%d\n", log_Time(), (s32)pstMsg->u32Width);
    Debug_Log("[%s]: u32Height:%d\n", log_Time(), (s32)pstMsg->u32Height);
    Debug_Log("[%s]: u32Fps:%d\n", log_Time(), (s32)pstMsg->u32Fps);
    Debug_Log("[%s]: enMode:%d\n", log_Time(), (s32)pstMsg->enMode);
    Debug_Log("[%s]: enSan:%d\n", log_Time(), (s32)pstMsg->enSan);
}

// Video input, main and sub encoder sizes and rates for the new input.
static void Main_SetSizes(MainMediaAttr_S *pstMedia, const AVSourceVMsg_S *pstMsg)
{
    MediaViAttr_S *pstVi = &pstMedia->stViAttr;
    pstVi->enViMode = MEDIA_VI_MIPI;
    pstVi->u32Width = pstMsg->u32Width & ~3u;
    pstVi->u32Height = pstMsg->u32Height & ~3u;
    pstVi->u32SrcFrameRate = pstVi->u32DstFrameRate = pstMsg->u32Fps;
    pstVi->enScanMode = pstMsg->enSan == 0 ? MEDIA_SCAN_PROGRESSIVE : MEDIA_SCAN_INTERLACED;
    pstVi->u32Reserved = 0;
    u32 u32Width = pstVi->u32Width, u32Height = pstVi->u32Height;

    MediaVencAttr_S *pstMain = &pstMedia->stMainVencAttr;
    pstMain->u32Width = u32Width;
    pstMain->u32Height = u32Height;
    if (pstMsg->enSan == 1)
        pstMain->u32Height = 2 * u32Height > MAIN_MAIN_MAX_H ? u32Height : 2 * u32Height;
    else if (u32Width == 1920 && u32Height == 1200)
        pstMain->u32Height = MAIN_MAIN_MAX_H;

    // A configured rate of 0 follows the input.
    u32 u32Rate = g_stConfigAttr.stMainAttr.u32Fps;
    if (pstMsg->u32Width == 1920 && pstMsg->u32Height == 540 && pstMsg->u32Fps == 30) {
        pstMain->u32SrcFrameRate = 60;   // fields of 1080i
        pstMain->u32Gop = pstMain->u32FrameRate = 30;
    } else {
        if (u32Rate > MAIN_MAX_FPS)
            u32Rate = g_stConfigAttr.stMainAttr.u32Fps = MAIN_MAX_FPS;
        if (u32Rate == 0)
            u32Rate = pstMsg->u32Fps;
        pstMain->u32SrcFrameRate = pstMsg->u32Fps > u32Rate ? pstMsg->u32Fps : u32Rate;
        pstMain->u32Gop = pstMain->u32FrameRate = u32Rate;
    }

    MediaVencAttr_S *pstSub = &pstMedia->stSubVencAttr;
    u32 u32SubW = g_stConfigAttr.stSubAttr.u32Width, u32SubH = g_stConfigAttr.stSubAttr.u32Height;
    if (u32SubW <= u32Width && u32SubH <= u32Height) {
        pstSub->u32Width = u32SubW;
        pstSub->u32Height = u32SubH;
        Debug_Log("[%s]: 1,stSubVencAttr.u32Height=%d\n", log_Time(), (s32)u32SubH);
    } else {
        pstSub->u32Width = u32Width;
        pstSub->u32Height = u32Height;
        Debug_Log("[%s]: 2,stSubVencAttr.u32Height=%d\n", log_Time(), (s32)u32Height);
    }
}

// Scaler ports, encoders and binds for the sizes set.
static s32 Main_BuildPipeline(MainMediaAttr_S *pstMedia)
{
    const MediaVencAttr_S *apstVenc[] = {&pstMedia->stMainVencAttr, &pstMedia->stSubVencAttr,
                                         &pstMedia->stJpegVencAttr};
    for (u32 i = 0; i < MEDIA_VPE_MAX_PORT; i++) {
        pstMedia->au32PortWidth[i] = i == MEDIA_JPEG_VENC_CHN ? MEDIA_JPEG_SIZE : apstVenc[i]->u32Width;
        pstMedia->au32PortHeight[i] = i == MEDIA_JPEG_VENC_CHN ? MEDIA_JPEG_SIZE : apstVenc[i]->u32Height;
    }
    if (pstMedia->au32PortHeight[1] == MAIN_SUB_540)
        pstMedia->au32PortHeight[1] = MAIN_SUB_538;
    s32 s32Ret = HI_Media_Vpss_Start(pstMedia->s32VpeChn, pstMedia->u32VpePortNum, pstMedia->au32PortWidth);
    if (s32Ret != 0)
        Debug_Log("[%s]: 9,HI_Media_Vpss_Start failed with %#x!\n", log_Time(), s32Ret);

    s32Ret = HI_MEDIA_Venc_RegisterNotify(MAIN_Media_Venc_GetVENCStreamProc);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_MEDIA_Venc_RegisterNotify failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    for (u32 i = 0; i < MEDIA_VPE_MAX_PORT; i++) {
        const char *pszCreate = i == 0 ? "" : "7,";
        const char *pszStart = i == 0 ? "6," : "8,";
        s32Ret = HI_Media_Venc_CreateChn(pstMedia->as32VencChn[i], apstVenc[i]);
        if (s32Ret != 0)
            Debug_Log("[%s]: %sHI_Media_Venc_CreateChn failed with %#x!\n", log_Time(), pszCreate, s32Ret);
        s32Ret = HI_Media_Venc_Start(pstMedia->as32VencChn[i]);
        if (s32Ret != 0)
            Debug_Log("[%s]: %sHI_Media_Venc_Start failed with %#x!\n", log_Time(), pszStart, s32Ret);
    }

    s32Ret = HI_Media_VI_BindVpss(pstMedia->s32ViDev, pstMedia->s32ViChn, pstMedia->s32ViPort, pstMedia->s32VpeChn);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_VI_BindVpss failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    for (u32 i = 0; i < MEDIA_VPE_MAX_PORT; i++)   // a failed bind logs itself; the channel then stays idle
        (void)HI_Media_Venc_BindVpss(pstMedia->as32VencChn[i], pstMedia->s32VpeChn, pstMedia->as32VpePort[i]);

    (void)HI_Media_Venc_RequestIDR(pstMedia->as32VencChn[1]);   // the sub stream's first picture is one anyway
    s32Ret = HI_Media_Venc_RequestIDR(pstMedia->as32VencChn[0]);
    if (s32Ret != 0)
        Debug_Log("[%s]: 11,HI_Media_Venc_RequestIDR failed with %#x!\n", log_Time(), s32Ret);
    return 0;
}

// Anything that ran for the previous input goes first, the whole pipeline
// included, so that no channel is created over an existing one.
static s32 Main_VideoStart(const AVSourceVMsg_S *pstMsg)
{
    MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
    if (MAIN_AVSource_Streams(false, "1,", "2,") != 0)
        return -1;
    if (g_stMainServerAttr.bViStart) {
        s32 s32Ret = MAIN_Media_Stop(pstMedia);
        if (s32Ret != 0)
            Debug_Log("[%s]: 3,MAIN_Media_Vi_Stop failed with %#x!\n", log_Time(), s32Ret);
        if (g_stMainServerAttr.bAiCapStart) {
            MAIN_AudioCapture_Stop("4,");
            g_stMainServerAttr.enSample = MAIN_SAMPLE_NONE;
        }
        g_stMainServerAttr.bViStart = 0;
        g_data_status = 0;
        usleep(MAIN_STOP_WAIT_US);
    }
    s32 s32Ret = MAIN_Media_Vi_Stop(pstMedia, 1);
    if (s32Ret != 0)
        Debug_Log("[%s]: 13,MAIN_Media_Vi_Stop failed with %#x!\n", log_Time(), s32Ret);

    Main_SetSizes(pstMedia, pstMsg);
    s32Ret = MAIN_Media_Vi_Statr(pstMedia, pstMsg->enSan);
    if (s32Ret != 0)
        Debug_Log("[%s]: 10,MAIN_Media_Vi_Statr failed with %#x!\n", log_Time(), s32Ret);
    if (Main_BuildPipeline(pstMedia) != 0)
        return -1;
    Main_StreamSignal(1);
    if (MAIN_AVSource_Streams(true, "12,", "") != 0)
        return -1;

    g_stMainServerAttr.stVMsg = *pstMsg;
    g_stMainServerAttr.bViStart = 1;
    Debug_Log("[%s]: %s: clear connect status\n", log_Time(), s_pszProc);
    g_s32StopSend = 1;
    g_data_status = 1;
    return 0;
}

static s32 Main_VideoMsg(const AVSourceVMsg_S *pstMsg)
{
    Main_LogVMsg(pstMsg);
    {
        std::lock_guard<std::mutex> lock(g_mediaListFrame_mutex);
        (void)MEDIA_LIST_DelAll();   // an empty queue is no failure
    }
    if (pstMsg->enOperate == AVSOURCE_OP_START)
        return Main_VideoStart(pstMsg);
    Main_StreamSignal(0);
    if (!g_stMainServerAttr.bViStart)
        return 0;
    g_stMainServerAttr.bViStart = 0;
    g_data_status = 0;
    s32 s32Ret = MAIN_Media_Stop(&g_stMainServerAttr.stMainMediaAttr);
    if (s32Ret != 0)
        Debug_Log("[%s]: 13,MAIN_Media_Vi_Stop failed with %#x!\n", log_Time(), s32Ret);
    memset(&g_stMainServerAttr.stVMsg, 0, sizeof(g_stMainServerAttr.stVMsg));
    return 0;
}

s32 MAIN_AudioCapture_Start(void)
{
    MainServerAttr_S *pstMain = &g_stMainServerAttr;
    MainMediaAttr_S *pstMedia = &pstMain->stMainMediaAttr;
    s32 s32Ret = HI_Media_Ai_start(pstMedia->s32AiDev, &pstMedia->stAiAttr);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Ai_start failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = HI_MEDIA_Ai_RegisterNotify(MAIN_Media_Ai_GetAIStreamProc);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_MEDIA_Ai_RegisterNotify failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = HI_Media_Aenc_Start(MAIN_AENC_CHN);
    if (s32Ret != 0)
        Debug_Log("[%s]: HI_Media_Aenc_Start failed with %x!\n", log_Time(), s32Ret);
    s32Ret = HI_Media_Ai_StartManualMode(pstMedia->s32AiDev);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Ai_StartManualMode failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    pstMain->enSample = (s32)pstMedia->stAiAttr.enInSamplerate;
    pstMain->bAiCapStart = 1;
    return 0;
}

// Whether the streams restart around a new audio rate: not for the rate
// they were last set up for, and on the first start only for a rate other
// than the configured capture rate.
static bool Main_AudioRestart(const AVSourceAMsg_S *pstMsg, bool *pbLogStep4)
{
    const MediaAudioAttr_S *pstAi = &g_stMainServerAttr.stMainMediaAttr.stAiAttr;
    *pbLogStep4 = true;
    if (g_enCurrentRunSample == pstMsg->enSample)
        return false;
    if (g_enCurrentRunSample == MAIN_SAMPLE_NONE) {
        Debug_Log("[%s]: [%s]first,start audio,pstAMsg->enSample=%d,stAiAttr.enInSamplerate=%d\n", log_Time(),
                  s_pszProc, pstMsg->enSample, (s32)pstAi->enInSamplerate);
        bool bRestart = pstMsg->enSample != (s32)pstAi->enInSamplerate;
        Debug_Log("[%s]: [%s]first,restart_stream_flag=%d\n", log_Time(), s_pszProc, bRestart);
        *pbLogStep4 = bRestart;
        return bRestart;
    }
    Debug_Log("[%s]: [%s]restart_stream_flag=%d\n", log_Time(), s_pszProc, 1);
    return true;
}

static s32 Main_AudioStart(const AVSourceAMsg_S *pstMsg)
{
    MainServerAttr_S *pstMain = &g_stMainServerAttr;
    MainMediaAttr_S *pstMedia = &pstMain->stMainMediaAttr;
    bool bLogStep4;

    Debug_Log("[%s]: [%s]g_stMainServerAttr.enSample=%d,pstAMsg->enSample=%d\n", log_Time(), s_pszProc,
              pstMain->enSample, pstMsg->enSample);
    Debug_Log("[%s]: [%s]g_enCurrentRunSample=%d,pstAMsg->enSample=%d\n", log_Time(), s_pszProc,
              (s32)g_enCurrentRunSample, pstMsg->enSample);
    bool bRestart = Main_AudioRestart(pstMsg, &bLogStep4);
    if (bRestart && pstMain->stConifg.bRtspStart) {
        Debug_Log("[%s]: [%s]audio StopStream\n", log_Time(), s_pszProc);
        if (MAIN_AVSource_Streams(false, "", "") != 0)
            return -1;
        Debug_Log("[%s]: [%s]StopStream wait 0.01s\n", log_Time(), s_pszProc);
        usleep(MAIN_STOP_WAIT_US);
    }
    if (bLogStep4)
        Debug_Log("[%s]: [%s]g_stMainServerAttr.bAiCapStart=%d\n", log_Time(), s_pszProc, pstMain->bAiCapStart);
    if (pstMain->bAiCapStart)
        MAIN_AudioCapture_Stop("14,");
    usleep(MAIN_STOP_WAIT_US);

    pstMedia->stAiAttr.enInSamplerate = pstMedia->stAiAttr.enOutSamplerate = (u32)pstMsg->enSample;
    Debug_Log("[%s]: [%s]g_stMainServerAttr.stMainMediaAttr.stAiAttr.enInSamplerate=%d,"
              "g_stMainServerAttr.stMainMediaAttr.stAiAttr.enOutSamplerate=%d\n",
              log_Time(), s_pszProc, pstMsg->enSample, pstMsg->enSample);
    pstMedia->stMainAudioAttr.enInSamplerate = pstMedia->stSubAudioAttr.enInSamplerate = (u32)pstMsg->enSample;

    if (MAIN_AudioCapture_Start() != 0)
        return -1;
    Debug_Log("[%s]: [%s]1,g_stMainServerAttr.enSample=%d\n", log_Time(), s_pszProc, pstMain->enSample);
    Debug_Log("[%s]: [%s]1,audio enOperate:%d\n", log_Time(), s_pszProc, (s32)pstMsg->enOperate);
    Debug_Log("[%s]: [%s]1,audio s32DevChn:%d\n", log_Time(), s_pszProc, pstMsg->s32DevChn);
    Debug_Log("[%s]: [%s]1,audio enSample:%d\n", log_Time(), s_pszProc, pstMsg->enSample);
    if (!bRestart) {
        g_enCurrentRunSample = pstMain->enSample;
        return 0;
    }
    (void)HI_Media_Venc_RequestIDR(pstMedia->as32VencChn[1]);   // as below; the sub channel logs its own failure
    s32 s32Ret = HI_Media_Venc_RequestIDR(pstMedia->as32VencChn[0]);
    if (s32Ret != 0)
        Debug_Log("[%s]: HI_Media_Venc_RequestIDR failed with %#x!\n", log_Time(), s32Ret);
    if (pstMain->stConifg.bRtspStart) {
        Debug_Log("[%s]: [%s]audio StartStream\n", log_Time(), s_pszProc);
        if (MAIN_AVSource_Streams(true, "", "") != 0)
            return -1;
    }
    Debug_Log("[%s]: [%s]5,g_stMainServerAttr.enSample=%d\n", log_Time(), s_pszProc, pstMain->enSample);
    g_enCurrentRunSample = pstMain->enSample;
    return 0;
}

static s32 Main_AudioMsg(const AVSourceAMsg_S *pstMsg)
{
    if (g_audioinput_status == MAIN_AUDIO_STATUS_ANALOG)
        return 0;
    if (pstMsg->enOperate != AVSOURCE_OP_START || pstMsg->enSample > MAIN_SAMPLE_RATE) {
        if (!g_stMainServerAttr.bAiCapStart)
            return 0;
        MAIN_AudioCapture_Stop(pstMsg->enOperate != AVSOURCE_OP_START ? "19," : "18,");
        g_stMainServerAttr.enSample = MAIN_SAMPLE_NONE;
        return 0;
    }
    if (pstMsg->enSample == g_stMainServerAttr.enSample)
        return 0;
    return Main_AudioStart(pstMsg);
}

s32 MAIN_AVSource_MsgProc(AVSourceMsgType_E enType, const void *pvMsg)
{
    std::lock_guard<std::mutex> lock(g_MediaMutex);
    if (enType == AVSOURCE_MSG_VIDEO)
        return Main_VideoMsg((const AVSourceVMsg_S *)pvMsg);
    if (enType == AVSOURCE_MSG_AUDIO)
        return Main_AudioMsg((const AVSourceAMsg_S *)pvMsg);
    return 0;
}
