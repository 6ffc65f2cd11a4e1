// The SoC media engine: the scaler (VPE). A channel takes the captured
// picture on its input port 0 and gives it, scaled, on up to four ports.
// Our own declarations; see platform/MiSys.h for the board and the host.
#ifndef PLATFORM_MIVPE_H
#define PLATFORM_MIVPE_H

#include "platform/MiSys.h"

#define MI_VPE_MAX_CHN   4
#define MI_VPE_MAX_PORT  4
#define MI_VPE_MAX_WIDTH  4096
#define MI_VPE_MAX_HEIGHT 2304

enum MiVpeRunMode_E {
    MI_VPE_RUN_FRAME    = 0x01,
    MI_VPE_RUN_REALTIME = 0x18,   // fed line by line by the video input
};

struct MiVpeChannelAttr_S {
    u32 u32MaxWidth, u32MaxHeight;
    u32 enPixFormat;        // MI_PIXFMT_NV12 or MI_PIXFMT_NV16
    u32 enRunningMode;      // MiVpeRunMode_E
    u32 au32Reserved[4];
};

struct MiVpeChannelParam_S {
    u32 u32Contrast, u32Brightness, u32Saturation, u32Sharpness;   // 0..100
    u32 bMirror, bFlip;
    u32 au32Reserved[2];
};

struct MiVpePortMode_S {
    u16 u16Width, u16Height;
    u32 enPixFormat;        // MI_PIXFMT_NV12 or MI_PIXFMT_NV16
    u32 enCompressMode;     // 0: none
};

extern "C" {

s32 MI_VPE_CreateChannel(u32 u32Chn, const MiVpeChannelAttr_S *pstAttr);
s32 MI_VPE_DestroyChannel(u32 u32Chn);                  // stopped first; drops its binds
s32 MI_VPE_GetChannelParam(u32 u32Chn, MiVpeChannelParam_S *pstParam);
s32 MI_VPE_SetChannelParam(u32 u32Chn, const MiVpeChannelParam_S *pstParam);
s32 MI_VPE_StartChannel(u32 u32Chn);
s32 MI_VPE_StopChannel(u32 u32Chn);
s32 MI_VPE_SetPortMode(u32 u32Chn, u32 u32Port, const MiVpePortMode_S *pstMode);
s32 MI_VPE_EnablePort(u32 u32Chn, u32 u32Port);         // after its mode
s32 MI_VPE_DisablePort(u32 u32Chn, u32 u32Port);
}

#endif
