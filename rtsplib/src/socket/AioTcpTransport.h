// TCP transport on the reactor: accepts connections on a listening socket,
// receives into one buffer per connection and sends through a bounded
// output queue per connection that never blocks the caller. Only the
// reactor thread writes to the sockets: other threads queue and wake it,
// and it writes each connection's queue with one gathered write.
#ifndef RTSPLIB_SOCKET_AIOTCPTRANSPORT_H
#define RTSPLIB_SOCKET_AIOTCPTRANSPORT_H

#include <cstddef>
#include <sys/socket.h>
#include <sys/uio.h>

#include "core/Types.h"

#define AIO_TCP_RECV_SIZE   1024
#define AIO_TCP_QUEUE_SIZE  (1024 * 1024)  // bytes a connection may have queued: a large key frame
#define AIO_TCP_PIECES_MAX  2048           // pieces a connection may have queued
#define AIO_TCP_REPLY_PIECES 128           // of them kept for replies, one piece each
#define AIO_TCP_REPLY_PAUSE 4096           // unsent reply bytes past which requests wait unread
#define AIO_TCP_BACKOFF_MS  100            // accept pause after running out of fds
#define AIO_TCP_STALL_MS    10000          // queued output that long without progress closes

struct AioTcpTransport_S;
struct AioTcpSession_S;
struct AioTcpBlock_S;

// Bytes of a block, to be queued on a connection.
struct AioTcpPiece_S {
    AioTcpBlock_S *pstBlock;
    const u8 *pu8;
    u32 u32Len;
};

// All procs run on the reactor thread.
struct AioTcpHandler_S {
    // A new connection; returns the object handed to the other procs, or
    // null to refuse it (it is closed without pfnOnDisconnect).
    void *(*pfnOnConnected)(void *pvParam, AioTcpSession_S *pstSession, const struct sockaddr *pstAddr,
                            socklen_t u32AddrLen);
    // Received bytes. 0: go on receiving; negative: receive no more and
    // close once the queued output has gone out.
    s32 (*pfnOnRecv)(void *pvPtr, const void *pvData, size_t bytes);
    // The connection ended; called once, before its fd is closed. The
    // session may not be used after it returns.
    void (*pfnOnDisconnect)(void *pvPtr);
};

// Takes over the non-blocking listening fd and starts accepting. Null on
// failure (the fd is then closed).
AioTcpTransport_S *aio_tcp_transport_create(s32 s32ListenFd, const AioTcpHandler_S *pstHandler, void *pvParam);
// Closes the listener and every connection (each gets pfnOnDisconnect) and
// finishes their pending requests on the calling thread: call it only
// while no thread runs aio_socket_process.
void aio_tcp_transport_destroy(AioTcpTransport_S *pstTransport);

// A reference-counted block of bytes that the queues of many connections
// share, such as one copy of a frame's payload. Any thread. Create gives
// the caller's reference (null when out of memory).
AioTcpBlock_S *aio_tcp_block_create(u32 u32Len);
u8 *aio_tcp_block_data(AioTcpBlock_S *pstBlock);
void aio_tcp_block_release(AioTcpBlock_S *pstBlock);

// Queues a reply (copied), whole or not at all, without blocking; the
// reactor writes it. Callable from any thread while the session is live.
// 0, or EPIPE (closed, or stalled: nothing of the queue went out for
// AIO_TCP_STALL_MS, and the connection is now being closed), EMSGSIZE
// (larger than the queue), ENOBUFS (queue full: nothing queued), ENOMEM.
// While more than AIO_TCP_REPLY_PAUSE bytes of replies wait, the
// connection's further requests are not read.
s32 aio_tcp_transport_send(AioTcpSession_S *pstSession, const void *pvData, size_t size);
s32 aio_tcp_transport_sendv(AioTcpSession_S *pstSession, const struct iovec *pstVec, s32 s32Num);
// Queues pieces of shared blocks, all or none, as sendv; each queued piece
// holds a reference to its block until written. Errors as sendv; the last
// AIO_TCP_REPLY_PIECES pieces of the queue are not for these.
s32 aio_tcp_transport_queue(AioTcpSession_S *pstSession, const AioTcpPiece_S *pastPiece, u32 u32Num);
// Bytes a send could take now, or -EPIPE as above. Any thread.
s64 aio_tcp_transport_room(AioTcpSession_S *pstSession);
// Ends the connection now (queued output is dropped). Reactor thread only.
void aio_tcp_transport_disconnect(AioTcpSession_S *pstSession);
// Ends the connection once its queued output has gone out; nothing more is
// received or taken meanwhile. Reactor thread only.
void aio_tcp_transport_close(AioTcpSession_S *pstSession);
// The connection's socket, for getsockname and the like.
s32 aio_tcp_transport_fd(const AioTcpSession_S *pstSession);

#endif
