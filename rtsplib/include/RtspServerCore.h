// The RTSP server core: listens on TCP and UDP, parses requests, answers
// OPTIONS and the common refusals itself and hands DESCRIBE, SETUP, PLAY,
// PAUSE and TEARDOWN to the registered handlers, which answer through the
// reply functions. Everything runs on the reactor thread.
#ifndef RTSPLIB_INCLUDE_RTSPSERVERCORE_H
#define RTSPLIB_INCLUDE_RTSPSERVERCORE_H

#include <cstddef>

#include "core/Types.h"
#include "rtsplib/src/rtsp/RtspHeader.h"

#define RTSP_REPLY_SIZE      1450   // longest reply but DESCRIBE's
#define RTSP_SDP_MAX         4096   // longest SDP a DESCRIBE reply carries
#define RTSP_MAX_URI         256    // longer request URIs get 414
#define RTSP_ADDRESS_TEXT    46     // address texts, terminator included
#define RTSP_PUBLIC_METHODS  "DESCRIBE,SETUP,TEARDOWN,PLAY,PAUSE"
#define RTSP_REPLY_RESERVE   (16 * 1024)   // queue kept free of media for replies
#define RTSP_REQUEST_MS      30000    // a connection's time to send a whole request
#define RTSP_IDLE_MS         120000   // silence allowed to a connection that plays nothing
#define RTSP_FD_RESERVE      64       // descriptors left to the rest of the process, with 1/16 of the limit
// Control connections one client address may hold; more are refused at
// once. A player needs one, a receiver box one a stream; the global cap
// (half the descriptor budget, 448 at a limit of 1024) is far above, so
// that one host cannot lock every other out.
#define RTSP_PEER_CONNECTIONS 64

struct RtspServer_S;
struct AioTcpPiece_S;
struct RtspServerReq_S;   // one request; valid until its handler returns

// pvParam is the server's; a handler answers before it returns.
struct RtspServerHandler_S {
    void (*pfnDescribe)(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri);
    void (*pfnSetup)(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                     const RtspHeaderTransport_S *pastTransport, u32 u32Num);
    // Range start and end in ms and the scale, each null when not given.
    void (*pfnPlay)(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                    const s64 *ps64Start, const s64 *ps64End, const double *pdScale);
    void (*pfnPause)(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                     const s64 *ps64Start);
    void (*pfnTeardown)(void *pvParam, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession);
};

// A control connection (the pvOwner of its transports) has closed; called
// before its socket is closed. The connection may not be used afterwards.
typedef void RtspServerCloseProc(void *pvParam, void *pvConnection);
// Whether a control connection holds a playing session: such a connection
// is kept however long it stays silent.
typedef bool RtspServerBusyProc(void *pvParam, void *pvConnection);
// A whole request named the session pszSession (its Session header), of
// whatever method and however it was answered: a sign of life from the
// client. Called before the request is answered.
typedef void RtspServerAliveProc(void *pvParam, RtspServerReq_S *pstReq, const char *pszSession);

// The permission text: when set, a request whose User-Agent does not
// contain it is refused with 400. Empty: no gate.
extern char g_azUserAgent[128];

s32 rtsp_server_init(void);
s32 rtsp_server_cleanup(void);
// Listens on pszIp (null: any) and u16Port over TCP and UDP; null on
// failure. The reactor (aio_socket_init) must be initialised.
RtspServer_S *rtsp_server_create(const char *pszIp, u16 u16Port, const RtspServerHandler_S *pstHandler,
                                 s32 s32Backlog, void *pvParam);
void rtsp_server_register(RtspServer_S *pstServer, RtspServerCloseProc *pfnOnClose);
void rtsp_server_register_busy(RtspServer_S *pstServer, RtspServerBusyProc *pfnBusy);
void rtsp_server_register_alive(RtspServer_S *pstServer, RtspServerAliveProc *pfnAlive);
// Closes every connection (each through the close handler) and the
// listeners; call it only while no thread runs aio_socket_process.
s32 rtsp_server_destroy(RtspServer_S *pstServer);
// Logs the number of open control connections.
void rtsp_server_report(RtspServer_S *pstServer);
// Closes the control connections that play nothing and have been silent
// too long: RTSP_REQUEST_MS with no whole request yet or half of one, or
// RTSP_IDLE_MS since the last whole request. u64NowMs is time64_monotonic.
// After player lines were dropped, also logs the number of connections.
// Reactor thread.
void rtsp_server_sweep(RtspServer_S *pstServer, u64 u64NowMs);
// Descriptors the RTSP side may hold: the process's limit less what the
// listeners, relays, settings store and the rest need. Half of it is for
// control connections (more are refused at once), half for the sockets of
// sessions.
u32 rtsp_server_fd_budget(void);
// Ends a control connection once its queued replies and frames have gone
// out. Reactor thread, and only before the close handler for it has run.
void rtsp_server_close(void *pvConnection);

// Replies: 0, or -1 when it could not be sent. A non-200 code goes out in
// the plain form; a reply longer than RTSP_REPLY_SIZE, or an SDP longer
// than RTSP_SDP_MAX, is replaced by 500.
s32 rtsp_server_reply_describe(RtspServerReq_S *pstReq, s32 s32Code, const char *pszSdp);
s32 rtsp_server_reply_setup(RtspServerReq_S *pstReq, s32 s32Code, const char *pszSession, const char *pszTransport);
// Range start and end in ms, each null when not given.
s32 rtsp_server_reply_play(RtspServerReq_S *pstReq, s32 s32Code, const s64 *ps64Start, const s64 *ps64End,
                           const char *pszRtpInfo);
s32 rtsp_server_reply_pause(RtspServerReq_S *pstReq, s32 s32Code);
s32 rtsp_server_reply_teardown(RtspServerReq_S *pstReq, s32 s32Code);
// The plain form "RTSP/1.0 code reason", CSeq and Date. Every reply's
// CSeq is the request's text as it came, unread numbers too.
s32 rtsp_server_reply(RtspServerReq_S *pstReq, s32 s32Code);

const char *rtsp_server_get_header(RtspServerReq_S *pstReq, const char *pszName);
// The control connection a request came on (the owner of the sessions it
// sets up); null for a request over UDP.
void *rtsp_server_get_connection(RtspServerReq_S *pstReq);
// Peer and local address of the request's connection as text of at most
// RTSP_ADDRESS_TEXT bytes, and the port; 0 or -1.
s32 rtsp_server_get_client(RtspServerReq_S *pstReq, char *pszIp, u16 *pu16Port);
s32 rtsp_server_get_host(RtspServerReq_S *pstReq, char *pszIp, u16 *pu16Port);

// Sends one interleaved frame ("$", channel, length, data) on a control
// connection, whole or not at all, without blocking; callable from any
// thread until the close handler for the connection has returned. 0, or
// EMSGSIZE, ENOBUFS (the connection's queue is full), EPIPE (closed).
s32 rtsp_server_send_interleaved(void *pvConnection, u8 u8Channel, const void *pvData, u32 u32Len);
// Queues interleaved frames already laid out in pieces of shared blocks
// (each frame's '$' head included), all or none; the reactor writes them.
// Callable and answered as rtsp_server_send_interleaved.
s32 rtsp_server_queue_interleaved(void *pvConnection, const AioTcpPiece_S *pastPiece, u32 u32Num);
// Bytes of interleaved frames (their 4-byte heads included) the
// connection's queue takes now, keeping room for replies; -EPIPE when the
// connection is closed, or closing because its peer stopped reading.
// Callable as rtsp_server_send_interleaved.
s64 rtsp_server_interleaved_room(void *pvConnection);

// The reason phrase of a status code ("unknown" for none).
const char *rtsp_reason_phrase(s32 s32Code);

#endif
