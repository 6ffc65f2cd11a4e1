// The wired 802.1X supplicant (an external program, wpa_supplicant).
#ifndef NET_DOT1X_H
#define NET_DOT1X_H

#include "core/Types.h"

#define DOT1X_TEXT_MAX  63   // longest user name or password
#define DOT1X_CONF      "/tmp/wpa_supplicant.conf"

// Writes the configuration (wired, EAP-MD5) and starts the supplicant on
// eth0. 0 when started; -1 when a text is refused (longer than
// DOT1X_TEXT_MAX, or holding '"', '\\' or a control character) or the
// configuration cannot be written (both logged).
s32 MAIN_8021xClient_Start(const char *pszUser, const char *pszPasswd);
// Logs off and ends the supplicant; returns 0.
s32 MAIN_8021xClient_Stop(void);

#endif
