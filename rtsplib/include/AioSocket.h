// A small reactor on one process-wide epoll set. A socket is wrapped in a
// reference-counted context that holds at most one pending read-side
// request (accept, recv, recvfrom) and one write-side request (connect,
// send, sendto); each completes later, through its callback, on the thread
// that calls aio_socket_process.
#ifndef RTSPLIB_INCLUDE_AIOSOCKET_H
#define RTSPLIB_INCLUDE_AIOSOCKET_H

#include <cstddef>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include "core/Types.h"

struct AioSocket_S;

// s32Code is 0 or an errno value; on error the other arguments are empty.
typedef void AioOnAccept(void *pvParam, s32 s32Code, s32 s32Fd, const struct sockaddr *pstAddr,
                         socklen_t u32AddrLen);
typedef void AioOnConnect(void *pvParam, s32 s32Code);
typedef void AioOnSend(void *pvParam, s32 s32Code, size_t bytes);
typedef void AioOnRecv(void *pvParam, s32 s32Code, size_t bytes);
// pstLocal: the address the datagram came to, when the socket has
// IP_PKTINFO on; null otherwise.
typedef void AioOnRecvFrom(void *pvParam, s32 s32Code, size_t bytes, const struct sockaddr *pstAddr,
                           socklen_t u32AddrLen, const struct in_addr *pstLocal);

// Creates the epoll set once (later calls return 0); 0 or an errno value.
// s32Processors is kept for the callers' information only.
s32 aio_socket_init(s32 s32Processors);
void aio_socket_clean(void);

// Wraps a non-blocking fd; bOwn: close it with the last reference. Null
// when out of memory.
AioSocket_S *aio_socket_create(s32 s32Fd, bool bOwn);
// Shuts the socket down for reading and writing, so that pending requests
// complete with an error, and drops the creator's reference.
void aio_socket_destroy(AioSocket_S *pstSocket);

// Requests: 0, or an errno value (EBUSY when that side already has a
// request pending). Buffers and vectors stay the caller's and must live
// until the callback has run. A request that finds the socket not ready
// (EAGAIN) waits again instead of completing.
s32 aio_socket_accept(AioSocket_S *pstSocket, AioOnAccept *pfnProc, void *pvParam);
s32 aio_socket_connect(AioSocket_S *pstSocket, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                       AioOnConnect *pfnProc, void *pvParam);
s32 aio_socket_recv(AioSocket_S *pstSocket, void *pvBuf, size_t size, AioOnRecv *pfnProc, void *pvParam);
s32 aio_socket_send(AioSocket_S *pstSocket, const void *pvBuf, size_t size, AioOnSend *pfnProc,
                    void *pvParam);
s32 aio_socket_recv_v(AioSocket_S *pstSocket, struct iovec *pstVec, s32 s32Num, AioOnRecv *pfnProc,
                      void *pvParam);
s32 aio_socket_send_v(AioSocket_S *pstSocket, const struct iovec *pstVec, s32 s32Num, AioOnSend *pfnProc,
                      void *pvParam);
s32 aio_socket_recvfrom(AioSocket_S *pstSocket, void *pvBuf, size_t size, AioOnRecvFrom *pfnProc,
                        void *pvParam);
s32 aio_socket_sendto(AioSocket_S *pstSocket, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                      const void *pvBuf, size_t size, AioOnSend *pfnProc, void *pvParam);
s32 aio_socket_recvfrom_v(AioSocket_S *pstSocket, struct iovec *pstVec, s32 s32Num, AioOnRecvFrom *pfnProc,
                          void *pvParam);
s32 aio_socket_sendto_v(AioSocket_S *pstSocket, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                        const struct iovec *pstVec, s32 s32Num, AioOnSend *pfnProc, void *pvParam);

// Waits up to s32TimeoutMs for one event and runs its callbacks. Returns 1
// when an event was handled, 0 on time-out or interruption, or a negative
// errno value. Called by one thread at a time.
s32 aio_socket_process(s32 s32TimeoutMs);
// Runs aio_socket_process until *pbDone is set, or until nothing happened
// for s32IdleMs; for the destroy functions, which finish their sockets'
// pending requests themselves once the reactor thread has stopped.
// Returns 0, or -1 when it gave up.
s32 aio_socket_process_until(const bool *pbDone, s32 s32IdleMs);

#endif
