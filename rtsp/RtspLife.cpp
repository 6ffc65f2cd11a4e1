// Session life beyond requests: sessions set up over UDP lapse when their
// client goes quiet, connections that play nothing are closed when idle,
// and players whose sessions a stop ends are told so at once.
#include <arpa/inet.h>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>

#include "core/Debug.h"
#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/Time64.h"

#define RTCP_RR          201
#define RTCP_BYE         203
#define RTCP_BYE_LEN     16    // an empty receiver report, then the BYE
#define RTSP_DRAIN_MAX   64    // datagrams read from one socket per sweep
#define RTSP_DRAIN_BUF   1500

// An RTCP compound of an empty RR and a BYE for the SSRC.
static void rtspByePacket(u32 u32Ssrc, u8 *pu8)
{
    static const u8 s_au8Head[2][4] = {{0x80, RTCP_RR, 0, 1}, {0x81, RTCP_BYE, 0, 1}};   // 8 bytes each
    for (u32 i = 0; i < 2; i++, pu8 += 8) {
        memcpy(pu8, s_au8Head[i], sizeof(s_au8Head[i]));
        pu8[4] = (u8)(u32Ssrc >> 24);
        pu8[5] = (u8)(u32Ssrc >> 16);
        pu8[6] = (u8)(u32Ssrc >> 8);
        pu8[7] = (u8)u32Ssrc;
    }
}

// Sends the BYE of each unicast track, on the client's RTCP port or its
// interleaved RTCP channel. A BYE that cannot go is only a courtesy lost.
static void rtspSayBye(RtspSession_S *pstSession)
{
    static DebugLimit_S s_stLimit;
    if (pstSession->u32Delivery != RTSP_DELIVERY_UNICAST || pstSession->pvSource == nullptr)
        return;
    for (u32 u32Track = 0; u32Track < MEDIA_TRACKS; u32Track++) {
        const RtspTrack_S *pstTrack = &pstSession->astTrack[u32Track];
        u8 au8Bye[RTCP_BYE_LEN];
        u32 u32Ssrc;
        if (!pstTrack->bSetup || pstSession->pstFunc->pfnGetSsrc(pstSession->pvSource, u32Track, &u32Ssrc) < 0)
            continue;
        rtspByePacket(u32Ssrc, au8Bye);
        s32 s32Err = 0;
        if (pstSession->u32Transport == RTSP_SESSION_TCP) {
            s32Err = rtsp_server_send_interleaved(pstSession->pvOwner, (u8)pstTrack->u16ClientRtcp, au8Bye,
                                                  sizeof(au8Bye));
        } else if (pstTrack->s32RtcpSocket >= 0) {
            struct sockaddr_in stDest;
            memset(&stDest, 0, sizeof(stDest));
            stDest.sin_family = AF_INET;
            stDest.sin_port = htons(pstTrack->u16ClientRtcp);
            if (inet_pton(AF_INET, pstSession->azDestination, &stDest.sin_addr) == 1 &&
                sendto(pstTrack->s32RtcpSocket, au8Bye, sizeof(au8Bye), MSG_DONTWAIT, (struct sockaddr *)&stDest,
                       sizeof(stDest)) < 0)
                s32Err = errno;
        }
        if (s32Err != 0)
            Debug_LogLimited(&s_stLimit, "[%s]: %s: no BYE to %s: %s\n", log_Time(), __func__,
                             pstSession->azDestination, strerror(s32Err));
    }
}

void rtspTellSession(RtspSession_S *pstSession)
{
    RtspService_S *pstService = pstSession->pstStream->pstService;
    rtspSayBye(pstSession);
    if (pstSession->pvOwner) {
        std::lock_guard<std::mutex> lk(pstService->mtxClose);
        std::vector<void *> &vecClose = pstService->vecClose;
        if (std::find(vecClose.begin(), vecClose.end(), pstSession->pvOwner) == vecClose.end())
            vecClose.push_back(pstSession->pvOwner);
        pstService->bClose = true;
    }
    rtspEndSession(pstSession);
}

// Reads what came to the session's sockets; true when RTCP came from its
// client.
static bool rtspHeardFrom(const RtspSession_S *pstSession)
{
    u8 au8Buf[RTSP_DRAIN_BUF];
    struct in_addr stClient;
    bool bHeard = false;
    if (inet_pton(AF_INET, pstSession->azDestination, &stClient) != 1)
        return false;
    for (const RtspTrack_S &stTrack : pstSession->astTrack) {
        for (s32 s32Fd : {stTrack.s32RtpSocket, stTrack.s32RtcpSocket}) {
            for (u32 i = 0; s32Fd >= 0 && i < RTSP_DRAIN_MAX; i++) {
                struct sockaddr_in stFrom;
                socklen_t u32Len = sizeof(stFrom);
                if (recvfrom(s32Fd, au8Buf, sizeof(au8Buf), MSG_DONTWAIT, (struct sockaddr *)&stFrom, &u32Len) < 0)
                    break;   // EAGAIN: drained; an ICMP error is no sign of life either
                if (s32Fd == stTrack.s32RtcpSocket && stFrom.sin_family == AF_INET &&
                    stFrom.sin_addr.s_addr == stClient.s_addr)
                    bHeard = true;
            }
        }
    }
    return bHeard;
}

void rtspExpireSessions(RtspService_S *pstService, u64 u64NowMs)
{
    static DebugLimit_S s_stLimit;
    std::lock_guard<std::mutex> lk(pstService->mtx);
    for (RtspMediaStream_S *pstStream = pstService->pstStreams; pstStream; pstStream = pstStream->pstNext) {
        std::lock_guard<std::mutex> lkStream(pstStream->mtx);
        RtspSession_S *pstNext;
        for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstNext) {
            pstNext = pstSession->pstNext;
            if (pstSession->pvOwner)
                continue;   // lives with its connection
            if (rtspHeardFrom(pstSession))
                pstSession->u64SeenMs = u64NowMs;
            if (u64NowMs > pstSession->u64SeenMs && u64NowMs - pstSession->u64SeenMs >= RTSP_SESSION_MS) {
                Debug_LogLimited(&s_stLimit, "[%s]: %s: session %s of %s silent for %d s, ended\n", log_Time(),
                                 __func__, pstSession->azSessionId, pstSession->azPeer, RTSP_SESSION_MS / 1000);
                rtspEndSession(pstSession);
            }
        }
    }
}

void rtspOnAlive(void *pvParam, RtspServerReq_S *pstReq, const char *pszSession)
{
    RtspService_S *pstService = rtspLockServer(pvParam);
    if (pstService == nullptr)
        return;   // the request's own handling answers for a missing service
    std::lock_guard<std::mutex> lk(pstService->mtx, std::adopt_lock);
    for (RtspMediaStream_S *pstStream = pstService->pstStreams; pstStream; pstStream = pstStream->pstNext) {
        std::lock_guard<std::mutex> lkStream(pstStream->mtx);
        RtspSession_S *pstSession = rtspFindSession(pstStream, pszSession);
        if (pstSession)
            (void)rtspOwnsSession(pstSession, pstReq);   // notes the sign of life; others' requests are none
    }
}

bool rtspOnBusy(void *pvParam, void *pvConnection)
{
    RtspService_S *pstService = rtspLockServer(pvParam);
    if (pstService == nullptr)
        return false;
    std::lock_guard<std::mutex> lk(pstService->mtx, std::adopt_lock);
    for (RtspMediaStream_S *pstStream = pstService->pstStreams; pstStream; pstStream = pstStream->pstNext) {
        std::lock_guard<std::mutex> lkStream(pstStream->mtx);
        for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstSession->pstNext) {
            if (pstSession->pvOwner == pvConnection && pstSession->u32State == RTSP_SESSION_PLAYING)
                return true;
        }
    }
    return false;
}

void rtspTick(RtspService_S *pstService)
{
    if (pstService->bClose.exchange(false)) {
        std::vector<void *> vecClose;
        {
            std::lock_guard<std::mutex> lk(pstService->mtxClose);
            vecClose.swap(pstService->vecClose);
        }
        // Each is open still: a connection's close takes it off the list
        // on this thread first.
        for (void *pvConnection : vecClose)
            rtsp_server_close(pvConnection);
    }
    u64 u64Now = time64_monotonic();
    if (u64Now < pstService->u64SweepMs)
        return;
    pstService->u64SweepMs = u64Now + RTSP_SWEEP_MS;
    rtsp_server_sweep(pstService->pstServer, u64Now);
    rtspExpireSessions(pstService, u64Now);
}
