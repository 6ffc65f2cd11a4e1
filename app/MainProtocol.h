// The application's side of the control protocol: the server's start and
// stop, and the callbacks that serve its table. Every callback runs on the
// protocol server's thread and takes the server as its context.
#ifndef APP_MAINPROTOCOL_H
#define APP_MAINPROTOCOL_H

#include <cstddef>

#include "core/Types.h"
#include "net/NetConfig.h"
#include "protocol/ProtocolCallback.h"

#define MAIN_SEARCHIP_FILE  "/tmp/searchip"

// Starts the server of the endpoint and writes its group to
// MAIN_SEARCHIP_FILE. 0 (also when it runs already), or -1 (logged).
s32 MAIN_Protocolserver_start(ProtocolEndpointAttr_S *pstEndpoint);
// Stops and frees the endpoint's server; 0, or -1 (logged).
s32 MAIN_Protocolserver_stop(ProtocolEndpointAttr_S *pstEndpoint);
// The table with every callback the box has; the others stay null.
void MAIN_Protocolserver_Callbacks(ProtocolServerCallback_S *pstCallback);

// Identity and description (slots 0, 1).
s32 Main_Protocolserver_getDeviceid(void *pUser, char *pszType, char *pszDeviceId, s32 *ps32Id);
s32 Main_Protocolserver_getDeviceinfo(void *pUser, ProtocolDeviceInfo_S *pstInfo);
// One-value getters (slots 5, 9, 11, 13, 15, 17).
s32 Main_Protocolserver_ongetId(void *pUser, s32 *ps32Id);
s32 Main_Protocolserver_ongetIrVoltage(void *pUser, s32 *ps32Value);
s32 Main_Protocolserver_ongetDisplayMode(void *pUser, s32 *ps32Mode);
s32 Main_Protocolserver_ongetPwrLedMode(void *pUser, s32 *ps32Mode);
s32 Main_Protocolserver_ongetHdcpMode(void *pUser, s32 *ps32Mode);
s32 Main_Protocolserver_ongetStreamDbg(void *pUser, s32 *ps32Flag);
// Encoder report (slot 24).
s32 Main_Protocolserver_getEncodeparams(void *pUser, ProtocolEncodeParams_S *pstParams);
// Receiver picture settings: a transmitter has none (slots 26, 27).
s32 Main_Protocolserver_getDecodeparams(void *pUser, ProtocolDecodeParams_S *pstParams);
s32 Main_Protocolserver_setDecodeparams(void *pUser, const ProtocolDecodeParams_S *pstParams);
// Network report (slot 28).
s32 Main_Protocolserver_ongetNet(void *pUser, ProtocolNetParams_S *pstNet);
// Factory reset and reboot (slot 53).
s32 Main_Protocolserver_onFactory(void *pUser);

// A settings or network text of u32SrcSize bytes into a 32-byte protocol
// field, cut to 31 characters and terminated; reads no further than the field.
void Main_Protocol_CopyText(char *pszDst, const char *pszSrc, size_t u32SrcSize);
// Uptime as days, hours and minutes; 0.
s32 Main_get_uptime(u32 au32Up[3]);

#endif
