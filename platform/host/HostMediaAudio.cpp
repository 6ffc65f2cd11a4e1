// Media engine stand-in: audio input and output. An enabled input device
// captures a tone in real time (HOST_AI_TONE_*_HZ, 16-bit), one frame of
// u32PtNumPerFrm samples at a time, on the audio clock's thread; frames
// wait for the caller in each channel's port, as deep as its user depth.
// The output plays (counts) what it is sent or what a bound input gives.
#include "platform/host/HostMedia.h"
#include "platform/host/HostMediaEngine.h"

#include <algorithm>
#include <cmath>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

using std::chrono::steady_clock;

static const u32 s_au32Rates[] = {8000, 16000, 32000, 44100, 48000};
static const u32 HOST_AUDIO_LATE_RESYNC_MS = 1000;   // a clock this late starts afresh
static const u32 HOST_AO_MAX_FRAME = MI_AUDIO_MAX_PTNUM * 4;

static s32 HostAi_Err(u32 u32Code)
{
    return MI_ERR(MI_MODULE_AI, u32Code);
}

static s32 HostAo_Err(u32 u32Code)
{
    return MI_ERR(MI_MODULE_AO, u32Code);
}

static bool HostAudio_AttrOk(const MiAudioAttr_S *pstAttr, u32 u32MaxChn)
{
    return std::find(std::begin(s_au32Rates), std::end(s_au32Rates), pstAttr->enSamplerate) != std::end(s_au32Rates) &&
           pstAttr->enBitwidth == MI_AUDIO_BIT_WIDTH_16 && pstAttr->enWorkmode <= MI_AUDIO_MODE_I2S_SLAVE &&
           pstAttr->enSoundmode <= MI_AUDIO_SOUND_MODE_STEREO && pstAttr->u32FrmNum != 0 &&
           pstAttr->u32PtNumPerFrm != 0 && pstAttr->u32PtNumPerFrm <= MI_AUDIO_MAX_PTNUM &&
           pstAttr->u32ChnCnt != 0 && pstAttr->u32ChnCnt <= u32MaxChn;
}

static HostAiDev_S *HostAudio_Devs(HostEngine_S *pstEng, const HostAiDev_S *)
{
    return pstEng->astAiDev;
}

static HostAoDev_S *HostAudio_Devs(HostEngine_S *pstEng, const HostAoDev_S *)
{
    return pstEng->astAoDev;
}

// One call on an audio device (and channel): the engine's lock, and the
// device when the engine runs and the numbers are in range; else pstDev
// is null and s32Ret says why.
template <typename Dev, u32 enModId, u32 u32MaxDev, u32 u32MaxChn> struct HostAudioCall_S {
    HostLock_S l;
    s32 s32Ret;
    Dev *pstDev;

    HostAudioCall_S(u32 u32Dev, u32 u32Chn = 0, bool bArg = true)
    {
        s32Ret = !l.pstEng->bInit ? MI_ERR(enModId, MI_ERR_SYS_NOTREADY)
               : u32Dev >= u32MaxDev ? MI_ERR(enModId, MI_ERR_INVALID_DEVID)
               : u32Chn >= u32MaxChn ? MI_ERR(enModId, MI_ERR_INVALID_CHNID)
               : !bArg ? MI_ERR(enModId, MI_ERR_NULL_PTR) : MI_SUCCESS;
        pstDev = s32Ret == MI_SUCCESS ? &HostAudio_Devs(l.pstEng, (const Dev *)nullptr)[u32Dev] : nullptr;
    }

    // The public attributes, set while the device is off, or read.
    s32 SetAttr(const MiAudioAttr_S *pstAttr, u32 u32MaxChns)
    {
        if (pstDev == nullptr)
            return s32Ret;
        if (pstDev->bEnabled)
            return MI_ERR(enModId, MI_ERR_NOT_PERM);
        if (!HostAudio_AttrOk(pstAttr, u32MaxChns))
            return MI_ERR(enModId, MI_ERR_ILLEGAL_PARAM);
        pstDev->stAttr = *pstAttr;
        pstDev->bAttrSet = true;
        return MI_SUCCESS;
    }

    s32 GetAttr(MiAudioAttr_S *pstAttr)
    {
        if (pstDev == nullptr)
            return s32Ret;
        if (!pstDev->bAttrSet)
            return MI_ERR(enModId, MI_ERR_NOT_CONFIG);
        *pstAttr = pstDev->stAttr;
        return MI_SUCCESS;
    }
};

typedef HostAudioCall_S<HostAiDev_S, MI_MODULE_AI, MI_AI_MAX_DEV, MI_AI_MAX_CHN> HostAiCall_S;
typedef HostAudioCall_S<HostAoDev_S, MI_MODULE_AO, MI_AO_MAX_DEV, MI_AO_MAX_CHN> HostAoCall_S;

// Empties a channel's port and makes its descriptor unreadable.
static void HostAi_Drain(HostAiChn_S *pstChn)
{
    u64 u64Count;
    pstChn->queue.clear();
    if (pstChn->s32EventFd >= 0)
        (void)!read(pstChn->s32EventFd, &u64Count, sizeof(u64Count));   // EAGAIN when it was not readable
}

static s16 HostAi_Tone(u32 u32Hz, u64 u64Sample, u32 u32Rate)
{
    // The phase from whole numbers, so that it never drifts.
    double dPhase = (double)((u64Sample * u32Hz) % u32Rate) / u32Rate;
    return (s16)lround(HOST_AI_TONE_PEAK * sin(2 * M_PI * dPhase));
}

// Frame u32Seq of a channel: interleaved left and right in stereo, else
// the channel's own tone (left on 0, right on 1).
static void HostAi_Make(const HostAiDev_S *pstDev, u32 u32Chn, HostAiFrame_S *pstOut)
{
    const MiAudioAttr_S &stAttr = pstDev->stAttr;
    bool bStereo = stAttr.enSoundmode == MI_AUDIO_SOUND_MODE_STEREO;
    u32 u32Pt = stAttr.u32PtNumPerFrm, u32Rate = stAttr.enSamplerate;
    u64 u64First = (u64)pstDev->u32Seq * u32Pt;
    u32 u32Values = bStereo ? u32Pt * 2 : u32Pt;
    u32 u32Len = u32Values * 2 - std::min(pstDev->astChn[u32Chn].u32ShortBytes, u32Values * 2);
    pstOut->data.assign(u32Values * 2, 0);
    s16 *ps16 = (s16 *)pstOut->data.data();
    for (u32 i = 0; i < u32Pt; i++) {
        if (bStereo) {
            ps16[2 * i] = HostAi_Tone(HOST_AI_TONE_LEFT_HZ, u64First + i, u32Rate);
            ps16[2 * i + 1] = HostAi_Tone(HOST_AI_TONE_RIGHT_HZ, u64First + i, u32Rate);
        } else {
            ps16[i] = HostAi_Tone(u32Chn == 0 ? HOST_AI_TONE_LEFT_HZ : HOST_AI_TONE_RIGHT_HZ, u64First + i, u32Rate);
        }
    }
    auto tCapture = pstDev->tStart + std::chrono::microseconds(u64First * 1000000 / u32Rate);
    MiAudioFrame_S &stFrame = pstOut->stFrame;
    stFrame = MiAudioFrame_S();
    stFrame.u32BitWidth = stAttr.enBitwidth;
    stFrame.enSoundmode = stAttr.enSoundmode;
    stFrame.apData[0] = pstOut->data.data();
    stFrame.u64TimeStamp =
        (u64)std::chrono::duration_cast<std::chrono::microseconds>(tCapture.time_since_epoch()).count();
    stFrame.u32Seq = pstDev->u32Seq;
    stFrame.u32Len = u32Len;
}

// Plays a frame on every output channel bound to the input channel.
static void HostAi_ToBinds(HostEngine_S *pstEng, u32 u32Dev, u32 u32Chn, u32 u32Len)
{
    for (const auto &bind : pstEng->binds) {
        const MiSysChnPort_S &stSrc = bind.first, &stDst = bind.second;
        if (stSrc.enModId != MI_MODULE_AI || stSrc.u32DevId != u32Dev || stSrc.u32ChnId != u32Chn ||
            !HostAo_Exists(pstEng, &stDst))
            continue;
        HostAoDev_S &stAo = pstEng->astAoDev[stDst.u32DevId];
        stAo.u64Frames++;
        stAo.u64Bytes += u32Len;
    }
}

// Captures the device's next frame on each enabled channel; mutex held.
static void HostAi_Capture(HostEngine_S *pstEng, u32 u32Dev)
{
    HostAiDev_S &stDev = pstEng->astAiDev[u32Dev];
    for (u32 u32Chn = 0; u32Chn < stDev.stAttr.u32ChnCnt; u32Chn++) {
        HostAiChn_S &stChn = stDev.astChn[u32Chn];
        if (!stChn.bEnabled)
            continue;
        HostAiFrame_S stOut;
        HostAi_Make(&stDev, u32Chn, &stOut);
        stChn.u64Frames++;
        HostAi_ToBinds(pstEng, u32Dev, u32Chn, stOut.stFrame.u32Len);
        if (stChn.queue.size() + stChn.held.size() >= stChn.u32UserDepth) {
            stChn.u32Dropped++;
            if (stChn.queue.empty())
                continue;
            stChn.queue.pop_front();   // the caller gets the newest frames
        }
        stChn.queue.push_back(std::move(stOut));
        u64 u64One = 1;
        (void)!write(stChn.s32EventFd, &u64One, sizeof(u64One));   // cannot overflow at one per frame
    }
    stDev.u32Seq++;
    pstEng->cvStream.notify_all();
}

// Time at which the device has captured its next frame whole.
static steady_clock::time_point HostAi_Due(const HostAiDev_S *pstDev)
{
    u64 u64End = (u64)(pstDev->u32Seq + 1) * pstDev->stAttr.u32PtNumPerFrm;
    return pstDev->tStart + std::chrono::microseconds(u64End * 1000000 / pstDev->stAttr.enSamplerate);
}

static void HostAi_Clock(HostEngine_S *pstEng)
{
    std::unique_lock<std::mutex> lock(pstEng->mutex);
    for (;;) {
        steady_clock::time_point tNow = steady_clock::now(), tNext = steady_clock::time_point::max();
        for (u32 u32Dev = 0; u32Dev < MI_AI_MAX_DEV; u32Dev++) {
            HostAiDev_S &stDev = pstEng->astAiDev[u32Dev];
            if (!stDev.bEnabled || !pstEng->bInit)
                continue;
            steady_clock::time_point tDue = HostAi_Due(&stDev);
            if (tNow - tDue > std::chrono::milliseconds(HOST_AUDIO_LATE_RESYNC_MS)) {
                stDev.tStart = tNow;
                stDev.u32Seq = 0;
                tDue = HostAi_Due(&stDev);
            }
            if (tNow >= tDue) {
                HostAi_Capture(pstEng, u32Dev);
                tDue = HostAi_Due(&stDev);
            }
            tNext = std::min(tNext, tDue);
        }
        if (tNext == steady_clock::time_point::max())
            pstEng->cvClock.wait(lock);
        else if (tNext > steady_clock::now())
            pstEng->cvClock.wait_until(lock, tNext);
    }
}

s32 MI_AI_SetPubAttr(u32 u32Dev, const MiAudioAttr_S *pstAttr)
{
    // A stereo device gives both channels interleaved on one.
    bool bStereo = pstAttr != nullptr && pstAttr->enSoundmode == MI_AUDIO_SOUND_MODE_STEREO;
    return HostAiCall_S(u32Dev, 0, pstAttr != nullptr).SetAttr(pstAttr, bStereo ? 1 : MI_AI_MAX_CHN);
}

s32 MI_AI_GetPubAttr(u32 u32Dev, MiAudioAttr_S *pstAttr)
{
    return HostAiCall_S(u32Dev, 0, pstAttr != nullptr).GetAttr(pstAttr);
}

s32 MI_AI_Enable(u32 u32Dev)
{
    HostAiCall_S c(u32Dev);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    if (!c.pstDev->bAttrSet)
        return HostAi_Err(MI_ERR_NOT_CONFIG);
    static bool s_bClock;
    if (!s_bClock) {
        s_bClock = true;
        std::thread(HostAi_Clock, c.l.pstEng).detach();   // runs as long as the process
    }
    if (!c.pstDev->bEnabled) {
        c.pstDev->bEnabled = true;
        c.pstDev->tStart = steady_clock::now();
        c.pstDev->u32Seq = 0;
        HostEngine_Changed(c.l.pstEng);
    }
    return MI_SUCCESS;
}

s32 MI_AI_Disable(u32 u32Dev)
{
    HostAiCall_S c(u32Dev);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    for (const HostAiChn_S &stChn : c.pstDev->astChn)
        if (stChn.bEnabled)
            return HostAi_Err(MI_ERR_NOT_PERM);
    c.pstDev->bEnabled = false;
    HostEngine_Changed(c.l.pstEng);
    return MI_SUCCESS;
}

s32 MI_AI_EnableChn(u32 u32Dev, u32 u32Chn)
{
    HostAiCall_S c(u32Dev, u32Chn);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    if (!c.pstDev->bEnabled)
        return HostAi_Err(MI_ERR_NOT_PERM);
    if (u32Chn >= c.pstDev->stAttr.u32ChnCnt)
        return HostAi_Err(MI_ERR_INVALID_CHNID);
    HostAiChn_S &stChn = c.pstDev->astChn[u32Chn];
    if (stChn.s32EventFd < 0)
        stChn.s32EventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stChn.s32EventFd < 0)
        return HostAi_Err(MI_ERR_NOT_PERM);
    stChn.bEnabled = true;
    return MI_SUCCESS;
}

s32 MI_AI_DisableChn(u32 u32Dev, u32 u32Chn)
{
    HostAiCall_S c(u32Dev, u32Chn);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    HostAiChn_S &stChn = c.pstDev->astChn[u32Chn];
    HostAi_Drain(&stChn);
    stChn.held.clear();
    stChn.bEnabled = false;
    c.l.pstEng->cvStream.notify_all();
    return MI_SUCCESS;
}

s32 MI_AI_DisableReSmp(u32 u32Dev, u32 u32Chn)
{
    HostAiCall_S c(u32Dev, u32Chn);
    return c.s32Ret;   // frames come at the device's rate: nothing to switch off
}

s32 MI_AI_GetFrame(u32 u32Dev, u32 u32Chn, MiAudioFrame_S *pstFrame, void *pvAecFrame, s32 s32MilliSec)
{
    HostAiCall_S c(u32Dev, u32Chn, pstFrame != nullptr);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    if (pvAecFrame != nullptr)
        return HostAi_Err(MI_ERR_NOT_SUPPORT);
    HostAiChn_S &stChn = c.pstDev->astChn[u32Chn];
    auto ready = [&stChn] { return !stChn.bEnabled || !stChn.queue.empty(); };
    if (s32MilliSec < 0)
        c.l.pstEng->cvStream.wait(c.l.lock, ready);
    else
        c.l.pstEng->cvStream.wait_for(c.l.lock, std::chrono::milliseconds(s32MilliSec), ready);
    if (!stChn.bEnabled)
        return HostAi_Err(MI_ERR_NOT_PERM);
    if (stChn.queue.empty())
        return HostAi_Err(MI_ERR_BUF_EMPTY);
    stChn.held.push_back(std::move(stChn.queue.front()));
    stChn.queue.pop_front();
    if (stChn.queue.empty())
        HostAi_Drain(&stChn);
    *pstFrame = stChn.held.back().stFrame;
    return MI_SUCCESS;
}

s32 MI_AI_ReleaseFrame(u32 u32Dev, u32 u32Chn, MiAudioFrame_S *pstFrame, void *pvAecFrame)
{
    HostAiCall_S c(u32Dev, u32Chn, pstFrame != nullptr);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    (void)pvAecFrame;   // never handed out
    auto &held = c.pstDev->astChn[u32Chn].held;
    for (auto it = held.begin(); it != held.end(); ++it) {
        if (it->stFrame.apData[0] == pstFrame->apData[0]) {
            held.erase(it);
            return MI_SUCCESS;
        }
    }
    return HostAi_Err(MI_ERR_ILLEGAL_PARAM);
}

s32 MI_SYS_GetFd(const MiSysChnPort_S *pstPort, s32 *ps32Fd)
{
    if (pstPort == nullptr || ps32Fd == nullptr)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_NULL_PTR);
    // Only audio-input ports hand their frames to the caller here.
    if (pstPort->enModId != MI_MODULE_AI || pstPort->u32PortId != 0)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_NOT_SUPPORT);
    HostAiCall_S c(pstPort->u32DevId, pstPort->u32ChnId);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    HostAiChn_S &stChn = c.pstDev->astChn[pstPort->u32ChnId];
    if (stChn.s32EventFd < 0)
        stChn.s32EventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    s32 s32Fd = stChn.s32EventFd < 0 ? -1 : fcntl(stChn.s32EventFd, F_DUPFD_CLOEXEC, 0);
    if (s32Fd < 0)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_NOT_PERM);
    stChn.userFds.push_back(s32Fd);
    *ps32Fd = s32Fd;
    return MI_SUCCESS;
}

s32 MI_SYS_CloseFd(s32 s32Fd)
{
    HostLock_S l;
    for (HostAiDev_S &stDev : l.pstEng->astAiDev) {
        for (HostAiChn_S &stChn : stDev.astChn) {
            auto it = std::find(stChn.userFds.begin(), stChn.userFds.end(), s32Fd);
            if (it != stChn.userFds.end()) {
                stChn.userFds.erase(it);
                close(s32Fd);
                return MI_SUCCESS;
            }
        }
    }
    return MI_ERR(MI_MODULE_SYS, MI_ERR_ILLEGAL_PARAM);
}

s32 MI_AO_SetPubAttr(u32 u32Dev, const MiAudioAttr_S *pstAttr)
{
    return HostAoCall_S(u32Dev, 0, pstAttr != nullptr).SetAttr(pstAttr, MI_AO_MAX_CHN);
}

s32 MI_AO_GetPubAttr(u32 u32Dev, MiAudioAttr_S *pstAttr)
{
    return HostAoCall_S(u32Dev, 0, pstAttr != nullptr).GetAttr(pstAttr);
}

s32 MI_AO_Enable(u32 u32Dev)
{
    HostAoCall_S c(u32Dev);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    if (!c.pstDev->bAttrSet)
        return HostAo_Err(MI_ERR_NOT_CONFIG);
    c.pstDev->bEnabled = true;
    return MI_SUCCESS;
}

s32 MI_AO_Disable(u32 u32Dev)
{
    HostAoCall_S c(u32Dev);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    for (bool bChn : c.pstDev->abChnEnabled)
        if (bChn)
            return HostAo_Err(MI_ERR_NOT_PERM);
    c.pstDev->bEnabled = false;
    return MI_SUCCESS;
}

s32 MI_AO_EnableChn(u32 u32Dev, u32 u32Chn)
{
    HostAoCall_S c(u32Dev, u32Chn);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    if (!c.pstDev->bEnabled)
        return HostAo_Err(MI_ERR_NOT_PERM);
    c.pstDev->abChnEnabled[u32Chn] = true;
    return MI_SUCCESS;
}

s32 MI_AO_DisableChn(u32 u32Dev, u32 u32Chn)
{
    HostAoCall_S c(u32Dev, u32Chn);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    c.pstDev->abChnEnabled[u32Chn] = false;
    c.pstDev->au32ReSmpRate[u32Chn] = 0;
    return MI_SUCCESS;
}

s32 MI_AO_EnableReSmp(u32 u32Dev, u32 u32Chn, u32 u32InSampleRate)
{
    HostAoCall_S c(u32Dev, u32Chn);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    if (!c.pstDev->abChnEnabled[u32Chn])
        return HostAo_Err(MI_ERR_NOT_PERM);
    if (std::find(std::begin(s_au32Rates), std::end(s_au32Rates), u32InSampleRate) == std::end(s_au32Rates))
        return HostAo_Err(MI_ERR_ILLEGAL_PARAM);
    c.pstDev->au32ReSmpRate[u32Chn] = u32InSampleRate;
    return MI_SUCCESS;
}

s32 MI_AO_DisableReSmp(u32 u32Dev, u32 u32Chn)
{
    HostAoCall_S c(u32Dev, u32Chn);
    if (c.pstDev != nullptr)
        c.pstDev->au32ReSmpRate[u32Chn] = 0;
    return c.s32Ret;
}

s32 MI_AO_SendFrame(u32 u32Dev, u32 u32Chn, const MiAudioFrame_S *pstFrame, s32 s32MilliSec)
{
    HostAoCall_S c(u32Dev, u32Chn, pstFrame != nullptr && pstFrame->apData[0] != nullptr);
    if (c.pstDev == nullptr)
        return c.s32Ret;
    (void)s32MilliSec;   // the output never backs up here
    if (!c.pstDev->abChnEnabled[u32Chn])
        return HostAo_Err(MI_ERR_NOT_PERM);
    if (pstFrame->u32Len == 0 || pstFrame->u32Len > HOST_AO_MAX_FRAME)
        return HostAo_Err(MI_ERR_ILLEGAL_PARAM);
    c.pstDev->u64Frames++;
    c.pstDev->u64Bytes += pstFrame->u32Len;
    return MI_SUCCESS;
}

void HostAi_SetShortfall(u32 u32Dev, u32 u32Chn, u32 u32Bytes)
{
    HostLock_S l;
    if (u32Dev < MI_AI_MAX_DEV && u32Chn < MI_AI_MAX_CHN)
        l.pstEng->astAiDev[u32Dev].astChn[u32Chn].u32ShortBytes = u32Bytes;
}

bool HostAo_Exists(const HostEngine_S *pstEng, const MiSysChnPort_S *pstPort)
{
    const HostAoDev_S &stDev = pstEng->astAoDev[pstPort->u32DevId];
    return stDev.bEnabled && stDev.abChnEnabled[pstPort->u32ChnId];
}

void HostAudio_Fill(const HostEngine_S *pstEng, HostMedia_S *pstState)
{
    for (u32 u32Dev = 0; u32Dev < MI_AI_MAX_DEV; u32Dev++) {
        const HostAiDev_S &stDev = pstEng->astAiDev[u32Dev];
        HostAiInfo_S &stInfo = pstState->astAi[u32Dev];
        stInfo.bEnabled = stDev.bEnabled;
        stInfo.stAttr = stDev.stAttr;
        for (u32 u32Chn = 0; u32Chn < MI_AI_MAX_CHN; u32Chn++) {
            const HostAiChn_S &stChn = stDev.astChn[u32Chn];
            stInfo.u32ChnMask |= (u32)stChn.bEnabled << u32Chn;
            stInfo.au64Frames[u32Chn] = stChn.u64Frames;
            stInfo.au32Dropped[u32Chn] = stChn.u32Dropped;
            stInfo.au32Held[u32Chn] = (u32)stChn.held.size();
            stInfo.u32UserFds += (u32)stChn.userFds.size();
        }
    }
    for (u32 u32Dev = 0; u32Dev < MI_AO_MAX_DEV; u32Dev++) {
        const HostAoDev_S &stDev = pstEng->astAoDev[u32Dev];
        HostAoInfo_S &stInfo = pstState->astAo[u32Dev];
        stInfo.bEnabled = stDev.bEnabled;
        stInfo.stAttr = stDev.stAttr;
        for (u32 u32Chn = 0; u32Chn < MI_AO_MAX_CHN; u32Chn++)
            stInfo.u32ChnMask |= (u32)stDev.abChnEnabled[u32Chn] << u32Chn;
        stInfo.u64Frames = stDev.u64Frames;
        stInfo.u64Bytes = stDev.u64Bytes;
    }
}

void HostAudio_Reset(HostEngine_S *pstEng)
{
    for (HostAiDev_S &stDev : pstEng->astAiDev) {
        for (HostAiChn_S &stChn : stDev.astChn) {
            HostAi_Drain(&stChn);
            for (s32 s32Fd : stChn.userFds)
                close(s32Fd);
            s32 s32EventFd = stChn.s32EventFd;
            stChn = HostAiChn_S();
            stChn.s32EventFd = s32EventFd;
        }
        stDev.bAttrSet = stDev.bEnabled = false;
        stDev.u32Seq = 0;
    }
    for (HostAoDev_S &stDev : pstEng->astAoDev)
        stDev = HostAoDev_S();
    pstEng->cvStream.notify_all();
}
