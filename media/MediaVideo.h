// The video half of the media layer on the SoC media engine: capture pad,
// video input, scaler, three encoder channels with one thread each.
// Operations return 0, or -1 or the engine's error code, and log each
// failed engine call with its name; their callers log their own step.
#ifndef MEDIA_MEDIAVIDEO_H
#define MEDIA_MEDIAVIDEO_H

#include "core/Types.h"
#include "platform/MiVenc.h"

#define MEDIA_VENC_MAX_CHN  16
#define MEDIA_VPE_MAX_PORT  3        // main, sub, JPEG
#define MEDIA_JPEG_VENC_CHN 2        // the snapshot channel
#define MEDIA_JPEG_SIZE     240      // its pictures are 240 x 240

enum MediaViMode_E {
    MEDIA_VI_BT656              = 1,
    MEDIA_VI_BT1120_STANDARD    = 2,
    MEDIA_VI_BT1120_INTERLEAVED = 3,
    MEDIA_VI_MIPI               = 4,
};

enum MediaScanMode_E { MEDIA_SCAN_INTERLACED = 1, MEDIA_SCAN_PROGRESSIVE = 2 };
enum MediaVencType_E { MEDIA_VENC_H264 = 0, MEDIA_VENC_H265 = 1, MEDIA_VENC_JPEG = 2 };
enum MediaRcMode_E { MEDIA_RC_CBR = 0, MEDIA_RC_VBR = 1, MEDIA_RC_FIXQP = 2, MEDIA_RC_AVBR = 3 };

struct MediaViAttr_S {
    u32 enViMode;            // MediaViMode_E
    u32 u32Width, u32Height;
    u32 enScanMode;          // MediaScanMode_E
    u32 u32Reserved;         // 0
    u32 u32SrcFrameRate, u32DstFrameRate;
};

struct MediaVencAttr_S {
    u32 enVencType;          // MediaVencType_E
    u32 enRcMode;            // MediaRcMode_E
    u32 u32MaxWidth, u32MaxHeight;
    u32 u32Width, u32Height;
    u32 u32Gop;              // frames
    u32 u32SrcFrameRate;     // given to rate control
    u32 u32FrameRate;        // reported to stream information; JPEG: rate numerator
    u32 u32BitRate;          // kbit/s
};

// Gets each encoded picture of a channel, on the channel's thread; the
// stream is released when it returns. Non-zero is logged.
typedef s32 MediaVencStreamProc(s32 s32VencChn, MiVencStream_S *pstStream);

// System and capture pad. The pool plan is not read.
s32 HI_Media_Init(const u32 *pu32PoolPlan);
s32 Media_SetVIVPSSMode(void);
// The engine lives as long as the process: nothing to take down.
s32 HI_Media_DeInit(void);
s32 Media_Sys_deInit(void);
// The MIPI input needs no BT.1120 start, pipe or ISP of its own: 0, nothing done.
s32 Media_VI_EnableDev_StartMIPI_BT1120(void);
s32 Media_EnablePipe(void);
s32 HI_Media_VI_StartIsp(void);
void Media_VI_StopSingleViPipe(void);

// Video input: device, channel and port of the engine.
s32 HI_Media_Vi_Start(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort, const MediaViAttr_S *pstViAttr);
s32 HI_Media_Vi_Stop(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort);
s32 HI_Media_VI_BindVpss(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort, s32 s32VpeChn);
s32 HI_Media_VI_UnBindVpss(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort, s32 s32VpeChn);

// Scaler. pu32Sizes: widths of ports 0-2, heights of ports 0-2, then the
// pixel-format selector (0: 4:2:0, else 4:2:2); at most 3 ports.
s32 HI_Media_Vpss_Start(s32 s32VpeChn, u32 u32PortNum, const u32 *pu32Sizes);
s32 HI_Media_Vpss_SetChannelRes(s32 s32VpeChn, s32 s32Port, u32 u32Width, u32 u32Height);
s32 HI_Media_Vpss_Stop(s32 s32VpeChn, u32 u32PortNum);

// Encoders: channels 0 .. MEDIA_VENC_MAX_CHN - 1.
s32 HI_Media_Venc_CreateChn(s32 s32VencChn, const MediaVencAttr_S *pstAttr);
s32 HI_Media_Venc_DestroyChn(s32 s32VencChn);
s32 HI_Media_Venc_SetAttr(s32 s32VencChn, const MediaVencAttr_S *pstAttr);
s32 HI_Media_Venc_BindVpss(s32 s32VencChn, s32 s32VpeChn, s32 s32VpePort);
s32 HI_Media_Venc_UnBindVpss(s32 s32VencChn, s32 s32VpeChn, s32 s32VpePort);
s32 HI_MEDIA_Venc_RegisterNotify(MediaVencStreamProc *pfnCallback);
// The channel's thread: started once, stopped and joined; after the stop
// the callback no longer runs for the channel.
s32 HI_Media_Venc_Start(s32 s32VencChn);
s32 HI_Media_Venc_Stop(s32 s32VencChn);
// One more picture from the JPEG channel, through its thread's callback.
s32 HI_Media_Start_SnapShot(void);
// A key-frame request, taken and answered with 0; it forces no key frame,
// on the board and on the host stand-in alike: key frames come only at
// the start of each channel's GOP.
s32 HI_Media_Venc_RequestIDR(s32 s32VencChn);

#endif
