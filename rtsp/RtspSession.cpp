// Sessions: their ids and their end, PLAY, PAUSE, TEARDOWN and the close
// of a control connection.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "core/Debug.h"
#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/RtpSocket.h"
#include "rtsplib/include/Time64.h"

// An RTP-Info entry of each track, a URI within RTSP_MAX_URI: never cut.
#define RTSP_RTP_INFO_TEXT (MEDIA_TRACKS * (RTSP_MAX_URI + 64))

// A random 32-bit number; the clock stands in when the kernel's pool
// cannot be read, as ids are checked for uniqueness anyway.
static u32 rtspRandom(void)
{
    static std::atomic<u32> s_u32Draw{0};
    u32 u32Value = 0;
    s32 s32Fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    bool bOk = s32Fd >= 0 && read(s32Fd, &u32Value, sizeof(u32Value)) == (ssize_t)sizeof(u32Value);
    if (s32Fd >= 0)
        close(s32Fd);
    if (!bOk) {
        Debug_Log("[%s]: %s: /dev/urandom: %s\n", log_Time(), __func__, strerror(errno));
        struct timespec stTs;
        clock_gettime(CLOCK_MONOTONIC, &stTs);
        u32Value = (u32)stTs.tv_nsec * 2654435761u ^ (u32)stTs.tv_sec ^ s_u32Draw.fetch_add(0x9E3779B9u);
    }
    return u32Value;
}

// Whether a new session for pvOwner from pszPeer would be one too many of
// that owner (the connection, or for one set up over UDP the address) or
// of that address, counted in every stream. Every change to the session
// lists holds the service lock, which the caller holds, so the counts are
// those of the sessions alive.
static bool rtspPeerFull(RtspService_S *pstService, void *pvOwner, const char *pszPeer)
{
    u32 u32Owner = 0, u32Peer = 0;
    for (RtspMediaStream_S *pstStream = pstService->pstStreams; pstStream; pstStream = pstStream->pstNext) {
        for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstSession->pstNext) {
            bool bPeer = strcmp(pstSession->azPeer, pszPeer) == 0;
            u32Peer += bPeer;
            u32Owner += pstSession->pvOwner == pvOwner && (pvOwner || bPeer);
        }
    }
    return u32Owner >= RTSP_OWNER_SESSIONS || u32Peer >= RTSP_PEER_SESSIONS;
}

RtspSession_S *rtspNewSession(RtspMediaStream_S *pstStream, RtspServerReq_S *pstReq, s32 *ps32Code)
{
    static DebugLimit_S s_stLimit;
    RtspService_S *pstService = pstStream->pstService;
    void *pvOwner = rtsp_server_get_connection(pstReq);
    char azPeer[RTSP_ADDRESS_TEXT];
    u16 u16Port;
    *ps32Code = 500;
    if (rtsp_server_get_client(pstReq, azPeer, &u16Port) < 0)
        return nullptr;
    // Half the descriptors are for sessions' sockets, up to four each; those
    // set up over UDP, which anybody can ask for with a datagram, get an eighth.
    u32 u32Max = rtsp_server_fd_budget() / 2;
    if (pstService->u32Sessions >= u32Max || (pvOwner == nullptr && pstService->u32Ownerless >= u32Max / 8) ||
        rtspPeerFull(pstService, pvOwner, azPeer)) {
        Debug_LogLimited(&s_stLimit, "[%s]: %s: no session for %s:%u: %u open, %u over UDP\n", log_Time(), __func__,
                         azPeer, u16Port, pstService->u32Sessions, pstService->u32Ownerless);
        *ps32Code = 453;
        return nullptr;
    }
    RtspSession_S *pstSession = new (std::nothrow) RtspSession_S();
    if (pstSession == nullptr) {
        Debug_Log("[%s]: malloc err!\n", log_Time());
        return nullptr;
    }
    pstSession->pvOwner = pvOwner;
    memcpy(pstSession->azPeer, azPeer, sizeof(azPeer));
    pstSession->u64SeenMs = time64_monotonic();
    pstService->u32Sessions++;
    if (pvOwner == nullptr)
        pstService->u32Ownerless++;
    do {
        snprintf(pstSession->azSessionId, sizeof(pstSession->azSessionId), "%u", rtspRandom());
    } while (rtspFindSession(pstStream, pstSession->azSessionId) != nullptr);
    for (RtspTrack_S &stTrack : pstSession->astTrack) {
        stTrack.s32RtpSocket = -1;
        stTrack.s32RtcpSocket = -1;
    }
    pstSession->pstStream = pstStream;
    pstSession->pstNext = pstStream->pstSessions;
    pstStream->pstSessions = pstSession;
    return pstSession;
}

void rtspEndSession(RtspSession_S *pstSession)
{
    RtspMediaStream_S *pstStream = pstSession->pstStream;
    {
        std::lock_guard<std::mutex> lk(pstSession->mtx);
        if (pstSession->u32Delivery == RTSP_DELIVERY_MULTICAST) {
            rtspLeaveGroup(pstSession);
        } else if (pstSession->pvSource) {
            (void)pstSession->pstFunc->pfnPause(pstSession->pvSource);   // cannot fail
            pstSession->pstFunc->pfnDestroy(pstSession->pvSource);
            pstSession->pvSource = nullptr;
        }
        for (RtspTrack_S &stTrack : pstSession->astTrack) {
            pstStream->pstService->u32Sockets -= (stTrack.s32RtpSocket >= 0) + (stTrack.s32RtcpSocket >= 0);
            rtp_socket_close(stTrack.s32RtpSocket);
            rtp_socket_close(stTrack.s32RtcpSocket);
            stTrack.s32RtpSocket = stTrack.s32RtcpSocket = -1;
        }
    }
    pstStream->pstService->u32Sessions--;
    if (pstSession->pvOwner == nullptr)
        pstStream->pstService->u32Ownerless--;
    for (RtspSession_S **ppst = &pstStream->pstSessions; *ppst; ppst = &(*ppst)->pstNext) {
        if (*ppst == pstSession) {
            *ppst = pstSession->pstNext;
            break;
        }
    }
    delete pstSession;
}

bool rtspOwnsSession(RtspSession_S *pstSession, RtspServerReq_S *pstReq)
{
    char azPeer[RTSP_ADDRESS_TEXT];
    u16 u16Port;
    bool bOwns = pstSession->pvOwner ? rtsp_server_get_connection(pstReq) == pstSession->pvOwner
                                     : rtsp_server_get_client(pstReq, azPeer, &u16Port) == 0 &&
                                           strcmp(azPeer, pstSession->azPeer) == 0;
    if (bOwns)
        pstSession->u64SeenMs = time64_monotonic();
    return bOwns;
}

// The session a request names, ready or playing, with its stream locked;
// null when the refusal has been answered.
static RtspSession_S *rtspRequestSession(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri,
                                         const char *pszSession, RtspStreamLock_S *pstLock)
{
    s32 s32Code = rtspLockPlayableStream(pvParam, pszUri, pstLock);
    RtspSession_S *pstSession = s32Code == 0 ? rtspFindSession(pstLock->pstStream, pszSession) : nullptr;
    if (pstSession && !rtspOwnsSession(pstSession, pstReq))
        pstSession = nullptr;   // to others it does not exist
    if (s32Code == 0 && pstSession == nullptr)
        s32Code = 454;
    else if (pstSession && pstSession->u32State != RTSP_SESSION_READY && pstSession->u32State != RTSP_SESSION_PLAYING)
        s32Code = 455;
    if (s32Code != 0) {
        rtsp_server_reply(pstReq, s32Code);
        return nullptr;
    }
    return pstSession;
}

// "url=URI/trackN;seq=S;rtptime=T" for each track the session set up,
// into pstInfo. The time is that of the stream's last frame, which the
// next packets follow. Caller holds the stream and session locks.
static void rtspRtpInfo(RtspSession_S *pstSession, const char *pszUri, RtspText_S *pstInfo)
{
    RtspMediaStream_S *pstStream = pstSession->pstStream;
    for (u32 u32Track = 0; u32Track < MEDIA_TRACKS; u32Track++) {
        u16 u16Seq;
        u32 u32Time;
        if (!pstSession->astTrack[u32Track].bSetup ||
            pstSession->pstFunc->pfnGetRtpInfo(pstSession->pvSource, u32Track, &u16Seq, &u32Time) < 0)
            continue;
        if (pstStream->au64LastPts[u32Track] != 0)
            u32Time = rtp_time(pstStream->au64LastPts[u32Track], pstStream->au32Clock[u32Track]);
        rtspTextAdd(pstInfo, "%surl=%s/track%u;seq=%u;rtptime=%u", pstInfo->u32Len ? "," : "", pszUri, u32Track + 1,
                    (unsigned)u16Seq, u32Time);
    }
}

void rtspOnPlay(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                const s64 *ps64Start, const s64 *ps64End, const double *pdScale)
{
    (void)ps64Start;   // a live stream plays from now at its own pace
    (void)ps64End;
    (void)pdScale;
    RtspStreamLock_S stLock;
    RtspSession_S *pstSession = rtspRequestSession(pvParam, pstReq, pszUri, pszSession, &stLock);
    if (pstSession == nullptr)
        return;
    RtspMediaStream_S *pstStream = stLock.pstStream;
    char azInfo[RTSP_RTP_INFO_TEXT];
    RtspText_S stInfo;
    rtspTextInit(&stInfo, azInfo, sizeof(azInfo));
    {
        std::lock_guard<std::mutex> lk(pstSession->mtx);
        if (pstSession->u32Delivery == RTSP_DELIVERY_MULTICAST) {
            if (rtspPlayGroup(pstSession) < 0) {
                Debug_Log("[%s]: pstMediaStream->pstMulticast %p\n", log_Time(), (void *)pstStream->pstMulticast);
                rtsp_server_reply(pstReq, 454);
                return;
            }
        } else {
            (void)pstSession->pstFunc->pfnPlay(pstSession->pvSource);   // cannot fail
        }
        rtspRtpInfo(pstSession, pszUri, &stInfo);
        RtspMediaVideoAttr_S *pstVideo = &pstStream->stAttr.stVideo;
        if (pstVideo->bVideoEnable && pstVideo->pfnRequestIdr(pstVideo) < 0)
            Debug_Log("[%s]: %s: no key frame could be asked for\n", log_Time(), __func__);
        pstSession->u32State = RTSP_SESSION_PLAYING;
        pstSession->bWaitKey = 1;
    }
    rtsp_server_reply_play(pstReq, 200, nullptr, nullptr, stInfo.u32Len ? azInfo : nullptr);
}

void rtspOnPause(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                 const s64 *ps64Start)
{
    (void)ps64Start;   // a live stream pauses now
    RtspStreamLock_S stLock;
    RtspSession_S *pstSession = rtspRequestSession(pvParam, pstReq, pszUri, pszSession, &stLock);
    if (pstSession == nullptr)
        return;
    {
        std::lock_guard<std::mutex> lk(pstSession->mtx);
        // A group goes on for its other users.
        if (pstSession->u32Delivery == RTSP_DELIVERY_UNICAST)
            (void)pstSession->pstFunc->pfnPause(pstSession->pvSource);   // cannot fail
        pstSession->u32State = RTSP_SESSION_READY;
        pstSession->bWaitKey = 0;
    }
    rtsp_server_reply_pause(pstReq, 200);
}

void rtspOnTeardown(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession)
{
    RtspStreamLock_S stLock;
    RtspSession_S *pstSession = rtspRequestSession(pvParam, pstReq, pszUri, pszSession, &stLock);
    if (pstSession == nullptr)
        return;
    rtspEndSession(pstSession);
    rtsp_server_reply_teardown(pstReq, 200);
}

void rtspOnClose(void *pvParam, void *pvConnection)
{
    RtspService_S *pstService = rtspLockServer(pvParam);
    if (pstService == nullptr) {
        Debug_Log("[%s]: __get_server err!\n", log_Time());
        return;
    }
    std::lock_guard<std::mutex> lk(pstService->mtx, std::adopt_lock);
    {
        std::lock_guard<std::mutex> lkClose(pstService->mtxClose);
        std::vector<void *> &vecClose = pstService->vecClose;
        vecClose.erase(std::remove(vecClose.begin(), vecClose.end(), pvConnection), vecClose.end());
    }
    for (RtspMediaStream_S *pstStream = pstService->pstStreams; pstStream; pstStream = pstStream->pstNext) {
        std::lock_guard<std::mutex> lkStream(pstStream->mtx);
        RtspSession_S *pstNext;
        for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstNext) {
            pstNext = pstSession->pstNext;
            if (pstSession->pvOwner == pvConnection)
                rtspEndSession(pstSession);
        }
    }
}
