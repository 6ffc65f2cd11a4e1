// The listening end of the control protocol: one UDP socket joined to the
// group on the request port, and one thread that hands each request to the
// dispatcher and sends its reply.
#ifndef PROTOCOL_PROTOCOLSERVER_H
#define PROTOCOL_PROTOCOLSERVER_H

#include <atomic>

#include "core/Thread.h"
#include "core/Types.h"
#include "protocol/ProtocolCallback.h"

enum ProtocolServerState_E {
    PROTOCOL_SERVER_READY   = 2,
    PROTOCOL_SERVER_RUNNING = 3,
    PROTOCOL_SERVER_STOPPED = 4,
};

struct ProtocolServer_S {
    std::atomic<s32> enState;              // ProtocolServerState_E
    s32 s32Sock;                           // the UDP socket while running, else -1
    char azEthName[32];                    // interface the socket joins and sends on
    char azHostIP[32];                     // its IPv4 address when the server was made
    char azGroup[32];                      // dotted multicast group
    u32 u32Port;                           // request port; group replies go to port + 1
    u32 u32RequestLen;                     // bytes decoded from the request being handled; the thread's
    ProtocolServerCallback_S stCallback;   // written only while the thread does not run
    void *pUser;                           // first argument of every callback
    MainThread_S stThread;                 // the receive thread
};

// The interface's IPv4 address as a dotted text (32 bytes); 0 or -1 (logged).
s32 protocol_server_getHostIP(const char *pszEthName, char *pszIpOut);
// A ready server for that interface, group and port; 0 or -1 (logged).
s32 protocol_server_init(ProtocolServer_S **ppstOut, const char *pszEthName, const char *pszGroup,
                         u32 u32Port);
// Frees a ready or stopped server; -1 (logged) in another state.
s32 protocol_server_deinit(ProtocolServer_S *pstServer);
// Copies the table and the context; call it while the server does not run. 0.
s32 protocol_server_attach(ProtocolServer_S *pstServer, ProtocolServerCallback_S stCallback,
                           void *pUser);
// Clears all slots; call it while the server does not run. 0.
s32 protocol_server_detach(ProtocolServer_S *pstServer);
// Opens the socket and starts the thread: 0 (also when running), -1, or
// the thread-creation error. A failure leaves no socket and the state.
s32 protocol_server_start(ProtocolServer_S *pstServer);
// Stops and joins the thread at once, leaves the group, closes the socket:
// 0 (also when stopped) or -1 (logged) for a server that never ran.
s32 protocol_server_stop(ProtocolServer_S *pstServer);

#endif
