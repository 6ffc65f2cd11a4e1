// Feeds the request parser arbitrary bytes in pieces chosen by the input,
// serving every message it completes as the server does.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "rtsplib/src/rtsp/RtspParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    if (size < 1)
        return 0;
    u32 u32Piece = 1 + pu8Data[0] % 64 * 31;   // 1 .. 1954 bytes a call
    pu8Data++;
    size--;
    RtspParser_S *pstParser = rtsp_parser_create(RTSP_PARSER_REQUEST);
    while (size > 0) {
        u32 n = size < u32Piece ? (u32)size : u32Piece;
        s32 s32Ret = rtsp_parser_input(pstParser, pu8Data, n);
        pu8Data += n;
        size -= n;
        while (s32Ret == 0) {
            u32 u32Value;
            s32 s32Major, s32Minor;
            const char *pszName, *pszValue;
            (void)strlen(rtsp_get_request_method(pstParser));
            (void)strlen(rtsp_get_request_uri(pstParser));
            rtsp_get_version(pstParser, &s32Major, &s32Minor);
            (void)rtsp_get_header_by_name2(pstParser, "CSeq", &u32Value);
            for (u32 i = 0; rtsp_get_header(pstParser, i, &pszName, &pszValue) == 0; i++)
                (void)(strlen(pszName) + strlen(pszValue));
            s64 s64Len = rtsp_get_content_length(pstParser);
            if (s64Len > 0)
                (void)memchr(rtsp_get_content(pstParser), 0, (size_t)s64Len);
            rtsp_parser_clear(pstParser);
            s32Ret = rtsp_parser_input(pstParser, nullptr, 0);
        }
        if (s32Ret < 0)
            rtsp_parser_clear(pstParser);
    }
    rtsp_parser_destroy(pstParser);
    return 0;
}
