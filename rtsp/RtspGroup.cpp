// A stream's multicast group: one UDP source sending to the group's ports,
// shared by every multicast session of the stream. It runs while one of
// them plays and goes with the last session set up on it.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <new>

#include "core/Debug.h"
#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/RtpSocket.h"

static void rtspFreeGroup(RtspMulticast_S *pstGroup)
{
    if (pstGroup->pvSource)
        media_source_udp_func.pfnDestroy(pstGroup->pvSource);
    for (s32 s32Socket : pstGroup->as32Socket)
        rtp_socket_close(s32Socket);
    delete pstGroup;
}

// The group address and port a half announces, checked.
static s32 rtspGroupAddress(const char *pszGroup, u32 u32Port)
{
    struct in_addr stAddr;
    if (inet_pton(AF_INET, pszGroup, &stAddr) != 1 || !IN_MULTICAST(ntohl(stAddr.s_addr)) || u32Port == 0 ||
        u32Port > 0xFFFF) {
        Debug_Log("[%s]: %s: no multicast group in %s:%u\n", log_Time(), __func__, pszGroup, u32Port);
        return -1;
    }
    return 0;
}

// Opens the track's socket on the group and points the source's part at
// it. A codec without a packer leaves the track silent, as for unicast.
static s32 rtspGroupTrack(RtspMulticast_S *pstGroup, u32 u32Track, const char *pszGroup, u32 u32Port, u8 u8Pt,
                          u32 u32Clock)
{
    const MediaSourceFunc_S *pstFunc = &media_source_udp_func;
    if (rtspGroupAddress(pszGroup, u32Port) < 0 ||
        rtp_socket_create_one(pszGroup, (u16)u32Port, &pstGroup->as32Socket[u32Track]) < 0)
        return -1;
    pstGroup->au16Port[u32Track] = (u16)u32Port;
    bool bVideo = u32Track == MEDIA_TRACK_VIDEO;
    s32 s32Ret = bVideo ? pstFunc->pfnVideoCreate(pstGroup->pvSource, u8Pt, u32Clock)
                        : pstFunc->pfnAudioCreate(pstGroup->pvSource, u8Pt, u32Clock);
    if (s32Ret < 0)
        return bVideo || rtp_audio_packer(u8Pt) != nullptr ? -1 : 0;
    s32 s32Socket = pstGroup->as32Socket[u32Track];
    return bVideo ? pstFunc->pfnVideoRtp(pstGroup->pvSource, pszGroup, s32Socket, (u16)u32Port, nullptr)
                  : pstFunc->pfnAudioRtp(pstGroup->pvSource, pszGroup, s32Socket, (u16)u32Port, nullptr);
}

static RtspMulticast_S *rtspNewGroup(RtspMediaStream_S *pstStream)
{
    RtspMulticast_S *pstGroup = new (std::nothrow) RtspMulticast_S();
    if (pstGroup == nullptr) {
        Debug_Log("[%s]: malloc err!\n", log_Time());
        return nullptr;
    }
    pstGroup->u32Ttl = RTSP_MULTICAST_TTL;
    for (s32 &s32Socket : pstGroup->as32Socket)
        s32Socket = -1;
    pstGroup->pvSource = media_source_udp_func.pfnCreate(true);
    RtspMediaStreamAttr_S *pstAttr = &pstStream->stAttr;
    bool bOk = pstGroup->pvSource != nullptr;
    if (bOk && pstAttr->stVideo.bVideoEnable) {
        RtspMediaVideoInfo_S stInfo;
        bOk = rtspVideoInfo(pstStream, &stInfo) == 0 &&
              rtspGroupTrack(pstGroup, MEDIA_TRACK_VIDEO, stInfo.azMulticastIp, stInfo.u32Port,
                             (u8)stInfo.u32PayloadType, MEDIA_VIDEO_CLOCK) == 0;
        snprintf(pstGroup->azGroup, sizeof(pstGroup->azGroup), "%s", stInfo.azMulticastIp);
        pstStream->au32Clock[MEDIA_TRACK_VIDEO] = MEDIA_VIDEO_CLOCK;
    }
    if (bOk && pstAttr->stAudio.bAudioEnable) {
        RtspMediaAudioInfo_S stInfo;
        u8 u8Pt;
        bOk = rtspAudioInfo(pstStream, &stInfo, &u8Pt) == 0 &&
              rtspGroupTrack(pstGroup, MEDIA_TRACK_AUDIO, stInfo.azMulticastIp, stInfo.u32Port, u8Pt,
                             stInfo.u32SampleRate) == 0;
        if (pstGroup->azGroup[0] == '\0')
            snprintf(pstGroup->azGroup, sizeof(pstGroup->azGroup), "%s", stInfo.azMulticastIp);
        pstStream->au32Clock[MEDIA_TRACK_AUDIO] = stInfo.u32SampleRate;
    }
    if (!bOk) {
        Debug_Log("[%s]: %s: the group of %s cannot be set up\n", log_Time(), __func__, pstStream->pszName);
        rtspFreeGroup(pstGroup);
        return nullptr;
    }
    return pstGroup;
}

s32 rtspJoinGroup(RtspSession_S *pstSession)
{
    RtspMediaStream_S *pstStream = pstSession->pstStream;
    if (pstSession->pvSource != nullptr)
        return 0;
    if (pstStream->pstMulticast == nullptr && (pstStream->pstMulticast = rtspNewGroup(pstStream)) == nullptr)
        return -1;
    pstStream->pstMulticast->u32Refs++;
    pstSession->pstFunc = &media_source_udp_func;
    pstSession->pvSource = pstStream->pstMulticast->pvSource;
    return 0;
}

s32 rtspPlayGroup(RtspSession_S *pstSession)
{
    RtspMulticast_S *pstGroup = pstSession->pstStream->pstMulticast;
    if (pstGroup == nullptr || pstSession->pvSource == nullptr)
        return -1;
    if (!pstSession->bCounted) {
        pstSession->bCounted = true;
        pstGroup->s32Users++;
    }
    pstGroup->bActive = 1;
    return media_source_udp_func.pfnPlay(pstGroup->pvSource);
}

void rtspLeaveGroup(RtspSession_S *pstSession)
{
    RtspMediaStream_S *pstStream = pstSession->pstStream;
    RtspMulticast_S *pstGroup = pstStream->pstMulticast;
    if (pstGroup == nullptr) {
        if (pstSession->u32State == RTSP_SESSION_PLAYING)
            Debug_Log("[%s]: %s: pstMulticast,%p\n", log_Time(), __func__, (void *)pstGroup);
        return;
    }
    if (pstSession->bCounted) {
        pstSession->bCounted = false;
        if (--pstGroup->s32Users <= 0) {
            pstGroup->s32Users = 0;
            pstGroup->bActive = 0;
            (void)media_source_udp_func.pfnPause(pstGroup->pvSource);   // cannot fail
        }
    }
    if (pstSession->pvSource == nullptr)
        return;
    pstSession->pvSource = nullptr;
    if (--pstGroup->u32Refs == 0) {
        rtspFreeGroup(pstGroup);
        pstStream->pstMulticast = nullptr;
    }
}
