// The frames every command handler follows: check the slots, read the body
// (set frame), call the slot, and answer with the "ack" object and an
// optional body. A handler returns the reply's length, -1 when the request
// cannot be used or the reply not built, -2 when slot 0 or 1 is empty.
// An empty own slot is answered with status "failure".
#ifndef PROTOCOL_PROTOCOLHANDLER_H
#define PROTOCOL_PROTOCOLHANDLER_H

#include <cjson/cJSON.h>

#include "core/Types.h"
#include "protocol/ProtocolCallback.h"
#include "protocol/ProtocolMsg.h"
#include "protocol/ProtocolServer.h"

// Reads the body from the parsed request and calls the own slot, storing
// its result in *ps32Result. Returns 0, or -1 when a key is missing (the
// handler's message logged, nothing called).
typedef s32 ProtocolApply_F(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                            s32 *ps32Result);
// Calls the own slot of a getter and returns its reply body, or null when
// no memory is left.
typedef cJSON *ProtocolBody_F(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                              const void *pvArg);

// Prints the reply: the "ack" object from the request head, the device id
// and the status, then pstBody (taken over; null for none) as pszBodyName,
// or, with a null name, the members of pstBody beside "ack".
// Returns the text's length in pszReply (PROTOCOL_BUF_LEN bytes), or -1
// (logged) when the reply cannot be built or is longer than
// PROTOCOL_TEXT_MAX.
s32 protocol_server_reply(const ProtocolRequestHead_S *pstHead, const char *pszDeviceId,
                          const char *pszStatus, const char *pszBodyName, cJSON *pstBody,
                          char *pszReply);

// The set frame: bSlot tells whether the own slot is set. The status is
// "failure" when the slot returned a negative value.
s32 protocol_server_frame_set(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                              const char *pszRequest, char *pszReply, bool bSlot,
                              ProtocolApply_F *pfnApply, const void *pvArg);
// The set frame with the device information read before the slot, so that
// the reply names the box that was asked even when the slot renames it.
s32 protocol_server_frame_set_infofirst(ProtocolServer_S *pstServer,
                                        const ProtocolRequestHead_S *pstHead,
                                        const char *pszRequest, char *pszReply, bool bSlot,
                                        ProtocolApply_F *pfnApply, const void *pvArg);
// The set frame for one number at the root, named pszKey ("[%s]: get <key>
// err!\n" when missing); a value that is no whole JSON number within s32
// is refused with status "failure".
s32 protocol_server_frame_setvalue(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead, const char *pszRequest,
                                   char *pszReply, ProtocolSetValue_F *pfnSlot, const char *pszKey);
// The getter frame: slot 1, then pfnBody; the status is "success".
s32 protocol_server_frame_get(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                              char *pszReply, bool bSlot, const char *pszBodyName,
                              ProtocolBody_F *pfnBody, const void *pvArg);
// The getter frame for one value, preset to -1: body pszBodyName with
// "deviceid" and pszKey (a number).
s32 protocol_server_frame_getvalue(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead, char *pszReply,
                                   ProtocolGetValue_F *pfnSlot, const char *pszBodyName,
                                   const char *pszKey);
// The frame of a command without parameters: the status is "success", or
// from the slot's result when bStatusFromSlot.
s32 protocol_server_frame_action(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 char *pszReply, ProtocolAction_F *pfnSlot, bool bStatusFromSlot);

// Adds a text from a fixed field of u32Size bytes, read no further than
// that; false when no memory is left.
bool protocol_json_addtext(cJSON *pstObj, const char *pszName, const char *azText, u32 u32Size);
// The value of a member the command takes as a JSON number (pszKey names
// it in the log): 0 with the value; -1 (logged, *ps32Out 0) for a number
// that is not whole or lies outside s32, and for an item of another kind.
s32 protocol_json_s32(const cJSON *pstItem, const char *pszKey, s32 *ps32Out);
// Adds a number as its "%d" or "%u" text.
bool protocol_json_adddec(cJSON *pstObj, const char *pszName, s64 s64Value);

#endif
