// Standard-alphabet base64 with "=" padding, as SDP parameter sets use it.
#ifndef RTSPLIB_INCLUDE_BASE64RTSP_H
#define RTSPLIB_INCLUDE_BASE64RTSP_H

#include <cstddef>

#include "core/Types.h"

// Room base64_encode_rtsp needs for u32Len input bytes (no terminator).
#define BASE64_ENCODED_LEN(u32Len) ((((u32Len) + 2) / 3) * 4)

// Encodes u32Len bytes into pszDst, which holds BASE64_ENCODED_LEN(u32Len)
// characters; the output is not terminated. Returns the characters written.
u32 base64_encode_rtsp(char *pszDst, const void *pvSrc, u32 u32Len);
// Decodes u32Len characters (padding optional) into pvDst, which holds
// u32Len * 3 / 4 bytes. Returns the bytes written, or -1 for a character
// outside the alphabet or a length that cannot be base64.
s32 base64_decode_rtsp(void *pvDst, const char *pszSrc, u32 u32Len);

#endif
