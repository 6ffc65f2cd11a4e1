// The protocol client: the box as a controller of other boxes. Requests go
// to the multicast group on the request port; the client's socket is bound
// to port + 1, where the addressed box sends its reply. A receive thread
// hands the awaited reply to the one waiting exchange; every other request
// is sent without waiting.
// Lock order: the exchange lock, then the reply lock (both inside the .cpp).
#ifndef PROTOCOL_PROTOCOLCLIENT_H
#define PROTOCOL_PROTOCOLCLIENT_H

#include <mutex>

#include "core/Thread.h"
#include "core/Types.h"

#define PROTOCOL_CLIENT_RECV_LEN   8192   // datagram and decoded text of the receive side
#define PROTOCOL_CLIENT_RESULT_LEN 4096   // the awaited reply's text
#define PROTOCOL_CLIENT_STREAM_MAX 16     // entries a "stream get" reply may carry

// Writes the box's current device id (32 bytes, terminated); 0 or -1.
typedef s32 ProtocolClientHostIdProc(char *pszHostId);

struct ProtocolClient_S {
    s32 enState;                      // 2 once created
    s32 s32Sock;                      // UDP, bound to u32Port + 1
    char azName[128];                 // the box's model text
    char azEthName[32];
    char azHostIP[32];                // the interface's address at the last refresh; stMutex
    char azHostId[32];                // "hostid" of the last request; stMutex
    char azGroup[32];
    u32 u32Port;                      // request port
    ProtocolClientHostIdProc *pfnHostId;
    std::mutex stMutex;               // azHostIP, azHostId
    MainThread_S stThread;            // the receive thread
};

// One stream of a "stream get" reply.
struct ProtocolClientStream_S {
    s32 bStatus;                      // 1 for "true"
    s32 s32Width, s32Height, s32Vsync;
    char azUrl[128];
};

struct ProtocolClientStreamList_S {
    s32 s32Count;                     // 0..PROTOCOL_CLIENT_STREAM_MAX
    ProtocolClientStream_S astStream[PROTOCOL_CLIENT_STREAM_MAX];
};

// Creates the client with its socket and receive thread; 0, or -1 (logged)
// with nothing left behind. pfnHostId gives the "hostid" of every request.
s32 Protocol_client_init(ProtocolClient_S **ppstClient, const char *pszEthName, const char *pszName,
                         ProtocolClientHostIdProc *pfnHostId, const char *pszGroup, u32 u32Port);
// Stops the receive thread, closes the socket, frees the client; 0.
s32 Protocol_client_deInit(ProtocolClient_S *pstClient);

// Multicast loop-back off and the group joined on any interface, for a
// socket that is to hear the group itself; 0, or -1 (logged). The client's
// own socket joins no group: replies are sent to it.
s32 enabledMulticast(ProtocolClient_S *pstClient, s32 s32Sock);
// Leaves the group again; 0, or -1 (logged) for a socket not in it.
s32 disabledMulticast(ProtocolClient_S *pstClient, s32 s32Sock);
// 0, or -1 (logged).
s32 closeSocket(s32 s32Sock);

// Asks box s32RxId for its EDID and waits up to s32TimeoutMs for the reply;
// 0 with the reply's base64 "edid" text in pszEdid (u32Size bytes, the text
// must fit whole), else -1 (time-out, failure status, malformed reply).
s32 Protocol_client_getDecodeEdid(ProtocolClient_S *pstClient, s32 s32RxId, s32 s32TimeoutMs,
                                  char *pszEdid, u32 u32Size);
// Asks the box of that device id for its streams; 0 with the list, or -1.
s32 Protocol_client_getstream(ProtocolClient_S *pstClient, const char *pszDeviceId, s32 s32TimeoutMs,
                              ProtocolClientStreamList_S *pstOut);

// Requests sent without waiting to the box of numeric id s32Id; 0, or -1
// (logged) when the client is not usable or the send failed.
s32 Protocol_client_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
s32 Protocol_client_matrix_setDecodeId_v3(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
s32 Protocol_client_serial_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
s32 Protocol_client_serial_matrix_setDecodeId_v2(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
s32 Protocol_client_ir_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
s32 Protocol_client_ir_matrix_setDecodeId_v2(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
s32 Protocol_client_usb_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
s32 Protocol_client_usb_matrix_setDecodeId_v2(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId);
// Logs the markers "1" to "3" before its send and "4", "5" after a sent one.
s32 Protocol_client_setEncodeEdidIndex(ProtocolClient_S *pstClient, s32 s32Id, s32 s32Index);
s32 Protocol_client_setRxPermission(ProtocolClient_S *pstClient, s32 s32Id, s32 s32Permission);
s32 Protocol_client_setRxScale(ProtocolClient_S *pstClient, s32 s32Id, s32 s32Scale);
s32 Protocol_client_setRxId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32NewId);
s32 Protocol_client_copyEdid(ProtocolClient_S *pstClient, s32 s32Id, s32 s32RxId);
s32 Protocol_client_setTxId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32NewId);

#endif
