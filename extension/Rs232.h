// Pieces of the RS-232 port: its send queue, the UART relay's data
// callback and the MAC texts of its text command interface.
#ifndef EXTENSION_RS232_H
#define EXTENSION_RS232_H

#include "core/Types.h"
#include "extension/Uart.h"

#define RS232_MAC_BUF 32   // destination of parse_mac

// Queues bytes for the port (the control protocol's "serial data"): the
// caller never waits for the port. 0, or -1 when pstUart is closed (not
// for a reopen) or the queue is full: nothing is queued then (logged).
s32 MAIN_Rs232_SendData(UartAttr_S *pstUart, const u8 *pu8Data, u32 u32Len);
// The thread that writes that queue to the port in order, in the port's
// sender turn, waiting for room as long as the port needs; its stop ends
// any wait.
s32 MAIN_Rs232Send_Start(UartAttr_S *pstUart);
void MAIN_Rs232Send_Stop(void);

// The UART relay's data callback: the bytes that came in on the RS-232
// port, where its text commands would be read. No command is served, so
// the bytes are left to the relay.
void MAIN_Uart_Cb(const u8 *pu8Data, u32 u32Len);

// Skips leading blanks, copies at most 17 printable characters into azMac
// (RS232_MAC_BUF bytes, cleared by the caller) and advances *ppszText past
// them. 0 when exactly 17 were taken and they form six two-digit hex bytes
// separated by '-', ',' or ':'; else -1.
s32 parse_mac(const char **ppszText, char *azMac);
// Turns a MAC text from parse_mac into lower case with ':' (in place), the
// form in which MACs are stored and compared.
void MAIN_RS232_NormMac(char *pszMac);
// Turns a MAC text from parse_mac into lower case with ':' (in place) and
// stores it as the device MAC; setMac's result.
s32 MAIN_RS232_Set_MAC(char *pszMac);

#endif
