// Media engine stand-in: encodes a moving picture of natural detail with
// libavcodec (libx264, libx265, MJPEG) at an encoder channel's attributes,
// once per attribute set, and keeps the result for the channels to replay.
// Encoding every picture live would cost more than two cores at 1080p60.
// The channel's bit rate holds for CBR, VBR and AVBR: a GOP whose rate
// misses it is encoded again with the target corrected.
#include "platform/host/HostMediaGop.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <list>
#include <malloc.h>
#include <mutex>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

#define HOST_GOP_CACHE_MAX 16          // GOPs kept; the least used no channel holds goes first
#define HOST_GOP_H264_VCL_MAX 5        // H.264 NAL types 1..5 carry slices
#define HOST_GOP_H265_VCL_MAX 31       // H.265 NAL types 0..31 carry slices
#define HOST_GOP_H265_IDR_N_LP 20
#define HOST_GOP_RATE_TRIES 4          // encodings of a GOP to meet its bit rate
#define HOST_GOP_RATE_SLACK 0.04       // off the bit rate by less than this is met
#define HOST_GOP_PAN_X 2               // the picture pans by this many pixels a frame
#define HOST_GOP_PAN_Y 1

struct HostGopCache_S {
    std::mutex mutex;                  // guards lru, todo, bThread
    std::condition_variable cv;        // the builder waits here for work
    std::list<std::shared_ptr<HostGop_S>> lru;   // most recently used first
    std::deque<std::shared_ptr<HostGop_S>> todo;
    bool bThread;
    std::atomic<u32> u32Built{0};
};

// libx265 keeps some of each encoder's memory after closing it; LeakSanitizer
// (in sanitized builds) is told so that our own leaks still show. Weak: a
// test program that encodes with libx265 itself may bring the same list.
extern "C" __attribute__((weak)) const char *__lsan_default_suppressions(void)
{
    return "leak:libx265.so\n";
}

static HostGopCache_S *HostGop_Cache(void)
{
    static HostGopCache_S *s_pstCache = new HostGopCache_S();   // used by its thread until the end
    return s_pstCache;
}

static std::string HostGop_Key(const MiVencChnAttr_S *pstAttr, u32 u32Qfactor)
{
    const MiVencTypeAttr_S &stVe = pstAttr->stVeAttr;
    const MiVencRcVbr_S &stRc = pstAttr->stRcAttr.stVbr;   // the longest rate-control record, as words
    char az[160];
    snprintf(az, sizeof(az), "t%u %ux%u p%u rc%u %u %u %u %u %u %u %u q%u", stVe.enType, stVe.u32PicWidth,
             stVe.u32PicHeight, stVe.u32Profile, pstAttr->stRcAttr.enRcMode, stRc.u32Gop, stRc.u32StatTime,
             stRc.u32SrcFrmRateNum, stRc.u32SrcFrmRateDen, stRc.u32MaxBitRate, stRc.u32MaxQp, stRc.u32MinQp,
             stVe.enType == MI_VENC_TYPE_JPEG ? u32Qfactor : 0);
    return az;
}

// GOP length and frame rate of the rate control, as num/den.
static void HostGop_Timing(const MiVencRcAttr_S *pstRc, u32 *pu32Gop, AVRational *pstFps)
{
    switch (pstRc->enRcMode) {
    case MI_VENC_RC_JPEG_FIXQP:
        *pu32Gop = HOST_GOP_JPEG_LOOP;
        *pstFps = {(int)pstRc->stJpeg.u32SrcFrmRateNum, (int)pstRc->stJpeg.u32SrcFrmRateDen};
        break;
    case MI_VENC_RC_H264_FIXQP:
    case MI_VENC_RC_H265_FIXQP:
        *pu32Gop = pstRc->stFixQp.u32Gop;
        *pstFps = {(int)pstRc->stFixQp.u32SrcFrmRateNum, (int)pstRc->stFixQp.u32SrcFrmRateDen};
        break;
    default:   // CBR, VBR and AVBR share the first four words
        *pu32Gop = pstRc->stCbr.u32Gop;
        *pstFps = {(int)pstRc->stCbr.u32SrcFrmRateNum, (int)pstRc->stCbr.u32SrcFrmRateDen};
    }
}

// The configured bit rate in bit/s; 0 for a rate control without one.
static u32 HostGop_BitRate(const MiVencRcAttr_S *pstRc)
{
    switch (pstRc->enRcMode) {
    case MI_VENC_RC_H264_CBR:
    case MI_VENC_RC_H265_CBR:
        return pstRc->stCbr.u32BitRate;
    case MI_VENC_RC_H264_FIXQP:
    case MI_VENC_RC_H265_FIXQP:
    case MI_VENC_RC_JPEG_FIXQP:
        return 0;
    default:
        return pstRc->stVbr.u32MaxBitRate;
    }
}

// The rate control as x264/x265 parameters, aiming at u32Kbps. VBR and
// AVBR spend their greatest rate on a picture as detailed as this one;
// their QP range is not given to the encoder, as it would overrule the
// rate (the least QP caps the rate below it, the greatest lifts it far
// above).
static std::string HostGop_RcParams(const MiVencRcAttr_S *pstRc, u32 u32Kbps)
{
    char az[160];
    switch (pstRc->enRcMode) {
    case MI_VENC_RC_H264_FIXQP:
    case MI_VENC_RC_H265_FIXQP:
        snprintf(az, sizeof(az), "qp=%u:ipratio=%.3f", pstRc->stFixQp.u32PQp,
                 pow(2.0, ((double)pstRc->stFixQp.u32PQp - pstRc->stFixQp.u32IQp) / 6.0));
        break;
    default:   // CBR, VBR and AVBR keep their statistics time in the same word
        snprintf(az, sizeof(az), "bitrate=%u:vbv-maxrate=%u:vbv-bufsize=%u", u32Kbps, u32Kbps,
                 u32Kbps * std::max(pstRc->stCbr.u32StatTime, 1u));
    }
    return az;
}

static AVCodecContext *HostGop_OpenEncoder(const HostGop_S *pstGop, u32 u32Gop, AVRational stFps, u32 u32Kbps)
{
    const MiVencTypeAttr_S &stVe = pstGop->stAttr.stVeAttr;
    static const char *const s_apszNames[] = {"libx264", "libx265", "mjpeg"};
    const char *pszName = s_apszNames[stVe.enType - MI_VENC_TYPE_H264];
    const AVCodec *pstCodec = avcodec_find_encoder_by_name(pszName);
    AVCodecContext *pstCtx = pstCodec ? avcodec_alloc_context3(pstCodec) : nullptr;
    if (pstCtx == nullptr) {
        fprintf(stderr, "media stand-in: no encoder %s\n", pszName);
        return nullptr;
    }
    pstCtx->width = (int)stVe.u32PicWidth;
    pstCtx->height = (int)stVe.u32PicHeight;
    pstCtx->time_base = av_inv_q(stFps);
    pstCtx->framerate = stFps;
    pstCtx->gop_size = (int)u32Gop;
    pstCtx->max_b_frames = 0;
    pstCtx->pix_fmt = AV_PIX_FMT_YUV420P;
    if (stVe.enType == MI_VENC_TYPE_JPEG) {
        pstCtx->pix_fmt = AV_PIX_FMT_YUVJ420P;
        pstCtx->flags |= AV_CODEC_FLAG_QSCALE;
        pstCtx->global_quality = FF_QP2LAMBDA * (2 + (100 - (int)pstGop->u32Qfactor) * 29 / 99);
    } else {
        // Key frames only at the GOP's start; no B-frames; headers with each key frame.
        char az[160];
        bool bH265 = stVe.enType == MI_VENC_TYPE_H265;
        snprintf(az, sizeof(az), "keyint=%u:min-keyint=%u:scenecut=0:bframes=0:ref=1:repeat-headers=1:%s",
                 u32Gop, u32Gop, bH265 ? "log-level=error:info=0:open-gop=0:aud=0:hash=0:" : "");
        std::string params = az + HostGop_RcParams(&pstGop->stAttr.stRcAttr, u32Kbps);
        av_opt_set(pstCtx->priv_data, "preset", "ultrafast", 0);
        av_opt_set(pstCtx->priv_data, "profile", bH265 ? "main" : "baseline", 0);
        av_opt_set(pstCtx->priv_data, bH265 ? "x265-params" : "x264-params", params.c_str(), 0);
    }
    if (avcodec_open2(pstCtx, pstCodec, nullptr) < 0) {
        fprintf(stderr, "media stand-in: cannot open %s for %s\n", pszName, pstGop->key.c_str());
        avcodec_free_context(&pstCtx);
    }
    return pstCtx;
}

// A fixed random value of lattice point (x, y) of an octave, 0..255.
static u32 HostGop_Lattice(u32 x, u32 y, u32 u32Octave)
{
    u32 h = x * 0x9E3779B1u ^ y * 0x85EBCA77u ^ u32Octave * 0xC2B2AE3Du;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return h & 0xFF;
}

// Smooth noise of cells of u32Cell pixels at (x, y), 0..255.
static u32 HostGop_Noise(u32 x, u32 y, u32 u32Cell, u32 u32Octave)
{
    u32 cx = x / u32Cell, cy = y / u32Cell, fx = x % u32Cell * 256 / u32Cell, fy = y % u32Cell * 256 / u32Cell;
    u32 a = HostGop_Lattice(cx, cy, u32Octave), b = HostGop_Lattice(cx + 1, cy, u32Octave);
    u32 c = HostGop_Lattice(cx, cy + 1, u32Octave), d = HostGop_Lattice(cx + 1, cy + 1, u32Octave);
    u32 top = a * (256 - fx) + b * fx, bottom = c * (256 - fx) + d * fx;
    return (top * (256 - fy) + bottom * fy) >> 16;
}

// The scene the pictures pan over: the picture's size plus the pan of a
// GOP, as Y, U and V planes (U and V at half size). Coarse shapes with
// finer texture and grain, as a camera or a desktop's photos would give.
struct HostGopScene_S {
    u32 u32W, u32H;
    std::vector<u8> y, u, v;
};

static void HostGop_MakeScene(u32 u32W, u32 u32H, u32 u32Gop, HostGopScene_S *pstScene)
{
    pstScene->u32W = (u32W + HOST_GOP_PAN_X * u32Gop + 1) & ~1u;
    pstScene->u32H = (u32H + HOST_GOP_PAN_Y * u32Gop + 1) & ~1u;
    pstScene->y.resize((size_t)pstScene->u32W * pstScene->u32H);
    pstScene->u.resize((size_t)pstScene->u32W * pstScene->u32H / 4);
    pstScene->v.resize(pstScene->u.size());
    for (u32 y = 0; y < pstScene->u32H; y++)
        for (u32 x = 0; x < pstScene->u32W; x++) {
            u32 u32Luma = HostGop_Noise(x, y, 97, 0) * 5 + HostGop_Noise(x, y, 23, 1) * 2 + HostGop_Noise(x, y, 5, 2) +
                          (HostGop_Lattice(x, y, 3) & 0x3F);
            pstScene->y[(size_t)y * pstScene->u32W + x] = (u8)(16 + u32Luma * 219 / (255 * 8 + 63));
        }
    for (u32 y = 0; y < pstScene->u32H / 2; y++)
        for (u32 x = 0; x < pstScene->u32W / 2; x++) {
            size_t i = (size_t)y * (pstScene->u32W / 2) + x;
            pstScene->u[i] = (u8)(64 + HostGop_Noise(x, y, 61, 4) / 2);
            pstScene->v[i] = (u8)(64 + HostGop_Noise(x, y, 53, 5) / 2);
        }
}

// Picture i of n: the scene panned by i steps, a white square moving
// across, under a stripe of eight black or white blocks that show i in
// binary (the top bit first), so that a decoded picture tells its place
// in the GOP.
static void HostGop_Draw(AVFrame *pstFrame, const HostGopScene_S *pstScene, u32 i, u32 n)
{
    u32 u32W = (u32)pstFrame->width, u32H = (u32)pstFrame->height;
    u32 x0 = i * HOST_GOP_PAN_X & ~1u, y0 = i * HOST_GOP_PAN_Y & ~1u;
    for (u32 y = 0; y < u32H; y++)
        memcpy(pstFrame->data[0] + y * pstFrame->linesize[0], &pstScene->y[(size_t)(y0 + y) * pstScene->u32W + x0],
               u32W);
    for (u32 y = 0; y < (u32H + 1) / 2; y++) {
        size_t off = (size_t)(y0 / 2 + y) * (pstScene->u32W / 2) + x0 / 2;
        memcpy(pstFrame->data[1] + y * pstFrame->linesize[1], &pstScene->u[off], (u32W + 1) / 2);
        memcpy(pstFrame->data[2] + y * pstFrame->linesize[2], &pstScene->v[off], (u32W + 1) / 2);
    }
    u32 u32Stripe = std::max(u32H / 16, 8u);
    for (u32 y = 0; y < u32Stripe; y++)
        for (u32 u32Bit = 0; u32Bit < 8; u32Bit++)
            memset(pstFrame->data[0] + y * pstFrame->linesize[0] + u32W * u32Bit / 8,
                   (i >> (7 - u32Bit)) & 1 ? 235 : 16, u32W * (u32Bit + 1) / 8 - u32W * u32Bit / 8);
    u32 u32Side = std::max(std::min(u32H / 6, u32W / 2), 2u) & ~1u;
    u32 x = (u32W - u32Side) * i / n & ~1u, y = (u32H - u32Side) / 2 & ~1u;
    for (u32 r = 0; r < u32Side; r++) {
        memset(pstFrame->data[0] + (y + r) * pstFrame->linesize[0] + x, 235, u32Side);
        memset(pstFrame->data[1] + (y + r) / 2 * pstFrame->linesize[1] + x / 2, 128, u32Side / 2);
        memset(pstFrame->data[2] + (y + r) / 2 * pstFrame->linesize[2] + x / 2, 128, u32Side / 2);
    }
}

// Splits one coded picture into NAL units, each given a 4-byte start code.
// x265 without B-frames marks key frames IDR_N_LP; the hardware says
// IDR_W_RADL, whose slice syntax is the same.
static void HostGop_AddNals(const AVPacket *pstPkt, bool bH265, HostGopPicture_S *pstPic)
{
    const u8 *pu8 = pstPkt->data;
    u32 u32Size = (u32)pstPkt->size, u32Pos = 0;
    bool bSlice = false;
    while (u32Pos + 3 <= u32Size) {
        if (pu8[u32Pos] != 0 || pu8[u32Pos + 1] != 0 || pu8[u32Pos + 2] != 1) {
            u32Pos++;
            continue;
        }
        u32 u32Start = u32Pos + 3, u32End = u32Start;
        while (u32End + 3 <= u32Size && !(pu8[u32End] == 0 && pu8[u32End + 1] == 0 && pu8[u32End + 2] == 1))
            u32End++;
        u32Pos = u32End;
        if (u32End + 3 > u32Size)
            u32End = u32Pos = u32Size;
        while (u32End > u32Start && pu8[u32End - 1] == 0)
            u32End--;
        if (u32End == u32Start)
            continue;
        HostGopNal_S stNal = {bH265 ? (u32)(pu8[u32Start] >> 1) & 0x3f : (u32)pu8[u32Start] & 0x1f,
                              (u32)pstPic->data.size(), u32End - u32Start + 4};
        static const u8 s_au8StartCode[4] = {0, 0, 0, 1};
        pstPic->data.insert(pstPic->data.end(), s_au8StartCode, s_au8StartCode + 4);
        pstPic->data.insert(pstPic->data.end(), pu8 + u32Start, pu8 + u32End);
        if (bH265 && stNal.u32Type == HOST_GOP_H265_IDR_N_LP) {
            stNal.u32Type = MI_VENC_H265_NAL_ISLICE;
            pstPic->data[stNal.u32Offset + 4] = (u8)((pu8[u32Start] & 0x81) | (MI_VENC_H265_NAL_ISLICE << 1));
        }
        pstPic->bIdr |= stNal.u32Type == (bH265 ? MI_VENC_H265_NAL_ISLICE : MI_VENC_H264_NAL_ISLICE);
        if (stNal.u32Type <= (bH265 ? HOST_GOP_H265_VCL_MAX : HOST_GOP_H264_VCL_MAX))
            bSlice = true;
        else if (!bSlice)
            pstPic->u32HeadNals++;
        pstPic->nals.push_back(stNal);
    }
    if (!pstPic->bIdr)
        pstPic->u32HeadNals = 0;
}

static s32 HostGop_Drain(AVCodecContext *pstCtx, AVPacket *pstPkt, HostGop_S *pstGop)
{
    u32 enType = pstGop->stAttr.stVeAttr.enType;
    s32 s32Ret;
    while ((s32Ret = avcodec_receive_packet(pstCtx, pstPkt)) == 0) {
        HostGopPicture_S stPic = HostGopPicture_S();
        if (enType == MI_VENC_TYPE_JPEG) {
            stPic.data.assign(pstPkt->data, pstPkt->data + pstPkt->size);
            stPic.nals.push_back({MI_VENC_JPEG_PACK_PICTURE, 0, (u32)pstPkt->size});
        } else {
            HostGop_AddNals(pstPkt, enType == MI_VENC_TYPE_H265, &stPic);
        }
        av_packet_unref(pstPkt);
        if (stPic.nals.size() - stPic.u32HeadNals > MI_VENC_MAX_PACK_INFO || stPic.u32HeadNals > MI_VENC_MAX_PACK_INFO)
            return -1;
        pstGop->pictures.push_back(std::move(stPic));
    }
    return s32Ret == AVERROR(EAGAIN) || s32Ret == AVERROR_EOF ? 0 : -1;
}

// Encodes the GOP once, aiming at u32Kbps.
static s32 HostGop_EncodeOnce(HostGop_S *pstGop, const HostGopScene_S *pstScene, u32 u32Kbps)
{
    u32 u32Gop;
    AVRational stFps;
    HostGop_Timing(&pstGop->stAttr.stRcAttr, &u32Gop, &stFps);
    AVCodecContext *pstCtx = HostGop_OpenEncoder(pstGop, u32Gop, stFps, u32Kbps);
    AVFrame *pstFrame = av_frame_alloc();
    AVPacket *pstPkt = av_packet_alloc();
    s32 s32Ret = pstCtx && pstFrame && pstPkt ? 0 : -1;
    if (s32Ret == 0) {
        pstFrame->format = pstCtx->pix_fmt;
        pstFrame->width = pstCtx->width;
        pstFrame->height = pstCtx->height;
        s32Ret = av_frame_get_buffer(pstFrame, 0) < 0 ? -1 : 0;
    }
    pstGop->pictures.clear();
    for (u32 i = 0; s32Ret == 0 && i < u32Gop; i++) {
        s32Ret = av_frame_make_writable(pstFrame) < 0 ? -1 : 0;
        if (s32Ret == 0) {
            HostGop_Draw(pstFrame, pstScene, i, u32Gop);
            pstFrame->pts = i;
            pstFrame->quality = pstCtx->global_quality;
            s32Ret = avcodec_send_frame(pstCtx, pstFrame) < 0 ? -1 : HostGop_Drain(pstCtx, pstPkt, pstGop);
        }
    }
    if (s32Ret == 0)
        s32Ret = avcodec_send_frame(pstCtx, nullptr) < 0 ? -1 : HostGop_Drain(pstCtx, pstPkt, pstGop);
    if (s32Ret == 0 && (pstGop->pictures.size() != u32Gop ||
                        (pstGop->stAttr.stVeAttr.enType != MI_VENC_TYPE_JPEG && !pstGop->pictures[0].bIdr)))
        s32Ret = -1;
    av_packet_free(&pstPkt);
    av_frame_free(&pstFrame);
    avcodec_free_context(&pstCtx);
    return s32Ret;
}

double HostGop_Rate(const HostGop_S *pstGop)
{
    u32 u32Gop;
    AVRational stFps;
    HostGop_Timing(&pstGop->stAttr.stRcAttr, &u32Gop, &stFps);
    if (pstGop->pictures.empty() || stFps.den == 0)
        return 0;
    u64 u64Bytes = 0;
    for (const HostGopPicture_S &stPic : pstGop->pictures)
        u64Bytes += stPic.data.size();
    return (double)u64Bytes * 8 * stFps.num / stFps.den / (double)pstGop->pictures.size();
}

// Encodes the GOP, again with a corrected target while its rate misses the
// configured one; the best try stays.
static s32 HostGop_Encode(HostGop_S *pstGop)
{
    u32 u32Gop;
    AVRational stFps;
    HostGop_Timing(&pstGop->stAttr.stRcAttr, &u32Gop, &stFps);
    const MiVencTypeAttr_S &stVe = pstGop->stAttr.stVeAttr;
    HostGopScene_S stScene;
    HostGop_MakeScene(stVe.u32PicWidth, stVe.u32PicHeight, u32Gop, &stScene);
    double dTarget = HostGop_BitRate(&pstGop->stAttr.stRcAttr), dAim = dTarget, dBestMiss = -1;
    std::vector<HostGopPicture_S> best;
    for (u32 u32Try = 0; u32Try < HOST_GOP_RATE_TRIES; u32Try++) {
        if (HostGop_EncodeOnce(pstGop, &stScene, (u32)std::max(dAim / 1000, 1.0)) < 0)
            return -1;
        double dRate = HostGop_Rate(pstGop);
        if (dTarget == 0 || dRate <= 0)
            return 0;
        double dMiss = fabs(dRate / dTarget - 1);
        if (dBestMiss < 0 || dMiss < dBestMiss) {
            dBestMiss = dMiss;
            best = pstGop->pictures;
        }
        if (dMiss < HOST_GOP_RATE_SLACK)
            break;
        dAim *= dTarget / dRate;
    }
    pstGop->pictures = std::move(best);
    return 0;
}

static void HostGop_Builder(HostGopCache_S *pstCache)
{
    av_log_set_level(AV_LOG_ERROR);
    std::unique_lock<std::mutex> lock(pstCache->mutex);
    for (;;) {
        pstCache->cv.wait(lock, [pstCache] { return !pstCache->todo.empty(); });
        std::shared_ptr<HostGop_S> pGop = pstCache->todo.front();
        pstCache->todo.pop_front();
        lock.unlock();
        s32 s32Ret = HostGop_Encode(pGop.get());
        // The encoders' freed buffers stay in this thread's arena, resident
        // (transparent huge pages even grow it) though nothing uses them
        // until the next build: handed back, the program's resident size is
        // its own plus the GOPs kept. The result only tells whether any was free.
        (void)malloc_trim(0);
        if (s32Ret < 0)
            fprintf(stderr, "media stand-in: cannot encode a GOP for %s\n", pGop->key.c_str());
        else
            pstCache->u32Built++;
        pGop->s32State = s32Ret < 0 ? HOST_GOP_FAILED : HOST_GOP_READY;
        lock.lock();
    }
}

std::shared_ptr<const HostGop_S> HostGop_Get(const MiVencChnAttr_S *pstAttr, u32 u32Qfactor)
{
    HostGopCache_S *pstCache = HostGop_Cache();
    std::string key = HostGop_Key(pstAttr, u32Qfactor);
    std::lock_guard<std::mutex> lock(pstCache->mutex);
    auto &lru = pstCache->lru;
    for (auto it = lru.begin(); it != lru.end(); ++it) {
        if ((*it)->key == key) {
            lru.splice(lru.begin(), lru, it);
            return lru.front();
        }
    }
    auto pGop = std::make_shared<HostGop_S>();
    pGop->key = key;
    pGop->stAttr = *pstAttr;
    pGop->u32Qfactor = u32Qfactor;
    pGop->s32State = HOST_GOP_BUILDING;
    lru.push_front(pGop);
    pstCache->todo.push_back(pGop);
    for (auto it = lru.end(); lru.size() > HOST_GOP_CACHE_MAX && it != lru.begin();) {
        --it;
        if (it->use_count() == 1)   // only the cache holds it, and it is not waiting to be built
            it = lru.erase(it);
    }
    if (!pstCache->bThread) {
        pstCache->bThread = true;
        std::thread(HostGop_Builder, pstCache).detach();   // serves the cache as long as the process
    }
    pstCache->cv.notify_one();
    return pGop;
}

bool HostGop_Ready(const HostGop_S *pstGop)
{
    return pstGop->s32State == HOST_GOP_READY;
}

u32 HostGop_Built(void)
{
    return HostGop_Cache()->u32Built;
}

u64 HostGop_Bytes(void)
{
    HostGopCache_S *pstCache = HostGop_Cache();
    std::lock_guard<std::mutex> lock(pstCache->mutex);
    u64 u64Bytes = 0;
    for (const std::shared_ptr<HostGop_S> &pGop : pstCache->lru) {
        if (!HostGop_Ready(pGop.get()))
            continue;   // its pictures are still being written
        for (const HostGopPicture_S &stPic : pGop->pictures)
            u64Bytes += stPic.data.size() + stPic.nals.size() * sizeof(HostGopNal_S);
    }
    return u64Bytes;
}
