// Media engine stand-in: the encoder channels. A channel replays its
// cached GOP (HostMediaGop.cpp) one picture per picture it receives, with
// the capture's time stamp, into a bounded queue that the caller drains.
#include "platform/host/HostMediaEngine.h"
#include "platform/host/HostMediaGop.h"

#include <chrono>
#include <fcntl.h>
#include <sys/eventfd.h>
#include <unistd.h>

#define HOST_VENC_DEFAULT_STREAM_CNT 3
#define HOST_VENC_DEFAULT_QFACTOR    50
#define HOST_VENC_MAX_BITRATE        100000000u   // bit/s
#define HOST_VENC_MAX_QP             51

static s32 HostVenc_Err(u32 u32Code)
{
    return MI_ERR(MI_MODULE_VENC, u32Code);
}

u32 HostVenc_DevId(u32 enType)
{
    return enType == MI_VENC_TYPE_H264 ? MI_VENC_DEV_H264
         : enType == MI_VENC_TYPE_H265 ? MI_VENC_DEV_H265 : MI_VENC_DEV_JPEG;
}

// One call on a channel: the engine's lock, and the channel when the
// engine runs, the channel exists and the call's argument is there (bArg);
// else pstChn is null and s32Ret says why.
struct HostVencCall_S {
    HostLock_S l;
    s32 s32Ret;
    HostVencChn_S *pstChn;

    explicit HostVencCall_S(u32 u32Chn, bool bArg = true)
    {
        HostEngine_S *pstEng = l.pstEng;
        s32Ret = !pstEng->bInit ? HostVenc_Err(MI_ERR_SYS_NOTREADY)
               : u32Chn >= MI_VENC_MAX_CHN ? HostVenc_Err(MI_ERR_INVALID_CHNID)
               : !pstEng->astVenc[u32Chn].bCreated ? HostVenc_Err(MI_ERR_UNEXIST)
               : !bArg ? HostVenc_Err(MI_ERR_NULL_PTR) : MI_SUCCESS;
        pstChn = s32Ret == MI_SUCCESS ? &pstEng->astVenc[u32Chn] : nullptr;
    }
};

static bool HostVenc_RateOk(u32 u32Num, u32 u32Den)
{
    return u32Num != 0 && u32Den != 0 && u32Num <= (u64)MI_VENC_MAX_FPS * u32Den;
}

static bool HostVenc_QpOk(u32 u32MinQp, u32 u32MaxQp)
{
    return u32MinQp <= u32MaxQp && u32MaxQp <= HOST_VENC_MAX_QP;
}

static bool HostVenc_RcOk(u32 enType, const MiVencRcAttr_S *pstRc)
{
    static const u32 s_au32Modes[][4] = {
        {MI_VENC_RC_H264_CBR, MI_VENC_RC_H264_VBR, MI_VENC_RC_H264_FIXQP, MI_VENC_RC_H264_AVBR},
        {MI_VENC_RC_H265_CBR, MI_VENC_RC_H265_VBR, MI_VENC_RC_H265_FIXQP, MI_VENC_RC_H265_AVBR},
        {MI_VENC_RC_JPEG_FIXQP, MI_VENC_RC_JPEG_FIXQP, MI_VENC_RC_JPEG_FIXQP, MI_VENC_RC_JPEG_FIXQP},
    };
    const u32 *pu32Modes = s_au32Modes[enType - MI_VENC_TYPE_H264];
    u32 u32Kind = 0;
    while (u32Kind < 4 && pu32Modes[u32Kind] != pstRc->enRcMode)
        u32Kind++;
    const MiVencRcCbr_S &stCbr = pstRc->stCbr;
    const MiVencRcVbr_S &stVbr = pstRc->stVbr;
    const MiVencRcFixQp_S &stFix = pstRc->stFixQp;
    if (enType == MI_VENC_TYPE_JPEG)
        return u32Kind == 0 && HostVenc_RateOk(pstRc->stJpeg.u32SrcFrmRateNum, pstRc->stJpeg.u32SrcFrmRateDen);
    switch (u32Kind) {
    case 0:
        return stCbr.u32Gop != 0 && stCbr.u32Gop <= MI_VENC_MAX_GOP &&
               HostVenc_RateOk(stCbr.u32SrcFrmRateNum, stCbr.u32SrcFrmRateDen) && stCbr.u32BitRate != 0 &&
               stCbr.u32BitRate <= HOST_VENC_MAX_BITRATE;
    case 1:
    case 3:
        return stVbr.u32Gop != 0 && stVbr.u32Gop <= MI_VENC_MAX_GOP &&
               HostVenc_RateOk(stVbr.u32SrcFrmRateNum, stVbr.u32SrcFrmRateDen) && stVbr.u32MaxBitRate != 0 &&
               stVbr.u32MaxBitRate <= HOST_VENC_MAX_BITRATE && HostVenc_QpOk(stVbr.u32MinQp, stVbr.u32MaxQp);
    case 2:
        return stFix.u32Gop != 0 && stFix.u32Gop <= MI_VENC_MAX_GOP &&
               HostVenc_RateOk(stFix.u32SrcFrmRateNum, stFix.u32SrcFrmRateDen) &&
               HostVenc_QpOk(0, stFix.u32IQp) && HostVenc_QpOk(0, stFix.u32PQp);
    default:
        return false;
    }
}

static s32 HostVenc_CheckAttr(const MiVencChnAttr_S *pstAttr)
{
    if (pstAttr == nullptr)
        return HostVenc_Err(MI_ERR_NULL_PTR);
    const MiVencTypeAttr_S &stVe = pstAttr->stVeAttr;
    if (stVe.enType < MI_VENC_TYPE_H264 || stVe.enType > MI_VENC_TYPE_JPEG || stVe.u32Profile != 0 ||
        stVe.u32BFrameNum != 0 || stVe.u32RefNum > 1)
        return HostVenc_Err(MI_ERR_NOT_SUPPORT);
    u32 u32Align = stVe.enType == MI_VENC_TYPE_JPEG ? 2 : 8;
    if (stVe.u32MaxPicWidth > MI_VENC_MAX_WIDTH || stVe.u32MaxPicHeight > MI_VENC_MAX_HEIGHT ||
        stVe.u32PicWidth < MI_VENC_MIN_SIZE || stVe.u32PicHeight < MI_VENC_MIN_SIZE ||
        stVe.u32PicWidth > stVe.u32MaxPicWidth || stVe.u32PicHeight > stVe.u32MaxPicHeight ||
        stVe.u32PicWidth % u32Align != 0 || stVe.u32PicHeight % 2 != 0 ||
        !HostVenc_RcOk(stVe.enType, &pstAttr->stRcAttr))
        return HostVenc_Err(MI_ERR_ILLEGAL_PARAM);
    return MI_SUCCESS;
}

// Empties the queue and makes the descriptor unreadable.
static void HostVenc_Drain(HostVencChn_S *pstChn)
{
    u64 u64Count;
    pstChn->queue.clear();
    (void)!read(pstChn->s32EventFd, &u64Count, sizeof(u64Count));   // EAGAIN when it was not readable
}

// Back to a channel that does not exist; its descriptors stay.
static void HostVenc_Clear(HostVencChn_S *pstChn)
{
    s32 s32EventFd = pstChn->s32EventFd, s32UserFd = pstChn->s32UserFd;
    HostVenc_Drain(pstChn);
    *pstChn = HostVencChn_S();
    pstChn->s32EventFd = s32EventFd;
    pstChn->s32UserFd = s32UserFd;
}

s32 MI_VENC_CreateChn(u32 u32Chn, const MiVencChnAttr_S *pstAttr)
{
    HostVencCall_S c(u32Chn);
    if (c.pstChn != nullptr)
        return HostVenc_Err(MI_ERR_EXIST);
    if (c.s32Ret != HostVenc_Err(MI_ERR_UNEXIST))
        return c.s32Ret;
    s32 s32Ret = HostVenc_CheckAttr(pstAttr);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    HostVencChn_S &stChn = c.l.pstEng->astVenc[u32Chn];
    if (stChn.s32EventFd < 0)
        stChn.s32EventFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (stChn.s32EventFd < 0)
        return HostVenc_Err(MI_ERR_NOT_PERM);
    HostVenc_Clear(&stChn);
    stChn.bCreated = true;
    stChn.stAttr = *pstAttr;
    stChn.stJpeg.u32Qfactor = HOST_VENC_DEFAULT_QFACTOR;
    stChn.u32MaxStream = HOST_VENC_DEFAULT_STREAM_CNT;
    stChn.s32RecvLeft = -1;
    return MI_SUCCESS;
}

static s32 HostVenc_ClearStopped(u32 u32Chn, bool bDestroy)
{
    HostVencCall_S c(u32Chn);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    if (c.pstChn->bRecv)
        return HostVenc_Err(MI_ERR_NOT_PERM);
    HostVenc_Drain(c.pstChn);
    c.pstChn->held.clear();
    c.pstChn->u32GopPos = 0;
    if (bDestroy) {
        HostSys_DropBinds(c.l.pstEng, MI_MODULE_VENC, u32Chn);
        HostVenc_Clear(c.pstChn);
    }
    c.l.pstEng->cvStream.notify_all();
    return MI_SUCCESS;
}

s32 MI_VENC_DestroyChn(u32 u32Chn)
{
    return HostVenc_ClearStopped(u32Chn, true);
}

s32 MI_VENC_ResetChn(u32 u32Chn)
{
    return HostVenc_ClearStopped(u32Chn, false);
}

s32 MI_VENC_GetChnAttr(u32 u32Chn, MiVencChnAttr_S *pstAttr)
{
    HostVencCall_S c(u32Chn, pstAttr != nullptr);
    if (c.pstChn != nullptr)
        *pstAttr = c.pstChn->stAttr;
    return c.s32Ret;
}

s32 MI_VENC_SetChnAttr(u32 u32Chn, const MiVencChnAttr_S *pstAttr)
{
    HostVencCall_S c(u32Chn);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    s32 s32Ret = HostVenc_CheckAttr(pstAttr);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    if (pstAttr->stVeAttr.enType != c.pstChn->stAttr.stVeAttr.enType)
        return HostVenc_Err(MI_ERR_NOT_SUPPORT);
    c.pstChn->stAttr = *pstAttr;
    c.pstChn->bGopStale = true;
    return MI_SUCCESS;
}

// JPEG parameters belong to JPEG channels only.
static s32 HostVenc_CheckJpeg(const HostVencCall_S &c)
{
    if (c.pstChn != nullptr && c.pstChn->stAttr.stVeAttr.enType != MI_VENC_TYPE_JPEG)
        return HostVenc_Err(MI_ERR_NOT_SUPPORT);
    return c.s32Ret;
}

s32 MI_VENC_GetJpegParam(u32 u32Chn, MiVencJpegParam_S *pstParam)
{
    HostVencCall_S c(u32Chn, pstParam != nullptr);
    s32 s32Ret = HostVenc_CheckJpeg(c);
    if (s32Ret == MI_SUCCESS)
        *pstParam = c.pstChn->stJpeg;
    return s32Ret;
}

s32 MI_VENC_SetJpegParam(u32 u32Chn, const MiVencJpegParam_S *pstParam)
{
    HostVencCall_S c(u32Chn, pstParam != nullptr);
    s32 s32Ret = HostVenc_CheckJpeg(c);
    if (s32Ret != MI_SUCCESS)
        return s32Ret;
    if (pstParam->u32Qfactor == 0 || pstParam->u32Qfactor > 100)
        return HostVenc_Err(MI_ERR_ILLEGAL_PARAM);
    c.pstChn->stJpeg = *pstParam;
    c.pstChn->bGopStale = true;
    return MI_SUCCESS;
}

s32 MI_VENC_SetMaxStreamCnt(u32 u32Chn, u32 u32MaxStrmCnt)
{
    HostVencCall_S c(u32Chn);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    if (u32MaxStrmCnt == 0 || u32MaxStrmCnt > MI_VENC_MAX_STREAM_CNT)
        return HostVenc_Err(MI_ERR_ILLEGAL_PARAM);
    c.pstChn->u32MaxStream = u32MaxStrmCnt;
    return MI_SUCCESS;
}

s32 MI_VENC_GetChnDevid(u32 u32Chn, u32 *pu32DevId)
{
    HostVencCall_S c(u32Chn, pu32DevId != nullptr);
    if (c.pstChn != nullptr)
        *pu32DevId = HostVenc_DevId(c.pstChn->stAttr.stVeAttr.enType);
    return c.s32Ret;
}

// Receiving on (s32Pictures pictures, -1: no limit) or off.
static s32 HostVenc_SetRecv(u32 u32Chn, bool bRecv, s32 s32Pictures)
{
    HostVencCall_S c(u32Chn);
    if (c.pstChn != nullptr) {
        c.pstChn->bRecv = bRecv;
        c.pstChn->s32RecvLeft = s32Pictures;
        c.pstChn->bGopStale = true;
    }
    return c.s32Ret;
}

s32 MI_VENC_StartRecvPic(u32 u32Chn)
{
    return HostVenc_SetRecv(u32Chn, true, -1);
}

s32 MI_VENC_StartRecvPicEx(u32 u32Chn, const MiVencRecvPicParam_S *pstParam)
{
    if (pstParam == nullptr)
        return HostVenc_Err(MI_ERR_NULL_PTR);
    if (pstParam->s32RecvPicNum <= 0)
        return HostVenc_Err(MI_ERR_ILLEGAL_PARAM);
    return HostVenc_SetRecv(u32Chn, true, pstParam->s32RecvPicNum);
}

s32 MI_VENC_StopRecvPic(u32 u32Chn)
{
    return HostVenc_SetRecv(u32Chn, false, -1);
}

s32 MI_VENC_GetFd(u32 u32Chn)
{
    HostVencCall_S c(u32Chn);
    if (c.pstChn == nullptr)
        return -1;
    if (c.pstChn->s32UserFd < 0)
        c.pstChn->s32UserFd = fcntl(c.pstChn->s32EventFd, F_DUPFD_CLOEXEC, 0);
    return c.pstChn->s32UserFd;
}

s32 MI_VENC_CloseFd(u32 u32Chn)
{
    HostLock_S l;
    if (u32Chn >= MI_VENC_MAX_CHN || l.pstEng->astVenc[u32Chn].s32UserFd < 0)
        return -1;
    close(l.pstEng->astVenc[u32Chn].s32UserFd);
    l.pstEng->astVenc[u32Chn].s32UserFd = -1;
    return MI_SUCCESS;
}

s32 MI_VENC_Query(u32 u32Chn, MiVencChnStat_S *pstStat)
{
    HostVencCall_S c(u32Chn, pstStat != nullptr);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    const HostVencChn_S &stChn = *c.pstChn;
    *pstStat = MiVencChnStat_S();
    pstStat->u32LeftStreamFrames = (u32)stChn.queue.size();
    for (const HostVencOut_S &stOut : stChn.queue)
        pstStat->u32LeftStreamBytes += (u32)stOut.data.size();
    pstStat->u32CurPacks = stChn.queue.empty() ? 0 : stChn.queue.front().u32PackCount;
    pstStat->u32LeftRecvPics = stChn.bRecv && stChn.s32RecvLeft > 0 ? (u32)stChn.s32RecvLeft : 0;
    return MI_SUCCESS;
}

s32 MI_VENC_GetStream(u32 u32Chn, MiVencStream_S *pstStream, s32 s32MilliSec)
{
    HostVencCall_S c(u32Chn, pstStream != nullptr && pstStream->pstPack != nullptr);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    HostVencChn_S &stChn = *c.pstChn;
    auto ready = [&stChn] { return !stChn.bCreated || !stChn.queue.empty(); };
    if (s32MilliSec < 0)
        c.l.pstEng->cvStream.wait(c.l.lock, ready);
    else
        c.l.pstEng->cvStream.wait_for(c.l.lock, std::chrono::milliseconds(s32MilliSec), ready);
    if (!stChn.bCreated)
        return HostVenc_Err(MI_ERR_UNEXIST);
    if (stChn.queue.empty())
        return HostVenc_Err(MI_ERR_BUF_EMPTY);
    if (pstStream->u32PackCount < stChn.queue.front().u32PackCount)
        return HostVenc_Err(MI_ERR_ILLEGAL_PARAM);
    stChn.held.push_back(std::move(stChn.queue.front()));
    stChn.queue.pop_front();
    if (stChn.queue.empty())
        HostVenc_Drain(&stChn);
    HostVencOut_S &stOut = stChn.held.back();
    for (u32 i = 0; i < stOut.u32PackCount; i++) {
        pstStream->pstPack[i] = stOut.astPack[i];
        pstStream->pstPack[i].pu8Addr = stOut.data.data() + stOut.au32PackStart[i];
    }
    pstStream->u32PackCount = stOut.u32PackCount;
    pstStream->u32Seq = stOut.u32Seq;
    return MI_SUCCESS;
}

s32 MI_VENC_ReleaseStream(u32 u32Chn, MiVencStream_S *pstStream)
{
    HostVencCall_S c(u32Chn, pstStream != nullptr && pstStream->pstPack != nullptr);
    if (c.pstChn == nullptr)
        return c.s32Ret;
    auto &held = c.pstChn->held;
    for (auto it = held.begin(); it != held.end(); ++it) {
        if (it->u32Seq == pstStream->u32Seq && pstStream->u32PackCount == it->u32PackCount &&
            pstStream->pstPack[0].pu8Addr == it->data.data()) {
            held.erase(it);
            return MI_SUCCESS;
        }
    }
    return HostVenc_Err(MI_ERR_ILLEGAL_PARAM);
}

// Pack p of a picture: NAL entries [u32First, u32End).
static void HostVenc_FillPack(const HostGopPicture_S &stPic, u32 u32First, u32 u32End, u64 u64PtsUs,
                              HostVencOut_S *pstOut)
{
    u32 u32Start = stPic.nals[u32First].u32Offset;
    const HostGopNal_S &stLast = stPic.nals[u32End - 1];
    MiVencPack_S &stPack = pstOut->astPack[pstOut->u32PackCount];
    stPack = MiVencPack_S();
    stPack.u32Len = stLast.u32Offset + stLast.u32Len - u32Start;
    stPack.u64PTS = u64PtsUs;
    stPack.bFrameEnd = u32End == stPic.nals.size();
    stPack.u32DataNum = u32End - u32First;
    for (u32 i = u32First; i < u32End; i++)
        stPack.asPackInfo[i - u32First] = {stPic.nals[i].u32Type, stPic.nals[i].u32Offset - u32Start, stPic.nals[i].u32Len};
    pstOut->au32PackStart[pstOut->u32PackCount++] = u32Start;
}

void HostVenc_OnPicture(HostEngine_S *pstEng, u32 u32Chn, u64 u64PtsUs, u64 u64Frame)
{
    HostVencChn_S &stChn = pstEng->astVenc[u32Chn];
    if (!stChn.bCreated || !stChn.bRecv)
        return;
    if (stChn.bGopStale) {
        // Looked up at the first picture, so channels that get none encode nothing.
        std::shared_ptr<const HostGop_S> pGop = HostGop_Get(&stChn.stAttr, stChn.stJpeg.u32Qfactor);
        if (pGop != stChn.pGop)
            stChn.u32GopPos = 0;
        stChn.pGop = pGop;
        stChn.bGopStale = false;
    }
    if (!stChn.pGop || !HostGop_Ready(stChn.pGop.get())) {
        stChn.u32NotReady++;
        return;
    }
    // A full queue skips the picture; the GOP goes on where it was, so the stream stays whole.
    if (stChn.queue.size() + stChn.held.size() >= stChn.u32MaxStream) {
        stChn.u32Dropped++;
        return;
    }
    const std::vector<HostGopPicture_S> &pictures = stChn.pGop->pictures;
    bool bJpeg = stChn.stAttr.stVeAttr.enType == MI_VENC_TYPE_JPEG;
    const HostGopPicture_S &stPic = bJpeg ? pictures[u64Frame % pictures.size()] : pictures[stChn.u32GopPos];
    if (!bJpeg)
        stChn.u32GopPos = (stChn.u32GopPos + 1) % (u32)pictures.size();
    HostVencOut_S stOut = HostVencOut_S();
    stOut.u32Seq = stChn.u32Seq++;
    stOut.data = stPic.data;
    u32 u32Nals = (u32)stPic.nals.size();
    if (stPic.u32HeadNals != 0)
        HostVenc_FillPack(stPic, 0, stPic.u32HeadNals, u64PtsUs, &stOut);
    HostVenc_FillPack(stPic, stPic.u32HeadNals, u32Nals, u64PtsUs, &stOut);
    stChn.u32Idrs += stPic.bIdr;
    stChn.queue.push_back(std::move(stOut));
    if (stChn.queue.size() == 1) {
        u64 u64One = 1;
        (void)!write(stChn.s32EventFd, &u64One, sizeof(u64One));   // cannot fail below 2^64 - 1
    }
    pstEng->cvStream.notify_all();
    if (stChn.s32RecvLeft > 0 && --stChn.s32RecvLeft == 0)
        stChn.bRecv = false;
}

void HostVenc_Reset(HostEngine_S *pstEng)
{
    for (HostVencChn_S &stChn : pstEng->astVenc) {
        if (stChn.s32UserFd >= 0)
            close(stChn.s32UserFd);
        stChn.s32UserFd = -1;
        HostVenc_Clear(&stChn);
    }
    pstEng->cvStream.notify_all();
}
