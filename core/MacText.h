// MAC addresses as text: the one check every text passes before it is
// stored, compared or handed to a shell command.
#ifndef CORE_MACTEXT_H
#define CORE_MACTEXT_H

#include "core/Types.h"

#define MAC_TEXT_LEN 17   // "xx:xx:xx:xx:xx:xx"

// Exactly six two-digit hexadecimal bytes, each pair separated by one of
// the characters of pszSeps.
bool Mac_IsForm(const char *pszMac, const char *pszSeps);
// Mac_IsForm with ':', of a unicast address other than all zeros: the only
// kind an interface takes as its own.
bool Mac_IsText(const char *pszMac);

#endif
