// The stream publishing wrapper: its context of 16 stream slots, the
// operations the service calls on a stream, and the frame pushes.
//
// Each slot has two locks. The slot lock is held across a frame push and
// across publishing and withdrawing the stream, so a push never meets a
// half-built or freed stream; it is taken before any lock of the service.
// The parameter lock is a leaf: it guards what the service's thread reads
// (slot use, table, parameter sets, observers) and is never held while
// calling out. Observers change only inside the service calls made under
// the slot lock, so a push reads them under the slot lock alone.
#include "rtsp/RtspServer.h"

#include <cstring>
#include <mutex>
#include <new>

#include "core/Debug.h"
#include "rtsp/RtspService.h"
#include "rtsp/RtspTypes.h"

#define RTSP_CONFIG_PACKET     1500
#define RTSP_CONFIG_BACKLOG    1024
#define RTSP_CONFIG_THREADS    2
#define RTSP_CONFIG_TIMEOUT    12000
#define RTSP_PATH_FORMAT       "live/%s"
#define RTSP_STREAM_PARAM      0x400000    // not read by the service
#define RTSP_SEI_HDCP_MARK     0xA5

enum RtspParamKind_E { RTSP_PARAM_SPS = 0, RTSP_PARAM_PPS, RTSP_PARAM_VPS };

struct RtspStreamSlot_S {
    std::mutex mtxSlot;                        // held across pushes, start and stop
    std::mutex mtxParam;                       // leaf: guards everything below
    u32 bUsed;
    s32 s32StreamId;                           // the slot's index: the encoder channel
    char azName[RTSP_STREAM_NAME_LEN];
    char azPath[RTSP_STREAM_NAME_LEN];         // "live/<name>", the service's name
    RtspMediaStreamAttr_S *pstAttr;            // the operation table; its address is the handle
    RtspParamSet_S astParam[RTSP_PARAM_VPS + 1];   // by RtspParamKind_E, start code included
    RtspFrameObserver_S *pstVideoObserver;     // heap copies, null while none
    RtspFrameObserver_S *pstAudioObserver;
    u32 bNoSignal;                             // no input feeds the stream; kept across stop and start
};

struct RtspServerAttr_S {
    u32 bInit;
    RtspService_S *pstService;
    std::atomic<RtspServerStreamInfoProc *> pfnRtspServerStreamInfoProc;
    RtspServerConfig_S stConfig;
    RtspStreamSlot_S astSlot[RTSP_MAX_STREAMS];
};

// Stores a parameter set of a published stream: 0, or -1 for a free slot
// or a unit longer than the store. The slot lock is held.
typedef s32 RtspSetParam_F(RtspStreamSlot_S *pstSlot, const u8 *pu8Data, u32 u32Len);

// The used slot that owns an operation table half, with its parameter
// lock taken into *pLock; null when none.
typedef RtspStreamSlot_S *RtspFindStream_F(void *pvHalf, std::unique_lock<std::mutex> *pLock);

static RtspSetParam_F RtspServer_SetSps, RtspServer_SetPps, RtspServer_SetVps;

struct RtspNalMap_S {
    s32 enCodec;                               // RtspVideoCodec_E
    u32 u32Type;                               // the pack entry's type
    u32 u32NalCode;
    u32 bKey;
    RtspSetParam_F *pfnStore;                  // null: not a parameter set
};

static const RtspNalMap_S s_astNalMap[] = {
    { RTSP_VIDEO_CODEC_H264, MI_VENC_H264_NAL_PSLICE, 1, 0, nullptr },
    { RTSP_VIDEO_CODEC_H264, MI_VENC_H264_NAL_ISLICE, 2, 1, nullptr },
    { RTSP_VIDEO_CODEC_H264, MI_VENC_H264_NAL_SEI,    6, 0, nullptr },
    { RTSP_VIDEO_CODEC_H264, MI_VENC_H264_NAL_SPS,    7, 1, RtspServer_SetSps },
    { RTSP_VIDEO_CODEC_H264, MI_VENC_H264_NAL_PPS,    8, 1, RtspServer_SetPps },
    { RTSP_VIDEO_CODEC_H265, MI_VENC_H265_NAL_PSLICE, 1, 0, nullptr },
    { RTSP_VIDEO_CODEC_H265, MI_VENC_H265_NAL_ISLICE, 2, 1, nullptr },
    { RTSP_VIDEO_CODEC_H265, MI_VENC_H265_NAL_VPS,   32, 1, RtspServer_SetVps },
    { RTSP_VIDEO_CODEC_H265, MI_VENC_H265_NAL_SPS,   33, 1, RtspServer_SetSps },
    { RTSP_VIDEO_CODEC_H265, MI_VENC_H265_NAL_PPS,   34, 1, RtspServer_SetPps },
    { RTSP_VIDEO_CODEC_H265, MI_VENC_H265_NAL_SEI,   39, 0, nullptr },
};

// Audio payload codes by RtspAudioCodec_E - 1.
static const u32 s_au32AudioPayload[] = {
    RTSP_PAYLOAD_PCMU, RTSP_PAYLOAD_PCMA, RTSP_PAYLOAD_G726, RTSP_PAYLOAD_AUDIO4,
    RTSP_PAYLOAD_AUDIO5, RTSP_PAYLOAD_AAC, RTSP_PAYLOAD_PCM,
};

static const u8 s_au8DefaultSps[] = {0x00, 0x00, 0x00, 0x01, 0x67, 0x4D, 0x00, 0x32, 0x96, 0x35,
                                     0x40, 0x40, 0x01, 0x83, 0x4D, 0xC0, 0x40, 0x40, 0x40, 0x80};
static const u8 s_au8DefaultPps[] = {0x00, 0x00, 0x00, 0x01, 0x68, 0xEE, 0x3C, 0x80};

std::atomic<s32> g_bRequestIDR[RTSP_IDR_CHANNELS];
static std::atomic<RtspServerAttr_S *> g_pstRtspserverAttr{nullptr};

// The operations the service requires of each half but never calls:
// rtspCbStub1 and 2 of the audio half, 3 and 4 of the video half.
static s32 rtspCbStub1(void *) { return 0; }
static s32 rtspCbStub2(void *) { return 0; }
static s32 rtspCbStub3(void *) { return 0; }
static s32 rtspCbStub4(void *) { return 0; }

// The shared scan of findVideoStream and findAudioStream: the used slot
// whose operation table is pvHandle, its parameter lock taken into *pLock.
static RtspStreamSlot_S *RtspServer_FindSlot(const void *pvHandle, std::unique_lock<std::mutex> *pLock)
{
    RtspServerAttr_S *pstCtx = g_pstRtspserverAttr;
    for (u32 i = 0; pstCtx != nullptr && i < RTSP_MAX_STREAMS; i++) {
        RtspStreamSlot_S &stSlot = pstCtx->astSlot[i];
        std::unique_lock<std::mutex> lock(stSlot.mtxParam);
        if (stSlot.bUsed && stSlot.pstAttr == pvHandle) {
            *pLock = std::move(lock);
            return &stSlot;
        }
    }
    return nullptr;
}

static RtspStreamSlot_S *findVideoStream(void *pvHalf, std::unique_lock<std::mutex> *pLock)
{
    return RtspServer_FindSlot(((RtspMediaVideoAttr_S *)pvHalf)->pvHandle, pLock);
}

static RtspStreamSlot_S *findAudioStream(void *pvHalf, std::unique_lock<std::mutex> *pLock)
{
    return RtspServer_FindSlot(((RtspMediaAudioAttr_S *)pvHalf)->pvHandle, pLock);
}

// The stream id of the slot pfnFind finds for the half, or -1.
static s32 RtspServer_FindId(RtspFindStream_F *pfnFind, void *pvHalf)
{
    std::unique_lock<std::mutex> lock;
    RtspStreamSlot_S *pstSlot = pfnFind(pvHalf, &lock);
    return pstSlot != nullptr ? pstSlot->s32StreamId : -1;
}

// The stream information of the half's stream, for the service's thread:
// 0, or -1 (logged as pszFind or pszInfo).
static s32 RtspServer_HalfInfo(RtspFindStream_F *pfnFind, void *pvHalf, u32 u32Kind, void *pvInfo,
                               const char *pszFind, const char *pszInfo)
{
    s32 s32Id = RtspServer_FindId(pfnFind, pvHalf);
    if (s32Id < 0) {
        Debug_Log("[%s]: %s\n", log_Time(), pszFind);
        return -1;
    }
    RtspServerAttr_S *pstCtx = g_pstRtspserverAttr;
    RtspServerStreamInfoProc *pfnProc = pstCtx != nullptr ? pstCtx->pfnRtspServerStreamInfoProc.load() : nullptr;
    if (pfnProc == nullptr || pfnProc((u32)s32Id, u32Kind, pvInfo) != 0) {
        Debug_Log("[%s]: %s\n", log_Time(), pszInfo);
        return -1;
    }
    return 0;
}

static s32 getVideoSdpInfo(void *pvHalf, RtspMediaVideoInfo_S *pstOut)
{
    RtspVideoInfo_S stInfo = RtspVideoInfo_S();
    if (RtspServer_HalfInfo(findVideoStream, pvHalf, RTSP_INFO_VIDEO, &stInfo,
                            "findVideoStream failed", "getVideoStreamInfo err!") != 0)
        return -1;
    if (stInfo.enCodec != RTSP_VIDEO_CODEC_H264 && stInfo.enCodec != RTSP_VIDEO_CODEC_H265)
        return -1;
    pstOut->u32Width = stInfo.u32Width;
    pstOut->u32Height = stInfo.u32Height;
    pstOut->u32FrameRate = stInfo.u32FrameRate;
    pstOut->u32BitRate = stInfo.u32BitRate;
    memcpy(pstOut->azMulticastIp, stInfo.azMulticastIp, sizeof(pstOut->azMulticastIp));
    pstOut->u32Port = stInfo.u32Port;
    pstOut->u32PayloadType = stInfo.enCodec == RTSP_VIDEO_CODEC_H264 ? RTSP_PAYLOAD_H264 : RTSP_PAYLOAD_H265;
    return 0;
}

// The payload code of an audio codec, or false for one outside 1..7.
static bool RtspServer_AudioPayload(s32 enCodec, u32 *pu32Payload)
{
    if (enCodec < RTSP_AUDIO_CODEC_G711U || enCodec > RTSP_AUDIO_CODEC_PCM)
        return false;
    *pu32Payload = s_au32AudioPayload[enCodec - 1];
    return true;
}

static s32 getAudioSdpInfo(void *pvHalf, RtspMediaAudioInfo_S *pstOut)
{
    RtspAudioInfo_S stInfo = RtspAudioInfo_S();
    if (RtspServer_HalfInfo(findAudioStream, pvHalf, RTSP_INFO_AUDIO, &stInfo,
                            "findAudioStream failed", "getAudioStreamInfo err!") != 0)
        return -1;
    if (!RtspServer_AudioPayload(stInfo.enCodec, &pstOut->u32PayloadType))
        return -1;
    pstOut->u32SampleRate = stInfo.u32SampleRate;
    pstOut->u32Channels = stInfo.u32Channels;
    pstOut->u32BitWidth = stInfo.u32BitWidth;
    pstOut->u32BitRate = stInfo.u32BitRate;
    pstOut->u32Param = stInfo.u32Param;
    memcpy(pstOut->azMulticastIp, stInfo.azMulticastIp, sizeof(pstOut->azMulticastIp));
    pstOut->u32Port = stInfo.u32Port;
    return 0;
}

static void RtspServer_CopyParam(const RtspParamSet_S *pstStored, const u8 *pu8Default, u32 u32DefaultLen,
                                 RtspParamSet_S *pstOut)
{
    if (pstStored->u32Len != 0) {
        *pstOut = *pstStored;
        return;
    }
    memcpy(pstOut->au8Data, pu8Default, u32DefaultLen);
    pstOut->u32Len = u32DefaultLen;
}

static s32 getVideoParamSets(void *pvHalf, RtspParamSet_S *pstSps, RtspParamSet_S *pstPps)
{
    std::unique_lock<std::mutex> lock;
    RtspStreamSlot_S *pstSlot = findVideoStream(pvHalf, &lock);
    if (pstSlot == nullptr) {
        Debug_Log("[%s]: findVideoStream failed\n", log_Time());
        return -1;
    }
    RtspServer_CopyParam(&pstSlot->astParam[RTSP_PARAM_SPS], s_au8DefaultSps, sizeof(s_au8DefaultSps), pstSps);
    RtspServer_CopyParam(&pstSlot->astParam[RTSP_PARAM_PPS], s_au8DefaultPps, sizeof(s_au8DefaultPps), pstPps);
    return 0;
}

static s32 getVideoVps(void *pvHalf, RtspParamSet_S *pstVps)
{
    std::unique_lock<std::mutex> lock;
    RtspStreamSlot_S *pstSlot = findVideoStream(pvHalf, &lock);
    if (pstSlot == nullptr) {
        Debug_Log("[%s]: findVideoStream failed\n", log_Time());
        return -1;
    }
    *pstVps = pstSlot->astParam[RTSP_PARAM_VPS];
    return 0;
}

// Keeps a copy of the observer in *ppstObserver, or (null) drops it.
static void RtspServer_SetObserver(RtspFrameObserver_S **ppstObserver, const RtspFrameObserver_S *pstObserver)
{
    delete *ppstObserver;
    *ppstObserver = pstObserver != nullptr ? new (std::nothrow) RtspFrameObserver_S(*pstObserver) : nullptr;
}

// Attaches (pstObserver) or detaches (null) the video or audio observer
// of the half's stream.
static s32 RtspServer_Sink(RtspFindStream_F *pfnFind, void *pvHalf, bool bVideo,
                           const RtspFrameObserver_S *pstObserver, const char *pszErr)
{
    std::unique_lock<std::mutex> lock;
    RtspStreamSlot_S *pstSlot = pfnFind(pvHalf, &lock);
    if (pstSlot == nullptr) {
        Debug_Log("[%s]: %s\n", log_Time(), pszErr);
        return -1;
    }
    RtspFrameObserver_S **ppstObserver = bVideo ? &pstSlot->pstVideoObserver : &pstSlot->pstAudioObserver;
    RtspServer_SetObserver(ppstObserver, pstObserver);
    return pstObserver != nullptr && *ppstObserver == nullptr ? -1 : 0;
}

static s32 attachVideoSink(void *pvHalf, const RtspFrameObserver_S *pstObserver)
{
    return RtspServer_Sink(findVideoStream, pvHalf, true, pstObserver, "findVideoStream failed");
}

static s32 detachVideoSink(void *pvHalf)
{
    return RtspServer_Sink(findVideoStream, pvHalf, true, nullptr, "findVideoStream failed");
}

static s32 attachAudioSink(void *pvHalf, const RtspFrameObserver_S *pstObserver)
{
    return RtspServer_Sink(findAudioStream, pvHalf, false, pstObserver, "findAudioStream failed");
}

static s32 detachAudioSink(void *pvHalf)
{
    return RtspServer_Sink(findAudioStream, pvHalf, false, nullptr, "findAudioStreamId failed");
}

static s32 requestVideoIdr(void *pvHalf)
{
    s32 s32Id = RtspServer_FindId(findVideoStream, pvHalf);
    if (s32Id < 0 || s32Id >= RTSP_IDR_CHANNELS)
        return -1;
    g_bRequestIDR[s32Id] = 1;
    return 0;
}

static RtspMediaStreamAttr_S *RtspServer_NewTable(void)
{
    RtspMediaStreamAttr_S *pstAttr = new (std::nothrow) RtspMediaStreamAttr_S();
    if (pstAttr == nullptr)
        return nullptr;
    pstAttr->stAudio = {1, getAudioSdpInfo, rtspCbStub1, rtspCbStub2, attachAudioSink, detachAudioSink, pstAttr};
    pstAttr->stVideo = {1,          getVideoSdpInfo,   rtspCbStub3,  rtspCbStub4, attachVideoSink, detachVideoSink,
                        requestVideoIdr, getVideoParamSets, getVideoVps, pstAttr};
    return pstAttr;
}

// Back to a free slot; both locks held.
static void RtspServer_ClearSlot(RtspStreamSlot_S *pstSlot)
{
    delete pstSlot->pstAttr;
    delete pstSlot->pstVideoObserver;
    delete pstSlot->pstAudioObserver;
    pstSlot->pstAttr = nullptr;
    pstSlot->pstVideoObserver = pstSlot->pstAudioObserver = nullptr;
    pstSlot->bUsed = 0;
    pstSlot->azName[0] = pstSlot->azPath[0] = '\0';
    memset(pstSlot->astParam, 0, sizeof(pstSlot->astParam));
}

RtspServerAttr_S *RtspServer_Init(void)
{
    RtspServerAttr_S *pstCtx = new (std::nothrow) RtspServerAttr_S();
    if (pstCtx == nullptr) {
        Debug_Log("[%s]: Rtspserver malloc err!\n", log_Time());
        return nullptr;
    }
    pstCtx->stConfig = {RTSP_CONFIG_PACKET, RTSP_CONFIG_BACKLOG, RTSP_SERVER_PORT, RTSP_CONFIG_THREADS,
                        RTSP_CONFIG_TIMEOUT};
    if (RTSPSEVER_Create(&pstCtx->pstService, &pstCtx->stConfig) != 0) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_Create err!\n", log_Time());
        delete pstCtx;
        return nullptr;
    }
    if (RTSPSEVER_Start(pstCtx->pstService) != 0) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_Start err!\n", log_Time());
        (void)RTSPSEVER_Destroy(pstCtx->pstService);   // frees the port for a later try; always 0
        delete pstCtx;
        return nullptr;
    }
    pstCtx->bInit = 1;
    g_pstRtspserverAttr = pstCtx;
    return pstCtx;
}

s32 RtspServer_DeInit(RtspServerAttr_S *pstCtx)
{
    if (pstCtx == nullptr)
        return -1;
    std::unique_lock<std::mutex> alock[RTSP_MAX_STREAMS];
    for (u32 i = 0; i < RTSP_MAX_STREAMS; i++)
        alock[i] = std::unique_lock<std::mutex>(pstCtx->astSlot[i].mtxSlot);
    s32 s32Ret = 0;
    if (RTSPSEVER_Stop(pstCtx->pstService) != 0) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_Stop err!\n", log_Time());
        s32Ret = -1;
    }
    if (RTSPSEVER_Destroy(pstCtx->pstService) != 0) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_Destroy err!\n", log_Time());
        s32Ret = -1;
    }
    g_pstRtspserverAttr = nullptr;
    for (RtspStreamSlot_S &stSlot : pstCtx->astSlot) {
        std::lock_guard<std::mutex> lock(stSlot.mtxParam);
        RtspServer_ClearSlot(&stSlot);
    }
    for (std::unique_lock<std::mutex> &lock : alock)
        lock.unlock();
    delete pstCtx;
    return s32Ret;
}

s32 RtspServer_register(RtspServerAttr_S *pstCtx, RtspServerStreamInfoProc *pfnProc)
{
    if (pstCtx == nullptr)
        return -1;
    pstCtx->pfnRtspServerStreamInfoProc = pfnProc;
    return 0;
}

// The slot of a stream id, or null (logged) for an id out of range.
static RtspStreamSlot_S *RtspServer_Slot(RtspServerAttr_S *pstCtx, s32 s32StreamId)
{
    if (pstCtx == nullptr || !pstCtx->bInit)
        return nullptr;
    if (s32StreamId < 0 || s32StreamId >= RTSP_MAX_STREAMS) {
        Debug_Log("[%s]: s32StreamId(%d) err!\n", log_Time(), s32StreamId);
        return nullptr;
    }
    return &pstCtx->astSlot[s32StreamId];
}

// True when a used slot publishes pszPath already.
static bool RtspServer_PathUsed(RtspServerAttr_S *pstCtx, const char *pszPath)
{
    for (RtspStreamSlot_S &stSlot : pstCtx->astSlot) {
        std::lock_guard<std::mutex> lock(stSlot.mtxParam);
        if (stSlot.bUsed && strcmp(stSlot.azPath, pszPath) == 0)
            return true;
    }
    return false;
}

s32 RtspServer_StartStream(RtspServerAttr_S *pstCtx, s32 s32StreamId, const char *pszName)
{
    RtspStreamSlot_S *pstSlot = RtspServer_Slot(pstCtx, s32StreamId);
    if (pstSlot == nullptr || pszName == nullptr)
        return -1;
    std::lock_guard<std::mutex> lockSlot(pstSlot->mtxSlot);
    if (pstSlot->bUsed)
        return 1;
    char azPath[RTSP_STREAM_NAME_LEN];
    snprintf(azPath, sizeof(azPath), RTSP_PATH_FORMAT, pszName);
    // A second slot of the same name would share, and then withdraw, the first one's stream.
    if (RtspServer_PathUsed(pstCtx, azPath)) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_AddMediaStream err!\n", log_Time());
        return -1;
    }
    RtspMediaStreamAttr_S *pstAttr = RtspServer_NewTable();
    if (pstAttr == nullptr) {
        Debug_Log("[%s]: Rtspserver malloc err!\n", log_Time());
        return -1;
    }
    {
        std::lock_guard<std::mutex> lock(pstSlot->mtxParam);
        snprintf(pstSlot->azName, sizeof(pstSlot->azName), "%s", pszName);
        memcpy(pstSlot->azPath, azPath, sizeof(azPath));
        pstSlot->s32StreamId = s32StreamId;
        pstSlot->pstAttr = pstAttr;
        pstSlot->bUsed = 1;
    }
    if (RTSPSEVER_AddMediaStream(pstCtx->pstService, pstAttr, pstSlot->azPath, RTSP_STREAM_PARAM) != 0) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_AddMediaStream err!\n", log_Time());
        std::lock_guard<std::mutex> lock(pstSlot->mtxParam);
        RtspServer_ClearSlot(pstSlot);
        return -1;
    }
    if (pstSlot->bNoSignal)
        (void)RTSPSEVER_SetMediaStreamSignal(pstCtx->pstService, pstSlot->azPath, 0);   // just added, so found
    return 0;
}

s32 RtspServer_StopStream(RtspServerAttr_S *pstCtx, s32 s32StreamId)
{
    RtspStreamSlot_S *pstSlot = RtspServer_Slot(pstCtx, s32StreamId);
    if (pstSlot == nullptr)
        return -1;
    std::lock_guard<std::mutex> lockSlot(pstSlot->mtxSlot);
    if (!pstSlot->bUsed)
        return 1;
    if (RTSPSEVER_RemoveMediaStream(pstCtx->pstService, pstSlot->azPath) != 0) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_Stop err!\n", log_Time());
        return -1;
    }
    std::lock_guard<std::mutex> lock(pstSlot->mtxParam);
    RtspServer_ClearSlot(pstSlot);
    return 0;
}

s32 RtspServer_EndPlayers(RtspServerAttr_S *pstCtx, s32 s32StreamId)
{
    RtspStreamSlot_S *pstSlot = RtspServer_Slot(pstCtx, s32StreamId);
    if (pstSlot == nullptr)
        return -1;
    std::lock_guard<std::mutex> lockSlot(pstSlot->mtxSlot);
    if (!pstSlot->bUsed)
        return 1;
    return RTSPSEVER_EndMediaStreamSessions(pstCtx->pstService, pstSlot->azPath);
}

s32 RtspServer_SetStreamSignal(RtspServerAttr_S *pstCtx, s32 s32StreamId, u32 bSignal)
{
    RtspStreamSlot_S *pstSlot = RtspServer_Slot(pstCtx, s32StreamId);
    if (pstSlot == nullptr)
        return -1;
    std::lock_guard<std::mutex> lockSlot(pstSlot->mtxSlot);
    if (pstSlot->bNoSignal == (bSignal ? 0u : 1u))
        return 0;
    pstSlot->bNoSignal = bSignal ? 0 : 1;
    if (pstSlot->bUsed && RTSPSEVER_SetMediaStreamSignal(pstCtx->pstService, pstSlot->azPath, bSignal) != 0) {
        Debug_Log("[%s]: Rtspserver RTSPSEVER_SetMediaStreamSignal err!\n", log_Time());
        return -1;
    }
    return 0;
}

s32 RtspServer_GetStreamInfo(RtspServerAttr_S *pstCtx, s32 s32StreamId, u32 *pu32Count)
{
    RtspStreamSlot_S *pstSlot = RtspServer_Slot(pstCtx, s32StreamId);
    if (pstSlot == nullptr)
        return -1;
    std::lock_guard<std::mutex> lockSlot(pstSlot->mtxSlot);
    if (!pstSlot->bUsed)
        return 1;
    if (RTSPSEVER_GetMediaStreamConnect(pstCtx->pstService, pstSlot->azPath, pu32Count) != 0) {
        Debug_Log("[%s]: Rtspserver GetMediaStreamConnect err!\n", log_Time());
        return -1;
    }
    return 0;
}

// A push's slot with its slot lock taken into *pLock, when the wrapper
// is up and the stream published; else null.
static RtspStreamSlot_S *RtspServer_PushSlot(RtspServerAttr_S *pstCtx, s32 s32StreamId,
                                             std::unique_lock<std::mutex> *pLock)
{
    if (pstCtx == nullptr || !pstCtx->bInit || s32StreamId < 0 || s32StreamId >= RTSP_MAX_STREAMS)
        return nullptr;
    RtspStreamSlot_S *pstSlot = &pstCtx->astSlot[s32StreamId];
    *pLock = std::unique_lock<std::mutex>(pstSlot->mtxSlot);
    return pstSlot->bUsed ? pstSlot : nullptr;
}

// The stream information of a push: 0, or -1 (logged) without a procedure
// or when it fails.
static s32 RtspServer_PushInfo(RtspServerAttr_S *pstCtx, s32 s32StreamId, u32 u32Kind, void *pvInfo,
                               const char *pszErr)
{
    RtspServerStreamInfoProc *pfnProc = pstCtx->pfnRtspServerStreamInfoProc;
    if (pfnProc == nullptr) {
        Debug_Log("[%s]: pfnRtspServerStreamInfoProc null!\n", log_Time());
        return -1;
    }
    if (pfnProc((u32)s32StreamId, u32Kind, pvInfo) != 0) {
        Debug_Log("[%s]: %s\n", log_Time(), pszErr);
        return -1;
    }
    return 0;
}

// The shared body of the three setters.
static s32 RtspServer_SetParam(RtspStreamSlot_S *pstSlot, RtspParamKind_E enKind, const u8 *pu8Data, u32 u32Len)
{
    std::lock_guard<std::mutex> lock(pstSlot->mtxParam);
    // A unit longer than the store is not kept: a cut one would be wrong.
    if (!pstSlot->bUsed || u32Len > RTSP_PARAM_SET_MAX)
        return -1;
    memcpy(pstSlot->astParam[enKind].au8Data, pu8Data, u32Len);
    pstSlot->astParam[enKind].u32Len = u32Len;
    return 0;
}

static s32 RtspServer_SetSps(RtspStreamSlot_S *pstSlot, const u8 *pu8Data, u32 u32Len)
{
    return RtspServer_SetParam(pstSlot, RTSP_PARAM_SPS, pu8Data, u32Len);
}

static s32 RtspServer_SetPps(RtspStreamSlot_S *pstSlot, const u8 *pu8Data, u32 u32Len)
{
    return RtspServer_SetParam(pstSlot, RTSP_PARAM_PPS, pu8Data, u32Len);
}

static s32 RtspServer_SetVps(RtspStreamSlot_S *pstSlot, const u8 *pu8Data, u32 u32Len)
{
    return RtspServer_SetParam(pstSlot, RTSP_PARAM_VPS, pu8Data, u32Len);
}

static const RtspNalMap_S *RtspServer_MapNal(s32 enCodec, u32 u32Type)
{
    for (const RtspNalMap_S &stMap : s_astNalMap)
        if (stMap.enCodec == enCodec && stMap.u32Type == u32Type)
            return &stMap;
    return nullptr;
}

// The slot of a video push with its lock taken into *pLock, and the
// stream's codec; or null with *ps32Ret the push's result: 0 for a stream
// not published or of neither H.264 nor H.265, -1 without information.
static RtspStreamSlot_S *RtspServer_VideoSlot(RtspServerAttr_S *pstCtx, s32 s32StreamId,
                                              std::unique_lock<std::mutex> *pLock, s32 *penCodec, s32 *ps32Ret)
{
    *ps32Ret = 0;
    RtspStreamSlot_S *pstSlot = RtspServer_PushSlot(pstCtx, s32StreamId, pLock);
    if (pstSlot == nullptr)
        return nullptr;
    RtspVideoInfo_S stInfo = RtspVideoInfo_S();
    if (RtspServer_PushInfo(pstCtx, s32StreamId, RTSP_INFO_VIDEO, &stInfo, "proc err!") != 0) {
        *ps32Ret = -1;
        return nullptr;
    }
    if (stInfo.enCodec != RTSP_VIDEO_CODEC_H264 && stInfo.enCodec != RTSP_VIDEO_CODEC_H265) {
        Debug_Log("[%s]: Frame err!\n", log_Time());
        return nullptr;
    }
    *penCodec = stInfo.enCodec;
    return pstSlot;
}

s32 RtspServer_SendVFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, const MiVencStream_S *pstStream)
{
    std::unique_lock<std::mutex> lock;
    s32 enCodec, s32Ret;
    RtspStreamSlot_S *pstSlot = RtspServer_VideoSlot(pstCtx, s32StreamId, &lock, &enCodec, &s32Ret);
    if (pstSlot == nullptr)
        return s32Ret;
    u32 u32Payload = enCodec == RTSP_VIDEO_CODEC_H264 ? RTSP_PAYLOAD_H264 : RTSP_PAYLOAD_H265;
    for (u32 p = 0; p < pstStream->u32PackCount; p++) {
        const MiVencPack_S &stPack = pstStream->pstPack[p];
        for (u32 e = 0; e < stPack.u32DataNum && e < MI_VENC_MAX_PACK_INFO; e++) {
            const MiVencPackInfo_S &stEntry = stPack.asPackInfo[e];
            const RtspNalMap_S *pstMap = RtspServer_MapNal(enCodec, stEntry.u32PackType);
            // An unknown unit, or one that is not inside its pack, ends the push.
            if (pstMap == nullptr || stEntry.u32PackOffset > stPack.u32Len ||
                stEntry.u32PackLength > stPack.u32Len - stEntry.u32PackOffset)
                return -1;
            const u8 *pu8Unit = stPack.pu8Addr + stEntry.u32PackOffset;
            // A set too long for its store is still pushed; DESCRIBE keeps the one before.
            if (pstMap->pfnStore != nullptr)
                (void)pstMap->pfnStore(pstSlot, pu8Unit, stEntry.u32PackLength);
            RtspVideoFrame_S stFrame = {pu8Unit,          stEntry.u32PackLength, stPack.u64PTS, pstStream->u32Seq,
                                        pstMap->bKey,     u32Payload,            pstMap->u32NalCode};
            const RtspFrameObserver_S *pstObserver = pstSlot->pstVideoObserver;
            if (pstObserver != nullptr)
                (void)pstObserver->pfnOnFrame(pstObserver, &stFrame);   // a unit a client missed is not resent
        }
    }
    return 0;
}

// One audio frame to the stream's audio observer; slot lock held.
static void RtspServer_PushAudio(const RtspStreamSlot_S *pstSlot, const u8 *pu8Data, u32 u32Len,
                                 const MiAudioFrame_S *pstFrame, u32 u32Payload)
{
    RtspAudioFrame_S stFrame = {pu8Data, u32Len, pstFrame->u64TimeStamp, pstFrame->u32Seq, u32Payload};
    const RtspFrameObserver_S *pstObserver = pstSlot->pstAudioObserver;
    if (pstObserver != nullptr)
        (void)pstObserver->pfnOnFrame(pstObserver, &stFrame);   // a frame a client missed is not resent
}

s32 RtspServer_SendAFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, const MiAudioFrame_S *pstFrame)
{
    std::unique_lock<std::mutex> lock;
    RtspStreamSlot_S *pstSlot = RtspServer_PushSlot(pstCtx, s32StreamId, &lock);
    if (pstSlot == nullptr)
        return 0;
    RtspAudioInfo_S stInfo = RtspAudioInfo_S();
    if (RtspServer_PushInfo(pstCtx, s32StreamId, RTSP_INFO_AUDIO, &stInfo, "getAudioStreamInfo err!") != 0)
        return -1;
    u32 u32Payload;
    if (RtspServer_AudioPayload(stInfo.enCodec, &u32Payload))
        RtspServer_PushAudio(pstSlot, (const u8 *)pstFrame->apData[0], pstFrame->u32Len, pstFrame, u32Payload);
    return 0;
}

s32 RtspServer_SendAPCMFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, u32 u32SampleRate,
                             MiAudioFrame_S *pstFrame)
{
    std::unique_lock<std::mutex> lock;
    RtspStreamSlot_S *pstSlot = RtspServer_PushSlot(pstCtx, s32StreamId, &lock);
    if (pstSlot == nullptr)
        return 0;
    u64 u64Half = pstFrame->u32Len / 2, u64Len = u64Half * ((u64)pstFrame->enSoundmode + 2);
    // The block must stay inside the PCM copy's buffer.
    if (u64Half + sizeof(u32) > RTSP_PCM_BUF_LEN || u64Len > RTSP_PCM_BUF_LEN)
        return -1;
    u8 *pu8Data = (u8 *)pstFrame->apData[0];
    for (u32 i = 0; i < sizeof(u32); i++)
        pu8Data[u64Half + i] = (u8)(u32SampleRate >> (8 * i));
    RtspServer_PushAudio(pstSlot, pu8Data, (u32)u64Len, pstFrame, RTSP_PAYLOAD_PCM);
    return 0;
}

s32 RtspServer_SendVSEICmdFrame(RtspServerAttr_S *pstCtx, s32 s32StreamId, u8 u8HdcpState)
{
    std::unique_lock<std::mutex> lock;
    s32 enCodec, s32Ret;
    RtspStreamSlot_S *pstSlot = RtspServer_VideoSlot(pstCtx, s32StreamId, &lock, &enCodec, &s32Ret);
    if (pstSlot == nullptr)
        return s32Ret;
    Debug_Log("[%s]: [%s,%d]hdcp_state %d\n", log_Time(), __func__, __LINE__, u8HdcpState);
    u8 u8State = (u8)(u8HdcpState + 1);
    const u8 au8H264[] = {0x00, 0x00, 0x00, 0x01, 0x06, 0xFF, RTSP_SEI_HDCP_MARK, 0x00, u8State};
    const u8 au8H265[] = {0x00, 0x00, 0x00, 0x01, 0x4E, 0x01, 0xFF, RTSP_SEI_HDCP_MARK, 0x00, u8State};
    RtspVideoFrame_S stFrame = {au8H264, sizeof(au8H264), 0, 0, 0, RTSP_PAYLOAD_H264, MI_VENC_H264_NAL_SEI};
    if (enCodec == RTSP_VIDEO_CODEC_H265)
        stFrame = {au8H265, sizeof(au8H265), 0, 0, 0, RTSP_PAYLOAD_H265, MI_VENC_H265_NAL_SEI};
    const RtspFrameObserver_S *pstObserver = pstSlot->pstVideoObserver;
    if (pstObserver != nullptr)
        (void)pstObserver->pfnOnFrame(pstObserver, &stFrame);   // the next state change sends again
    return 0;
}
