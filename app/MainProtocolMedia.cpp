// The main stream's encoder and audio format as the control protocol
// changes them. A new codec or audio format re-creates the main
// encoder channel with the main RTSP stream taken down around it; rate and
// bit rate change on the running channel. The sub and JPEG channels are
// never touched.
#include <cstdio>
#include <mutex>

#include "app/AVSourceMsg.h"
#include "app/Main.h"
#include "app/MainEncRange.h"
#include "app/MainMedia.h"
#include "app/MainProtocolSlots.h"
#include "app/MainRtspServer.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "media/MediaVideo.h"

#define ENC_TYPE_H264       1     // protocol codes of enEncType
#define ENC_AUDIO_AAC       1     // protocol code of enAudioCodec; others are PCM
#define ENC_FORMAT_PCM      0     // "audioformat" 0 is PCM, any other value AAC
#define ENC_STORED_PCM      0     // u32Audiocodec
#define ENC_STORED_AAC      1

static DebugLimit_S s_stRefusedLimit;   // requests come from peers

// The scaler port of the main channel follows the new size: the encoder
// size for an interlaced input, else the captured size while it runs.

static void Main_Enc_Scaler(MainMediaAttr_S *pstMedia)
{
    u32 u32Width, u32Height;
    if (pstMedia->stViAttr.enScanMode == MEDIA_SCAN_INTERLACED) {
        u32Width = pstMedia->stMainVencAttr.u32Width;
        u32Height = pstMedia->stMainVencAttr.u32Height;
    } else if (g_stMainServerAttr.bViStart == 1) {
        u32Width = pstMedia->stViAttr.u32Width;
        u32Height = pstMedia->stViAttr.u32Height;
    } else {
        return;
    }
    s32 s32Ret = HI_Media_Vpss_SetChannelRes(pstMedia->s32VpeChn, pstMedia->as32VencChn[0], u32Width, u32Height);
    if (s32Ret != 0)
        Debug_Log("[%s]: HI_Media_Vpss_SetChannelRes failed with %#x!\n", log_Time(), s32Ret);
}

static s32 Main_Enc_Stream(bool bStart)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    if (!pstNet->bRtspStart)
        return 0;   // no server, no stream to stop or start
    s32 s32Ret = bStart ? MAIN_RtspServer_StartStream(pstNet, &pstNet->stMainStream)
                        : MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_RtspServer_%sStream failed with %#x!\n", log_Time(), bStart ? "Start" : "Stop",
                  s32Ret);
    return s32Ret;
}

// The main channel made again from stMainVencAttr, with its bind to the
// scaler taken down before and made again after: a channel destroyed while
// bound, or made without its bind, gets no pictures. Without a picture the
// pipeline holds no channel: the next start builds it from the attributes.
// 0, or -1 when creating or starting it failed (logged).
static s32 Main_Enc_Recreate(MainMediaAttr_S *pstMedia)
{
    if (g_stMainServerAttr.bViStart != 1)
        return 0;
    s32 s32Chn = pstMedia->as32VencChn[0];
    (void)HI_Media_Venc_UnBindVpss(s32Chn, pstMedia->s32VpeChn, pstMedia->as32VpePort[0]);   // logs itself
    (void)HI_Media_Venc_Stop(s32Chn);   // always 0
    (void)HI_Media_Venc_DestroyChn(s32Chn);   // logs its failure; creation tells whether it matters
    s32 s32Ret = HI_Media_Venc_CreateChn(s32Chn, &pstMedia->stMainVencAttr);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Venc_CreateChn failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = HI_Media_Venc_Start(s32Chn);
    if (s32Ret != 0) {
        Debug_Log("[%s]: HI_Media_Venc_Start failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return HI_Media_Venc_BindVpss(s32Chn, pstMedia->s32VpeChn, pstMedia->as32VpePort[0]) == 0 ? 0 : -1;
}

// The request's settings written into a stream record; the resolution
// code is neither applied nor stored.
static void Main_Enc_Fill(ConfigStreamAttr_S *pstAttr, const ProtocolEncodeParams_S *pstIn)
{
    pstAttr->u32Enctype = pstIn->enEncType == ENC_TYPE_H264 ? MEDIA_VENC_H264 : MEDIA_VENC_H265;
    pstAttr->u32Fps = pstIn->u32Fps;
    pstAttr->u32Ratecontrol = (u32)pstIn->enRateControl;
    pstAttr->u32Videobitrate = pstIn->u32Bitrate;
    pstAttr->u32Audioinput = pstIn->u32AudioInput;
    pstAttr->u32Audiocodec = pstIn->enAudioCodec == ENC_AUDIO_AAC ? ENC_STORED_AAC : ENC_STORED_PCM;
    // The getter reports MAIN_SAMPLE_NONE while no audio runs: a request
    // that sends back what it read keeps the stored rate.
    if (pstIn->u32AudioFreq != MAIN_SAMPLE_NONE)
        pstAttr->u32Audiofreq = pstIn->u32AudioFreq;
    pstAttr->u32Audiobitrate = pstIn->u32AudioBitrate;
}

s32 Main_Protocolserver_setEncodeparams(void *pUser, const ProtocolEncodeParams_S *pstIn)
{
    (void)pUser;
    ConfigStreamAttr_S stNew = g_stConfigAttr.stMainAttr;
    Main_Enc_Fill(&stNew, pstIn);
    // A value the encoder cannot run would leave the stream dead, in the
    // file too: the request changes nothing.
    const MainEncRange_S *pstBad = MAIN_EncRange_Find(&stNew, MAIN_ENC_RANGE_ALL);
    if (pstBad != nullptr) {
        Debug_LogLimited(&s_stRefusedLimit, "[%s]: config set tx params: %s %u out of %u..%u, refused\n",
                         log_Time(), pstBad->pszKey, MAIN_EncRange_Value(pstBad, &stNew), pstBad->u32Min,
                         pstBad->u32Max);
        return 0;
    }
    MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
    s32 enAudio = stNew.u32Audiocodec == ENC_STORED_AAC ? MAIN_AUDIO_CODEC_AAC : MAIN_AUDIO_CODEC_PCM;
    {
        std::lock_guard<std::mutex> lock(g_MediaMutex);
        // The stored audio codec is the one the stream announces: a change
        // restarts the stream as a new codec does.
        bool bRestart = stNew.u32Enctype != pstMedia->stMainVencAttr.enVencType ||
                        enAudio != pstMedia->enMainAudioCodec;
        pstMedia->stMainVencAttr.enVencType = stNew.u32Enctype;
        pstMedia->stMainVencAttr.enRcMode = MEDIA_RC_VBR;
        pstMedia->stMainVencAttr.u32BitRate = stNew.u32Videobitrate;
        pstMedia->stMainVencAttr.u32FrameRate = stNew.u32Fps;
        if (!bRestart) {
            if (g_stMainServerAttr.bViStart == 1)
                (void)HI_Media_Venc_SetAttr(pstMedia->as32VencChn[0], &pstMedia->stMainVencAttr);   // logs itself
        } else {
            pstMedia->enMainAudioCodec = enAudio;
            (void)Main_Enc_Stream(false);
            (void)Main_Enc_Recreate(pstMedia);
        }
        Main_Enc_Scaler(pstMedia);
        // Also without a restart: brings back a stream that an earlier
        // failed switch left stopped.
        (void)Main_Enc_Stream(true);
    }
    Main_Enc_Fill(&g_stConfigAttr.stMainAttr, pstIn);
    (void)MAIN_CONFIG_Update();   // fails only before the store exists
    return 0;
}

s32 Main_Protocolserver_onsetTxAudioFormat(void *pUser, s32 s32Format)
{
    (void)pUser;
    static DebugLimit_S s_stLimit;   // peers set the format at will
    Debug_LogLimited(&s_stLimit, "[%s]: %s: s32AudioFormat %d\n", log_Time(), __func__, s32Format);
    u32 u32Audio = s32Format == ENC_FORMAT_PCM ? ENC_STORED_PCM : ENC_STORED_AAC;
    if (u32Audio == g_stConfigAttr.stMainAttr.u32Audiocodec)
        return 0;
    MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
    {
        std::lock_guard<std::mutex> lock(g_MediaMutex);
        pstMedia->enMainAudioCodec = u32Audio == ENC_STORED_PCM ? MAIN_AUDIO_CODEC_PCM : MAIN_AUDIO_CODEC_AAC;
        (void)Main_Enc_Stream(false);
        if (Main_Enc_Recreate(pstMedia) != 0 || Main_Enc_Stream(true) != 0)
            return -1;
    }
    g_stConfigAttr.stMainAttr.u32Audiocodec = u32Audio;
    (void)MAIN_CONFIG_Update();
    return 0;
}
