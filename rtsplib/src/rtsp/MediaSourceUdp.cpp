// The UDP media source: RTP to a client's ports or to a multicast group.
// A video unit goes to each source as one cut shared by all: the source
// writes only its own 12-byte headers and sends the packets of a unit with
// one sendmsg and UDP segmentation offload (sendmmsg where the kernel
// refuses it), from a connected socket.
#include <arpa/inet.h>
#include <atomic>
#include <initializer_list>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "core/Debug.h"
#include "core/Thread.h"
#include "rtsplib/src/rtsp/MediaSourcePriv.h"

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

#define UDP_BATCH_MAX   64                  // segments the kernel takes in one send
#define UDP_GSO_BYTES   (65535 - 20 - 8)    // one IPv4 datagram

struct MediaSourceUdp_S;

struct UdpPart_S {
    MediaPart_S stBase;                 // first: the packer's callback parameter
    std::atomic<s32> s32RtpSocket;      // -1 until set; read by the drain thread
    std::atomic<s32> s32RtcpSocket;
    struct sockaddr_in stRtpDest;
    struct sockaddr_in stRtcpDest;
    bool bConnected;                    // the RTP socket is connected to stRtpDest
    bool bNoGso;                        // the kernel refused segmentation offload
    bool bFailing;                      // the last send failed (logged once per run)
    MediaSourceUdp_S *pstSource;
};

struct MediaSourceUdp_S {
    std::atomic<u32> u32State;          // MediaSourceState_E
    UdpPart_S astPart[MEDIA_TRACKS];
    bool bMulticast;
    MainThread_S stDrain;               // multicast only: empties the group sockets
};

// Scratch of the sending thread: heads and vectors of one batch.
static thread_local u8 s_au8Heads[UDP_BATCH_MAX * RTP_HEAD_MAX];
static thread_local struct iovec s_astVec[2 * UDP_BATCH_MAX];
static thread_local struct mmsghdr s_astMsg[UDP_BATCH_MAX];

// Players come and go, and ICMP reports of a closed port fail every other
// send: a failing part is logged once, and all of them through one limit.
static DebugLimit_S s_stSendLimit;

static void UdpPart_Result(UdpPart_S *pstPart, bool bOk, s32 s32Errno)
{
    if (!bOk && !pstPart->bFailing)
        Debug_LogLimited(&s_stSendLimit, "[%s]: udp_RTPPacket err! %s\n", log_Time(), strerror(s32Errno));
    pstPart->bFailing = !bOk;
}

static void UdpPart_Address(UdpPart_S *pstPart, struct msghdr *pstMsg)
{
    if (!pstPart->bConnected) {
        pstMsg->msg_name = &pstPart->stRtpDest;
        pstMsg->msg_namelen = sizeof(pstPart->stRtpDest);
    }
}

// Sends u32Count packets, each two vectors (head, payload) in s_astVec;
// returns the packets sent.
static u32 UdpPart_SendBatch(UdpPart_S *pstPart, u32 u32Count, u32 u32Segment)
{
    s32 s32Fd = pstPart->s32RtpSocket;
    if (u32Count > 1 && !pstPart->bNoGso) {
        union {
            char ac[CMSG_SPACE(sizeof(u16))];
            struct cmsghdr stAlign;
        } uCtl;
        struct msghdr stMsg;
        memset(&stMsg, 0, sizeof(stMsg));
        memset(&uCtl, 0, sizeof(uCtl));
        UdpPart_Address(pstPart, &stMsg);
        stMsg.msg_iov = s_astVec;
        stMsg.msg_iovlen = 2 * u32Count;
        stMsg.msg_control = uCtl.ac;
        stMsg.msg_controllen = sizeof(uCtl.ac);
        struct cmsghdr *pstCmsg = CMSG_FIRSTHDR(&stMsg);
        pstCmsg->cmsg_level = SOL_UDP;
        pstCmsg->cmsg_type = UDP_SEGMENT;
        pstCmsg->cmsg_len = CMSG_LEN(sizeof(u16));
        u16 u16Segment = (u16)u32Segment;
        memcpy(CMSG_DATA(pstCmsg), &u16Segment, sizeof(u16Segment));
        if (sendmsg(s32Fd, &stMsg, MSG_DONTWAIT) >= 0) {
            UdpPart_Result(pstPart, true, 0);
            return u32Count;
        }
        if (errno != EINVAL && errno != EIO && errno != EMSGSIZE && errno != ENOPROTOOPT && errno != EOPNOTSUPP) {
            UdpPart_Result(pstPart, false, errno);
            return 0;
        }
        Debug_Log("[%s]: %s: no UDP segmentation offload (%s), sending packet by packet\n", log_Time(), __func__,
                  strerror(errno));
        pstPart->bNoGso = true;
    }
    for (u32 i = 0; i < u32Count; i++) {
        memset(&s_astMsg[i], 0, sizeof(s_astMsg[i]));
        UdpPart_Address(pstPart, &s_astMsg[i].msg_hdr);
        s_astMsg[i].msg_hdr.msg_iov = &s_astVec[2 * i];
        s_astMsg[i].msg_hdr.msg_iovlen = 2;
    }
    u32 u32Sent = 0;
    while (u32Sent < u32Count) {
        s32 n = sendmmsg(s32Fd, &s_astMsg[u32Sent], u32Count - u32Sent, MSG_DONTWAIT);
        if (n <= 0) {
            UdpPart_Result(pstPart, false, n < 0 ? errno : EAGAIN);
            return u32Sent;
        }
        u32Sent += (u32)n;
    }
    UdpPart_Result(pstPart, true, 0);
    return u32Sent;
}

// Sends pieces [u32From, u32To) of a unit.
static s32 UdpPart_SendUnit(UdpPart_S *pstPart, const RtpUnit_S *pstUnit, u32 u32From, u32 u32To)
{
    RtpPacker_S *pstPacker = pstPart->stBase.pstPacker;
    u32 u32Segment = RTP_HEADER_SIZE + pstUnit->u8PrefixLen + pstUnit->u32Chunk;
    u32 u32Batch = UDP_GSO_BYTES / u32Segment;
    if (u32Batch > UDP_BATCH_MAX)
        u32Batch = UDP_BATCH_MAX;
    u32 u32Sent = 0;
    u64 u64Payload = 0;
    for (u32 u32First = u32From; u32First < u32To; u32First += u32Batch) {
        u32 u32Count = u32To - u32First < u32Batch ? u32To - u32First : u32Batch;
        u32 u32Head = rtp_packer_heads(pstPacker, pstUnit, u32First, u32Count, s_au8Heads);
        u64 u64Bytes = 0;
        for (u32 i = 0; i < u32Count; i++) {
            const u8 *pu8Data;
            u32 u32Len = rtp_unit_piece(pstUnit, u32First + i, &pu8Data);
            s_astVec[2 * i].iov_base = s_au8Heads + i * RTP_HEAD_MAX;
            s_astVec[2 * i].iov_len = u32Head;
            s_astVec[2 * i + 1].iov_base = (void *)pu8Data;
            s_astVec[2 * i + 1].iov_len = u32Len;
            u64Bytes += u32Head - RTP_HEADER_SIZE + u32Len;
        }
        u32 n = UdpPart_SendBatch(pstPart, u32Count, u32Segment);
        u32Sent += n;
        if (n == u32Count)
            u64Payload += u64Bytes;
    }
    if (pstPart->stBase.pstRtp && u32Sent > 0)
        rtp_onsent(pstPart->stBase.pstRtp, pstPacker->u32Time, u32Sent, u64Payload);
    pstPart->stBase.u64LastUs = pstUnit->u64TimeUs;
    return u32Sent == u32To - u32From ? 0 : -1;
}

// The packer's send of one packet (audio).
static s32 UdpPart_OnPacket(void *pvPart, const void *pvPacket, u32 u32Bytes, u32 u32Time)
{
    (void)u32Time;   // the packet carries it
    UdpPart_S *pstPart = (UdpPart_S *)pvPart;
    struct iovec stVec = {(void *)pvPacket, u32Bytes};
    struct msghdr stMsg;
    memset(&stMsg, 0, sizeof(stMsg));
    UdpPart_Address(pstPart, &stMsg);
    stMsg.msg_iov = &stVec;
    stMsg.msg_iovlen = 1;
    bool bOk = sendmsg(pstPart->s32RtpSocket, &stMsg, MSG_DONTWAIT) == (ssize_t)u32Bytes;
    UdpPart_Result(pstPart, bOk, errno);
    if (bOk && pstPart->stBase.pstRtp)
        (void)rtp_onsend(pstPart->stBase.pstRtp, pvPacket, u32Bytes);   // our own header: always valid
    return bOk ? 0 : -1;
}

static void *UdpSource_Drain(void *pvSource)
{
    MediaSourceUdp_S *pstSource = (MediaSourceUdp_S *)pvSource;
    static thread_local u8 s_au8Drop[MEDIA_DRAIN_BUF];
    while (MAIN_Thread_Running(&pstSource->stDrain)) {
        if (pstSource->u32State != MEDIA_SOURCE_PLAYING) {
            (void)MAIN_Thread_Wait(&pstSource->stDrain, MEDIA_DRAIN_IDLE_MS);
            continue;
        }
        struct pollfd astFd[2 * MEDIA_TRACKS + 1];
        nfds_t n = 0;
        astFd[n++] = {MAIN_Thread_WakeFd(&pstSource->stDrain), POLLIN, 0};
        for (UdpPart_S &stPart : pstSource->astPart) {
            for (s32 s32Fd : {stPart.s32RtpSocket.load(), stPart.s32RtcpSocket.load()}) {
                if (s32Fd >= 0)
                    astFd[n++] = {s32Fd, POLLIN, 0};
            }
        }
        if (poll(astFd, n, MEDIA_DRAIN_POLL_MS) < 0 && errno != EINTR) {
            Debug_Log("[%s]: %s: poll: %s\n", log_Time(), __func__, strerror(errno));
            (void)MAIN_Thread_Wait(&pstSource->stDrain, MEDIA_DRAIN_IDLE_MS);
            continue;
        }
        for (nfds_t i = 1; i < n; i++) {
            if (!(astFd[i].revents & POLLIN))
                continue;
            while (recv(astFd[i].fd, s_au8Drop, sizeof(s_au8Drop), MSG_DONTWAIT) >= 0) {
            }
            static DebugLimit_S s_stLimit;   // anyone may send to a group
            if (errno != EAGAIN && errno != EWOULDBLOCK)
                Debug_LogLimited(&s_stLimit, "[%s]: recvfrom err! %s\n", log_Time(), strerror(errno));
        }
    }
    return nullptr;
}

static void UdpSource_Destroy(void *pvSource)
{
    MediaSourceUdp_S *pstSource = (MediaSourceUdp_S *)pvSource;
    MAIN_Thread_Stop(&pstSource->stDrain);
    for (UdpPart_S &stPart : pstSource->astPart)
        MediaPart_Destroy(&stPart.stBase);
    delete pstSource;
}

static void *UdpSource_Create(bool bMulticast)
{
    MediaSourceUdp_S *pstSource = new (std::nothrow) MediaSourceUdp_S();
    if (pstSource == nullptr) {
        Debug_Log("[%s]: malloc err!\n", log_Time());
        return nullptr;
    }
    for (UdpPart_S &stPart : pstSource->astPart) {
        stPart.s32RtpSocket = -1;
        stPart.s32RtcpSocket = -1;
        stPart.pstSource = pstSource;
    }
    pstSource->bMulticast = bMulticast;
    if (!bMulticast)
        return pstSource;
    if (MAIN_Thread_Start(&pstSource->stDrain, UdpSource_Drain, pstSource, nullptr) != 0) {
        UdpSource_Destroy(pstSource);
        return nullptr;
    }
    return pstSource;
}

static s32 UdpSource_PartCreate(void *pvSource, u32 u32Track, u8 u8PayloadType, u32 u32Clock)
{
    static const RtpPackerCallback_S s_stCallback = {MediaPart_Alloc, MediaPart_Free, UdpPart_OnPacket};
    UdpPart_S *pstPart = &((MediaSourceUdp_S *)pvSource)->astPart[u32Track];
    bool bVideo = u32Track == MEDIA_TRACK_VIDEO;
    return MediaPart_Create(&pstPart->stBase, bVideo, u8PayloadType, u32Clock,
                            bVideo ? MEDIA_UDP_VIDEO_PAYLOAD : MEDIA_UDP_AUDIO_PAYLOAD, "UDP", &s_stCallback, pstPart);
}

static s32 UdpSource_VideoCreate(void *pvSource, u8 u8PayloadType, u32 u32Clock)
{
    return UdpSource_PartCreate(pvSource, MEDIA_TRACK_VIDEO, u8PayloadType, u32Clock);
}

static s32 UdpSource_AudioCreate(void *pvSource, u8 u8PayloadType, u32 u32Clock)
{
    return UdpSource_PartCreate(pvSource, MEDIA_TRACK_AUDIO, u8PayloadType, u32Clock);
}

static s32 UdpSource_Address(const char *pszAddr, u16 u16Port, struct sockaddr_in *pstAddr)
{
    memset(pstAddr, 0, sizeof(*pstAddr));
    pstAddr->sin_family = AF_INET;
    pstAddr->sin_port = htons(u16Port);
    if (pszAddr == nullptr || inet_pton(AF_INET, pszAddr, &pstAddr->sin_addr) != 1 || u16Port == 0) {
        Debug_Log("[%s]: %s: bad destination %s:%u\n", log_Time(), __func__, pszAddr ? pszAddr : "(null)", u16Port);
        return -1;
    }
    return 0;
}

static s32 UdpSource_Rtp(MediaSourceUdp_S *pstSource, u32 u32Track, const char *pszAddr, s32 s32Socket,
                         u16 u16Port)
{
    UdpPart_S *pstPart = &pstSource->astPart[u32Track];
    if (s32Socket < 0 || UdpSource_Address(pszAddr, u16Port, &pstPart->stRtpDest) < 0)
        return -1;
    // A connected socket spares the route lookup of every send; one that
    // cannot connect still sends with the address.
    pstPart->bConnected = connect(s32Socket, (struct sockaddr *)&pstPart->stRtpDest, sizeof(pstPart->stRtpDest)) == 0;
    if (!pstPart->bConnected)
        Debug_Log("[%s]: %s: connect %s:%u: %s\n", log_Time(), __func__, pszAddr, u16Port, strerror(errno));
    pstPart->s32RtpSocket = s32Socket;
    pstPart->bFailing = false;
    return 0;
}

static s32 UdpSource_Rtcp(MediaSourceUdp_S *pstSource, u32 u32Track, const char *pszAddr, s32 s32Socket,
                          u16 u16Port)
{
    UdpPart_S *pstPart = &pstSource->astPart[u32Track];
    if (UdpSource_Address(pszAddr, u16Port, &pstPart->stRtcpDest) < 0)
        return -1;
    pstPart->s32RtcpSocket = s32Socket;
    return 0;
}

static s32 UdpSource_VideoRtp(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection)
{
    (void)pvConnection;   // UDP
    return UdpSource_Rtp((MediaSourceUdp_S *)pvSource, MEDIA_TRACK_VIDEO, pszAddr, s32Socket, u16Port);
}

static s32 UdpSource_VideoRtcp(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection)
{
    (void)pvConnection;   // UDP
    return UdpSource_Rtcp((MediaSourceUdp_S *)pvSource, MEDIA_TRACK_VIDEO, pszAddr, s32Socket, u16Port);
}

static s32 UdpSource_AudioRtp(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection)
{
    (void)pvConnection;   // UDP
    return UdpSource_Rtp((MediaSourceUdp_S *)pvSource, MEDIA_TRACK_AUDIO, pszAddr, s32Socket, u16Port);
}

static s32 UdpSource_AudioRtcp(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection)
{
    (void)pvConnection;   // UDP
    return UdpSource_Rtcp((MediaSourceUdp_S *)pvSource, MEDIA_TRACK_AUDIO, pszAddr, s32Socket, u16Port);
}

static s32 UdpSource_Play(void *pvSource)
{
    ((MediaSourceUdp_S *)pvSource)->u32State = MEDIA_SOURCE_PLAYING;
    return 0;
}

static s32 UdpSource_Pause(void *pvSource)
{
    ((MediaSourceUdp_S *)pvSource)->u32State = MEDIA_SOURCE_PAUSED;
    return 0;
}

// The part a unit may go to now: null with the input's result otherwise.
static UdpPart_S *UdpSource_Ready(MediaSourceUdp_S *pstSource, u32 u32Track, s32 *ps32Ret)
{
    UdpPart_S *pstPart = &pstSource->astPart[u32Track];
    *ps32Ret = pstSource->u32State != MEDIA_SOURCE_PLAYING ? 1 : -1;
    if (*ps32Ret == 1 || !pstPart->stBase.bCreated || pstPart->s32RtpSocket < 0)
        return nullptr;
    return pstPart;
}

static s32 UdpSource_VideoPieces(void *pvSource, const RtpUnit_S *pstUnit, u32 u32From, u32 u32To)
{
    s32 s32Ret;
    UdpPart_S *pstPart = UdpSource_Ready((MediaSourceUdp_S *)pvSource, MEDIA_TRACK_VIDEO, &s32Ret);
    if (pstPart == nullptr)
        return s32Ret;
    if (u32From >= u32To || u32To > pstUnit->u32Num)
        return -1;
    RtpUnit_S stOwn;
    const RtpUnit_S *pstMine = MediaPart_Unit(&pstPart->stBase, pstUnit, &stOwn);
    if (pstMine == nullptr)
        return -1;
    if (pstMine != pstUnit) {
        // Cut otherwise: the same share of its own pieces, so that the
        // bursts of the unit still cover it once and in order.
        u32From = (u32)((u64)u32From * pstMine->u32Num / pstUnit->u32Num);
        u32To = (u32)((u64)u32To * pstMine->u32Num / pstUnit->u32Num);
    }
    return UdpPart_SendUnit(pstPart, pstMine, u32From, u32To);
}

static s32 UdpSource_VideoUnit(void *pvSource, const RtpUnit_S *pstUnit)
{
    return UdpSource_VideoPieces(pvSource, pstUnit, 0, pstUnit->u32Num);
}

static s32 UdpSource_VideoInput(void *pvSource, const void *pvData, u32 u32Len, u64 u64TimeUs)
{
    s32 s32Ret;
    UdpPart_S *pstPart = UdpSource_Ready((MediaSourceUdp_S *)pvSource, MEDIA_TRACK_VIDEO, &s32Ret);
    if (pstPart == nullptr)
        return s32Ret;
    RtpUnit_S stUnit;
    if (MediaPart_Cut(&pstPart->stBase, pvData, u32Len, u64TimeUs, &stUnit) < 0)
        return -1;
    return UdpPart_SendUnit(pstPart, &stUnit, 0, stUnit.u32Num);
}

static s32 UdpSource_AudioInput(void *pvSource, const void *pvData, u32 u32Len, u64 u64TimeUs)
{
    s32 s32Ret;
    UdpPart_S *pstPart = UdpSource_Ready((MediaSourceUdp_S *)pvSource, MEDIA_TRACK_AUDIO, &s32Ret);
    if (pstPart == nullptr)
        return s32Ret;
    RtpPacker_S *pstPacker = pstPart->stBase.pstPacker;
    s32Ret = pstPacker->pstFunc->pfnInput(pstPacker, pvData, u32Len, u64TimeUs);
    pstPart->stBase.u64LastUs = u64TimeUs;
    return s32Ret == 0 && !pstPart->bFailing ? 0 : -1;
}

static s32 UdpSource_GetRtpInfo(void *pvSource, u32 u32Track, u16 *pu16Seq, u32 *pu32Time)
{
    if (u32Track >= MEDIA_TRACKS)
        return -1;
    return MediaPart_RtpInfo(&((MediaSourceUdp_S *)pvSource)->astPart[u32Track].stBase, pu16Seq, pu32Time);
}

static s32 UdpSource_GetSsrc(void *pvSource, u32 u32Track, u32 *pu32Ssrc)
{
    if (u32Track >= MEDIA_TRACKS)
        return -1;
    return MediaPart_Ssrc(&((MediaSourceUdp_S *)pvSource)->astPart[u32Track].stBase, pu32Ssrc);
}

const MediaSourceFunc_S media_source_udp_func = {
    UdpSource_Create,     UdpSource_Destroy,    UdpSource_VideoCreate, UdpSource_AudioCreate,
    UdpSource_VideoRtp,   UdpSource_VideoRtcp,  UdpSource_AudioRtp,    UdpSource_AudioRtcp,
    UdpSource_Play,       UdpSource_Pause,      UdpSource_VideoInput,  UdpSource_AudioInput,
    UdpSource_GetRtpInfo, nullptr,              nullptr,               UdpSource_VideoUnit,
    UdpSource_GetSsrc,    UdpSource_VideoPieces,
};
