// The device identity: firmware version, serial number and MAC address,
// kept in files and in the identity block of the flash. Every call holds
// g_FlashMutex while it reads or writes them.
#ifndef UPGRADE_IDENTITY_H
#define UPGRADE_IDENTITY_H

#include "core/Types.h"

#define IDENTITY_MAC_FILE     "/etc/mac"
#define IDENTITY_SN_FILE      "/etc/sn"
#define IDENTITY_VERSION_FILE "/customer/info/version"
#define IDENTITY_MAC_PREFIX   "02:48:44"   // made-up MACs: locally administered
#define IDENTITY_VERSION_LEN  32           // bytes written by getVersion, NUL included
#define IDENTITY_MAC_LEN      18
#define IDENTITY_SN_LEN       48

// First line of IDENTITY_VERSION_FILE; 0, or -1 with an empty text.
s32 getVersion(char *pszVersion);
// The MAC as "xx:xx:xx:xx:xx:xx" (lower case): from IDENTITY_MAC_FILE,
// else the identity block, else a new random one with IDENTITY_MAC_PREFIX,
// which is then stored. 0, or -1 when a new MAC could not be stored.
s32 getMac(char *pszMac);
// First line of IDENTITY_SN_FILE, else the identity block; 0, or -1 with
// an empty text.
s32 getSn(char *pszSn);
// Stores a MAC ("xx:xx:xx:xx:xx:xx", any case, kept in lower case) in
// IDENTITY_MAC_FILE and the identity block; 0, or -1 for a refused text or
// a failed write (logged).
s32 setMac(const char *pszMac);

#endif
