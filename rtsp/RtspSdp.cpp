// DESCRIBE: the SDP of a stream, built from the wrapper's answers.
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "core/Debug.h"
#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/Base64Rtsp.h"
#include "rtsplib/include/Time64.h"

#define SDP_SESSION_MAX   1024
#define SDP_LINE_MAX      256
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

static void rtspSdpAdd(std::string *pstr, const char *pszFmt, ...) __attribute__((format(printf, 2, 3)));
static void rtspSdpAdd(std::string *pstr, const char *pszFmt, ...)
{
    char azLine[SDP_LINE_MAX];
    va_list ap;
    va_start(ap, pszFmt);
    s32 n = vsnprintf(azLine, sizeof(azLine), pszFmt, ap);
    va_end(ap);
    if (n > 0)
        pstr->append(azLine, n < (s32)sizeof(azLine) ? (size_t)n : sizeof(azLine) - 1);
}

// A parameter set without its start code, in base64; -1 when it is empty
// or longer than its store.
static s32 rtspEncodeParamSet(const RtspParamSet_S *pstSet, std::string *pstrOut, const u8 **ppu8Nal, u32 *pu32Nal)
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
    char azText[BASE64_ENCODED_LEN(RTSP_PARAM_SET_MAX) + 1];
    u32 n = base64_encode_rtsp(azText, pu8, u32Len);
    pstrOut->assign(azText, n);
    if (ppu8Nal) {
        *ppu8Nal = pu8;
        *pu32Nal = u32Len;
    }
    return 0;
}

static s32 rtspSdpVideo(RtspMediaStream_S *pstStream, std::string *pstrSdp)
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
    std::string strSps, strPps, strVps;
    const u8 *pu8Sps;
    u32 u32Sps;
    // The profile-level-id takes three bytes behind the SPS's first.
    if (rtspEncodeParamSet(&stSps, &strSps, &pu8Sps, &u32Sps) < 0 || u32Sps < 4 ||
        rtspEncodeParamSet(&stPps, &strPps, nullptr, nullptr) < 0)
        return -1;
    u32 u32Pt = stInfo.u32PayloadType;
    rtspSdpAdd(pstrSdp, "m=video 0 RTP/AVP %u\r\n", u32Pt);
    rtspSdpAdd(pstrSdp, "c=IN IP4 0.0.0.0\r\n");
    rtspSdpAdd(pstrSdp, "b=AS:%u\r\n", stInfo.u32BitRate);
    rtspSdpAdd(pstrSdp, "a=recvonly\r\n");
    rtspSdpAdd(pstrSdp, "a=control:track%d\r\n", MEDIA_TRACK_VIDEO + 1);
    rtspSdpAdd(pstrSdp, "a=framerate:%u\r\n", stInfo.u32FrameRate);
    rtspSdpAdd(pstrSdp, "a=rtpmap:%u %s/%d\r\n", u32Pt, bH265 ? "H265" : "H264", SDP_VIDEO_CLOCK);
    std::string strFmtp = "a=fmtp:" + std::to_string(u32Pt) + " ";
    char azProfile[64];
    snprintf(azProfile, sizeof(azProfile), "profile-level-id=%02X%02X%02X; packetization-mode=1; ", pu8Sps[1],
             pu8Sps[2], pu8Sps[3]);
    strFmtp += azProfile;
    strFmtp += "sprop-parameter-sets=" + strSps + "," + strPps;
    // An H.265 decoder needs all three sets by their own names.
    if (bH265 && pstVideo->pfnGetVps(pstVideo, &stVps) == 0 && rtspEncodeParamSet(&stVps, &strVps, nullptr, nullptr) == 0)
        strFmtp += "; sprop-vps=" + strVps + "; sprop-sps=" + strSps + "; sprop-pps=" + strPps;
    *pstrSdp += strFmtp + "\r\n";
    return 0;
}

static s32 rtspSdpAudio(RtspMediaStream_S *pstStream, std::string *pstrSdp)
{
    RtspMediaAudioInfo_S stInfo;
    u8 u8Pt;
    if (rtspAudioInfo(pstStream, &stInfo, &u8Pt) < 0)
        return -1;
    const SdpAudio_S *pstSdp = rtspSdpAudio(stInfo.u32PayloadType);
    rtspSdpAdd(pstrSdp, "m=audio 0 RTP/AVP %u\r\n", u8Pt);
    rtspSdpAdd(pstrSdp, "b=AS:%u\r\n", stInfo.u32BitRate >> 10);
    rtspSdpAdd(pstrSdp, "c=IN IP4 0.0.0.0\r\n");
    rtspSdpAdd(pstrSdp, "a=recvonly\r\n");
    rtspSdpAdd(pstrSdp, "a=control:track%d\r\n", MEDIA_TRACK_AUDIO + 1);
    rtspSdpAdd(pstrSdp, "a=rtpmap:%u %s/%u/%u\r\n", u8Pt, pstSdp->pszName, stInfo.u32SampleRate,
               stInfo.u32Channels);
    if (stInfo.u32PayloadType == RTSP_PAYLOAD_AAC)
        rtspSdpAdd(pstrSdp,
                   "a=fmtp:%u streamtype=%d;profile-level-id=15;mode=AAC-hbr;sizelength=13;indexlength=3;"
                   "indexdeltalength=3;config=%u\r\n",
                   u8Pt, AAC_STREAM_TYPE, rtspAacConfig(stInfo.u32SampleRate, stInfo.u32Channels));
    return 0;
}

// The whole SDP; -1 when a half cannot describe itself. Caller holds the
// stream lock.
static s32 rtspBuildSdp(RtspMediaStream_S *pstStream, const char *pszUri, std::string *pstrSdp)
{
    char azSession[SDP_SESSION_MAX];
    u64 u64Ntp = ntp64_now();
    s32 n = snprintf(azSession, sizeof(azSession),
                     "v=0\no=- %llu %llu IN IP4 %s\ns=%s\nc=IN IP4 0.0.0.0\nt=0 0\na=rtcp-unicast: reflection\n",
                     (unsigned long long)u64Ntp, (unsigned long long)u64Ntp, "0.0.0.0", pszUri);
    if (n < 0 || n >= (s32)sizeof(azSession))
        return -1;
    *pstrSdp = azSession;
    if (pstStream->stAttr.stVideo.bVideoEnable && rtspSdpVideo(pstStream, pstrSdp) < 0)
        return -1;
    if (pstStream->stAttr.stAudio.bAudioEnable && rtspSdpAudio(pstStream, pstrSdp) < 0)
        return -1;
    return 0;
}

void rtspOnDescribe(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri)
{
    RtspStreamLock_S stLock;
    s32 s32Code = rtspLockStream(pvParam, pszUri, &stLock);
    std::string strSdp;
    if (s32Code == 0 && rtspBuildSdp(stLock.pstStream, pszUri, &strSdp) < 0)
        s32Code = 500;
    static DebugLimit_S s_stLimit;   // peers ask for what they like
    if (s32Code == 400)
        Debug_LogLimited(&s_stLimit, "[%s]: %d 400 Bad Request\n", log_Time(), __LINE__);
    else if (s32Code == 404)
        Debug_LogLimited(&s_stLimit, "[%s]: %d 404 File Not Found, Or In Incorrect Format\n", log_Time(), __LINE__);
    else if (s32Code == 500)
        Debug_LogLimited(&s_stLimit, "[%s]: %d 500 Internal Server Error\n", log_Time(), __LINE__);
    rtsp_server_reply_describe(pstReq, s32Code ? s32Code : 200, strSdp.c_str());
}
