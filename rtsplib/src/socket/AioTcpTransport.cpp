#include "rtsplib/src/socket/AioTcpTransport.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <ctime>
#include <cstddef>
#include <initializer_list>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include "core/Debug.h"
#include "rtsplib/include/Time64.h"
#include "rtsplib/include/AioSocket.h"

#define AIO_TCP_DRAIN_MAX   65536   // bytes read and dropped before a graceful close
#define AIO_TCP_PIECES_MIN  64      // first size of a connection's piece ring
#define AIO_TCP_WRITE_VEC   1024    // vectors of one gathered write
#define AIO_TCP_WAIT_VEC    64      // vectors of a write that waits for room
#define AIO_TCP_TICK_MS     1000    // how often stalled connections are looked for

struct AioTcpBlock_S {
    std::atomic<s32> s32Ref;
    u32 u32Len;
    u8 au8[1];                               // u32Len bytes
};

struct AioTcpQueued_S {
    AioTcpBlock_S *pstBlock;
    const u8 *pu8;
    u32 u32Len;
    bool bReply;
};

struct AioTcpTransport_S {
    std::mutex mtx;                          // guards pstSessions and pstReady
    std::atomic<s32> s32Ref;                 // creator + pending accept or pause + wake + tick + one per session
    AioSocket_S *pstListen;
    AioSocket_S *pstTimer;                   // timerfd of the accept pause
    AioSocket_S *pstWake;                    // eventfd: queues wait to be written
    AioSocket_S *pstTick;                    // timerfd of the stall check
    s32 s32TimerFd;
    s32 s32WakeFd;
    s32 s32TickFd;
    u64 u64TimerBuf;
    u64 u64WakeBuf;
    u64 u64TickBuf;
    std::atomic<bool> bWakeSent;             // the eventfd was written and not yet read
    bool bStopping;
    bool *pbGone;                            // set when freed, for destroy
    AioTcpHandler_S stHandler;
    void *pvParam;
    AioTcpSession_S *pstSessions;            // open sessions; linked in place, so that an accept needs no memory
    AioTcpSession_S *pstReady;               // sessions whose queue waits for the reactor
};

struct AioTcpSession_S {
    std::mutex mtx;                          // guards the queue and the flags
    std::atomic<s32> s32Ref;                 // live + pending receive + pending write + on the ready list
    AioTcpTransport_S *pstTransport;
    AioSocket_S *pstSocket;
    s32 s32Fd;
    void *pvPtr;                             // from pfnOnConnected
    AioTcpSession_S *pstPrevSession, *pstNextSession;   // in the transport's pstSessions
    AioTcpQueued_S *pstRing;                 // pieces in order, grown on need up to AIO_TCP_PIECES_MAX
    u32 u32RingSize;
    u32 u32First;                            // oldest queued piece
    u32 u32Count;                            // pieces queued
    u32 u32Bytes;                            // bytes queued
    u32 u32ReplyBytes;                       // of them in replies
    u64 u64Progress;                         // ms, monotonic: queue filled or bytes written
    struct iovec astVec[AIO_TCP_WAIT_VEC];   // what the pending write sends
    AioTcpSession_S *pstNextReady;
    AioTcpSession_S *pstNextDead;            // on the stall check's list to close; reactor thread
    bool bReady;                             // on the ready list
    bool bWriting;                           // a write is pending
    bool bClosed;                            // sends are refused
    bool bCloseAfterFlush;
    bool bRecvPaused;                        // too many replies unsent to read on
    bool bDisconnected;                      // pfnOnDisconnect has run
    u8 au8Recv[AIO_TCP_RECV_SIZE];
};

AioTcpBlock_S *aio_tcp_block_create(u32 u32Len)
{
    AioTcpBlock_S *pstBlock = (AioTcpBlock_S *)malloc(offsetof(AioTcpBlock_S, au8) + (u32Len ? u32Len : 1));
    if (pstBlock == nullptr)
        return nullptr;
    new (&pstBlock->s32Ref) std::atomic<s32>(1);
    pstBlock->u32Len = u32Len;
    return pstBlock;
}

u8 *aio_tcp_block_data(AioTcpBlock_S *pstBlock)
{
    return pstBlock->au8;
}

void aio_tcp_block_release(AioTcpBlock_S *pstBlock)
{
    if (pstBlock->s32Ref.fetch_sub(1) == 1)
        free(pstBlock);
}

static void TcpTransport_Release(AioTcpTransport_S *pstTransport)
{
    if (pstTransport->s32Ref.fetch_sub(1) != 1)
        return;
    if (pstTransport->pbGone)
        *pstTransport->pbGone = true;
    delete pstTransport;
}

// Caller holds the session mutex: drops u32Bytes from the queue's front.
static void TcpSession_Consume(AioTcpSession_S *pstSession, size_t bytes)
{
    while (bytes > 0 || (pstSession->u32Count > 0 && pstSession->pstRing[pstSession->u32First].u32Len == 0)) {
        AioTcpQueued_S *pstPiece = &pstSession->pstRing[pstSession->u32First];
        u32 n = bytes < pstPiece->u32Len ? (u32)bytes : pstPiece->u32Len;
        pstPiece->pu8 += n;
        pstPiece->u32Len -= n;
        pstSession->u32Bytes -= n;
        if (pstPiece->bReply)
            pstSession->u32ReplyBytes -= n;
        bytes -= n;
        if (pstPiece->u32Len > 0)
            break;
        aio_tcp_block_release(pstPiece->pstBlock);
        pstSession->u32First = (pstSession->u32First + 1) % pstSession->u32RingSize;
        pstSession->u32Count--;
    }
}

static void TcpSession_Release(AioTcpSession_S *pstSession)
{
    if (pstSession->s32Ref.fetch_sub(1) != 1)
        return;
    AioTcpTransport_S *pstTransport = pstSession->pstTransport;
    TcpSession_Consume(pstSession, pstSession->u32Bytes);
    free(pstSession->pstRing);
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
        if (pstSession->pstPrevSession)
            pstSession->pstPrevSession->pstNextSession = pstSession->pstNextSession;
        else
            pstTransport->pstSessions = pstSession->pstNextSession;
        if (pstSession->pstNextSession)
            pstSession->pstNextSession->pstPrevSession = pstSession->pstPrevSession;
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

// Caller holds the session mutex: the queue's front as vectors.
static s32 TcpSession_Vectors(const AioTcpSession_S *pstSession, struct iovec *pstVec, s32 s32Max)
{
    s32 n = 0;
    for (u32 i = 0; i < pstSession->u32Count && n < s32Max; i++) {
        const AioTcpQueued_S *pstPiece = &pstSession->pstRing[(pstSession->u32First + i) % pstSession->u32RingSize];
        if (pstPiece->u32Len == 0)
            continue;
        pstVec[n].iov_base = (void *)pstPiece->pu8;
        pstVec[n++].iov_len = pstPiece->u32Len;
    }
    return n;
}

// Caller holds the session mutex; the queue is not empty. Waits for room
// in the socket and writes then.
static s32 TcpSession_ArmWrite(AioTcpSession_S *pstSession)
{
    s32 s32Num = TcpSession_Vectors(pstSession, pstSession->astVec, AIO_TCP_WAIT_VEC);
    pstSession->s32Ref.fetch_add(1);
    s32 s32Ret = aio_socket_send_v(pstSession->pstSocket, pstSession->astVec, s32Num, TcpSession_OnWritten,
                                   pstSession);
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s: aio_socket_send_v: %s\n", log_Time(), __func__, strerror(s32Ret));
        pstSession->s32Ref.fetch_sub(1);
        return s32Ret;
    }
    pstSession->bWriting = true;
    return 0;
}

// After the queue moved: requests are read again once the replies are
// out, and a connection that was to close closes once all is out.
// Reactor thread; the caller holds no lock.
static void TcpSession_Drained(AioTcpSession_S *pstSession)
{
    std::unique_lock<std::mutex> lk(pstSession->mtx);
    if (pstSession->bDisconnected || pstSession->bWriting)
        return;
    bool bResume = pstSession->bRecvPaused && !pstSession->bCloseAfterFlush &&
                   pstSession->u32ReplyBytes <= AIO_TCP_REPLY_PAUSE / 2;
    if (bResume)
        pstSession->bRecvPaused = false;
    bool bFlushClose = pstSession->bCloseAfterFlush && pstSession->u32Count == 0;
    lk.unlock();
    if (bResume && TcpSession_ArmRecv(pstSession) != 0)
        TcpSession_Close(pstSession);
    else if (bFlushClose)
        TcpSession_CloseGraceful(pstSession);
}

// Writes the queue with gathered writes until it is empty or the socket
// is full; then waits for room. Reactor thread.
static void TcpSession_Flush(AioTcpSession_S *pstSession)
{
    static thread_local struct iovec s_astVec[AIO_TCP_WRITE_VEC];
    bool bClose = false;
    for (;;) {
        std::unique_lock<std::mutex> lk(pstSession->mtx);
        if (pstSession->bDisconnected || pstSession->bWriting || pstSession->u32Count == 0)
            break;
        s32 s32Num = TcpSession_Vectors(pstSession, s_astVec, AIO_TCP_WRITE_VEC);
        lk.unlock();   // producers only append: the front stays as it is
        struct msghdr stMsg;
        memset(&stMsg, 0, sizeof(stMsg));
        stMsg.msg_iov = s_astVec;
        stMsg.msg_iovlen = (size_t)s32Num;
        ssize_t n = sendmsg(pstSession->s32Fd, &stMsg, MSG_NOSIGNAL | MSG_DONTWAIT);
        s32 s32Err = errno;
        lk.lock();
        if (n < 0 && s32Err != EAGAIN && s32Err != EWOULDBLOCK && s32Err != EINTR) {
            bClose = true;
            break;
        }
        if (n > 0) {
            TcpSession_Consume(pstSession, (size_t)n);
            pstSession->u64Progress = time64_monotonic();
        }
        size_t total = 0;
        for (s32 i = 0; i < s32Num; i++)
            total += s_astVec[i].iov_len;
        if ((n < 0 || (size_t)n < total) && pstSession->u32Count > 0) {
            bClose = TcpSession_ArmWrite(pstSession) != 0;
            break;
        }
    }
    if (bClose)
        TcpSession_Close(pstSession);
    else
        TcpSession_Drained(pstSession);
}

static void TcpSession_OnWritten(void *pvParam, s32 s32Code, size_t bytes)
{
    AioTcpSession_S *pstSession = (AioTcpSession_S *)pvParam;
    bool bClose;
    {
        std::lock_guard<std::mutex> lk(pstSession->mtx);
        pstSession->bWriting = false;
        bClose = s32Code != 0 || pstSession->bDisconnected;
        if (!bClose && bytes > 0) {
            TcpSession_Consume(pstSession, bytes);
            pstSession->u64Progress = time64_monotonic();
        }
    }
    if (bClose)
        TcpSession_Close(pstSession);
    else
        TcpSession_Flush(pstSession);
    TcpSession_Release(pstSession);
}

// Puts the session on the reactor's list and wakes the reactor, once per
// batch. Any thread; the caller holds no lock.
static void TcpSession_Schedule(AioTcpSession_S *pstSession)
{
    AioTcpTransport_S *pstTransport = pstSession->pstTransport;
    {
        std::lock_guard<std::mutex> lk(pstTransport->mtx);
        if (pstSession->bReady)
            return;
        pstSession->bReady = true;
        pstSession->s32Ref.fetch_add(1);
        pstSession->pstNextReady = pstTransport->pstReady;
        pstTransport->pstReady = pstSession;
    }
    if (pstTransport->bWakeSent.exchange(true))
        return;
    u64 u64One = 1;
    if (write(pstTransport->s32WakeFd, &u64One, sizeof(u64One)) < 0)
        Debug_Log("[%s]: %s: eventfd: %s\n", log_Time(), __func__, strerror(errno));   // full: a wake is pending
}

static void TcpTransport_OnWake(void *pvParam, s32 s32Code, size_t bytes);

static void TcpTransport_ArmWake(AioTcpTransport_S *pstTransport)
{
    if (aio_socket_recv(pstTransport->pstWake, &pstTransport->u64WakeBuf, sizeof(pstTransport->u64WakeBuf),
                        TcpTransport_OnWake, pstTransport) != 0) {
        Debug_Log("[%s]: %s: the reactor can no longer be woken\n", log_Time(), __func__);
        TcpTransport_Release(pstTransport);
    }
}

static void TcpTransport_OnWake(void *pvParam, s32 s32Code, size_t bytes)
{
    (void)bytes;   // the count of wakes; one pass serves them all
    AioTcpTransport_S *pstTransport = (AioTcpTransport_S *)pvParam;
    pstTransport->bWakeSent = false;
    AioTcpSession_S *pstReady;
    {
        std::lock_guard<std::mutex> lk(pstTransport->mtx);
        pstReady = pstTransport->pstReady;
        pstTransport->pstReady = nullptr;
    }
    // Each stays marked until its turn, so that a new batch does not link
    // it into another list meanwhile.
    while (pstReady) {
        AioTcpSession_S *pstSession = pstReady;
        {
            std::lock_guard<std::mutex> lk(pstTransport->mtx);
            pstReady = pstSession->pstNextReady;
            pstSession->bReady = false;
        }
        TcpSession_Flush(pstSession);
        TcpSession_Release(pstSession);
    }
    if (pstTransport->bStopping || s32Code != 0) {
        TcpTransport_Release(pstTransport);
        return;
    }
    TcpTransport_ArmWake(pstTransport);
}

// Caller holds the session mutex. True when the session is closed or
// its queue has not moved for AIO_TCP_STALL_MS; such a session is shut
// down here and the reactor then closes it.
static bool TcpSession_Dead(AioTcpSession_S *pstSession)
{
    if (pstSession->bClosed || pstSession->bCloseAfterFlush)
        return true;
    if (pstSession->u32Count == 0 || time64_monotonic() - pstSession->u64Progress < AIO_TCP_STALL_MS)
        return false;
    static DebugLimit_S s_stLimit;
    char azPeer[INET_ADDRSTRLEN] = "?";
    struct sockaddr_in stPeer;
    socklen_t u32Len = sizeof(stPeer);
    if (getpeername(pstSession->s32Fd, (struct sockaddr *)&stPeer, &u32Len) == 0 && stPeer.sin_family == AF_INET)
        (void)inet_ntop(AF_INET, &stPeer.sin_addr, azPeer, sizeof(azPeer));   // fits: the size is the maximum
    Debug_LogLimited(&s_stLimit, "[%s]: %s: peer %s:%u read nothing of %u queued bytes for %d ms, closing\n",
                     log_Time(), __func__, azPeer, azPeer[0] == '?' ? 0u : (u32)ntohs(stPeer.sin_port),
                     pstSession->u32Bytes, AIO_TCP_STALL_MS);
    pstSession->bClosed = true;
    (void)shutdown(pstSession->s32Fd, SHUT_RDWR);   // fails only for a socket already dead
    return true;
}

static void TcpTransport_OnTick(void *pvParam, s32 s32Code, size_t bytes);

static void TcpTransport_ArmTick(AioTcpTransport_S *pstTransport)
{
    if (aio_socket_recv(pstTransport->pstTick, &pstTransport->u64TickBuf, sizeof(pstTransport->u64TickBuf),
                        TcpTransport_OnTick, pstTransport) != 0) {
        Debug_Log("[%s]: %s: stalled connections are no longer looked for\n", log_Time(), __func__);
        TcpTransport_Release(pstTransport);
    }
}

// Closes the connections whose queue has not moved for AIO_TCP_STALL_MS,
// whether or not anything new is queued for them.
static void TcpTransport_OnTick(void *pvParam, s32 s32Code, size_t bytes)
{
    (void)bytes;   // missed ticks need no catching up
    AioTcpTransport_S *pstTransport = (AioTcpTransport_S *)pvParam;
    if (pstTransport->bStopping || s32Code != 0) {
        TcpTransport_Release(pstTransport);
        return;
    }
    AioTcpSession_S *pstDead = nullptr;
    {
        std::lock_guard<std::mutex> lk(pstTransport->mtx);
        for (AioTcpSession_S *pstSession = pstTransport->pstSessions; pstSession;
             pstSession = pstSession->pstNextSession) {
            std::lock_guard<std::mutex> lkSession(pstSession->mtx);
            if (!pstSession->bDisconnected && pstSession->u32Count > 0 && TcpSession_Dead(pstSession)) {
                pstSession->s32Ref.fetch_add(1);
                pstSession->pstNextDead = pstDead;
                pstDead = pstSession;
            }
        }
    }
    while (pstDead) {
        AioTcpSession_S *pstSession = pstDead;
        pstDead = pstSession->pstNextDead;
        TcpSession_Close(pstSession);
        TcpSession_Release(pstSession);
    }
    TcpTransport_ArmTick(pstTransport);
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
        bFlushClose = pstSession->u32Count == 0;
    } else if (!bClose && pstSession->u32ReplyBytes > AIO_TCP_REPLY_PAUSE) {
        pstSession->bRecvPaused = true;   // the peer reads its replies too slowly; resume once they are out
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
    static DebugLimit_S s_stLimit;   // each connection a peer makes meanwhile
    AioTcpSession_S *pstSession = new (std::nothrow) AioTcpSession_S();
    AioSocket_S *pstSocket = pstSession ? aio_socket_create(s32Fd, true) : nullptr;
    if (pstSocket == nullptr) {
        Debug_LogLimited(&s_stLimit, "[%s]: %s: out of memory, connection refused\n", log_Time(), __func__);
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
        pstSession->pstNextSession = pstTransport->pstSessions;
        if (pstSession->pstNextSession)
            pstSession->pstNextSession->pstPrevSession = pstSession;
        pstTransport->pstSessions = pstSession;
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

// Wraps a descriptor of the transport's own (timerfd or eventfd); false
// when it cannot be made, the descriptor closed.
static bool TcpTransport_Own(s32 s32Fd, AioSocket_S **ppstSocket)
{
    *ppstSocket = s32Fd >= 0 ? aio_socket_create(s32Fd, true) : nullptr;
    if (*ppstSocket == nullptr && s32Fd >= 0)
        close(s32Fd);
    return *ppstSocket != nullptr;
}

// Frees a transport whose requests were never armed.
static void TcpTransport_Free(AioTcpTransport_S *pstTransport)
{
    for (AioSocket_S *pstSocket : {pstTransport->pstListen, pstTransport->pstTimer, pstTransport->pstWake,
                                   pstTransport->pstTick})
        if (pstSocket)
            aio_socket_destroy(pstSocket);
    delete pstTransport;
}

AioTcpTransport_S *aio_tcp_transport_create(s32 s32ListenFd, const AioTcpHandler_S *pstHandler, void *pvParam)
{
    AioTcpTransport_S *pstTransport = new (std::nothrow) AioTcpTransport_S();
    if (pstTransport == nullptr) {
        Debug_Log("[%s]: %s: out of memory\n", log_Time(), __func__);
        close(s32ListenFd);
        return nullptr;
    }
    pstTransport->stHandler = *pstHandler;
    pstTransport->pvParam = pvParam;
    pstTransport->s32TimerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    pstTransport->s32TickFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    pstTransport->s32WakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    struct itimerspec stIt;
    memset(&stIt, 0, sizeof(stIt));
    stIt.it_value.tv_nsec = stIt.it_interval.tv_nsec = AIO_TCP_TICK_MS % 1000 * 1000000L;
    stIt.it_value.tv_sec = stIt.it_interval.tv_sec = AIO_TCP_TICK_MS / 1000;
    bool bOk = TcpTransport_Own(s32ListenFd, &pstTransport->pstListen);
    bOk = TcpTransport_Own(pstTransport->s32TimerFd, &pstTransport->pstTimer) && bOk;
    bOk = TcpTransport_Own(pstTransport->s32TickFd, &pstTransport->pstTick) && bOk;
    bOk = TcpTransport_Own(pstTransport->s32WakeFd, &pstTransport->pstWake) && bOk;
    if (!bOk || timerfd_settime(pstTransport->s32TickFd, 0, &stIt, nullptr) < 0) {
        Debug_Log("[%s]: %s: timerfd or eventfd: %s\n", log_Time(), __func__, strerror(errno));
        TcpTransport_Free(pstTransport);
        return nullptr;
    }
    pstTransport->s32Ref = 1;   // the creator; each request armed below adds its own
    if (aio_socket_accept(pstTransport->pstListen, TcpTransport_OnAccept, pstTransport) != 0) {
        Debug_Log("[%s]: aio_tcp_transport_create aio accept error.\n", log_Time());
        TcpTransport_Free(pstTransport);
        return nullptr;
    }
    pstTransport->s32Ref += 3;
    TcpTransport_ArmWake(pstTransport);   // each failure logged and its reference dropped there
    TcpTransport_ArmTick(pstTransport);
    return pstTransport;
}

void aio_tcp_transport_destroy(AioTcpTransport_S *pstTransport)
{
    bool bGone = false;
    pstTransport->pbGone = &bGone;
    pstTransport->bStopping = true;
    aio_socket_destroy(pstTransport->pstListen);
    // The pending wake, pause and tick end at once: neither an eventfd nor
    // a timerfd can be shut down.
    u64 u64One = 1;
    if (write(pstTransport->s32WakeFd, &u64One, sizeof(u64One)) < 0)
        Debug_Log("[%s]: %s: eventfd: %s\n", log_Time(), __func__, strerror(errno));
    aio_socket_destroy(pstTransport->pstWake);
    struct itimerspec stIt;
    memset(&stIt, 0, sizeof(stIt));
    stIt.it_value.tv_nsec = 1;
    for (s32 s32Fd : {pstTransport->s32TimerFd, pstTransport->s32TickFd})
        if (timerfd_settime(s32Fd, 0, &stIt, nullptr) < 0)
            Debug_Log("[%s]: %s: timerfd_settime: %s\n", log_Time(), __func__, strerror(errno));
    aio_socket_destroy(pstTransport->pstTimer);
    aio_socket_destroy(pstTransport->pstTick);
    for (;;) {
        AioTcpSession_S *pstSession;
        {
            std::lock_guard<std::mutex> lk(pstTransport->mtx);
            if (pstTransport->pstSessions == nullptr)
                break;
            pstSession = pstTransport->pstSessions;
        }
        TcpSession_Close(pstSession);
    }
    TcpTransport_Release(pstTransport);
    (void)aio_socket_process_until(&bGone, 1000);   // logged there; what is left leaks
}

// Caller holds the session mutex: room for u32Num more pieces, the ring
// grown when needed. False when it cannot grow.
static bool TcpSession_Room(AioTcpSession_S *pstSession, u32 u32Num)
{
    u32 u32Need = pstSession->u32Count + u32Num;
    if (u32Need <= pstSession->u32RingSize)
        return true;
    u32 u32Size = pstSession->u32RingSize ? pstSession->u32RingSize : AIO_TCP_PIECES_MIN;
    while (u32Size < u32Need)
        u32Size *= 2;
    AioTcpQueued_S *pstRing = (AioTcpQueued_S *)malloc(u32Size * sizeof(AioTcpQueued_S));
    if (pstRing == nullptr)
        return false;
    for (u32 i = 0; i < pstSession->u32Count; i++)
        pstRing[i] = pstSession->pstRing[(pstSession->u32First + i) % pstSession->u32RingSize];
    free(pstSession->pstRing);
    pstSession->pstRing = pstRing;
    pstSession->u32RingSize = u32Size;
    pstSession->u32First = 0;
    return true;
}

// Appends pieces, all or none; bReply marks replies. As sendv.
static s32 TcpSession_Queue(AioTcpSession_S *pstSession, const AioTcpPiece_S *pastPiece, u32 u32Num, bool bReply)
{
    u64 u64Total = 0;
    for (u32 i = 0; i < u32Num; i++)
        u64Total += pastPiece[i].u32Len;
    // Frames of small packets would take every piece long before the
    // bytes run out, and then no reply could go.
    u32 u32Pieces = bReply ? AIO_TCP_PIECES_MAX : AIO_TCP_PIECES_MAX - AIO_TCP_REPLY_PIECES;
    if (u64Total > AIO_TCP_QUEUE_SIZE || u32Num > u32Pieces)
        return EMSGSIZE;
    {
        std::lock_guard<std::mutex> lk(pstSession->mtx);
        if (TcpSession_Dead(pstSession))
            return EPIPE;
        if (pstSession->u32Bytes + u64Total > AIO_TCP_QUEUE_SIZE || pstSession->u32Count + u32Num > u32Pieces)
            return ENOBUFS;
        if (!TcpSession_Room(pstSession, u32Num))
            return ENOMEM;
        if (pstSession->u32Count == 0)
            pstSession->u64Progress = time64_monotonic();
        for (u32 i = 0; i < u32Num; i++) {
            AioTcpQueued_S *pstPiece =
                &pstSession->pstRing[(pstSession->u32First + pstSession->u32Count++) % pstSession->u32RingSize];
            pastPiece[i].pstBlock->s32Ref.fetch_add(1);
            *pstPiece = {pastPiece[i].pstBlock, pastPiece[i].pu8, pastPiece[i].u32Len, bReply};
        }
        pstSession->u32Bytes += (u32)u64Total;
        if (bReply)
            pstSession->u32ReplyBytes += (u32)u64Total;
    }
    TcpSession_Schedule(pstSession);
    return 0;
}

s32 aio_tcp_transport_queue(AioTcpSession_S *pstSession, const AioTcpPiece_S *pastPiece, u32 u32Num)
{
    return TcpSession_Queue(pstSession, pastPiece, u32Num, false);
}

s32 aio_tcp_transport_sendv(AioTcpSession_S *pstSession, const struct iovec *pstVec, s32 s32Num)
{
    size_t total = 0;
    for (s32 i = 0; i < s32Num; i++)
        total += pstVec[i].iov_len;
    if (total > AIO_TCP_QUEUE_SIZE)
        return EMSGSIZE;
    AioTcpBlock_S *pstBlock = aio_tcp_block_create((u32)total);
    if (pstBlock == nullptr)
        return ENOMEM;
    u8 *pu8 = pstBlock->au8;
    for (s32 i = 0; i < s32Num; i++) {
        memcpy(pu8, pstVec[i].iov_base, pstVec[i].iov_len);
        pu8 += pstVec[i].iov_len;
    }
    AioTcpPiece_S stPiece = {pstBlock, pstBlock->au8, (u32)total};
    s32 s32Ret = TcpSession_Queue(pstSession, &stPiece, 1, true);
    aio_tcp_block_release(pstBlock);
    return s32Ret;
}

s64 aio_tcp_transport_room(AioTcpSession_S *pstSession)
{
    std::lock_guard<std::mutex> lk(pstSession->mtx);
    if (TcpSession_Dead(pstSession))
        return -EPIPE;
    return AIO_TCP_QUEUE_SIZE - pstSession->u32Bytes;
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
