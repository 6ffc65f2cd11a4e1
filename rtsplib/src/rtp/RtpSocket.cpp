#include "rtsplib/include/RtpSocket.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "core/Debug.h"

static std::atomic<u32> s_u32PortRange{(u32)RTP_PORT_BASE << 16 | RTP_PORT_RANGE};   // base, count
static std::mutex s_mtxMulticast;   // guards the two below
static char s_azMulticastBase[RTP_ADDRESS_TEXT] = RTP_MULTICAST_BASE;
static u32 s_u32MulticastRange = RTP_MULTICAST_RANGE;

// A random even port of the range, seeded from the clock and a counter,
// so that quick retries do not draw the same port.
static u16 RtpSocket_RandomPort(void)
{
    static std::atomic<u32> s_u32Draw{0};
    struct timeval stTv;
    gettimeofday(&stTv, nullptr);
    unsigned uSeed = (unsigned)(stTv.tv_sec ^ stTv.tv_usec) + s_u32Draw.fetch_add(1) * 2654435761u;
    u32 u32Range = s_u32PortRange.load();
    u32 u32Count = u32Range & 0xFFFF;
    return (u16)((u32Range >> 16) + 2 * (((u32)rand_r(&uSeed) % (u32Count ? u32Count : 1)) / 2));
}

// A socket bound to pszAddr (dotted IPv4, null: any) and u16Port, or -1.
// bShared lets other sockets bind the same port (a group a local client
// also joins); pairs stay exclusive, so that two sessions never get the
// same port. bQuiet: a port in use is no news.
static s32 RtpSocket_Bind(const char *pszAddr, u16 u16Port, bool bShared, bool bQuiet)
{
    static const s32 s_s32On = 1, s_s32RcvBuf = RTP_SOCKET_RCVBUF;
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    if (pszAddr && inet_pton(AF_INET, pszAddr, &stAddr.sin_addr) != 1) {
        Debug_Log("[%s]: %s: %s is no IPv4 address\n", log_Time(), __func__, pszAddr);
        return -1;
    }
    s32 s32Fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: socket: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    bool bOk = true;
    if (bShared && setsockopt(s32Fd, SOL_SOCKET, SO_REUSEADDR, &s_s32On, sizeof(s32)) < 0) {
        Debug_Log("[%s]: Reusing ADDR failed\n", log_Time());
        bOk = false;
    }
    if (bOk && setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s_s32RcvBuf, sizeof(s32)) < 0) {
        Debug_Log("[%s]: SO_RCVBUF failed\n", log_Time());
        bOk = false;
    }
    if (bOk && bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        if (!bQuiet || errno != EADDRINUSE)
            Debug_Log("[%s]: %s: bind %s:%u: %s\n", log_Time(), __func__, pszAddr ? pszAddr : "any", u16Port,
                      strerror(errno));
        bOk = false;
    }
    if (!bOk) {
        close(s32Fd);
        return -1;
    }
    return s32Fd;
}

s32 rtp_socket_create(const char *pszAddr, s32 as32Socket[2], u16 au16Port[2])
{
    for (u32 i = 0; i < RTP_SOCKET_PAIR_TRIES; i++) {
        u16 u16Port = RtpSocket_RandomPort();
        s32 s32Rtp = RtpSocket_Bind(pszAddr, u16Port, false, true);
        if (s32Rtp < 0)
            continue;
        s32 s32Rtcp = RtpSocket_Bind(pszAddr, (u16)(u16Port + 1), false, true);
        if (s32Rtcp < 0) {
            close(s32Rtp);
            continue;
        }
        as32Socket[0] = s32Rtp;
        as32Socket[1] = s32Rtcp;
        au16Port[0] = u16Port;
        au16Port[1] = (u16)(u16Port + 1);
        return 0;
    }
    Debug_Log("[%s]: %s: no free port pair after %u tries\n", log_Time(), __func__, RTP_SOCKET_PAIR_TRIES);
    return -1;
}

s32 rtp_socket_create_one(const char *pszAddr, u16 u16Port, s32 *ps32Socket)
{
    for (u32 i = 0; i < RTP_SOCKET_ONE_TRIES; i++) {
        s32 s32Fd = RtpSocket_Bind(pszAddr, u16Port, true, false);
        if (s32Fd >= 0) {
            *ps32Socket = s32Fd;
            return 0;
        }
    }
    return -1;
}

s32 rtp_socket_create_m(s32 as32Socket[2], u16 au16Port[2])
{
    s32 s32Fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: socket: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    u16 u16Port = RtpSocket_RandomPort();
    as32Socket[0] = as32Socket[1] = s32Fd;
    au16Port[0] = u16Port;
    au16Port[1] = (u16)(u16Port + 2);
    return 0;
}

void rtp_socket_close(s32 s32Socket)
{
    if (s32Socket >= 0 && close(s32Socket) < 0)
        Debug_Log("[%s]: %s: close %d: %s\n", log_Time(), __func__, s32Socket, strerror(errno));
}

s32 rtp_socket_set_port_range(u16 u16Base, u16 u16Range)
{
    if (u16Range < 2 || (u32)u16Base + u16Range + 2 > 65536)
        return -1;
    s_u32PortRange = (u32)u16Base << 16 | u16Range;
    return 0;
}

void rtp_socket_get_port_range(u16 *pu16Base, u16 *pu16Range)
{
    u32 u32Range = s_u32PortRange.load();
    *pu16Base = (u16)(u32Range >> 16);
    *pu16Range = (u16)u32Range;
}

s32 rtp_socket_set_multicast_range(const char *pszBase, u32 u32Range)
{
    struct in_addr stAddr;
    if (inet_pton(AF_INET, pszBase, &stAddr) != 1 || !IN_MULTICAST(ntohl(stAddr.s_addr)))
        return -1;
    std::lock_guard<std::mutex> lk(s_mtxMulticast);
    snprintf(s_azMulticastBase, sizeof(s_azMulticastBase), "%s", pszBase);
    s_u32MulticastRange = u32Range;
    return 0;
}

void rtp_socket_get_multicast_range(char azBase[RTP_ADDRESS_TEXT], u32 *pu32Range)
{
    std::lock_guard<std::mutex> lk(s_mtxMulticast);
    memcpy(azBase, s_azMulticastBase, RTP_ADDRESS_TEXT);
    *pu32Range = s_u32MulticastRange;
}
