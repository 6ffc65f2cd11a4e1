#include "tests/media/MediaTestAudio.h"

extern "C" {
#include <libavcodec/avcodec.h>
}

#define TEST_AUDIO_HYSTERESIS 1000

u32 TestAudio_AdtsLen(const u8 *pu8, u32 u32Len)
{
    if (u32Len < 7 || pu8[0] != 0xFF || pu8[1] != 0xF1 || pu8[2] >> 6 != 1)
        return 0;
    return ((u32)(pu8[3] & 3) << 11) | ((u32)pu8[4] << 3) | (pu8[5] >> 5);
}

static void TestAudio_Take(const AVFrame *pstFrame, TestPcm_S *pstPcm)
{
    pstPcm->u32Rate = (u32)pstFrame->sample_rate;
    pstPcm->u32Channels = (u32)pstFrame->ch_layout.nb_channels;
    for (int i = 0; i < pstFrame->nb_samples; i++) {
        const float *pfLeft = (const float *)pstFrame->data[0];
        pstPcm->left.push_back((s16)(pfLeft[i] * 32767));
        if (pstPcm->u32Channels > 1)
            pstPcm->right.push_back((s16)(((const float *)pstFrame->data[1])[i] * 32767));
    }
}

TestPcm_S TestAudio_DecodeAdts(const std::vector<TestBytes> &frames)
{
    TestPcm_S stPcm = TestPcm_S();
    const AVCodec *pstCodec = avcodec_find_decoder(AV_CODEC_ID_AAC);
    AVCodecContext *pstCtx = avcodec_alloc_context3(pstCodec);
    AVPacket *pstPkt = av_packet_alloc();
    AVFrame *pstFrame = av_frame_alloc();
    if (avcodec_open2(pstCtx, pstCodec, nullptr) < 0)
        stPcm.u32Errors++;
    for (const TestBytes &frame : frames) {
        pstPkt->data = (u8 *)frame.data();
        pstPkt->size = (int)frame.size();
        if (avcodec_send_packet(pstCtx, pstPkt) < 0) {
            stPcm.u32Errors++;
            continue;
        }
        while (avcodec_receive_frame(pstCtx, pstFrame) == 0) {
            if (pstFrame->format != AV_SAMPLE_FMT_FLTP)
                stPcm.u32Errors++;
            else
                TestAudio_Take(pstFrame, &stPcm);
        }
    }
    av_frame_free(&pstFrame);
    pstPkt->data = nullptr;
    pstPkt->size = 0;
    av_packet_free(&pstPkt);
    avcodec_free_context(&pstCtx);
    return stPcm;
}

double TestAudio_Frequency(const s16 *ps16, u32 u32Count, u32 u32Step, u32 u32Rate)
{
    u32 u32Rises = 0, u32First = 0, u32Last = 0;
    int s32State = 0;   // -1 below -H, +1 above +H
    for (u32 i = 0; i < u32Count; i++) {
        s16 s16Val = ps16[i * u32Step];
        if (s16Val < -TEST_AUDIO_HYSTERESIS) {
            s32State = -1;
        } else if (s16Val > TEST_AUDIO_HYSTERESIS && s32State == -1) {
            s32State = 1;
            if (u32Rises++ == 0)
                u32First = i;
            u32Last = i;
        }
    }
    if (u32Rises < 2)
        return 0;
    return (double)(u32Rises - 1) * u32Rate / (u32Last - u32First);
}

double TestAudio_Frequency(const std::vector<s16> &samples, u32 u32Rate)
{
    return TestAudio_Frequency(samples.data(), (u32)samples.size(), 1, u32Rate);
}
