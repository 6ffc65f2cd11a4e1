// Interface requests on the box's network interfaces: address, mask,
// default route and MAC. Only the interfaces eth0, eth1, eth2 and lo are
// accepted, and only texts that pass a strict check reach a request or a
// shell command.
#ifndef NET_NETIF_H
#define NET_NETIF_H

#include "core/MacText.h"
#include "core/Types.h"

#define NET_MAC_LEN      6

bool Net_IsEthName(const char *pszEthName);

// Sets the address and brings the interface up; 0 or -1 (logged).
s32 NetSetLocalIp(const char *pszEthName, const char *pszIp);
s32 NetSetLocalNetMask(const char *pszEthName, const char *pszMask);
// Replaces the interface's default route; "0.0.0.0" is ignored (0).
s32 NetSetGateWay(const char *pszEthName, const char *pszGateway);
// "ifconfig <if> down", "ifconfig <if> hw ether <mac>", "ifconfig <if> up";
// 0, or -1 when a command fails or a text is refused.
s32 SetHostMac(const char *pszEthName, const char *pszMac);
// The interface's MAC address; 0 or -1 (logged).
s32 NetGetMac(const char *pszEthName, u8 au8Mac[NET_MAC_LEN]);
// "route add -net 224.0.0.0 netmask 224.0.0.0 <if>"; 0 or -1 (logged).
s32 NetAddMulticastRoute(const char *pszEthName);
// Runs a command through the shell; 0, or -1 with the command logged.
s32 Net_Shell(const char *pszCmd);

#endif
