// The callbacks of the control protocol that change the box's settings,
// keep the routing entries and apply the network and serial settings.
// Each takes the table's user context first (not used) and returns 0, or
// -1 for a value it refuses; a refused value changes nothing. They run on
// the protocol server's receive thread.
#ifndef APP_MAINPROTOCOLCB_H
#define APP_MAINPROTOCOLCB_H

#include "app/MainProtocol.h"
#include "core/Types.h"
#include "protocol/ProtocolCallback.h"

#define MAIN_ALIAS_LEN     32          // the alias of a description, NUL included
#define MAIN_ALIAS_REMOVED "TX1"
#define MAIN_SHOWME_LED    75          // LED override units of a show-me

s32 Main_Protocolserver_ongetAlias(void *pvCtx, char *pszAlias);
// Stores the alias cut to MAIN_ALIAS_LEN - 1 bytes between characters;
// refuses one that is not UTF-8 or holds a control character or '"'.
s32 Main_Protocolserver_onsetAlias(void *pvCtx, const char *pszAlias);
s32 Main_Protocolserver_onremoveAlias(void *pvCtx);
// Refuses an ID outside 1..CONFIG_ID_MAX.
s32 Main_Protocolserver_onsetId(void *pvCtx, s32 s32Id);
s32 Main_Protocolserver_ongetTxEdidIndex(void *pvCtx, s32 *ps32Index);
s32 Main_Protocolserver_onsetIrVoltage(void *pvCtx, s32 s32Value);
s32 Main_Protocolserver_onsetDisplayMode(void *pvCtx, s32 s32Mode);
s32 Main_Protocolserver_onsetPwrLedMode(void *pvCtx, s32 s32Mode);
s32 Main_Protocolserver_onsetHdcpMode(void *pvCtx, s32 s32Mode);
s32 Main_Protocolserver_onsetStreamDbg(void *pvCtx, s32 s32Flag);

// A transmitter has no buttons mode, IR mode or video route: these leave
// their outputs as the caller set them.
s32 Main_Protocolserver_ongetButtonsMode(void *pvCtx, s32 *ps32Mode);
s32 Main_Protocolserver_onsetButtonsMode(void *pvCtx, s32 s32Mode);
s32 Main_Protocolserver_ongetIrMode(void *pvCtx, s32 *ps32Mode);
s32 Main_Protocolserver_onsetIrMode(void *pvCtx, s32 s32Mode);
s32 Main_Protocolserver_ongetMatrix(void *pvCtx, ProtocolMatrix_S *pstMatrix);
s32 Main_Protocolserver_onsetMatrix(void *pvCtx, const ProtocolMatrix_S *pstMatrix);
s32 Main_Protocolserver_onclearMatrix(void *pvCtx);

// Serial and infrared routes, kept in the settings record but never saved
// to a key; a transmitter id that is not a storable text is refused.
s32 Main_Protocolserver_ongetSerialMatrix(void *pvCtx, ProtocolMatrix_S *pstMatrix);
s32 Main_Protocolserver_onsetSerialMatrix(void *pvCtx, const ProtocolMatrix_S *pstMatrix);
s32 Main_Protocolserver_onclearSerialMatrix(void *pvCtx);
s32 Main_Protocolserver_ongetIrMatrix(void *pvCtx, ProtocolMatrix_S *pstMatrix);
s32 Main_Protocolserver_onsetIrMatrix(void *pvCtx, const ProtocolMatrix_S *pstMatrix);
s32 Main_Protocolserver_onclearIrMatrix(void *pvCtx);

s32 Main_Protocolserver_onshowMe(void *pvCtx);
s32 Main_Protocolserver_onReboot(void *pvCtx);

// Network: a change applied at once on the calling thread. It refuses
// texts that are not addresses or a MAC, and an address the interface does
// not take (the old one is put back).
s32 Main_Protocolserver_onsetNet(void *pvCtx, const ProtocolNetParams_S *pstNet);

// Serial port: parity in the protocol's coding (0 none, 1 even, 2 odd).
// A change the port cannot take falls back to 115200, 8 bits, no parity,
// one stop bit piece by piece; the relay thread reopens the port.
s32 Main_Protocolserver_ongetSerialparams(void *pvCtx, ProtocolSerialParams_S *pstSerial);
s32 Main_Protocolserver_onsetSerialparams(void *pvCtx, const ProtocolSerialParams_S *pstSerial);
// Writes the bytes to the serial port; -1 when they could not be written.
s32 Main_Protocolserver_onrecvSerialData(void *pvCtx, const u8 *pu8Data, u32 u32Len);

#endif
