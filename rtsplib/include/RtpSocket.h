// UDP sockets of RTP and RTCP: random even port pairs from a range, and
// single sockets on a given address and port (multicast groups).
#ifndef RTSPLIB_INCLUDE_RTPSOCKET_H
#define RTSPLIB_INCLUDE_RTPSOCKET_H

#include "core/Types.h"

#define RTP_PORT_BASE          30000
#define RTP_PORT_RANGE         30000
#define RTP_MULTICAST_BASE     "228.255.255.255"
#define RTP_MULTICAST_RANGE    250
#define RTP_SOCKET_RCVBUF      0x500000
#define RTP_SOCKET_PAIR_TRIES  64     // random pairs tried before giving up
#define RTP_SOCKET_ONE_TRIES   3
#define RTP_ADDRESS_TEXT       16     // dotted IPv4 with terminator

// All sockets are non-blocking and close on exec. Each function returns
// 0, or -1 when no socket could be had (logged).

// An RTP socket on an even port and the RTCP socket on the next one, on
// pszAddr (null: any address).
s32 rtp_socket_create(const char *pszAddr, s32 as32Socket[2], u16 au16Port[2]);
// One socket bound to pszAddr and u16Port; others may bind it too.
s32 rtp_socket_create_one(const char *pszAddr, u16 u16Port, s32 *ps32Socket);
// One unbound socket for both, with an even port of the range and that
// port + 2 to announce.
s32 rtp_socket_create_m(s32 as32Socket[2], u16 au16Port[2]);
void rtp_socket_close(s32 s32Socket);

// The ranges: base and count. Ports stay below 65535.
s32 rtp_socket_set_port_range(u16 u16Base, u16 u16Range);
void rtp_socket_get_port_range(u16 *pu16Base, u16 *pu16Range);
s32 rtp_socket_set_multicast_range(const char *pszBase, u32 u32Range);
void rtp_socket_get_multicast_range(char azBase[RTP_ADDRESS_TEXT], u32 *pu32Range);

#endif
