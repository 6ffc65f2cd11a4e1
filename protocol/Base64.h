// Standard base64 (RFC 4648 alphabet, "=" padding) for the control
// protocol's datagrams and the byte payloads inside its JSON fields.
#ifndef PROTOCOL_BASE64_H
#define PROTOCOL_BASE64_H

#include "core/Types.h"

// Encodes u32Len bytes into pszDst, which holds 4 * ceil(u32Len / 3)
// characters; writes no terminating zero. Returns the number of characters.
s32 base64_encode_qelto(char *pszDst, const void *pvSrc, u32 u32Len);
// Decodes u32Len characters (a multiple of 4) into pvDst, which holds
// 3 * u32Len / 4 bytes; writes no terminating zero. A character outside
// the alphabet counts as 0. Returns the number of bytes, or -1 (nothing
// written) when u32Len is not a multiple of 4. Safe on any thread.
s32 base64_decode_qelto(void *pvDst, const char *pszSrc, u32 u32Len);

// The number of bytes u32Len characters decode to when they are padded
// base64 (a multiple of 4, only alphabet characters, at most two "=" at
// the end), else -1.
s32 base64_check_qelto(const char *pszSrc, u32 u32Len);

#endif
