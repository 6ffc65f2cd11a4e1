#include "core/MacText.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

bool Mac_IsForm(const char *pszMac, const char *pszSeps)
{
    for (u32 i = 0; i < MAC_TEXT_LEN; i++) {
        bool bSep = i % 3 == 2;
        if (bSep ? pszMac[i] == '\0' || strchr(pszSeps, pszMac[i]) == nullptr
                 : !isxdigit((unsigned char)pszMac[i]))
            return false;
    }
    return pszMac[MAC_TEXT_LEN] == '\0';
}

bool Mac_IsText(const char *pszMac)
{
    if (!Mac_IsForm(pszMac, ":"))
        return false;
    u32 u32First = (u32)strtoul(pszMac, nullptr, 16);   // stops at the first ':'
    return (u32First & 1) == 0 && strspn(pszMac, "0:") < MAC_TEXT_LEN;
}
