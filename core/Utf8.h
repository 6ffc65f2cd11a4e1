// Texts from the network are kept or sent back only as valid UTF-8: a
// controller's strict JSON parser refuses anything else. A text cut to its
// field is cut between characters, so that it stays valid.
#ifndef CORE_UTF8_H
#define CORE_UTF8_H

#include <cstddef>

#include "core/Types.h"

// True when the sizeLen bytes are UTF-8 in its shortest form, without
// surrogates or values past U+10FFFF.
bool Utf8_IsValid(const char *pszText, size_t sizeLen);
// Copies a terminated text into pszOut (sizeOut bytes, at least 1), cut at
// the last character boundary that leaves room for the terminator. Returns
// the length copied, or -1 (pszOut empty) when the whole text is not valid
// UTF-8.
s32 Utf8_CopyCut(char *pszOut, size_t sizeOut, const char *pszText);

#endif
