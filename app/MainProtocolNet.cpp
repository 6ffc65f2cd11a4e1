// The box's network settings as the control protocol reports them (the
// live records, so a DHCP lease shows as the address in use), and a change
// of MAC, DHCP or static address, applied at once on the protocol server's
// thread. Texts are checked before anything changes, so a refused request
// leaves the box as it was.
#include <arpa/inet.h>
#include <cstdio>
#include <cstring>

#include "app/Main.h"
#include "app/MainProtocolCb.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "core/MacText.h"
#include "extension/Rs232.h"
#include "net/NetConfig.h"
#include "net/NetIf.h"
#include "upgrade/Identity.h"

enum MainNetMac_E {
    MAIN_NET_MAC_NONE = 0,    // empty, or not a MAC: the MAC stays
    MAIN_NET_MAC_GIVEN = 1,   // a MAC, in the stored form
};

static DebugLimit_S s_stNetLimit;

// A dotted IPv4 address that an interface can have as its own.
static bool Main_NetIsHost(const char *pszIp)
{
    struct in_addr stAddr;
    if (inet_pton(AF_INET, pszIp, &stAddr) != 1)
        return false;
    u32 u32Addr = ntohl(stAddr.s_addr);
    u32 u32Top = u32Addr >> 24;
    return u32Top != 0 && u32Top != 127 && u32Top < 224;
}

// A dotted netmask: ones, then zeros, at least one of each.
static bool Main_NetIsMask(const char *pszMask)
{
    struct in_addr stAddr;
    if (inet_pton(AF_INET, pszMask, &stAddr) != 1)
        return false;
    u32 u32Mask = ntohl(stAddr.s_addr);
    return u32Mask != 0 && u32Mask != 0xffffffffu && (~u32Mask & (~u32Mask + 1)) == 0;
}

// The address is neither the network nor the broadcast address of its
// subnet (a /31 has neither); both texts already checked.
static bool Main_NetIsOnSubnet(const char *pszIp, const char *pszMask)
{
    struct in_addr stAddr, stMask;
    (void)inet_pton(AF_INET, pszIp, &stAddr);
    (void)inet_pton(AF_INET, pszMask, &stMask);
    u32 u32Hosts = ~ntohl(stMask.s_addr);
    u32 u32Host = ntohl(stAddr.s_addr) & u32Hosts;
    return u32Hosts == 1 || (u32Host != 0 && u32Host != u32Hosts);
}

// A dotted gateway; "0.0.0.0" means none.
static bool Main_NetIsGateway(const char *pszGateway)
{
    struct in_addr stAddr;
    return inet_pton(AF_INET, pszGateway, &stAddr) == 1
           && (stAddr.s_addr == 0 || Main_NetIsHost(pszGateway));
}

// The request's MAC in the stored form into azMac (32 bytes): a MainNetMac_E,
// or -1 for a text that may not be stored at all, or a MAC that the
// interface would not take (group or all-zero).
static s32 Main_NetMac(const char *pszMac, char *azMac)
{
    if (!Config_IsFieldText(pszMac, 32))
        return -1;
    memset(azMac, 0, 32);
    const char *psz = pszMac;
    if (pszMac[0] == '\0' || parse_mac(&psz, azMac) < 0 || *psz != '\0')
        return MAIN_NET_MAC_NONE;
    MAIN_RS232_NormMac(azMac);
    return Mac_IsText(azMac) ? MAIN_NET_MAC_GIVEN : -1;
}

// A static request: a host address on its own subnet, a mask, a gateway.
static bool Main_NetIsStatic(const ProtocolNetParams_S *pstReq)
{
    return Main_NetIsHost(pstReq->azDevAddr) && Main_NetIsMask(pstReq->azDevNetmask)
           && Main_NetIsOnSubnet(pstReq->azDevAddr, pstReq->azDevNetmask)
           && Main_NetIsGateway(pstReq->azDevGateway);
}

// Stores the new MAC, puts it on the interface and renames the box after
// it: device id, host name, mDNS. 0, or -1 when it could not be stored.
static s32 Main_NetChangeMac(char *pszMac)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    if (MAIN_RS232_Set_MAC(pszMac) != 0)
        return -1;   // setMac logged why; nothing changed
    (void)getMac(pstNet->azMac);   // what was just stored
    if (SetHostMac(pstNet->azEthName, pstNet->azMac) != 0)
        Debug_Log("[%s]: set mac failed!\n", log_Time());
    memset(&g_stMainServerAttr.stDevInfo, 0, sizeof(g_stMainServerAttr.stDevInfo));
    (void)MAIN_Device_Info(&g_stMainServerAttr.stDevInfo);   // fills what it can
    (void)GetHostID(pstNet->azEthName, g_stConfigAttr.stDevAttr.azDeviceId);   // logged
    (void)MAIN_Set_Hostname();   // logged
    printf("g_stMainServerAttr.stDevInfo.azMac %s\n", g_stMainServerAttr.stDevInfo.azMac);
    printf("g_stConfigAttr.stDevAttr.azDeviceId %s\n", g_stConfigAttr.stDevAttr.azDeviceId);
    avahi_reset = 1;
    return 0;
}

// The network record's address texts into the settings.
static void Main_NetStore(void)
{
    const NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    ConfigNetAttr_S *pstStored = &g_stConfigAttr.stNetAttr;
    snprintf(pstStored->azIp, sizeof(pstStored->azIp), "%s", pstNet->azHostIP);
    snprintf(pstStored->azNetmask, sizeof(pstStored->azNetmask), "%s", pstNet->azNetmask);
    snprintf(pstStored->azGateway, sizeof(pstStored->azGateway), "%s", pstNet->azGateway);
}

// Switching on starts a client also where none was attached before.
static s32 Main_NetDhcpSwitch(u32 u32On)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    if (u32On != 0 && MAIN_Dhcpclient_Attach(pstNet) < 0)
        return -1;   // logged there
    s32 s32Ret = MAIN_Dhcpclient_Switch(&pstNet->stDhcp, u32On);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_Dhcpclient_Switch failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

// DHCP: the link-local address first where no lease of this MAC can be
// in force, then the client on.
static s32 Main_NetToDhcp(bool bMacChanged)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    if (g_stConfigAttr.stNetAttr.enDHCP == 0 || bMacChanged) {
        if (bMacChanged) {
            (void)Dhcpclient_Exit(nullptr);
            (void)MAIN_Dhcpclient_Switch(&pstNet->stDhcp, 0);   // switched on again below
        }
        if (NetUseLinkLocal(pstNet, g_stMainServerAttr.stDevInfo.azMac) != 0)
            return -1;
        Main_NetStore();
    }
    return Main_NetDhcpSwitch(1) != 0 ? -1 : 0;
}

// Static: the client off, then the requested address; an address that the
// interface refuses leaves the old one, and a client that ran runs again.
static s32 Main_NetToStatic(const ProtocolNetParams_S *pstReq)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    bool bWasDhcp = pstNet->stDhcp.enDHCP == 1;
    (void)Dhcpclient_Exit(nullptr);   // always 0
    if (Main_NetDhcpSwitch(0) != 0)
        return -1;
    if (NetChangeAddress(pstNet, pstReq->azDevAddr, pstReq->azDevNetmask,
                         pstReq->azDevGateway) != 0) {
        if (bWasDhcp)
            (void)Main_NetDhcpSwitch(1);   // logged
        return -1;
    }
    Main_NetStore();
    return 0;
}

s32 Main_Protocolserver_ongetNet(void *pUser, ProtocolNetParams_S *pstNet)
{
    (void)pUser;
    const NetServerConfig_S *pstCfg = &g_stMainServerAttr.stConifg;
    pstNet->bHdcpServer = g_stConfigAttr.stNetAttr.bHdcpServer != 0 ? 1 : 0;
    pstNet->bStatic = pstCfg->stDhcp.enDHCP == 1 ? 0 : 1;
    Main_Protocol_CopyText(pstNet->azDevAddr, pstCfg->azHostIP, sizeof(pstCfg->azHostIP));
    Main_Protocol_CopyText(pstNet->azDevNetmask, pstCfg->azNetmask, sizeof(pstCfg->azNetmask));
    Main_Protocol_CopyText(pstNet->azDevGateway, pstCfg->azGateway, sizeof(pstCfg->azGateway));
    Main_Protocol_CopyText(pstNet->azDevMac, pstCfg->azMac, sizeof(pstCfg->azMac));
    pstNet->s32HttpPort = (s32)pstCfg->stWeb.u32Port;
    return 0;
}

s32 Main_Protocolserver_onsetNet(void *pvCtx, const ProtocolNetParams_S *pstIn)
{
    (void)pvCtx;
    char azMac[32];
    s32 s32Mac = Main_NetMac(pstIn->azDevMac, azMac);
    if (s32Mac < 0 || (pstIn->bStatic != 0 && !Main_NetIsStatic(pstIn))) {
        Debug_LogLimited(&s_stNetLimit, "[%s]: %s: refused\n", log_Time(), __func__);
        return -1;
    }
    // Logged once known to hold no line end.
    Debug_LogLimited(&s_stNetLimit, "[%s]: net->Mac [%s]\n", log_Time(), pstIn->azDevMac);

    bool bMacChanged = false;
    char azOwn[32];
    snprintf(azOwn, sizeof(azOwn), "%.31s", g_stMainServerAttr.stDevInfo.azMac);
    MAIN_RS232_NormMac(azOwn);
    if (s32Mac == MAIN_NET_MAC_GIVEN && strcmp(azMac, azOwn) != 0) {
        if (Main_NetChangeMac(azMac) != 0)
            return -1;
        bMacChanged = true;
    }
    s32 s32Ret = pstIn->bStatic != 0 ? Main_NetToStatic(pstIn) : Main_NetToDhcp(bMacChanged);
    if (s32Ret != 0)
        return -1;
    g_stConfigAttr.stNetAttr.enDHCP = g_stMainServerAttr.stConifg.stDhcp.enDHCP;
    (void)MAIN_CONFIG_Update();   // logged there; the next change asks again
    return 0;
}
