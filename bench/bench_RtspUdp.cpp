// Streams 8 Mbit/s 1080p60 H.264 to N UDP sessions of the RTSP service on
// loopback and reports, per N: packets delivered against expected, CPU
// seconds of this process per delivered Gbit, and the 99th percentile time
// from a frame's push to its last send. Beside it, in the same run, the
// floor: the same packets sent by a bare loop, one sendmsg per unit and
// session with UDP segmentation offload, and one sendmmsg per frame and
// session. Receivers count in a child process, so their CPU is not ours.
// Last, the pacing of a key frame as one UDP player on loopback sees it.
// Run it in a namespace of its own: tools/box isolate build/bench/bench_rtspudp
#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/udp.h>
#include <signal.h>
#include <string>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include "rtsp/RtspService.h"
#include "rtsplib/include/RtpPace.h"
#include "rtsplib/src/rtp/RtpPacker.h"

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

#define BENCH_WIDTH     1920
#define BENCH_HEIGHT    1080
#define BENCH_FPS       60
#define BENCH_KBPS      8000
#define BENCH_X264_KBPS 7450    // the encoder overshoots its target by about a tenth
#define BENCH_PICTURES  120
#define BENCH_GOP       60
#define BENCH_SECONDS   3
#define BENCH_PAYLOAD   1450
#define BENCH_BATCH     44      // segments of 1462 bytes in one datagram of 64 KiB
#define BENCH_PORT      554
#define BENCH_KEYS      30      // key frames whose pacing is measured
#define BENCH_KEY_PKTS  128     // packets of each, as a key frame of the shipped main stream

typedef std::vector<u8> Bytes;

struct Picture {
    std::vector<Bytes> vecNal;   // with start codes
};

struct Result {
    u64 u64Expected, u64Packets, u64Bytes;
    double dCpu, dP99Us;
};

static double Bench_Cpu(void)
{
    struct timespec stTs;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &stTs);
    return (double)stTs.tv_sec + stTs.tv_nsec / 1e9;
}

static struct sockaddr_in Bench_Loopback(u16 u16Port)
{
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return stAddr;
}

static std::vector<Picture> Bench_Encode(void)
{
    std::vector<Picture> vecPic;
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec *pstCodec = avcodec_find_encoder_by_name("libx264");
    AVCodecContext *pstCtx = pstCodec ? avcodec_alloc_context3(pstCodec) : nullptr;
    if (pstCtx == nullptr)
        return vecPic;
    pstCtx->width = BENCH_WIDTH;
    pstCtx->height = BENCH_HEIGHT;
    pstCtx->time_base = AVRational{1, BENCH_FPS};
    pstCtx->framerate = AVRational{BENCH_FPS, 1};
    pstCtx->pix_fmt = AV_PIX_FMT_YUV420P;
    pstCtx->bit_rate = BENCH_X264_KBPS * 1000;
    pstCtx->rc_max_rate = BENCH_X264_KBPS * 1000;
    pstCtx->rc_buffer_size = BENCH_X264_KBPS * 1000;
    pstCtx->gop_size = BENCH_GOP;
    pstCtx->max_b_frames = 0;
    av_opt_set(pstCtx->priv_data, "preset", "ultrafast", 0);
    av_opt_set(pstCtx->priv_data, "x264-params", "sliced-threads=0", 0);
    AVFrame *pstFrame = av_frame_alloc();
    AVPacket *pstPkt = av_packet_alloc();
    if (avcodec_open2(pstCtx, pstCodec, nullptr) == 0 && pstFrame && pstPkt) {
        pstFrame->format = pstCtx->pix_fmt;
        pstFrame->width = BENCH_WIDTH;
        pstFrame->height = BENCH_HEIGHT;
        av_frame_get_buffer(pstFrame, 0);
        u32 u32Noise = 1;
        for (int n = 0; n <= BENCH_PICTURES; n++) {
            av_frame_make_writable(pstFrame);
            for (int p = 0; p < 3; p++)
                for (int y = 0; y < (p ? BENCH_HEIGHT / 2 : BENCH_HEIGHT); y++)
                    for (int x = 0; x < (p ? BENCH_WIDTH / 2 : BENCH_WIDTH); x++) {
                        u32Noise = u32Noise * 1103515245u + 12345u;
                        pstFrame->data[p][y * pstFrame->linesize[p] + x] = (u8)(x + y + n * 4 + (u32Noise >> 26));
                    }
            pstFrame->pts = n;
            avcodec_send_frame(pstCtx, n < BENCH_PICTURES ? pstFrame : nullptr);
            while (avcodec_receive_packet(pstCtx, pstPkt) == 0) {
                Picture stPic;
                std::vector<size_t> vecStart;
                for (int i = 0; i + 3 <= pstPkt->size; i++) {
                    if (pstPkt->data[i] == 0 && pstPkt->data[i + 1] == 0 && pstPkt->data[i + 2] == 1) {
                        vecStart.push_back(i > 0 && pstPkt->data[i - 1] == 0 ? i - 1 : i);
                        i += 2;
                    }
                }
                for (size_t k = 0; k < vecStart.size(); k++) {
                    size_t end = k + 1 < vecStart.size() ? vecStart[k + 1] : (size_t)pstPkt->size;
                    u8 u8Type = pstPkt->data[vecStart[k] + (pstPkt->data[vecStart[k] + 2] == 1 ? 3 : 4)] & 0x1F;
                    if (u8Type != 6)   // the encoder's own note is no part of the stream
                        stPic.vecNal.push_back(Bytes(pstPkt->data + vecStart[k], pstPkt->data + end));
                }
                vecPic.push_back(stPic);
                av_packet_unref(pstPkt);
            }
        }
    }
    av_packet_free(&pstPkt);
    av_frame_free(&pstFrame);
    avcodec_free_context(&pstCtx);
    return vecPic;
}

// The counting receivers: a child process with N sockets.
struct Receivers {
    pid_t pid = -1;
    int s32Ctl = -1, s32Result = -1;
    std::vector<u16> vecPort;
};

static void Receivers_Child(int s32Ctl, int s32Result, u32 u32Num)
{
    int s32Ep = epoll_create1(0);
    std::vector<int> vecFd;
    for (u32 i = 0; i < u32Num; i++) {
        int s32Fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        int s32Buf = 8 << 20;
        if (setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUFFORCE, &s32Buf, sizeof(s32Buf)) < 0)
            setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32Buf, sizeof(s32Buf));
        struct sockaddr_in stAddr = Bench_Loopback(0);
        bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr));
        socklen_t u32Len = sizeof(stAddr);
        getsockname(s32Fd, (struct sockaddr *)&stAddr, &u32Len);
        u16 u16Port = ntohs(stAddr.sin_port);
        if (write(s32Result, &u16Port, sizeof(u16Port)) != sizeof(u16Port))
            _exit(1);
        struct epoll_event stEv = {EPOLLIN, {.u32 = i}};
        epoll_ctl(s32Ep, EPOLL_CTL_ADD, s32Fd, &stEv);
        vecFd.push_back(s32Fd);
    }
    struct epoll_event stCtl = {EPOLLIN, {.u32 = u32Num}};
    epoll_ctl(s32Ep, EPOLL_CTL_ADD, s32Ctl, &stCtl);
    static u8 s_aau8Buf[64][2048];
    struct mmsghdr astMsg[64];
    struct iovec astVec[64];
    u64 au64Count[2] = {0, 0};   // packets, bytes
    auto Drain = [&](int s32Fd) {
        for (;;) {
            for (int k = 0; k < 64; k++) {
                astVec[k] = {s_aau8Buf[k], sizeof(s_aau8Buf[k])};
                memset(&astMsg[k], 0, sizeof(astMsg[k]));
                astMsg[k].msg_hdr.msg_iov = &astVec[k];
                astMsg[k].msg_hdr.msg_iovlen = 1;
            }
            int n = recvmmsg(s32Fd, astMsg, 64, MSG_DONTWAIT, nullptr);
            if (n <= 0)
                return;
            au64Count[0] += (u64)n;
            for (int k = 0; k < n; k++)
                au64Count[1] += astMsg[k].msg_len;
        }
    };
    for (bool bRun = true; bRun;) {
        struct epoll_event astEv[64];
        int n = epoll_wait(s32Ep, astEv, 64, 100);
        for (int k = 0; k < n; k++) {
            if (astEv[k].data.u32 == u32Num)
                bRun = false;
            else
                Drain(vecFd[astEv[k].data.u32]);
        }
    }
    for (int s32Fd : vecFd)
        Drain(s32Fd);
    if (write(s32Result, au64Count, sizeof(au64Count)) != sizeof(au64Count))
        _exit(1);
    _exit(0);
}

static Receivers Receivers_Start(u32 u32Num)
{
    Receivers stRx;
    int as32Ctl[2], as32Result[2];
    if (pipe(as32Ctl) < 0 || pipe(as32Result) < 0)
        return stRx;
    stRx.pid = fork();
    if (stRx.pid == 0) {
        close(as32Ctl[1]);
        close(as32Result[0]);
        Receivers_Child(as32Ctl[0], as32Result[1], u32Num);
    }
    close(as32Ctl[0]);
    close(as32Result[1]);
    stRx.s32Ctl = as32Ctl[1];
    stRx.s32Result = as32Result[0];
    stRx.vecPort.resize(u32Num);
    for (u16 &u16Port : stRx.vecPort) {
        if (read(stRx.s32Result, &u16Port, sizeof(u16Port)) != sizeof(u16Port))
            u16Port = 0;
    }
    return stRx;
}

static void Receivers_Stop(Receivers *pstRx, Result *pstResult)
{
    u64 au64Count[2] = {0, 0};
    usleep(300000);   // what is on its way arrives
    if (write(pstRx->s32Ctl, "x", 1) != 1 || read(pstRx->s32Result, au64Count, sizeof(au64Count)) != sizeof(au64Count))
        fprintf(stderr, "receivers lost\n");
    waitpid(pstRx->pid, nullptr, 0);
    close(pstRx->s32Ctl);
    close(pstRx->s32Result);
    pstResult->u64Packets = au64Count[0];
    pstResult->u64Bytes = au64Count[1];
}

// Pushes the pictures at their pace for BENCH_SECONDS through pfnFrame;
// CPU and the time of each frame's push.
template <typename Proc> static void Bench_Pace(const std::vector<Picture> &vecPic, Result *pstResult, Proc pfnFrame)
{
    std::vector<double> vecUs;
    auto tStart = std::chrono::steady_clock::now();
    double dCpu = Bench_Cpu();
    for (u32 n = 0; n < BENCH_SECONDS * BENCH_FPS; n++) {
        std::this_thread::sleep_until(tStart + std::chrono::microseconds((u64)n * 1000000 / BENCH_FPS));
        auto t0 = std::chrono::steady_clock::now();
        pfnFrame(vecPic[n % vecPic.size()], (u64)n * 1000000 / BENCH_FPS);
        vecUs.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
    }
    pstResult->dCpu = Bench_Cpu() - dCpu;
    std::sort(vecUs.begin(), vecUs.end());
    pstResult->dP99Us = vecUs[vecUs.size() * 99 / 100];
}

typedef std::vector<std::vector<RtpUnit_S>> Units;   // per picture

// Each picture's NALs cut into RTP units, as the packer cuts them.
static Units Bench_Cut(const std::vector<Picture> &vecPic)
{
    Units vecUnits;
    for (const Picture &stPic : vecPic) {
        vecUnits.emplace_back();
        for (const Bytes &vecNal : stPic.vecNal) {
            RtpUnit_S stUnit;
            if (rtp_unit_cut(rtp_h264_packer(), vecNal.data(), (u32)vecNal.size(), BENCH_PAYLOAD, 0, &stUnit) == 0)
                vecUnits.back().push_back(stUnit);
        }
    }
    return vecUnits;
}

// Packets of one session over the whole run.
static u64 Bench_Packets(const Units &vecUnits)
{
    u64 u64Num = 0;
    for (u32 n = 0; n < BENCH_SECONDS * BENCH_FPS; n++)
        for (const RtpUnit_S &stUnit : vecUnits[n % vecUnits.size()])
            u64Num += stUnit.u32Num;
    return u64Num;
}

// The service's side: a video-only stream whose table answers from here.
struct BenchStream {
    RtspMediaStreamAttr_S stAttr;
    RtspFrameObserver_S stObserver;
    RtspParamSet_S stSps, stPps;
};

static BenchStream *Bench_Of(void *pvHalf)
{
    return (BenchStream *)((RtspMediaVideoAttr_S *)pvHalf)->pvHandle;
}

static s32 Bench_Info(void *, RtspMediaVideoInfo_S *pstInfo)
{
    *pstInfo = {BENCH_WIDTH, BENCH_HEIGHT, BENCH_FPS, BENCH_KBPS, "234.0.100.1", 5002, RTSP_PAYLOAD_H264};
    return 0;
}

static s32 Bench_Stub(void *)
{
    return 0;
}

static s32 Bench_Add(void *pvHalf, const RtspFrameObserver_S *pstObserver)
{
    Bench_Of(pvHalf)->stObserver = *pstObserver;
    return 0;
}

static s32 Bench_Sets(void *pvHalf, RtspParamSet_S *pstSps, RtspParamSet_S *pstPps)
{
    *pstSps = Bench_Of(pvHalf)->stSps;
    *pstPps = Bench_Of(pvHalf)->stPps;
    return 0;
}

static s32 Bench_Vps(void *, RtspParamSet_S *pstVps)
{
    pstVps->u32Len = 0;
    return 0;
}

static void Bench_SetParam(RtspParamSet_S *pstSet, const Bytes &vec)
{
    pstSet->u32Len = (u32)std::min(vec.size(), sizeof(pstSet->au8Data));
    memcpy(pstSet->au8Data, vec.data(), pstSet->u32Len);
}

static std::string Bench_Ask(int s32Fd, const std::string &strReq)
{
    if (send(s32Fd, strReq.data(), strReq.size(), MSG_NOSIGNAL) != (ssize_t)strReq.size())
        return "";
    std::string str;
    char c;
    while ((str.size() < 4 || str.compare(str.size() - 4, 4, "\r\n\r\n") != 0) && recv(s32Fd, &c, 1, 0) == 1)
        str += c;
    return str;
}

// A player of the stream on the receivers' port: its connection.
static int Bench_Player(u16 u16Port)
{
    int s32Fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in stAddr = Bench_Loopback(BENCH_PORT);
    if (connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        close(s32Fd);
        return -1;
    }
    std::string strReply = Bench_Ask(s32Fd, "SETUP rtsp://127.0.0.1/live/main/av_stream/track1 RTSP/1.0\r\nCSeq: 1\r\n"
                                            "Transport: RTP/AVP;unicast;client_port=" +
                                                std::to_string(u16Port) + "-" + std::to_string(u16Port + 1) +
                                                "\r\n\r\n");
    size_t pos = strReply.find("Session: ");
    std::string strSession = pos == std::string::npos ? "" : strReply.substr(pos + 9, strReply.find("\r\n", pos) - pos - 9);
    strReply = Bench_Ask(s32Fd, "PLAY rtsp://127.0.0.1/live/main/av_stream RTSP/1.0\r\nCSeq: 2\r\nSession: " +
                                    strSession + "\r\n\r\n");
    if (strReply.compare(0, 15, "RTSP/1.0 200 OK") != 0) {
        close(s32Fd);
        return -1;
    }
    return s32Fd;
}

static Result Bench_Service(RtspService_S *pstService, BenchStream *pstStream, const std::vector<Picture> &vecPic,
                            const Units &vecUnits, u32 u32Num)
{
    Result stResult = {};
    Receivers stRx = Receivers_Start(u32Num);
    std::vector<int> vecPlayer;
    for (u16 u16Port : stRx.vecPort)
        vecPlayer.push_back(Bench_Player(u16Port));
    stResult.u64Expected = Bench_Packets(vecUnits) * u32Num;
    Bench_Pace(vecPic, &stResult, [&](const Picture &stPic, u64 u64Us) {
        for (const Bytes &vecNal : stPic.vecNal) {
            u8 u8Type = vecNal[vecNal[2] == 1 ? 3 : 4] & 0x1F;
            RtspVideoFrame_S stFrame = {vecNal.data(), (u32)vecNal.size(), u64Us, 0, u8Type == 5 || u8Type >= 7,
                                        RTSP_PAYLOAD_H264, u8Type == 5 ? 2u : u8Type};
            pstStream->stObserver.pfnOnFrame(&pstStream->stObserver, &stFrame);
        }
    });
    Receivers_Stop(&stRx, &stResult);
    for (int s32Fd : vecPlayer)
        close(s32Fd);
    u32 u32Left = 1;
    for (int i = 0; i < 500 && u32Left; i++) {
        usleep(10000);
        RTSPSEVER_GetMediaStreamConnect(pstService, "live/main/av_stream", &u32Left);
    }
    return stResult;
}

// The floor: the same packets from N connected sockets, with nothing but
// the header writing and the sends.
enum FloorKind_E { FLOOR_GSO, FLOOR_MMSG };

static void Floor_Head(u8 *pu8, u16 u16Seq, u32 u32Time, u32 u32Ssrc, bool bMarker, const RtpUnit_S *pstUnit, u32 i)
{
    pu8[0] = 0x80;
    pu8[1] = (u8)((bMarker ? 0x80 : 0) | 96);
    pu8[2] = (u8)(u16Seq >> 8);
    pu8[3] = (u8)u16Seq;
    for (int k = 0; k < 4; k++) {
        pu8[4 + k] = (u8)(u32Time >> (24 - 8 * k));
        pu8[8 + k] = (u8)(u32Ssrc >> (24 - 8 * k));
    }
    u32 u32Kind = pstUnit->u32Num == 1 ? RTP_PIECE_SINGLE : i == 0 ? RTP_PIECE_FIRST
                                                      : i + 1 == pstUnit->u32Num ? RTP_PIECE_LAST : RTP_PIECE_MIDDLE;
    memcpy(pu8 + 12, pstUnit->aau8Prefix[u32Kind], pstUnit->u8PrefixLen);
}

// The units were cut beforehand: the floor is the sending alone.
static Result Bench_Floor(FloorKind_E enKind, const std::vector<Picture> &vecPic, const Units &vecUnits, u32 u32Num)
{
    Result stResult = {};
    Receivers stRx = Receivers_Start(u32Num);
    std::vector<int> vecFd;
    std::vector<u16> vecSeq(u32Num, 0);
    for (u16 u16Port : stRx.vecPort) {
        int s32Fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        struct sockaddr_in stAddr = Bench_Loopback(u16Port);
        connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr));
        vecFd.push_back(s32Fd);
    }
    stResult.u64Expected = Bench_Packets(vecUnits) * u32Num;
    static u8 s_au8Head[1024][RTP_HEAD_MAX];
    static struct iovec s_astVec[2048];
    static struct mmsghdr s_astMsg[1024];
    size_t index = 0;
    Bench_Pace(vecPic, &stResult, [&](const Picture &, u64 u64Us) {
        const std::vector<RtpUnit_S> &vecUnit = vecUnits[index++ % vecUnits.size()];
        u32 u32Time = rtp_time(u64Us, 90000);
        for (u32 s = 0; s < u32Num; s++) {
            u32 u32Packets = 0;
            for (const RtpUnit_S &stUnit : vecUnit) {
                u32 u32Head = 12 + stUnit.u8PrefixLen;
                for (u32 i = 0; i < stUnit.u32Num; i++, u32Packets++) {
                    const u8 *pu8Data;
                    u32 u32Len = rtp_unit_piece(&stUnit, i, &pu8Data);
                    Floor_Head(s_au8Head[u32Packets], vecSeq[s]++, u32Time, 0x1000 + s, i + 1 == stUnit.u32Num, &stUnit, i);
                    s_astVec[2 * u32Packets] = {s_au8Head[u32Packets], u32Head};
                    s_astVec[2 * u32Packets + 1] = {(void *)pu8Data, u32Len};
                }
                if (enKind != FLOOR_GSO)
                    continue;
                u32 u32Seg = u32Head + stUnit.u32Chunk;
                for (u32 u32First = 0; u32First < stUnit.u32Num; u32First += BENCH_BATCH) {
                    u32 u32Count = std::min<u32>(BENCH_BATCH, stUnit.u32Num - u32First);
                    union {
                        char ac[CMSG_SPACE(sizeof(u16))];
                        struct cmsghdr stAlign;
                    } uCtl;
                    memset(&uCtl, 0, sizeof(uCtl));
                    struct msghdr stMsg;
                    memset(&stMsg, 0, sizeof(stMsg));
                    stMsg.msg_iov = &s_astVec[2 * (u32Packets - stUnit.u32Num + u32First)];
                    stMsg.msg_iovlen = 2 * u32Count;
                    if (u32Count > 1) {
                        stMsg.msg_control = uCtl.ac;
                        stMsg.msg_controllen = sizeof(uCtl.ac);
                        struct cmsghdr *pstCmsg = CMSG_FIRSTHDR(&stMsg);
                        pstCmsg->cmsg_level = SOL_UDP;
                        pstCmsg->cmsg_type = UDP_SEGMENT;
                        pstCmsg->cmsg_len = CMSG_LEN(sizeof(u16));
                        u16 u16Seg = (u16)u32Seg;
                        memcpy(CMSG_DATA(pstCmsg), &u16Seg, sizeof(u16Seg));
                    }
                    sendmsg(vecFd[s], &stMsg, MSG_DONTWAIT);
                }
            }
            if (enKind != FLOOR_MMSG)
                continue;
            for (u32 i = 0; i < u32Packets; i++) {
                memset(&s_astMsg[i], 0, sizeof(s_astMsg[i]));
                s_astMsg[i].msg_hdr.msg_iov = &s_astVec[2 * i];
                s_astMsg[i].msg_hdr.msg_iovlen = 2;
            }
            for (u32 u32Sent = 0; u32Sent < u32Packets;) {
                int n = sendmmsg(vecFd[s], &s_astMsg[u32Sent], u32Packets - u32Sent, MSG_DONTWAIT);
                if (n <= 0)
                    break;
                u32Sent += (u32)n;
            }
        }
    });
    Receivers_Stop(&stRx, &stResult);
    for (int s32Fd : vecFd)
        close(s32Fd);
    return stResult;
}

// The kernel's arrival times (ns) of the datagrams queued on s32Fd, with
// the RTP time stamp of each.
static void Bench_Arrivals(int s32Fd, std::vector<std::pair<u32, u64>> *pvecGot)
{
    u8 au8[2048];
    union {
        char ac[CMSG_SPACE(sizeof(struct timespec))];
        struct cmsghdr stAlign;
    } uCtl;
    for (;;) {
        struct iovec stVec = {au8, sizeof(au8)};
        struct msghdr stMsg;
        memset(&stMsg, 0, sizeof(stMsg));
        stMsg.msg_iov = &stVec;
        stMsg.msg_iovlen = 1;
        stMsg.msg_control = uCtl.ac;
        stMsg.msg_controllen = sizeof(uCtl.ac);
        ssize_t n = recvmsg(s32Fd, &stMsg, MSG_DONTWAIT);
        struct cmsghdr *pstCmsg = n >= 12 ? CMSG_FIRSTHDR(&stMsg) : nullptr;
        if (pstCmsg == nullptr || pstCmsg->cmsg_type != SCM_TIMESTAMPNS)
            return;
        struct timespec stTs;
        memcpy(&stTs, CMSG_DATA(pstCmsg), sizeof(stTs));
        u32 u32Time = (u32)au8[4] << 24 | (u32)au8[5] << 16 | (u32)au8[6] << 8 | au8[7];
        pvecGot->push_back({u32Time, (u64)stTs.tv_sec * 1000000000ull + (u64)stTs.tv_nsec});
    }
}

static double Bench_Quantile(std::vector<double> vec, double dQ)
{
    if (vec.empty())
        return 0;
    std::sort(vec.begin(), vec.end());
    return vec[(size_t)(dQ * (vec.size() - 1))];
}

// Key frames of BENCH_KEY_PKTS packets pushed 1/60 s apart to one UDP
// player: from the kernel's arrival times, the quiet between the end of a
// burst and the next, the steps within a burst, and each unit's spread
// from its first packet to its last. Figures only: a loaded machine
// stretches them.
static void Bench_KeyFrames(BenchStream *pstStream, const std::vector<Picture> &vecPic)
{
    int s32Fd = socket(AF_INET, SOCK_DGRAM, 0), s32On = 1, s32Buf = 8 << 20;
    struct sockaddr_in stAddr = Bench_Loopback(0);
    socklen_t u32Len = sizeof(stAddr);
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32Buf, sizeof(s32Buf));
    setsockopt(s32Fd, SOL_SOCKET, SO_TIMESTAMPNS, &s32On, sizeof(s32On));
    bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr));
    getsockname(s32Fd, (struct sockaddr *)&stAddr, &u32Len);
    int s32Player = Bench_Player(ntohs(stAddr.sin_port));
    Bytes vecKey = {0, 0, 0, 1, 0x65};
    vecKey.resize(vecKey.size() + (BENCH_PAYLOAD - 2) * BENCH_KEY_PKTS, 0x5a);
    std::vector<std::pair<u32, u64>> vecGot;
    for (u32 n = 0; n < BENCH_KEYS && s32Player >= 0; n++) {
        u64 u64Us = (u64)n * 1000000 / BENCH_FPS;
        std::vector<Bytes> vecNal = {vecPic[0].vecNal[0], vecPic[0].vecNal[1], vecKey};
        for (const Bytes &vec : vecNal) {
            u8 u8Type = vec[vec[2] == 1 ? 3 : 4] & 0x1F;
            RtspVideoFrame_S stFrame = {vec.data(), (u32)vec.size(), u64Us, 0, 1, RTSP_PAYLOAD_H264,
                                        u8Type == 5 ? 2u : u8Type};
            pstStream->stObserver.pfnOnFrame(&pstStream->stObserver, &stFrame);
        }
        usleep(1000000 / BENCH_FPS);
        Bench_Arrivals(s32Fd, &vecGot);
    }
    std::vector<double> vecQuiet, vecStep, vecSpread;
    for (size_t i = 0; i + BENCH_KEY_PKTS <= vecGot.size(); i++) {
        if (vecGot[i].first != vecGot[i + BENCH_KEY_PKTS - 1].first ||
            (i + BENCH_KEY_PKTS < vecGot.size() && vecGot[i + BENCH_KEY_PKTS].first == vecGot[i].first))
            continue;   // not the first packet of a whole key frame
        for (size_t k = 1; k < BENCH_KEY_PKTS; k++) {
            double dUs = (double)(vecGot[i + k].second - vecGot[i + k - 1].second) / 1000;
            (k % RTP_PACE_BURST ? vecStep : vecQuiet).push_back(dUs);
        }
        vecSpread.push_back((double)(vecGot[i + BENCH_KEY_PKTS - 1].second - vecGot[i].second) / 1000);
        i += BENCH_KEY_PKTS - 1;
    }
    printf("key frames of %u packets to one UDP player, %zu of %u whole: quiet after a burst min/median/max "
           "%.0f/%.0f/%.0f us (the sender waits %u), step within a burst median/max %.1f/%.0f us, spread median/max "
           "%.0f/%.0f us\n",
           BENCH_KEY_PKTS, vecSpread.size(), BENCH_KEYS, Bench_Quantile(vecQuiet, 0), Bench_Quantile(vecQuiet, 0.5),
           Bench_Quantile(vecQuiet, 1), RTP_PACE_GAP_US, Bench_Quantile(vecStep, 0.5), Bench_Quantile(vecStep, 1),
           Bench_Quantile(vecSpread, 0.5),
           Bench_Quantile(vecSpread, 1));
    if (s32Player >= 0)
        close(s32Player);
    close(s32Fd);
}

static void Bench_Print(u32 u32Num, const char *pszPath, const Result &stResult)
{
    double dGbit = stResult.u64Bytes * 8 / 1e9;
    printf("%5u  %-14s %10llu / %-10llu %8.4f  %10.0f\n", u32Num, pszPath, (unsigned long long)stResult.u64Packets,
           (unsigned long long)stResult.u64Expected, dGbit > 0 ? stResult.dCpu / dGbit : 0.0, stResult.dP99Us);
    fflush(stdout);
}

int main(int argc, char **argv)
{
    signal(SIGPIPE, SIG_IGN);
    std::vector<u32> vecN = {1, 10, 50, 100, 200};
    if (argc > 1)
        vecN = {(u32)atoi(argv[1])};
    std::vector<Picture> vecPic = Bench_Encode();
    if (vecPic.size() < BENCH_FPS || vecPic[0].vecNal.size() < 3) {
        fprintf(stderr, "no H.264 encoder\n");
        return 1;
    }
    u64 u64Bytes = 0;
    for (const Picture &stPic : vecPic)
        for (const Bytes &vecNal : stPic.vecNal)
            u64Bytes += vecNal.size();
    printf("stream: %ux%u at %u fps, %.2f Mbit/s, %zu pictures looped for %u s, key frame every %u\n", BENCH_WIDTH,
           BENCH_HEIGHT, BENCH_FPS, u64Bytes * 8.0 * BENCH_FPS / vecPic.size() / 1e6, vecPic.size(), BENCH_SECONDS,
           BENCH_GOP);
    static BenchStream s_stStream;
    s_stStream.stAttr.stVideo = {1,         Bench_Info, Bench_Stub, Bench_Stub, Bench_Add, Bench_Stub,
                                 Bench_Stub, Bench_Sets, Bench_Vps,  &s_stStream};
    Bench_SetParam(&s_stStream.stSps, vecPic[0].vecNal[0]);
    Bench_SetParam(&s_stStream.stPps, vecPic[0].vecNal[1]);
    const Units vecUnits = Bench_Cut(vecPic);
    RtspService_S *pstService = nullptr;
    const RtspServerConfig_S stConfig = {1500, 1024, BENCH_PORT, 2, 12000};
    if (RTSPSEVER_Create(&pstService, &stConfig) != 0 || RTSPSEVER_Start(pstService) != 0 ||
        RTSPSEVER_AddMediaStream(pstService, &s_stStream.stAttr, "live/main/av_stream", 0) != 0) {
        fprintf(stderr, "no RTSP service\n");
        return 1;
    }
    printf("%5s  %-14s %23s %9s  %10s\n", "N", "path", "packets got / expected", "CPU-s/Gb", "p99 us");
    for (u32 u32Num : vecN) {
        Bench_Print(u32Num, "service", Bench_Service(pstService, &s_stStream, vecPic, vecUnits, u32Num));
        Bench_Print(u32Num, "floor gso", Bench_Floor(FLOOR_GSO, vecPic, vecUnits, u32Num));
        Bench_Print(u32Num, "floor sendmmsg", Bench_Floor(FLOOR_MMSG, vecPic, vecUnits, u32Num));
    }
    Bench_KeyFrames(&s_stStream, vecPic);
    RTSPSEVER_Stop(pstService);
    RTSPSEVER_Destroy(pstService);
    return 0;
}
