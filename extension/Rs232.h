// Pieces of the RS-232 text command interface: MAC texts.
#ifndef EXTENSION_RS232_H
#define EXTENSION_RS232_H

#include "core/Types.h"

#define RS232_MAC_BUF 32   // destination of parse_mac

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
