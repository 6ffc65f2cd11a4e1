// The TCP media source: RTP interleaved on the client's RTSP connection.
// Packets go into the connection's bounded queue and never block the frame
// thread: a video unit is copied once for all connections, and each one
// queues only its '$' and RTP heads around that copy; the reactor writes
// them with one gathered write. A video unit that does not fit whole is
// dropped, and so is the video after it until the next parameter set,
// where a decoder can start again; a peer that stops reading altogether
// is closed by the transport.
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/Debug.h"
#include "rtsplib/include/RtspServerCore.h"
#include "rtsplib/src/socket/AioTcpTransport.h"
#include "rtsplib/src/rtsp/MediaSourcePriv.h"

#define TCP_FRAME_HEAD   4              // '$', channel, 16-bit length
#define TCP_HEAD_BATCH   64             // RTP heads written at a time
#define TCP_RESUME_ROOM  (128 * 1024)   // free queue that lets dropped video resume: room for a key frame

struct MediaSourceTcp_S;

static DebugLimit_S s_stRefused;   // connections refusing packets: peers set the pace

struct TcpPart_S {
    MediaPart_S stBase;        // first: the packer's callback parameter
    void *pvConnection;        // null until set
    s32 s32RtpChannel;
    s32 s32RtcpChannel;
    s32 s32Failures;           // packets refused in a row
    bool bFailed;              // a packet of the current unit was not sent
    bool bDropping;            // video waits for a parameter set
    MediaSourceTcp_S *pstSource;
};

struct MediaSourceTcp_S {
    u32 u32State;              // MediaSourceState_E
    TcpPart_S astPart[MEDIA_TRACKS];
};

static s32 TcpPart_OnPacket(void *pvPart, const void *pvPacket, u32 u32Bytes, u32 u32Time)
{
    (void)u32Time;   // the packet carries it
    TcpPart_S *pstPart = (TcpPart_S *)pvPart;
    if (pstPart->bFailed)
        return -1;
    s32 s32Ret = rtsp_server_send_interleaved(pstPart->pvConnection, (u8)pstPart->s32RtpChannel, pvPacket, u32Bytes);
    if (s32Ret != 0) {
        if (pstPart->s32Failures++ == 0)
            Debug_LogLimited(&s_stRefused, "[%s]: %s: channel %d: %s\n", log_Time(), __func__, pstPart->s32RtpChannel,
                             strerror(s32Ret));
        pstPart->bFailed = true;
        return -1;
    }
    pstPart->s32Failures = 0;
    if (pstPart->stBase.pstRtp)
        (void)rtp_onsend(pstPart->stBase.pstRtp, pvPacket, u32Bytes);   // our own header: always valid
    return 0;
}

static void *TcpSource_Create(bool bMulticast)
{
    (void)bMulticast;   // interleaved data has no group
    MediaSourceTcp_S *pstSource = new (std::nothrow) MediaSourceTcp_S();
    if (pstSource == nullptr) {
        Debug_Log("[%s]: malloc err!\n", log_Time());
        return nullptr;
    }
    for (TcpPart_S &stPart : pstSource->astPart) {
        stPart.s32RtpChannel = -1;
        stPart.s32RtcpChannel = -1;
        stPart.pstSource = pstSource;
    }
    return pstSource;
}

static void TcpSource_Destroy(void *pvSource)
{
    MediaSourceTcp_S *pstSource = (MediaSourceTcp_S *)pvSource;
    for (TcpPart_S &stPart : pstSource->astPart)
        MediaPart_Destroy(&stPart.stBase);
    delete pstSource;
}

static s32 TcpSource_PartCreate(void *pvSource, u32 u32Track, u8 u8PayloadType, u32 u32Clock)
{
    static const RtpPackerCallback_S s_stCallback = {MediaPart_Alloc, MediaPart_Free, TcpPart_OnPacket};
    TcpPart_S *pstPart = &((MediaSourceTcp_S *)pvSource)->astPart[u32Track];
    bool bVideo = u32Track == MEDIA_TRACK_VIDEO;
    return MediaPart_Create(&pstPart->stBase, bVideo, u8PayloadType, u32Clock,
                            bVideo ? MEDIA_TCP_VIDEO_PAYLOAD : MEDIA_TCP_AUDIO_PAYLOAD, "TCP", &s_stCallback, pstPart);
}

static s32 TcpSource_VideoCreate(void *pvSource, u8 u8PayloadType, u32 u32Clock)
{
    return TcpSource_PartCreate(pvSource, MEDIA_TRACK_VIDEO, u8PayloadType, u32Clock);
}

static s32 TcpSource_AudioCreate(void *pvSource, u8 u8PayloadType, u32 u32Clock)
{
    return TcpSource_PartCreate(pvSource, MEDIA_TRACK_AUDIO, u8PayloadType, u32Clock);
}

static s32 TcpSource_Connection(MediaSourceTcp_S *pstSource, u32 u32Track, void *pvConnection)
{
    if (pvConnection == nullptr)
        return -1;
    pstSource->astPart[u32Track].pvConnection = pvConnection;
    return 0;
}

static s32 TcpSource_Video(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection)
{
    (void)pszAddr;   // interleaved: only the connection counts
    (void)s32Socket;
    (void)u16Port;
    return TcpSource_Connection((MediaSourceTcp_S *)pvSource, MEDIA_TRACK_VIDEO, pvConnection);
}

static s32 TcpSource_Audio(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection)
{
    (void)pszAddr;   // interleaved: only the connection counts
    (void)s32Socket;
    (void)u16Port;
    return TcpSource_Connection((MediaSourceTcp_S *)pvSource, MEDIA_TRACK_AUDIO, pvConnection);
}

static s32 TcpSource_Play(void *pvSource)
{
    ((MediaSourceTcp_S *)pvSource)->u32State = MEDIA_SOURCE_PLAYING;
    return 0;
}

static s32 TcpSource_Pause(void *pvSource)
{
    ((MediaSourceTcp_S *)pvSource)->u32State = MEDIA_SOURCE_PAUSED;
    return 0;
}

static void TcpUnit_Release(void *pvCopy)
{
    aio_tcp_block_release((AioTcpBlock_S *)pvCopy);
}

// The copy of the unit's bytes that the connections share, made by the
// first one; *pbOwn when the caller is to release it (nothing shared).
static AioTcpBlock_S *TcpUnit_Copy(const RtpUnit_S *pstUnit, bool *pbOwn)
{
    RtpUnitShare_S *pstShare = pstUnit->pstShare;
    *pbOwn = pstShare == nullptr;
    if (pstShare && pstShare->pvCopy)
        return (AioTcpBlock_S *)pstShare->pvCopy;
    AioTcpBlock_S *pstCopy = aio_tcp_block_create(pstUnit->u32UnitLen);
    if (pstCopy == nullptr)
        return nullptr;
    memcpy(aio_tcp_block_data(pstCopy), pstUnit->pu8Unit, pstUnit->u32UnitLen);
    if (pstShare) {
        pstShare->pvCopy = pstCopy;
        pstShare->pfnRelease = TcpUnit_Release;
    }
    return pstCopy;
}

// Writes the '$' and RTP heads of every packet of the unit into pu8Heads,
// u32Head bytes each, and lays out the packets as head and payload pieces.
static void TcpPart_Layout(TcpPart_S *pstPart, const RtpUnit_S *pstUnit, AioTcpBlock_S *pstHeads, u32 u32Head,
                           AioTcpBlock_S *pstCopy, AioTcpPiece_S *pastPiece)
{
    u8 au8Rtp[TCP_HEAD_BATCH * RTP_HEAD_MAX];
    u8 *pu8Heads = aio_tcp_block_data(pstHeads);
    const u8 *pu8Copy = aio_tcp_block_data(pstCopy);
    for (u32 u32First = 0; u32First < pstUnit->u32Num; u32First += TCP_HEAD_BATCH) {
        u32 u32Count = pstUnit->u32Num - u32First < TCP_HEAD_BATCH ? pstUnit->u32Num - u32First : TCP_HEAD_BATCH;
        (void)rtp_packer_heads(pstPart->stBase.pstPacker, pstUnit, u32First, u32Count, au8Rtp);   // u32Head - 4
        for (u32 i = 0; i < u32Count; i++) {
            u32 u32Index = u32First + i;
            const u8 *pu8Data;
            u32 u32Len = rtp_unit_piece(pstUnit, u32Index, &pu8Data);
            u32 u32Frame = u32Head - TCP_FRAME_HEAD + u32Len;
            u8 *pu8 = pu8Heads + u32Index * u32Head;
            pu8[0] = '$';
            pu8[1] = (u8)pstPart->s32RtpChannel;
            pu8[2] = (u8)(u32Frame >> 8);
            pu8[3] = (u8)u32Frame;
            memcpy(pu8 + TCP_FRAME_HEAD, au8Rtp + i * RTP_HEAD_MAX, u32Head - TCP_FRAME_HEAD);
            pastPiece[2 * u32Index] = {pstHeads, pu8, u32Head};
            pastPiece[2 * u32Index + 1] = {pstCopy, pu8Copy + (pu8Data - pstUnit->pu8Unit), u32Len};
        }
    }
}

// Queues every packet of the unit on the connection: 0 or an errno value.
static s32 TcpPart_Queue(TcpPart_S *pstPart, const RtpUnit_S *pstUnit)
{
    u32 u32Head = TCP_FRAME_HEAD + RTP_HEADER_SIZE + pstUnit->u8PrefixLen;
    bool bOwn;
    AioTcpBlock_S *pstCopy = TcpUnit_Copy(pstUnit, &bOwn);
    AioTcpBlock_S *pstHeads = aio_tcp_block_create(pstUnit->u32Num * u32Head);
    AioTcpPiece_S *pastPiece = (AioTcpPiece_S *)malloc(2 * pstUnit->u32Num * sizeof(AioTcpPiece_S));
    s32 s32Ret = ENOMEM;
    if (pstCopy && pstHeads && pastPiece) {
        TcpPart_Layout(pstPart, pstUnit, pstHeads, u32Head, pstCopy, pastPiece);
        s32Ret = rtsp_server_queue_interleaved(pstPart->pvConnection, pastPiece, 2 * pstUnit->u32Num);
    }
    if (s32Ret == 0 && pstPart->stBase.pstRtp)
        rtp_onsent(pstPart->stBase.pstRtp, pstPart->stBase.pstPacker->u32Time, pstUnit->u32Num,
                   rtp_unit_bytes(pstUnit) - (u64)pstUnit->u32Num * RTP_HEADER_SIZE);
    free(pastPiece);
    if (pstHeads)
        aio_tcp_block_release(pstHeads);
    if (pstCopy && bOwn)
        aio_tcp_block_release(pstCopy);
    return s32Ret;
}

// Sends a unit cut for the part, whole or not at all. Video that could
// not go is dropped until a parameter set goes.
static s32 TcpPart_Send(TcpPart_S *pstPart, const RtpUnit_S *pstUnit)
{
    MediaPart_S *pstBase = &pstPart->stBase;
    pstBase->u64LastUs = pstUnit->u64TimeUs;
    if (pstPart->bDropping && !MediaPart_IsParamSet(pstBase, pstUnit))
        return -1;
    s64 s64Room = rtsp_server_interleaved_room(pstPart->pvConnection);
    u64 u64Need = rtp_unit_bytes(pstUnit) + (u64)pstUnit->u32Num * TCP_FRAME_HEAD;
    if (pstPart->bDropping && u64Need < TCP_RESUME_ROOM)
        u64Need = TCP_RESUME_ROOM;
    pstPart->bFailed = s64Room < 0 || (u64)s64Room < u64Need;
    if (!pstPart->bFailed) {
        s32 s32Ret = pstBase->bVideo ? TcpPart_Queue(pstPart, pstUnit) : rtp_packer_emit(pstBase->pstPacker, pstUnit);
        if (pstBase->bVideo && s32Ret != 0) {
            if (pstPart->s32Failures++ == 0)
                Debug_LogLimited(&s_stRefused, "[%s]: %s: channel %d: %s\n", log_Time(), __func__,
                                 pstPart->s32RtpChannel, strerror(s32Ret));
            pstPart->bFailed = true;
        } else if (pstBase->bVideo) {
            pstPart->s32Failures = 0;
        }
    }
    if (pstBase->bVideo && pstPart->bDropping != pstPart->bFailed) {
        // A peer sets the pace of these: one line a second at most.
        static DebugLimit_S s_stSlow, s_stResume;
        pstPart->bDropping = pstPart->bFailed;
        if (pstPart->bDropping)
            Debug_LogLimited(&s_stSlow, "[%s]: %s: channel %d: connection too slow, video dropped until the next key "
                             "frame\n", log_Time(), __func__, pstPart->s32RtpChannel);
        else
            Debug_LogLimited(&s_stResume, "[%s]: %s: channel %d resumes at a parameter set\n", log_Time(), __func__,
                             pstPart->s32RtpChannel);
    }
    return pstPart->bFailed ? -1 : 0;
}

// The part a unit may go to now: null with the input's result otherwise.
static TcpPart_S *TcpSource_Ready(MediaSourceTcp_S *pstSource, u32 u32Track, s32 *ps32Ret)
{
    TcpPart_S *pstPart = &pstSource->astPart[u32Track];
    *ps32Ret = pstSource->u32State != MEDIA_SOURCE_PLAYING ? 1 : -1;
    if (*ps32Ret == 1 || !pstPart->stBase.bCreated || pstPart->pvConnection == nullptr ||
        pstPart->s32RtpChannel < 0)
        return nullptr;
    return pstPart;
}

static s32 TcpSource_Input(void *pvSource, u32 u32Track, const void *pvData, u32 u32Len, u64 u64TimeUs)
{
    s32 s32Ret;
    TcpPart_S *pstPart = TcpSource_Ready((MediaSourceTcp_S *)pvSource, u32Track, &s32Ret);
    if (pstPart == nullptr)
        return s32Ret;
    RtpUnit_S stUnit;
    if (MediaPart_Cut(&pstPart->stBase, pvData, u32Len, u64TimeUs, &stUnit) < 0)
        return -1;
    return TcpPart_Send(pstPart, &stUnit);
}

static s32 TcpSource_VideoInput(void *pvSource, const void *pvData, u32 u32Len, u64 u64TimeUs)
{
    return TcpSource_Input(pvSource, MEDIA_TRACK_VIDEO, pvData, u32Len, u64TimeUs);
}

static s32 TcpSource_AudioInput(void *pvSource, const void *pvData, u32 u32Len, u64 u64TimeUs)
{
    return TcpSource_Input(pvSource, MEDIA_TRACK_AUDIO, pvData, u32Len, u64TimeUs);
}

static s32 TcpSource_VideoUnit(void *pvSource, const RtpUnit_S *pstUnit)
{
    s32 s32Ret;
    TcpPart_S *pstPart = TcpSource_Ready((MediaSourceTcp_S *)pvSource, MEDIA_TRACK_VIDEO, &s32Ret);
    if (pstPart == nullptr)
        return s32Ret;
    RtpUnit_S stOwn;
    const RtpUnit_S *pstMine = MediaPart_Unit(&pstPart->stBase, pstUnit, &stOwn);
    return pstMine ? TcpPart_Send(pstPart, pstMine) : -1;
}

static s32 TcpSource_GetRtpInfo(void *pvSource, u32 u32Track, u16 *pu16Seq, u32 *pu32Time)
{
    if (u32Track >= MEDIA_TRACKS)
        return -1;
    return MediaPart_RtpInfo(&((MediaSourceTcp_S *)pvSource)->astPart[u32Track].stBase, pu16Seq, pu32Time);
}

static s32 TcpSource_GetSsrc(void *pvSource, u32 u32Track, u32 *pu32Ssrc)
{
    if (u32Track >= MEDIA_TRACKS)
        return -1;
    return MediaPart_Ssrc(&((MediaSourceTcp_S *)pvSource)->astPart[u32Track].stBase, pu32Ssrc);
}

static s32 TcpSource_Interleaved(MediaSourceTcp_S *pstSource, u32 u32Track, s32 s32Rtp, s32 s32Rtcp)
{
    if (s32Rtp < 0 || s32Rtp > 255 || s32Rtcp < 0 || s32Rtcp > 255)
        return -1;
    pstSource->astPart[u32Track].s32RtpChannel = s32Rtp;
    pstSource->astPart[u32Track].s32RtcpChannel = s32Rtcp;
    return 0;
}

static s32 TcpSource_VideoInterleaved(void *pvSource, s32 s32Rtp, s32 s32Rtcp)
{
    return TcpSource_Interleaved((MediaSourceTcp_S *)pvSource, MEDIA_TRACK_VIDEO, s32Rtp, s32Rtcp);
}

static s32 TcpSource_AudioInterleaved(void *pvSource, s32 s32Rtp, s32 s32Rtcp)
{
    return TcpSource_Interleaved((MediaSourceTcp_S *)pvSource, MEDIA_TRACK_AUDIO, s32Rtp, s32Rtcp);
}

const MediaSourceFunc_S media_source_tcp_func = {
    TcpSource_Create,           TcpSource_Destroy,   TcpSource_VideoCreate, TcpSource_AudioCreate,
    TcpSource_Video,            TcpSource_Video,     TcpSource_Audio,       TcpSource_Audio,
    TcpSource_Play,             TcpSource_Pause,     TcpSource_VideoInput,  TcpSource_AudioInput,
    TcpSource_GetRtpInfo,       TcpSource_VideoInterleaved, TcpSource_AudioInterleaved, TcpSource_VideoUnit,
    TcpSource_GetSsrc,          nullptr,
};
