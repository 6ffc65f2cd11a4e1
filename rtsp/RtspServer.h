// The stream publishing wrapper: the descriptors of the published streams.
#ifndef RTSP_RTSPSERVER_H
#define RTSP_RTSPSERVER_H

#include "core/Types.h"

#define RTSP_STREAM_NAME_LEN 128

struct RtspStreamDesc_S {
    u32 bStart;                                // 1 once the stream is published
    u32 s32StreamId;                           // 0 main, 1 sub
    char azStreamName[RTSP_STREAM_NAME_LEN];   // "main/av_stream", "sub/av_stream"
};

#endif
