#include "rtsplib/src/rtsp/RtspParser.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#define PARSER_STEP      0x2000     // growth while the buffer is small
#define PARSER_SMALL     0x4000

enum ParserState_E {
    PARSER_HEAD = 0,
    PARSER_CONTENT,
    PARSER_DONE,
    PARSER_ERROR,
};

static std::atomic<u32> s_u32MaxSize{RTSP_MAX_MESSAGE};

static bool Parser_IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

// Text of a header line: printable bytes and tabs only, so that the
// terminated texts handed out hold no surprise.
static bool Parser_IsText(const char *psz, u32 u32Len)
{
    for (u32 i = 0; i < u32Len; i++) {
        unsigned char c = (unsigned char)psz[i];
        if ((c < 0x20 && c != '\t') || c == 0x7F)
            return false;
    }
    return true;
}

static bool Parser_IsToken(const char *psz, u32 u32Len)
{
    for (u32 i = 0; i < u32Len; i++) {
        unsigned char c = (unsigned char)psz[i];
        if (c <= 0x20 || c >= 0x7F)
            return false;
    }
    return u32Len > 0;
}

static s32 Parser_Fail(RtspParser_S *pstParser, s32 s32Error)
{
    pstParser->s32State = PARSER_ERROR;
    pstParser->s32Error = s32Error;
    return s32Error;
}

static void Parser_Drop(RtspParser_S *pstParser, u32 u32Bytes)
{
    memmove(pstParser->pcBuf, pstParser->pcBuf + u32Bytes, pstParser->u32Len - u32Bytes);
    pstParser->u32Len -= u32Bytes;
}

static void Parser_Reset(RtspParser_S *pstParser)
{
    pstParser->s32State = PARSER_HEAD;
    pstParser->s32Error = 0;
    pstParser->u32Pos = 0;
    pstParser->u32Lines = 0;
    pstParser->azMethod[0] = '\0';
    pstParser->u32Uri = pstParser->u32UriLen = 0;
    pstParser->s32Major = pstParser->s32Minor = 0;
    pstParser->s32Code = 0;
    pstParser->u32Reason = 0;
    pstParser->u32HeaderNum = 0;
    pstParser->u32HeadLen = 0;
    pstParser->s64ContentLength = 0;
    pstParser->bClose = false;
    pstParser->s32ContentEncoding = pstParser->s32TransferEncoding = -1;
    pstParser->s32Cookie = pstParser->s32Location = -1;
}

static s32 Parser_Append(RtspParser_S *pstParser, const u8 *pu8, u32 u32Len)
{
    u32 u32Limit = s_u32MaxSize + RTSP_MAX_INPUT;
    if (u32Len > RTSP_MAX_INPUT || pstParser->u32Len + u32Len > u32Limit)
        return -E2BIG;
    u32 u32Need = pstParser->u32Len + u32Len;
    if (u32Need > pstParser->u32Cap) {
        u32 u32Cap = pstParser->u32Cap;
        while (u32Cap < u32Need)
            u32Cap = u32Cap < PARSER_SMALL ? u32Cap + PARSER_STEP : u32Limit;
        if (u32Cap > u32Limit)
            u32Cap = u32Limit;
        char *pcBuf = (char *)realloc(pstParser->pcBuf, u32Cap);
        if (pcBuf == nullptr)
            return -ENOMEM;
        pstParser->pcBuf = pcBuf;
        pstParser->u32Cap = u32Cap;
    }
    memcpy(pstParser->pcBuf + pstParser->u32Len, pu8, u32Len);
    pstParser->u32Len += u32Len;
    return 0;
}

// Drops what lies between messages: interleaved "$" frames, whole or in
// part, and empty lines. 1 when nothing of a message is in yet.
static s32 Parser_SkipBetween(RtspParser_S *pstParser)
{
    for (;;) {
        if (pstParser->u32Skip > 0) {
            u32 n = pstParser->u32Skip < pstParser->u32Len ? pstParser->u32Skip : pstParser->u32Len;
            Parser_Drop(pstParser, n);
            pstParser->u32Skip -= n;
        }
        if (pstParser->u32Len == 0)
            return 1;
        const u8 *pu8 = (const u8 *)pstParser->pcBuf;
        if (pu8[0] == '$') {
            if (pstParser->u32Len < 4)
                return 1;
            pstParser->u32Skip = 4 + ((u32)pu8[2] << 8 | pu8[3]);
        } else if (pu8[0] == '\r' || pu8[0] == '\n') {
            Parser_Drop(pstParser, 1);
        } else {
            return 0;
        }
    }
}

// Finds the empty line that ends the head. 0 found, 1 not yet, or an error.
static s32 Parser_FindHeadEnd(RtspParser_S *pstParser)
{
    u32 u32Max = s_u32MaxSize;
    for (;;) {
        const char *pcNl = (const char *)memchr(pstParser->pcBuf + pstParser->u32Pos, '\n',
                                                pstParser->u32Len - pstParser->u32Pos);
        if (pcNl == nullptr)
            return pstParser->u32Len >= u32Max ? -E2BIG : 1;
        u32 u32Start = pstParser->u32Pos;
        u32 u32End = (u32)(pcNl - pstParser->pcBuf);
        pstParser->u32Pos = u32End + 1;
        if (pstParser->u32Pos > u32Max)
            return -E2BIG;
        if (u32End == u32Start || (u32End == u32Start + 1 && pstParser->pcBuf[u32Start] == '\r')) {
            pstParser->u32HeadLen = pstParser->u32Pos;
            return 0;
        }
        if (++pstParser->u32Lines > 1 + RTSP_MAX_HEADERS)
            return -E2BIG;
    }
}

// "RTSP/d.d" at psz.
static s32 Parser_Version(RtspParser_S *pstParser, const char *psz, u32 u32Len)
{
    if (u32Len < 8 || strncmp(psz, "RTSP/", 5) != 0 || psz[6] != '.' || psz[5] < '0' || psz[5] > '9' ||
        psz[7] < '0' || psz[7] > '9')
        return -EINVAL;
    pstParser->s32Major = psz[5] - '0';
    pstParser->s32Minor = psz[7] - '0';
    return 0;
}

// METHOD SP+ URI SP+ RTSP/d.d
static s32 Parser_RequestLine(RtspParser_S *pstParser, char *pcLine, u32 u32Len)
{
    u32 i = 0;
    while (i < u32Len && pcLine[i] != ' ')
        i++;
    if (i > RTSP_METHOD_LEN || !Parser_IsToken(pcLine, i))
        return -EINVAL;
    memcpy(pstParser->azMethod, pcLine, i);
    pstParser->azMethod[i] = '\0';
    while (i < u32Len && pcLine[i] == ' ')
        i++;
    u32 u32Uri = i;
    while (i < u32Len && pcLine[i] != ' ')
        i++;
    if (!Parser_IsToken(pcLine + u32Uri, i - u32Uri))
        return -EINVAL;
    pstParser->u32Uri = (u32)(pcLine + u32Uri - pstParser->pcBuf);
    pstParser->u32UriLen = i - u32Uri;
    while (i < u32Len && pcLine[i] == ' ')
        i++;
    if (u32Len - i != 8 || Parser_Version(pstParser, pcLine + i, 8) < 0)
        return -EINVAL;
    pcLine[u32Uri + pstParser->u32UriLen] = '\0';
    return 0;
}

// RTSP/d.d SP ddd SP reason
static s32 Parser_StatusLine(RtspParser_S *pstParser, char *pcLine, u32 u32Len)
{
    u64 u64Code;
    if (u32Len < 12 || Parser_Version(pstParser, pcLine, 8) < 0 || pcLine[8] != ' ' ||
        rtsp_parse_number(pcLine + 9, 3, 999, &u64Code) < 0 || u64Code < 100 ||
        (u32Len > 12 && pcLine[12] != ' ') || !Parser_IsText(pcLine, u32Len))
        return -EINVAL;
    pstParser->s32Code = (s32)u64Code;
    pstParser->u32Reason = (u32)(pcLine + (u32Len > 12 ? 13 : 12) - pstParser->pcBuf);
    pcLine[u32Len] = '\0';
    return 0;
}

static s32 Parser_SpecialHeader(RtspParser_S *pstParser, const char *pszName, const char *pszValue, u32 u32ValueLen)
{
    s32 s32Index = (s32)pstParser->u32HeaderNum;
    if (strcasecmp(pszName, "Content-Length") == 0) {
        u64 u64Len;
        if (rtsp_parse_number(pszValue, u32ValueLen, 0xFFFFFFFFULL, &u64Len) < 0)
            return -EINVAL;
        if (pstParser->s64ContentLength >= 0)   // chunked keeps -1
            pstParser->s64ContentLength = (s64)u64Len;
    } else if (strcasecmp(pszName, "Connection") == 0) {
        pstParser->bClose = strcasecmp(pszValue, "close") == 0;
    } else if (strcasecmp(pszName, "Transfer-Encoding") == 0) {
        pstParser->s32TransferEncoding = s32Index;
        if (strcasestr(pszValue, "chunked") != nullptr)
            pstParser->s64ContentLength = -1;
    } else if (strcasecmp(pszName, "Content-Encoding") == 0) {
        pstParser->s32ContentEncoding = s32Index;
    } else if (strcasecmp(pszName, "Set-Cookie") == 0) {
        pstParser->s32Cookie = s32Index;
    } else if (strcasecmp(pszName, "Location") == 0) {
        pstParser->s32Location = s32Index;
    }
    return 0;
}

// Name SP* ":" SP* value SP*
static s32 Parser_HeaderLine(RtspParser_S *pstParser, char *pcLine, u32 u32Len)
{
    if (pstParser->u32HeaderNum >= RTSP_MAX_HEADERS)
        return -E2BIG;
    char *pcColon = (char *)memchr(pcLine, ':', u32Len);
    if (pcColon == nullptr || !Parser_IsText(pcLine, u32Len))
        return -EINVAL;
    u32 u32NameLen = (u32)(pcColon - pcLine);
    while (u32NameLen > 0 && Parser_IsBlank(pcLine[u32NameLen - 1]))
        u32NameLen--;
    if (!Parser_IsToken(pcLine, u32NameLen))
        return -EINVAL;
    u32 u32Value = (u32)(pcColon - pcLine) + 1;
    while (u32Value < u32Len && Parser_IsBlank(pcLine[u32Value]))
        u32Value++;
    u32 u32End = u32Len;
    while (u32End > u32Value && Parser_IsBlank(pcLine[u32End - 1]))
        u32End--;
    pcLine[u32NameLen] = '\0';
    pcLine[u32End] = '\0';
    RtspHeaderEntry_S *pstEntry = &pstParser->astHeader[pstParser->u32HeaderNum];
    pstEntry->u32Name = (u32)(pcLine - pstParser->pcBuf);
    pstEntry->u32NameLen = u32NameLen;
    pstEntry->u32Value = pstEntry->u32Name + u32Value;
    pstEntry->u32ValueLen = u32End - u32Value;
    s32 s32Ret = Parser_SpecialHeader(pstParser, pcLine, pcLine + u32Value, pstEntry->u32ValueLen);
    pstParser->u32HeaderNum++;
    return s32Ret;
}

// Splits the head into its lines; each is terminated in place.
static s32 Parser_Head(RtspParser_S *pstParser)
{
    u32 u32Pos = 0;
    bool bFirst = true;
    while (u32Pos < pstParser->u32HeadLen) {
        char *pcLine = pstParser->pcBuf + u32Pos;
        char *pcNl = (char *)memchr(pcLine, '\n', pstParser->u32HeadLen - u32Pos);
        u32 u32Len = (u32)(pcNl - pcLine);
        u32Pos += u32Len + 1;
        if (u32Len > 0 && pcLine[u32Len - 1] == '\r')
            u32Len--;
        if (u32Len == 0)
            break;
        s32 s32Ret;
        if (!bFirst)
            s32Ret = Parser_HeaderLine(pstParser, pcLine, u32Len);
        else if (pstParser->s32Mode == RTSP_PARSER_REQUEST)
            s32Ret = Parser_RequestLine(pstParser, pcLine, u32Len);
        else
            s32Ret = Parser_StatusLine(pstParser, pcLine, u32Len);
        if (s32Ret < 0)
            return s32Ret;
        bFirst = false;
    }
    // A chunked body has no length to bound it by; RTSP peers do not send one.
    if (pstParser->s64ContentLength < 0)
        return -EINVAL;
    if ((u64)pstParser->u32HeadLen + (u64)pstParser->s64ContentLength > s_u32MaxSize)
        return -E2BIG;
    return 0;
}

static s32 Parser_Parse(RtspParser_S *pstParser)
{
    if (pstParser->s32State == PARSER_HEAD) {
        if (pstParser->u32Pos == 0 && Parser_SkipBetween(pstParser) == 1)
            return 1;
        s32 s32Ret = Parser_FindHeadEnd(pstParser);
        if (s32Ret == 0)
            s32Ret = Parser_Head(pstParser);
        if (s32Ret < 0)
            return Parser_Fail(pstParser, s32Ret);
        if (s32Ret == 1)
            return 1;
        pstParser->s32State = PARSER_CONTENT;
    }
    if (pstParser->s32State == PARSER_CONTENT) {
        if (pstParser->u32Len < pstParser->u32HeadLen + (u64)pstParser->s64ContentLength)
            return 1;
        pstParser->s32State = PARSER_DONE;
    }
    return 0;
}

RtspParser_S *rtsp_parser_create(s32 s32Mode)
{
    RtspParser_S *pstParser = (RtspParser_S *)calloc(1, sizeof(RtspParser_S));
    if (pstParser == nullptr)
        return nullptr;
    pstParser->s32Mode = s32Mode;
    Parser_Reset(pstParser);
    return pstParser;
}

void rtsp_parser_destroy(RtspParser_S *pstParser)
{
    if (pstParser == nullptr)
        return;
    free(pstParser->pcBuf);
    free(pstParser);
}

void rtsp_parser_clear(RtspParser_S *pstParser)
{
    if (pstParser->s32State == PARSER_DONE)
        Parser_Drop(pstParser, pstParser->u32HeadLen + (u32)pstParser->s64ContentLength);
    else
        pstParser->u32Len = 0;
    if (pstParser->s32State == PARSER_ERROR)
        pstParser->u32Skip = 0;
    // An idle connection keeps no buffer.
    if (pstParser->u32Len == 0) {
        free(pstParser->pcBuf);
        pstParser->pcBuf = nullptr;
        pstParser->u32Cap = 0;
    }
    Parser_Reset(pstParser);
}

s32 rtsp_parser_input(RtspParser_S *pstParser, const void *pvData, u32 u32Len)
{
    if (pstParser->s32State == PARSER_ERROR)
        return pstParser->s32Error;
    const u8 *pu8 = (const u8 *)pvData;
    // The rest of an interleaved frame goes without being buffered.
    if (pstParser->u32Len == 0 && pstParser->u32Skip > 0 && u32Len > 0) {
        u32 n = pstParser->u32Skip < u32Len ? pstParser->u32Skip : u32Len;
        pstParser->u32Skip -= n;
        pu8 += n;
        u32Len -= n;
    }
    if (u32Len > 0) {
        s32 s32Ret = Parser_Append(pstParser, pu8, u32Len);
        if (s32Ret < 0)
            return Parser_Fail(pstParser, s32Ret);
    }
    return Parser_Parse(pstParser);
}

u32 rtsp_get_max_size(void)
{
    return s_u32MaxSize;
}

void rtsp_set_max_size(u32 u32Bytes)
{
    s_u32MaxSize = u32Bytes < RTSP_MAX_MESSAGE ? u32Bytes : RTSP_MAX_MESSAGE;
}

const char *rtsp_get_request_method(const RtspParser_S *pstParser)
{
    return pstParser->azMethod;
}

const char *rtsp_get_request_uri(const RtspParser_S *pstParser)
{
    return pstParser->u32UriLen ? pstParser->pcBuf + pstParser->u32Uri : "";
}

void rtsp_get_version(const RtspParser_S *pstParser, s32 *ps32Major, s32 *ps32Minor)
{
    *ps32Major = pstParser->s32Major;
    *ps32Minor = pstParser->s32Minor;
}

s32 rtsp_get_status_code(const RtspParser_S *pstParser)
{
    return pstParser->s32Code;
}

const char *rtsp_get_status_reason(const RtspParser_S *pstParser)
{
    return pstParser->u32Reason ? pstParser->pcBuf + pstParser->u32Reason : "";
}

u32 rtsp_get_header_count(const RtspParser_S *pstParser)
{
    return pstParser->u32HeaderNum;
}

s32 rtsp_get_header(const RtspParser_S *pstParser, u32 u32Index, const char **ppszName, const char **ppszValue)
{
    if (u32Index >= pstParser->u32HeaderNum)
        return -1;
    *ppszName = pstParser->pcBuf + pstParser->astHeader[u32Index].u32Name;
    *ppszValue = pstParser->pcBuf + pstParser->astHeader[u32Index].u32Value;
    return 0;
}

const char *rtsp_get_header_by_name(const RtspParser_S *pstParser, const char *pszName)
{
    for (u32 i = 0; i < pstParser->u32HeaderNum; i++) {
        if (strcasecmp(pstParser->pcBuf + pstParser->astHeader[i].u32Name, pszName) == 0)
            return pstParser->pcBuf + pstParser->astHeader[i].u32Value;
    }
    return nullptr;
}

s32 rtsp_get_header_by_name2(const RtspParser_S *pstParser, const char *pszName, u32 *pu32Value)
{
    const char *pszValue = rtsp_get_header_by_name(pstParser, pszName);
    u64 u64Value;
    if (pszValue == nullptr)
        return -1;
    if (rtsp_parse_number(pszValue, (u32)strlen(pszValue), 0xFFFFFFFFULL, &u64Value) < 0)
        return -2;
    *pu32Value = (u32)u64Value;
    return 0;
}

const void *rtsp_get_content(const RtspParser_S *pstParser)
{
    return pstParser->pcBuf + pstParser->u32HeadLen;
}

s64 rtsp_get_content_length(const RtspParser_S *pstParser)
{
    return pstParser->s64ContentLength;
}

s32 rtsp_get_connection(const RtspParser_S *pstParser)
{
    return pstParser->bClose ? 1 : 0;
}

static const char *Parser_HeaderValue(const RtspParser_S *pstParser, s32 s32Index)
{
    return s32Index < 0 ? nullptr : pstParser->pcBuf + pstParser->astHeader[s32Index].u32Value;
}

const char *rtsp_get_content_encoding(const RtspParser_S *pstParser)
{
    return Parser_HeaderValue(pstParser, pstParser->s32ContentEncoding);
}

const char *rtsp_get_transfer_encoding(const RtspParser_S *pstParser)
{
    return Parser_HeaderValue(pstParser, pstParser->s32TransferEncoding);
}

const char *rtsp_get_cookie(const RtspParser_S *pstParser)
{
    return Parser_HeaderValue(pstParser, pstParser->s32Cookie);
}

const char *rtsp_get_location(const RtspParser_S *pstParser)
{
    return Parser_HeaderValue(pstParser, pstParser->s32Location);
}

s32 rtsp_parse_number(const char *psz, u32 u32Len, u64 u64Max, u64 *pu64Value)
{
    u64 u64Value = 0;
    if (u32Len == 0)
        return -1;
    for (u32 i = 0; i < u32Len; i++) {
        if (psz[i] < '0' || psz[i] > '9')
            return -1;
        u64 u64Digit = (u64)(psz[i] - '0');
        // Checked before it is computed, so that no bound lets it wrap.
        if (u64Digit > u64Max || u64Value > (u64Max - u64Digit) / 10)
            return -1;
        u64Value = u64Value * 10 + u64Digit;
    }
    *pu64Value = u64Value;
    return 0;
}
