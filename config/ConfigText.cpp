#include <cstring>

#include "config/Config.h"
#include "core/Utf8.h"

bool Config_IsFieldText(const char *pszText, size_t sizeField)
{
    size_t sizeLen = strnlen(pszText, sizeField);
    if (sizeLen >= sizeField)
        return false;
    for (size_t i = 0; i < sizeLen; i++) {
        unsigned char c = (unsigned char)pszText[i];
        if (c < 0x20 || c == 0x7f || c == '"')
            return false;
    }
    return Utf8_IsValid(pszText, sizeLen);
}
