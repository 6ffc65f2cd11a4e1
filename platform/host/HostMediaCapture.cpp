// Media engine stand-in: the capture pad with its driver's custom
// commands, the video input and the scaler.
#include "platform/host/HostMedia.h"
#include "platform/host/HostMediaEngine.h"

#include <cstring>

struct HostSnrCmd_S { u32 u32Cmd, u32Size; };

static const HostSnrCmd_S s_astSnrCmds[] = {
    { MI_SNR_CMD_GET_STATE,      MI_SNR_STATE_LEN },
    { MI_SNR_CMD_GET_VIDEO_INFO, MI_SNR_VIDEO_INFO_LEN },
    { MI_SNR_CMD_GET_AUDIO_INFO, MI_SNR_AUDIO_INFO_LEN },
    { MI_SNR_CMD_GET_EDID,       MI_SNR_EDID_RECORD_LEN },
    { MI_SNR_CMD_SET_EDID,       MI_SNR_EDID_RECORD_LEN },
    { MI_SNR_CMD_SET_VIDEO_INFO, MI_SNR_VIDEO_INFO_LEN },
};

static const MiSnrRes_S s_astSnrRes[] = {
    { 0, 0, 1920, 1200, 1920, 1200, 60, 1, "1920x1200 CSI-2 YUV422 2 lanes" },
    { 0, 0, 1920, 1080, 1920, 1080, 60, 1, "1920x1080 CSI-2 YUV422 2 lanes" },
};

static const u32 HOST_PAD_AUDIO_CHANNELS = 2;
static const u32 HOST_VPE_LEVEL_MAX = 100;   // contrast, brightness, saturation, sharpness
static const MiVpeChannelParam_S s_stVpeDefaultParam = { 50, 50, 50, 50, 0, 0, {0, 0} };

static u32 HostLe_Get(const u8 *pu8, u32 u32Bytes)
{
    u32 u32Val = 0;
    for (u32 i = u32Bytes; i-- > 0;)
        u32Val = (u32Val << 8) | pu8[i];
    return u32Val;
}

static void HostLe_Put(u8 *pu8, u32 u32Val)
{
    for (u32 i = 0; i < 4; i++)
        pu8[i] = (u8)(u32Val >> (8 * i));
}

static s32 HostSnr_CheckPad(u32 u32Pad)
{
    return u32Pad < MI_SNR_PAD_NUM ? MI_SUCCESS : MI_ERR(MI_MODULE_SNR, MI_ERR_INVALID_DEVID);
}

s32 MI_SNR_SetPlaneMode(u32 u32Pad, bool bEnable)
{
    s32 s32Ret = HostSnr_CheckPad(u32Pad);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    return bEnable ? MI_ERR(MI_MODULE_SNR, MI_ERR_NOT_SUPPORT) : MI_SUCCESS;
}

s32 MI_SNR_QueryResCount(u32 u32Pad, u32 *pu32Count)
{
    if (pu32Count == nullptr)
        return MI_ERR(MI_MODULE_SNR, MI_ERR_NULL_PTR);
    s32 s32Ret = HostSnr_CheckPad(u32Pad);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    *pu32Count = ARRAY_SIZE(s_astSnrRes);
    return MI_SUCCESS;
}

s32 MI_SNR_GetRes(u32 u32Pad, u32 u32Idx, MiSnrRes_S *pstRes)
{
    if (pstRes == nullptr)
        return MI_ERR(MI_MODULE_SNR, MI_ERR_NULL_PTR);
    s32 s32Ret = HostSnr_CheckPad(u32Pad);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    if (u32Idx >= ARRAY_SIZE(s_astSnrRes))
        return MI_ERR(MI_MODULE_SNR, MI_ERR_ILLEGAL_PARAM);
    *pstRes = s_astSnrRes[u32Idx];
    return MI_SUCCESS;
}

s32 MI_SNR_SetRes(u32 u32Pad, u32 u32Idx)
{
    s32 s32Ret = HostSnr_CheckPad(u32Pad);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    // The CSI-2 link carries whatever the receiver sends: every mode is the same to it.
    return u32Idx < ARRAY_SIZE(s_astSnrRes) ? MI_SUCCESS : MI_ERR(MI_MODULE_SNR, MI_ERR_ILLEGAL_PARAM);
}

static s32 HostSnr_SetEnabled(u32 u32Pad, bool bEnabled)
{
    s32 s32Ret = HostSnr_CheckPad(u32Pad);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    HostLock_S l;
    l.pstEng->stPad.bEnabled = bEnabled;
    HostEngine_Changed(l.pstEng);
    return MI_SUCCESS;
}

s32 MI_SNR_Enable(u32 u32Pad)
{
    return HostSnr_SetEnabled(u32Pad, true);
}

s32 MI_SNR_Disable(u32 u32Pad)
{
    return HostSnr_SetEnabled(u32Pad, false);
}

// Command 7: a record with bsupport 1 locks the pad to its timing, if the
// capture can take it; any other record means no input.
static s32 HostSnr_SetVideoInfo(HostPad_S *pstPad, const u8 *pu8Rec)
{
    bool bSupport = pu8Rec[4] == 1;
    u32 u32Width = HostLe_Get(pu8Rec + 6, 2), u32Height = HostLe_Get(pu8Rec + 8, 2);
    u32 u32Fps = pu8Rec[10];
    if (bSupport && (u32Width < MI_SNR_MIN_SIZE || u32Width > MI_SNR_MAX_WIDTH || u32Height < MI_SNR_MIN_SIZE ||
                     u32Height > MI_SNR_MAX_HEIGHT || u32Fps == 0 || u32Fps > MI_SNR_MAX_FPS))
        return MI_ERR(MI_MODULE_SNR, MI_ERR_ILLEGAL_PARAM);
    memcpy(pstPad->au8VideoInfo, pu8Rec, MI_SNR_VIDEO_INFO_LEN);
    pstPad->enState = bSupport ? MI_SNR_STATE_LOCK : MI_SNR_STATE_NO_INPUT;
    pstPad->u32Width = bSupport ? u32Width : 0;
    pstPad->u32Height = bSupport ? u32Height : 0;
    pstPad->u32Fps = bSupport ? u32Fps : 0;
    pstPad->bInterlace = bSupport && HostLe_Get(pu8Rec + 12, 2) != 0;
    return MI_SUCCESS;
}

s32 MI_SNR_CustFunction(u32 u32Pad, u32 u32Cmd, u32 u32Size, void *pvData, u32 u32Dir)
{
    (void)u32Dir;   // the driver goes by the command
    if (pvData == nullptr)
        return MI_ERR(MI_MODULE_SNR, MI_ERR_NULL_PTR);
    s32 s32Ret = HostSnr_CheckPad(u32Pad);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    const HostSnrCmd_S *pstCmd = nullptr;
    for (const HostSnrCmd_S &c : s_astSnrCmds)
        if (c.u32Cmd == u32Cmd)
            pstCmd = &c;
    if (pstCmd == nullptr)
        return MI_ERR(MI_MODULE_SNR, MI_ERR_NOT_SUPPORT);
    if (u32Size != pstCmd->u32Size)
        return MI_ERR(MI_MODULE_SNR, MI_ERR_ILLEGAL_PARAM);
    u8 *pu8 = (u8 *)pvData;
    HostLock_S l;
    HostPad_S &stPad = l.pstEng->stPad;
    switch (u32Cmd) {
    case MI_SNR_CMD_GET_STATE:
        HostLe_Put(pu8, stPad.enState);
        return MI_SUCCESS;
    case MI_SNR_CMD_GET_VIDEO_INFO:
        memcpy(pu8, stPad.au8VideoInfo, u32Size);
        return MI_SUCCESS;
    case MI_SNR_CMD_GET_AUDIO_INFO:
        HostLe_Put(pu8, stPad.u32AudioRate != 0);
        HostLe_Put(pu8 + 4, stPad.u32AudioRate);
        HostLe_Put(pu8 + 8, stPad.u32AudioRate != 0 ? HOST_PAD_AUDIO_CHANNELS : 0);
        return MI_SUCCESS;
    case MI_SNR_CMD_GET_EDID:
        memcpy(pu8, stPad.au8Edid, u32Size);
        return MI_SUCCESS;
    case MI_SNR_CMD_SET_EDID:
        if (pu8[0] != 1 || HostLe_Get(pu8 + 4, 4) > MI_SNR_EDID_MAX_LEN)
            return MI_ERR(MI_MODULE_SNR, MI_ERR_ILLEGAL_PARAM);
        memcpy(stPad.au8Edid, pu8, u32Size);
        return MI_SUCCESS;
    default: {
        s32 s32Ret = HostSnr_SetVideoInfo(&stPad, pu8);
        HostEngine_Changed(l.pstEng);
        return s32Ret;
    }
    }
}

void HostPad_SetOutput(bool bOn)
{
    HostLock_S l;
    l.pstEng->stPad.bOutput = bOn;
    HostEngine_Changed(l.pstEng);
}

void HostPad_SetAudio(u32 u32SampleRate)
{
    HostLock_S l;
    l.pstEng->stPad.u32AudioRate = u32SampleRate;
}

static s32 HostVif_Err(u32 u32Code)
{
    return MI_ERR(MI_MODULE_VIF, u32Code);
}

s32 MI_VIF_SetDevAttr(u32 u32Dev, const MiVifDevAttr_S *pstAttr)
{
    HostLock_S l;
    if (!l.pstEng->bInit)
        return HostVif_Err(MI_ERR_SYS_NOTREADY);
    if (u32Dev >= MI_VIF_MAX_DEV)
        return HostVif_Err(MI_ERR_INVALID_DEVID);
    if (pstAttr == nullptr)
        return HostVif_Err(MI_ERR_NULL_PTR);
    HostVifDev_S &stDev = l.pstEng->astVifDev[u32Dev];
    if (stDev.bEnabled)
        return HostVif_Err(MI_ERR_NOT_PERM);
    if (pstAttr->enIntfMode > MI_VIF_MODE_MIPI || pstAttr->enWorkMode > MI_VIF_WORK_MODE_MAX)
        return HostVif_Err(MI_ERR_ILLEGAL_PARAM);
    stDev.stAttr = *pstAttr;
    stDev.bAttrSet = true;
    return MI_SUCCESS;
}

static s32 HostVif_SetDevEnabled(u32 u32Dev, bool bEnabled)
{
    HostLock_S l;
    if (!l.pstEng->bInit)
        return HostVif_Err(MI_ERR_SYS_NOTREADY);
    if (u32Dev >= MI_VIF_MAX_DEV)
        return HostVif_Err(MI_ERR_INVALID_DEVID);
    HostVifDev_S &stDev = l.pstEng->astVifDev[u32Dev];
    if (bEnabled && !stDev.bAttrSet)
        return HostVif_Err(MI_ERR_NOT_CONFIG);
    for (u32 u32Chn = u32Dev * MI_VIF_CHN_PER_DEV; !bEnabled && u32Chn < (u32Dev + 1) * MI_VIF_CHN_PER_DEV; u32Chn++)
        for (const HostVifPort_S &stPort : l.pstEng->astVifPort[u32Chn])
            if (stPort.bEnabled)
                return HostVif_Err(MI_ERR_NOT_PERM);
    stDev.bEnabled = bEnabled;
    HostEngine_Changed(l.pstEng);
    return MI_SUCCESS;
}

s32 MI_VIF_EnableDev(u32 u32Dev)
{
    return HostVif_SetDevEnabled(u32Dev, true);
}

s32 MI_VIF_DisableDev(u32 u32Dev)
{
    return HostVif_SetDevEnabled(u32Dev, false);
}

// One call on a port of the video input: the engine's lock, and the port
// when the engine runs and the numbers are good; else pstPort is null and
// s32Ret says why.
struct HostVifCall_S {
    HostLock_S l;
    s32 s32Ret;
    HostVifPort_S *pstPort;

    HostVifCall_S(u32 u32Chn, u32 u32Port)
    {
        s32Ret = !l.pstEng->bInit ? HostVif_Err(MI_ERR_SYS_NOTREADY)
               : u32Chn >= MI_VIF_MAX_CHN ? HostVif_Err(MI_ERR_INVALID_CHNID)
               : u32Port >= MI_VIF_MAX_PORT ? HostVif_Err(MI_ERR_ILLEGAL_PARAM) : MI_SUCCESS;
        pstPort = s32Ret == MI_SUCCESS ? &l.pstEng->astVifPort[u32Chn][u32Port] : nullptr;
    }
};

s32 MI_VIF_SetChnPortAttr(u32 u32Chn, u32 u32Port, const MiVifChnPortAttr_S *pstAttr)
{
    HostVifCall_S c(u32Chn, u32Port);
    if (c.pstPort == nullptr)
        return c.s32Ret;
    if (pstAttr == nullptr)
        return HostVif_Err(MI_ERR_NULL_PTR);
    if (c.pstPort->bEnabled)
        return HostVif_Err(MI_ERR_NOT_PERM);
    // The video input crops but does not scale.
    if (pstAttr->u16CapWidth == 0 || pstAttr->u16CapHeight == 0 || pstAttr->u16DestWidth != pstAttr->u16CapWidth ||
        pstAttr->u16DestHeight != pstAttr->u16CapHeight || pstAttr->enScanMode > 1 || pstAttr->enCapSel > 3 ||
        (pstAttr->enPixFormat != MI_PIXFMT_YUYV && pstAttr->enPixFormat != MI_PIXFMT_UYVY))
        return HostVif_Err(MI_ERR_ILLEGAL_PARAM);
    c.pstPort->stAttr = *pstAttr;
    c.pstPort->bAttrSet = true;
    return MI_SUCCESS;
}

s32 MI_VIF_EnableChnPort(u32 u32Chn, u32 u32Port)
{
    HostVifCall_S c(u32Chn, u32Port);
    if (c.pstPort == nullptr)
        return c.s32Ret;
    if (!c.pstPort->bAttrSet)
        return HostVif_Err(MI_ERR_NOT_CONFIG);
    if (!c.l.pstEng->astVifDev[u32Chn / MI_VIF_CHN_PER_DEV].bEnabled)
        return HostVif_Err(MI_ERR_NOT_PERM);
    c.pstPort->bEnabled = true;
    HostEngine_Changed(c.l.pstEng);
    return MI_SUCCESS;
}

s32 MI_VIF_DisableChnPort(u32 u32Chn, u32 u32Port)
{
    HostVifCall_S c(u32Chn, u32Port);
    if (c.pstPort != nullptr) {
        c.pstPort->bEnabled = false;
        HostEngine_Changed(c.l.pstEng);
    }
    return c.s32Ret;
}

static s32 HostVpe_Err(u32 u32Code)
{
    return MI_ERR(MI_MODULE_VPE, u32Code);
}

// One call on a scaler channel: the engine's lock, and the channel when
// the engine runs, the channel exists and the call's argument is there
// (bArg); else pstChn is null and s32Ret says why.
struct HostVpeCall_S {
    HostLock_S l;
    s32 s32Ret;
    HostVpeChn_S *pstChn;

    explicit HostVpeCall_S(u32 u32Chn, bool bArg = true)
    {
        s32Ret = !l.pstEng->bInit ? HostVpe_Err(MI_ERR_SYS_NOTREADY)
               : u32Chn >= MI_VPE_MAX_CHN ? HostVpe_Err(MI_ERR_INVALID_CHNID)
               : !l.pstEng->astVpe[u32Chn].bCreated ? HostVpe_Err(MI_ERR_UNEXIST)
               : !bArg ? HostVpe_Err(MI_ERR_NULL_PTR) : MI_SUCCESS;
        pstChn = s32Ret == MI_SUCCESS ? &l.pstEng->astVpe[u32Chn] : nullptr;
    }
};

static bool HostVpe_PixFormatOk(u32 enPixFormat)
{
    return enPixFormat == MI_PIXFMT_NV12 || enPixFormat == MI_PIXFMT_NV16;
}

s32 MI_VPE_CreateChannel(u32 u32Chn, const MiVpeChannelAttr_S *pstAttr)
{
    HostVpeCall_S c(u32Chn);
    if (c.pstChn != nullptr)
        return HostVpe_Err(MI_ERR_EXIST);
    if (c.s32Ret != HostVpe_Err(MI_ERR_UNEXIST))
        return c.s32Ret;
    if (pstAttr == nullptr)
        return HostVpe_Err(MI_ERR_NULL_PTR);
    if (pstAttr->u32MaxWidth == 0 || pstAttr->u32MaxWidth > MI_VPE_MAX_WIDTH || pstAttr->u32MaxHeight == 0 ||
        pstAttr->u32MaxHeight > MI_VPE_MAX_HEIGHT || !HostVpe_PixFormatOk(pstAttr->enPixFormat) ||
        (pstAttr->enRunningMode != MI_VPE_RUN_FRAME && pstAttr->enRunningMode != MI_VPE_RUN_REALTIME))
        return HostVpe_Err(MI_ERR_ILLEGAL_PARAM);
    HostVpeChn_S &stChn = c.l.pstEng->astVpe[u32Chn];
    stChn = HostVpeChn_S();
    stChn.bCreated = true;
    stChn.stAttr = *pstAttr;
    stChn.stParam = s_stVpeDefaultParam;
    return MI_SUCCESS;
}

s32 MI_VPE_DestroyChannel(u32 u32Chn)
{
    HostVpeCall_S c(u32Chn);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    if (c.pstChn->bStarted)
        return HostVpe_Err(MI_ERR_NOT_PERM);
    HostSys_DropBinds(c.l.pstEng, MI_MODULE_VPE, u32Chn);
    *c.pstChn = HostVpeChn_S();
    return MI_SUCCESS;
}

s32 MI_VPE_GetChannelParam(u32 u32Chn, MiVpeChannelParam_S *pstParam)
{
    HostVpeCall_S c(u32Chn, pstParam != nullptr);
    if (c.pstChn != nullptr)
        *pstParam = c.pstChn->stParam;
    return c.s32Ret;
}

s32 MI_VPE_SetChannelParam(u32 u32Chn, const MiVpeChannelParam_S *pstParam)
{
    HostVpeCall_S c(u32Chn, pstParam != nullptr);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    if (pstParam->u32Contrast > HOST_VPE_LEVEL_MAX || pstParam->u32Brightness > HOST_VPE_LEVEL_MAX ||
        pstParam->u32Saturation > HOST_VPE_LEVEL_MAX || pstParam->u32Sharpness > HOST_VPE_LEVEL_MAX ||
        pstParam->bMirror > 1 || pstParam->bFlip > 1)
        return HostVpe_Err(MI_ERR_ILLEGAL_PARAM);
    c.pstChn->stParam = *pstParam;
    return MI_SUCCESS;
}

static s32 HostVpe_SetStarted(u32 u32Chn, bool bStarted)
{
    HostVpeCall_S c(u32Chn);
    if (c.pstChn != nullptr)
        c.pstChn->bStarted = bStarted;
    return c.s32Ret;
}

s32 MI_VPE_StartChannel(u32 u32Chn)
{
    return HostVpe_SetStarted(u32Chn, true);
}

s32 MI_VPE_StopChannel(u32 u32Chn)
{
    return HostVpe_SetStarted(u32Chn, false);
}

s32 MI_VPE_SetPortMode(u32 u32Chn, u32 u32Port, const MiVpePortMode_S *pstMode)
{
    HostVpeCall_S c(u32Chn, pstMode != nullptr);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    if (u32Port >= MI_VPE_MAX_PORT || pstMode->u16Width == 0 || pstMode->u16Width > MI_VPE_MAX_WIDTH ||
        pstMode->u16Height == 0 || pstMode->u16Height > MI_VPE_MAX_HEIGHT || !HostVpe_PixFormatOk(pstMode->enPixFormat))
        return HostVpe_Err(MI_ERR_ILLEGAL_PARAM);
    if (pstMode->enCompressMode != 0)
        return HostVpe_Err(MI_ERR_NOT_SUPPORT);
    c.pstChn->astPort[u32Port] = *pstMode;
    c.pstChn->abPortSet[u32Port] = true;
    return MI_SUCCESS;
}

static s32 HostVpe_SetPortEnabled(u32 u32Chn, u32 u32Port, bool bEnabled)
{
    HostVpeCall_S c(u32Chn);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    if (u32Port >= MI_VPE_MAX_PORT)
        return HostVpe_Err(MI_ERR_ILLEGAL_PARAM);
    if (bEnabled && !c.pstChn->abPortSet[u32Port])
        return HostVpe_Err(MI_ERR_NOT_CONFIG);
    c.pstChn->abPortEnabled[u32Port] = bEnabled;
    return MI_SUCCESS;
}

s32 MI_VPE_EnablePort(u32 u32Chn, u32 u32Port)
{
    return HostVpe_SetPortEnabled(u32Chn, u32Port, true);
}

s32 MI_VPE_DisablePort(u32 u32Chn, u32 u32Port)
{
    return HostVpe_SetPortEnabled(u32Chn, u32Port, false);
}

void HostCapture_Reset(HostEngine_S *pstEng)
{
    pstEng->stPad = HostPad_S();
    for (HostVifDev_S &stDev : pstEng->astVifDev)
        stDev = HostVifDev_S();
    for (auto &astPorts : pstEng->astVifPort)
        for (HostVifPort_S &stPort : astPorts)
            stPort = HostVifPort_S();
    for (HostVpeChn_S &stChn : pstEng->astVpe)
        stChn = HostVpeChn_S();
}
