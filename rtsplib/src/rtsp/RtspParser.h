// Incremental parser of RTSP requests (and responses): bounded in size and
// header count, it keeps the bytes after a message for the next one and
// skips interleaved "$" frames found between messages.
#ifndef RTSPLIB_RTSP_RTSPPARSER_H
#define RTSPLIB_RTSP_RTSPPARSER_H

#include "core/Types.h"

#define RTSP_PARSER_RESPONSE 0
#define RTSP_PARSER_REQUEST  1

#define RTSP_MAX_MESSAGE   0x10000   // head and body of one message, bytes
#define RTSP_MAX_HEADERS   64
#define RTSP_MAX_INPUT     8192      // most bytes one rtsp_parser_input call takes
#define RTSP_METHOD_LEN    15

struct RtspHeaderEntry_S {
    u32 u32Name, u32NameLen;      // offsets into the buffer; texts are terminated
    u32 u32Value, u32ValueLen;
};

struct RtspParser_S {
    s32 s32Mode;                  // RTSP_PARSER_REQUEST or RTSP_PARSER_RESPONSE
    char *pcBuf;                  // the current message, then what followed it
    u32 u32Cap, u32Len;
    s32 s32State;
    s32 s32Error;                 // negative errno once the input is refused
    u32 u32Pos;                   // next line of the head to look at
    u32 u32Lines;                 // lines of the head seen so far
    u32 u32Skip;                  // bytes of an interleaved frame still to drop
    char azMethod[RTSP_METHOD_LEN + 1];
    u32 u32Uri, u32UriLen;
    s32 s32Major, s32Minor;
    s32 s32Code;                  // response mode
    u32 u32Reason;
    u32 u32HeaderNum;
    RtspHeaderEntry_S astHeader[RTSP_MAX_HEADERS];
    u32 u32HeadLen;
    s64 s64ContentLength;         // -1: chunked
    bool bClose;                  // "Connection: close"
    s32 s32ContentEncoding, s32TransferEncoding, s32Cookie, s32Location;   // header index or -1
};

RtspParser_S *rtsp_parser_create(s32 s32Mode);
void rtsp_parser_destroy(RtspParser_S *pstParser);
// Forgets the complete message (or, after an error, everything) and keeps
// the bytes that followed it.
void rtsp_parser_clear(RtspParser_S *pstParser);
// Adds at most RTSP_MAX_INPUT bytes (none: look again at what is kept).
// Returns 0 when a whole message is in, 1 while more input is needed,
// -E2BIG for a message past the size or header bounds, -EINVAL for a
// malformed one, -ENOMEM. After 0, input is kept behind the message until
// rtsp_parser_clear; after an error the parser refuses input until cleared.
s32 rtsp_parser_input(RtspParser_S *pstParser, const void *pvData, u32 u32Len);

// Largest message accepted, at most RTSP_MAX_MESSAGE (the default).
u32 rtsp_get_max_size(void);
void rtsp_set_max_size(u32 u32Bytes);

// Getters of the parsed message; texts stay valid until the next clear.
const char *rtsp_get_request_method(const RtspParser_S *pstParser);
const char *rtsp_get_request_uri(const RtspParser_S *pstParser);
void rtsp_get_version(const RtspParser_S *pstParser, s32 *ps32Major, s32 *ps32Minor);
s32 rtsp_get_status_code(const RtspParser_S *pstParser);
const char *rtsp_get_status_reason(const RtspParser_S *pstParser);
u32 rtsp_get_header_count(const RtspParser_S *pstParser);
// 0, or -1 when there is no header u32Index.
s32 rtsp_get_header(const RtspParser_S *pstParser, u32 u32Index, const char **ppszName, const char **ppszValue);
// The value of the first header of that name (any case), or null.
const char *rtsp_get_header_by_name(const RtspParser_S *pstParser, const char *pszName);
// The value as an unsigned 32-bit number: 0, -1 when absent, -2 when it is
// not one.
s32 rtsp_get_header_by_name2(const RtspParser_S *pstParser, const char *pszName, u32 *pu32Value);
const void *rtsp_get_content(const RtspParser_S *pstParser);
s64 rtsp_get_content_length(const RtspParser_S *pstParser);
// 1 when the message asked to close the connection.
s32 rtsp_get_connection(const RtspParser_S *pstParser);
const char *rtsp_get_content_encoding(const RtspParser_S *pstParser);
const char *rtsp_get_transfer_encoding(const RtspParser_S *pstParser);
const char *rtsp_get_cookie(const RtspParser_S *pstParser);
const char *rtsp_get_location(const RtspParser_S *pstParser);

// The u32Len decimal digits at psz (no sign, no spaces) as a number of at
// most u64Max: 0, or -1 when they are not one.
s32 rtsp_parse_number(const char *psz, u32 u32Len, u64 u64Max, u64 *pu64Value);

#endif
