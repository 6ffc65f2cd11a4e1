// The dispatcher: whether a request is for this box, and which command of
// the table runs it.
#ifndef PROTOCOL_PROTOCOLDISPATCH_H
#define PROTOCOL_PROTOCOLDISPATCH_H

#include "core/Types.h"
#include "protocol/ProtocolCommands.h"
#include "protocol/ProtocolServer.h"

// Runs one decoded request. pszReply (PROTOCOL_BUF_LEN bytes, zeroed by the
// caller) receives the reply text. Returns its length (> 0: send it to
// *penReplyTo), 0 (nothing to send: not for this box, from this box, an
// unknown command or one without a reply), -1 (the head did not parse or
// the reply was not built) or -2 (slot 0 is empty).
s32 protocol_server_dispatch(ProtocolServer_S *pstServer, const char *pszRequest, char *pszReply,
                             ProtocolReplyTo_E *penReplyTo);

#endif
