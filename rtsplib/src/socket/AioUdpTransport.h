// UDP transport on the reactor: one datagram socket, each datagram handed
// to the owner with its sender's address; replies go straight out.
#ifndef RTSPLIB_SOCKET_AIOUDPTRANSPORT_H
#define RTSPLIB_SOCKET_AIOUDPTRANSPORT_H

#include <cstddef>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/uio.h>

#include "core/Types.h"

#define AIO_UDP_RECV_SIZE 8192

struct AioUdpTransport_S;

struct AioUdpHandler_S {
    // One datagram, and the address it came to when the socket has
    // IP_PKTINFO on (else null); runs on the reactor thread, the next
    // receive is armed when it returns.
    void (*pfnOnRecv)(void *pvParam, AioUdpTransport_S *pstTransport, const void *pvData, size_t bytes,
                      const struct sockaddr *pstAddr, socklen_t u32AddrLen, const struct in_addr *pstLocal);
};

// Takes over the non-blocking datagram fd and starts receiving. Null on
// failure (the fd is then closed).
AioUdpTransport_S *aio_udp_transport_create(s32 s32Fd, const AioUdpHandler_S *pstHandler, void *pvParam);
// Stops receiving and drops the creator's reference; finishes the pending
// receive on the calling thread, so call it only while no thread runs
// aio_socket_process. The fd is closed with the last reference.
void aio_udp_transport_destroy(AioUdpTransport_S *pstTransport);
// Sends one datagram without blocking: 0, or the errno of the send
// (EAGAIN: the socket buffer is full and the datagram was dropped).
s32 aio_udp_transport_send(AioUdpTransport_S *pstTransport, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                           const void *pvData, size_t size);
s32 aio_udp_transport_sendv(AioUdpTransport_S *pstTransport, const struct sockaddr *pstAddr,
                            socklen_t u32AddrLen, const struct iovec *pstVec, s32 s32Num);
// Keep the transport alive while a reply may still be sent on it.
void aio_udp_transport_addref(AioUdpTransport_S *pstTransport);
void aio_udp_transport_release(AioUdpTransport_S *pstTransport);
// The socket, for getsockname.
s32 aio_udp_transport_fd(const AioUdpTransport_S *pstTransport);

#endif
