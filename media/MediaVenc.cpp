// Media layer, video half: the encoder channels, their binds to the
// scaler, and one thread per started channel that hands each encoded
// picture to the registered stream callback.
#include "media/MediaVideo.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <poll.h>
#include <pthread.h>

#include "core/Debug.h"
#include "core/Thread.h"
#include "media/MediaFrame.h"

#define MEDIA_VENC_BIND_FPS      60
#define MEDIA_VENC_MAX_STREAMS   5
#define MEDIA_VENC_JPEG_QUALITY  80
#define MEDIA_VENC_WAIT_MS       100
#define MEDIA_VENC_GET_MS        1

static std::atomic<MediaVencStreamProc *> g_pfnVENCStreamCallBack{nullptr};
static MainThread_S s_astVencThread[MEDIA_VENC_MAX_CHN];   // each channel's stream thread

static u32 Media_AlignUp(u32 u32Val, u32 u32Align)
{
    return (u32Val + u32Align - 1) / u32Align * u32Align;
}

// Rate control of an H.264 (bH265 false) or H.265 channel for enRcMode;
// false for a mode outside 0-3.
static bool Media_Venc_RcAttr(const MediaVencAttr_S *pstAttr, s32 s32Chn, bool bH265, MiVencRcAttr_S *pstRc)
{
    u32 u32Rate = pstAttr->u32SrcFrameRate, u32Bits = pstAttr->u32BitRate * 1000;
    switch (pstAttr->enRcMode) {
    case MEDIA_RC_CBR:
        pstRc->enRcMode = bH265 ? MI_VENC_RC_H265_CBR : MI_VENC_RC_H264_CBR;
        pstRc->stCbr = {pstAttr->u32Gop, 1, u32Rate, 1, u32Bits, 1};
        return true;
    case MEDIA_RC_VBR:
        pstRc->enRcMode = bH265 ? MI_VENC_RC_H265_VBR : MI_VENC_RC_H264_VBR;
        pstRc->stVbr = {pstAttr->u32Gop, 1, u32Rate, 1, u32Bits, s32Chn == 0 ? 16u : 30u, s32Chn == 0 ? 12u : 15u};
        return true;
    case MEDIA_RC_FIXQP:
        pstRc->enRcMode = bH265 ? MI_VENC_RC_H265_FIXQP : MI_VENC_RC_H264_FIXQP;
        pstRc->stFixQp = {pstAttr->u32Gop, u32Rate, 1, 20, bH265 ? 22u : 23u};
        return true;
    case MEDIA_RC_AVBR:
        pstRc->enRcMode = bH265 ? MI_VENC_RC_H265_AVBR : MI_VENC_RC_H264_AVBR;
        pstRc->stVbr = {pstAttr->u32Gop, 1, u32Rate, 1, u32Bits, 40, 12};
        return true;
    default:
        return false;
    }
}

static s32 Media_Venc_Init(s32 s32Chn, const MiVencChnAttr_S *pstAttr)
{
    s32 s32Ret = MI_VENC_CreateChn((u32)s32Chn, pstAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VENC_CreateChn [%d] faild with %#x!\n", log_Time(), s32Chn, s32Ret);
        return s32Ret;
    }
    if (pstAttr->stVeAttr.enType == MI_VENC_TYPE_JPEG) {
        MiVencJpegParam_S stParam = MiVencJpegParam_S();
        s32Ret = MI_VENC_GetJpegParam((u32)s32Chn, &stParam);
        if (s32Ret != MI_SUCCESS) {
            Debug_Log("[%s]: MI_VENC_GetJpegParam [%d] faild with %#x!\n", log_Time(), s32Chn, s32Ret);
            return s32Ret;
        }
        stParam.u32Qfactor = MEDIA_VENC_JPEG_QUALITY;
        s32Ret = MI_VENC_SetJpegParam((u32)s32Chn, &stParam);
        if (s32Ret != MI_SUCCESS) {
            Debug_Log("[%s]: MI_VENC_SetJpegParam [%d] faild with %#x!\n", log_Time(), s32Chn, s32Ret);
            return s32Ret;
        }
    }
    s32Ret = MI_VENC_SetMaxStreamCnt((u32)s32Chn, MEDIA_VENC_MAX_STREAMS);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VENC_SetMaxStreamCnt [%d] faild with %#x!\n", log_Time(), s32Chn, s32Ret);
    s32Ret = MI_VENC_StartRecvPic((u32)s32Chn);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VENC_StartRecvPic faild with%#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 HI_Media_Venc_CreateChn(s32 s32VencChn, const MediaVencAttr_S *pstAttr)
{
    MiVencChnAttr_S stAttr = MiVencChnAttr_S();
    MiVencTypeAttr_S &stVe = stAttr.stVeAttr;
    if (pstAttr->enVencType > MEDIA_VENC_JPEG) {
        Debug_Log("[%s]: Not Support VencType(%d)!\n", log_Time(), pstAttr->enVencType);
        return -1;
    }
    stVe.u32MaxPicWidth = Media_AlignUp(pstAttr->u32MaxWidth, 8);
    stVe.u32MaxPicHeight = Media_AlignUp(pstAttr->u32MaxHeight, 2);
    stVe.bByFrame = 1;
    if (pstAttr->enVencType == MEDIA_VENC_JPEG) {
        stVe.enType = MI_VENC_TYPE_JPEG;
        stVe.u32PicWidth = stVe.u32PicHeight = MEDIA_JPEG_SIZE;
        stAttr.stRcAttr.enRcMode = MI_VENC_RC_JPEG_FIXQP;
        stAttr.stRcAttr.stJpeg = {pstAttr->u32FrameRate, pstAttr->u32SrcFrameRate, 1};
    } else {
        bool bH265 = pstAttr->enVencType == MEDIA_VENC_H265;
        stVe.enType = bH265 ? MI_VENC_TYPE_H265 : MI_VENC_TYPE_H264;
        stVe.u32BufSize = stVe.u32MaxPicWidth * stVe.u32MaxPicHeight * (s32VencChn == 0 ? 2 : 1);
        stVe.u32PicWidth = Media_AlignUp(pstAttr->u32Width, 8);
        stVe.u32PicHeight = Media_AlignUp(pstAttr->u32Height, 2);
        if (!Media_Venc_RcAttr(pstAttr, s32VencChn, bH265, &stAttr.stRcAttr))
            return -1;
    }
    s32 s32Ret = Media_Venc_Init(s32VencChn, &stAttr);
    if (s32Ret != 0)
        Debug_Log("[%s]: Media_Venc_Init err!\n", log_Time());
    return s32Ret;
}

static s32 Media_Venc_Deinit(s32 s32VencChn)
{
    s32 s32Ret = MI_VENC_StopRecvPic((u32)s32VencChn);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VENC_StopRecvPic vechn[%d] failed with %#x!\n", log_Time(), s32VencChn, s32Ret);
        return s32Ret;
    }
    s32Ret = MI_VENC_ResetChn((u32)s32VencChn);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VENC_ResetChn vechn[%d] failed with %#x!\n", log_Time(), s32VencChn, s32Ret);
        return s32Ret;
    }
    s32Ret = MI_VENC_DestroyChn((u32)s32VencChn);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_VENC_DestroyChn vechn[%d] failed with %#x!\n", log_Time(), s32VencChn, s32Ret);
    return s32Ret;
}

s32 HI_Media_Venc_DestroyChn(s32 s32VencChn)
{
    return Media_Venc_Deinit(s32VencChn);
}

s32 HI_Media_Venc_SetAttr(s32 s32VencChn, const MediaVencAttr_S *pstAttr)
{
    MiVencChnAttr_S stAttr;
    s32 s32Ret = MI_VENC_GetChnAttr((u32)s32VencChn, &stAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_VENC_GetChnAttr failed with %#x\n", log_Time(), s32Ret);
        return s32Ret;
    }
    MiVencTypeAttr_S &stVe = stAttr.stVeAttr;
    MiVencRcAttr_S &stRc = stAttr.stRcAttr;
    if (stVe.enType != MI_VENC_TYPE_JPEG) {
        bool bH265 = stVe.enType == MI_VENC_TYPE_H265;
        stVe.u32PicWidth = bH265 ? Media_AlignUp(pstAttr->u32Width, 8) : pstAttr->u32Width / 8 * 8;
        stVe.u32PicHeight = bH265 ? Media_AlignUp(pstAttr->u32Height, 2) : pstAttr->u32Height / 2 * 2;
        // Only GOP, rate and bit rate change; the other words keep what was read back.
        u32 u32Bits = pstAttr->u32BitRate * 1000;
        if (pstAttr->enRcMode == MEDIA_RC_CBR) {
            stRc.enRcMode = bH265 ? MI_VENC_RC_H265_CBR : MI_VENC_RC_H264_CBR;
            stRc.stCbr.u32Gop = pstAttr->u32Gop;
            stRc.stCbr.u32SrcFrmRateNum = pstAttr->u32SrcFrameRate;
            stRc.stCbr.u32SrcFrmRateDen = 1;
            stRc.stCbr.u32BitRate = u32Bits;
        } else if (pstAttr->enRcMode == MEDIA_RC_FIXQP) {
            stRc.enRcMode = bH265 ? MI_VENC_RC_H265_FIXQP : MI_VENC_RC_H264_FIXQP;
            stRc.stFixQp.u32Gop = pstAttr->u32Gop;
            stRc.stFixQp.u32SrcFrmRateNum = pstAttr->u32SrcFrameRate;
            stRc.stFixQp.u32SrcFrmRateDen = 1;
        } else {
            bool bVbr = pstAttr->enRcMode == MEDIA_RC_VBR;
            stRc.enRcMode = bH265 ? (bVbr ? MI_VENC_RC_H265_VBR : MI_VENC_RC_H265_AVBR)
                                  : (bVbr ? MI_VENC_RC_H264_VBR : MI_VENC_RC_H264_AVBR);
            stRc.stVbr.u32Gop = pstAttr->u32Gop;
            stRc.stVbr.u32SrcFrmRateNum = pstAttr->u32SrcFrameRate;
            stRc.stVbr.u32SrcFrmRateDen = 1;
            stRc.stVbr.u32MaxBitRate = u32Bits;
        }
    }
    (void)MI_VENC_StopRecvPic((u32)s32VencChn);   // a channel not receiving is as good
    s32Ret = MI_VENC_SetChnAttr((u32)s32VencChn, &stAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VENC_SetChnAttr failed with %#x\n", log_Time(), s32Ret);
        return s32Ret;
    }
    (void)MI_VENC_StartRecvPic((u32)s32VencChn);  // cannot fail for a channel that took its attributes
    return 0;
}

// The scaler port a channel takes its pictures from, and the channel's input.
static s32 Media_Venc_Ports(s32 s32VencChn, s32 s32VpeChn, s32 s32VpePort, MiSysChnPort_S *pstSrc,
                            MiSysChnPort_S *pstDst)
{
    u32 u32DevId;
    s32 s32Ret = MI_VENC_GetChnDevid((u32)s32VencChn, &u32DevId);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VENC_GetChnDevid failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    *pstSrc = {MI_MODULE_VPE, 0, (u32)s32VpeChn, (u32)s32VpePort};
    *pstDst = {MI_MODULE_VENC, u32DevId, (u32)s32VencChn, 0};
    return 0;
}

s32 HI_Media_Venc_BindVpss(s32 s32VencChn, s32 s32VpeChn, s32 s32VpePort)
{
    MiSysChnPort_S stSrc, stDst;
    s32 s32Ret = Media_Venc_Ports(s32VencChn, s32VpeChn, s32VpePort, &stSrc, &stDst);
    if (s32Ret != 0)
        return s32Ret;
    s32Ret = MI_SYS_BindChnPort2(&stSrc, &stDst, MEDIA_VENC_BIND_FPS, MEDIA_VENC_BIND_FPS, MI_SYS_BIND_FRAME, 0);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_SYS_BindChnPort2 failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 HI_Media_Venc_UnBindVpss(s32 s32VencChn, s32 s32VpeChn, s32 s32VpePort)
{
    MiSysChnPort_S stSrc, stDst;
    s32 s32Ret = Media_Venc_Ports(s32VencChn, s32VpeChn, s32VpePort, &stSrc, &stDst);
    if (s32Ret != 0)
        return s32Ret;
    s32Ret = MI_SYS_UnBindChnPort(&stSrc, &stDst);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: MI_SYS_UnBindChnPort failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 HI_MEDIA_Venc_RegisterNotify(MediaVencStreamProc *pfnCallback)
{
    g_pfnVENCStreamCallBack = pfnCallback;
    return 0;
}

// Takes one queued picture, hands it to the callback and gives it back.
static void Media_Venc_TakeStream(s32 s32Chn)
{
    MiVencChnStat_S stStat;
    if (MI_VENC_Query((u32)s32Chn, &stStat) != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_VENC_Query chn[%d] failed!\n", log_Time(), s32Chn);
        return;
    }
    if (stStat.u32CurPacks == 0) {
        Debug_Log("[%s]: Current  frame is NULL!\n", log_Time());
        return;
    }
    MiVencStream_S stStream = MiVencStream_S();
    stStream.pstPack = (MiVencPack_S *)malloc(sizeof(MiVencPack_S) * stStat.u32CurPacks);
    if (stStream.pstPack == nullptr) {
        Debug_Log("[%s]: malloc stream pack failed!\n", log_Time());
        return;
    }
    stStream.u32PackCount = stStat.u32CurPacks;
    s32 s32Ret = MI_VENC_GetStream((u32)s32Chn, &stStream, MEDIA_VENC_GET_MS);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_VENC_GetStream failed with %#x!\n", log_Time(), s32Ret);
        free(stStream.pstPack);
        return;
    }
    MediaVencStreamProc *pfnCallback = g_pfnVENCStreamCallBack;
    if (pfnCallback != nullptr && pfnCallback(s32Chn, &stStream) != 0)
        Debug_Log("[%s]: VENCStreamCallBack failed!\n", log_Time());
    (void)HI_MEDIA_VencChn_DelFrame(s32Chn, &stStream);   // logs its failure
    if (s32Chn == MEDIA_JPEG_VENC_CHN) {
        // One picture per snapshot request.
        s32Ret = MI_VENC_StopRecvPic((u32)s32Chn);
        if (s32Ret != MI_SUCCESS)
            Debug_Log("[%s]: HI_MPI_VENC_StopRecvFrame failed with %#x!\n", log_Time(), s32Ret);
    }
}

static void *VENC_GetVencStreamProc(void *pvChn)
{
    s32 s32Chn = (s32)(intptr_t)pvChn;
    char azName[16];
    snprintf(azName, sizeof(azName), "%s%d", "VStream", s32Chn);
    pthread_setname_np(pthread_self(), azName);
    s32 s32Fd = MI_VENC_GetFd((u32)s32Chn);
    if (s32Fd == -1) {
        Debug_Log("[%s]: HI_MPI_VENC_GetFd err!\n", log_Time());
        return nullptr;
    }
    while (MAIN_Thread_Running(&s_astVencThread[s32Chn])) {
        s32 s32Ret = MAIN_Thread_WaitFd(&s_astVencThread[s32Chn], s32Fd, POLLIN, MEDIA_VENC_WAIT_MS);
        if (s32Ret < 0) {
            Debug_Log("[%s]: select failed!\n", log_Time());
            break;
        }
        if (s32Ret > 0)
            Media_Venc_TakeStream(s32Chn);
    }
    if (MI_VENC_CloseFd((u32)s32Chn) == -1)
        Debug_Log("[%s]: HI_MPI_VENC_CloseFd err!\n", log_Time());
    return nullptr;
}

static bool Media_Venc_ChnOk(s32 s32VencChn)
{
    return s32VencChn >= 0 && s32VencChn < MEDIA_VENC_MAX_CHN;
}

s32 HI_Media_Venc_Start(s32 s32VencChn)
{
    if (!Media_Venc_ChnOk(s32VencChn))
        return -1;
    return MAIN_Thread_Start(&s_astVencThread[s32VencChn], VENC_GetVencStreamProc, (void *)(intptr_t)s32VencChn,
                             nullptr);
}

s32 HI_Media_Venc_Stop(s32 s32VencChn)
{
    if (Media_Venc_ChnOk(s32VencChn))
        MAIN_Thread_Stop(&s_astVencThread[s32VencChn]);
    return 0;
}

s32 HI_Media_Start_SnapShot(void)
{
    MiVencRecvPicParam_S stParam = {1};
    s32 s32Ret = MI_VENC_StartRecvPicEx(MEDIA_JPEG_VENC_CHN, &stParam);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: MI_VENC_StartRecvPicEx failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

// Key frames come with each channel's GOP only: one forced for a new viewer
// would raise the bit rate of every viewer of the stream.
s32 HI_Media_Venc_RequestIDR(s32 s32VencChn)
{
    (void)s32VencChn;
    return 0;
}
