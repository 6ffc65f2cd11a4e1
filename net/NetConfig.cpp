#include "net/NetConfig.h"

#include <cstdio>
#include <cstring>
#include <mutex>
#include <unistd.h>

#include "config/ConfigAttr.h"
#include "core/Debug.h"
#include "core/Thread.h"
#include "net/NetIf.h"
#include "upgrade/Identity.h"

#define NET_THREAD_POLL_MS 100

std::atomic<s32> g_WebSetNetwork{0};

static MainThread_S s_stSetNetworkThread;
// The lease thread writes the address texts that the web thread applies.
static std::mutex s_NetAddrMutex;

static void Net_DefStream(RtspStreamDesc_S *pstDesc, u32 u32Id, const char *pszName)
{
    pstDesc->bStart = 0;
    pstDesc->s32StreamId = u32Id;
    snprintf(pstDesc->azStreamName, sizeof(pstDesc->azStreamName), "%s", pszName);
}

static void Net_DefEndpoint(ProtocolEndpointAttr_S *pstEndpoint)
{
    pstEndpoint->bStart = 0;
    pstEndpoint->hHandle = -1;
    pstEndpoint->u32Port = NET_PROTOCOL_PORT;
    snprintf(pstEndpoint->azEthName, sizeof(pstEndpoint->azEthName), NET_ETH_NAME);
    snprintf(pstEndpoint->azGroup, sizeof(pstEndpoint->azGroup), NET_PROTOCOL_GROUP);
}

s32 MAIN_Netserver_DefConifg(NetServerConfig_S *pstConfig)
{
    const ConfigNetAttr_S &stNet = g_stConfigAttr.stNetAttr;
    memset(pstConfig, 0, sizeof(*pstConfig));
    snprintf(pstConfig->azEthName, sizeof(pstConfig->azEthName), NET_ETH_NAME);
    (void)getMac(pstConfig->azMac);   // a made-up MAC when none could be stored
    snprintf(pstConfig->azHostIP, sizeof(pstConfig->azHostIP), "%.31s", stNet.azIp);
    snprintf(pstConfig->azNetmask, sizeof(pstConfig->azNetmask), "%.31s", stNet.azNetmask);
    snprintf(pstConfig->azGateway, sizeof(pstConfig->azGateway), "%.31s", stNet.azGateway);
    pstConfig->stWeb.u32Port = stNet.u32HttpPort;
    pstConfig->hRtspServer = nullptr;
    Net_DefStream(&pstConfig->stMainStream, 0, "main/av_stream");
    Net_DefStream(&pstConfig->stSubStream, 1, "sub/av_stream");
    Net_DefEndpoint(&pstConfig->stProtocolAttr);
    Net_DefEndpoint(&pstConfig->stProtocolClientAttr);
    Net_DefEndpoint(&pstConfig->stProtocolServerAttr);
    pstConfig->stDhcp.hDhcp = nullptr;
    snprintf(pstConfig->stDhcp.azEthName, sizeof(pstConfig->stDhcp.azEthName), NET_ETH_NAME);
    return 0;
}

s32 NetApplyAddress(const NetServerConfig_S *pstConfig)
{
    s32 s32Ret = 0;
    if (NetSetLocalIp(pstConfig->azEthName, pstConfig->azHostIP) != 0) {
        Debug_Log("[%s]: set ip failed!\n", log_Time());
        s32Ret = -1;
    }
    if (NetSetLocalNetMask(pstConfig->azEthName, pstConfig->azNetmask) != 0) {
        Debug_Log("[%s]: set mask failed!\n", log_Time());
        s32Ret = -1;
    }
    if (NetSetGateWay(pstConfig->azEthName, pstConfig->azGateway) != 0) {
        Debug_Log("[%s]: set gateway failed!\n", log_Time());
        s32Ret = -1;
    }
    (void)NetAddMulticastRoute(pstConfig->azEthName);   // logged; an existing route is fine
    return s32Ret;
}

// Copies the three texts into the record; the caller holds s_NetAddrMutex.
static void Net_PutAddress(NetServerConfig_S *pstConfig, const char *pszIp, const char *pszMask,
                           const char *pszGateway)
{
    snprintf(pstConfig->azHostIP, sizeof(pstConfig->azHostIP), "%.31s", pszIp);
    snprintf(pstConfig->azNetmask, sizeof(pstConfig->azNetmask), "%.31s", pszMask);
    snprintf(pstConfig->azGateway, sizeof(pstConfig->azGateway), "%.31s", pszGateway);
}

s32 NetChangeAddress(NetServerConfig_S *pstConfig, const char *pszIp, const char *pszMask,
                     const char *pszGateway)
{
    std::lock_guard<std::mutex> lock(s_NetAddrMutex);
    char azOld[3][32];
    snprintf(azOld[0], sizeof(azOld[0]), "%s", pstConfig->azHostIP);
    snprintf(azOld[1], sizeof(azOld[1]), "%s", pstConfig->azNetmask);
    snprintf(azOld[2], sizeof(azOld[2]), "%s", pstConfig->azGateway);
    Net_PutAddress(pstConfig, pszIp, pszMask, pszGateway);
    if (NetApplyAddress(pstConfig) == 0)
        return 0;
    Debug_Log("[%s]: %s: %s/%s gateway %s refused, back to %s/%s gateway %s\n", log_Time(),
              __func__, pszIp, pszMask, pszGateway, azOld[0], azOld[1], azOld[2]);
    Net_PutAddress(pstConfig, azOld[0], azOld[1], azOld[2]);
    (void)NetApplyAddress(pstConfig);   // each failed step is logged
    return -1;
}

s32 NetUseLinkLocal(NetServerConfig_S *pstConfig, const char *pszMac)
{
    char azIp[CONFIG_IP_LEN];
    (void)getDefaultIp(azIp, pszMac);   // always 0
    return NetChangeAddress(pstConfig, azIp, NET_LINK_NETMASK, NET_LINK_GATEWAY);
}

s32 MAIN_Net_Conifg(NetServerConfig_S *pstConfig)
{
    s32 s32Ret = 0;
    if (SetHostMac(pstConfig->azEthName, pstConfig->azMac) != 0) {
        Debug_Log("[%s]: set mac failed!\n", log_Time());
        s32Ret = -1;
    }
    if (NetApplyAddress(pstConfig) == 0)
        return s32Ret;
    // Without an address the box could be reached only at the box itself.
    Debug_Log("[%s]: %s: stored address %s/%s gateway %s refused, taking the link-local address\n",
              log_Time(), __func__, pstConfig->azHostIP, pstConfig->azNetmask, pstConfig->azGateway);
    (void)NetUseLinkLocal(pstConfig, pstConfig->azMac);   // a refusal is logged there
    return -1;
}

s32 MAIN_Get_Hostname(char azHost[NET_HOSTNAME_LEN])
{
    u8 au8Mac[NET_MAC_LEN];
    if (NetGetMac(NET_ETH_NAME, au8Mac) < 0)
        return -1;
    snprintf(azHost, NET_HOSTNAME_LEN, "%s-%02X%02X%02X%02X%02X%02X", NET_HOSTNAME_PREFIX,
             au8Mac[0], au8Mac[1], au8Mac[2], au8Mac[3], au8Mac[4], au8Mac[5]);
    return 0;
}

s32 MAIN_Set_Hostname(void)
{
    char azHost[NET_HOSTNAME_LEN];
    if (MAIN_Get_Hostname(azHost) < 0)
        return -1;
    char azCmd[NET_HOSTNAME_LEN + 16];
    snprintf(azCmd, sizeof(azCmd), "hostname %s", azHost);
    Debug_Log("[%s]: %s:cmd:%s\n", log_Time(), __func__, azCmd);
    return Net_Shell(azCmd);
}

s32 GetHostID(const char *pszEthName, char *azId)
{
    u8 au8Mac[NET_MAC_LEN];
    if (NetGetMac(pszEthName, au8Mac) < 0)
        return -1;
    snprintf(azId, 32, "%02x%02x%02x%02x%02x%02x", au8Mac[0], au8Mac[1], au8Mac[2], au8Mac[3],
             au8Mac[4], au8Mac[5]);
    Debug_Log("[%s]: local mac:%s \n", log_Time(), azId);
    return 0;
}

// A lease becomes the box's address at once.
static void MAIN_Dhcpclient_OnLease(const DhcpLease_S *pstLease, void *pvCtx)
{
    NetServerConfig_S *pstConfig = (NetServerConfig_S *)pvCtx;
    std::lock_guard<std::mutex> lock(s_NetAddrMutex);
    Net_PutAddress(pstConfig, pstLease->azIp, pstLease->azNetmask, pstLease->azGateway);
    (void)NetApplyAddress(pstConfig);   // each failed step is logged; the next lease retries
}

s32 MAIN_Dhcpclient_Attach(NetServerConfig_S *pstConfig)
{
    DhcpAttr_S *pstDhcp = &pstConfig->stDhcp;
    if (pstDhcp->hDhcp != nullptr)
        return 0;
    pstDhcp->hDhcp = Dhcpclient_Attach(MAIN_Dhcpclient_OnLease, pstConfig);
    if (pstDhcp->hDhcp == nullptr)
        return -1;
    pstDhcp->bStart = 1;
    return 0;
}

s32 MAIN_Dhcpclient_Start(NetServerConfig_S *pstConfig)
{
    DhcpAttr_S *pstDhcp = &pstConfig->stDhcp;
    if (MAIN_Dhcpclient_Attach(pstConfig) < 0)
        return -1;
    if (g_stConfigAttr.stNetAttr.enDHCP != 1)
        return 0;
    return MAIN_Dhcpclient_Switch(pstDhcp, 1);
}

s32 MAIN_Dhcpclient_Switch(DhcpAttr_S *pstDhcp, u32 u32On)
{
    if (u32On == 0 && (pstDhcp->hDhcp == nullptr || pstDhcp->enDHCP == 0)) {
        pstDhcp->enDHCP = 0;   // no client runs: off already
        return 0;
    }
    if (pstDhcp->hDhcp == nullptr)
        return -1;
    s32 s32Ret = Dhcpclient_Switch(pstDhcp->hDhcp, u32On);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Dhcpclient_Switch failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    pstDhcp->enDHCP = u32On != 0;
    return 0;
}

static void *MAIN_SetNetWork_Thread(void *pvArg)
{
    NetServerConfig_S *pstConfig = (NetServerConfig_S *)pvArg;
    while (MAIN_Thread_Wait(&s_stSetNetworkThread, NET_THREAD_POLL_MS)) {
        if (g_WebSetNetwork.exchange(0)) {
            std::lock_guard<std::mutex> lock(s_NetAddrMutex);
            Debug_Log("[%s]: %s: %s %s/%s gateway %s\n", log_Time(), __func__,
                      pstConfig->azEthName, pstConfig->azHostIP, pstConfig->azNetmask,
                      pstConfig->azGateway);
            (void)NetApplyAddress(pstConfig);   // each failed step is logged
        }
    }
    return nullptr;
}

s32 MAIN_SetNetWork_start(NetServerConfig_S *pstConfig)
{
    return MAIN_Thread_Start(&s_stSetNetworkThread, MAIN_SetNetWork_Thread, pstConfig, __func__);
}

void MAIN_SetNetWork_stop(void)
{
    MAIN_Thread_Stop(&s_stSetNetworkThread);
}
