// Application glue of the stream publishing wrapper: the wrapper and the
// two streams on the RTSP block of the network record, the streams'
// multicast groups, and the stream information taken from the media
// attributes.
#include "app/MainRtspServer.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "app/AVSourceMsg.h"
#include "app/Main.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "rtsp/RtspTypes.h"

#define RTSP_AUDIO_BITRATE   0x20000
#define RTSP_RESTART_WAIT_US (100 * 1000)
#define RTSP_MAC_FIFTH       12            // of the MAC text "xx:xx:xx:xx:xx:xx"
#define RTSP_MAC_SIXTH       15

// RtspAudioCodec_E of a stream's audio codec word, by the word (0..4);
// other words are raw PCM.
static const s32 s_as32AudioCodec[] = {
    RTSP_AUDIO_CODEC_5, RTSP_AUDIO_CODEC_G711A, RTSP_AUDIO_CODEC_G711U, RTSP_AUDIO_CODEC_G726, RTSP_AUDIO_CODEC_AAC,
};

static RtspServerAttr_S *Main_Rtsp_Ctx(const NetServerConfig_S *pstNet)
{
    return (RtspServerAttr_S *)pstNet->hRtspServer;
}

s32 MAIN_RtspServer_Init(NetServerConfig_S *pstNet)
{
    if (pstNet->bRtspStart)
        return 0;
    RtspServerAttr_S *pstCtx = RtspServer_Init();
    if (pstCtx == nullptr) {
        Debug_Log("[%s]: RtspServer_Init failed!\n", log_Time());
        return -1;
    }
    s32 s32Ret = RtspServer_register(pstCtx, MAIN_Rtspserver_StreamInfo);
    if (s32Ret != 0) {
        Debug_Log("[%s]: RtspServer_register failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    pstNet->hRtspServer = pstCtx;
    pstNet->bRtspStart = 1;
    // Nothing is captured before the first lock.
    (void)MAIN_RtspServer_SetSignal(pstNet, 0);   // slots of the descriptors' ids: cannot fail
    for (const RtspStreamDesc_S *pstDesc : {&pstNet->stMainStream, &pstNet->stSubStream})
        Debug_Log("[%s]: RTSP stream rtsp://%s:%u/live/%s\n", log_Time(), pstNet->azHostIP, RTSP_SERVER_PORT,
                  pstDesc->azStreamName);
    return 0;
}

s32 MAIN_RtspServer_deInit(NetServerConfig_S *pstNet)
{
    if (!pstNet->bRtspStart)
        return 0;
    pstNet->bRtspStart = 0;
    s32 s32Ret = RtspServer_DeInit(Main_Rtsp_Ctx(pstNet));
    if (s32Ret != 0)
        Debug_Log("[%s]: RtspServer_DeInit failed with %#x!\n", log_Time(), s32Ret);
    pstNet->hRtspServer = nullptr;
    return 0;
}

s32 MAIN_RtspServer_StartStream(NetServerConfig_S *pstNet, RtspStreamDesc_S *pstDesc)
{
    if (!pstNet->bRtspStart)
        return -1;
    if (pstDesc->bStart)
        return 0;
    s32 s32Ret = RtspServer_StartStream(Main_Rtsp_Ctx(pstNet), (s32)pstDesc->s32StreamId, pstDesc->azStreamName);
    if (s32Ret == 0)
        pstDesc->bStart = 1;
    else
        Debug_Log("[%s]: RtspServer_StartStream failed with %#x!\n", log_Time(), s32Ret);
    return 0;
}

s32 MAIN_RtspServer_StopStream(NetServerConfig_S *pstNet, RtspStreamDesc_S *pstDesc)
{
    if (!pstNet->bRtspStart)
        return -1;
    if (!pstDesc->bStart)
        return 0;
    pstDesc->bStart = 0;
    s32 s32Ret = RtspServer_StopStream(Main_Rtsp_Ctx(pstNet), (s32)pstDesc->s32StreamId);
    if (s32Ret != 0) {
        Debug_Log("[%s]: RtspServer_StopStream failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 MAIN_RtspServer_SetSignal(NetServerConfig_S *pstNet, u32 bSignal)
{
    if (!pstNet->bRtspStart)
        return -1;
    s32 s32Ret = 0;
    for (const RtspStreamDesc_S *pstDesc : {&pstNet->stMainStream, &pstNet->stSubStream})
        if (RtspServer_SetStreamSignal(Main_Rtsp_Ctx(pstNet), (s32)pstDesc->s32StreamId, bSignal) != 0)
            s32Ret = -1;
    return s32Ret;
}

s32 MAIN_RtspServer_GetStreamInfo(NetServerConfig_S *pstNet, RtspStreamDesc_S *pstDesc)
{
    if (!pstNet->bRtspStart || !pstDesc->bStart)
        return 0;
    u32 u32Count = 0;
    s32 s32Ret = RtspServer_GetStreamInfo(Main_Rtsp_Ctx(pstNet), (s32)pstDesc->s32StreamId, &u32Count);
    if (s32Ret != 0) {
        Debug_Log("[%s]: RtspServer_GetStreamInfo failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return (s32)u32Count;
}

s32 MAIN_RTSP_Restart(void)
{
    // The signal-change rebuild and the encoder setters stop and start the
    // same streams: overlapping one, this restart could be skipped.
    std::lock_guard<std::mutex> lock(g_MediaMutex);
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    Debug_Log("[%s]: %s: 1\n", log_Time(), __func__);
    s32 s32Ret = MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_RtspServer_StopStream Main stream failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_RtspServer_StopStream(pstNet, &pstNet->stSubStream);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_RtspServer_StopStream sub stream failed with %#x!\n", log_Time(), s32Ret);
    usleep(RTSP_RESTART_WAIT_US);
    RtspStreamDesc_S *apstDesc[] = {&pstNet->stMainStream, &pstNet->stSubStream};
    for (RtspStreamDesc_S *pstDesc : apstDesc) {
        s32Ret = MAIN_RtspServer_StartStream(pstNet, pstDesc);
        if (s32Ret != 0)
            Debug_Log("[%s]: MAIN_RtspServer_StartStream failed with %#x!\n", log_Time(), s32Ret);
    }
    return 0;
}

// The group "<pszPrefix>.x.y" of a device ID; ID 0 takes x and y from the
// last two bytes of the box's MAC, keeping clear of groups ending in .0
// and .255.
static void Main_Rtsp_Group(const char *pszPrefix, s32 s32DeviceId, char *pszOut, size_t sizeOut)
{
    u32 u32Id = (u32)s32DeviceId, u32X, u32Y;
    if (u32Id != 0) {
        u32X = (u32Id / 256 + 100) & 255;
        u32Y = u32Id % 256;
    } else {
        const char *pszMac = g_stMainServerAttr.stConifg.azMac;
        size_t sizeLen = strnlen(pszMac, sizeof(g_stMainServerAttr.stConifg.azMac));
        u32 u32Fifth = Config_HexByte(pszMac, sizeLen, RTSP_MAC_FIFTH);
        u32 u32Sixth = Config_HexByte(pszMac, sizeLen, RTSP_MAC_SIXTH);
        u32X = (u32Sixth + 1) & 255;
        u32Y = u32Fifth;
        if (u32Sixth == 255 && u32Fifth == 0)
            u32Y = 128;
        else if (u32Sixth == 254 && u32Fifth == 255)
            u32Y = 127;
    }
    snprintf(pszOut, sizeOut, "%s.%u.%u", pszPrefix, u32X, u32Y);
}

s32 MAIN_get_main_RTSP_multicast_ip(s32 s32DeviceId, char *pszOut, size_t sizeOut)
{
    Main_Rtsp_Group("234.0", s32DeviceId, pszOut, sizeOut);
    return 0;
}

s32 MAIN_get_sub_RTSP_multicast_ip(s32 s32DeviceId, char *pszOut, size_t sizeOut)
{
    Main_Rtsp_Group("234.1", s32DeviceId, pszOut, sizeOut);
    return 0;
}

// The group of the main (bMain) or sub stream for the configured device ID.
static void Main_Rtsp_StreamGroup(bool bMain, char *pszOut, size_t sizeOut)
{
    Main_Rtsp_Group(bMain ? "234.0" : "234.1", g_stConfigAttr.stManual.s32ID, pszOut, sizeOut);
}

static void Main_Rtsp_VideoInfo(bool bMain, const MediaVencAttr_S *pstVenc, RtspVideoInfo_S *pstInfo)
{
    pstInfo->u32Width = pstVenc->u32Width;
    pstInfo->u32Height = pstVenc->u32Height;
    pstInfo->u32FrameRate = pstVenc->u32FrameRate;
    pstInfo->u32BitRate = pstVenc->u32BitRate;
    Main_Rtsp_StreamGroup(bMain, pstInfo->azMulticastIp, sizeof(pstInfo->azMulticastIp));
    pstInfo->u32Port = RTSP_MULTICAST_VPORT;
    pstInfo->enCodec = pstVenc->enVencType == MEDIA_VENC_H265 ? RTSP_VIDEO_CODEC_H265 : RTSP_VIDEO_CODEC_H264;
}

static void Main_Rtsp_AudioInfo(bool bMain, s32 enAudioCodec, const MediaAudioAttr_S *pstAudio,
                                RtspAudioInfo_S *pstInfo)
{
    bool bKnown = enAudioCodec >= 0 && enAudioCodec < (s32)ARRAY_SIZE(s_as32AudioCodec);
    pstInfo->enCodec = bKnown ? s_as32AudioCodec[enAudioCodec] : RTSP_AUDIO_CODEC_PCM;
    pstInfo->u32SampleRate = pstAudio->enInSamplerate;
    pstInfo->u32BitWidth = pstAudio->u32BitWidth;
    pstInfo->u32Channels = pstAudio->enSoundmode + 1;
    pstInfo->u32Param = pstAudio->u32PtNumPerFrm;
    pstInfo->u32BitRate = RTSP_AUDIO_BITRATE;
    pstInfo->u32Port = RTSP_MULTICAST_APORT;
    Main_Rtsp_StreamGroup(bMain, pstInfo->azMulticastIp, sizeof(pstInfo->azMulticastIp));
}

s32 MAIN_Rtspserver_StreamInfo(u32 u32StreamId, u32 u32Kind, void *pvInfo)
{
    const MainMediaAttr_S *pstAttr = &g_stMainServerAttr.stMainMediaAttr;
    if (u32Kind == RTSP_INFO_VIDEO) {
        RtspVideoInfo_S *pstInfo = (RtspVideoInfo_S *)pvInfo;
        *pstInfo = RtspVideoInfo_S();   // a stream of no encoder answers codec 0
        if (u32StreamId == (u32)pstAttr->as32VencChn[0])
            Main_Rtsp_VideoInfo(true, &pstAttr->stMainVencAttr, pstInfo);
        else if (u32StreamId == (u32)pstAttr->as32VencChn[1])
            Main_Rtsp_VideoInfo(false, &pstAttr->stSubVencAttr, pstInfo);
        return 0;
    }
    RtspAudioInfo_S *pstInfo = (RtspAudioInfo_S *)pvInfo;
    *pstInfo = RtspAudioInfo_S();
    if (u32StreamId == 0)
        Main_Rtsp_AudioInfo(true, pstAttr->enMainAudioCodec, &pstAttr->stMainAudioAttr, pstInfo);
    else
        Main_Rtsp_AudioInfo(false, pstAttr->enSubAudioCodec, &pstAttr->stSubAudioAttr, pstInfo);
    return 0;
}
