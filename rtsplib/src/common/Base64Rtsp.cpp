#include "rtsplib/include/Base64Rtsp.h"

static const char s_azAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

static s32 Base64_Value(char c)
{
    if (c >= 'A' && c <= 'Z')
        return c - 'A';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return -1;
}

u32 base64_encode_rtsp(char *pszDst, const void *pvSrc, u32 u32Len)
{
    const u8 *pu8 = (const u8 *)pvSrc;
    u32 u32Out = 0;
    for (u32 i = 0; i < u32Len; i += 3) {
        u32 u32Rest = u32Len - i;
        u32 u32Word = (u32)pu8[i] << 16;
        if (u32Rest > 1)
            u32Word |= (u32)pu8[i + 1] << 8;
        if (u32Rest > 2)
            u32Word |= pu8[i + 2];
        pszDst[u32Out++] = s_azAlphabet[(u32Word >> 18) & 63];
        pszDst[u32Out++] = s_azAlphabet[(u32Word >> 12) & 63];
        pszDst[u32Out++] = u32Rest > 1 ? s_azAlphabet[(u32Word >> 6) & 63] : '=';
        pszDst[u32Out++] = u32Rest > 2 ? s_azAlphabet[u32Word & 63] : '=';
    }
    return u32Out;
}

s32 base64_decode_rtsp(void *pvDst, const char *pszSrc, u32 u32Len)
{
    u8 *pu8 = (u8 *)pvDst;
    while (u32Len > 0 && pszSrc[u32Len - 1] == '=')
        u32Len--;
    if (u32Len % 4 == 1)
        return -1;
    u32 u32Out = 0, u32Word = 0, u32Bits = 0;
    for (u32 i = 0; i < u32Len; i++) {
        s32 s32Val = Base64_Value(pszSrc[i]);
        if (s32Val < 0)
            return -1;
        u32Word = (u32Word << 6) | (u32)s32Val;
        u32Bits += 6;
        if (u32Bits >= 8) {
            u32Bits -= 8;
            pu8[u32Out++] = (u8)(u32Word >> u32Bits);
        }
    }
    return (s32)u32Out;
}
