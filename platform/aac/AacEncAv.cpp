// The AAC encoder calls of platform/AacEnc.h over libavcodec's AAC-LC
// encoder, for builds without the fdk-aac library: the same parameters
// (AAC-LC, no SBR, constant bit rate, mono or stereo), 16-bit interleaved
// samples in, raw or ADTS frames out, one frame per call at most.
#include "platform/AacEnc.h"

#include <algorithm>
#include <cstring>
#include <new>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "core/Types.h"

#define AAC_AOT_LC          2
#define AAC_TRANSMUX_RAW    0
#define AAC_TRANSMUX_ADTS   2
#define AAC_FRAME_LEN       1024      // samples per channel of one frame
#define AAC_MAX_CHANNELS    2
#define AAC_ADTS_HEADER     7
#define AAC_MAX_CHN_BYTES   768       // 6144 bits per channel and frame
#define AAC_FIFO_FRAMES     2         // input kept before the encoder takes it

static const u32 s_au32AdtsRates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};

struct AACENCODER {
    u32 u32MaxChannels;
    u32 u32Aot, u32BitRate, u32BitRateMode, u32SampleRate, u32SbrMode;
    u32 u32ChannelMode, u32ChannelOrder, u32Transmux;
    bool bDirty;                               // parameters set since the codec was opened
    AVCodecContext *pstCtx;
    AVFrame *pstFrame;
    AVPacket *pstPkt;
    s64 s64Pts;                                // samples per channel given to the codec
    u32 u32Fill;                               // values waiting in as16Fifo
    s16 as16Fifo[AAC_FIFO_FRAMES * AAC_FRAME_LEN * AAC_MAX_CHANNELS];
};

static s32 AacAv_RateIndex(u32 u32Rate)
{
    for (u32 i = 0; i < ARRAY_SIZE(s_au32AdtsRates); i++)
        if (s_au32AdtsRates[i] == u32Rate)
            return (s32)i;
    return -1;
}

static void AacAv_CloseCodec(AACENCODER *pstEnc)
{
    avcodec_free_context(&pstEnc->pstCtx);
    av_frame_free(&pstEnc->pstFrame);
    av_packet_free(&pstEnc->pstPkt);
}

static AACENC_ERROR AacAv_OpenCodec(AACENCODER *pstEnc)
{
    AacAv_CloseCodec(pstEnc);
    pstEnc->u32Fill = 0;
    pstEnc->s64Pts = 0;
    if (pstEnc->u32SampleRate == 0 || pstEnc->u32ChannelMode == 0)
        return AACENC_INIT_ERROR;
    const AVCodec *pstCodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (pstCodec == nullptr)
        return AACENC_INIT_ERROR;
    AVCodecContext *pstCtx = pstEnc->pstCtx = avcodec_alloc_context3(pstCodec);
    pstEnc->pstFrame = av_frame_alloc();
    pstEnc->pstPkt = av_packet_alloc();
    if (pstCtx == nullptr || pstEnc->pstFrame == nullptr || pstEnc->pstPkt == nullptr) {
        AacAv_CloseCodec(pstEnc);
        return AACENC_MEMORY_ERROR;
    }
    pstCtx->sample_fmt = AV_SAMPLE_FMT_FLTP;
    pstCtx->sample_rate = (int)pstEnc->u32SampleRate;
    av_channel_layout_default(&pstCtx->ch_layout, (int)pstEnc->u32ChannelMode);
    pstCtx->bit_rate = pstEnc->u32BitRate != 0 ? pstEnc->u32BitRate : 64000 * pstEnc->u32ChannelMode;
    pstCtx->profile = FF_PROFILE_AAC_LOW;
    pstCtx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;   // the AudioSpecificConfig for aacEncInfo
    AVFrame *pstFrame = pstEnc->pstFrame;
    if (avcodec_open2(pstCtx, pstCodec, nullptr) < 0 || pstCtx->frame_size != AAC_FRAME_LEN) {
        AacAv_CloseCodec(pstEnc);
        return AACENC_INIT_ERROR;
    }
    pstFrame->format = AV_SAMPLE_FMT_FLTP;
    pstFrame->sample_rate = pstCtx->sample_rate;
    pstFrame->nb_samples = AAC_FRAME_LEN;
    if (av_channel_layout_copy(&pstFrame->ch_layout, &pstCtx->ch_layout) < 0 || av_frame_get_buffer(pstFrame, 0) < 0) {
        AacAv_CloseCodec(pstEnc);
        return AACENC_MEMORY_ERROR;
    }
    pstEnc->bDirty = false;
    return AACENC_OK;
}

static void AacAv_AdtsHeader(const AACENCODER *pstEnc, u32 u32FrameLen, u8 *pu8)
{
    u32 u32Index = (u32)AacAv_RateIndex(pstEnc->u32SampleRate), u32Chn = pstEnc->u32ChannelMode;
    pu8[0] = 0xFF;
    pu8[1] = 0xF1;   // MPEG-4, layer 0, no CRC
    pu8[2] = (u8)(((pstEnc->u32Aot - 1) << 6) | (u32Index << 2) | (u32Chn >> 2));
    pu8[3] = (u8)(((u32Chn & 3) << 6) | (u32FrameLen >> 11));
    pu8[4] = (u8)(u32FrameLen >> 3);
    pu8[5] = (u8)(((u32FrameLen & 7) << 5) | 0x1F);   // buffer fullness 0x7FF: variable
    pu8[6] = 0xFC;
}

// The buffer of this identifier in a descriptor, or -1.
static s32 AacAv_FindBuf(const AACENC_BufDesc *pstDesc, s32 s32Id)
{
    if (pstDesc == nullptr || pstDesc->bufs == nullptr || pstDesc->bufferIdentifiers == nullptr)
        return -1;
    for (s32 i = 0; i < pstDesc->numBufs; i++)
        if (pstDesc->bufferIdentifiers[i] == s32Id)
            return i;
    return -1;
}

// Hands the first frame of the FIFO to the codec.
static AACENC_ERROR AacAv_SendFrame(AACENCODER *pstEnc)
{
    u32 u32Chn = pstEnc->u32ChannelMode, u32Values = AAC_FRAME_LEN * u32Chn;
    AVFrame *pstFrame = pstEnc->pstFrame;
    if (av_frame_make_writable(pstFrame) < 0)
        return AACENC_MEMORY_ERROR;
    for (u32 c = 0; c < u32Chn; c++) {
        float *pf = (float *)pstFrame->data[c];
        for (u32 i = 0; i < AAC_FRAME_LEN; i++)
            pf[i] = pstEnc->as16Fifo[i * u32Chn + c] / 32768.0f;
    }
    pstFrame->pts = pstEnc->s64Pts;
    pstEnc->s64Pts += AAC_FRAME_LEN;
    pstEnc->u32Fill -= u32Values;
    memmove(pstEnc->as16Fifo, pstEnc->as16Fifo + u32Values, pstEnc->u32Fill * sizeof(s16));
    return avcodec_send_frame(pstEnc->pstCtx, pstFrame) < 0 ? AACENC_ENCODE_ERROR : AACENC_OK;
}

// Writes the codec's next frame, if it has one, into the output buffer.
static AACENC_ERROR AacAv_TakePacket(AACENCODER *pstEnc, u8 *pu8Out, s32 s32OutSize, s32 *ps32Bytes)
{
    *ps32Bytes = 0;
    AVPacket *pstPkt = pstEnc->pstPkt;
    s32 s32Ret = avcodec_receive_packet(pstEnc->pstCtx, pstPkt);
    if (s32Ret == AVERROR(EAGAIN))
        return AACENC_OK;   // still filling up
    if (s32Ret < 0)
        return AACENC_ENCODE_ERROR;
    u32 u32Head = pstEnc->u32Transmux == AAC_TRANSMUX_ADTS ? AAC_ADTS_HEADER : 0;
    u32 u32Len = u32Head + (u32)pstPkt->size;
    AACENC_ERROR enRet = AACENC_OK;
    if (pu8Out == nullptr || (s64)u32Len > s32OutSize) {
        enRet = AACENC_ENCODE_ERROR;
    } else {
        if (u32Head != 0)
            AacAv_AdtsHeader(pstEnc, u32Len, pu8Out);
        memcpy(pu8Out + u32Head, pstPkt->data, (size_t)pstPkt->size);
        *ps32Bytes = (s32)u32Len;
    }
    av_packet_unref(pstPkt);
    return enRet;
}

AACENC_ERROR aacEncOpen(HANDLE_AACENCODER *phAacEncoder, const unsigned int encModules,
                        const unsigned int maxChannels)
{
    (void)encModules;   // one module here: AAC-LC
    if (phAacEncoder == nullptr)
        return AACENC_INVALID_HANDLE;
    if (maxChannels > AAC_MAX_CHANNELS)
        return AACENC_INVALID_CONFIG;
    AACENCODER *pstEnc = new (std::nothrow) AACENCODER();
    if (pstEnc == nullptr)
        return AACENC_MEMORY_ERROR;
    pstEnc->u32MaxChannels = maxChannels != 0 ? maxChannels : AAC_MAX_CHANNELS;
    pstEnc->u32Aot = AAC_AOT_LC;
    pstEnc->u32ChannelMode = pstEnc->u32MaxChannels;
    pstEnc->u32ChannelOrder = 1;
    pstEnc->bDirty = true;
    *phAacEncoder = pstEnc;
    return AACENC_OK;
}

AACENC_ERROR aacEncClose(HANDLE_AACENCODER *phAacEncoder)
{
    if (phAacEncoder == nullptr || *phAacEncoder == nullptr)
        return AACENC_INVALID_HANDLE;
    AacAv_CloseCodec(*phAacEncoder);
    delete *phAacEncoder;
    *phAacEncoder = nullptr;
    return AACENC_OK;
}

AACENC_ERROR aacEncoder_SetParam(const HANDLE_AACENCODER hAacEncoder, const AACENC_PARAM param,
                                 const unsigned int value)
{
    AACENCODER *pstEnc = hAacEncoder;
    if (pstEnc == nullptr)
        return AACENC_INVALID_HANDLE;
    bool bOk;
    u32 *pu32Field;
    switch (param) {
    case AACENC_AOT:          pu32Field = &pstEnc->u32Aot;          bOk = value == AAC_AOT_LC; break;
    case AACENC_BITRATE:      pu32Field = &pstEnc->u32BitRate;      bOk = value >= 8000 && value <= 576000; break;
    case AACENC_BITRATEMODE:  pu32Field = &pstEnc->u32BitRateMode;  bOk = value == 0; break;
    case AACENC_SAMPLERATE:   pu32Field = &pstEnc->u32SampleRate;   bOk = AacAv_RateIndex(value) >= 0; break;
    case AACENC_SBR_MODE:     pu32Field = &pstEnc->u32SbrMode;      bOk = value == 0; break;
    case AACENC_CHANNELMODE:
        pu32Field = &pstEnc->u32ChannelMode;
        bOk = value >= 1 && value <= pstEnc->u32MaxChannels;
        break;
    case AACENC_CHANNELORDER: pu32Field = &pstEnc->u32ChannelOrder; bOk = value <= 1; break;
    case AACENC_TRANSMUX:
        pu32Field = &pstEnc->u32Transmux;
        bOk = value == AAC_TRANSMUX_RAW || value == AAC_TRANSMUX_ADTS;
        break;
    default:
        return AACENC_UNSUPPORTED_PARAMETER;
    }
    if (!bOk)
        return AACENC_INVALID_CONFIG;
    *pu32Field = value;
    pstEnc->bDirty = true;
    return AACENC_OK;
}

AACENC_ERROR aacEncEncode(const HANDLE_AACENCODER hAacEncoder, const AACENC_BufDesc *inBufDesc,
                          const AACENC_BufDesc *outBufDesc, const AACENC_InArgs *inargs, AACENC_OutArgs *outargs)
{
    AACENCODER *pstEnc = hAacEncoder;
    if (pstEnc == nullptr)
        return AACENC_INVALID_HANDLE;
    if (pstEnc->bDirty && AacAv_OpenCodec(pstEnc) != AACENC_OK)
        return AACENC_INIT_ERROR;
    if (inBufDesc == nullptr && outBufDesc == nullptr && inargs == nullptr && outargs == nullptr)
        return AACENC_OK;
    if (inargs == nullptr || outargs == nullptr || inargs->numInSamples < 0)
        return AACENC_ENCODE_ERROR;
    *outargs = AACENC_OutArgs();
    s32 s32In = AacAv_FindBuf(inBufDesc, IN_AUDIO_DATA);
    if (s32In >= 0 && inargs->numInSamples > 0) {
        if (inBufDesc->bufElSizes == nullptr || inBufDesc->bufElSizes[s32In] != sizeof(s16) ||
            inBufDesc->bufs[s32In] == nullptr || inBufDesc->bufSizes == nullptr)
            return AACENC_ENCODE_ERROR;
        u32 u32Avail = std::min((u32)inargs->numInSamples, (u32)std::max(inBufDesc->bufSizes[s32In], 0) / 2);
        u32 u32Take = std::min(u32Avail, (u32)ARRAY_SIZE(pstEnc->as16Fifo) - pstEnc->u32Fill);
        memcpy(pstEnc->as16Fifo + pstEnc->u32Fill, inBufDesc->bufs[s32In], u32Take * sizeof(s16));
        pstEnc->u32Fill += u32Take;
        outargs->numInSamples = (int)u32Take;
    }
    if (pstEnc->u32Fill < AAC_FRAME_LEN * pstEnc->u32ChannelMode)
        return AACENC_OK;
    AACENC_ERROR enRet = AacAv_SendFrame(pstEnc);
    if (enRet != AACENC_OK)
        return enRet;
    s32 s32Out = AacAv_FindBuf(outBufDesc, OUT_BITSTREAM_DATA);
    u8 *pu8Out = s32Out >= 0 ? (u8 *)outBufDesc->bufs[s32Out] : nullptr;
    s32 s32OutSize = s32Out >= 0 && outBufDesc->bufSizes != nullptr ? outBufDesc->bufSizes[s32Out] : 0;
    return AacAv_TakePacket(pstEnc, pu8Out, s32OutSize, &outargs->numOutBytes);
}

AACENC_ERROR aacEncInfo(const HANDLE_AACENCODER hAacEncoder, AACENC_InfoStruct *pInfo)
{
    AACENCODER *pstEnc = hAacEncoder;
    if (pstEnc == nullptr || pInfo == nullptr)
        return AACENC_INVALID_HANDLE;
    if (pstEnc->pstCtx == nullptr || pstEnc->bDirty)
        return AACENC_INIT_ERROR;
    const AVCodecContext *pstCtx = pstEnc->pstCtx;
    *pInfo = AACENC_InfoStruct();
    pInfo->maxOutBufBytes = AAC_MAX_CHN_BYTES * pstEnc->u32ChannelMode + AAC_ADTS_HEADER;
    pInfo->inBufFillLevel = pstEnc->u32Fill / pstEnc->u32ChannelMode;
    pInfo->inputChannels = pstEnc->u32ChannelMode;
    pInfo->frameLength = AAC_FRAME_LEN;
    pInfo->nDelay = pInfo->nDelayCore = (unsigned int)pstCtx->initial_padding;
    if (pstCtx->extradata != nullptr && pstCtx->extradata_size > 0 &&
        (size_t)pstCtx->extradata_size <= sizeof(pInfo->confBuf)) {
        memcpy(pInfo->confBuf, pstCtx->extradata, (size_t)pstCtx->extradata_size);
        pInfo->confSize = (unsigned int)pstCtx->extradata_size;
    }
    return AACENC_OK;
}
