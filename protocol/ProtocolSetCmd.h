// The handlers of the setting commands and of the routing, serial and
// infrared commands, and the body readers they share. Each handler follows
// a frame of protocol/ProtocolHandler.h and returns what it does.
#ifndef PROTOCOL_PROTOCOLSETCMD_H
#define PROTOCOL_PROTOCOLSETCMD_H

#include <cjson/cJSON.h>

#include "core/Types.h"
#include "protocol/ProtocolMsg.h"
#include "protocol/ProtocolServer.h"

#define PROTOCOL_PAYLOAD_LEN 1500   // bytes of a decoded "data" payload, at most

// Reads a text member into azOut (PROTOCOL_TEXT_LEN bytes), cut between
// characters to fit: 1, 0 when it is missing or not a text, -1 when it is
// not UTF-8.
s32 protocol_body_text(const cJSON *pstObj, const char *pszKey, char *azOut);
// Reads a member holding a decimal text, an s32 (JsonUtil.h gives the
// form). 1, 0 when it is missing or not a text, -1 (logged) when the text
// is no such number (*ps32Out left alone).
s32 protocol_body_dec(const cJSON *pstObj, const char *pszKey, s32 *ps32Out);
// Decodes a base64 text (padded, standard alphabet, nothing else) into
// pu8Out (PROTOCOL_PAYLOAD_LEN bytes). The number of bytes, or -1 for a
// text that is not base64 or decodes to more than the buffer holds.
s32 protocol_payload_decode(const char *pszText, u8 *pu8Out);

// Setting commands.
s32 protocol_server_handle_config_set_alias(ProtocolServer_S *pstServer,
                                            const ProtocolRequestHead_S *pstHead,
                                            const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_id(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead,
                                         const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_ir_voltage(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_display_mode(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_pwrled_mode(ProtocolServer_S *pstServer,
                                                  const ProtocolRequestHead_S *pstHead,
                                                  const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_hdcp_mode(ProtocolServer_S *pstServer,
                                                const ProtocolRequestHead_S *pstHead,
                                                const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_stream_dbg(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_buttons_mode(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_ir_mode(ProtocolServer_S *pstServer,
                                              const ProtocolRequestHead_S *pstHead,
                                              const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_tx_audio_format(ProtocolServer_S *pstServer,
                                                      const ProtocolRequestHead_S *pstHead,
                                                      const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_set_tx_indexedid(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   const char *pszRequest, char *pszReply);
s32 protocol_server_handle_config_get_buttons_mode(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   char *pszReply);
s32 protocol_server_handle_config_get_ir_mode(ProtocolServer_S *pstServer,
                                              const ProtocolRequestHead_S *pstHead,
                                              char *pszReply);
s32 protocol_server_handle_config_get_tx_indexedid(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   char *pszReply);
s32 protocol_server_handle_config_remove_alias(ProtocolServer_S *pstServer,
                                               const ProtocolRequestHead_S *pstHead,
                                               char *pszReply);
s32 protocol_server_handle_iframe_get(ProtocolServer_S *pstServer,
                                      const ProtocolRequestHead_S *pstHead,
                                      char *pszReply);
s32 protocol_server_handle_device_showme(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead,
                                         char *pszReply);
s32 protocol_server_handle_device_reboot(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead,
                                         char *pszReply);
s32 protocol_server_handle_config_get_net_params(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 char *pszReply);
// Every error is answered, with status "failure".
s32 protocol_server_handle_config_set_net_params(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 const char *pszRequest, char *pszReply);

// Routes, serial port and infrared. A clear needs the family's get slot too.
s32 protocol_server_handle_matrix_get(ProtocolServer_S *pstServer,
                                      const ProtocolRequestHead_S *pstHead,
                                      char *pszReply);
s32 protocol_server_handle_matrix_set(ProtocolServer_S *pstServer,
                                      const ProtocolRequestHead_S *pstHead,
                                      const char *pszRequest, char *pszReply);
s32 protocol_server_handle_matrix_clear(ProtocolServer_S *pstServer,
                                        const ProtocolRequestHead_S *pstHead,
                                        char *pszReply);
s32 protocol_server_handle_serial_get_params(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead,
                                             char *pszReply);
s32 protocol_server_handle_serial_set_params(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead,
                                             const char *pszRequest, char *pszReply);
s32 protocol_server_handle_serial_matrix_get(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead,
                                             char *pszReply);
s32 protocol_server_handle_serial_matrix_set(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead,
                                             const char *pszRequest, char *pszReply);
s32 protocol_server_handle_serial_matrix_clear(ProtocolServer_S *pstServer,
                                               const ProtocolRequestHead_S *pstHead,
                                               char *pszReply);
s32 protocol_server_handle_serial_data(ProtocolServer_S *pstServer,
                                       const ProtocolRequestHead_S *pstHead,
                                       const char *pszRequest, char *pszReply);
s32 protocol_server_handle_ir_matrix_get(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead,
                                         char *pszReply);
s32 protocol_server_handle_ir_matrix_set(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead,
                                         const char *pszRequest, char *pszReply);
s32 protocol_server_handle_ir_matrix_clear(ProtocolServer_S *pstServer,
                                           const ProtocolRequestHead_S *pstHead,
                                           char *pszReply);
s32 protocol_server_handle_ir_data(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead,
                                   const char *pszRequest, char *pszReply);

#endif
