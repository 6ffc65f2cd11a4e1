// Frame delivery: the observers the wrapper calls on the frame threads.
// A video unit is cut once for every receiver, and copied at most once for
// all interleaved ones; each session then adds only its own headers. A
// large unit goes to the UDP receivers in bursts a little apart, all of
// them taking each burst in turn, so that no receiver waits on another.
#include "core/Debug.h"
#include "rtsplib/include/RtpPace.h"
#include "rtsp/RtspServicePriv.h"

#define H264_NAL_SPS  7
#define H265_NAL_VPS  32
#define H265_NAL_SPS  33

// Where a new session's video may start: a parameter set.
static bool rtspIsKeyStart(const RtspVideoFrame_S *pstFrame)
{
    if (pstFrame->u32PayloadType == RTSP_PAYLOAD_H264)
        return pstFrame->u32NalCode == H264_NAL_SPS;
    if (pstFrame->u32PayloadType == RTSP_PAYLOAD_H265)
        return pstFrame->u32NalCode == H265_NAL_VPS || pstFrame->u32NalCode == H265_NAL_SPS;
    return true;   // nothing to wait for in a codec we do not know
}

// Pieces [u32From, u32To) of a unit to the group and the unicast sessions
// playing; interleaved sessions take the whole unit with its first burst.
// Whether any receiver takes bursts.
static bool rtspVideoBurst(RtspMediaStream_S *pstStream, const RtpUnit_S *pstUnit, u32 u32From, u32 u32To,
                           bool bKeyStart)
{
    bool bPaced = false;
    RtspMulticast_S *pstGroup = pstStream->pstMulticast;
    if (pstGroup && pstGroup->bActive) {
        (void)media_source_udp_func.pfnVideoPieces(pstGroup->pvSource, pstUnit, u32From, u32To);   // logged there
        bPaced = true;
    }
    for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstSession->pstNext) {
        if (pstSession->u32State != RTSP_SESSION_PLAYING || pstSession->u32Delivery != RTSP_DELIVERY_UNICAST)
            continue;
        if (pstSession->bWaitKey) {
            if (!bKeyStart)
                continue;
            pstSession->bWaitKey = 0;
        }
        // Each failure is logged by the source.
        if (pstSession->pstFunc->pfnVideoPieces) {
            (void)pstSession->pstFunc->pfnVideoPieces(pstSession->pvSource, pstUnit, u32From, u32To);
            bPaced = true;
        } else if (u32From == 0) {
            (void)pstSession->pstFunc->pfnVideoUnit(pstSession->pvSource, pstUnit);
        }
    }
    return bPaced;
}

s32 rtspVideoStream(const RtspFrameObserver_S *pstObserver, const void *pvFrame)
{
    RtspMediaStream_S *pstStream = (RtspMediaStream_S *)pstObserver->pvCtx;
    const RtspVideoFrame_S *pstFrame = (const RtspVideoFrame_S *)pvFrame;
    if (pstFrame == nullptr || pstFrame->pu8Data == nullptr)
        return -1;
    std::lock_guard<std::mutex> lk(pstStream->mtx);
    pstStream->au64LastPts[MEDIA_TRACK_VIDEO] = pstFrame->u64Pts;
    if (pstStream->pstSessions == nullptr)
        return 0;
    const RtpPackerFunc_S *pstPacker = rtp_video_packer((u8)pstFrame->u32PayloadType);
    RtpUnit_S stUnit;
    if (pstPacker == nullptr || rtp_unit_cut(pstPacker, pstFrame->pu8Data, pstFrame->u32Len, MEDIA_UDP_VIDEO_PAYLOAD,
                                             pstFrame->u64Pts, &stUnit) < 0)
        return -1;
    RtpUnitShare_S stShare = {nullptr, nullptr};
    stUnit.pstShare = &stShare;
    bool bKeyStart = rtspIsKeyStart(pstFrame);
    u32 u32Burst = rtp_pace_burst(stUnit.u32Num);
    // The stream lock stays taken across the bursts: the sessions and the
    // unit's shared copy must last until its last burst.
    for (u32 u32From = 0; u32From < stUnit.u32Num; u32From += u32Burst) {
        if (u32From > 0)
            rtp_pace_gap();
        u32 u32To = stUnit.u32Num - u32From > u32Burst ? u32From + u32Burst : stUnit.u32Num;
        if (!rtspVideoBurst(pstStream, &stUnit, u32From, u32To, bKeyStart))
            break;   // nobody over UDP: no burst to wait for
    }
    if (stShare.pvCopy)
        stShare.pfnRelease(stShare.pvCopy);
    return 0;
}

s32 rtspAudioStream(const RtspFrameObserver_S *pstObserver, const void *pvFrame)
{
    RtspMediaStream_S *pstStream = (RtspMediaStream_S *)pstObserver->pvCtx;
    const RtspAudioFrame_S *pstFrame = (const RtspAudioFrame_S *)pvFrame;
    if (pstFrame == nullptr || pstFrame->pu8Data == nullptr)
        return -1;
    std::lock_guard<std::mutex> lk(pstStream->mtx);
    pstStream->au64LastPts[MEDIA_TRACK_AUDIO] = pstFrame->u64Pts;
    if (pstStream->pstSessions == nullptr)
        return 0;
    RtspMulticast_S *pstGroup = pstStream->pstMulticast;
    if (pstGroup && pstGroup->bActive)
        (void)media_source_udp_func.pfnAudioInput(pstGroup->pvSource, pstFrame->pu8Data, pstFrame->u32Len,
                                                  pstFrame->u64Pts);   // the source logs its failures
    for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstSession->pstNext) {
        if (pstSession->u32State == RTSP_SESSION_PLAYING && pstSession->u32Delivery == RTSP_DELIVERY_UNICAST)
            (void)pstSession->pstFunc->pfnAudioInput(pstSession->pvSource, pstFrame->pu8Data, pstFrame->u32Len,
                                                     pstFrame->u64Pts);   // logged by the source
    }
    return 0;
}

void rtspVideoError(const RtspFrameObserver_S *pstObserver, s32 s32Error)
{
    (void)pstObserver;   // the wrapper reports nothing the service could act on
    (void)s32Error;
}

void rtspAudioError(const RtspFrameObserver_S *pstObserver, s32 s32Error)
{
    (void)pstObserver;   // the wrapper reports nothing the service could act on
    (void)s32Error;
}
