#include "extension/Soip.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include "core/Clock.h"
#define SOIP_SEND_WAIT_S 1   // a client that takes no bytes for this long is dropped

enum { SOIP_FD_WAKE, SOIP_FD_LISTEN, SOIP_FD_CLIENT, SOIP_FD_DEV, SOIP_FDS };

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

static void Soip_DropClient(SoipServerAttr_S *pstServer, const char *pszWhy)
{
    s32 s32Fd = pstServer->s32ClientFd.exchange(-1);
    if (s32Fd < 0)
        return;
    Debug_LogLimited(&pstServer->stLogLimit, "[%s]: %s: client %s\n", log_Time(), pstServer->pszName,
                     pszWhy);
    close(s32Fd);
    if (pstServer->pfnClientDone != nullptr)
        pstServer->pfnClientDone(pstServer);
}

static bool Soip_OutOfFds(s32 s32Errno)
{
    return s32Errno == EMFILE || s32Errno == ENFILE || s32Errno == ENOBUFS || s32Errno == ENOMEM;
}

static void Soip_Accept(SoipServerAttr_S *pstServer)
{
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
    s32 s32On = 1;
    struct timeval stWait = {SOIP_SEND_WAIT_S, 0};
    // Best effort: without them a dead peer is noticed later, not never.
    (void)setsockopt(s32Fd, SOL_SOCKET, SO_KEEPALIVE, &s32On, sizeof(s32On));
    (void)setsockopt(s32Fd, IPPROTO_TCP, TCP_NODELAY, &s32On, sizeof(s32On));
    (void)setsockopt(s32Fd, SOL_SOCKET, SO_SNDTIMEO, &stWait, sizeof(stWait));
    Soip_DropClient(pstServer, "replaced");
    pstServer->bClientEof = false;
    pstServer->s32ClientFd = s32Fd;
    pstServer->u32Clients++;
    Debug_LogLimited(&pstServer->stLogLimit, "[%s]: %s: client connected\n", log_Time(),
                     pstServer->pszName);
}

void Soip_SendClient(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len)
{
    s32 s32Fd = pstServer->s32ClientFd;
    for (u32 u32Done = 0; s32Fd >= 0 && u32Done < u32Len;) {
        ssize_t n = send(s32Fd, pu8Data + u32Done, u32Len - u32Done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Soip_DropClient(pstServer, "does not take data");
            return;
        }
        u32Done += (u32)n;
    }
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

static void Soip_FromClient(SoipServerAttr_S *pstServer)
{
    u8 au8Buf[SOIP_BUF_LEN];
    ssize_t n = recv(pstServer->s32ClientFd, au8Buf, sizeof(au8Buf), MSG_DONTWAIT);
    if (n > 0 && pstServer->pfnFromClient == nullptr)
        Soip_Frame(pstServer, au8Buf, (u32)n);
    else if (n > 0)
        pstServer->pfnFromClient(pstServer, au8Buf, (u32)n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
        Soip_DropClient(pstServer, "left");
    if (n != 0)
        return;
    pstServer->bClientEof = true;   // it may still read what the device answers
    if (pstServer->pfnClientDone != nullptr)
        pstServer->pfnClientDone(pstServer);
}

static void Soip_FromDev(SoipServerAttr_S *pstServer, s32 s32DevFd)
{
    u8 au8Buf[SOIP_BUF_LEN];
    ssize_t n = read(s32DevFd, au8Buf, sizeof(au8Buf));
    if (n > 0 && pstServer->pfnFromDev == nullptr)
        Soip_SendClient(pstServer, au8Buf, (u32)n);
    else if (n > 0)
        pstServer->pfnFromDev(pstServer, au8Buf, (u32)n);
    else if (n < 0 && errno != EAGAIN && errno != EINTR)
        (void)MAIN_Thread_Wait(&pstServer->stThread, SOIP_PASS_MS);   // a device in error stays readable: do not spin
}

// The descriptors of one pass; a slot not in use has fd -1. A half-closed
// client is watched for its hang-up only.
static s32 Soip_PollSet(SoipServerAttr_S *pstServer, struct pollfd *pstFds)
{
    s64 s64Wait = pstServer->s64AcceptAtMs - Clock_NowMs();
    bool bAccept = s64Wait <= 0;
    s32 s32Client = pstServer->s32ClientFd;
    pstFds[SOIP_FD_WAKE] = {MAIN_Thread_WakeFd(&pstServer->stThread), POLLIN, 0};
    pstFds[SOIP_FD_LISTEN] = {bAccept ? pstServer->s32ListenFd : -1, POLLIN, 0};
    pstFds[SOIP_FD_CLIENT] = {s32Client, (short)(pstServer->bClientEof ? 0 : POLLIN), 0};
    pstFds[SOIP_FD_DEV] = {pstServer->pfnDevFd != nullptr ? pstServer->pfnDevFd(pstServer) : -1, POLLIN, 0};
    return bAccept || s64Wait > SOIP_PASS_MS ? SOIP_PASS_MS : (s32)s64Wait;
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
        short sClient = astFds[SOIP_FD_CLIENT].revents;
        if (sClient & POLLIN)
            Soip_FromClient(pstServer);
        else if (sClient & (POLLHUP | POLLERR | POLLNVAL))
            Soip_DropClient(pstServer, "left");
        if (astFds[SOIP_FD_DEV].fd >= 0 && astFds[SOIP_FD_DEV].revents != 0)
            Soip_FromDev(pstServer, astFds[SOIP_FD_DEV].fd);
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
    pstServer->bReopen = 0;
    pstServer->u32Pending = 0;
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
