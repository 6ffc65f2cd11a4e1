// Media layer, audio half: the AAC encoder, the AAC frame copies it makes
// on the capture thread, and the sender thread of each AAC channel.
#include "media/MediaAudio.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <pthread.h>

#include "core/Debug.h"
#include "core/Thread.h"
#include "media/MediaFrame.h"
#include "platform/AacEnc.h"

#define AAC_AOT_LC          2
#define AAC_SBR_OFF         0
#define AAC_CHANNEL_STEREO  2
#define AAC_ORDER_WAV       1
#define AAC_BITRATE_CBR     0
#define AAC_BITRATE         131072
#define AAC_TRANSMUX_ADTS   2
#define AAC_SENDER_WAIT_MS  100

struct AacContext_S {
    u32 u32InChannels;
    u32 u32Aot;
    u32 u32SbrMode;
    u32 u32SampleRate;
    u32 u32ChannelMode;
    u32 u32ChannelOrder;
    u32 u32BitRateMode;
    u32 u32BitRate;
    u32 u32Transport;
    u32 bOpen;
    HANDLE_AACENCODER hEncoder;
};

// One parameter set on the encoder; pszErr null: no message of its own.
struct AacParam_S {
    AACENC_PARAM enParam;
    u32 AacContext_S::*pu32Value;
    const char *pszErr;
};

static const AacParam_S s_astAacParams[] = {
    { AACENC_AOT,          &AacContext_S::u32Aot,          "Unable to set the AOT" },
    { AACENC_SBR_MODE,     &AacContext_S::u32SbrMode,      "Unable to set the SBR MODE enable" },
    { AACENC_SAMPLERATE,   &AacContext_S::u32SampleRate,   nullptr },
    { AACENC_CHANNELMODE,  &AacContext_S::u32ChannelMode,  "Unable to set the channel mode" },
    { AACENC_CHANNELORDER, &AacContext_S::u32ChannelOrder, "Unable to set the channel order" },
    { AACENC_BITRATEMODE,  &AacContext_S::u32BitRateMode,  "Unable to set the bit_rate_mode" },
    { AACENC_BITRATE,      &AacContext_S::u32BitRate,      "Unable to set the bitrate" },
    { AACENC_TRANSMUX,     &AacContext_S::u32Transport,    "Unable to set the ADTS transmux" },
};

static std::mutex s_AacMutex;                    // guards g_stAacContext and the encoder
static AacContext_S g_stAacContext;
static std::atomic<MediaAencStreamProc *> g_pfnAENCStreamCallBack{nullptr};
static MainThread_S s_astAencThread[MEDIA_AENC_MAX_CHN];   // each channel's sender thread

static s32 aac_encode_fail(AacContext_S *pstCtx, const char *pszErr)
{
    if (pszErr != nullptr)
        printf("%s\n", pszErr);
    (void)aacEncClose(&pstCtx->hEncoder);   // a handle that opened closes
    return -1;
}

// Opens the encoder with the context's parameters; s_AacMutex held.
static s32 aac_encode_init(AacContext_S *pstCtx)
{
    printf("fdk-aac encode param:\n");
    printf("input channel: %d\n", pstCtx->u32InChannels);
    printf("encode type: %d\n", pstCtx->u32Aot);
    printf("sample Rate: %d\n", pstCtx->u32SampleRate);
    printf("encode channel: %d\n", pstCtx->u32ChannelMode);
    printf("bit_rate: %d\n", pstCtx->u32BitRate);
    printf("aac_format: %d\n", pstCtx->u32Transport);
    if (aacEncOpen(&pstCtx->hEncoder, 0, pstCtx->u32InChannels) != AACENC_OK) {
        printf("Unable to open fdkaac encoder\n");
        pstCtx->hEncoder = nullptr;
        return -1;
    }
    for (const AacParam_S &stParam : s_astAacParams)
        if (aacEncoder_SetParam(pstCtx->hEncoder, stParam.enParam, pstCtx->*stParam.pu32Value) != AACENC_OK)
            return aac_encode_fail(pstCtx, stParam.pszErr);
    if (aacEncEncode(pstCtx->hEncoder, nullptr, nullptr, nullptr, nullptr) != AACENC_OK)
        return aac_encode_fail(pstCtx, "Unable to initialize the encoder");
    AACENC_InfoStruct stInfo;
    if (aacEncInfo(pstCtx->hEncoder, &stInfo) != AACENC_OK)
        return aac_encode_fail(pstCtx, "Unable to get the encoder stInfo");
    return 0;
}

s32 AAC_Init(u32 u32Channels, u32 u32SampleRate)
{
    // The queue first: the sender thread drains it whether or not the encoder opens.
    if (AAC_LIST_Init() != 0)
        return -1;
    std::lock_guard<std::mutex> lock(s_AacMutex);
    AacContext_S *pstCtx = &g_stAacContext;
    if (pstCtx->bOpen)
        return 0;
    *pstCtx = AacContext_S();
    pstCtx->u32InChannels = u32Channels;
    pstCtx->u32Aot = AAC_AOT_LC;
    pstCtx->u32SbrMode = AAC_SBR_OFF;
    pstCtx->u32SampleRate = u32SampleRate;
    pstCtx->u32ChannelMode = AAC_CHANNEL_STEREO;
    pstCtx->u32ChannelOrder = AAC_ORDER_WAV;
    pstCtx->u32BitRateMode = AAC_BITRATE_CBR;
    pstCtx->u32BitRate = AAC_BITRATE;
    pstCtx->u32Transport = AAC_TRANSMUX_ADTS;
    if (aac_encode_init(pstCtx) != 0)
        return -1;
    pstCtx->bOpen = 1;
    return 0;
}

s32 AAC_DeInit(void)
{
    // The queue stays set up: a sender thread may be waiting on it.
    AAC_LIST_DelAll();
    std::lock_guard<std::mutex> lock(s_AacMutex);
    AacContext_S *pstCtx = &g_stAacContext;
    if (!pstCtx->bOpen)
        return 0;
    pstCtx->bOpen = 0;
    return aacEncClose(&pstCtx->hEncoder) == AACENC_OK ? 0 : -1;
}

s32 AAC_Ai_CopyFrame(MediaAudioFrame_S *pstDst, const MediaAudioFrame_S *pstSrc)
{
    std::lock_guard<std::mutex> lock(s_AacMutex);
    AacContext_S *pstCtx = &g_stAacContext;
    if (!pstCtx->bOpen)
        return 1;
    void *pvOut = malloc(MEDIA_AAC_BUF_LEN);
    if (pvOut == nullptr)
        return -1;
    void *pvIn = pstSrc->apData[0];
    s32 s32InId = IN_AUDIO_DATA, s32InSize = (s32)pstSrc->u32Len, s32InEl = 2;
    s32 s32OutId = OUT_BITSTREAM_DATA, s32OutSize = MEDIA_AAC_BUF_LEN, s32OutEl = 1;
    AACENC_BufDesc stIn = {1, &pvIn, &s32InId, &s32InSize, &s32InEl};
    AACENC_BufDesc stOut = {1, &pvOut, &s32OutId, &s32OutSize, &s32OutEl};
    AACENC_InArgs stInArgs = {(int)(pstSrc->u32Len / 2), 0};
    AACENC_OutArgs stOutArgs = AACENC_OutArgs();
    if (aacEncEncode(pstCtx->hEncoder, &stIn, &stOut, &stInArgs, &stOutArgs) != AACENC_OK) {
        printf("Encoding aac failed\n");
        free(pvOut);
        return -1;
    }
    if (stOutArgs.numOutBytes <= 0) {
        free(pvOut);   // the encoder is filling up: no frame this time
        return 1;
    }
    *pstDst = *pstSrc;
    pstDst->apData[0] = pvOut;
    pstDst->u32Len = (u32)stOutArgs.numOutBytes;
    return 0;
}

s32 HI_Media_Aenc_CreateChn(s32 s32AencChn, s32 s32Type, const MediaAudioAttr_S *pstAttr)
{
    (void)s32AencChn;   // one encoder serves every channel
    (void)s32Type;      // AAC only
    // A failure was printed; PCM frames flow without the encoder.
    (void)AAC_Init(pstAttr->enSoundmode + 1, pstAttr->enInSamplerate);
    return 0;
}

s32 HI_Media_Aenc_DestroyChn(s32 s32AencChn)
{
    (void)s32AencChn;
    return AAC_DeInit();
}

s32 HI_MEDIA_Aenc_RegisterNotify(MediaAencStreamProc *pfnCallback)
{
    g_pfnAENCStreamCallBack = pfnCallback;
    return 0;
}

static void *AENC_GetAencStreamProc(void *pvChn)
{
    s32 s32Chn = (s32)(intptr_t)pvChn;
    Debug_Log("[%s]: s32AencChn=%d\n", log_Time(), s32Chn);
    char azName[16];
    snprintf(azName, sizeof(azName), "%s%d", "AencStream", s32Chn);
    pthread_setname_np(pthread_self(), azName);
    AAC_LIST_DelAll();
    while (MAIN_Thread_Running(&s_astAencThread[s32Chn])) {
        MediaFrameNode_S *pstNode = AAC_LIST_GetOneFram(AAC_SENDER_WAIT_MS);
        if (pstNode == nullptr)
            continue;
        MediaAencStreamProc *pfnCallback = g_pfnAENCStreamCallBack;
        if (pfnCallback != nullptr && pfnCallback(s32Chn, &pstNode->stAudio) != 0)
            Debug_Log("[%s]: VENCStreamCallBack failed!\n", log_Time());
        AAC_LIST_DelOneFram(pstNode);
    }
    return nullptr;
}

static bool Media_Aenc_ChnOk(s32 s32AencChn)
{
    return s32AencChn >= 0 && s32AencChn < MEDIA_AENC_MAX_CHN;
}

s32 HI_Media_Aenc_Start(s32 s32AencChn)
{
    if (!Media_Aenc_ChnOk(s32AencChn))
        return -1;
    s_astAencThread[s32AencChn].pfnWake = AAC_LIST_Wake;
    return MAIN_Thread_Start(&s_astAencThread[s32AencChn], AENC_GetAencStreamProc, (void *)(intptr_t)s32AencChn,
                             nullptr);
}

s32 HI_Media_Aenc_Stop(s32 s32AencChn)
{
    if (Media_Aenc_ChnOk(s32AencChn))
        MAIN_Thread_Stop(&s_astAencThread[s32AencChn]);
    return 0;
}

void HI_Media_Aenc_BindAi(s32, s32, s32)
{
}

void HI_Media_Aenc_UnBindAi(s32, s32, s32)
{
}

s32 HI_Media_Aenc_SendFrame(s32, const MediaAudioFrame_S *)
{
    return 0;
}
