#include "tests/rtsp/RtspTestMedia.h"

#include <algorithm>
#include <cmath>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

// Splits Annex B bytes at their start codes; each unit keeps its own.
static void Media_Split(const u8 *pu8, size_t len, std::vector<Bytes> *pvecNal)
{
    std::vector<size_t> vecStart;
    for (size_t i = 0; i + 3 <= len; i++) {
        if (pu8[i] == 0 && pu8[i + 1] == 0 && pu8[i + 2] == 1) {
            vecStart.push_back(i > 0 && pu8[i - 1] == 0 ? i - 1 : i);
            i += 2;
        }
    }
    for (size_t n = 0; n < vecStart.size(); n++) {
        size_t end = n + 1 < vecStart.size() ? vecStart[n + 1] : len;
        pvecNal->push_back(Bytes(pu8 + vecStart[n], pu8 + end));
    }
}

// A context of the encoder, with libav's own log kept to errors; null
// without the encoder.
static AVCodecContext *Media_Context(const AVCodec *pstCodec)
{
    av_log_set_level(AV_LOG_ERROR);
    return pstCodec ? avcodec_alloc_context3(pstCodec) : nullptr;
}

static void Media_Drain(AVCodecContext *pstCtx, AVPacket *pstPkt, u32 u32Fps, std::vector<TestPicture> *pvec)
{
    while (avcodec_receive_packet(pstCtx, pstPkt) == 0) {
        TestPicture stPic;
        stPic.u64PtsUs = (u64)pstPkt->pts * 1000000 / u32Fps;
        Media_Split(pstPkt->data, pstPkt->size, &stPic.vecNal);
        pvec->push_back(stPic);
        av_packet_unref(pstPkt);
    }
}

std::vector<TestPicture> TestMedia_Video(const char *pszEncoder, u32 u32Width, u32 u32Height, u32 u32Fps,
                                         u32 u32Kbps, u32 u32Frames, u32 u32Gop)
{
    std::vector<TestPicture> vecPic;
    AVCodecContext *pstCtx = Media_Context(avcodec_find_encoder_by_name(pszEncoder));
    if (pstCtx == nullptr)
        return vecPic;
    pstCtx->width = (int)u32Width;
    pstCtx->height = (int)u32Height;
    pstCtx->time_base = AVRational{1, (int)u32Fps};
    pstCtx->framerate = AVRational{(int)u32Fps, 1};
    pstCtx->pix_fmt = AV_PIX_FMT_YUV420P;
    pstCtx->bit_rate = (int64_t)u32Kbps * 1000;
    pstCtx->gop_size = (int)u32Gop;
    pstCtx->max_b_frames = 0;
    av_opt_set(pstCtx->priv_data, "preset", "ultrafast", 0);
    // One slice per picture, as the box's encoder makes them.
    av_opt_set(pstCtx->priv_data, "x264-params", "sliced-threads=0", 0);
    char azParams[128];
    snprintf(azParams, sizeof(azParams), "keyint=%u:min-keyint=%u:bframes=0:open-gop=0:repeat-headers=1:log-level=error",
             u32Gop, u32Gop);
    av_opt_set(pstCtx->priv_data, "x265-params", azParams, 0);
    AVFrame *pstFrame = av_frame_alloc();
    AVPacket *pstPkt = av_packet_alloc();
    if (avcodec_open2(pstCtx, nullptr, nullptr) == 0 && pstFrame && pstPkt) {
        pstFrame->format = pstCtx->pix_fmt;
        pstFrame->width = pstCtx->width;
        pstFrame->height = pstCtx->height;
        if (av_frame_get_buffer(pstFrame, 0) == 0) {
            for (u32 n = 0; n < u32Frames; n++) {
                av_frame_make_writable(pstFrame);
                // Noise keeps the encoder near its bit rate.
                u32 u32Noise = n * 2654435761u;
                for (u32 y = 0; y < u32Height; y++)
                    for (u32 x = 0; x < u32Width; x++) {
                        u32Noise = u32Noise * 1103515245u + 12345u;
                        pstFrame->data[0][y * pstFrame->linesize[0] + x] = (u8)(x + y * 2 + n * 3 + (u32Noise >> 27));
                    }
                for (u32 y = 0; y < u32Height / 2; y++)
                    for (u32 x = 0; x < u32Width / 2; x++) {
                        pstFrame->data[1][y * pstFrame->linesize[1] + x] = (u8)(128 + y + n);
                        pstFrame->data[2][y * pstFrame->linesize[2] + x] = (u8)(64 + x + n * 2);
                    }
                pstFrame->pts = n;
                if (avcodec_send_frame(pstCtx, pstFrame) == 0)
                    Media_Drain(pstCtx, pstPkt, u32Fps, &vecPic);
            }
            avcodec_send_frame(pstCtx, nullptr);
            Media_Drain(pstCtx, pstPkt, u32Fps, &vecPic);
        }
    }
    av_packet_free(&pstPkt);
    av_frame_free(&pstFrame);
    avcodec_free_context(&pstCtx);
    return vecPic;
}

std::vector<Bytes> TestMedia_Aac(u32 u32Rate, u32 u32Channels, u32 u32Frames)
{
    std::vector<Bytes> vecAu;
    AVCodecContext *pstCtx = Media_Context(avcodec_find_encoder(AV_CODEC_ID_AAC));
    if (pstCtx == nullptr)
        return vecAu;
    pstCtx->sample_rate = (int)u32Rate;
    av_channel_layout_default(&pstCtx->ch_layout, (int)u32Channels);
    pstCtx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    pstCtx->bit_rate = 128000;
    pstCtx->time_base = AVRational{1, (int)u32Rate};
    AVFrame *pstFrame = av_frame_alloc();
    AVPacket *pstPkt = av_packet_alloc();
    if (avcodec_open2(pstCtx, nullptr, nullptr) == 0 && pstFrame && pstPkt) {
        pstFrame->format = pstCtx->sample_fmt;
        pstFrame->nb_samples = pstCtx->frame_size;
        av_channel_layout_copy(&pstFrame->ch_layout, &pstCtx->ch_layout);
        if (av_frame_get_buffer(pstFrame, 0) == 0) {
            for (u32 n = 0; n <= u32Frames + 2; n++) {
                av_frame_make_writable(pstFrame);
                for (u32 c = 0; c < u32Channels; c++) {
                    float *pf = (float *)pstFrame->data[c];
                    for (int i = 0; i < pstFrame->nb_samples; i++)
                        pf[i] = 0.3f * sinf(2 * (float)M_PI * 440 * (float)(n * pstFrame->nb_samples + i) / (float)u32Rate);
                }
                pstFrame->pts = (int64_t)n * pstFrame->nb_samples;
                avcodec_send_frame(pstCtx, n < u32Frames + 2 ? pstFrame : nullptr);
                while (avcodec_receive_packet(pstCtx, pstPkt) == 0) {
                    vecAu.push_back(Bytes(pstPkt->data, pstPkt->data + pstPkt->size));
                    av_packet_unref(pstPkt);
                }
            }
        }
    }
    av_packet_free(&pstPkt);
    av_frame_free(&pstFrame);
    avcodec_free_context(&pstCtx);
    if (vecAu.size() > u32Frames)
        vecAu.resize(u32Frames);
    return vecAu;
}

Bytes TestMedia_Adts(const Bytes &vecAu, u32 u32Rate, u32 u32Channels)
{
    static const u32 s_au32Rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000, 12000, 11025, 8000};
    u32 u32Index = 0;
    while (u32Index < 11 && s_au32Rates[u32Index] != u32Rate)
        u32Index++;
    size_t len = vecAu.size() + 7;
    Bytes vecOut(len);
    vecOut[0] = 0xFF;
    vecOut[1] = 0xF1;   // MPEG-4, no CRC
    vecOut[2] = (u8)(1 << 6 | u32Index << 2 | u32Channels >> 2);
    vecOut[3] = (u8)((u32Channels & 3) << 6 | (len >> 11));
    vecOut[4] = (u8)(len >> 3);
    vecOut[5] = (u8)((len & 7) << 5 | 0x1F);
    vecOut[6] = 0xFC;
    std::copy(vecAu.begin(), vecAu.end(), vecOut.begin() + 7);
    return vecOut;
}

u32 TestMedia_NalType(const Bytes &vecNal, bool bH265)
{
    size_t off = vecNal[2] == 1 ? 3 : 4;
    return bH265 ? (vecNal[off] >> 1) & 0x3F : vecNal[off] & 0x1F;
}

// The H.265 encoder keeps some memory for the life of the process; the
// leak checker of sanitizer builds is told so.
extern "C" const char *__lsan_default_suppressions(void)
{
    return "leak:libx265.so\n";
}
