// Media engine stand-in: the engine record, the binds between channel
// ports and the frame clock that carries the capture pad's pictures
// through them.
#include "platform/host/HostMediaEngine.h"
#include "platform/host/HostMedia.h"
#include "platform/host/HostMediaGop.h"

#include <chrono>
#include <thread>

struct HostBindRule_S {
    u32 enSrcModId, enDstModId;
    u32 u32Types;                        // bit (1 << MiSysBindType_E) per type allowed
};

static const HostBindRule_S s_astBindRules[] = {
    { MI_MODULE_VIF, MI_MODULE_VPE,  (1u << MI_SYS_BIND_FRAME) | (1u << MI_SYS_BIND_REALTIME) },
    { MI_MODULE_VPE, MI_MODULE_VENC, 1u << MI_SYS_BIND_FRAME },
    { MI_MODULE_AI,  MI_MODULE_AO,   1u << MI_SYS_BIND_FRAME },
};

// Ports a module has: ids below these limits.
struct HostPortRange_S { u32 enModId, u32MaxDev, u32MaxChn, u32MaxPort; };

static const HostPortRange_S s_astPortRanges[] = {
    { MI_MODULE_VIF,  MI_VIF_MAX_DEV, MI_VIF_MAX_CHN,  MI_VIF_MAX_PORT },
    { MI_MODULE_VPE,  1,              MI_VPE_MAX_CHN,  MI_VPE_MAX_PORT },
    { MI_MODULE_VENC, MI_VENC_DEV_JPEG + 1, MI_VENC_MAX_CHN, 1 },
    { MI_MODULE_AI,   MI_AI_MAX_DEV,  MI_AI_MAX_CHN,   1 },
    { MI_MODULE_AO,   MI_AO_MAX_DEV,  MI_AO_MAX_CHN,   1 },
};

static const u32 HOST_LATE_RESYNC_MS = 1000;   // a clock this late starts afresh

HostEngine_S *HostEngine_Get(void)
{
    static HostEngine_S *s_pstEngine = [] {
        HostEngine_S *pstEng = new HostEngine_S();
        for (HostVencChn_S &stChn : pstEng->astVenc) {
            stChn.s32EventFd = -1;
            stChn.s32UserFd = -1;
        }
        HostMediaSim_Register();
        return pstEng;
    }();
    return s_pstEngine;
}

void HostEngine_Changed(HostEngine_S *pstEng)
{
    pstEng->cvClock.notify_all();
}

static bool HostSys_SamePort(const MiSysChnPort_S &a, const MiSysChnPort_S &b)
{
    return a.enModId == b.enModId && a.u32DevId == b.u32DevId && a.u32ChnId == b.u32ChnId &&
           a.u32PortId == b.u32PortId;
}

static bool HostSys_PortExists(const MiSysChnPort_S *pstPort)
{
    for (const HostPortRange_S &r : s_astPortRanges)
        if (r.enModId == pstPort->enModId)
            return pstPort->u32DevId < r.u32MaxDev && pstPort->u32ChnId < r.u32MaxChn &&
                   pstPort->u32PortId < r.u32MaxPort &&
                   (r.enModId != MI_MODULE_VIF || pstPort->u32ChnId / MI_VIF_CHN_PER_DEV == pstPort->u32DevId);
    return false;
}

// A destination must exist, on the device its type lives on.
static bool HostSys_DstExists(HostEngine_S *pstEng, const MiSysChnPort_S *pstDst)
{
    if (pstDst->enModId == MI_MODULE_VPE)
        return pstEng->astVpe[pstDst->u32ChnId].bCreated && pstDst->u32PortId == 0;
    if (pstDst->enModId == MI_MODULE_AO)
        return HostAo_Exists(pstEng, pstDst);
    const HostVencChn_S &stChn = pstEng->astVenc[pstDst->u32ChnId];
    return stChn.bCreated && HostVenc_DevId(stChn.stAttr.stVeAttr.enType) == pstDst->u32DevId;
}

static const HostBindRule_S *HostSys_FindRule(u32 enSrcModId, u32 enDstModId)
{
    for (const HostBindRule_S &r : s_astBindRules)
        if (r.enSrcModId == enSrcModId && r.enDstModId == enDstModId)
            return &r;
    return nullptr;
}

static s32 HostSys_Check(HostEngine_S *pstEng, const void *pv1, const void *pv2)
{
    if (pv1 == nullptr || pv2 == nullptr)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_NULL_PTR);
    if (!pstEng->bInit)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_SYS_NOTREADY);
    return MI_SUCCESS;
}

static void HostEngine_Clock(HostEngine_S *pstEng);

s32 MI_SYS_Init(void)
{
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    static bool s_bClock;
    if (!s_bClock) {
        s_bClock = true;
        std::thread(HostEngine_Clock, pstEng).detach();   // runs as long as the process
    }
    pstEng->bInit = true;
    HostEngine_Changed(pstEng);
    return MI_SUCCESS;
}

s32 MI_SYS_Exit(void)
{
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    pstEng->bInit = false;
    HostEngine_Changed(pstEng);
    return MI_SUCCESS;
}

s32 MI_SYS_BindChnPort2(const MiSysChnPort_S *pstSrc, const MiSysChnPort_S *pstDst,
                        u32 u32SrcFrmRate, u32 u32DstFrmRate, u32 enBindType, u32 u32BindParam)
{
    (void)u32BindParam;   // no bind type here takes a parameter
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    s32 s32Ret = HostSys_Check(pstEng, pstSrc, pstDst);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    const HostBindRule_S *pstRule = HostSys_FindRule(pstSrc->enModId, pstDst->enModId);
    if (pstRule == nullptr)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_NOT_SUPPORT);
    if (!HostSys_PortExists(pstSrc) || !HostSys_PortExists(pstDst) || enBindType >= 32 ||
        (pstRule->u32Types & (1u << enBindType)) == 0 || u32SrcFrmRate == 0 || u32DstFrmRate == 0)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_ILLEGAL_PARAM);
    if (!HostSys_DstExists(pstEng, pstDst))
        return MI_ERR(MI_MODULE_SYS, MI_ERR_UNEXIST);
    for (const auto &bind : pstEng->binds) {
        if (HostSys_SamePort(bind.second, *pstDst))
            return HostSys_SamePort(bind.first, *pstSrc) ? MI_SUCCESS : MI_ERR(MI_MODULE_SYS, MI_ERR_EXIST);
    }
    pstEng->binds.emplace_back(*pstSrc, *pstDst);
    return MI_SUCCESS;
}

s32 MI_SYS_UnBindChnPort(const MiSysChnPort_S *pstSrc, const MiSysChnPort_S *pstDst)
{
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    s32 s32Ret = HostSys_Check(pstEng, pstSrc, pstDst);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    for (auto it = pstEng->binds.begin(); it != pstEng->binds.end(); ++it) {
        if (HostSys_SamePort(it->first, *pstSrc) && HostSys_SamePort(it->second, *pstDst)) {
            pstEng->binds.erase(it);
            return MI_SUCCESS;
        }
    }
    return MI_ERR(MI_MODULE_SYS, MI_ERR_UNEXIST);
}

s32 MI_SYS_GetBindbyDest(const MiSysChnPort_S *pstDst, MiSysChnPort_S *pstSrc)
{
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    s32 s32Ret = HostSys_Check(pstEng, pstSrc, pstDst);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    for (const auto &bind : pstEng->binds) {
        if (HostSys_SamePort(bind.second, *pstDst)) {
            *pstSrc = bind.first;
            return MI_SUCCESS;
        }
    }
    return MI_ERR(MI_MODULE_SYS, MI_ERR_UNEXIST);
}

s32 MI_SYS_SetChnOutputPortDepth(const MiSysChnPort_S *pstPort, u32 u32UserFrameDepth,
                                 u32 u32BufQueueDepth)
{
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    s32 s32Ret = HostSys_Check(pstEng, pstPort, pstPort);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    if (!HostSys_PortExists(pstPort) || u32UserFrameDepth > u32BufQueueDepth || u32BufQueueDepth > 16)
        return MI_ERR(MI_MODULE_SYS, MI_ERR_ILLEGAL_PARAM);
    // Only audio frames wait in output ports here; pictures go through
    // the binds, so their depths are only checked.
    if (pstPort->enModId == MI_MODULE_AI)
        pstEng->astAiDev[pstPort->u32DevId].astChn[pstPort->u32ChnId].u32UserDepth = u32UserFrameDepth;
    return MI_SUCCESS;
}

void HostSys_DropBinds(HostEngine_S *pstEng, u32 enModId, u32 u32Chn)
{
    auto &binds = pstEng->binds;
    for (auto it = binds.begin(); it != binds.end();) {
        bool bSrc = it->first.enModId == enModId && it->first.u32ChnId == u32Chn;
        bool bDst = it->second.enModId == enModId && it->second.u32ChnId == u32Chn;
        it = (bSrc || bDst) ? binds.erase(it) : it + 1;
    }
}

// Pictures a second into the video input; 0 while none flow.
static u32 HostEngine_Rate(const HostEngine_S *pstEng)
{
    const HostPad_S &stPad = pstEng->stPad;
    const HostVifDev_S &stDev = pstEng->astVifDev[0];
    const HostVifPort_S &stPort = pstEng->astVifPort[0][0];
    if (!pstEng->bInit || !stPad.bEnabled || stPad.enState != MI_SNR_STATE_LOCK || !stPad.bOutput ||
        !stDev.bEnabled || stDev.stAttr.enIntfMode != MI_VIF_MODE_MIPI || !stPort.bEnabled)
        return 0;
    const MiVifChnPortAttr_S &stWin = stPort.stAttr;
    if ((u32)stWin.u16CapX + stWin.u16CapWidth > stPad.u32Width ||
        (u32)stWin.u16CapY + stWin.u16CapHeight > stPad.u32Height)
        return 0;
    // The driver's rate is the receiver's: for an interlaced input that
    // counts fields, and each field is one picture of half the lines.
    return stPad.u32Fps;
}

static void HostEngine_ToPort(HostEngine_S *pstEng, const MiSysChnPort_S &stSrc, u64 u64PtsUs)
{
    for (const auto &bind : pstEng->binds) {
        if (!HostSys_SamePort(bind.first, stSrc))
            continue;
        const MiSysChnPort_S &stDst = bind.second;
        if (stDst.enModId == MI_MODULE_VENC) {
            HostVenc_OnPicture(pstEng, stDst.u32ChnId, u64PtsUs, pstEng->u64ViFrames);
            continue;
        }
        const HostVpeChn_S &stVpe = pstEng->astVpe[stDst.u32ChnId];
        if (!stVpe.bStarted)
            continue;
        for (u32 u32Port = 0; u32Port < MI_VPE_MAX_PORT; u32Port++)
            if (stVpe.abPortEnabled[u32Port])
                HostEngine_ToPort(pstEng, {MI_MODULE_VPE, 0, stDst.u32ChnId, u32Port}, u64PtsUs);
    }
}

static void HostEngine_Clock(HostEngine_S *pstEng)
{
    using namespace std::chrono;
    std::unique_lock<std::mutex> lock(pstEng->mutex);
    u32 u32Rate = 0;
    u64 u64Tick = 0;
    steady_clock::time_point tStart;
    for (;;) {
        u32 u32Now = HostEngine_Rate(pstEng);
        if (u32Now == 0) {
            u32Rate = 0;
            pstEng->cvClock.wait(lock);
            continue;
        }
        steady_clock::time_point tNow = steady_clock::now();
        if (u32Now != u32Rate) {
            u32Rate = u32Now;
            u64Tick = 0;
            tStart = tNow;
        }
        steady_clock::time_point tNext = tStart + nanoseconds(u64Tick * 1000000000ull / u32Rate);
        if (tNow - tNext > milliseconds(HOST_LATE_RESYNC_MS)) {
            u64Tick = 0;
            tStart = tNext = tNow;
        }
        if (tNow < tNext) {
            pstEng->cvClock.wait_until(lock, tNext);
            continue;
        }
        pstEng->u64ViFrames++;
        HostEngine_ToPort(pstEng, {MI_MODULE_VIF, 0, 0, 0},
                          (u64)duration_cast<microseconds>(tNext.time_since_epoch()).count());
        u64Tick++;
    }
}

void HostMedia_Get(HostMedia_S *pstState)
{
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    const HostPad_S &stPad = pstEng->stPad;
    *pstState = HostMedia_S();
    pstState->bInit = pstEng->bInit;
    pstState->bPadEnabled = stPad.bEnabled;
    pstState->bPadOutput = stPad.bOutput;
    pstState->enPadState = stPad.enState;
    pstState->u32PadWidth = stPad.u32Width;
    pstState->u32PadHeight = stPad.u32Height;
    pstState->u32PadFps = stPad.u32Fps;
    pstState->bPadInterlace = stPad.bInterlace;
    pstState->bViDelivering = HostEngine_Rate(pstEng) != 0;
    pstState->u64ViFrames = pstEng->u64ViFrames;
    pstState->u32Binds = (u32)pstEng->binds.size();
    for (u32 i = 0; i < MI_VPE_MAX_CHN; i++) {
        const HostVpeChn_S &stChn = pstEng->astVpe[i];
        HostVpeInfo_S &stInfo = pstState->astVpe[i];
        stInfo.bCreated = stChn.bCreated;
        stInfo.bStarted = stChn.bStarted;
        for (u32 u32Port = 0; u32Port < MI_VPE_MAX_PORT; u32Port++) {
            stInfo.abPortEnabled[u32Port] = stChn.abPortEnabled[u32Port];
            stInfo.au32PortWidth[u32Port] = stChn.astPort[u32Port].u16Width;
            stInfo.au32PortHeight[u32Port] = stChn.astPort[u32Port].u16Height;
        }
    }
    for (u32 i = 0; i < MI_VENC_MAX_CHN; i++) {
        const HostVencChn_S &stChn = pstEng->astVenc[i];
        HostVencInfo_S &stInfo = pstState->astVenc[i];
        stInfo.bCreated = stChn.bCreated;
        stInfo.bRecv = stChn.bRecv;
        stInfo.bGopReady = stChn.pGop && HostGop_Ready(stChn.pGop.get());
        stInfo.enType = stChn.stAttr.stVeAttr.enType;
        stInfo.u32Width = stChn.stAttr.stVeAttr.u32PicWidth;
        stInfo.u32Height = stChn.stAttr.stVeAttr.u32PicHeight;
        stInfo.u32Seq = stChn.u32Seq;
        stInfo.u32Queued = (u32)stChn.queue.size();
        stInfo.u32Dropped = stChn.u32Dropped;
        stInfo.u32NotReady = stChn.u32NotReady;
        stInfo.u32Idrs = stChn.u32Idrs;
    }
    pstState->u32GopsBuilt = HostGop_Built();
    pstState->u64GopBytes = HostGop_Bytes();
    HostAudio_Fill(pstEng, pstState);
}

void HostMedia_Reset(void)
{
    HostLock_S l;
    HostEngine_S *pstEng = l.pstEng;
    HostCapture_Reset(pstEng);
    HostVenc_Reset(pstEng);
    HostAudio_Reset(pstEng);
    pstEng->binds.clear();
    pstEng->u64ViFrames = 0;
    HostEngine_Changed(pstEng);
}
