// The SoC media engine: the video encoder (VENC), H.264, H.265 and JPEG.
// A channel encodes the pictures of the scaler port bound to it while it
// receives, and queues each one as a stream of packs for the caller.
// Our own declarations; see platform/MiSys.h for the board and the host.
#ifndef PLATFORM_MIVENC_H
#define PLATFORM_MIVENC_H

#include "platform/MiSys.h"

#define MI_VENC_MAX_CHN        16
#define MI_VENC_MAX_WIDTH      4096
#define MI_VENC_MAX_HEIGHT     2304
#define MI_VENC_MAX_STREAM_CNT 16   // limit of MI_VENC_SetMaxStreamCnt
#define MI_VENC_MAX_PACK_INFO  8    // NAL entries of one pack
#define MI_VENC_MIN_SIZE       64   // pictures of 64 x 64 and more
#define MI_VENC_MAX_GOP        600
#define MI_VENC_MAX_FPS        120

enum MiVencType_E { MI_VENC_TYPE_H264 = 2, MI_VENC_TYPE_H265 = 3, MI_VENC_TYPE_JPEG = 4 };

// Device of a channel, by its type (MI_VENC_GetChnDevid)
enum MiVencDev_E { MI_VENC_DEV_H265 = 0, MI_VENC_DEV_H264 = 1, MI_VENC_DEV_JPEG = 2 };

enum MiVencRcMode_E {
    MI_VENC_RC_H264_CBR = 1, MI_VENC_RC_H264_VBR = 2, MI_VENC_RC_H264_FIXQP = 4, MI_VENC_RC_H264_AVBR = 5,
    MI_VENC_RC_JPEG_FIXQP = 7,
    MI_VENC_RC_H265_CBR = 8, MI_VENC_RC_H265_VBR = 9, MI_VENC_RC_H265_FIXQP = 10, MI_VENC_RC_H265_AVBR = 11,
};

// NAL entry types of a pack: the codec's own NAL unit types
enum MiVencNalType_E {
    MI_VENC_H264_NAL_PSLICE = 1, MI_VENC_H264_NAL_ISLICE = 5, MI_VENC_H264_NAL_SEI = 6,
    MI_VENC_H264_NAL_SPS = 7, MI_VENC_H264_NAL_PPS = 8,
    MI_VENC_H265_NAL_PSLICE = 1, MI_VENC_H265_NAL_ISLICE = 19, MI_VENC_H265_NAL_VPS = 32,
    MI_VENC_H265_NAL_SPS = 33, MI_VENC_H265_NAL_PPS = 34, MI_VENC_H265_NAL_SEI = 39,
    MI_VENC_JPEG_PACK_PICTURE = 0,
};

struct MiVencTypeAttr_S {
    u32 enType;                               // MiVencType_E
    u32 u32MaxPicWidth, u32MaxPicHeight;
    u32 u32BufSize;
    u32 u32Profile;                           // 0 only: baseline (H.264), main (H.265)
    u32 bByFrame;
    u32 u32PicWidth, u32PicHeight;            // H.26x: width a multiple of 8, height of 2
    u32 u32BFrameNum, u32RefNum;              // 0 and 0 or 1: no B-frames here
};

struct MiVencRcCbr_S   { u32 u32Gop, u32StatTime, u32SrcFrmRateNum, u32SrcFrmRateDen, u32BitRate, u32FluctuateLevel; };
struct MiVencRcVbr_S   { u32 u32Gop, u32StatTime, u32SrcFrmRateNum, u32SrcFrmRateDen, u32MaxBitRate, u32MaxQp, u32MinQp; };
struct MiVencRcFixQp_S { u32 u32Gop, u32SrcFrmRateNum, u32SrcFrmRateDen, u32IQp, u32PQp; };
struct MiVencRcJpeg_S  { u32 u32SrcFrmRateNum, u32SrcFrmRateDen, u32Reserved; };

struct MiVencRcAttr_S {
    u32 enRcMode;                             // MiVencRcMode_E; bit rates in bit/s
    union {
        MiVencRcCbr_S stCbr;
        MiVencRcVbr_S stVbr;                  // also AVBR
        MiVencRcFixQp_S stFixQp;
        MiVencRcJpeg_S stJpeg;
    };
};

struct MiVencChnAttr_S {
    MiVencTypeAttr_S stVeAttr;
    MiVencRcAttr_S stRcAttr;
};

struct MiVencJpegParam_S { u32 u32Qfactor; u32 au32Reserved[3]; };   // quality 1..100
struct MiVencRecvPicParam_S { s32 s32RecvPicNum; };

struct MiVencPackInfo_S {
    u32 u32PackType;                          // MiVencNalType_E
    u32 u32PackOffset;                        // from pu8Addr; the entry starts with 00 00 00 01
    u32 u32PackLength;
};

struct MiVencPack_S {
    u8 *pu8Addr;                              // valid until MI_VENC_ReleaseStream
    u32 u32Len;                               // bytes at pu8Addr
    u32 u32Offset;                            // bytes before the payload
    u64 u64PTS;                               // capture time, us, monotonic clock
    u32 bFrameEnd;                            // last pack of the picture
    u32 u32DataNum;                           // entries in asPackInfo
    MiVencPackInfo_S asPackInfo[MI_VENC_MAX_PACK_INFO];
};

struct MiVencStream_S {
    MiVencPack_S *pstPack;                    // caller's array
    u32 u32PackCount;                         // in: its size; out: packs filled
    u32 u32Seq;                               // picture number of the channel
};

struct MiVencChnStat_S {
    u32 u32LeftStreamFrames;                  // pictures queued
    u32 u32LeftStreamBytes;
    u32 u32CurPacks;                          // packs of the next picture
    u32 u32LeftRecvPics;                      // of MI_VENC_StartRecvPicEx; 0 otherwise
};

extern "C" {

s32 MI_VENC_CreateChn(u32 u32Chn, const MiVencChnAttr_S *pstAttr);
s32 MI_VENC_DestroyChn(u32 u32Chn);           // not receiving; drops its binds
s32 MI_VENC_ResetChn(u32 u32Chn);             // not receiving; empties the queue
s32 MI_VENC_GetChnAttr(u32 u32Chn, MiVencChnAttr_S *pstAttr);
s32 MI_VENC_SetChnAttr(u32 u32Chn, const MiVencChnAttr_S *pstAttr);   // same type
s32 MI_VENC_GetJpegParam(u32 u32Chn, MiVencJpegParam_S *pstParam);
s32 MI_VENC_SetJpegParam(u32 u32Chn, const MiVencJpegParam_S *pstParam);
s32 MI_VENC_SetMaxStreamCnt(u32 u32Chn, u32 u32MaxStrmCnt);       // queue bound; full: new pictures dropped
s32 MI_VENC_GetChnDevid(u32 u32Chn, u32 *pu32DevId);
s32 MI_VENC_StartRecvPic(u32 u32Chn);
s32 MI_VENC_StartRecvPicEx(u32 u32Chn, const MiVencRecvPicParam_S *pstParam);   // N pictures, then stop
s32 MI_VENC_StopRecvPic(u32 u32Chn);

// A descriptor that is readable while a picture is queued; the same one
// until MI_VENC_CloseFd. -1 when the channel does not exist, or (close)
// when no descriptor is open.
s32 MI_VENC_GetFd(u32 u32Chn);
s32 MI_VENC_CloseFd(u32 u32Chn);
s32 MI_VENC_Query(u32 u32Chn, MiVencChnStat_S *pstStat);
// Waits up to s32MilliSec (-1: for ever) for a picture; the caller holds
// it until MI_VENC_ReleaseStream.
s32 MI_VENC_GetStream(u32 u32Chn, MiVencStream_S *pstStream, s32 s32MilliSec);
s32 MI_VENC_ReleaseStream(u32 u32Chn, MiVencStream_S *pstStream);
}

#endif
