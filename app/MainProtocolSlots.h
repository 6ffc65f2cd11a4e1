// The application callbacks of the control protocol that serve the
// encoder, EDID, stream and firmware commands, and the box's protocol
// client. Each callback takes the server's user context first and returns
// 0 or more for success, a negative value for failure.
#ifndef APP_MAINPROTOCOLSLOTS_H
#define APP_MAINPROTOCOLSLOTS_H

#include "core/Types.h"
#include "net/NetConfig.h"
#include "protocol/ProtocolCallback.h"
#include "protocol/ProtocolClient.h"

// MainProtocolClient.cpp: the client of the endpoint block; the start-up's
// step, then the client for any caller, or null while none was started.
s32 MAIN_Protocolclient_Init(ProtocolEndpointAttr_S *pstEndpoint);
s32 MAIN_Protocolclient_deInit(ProtocolEndpointAttr_S *pstEndpoint);
ProtocolClient_S *MAIN_Protocolclient_Get(void);

// MainProtocolMedia.cpp: the main stream's encoder and audio format.
s32 Main_Protocolserver_setEncodeparams(void *pUser, const ProtocolEncodeParams_S *pstIn);
s32 Main_Protocolserver_onsetTxAudioFormat(void *pUser, s32 s32Format);

// MainProtocolEdid.cpp: index 0..8 (out of range: nothing changes, 0); an
// EDID of exactly 256 bytes (else -1); user EDID 1 or 2; the copy fails
// without a valid reply from the receiver within 1 s.
s32 Main_Protocolserver_onsetTxEdidIndex(void *pUser, s32 s32Index);
s32 Main_Protocolserver_onsetEdidIndex(void *pUser, s32 s32Index);
s32 Main_Protocolserver_onsetEdid(void *pUser, const u8 *pu8Edid, s32 s32Len);
s32 Main_Protocolserver_onsetUserEdid(void *pUser, const u8 *pu8Edid, s32 s32Len, s32 s32Index);
s32 Main_Protocolserver_oncopyEdid(void *pUser, s32 s32RxId);

// MainProtocolStream.cpp: the two streams; one firmware chunk (numbers 1
// to 16384 in order, 16384 the last); a key-frame request at most once a
// second.
s32 Main_Protocolserver_ongetStream(void *pUser, ProtocolStreamInfo_S *pstOut);
s32 Main_Protocolserver_onupdateFirmware(void *pUser, ProtocolFirmwareChunk_S *pstChunk);
s32 Main_Protocolserver_ongetIframe(void *pUser);

#endif
