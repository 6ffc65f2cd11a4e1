#include "rtsplib/include/RtspServerCore.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <new>
#include <strings.h>
#include <sys/resource.h>
#include <unistd.h>
#include <unordered_map>

#include "core/Debug.h"
#include "rtsplib/include/Time64.h"
#include "rtsplib/src/rtsp/RtspParser.h"
#include "rtsplib/src/socket/AioTcpTransport.h"
#include "rtsplib/src/socket/AioUdpTransport.h"

#define RTSP_KEEPALIVE_IDLE  5      // s before the first probe
#define RTSP_KEEPALIVE_INTVL 5      // s between probes
#define RTSP_KEEPALIVE_CNT   1
#define RTSP_UDP_RCVBUF      0x500000
#define RTSP_CSEQ_UNSET      0xFFFFFFFFu
#define RTSP_CSEQ_MAX        32     // longest CSeq text echoed; a longer one gets no CSeq line

struct RtspServerTransport_S {
    s32 (*pfnSendv)(RtspServerReq_S *pstReq, const struct iovec *pstVec, s32 s32Num);
};

struct RtspServer_S {
    RtspServerHandler_S stHandler;
    void *pvParam;
    RtspServerCloseProc *pfnOnClose;
    RtspServerBusyProc *pfnBusy;
    RtspServerAliveProc *pfnAlive;
    AioTcpTransport_S *pstTcp;
    AioUdpTransport_S *pstUdp;
    std::atomic<u32> u32Connections;
    RtspServerReq_S *pstConnections;    // open control connections; reactor thread
    // Open control connections per IPv4 address (network order), only
    // addresses holding one: at most as many entries as connections.
    // Reactor thread.
    std::unordered_map<u32, u32> mapPeers;
    DebugLimit_S stPlayerLimit;         // players connecting and leaving
};

// One per TCP connection (created with it, reused for each request) or per
// UDP datagram.
struct RtspServerReq_S {
    RtspServer_S *pstServer;
    const RtspServerTransport_S *pstTransport;
    struct sockaddr_storage stPeer;
    socklen_t u32PeerLen;
    void *pvConnection;                 // this record for TCP, null for UDP
    AioTcpSession_S *pstTcpSession;     // TCP
    AioUdpTransport_S *pstUdp;          // UDP
    struct in_addr stLocal;             // UDP: the box's address the datagram came to; 0: not told
    RtspParser_S *pstParser;
    char azCSeq[RTSP_CSEQ_MAX + 9];     // "CSeq: text\r\n" the replies carry, or empty
    bool bSendFailed;                   // a reply was lost: close the connection
    bool bRequested;                    // a whole request came (TCP)
    u64 u64LastMs;                      // time64_monotonic of the last whole request, or of the accept
    u64 u64PartMs;                      // since when part of a request waits; 0: none
    RtspServerReq_S *pstPrev, *pstNext; // in the server's connections
    char azReply[RTSP_REPLY_SIZE];
};

typedef s32 RtspMethodProc(RtspServerReq_S *pstReq, const char *pszUri);

struct RtspServerMethod_S {
    const char *pszName;
    RtspMethodProc *pfnProc;
};

char g_azUserAgent[128];

// Causes of messages that peers can repeat at will.
static DebugLimit_S s_stLimitRefused, s_stLimitSend, s_stLimitFull, s_stLimitPeer, s_stLimitMemory;

static s32 RtspServer_TcpSendv(RtspServerReq_S *pstReq, const struct iovec *pstVec, s32 s32Num)
{
    return aio_tcp_transport_sendv(pstReq->pstTcpSession, pstVec, s32Num);
}

static s32 RtspServer_UdpSendv(RtspServerReq_S *pstReq, const struct iovec *pstVec, s32 s32Num)
{
    return aio_udp_transport_sendv(pstReq->pstUdp, (const struct sockaddr *)&pstReq->stPeer, pstReq->u32PeerLen,
                                   pstVec, s32Num);
}

static const RtspServerTransport_S s_stTcpTransport = {RtspServer_TcpSendv};
static const RtspServerTransport_S s_stUdpTransport = {RtspServer_UdpSendv};

static s32 RtspServer_Sendv(RtspServerReq_S *pstReq, const struct iovec *pstVec, s32 s32Num)
{
    s32 s32Ret = pstReq->pstTransport->pfnSendv(pstReq, pstVec, s32Num);
    if (s32Ret != 0) {
        Debug_LogLimited(&s_stLimitSend, "[%s]: %s: reply not sent: %s\n", log_Time(), __func__, strerror(s32Ret));
        pstReq->bSendFailed = true;
        return -1;
    }
    return 0;
}

// Formats a reply into the request's buffer and sends it; a reply that
// does not fit becomes a 500.
static s32 RtspServer_SendFormat(RtspServerReq_S *pstReq, const char *pszFmt, ...)
    __attribute__((format(printf, 2, 3)));
static s32 RtspServer_SendFormat(RtspServerReq_S *pstReq, const char *pszFmt, ...)
{
    va_list ap;
    va_start(ap, pszFmt);
    s32 n = vsnprintf(pstReq->azReply, sizeof(pstReq->azReply), pszFmt, ap);
    va_end(ap);
    if (n < 0 || n >= (s32)sizeof(pstReq->azReply)) {
        static DebugLimit_S s_stLimit;   // what a request echoes makes it long
        Debug_LogLimited(&s_stLimit, "[%s]: %s: reply of %d bytes does not fit\n", log_Time(), __func__, n);
        rtsp_server_reply(pstReq, 500);
        return -1;
    }
    struct iovec stVec = {pstReq->azReply, (size_t)n};
    return RtspServer_Sendv(pstReq, &stVec, 1);
}

static const char *RtspServer_Date(char *pszDate)
{
    if (datetime_format(time(nullptr), pszDate) < 0)
        Debug_Log("[%s]: %s: the clock cannot be formatted\n", log_Time(), __func__);
    return pszDate;
}

s32 rtsp_server_reply(RtspServerReq_S *pstReq, s32 s32Code)
{
    char azDate[DATETIME_TEXT_LEN];
    return RtspServer_SendFormat(pstReq, "RTSP/1.0 %d %s\r\n%sDate: %s\r\n\r\n", s32Code,
                                 rtsp_reason_phrase(s32Code), pstReq->azCSeq, RtspServer_Date(azDate));
}

// The SDP goes as a second piece, so that it may be longer than the
// reply buffer.
s32 rtsp_server_reply_describe(RtspServerReq_S *pstReq, s32 s32Code, const char *pszSdp)
{
    char azDate[DATETIME_TEXT_LEN];
    if (s32Code != 200)
        return rtsp_server_reply(pstReq, s32Code);
    size_t sdpLen = strlen(pszSdp);
    if (sdpLen > RTSP_SDP_MAX) {
        Debug_Log("[%s]: %s: SDP of %zu bytes does not fit\n", log_Time(), __func__, sdpLen);
        return rtsp_server_reply(pstReq, 500);
    }
    s32 n = snprintf(pstReq->azReply, sizeof(pstReq->azReply),
                     "RTSP/1.0 200 OK\r\n%sDate: %s\r\nContent-Type: application/sdp\r\n"
                     "Content-Length: %u\r\n\r\n",
                     pstReq->azCSeq, RtspServer_Date(azDate), (u32)sdpLen);
    struct iovec astVec[2] = {{pstReq->azReply, (size_t)n}, {(void *)pszSdp, sdpLen}};
    return RtspServer_Sendv(pstReq, astVec, 2);
}

s32 rtsp_server_reply_setup(RtspServerReq_S *pstReq, s32 s32Code, const char *pszSession, const char *pszTransport)
{
    char azDate[DATETIME_TEXT_LEN];
    if (s32Code != 200)
        return rtsp_server_reply(pstReq, s32Code);
    return RtspServer_SendFormat(pstReq,
                                 "RTSP/1.0 200 OK\r\n%sDate: %s\r\nSession: %s\r\nTransport: %s\r\n\r\n",
                                 pstReq->azCSeq, RtspServer_Date(azDate), pszSession, pszTransport);
}

s32 rtsp_server_reply_play(RtspServerReq_S *pstReq, s32 s32Code, const s64 *ps64Start, const s64 *ps64End,
                           const char *pszRtpInfo)
{
    char azDate[DATETIME_TEXT_LEN];
    char azRange[80] = "";
    char azRtpInfo[RTSP_REPLY_SIZE] = "";
    if (s32Code != 200)
        return rtsp_server_reply(pstReq, s32Code);
    if (ps64Start && ps64End)
        snprintf(azRange, sizeof(azRange), "Range: %.3f-%.3f\r\n", *ps64Start / 1000.0, *ps64End / 1000.0);
    else if (ps64Start)
        snprintf(azRange, sizeof(azRange), "Range: %.3f-\r\n", *ps64Start / 1000.0);
    // Cut here, the whole reply no longer fits and becomes a 500.
    if (pszRtpInfo)
        snprintf(azRtpInfo, sizeof(azRtpInfo), "RTP-Info: %s\r\n", pszRtpInfo);
    return RtspServer_SendFormat(pstReq, "RTSP/1.0 200 OK\r\n%sDate: %s\r\n%s%s\r\n", pstReq->azCSeq,
                                 RtspServer_Date(azDate), azRange, azRtpInfo);
}

s32 rtsp_server_reply_pause(RtspServerReq_S *pstReq, s32 s32Code)
{
    return rtsp_server_reply(pstReq, s32Code);
}

s32 rtsp_server_reply_teardown(RtspServerReq_S *pstReq, s32 s32Code)
{
    return rtsp_server_reply(pstReq, s32Code);
}

static s32 RtspServer_OnOptions(RtspServerReq_S *pstReq, const char *pszUri)
{
    (void)pszUri;   // the server answers for all its streams alike
    return RtspServer_SendFormat(pstReq, "RTSP/1.0 200 OK\r\n%sPublic: %s\r\n\r\n", pstReq->azCSeq,
                                 RTSP_PUBLIC_METHODS);
}

static s32 RtspServer_OnDescribe(RtspServerReq_S *pstReq, const char *pszUri)
{
    RtspServer_S *pstServer = pstReq->pstServer;
    if (pstServer->stHandler.pfnDescribe == nullptr)
        return rtsp_server_reply(pstReq, 501);
    pstServer->stHandler.pfnDescribe(pstServer->pvParam, pstReq, pszUri);
    return 0;
}

static s32 RtspServer_OnSetup(RtspServerReq_S *pstReq, const char *pszUri)
{
    RtspServer_S *pstServer = pstReq->pstServer;
    RtspHeaderTransport_S astTransport[RTSP_TRANSPORT_MAX];
    RtspHeaderSession_S stSession;
    const char *pszTransport = rtsp_get_header_by_name(pstReq->pstParser, "Transport");
    const char *pszSession = rtsp_get_header_by_name(pstReq->pstParser, "Session");
    if (pstServer->stHandler.pfnSetup == nullptr)
        return rtsp_server_reply(pstReq, 501);
    s32 s32Num = pszTransport ? rtsp_header_transport(pszTransport, astTransport, RTSP_TRANSPORT_MAX) : -1;
    if (s32Num < 0)
        return rtsp_server_reply(pstReq, 461);
    if (pszSession && rtsp_header_session(pszSession, &stSession) < 0)
        return rtsp_server_reply(pstReq, 454);
    for (s32 i = 0; i < s32Num; i++)
        astTransport[i].pvOwner = pstReq->pvConnection;
    pstServer->stHandler.pfnSetup(pstServer->pvParam, pstReq, pszUri, pszSession ? stSession.azSession : nullptr,
                                  astTransport, (u32)s32Num);
    return 0;
}

// The Session header every method after SETUP needs; -1 when it is
// missing or unreadable (the 454 has been sent).
static s32 RtspServer_Session(RtspServerReq_S *pstReq, RtspHeaderSession_S *pstSession)
{
    const char *pszSession = rtsp_get_header_by_name(pstReq->pstParser, "Session");
    if (pszSession == nullptr || rtsp_header_session(pszSession, pstSession) < 0) {
        rtsp_server_reply(pstReq, 454);
        return -1;
    }
    return 0;
}

static s32 RtspServer_OnPlay(RtspServerReq_S *pstReq, const char *pszUri)
{
    RtspServer_S *pstServer = pstReq->pstServer;
    RtspHeaderSession_S stSession;
    RtspHeaderRange_S stRange;
    const char *pszScale = rtsp_get_header_by_name(pstReq->pstParser, "Scale");
    const char *pszRange = rtsp_get_header_by_name(pstReq->pstParser, "Range");
    s64 s64Start, s64End;
    double dScale = 0;
    const s64 *ps64Start = nullptr, *ps64End = nullptr;
    const double *pdScale = nullptr;
    if (pstServer->stHandler.pfnPlay == nullptr)
        return rtsp_server_reply(pstReq, 501);
    if (RtspServer_Session(pstReq, &stSession) < 0)
        return 0;
    if (pszScale) {
        char *pszEnd;
        dScale = strtod(pszScale, &pszEnd);
        if (pszEnd != pszScale && *pszEnd == '\0' && std::isfinite(dScale))
            pdScale = &dScale;
    }
    if (pszRange && rtsp_header_range(pszRange, &stRange) == 0) {
        s64Start = (s64)stRange.u64From;
        s64End = (s64)stRange.u64To;
        ps64Start = stRange.enFrom == RTSP_RANGE_TIME_NORMAL ? &s64Start : nullptr;
        ps64End = stRange.enTo == RTSP_RANGE_TIME_NORMAL ? &s64End : nullptr;
    }
    pstServer->stHandler.pfnPlay(pstServer->pvParam, pstReq, pszUri, stSession.azSession, ps64Start, ps64End,
                                 pdScale);
    return 0;
}

static s32 RtspServer_OnPause(RtspServerReq_S *pstReq, const char *pszUri)
{
    RtspServer_S *pstServer = pstReq->pstServer;
    RtspHeaderSession_S stSession;
    RtspHeaderRange_S stRange;
    const char *pszRange = rtsp_get_header_by_name(pstReq->pstParser, "Range");
    s64 s64Start;
    const s64 *ps64Start = nullptr;
    if (pstServer->stHandler.pfnPause == nullptr)
        return rtsp_server_reply(pstReq, 501);
    if (RtspServer_Session(pstReq, &stSession) < 0)
        return 0;
    if (pszRange) {
        // Pausing takes a point to pause at: an open NPT range only.
        if (rtsp_header_range(pszRange, &stRange) < 0 || stRange.enType != RTSP_RANGE_NPT ||
            stRange.enTo != RTSP_RANGE_TIME_NOVALUE)
            return rtsp_server_reply(pstReq, 457);
        s64Start = (s64)stRange.u64From;
        ps64Start = stRange.enFrom == RTSP_RANGE_TIME_NORMAL ? &s64Start : nullptr;
    }
    pstServer->stHandler.pfnPause(pstServer->pvParam, pstReq, pszUri, stSession.azSession, ps64Start);
    return 0;
}

static s32 RtspServer_OnTeardown(RtspServerReq_S *pstReq, const char *pszUri)
{
    RtspServer_S *pstServer = pstReq->pstServer;
    RtspHeaderSession_S stSession;
    if (pstServer->stHandler.pfnTeardown == nullptr)
        return rtsp_server_reply(pstReq, 501);
    if (RtspServer_Session(pstReq, &stSession) < 0)
        return 0;
    pstServer->stHandler.pfnTeardown(pstServer->pvParam, pstReq, pszUri, stSession.azSession);
    return 0;
}

static const RtspServerMethod_S s_astMethod[] = {
    {"OPTIONS", RtspServer_OnOptions}, {"DESCRIBE", RtspServer_OnDescribe}, {"SETUP", RtspServer_OnSetup},
    {"PLAY", RtspServer_OnPlay},       {"PAUSE", RtspServer_OnPause},       {"TEARDOWN", RtspServer_OnTeardown},
};

// The CSeq line of the request's replies. A client matches its replies by
// its own text, so that is echoed whether or not it reads as a number,
// and no number it did not send is made up. A request without CSeq keeps
// the unset number; an empty text, or one longer than any counter, gets
// no line. The text goes into the reply's head: no CR or LF may pass,
// whatever the parser lets through.
static void RtspServer_TakeCSeq(RtspServerReq_S *pstReq)
{
    const char *pszCSeq = rtsp_get_header_by_name(pstReq->pstParser, "CSeq");
    size_t len = pszCSeq ? strlen(pszCSeq) : 0;
    if (pszCSeq == nullptr)
        snprintf(pstReq->azCSeq, sizeof(pstReq->azCSeq), "CSeq: %u\r\n", RTSP_CSEQ_UNSET);
    else if (len > 0 && len <= RTSP_CSEQ_MAX && strpbrk(pszCSeq, "\r\n") == nullptr)
        snprintf(pstReq->azCSeq, sizeof(pstReq->azCSeq), "CSeq: %s\r\n", pszCSeq);
    else
        pstReq->azCSeq[0] = '\0';
}

// Tells the service of a request that names a session.
static void RtspServer_Alive(RtspServerReq_S *pstReq)
{
    RtspServer_S *pstServer = pstReq->pstServer;
    RtspHeaderSession_S stSession;
    const char *pszSession = rtsp_get_header_by_name(pstReq->pstParser, "Session");
    if (pstServer->pfnAlive && pszSession && rtsp_header_session(pszSession, &stSession) == 0)
        pstServer->pfnAlive(pstServer->pvParam, pstReq, stSession.azSession);
}

// Checks and dispatches one whole request. -1 when the connection must
// close after the reply.
static s32 RtspServer_Handle(RtspServerReq_S *pstReq)
{
    RtspParser_S *pstParser = pstReq->pstParser;
    const char *pszUri = rtsp_get_request_uri(pstParser);
    const char *pszAgent = rtsp_get_header_by_name(pstParser, "User-Agent");
    s32 s32Major, s32Minor;
    u32 u32CSeq;
    s32 s32CSeq = rtsp_get_header_by_name2(pstParser, "CSeq", &u32CSeq);
    RtspServer_TakeCSeq(pstReq);
    rtsp_get_version(pstParser, &s32Major, &s32Minor);
    RtspServer_Alive(pstReq);
    if (s32Major != 1)
        return rtsp_server_reply(pstReq, 505);
    if (s32CSeq < 0)
        return rtsp_server_reply(pstReq, 400);
    if (strlen(pszUri) > RTSP_MAX_URI)
        return rtsp_server_reply(pstReq, 414);
    if (g_azUserAgent[0] != '\0' && pszAgent != nullptr && strstr(pszAgent, g_azUserAgent) == nullptr)
        return rtsp_server_reply(pstReq, 400);
    for (const RtspServerMethod_S &stMethod : s_astMethod) {
        if (strcasecmp(stMethod.pszName, rtsp_get_request_method(pstParser)) == 0)
            return stMethod.pfnProc(pstReq, pszUri);
    }
    return rtsp_server_reply(pstReq, 501);
}

// A message the parser refused: 400, with the client's CSeq text.
static void RtspServer_Refuse(RtspServerReq_S *pstReq, s32 s32Error)
{
    Debug_LogLimited(&s_stLimitRefused, "[%s]: %s: request refused: %s\n", log_Time(), __func__,
                     strerror(-s32Error));
    RtspServer_TakeCSeq(pstReq);
    rtsp_server_reply(pstReq, 400);
}

static RtspServerReq_S *RtspServer_NewReq(RtspServer_S *pstServer, const struct sockaddr *pstAddr,
                                          socklen_t u32AddrLen)
{
    RtspServerReq_S *pstReq = new (std::nothrow) RtspServerReq_S();
    if (pstReq == nullptr || u32AddrLen > sizeof(pstReq->stPeer) ||
        (pstReq->pstParser = rtsp_parser_create(RTSP_PARSER_REQUEST)) == nullptr) {
        Debug_LogLimited(&s_stLimitMemory, "[%s]: %s: out of memory\n", log_Time(), __func__);
        delete pstReq;
        return nullptr;
    }
    pstReq->pstServer = pstServer;
    memcpy(&pstReq->stPeer, pstAddr, u32AddrLen);
    pstReq->u32PeerLen = u32AddrLen;
    return pstReq;
}

static void RtspServer_FreeReq(RtspServerReq_S *pstReq)
{
    rtsp_parser_destroy(pstReq->pstParser);
    delete pstReq;
}

static s32 RtspServer_AddrText(const struct sockaddr_storage *pstAddr, char *pszIp, u16 *pu16Port);

// "player A.B.C.D:P connected" or "... left": players come and go at
// their will, so the lines are rate-limited; the sweep tells the number
// of connections after lines were dropped.
static void RtspServer_LogPlayer(const RtspServerReq_S *pstReq, const char *pszWhat)
{
    char azIp[RTSP_ADDRESS_TEXT] = "?";
    u16 u16Port = 0;
    (void)RtspServer_AddrText(&pstReq->stPeer, azIp, &u16Port);   // an address it cannot print shows as "?"
    Debug_LogLimited(&pstReq->pstServer->stPlayerLimit, "[%s]: RTSP player %s:%u %s, %u connections\n", log_Time(),
                     azIp, u16Port, pszWhat, pstReq->pstServer->u32Connections.load());
}

// The key of a peer in mapPeers: its IPv4 address. The listener is IPv4
// only; anything else would share key 0.
static u32 RtspServer_PeerKey(const struct sockaddr *pstAddr)
{
    return pstAddr->sa_family == AF_INET ? ((const struct sockaddr_in *)pstAddr)->sin_addr.s_addr : 0;
}

// Counts one more connection of the peer: 0, or -1 when the table has no
// memory for a new address (it is left as it was).
static s32 RtspServer_PeerAdd(RtspServer_S *pstServer, u32 u32Peer)
{
    try {
        pstServer->mapPeers[u32Peer]++;
    } catch (const std::bad_alloc &) {
        return -1;
    }
    return 0;
}

static void *RtspServer_OnTcpConnected(void *pvParam, AioTcpSession_S *pstSession, const struct sockaddr *pstAddr,
                                       socklen_t u32AddrLen)
{
    RtspServer_S *pstServer = (RtspServer_S *)pvParam;
    if (pstServer->u32Connections >= rtsp_server_fd_budget() / 2) {
        Debug_LogLimited(&s_stLimitFull, "[%s]: %s: %u control connections open, one refused\n", log_Time(),
                         __func__, pstServer->u32Connections.load());
        return nullptr;
    }
    u32 u32Peer = RtspServer_PeerKey(pstAddr);
    auto itPeer = pstServer->mapPeers.find(u32Peer);
    if (itPeer != pstServer->mapPeers.end() && itPeer->second >= RTSP_PEER_CONNECTIONS) {
        char azIp[RTSP_ADDRESS_TEXT] = "?";
        (void)inet_ntop(AF_INET, &u32Peer, azIp, sizeof(azIp));   // cannot fail for IPv4
        Debug_LogLimited(&s_stLimitPeer, "[%s]: %s: %s holds %u control connections, one refused\n", log_Time(),
                         __func__, azIp, itPeer->second);
        return nullptr;
    }
    RtspServerReq_S *pstReq = RtspServer_NewReq(pstServer, pstAddr, u32AddrLen);
    if (pstReq == nullptr)
        return nullptr;
    if (RtspServer_PeerAdd(pstServer, u32Peer) < 0) {
        Debug_LogLimited(&s_stLimitMemory, "[%s]: %s: out of memory, a connection refused\n", log_Time(), __func__);
        RtspServer_FreeReq(pstReq);
        return nullptr;
    }
    pstReq->pstTransport = &s_stTcpTransport;
    pstReq->pstTcpSession = pstSession;
    pstReq->pvConnection = pstReq;
    pstReq->u64LastMs = time64_monotonic();
    pstReq->pstNext = pstServer->pstConnections;
    if (pstReq->pstNext)
        pstReq->pstNext->pstPrev = pstReq;
    pstServer->pstConnections = pstReq;
    pstServer->u32Connections++;
    RtspServer_LogPlayer(pstReq, "connected");
    return pstReq;
}

// Serves every whole request in the bytes received so far, in order.
static s32 RtspServer_OnTcpRecv(void *pvPtr, const void *pvData, size_t bytes)
{
    RtspServerReq_S *pstReq = (RtspServerReq_S *)pvPtr;
    s32 s32Ret = rtsp_parser_input(pstReq->pstParser, pvData, (u32)bytes);
    u64 u64Now = time64_monotonic();
    if (s32Ret == 0) {
        pstReq->bRequested = true;
        pstReq->u64LastMs = u64Now;
        pstReq->u64PartMs = 0;
    }
    while (s32Ret == 0) {
        if (RtspServer_Handle(pstReq) < 0 || pstReq->bSendFailed)
            return -1;
        rtsp_parser_clear(pstReq->pstParser);
        s32Ret = rtsp_parser_input(pstReq->pstParser, nullptr, 0);
    }
    if (pstReq->pstParser->u32Len == 0)
        pstReq->u64PartMs = 0;
    else if (pstReq->u64PartMs == 0)
        pstReq->u64PartMs = u64Now;
    if (s32Ret < 0) {
        RtspServer_Refuse(pstReq, s32Ret);
        return -1;
    }
    return 0;
}

static void RtspServer_OnTcpDisconnect(void *pvPtr)
{
    RtspServerReq_S *pstReq = (RtspServerReq_S *)pvPtr;
    RtspServer_S *pstServer = pstReq->pstServer;
    if (pstServer->pfnOnClose)
        pstServer->pfnOnClose(pstServer->pvParam, pstReq->pvConnection);
    if (pstReq->pstPrev)
        pstReq->pstPrev->pstNext = pstReq->pstNext;
    else
        pstServer->pstConnections = pstReq->pstNext;
    if (pstReq->pstNext)
        pstReq->pstNext->pstPrev = pstReq->pstPrev;
    pstServer->u32Connections--;
    auto itPeer = pstServer->mapPeers.find(RtspServer_PeerKey((const struct sockaddr *)&pstReq->stPeer));
    if (itPeer != pstServer->mapPeers.end() && --itPeer->second == 0)
        pstServer->mapPeers.erase(itPeer);
    RtspServer_LogPlayer(pstReq, "left");
    RtspServer_FreeReq(pstReq);
}

// A datagram must hold one whole request; anything else is dropped, since
// answering garbage from any address would make the box a reflector.
static void RtspServer_OnUdpRecv(void *pvParam, AioUdpTransport_S *pstTransport, const void *pvData, size_t bytes,
                                 const struct sockaddr *pstAddr, socklen_t u32AddrLen, const struct in_addr *pstLocal)
{
    RtspServerReq_S *pstReq = RtspServer_NewReq((RtspServer_S *)pvParam, pstAddr, u32AddrLen);
    if (pstReq == nullptr)
        return;
    pstReq->pstTransport = &s_stUdpTransport;
    pstReq->pstUdp = pstTransport;
    if (pstLocal)
        pstReq->stLocal = *pstLocal;
    aio_udp_transport_addref(pstTransport);
    if (bytes <= RTSP_MAX_INPUT && rtsp_parser_input(pstReq->pstParser, pvData, (u32)bytes) == 0)
        (void)RtspServer_Handle(pstReq);   // a datagram has no connection to close
    aio_udp_transport_release(pstTransport);
    RtspServer_FreeReq(pstReq);
}

// A listening socket of type s32Type on the first IPv4 address that works.
static s32 RtspServer_Listen(const char *pszIp, u16 u16Port, s32 s32Type, s32 s32Backlog)
{
    struct addrinfo stHints, *pstList = nullptr;
    char azPort[8];
    memset(&stHints, 0, sizeof(stHints));
    stHints.ai_family = AF_INET;
    stHints.ai_socktype = s32Type;
    stHints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    snprintf(azPort, sizeof(azPort), "%u", u16Port);
    s32 s32Ret = getaddrinfo(pszIp, azPort, &stHints, &pstList);
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s: getaddrinfo: %s\n", log_Time(), __func__, gai_strerror(s32Ret));
        return -1;
    }
    static const s32 s_s32On = 1, s_s32Idle = RTSP_KEEPALIVE_IDLE, s_s32Intvl = RTSP_KEEPALIVE_INTVL;
    static const s32 s_s32Cnt = RTSP_KEEPALIVE_CNT, s_s32RcvBuf = RTSP_UDP_RCVBUF;
    s32 s32Fd = -1;
    for (struct addrinfo *pst = pstList; pst != nullptr && s32Fd < 0; pst = pst->ai_next) {
        s32Fd = socket(AF_INET, s32Type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (s32Fd < 0) {
            Debug_Log("[%s]: %s: socket: %s\n", log_Time(), __func__, strerror(errno));
            continue;
        }
        bool bOk = true;
        if (setsockopt(s32Fd, SOL_SOCKET, SO_REUSEADDR, &s_s32On, sizeof(s32)) < 0) {
            Debug_Log("[%s]: Reusing ADDR failed\n", log_Time());
            bOk = false;
        }
        if (bOk && s32Type == SOCK_DGRAM && setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s_s32RcvBuf, sizeof(s32)) < 0) {
            Debug_Log("[%s]: SO_RCVBUF failed\n", log_Time());
            bOk = false;
        }
        // Bound to any address, the socket learns from each datagram which
        // of the box's it came to.
        if (bOk && s32Type == SOCK_DGRAM && setsockopt(s32Fd, IPPROTO_IP, IP_PKTINFO, &s_s32On, sizeof(s32)) < 0) {
            Debug_Log("[%s]: %s: IP_PKTINFO: %s\n", log_Time(), __func__, strerror(errno));
            bOk = false;
        }
        if (bOk && s32Type == SOCK_STREAM &&
            (setsockopt(s32Fd, SOL_SOCKET, SO_KEEPALIVE, &s_s32On, sizeof(s32)) < 0 ||
             setsockopt(s32Fd, IPPROTO_TCP, TCP_KEEPIDLE, &s_s32Idle, sizeof(s32)) < 0 ||
             setsockopt(s32Fd, IPPROTO_TCP, TCP_KEEPINTVL, &s_s32Intvl, sizeof(s32)) < 0 ||
             setsockopt(s32Fd, IPPROTO_TCP, TCP_KEEPCNT, &s_s32Cnt, sizeof(s32)) < 0)) {
            Debug_Log("[%s]: %s: keep-alive: %s\n", log_Time(), __func__, strerror(errno));
            bOk = false;
        }
        if (bOk && bind(s32Fd, pst->ai_addr, pst->ai_addrlen) < 0) {
            Debug_Log("[%s]: %s: bind port %u: %s\n", log_Time(), __func__, u16Port, strerror(errno));
            bOk = false;
        }
        if (bOk && s32Type == SOCK_STREAM && listen(s32Fd, s32Backlog < 1 ? 1 : s32Backlog) < 0) {
            Debug_Log("[%s]: %s: listen: %s\n", log_Time(), __func__, strerror(errno));
            bOk = false;
        }
        if (!bOk) {
            close(s32Fd);
            s32Fd = -1;
        }
    }
    freeaddrinfo(pstList);
    return s32Fd;
}

s32 rtsp_server_init(void)
{
    return 0;
}

s32 rtsp_server_cleanup(void)
{
    return 0;
}

RtspServer_S *rtsp_server_create(const char *pszIp, u16 u16Port, const RtspServerHandler_S *pstHandler,
                                 s32 s32Backlog, void *pvParam)
{
    static const AioTcpHandler_S s_stTcpHandler = {RtspServer_OnTcpConnected, RtspServer_OnTcpRecv,
                                                   RtspServer_OnTcpDisconnect};
    static const AioUdpHandler_S s_stUdpHandler = {RtspServer_OnUdpRecv};
    RtspServer_S *pstServer = new (std::nothrow) RtspServer_S();
    if (pstServer == nullptr)
        return nullptr;
    pstServer->stHandler = *pstHandler;
    pstServer->pvParam = pvParam;
    s32 s32Fd = RtspServer_Listen(pszIp, u16Port, SOCK_STREAM, s32Backlog);
    if (s32Fd >= 0)
        pstServer->pstTcp = aio_tcp_transport_create(s32Fd, &s_stTcpHandler, pstServer);
    s32Fd = pstServer->pstTcp ? RtspServer_Listen(pszIp, u16Port, SOCK_DGRAM, 0) : -1;
    if (s32Fd >= 0)
        pstServer->pstUdp = aio_udp_transport_create(s32Fd, &s_stUdpHandler, pstServer);
    if (pstServer->pstUdp == nullptr) {
        rtsp_server_destroy(pstServer);
        return nullptr;
    }
    return pstServer;
}

void rtsp_server_register(RtspServer_S *pstServer, RtspServerCloseProc *pfnOnClose)
{
    pstServer->pfnOnClose = pfnOnClose;
}

void rtsp_server_register_busy(RtspServer_S *pstServer, RtspServerBusyProc *pfnBusy)
{
    pstServer->pfnBusy = pfnBusy;
}

void rtsp_server_register_alive(RtspServer_S *pstServer, RtspServerAliveProc *pfnAlive)
{
    pstServer->pfnAlive = pfnAlive;
}

// Whether the connection has been silent too long for what it holds.
static bool RtspServer_Idle(RtspServer_S *pstServer, RtspServerReq_S *pstReq, u64 u64NowMs)
{
    bool bIdle = u64NowMs - pstReq->u64LastMs >= RTSP_IDLE_MS ||
                 (!pstReq->bRequested && u64NowMs - pstReq->u64LastMs >= RTSP_REQUEST_MS) ||
                 (pstReq->u64PartMs != 0 && u64NowMs - pstReq->u64PartMs >= RTSP_REQUEST_MS);
    return bIdle && !(pstServer->pfnBusy && pstServer->pfnBusy(pstServer->pvParam, pstReq->pvConnection));
}

void rtsp_server_sweep(RtspServer_S *pstServer, u64 u64NowMs)
{
    static DebugLimit_S s_stLimit;
    RtspServerReq_S *pstNext;
    for (RtspServerReq_S *pstReq = pstServer->pstConnections; pstReq; pstReq = pstNext) {
        pstNext = pstReq->pstNext;
        if (RtspServer_Idle(pstServer, pstReq, u64NowMs)) {
            char azPeer[RTSP_ADDRESS_TEXT] = "?";
            u16 u16Port = 0;
            (void)rtsp_server_get_client(pstReq, azPeer, &u16Port);   // "?" stands for an odd address
            Debug_LogLimited(&s_stLimit, "[%s]: %s: %s:%u idle, closed\n", log_Time(), __func__, azPeer, u16Port);
            aio_tcp_transport_disconnect(pstReq->pstTcpSession);   // frees pstReq
        }
    }
    if (Debug_LimitPending(&pstServer->stPlayerLimit))
        Debug_LogLimited(&pstServer->stPlayerLimit, "[%s]: RTSP players: %u connections\n", log_Time(),
                         pstServer->u32Connections.load());
}

u32 rtsp_server_fd_budget(void)
{
    struct rlimit stLimit;
    if (getrlimit(RLIMIT_NOFILE, &stLimit) < 0 || stLimit.rlim_cur == RLIM_INFINITY || stLimit.rlim_cur > 0x100000)
        stLimit.rlim_cur = 0x100000;   // cannot fail for this resource; bound an unlimited one
    u64 u64Keep = RTSP_FD_RESERVE + stLimit.rlim_cur / 16;
    return stLimit.rlim_cur > u64Keep ? (u32)(stLimit.rlim_cur - u64Keep) : 0;
}

void rtsp_server_close(void *pvConnection)
{
    aio_tcp_transport_close(((RtspServerReq_S *)pvConnection)->pstTcpSession);
}

s32 rtsp_server_destroy(RtspServer_S *pstServer)
{
    if (pstServer->pstTcp)
        aio_tcp_transport_destroy(pstServer->pstTcp);
    if (pstServer->pstUdp)
        aio_udp_transport_destroy(pstServer->pstUdp);
    delete pstServer;
    return 0;
}

void rtsp_server_report(RtspServer_S *pstServer)
{
    Debug_Log("[%s]: rtsp server: %u connections\n", log_Time(), pstServer->u32Connections.load());
}

const char *rtsp_server_get_header(RtspServerReq_S *pstReq, const char *pszName)
{
    return rtsp_get_header_by_name(pstReq->pstParser, pszName);
}

void *rtsp_server_get_connection(RtspServerReq_S *pstReq)
{
    return pstReq->pvConnection;
}

static s32 RtspServer_AddrText(const struct sockaddr_storage *pstAddr, char *pszIp, u16 *pu16Port)
{
    const struct sockaddr_in *pstIn = (const struct sockaddr_in *)pstAddr;
    if (pstAddr->ss_family != AF_INET || !inet_ntop(AF_INET, &pstIn->sin_addr, pszIp, RTSP_ADDRESS_TEXT))
        return -1;
    *pu16Port = ntohs(pstIn->sin_port);
    return 0;
}

s32 rtsp_server_get_client(RtspServerReq_S *pstReq, char *pszIp, u16 *pu16Port)
{
    return RtspServer_AddrText(&pstReq->stPeer, pszIp, pu16Port);
}

s32 rtsp_server_get_host(RtspServerReq_S *pstReq, char *pszIp, u16 *pu16Port)
{
    struct sockaddr_storage stAddr;
    socklen_t u32Len = sizeof(stAddr);
    s32 s32Fd = pstReq->pstTcpSession ? aio_tcp_transport_fd(pstReq->pstTcpSession) : aio_udp_transport_fd(pstReq->pstUdp);
    if (getsockname(s32Fd, (struct sockaddr *)&stAddr, &u32Len) < 0) {
        Debug_Log("[%s]: %s: getsockname: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    // The datagram socket has any address; a request's is its datagram's.
    if (pstReq->pstUdp && stAddr.ss_family == AF_INET) {
        static DebugLimit_S s_stLimit;   // each request of a datagram
        if (pstReq->stLocal.s_addr == htonl(INADDR_ANY)) {
            Debug_LogLimited(&s_stLimit, "[%s]: %s: a datagram without its local address\n", log_Time(), __func__);
            return -1;
        }
        ((struct sockaddr_in *)&stAddr)->sin_addr = pstReq->stLocal;
    }
    return RtspServer_AddrText(&stAddr, pszIp, pu16Port);
}

s32 rtsp_server_send_interleaved(void *pvConnection, u8 u8Channel, const void *pvData, u32 u32Len)
{
    if (u32Len > 0xFFFF)
        return EMSGSIZE;
    AioTcpBlock_S *pstBlock = aio_tcp_block_create(4 + u32Len);
    if (pstBlock == nullptr)
        return ENOMEM;
    u8 *pu8 = aio_tcp_block_data(pstBlock);
    pu8[0] = '$';
    pu8[1] = u8Channel;
    pu8[2] = (u8)(u32Len >> 8);
    pu8[3] = (u8)u32Len;
    memcpy(pu8 + 4, pvData, u32Len);
    AioTcpPiece_S stPiece = {pstBlock, pu8, 4 + u32Len};
    s32 s32Ret = rtsp_server_queue_interleaved(pvConnection, &stPiece, 1);
    aio_tcp_block_release(pstBlock);
    return s32Ret;
}

s32 rtsp_server_queue_interleaved(void *pvConnection, const AioTcpPiece_S *pastPiece, u32 u32Num)
{
    RtspServerReq_S *pstReq = (RtspServerReq_S *)pvConnection;
    if (pstReq == nullptr)   // a request that came over UDP has no connection
        return EPIPE;
    return aio_tcp_transport_queue(pstReq->pstTcpSession, pastPiece, u32Num);
}

s64 rtsp_server_interleaved_room(void *pvConnection)
{
    RtspServerReq_S *pstReq = (RtspServerReq_S *)pvConnection;
    if (pstReq == nullptr)
        return -EPIPE;
    s64 s64Room = aio_tcp_transport_room(pstReq->pstTcpSession);
    if (s64Room < 0)
        return s64Room;
    return s64Room > RTSP_REPLY_RESERVE ? s64Room - RTSP_REPLY_RESERVE : 0;
}
