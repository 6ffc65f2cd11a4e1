// DESCRIBE: the SDP of a stream, built from the wrapper's answers, and
// the texts the service builds in fixed buffers.
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "core/Debug.h"
#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/Base64Rtsp.h"
#include "rtsplib/include/Time64.h"

#define SDP_PARAM_SET_TEXT (BASE64_ENCODED_LEN(RTSP_PARAM_SET_MAX) + 1)
#define SDP_VIDEO_CLOCK   90000
#define AAC_STREAM_TYPE   5

struct SdpAudio_S {
    u32 u32Code;          // payload code of the wrapper
    u8 u8Pt;              // payload type in the SDP and on the wire
    const char *pszName;
};

static const SdpAudio_S s_astSdpAudio[] = {
    {RTSP_PAYLOAD_PCMU, 0, "PCMU"},           {RTSP_PAYLOAD_PCMA, 8, "PCMA"},
    {RTSP_PAYLOAD_L16, 22, "L16"},            {RTSP_PAYLOAD_G726, 23, "G726-32"},
    {RTSP_PAYLOAD_AAC, 97, "MPEG4-GENERIC"},  {RTSP_PAYLOAD_PCM, 108, "WAV"},
};

// AAC AudioSpecificConfig (LC) by sample rate, mono and stereo, written as
// the decimal number whose digits are its hexadecimal form.
struct SdpAacConfig_S {
    u32 u32Rate;
    u32 au32Config[2];
};

static const SdpAacConfig_S s_astAacConfig[] = {
    {48000, {1188, 1190}}, {44100, {1208, 1210}}, {32000, {1288, 1290}}, {24000, {1308, 1310}},
    {22050, {1388, 1390}}, {16000, {1408, 1410}},
};

#define AAC_CONFIG_OTHER_MONO    1588
#define AAC_CONFIG_OTHER_STEREO  1590

static const SdpAudio_S *rtspSdpAudio(u32 u32Code)
{
    for (const SdpAudio_S &stAudio : s_astSdpAudio) {
        if (stAudio.u32Code == u32Code)
            return &stAudio;
    }
    return nullptr;
}

static u32 rtspAacConfig(u32 u32Rate, u32 u32Channels)
{
    u32 u32Stereo = u32Channels == 2 ? 1 : 0;
    for (const SdpAacConfig_S &stConfig : s_astAacConfig) {
        if (stConfig.u32Rate == u32Rate)
            return stConfig.au32Config[u32Stereo];
    }
    return u32Stereo ? AAC_CONFIG_OTHER_STEREO : AAC_CONFIG_OTHER_MONO;
}

s32 rtspVideoInfo(RtspMediaStream_S *pstStream, RtspMediaVideoInfo_S *pstInfo)
{
    RtspMediaVideoAttr_S *pstVideo = &pstStream->stAttr.stVideo;
    memset(pstInfo, 0, sizeof(*pstInfo));
    if (pstVideo->pfnGetVideoInfo(pstVideo, pstInfo) < 0 ||
        (pstInfo->u32PayloadType != RTSP_PAYLOAD_H264 && pstInfo->u32PayloadType != RTSP_PAYLOAD_H265))
        return -1;
    pstInfo->azMulticastIp[sizeof(pstInfo->azMulticastIp) - 1] = '\0';
    return 0;
}

s32 rtspAudioInfo(RtspMediaStream_S *pstStream, RtspMediaAudioInfo_S *pstInfo, u8 *pu8Pt)
{
    RtspMediaAudioAttr_S *pstAudio = &pstStream->stAttr.stAudio;
    memset(pstInfo, 0, sizeof(*pstInfo));
    if (pstAudio->pfnGetAudioInfo(pstAudio, pstInfo) < 0)
        return -1;
    const SdpAudio_S *pstSdp = rtspSdpAudio(pstInfo->u32PayloadType);
    if (pstSdp == nullptr || pstInfo->u32SampleRate == 0)
        return -1;
    pstInfo->azMulticastIp[sizeof(pstInfo->azMulticastIp) - 1] = '\0';
    *pu8Pt = pstSdp->u8Pt;
    return 0;
}

void rtspTextInit(RtspText_S *pstText, char *pszBuf, u32 u32Size)
{
    pstText->pszBuf = pszBuf;
    pstText->u32Size = u32Size;
    pstText->u32Len = 0;
    pstText->bCut = false;
    pszBuf[0] = '\0';
}

void rtspTextAdd(RtspText_S *pstText, const char *pszFmt, ...)
{
    if (pstText->bCut)
        return;
    u32 u32Room = pstText->u32Size - pstText->u32Len;
    va_list ap;
    va_start(ap, pszFmt);
    s32 n = vsnprintf(pstText->pszBuf + pstText->u32Len, u32Room, pszFmt, ap);
    va_end(ap);
    if (n < 0 || (u32)n >= u32Room) {
        pstText->bCut = true;
        pstText->pszBuf[pstText->u32Len] = '\0';   // no piece of what did not fit
        return;
    }
    pstText->u32Len += (u32)n;
}

// A parameter set without its start code, in base64, into pszOut of
// SDP_PARAM_SET_TEXT bytes; -1 when it is empty or longer than its store.
static s32 rtspEncodeParamSet(const RtspParamSet_S *pstSet, char *pszOut, const u8 **ppu8Nal, u32 *pu32Nal)
{
    const u8 *pu8 = pstSet->au8Data;
    u32 u32Len = pstSet->u32Len;
    if (u32Len > sizeof(pstSet->au8Data))
        return -1;
    if (u32Len >= 4 && pu8[0] == 0 && pu8[1] == 0 && pu8[2] == 0 && pu8[3] == 1) {
        pu8 += 4;
        u32Len -= 4;
    } else if (u32Len >= 3 && pu8[0] == 0 && pu8[1] == 0 && pu8[2] == 1) {
        pu8 += 3;
        u32Len -= 3;
    }
    if (u32Len == 0)
        return -1;
    pszOut[base64_encode_rtsp(pszOut, pu8, u32Len)] = '\0';
    if (ppu8Nal) {
        *ppu8Nal = pu8;
        *pu32Nal = u32Len;
    }
    return 0;
}

static s32 rtspSdpVideo(RtspMediaStream_S *pstStream, RtspText_S *pstSdp)
{
    RtspMediaVideoAttr_S *pstVideo = &pstStream->stAttr.stVideo;
    RtspMediaVideoInfo_S stInfo;
    RtspParamSet_S stSps, stPps, stVps;
    memset(&stSps, 0, sizeof(stSps));
    memset(&stPps, 0, sizeof(stPps));
    memset(&stVps, 0, sizeof(stVps));
    if (rtspVideoInfo(pstStream, &stInfo) < 0 || pstVideo->pfnGetParamSets(pstVideo, &stSps, &stPps) < 0)
        return -1;
    bool bH265 = stInfo.u32PayloadType == RTSP_PAYLOAD_H265;
    char azSps[SDP_PARAM_SET_TEXT], azPps[SDP_PARAM_SET_TEXT], azVps[SDP_PARAM_SET_TEXT];
    const u8 *pu8Sps;
    u32 u32Sps;
    // The profile-level-id takes three bytes behind the SPS's first.
    if (rtspEncodeParamSet(&stSps, azSps, &pu8Sps, &u32Sps) < 0 || u32Sps < 4 ||
        rtspEncodeParamSet(&stPps, azPps, nullptr, nullptr) < 0)
        return -1;
    u32 u32Pt = stInfo.u32PayloadType;
    rtspTextAdd(pstSdp, "m=video 0 RTP/AVP %u\r\n", u32Pt);
    rtspTextAdd(pstSdp, "c=IN IP4 0.0.0.0\r\n");
    rtspTextAdd(pstSdp, "b=AS:%u\r\n", stInfo.u32BitRate);
    rtspTextAdd(pstSdp, "a=recvonly\r\n");
    rtspTextAdd(pstSdp, "a=control:track%d\r\n", MEDIA_TRACK_VIDEO + 1);
    rtspTextAdd(pstSdp, "a=framerate:%u\r\n", stInfo.u32FrameRate);
    rtspTextAdd(pstSdp, "a=rtpmap:%u %s/%d\r\n", u32Pt, bH265 ? "H265" : "H264", SDP_VIDEO_CLOCK);
    rtspTextAdd(pstSdp, "a=fmtp:%u profile-level-id=%02X%02X%02X; packetization-mode=1; sprop-parameter-sets=%s,%s",
                u32Pt, pu8Sps[1], pu8Sps[2], pu8Sps[3], azSps, azPps);
    // An H.265 decoder needs all three sets by their own names.
    if (bH265 && pstVideo->pfnGetVps(pstVideo, &stVps) == 0 && rtspEncodeParamSet(&stVps, azVps, nullptr, nullptr) == 0)
        rtspTextAdd(pstSdp, "; sprop-vps=%s; sprop-sps=%s; sprop-pps=%s", azVps, azSps, azPps);
    rtspTextAdd(pstSdp, "\r\n");
    return 0;
}

static s32 rtspSdpAudio(RtspMediaStream_S *pstStream, RtspText_S *pstSdp)
{
    RtspMediaAudioInfo_S stInfo;
    u8 u8Pt;
    if (rtspAudioInfo(pstStream, &stInfo, &u8Pt) < 0)
        return -1;
    const SdpAudio_S *pstSdpAudio = rtspSdpAudio(stInfo.u32PayloadType);
    rtspTextAdd(pstSdp, "m=audio 0 RTP/AVP %u\r\n", u8Pt);
    rtspTextAdd(pstSdp, "b=AS:%u\r\n", stInfo.u32BitRate >> 10);
    rtspTextAdd(pstSdp, "c=IN IP4 0.0.0.0\r\n");
    rtspTextAdd(pstSdp, "a=recvonly\r\n");
    rtspTextAdd(pstSdp, "a=control:track%d\r\n", MEDIA_TRACK_AUDIO + 1);
    rtspTextAdd(pstSdp, "a=rtpmap:%u %s/%u/%u\r\n", u8Pt, pstSdpAudio->pszName, stInfo.u32SampleRate,
                stInfo.u32Channels);
    if (stInfo.u32PayloadType == RTSP_PAYLOAD_AAC)
        rtspTextAdd(pstSdp,
                    "a=fmtp:%u streamtype=%d;profile-level-id=15;mode=AAC-hbr;sizelength=13;indexlength=3;"
                    "indexdeltalength=3;config=%u\r\n",
                    u8Pt, AAC_STREAM_TYPE, rtspAacConfig(stInfo.u32SampleRate, stInfo.u32Channels));
    return 0;
}

// The whole SDP into pszSdp, RTSP_SDP_MAX bytes and the terminator; -1
// when a half cannot describe itself or it does not fit. Caller holds the
// stream lock.
static s32 rtspBuildSdp(RtspMediaStream_S *pstStream, const char *pszUri, char *pszSdp)
{
    RtspText_S stSdp;
    u64 u64Ntp = ntp64_now();
    rtspTextInit(&stSdp, pszSdp, RTSP_SDP_MAX + 1);
    rtspTextAdd(&stSdp, "v=0\no=- %llu %llu IN IP4 %s\ns=%s\nc=IN IP4 0.0.0.0\nt=0 0\na=rtcp-unicast: reflection\n",
                (unsigned long long)u64Ntp, (unsigned long long)u64Ntp, "0.0.0.0", pszUri);
    if (pstStream->stAttr.stVideo.bVideoEnable && rtspSdpVideo(pstStream, &stSdp) < 0)
        return -1;
    if (pstStream->stAttr.stAudio.bAudioEnable && rtspSdpAudio(pstStream, &stSdp) < 0)
        return -1;
    return stSdp.bCut ? -1 : 0;
}

void rtspOnDescribe(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri)
{
    RtspStreamLock_S stLock;
    s32 s32Code = rtspLockStream(pvParam, pszUri, &stLock);
    char azSdp[RTSP_SDP_MAX + 1] = "";
    if (s32Code == 0 && rtspBuildSdp(stLock.pstStream, pszUri, azSdp) < 0)
        s32Code = 500;
    static DebugLimit_S s_stLimit;   // peers ask for what they like
    if (s32Code == 400)
        Debug_LogLimited(&s_stLimit, "[%s]: %d 400 Bad Request\n", log_Time(), __LINE__);
    else if (s32Code == 404)
        Debug_LogLimited(&s_stLimit, "[%s]: %d 404 File Not Found, Or In Incorrect Format\n", log_Time(), __LINE__);
    else if (s32Code == 500)
        Debug_LogLimited(&s_stLimit, "[%s]: %d 500 Internal Server Error\n", log_Time(), __LINE__);
    rtsp_server_reply_describe(pstReq, s32Code ? s32Code : 200, azSdp);
}
