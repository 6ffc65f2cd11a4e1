#include "extension/Soip.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "core/Clock.h"

enum { SOIP_FD_WAKE, SOIP_FD_LISTEN, SOIP_FD_CLIENT, SOIP_FD_DEV, SOIP_FD_DEVOUT, SOIP_FDS };

static s32 Soip_Listen(SoipServerAttr_S *pstServer)
{
    s32 s32Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: socket: %s\n", log_Time(), pstServer->pszName, strerror(errno));
        return -1;
    }
    s32 s32On = 1;
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(pstServer->u16Port);
    stAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (setsockopt(s32Fd, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On)) < 0
        || bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0 || listen(s32Fd, 2) < 0) {
        Debug_Log("[%s]: %s: listen on %u: %s\n", log_Time(), pstServer->pszName,
                  pstServer->u16Port, strerror(errno));
        close(s32Fd);
        return -1;
    }
    pstServer->s32ListenFd = s32Fd;
    return 0;
}

// Bytes the client sent that were not read, for the log only: 0 when the
// system cannot tell.
static u32 Soip_Unread(s32 s32Fd)
{
    int s32Len = 0;
    return ioctl(s32Fd, FIONREAD, &s32Len) == 0 && s32Len > 0 ? (u32)s32Len : 0;
}

// Closes the client, if any; *pbLogged: whether its line was logged.
static void Soip_DropClient(SoipServerAttr_S *pstServer, const char *pszWhy, bool *pbLogged = nullptr)
{
    s32 s32Fd = pstServer->s32ClientFd.exchange(-1);
    if (s32Fd < 0)
        return;
    char azUnread[48] = "";
    u32 u32Unread = Soip_Unread(s32Fd);
    if (u32Unread > 0)
        snprintf(azUnread, sizeof(azUnread), ", %u unread bytes dropped", u32Unread);
    bool bLogged = pstServer->bClientLogged || Debug_LimitTake(&pstServer->stLogLimit);
    if (pbLogged != nullptr)
        *pbLogged = bLogged;
    if (bLogged)
        Debug_Log("[%s]: %s: client %s%s\n", log_Time(), pstServer->pszName, pszWhy, azUnread);
    close(s32Fd);
    // Its device bytes go nowhere else; its own bytes still reach the device.
    pstServer->u32OutOff = 0;
    pstServer->u32OutLen = 0;
    pstServer->bClientRdHup = false;
    if (pstServer->pfnClientDone != nullptr)
        pstServer->pfnClientDone(pstServer);
}

// Keep-alive with short timings and a time-out for unacknowledged data, so
// that a client whose host is gone without a word is dropped within about
// SOIP_USER_TIMEOUT_MS, not after the system's hours; small writes go out
// at once.
const SoipSockOpt_S g_astSoipClientOpts[] = {
    {SOL_SOCKET, SO_KEEPALIVE, 1},
    {IPPROTO_TCP, TCP_KEEPIDLE, SOIP_KEEPIDLE_S},
    {IPPROTO_TCP, TCP_KEEPINTVL, SOIP_KEEPINTVL_S},
    {IPPROTO_TCP, TCP_KEEPCNT, SOIP_KEEPCNT},
    {IPPROTO_TCP, TCP_USER_TIMEOUT, SOIP_USER_TIMEOUT_MS},
    {IPPROTO_TCP, TCP_NODELAY, 1},
};
const u32 g_u32SoipClientOpts = sizeof(g_astSoipClientOpts) / sizeof(g_astSoipClientOpts[0]);

static bool Soip_OutOfFds(s32 s32Errno)
{
    return s32Errno == EMFILE || s32Errno == ENFILE || s32Errno == ENOBUFS || s32Errno == ENOMEM;
}

// The client's end of sending has come: from now its bytes have
// SOIP_STALL_MS to reach the device while a new client waits.
static void Soip_EndSeen(SoipServerAttr_S *pstServer)
{
    pstServer->bClientRdHup = true;
    pstServer->s64ToDevMs = Clock_NowMs();
}

// A client whose end came, not read to it yet, whose bytes the device
// took within SOIP_STALL_MS: no new client is accepted meanwhile.
static bool Soip_Draining(const SoipServerAttr_S *pstServer)
{
    return pstServer->s32ClientFd >= 0 && pstServer->bClientRdHup && !pstServer->bClientEof
           && Clock_NowMs() - pstServer->s64ToDevMs <= SOIP_STALL_MS;
}

// True when the client's end shows only now, after this pass's poll: it
// is read to its end first. A poll that fails shows nothing: the client
// is then replaced as a live one.
static bool Soip_EndsNow(SoipServerAttr_S *pstServer)
{
    if (pstServer->s32ClientFd < 0 || pstServer->bClientRdHup || pstServer->bClientEof)
        return false;
    struct pollfd stPoll = {pstServer->s32ClientFd, POLLRDHUP, 0};
    if (poll(&stPoll, 1, 0) <= 0 || !(stPoll.revents & POLLRDHUP))
        return false;
    Soip_EndSeen(pstServer);
    return true;
}

static void Soip_Accept(SoipServerAttr_S *pstServer)
{
    if (Soip_EndsNow(pstServer))
        return;
    s32 s32Fd = accept4(pstServer->s32ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (s32Fd < 0) {
        // The client stays queued and the listener readable: wait for
        // descriptors rather than try again at once.
        if (Soip_OutOfFds(errno))
            pstServer->s64AcceptAtMs = Clock_NowMs() + SOIP_ACCEPT_PAUSE_MS;
        Debug_LogLimited(&pstServer->stLogLimit, "[%s]: %s: accept: %s\n", log_Time(),
                         pstServer->pszName, strerror(errno));
        return;
    }
    if (pstServer->pfnKeepClient != nullptr && pstServer->s32ClientFd >= 0
        && pstServer->pfnKeepClient(pstServer)) {
        Debug_LogLimited(&pstServer->stLogLimit, "[%s]: %s: busy, new client turned away\n",
                         log_Time(), pstServer->pszName);
        close(s32Fd);
        return;
    }
    // Each refusal is logged there; the client is served all the same, its
    // end perhaps only noticed later.
    (void)Soip_SetOpts(pstServer, s32Fd, g_astSoipClientOpts, g_u32SoipClientOpts);
    // A replacement logged is one event with the new client's connection.
    bool bLogged = false;
    Soip_DropClient(pstServer,
                    pstServer->bClientRdHup && !pstServer->bClientEof
                        ? "replaced after its end, the device taking none of its bytes"
                        : "replaced",
                    &bLogged);
    pstServer->bClientEof = false;
    pstServer->s32ClientFd = s32Fd;
    pstServer->u32Clients++;
    pstServer->bClientLogged = bLogged || Debug_LimitTake(&pstServer->stLogLimit);
    if (pstServer->bClientLogged)
        Debug_Log("[%s]: %s: client connected\n", log_Time(), pstServer->pszName);
}

// Sends what the client takes now of its queue; a send error drops it.
static void Soip_Flush(SoipServerAttr_S *pstServer)
{
    while (pstServer->u32OutLen > 0) {
        ssize_t n = send(pstServer->s32ClientFd, pstServer->au8Out + pstServer->u32OutOff,
                         pstServer->u32OutLen, MSG_DONTWAIT | MSG_NOSIGNAL);
        if (n > 0) {
            pstServer->u32OutOff += (u32)n;
            pstServer->u32OutLen -= (u32)n;
            pstServer->s64OutMs = Clock_NowMs();
        } else if (n < 0 && errno == EAGAIN) {
            return;
        } else if (n == 0 || errno != EINTR) {
            Soip_DropClient(pstServer, "left");
            return;
        }
    }
    pstServer->u32OutOff = 0;
}

void Soip_SendClient(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len)
{
    if (pstServer->s32ClientFd < 0)
        return;
    if (u32Len > SOIP_OUT_LEN - pstServer->u32OutLen) {
        Soip_DropClient(pstServer, "does not take data");
        return;
    }
    if (pstServer->u32OutLen == 0)
        pstServer->s64OutMs = Clock_NowMs();
    if (pstServer->u32OutOff + pstServer->u32OutLen + u32Len > SOIP_OUT_LEN) {
        memmove(pstServer->au8Out, pstServer->au8Out + pstServer->u32OutOff, pstServer->u32OutLen);
        pstServer->u32OutOff = 0;
    }
    memcpy(pstServer->au8Out + pstServer->u32OutOff + pstServer->u32OutLen, pu8Data, u32Len);
    pstServer->u32OutLen += u32Len;
    Soip_Flush(pstServer);
}

// Client bytes gathered and handed to pfnFrame frame by frame; a half
// frame of a client that was replaced is dropped.
static void Soip_Frame(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len)
{
    if (pstServer->u32PendingClient != pstServer->u32Clients)
        pstServer->u32Pending = 0;
    pstServer->u32PendingClient = pstServer->u32Clients;
    u8 *pu8Buf = pstServer->pu8Pending;
    memcpy(pu8Buf + pstServer->u32Pending, pu8Data, u32Len);
    u32 u32All = pstServer->u32Pending + u32Len, u32Used = 0, u32Step;
    while (u32Used < u32All
           && (u32Step = pstServer->pfnFrame(pstServer, pu8Buf + u32Used, u32All - u32Used)) > 0)
        u32Used += u32Step;
    pstServer->u32Pending = u32All - u32Used;
    memmove(pu8Buf, pu8Buf + u32Used, pstServer->u32Pending);
}

// Offers the held client bytes to the device until it takes no more.
static void Soip_ToDev(SoipServerAttr_S *pstServer)
{
    while (pstServer->u32HeldLen > 0) {
        u32 u32Took = pstServer->pfnFromClient(pstServer, pstServer->au8Held + pstServer->u32HeldOff,
                                               pstServer->u32HeldLen);
        if (u32Took == 0)
            return;
        pstServer->s64ToDevMs = Clock_NowMs();
        pstServer->u32HeldOff += u32Took;
        pstServer->u32HeldLen -= u32Took;
    }
    pstServer->u32HeldOff = 0;
}

// Read only while nothing of the client is held.
static void Soip_FromClient(SoipServerAttr_S *pstServer)
{
    ssize_t n = recv(pstServer->s32ClientFd, pstServer->au8Held, SOIP_BUF_LEN, MSG_DONTWAIT);
    if (n > 0 && pstServer->pfnFromClient == nullptr) {
        Soip_Frame(pstServer, pstServer->au8Held, (u32)n);
    } else if (n > 0) {
        pstServer->u32HeldLen = (u32)n;
        Soip_ToDev(pstServer);
    } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
        Soip_DropClient(pstServer, "left");
    }
    if (n != 0)
        return;
    if (pstServer->bEofLeaves) {
        Soip_DropClient(pstServer, "left");
        return;
    }
    pstServer->bClientEof = true;   // it may still read what the device answers
    if (pstServer->pfnClientDone != nullptr)
        pstServer->pfnClientDone(pstServer);
}

// The device's descriptor to read this pass, -1 for none: not while the
// client's queue has no room for a read, nor for a client that has left.
static s32 Soip_DevReadFd(SoipServerAttr_S *pstServer)
{
    if (pstServer->pfnDevFd == nullptr)
        return -1;
    if (pstServer->s32ClientFd >= 0
        && (SOIP_OUT_LEN - pstServer->u32OutLen < SOIP_BUF_LEN
            || (pstServer->bEofLeaves && pstServer->bClientRdHup)))
        return -1;
    return pstServer->pfnDevFd(pstServer);
}

static void Soip_FromDev(SoipServerAttr_S *pstServer)
{
    u8 au8Buf[SOIP_BUF_LEN];
    s32 n = MAIN_Uart_Read(pstServer->pstUart, au8Buf, sizeof(au8Buf));
    if (n > 0 && pstServer->pfnFromDev == nullptr)
        Soip_SendClient(pstServer, au8Buf, (u32)n);
    else if (n > 0)
        pstServer->pfnFromDev(pstServer, au8Buf, (u32)n);
    else if (n < 0)   // logged there
        (void)MAIN_Thread_Wait(&pstServer->stThread, SOIP_PASS_MS);   // a device in error stays readable: do not spin
}

// The descriptors of one pass; a slot not in use has fd -1. A half-closed
// client is watched for its hang-up only; a client is watched for its end
// of sending until it is seen, also while it is not read.
static s32 Soip_PollSet(SoipServerAttr_S *pstServer, struct pollfd *pstFds)
{
    s64 s64Wait = pstServer->s64AcceptAtMs - Clock_NowMs();
    bool bAccept = s64Wait <= 0 && !Soip_Draining(pstServer);
    short sClient = 0;
    if (!pstServer->bClientEof && pstServer->u32HeldLen == 0)
        sClient |= POLLIN;
    if (!pstServer->bClientRdHup)
        sClient |= POLLRDHUP;
    if (pstServer->u32OutLen > 0)
        sClient |= POLLOUT;
    bool bHeld = pstServer->u32HeldLen > 0 && pstServer->pfnDevOutFd != nullptr;
    pstFds[SOIP_FD_WAKE] = {MAIN_Thread_WakeFd(&pstServer->stThread), POLLIN, 0};
    pstFds[SOIP_FD_LISTEN] = {bAccept ? pstServer->s32ListenFd : -1, POLLIN, 0};
    pstFds[SOIP_FD_CLIENT] = {pstServer->s32ClientFd, sClient, 0};
    pstFds[SOIP_FD_DEV] = {Soip_DevReadFd(pstServer), POLLIN, 0};
    pstFds[SOIP_FD_DEVOUT] = {bHeld ? pstServer->pfnDevOutFd(pstServer) : -1, POLLOUT, 0};
    return s64Wait <= 0 || s64Wait > SOIP_PASS_MS ? SOIP_PASS_MS : (s32)s64Wait;
}

// The client's events: it takes its queue, ends its sending, sends, or
// is gone. Its end is seen before the device is read in the same pass.
static void Soip_ServeClient(SoipServerAttr_S *pstServer, short sEvents)
{
    if (sEvents & POLLOUT)
        Soip_Flush(pstServer);
    if ((sEvents & POLLRDHUP) && !pstServer->bClientRdHup)
        Soip_EndSeen(pstServer);
    if (pstServer->s32ClientFd < 0)
        return;
    if (sEvents & POLLIN)
        Soip_FromClient(pstServer);
    else if (sEvents & (POLLHUP | POLLERR | POLLNVAL))
        Soip_DropClient(pstServer, "left");
}

static void *Soip_Thread(void *pvArg)
{
    SoipServerAttr_S *pstServer = (SoipServerAttr_S *)pvArg;
    struct pollfd astFds[SOIP_FDS];
    while (MAIN_Thread_Running(&pstServer->stThread)) {
        if (pstServer->bReopen.exchange(0) && pstServer->pfnReopen != nullptr) {
            Debug_Log("[%s]: %s: reopen the port\n", log_Time(), pstServer->pszName);
            (void)pstServer->pfnReopen(pstServer->pstUart);   // logged there; retried on demand
        }
        if (pstServer->pfnPass != nullptr)
            pstServer->pfnPass(pstServer);

        s32 s32Ms = Soip_PollSet(pstServer, astFds);
        if (poll(astFds, SOIP_FDS, s32Ms) < 0) {
            // A device closed by its reopen elsewhere shows here once.
            if (errno != EINTR)
                (void)MAIN_Thread_Wait(&pstServer->stThread, 10);
            continue;
        }
        if (astFds[SOIP_FD_WAKE].revents != 0)
            (void)MAIN_Thread_Wait(&pstServer->stThread, 0);   // takes the wake
        if (pstServer->s32ClientFd >= 0)
            Soip_ServeClient(pstServer, astFds[SOIP_FD_CLIENT].revents);
        if (pstServer->u32HeldLen > 0)
            Soip_ToDev(pstServer);
        // Read only if still the relay's to read: a guest may have come.
        if (astFds[SOIP_FD_DEV].revents != 0 && Soip_DevReadFd(pstServer) >= 0)
            Soip_FromDev(pstServer);
        if (pstServer->u32OutLen > 0 && Clock_NowMs() - pstServer->s64OutMs > SOIP_STALL_MS)
            Soip_DropClient(pstServer, "stalled: takes no data");
        if (astFds[SOIP_FD_LISTEN].revents & POLLIN)
            Soip_Accept(pstServer);
    }
    Soip_DropClient(pstServer, "closed: server stops");
    return nullptr;
}

void Soip_Init(SoipServerAttr_S *pstServer, const char *pszName, u16 u16Port)
{
    pstServer->pszName = pszName;
    pstServer->u16Port = u16Port;
    pstServer->pfnDevFd = nullptr;
    pstServer->pfnFromClient = nullptr;
    pstServer->pfnDevOutFd = nullptr;
    pstServer->bEofLeaves = false;
    pstServer->pfnFromDev = nullptr;
    pstServer->pfnPass = nullptr;
    pstServer->pfnFrame = nullptr;
    pstServer->pfnClientDone = nullptr;
    pstServer->pfnKeepClient = nullptr;
    pstServer->pu8Pending = nullptr;
    pstServer->pstUart = nullptr;
    pstServer->pfnUartData = nullptr;
    pstServer->pfnReopen = nullptr;
}

s32 Soip_Start(SoipServerAttr_S *pstServer)
{
    if (MAIN_Thread_Running(&pstServer->stThread))
        return 0;
    pstServer->s32ClientFd = -1;
    pstServer->bClientEof = false;
    pstServer->bClientRdHup = false;
    pstServer->bClientLogged = false;
    pstServer->bReopen = 0;
    pstServer->u32Pending = 0;
    pstServer->u32HeldOff = 0;
    pstServer->u32HeldLen = 0;
    pstServer->u32OutOff = 0;
    pstServer->u32OutLen = 0;
    pstServer->s64AcceptAtMs = 0;
    if (Soip_Listen(pstServer) < 0)
        return -1;
    s32 s32Ret = MAIN_Thread_Start(&pstServer->stThread, Soip_Thread, pstServer, pstServer->pszName);
    if (s32Ret != 0) {
        close(pstServer->s32ListenFd);
        pstServer->s32ListenFd = -1;
    }
    return s32Ret;
}

void Soip_Stop(SoipServerAttr_S *pstServer)
{
    if (!MAIN_Thread_Running(&pstServer->stThread))
        return;
    MAIN_Thread_Stop(&pstServer->stThread);
    close(pstServer->s32ListenFd);
    pstServer->s32ListenFd = -1;
}

u32 Soip_SetOpts(SoipServerAttr_S *pstServer, s32 s32Fd, const SoipSockOpt_S *pastOpts, u32 u32Count)
{
    u32 u32Refused = 0;
    for (u32 i = 0; i < u32Count; i++) {
        const SoipSockOpt_S *pst = &pastOpts[i];
        if (setsockopt(s32Fd, pst->s32Level, pst->s32Name, &pst->s32Value, sizeof(pst->s32Value)) < 0) {
            Debug_LogLimited(&pstServer->stLogLimit, "[%s]: %s: setsockopt %d: %s\n", log_Time(),
                             pstServer->pszName, pst->s32Name, strerror(errno));
            u32Refused++;
        }
    }
    return u32Refused;
}
