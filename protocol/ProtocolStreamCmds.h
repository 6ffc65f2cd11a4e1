// The stream, address, firmware and EDID commands. Each returns the reply's
// length, -1 (request not usable, reply not built) or -2 (slot 0 or 1
// empty); a payload that is not what its command carries is answered with
// status "failure" and reaches no slot.
#ifndef PROTOCOL_PROTOCOLSTREAMCMDS_H
#define PROTOCOL_PROTOCOLSTREAMCMDS_H

#include "core/Types.h"
#include "protocol/ProtocolMsg.h"
#include "protocol/ProtocolServer.h"

#define PROTOCOL_EDID_LEN        256      // an EDID: base block and one extension
#define PROTOCOL_CHUNK_COUNT_MAX 0x4000   // number of a firmware upload's last chunk

s32 protocol_server_handle_stream_get(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                      char *pszReply);
s32 protocol_server_handle_ip_get(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                  char *pszReply);
// The chunk is base64 in "data".
s32 protocol_server_handle_update_rx(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                     const char *pszRequest, char *pszReply);
// The chunk's raw bytes follow the JSON text and "\r\n"; the server's
// u32RequestLen tells how many bytes the request carried.
s32 protocol_server_handle_update_tx(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                     const char *pszRequest, char *pszReply);
// "edid" must be padded base64 of exactly PROTOCOL_EDID_LEN bytes.
s32 protocol_server_handle_edid_set(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                    const char *pszRequest, char *pszReply);
s32 protocol_server_handle_edid_user_set(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                         const char *pszRequest, char *pszReply);
s32 protocol_server_handle_edid_index_set(ProtocolServer_S *pstServer,
                                          const ProtocolRequestHead_S *pstHead, const char *pszRequest,
                                          char *pszReply);
s32 protocol_server_handle_edid_copy(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                     const char *pszRequest, char *pszReply);

#endif
