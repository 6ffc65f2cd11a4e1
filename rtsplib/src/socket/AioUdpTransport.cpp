#include "rtsplib/src/socket/AioUdpTransport.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

#include "core/Debug.h"
#include "rtsplib/include/AioSocket.h"

struct AioUdpTransport_S {
    std::atomic<s32> s32Ref;        // creator + pending receive + addref
    std::atomic<bool> bClosed;
    bool *pbGone;                   // set when freed, for destroy
    AioSocket_S *pstSocket;
    s32 s32Fd;
    AioUdpHandler_S stHandler;
    void *pvParam;
    u8 au8Recv[AIO_UDP_RECV_SIZE];
};

static void UdpTransport_OnRecv(void *pvParam, s32 s32Code, size_t bytes, const struct sockaddr *pstAddr,
                                socklen_t u32AddrLen, const struct in_addr *pstLocal);

static s32 UdpTransport_Arm(AioUdpTransport_S *pstTransport)
{
    pstTransport->s32Ref.fetch_add(1);
    s32 s32Ret = aio_socket_recvfrom(pstTransport->pstSocket, pstTransport->au8Recv, sizeof(pstTransport->au8Recv),
                                     UdpTransport_OnRecv, pstTransport);
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s: aio_socket_recvfrom: %s\n", log_Time(), __func__, strerror(s32Ret));
        pstTransport->s32Ref.fetch_sub(1);
    }
    return s32Ret;
}

static void UdpTransport_OnRecv(void *pvParam, s32 s32Code, size_t bytes, const struct sockaddr *pstAddr,
                                socklen_t u32AddrLen, const struct in_addr *pstLocal)
{
    AioUdpTransport_S *pstTransport = (AioUdpTransport_S *)pvParam;
    if (pstTransport->bClosed) {
        aio_udp_transport_release(pstTransport);
        return;
    }
    // A datagram error (an ICMP report, a truncated read) ends only that
    // datagram, not the listener.
    static DebugLimit_S s_stLimit;   // ICMP reports of the addresses answered
    if (s32Code != 0)
        Debug_LogLimited(&s_stLimit, "[%s]: %s: recvfrom: %s\n", log_Time(), __func__, strerror(s32Code));
    else if (u32AddrLen < sizeof(struct sockaddr_storage))
        pstTransport->stHandler.pfnOnRecv(pstTransport->pvParam, pstTransport, pstTransport->au8Recv, bytes, pstAddr,
                                          u32AddrLen, pstLocal);
    (void)UdpTransport_Arm(pstTransport);   // logged there; the transport then stays deaf
    aio_udp_transport_release(pstTransport);
}

AioUdpTransport_S *aio_udp_transport_create(s32 s32Fd, const AioUdpHandler_S *pstHandler, void *pvParam)
{
    AioUdpTransport_S *pstTransport = new (std::nothrow) AioUdpTransport_S();
    AioSocket_S *pstSocket = pstTransport ? aio_socket_create(s32Fd, true) : nullptr;
    if (pstSocket == nullptr) {
        delete pstTransport;
        close(s32Fd);
        return nullptr;
    }
    pstTransport->s32Ref = 1;
    pstTransport->pstSocket = pstSocket;
    pstTransport->s32Fd = s32Fd;
    pstTransport->stHandler = *pstHandler;
    pstTransport->pvParam = pvParam;
    if (UdpTransport_Arm(pstTransport) != 0) {
        aio_udp_transport_release(pstTransport);
        return nullptr;
    }
    return pstTransport;
}

void aio_udp_transport_destroy(AioUdpTransport_S *pstTransport)
{
    bool bGone = false;
    pstTransport->pbGone = &bGone;
    pstTransport->bClosed = true;
    // The socket context holds the fd; its pending receive now fails.
    (void)shutdown(pstTransport->s32Fd, SHUT_RDWR);   // ENOTCONN on a datagram socket, still wakes it
    aio_udp_transport_release(pstTransport);
    (void)aio_socket_process_until(&bGone, 1000);     // logged there; what is left leaks
}

s32 aio_udp_transport_sendv(AioUdpTransport_S *pstTransport, const struct sockaddr *pstAddr,
                            socklen_t u32AddrLen, const struct iovec *pstVec, s32 s32Num)
{
    struct msghdr stMsg;
    memset(&stMsg, 0, sizeof(stMsg));
    stMsg.msg_name = (void *)pstAddr;
    stMsg.msg_namelen = u32AddrLen;
    stMsg.msg_iov = (struct iovec *)pstVec;
    stMsg.msg_iovlen = (size_t)s32Num;
    return sendmsg(pstTransport->s32Fd, &stMsg, MSG_NOSIGNAL | MSG_DONTWAIT) < 0 ? errno : 0;
}

s32 aio_udp_transport_send(AioUdpTransport_S *pstTransport, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                           const void *pvData, size_t size)
{
    struct iovec stVec = {(void *)pvData, size};
    return aio_udp_transport_sendv(pstTransport, pstAddr, u32AddrLen, &stVec, 1);
}

void aio_udp_transport_addref(AioUdpTransport_S *pstTransport)
{
    pstTransport->s32Ref.fetch_add(1);
}

void aio_udp_transport_release(AioUdpTransport_S *pstTransport)
{
    if (pstTransport->s32Ref.fetch_sub(1) != 1)
        return;
    aio_socket_destroy(pstTransport->pstSocket);
    if (pstTransport->pbGone)
        *pstTransport->pbGone = true;
    delete pstTransport;
}

s32 aio_udp_transport_fd(const AioUdpTransport_S *pstTransport)
{
    return pstTransport->s32Fd;
}
