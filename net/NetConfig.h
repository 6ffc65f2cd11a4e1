// The network record of the runtime record and the network set-up of the
// box: defaults, interface set-up, host name, DHCP glue and the thread that
// applies address changes from the web side.
#ifndef NET_NETCONFIG_H
#define NET_NETCONFIG_H

#include <atomic>
#include <cstdint>

#include "core/Types.h"
#include "net/Dhcp.h"
#include "rtsp/RtspServer.h"

#define NET_ETH_NAME        "eth0"
#define NET_HOSTNAME_PREFIX "PZR-T4900"
#define NET_HOSTNAME_LEN    64
#define NET_PROTOCOL_PORT   8002
#define NET_PROTOCOL_GROUP  "239.255.255.250"
#define NET_LINK_NETMASK    "255.255.0.0"     // with the link-local address of the MAC
#define NET_LINK_GATEWAY    "169.254.100.1"

// One control-protocol endpoint.
struct ProtocolEndpointAttr_S {
    s32 bStart;             // 1 while the endpoint's server or client exists
    intptr_t hHandle;       // the server or client object, -1 while none
    u32 u32Port;            // request port; replies and the client's socket use port + 1
    char azEthName[32];
    char azGroup[32];       // dotted multicast group
};

struct NetWebAttr_S {
    u32 u32Port;            // HTTP port of the web server
};

struct NetServerConfig_S {
    char azEthName[32];     // first member: callers pass the record as the interface name
    char azMac[32];         // "xx:xx:xx:xx:xx:xx"
    char azHostIP[32];      // the box's current IPv4 address
    char azNetmask[32];
    char azGateway[32];
    NetWebAttr_S stWeb;
    u32 bRtspStart;         // 1 once the RTSP wrapper is up
    void *hRtspServer;      // the wrapper's context
    RtspStreamDesc_S stMainStream;
    RtspStreamDesc_S stSubStream;
    ProtocolEndpointAttr_S stProtocolAttr;
    ProtocolEndpointAttr_S stProtocolClientAttr;
    ProtocolEndpointAttr_S stProtocolServerAttr;
    DhcpAttr_S stDhcp;
};

// 1: the web side wrote new addresses into the network record; the network
// thread applies them and clears the word.
extern std::atomic<s32> g_WebSetNetwork;

// Defaults: interface "eth0", the device MAC, the stored addresses and
// HTTP port, the two stream descriptors, the endpoints, the DHCP block
// (no client yet). Returns 0.
s32 MAIN_Netserver_DefConifg(NetServerConfig_S *pstConfig);
// MAC, address, mask, gateway and the multicast route; 0, or -1 when a
// step failed (each logged, the others still done). Addresses that the
// interface refuses give way to the link-local address, so that the box
// stays reachable.
s32 MAIN_Net_Conifg(NetServerConfig_S *pstConfig);
// Address, mask, gateway and the multicast route; 0, or -1 when the
// interface refused the address, mask or gateway (each step logged; the
// others still done; the multicast route may exist already).
s32 NetApplyAddress(const NetServerConfig_S *pstConfig);
// Makes the texts the record's and the interface's address, mask and
// gateway, under the lock that the DHCP lease takes. When the interface
// refuses one, the old three are put back in the record and on the
// interface and -1 is returned; else 0.
s32 NetChangeAddress(NetServerConfig_S *pstConfig, const char *pszIp, const char *pszMask,
                     const char *pszGateway);
// NetChangeAddress to the link-local address of the MAC text, with
// NET_LINK_NETMASK and NET_LINK_GATEWAY.
s32 NetUseLinkLocal(NetServerConfig_S *pstConfig, const char *pszMac);
// "<prefix>-" and the MAC of eth0 as 12 upper-case hex digits; 0 or -1.
s32 MAIN_Get_Hostname(char azHost[NET_HOSTNAME_LEN]);
s32 MAIN_Set_Hostname(void);
// The interface's MAC as 12 lower-case hex digits into azId (32 bytes);
// 0, or -1 (logged) with azId unchanged.
s32 GetHostID(const char *pszEthName, char *azId);

// Attaches the client to the record's DHCP block when it has none (its
// leases applied to the record); 0 or -1 (logged).
s32 MAIN_Dhcpclient_Attach(NetServerConfig_S *pstConfig);
// MAIN_Dhcpclient_Attach, then the client switched on when the settings
// ask for DHCP. 0, or the failing step's code.
s32 MAIN_Dhcpclient_Start(NetServerConfig_S *pstConfig);
// Off while no client runs is done already (0); -1 for on without a
// client; else the switch's result, recorded in enDHCP on success.
s32 MAIN_Dhcpclient_Switch(DhcpAttr_S *pstDhcp, u32 u32On);

// The thread that applies the record's addresses when the web asks for it.
s32 MAIN_SetNetWork_start(NetServerConfig_S *pstConfig);
void MAIN_SetNetWork_stop(void);

#endif
