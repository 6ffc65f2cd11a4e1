// The command table: each request is run by the first row whose pattern
// matches its command text, and the row says whether and where its reply
// goes. The handlers of the rows are declared here.
#ifndef PROTOCOL_PROTOCOLCOMMANDS_H
#define PROTOCOL_PROTOCOLCOMMANDS_H

#include "core/Types.h"
#include "protocol/ProtocolMsg.h"
#include "protocol/ProtocolServer.h"

enum ProtocolMatch_E {
    PROTOCOL_MATCH_CONTAINS,   // the command text contains the pattern
    PROTOCOL_MATCH_EQUALS,     // the command text is the pattern
};

enum ProtocolReplyTo_E {
    PROTOCOL_REPLY_NONE,       // the command takes effect without a reply
    PROTOCOL_REPLY_SENDER,     // to the request's source address
    PROTOCOL_REPLY_GROUP,      // to the group on the request port + 1
};

// Both forms return the reply's length, -1 (request not usable or reply not
// built) or -2 (the box serves no such command: slot 0 or 1 empty).
typedef s32 ProtocolHandleHead_F(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 char *pszReply);
typedef s32 ProtocolHandleBody_F(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 const char *pszRequest, char *pszReply);

// One row: exactly one of the two handler forms is set.
struct ProtocolCommand_S {
    const char *pszPattern;
    ProtocolMatch_E enMatch;
    ProtocolHandleHead_F *pfnHead;   // commands without a body
    ProtocolHandleBody_F *pfnBody;   // commands that read a body from the request
    ProtocolReplyTo_E enReplyTo;
};

extern const ProtocolCommand_S g_astProtocolCommands[];
extern const u32 g_u32ProtocolCommandCount;

// Built-in commands.
s32 protocol_server_getDevice(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                              char *pszReply);
s32 protocol_server_getTxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                char *pszReply);
s32 protocol_server_setTxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                const char *pszRequest, char *pszReply);
s32 protocol_server_getRxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                char *pszReply);
s32 protocol_server_setRxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                const char *pszRequest, char *pszReply);
s32 protocol_server_getId(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                          char *pszReply);
s32 protocol_server_getIrVoltage(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 char *pszReply);
s32 protocol_server_getDisplayMode(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead, char *pszReply);
s32 protocol_server_getPwrLedMode(ProtocolServer_S *pstServer,
                                  const ProtocolRequestHead_S *pstHead, char *pszReply);
s32 protocol_server_getHdcpMode(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                char *pszReply);
s32 protocol_server_getStreamDbg(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 char *pszReply);
s32 protocol_server_factory(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                            char *pszReply);

#endif
