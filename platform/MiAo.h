// The SoC media engine: audio output (AO), the box's local sound output.
// It plays frames sent to it, or those of an audio-input channel bound to
// it (MI_SYS_BindChnPort2, MI_MODULE_AI to MI_MODULE_AO).
// Our own declarations; see platform/MiSys.h for the board and the host.
#ifndef PLATFORM_MIAO_H
#define PLATFORM_MIAO_H

#include "platform/MiAi.h"

#define MI_AO_MAX_DEV 2
#define MI_AO_MAX_CHN 2

extern "C" {

s32 MI_AO_SetPubAttr(u32 u32Dev, const MiAudioAttr_S *pstAttr);   // device disabled
s32 MI_AO_GetPubAttr(u32 u32Dev, MiAudioAttr_S *pstAttr);
s32 MI_AO_Enable(u32 u32Dev);
s32 MI_AO_Disable(u32 u32Dev);
s32 MI_AO_EnableChn(u32 u32Dev, u32 u32Chn);                      // again: no change
s32 MI_AO_DisableChn(u32 u32Dev, u32 u32Chn);
// Frames of u32InSampleRate are resampled to the device's rate.
s32 MI_AO_EnableReSmp(u32 u32Dev, u32 u32Chn, u32 u32InSampleRate);
s32 MI_AO_DisableReSmp(u32 u32Dev, u32 u32Chn);
// Queues one frame for playing; s32MilliSec as MI_AI_GetFrame.
s32 MI_AO_SendFrame(u32 u32Dev, u32 u32Chn, const MiAudioFrame_S *pstFrame, s32 s32MilliSec);
}

#endif
