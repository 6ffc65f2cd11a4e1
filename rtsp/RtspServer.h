// The stream publishing wrapper: the one door between the application and
// the RTSP service. It publishes the box's streams in up to 16 slots,
// answers the service's questions about them through the registered
// stream-information procedure, splits encoded pictures into NAL units
// and pushes them and the audio frames to each stream's observers.
// Lock order: slot, then the service's locks (service list, stream,
// session), then the slot's parameter-set lock.
#ifndef RTSP_RTSPSERVER_H
#define RTSP_RTSPSERVER_H

#include <atomic>
#include <cstddef>

#include "core/Types.h"
#include "platform/MiAi.h"
#include "platform/MiVenc.h"

#define RTSP_STREAM_NAME_LEN   128
#define RTSP_MAX_STREAMS       16
#define RTSP_IDR_CHANNELS      2          // main and sub
#define RTSP_INFO_VIDEO        1          // kinds of the stream-information procedure
#define RTSP_INFO_AUDIO        2
#define RTSP_MULTICAST_VPORT   5002
#define RTSP_MULTICAST_APORT   5003
#define RTSP_PCM_BUF_LEN       8192       // a PCM frame's buffer: left half, right half
#define RTSP_SERVER_PORT       554        // RTSP on TCP and UDP

struct RtspServerAttr_S;                  // the wrapper context

struct RtspStreamDesc_S {
    u32 bStart;                                // 1 once the stream is published
    u32 s32StreamId;                           // 0 main, 1 sub
    char azStreamName[RTSP_STREAM_NAME_LEN];   // "main/av_stream", "sub/av_stream"
};

// Fills pvInfo for a stream: an RtspVideoInfo_S for RTSP_INFO_VIDEO, an
// RtspAudioInfo_S for any other kind (rtsp/RtspTypes.h). 0 or -1.
typedef s32 RtspServerStreamInfoProc(u32 u32StreamId, u32 u32Kind, void *pvInfo);

// 1: a client asked the channel for a key frame; the supervisor serves and clears it.
extern std::atomic<s32> g_bRequestIDR[RTSP_IDR_CHANNELS];


// The wrapper. Init gives the context with the service created and
// running, or null.
RtspServerAttr_S *RtspServer_Init(void);
s32 RtspServer_DeInit(RtspServerAttr_S *pstCtx);
s32 RtspServer_register(RtspServerAttr_S *pstCtx, RtspServerStreamInfoProc *pfnProc);
// Publishes slot s32StreamId as "live/<name>": 0, 1 when the slot is in
// use already, -1. Stop: 0, 1 for a free slot, -1.
s32 RtspServer_StartStream(RtspServerAttr_S *pstCtx, s32 s32StreamId, const char *pszName);
s32 RtspServer_StopStream(RtspServerAttr_S *pstCtx, s32 s32StreamId);
// Whether an input feeds stream s32StreamId (at first it does). Without
// one, its players are ended and new ones refused at SETUP and PLAY with
// 503 until it has one again; the word outlives a stop and start of the
// stream. 0 or -1.
s32 RtspServer_SetStreamSignal(RtspServerAttr_S *pstCtx, s32 s32StreamId, u32 bSignal);
s32 RtspServer_GetStreamInfo(RtspServerAttr_S *pstCtx, s32 s32StreamId, u32 *pu32Count);
// Ends every player of the stream as a stop does (RTCP BYE on each UDP
// track, control connection closed after its queued data) and keeps it
// published, for players to come back. 0, 1 for a free slot, -1.
s32 RtspServer_EndPlayers(RtspServerAttr_S *pstCtx, s32 s32StreamId);
// Frame pushes, from any thread; a frame for a stream that is not
// published is dropped with 0. The PCM push writes the sample rate into
// the frame's data at u32Len / 2; its buffer holds RTSP_PCM_BUF_LEN bytes.
s32 RtspServer_SendVFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, const MiVencStream_S *pstStream);
s32 RtspServer_SendAFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, const MiAudioFrame_S *pstFrame);
s32 RtspServer_SendAPCMFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, u32 u32SampleRate,
                             MiAudioFrame_S *pstFrame);
// A private SEI unit carrying the HDCP state.
s32 RtspServer_SendVSEICmdFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, u8 u8HdcpState);

#endif
