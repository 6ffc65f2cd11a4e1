#include "extension/Soip.h"

#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/Debug.h"
#include "core/Thread.h"

#define SOIP_SEND_WAIT_S 1   // a client that takes no bytes for this long is dropped

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
    Debug_Log("[%s]: %s: client %s\n", log_Time(), pstServer->pszName, pszWhy);
    close(s32Fd);
}

static void Soip_Accept(SoipServerAttr_S *pstServer)
{
    s32 s32Fd = accept4(pstServer->s32ListenFd, nullptr, nullptr, SOCK_CLOEXEC);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: accept: %s\n", log_Time(), pstServer->pszName, strerror(errno));
        return;
    }
    s32 s32On = 1;
    struct timeval stWait = {SOIP_SEND_WAIT_S, 0};
    // Best effort: without them a dead peer is noticed later, not never.
    (void)setsockopt(s32Fd, SOL_SOCKET, SO_KEEPALIVE, &s32On, sizeof(s32On));
    (void)setsockopt(s32Fd, IPPROTO_TCP, TCP_NODELAY, &s32On, sizeof(s32On));
    (void)setsockopt(s32Fd, SOL_SOCKET, SO_SNDTIMEO, &stWait, sizeof(stWait));
    Soip_DropClient(pstServer, "replaced");
    pstServer->s32ClientFd = s32Fd;
    pstServer->u32Clients++;
    Debug_Log("[%s]: %s: client connected\n", log_Time(), pstServer->pszName);
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
    else if (n == 0 || (errno != EAGAIN && errno != EINTR))
        Soip_DropClient(pstServer, "left");
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

static void *Soip_Thread(void *pvArg)
{
    SoipServerAttr_S *pstServer = (SoipServerAttr_S *)pvArg;
    while (MAIN_Thread_Running(&pstServer->stThread)) {
        if (pstServer->bReopen.exchange(0) && pstServer->pfnReopen != nullptr) {
            Debug_Log("[%s]: %s: reopen the port\n", log_Time(), pstServer->pszName);
            (void)pstServer->pfnReopen(pstServer->pstUart);   // logged there; retried on demand
        }
        if (pstServer->pfnPass != nullptr)
            pstServer->pfnPass(pstServer);

        s32 s32Client = pstServer->s32ClientFd;
        s32 s32Dev = pstServer->pfnDevFd != nullptr ? pstServer->pfnDevFd(pstServer) : -1;
        struct pollfd astPoll[] = {{pstServer->s32ListenFd, POLLIN, 0}, {s32Client, POLLIN, 0}, {s32Dev, POLLIN, 0},
                                   {MAIN_Thread_WakeFd(&pstServer->stThread), POLLIN, 0}};
        s32 s32Ready = poll(astPoll, ARRAY_SIZE(astPoll), SOIP_PASS_MS);
        bool bStale = false;
        for (const struct pollfd &stPoll : astPoll)
            bStale |= (stPoll.revents & POLLNVAL) != 0;
        if (s32Ready < 0 || bStale) {
            // A device closed by its reopen elsewhere shows here once.
            (void)MAIN_Thread_Wait(&pstServer->stThread, 10);
            continue;
        }
        if (astPoll[1].revents & (POLLIN | POLLHUP | POLLERR))
            Soip_FromClient(pstServer);
        if (astPoll[2].revents & (POLLIN | POLLHUP | POLLERR))
            Soip_FromDev(pstServer, s32Dev);
        if (astPoll[0].revents & POLLIN)
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
    pstServer->bReopen = 0;
    pstServer->u32Pending = 0;
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
