// Inside of the media engine stand-in: the state its files share. One
// mutex guards the whole engine; the frame clock (HostMediaEngine.cpp)
// runs the capture pad's pictures through the binds under it.
#ifndef PLATFORM_HOST_HOSTMEDIAENGINE_H
#define PLATFORM_HOST_HOSTMEDIAENGINE_H

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/MiSnr.h"
#include "platform/MiVenc.h"
#include "platform/MiVif.h"
#include "platform/MiVpe.h"
#include "platform/host/HostMediaAudio.h"

struct HostGop_S;

struct HostPad_S {
    bool bEnabled;
    u32 enState;                         // MI_SNR_STATE_*
    u8 au8VideoInfo[MI_SNR_VIDEO_INFO_LEN];   // last record set
    u32 u32Width, u32Height, u32Fps;     // of that record
    bool bInterlace;
    bool bOutput;                        // the receiver's CSI-2 output runs
    u8 au8Edid[MI_SNR_EDID_RECORD_LEN];
    u32 u32AudioRate;                    // Hz, 0: no audio
};

struct HostVifDev_S { bool bAttrSet, bEnabled; MiVifDevAttr_S stAttr; };
struct HostVifPort_S { bool bAttrSet, bEnabled; MiVifChnPortAttr_S stAttr; };

struct HostVpeChn_S {
    bool bCreated, bStarted;
    MiVpeChannelAttr_S stAttr;
    MiVpeChannelParam_S stParam;
    bool abPortSet[MI_VPE_MAX_PORT], abPortEnabled[MI_VPE_MAX_PORT];
    MiVpePortMode_S astPort[MI_VPE_MAX_PORT];
};

// One encoded picture, queued or held by the caller.
struct HostVencOut_S {
    u32 u32Seq;
    std::vector<u8> data;                // the packs' bytes, one after the other
    u32 u32PackCount;
    u32 au32PackStart[2];                // of each pack in data
    MiVencPack_S astPack[2];             // pu8Addr filled when handed out
};

struct HostVencChn_S {
    bool bCreated;
    MiVencChnAttr_S stAttr;
    MiVencJpegParam_S stJpeg;
    u32 u32MaxStream;                    // queued + held
    bool bRecv;
    s32 s32RecvLeft;                     // pictures left of StartRecvPicEx, -1: no limit
    std::shared_ptr<const HostGop_S> pGop;   // replayed
    bool bGopStale;                      // attributes changed or receiving restarted: look pGop up again
    u32 u32GopPos;                       // next picture of the GOP
    u32 u32Seq;                          // pictures queued since creation
    std::deque<HostVencOut_S> queue, held;
    s32 s32EventFd;                      // readable while queue is not empty; kept for the process
    s32 s32UserFd;                       // MI_VENC_GetFd's copy, -1 when closed
    u32 u32Dropped;                      // queue full
    u32 u32NotReady;                     // pictures that came before the GOP was built
    u32 u32Idrs;
};

struct HostEngine_S {
    std::mutex mutex;                    // guards everything below
    std::condition_variable cvClock;     // the frame clock waits for changes here
    std::condition_variable cvStream;    // MI_VENC_GetStream and MI_AI_GetFrame wait here
    bool bInit;
    HostPad_S stPad;
    HostVifDev_S astVifDev[MI_VIF_MAX_DEV];
    HostVifPort_S astVifPort[MI_VIF_MAX_CHN][MI_VIF_MAX_PORT];
    HostVpeChn_S astVpe[MI_VPE_MAX_CHN];
    HostVencChn_S astVenc[MI_VENC_MAX_CHN];
    HostAiDev_S astAiDev[MI_AI_MAX_DEV];
    HostAoDev_S astAoDev[MI_AO_MAX_DEV];
    std::vector<std::pair<MiSysChnPort_S, MiSysChnPort_S>> binds;   // source, destination
    u64 u64ViFrames;                     // pictures the video input delivered
};

// The engine, created on first use and never freed (threads may use it
// until the process ends).
HostEngine_S *HostEngine_Get(void);

// The engine's lock, as every call of the engine takes it.
struct HostLock_S {
    HostEngine_S *pstEng = HostEngine_Get();
    std::unique_lock<std::mutex> lock{pstEng->mutex};
};

// Call with the mutex held after anything that may start, stop or retime
// the pictures of the video input.
void HostEngine_Changed(HostEngine_S *pstEng);

// Drops every bind from or to a channel that is being destroyed.
void HostSys_DropBinds(HostEngine_S *pstEng, u32 enModId, u32 u32Chn);

// Device of an encoder channel of this type (MiVencDev_E).
u32 HostVenc_DevId(u32 enType);

// One picture reaches an encoder channel; mutex held.
void HostVenc_OnPicture(HostEngine_S *pstEng, u32 u32Chn, u64 u64PtsUs, u64 u64Frame);

// Registers the "pad" words of the simulated hardware.
void HostMediaSim_Register(void);

// Back to power-on state (mutex held): pad, video input, scaler; encoder.
void HostCapture_Reset(HostEngine_S *pstEng);
void HostVenc_Reset(HostEngine_S *pstEng);

#endif
