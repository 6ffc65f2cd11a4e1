// The typed-packet TCP server (port 5888), one client at a time. A packet:
//   '$', type (u8), payload length (u16, big-endian), payload.
// Type TCP_TYPE_UPGRADE carries one upload packet of the upgrade:
//   mark (u16, big-endian, 0xEFFE), flag (u8), number (u16, big-endian), data;
// the server answers it with type TCP_TYPE_UPGRADE_ACK and a one-byte
// payload: 0 taken, 1 refused. Other types are logged and ignored.
// An upload belongs to the connection that started it: while it runs a
// new client is turned away, and when that connection closes (or shuts
// its sending side) the upload is dropped.
#ifndef EXTENSION_TCPSERVER_H
#define EXTENSION_TCPSERVER_H

#include "core/Types.h"

#define TCP_SERVER_PORT      5888
#define TCP_MARK             '$'
#define TCP_HEAD_LEN         4
#define TCP_PAYLOAD_MAX      0xFFFF
#define TCP_TYPE_UPGRADE     0x01
#define TCP_TYPE_UPGRADE_ACK 0x81
#define TCP_UPGRADE_HEAD_LEN 5     // mark, flag, number

struct TcpPacket_S {
    bool bPacket;                  // false: bytes skipped, no packet
    u8 u8Type;
    u16 u16Len;
    const u8 *pu8Payload;          // inside the parsed buffer
};

// Frames one packet at the start of pu8Buf. Returns the bytes used (a whole
// packet, or bytes before the next '$' that cannot start one), or 0 when
// the packet is not complete yet.
u32 TcpServer_Parse(const u8 *pu8Buf, u32 u32Len, TcpPacket_S *pstPacket);
// Serves one packet of the peer u64Owner (see ImageRecv_From); the payload
// of an upgrade packet must hold its own head. Returns what ImageRecv_From
// returned, or -1 for a payload too short; 0 for packets of other types.
s32 TcpServer_Handle(const TcpPacket_S *pstPacket, u64 u64Owner);

s32 MAIN_TcpServer_start(u16 u16Port);
void MAIN_TcpServer_stop(void);

#endif
