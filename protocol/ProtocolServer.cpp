// Lock rules: the object's fields other than enState are written only while
// its thread does not run (init, attach, start before the thread, stop
// after the join); the thread alone uses the socket meanwhile.
#include "protocol/ProtocolServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/Debug.h"
#include "protocol/ProtocolDispatch.h"
#include "protocol/ProtocolMsg.h"

#define PROTOCOL_RCVBUF  65536

static DebugLimit_S s_stRecvLimit;   // datagrams and their errors come from peers
static DebugLimit_S s_stSendLimit;

static void Server_CloseSock(s32 *ps32Sock)
{
    if (*ps32Sock >= 0)
        close(*ps32Sock);
    *ps32Sock = -1;
}

// The group on the server's interface, for joining and leaving it.
static s32 Server_Membership(const ProtocolServer_S *pstServer, struct ip_mreqn *pstReq)
{
    memset(pstReq, 0, sizeof(*pstReq));
    pstReq->imr_ifindex = (s32)if_nametoindex(pstServer->azEthName);
    if (pstReq->imr_ifindex == 0 || inet_pton(AF_INET, pstServer->azGroup, &pstReq->imr_multiaddr) != 1) {
        Debug_Log("[%s]: %s: interface %s or group %s unusable\n", log_Time(), __func__,
                  pstServer->azEthName, pstServer->azGroup);
        return -1;
    }
    return 0;
}

// Options, bind and membership of a new UDP socket; 0 or -1 (logged).
static s32 Server_SetupSock(const ProtocolServer_S *pstServer, s32 s32Sock)
{
    s32 s32On = 1, s32Off = 0, s32Buf = PROTOCOL_RCVBUF;
    struct ip_mreqn stReq;
    if (Server_Membership(pstServer, &stReq) < 0)
        return -1;
    // Before the bind, so that a restarted server takes its port back at once.
    if (setsockopt(s32Sock, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On)) < 0 ||
        setsockopt(s32Sock, SOL_SOCKET, SO_RCVBUF, &s32Buf, sizeof(s32Buf)) < 0) {
        Debug_Log("[%s]: Setting SO_REUSEADDR error: %s\n", log_Time(), strerror(errno));
        return -1;
    }
    struct sockaddr_in stAddr{};
    stAddr.sin_family = AF_INET;
    stAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    stAddr.sin_port = htons((u16)pstServer->u32Port);
    if (bind(s32Sock, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        Debug_Log("[%s]: bind ADDR failed: %s\n", log_Time(), strerror(errno));
        return -1;
    }
    if (setsockopt(s32Sock, IPPROTO_IP, IP_MULTICAST_LOOP, &s32Off, sizeof(s32Off)) < 0) {
        Debug_Log("[%s]: setsockopt broadcaset error!!!\n", log_Time());
        Debug_Log("[%s]: Setting IP_MULTICAST_LOOP error: %s\n", log_Time(), strerror(errno));
        return -1;
    }
    // Join and send on the server's interface, whatever the routes say.
    if (setsockopt(s32Sock, IPPROTO_IP, IP_MULTICAST_IF, &stReq, sizeof(stReq)) < 0 ||
        setsockopt(s32Sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &stReq, sizeof(stReq)) < 0) {
        Debug_Log("[%s]: setsockopt IP_ADD_MEMBERSHIP error!!!\n", log_Time());
        Debug_Log("[%s]: add IP_ADD_MEMBERSHIP error: %s\n", log_Time(), strerror(errno));
        return -1;
    }
    return 0;
}

static void Server_Send(s32 s32Sock, const char *pcData, s32 s32Len, const struct sockaddr_in *pstTo)
{
    ssize_t s32Sent;
    do {
        s32Sent = sendto(s32Sock, pcData, (size_t)s32Len, 0, (const struct sockaddr *)pstTo,
                         sizeof(*pstTo));
    } while (s32Sent < 0 && errno == EINTR);
    // ENOBUFS and the like lose this reply only; the peer asks again.
    if (s32Sent < 0)
        Debug_LogLimited(&s_stSendLimit, "[%s]: sendto err! %s\n", log_Time(), strerror(errno));
}

// One received datagram: filter, decode, dispatch, answer.
static void Server_Handle(ProtocolServer_S *pstServer, const char *pcData, s32 s32Len,
                          const struct sockaddr_in *pstFrom, const struct sockaddr_in *pstGroup)
{
    if (!protocol_frame_is_request(pcData, (u32)s32Len))
        return;
    char azText[PROTOCOL_BUF_LEN] = {};
    char azReply[PROTOCOL_BUF_LEN] = {};
    char azOut[PROTOCOL_BUF_LEN];
    if (protocol_frame_decode(pcData, (u32)s32Len, azText, sizeof(azText), &pstServer->u32RequestLen) < 0)
        return;
    ProtocolReplyTo_E enReplyTo;
    s32 s32Ret = protocol_server_dispatch(pstServer, azText, azReply, &enReplyTo);
    if (s32Ret <= 0)
        return;
    s32 s32OutLen = protocol_frame_encode(azReply, azOut, sizeof(azOut));
    if (s32OutLen < 0) {
        Debug_LogLimited(&s_stSendLimit, "[%s]: %s: reply too long, not sent\n", log_Time(),
                         __func__);
        return;
    }
    Server_Send(pstServer->s32Sock, azOut, s32OutLen,
                enReplyTo == PROTOCOL_REPLY_GROUP ? pstGroup : pstFrom);
}

static void *thread_protocol_server_recv(void *pvArg)
{
    ProtocolServer_S *pstServer = (ProtocolServer_S *)pvArg;
    pthread_setname_np(pthread_self(), "protocolServer");
    struct sockaddr_in stGroup{};
    stGroup.sin_family = AF_INET;
    stGroup.sin_port = htons((u16)(pstServer->u32Port + 1));
    (void)inet_pton(AF_INET, pstServer->azGroup, &stGroup.sin_addr);   // checked at the join

    // The largest request takes 1496 bytes: one that fills the buffer was cut.
    char acData[PROTOCOL_BUF_LEN];
    struct pollfd astPfd[2] = {{pstServer->s32Sock, POLLIN, 0},
                               {MAIN_Thread_WakeFd(&pstServer->stThread), POLLIN, 0}};
    while (MAIN_Thread_Running(&pstServer->stThread) &&
           pstServer->enState == PROTOCOL_SERVER_RUNNING) {
        if (poll(astPfd, 2, -1) < 0) {
            if (errno != EINTR)
                Debug_LogLimited(&s_stRecvLimit, "[%s]: %s: poll: %s\n", log_Time(), __func__,
                                 strerror(errno));
            continue;
        }
        // An error pending on the socket is taken by the receive below, so
        // that it does not wake the poll again and again.
        if (astPfd[0].revents == 0)
            continue;
        struct sockaddr_in stFrom{};
        socklen_t u32FromLen = sizeof(stFrom);
        ssize_t s32Len = recvfrom(pstServer->s32Sock, acData, sizeof(acData), MSG_TRUNC | MSG_DONTWAIT,
                                  (struct sockaddr *)&stFrom, &u32FromLen);
        if (s32Len < 0) {
            if (errno != EINTR && errno != EAGAIN)
                Debug_LogLimited(&s_stRecvLimit, "[%s]: recvfrom err! %s\n", log_Time(),
                                 strerror(errno));
            continue;
        }
        if (s32Len >= (ssize_t)sizeof(acData)) {
            Debug_LogLimited(&s_stRecvLimit, "[%s]: %s: datagram of %zd bytes dropped\n",
                             log_Time(), __func__, s32Len);
            continue;
        }
        Server_Handle(pstServer, acData, (s32)s32Len, &stFrom, &stGroup);
    }
    return nullptr;
}

s32 protocol_server_getHostIP(const char *pszEthName, char *pszIpOut)
{
    s32 s32Sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (s32Sock < 0) {
        Debug_Log("[%s]: socket create failed! %s\n", log_Time(), strerror(errno));
        return -1;
    }
    struct ifreq stReq{};
    snprintf(stReq.ifr_name, sizeof(stReq.ifr_name), "%.15s", pszEthName);
    stReq.ifr_addr.sa_family = AF_INET;
    s32 s32Ret = ioctl(s32Sock, SIOCGIFADDR, &stReq);
    close(s32Sock);
    if (s32Ret < 0) {
        Debug_Log("[%s]: SIOCGIFADDR Failed! %s\n", log_Time(), strerror(errno));
        return -1;
    }
    const struct sockaddr_in *pstAddr = (const struct sockaddr_in *)&stReq.ifr_addr;
    if (inet_ntop(AF_INET, &pstAddr->sin_addr, pszIpOut, 32) == nullptr)
        return -1;
    return 0;
}

s32 protocol_server_init(ProtocolServer_S **ppstOut, const char *pszEthName, const char *pszGroup,
                         u32 u32Port)
{
    if (pszEthName == nullptr || pszGroup == nullptr) {
        Debug_Log("[%s]: param err!\n", log_Time());
        return -1;
    }
    ProtocolServer_S *pstServer = new (std::nothrow) ProtocolServer_S{};
    if (pstServer == nullptr) {
        Debug_Log("[%s]: server malloc err!\n", log_Time());
        return -1;
    }
    if (protocol_server_getHostIP(pszEthName, pstServer->azHostIP) < 0) {
        Debug_Log("[%s]: pEthName(%s) get ip err!\n", log_Time(), pszEthName);
        delete pstServer;
        return -1;
    }
    snprintf(pstServer->azEthName, sizeof(pstServer->azEthName), "%s", pszEthName);
    snprintf(pstServer->azGroup, sizeof(pstServer->azGroup), "%s", pszGroup);
    pstServer->u32Port = u32Port;
    pstServer->s32Sock = -1;
    pstServer->enState = PROTOCOL_SERVER_READY;
    *ppstOut = pstServer;
    return 0;
}

s32 protocol_server_deinit(ProtocolServer_S *pstServer)
{
    s32 enState = pstServer->enState;
    if (enState != PROTOCOL_SERVER_READY && enState != PROTOCOL_SERVER_STOPPED) {
        Debug_Log("[%s]: server state(%d) err!\n", log_Time(), enState);
        return -1;
    }
    delete pstServer;
    return 0;
}

s32 protocol_server_attach(ProtocolServer_S *pstServer, ProtocolServerCallback_S stCallback,
                           void *pUser)
{
    pstServer->stCallback = stCallback;
    pstServer->pUser = pUser;
    return 0;
}

s32 protocol_server_detach(ProtocolServer_S *pstServer)
{
    memset(&pstServer->stCallback, 0, sizeof(pstServer->stCallback));
    return 0;
}

s32 protocol_server_start(ProtocolServer_S *pstServer)
{
    s32 enState = pstServer->enState;
    if (enState == PROTOCOL_SERVER_RUNNING)
        return 0;
    if (enState != PROTOCOL_SERVER_READY && enState != PROTOCOL_SERVER_STOPPED) {
        Debug_Log("[%s]: server state(%d) err!\n", log_Time(), enState);
        return -1;
    }
    s32 s32Sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s32Sock < 0) {
        Debug_Log("[%s]: socket(): %s\n", log_Time(), strerror(errno));
        return -1;
    }
    if (Server_SetupSock(pstServer, s32Sock) < 0) {
        close(s32Sock);
        return -1;
    }
    pstServer->s32Sock = s32Sock;
    pstServer->enState = PROTOCOL_SERVER_RUNNING;
    s32 s32Ret = MAIN_Thread_Start(&pstServer->stThread, thread_protocol_server_recv, pstServer,
                                   __func__);
    if (s32Ret != 0) {
        pstServer->enState = enState;
        Server_CloseSock(&pstServer->s32Sock);
    }
    return s32Ret;
}

s32 protocol_server_stop(ProtocolServer_S *pstServer)
{
    s32 enState = pstServer->enState;
    if (enState == PROTOCOL_SERVER_STOPPED)
        return 0;
    if (enState != PROTOCOL_SERVER_RUNNING) {
        Debug_Log("[%s]: server state(%d) err!\n", log_Time(), enState);
        return -1;
    }
    pstServer->enState = PROTOCOL_SERVER_STOPPED;
    MAIN_Thread_Stop(&pstServer->stThread);
    struct ip_mreqn stReq;
    if (Server_Membership(pstServer, &stReq) == 0 &&
        setsockopt(pstServer->s32Sock, IPPROTO_IP, IP_DROP_MEMBERSHIP, &stReq, sizeof(stReq)) < 0) {
        Debug_Log("[%s]: setsockopt IP_DROP_MEMBERSHIP error!!!\n", log_Time());
        Debug_Log("[%s]: add IP_DROP_MEMBERSHIP error: %s\n", log_Time(), strerror(errno));
    }
    Server_CloseSock(&pstServer->s32Sock);
    return 0;
}
