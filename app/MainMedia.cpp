// Media glue: attribute defaults, the media start and the pipeline stop,
// and the callbacks that route what the media layer delivers.
#include "app/MainMedia.h"

#include <new>

#include "app/Main.h"
#include "app/MainEncRange.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "media/MediaFormat.h"
#include "media/MediaFrame.h"
#include "rtsp/RtspServer.h"

#define MAIN_MEDIA_MAX_WIDTH   1920
#define MAIN_MEDIA_MAX_HEIGHT  1200
#define MAIN_MEDIA_FPS         60
#define MAIN_MEDIA_TIMING      12
#define MAIN_AUDIO_RATE        48000

static const u32 s_au32PoolPlan[MAIN_MEDIA_POOL_WORDS] = {3, 3456000, 10, 1152000, 6, 3456000, 1};
static const MediaAudioAttr_S s_stAudioDefault = {MAIN_AUDIO_RATE, MAIN_AUDIO_RATE, 1, 1, MEDIA_AUDIO_PTNUM};

// An encoder of a stream: its size and bit rate from the settings.
static MediaVencAttr_S Main_Media_VencDefault(u32 enType, u32 enRcMode, const ConfigStreamAttr_S *pstStream)
{
    return {enType, enRcMode, MAIN_MEDIA_MAX_WIDTH, MAIN_MEDIA_MAX_HEIGHT, pstStream->u32Width,
            pstStream->u32Height, MAIN_MEDIA_FPS, MAIN_MEDIA_FPS, MAIN_MEDIA_FPS, pstStream->u32Videobitrate};
}

static s32 Main_Media_AudioCodec(const ConfigStreamAttr_S *pstStream)
{
    return pstStream->u32Audiocodec != 0 ? MAIN_AUDIO_CODEC_AAC : MAIN_AUDIO_CODEC_PCM;
}

// Stored stream settings the encoder would refuse take their defaults, so
// that no settings file can leave a stream without video.
static void Main_Media_CheckStored(void)
{
    ConfigStreamAttr_S *pstMain = &g_stConfigAttr.stMainAttr, *pstSub = &g_stConfigAttr.stSubAttr;
    if (MAIN_EncRange_Find(pstMain, MAIN_ENC_RANGE_ALL) == nullptr &&
        MAIN_EncRange_Find(pstSub, MAIN_ENC_RANGE_VIDEO) == nullptr)
        return;
    ConfigAttr_S stDefault;
    ConfigEdidText_S stEdid;
    (void)Config_default(&stDefault, &stEdid, nullptr);   // always 0
    u32 u32Taken = MAIN_EncRange_Fallback(pstMain, &stDefault.stMainAttr, MAIN_ENC_RANGE_ALL, "mainattr");
    u32Taken += MAIN_EncRange_Fallback(pstSub, &stDefault.stSubAttr, MAIN_ENC_RANGE_VIDEO, "subattr");
    if (u32Taken != 0 && MAIN_CONFIG_Update() != 0)
        Debug_Log("[%s]: MAIN_CONFIG_Update failed!\n", log_Time());
}

s32 MAIN_Media_DefConifg(MainMediaAttr_S *pstAttr)
{
    Main_Media_CheckStored();
    const ConfigStreamAttr_S *pstMain = &g_stConfigAttr.stMainAttr, *pstSub = &g_stConfigAttr.stSubAttr;
    *pstAttr = MainMediaAttr_S();
    pstAttr->u32VpePortNum = MEDIA_VPE_MAX_PORT;
    for (s32 i = 0; i < MEDIA_VPE_MAX_PORT; i++) {
        pstAttr->as32VpePort[i] = pstAttr->as32VencChn[i] = i;
        pstAttr->au32PortWidth[i] = MAIN_MEDIA_MAX_WIDTH;
        pstAttr->au32PortHeight[i] = MAIN_MEDIA_MAX_HEIGHT;
    }
    for (u32 i = 0; i < MAIN_MEDIA_POOL_WORDS; i++)
        pstAttr->au32PoolPlan[i] = s_au32PoolPlan[i];
    pstAttr->stViAttr = {MEDIA_VI_MIPI, MAIN_MEDIA_MAX_WIDTH, MAIN_MEDIA_MAX_HEIGHT, 0, 0, MAIN_MEDIA_FPS,
                         MAIN_MEDIA_FPS};
    pstAttr->stMainVencAttr = Main_Media_VencDefault(pstMain->u32Enctype != 0 ? MEDIA_VENC_H265 : MEDIA_VENC_H264,
                                                     MEDIA_RC_VBR, pstMain);
    pstAttr->stSubVencAttr = Main_Media_VencDefault(pstSub->u32Enctype != 0 ? MEDIA_VENC_H265 : MEDIA_VENC_H264,
                                                    MEDIA_RC_VBR, pstSub);
    pstAttr->stJpegVencAttr = Main_Media_VencDefault(MEDIA_VENC_JPEG, MEDIA_RC_CBR, pstMain);
    pstAttr->u32TimingCode = MAIN_MEDIA_TIMING;
    Debug_Log("[%s]: %s: g_stConfigAttr.stMainAttr.u32Audiocodec %d\n", log_Time(), "MAIN_Media_DefConifg",
              pstMain->u32Audiocodec);
    Debug_Log("[%s]: %s: g_stConfigAttr.stSubAttr.u32Audiocodec %d\n", log_Time(), "MAIN_Media_DefConifg",
              pstSub->u32Audiocodec);
    pstAttr->enMainAudioCodec = Main_Media_AudioCodec(pstMain);
    pstAttr->enSubAudioCodec = Main_Media_AudioCodec(pstSub);
    pstAttr->stMainAudioAttr = pstAttr->stSubAudioAttr = s_stAudioDefault;
    pstAttr->stAiAttr = pstAttr->stAoAttr = s_stAudioDefault;
    return 0;
}

s32 MAIN_Media_Start(MainMediaAttr_S *pstAttr)
{
    s32 s32Ret = HI_Media_Init(pstAttr->au32PoolPlan);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Init failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    (void)Media_SetVIVPSSMode();   // nothing to set up
    s32Ret = HI_Media_Ao_start(0, &pstAttr->stAoAttr);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Ao_start failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = HI_Media_Aenc_CreateChn(0, MEDIA_AENC_TYPE_AAC, &s_stAudioDefault);
    if (s32Ret != 0)
        Debug_Log("[%s]: HI_Media_Aenc_CreateChn failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = HI_MEDIA_Aenc_RegisterNotify(MAIN_Media_Aenc_GetAENCStreamProc);
    if (s32Ret != 0)
        Debug_Log("[%s]: HI_MEDIA_Aenc_RegisterNotify failed with %#x!\n", log_Time(), s32Ret);
    return 0;
}

void MAIN_Media_Exit(MainMediaAttr_S *pstAttr)
{
    (void)pstAttr;   // the engine has one AAC channel and one local output
    (void)HI_Media_Aenc_Stop(0);          // always 0
    s32 s32Ret = HI_Media_Aenc_DestroyChn(0);
    if (s32Ret != 0)
        Debug_Log("[%s]: HI_Media_Aenc_DestroyChn failed with %#x!\n", log_Time(), s32Ret);
    (void)HI_Media_Ao_Stop(0);            // logged there
}

s32 MAIN_Media_Stop(MainMediaAttr_S *pstAttr)
{
    // The JPEG channel is not bound through here: destroying it drops its bind.
    (void)HI_Media_Venc_UnBindVpss(pstAttr->as32VencChn[1], pstAttr->s32VpeChn, pstAttr->as32VpePort[1]);
    (void)HI_Media_Venc_UnBindVpss(pstAttr->as32VencChn[0], pstAttr->s32VpeChn, pstAttr->as32VpePort[0]);
    (void)HI_Media_VI_UnBindVpss(pstAttr->s32ViDev, pstAttr->s32ViChn, pstAttr->s32ViPort, pstAttr->s32VpeChn);
    static const s32 s_as32Order[] = {1, 0, 2};   // sub, main, JPEG
    for (s32 s32Idx : s_as32Order) {
        s32 s32Chn = pstAttr->as32VencChn[s32Idx];
        s32 s32Ret = HI_Media_Venc_Stop(s32Chn) | HI_Media_Venc_DestroyChn(s32Chn);
        if (s32Ret != 0) {
            Debug_Log("[%s]: Venc failed with %#x!\n", log_Time(), s32Ret);
            return -1;
        }
    }
    s32 s32Ret = HI_Media_Vpss_Stop(pstAttr->s32VpeChn, pstAttr->u32VpePortNum);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Vpe_Stop failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = HI_Media_Vi_Stop(pstAttr->s32ViDev, pstAttr->s32ViChn, pstAttr->s32ViPort);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Vi failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 MAIN_Media_Vi_Statr(MainMediaAttr_S *pstAttr, u32 u32Scan)
{
    const MediaViAttr_S *pstVi = &pstAttr->stViAttr;
    s32 s32Ret = HI_Media_Vi_Start(pstAttr->s32ViDev, pstAttr->s32ViChn, pstAttr->s32ViPort, pstVi);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Vi_Start failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    u32 u32Code = MEDIA_FORMAT_UNKNOWN;
    s32Ret = Main_Media_INTF4HW(pstVi->u32Width, pstVi->u32Height, pstVi->u32SrcFrameRate, u32Scan, &u32Code);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Main_Media_INTF4HW failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    pstAttr->u32TimingCode = u32Code;
    return 0;
}

s32 MAIN_Media_Vi_Stop(MainMediaAttr_S *pstAttr, s32 s32Unused)
{
    (void)s32Unused;   // the scaler and the encoders stay either way
    s32 s32Ret = HI_Media_Vi_Stop(pstAttr->s32ViDev, pstAttr->s32ViChn, pstAttr->s32ViPort);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Vi_Stop failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

// The wrapper when it is up, else null.
static RtspServerAttr_S *Main_Media_Rtsp(void)
{
    const NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    return pstNet->bRtspStart ? (RtspServerAttr_S *)pstNet->hRtspServer : nullptr;
}

s32 MAIN_Media_Venc_GetVENCStreamProc(s32 s32VencChn, MiVencStream_S *pstStream)
{
    if (s32VencChn == MEDIA_JPEG_VENC_CHN) {
        (void)HI_Media_Save_SnapShot(pstStream);   // logged; the next request tries again
        return 0;
    }
    RtspServerAttr_S *pstRtsp = Main_Media_Rtsp();
    if (pstRtsp != nullptr)
        (void)RtspServer_SendVFrame(pstRtsp, s32VencChn, pstStream);   // a lost picture is not retried
    return 0;
}

s32 MAIN_Media_Aenc_GetAENCStreamProc(s32 s32AencChn, MediaAudioFrame_S *pstFrame)
{
    (void)s32AencChn;   // one encoder feeds both streams
    RtspServerAttr_S *pstRtsp = Main_Media_Rtsp();
    if (pstRtsp == nullptr)
        return 0;
    const MainMediaAttr_S *pstAttr = &g_stMainServerAttr.stMainMediaAttr;
    // Lost frames are not retried.
    if (pstAttr->enMainAudioCodec == MAIN_AUDIO_CODEC_AAC)
        (void)RtspServer_SendAFrame(pstRtsp, 0, pstFrame);
    if (pstAttr->enSubAudioCodec == MAIN_AUDIO_CODEC_AAC)
        (void)RtspServer_SendAFrame(pstRtsp, 1, pstFrame);
    return 0;
}

s32 MAIN_Media_Ai_GetAIStreamProc(s32 s32AiDev, s32 s32AiChn, MediaAudioFrame_S *pstFrame)
{
    const MainMediaAttr_S *pstAttr = &g_stMainServerAttr.stMainMediaAttr;
    if (s32AiDev != pstAttr->s32AiDev)
        return 0;
    MediaFrameNode_S *pstNode = new (std::nothrow) MediaFrameNode_S();
    if (pstNode == nullptr || HI_MEDIA_Ai_CopyFrame(&pstNode->stAudio, pstFrame) != 0) {
        delete pstNode;
        return -1;
    }
    pstNode->enFrameKind = MEDIA_FRAME_PCM;
    pstNode->s32Chn = s32AiChn;
    if (MEDIA_LIST_Add(pstNode) != 0)
        MEDIA_LIST_DelOneFram(pstNode);   // no queue yet: nobody would send it
    (void)HI_Media_Ao_SendFrame(0, 0, pstFrame);   // logged; the local output skips a frame
    if (pstAttr->enMainAudioCodec != MAIN_AUDIO_CODEC_AAC && pstAttr->enSubAudioCodec != MAIN_AUDIO_CODEC_AAC)
        return 0;
    MediaFrameNode_S *pstAac = new (std::nothrow) MediaFrameNode_S();
    s32 s32Ret = pstAac != nullptr ? AAC_Ai_CopyFrame(&pstAac->stAudio, pstFrame) : -1;
    if (s32Ret != 0) {
        delete pstAac;   // no frame was made: nothing to free inside
        return s32Ret < 0 ? -1 : 0;
    }
    pstAac->enFrameKind = s32AiChn;
    if (AAC_LIST_Add(pstAac) != 0)
        AAC_LIST_DelOneFram(pstAac);
    return 0;
}
