// The wired 802.1X supplicant (an external program, wpa_supplicant).
#ifndef NET_DOT1X_H
#define NET_DOT1X_H

#include "core/Types.h"

#define DOT1X_TEXT_MAX  63   // longest user name or password
#define DOT1X_CONF      "/tmp/wpa_supplicant.conf"

#define DOT1X_REFUSED   (-2) // the credentials cannot be written; retrying cannot help

// Writes the configuration (wired, EAP-MD5) and starts the supplicant on
// eth0. 0 when started; DOT1X_REFUSED when a text is longer than
// DOT1X_TEXT_MAX or holds '"' or a control character; -1 when the
// configuration cannot be written (both logged).
s32 MAIN_8021xClient_Start(const char *pszUser, const char *pszPasswd);
// Logs off and ends the supplicant; returns 0.
s32 MAIN_8021xClient_Stop(void);

#endif
