#include "core/Utf8.h"

#include <cstring>

// The length of the character at psz (sizeLeft bytes on), or 0 when it is
// not one.
static size_t Utf8_CharLen(const unsigned char *psz, size_t sizeLeft)
{
    unsigned char c = psz[0];
    if (c < 0x80)
        return 1;
    size_t sizeLen;
    unsigned char u8Low = 0x80, u8High = 0xbf;   // range of the second byte
    if (c >= 0xc2 && c <= 0xdf) {
        sizeLen = 2;
    } else if (c >= 0xe0 && c <= 0xef) {
        sizeLen = 3;
        if (c == 0xe0)
            u8Low = 0xa0;   // shorter forms
        else if (c == 0xed)
            u8High = 0x9f;  // surrogates
    } else if (c >= 0xf0 && c <= 0xf4) {
        sizeLen = 4;
        if (c == 0xf0)
            u8Low = 0x90;
        else if (c == 0xf4)
            u8High = 0x8f;  // past U+10FFFF
    } else {
        return 0;
    }
    if (sizeLeft < sizeLen || psz[1] < u8Low || psz[1] > u8High)
        return 0;
    for (size_t i = 2; i < sizeLen; i++)
        if ((psz[i] & 0xc0) != 0x80)
            return 0;
    return sizeLen;
}

bool Utf8_IsValid(const char *pszText, size_t sizeLen)
{
    const unsigned char *psz = (const unsigned char *)pszText;
    for (size_t i = 0; i < sizeLen;) {
        size_t sizeChar = Utf8_CharLen(psz + i, sizeLen - i);
        if (sizeChar == 0)
            return false;
        i += sizeChar;
    }
    return true;
}

s32 Utf8_CopyCut(char *pszOut, size_t sizeOut, const char *pszText)
{
    const unsigned char *psz = (const unsigned char *)pszText;
    size_t sizeLen = strlen(pszText);
    size_t sizeKeep = 0;
    for (size_t i = 0; i < sizeLen;) {
        size_t sizeChar = Utf8_CharLen(psz + i, sizeLen - i);
        if (sizeChar == 0) {
            pszOut[0] = '\0';
            return -1;
        }
        i += sizeChar;
        if (i < sizeOut)
            sizeKeep = i;
    }
    memcpy(pszOut, pszText, sizeKeep);
    pszOut[sizeKeep] = '\0';
    return (s32)sizeKeep;
}
