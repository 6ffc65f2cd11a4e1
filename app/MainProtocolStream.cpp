// The stream list, the firmware chunks and the key-frame requests of the
// control protocol.
#include <cstdio>
#include <cstring>
#include <mutex>
#include <time.h>

#include "app/Main.h"
#include "app/MainProtocolSlots.h"
#include "app/MainRtspServer.h"
#include "config/ConfigAttr.h"
#include "core/Clock.h"
#include "core/Debug.h"
#include "media/AVSource.h"
#include "media/MediaVideo.h"
#include "upgrade/Upgrade.h"

#define STREAM_URL_FORMAT     "rtsp://%.31s:554/live/%.79s"
#define STREAM_CODE_1080I60   9      // interlaced codes reported as the progressive ones
#define STREAM_CODE_1080I50   10
#define STREAM_CODE_1080P60   11
#define STREAM_CODE_1080P50   12
#define CHUNK_COUNT_LAST      0x4000   // the last chunk's number, whatever the image's size
#define IFRAME_GAP_MS         1000

static DebugLimit_S s_stStreamLimit;    // "stream get" requests cause these
static DebugLimit_S s_stChunkLimit;     // firmware chunks

static std::mutex s_ChunkMutex;         // s_s32NextCount
static s32 s_s32NextCount;              // chunk number the upload takes next; 0 while none runs

static std::mutex s_IframeMutex;        // the two below
static bool s_bIframeRecent;
static s64 s_s64IframeMs;               // last accepted request, monotonic ms

static void Main_StreamEntry(ProtocolStreamEntry_S *pstEntry, const MediaVencAttr_S *pstVenc,
                             const RtspStreamDesc_S *pstDesc, bool bMain, s32 s32Id)
{
    const MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
    pstEntry->s32Width = (s32)pstVenc->u32Width;
    pstEntry->s32Height = (s32)pstVenc->u32Height;
    // The address text may be rewritten meanwhile: read no further than its field.
    snprintf(pstEntry->azUrl, sizeof(pstEntry->azUrl), STREAM_URL_FORMAT,
             g_stMainServerAttr.stConifg.azHostIP, pstDesc->azStreamName);
    memset(pstEntry->azRtspMip, 0, sizeof(pstEntry->azRtspMip));
    if (bMain)
        (void)MAIN_get_main_RTSP_multicast_ip(s32Id, pstEntry->azRtspMip, sizeof(pstEntry->azRtspMip));
    else
        (void)MAIN_get_sub_RTSP_multicast_ip(s32Id, pstEntry->azRtspMip, sizeof(pstEntry->azRtspMip));
    u32 u32Code = pstMedia->u32TimingCode;
    if (u32Code == STREAM_CODE_1080I50)
        u32Code = STREAM_CODE_1080P50;
    else if (u32Code == STREAM_CODE_1080I60)
        u32Code = STREAM_CODE_1080P60;
    pstEntry->s32Vsync = (s32)u32Code;
    pstEntry->s32Async = (s32)pstMedia->stAiAttr.enInSamplerate;
}

s32 Main_Protocolserver_ongetStream(void *pUser, ProtocolStreamInfo_S *pstOut)
{
    (void)pUser;
    const NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    const MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
    s32 bViStart = g_stMainServerAttr.bViStart;
    u8 u8Hdcp = g_hdcp_state;
    s32 s32Id = g_stConfigAttr.stManual.s32ID;

    pstOut->s32Count = 2;
    pstOut->s32Id = s32Id;
    Debug_LogLimited(&s_stStreamLimit, "[%s]: %s: vicapstart %d, g_hdcp_state:%d\n", log_Time(), __func__,
                     bViStart, u8Hdcp);
    for (s32 i = 0; i < pstOut->s32Count; i++) {
        pstOut->astStream[i].bStatus = bViStart != 0;
        if (bViStart)
            pstOut->astStream[i].s32Hdcp = u8Hdcp;
    }
    Main_StreamEntry(&pstOut->astStream[0], &pstMedia->stMainVencAttr, &pstNet->stMainStream, true, s32Id);
    Main_StreamEntry(&pstOut->astStream[1], &pstMedia->stSubVencAttr, &pstNet->stSubStream, false, s32Id);
    return 0;
}

// Whether the chunk may reach the upgrade: numbers 1 (a new upload), the
// next one of the running upload, or the last one of a running upload.
// A repeat of the chunk just taken is answered without being written
// again (*pbRepeat); any other number would put bytes in the wrong place.
static bool Main_ChunkInOrder(s32 s32Count, bool *pbRepeat)
{
    *pbRepeat = false;
    if (s32Count == 1)
        return true;
    if (s_s32NextCount == 0)
        return false;
    if (s32Count == CHUNK_COUNT_LAST || s32Count == s_s32NextCount)
        return true;
    *pbRepeat = s32Count == s_s32NextCount - 1 && s32Count > 1;
    return false;
}

s32 Main_Protocolserver_onupdateFirmware(void *pUser, ProtocolFirmwareChunk_S *pstChunk)
{
    (void)pUser;
    s32 s32Count = pstChunk->s32Count;
    if (s32Count < 1 || s32Count > CHUNK_COUNT_LAST || pstChunk->s32Length < 0 ||
        pstChunk->s32Length > UPDATE_PACKET_MAX || pstChunk->pu8Data == nullptr) {
        Debug_LogLimited(&s_stChunkLimit, "[%s]: %s: chunk %d of %d bytes refused\n", log_Time(), __func__,
                         s32Count, pstChunk->s32Length);
        return -1;
    }
    std::lock_guard<std::mutex> lock(s_ChunkMutex);
    bool bRepeat;
    if (!Main_ChunkInOrder(s32Count, &bRepeat)) {
        Debug_LogLimited(&s_stChunkLimit, "[%s]: %s: chunk %d %s, %d expected\n", log_Time(), __func__,
                         s32Count, bRepeat ? "repeated" : "out of order", s_s32NextCount);
        return bRepeat ? 0 : -1;
    }
    UpdatePacket_S stPacket = {};
    stPacket.u16Mark = UPDATE_MARK;
    stPacket.u8Flag = s32Count == 1 ? UPDATE_FLAG_FIRST
                      : s32Count == CHUNK_COUNT_LAST ? UPDATE_FLAG_LAST : UPDATE_FLAG_MIDDLE;
    stPacket.u16Num = (u16)(s32Count - 1);
    stPacket.u32Len = (u32)pstChunk->s32Length;
    stPacket.pu8Data = pstChunk->pu8Data;
    s32 s32Ret = ImageRecv(&stPacket, MAIN_Exit_Pthread);
    if (s32Ret != 0) {
        Debug_LogLimited(&s_stChunkLimit, "[%s]: ImageRecv failed with %#x!\n", log_Time(), s32Ret);
        s_s32NextCount = 0;   // the upgrade dropped the upload, or never had one
        return -1;
    }
    s_s32NextCount = s32Count == CHUNK_COUNT_LAST ? 0 : s32Count + 1;
    return 0;
}

s32 Main_Protocolserver_ongetIframe(void *pUser)
{
    (void)pUser;
    {
        std::lock_guard<std::mutex> lock(s_IframeMutex);
        s64 s64Now = Clock_NowMs();
        if (s_bIframeRecent && s64Now - s_s64IframeMs < IFRAME_GAP_MS)
            return 0;
        s_bIframeRecent = true;
        s_s64IframeMs = s64Now;
    }
    const s32 *ps32Chn = g_stMainServerAttr.stMainMediaAttr.as32VencChn;
    for (s32 s32Chn : {ps32Chn[1], ps32Chn[0]}) {   // sub, then main
        if (HI_Media_Venc_RequestIDR(s32Chn) != 0)
            Debug_Log("[%s]: HI_Media_Venc_RequestIDR %d fail\n", log_Time(), s32Chn);
    }
    return 0;
}
