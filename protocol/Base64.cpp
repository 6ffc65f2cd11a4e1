#include "protocol/Base64.h"

#include <cstring>

static const char s_azAlphabet[] =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

struct Base64Table_S {
    u8 au8Value[256];
};

// Built once at the first decode; a function-local static is thread-safe.
static const Base64Table_S *Base64_Table(void)
{
    static const Base64Table_S s_stTable = [] {
        Base64Table_S stTable{};
        for (u32 i = 0; i < 64; i++)
            stTable.au8Value[(u8)s_azAlphabet[i]] = (u8)i;
        return stTable;
    }();
    return &s_stTable;
}

s32 base64_encode_qelto(char *pszDst, const void *pvSrc, u32 u32Len)
{
    const u8 *pu8Src = (const u8 *)pvSrc;
    s32 s32Out = 0;
    for (u32 i = 0; i < u32Len; i += 3) {
        u32 u32Left = u32Len - i;
        u8 b0 = pu8Src[i];
        u8 b1 = u32Left > 1 ? pu8Src[i + 1] : 0;
        u8 b2 = u32Left > 2 ? pu8Src[i + 2] : 0;
        pszDst[s32Out++] = s_azAlphabet[b0 >> 2];
        pszDst[s32Out++] = s_azAlphabet[((b0 & 3) << 4) | (b1 >> 4)];
        pszDst[s32Out++] = u32Left > 1 ? s_azAlphabet[((b1 & 15) << 2) | (b2 >> 6)] : '=';
        pszDst[s32Out++] = u32Left > 2 ? s_azAlphabet[b2 & 63] : '=';
    }
    return s32Out;
}

s32 base64_decode_qelto(void *pvDst, const char *pszSrc, u32 u32Len)
{
    if (u32Len % 4 != 0)
        return -1;
    const u8 *pu8Val = Base64_Table()->au8Value;
    u8 *pu8Dst = (u8 *)pvDst;
    s32 s32Out = 0;
    for (u32 i = 0; i < u32Len; i += 4) {
        u8 a = pu8Val[(u8)pszSrc[i]], b = pu8Val[(u8)pszSrc[i + 1]];
        u8 c = pu8Val[(u8)pszSrc[i + 2]], d = pu8Val[(u8)pszSrc[i + 3]];
        bool bLast = i + 4 == u32Len;
        pu8Dst[s32Out++] = (u8)((a << 2) | (b >> 4));
        if (!bLast || pszSrc[i + 2] != '=')
            pu8Dst[s32Out++] = (u8)((b << 4) | (c >> 2));
        if (!bLast || pszSrc[i + 3] != '=')
            pu8Dst[s32Out++] = (u8)((c << 6) | d);
    }
    return s32Out;
}

s32 base64_check_qelto(const char *pszSrc, u32 u32Len)
{
    if (u32Len % 4 != 0)
        return -1;
    u32 u32Pad = 0;
    if (u32Len > 0 && pszSrc[u32Len - 1] == '=')
        u32Pad = u32Len > 1 && pszSrc[u32Len - 2] == '=' ? 2 : 1;
    for (u32 i = 0; i < u32Len - u32Pad; i++) {
        char c = pszSrc[i];
        if (c == '\0' || strchr(s_azAlphabet, c) == nullptr)
            return -1;
    }
    return (s32)(u32Len / 4 * 3 - u32Pad);
}
