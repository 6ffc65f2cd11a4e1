// Reads arbitrary text as Transport, Session and Range fields.
#include <cstddef>
#include <cstdint>
#include <string>

#include "rtsplib/src/rtsp/RtspHeader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    std::string strField((const char *)pu8Data, size);
    RtspHeaderTransport_S astTransport[RTSP_TRANSPORT_MAX];
    RtspHeaderSession_S stSession;
    RtspHeaderRange_S stRange;
    s32 s32Num = rtsp_header_transport(strField.c_str(), astTransport, RTSP_TRANSPORT_MAX);
    for (s32 i = 0; i < s32Num; i++) {
        if (astTransport[i].as32Interleaved[0] > 255 || astTransport[i].azDestination[RTSP_ADDRESS_LEN - 1] != '\0')
            __builtin_trap();
    }
    (void)rtsp_header_session(strField.c_str(), &stSession);
    (void)rtsp_header_range(strField.c_str(), &stRange);
    return 0;
}
