// The SoC media engine: audio input (AI). A device captures 16-bit samples
// at its sample rate; a stereo device gives interleaved frames on channel
// 0, a mono device one channel per input (left on 0, right on 1).
// Our own declarations; see platform/MiSys.h for the board and the host.
#ifndef PLATFORM_MIAI_H
#define PLATFORM_MIAI_H

#include "platform/MiSys.h"

#define MI_AI_MAX_DEV        2
#define MI_AI_MAX_CHN        2
#define MI_AUDIO_MAX_CHN_BUF 16     // data addresses of one frame
#define MI_AUDIO_MAX_PTNUM   4096   // samples per frame

enum MiAudioBitWidth_E { MI_AUDIO_BIT_WIDTH_16 = 0, MI_AUDIO_BIT_WIDTH_24 = 1 };
enum MiAudioSoundMode_E { MI_AUDIO_SOUND_MODE_MONO = 0, MI_AUDIO_SOUND_MODE_STEREO = 1 };
enum MiAudioWorkMode_E { MI_AUDIO_MODE_I2S_MASTER = 0, MI_AUDIO_MODE_I2S_SLAVE = 1 };

struct MiAudioAttr_S {
    u32 enSamplerate;             // Hz: 8000, 16000, 32000, 44100 or 48000
    u32 enBitwidth;               // MiAudioBitWidth_E; 16 bits only here
    u32 enWorkmode;               // MiAudioWorkMode_E
    u32 enSoundmode;              // MiAudioSoundMode_E
    u32 u32FrmNum;                // frames the device buffers
    u32 u32PtNumPerFrm;           // samples per frame and channel
    u32 u32ChnCnt;                // 1 stereo, or 1..2 mono
};

// One captured frame, valid until MI_AI_ReleaseFrame.
struct MiAudioFrame_S {
    u32 u32BitWidth;              // MiAudioBitWidth_E
    u32 enSoundmode;              // MiAudioSoundMode_E
    void *apData[MI_AUDIO_MAX_CHN_BUF];
    u64 u64TimeStamp;             // first sample, us, monotonic clock
    u32 u32Seq;                   // frame number since the device was enabled
    u32 u32Len;                   // bytes at apData[0]
    u32 au32PoolId[2];
    void *apSrcData[MI_AUDIO_MAX_CHN_BUF];
    u32 u32SrcLen;
};

extern "C" {

s32 MI_AI_SetPubAttr(u32 u32Dev, const MiAudioAttr_S *pstAttr);   // device disabled
s32 MI_AI_GetPubAttr(u32 u32Dev, MiAudioAttr_S *pstAttr);
s32 MI_AI_Enable(u32 u32Dev);
s32 MI_AI_Disable(u32 u32Dev);                                     // channels disabled first
s32 MI_AI_EnableChn(u32 u32Dev, u32 u32Chn);
s32 MI_AI_DisableChn(u32 u32Dev, u32 u32Chn);
s32 MI_AI_DisableReSmp(u32 u32Dev, u32 u32Chn);
// Frames reach the caller only through an output port depth of 1 or more
// (MI_SYS_SetChnOutputPortDepth, module MI_MODULE_AI). s32MilliSec: 0 does
// not wait, -1 waits for ever. pvAecFrame must be null.
s32 MI_AI_GetFrame(u32 u32Dev, u32 u32Chn, MiAudioFrame_S *pstFrame, void *pvAecFrame, s32 s32MilliSec);
s32 MI_AI_ReleaseFrame(u32 u32Dev, u32 u32Chn, MiAudioFrame_S *pstFrame, void *pvAecFrame);
}

#endif
