// SETUP: a session's track over unicast UDP, interleaved TCP or the
// stream's multicast group. Everything is checked before anything is
// opened, and a SETUP that fails leaves nothing behind; a track set up
// again gets new sockets and the old ones are closed.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

#include "core/Debug.h"
#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/RtpSocket.h"

#define RTSP_TRANSPORT_TEXT 256

static DebugLimit_S s_stLimitUri, s_stLimitSockets;   // causes peers can repeat

// What one SETUP asks for.
struct RtspSetup_S {
    const RtspHeaderTransport_S *pstTransport;
    u32 u32Track;            // MediaTrack_E
    u32 u32Delivery;         // RtspDelivery_E
    u32 u32Transport;        // RtspSessionTransport_E
    u8 u8Pt;                 // payload type of the track's packer
    u32 u32Clock;
    char azTransport[RTSP_TRANSPORT_TEXT];   // the reply's Transport
};

// The track a URI names: 0 and *pu32Track, or -1.
static s32 rtspSetupTrack(RtspMediaStream_S *pstStream, const char *pszUri, u32 *pu32Track)
{
    if (strstr(pszUri, "track1") && pstStream->stAttr.stVideo.bVideoEnable)
        *pu32Track = MEDIA_TRACK_VIDEO;
    else if (strstr(pszUri, "track2") && pstStream->stAttr.stAudio.bAudioEnable)
        *pu32Track = MEDIA_TRACK_AUDIO;
    else
        return -1;
    return 0;
}

// A destination other than the requester's own address would make the box
// send a stream to whoever the request names: 0, or the status to answer.
static s32 rtspSetupDestination(RtspServerReq_S *pstReq, const char *pszDest)
{
    static DebugLimit_S s_stLimit;
    char azPeer[RTSP_ADDRESS_TEXT];
    u16 u16Port;
    struct in_addr stDest, stPeer;
    if (pszDest[0] == '\0')
        return 0;
    if (inet_pton(AF_INET, pszDest, &stDest) != 1)
        return 461;
    if (rtsp_server_get_client(pstReq, azPeer, &u16Port) < 0 || inet_pton(AF_INET, azPeer, &stPeer) != 1)
        return 500;
    if (stDest.s_addr == stPeer.s_addr)
        return 0;
    Debug_LogLimited(&s_stLimit, "[%s]: %s: %s:%u asked for a stream to %s, refused\n", log_Time(), __func__, azPeer,
                     u16Port, pszDest);
    return 403;
}

// Reads the first transport: 0, or the status to answer.
static s32 rtspSetupCheck(RtspServerReq_S *pstReq, const RtspHeaderTransport_S *pstTransport, RtspSetup_S *pstSetup)
{
    pstSetup->pstTransport = pstTransport;
    pstSetup->u32Delivery = pstTransport->bMulticast ? RTSP_DELIVERY_MULTICAST : RTSP_DELIVERY_UNICAST;
    if (pstTransport->enTransport == RTSP_TRANSPORT_RTP_UDP)
        pstSetup->u32Transport = RTSP_SESSION_UDP;
    else if (pstTransport->enTransport == RTSP_TRANSPORT_RTP_TCP)
        pstSetup->u32Transport = RTSP_SESSION_TCP;
    else
        return 461;
    if (pstTransport->bMulticast)
        return pstSetup->u32Transport == RTSP_SESSION_UDP ? 0 : 461;
    if (pstSetup->u32Transport == RTSP_SESSION_TCP && pstTransport->pvOwner == nullptr)
        return 461;   // a request over UDP has no connection to interleave on
    if (pstSetup->u32Transport == RTSP_SESSION_UDP && pstTransport->au16ClientPort[0] == 0)
        return 461;   // no ports to send to
    return rtspSetupDestination(pstReq, pstTransport->azDestination);
}

// The payload type and clock of the track, from the wrapper: 0 or 500.
static s32 rtspSetupPayload(RtspMediaStream_S *pstStream, RtspSetup_S *pstSetup)
{
    if (pstSetup->u32Track == MEDIA_TRACK_VIDEO) {
        RtspMediaVideoInfo_S stInfo;
        if (rtspVideoInfo(pstStream, &stInfo) < 0)
            return 500;
        pstSetup->u8Pt = (u8)stInfo.u32PayloadType;
        pstSetup->u32Clock = MEDIA_VIDEO_CLOCK;
        return 0;
    }
    RtspMediaAudioInfo_S stInfo;
    if (rtspAudioInfo(pstStream, &stInfo, &pstSetup->u8Pt) < 0)
        return 500;
    pstSetup->u32Clock = stInfo.u32SampleRate;
    return 0;
}

// A new session's addresses: those the transport gives, else the
// connection's ends. 0 or 500.
static s32 rtspSetupAddresses(RtspSession_S *pstSession, RtspServerReq_S *pstReq, const RtspHeaderTransport_S *pstTr)
{
    u16 u16Port;
    if (pstTr->azDestination[0])
        snprintf(pstSession->azDestination, sizeof(pstSession->azDestination), "%s", pstTr->azDestination);
    else if (rtsp_server_get_client(pstReq, pstSession->azDestination, &u16Port) < 0)
        return 500;
    if (pstTr->azSource[0])
        snprintf(pstSession->azSource, sizeof(pstSession->azSource), "%s", pstTr->azSource);
    else if (rtsp_server_get_host(pstReq, pstSession->azSource, &u16Port) < 0)
        return 500;
    return 0;
}

// The session's own source, made on first use, with the track's part.
// 0 or 500; a codec without a packer leaves the track silent.
static s32 rtspSetupSource(RtspSession_S *pstSession, const RtspSetup_S *pstSetup)
{
    if (pstSession->pvSource == nullptr) {
        pstSession->pstFunc = pstSetup->u32Transport == RTSP_SESSION_TCP ? &media_source_tcp_func
                                                                          : &media_source_udp_func;
        pstSession->pvSource = pstSession->pstFunc->pfnCreate(false);
        if (pstSession->pvSource == nullptr)
            return 500;
    }
    const MediaSourceFunc_S *pstFunc = pstSession->pstFunc;
    bool bVideo = pstSetup->u32Track == MEDIA_TRACK_VIDEO;
    s32 s32Ret = bVideo ? pstFunc->pfnVideoCreate(pstSession->pvSource, pstSetup->u8Pt, pstSetup->u32Clock)
                        : pstFunc->pfnAudioCreate(pstSession->pvSource, pstSetup->u8Pt, pstSetup->u32Clock);
    if (s32Ret < 0 && (bVideo || rtp_audio_packer(pstSetup->u8Pt) != nullptr))
        return 500;
    return 0;
}

// Points the source's track at its destination: RTP and RTCP.
static s32 rtspSetupDest(RtspSession_S *pstSession, u32 u32Track, const s32 as32Socket[2], const u16 au16Port[2],
                         void *pvConnection)
{
    const MediaSourceFunc_S *pstFunc = pstSession->pstFunc;
    void *pvSource = pstSession->pvSource;
    const char *pszDest = pstSession->azDestination;
    if (u32Track == MEDIA_TRACK_VIDEO)
        return pstFunc->pfnVideoRtp(pvSource, pszDest, as32Socket[0], au16Port[0], pvConnection) < 0 ||
                       pstFunc->pfnVideoRtcp(pvSource, pszDest, as32Socket[1], au16Port[1], pvConnection) < 0
                   ? -1
                   : 0;
    return pstFunc->pfnAudioRtp(pvSource, pszDest, as32Socket[0], au16Port[0], pvConnection) < 0 ||
                   pstFunc->pfnAudioRtcp(pvSource, pszDest, as32Socket[1], au16Port[1], pvConnection) < 0
               ? -1
               : 0;
}

static s32 rtspSetupUdp(RtspSession_S *pstSession, RtspSetup_S *pstSetup)
{
    const RtspHeaderTransport_S *pstTr = pstSetup->pstTransport;
    RtspTrack_S *pstTrack = &pstSession->astTrack[pstSetup->u32Track];
    s32 as32Socket[2];
    u16 au16Server[2];
    u16 au16Client[2] = {pstTr->au16ClientPort[0],
                         pstTr->au16ClientPort[1] ? pstTr->au16ClientPort[1] : (u16)(pstTr->au16ClientPort[0] + 1)};
    RtspService_S *pstService = pstSession->pstStream->pstService;
    if (pstService->u32Sockets + 2 > rtsp_server_fd_budget() / 2) {
        Debug_LogLimited(&s_stLimitSockets, "[%s]: %s: %u session sockets open, no more\n", log_Time(), __func__,
                         pstService->u32Sockets);
        return 453;
    }
    if (rtp_socket_create(nullptr, as32Socket, au16Server) < 0)
        return 500;
    if (rtspSetupSource(pstSession, pstSetup) != 0 ||
        rtspSetupDest(pstSession, pstSetup->u32Track, as32Socket, au16Client, nullptr) < 0) {
        rtp_socket_close(as32Socket[0]);
        rtp_socket_close(as32Socket[1]);
        return 500;
    }
    pstService->u32Sockets += 2 - (pstTrack->s32RtpSocket >= 0) - (pstTrack->s32RtcpSocket >= 0);
    rtp_socket_close(pstTrack->s32RtpSocket);
    rtp_socket_close(pstTrack->s32RtcpSocket);
    pstTrack->s32RtpSocket = as32Socket[0];
    pstTrack->s32RtcpSocket = as32Socket[1];
    pstTrack->u16ClientRtp = au16Client[0];
    pstTrack->u16ClientRtcp = au16Client[1];
    pstTrack->u16ServerRtp = au16Server[0];
    pstTrack->u16ServerRtcp = au16Server[1];
    snprintf(pstSetup->azTransport, sizeof(pstSetup->azTransport),
             "RTP/AVP;unicast;destination=%s;source=%s;client_port=%d-%d;server_port=%d-%d",
             pstSession->azDestination, pstSession->azSource, au16Client[0], au16Client[1], au16Server[0],
             au16Server[1]);
    return 0;
}

static s32 rtspSetupTcp(RtspSession_S *pstSession, RtspSetup_S *pstSetup)
{
    const RtspHeaderTransport_S *pstTr = pstSetup->pstTransport;
    RtspTrack_S *pstTrack = &pstSession->astTrack[pstSetup->u32Track];
    // Channels the client leaves out follow the usual pairs: 0-1, 2-3.
    s32 s32Rtp = pstTr->as32Interleaved[0] >= 0 ? pstTr->as32Interleaved[0] : (s32)(2 * pstSetup->u32Track);
    s32 s32Rtcp = pstTr->as32Interleaved[1] >= 0 ? pstTr->as32Interleaved[1] : s32Rtp + 1;
    static const s32 s_as32NoSocket[2] = {-1, -1};
    static const u16 s_au16NoPort[2] = {0, 0};
    // The connection's close ends the session, so its data may go nowhere else.
    if (pstTr->pvOwner != pstSession->pvOwner || s32Rtcp > 255)
        return 461;
    if (rtspSetupSource(pstSession, pstSetup) != 0)
        return 500;
    const MediaSourceFunc_S *pstFunc = pstSession->pstFunc;
    s32 s32Ret = pstSetup->u32Track == MEDIA_TRACK_VIDEO
                     ? pstFunc->pfnVideoInterleaved(pstSession->pvSource, s32Rtp, s32Rtcp)
                     : pstFunc->pfnAudioInterleaved(pstSession->pvSource, s32Rtp, s32Rtcp);
    if (s32Ret < 0 ||
        rtspSetupDest(pstSession, pstSetup->u32Track, s_as32NoSocket, s_au16NoPort, pstSession->pvOwner) < 0)
        return 500;
    pstTrack->u16ClientRtp = (u16)s32Rtp;
    pstTrack->u16ClientRtcp = (u16)s32Rtcp;
    snprintf(pstSetup->azTransport, sizeof(pstSetup->azTransport),
             "RTP/AVP/TCP;unicast;destination=%s;source=%s;interleaved=%d-%d", pstSession->azDestination,
             pstSession->azSource, s32Rtp, s32Rtcp);
    return 0;
}

static s32 rtspSetupMulticast(RtspSession_S *pstSession, RtspSetup_S *pstSetup)
{
    if (rtspJoinGroup(pstSession) < 0)
        return 500;
    RtspMulticast_S *pstGroup = pstSession->pstStream->pstMulticast;
    RtspTrack_S *pstTrack = &pstSession->astTrack[pstSetup->u32Track];
    struct in_addr stAsked, stGroup;
    const char *pszAsked = pstSetup->pstTransport->azDestination;
    // Multicast goes to the stream's own group only.
    if (pszAsked[0] && (inet_pton(AF_INET, pszAsked, &stAsked) != 1 ||
                        inet_pton(AF_INET, pstGroup->azGroup, &stGroup) != 1 || stAsked.s_addr != stGroup.s_addr))
        return 403;
    if (pstGroup->as32Socket[pstSetup->u32Track] < 0)
        return 500;
    pstTrack->u16ServerRtp = pstGroup->au16Port[pstSetup->u32Track];
    pstSession->u32Ttl = pstGroup->u32Ttl;
    snprintf(pstSetup->azTransport, sizeof(pstSetup->azTransport),
             "RTP/AVP;multicast;destination=%s;source=%s;port=%d-%d;ttl=%u", pstGroup->azGroup,
             pstSession->azSource, pstTrack->u16ServerRtp, 0, pstGroup->u32Ttl);
    return 0;
}

// Sets the track up on a locked session: 0, or the status to answer.
static s32 rtspSetupTrackOn(RtspSession_S *pstSession, RtspSetup_S *pstSetup)
{
    if (pstSetup->u32Delivery == RTSP_DELIVERY_MULTICAST)
        return rtspSetupMulticast(pstSession, pstSetup);
    return pstSetup->u32Transport == RTSP_SESSION_TCP ? rtspSetupTcp(pstSession, pstSetup)
                                                        : rtspSetupUdp(pstSession, pstSetup);
}

void rtspOnSetup(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                 const RtspHeaderTransport_S *pastTransport, u32 u32Num)
{
    RtspStreamLock_S stLock;
    RtspSetup_S stSetup;
    memset(&stSetup, 0, sizeof(stSetup));
    s32 s32Code = rtspLockPlayableStream(pvParam, pszUri, &stLock);
    RtspMediaStream_S *pstStream = stLock.pstStream;
    if (s32Code == 0 && rtspSetupTrack(pstStream, pszUri, &stSetup.u32Track) < 0) {
        Debug_LogLimited(&s_stLimitUri, "[%s]: rtsp urlpath:%s err\n", log_Time(), pszUri);
        s32Code = 461;
    }
    if (s32Code == 0)
        s32Code = u32Num ? rtspSetupCheck(pstReq, &pastTransport[0], &stSetup) : 461;
    if (s32Code == 0)
        s32Code = rtspSetupPayload(pstStream, &stSetup);
    RtspSession_S *pstSession = nullptr;
    if (s32Code == 0 && pszSession) {
        pstSession = rtspFindSession(pstStream, pszSession);
        if (pstSession && !rtspOwnsSession(pstSession, pstReq))
            pstSession = nullptr;   // to others it does not exist
        if (pstSession == nullptr)
            s32Code = 454;
        else if (pstSession->u32Delivery != stSetup.u32Delivery || pstSession->u32Transport != stSetup.u32Transport)
            s32Code = 461;
    }
    if (s32Code != 0) {
        rtsp_server_reply(pstReq, s32Code);
        return;
    }
    bool bNew = pstSession == nullptr;
    if (bNew) {
        pstSession = rtspNewSession(pstStream, pstReq, &s32Code);
        if (pstSession == nullptr) {
            rtsp_server_reply(pstReq, s32Code);
            return;
        }
        pstSession->u32Delivery = stSetup.u32Delivery;
        pstSession->u32Transport = stSetup.u32Transport;
        s32Code = rtspSetupAddresses(pstSession, pstReq, &pastTransport[0]);
    }
    if (s32Code == 0) {
        std::lock_guard<std::mutex> lk(pstSession->mtx);
        s32Code = rtspSetupTrackOn(pstSession, &stSetup);
        if (s32Code == 0) {
            RtspTrack_S *pstTrack = &pstSession->astTrack[stSetup.u32Track];
            pstTrack->bSetup = 1;
            pstTrack->u32Ssrc = pastTransport[0].bSsrc ? pastTransport[0].u32Ssrc : 0;
            pstSession->u32State = RTSP_SESSION_READY;
            pstStream->au32Clock[stSetup.u32Track] = stSetup.u32Clock;
        }
    }
    if (s32Code != 0) {
        if (bNew)
            rtspEndSession(pstSession);
        rtsp_server_reply(pstReq, s32Code);
        return;
    }
    rtsp_server_reply_setup(pstReq, 200, pstSession->azSessionId, stSetup.azTransport);
}
