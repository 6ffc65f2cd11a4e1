// The service's records, shared by its files: services, media streams,
// multicast groups and sessions.
#ifndef RTSP_RTSPSERVICEPRIV_H
#define RTSP_RTSPSERVICEPRIV_H

#include <atomic>
#include <mutex>
#include <vector>

#include "rtsp/RtspService.h"
#include "rtsplib/include/MediaSource.h"
#include "rtsplib/include/RtspServerCore.h"
#include "rtsplib/include/ThreadPool.h"

#define RTSP_SESSION_ID_TEXT   16
#define RTSP_MULTICAST_TTL     255
#define RTSP_POOL_QUEUE        64
#define RTSP_TICK_MS           250      // longest wait of the RTSP thread between its own duties
#define RTSP_SWEEP_MS          1000     // idle connections and lapsed sessions are looked for this often
#define RTSP_SESSION_MS        60000    // life of a session set up over UDP without a request or RTCP
#define RTSP_OWNER_SESSIONS    16       // sessions of one connection, or of one address over UDP
// Sessions of one client address, over all its connections and UDP: a
// player needs two, a receiver box four; the global caps (half the
// descriptor budget; an eighth of that over UDP) are far above, so that
// one host cannot take the streams from every other.
#define RTSP_PEER_SESSIONS     64

enum RtspSessionState_E {
    RTSP_SESSION_NEW = 0,                 // made by a SETUP that has not answered yet
    RTSP_SESSION_READY,
    RTSP_SESSION_PLAYING,
};

enum RtspDelivery_E {
    RTSP_DELIVERY_UNICAST = 1,
    RTSP_DELIVERY_MULTICAST,
};

enum RtspSessionTransport_E {
    RTSP_SESSION_UDP = 1,
    RTSP_SESSION_TCP,
};

struct RtspMediaStream_S;

// One stream's group, shared by its multicast sessions; changed under the
// stream lock.
struct RtspMulticast_S {
    u32 bActive;                          // frames go to the group
    char azGroup[RTSP_MULTICAST_TEXT];
    s32 as32Socket[MEDIA_TRACKS];         // RTP sockets on the group's ports; -1 when none
    u16 au16Port[MEDIA_TRACKS];
    s32 s32Users;                         // sessions playing
    u32 u32Refs;                          // sessions set up on it
    u32 u32Ttl;
    void *pvSource;                       // UDP source in multicast mode
};

struct RtspTrack_S {
    u32 bSetup;
    s32 s32RtpSocket;                     // unicast UDP; -1 when none
    s32 s32RtcpSocket;
    u16 u16ClientRtp;                     // or the interleaved RTP channel
    u16 u16ServerRtp;
    u16 u16ClientRtcp;                    // or the interleaved RTCP channel
    u16 u16ServerRtcp;
    u32 u32Ssrc;
};

struct RtspSession_S {
    void *pvOwner;                        // the connection of the creating SETUP; null over UDP
    char azPeer[RTSP_ADDRESS_TEXT];       // the address of the creating SETUP's sender
    u64 u64SeenMs;                        // time64_monotonic of the last request naming it or RTCP
    char azSessionId[RTSP_SESSION_ID_TEXT];
    char azDestination[RTSP_ADDRESS_TEXT];
    char azSource[RTSP_ADDRESS_TEXT];
    u32 u32State;                         // RtspSessionState_E
    u32 bWaitKey;                         // video waits for a parameter set
    u32 u32Delivery;                      // RtspDelivery_E, 0 before the first SETUP
    u32 u32Transport;                     // RtspSessionTransport_E
    RtspTrack_S astTrack[MEDIA_TRACKS];
    u32 u32Ttl;
    bool bCounted;                        // one of the group's users
    const MediaSourceFunc_S *pstFunc;     // null until a source exists
    void *pvSource;                       // own, or the group's
    std::mutex mtx;                       // after the stream lock
    RtspMediaStream_S *pstStream;
    RtspSession_S *pstNext;
};

struct RtspService_S;

struct RtspMediaStream_S {
    char *pszName;
    RtspMediaStreamAttr_S stAttr;
    RtspFrameObserver_S stVideoObserver;
    RtspFrameObserver_S stAudioObserver;
    RtspMulticast_S *pstMulticast;        // null until a multicast SETUP
    RtspService_S *pstService;
    std::mutex mtx;                       // the stream lock
    RtspMediaStream_S *pstNext;
    RtspSession_S *pstSessions;           // newest first
    u64 au64LastPts[MEDIA_TRACKS];        // us, of the last frame pushed
    u32 au32Clock[MEDIA_TRACKS];          // RTP clock of each track, set by SETUP
    u32 bNoSignal;                        // no input behind it: SETUP and PLAY get 503; under the stream lock
};

struct RtspService_S {
    u32 bCreated;
    RtspServer_S *pstServer;
    RtspServerConfig_S stConfig;
    RtspService_S *pstNext;               // in the service list
    RtspMediaStream_S *pstStreams;
    std::mutex mtx;                       // the service lock: guards pstStreams
    ThreadPool_S *pstPool;
    std::atomic<u32> u32Run;              // the RTSP thread goes on while 1
    u32 u32Sessions;                      // of all streams; under the service lock
    u32 u32Ownerless;                     // of them, set up over UDP
    u32 u32Sockets;                       // the sessions' UDP sockets
    u64 u64SweepMs;                       // next sweep; RTSP thread
    std::mutex mtxClose;                  // after the service lock; guards vecClose
    std::vector<void *> vecClose;         // connections to end once their data has gone out
    std::atomic<bool> bClose;             // vecClose is not empty
};

// Handlers registered with the server core (RtspSdp.cpp, RtspSetup.cpp,
// RtspSession.cpp).
void rtspOnDescribe(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri);
void rtspOnSetup(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                 const RtspHeaderTransport_S *pastTransport, u32 u32Num);
void rtspOnPlay(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                const s64 *ps64Start, const s64 *ps64End, const double *pdScale);
void rtspOnPause(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                 const s64 *ps64Start);
void rtspOnTeardown(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession);
void rtspOnClose(void *pvParam, void *pvConnection);
bool rtspOnBusy(void *pvParam, void *pvConnection);
// A request named a session: when it may act on it (rtspOwnsSession), a
// sign of life of each such session, whatever the method.
void rtspOnAlive(void *pvParam, RtspServerReq_S *pstReq, const char *pszSession);

// Frame observers (RtspDeliver.cpp).
s32 rtspVideoStream(const RtspFrameObserver_S *pstObserver, const void *pvFrame);
s32 rtspAudioStream(const RtspFrameObserver_S *pstObserver, const void *pvFrame);
void rtspVideoError(const RtspFrameObserver_S *pstObserver, s32 s32Error);
void rtspAudioError(const RtspFrameObserver_S *pstObserver, s32 s32Error);

// Look-ups (RtspService.cpp). The service of a handler's parameter, with
// its lock taken (null: none, no lock); the stream whose name occurs in
// the path (caller holds the service lock); the session of that exact id
// (caller holds the stream lock). RtspStreamLock_S: the locks a handler
// holds while it runs, taken by rtspLockStream, which returns 0 or the
// status to answer (500 no service or no memory, 400 bad URI, 404 no
// stream).
RtspService_S *rtspLockServer(void *pvParam);
struct RtspStreamLock_S {
    RtspService_S *pstService = nullptr;
    RtspMediaStream_S *pstStream = nullptr;
    ~RtspStreamLock_S()
    {
        if (pstStream)
            pstStream->mtx.unlock();
        if (pstService)
            pstService->mtx.unlock();
    }
};
s32 rtspLockStream(void *pvParam, const char *pszUri, RtspStreamLock_S *pstLock);
// rtspLockStream for a request that would play: 503 for a stream without
// signal, which would answer PLAY and never send (logged, rate-limited).
s32 rtspLockPlayableStream(void *pvParam, const char *pszUri, RtspStreamLock_S *pstLock);
RtspMediaStream_S *rtspFindStream(RtspService_S *pstService, const char *pszPath);
RtspSession_S *rtspFindSession(RtspMediaStream_S *pstStream, const char *pszSession);

// Session life (RtspSession.cpp); the caller holds the service and stream
// locks. New: made for the request's sender, or 453 in *ps32Code when that
// connection, that address, or everybody has as many sessions as allowed. End: as TEARDOWN,
// and freed. Tell: ended as by a stop: each UDP track gets an RTCP BYE and
// the control connection is closed once its queued data has gone out.
RtspSession_S *rtspNewSession(RtspMediaStream_S *pstStream, RtspServerReq_S *pstReq, s32 *ps32Code);
void rtspEndSession(RtspSession_S *pstSession);
void rtspTellSession(RtspSession_S *pstSession);
// Whether the request may act on the session: it comes on the connection
// that set it up, or, for one set up over UDP, from the same address. A
// request that may is noted as a sign of life.
bool rtspOwnsSession(RtspSession_S *pstSession, RtspServerReq_S *pstReq);
// Ends the sessions set up over UDP that have heard nothing for
// RTSP_SESSION_MS, reading what came to their sockets meanwhile. Any thread.
void rtspExpireSessions(RtspService_S *pstService, u64 u64NowMs);
// RTSP thread, between events: closes the connections rtspTellSession
// named and sweeps every RTSP_SWEEP_MS.
void rtspTick(RtspService_S *pstService);

// The stream's multicast group (RtspGroup.cpp); the caller holds the
// stream and session locks. Join: the group, made on first use, now also
// the session's (0, or -1 when it cannot be made). Play: the session
// becomes one of its users and the group runs (-1 without a group).
// Leave: the session is no longer a user, nor referring to it; the group
// stops with its last user and goes with the last session referring to it.
s32 rtspJoinGroup(RtspSession_S *pstSession);
s32 rtspPlayGroup(RtspSession_S *pstSession);
void rtspLeaveGroup(RtspSession_S *pstSession);

// A half's answer, checked (RtspSdp.cpp): the video payload must be H.264
// or H.265; the audio payload code one the SDP can name, with a sample
// rate, and *pu8Pt its payload type on the wire. 0 or -1.
s32 rtspVideoInfo(RtspMediaStream_S *pstStream, RtspMediaVideoInfo_S *pstInfo);
s32 rtspAudioInfo(RtspMediaStream_S *pstStream, RtspMediaAudioInfo_S *pstInfo, u8 *pu8Pt);

// A text the RTSP thread builds for a peer, in a buffer of its own rather
// than the heap, so that no allocation can fail while a request is served
// (RtspSdp.cpp). Init: empty, in pszBuf of u32Size bytes (at least 1).
// Add: appends the formatted piece whole, or, once one does not fit,
// nothing more, and bCut is set.
struct RtspText_S {
    char *pszBuf;
    u32 u32Size, u32Len;   // bytes of the buffer; of the text, terminator aside
    bool bCut;             // a piece did not fit
};
void rtspTextInit(RtspText_S *pstText, char *pszBuf, u32 u32Size);
void rtspTextAdd(RtspText_S *pstText, const char *pszFmt, ...) __attribute__((format(printf, 2, 3)));

#endif
