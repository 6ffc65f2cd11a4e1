#include "tests/media/MediaTestStreams.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

extern "C" {
#include <libavcodec/avcodec.h>
}

static std::mutex s_mutex;               // guards s_apictures
static std::condition_variable s_cv;
static std::vector<TestPicture_S> s_apictures[3];

s32 TestStreams_Collect(s32 s32Chn, MiVencStream_S *pstStream)
{
    TestPicture_S stPic;
    stPic.u32Seq = pstStream->u32Seq;
    stPic.u64PtsUs = pstStream->pstPack[0].u64PTS;
    stPic.u32Packs = pstStream->u32PackCount;
    for (u32 p = 0; p < pstStream->u32PackCount; p++) {
        const MiVencPack_S &stPack = pstStream->pstPack[p];
        for (u32 i = 0; i < stPack.u32DataNum; i++) {
            const MiVencPackInfo_S &stInfo = stPack.asPackInfo[i];
            const u8 *pu8 = stPack.pu8Addr + stPack.u32Offset + stInfo.u32PackOffset;
            stPic.nals.push_back({stInfo.u32PackType, std::vector<u8>(pu8, pu8 + stInfo.u32PackLength)});
        }
    }
    std::lock_guard<std::mutex> lock(s_mutex);
    if (s32Chn < 0 || s32Chn > 2)
        return -1;
    s_apictures[s32Chn].push_back(std::move(stPic));
    s_cv.notify_all();
    return 0;
}

std::vector<TestPicture_S> TestStreams_Get(s32 s32Chn)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    return s_apictures[s32Chn];
}

void TestStreams_Clear(void)
{
    std::lock_guard<std::mutex> lock(s_mutex);
    for (auto &pictures : s_apictures)
        pictures.clear();
}

bool TestStreams_Wait(s32 s32Chn, u32 u32Count, u32 u32TimeoutMs)
{
    std::unique_lock<std::mutex> lock(s_mutex);
    return s_cv.wait_for(lock, std::chrono::milliseconds(u32TimeoutMs),
                         [=] { return s_apictures[s32Chn].size() >= u32Count; });
}

bool TestStreams_IsIdr(u32 enType, const TestPicture_S &stPic)
{
    for (const TestNal_S &stNal : stPic.nals)
        if (stNal.u32Type == (enType == MI_VENC_TYPE_H265 ? MI_VENC_H265_NAL_ISLICE : MI_VENC_H264_NAL_ISLICE))
            return true;
    return enType == MI_VENC_TYPE_JPEG;
}

static void TestStreams_Receive(AVCodecContext *pstCtx, AVFrame *pstFrame, TestDecode_S *pstResult)
{
    s32 s32Ret;
    while ((s32Ret = avcodec_receive_frame(pstCtx, pstFrame)) == 0) {
        pstResult->u32Frames++;
        pstResult->u32Errors += pstFrame->decode_error_flags != 0 || (pstFrame->flags & AV_FRAME_FLAG_CORRUPT);
        u32 u32Number = 0, u32W = (u32)pstFrame->width, u32Y = std::max(pstFrame->height / 16, 8) / 2;
        for (u32 u32Bit = 0; u32Bit < 8; u32Bit++)
            u32Number = u32Number << 1 | (pstFrame->data[0][u32Y * pstFrame->linesize[0] + u32W * (2 * u32Bit + 1) / 16] > 128);
        pstResult->numbers.push_back(u32Number);
        pstResult->u32Width = (u32)pstFrame->width;
        pstResult->u32Height = (u32)pstFrame->height;
        av_frame_unref(pstFrame);
    }
    pstResult->u32Errors += s32Ret != AVERROR(EAGAIN) && s32Ret != AVERROR_EOF;
}

TestDecode_S TestStreams_Decode(u32 enType, const std::vector<TestPicture_S> &pictures)
{
    TestDecode_S stResult = TestDecode_S();
    AVCodecID enId = enType == MI_VENC_TYPE_H264 ? AV_CODEC_ID_H264
                   : enType == MI_VENC_TYPE_H265 ? AV_CODEC_ID_HEVC : AV_CODEC_ID_MJPEG;
    AVCodecContext *pstCtx = avcodec_alloc_context3(avcodec_find_decoder(enId));
    AVFrame *pstFrame = av_frame_alloc();
    AVPacket *pstPkt = av_packet_alloc();
    pstCtx->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER;
    if (avcodec_open2(pstCtx, pstCtx->codec, nullptr) < 0)
        stResult.u32Errors++;
    bool bStarted = false;
    for (const TestPicture_S &stPic : pictures) {
        bStarted = bStarted || TestStreams_IsIdr(enType, stPic);
        if (!bStarted || stResult.u32Errors != 0)
            continue;
        std::vector<u8> bytes;
        for (const TestNal_S &stNal : stPic.nals)
            bytes.insert(bytes.end(), stNal.bytes.begin(), stNal.bytes.end());
        av_new_packet(pstPkt, (int)bytes.size());
        memcpy(pstPkt->data, bytes.data(), bytes.size());
        stResult.u32Errors += avcodec_send_packet(pstCtx, pstPkt) < 0;
        av_packet_unref(pstPkt);
        TestStreams_Receive(pstCtx, pstFrame, &stResult);
    }
    avcodec_send_packet(pstCtx, nullptr);
    TestStreams_Receive(pstCtx, pstFrame, &stResult);
    stResult.s32Profile = pstCtx->profile;
    av_packet_free(&pstPkt);
    av_frame_free(&pstFrame);
    avcodec_free_context(&pstCtx);
    return stResult;
}
