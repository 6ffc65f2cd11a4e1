#include "rtsplib/include/AioSocket.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/epoll.h>
#include <unistd.h>

#include "core/Debug.h"

#define AIO_EPOLL_SIZE 10000

struct AioRequest_S;
typedef void AioHandler(AioSocket_S *pstSocket, AioRequest_S *pstReq, s32 s32Code);

// One pending request: the handler makes the system call, the callback
// tells the user.
struct AioRequest_S {
    AioHandler *pfnHandler;
    union {
        AioOnAccept *pfnAccept;
        AioOnConnect *pfnConnect;
        AioOnSend *pfnSend;
        AioOnRecv *pfnRecv;
        AioOnRecvFrom *pfnRecvFrom;
    } u;
    void *pvParam;
    void *pvBuf;                      // plain forms
    size_t size;
    struct iovec *pstVec;             // vector forms
    s32 s32VecNum;
    struct sockaddr_storage stAddr;   // sendto destination
    socklen_t u32AddrLen;
    struct in_addr stLocal;           // recvfrom: the address the datagram came to
    bool bLocal;                      // the datagram told it
};

struct AioSocket_S {
    std::mutex mtx;                   // guards u32Events, bAdded and both requests
    u32 u32Events;                    // EPOLLIN / EPOLLOUT of the pending requests
    bool bAdded;                      // registered in the epoll set
    s32 s32Fd;
    std::atomic<s32> s32Ref;          // creator + one per pending request
    bool bOwn;
    AioRequest_S stRead;
    AioRequest_S stWrite;
};

static s32 s_s32Epoll = -1;
static s32 s_s32Processors;

static bool Aio_WouldBlock(s32 s32Errno)
{
    return s32Errno == EAGAIN || s32Errno == EWOULDBLOCK || s32Errno == EINTR;
}

static void Aio_Release(AioSocket_S *pstSocket)
{
    if (pstSocket->s32Ref.fetch_sub(1) != 1)
        return;
    // A fd we do not close stays registered unless removed here, and its
    // next event would point at freed memory.
    if (pstSocket->bAdded && epoll_ctl(s_s32Epoll, EPOLL_CTL_DEL, pstSocket->s32Fd, nullptr) < 0 &&
        !pstSocket->bOwn)
        Debug_Log("[%s]: %s: epoll_ctl DEL: %s\n", log_Time(), __func__, strerror(errno));
    if (pstSocket->bOwn)
        close(pstSocket->s32Fd);
    delete pstSocket;
}

// Caller holds the mutex. Registers the current event mask, one-shot.
static s32 Aio_Register(AioSocket_S *pstSocket)
{
    struct epoll_event stEv;
    memset(&stEv, 0, sizeof(stEv));
    stEv.events = pstSocket->u32Events | EPOLLONESHOT;
    if (pstSocket->u32Events & EPOLLIN)
        stEv.events |= EPOLLRDHUP;
    stEv.data.ptr = pstSocket;
    if (epoll_ctl(s_s32Epoll, pstSocket->bAdded ? EPOLL_CTL_MOD : EPOLL_CTL_ADD, pstSocket->s32Fd, &stEv) < 0)
        return errno;
    pstSocket->bAdded = true;
    return 0;
}

// Records the request on the side u32Event (EPOLLIN or EPOLLOUT) and arms
// it. 0 or an errno value; on failure nothing is left armed.
static s32 Aio_Arm(AioSocket_S *pstSocket, u32 u32Event, const AioRequest_S &stReq)
{
    std::lock_guard<std::mutex> lk(pstSocket->mtx);
    if (pstSocket->u32Events & u32Event)
        return EBUSY;
    if (u32Event == EPOLLIN)
        pstSocket->stRead = stReq;
    else
        pstSocket->stWrite = stReq;
    pstSocket->s32Ref.fetch_add(1);
    pstSocket->u32Events |= u32Event;
    s32 s32Ret = Aio_Register(pstSocket);
    if (s32Ret != 0) {
        pstSocket->u32Events &= ~u32Event;
        pstSocket->s32Ref.fetch_sub(1);   // the creator still holds one
    }
    return s32Ret;
}

// A handler whose call would block waits again; true when it did.
static bool Aio_Rearm(AioSocket_S *pstSocket, AioRequest_S *pstReq, u32 u32Event)
{
    return Aio_WouldBlock(errno) && Aio_Arm(pstSocket, u32Event, *pstReq) == 0;
}

static s32 Aio_SocketError(s32 s32Fd)
{
    s32 s32Err = 0;
    socklen_t u32Len = sizeof(s32Err);
    if (getsockopt(s32Fd, SOL_SOCKET, SO_ERROR, &s32Err, &u32Len) < 0 || s32Err == 0)
        s32Err = ECONNRESET;
    return s32Err;
}

static void Aio_OnAccept(AioSocket_S *pstSocket, AioRequest_S *pstReq, s32 s32Code)
{
    if (s32Code != 0) {
        pstReq->u.pfnAccept(pstReq->pvParam, s32Code, -1, nullptr, 0);
        return;
    }
    struct sockaddr_storage stAddr;
    socklen_t u32Len = sizeof(stAddr);
    s32 s32Fd = accept4(pstSocket->s32Fd, (struct sockaddr *)&stAddr, &u32Len, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (s32Fd < 0 && Aio_Rearm(pstSocket, pstReq, EPOLLIN))
        return;
    if (s32Fd < 0)
        pstReq->u.pfnAccept(pstReq->pvParam, errno, -1, nullptr, 0);
    else
        pstReq->u.pfnAccept(pstReq->pvParam, 0, s32Fd, (struct sockaddr *)&stAddr, u32Len);
}

static void Aio_OnConnect(AioSocket_S *pstSocket, AioRequest_S *pstReq, s32 s32Code)
{
    s32 s32Err = 0;
    socklen_t u32Len = sizeof(s32Err);
    if (s32Code == 0 && getsockopt(pstSocket->s32Fd, SOL_SOCKET, SO_ERROR, &s32Err, &u32Len) < 0)
        s32Err = errno;
    pstReq->u.pfnConnect(pstReq->pvParam, s32Code != 0 ? s32Code : s32Err);
}

// The local address of a received datagram, from its IP_PKTINFO message.
static bool Aio_LocalAddr(struct msghdr *pstMsg, struct in_addr *pstLocal)
{
    for (struct cmsghdr *pst = CMSG_FIRSTHDR(pstMsg); pst != nullptr; pst = CMSG_NXTHDR(pstMsg, pst)) {
        if (pst->cmsg_level == IPPROTO_IP && pst->cmsg_type == IP_PKTINFO) {
            struct in_pktinfo stInfo;
            memcpy(&stInfo, CMSG_DATA(pst), sizeof(stInfo));
            *pstLocal = stInfo.ipi_spec_dst;
            return true;
        }
    }
    return false;
}

// Receives into the request's buffer or vector, with the peer and the
// local address when bFrom; true when the request has waited again instead.
static bool Aio_DoRecv(AioSocket_S *pstSocket, AioRequest_S *pstReq, s32 s32Code, bool bFrom, ssize_t *pn)
{
    struct iovec stOne = {pstReq->pvBuf, pstReq->size};
    union {
        char ac[CMSG_SPACE(sizeof(struct in_pktinfo))];
        struct cmsghdr stAlign;
    } uControl;
    struct msghdr stMsg;
    memset(&stMsg, 0, sizeof(stMsg));
    stMsg.msg_name = &pstReq->stAddr;
    stMsg.msg_namelen = sizeof(pstReq->stAddr);
    stMsg.msg_iov = pstReq->pstVec ? pstReq->pstVec : &stOne;
    stMsg.msg_iovlen = pstReq->pstVec ? (size_t)pstReq->s32VecNum : 1;
    stMsg.msg_control = uControl.ac;
    stMsg.msg_controllen = sizeof(uControl.ac);
    if (s32Code != 0) {
        *pn = -s32Code;
        return false;
    }
    // Plain receives read, so that they work on timer descriptors too.
    ssize_t n = bFrom ? recvmsg(pstSocket->s32Fd, &stMsg, 0)
                      : readv(pstSocket->s32Fd, stMsg.msg_iov, (int)stMsg.msg_iovlen);
    if (n < 0 && Aio_Rearm(pstSocket, pstReq, EPOLLIN))
        return true;
    pstReq->u32AddrLen = stMsg.msg_namelen;
    *pn = n < 0 ? -errno : n;
    pstReq->bLocal = bFrom && n >= 0 && Aio_LocalAddr(&stMsg, &pstReq->stLocal);
    return false;
}

static void Aio_OnRecv(AioSocket_S *pstSocket, AioRequest_S *pstReq, s32 s32Code)
{
    ssize_t n;
    if (Aio_DoRecv(pstSocket, pstReq, s32Code, false, &n))
        return;
    pstReq->u.pfnRecv(pstReq->pvParam, n < 0 ? (s32)-n : 0, n < 0 ? 0 : (size_t)n);
}

static void Aio_OnRecvFrom(AioSocket_S *pstSocket, AioRequest_S *pstReq, s32 s32Code)
{
    ssize_t n;
    if (Aio_DoRecv(pstSocket, pstReq, s32Code, true, &n))
        return;
    if (n < 0)
        pstReq->u.pfnRecvFrom(pstReq->pvParam, (s32)-n, 0, nullptr, 0, nullptr);
    else
        pstReq->u.pfnRecvFrom(pstReq->pvParam, 0, (size_t)n, (struct sockaddr *)&pstReq->stAddr,
                              pstReq->u32AddrLen, pstReq->bLocal ? &pstReq->stLocal : nullptr);
}

static void Aio_OnSend(AioSocket_S *pstSocket, AioRequest_S *pstReq, s32 s32Code)
{
    if (s32Code != 0) {
        pstReq->u.pfnSend(pstReq->pvParam, s32Code, 0);
        return;
    }
    struct iovec stOne = {pstReq->pvBuf, pstReq->size};
    struct msghdr stMsg;
    memset(&stMsg, 0, sizeof(stMsg));
    stMsg.msg_name = pstReq->u32AddrLen ? &pstReq->stAddr : nullptr;
    stMsg.msg_namelen = pstReq->u32AddrLen;
    stMsg.msg_iov = pstReq->pstVec ? pstReq->pstVec : &stOne;
    stMsg.msg_iovlen = pstReq->pstVec ? (size_t)pstReq->s32VecNum : 1;
    ssize_t n = sendmsg(pstSocket->s32Fd, &stMsg, MSG_NOSIGNAL);
    if (n < 0 && Aio_Rearm(pstSocket, pstReq, EPOLLOUT))
        return;
    pstReq->u.pfnSend(pstReq->pvParam, n < 0 ? errno : 0, n < 0 ? 0 : (size_t)n);
}

static AioRequest_S Aio_Request(AioHandler *pfnHandler, void *pvParam)
{
    AioRequest_S stReq;
    memset(&stReq, 0, sizeof(stReq));
    stReq.pfnHandler = pfnHandler;
    stReq.pvParam = pvParam;
    return stReq;
}

static s32 Aio_SetAddr(AioRequest_S *pstReq, const struct sockaddr *pstAddr, socklen_t u32AddrLen)
{
    if (u32AddrLen == 0 || u32AddrLen > sizeof(pstReq->stAddr))
        return EINVAL;
    memcpy(&pstReq->stAddr, pstAddr, u32AddrLen);
    pstReq->u32AddrLen = u32AddrLen;
    return 0;
}

s32 aio_socket_init(s32 s32Processors)
{
    s_s32Processors = s32Processors;
    if (s_s32Epoll >= 0)
        return 0;
    s_s32Epoll = epoll_create(AIO_EPOLL_SIZE);
    if (s_s32Epoll < 0) {
        Debug_Log("[%s]: %s: epoll_create: %s\n", log_Time(), __func__, strerror(errno));
        return errno;
    }
    return 0;
}

void aio_socket_clean(void)
{
    if (s_s32Epoll >= 0)
        close(s_s32Epoll);
    s_s32Epoll = -1;
}

AioSocket_S *aio_socket_create(s32 s32Fd, bool bOwn)
{
    AioSocket_S *pstSocket = new (std::nothrow) AioSocket_S();
    if (pstSocket == nullptr)
        return nullptr;
    pstSocket->s32Fd = s32Fd;
    pstSocket->bOwn = bOwn;
    pstSocket->s32Ref = 1;
    return pstSocket;
}

void aio_socket_destroy(AioSocket_S *pstSocket)
{
    // Fails with ENOTCONN on an unconnected datagram socket, which still
    // wakes its pending requests; a non-socket has none to wake.
    (void)shutdown(pstSocket->s32Fd, SHUT_RDWR);
    Aio_Release(pstSocket);
}

s32 aio_socket_accept(AioSocket_S *pstSocket, AioOnAccept *pfnProc, void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnAccept, pvParam);
    stReq.u.pfnAccept = pfnProc;
    return Aio_Arm(pstSocket, EPOLLIN, stReq);
}

s32 aio_socket_connect(AioSocket_S *pstSocket, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                       AioOnConnect *pfnProc, void *pvParam)
{
    if (connect(pstSocket->s32Fd, pstAddr, u32AddrLen) < 0 && errno != EINPROGRESS)
        return errno;
    AioRequest_S stReq = Aio_Request(Aio_OnConnect, pvParam);
    stReq.u.pfnConnect = pfnProc;
    return Aio_Arm(pstSocket, EPOLLOUT, stReq);
}

s32 aio_socket_recv(AioSocket_S *pstSocket, void *pvBuf, size_t size, AioOnRecv *pfnProc, void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnRecv, pvParam);
    stReq.u.pfnRecv = pfnProc;
    stReq.pvBuf = pvBuf;
    stReq.size = size;
    return Aio_Arm(pstSocket, EPOLLIN, stReq);
}

s32 aio_socket_send(AioSocket_S *pstSocket, const void *pvBuf, size_t size, AioOnSend *pfnProc, void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnSend, pvParam);
    stReq.u.pfnSend = pfnProc;
    stReq.pvBuf = (void *)pvBuf;
    stReq.size = size;
    return Aio_Arm(pstSocket, EPOLLOUT, stReq);
}

s32 aio_socket_recv_v(AioSocket_S *pstSocket, struct iovec *pstVec, s32 s32Num, AioOnRecv *pfnProc,
                      void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnRecv, pvParam);
    stReq.u.pfnRecv = pfnProc;
    stReq.pstVec = pstVec;
    stReq.s32VecNum = s32Num;
    return Aio_Arm(pstSocket, EPOLLIN, stReq);
}

s32 aio_socket_send_v(AioSocket_S *pstSocket, const struct iovec *pstVec, s32 s32Num, AioOnSend *pfnProc,
                      void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnSend, pvParam);
    stReq.u.pfnSend = pfnProc;
    stReq.pstVec = (struct iovec *)pstVec;
    stReq.s32VecNum = s32Num;
    return Aio_Arm(pstSocket, EPOLLOUT, stReq);
}

s32 aio_socket_recvfrom(AioSocket_S *pstSocket, void *pvBuf, size_t size, AioOnRecvFrom *pfnProc,
                        void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnRecvFrom, pvParam);
    stReq.u.pfnRecvFrom = pfnProc;
    stReq.pvBuf = pvBuf;
    stReq.size = size;
    return Aio_Arm(pstSocket, EPOLLIN, stReq);
}

s32 aio_socket_sendto(AioSocket_S *pstSocket, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                      const void *pvBuf, size_t size, AioOnSend *pfnProc, void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnSend, pvParam);
    stReq.u.pfnSend = pfnProc;
    stReq.pvBuf = (void *)pvBuf;
    stReq.size = size;
    s32 s32Ret = Aio_SetAddr(&stReq, pstAddr, u32AddrLen);
    return s32Ret != 0 ? s32Ret : Aio_Arm(pstSocket, EPOLLOUT, stReq);
}

s32 aio_socket_recvfrom_v(AioSocket_S *pstSocket, struct iovec *pstVec, s32 s32Num, AioOnRecvFrom *pfnProc,
                          void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnRecvFrom, pvParam);
    stReq.u.pfnRecvFrom = pfnProc;
    stReq.pstVec = pstVec;
    stReq.s32VecNum = s32Num;
    return Aio_Arm(pstSocket, EPOLLIN, stReq);
}

s32 aio_socket_sendto_v(AioSocket_S *pstSocket, const struct sockaddr *pstAddr, socklen_t u32AddrLen,
                        const struct iovec *pstVec, s32 s32Num, AioOnSend *pfnProc, void *pvParam)
{
    AioRequest_S stReq = Aio_Request(Aio_OnSend, pvParam);
    stReq.u.pfnSend = pfnProc;
    stReq.pstVec = (struct iovec *)pstVec;
    stReq.s32VecNum = s32Num;
    s32 s32Ret = Aio_SetAddr(&stReq, pstAddr, u32AddrLen);
    return s32Ret != 0 ? s32Ret : Aio_Arm(pstSocket, EPOLLOUT, stReq);
}

s32 aio_socket_process(s32 s32TimeoutMs)
{
    struct epoll_event stEv;
    s32 n = epoll_wait(s_s32Epoll, &stEv, 1, s32TimeoutMs);
    if (n < 0)
        return errno == EINTR ? 0 : -errno;
    if (n == 0)
        return 0;

    AioSocket_S *pstSocket = (AioSocket_S *)stEv.data.ptr;
    AioRequest_S stRead, stWrite;
    bool bRead, bWrite;
    s32 s32Code = 0;
    {
        std::lock_guard<std::mutex> lk(pstSocket->mtx);
        u32 u32Pending = pstSocket->u32Events;
        if (stEv.events & (EPOLLERR | EPOLLHUP)) {
            // Both sides fail; the error reaches the read and the write.
            bRead = u32Pending & EPOLLIN;
            bWrite = u32Pending & EPOLLOUT;
            pstSocket->u32Events = 0;
            s32Code = Aio_SocketError(pstSocket->s32Fd);
        } else {
            // A half-closed peer reads as readable: recv returns what is
            // left and then 0, so a last request before the FIN is served.
            bRead = (stEv.events & (EPOLLIN | EPOLLRDHUP)) && (u32Pending & EPOLLIN);
            bWrite = (stEv.events & EPOLLOUT) && (u32Pending & EPOLLOUT);
            pstSocket->u32Events &= ~((bRead ? EPOLLIN : 0u) | (bWrite ? EPOLLOUT : 0u));
            if (pstSocket->u32Events != 0) {
                s32 s32Ret = Aio_Register(pstSocket);
                if (s32Ret != 0)
                    Debug_Log("[%s]: %s: epoll_ctl MOD: %s\n", log_Time(), __func__, strerror(s32Ret));
            }
        }
        // Copies: once the mutex is released another thread may arm the
        // freed side again.
        stRead = pstSocket->stRead;
        stWrite = pstSocket->stWrite;
    }
    if (bRead) {
        stRead.pfnHandler(pstSocket, &stRead, s32Code);
        Aio_Release(pstSocket);
    }
    if (bWrite) {
        stWrite.pfnHandler(pstSocket, &stWrite, s32Code);
        Aio_Release(pstSocket);
    }
    return 1;
}

s32 aio_socket_process_until(const bool *pbDone, s32 s32IdleMs)
{
    while (!*pbDone) {
        s32 s32Ret = aio_socket_process(s32IdleMs);
        if (s32Ret < 0 || (s32Ret == 0 && !*pbDone)) {
            Debug_Log("[%s]: %s: requests still pending, given up\n", log_Time(), __func__);
            return -1;
        }
    }
    return 0;
}
