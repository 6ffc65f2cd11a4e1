// Inside of the media engine stand-in, audio half: the audio input and
// output devices kept in HostEngine_S, under its mutex.
#ifndef PLATFORM_HOST_HOSTMEDIAAUDIO_H
#define PLATFORM_HOST_HOSTMEDIAAUDIO_H

#include <chrono>
#include <deque>
#include <vector>

#include "platform/MiAo.h"

struct HostMedia_S;
struct HostEngine_S;

// One captured frame; stFrame.apData[0] points into data.
struct HostAiFrame_S {
    MiAudioFrame_S stFrame;
    std::vector<u8> data;
};

struct HostAiChn_S {
    bool bEnabled;
    u32 u32UserDepth;                    // frames kept for the caller, 0: none
    std::deque<HostAiFrame_S> queue;     // waiting for MI_AI_GetFrame
    std::deque<HostAiFrame_S> held;      // taken, not released
    s32 s32EventFd = -1;                 // readable while queue is not empty; kept for the process
    std::vector<s32> userFds;            // MI_SYS_GetFd's copies
    u32 u32ShortBytes;                   // each frame comes this many bytes short
    u64 u64Frames;                       // captured while enabled
    u32 u32Dropped;                      // not kept: no depth, or the caller too slow
};

struct HostAiDev_S {
    bool bAttrSet, bEnabled;
    MiAudioAttr_S stAttr;
    std::chrono::steady_clock::time_point tStart;   // capture start of frame 0
    u32 u32Seq;                          // frames captured since enabled
    HostAiChn_S astChn[MI_AI_MAX_CHN];
};

struct HostAoDev_S {
    bool bAttrSet, bEnabled;
    MiAudioAttr_S stAttr;
    bool abChnEnabled[MI_AO_MAX_CHN];
    u32 au32ReSmpRate[MI_AO_MAX_CHN];    // 0: none
    u64 u64Frames, u64Bytes;             // played: sent or through a bind
};

// An output that a bind may reach; mutex held.
bool HostAo_Exists(const HostEngine_S *pstEng, const MiSysChnPort_S *pstPort);

// The audio part of HostMedia_Get and HostMedia_Reset; mutex held.
void HostAudio_Fill(const HostEngine_S *pstEng, HostMedia_S *pstState);
void HostAudio_Reset(HostEngine_S *pstEng);

#endif
