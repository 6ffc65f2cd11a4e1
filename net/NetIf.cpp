#include "net/NetIf.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <net/route.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/Debug.h"

static const char *const s_apszEthNames[] = {"eth0", "eth1", "eth2", "lo"};

bool Net_IsEthName(const char *pszEthName)
{
    for (const char *psz : s_apszEthNames)
        if (strcmp(psz, pszEthName) == 0)
            return true;
    return false;
}

s32 Net_Shell(const char *pszCmd)
{
    s32 s32Ret = system(pszCmd);
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s: \"%s\" returned %d\n", log_Time(), __func__, pszCmd, s32Ret);
        return -1;
    }
    return 0;
}

// One interface request on a throw-away socket; 0 or -1 (logged).
static s32 Net_Ioctl(unsigned long ulReq, void *pvArg, const char *pszWhat)
{
    s32 s32Fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: socket: %s\n", log_Time(), pszWhat, strerror(errno));
        return -1;
    }
    s32 s32Ret = ioctl(s32Fd, ulReq, pvArg);
    if (s32Ret < 0)
        Debug_Log("[%s]: %s: ioctl: %s\n", log_Time(), pszWhat, strerror(errno));
    close(s32Fd);
    return s32Ret < 0 ? -1 : 0;
}

// Fills the request's name and, when pszAddr is given, an IPv4 address;
// -1 (logged) for a refused interface name or address text.
static s32 Net_Prepare(struct ifreq *pstReq, const char *pszEthName, const char *pszAddr,
                       const char *pszWhat)
{
    memset(pstReq, 0, sizeof(*pstReq));
    if (!Net_IsEthName(pszEthName)) {
        Debug_Log("[%s]: %s: interface \"%.31s\" refused\n", log_Time(), pszWhat, pszEthName);
        return -1;
    }
    snprintf(pstReq->ifr_name, IFNAMSIZ, "%s", pszEthName);
    if (pszAddr == nullptr)
        return 0;
    struct sockaddr_in *pstIn = (struct sockaddr_in *)&pstReq->ifr_addr;
    pstIn->sin_family = AF_INET;
    if (inet_pton(AF_INET, pszAddr, &pstIn->sin_addr) != 1) {
        Debug_Log("[%s]: %s: bad address \"%.31s\"\n", log_Time(), pszWhat, pszAddr);
        return -1;
    }
    return 0;
}

s32 NetSetLocalIp(const char *pszEthName, const char *pszIp)
{
    struct ifreq stReq;
    if (Net_Prepare(&stReq, pszEthName, pszIp, __func__) < 0
        || Net_Ioctl(SIOCSIFADDR, &stReq, __func__) < 0
        || Net_Ioctl(SIOCGIFFLAGS, &stReq, __func__) < 0)
        return -1;
    stReq.ifr_flags |= IFF_UP | IFF_RUNNING;
    return Net_Ioctl(SIOCSIFFLAGS, &stReq, __func__);
}

s32 NetSetLocalNetMask(const char *pszEthName, const char *pszMask)
{
    struct ifreq stReq;
    if (Net_Prepare(&stReq, pszEthName, pszMask, __func__) < 0)
        return -1;
    return Net_Ioctl(SIOCSIFNETMASK, &stReq, __func__);
}

s32 NetSetGateWay(const char *pszEthName, const char *pszGateway)
{
    struct ifreq stReq;
    if (strcmp(pszGateway, "0.0.0.0") == 0)
        return 0;
    if (Net_Prepare(&stReq, pszEthName, pszGateway, __func__) < 0)
        return -1;

    char azDev[IFNAMSIZ];
    snprintf(azDev, sizeof(azDev), "%s", pszEthName);
    struct rtentry stRoute;
    memset(&stRoute, 0, sizeof(stRoute));
    stRoute.rt_dst.sa_family = AF_INET;
    stRoute.rt_genmask.sa_family = AF_INET;
    stRoute.rt_dev = azDev;
    // Remove every default route of the interface; the kernel answers the
    // last one with an error that only means "none left".
    s32 s32Fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: socket: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    while (ioctl(s32Fd, SIOCDELRT, &stRoute) == 0)
        ;
    close(s32Fd);

    memcpy(&stRoute.rt_gateway, &stReq.ifr_addr, sizeof(stRoute.rt_gateway));
    stRoute.rt_flags = RTF_UP | RTF_GATEWAY;
    return Net_Ioctl(SIOCADDRT, &stRoute, __func__);
}

s32 SetHostMac(const char *pszEthName, const char *pszMac)
{
    if (!Net_IsEthName(pszEthName) || !Mac_IsText(pszMac)) {
        Debug_Log("[%s]: %s: refused \"%.31s\" \"%.31s\"\n", log_Time(), __func__, pszEthName,
                  pszMac);
        return -1;
    }
    char azCmd[3][96];
    snprintf(azCmd[0], sizeof(azCmd[0]), "ifconfig %s down", pszEthName);
    snprintf(azCmd[1], sizeof(azCmd[1]), "ifconfig %s hw ether %s", pszEthName, pszMac);
    snprintf(azCmd[2], sizeof(azCmd[2]), "ifconfig %s up", pszEthName);
    s32 s32Ret = 0;
    for (const char *pszCmd : azCmd)
        if (Net_Shell(pszCmd) < 0)
            s32Ret = -1;
    return s32Ret;
}

s32 NetGetMac(const char *pszEthName, u8 au8Mac[NET_MAC_LEN])
{
    struct ifreq stReq;
    if (Net_Prepare(&stReq, pszEthName, nullptr, __func__) < 0
        || Net_Ioctl(SIOCGIFHWADDR, &stReq, __func__) < 0)
        return -1;
    memcpy(au8Mac, stReq.ifr_hwaddr.sa_data, NET_MAC_LEN);
    return 0;
}

s32 NetAddMulticastRoute(const char *pszEthName)
{
    if (!Net_IsEthName(pszEthName))
        return -1;
    char azCmd[96];
    snprintf(azCmd, sizeof(azCmd), "route add -net 224.0.0.0 netmask 224.0.0.0 %s", pszEthName);
    return Net_Shell(azCmd);
}
