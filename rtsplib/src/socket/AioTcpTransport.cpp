#include "rtsplib/src/socket/AioTcpTransport.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <list>
#include <mutex>
#include <new>
#include <sys/timerfd.h>
#include <ctime>
#include <unistd.h>

#include "core/Debug.h"
#include "rtsplib/include/AioSocket.h"

#define AIO_TCP_DRAIN_MAX 65536   // bytes read and dropped before a graceful close

struct AioTcpTransport_S {
    std::mutex mtx;                          // guards lstSession
    std::atomic<s32> s32Ref;                 // creator + pending accept or pause + one per session
    AioSocket_S *pstListen;
    AioSocket_S *pstTimer;                   // timerfd of the accept pause
    s32 s32TimerFd;
    u64 u64TimerBuf;
    bool bStopping;
    bool *pbGone;                            // set when freed, for destroy
    AioTcpHandler_S stHandler;
    void *pvParam;
    std::list<AioTcpSession_S *> lstSession;
};

struct AioTcpSession_S {
    std::mutex mtx;                          // guards the queue and the flags
    std::atomic<s32> s32Ref;                 // live + pending receive + pending write
    AioTcpTransport_S *pstTransport;
    AioSocket_S *pstSocket;
    s32 s32Fd;
    void *pvPtr;                             // from pfnOnConnected
    std::list<AioTcpSession_S *>::iterator itLink;
    u8 *pu8Queue;                            // ring of AIO_TCP_QUEUE_SIZE, allocated on first need
    u32 u32Head;                             // oldest queued byte
    u32 u32Len;                              // bytes queued
    u64 u64Progress;                         // ms, monotonic: queue filled or bytes written
    struct iovec astVec[2];                  // what the pending write sends
    bool bWriting;                           // a write is pending
    bool bClosed;                            // sends are refused
    bool bCloseAfterFlush;
    bool bRecvPaused;                        // the queue was too full to read on
    bool bDisconnected;                      // pfnOnDisconnect has run
    u8 au8Recv[AIO_TCP_RECV_SIZE];
};

static u64 TcpTransport_NowMs(void)
{
    struct timespec stTs;
    clock_gettime(CLOCK_MONOTONIC, &stTs);
    return (u64)stTs.tv_sec * 1000 + (u64)stTs.tv_nsec / 1000000;
}

static void TcpTransport_Release(AioTcpTransport_S *pstTransport)
{
    if (pstTransport->s32Ref.fetch_sub(1) != 1)
        return;
    if (pstTransport->pbGone)
        *pstTransport->pbGone = true;
    delete pstTransport;
}

static void TcpSession_Release(AioTcpSession_S *pstSession)
{
    if (pstSession->s32Ref.fetch_sub(1) != 1)
        return;
    AioTcpTransport_S *pstTransport = pstSession->pstTransport;
    free(pstSession->pu8Queue);
    delete pstSession;
    TcpTransport_Release(pstTransport);
}

// Ends the session: senders are refused, the owner hears of it, then the
// socket is shut down so that pending requests complete and drop their
// references. Reactor thread; once only.
static void TcpSession_Close(AioTcpSession_S *pstSession)
{
    {
        std::lock_guard<std::mutex> lk(pstSession->mtx);
        if (pstSession->bDisconnected)
            return;
        pstSession->bDisconnected = true;
        pstSession->bClosed = true;
    }
    AioTcpTransport_S *pstTransport = pstSession->pstTransport;
    pstTransport->stHandler.pfnOnDisconnect(pstSession->pvPtr);
    {
        std::lock_guard<std::mutex> lk(pstTransport->mtx);
        pstTransport->lstSession.erase(pstSession->itLink);
    }
    aio_socket_destroy(pstSession->pstSocket);
    TcpSession_Release(pstSession);
}

// The reply before a close reaches the peer more surely when the close
// does not find unread bytes (which would make it a reset).
static void TcpSession_CloseGraceful(AioTcpSession_S *pstSession)
{
    (void)shutdown(pstSession->s32Fd, SHUT_WR);   // a dead socket is closed below anyway
    u32 u32Dropped = 0;
    ssize_t n;
    while (u32Dropped < AIO_TCP_DRAIN_MAX &&
           (n = recv(pstSession->s32Fd, pstSession->au8Recv, sizeof(pstSession->au8Recv), MSG_DONTWAIT)) > 0)
        u32Dropped += (u32)n;
    TcpSession_Close(pstSession);
}

static void TcpSession_OnRecv(void *pvParam, s32 s32Code, size_t bytes);
static void TcpSession_OnWritten(void *pvParam, s32 s32Code, size_t bytes);

static s32 TcpSession_ArmRecv(AioTcpSession_S *pstSession)
{
    pstSession->s32Ref.fetch_add(1);
    s32 s32Ret = aio_socket_recv(pstSession->pstSocket, pstSession->au8Recv, sizeof(pstSession->au8Recv),
                                 TcpSession_OnRecv, pstSession);
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s: aio_socket_recv: %s\n", log_Time(), __func__, strerror(s32Ret));
        pstSession->s32Ref.fetch_sub(1);
    }
    return s32Ret;
}

// Caller holds the session mutex; the queue is not empty.
static s32 TcpSession_ArmWrite(AioTcpSession_S *pstSession)
{
    u32 u32First = AIO_TCP_QUEUE_SIZE - pstSession->u32Head;
    if (u32First > pstSession->u32Len)
        u32First = pstSession->u32Len;
    pstSession->astVec[0].iov_base = pstSession->pu8Queue + pstSession->u32Head;
    pstSession->astVec[0].iov_len = u32First;
    pstSession->astVec[1].iov_base = pstSession->pu8Queue;
    pstSession->astVec[1].iov_len = pstSession->u32Len - u32First;
    pstSession->s32Ref.fetch_add(1);
    s32 s32Ret = aio_socket_send_v(pstSession->pstSocket, pstSession->astVec,
                                   pstSession->astVec[1].iov_len ? 2 : 1, TcpSession_OnWritten, pstSession);
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s: aio_socket_send_v: %s\n", log_Time(), __func__, strerror(s32Ret));
        pstSession->s32Ref.fetch_sub(1);
        return s32Ret;
    }
    pstSession->bWriting = true;
    return 0;
}

// Caller holds the session mutex and has checked the room.
static void TcpSession_Append(AioTcpSession_S *pstSession, const u8 *pu8, size_t size)
{
    while (size > 0) {
        u32 u32Tail = (pstSession->u32Head + pstSession->u32Len) % AIO_TCP_QUEUE_SIZE;
        size_t n = AIO_TCP_QUEUE_SIZE - u32Tail;
        if (n > size)
            n = size;
        memcpy(pstSession->pu8Queue + u32Tail, pu8, n);
        pstSession->u32Len += (u32)n;
        pu8 += n;
        size -= n;
    }
}

static void TcpSession_OnWritten(void *pvParam, s32 s32Code, size_t bytes)
{
    AioTcpSession_S *pstSession = (AioTcpSession_S *)pvParam;
    std::unique_lock<std::mutex> lk(pstSession->mtx);
    pstSession->bWriting = false;
    bool bClose = s32Code != 0 || pstSession->bDisconnected;
    if (!bClose) {
        pstSession->u32Head = (u32)((pstSession->u32Head + bytes) % AIO_TCP_QUEUE_SIZE);
        pstSession->u32Len -= (u32)bytes;
        if (bytes > 0)
            pstSession->u64Progress = TcpTransport_NowMs();
        if (pstSession->u32Len > 0)
            bClose = TcpSession_ArmWrite(pstSession) != 0;
    }
    bool bDrained = !bClose && pstSession->u32Len == 0;
    bool bResume = bDrained && pstSession->bRecvPaused && !pstSession->bCloseAfterFlush;
    if (bResume)
        pstSession->bRecvPaused = false;
    bool bFlushClose = bDrained && pstSession->bCloseAfterFlush;
    lk.unlock();
    if (bClose || (bResume && TcpSession_ArmRecv(pstSession) != 0))
        TcpSession_Close(pstSession);
    else if (bFlushClose)
        TcpSession_CloseGraceful(pstSession);
    TcpSession_Release(pstSession);
}

static void TcpSession_OnRecv(void *pvParam, s32 s32Code, size_t bytes)
{
    AioTcpSession_S *pstSession = (AioTcpSession_S *)pvParam;
    if (s32Code != 0 || bytes == 0 || pstSession->bDisconnected) {
        TcpSession_Close(pstSession);
        TcpSession_Release(pstSession);
        return;
    }
    if (pstSession->bCloseAfterFlush) {   // closing: the write that drains the queue ends it
        TcpSession_Release(pstSession);
        return;
    }
    s32 s32Ret = pstSession->pstTransport->stHandler.pfnOnRecv(pstSession->pvPtr, pstSession->au8Recv, bytes);
    std::unique_lock<std::mutex> lk(pstSession->mtx);
    bool bClose = pstSession->bClosed;
    bool bFlushClose = false;
    if (!bClose && s32Ret < 0) {
        pstSession->bCloseAfterFlush = true;
        bFlushClose = !pstSession->bWriting;
    } else if (!bClose && pstSession->bWriting && pstSession->u32Len > AIO_TCP_QUEUE_SIZE / 2) {
        pstSession->bRecvPaused = true;   // the peer reads too slowly; resume once drained
    } else if (!bClose) {
        lk.unlock();
        bClose = TcpSession_ArmRecv(pstSession) != 0;
    }
    if (lk.owns_lock())
        lk.unlock();
    if (bClose)
        TcpSession_Close(pstSession);
    else if (bFlushClose)
        TcpSession_CloseGraceful(pstSession);
    TcpSession_Release(pstSession);
}

static void TcpTransport_OnAccept(void *pvParam, s32 s32Code, s32 s32Fd, const struct sockaddr *pstAddr,
                                  socklen_t u32AddrLen);
static void TcpTransport_OnTimer(void *pvParam, s32 s32Code, size_t bytes);

// Arms the next accept, or the pause after running out of descriptors.
// Keeps the reference of the request that just completed.
static void TcpTransport_Rearm(AioTcpTransport_S *pstTransport, s32 s32Code)
{
    s32 s32Ret;
    if (s32Code == EMFILE || s32Code == ENFILE || s32Code == ENOBUFS || s32Code == ENOMEM) {
        struct itimerspec stIt;
        memset(&stIt, 0, sizeof(stIt));
        stIt.it_value.tv_nsec = AIO_TCP_BACKOFF_MS * 1000000L;
        s32Ret = timerfd_settime(pstTransport->s32TimerFd, 0, &stIt, nullptr) < 0
                     ? errno
                     : aio_socket_recv(pstTransport->pstTimer, &pstTransport->u64TimerBuf,
                                       sizeof(pstTransport->u64TimerBuf), TcpTransport_OnTimer, pstTransport);
    } else {
        s32Ret = aio_socket_accept(pstTransport->pstListen, TcpTransport_OnAccept, pstTransport);
    }
    if (s32Ret != 0) {
        Debug_Log("[%s]: aio_tcp_transport_create aio accept error.\n", log_Time());
        TcpTransport_Release(pstTransport);
    }
}

static void TcpTransport_OnTimer(void *pvParam, s32 s32Code, size_t bytes)
{
    (void)bytes;   // the expiry count; one pause is one expiry
    AioTcpTransport_S *pstTransport = (AioTcpTransport_S *)pvParam;
    if (pstTransport->bStopping || s32Code != 0) {
        TcpTransport_Release(pstTransport);
        return;
    }
    TcpTransport_Rearm(pstTransport, 0);
}

static void TcpTransport_AddSession(AioTcpTransport_S *pstTransport, s32 s32Fd, const struct sockaddr *pstAddr,
                                    socklen_t u32AddrLen)
{
    AioTcpSession_S *pstSession = new (std::nothrow) AioTcpSession_S();
    AioSocket_S *pstSocket = pstSession ? aio_socket_create(s32Fd, true) : nullptr;
    if (pstSocket == nullptr) {
        Debug_Log("[%s]: %s: out of memory, connection refused\n", log_Time(), __func__);
        delete pstSession;
        close(s32Fd);
        return;
    }
    pstSession->s32Ref = 1;
    pstSession->pstTransport = pstTransport;
    pstSession->pstSocket = pstSocket;
    pstSession->s32Fd = s32Fd;
    pstSession->pvPtr = pstTransport->stHandler.pfnOnConnected(pstTransport->pvParam, pstSession, pstAddr, u32AddrLen);
    if (pstSession->pvPtr == nullptr) {
        aio_socket_destroy(pstSocket);
        delete pstSession;
        return;
    }
    pstTransport->s32Ref.fetch_add(1);
    {
        std::lock_guard<std::mutex> lk(pstTransport->mtx);
        pstSession->itLink = pstTransport->lstSession.insert(pstTransport->lstSession.end(), pstSession);
    }
    if (TcpSession_ArmRecv(pstSession) != 0)
        TcpSession_Close(pstSession);
}

static void TcpTransport_OnAccept(void *pvParam, s32 s32Code, s32 s32Fd, const struct sockaddr *pstAddr,
                                  socklen_t u32AddrLen)
{
    AioTcpTransport_S *pstTransport = (AioTcpTransport_S *)pvParam;
    if (pstTransport->bStopping) {
        if (s32Fd >= 0)
            close(s32Fd);
        TcpTransport_Release(pstTransport);
        return;
    }
    static DebugLimit_S s_stLimit;   // peers can make accepts fail at will (out of descriptors)
    if (s32Code != 0)
        Debug_LogLimited(&s_stLimit, "[%s]: aio_tcp_transport_onaccept => %d\n", log_Time(), s32Code);
    else
        TcpTransport_AddSession(pstTransport, s32Fd, pstAddr, u32AddrLen);
    TcpTransport_Rearm(pstTransport, s32Code);
}

AioTcpTransport_S *aio_tcp_transport_create(s32 s32ListenFd, const AioTcpHandler_S *pstHandler, void *pvParam)
{
    AioTcpTransport_S *pstTransport = new (std::nothrow) AioTcpTransport_S();
    s32 s32TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (pstTransport == nullptr || s32TimerFd < 0) {
        Debug_Log("[%s]: %s: timerfd_create: %s\n", log_Time(), __func__, strerror(errno));
        if (s32TimerFd >= 0)
            close(s32TimerFd);
        close(s32ListenFd);
        delete pstTransport;
        return nullptr;
    }
    pstTransport->s32Ref = 2;   // creator + the accept armed below
    pstTransport->stHandler = *pstHandler;
    pstTransport->pvParam = pvParam;
    pstTransport->s32TimerFd = s32TimerFd;
    pstTransport->pstListen = aio_socket_create(s32ListenFd, true);
    pstTransport->pstTimer = aio_socket_create(s32TimerFd, true);
    if (pstTransport->pstListen == nullptr || pstTransport->pstTimer == nullptr ||
        aio_socket_accept(pstTransport->pstListen, TcpTransport_OnAccept, pstTransport) != 0) {
        Debug_Log("[%s]: aio_tcp_transport_create aio accept error.\n", log_Time());
        if (pstTransport->pstListen)
            aio_socket_destroy(pstTransport->pstListen);
        else
            close(s32ListenFd);
        if (pstTransport->pstTimer)
            aio_socket_destroy(pstTransport->pstTimer);
        else
            close(s32TimerFd);
        delete pstTransport;
        return nullptr;
    }
    return pstTransport;
}

void aio_tcp_transport_destroy(AioTcpTransport_S *pstTransport)
{
    bool bGone = false;
    pstTransport->pbGone = &bGone;
    pstTransport->bStopping = true;
    aio_socket_destroy(pstTransport->pstListen);
    // A pending pause ends at once; a timerfd cannot be shut down.
    struct itimerspec stIt;
    memset(&stIt, 0, sizeof(stIt));
    stIt.it_value.tv_nsec = 1;
    if (timerfd_settime(pstTransport->s32TimerFd, 0, &stIt, nullptr) < 0)
        Debug_Log("[%s]: %s: timerfd_settime: %s\n", log_Time(), __func__, strerror(errno));
    aio_socket_destroy(pstTransport->pstTimer);
    for (;;) {
        AioTcpSession_S *pstSession;
        {
            std::lock_guard<std::mutex> lk(pstTransport->mtx);
            if (pstTransport->lstSession.empty())
                break;
            pstSession = pstTransport->lstSession.front();
        }
        TcpSession_Close(pstSession);
    }
    TcpTransport_Release(pstTransport);
    (void)aio_socket_process_until(&bGone, 1000);   // logged there; what is left leaks
}

// Caller holds the session mutex. True when the session is closed or
// its queue has not moved for AIO_TCP_STALL_MS; such a session is shut
// down here and the reactor then closes it.
static bool TcpSession_Dead(AioTcpSession_S *pstSession)
{
    if (pstSession->bClosed || pstSession->bCloseAfterFlush)
        return true;
    if (pstSession->u32Len == 0 || TcpTransport_NowMs() - pstSession->u64Progress < AIO_TCP_STALL_MS)
        return false;
    Debug_Log("[%s]: %s: peer %d read nothing of %u queued bytes for %d ms, closing\n", log_Time(), __func__,
              pstSession->s32Fd, pstSession->u32Len, AIO_TCP_STALL_MS);
    pstSession->bClosed = true;
    (void)shutdown(pstSession->s32Fd, SHUT_RDWR);   // fails only for a socket already dead
    return true;
}

s32 aio_tcp_transport_sendv(AioTcpSession_S *pstSession, const struct iovec *pstVec, s32 s32Num)
{
    size_t total = 0;
    for (s32 i = 0; i < s32Num; i++)
        total += pstVec[i].iov_len;
    if (total > AIO_TCP_QUEUE_SIZE)
        return EMSGSIZE;
    std::lock_guard<std::mutex> lk(pstSession->mtx);
    if (TcpSession_Dead(pstSession))
        return EPIPE;
    size_t sent = 0;
    if (!pstSession->bWriting && pstSession->u32Len == 0) {
        struct msghdr stMsg;
        memset(&stMsg, 0, sizeof(stMsg));
        stMsg.msg_iov = (struct iovec *)pstVec;
        stMsg.msg_iovlen = (size_t)s32Num;
        ssize_t n = sendmsg(pstSession->s32Fd, &stMsg, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            s32 s32Err = errno;
            // The reactor sees the shut-down socket and closes the session.
            pstSession->bClosed = true;
            (void)shutdown(pstSession->s32Fd, SHUT_RDWR);
            return s32Err;
        }
        sent = n < 0 ? 0 : (size_t)n;
        if (sent == total)
            return 0;
    } else if (pstSession->u32Len + total > AIO_TCP_QUEUE_SIZE) {
        return ENOBUFS;
    }
    if (pstSession->pu8Queue == nullptr)
        pstSession->pu8Queue = (u8 *)malloc(AIO_TCP_QUEUE_SIZE);
    if (pstSession->pu8Queue == nullptr) {
        // Part of the message may be out already: the stream is broken.
        pstSession->bClosed = true;
        (void)shutdown(pstSession->s32Fd, SHUT_RDWR);
        return ENOMEM;
    }
    if (pstSession->u32Len == 0)
        pstSession->u64Progress = TcpTransport_NowMs();
    for (s32 i = 0; i < s32Num; i++) {
        size_t skip = sent < pstVec[i].iov_len ? sent : pstVec[i].iov_len;
        sent -= skip;
        TcpSession_Append(pstSession, (const u8 *)pstVec[i].iov_base + skip, pstVec[i].iov_len - skip);
    }
    if (!pstSession->bWriting && TcpSession_ArmWrite(pstSession) != 0) {
        pstSession->bClosed = true;
        (void)shutdown(pstSession->s32Fd, SHUT_RDWR);
        return EPIPE;
    }
    return 0;
}

s64 aio_tcp_transport_room(AioTcpSession_S *pstSession)
{
    std::lock_guard<std::mutex> lk(pstSession->mtx);
    if (TcpSession_Dead(pstSession))
        return -EPIPE;
    return AIO_TCP_QUEUE_SIZE - pstSession->u32Len;
}

s32 aio_tcp_transport_send(AioTcpSession_S *pstSession, const void *pvData, size_t size)
{
    struct iovec stVec = {(void *)pvData, size};
    return aio_tcp_transport_sendv(pstSession, &stVec, 1);
}

void aio_tcp_transport_disconnect(AioTcpSession_S *pstSession)
{
    TcpSession_Close(pstSession);
}

void aio_tcp_transport_close(AioTcpSession_S *pstSession)
{
    std::unique_lock<std::mutex> lk(pstSession->mtx);
    if (pstSession->bDisconnected || pstSession->bCloseAfterFlush)
        return;
    pstSession->bCloseAfterFlush = true;
    bool bNow = !pstSession->bWriting;   // else the last write's completion closes it
    lk.unlock();
    if (bNow)
        TcpSession_CloseGraceful(pstSession);
}

s32 aio_tcp_transport_fd(const AioTcpSession_S *pstSession)
{
    return pstSession->s32Fd;
}
