// The DHCP client. The client program itself is external: the command
// daemon starts it on "ss udhcpc start!" and stops it on "ss udhcpc stop!"
// (written to "/customer/fifodeamon"). Its lease script writes the lease
// into "/etc/network.conf" as lines "ip=A.B.C.D", "subnet=A.B.C.D" and
// "router=A.B.C.D" (router optional); the client's thread hands each new
// lease to the attached callback while the client is on.
#ifndef NET_DHCP_H
#define NET_DHCP_H

#include "core/Types.h"

#define DHCP_LEASE_FILE "/etc/network.conf"
#define DHCP_CMD_FIFO   "/customer/fifodeamon"

struct Dhcpclient_S;

struct DhcpLease_S {
    char azIp[32];
    char azNetmask[32];
    char azGateway[32];   // "0.0.0.0" when the lease names no router
};

typedef void DhcpLeaseProc(const DhcpLease_S *pstLease, void *pvCtx);

struct DhcpAttr_S {
    s32 bStart;               // 1 while a client is attached
    Dhcpclient_S *hDhcp;      // null while no client was ever started
    s32 enDHCP;               // 1 while DHCP is on
    char azEthName[32];
};

// Creates the client (off) with its lease thread; null on failure (logged).
Dhcpclient_S *Dhcpclient_Attach(DhcpLeaseProc *pfnLease, void *pvCtx);
// Stops the thread and frees the client; the external program is left alone.
void Dhcpclient_Detach(Dhcpclient_S *hDhcp);
// Starts (1) or stops (0) the external client; 0, or -1 when the command
// daemon cannot be told (logged). Switching on forgets an earlier lease.
s32 Dhcpclient_Switch(Dhcpclient_S *hDhcp, u32 u32On);
// Tells the command daemon to stop the external client; returns 0.
s32 Dhcpclient_Exit(void *pvArg);
// Reads a lease text; 0, or -1 when the address or the mask is missing or
// any value is not a dotted IPv4 address.
s32 Dhcpclient_ParseLease(const char *pszText, DhcpLease_S *pstLease);

#endif
