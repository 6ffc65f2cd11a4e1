// Media layer, video half: system start, capture pad, video input and
// scaler on the SoC media engine.
#include "media/MediaVideo.h"

#include "core/Debug.h"
#include "platform/MiSnr.h"
#include "platform/MiVif.h"
#include "platform/MiVpe.h"

#define MEDIA_SNR_PAD            0
#define MEDIA_VI_PORT_DEPTH      6
#define MEDIA_VPE_PORT_DEPTH     5
#define MEDIA_VI_CAP_BOTH_FIELDS 3
#define MEDIA_VI_BIND_FPS        60
#define MEDIA_VI_WORK_FRAME      4       // work mode that delivers by frame
#define MEDIA_VI_FRAME_LINES     10      // its lines per delivery

// Device attributes by enViMode - 1; the record goes to the engine as it is.
static const MiVifDevAttr_S DEV_ATTR_BT656_STANDARD_1MUX_BASE = {0, 0, 0, 1, 2, {0}};
static const MiVifDevAttr_S DEV_ATTR_BT1120_STANDARD_1MUX_BASE = {2, 0, 0, 2, 2, {0}};
static const MiVifDevAttr_S DEV_ATTR_BT1120_INTERLEAVED_1MUX_BASE = {3, 0, 0, 2, 2, {0}};
static const MiVifDevAttr_S DEV_ATTR_MIPI_FRAMEMODE_BASE = {4, 3, 0, 2, 0, {0}};

static const MiVifDevAttr_S *const s_apstViDevAttrs[] = {
    &DEV_ATTR_BT656_STANDARD_1MUX_BASE,
    &DEV_ATTR_BT1120_STANDARD_1MUX_BASE,
    &DEV_ATTR_BT1120_INTERLEAVED_1MUX_BASE,
    &DEV_ATTR_MIPI_FRAMEMODE_BASE,
};

static s32 Media_Sys_Init(void)
{
    s32 s32Ret = MI_SYS_Init();
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_SYS_Init failed!\n", log_Time());
    return s32Ret;
}

// The pad's set-up; none of its steps can stop the capture, so their
// results are not looked at.
static s32 Media_SNR_Enable(void)
{
    u32 u32Count = 0;
    (void)MI_SNR_SetPlaneMode(MEDIA_SNR_PAD, false);
    (void)MI_SNR_QueryResCount(MEDIA_SNR_PAD, &u32Count);
    for (u32 u32Idx = 0; u32Idx < u32Count; u32Idx++) {
        MiSnrRes_S stRes = MiSnrRes_S();
        (void)MI_SNR_GetRes(MEDIA_SNR_PAD, u32Idx, &stRes);
        Debug_Log("[%s]: index %d, Crop(%d,%d,%d,%d), outputsize(%d,%d), maxfps %d, minfps %d, ResDesc %s\n",
                  log_Time(), u32Idx, stRes.u16CropX, stRes.u16CropY, stRes.u16CropWidth, stRes.u16CropHeight,
                  stRes.u16OutWidth, stRes.u16OutHeight, stRes.u32MaxFps, stRes.u32MinFps, stRes.azResDesc);
    }
    (void)MI_SNR_SetRes(MEDIA_SNR_PAD, 0);
    (void)MI_SNR_Enable(MEDIA_SNR_PAD);
    return 0;
}

s32 HI_Media_Init(const u32 *pu32PoolPlan)
{
    (void)pu32PoolPlan;   // the engine sizes its own pools
    s32 s32Ret = Media_Sys_Init();
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: Media_Sys_Init failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return Media_SNR_Enable();
}

s32 Media_SetVIVPSSMode(void)
{
    return 0;   // the video input feeds the scaler in the mode of their bind
}

s32 HI_Media_DeInit(void)
{
    return 0;
}

s32 Media_Sys_deInit(void)
{
    return 0;
}

s32 Media_VI_EnableDev_StartMIPI_BT1120(void)
{
    return 0;
}

s32 Media_EnablePipe(void)
{
    return 0;
}

s32 HI_Media_VI_StartIsp(void)
{
    return 0;
}

void Media_VI_StopSingleViPipe(void)
{
}

static s32 Media_VI_EnableDev(s32 s32ViDev, const MiVifDevAttr_S *pstAttr)
{
    s32 s32Ret = MI_VIF_SetDevAttr((u32)s32ViDev, pstAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VIF_SetDevAttr failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    s32Ret = MI_VIF_EnableDev((u32)s32ViDev);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VIF_EnableDev failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

static s32 Media_VI_EnableChn(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort, const MiVifChnPortAttr_S *pstAttr)
{
    s32 s32Ret = MI_VIF_SetChnPortAttr((u32)s32ViChn, (u32)s32ViPort, pstAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VIF_SetChnPortAttr failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    MiSysChnPort_S stPort = {MI_MODULE_VIF, (u32)s32ViDev, (u32)s32ViChn, (u32)s32ViPort};
    (void)MI_SYS_SetChnOutputPortDepth(&stPort, 0, MEDIA_VI_PORT_DEPTH);   // the engine's default depth serves too
    s32Ret = MI_VIF_EnableChnPort((u32)s32ViChn, (u32)s32ViPort);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VIF_EnableChnPort failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 HI_Media_Vi_Start(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort, const MediaViAttr_S *pstViAttr)
{
    if (pstViAttr->enViMode < MEDIA_VI_BT656 || pstViAttr->enViMode > MEDIA_VI_MIPI)
        return -1;
    MiVifDevAttr_S stDevAttr = *s_apstViDevAttrs[pstViAttr->enViMode - 1];
    s32 s32Ret = Media_VI_EnableDev(s32ViDev, &stDevAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: Media_VI_EnableDev failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    MiVifChnPortAttr_S stPortAttr = MiVifChnPortAttr_S();
    stPortAttr.u16CapWidth = stPortAttr.u16DestWidth = (u16)pstViAttr->u32Width;
    stPortAttr.u16CapHeight = stPortAttr.u16DestHeight = (u16)pstViAttr->u32Height;
    stPortAttr.enCapSel = MEDIA_VI_CAP_BOTH_FIELDS;
    stPortAttr.enScanMode = pstViAttr->enScanMode != MEDIA_SCAN_PROGRESSIVE;
    stPortAttr.enPixFormat = stDevAttr.enIntfMode == MI_VIF_MODE_BT656 ? MI_PIXFMT_YUYV : MI_PIXFMT_UYVY;
    stPortAttr.u32FrameLineCnt = stDevAttr.enWorkMode == MEDIA_VI_WORK_FRAME ? MEDIA_VI_FRAME_LINES : 0;
    s32Ret = Media_VI_EnableChn(s32ViDev, s32ViChn, s32ViPort, &stPortAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: Media_VI_EnableChn failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

static s32 Media_VI_DisableChn(s32 s32ViChn, s32 s32ViPort)
{
    s32 s32Ret = MI_VIF_DisableChnPort((u32)s32ViChn, (u32)s32ViPort);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VIF_DisableChnPort failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

static s32 Media_VI_DisableDev(s32 s32ViDev)
{
    s32 s32Ret = MI_VIF_DisableDev((u32)s32ViDev);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: HI_MPI_VI_DisableDev failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 HI_Media_Vi_Stop(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort)
{
    s32 s32Ret = Media_VI_DisableChn(s32ViChn, s32ViPort);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: Media_VI_DisableChn(%d) failed with %#x!\n", log_Time(), s32ViChn, s32Ret);
        return -1;
    }
    s32Ret = Media_VI_DisableDev(s32ViDev);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: Media_VI_DisableDev failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

static MiSysChnPort_S Media_VpeInput(s32 s32VpeChn)
{
    return {MI_MODULE_VPE, 0, (u32)s32VpeChn, 0};
}

s32 HI_Media_VI_BindVpss(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort, s32 s32VpeChn)
{
    (void)s32ViPort;   // the scaler takes the video input's port 0
    MiSysChnPort_S stSrc = {MI_MODULE_VIF, (u32)s32ViDev, (u32)s32ViChn, 0};
    MiSysChnPort_S stDst = Media_VpeInput(s32VpeChn);
    s32 s32Ret = MI_SYS_BindChnPort2(&stSrc, &stDst, MEDIA_VI_BIND_FPS, MEDIA_VI_BIND_FPS, MI_SYS_BIND_REALTIME, 0);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_SYS_BindChnPort2 failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 HI_Media_VI_UnBindVpss(s32 s32ViDev, s32 s32ViChn, s32 s32ViPort, s32 s32VpeChn)
{
    (void)s32ViDev;   // the bind is found by its destination
    (void)s32ViChn;
    (void)s32ViPort;
    MiSysChnPort_S stSrc;
    MiSysChnPort_S stDst = Media_VpeInput(s32VpeChn);
    s32 s32Ret = MI_SYS_GetBindbyDest(&stDst, &stSrc);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_SYS_GetBindbyDest failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = MI_SYS_UnBindChnPort(&stSrc, &stDst);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_SYS_UnBindChnPort failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

static s32 Media_Vpss_CreateGrp(s32 s32VpeChn, const MiVpeChannelAttr_S *pstAttr)
{
    s32 s32Ret = MI_VPE_CreateChannel((u32)s32VpeChn, pstAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VPE_CreateChannel failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    // Mirror and flip off; the rest as the engine has it. A picture the
    // wrong way round is no reason to stop, so the results are not looked at.
    MiVpeChannelParam_S stParam = MiVpeChannelParam_S();
    (void)MI_VPE_GetChannelParam((u32)s32VpeChn, &stParam);
    stParam.bMirror = 0;
    stParam.bFlip = 0;
    (void)MI_VPE_SetChannelParam((u32)s32VpeChn, &stParam);
    s32Ret = MI_VPE_StartChannel((u32)s32VpeChn);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VPE_StartChannel failed with %#x\n", log_Time(), s32Ret);
    return s32Ret;
}

static s32 Media_Vpss_EnableChn(s32 s32VpeChn, s32 s32Port, const MiVpePortMode_S *pstMode)
{
    s32 s32Ret = MI_VPE_SetPortMode((u32)s32VpeChn, (u32)s32Port, pstMode);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VPE_SetPortMode failed with %#x\n", log_Time(), s32Ret);
        return s32Ret;
    }
    MiSysChnPort_S stPort = {MI_MODULE_VPE, 0, (u32)s32VpeChn, (u32)s32Port};
    s32Ret = MI_SYS_SetChnOutputPortDepth(&stPort, 0, MEDIA_VPE_PORT_DEPTH);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_SYS_SetChnOutputPortDepth failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    s32Ret = MI_VPE_EnablePort((u32)s32VpeChn, (u32)s32Port);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: HI_MPI_VPSS_EnableChn failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

static MiVpePortMode_S Media_VpePortMode(u32 u32Width, u32 u32Height)
{
    MiVpePortMode_S stMode = MiVpePortMode_S();
    stMode.u16Width = (u16)u32Width;
    stMode.u16Height = (u16)u32Height;
    stMode.enPixFormat = MI_PIXFMT_NV12;
    return stMode;
}

s32 HI_Media_Vpss_Start(s32 s32VpeChn, u32 u32PortNum, const u32 *pu32Sizes)
{
    const u32 *pu32Widths = pu32Sizes, *pu32Heights = pu32Sizes + MEDIA_VPE_MAX_PORT;
    if (u32PortNum > MEDIA_VPE_MAX_PORT) {
        Debug_Log("[%s]: %s: %u ports, at most %d\n", log_Time(), __func__, u32PortNum, MEDIA_VPE_MAX_PORT);
        return -1;
    }
    MiVpeChannelAttr_S stAttr = MiVpeChannelAttr_S();
    stAttr.u32MaxWidth = pu32Widths[0];
    stAttr.u32MaxHeight = pu32Heights[0];
    stAttr.enPixFormat = pu32Sizes[2 * MEDIA_VPE_MAX_PORT] != 0 ? MI_PIXFMT_NV16 : MI_PIXFMT_NV12;
    stAttr.enRunningMode = MI_VPE_RUN_REALTIME;
    s32 s32Ret = Media_Vpss_CreateGrp(s32VpeChn, &stAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: Media_Vpe_CreateChn failed with %#x\n", log_Time(), s32Ret);
        return -1;
    }
    for (u32 u32Port = 0; u32Port < u32PortNum; u32Port++) {
        MiVpePortMode_S stMode = Media_VpePortMode(pu32Widths[u32Port], pu32Heights[u32Port]);
        s32Ret = Media_Vpss_EnableChn(s32VpeChn, (s32)u32Port, &stMode);
        if (s32Ret != MI_SUCCESS) {
            Debug_Log("[%s]: Media_Vpe_EnablePort failed with %#x\n", log_Time(), s32Ret);
            return -1;
        }
    }
    return 0;
}

s32 HI_Media_Vpss_SetChannelRes(s32 s32VpeChn, s32 s32Port, u32 u32Width, u32 u32Height)
{
    if (s32VpeChn == 0 && s32Port == 1 && u32Height == 540)
        u32Height = 538;
    MiVpePortMode_S stMode = Media_VpePortMode(u32Width, u32Height);
    s32 s32Ret = MI_VPE_SetPortMode((u32)s32VpeChn, (u32)s32Port, &stMode);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VPE_SetPortMode failed with %#x\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

static s32 Media_Vpss_DisableChn(s32 s32VpeChn, u32 u32Port)
{
    s32 s32Ret = MI_VPE_DisablePort((u32)s32VpeChn, u32Port);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VPE_DisablePort failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

static s32 Media_Vpss_DestroyGrp(s32 s32VpeChn)
{
    s32 s32Ret = MI_VPE_DestroyChannel((u32)s32VpeChn);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VPE_DestroyChannel failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 HI_Media_Vpss_Stop(s32 s32VpeChn, u32 u32PortNum)
{
    s32 s32Ret = MI_VPE_StopChannel((u32)s32VpeChn);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VPE_StopChannel failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    for (u32 u32Port = 0; u32Port < u32PortNum; u32Port++) {
        s32Ret = Media_Vpss_DisableChn(s32VpeChn, u32Port);
        if (s32Ret != MI_SUCCESS) {
            Debug_Log("[%s]: Media_Vpss_DisableChn failed with %#x\n", log_Time(), s32Ret);
            return -1;
        }
    }
    s32Ret = Media_Vpss_DestroyGrp(s32VpeChn);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: Media_Vpss_DestroyGrp failed with %#x\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}
