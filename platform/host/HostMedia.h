// The media engine stand-in as tests and other stand-ins see it.
//
// Pictures reach the video input only while the capture pad is enabled,
// its driver holds an accepted timing (custom command 7 with bsupport 1),
// the receiver's CSI-2 output runs (HostPad_SetOutput), the video input
// device is in MIPI mode and enabled, and its channel 0 port 0 is enabled
// with a capture window that fits the timing. They come at the record's
// rate (for an interlaced input the field rate, one field a picture) and
// go through the binds to the scaler and on to the encoder channels. An encoder channel replays one GOP
// encoded once per attribute set (libx264, libx265, MJPEG) and cached;
// until that GOP is built its pictures are dropped and counted.
#ifndef PLATFORM_HOST_HOSTMEDIA_H
#define PLATFORM_HOST_HOSTMEDIA_H

#include "core/Types.h"
#include "platform/MiAo.h"
#include "platform/MiVenc.h"
#include "platform/MiVpe.h"

struct HostVencInfo_S {
    bool bCreated, bRecv, bGopReady;
    u32 enType;                      // MiVencType_E
    u32 u32Width, u32Height;
    u32 u32Seq;                      // pictures queued since creation
    u32 u32Queued;                   // waiting for MI_VENC_GetStream
    u32 u32Dropped;                  // queue full
    u32 u32NotReady;                 // GOP not built yet
    u32 u32Idrs;
};

struct HostVpeInfo_S {
    bool bCreated, bStarted;
    bool abPortEnabled[MI_VPE_MAX_PORT];
    u32 au32PortWidth[MI_VPE_MAX_PORT], au32PortHeight[MI_VPE_MAX_PORT];
};

// The audio input's tone: a sine of this frequency on each channel.
#define HOST_AI_TONE_LEFT_HZ   1000
#define HOST_AI_TONE_RIGHT_HZ  1500
#define HOST_AI_TONE_PEAK      8000      // of 32767

struct HostAiInfo_S {
    bool bEnabled;
    MiAudioAttr_S stAttr;
    u32 u32ChnMask;                  // enabled channels
    u64 au64Frames[MI_AI_MAX_CHN];   // captured
    u32 au32Dropped[MI_AI_MAX_CHN];  // not kept for the caller
    u32 au32Held[MI_AI_MAX_CHN];     // taken and not released
    u32 u32UserFds;                  // open MI_SYS_GetFd descriptors
};

struct HostAoInfo_S {
    bool bEnabled;
    MiAudioAttr_S stAttr;
    u32 u32ChnMask;
    u64 u64Frames, u64Bytes;         // played
};

struct HostMedia_S {
    bool bInit;                      // MI_SYS_Init called
    bool bPadEnabled, bPadOutput;
    u32 enPadState;                  // MI_SNR_STATE_*
    u32 u32PadWidth, u32PadHeight, u32PadFps;
    bool bPadInterlace;
    bool bViDelivering;              // pictures flow into the video input
    u64 u64ViFrames;
    u32 u32Binds;
    HostVpeInfo_S astVpe[MI_VPE_MAX_CHN];
    HostVencInfo_S astVenc[MI_VENC_MAX_CHN];
    u32 u32GopsBuilt;                // encoded since the process started
    u64 u64GopBytes;                 // pictures of the GOPs kept
    HostAiInfo_S astAi[MI_AI_MAX_DEV];
    HostAoInfo_S astAo[MI_AO_MAX_DEV];
};

// A copy of the engine's state.
void HostMedia_Get(HostMedia_S *pstState);

// Back to power-on: every channel and bind gone, pad disabled with no
// timing and its output off. The GOP cache stays.
void HostMedia_Reset(void);

// The HDMI receiver's CSI-2 output into the capture pad, on or off.
void HostPad_SetOutput(bool bOn);

// Frames of an audio-input channel come u32Bytes short, as from a capture
// that lost samples (0: whole frames again).
void HostAi_SetShortfall(u32 u32Dev, u32 u32Chn, u32 u32Bytes);

// Sample rate reported by custom command 2; 0: the input has no audio.
void HostPad_SetAudio(u32 u32SampleRate);

#endif
