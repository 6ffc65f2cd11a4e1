// Records shared by the RTSP service and the stream wrapper above it: the
// service configuration, the per-stream operation table the wrapper
// registers, the stream information it answers, frame observers and the
// frames pushed through them.
#ifndef RTSP_RTSPTYPES_H
#define RTSP_RTSPTYPES_H

#include "core/Types.h"

#define RTSP_PARAM_SET_MAX   128
#define RTSP_MULTICAST_TEXT  64

// Payload codes between wrapper and service.
#define RTSP_PAYLOAD_H264    96
#define RTSP_PAYLOAD_H265    98
#define RTSP_PAYLOAD_PCMU    0
#define RTSP_PAYLOAD_PCMA    8
#define RTSP_PAYLOAD_L16     22
#define RTSP_PAYLOAD_G726    97
#define RTSP_PAYLOAD_AUDIO4  101
#define RTSP_PAYLOAD_AUDIO5  104
#define RTSP_PAYLOAD_AAC     105
#define RTSP_PAYLOAD_PCM     108

enum RtspVideoCodec_E {
    RTSP_VIDEO_CODEC_H264 = 1,
    RTSP_VIDEO_CODEC_H265 = 2,
};

enum RtspAudioCodec_E {
    RTSP_AUDIO_CODEC_G711U = 1,
    RTSP_AUDIO_CODEC_G711A = 2,
    RTSP_AUDIO_CODEC_G726 = 3,
    RTSP_AUDIO_CODEC_4 = 4,
    RTSP_AUDIO_CODEC_5 = 5,
    RTSP_AUDIO_CODEC_AAC = 6,
    RTSP_AUDIO_CODEC_PCM = 7,
};

struct RtspServerConfig_S {
    u32 u32PacketSize;   // 1500, not read
    u32 u32Backlog;      // listen backlog
    u32 u32Port;         // RTSP port
    u32 u32Threads;      // 2, not read
    u32 u32TimeoutMs;    // 12000, not read
};

// The wrapper's answers: what a stream carries.
struct RtspVideoInfo_S {
    u32 u32Width;
    u32 u32Height;
    u32 u32FrameRate;
    u32 u32BitRate;      // kbit/s
    u32 au32Reserved[2];
    char azMulticastIp[RTSP_MULTICAST_TEXT];
    u32 u32Port;         // multicast RTP port
    s32 enCodec;         // RtspVideoCodec_E
};

struct RtspAudioInfo_S {
    u32 u32SampleRate;
    u32 u32Channels;
    u32 au32Reserved[2];
    u32 u32BitWidth;
    u32 u32BitRate;      // bit/s
    u32 u32Param;        // samples per frame
    char azMulticastIp[RTSP_MULTICAST_TEXT];
    u32 u32Port;
    s32 enCodec;         // RtspAudioCodec_E
};

// The same as the service reads them, the codec given as payload code.
struct RtspMediaVideoInfo_S {
    u32 u32Width;
    u32 u32Height;
    u32 u32FrameRate;
    u32 u32BitRate;      // kbit/s
    char azMulticastIp[RTSP_MULTICAST_TEXT];
    u32 u32Port;
    u32 u32PayloadType;  // RTSP_PAYLOAD_H264 or RTSP_PAYLOAD_H265
};

struct RtspMediaAudioInfo_S {
    u32 u32SampleRate;
    u32 u32Channels;
    u32 u32BitWidth;
    u32 u32BitRate;      // bit/s
    u32 u32Param;
    char azMulticastIp[RTSP_MULTICAST_TEXT];
    u32 u32Port;
    u32 u32PayloadType;  // an audio RTSP_PAYLOAD_ code
};

// A parameter set, start code included.
struct RtspParamSet_S {
    u8 au8Data[RTSP_PARAM_SET_MAX];
    u32 u32Len;
};

// One NAL unit, start code included.
struct RtspVideoFrame_S {
    const u8 *pu8Data;
    u32 u32Len;
    u64 u64Pts;          // capture time, us
    u32 u32Seq;          // the encoder stream's sequence number
    u32 bKey;            // I slice or parameter set
    u32 u32PayloadType;  // RTSP_PAYLOAD_H264 or RTSP_PAYLOAD_H265
    u32 u32NalCode;      // H.264: 1 P, 2 I, 6 SEI, 7 SPS, 8 PPS; H.265: 1, 2, 32 VPS, 33 SPS, 34 PPS, 39 SEI
};

struct RtspAudioFrame_S {
    const u8 *pu8Data;
    u32 u32Len;
    u64 u64Pts;          // us
    u32 u32Seq;
    u32 u32PayloadType;
};

// The service's receiver of one stream's frames. pfnOnFrame gets an
// RtspVideoFrame_S or an RtspAudioFrame_S and returns 0, or -1 for a
// frame it refuses; it may be called from any thread.
struct RtspFrameObserver_S {
    s32 (*pfnOnFrame)(const RtspFrameObserver_S *pstObserver, const void *pvFrame);
    void (*pfnOnError)(const RtspFrameObserver_S *pstObserver, s32 s32Error);
    void *pvCtx;         // the service's media stream
};

// The operations of one stream. Each takes the half it belongs to and
// returns 0 or -1; the stubs are required but never called.
struct RtspMediaAudioAttr_S {
    u32 bAudioEnable;
    s32 (*pfnGetAudioInfo)(void *pvHalf, RtspMediaAudioInfo_S *pstInfo);
    s32 (*pfnStub1)(void *pvHalf);
    s32 (*pfnStub2)(void *pvHalf);
    s32 (*pfnAudioAddObserver)(void *pvHalf, const RtspFrameObserver_S *pstObserver);
    s32 (*pfnAudioRemoveObserver)(void *pvHalf);
    void *pvHandle;
};

struct RtspMediaVideoAttr_S {
    u32 bVideoEnable;
    s32 (*pfnGetVideoInfo)(void *pvHalf, RtspMediaVideoInfo_S *pstInfo);
    s32 (*pfnStub3)(void *pvHalf);
    s32 (*pfnStub4)(void *pvHalf);
    s32 (*pfnVideoAddObserver)(void *pvHalf, const RtspFrameObserver_S *pstObserver);
    s32 (*pfnVideoRemoveObserver)(void *pvHalf);
    s32 (*pfnRequestIdr)(void *pvHalf);
    s32 (*pfnGetParamSets)(void *pvHalf, RtspParamSet_S *pstSps, RtspParamSet_S *pstPps);
    s32 (*pfnGetVps)(void *pvHalf, RtspParamSet_S *pstVps);
    void *pvHandle;
};

struct RtspMediaStreamAttr_S {
    RtspMediaAudioAttr_S stAudio;
    RtspMediaVideoAttr_S stVideo;
};

#endif
