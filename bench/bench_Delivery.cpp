// Players and bare senders for the delivery benchmark (bench/delivery.py),
// which runs them on the two sides of a box's LAN:
//   play URL N udp|tcp WARM WINDOW [FRAMES]   N players of URL's video track;
//       after WARM s they count WINDOW s, printing "start" and "end" as the
//       window opens and closes, then one line of figures; FRAMES gets the
//       sizes of the frames the first player saw (the bare sender's input)
//   sink udp|tcp N PORT SECONDS               receivers of the bare sender
//   floor udp|tcp N HOST PORT SECONDS FRAMES  the bare sender: the frames of
//       FRAMES at 60 a second to N receivers, one sendmsg with UDP_SEGMENT
//       per frame and receiver, or one writev per frame and connection
// Figures are "key=value" words. Bytes are RTP packets, headers included.
#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <netinet/udp.h>
#include <string>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>
#include <vector>

#ifndef UDP_SEGMENT
#define UDP_SEGMENT 103
#endif

#define BENCH_FPS          60
#define BENCH_CLOCK        90000
#define BENCH_UDP_PAYLOAD  1450
#define BENCH_TCP_PAYLOAD  1444
#define BENCH_GSO_SEGMENTS 44     // 1462-byte segments in one 64 KiB datagram
#define BENCH_RTSP_PORT    554
#define BENCH_CLIENT_PORT  20000
#define BENCH_BUF          (256 * 1024)

typedef unsigned char u8;
typedef unsigned int u32;
typedef unsigned long long u64;

static double Now(void)
{
    struct timespec stTs;
    clock_gettime(CLOCK_MONOTONIC, &stTs);
    return (double)stTs.tv_sec + stTs.tv_nsec / 1e9;
}

static double CpuSeconds(void)
{
    struct rusage stUse;
    getrusage(RUSAGE_SELF, &stUse);
    return (double)stUse.ru_utime.tv_sec + stUse.ru_utime.tv_usec / 1e6 + (double)stUse.ru_stime.tv_sec +
           stUse.ru_stime.tv_usec / 1e6;
}

static void Die(const char *pszWhat)
{
    fprintf(stderr, "bench_delivery: %s: %s\n", pszWhat, strerror(errno));
    exit(1);
}

static struct sockaddr_in Addr(const char *pszHost, int s32Port)
{
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons((unsigned short)s32Port);
    if (inet_pton(AF_INET, pszHost, &stAddr.sin_addr) != 1) {
        fprintf(stderr, "bench_delivery: bad address %s\n", pszHost);
        exit(2);
    }
    return stAddr;
}

static void BigBuffers(int s32Fd)
{
    int s32Size = 4 * 1024 * 1024;
    (void)setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32Size, sizeof(s32Size));   // capped by the kernel
}

// One player or receiver: what it counted inside the window.
struct Peer {
    int s32Fd = -1;
    bool bTcp = false;
    std::vector<u8> vecBuf;    // TCP: bytes not yet parsed
    u64 u64Packets = 0, u64Bytes = 0, u64Frames = 0;
    bool bSeq = false;
    u32 u32LastSeq = 0;
    u64 u64Lost = 0;
    bool bTransit = false;
    double dTransit = 0, dJitter = 0;   // RFC 3550, in seconds
    u32 u32FrameTs = 0;                 // a picture is the packets of one time stamp
    u64 u64FrameBytes = 0;
};

static bool s_bCounting = false;
static std::vector<u32> s_vecFrames;   // sizes of the first player's frames (payload bytes)
static bool s_bRecordFrames = false;

// One RTP packet of a peer at time dNow.
static void Peer_Packet(Peer *pstPeer, const u8 *pu8, u32 u32Len, double dNow, bool bFirst)
{
    if (u32Len < 12 || !s_bCounting)
        return;
    u32 u32Seq = (u32)pu8[2] << 8 | pu8[3];
    u32 u32Ts = (u32)pu8[4] << 24 | (u32)pu8[5] << 16 | (u32)pu8[6] << 8 | pu8[7];
    pstPeer->u64Packets++;
    pstPeer->u64Bytes += u32Len;
    if (pstPeer->bSeq)
        pstPeer->u64Lost += (u32)((u32Seq - pstPeer->u32LastSeq - 1) & 0xFFFF);
    pstPeer->bSeq = true;
    pstPeer->u32LastSeq = u32Seq;
    bool bNewPicture = !pstPeer->bTransit || u32Ts != pstPeer->u32FrameTs;
    double dTransit = dNow - (double)u32Ts / BENCH_CLOCK;
    if (pstPeer->bTransit) {
        double d = fabs(dTransit - pstPeer->dTransit);
        // Time stamps wrap at 2^32 / 90 kHz: a step that large is no jitter.
        if (d < 1000)
            pstPeer->dJitter += (d - pstPeer->dJitter) / 16;
    }
    pstPeer->bTransit = true;
    pstPeer->dTransit = dTransit;
    if (bNewPicture) {
        if (bFirst && s_bRecordFrames && pstPeer->u64FrameBytes > 0)
            s_vecFrames.push_back((u32)pstPeer->u64FrameBytes);
        pstPeer->u64Frames++;
        pstPeer->u64FrameBytes = 0;
        pstPeer->u32FrameTs = u32Ts;
    }
    pstPeer->u64FrameBytes += u32Len - 12;
}

// Parses the interleaved frames in a TCP peer's buffer.
static void Peer_Tcp(Peer *pstPeer, double dNow, bool bFirst)
{
    std::vector<u8> &buf = pstPeer->vecBuf;
    size_t pos = 0;
    while (buf.size() - pos >= 4) {
        if (buf[pos] != '$') {   // a reply or a stray byte: skip to the next '$'
            pos++;
            continue;
        }
        u32 u32Len = (u32)buf[pos + 2] << 8 | buf[pos + 3];
        if (buf.size() - pos < 4 + u32Len)
            break;
        if (buf[pos + 1] == 0)
            Peer_Packet(pstPeer, &buf[pos + 4], u32Len, dNow, bFirst);
        pos += 4 + u32Len;
    }
    buf.erase(buf.begin(), buf.begin() + (long)pos);
}

// Reads what is there for a peer.
static void Peer_Read(Peer *pstPeer, bool bFirst)
{
    static u8 s_au8[BENCH_BUF];
    for (;;) {
        ssize_t n = recv(pstPeer->s32Fd, s_au8, sizeof(s_au8), MSG_DONTWAIT);
        if (n <= 0)
            return;
        double dNow = Now();
        if (!pstPeer->bTcp) {
            Peer_Packet(pstPeer, s_au8, (u32)n, dNow, bFirst);
            continue;
        }
        pstPeer->vecBuf.insert(pstPeer->vecBuf.end(), s_au8, s_au8 + n);
        Peer_Tcp(pstPeer, dNow, bFirst);
    }
}

// Runs the peers until dEnd, opening the window at dStart.
static void Peers_Run(std::vector<Peer> &vecPeer, double dStart, double dEnd, bool bAnnounce)
{
    int s32Ep = epoll_create1(0);
    if (s32Ep < 0)
        Die("epoll_create1");
    for (size_t i = 0; i < vecPeer.size(); i++) {
        struct epoll_event stEv;
        stEv.events = EPOLLIN;
        stEv.data.u64 = i;
        if (epoll_ctl(s32Ep, EPOLL_CTL_ADD, vecPeer[i].s32Fd, &stEv) < 0)
            Die("epoll_ctl");
    }
    struct epoll_event astEv[256];
    for (double dNow = Now(); dNow < dEnd; dNow = Now()) {
        if (!s_bCounting && dNow >= dStart) {
            s_bCounting = true;
            if (bAnnounce) {
                printf("start\n");
                fflush(stdout);
            }
        }
        int n = epoll_wait(s32Ep, astEv, 256, 10);
        for (int i = 0; i < n; i++)
            Peer_Read(&vecPeer[astEv[i].data.u64], astEv[i].data.u64 == 0);
    }
    s_bCounting = false;
    if (bAnnounce) {
        printf("end\n");
        fflush(stdout);
    }
    close(s32Ep);
}

static void Peers_Print(const std::vector<Peer> &vecPeer, double dWindow)
{
    u64 u64Packets = 0, u64Bytes = 0, u64Lost = 0, u64MinFrames = ~0ull;
    double dJitterSum = 0, dJitterMax = 0, dMinMbps = 1e9;
    for (const Peer &stPeer : vecPeer) {
        u64Packets += stPeer.u64Packets;
        u64Bytes += stPeer.u64Bytes;
        u64Lost += stPeer.u64Lost;
        if (stPeer.u64Frames < u64MinFrames)
            u64MinFrames = stPeer.u64Frames;
        dJitterSum += stPeer.dJitter;
        if (stPeer.dJitter > dJitterMax)
            dJitterMax = stPeer.dJitter;
        double dMbps = stPeer.u64Bytes * 8 / dWindow / 1e6;
        if (dMbps < dMinMbps)
            dMinMbps = dMbps;
    }
    printf("peers=%zu packets=%llu bytes=%llu lost=%llu min_frames=%llu expected_frames=%.0f "
           "jitter_ms=%.3f jitter_max_ms=%.3f min_mbps=%.3f window=%.1f\n",
           vecPeer.size(), u64Packets, u64Bytes, u64Lost, vecPeer.empty() ? 0 : u64MinFrames, dWindow * BENCH_FPS,
           vecPeer.empty() ? 0 : dJitterSum / vecPeer.size() * 1000, dJitterMax * 1000, dMinMbps, dWindow);
    fflush(stdout);
}

// Sends a request and reads its reply's head; the reply, or "" on failure.
static std::string Rtsp_Ask(int s32Fd, const std::string &strRequest)
{
    if (send(s32Fd, strRequest.data(), strRequest.size(), MSG_NOSIGNAL) != (ssize_t)strRequest.size())
        return "";
    std::string strReply;
    char c;
    while (strReply.size() < 4096 && recv(s32Fd, &c, 1, 0) == 1) {
        strReply += c;
        if (strReply.size() >= 4 && strReply.compare(strReply.size() - 4, 4, "\r\n\r\n") == 0)
            return strReply;
    }
    return "";
}

// Sets up and plays the video track of pszUrl for one player.
static bool Player_Start(const char *pszUrl, bool bTcp, int s32Index, Peer *pstPeer)
{
    std::string strUrl = pszUrl, strHost = strUrl.substr(7, strUrl.find_first_of(":/", 7) - 7);
    int s32Fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in stAddr = Addr(strHost.c_str(), BENCH_RTSP_PORT);
    if (s32Fd < 0 || connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0)
        return false;
    struct timeval stTv = {5, 0};
    (void)setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    int s32Udp = -1, s32Port = BENCH_CLIENT_PORT + 2 * s32Index;
    std::string strTransport = "RTP/AVP/TCP;unicast;interleaved=0-1";
    if (!bTcp) {
        s32Udp = socket(AF_INET, SOCK_DGRAM, 0);
        struct sockaddr_in stLocal = Addr("0.0.0.0", s32Port);
        if (s32Udp < 0 || bind(s32Udp, (struct sockaddr *)&stLocal, sizeof(stLocal)) < 0)
            return false;
        BigBuffers(s32Udp);
        strTransport = "RTP/AVP;unicast;client_port=" + std::to_string(s32Port) + "-" + std::to_string(s32Port + 1);
    }
    std::string strReply = Rtsp_Ask(s32Fd, "SETUP " + strUrl + "/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: " +
                                               strTransport + "\r\n\r\n");
    size_t at = strReply.find("Session: ");
    if (strReply.compare(0, 15, "RTSP/1.0 200 OK") != 0 || at == std::string::npos)
        return false;
    std::string strSession = strReply.substr(at + 9, strReply.find_first_of(";\r", at) - at - 9);
    strReply = Rtsp_Ask(s32Fd, "PLAY " + strUrl + " RTSP/1.0\r\nCSeq: 2\r\nSession: " + strSession + "\r\n\r\n");
    if (strReply.compare(0, 15, "RTSP/1.0 200 OK") != 0)
        return false;
    pstPeer->bTcp = bTcp;
    pstPeer->s32Fd = bTcp ? s32Fd : s32Udp;
    if (bTcp)
        BigBuffers(s32Fd);   // the control connection of a UDP player stays open, unread
    return true;
}

static int Bench_Play(int argc, char **argv)
{
    if (argc < 7)
        return 2;
    const char *pszUrl = argv[2];
    int s32Num = atoi(argv[3]);
    bool bTcp = strcmp(argv[4], "tcp") == 0;
    double dWarm = atof(argv[5]), dWindow = atof(argv[6]);
    std::vector<Peer> vecPeer(s32Num);
    for (int i = 0; i < s32Num; i++) {
        if (!Player_Start(pszUrl, bTcp, i, &vecPeer[i])) {
            fprintf(stderr, "bench_delivery: player %d could not start\n", i);
            return 1;
        }
    }
    s_bRecordFrames = argc > 7;
    double dStart = Now() + dWarm;
    Peers_Run(vecPeer, dStart, dStart + dWindow, true);
    Peers_Print(vecPeer, dWindow);
    if (argc > 7) {
        FILE *pstFile = fopen(argv[7], "w");
        if (pstFile == nullptr)
            Die("fopen");
        for (u32 u32Size : s_vecFrames)
            fprintf(pstFile, "%u\n", u32Size);
        fclose(pstFile);
    }
    return 0;
}

static int Bench_Sink(int argc, char **argv)
{
    if (argc < 6)
        return 2;
    bool bTcp = strcmp(argv[2], "tcp") == 0;
    int s32Num = atoi(argv[3]), s32Port = atoi(argv[4]);
    double dSeconds = atof(argv[5]);
    std::vector<Peer> vecPeer(s32Num);
    int s32Listen = -1;
    if (bTcp) {
        s32Listen = socket(AF_INET, SOCK_STREAM, 0);
        int s32One = 1;
        (void)setsockopt(s32Listen, SOL_SOCKET, SO_REUSEADDR, &s32One, sizeof(s32One));
        struct sockaddr_in stAddr = Addr("0.0.0.0", s32Port);
        if (s32Listen < 0 || bind(s32Listen, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0 ||
            listen(s32Listen, 1024) < 0)
            Die("listen");
    } else {
        for (int i = 0; i < s32Num; i++) {
            vecPeer[i].s32Fd = socket(AF_INET, SOCK_DGRAM, 0);
            struct sockaddr_in stAddr = Addr("0.0.0.0", s32Port + 2 * i);
            if (vecPeer[i].s32Fd < 0 || bind(vecPeer[i].s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0)
                Die("bind");
            BigBuffers(vecPeer[i].s32Fd);
        }
    }
    printf("ready\n");
    fflush(stdout);
    for (int i = 0; bTcp && i < s32Num; i++) {
        vecPeer[i].bTcp = true;
        vecPeer[i].s32Fd = accept(s32Listen, nullptr, nullptr);
        if (vecPeer[i].s32Fd < 0)
            Die("accept");
        BigBuffers(vecPeer[i].s32Fd);
    }
    double dStart = Now();
    Peers_Run(vecPeer, dStart, dStart + dSeconds, false);
    Peers_Print(vecPeer, dSeconds);
    return 0;
}

static std::vector<u32> Frames_Read(const char *pszPath)
{
    std::vector<u32> vecFrames;
    FILE *pstFile = fopen(pszPath, "r");
    if (pstFile == nullptr)
        Die("fopen");
    u32 u32Size;
    while (fscanf(pstFile, "%u", &u32Size) == 1)
        if (u32Size > 0)
            vecFrames.push_back(u32Size);
    fclose(pstFile);
    if (vecFrames.empty()) {
        fprintf(stderr, "bench_delivery: no frames in %s\n", pszPath);
        exit(1);
    }
    return vecFrames;
}

static void Rtp_Head(u8 *pu8, u32 u32Seq, u32 u32Ts, u32 u32Ssrc, bool bMarker)
{
    pu8[0] = 0x80;
    pu8[1] = (u8)((bMarker ? 0x80 : 0) | 96);
    pu8[2] = (u8)(u32Seq >> 8);
    pu8[3] = (u8)u32Seq;
    for (int i = 0; i < 4; i++) {
        pu8[4 + i] = (u8)(u32Ts >> (24 - 8 * i));
        pu8[8 + i] = (u8)(u32Ssrc >> (24 - 8 * i));
    }
}

// One frame to one UDP receiver: a sendmsg with UDP_SEGMENT per 44
// segments (one for every frame of this stream but the key frames).
static u64 Floor_Udp(int s32Fd, const u8 *pu8Payload, u32 u32Size, u32 *pu32Seq, u32 u32Ts, u32 u32Ssrc)
{
    static u8 s_au8Head[BENCH_GSO_SEGMENTS][12];
    static struct iovec s_astVec[2 * BENCH_GSO_SEGMENTS];
    u32 u32Num = (u32Size + BENCH_UDP_PAYLOAD - 1) / BENCH_UDP_PAYLOAD;
    u64 u64Bytes = 0;
    for (u32 u32First = 0; u32First < u32Num; u32First += BENCH_GSO_SEGMENTS) {
        u32 u32Count = u32Num - u32First < BENCH_GSO_SEGMENTS ? u32Num - u32First : BENCH_GSO_SEGMENTS;
        for (u32 i = 0; i < u32Count; i++) {
            u32 u32Off = (u32First + i) * BENCH_UDP_PAYLOAD;
            u32 u32Len = u32Size - u32Off < BENCH_UDP_PAYLOAD ? u32Size - u32Off : BENCH_UDP_PAYLOAD;
            Rtp_Head(s_au8Head[i], (*pu32Seq)++, u32Ts, u32Ssrc, u32First + i + 1 == u32Num);
            s_astVec[2 * i] = {s_au8Head[i], 12};
            s_astVec[2 * i + 1] = {(void *)(pu8Payload + u32Off), u32Len};
            u64Bytes += 12 + u32Len;
        }
        union {
            char ac[CMSG_SPACE(sizeof(unsigned short))];
            struct cmsghdr stAlign;
        } uCtl;
        memset(&uCtl, 0, sizeof(uCtl));
        struct msghdr stMsg;
        memset(&stMsg, 0, sizeof(stMsg));
        stMsg.msg_iov = s_astVec;
        stMsg.msg_iovlen = 2 * u32Count;
        stMsg.msg_control = uCtl.ac;
        stMsg.msg_controllen = sizeof(uCtl.ac);
        struct cmsghdr *pstCmsg = CMSG_FIRSTHDR(&stMsg);
        pstCmsg->cmsg_level = SOL_UDP;
        pstCmsg->cmsg_type = UDP_SEGMENT;
        pstCmsg->cmsg_len = CMSG_LEN(sizeof(unsigned short));
        unsigned short u16Segment = 12 + BENCH_UDP_PAYLOAD;
        memcpy(CMSG_DATA(pstCmsg), &u16Segment, sizeof(u16Segment));
        if (sendmsg(s32Fd, &stMsg, 0) < 0)
            Die("sendmsg");
    }
    return u64Bytes;
}

// One frame to one TCP receiver: one writev of '$' and RTP heads around
// the shared payload (the rest, when the socket takes less, after).
static u64 Floor_Tcp(int s32Fd, const u8 *pu8Payload, u32 u32Size, u32 *pu32Seq, u32 u32Ts, u32 u32Ssrc)
{
    static std::vector<u8> s_vecHead;
    static std::vector<struct iovec> s_vecIov;
    u32 u32Num = (u32Size + BENCH_TCP_PAYLOAD - 1) / BENCH_TCP_PAYLOAD;
    s_vecHead.resize((size_t)u32Num * 16);
    s_vecIov.resize(2 * (size_t)u32Num);
    u64 u64Bytes = 0;
    for (u32 i = 0; i < u32Num; i++) {
        u32 u32Off = i * BENCH_TCP_PAYLOAD;
        u32 u32Len = u32Size - u32Off < BENCH_TCP_PAYLOAD ? u32Size - u32Off : BENCH_TCP_PAYLOAD;
        u8 *pu8 = &s_vecHead[(size_t)i * 16];
        pu8[0] = '$';
        pu8[1] = 0;
        pu8[2] = (u8)((12 + u32Len) >> 8);
        pu8[3] = (u8)(12 + u32Len);
        Rtp_Head(pu8 + 4, (*pu32Seq)++, u32Ts, u32Ssrc, i + 1 == u32Num);
        s_vecIov[2 * i] = {pu8, 16};
        s_vecIov[2 * i + 1] = {(void *)(pu8Payload + u32Off), u32Len};
        u64Bytes += 12 + u32Len;
    }
    struct iovec *pstVec = s_vecIov.data();
    int s32Left = (int)s_vecIov.size();
    while (s32Left > 0) {
        ssize_t n = writev(s32Fd, pstVec, s32Left < 1024 ? s32Left : 1024);
        if (n < 0)
            Die("writev");
        while (s32Left > 0 && (size_t)n >= pstVec->iov_len) {
            n -= (ssize_t)pstVec->iov_len;
            pstVec++;
            s32Left--;
        }
        if (s32Left > 0) {
            pstVec->iov_base = (u8 *)pstVec->iov_base + n;
            pstVec->iov_len -= (size_t)n;
        }
    }
    return u64Bytes;
}

static int Bench_Floor(int argc, char **argv)
{
    if (argc < 8)
        return 2;
    bool bTcp = strcmp(argv[2], "tcp") == 0;
    int s32Num = atoi(argv[3]), s32Port = atoi(argv[5]);
    double dSeconds = atof(argv[6]);
    std::vector<u32> vecFrames = Frames_Read(argv[7]);
    u32 u32Max = 0;
    for (u32 u32Size : vecFrames)
        u32Max = u32Size > u32Max ? u32Size : u32Max;
    std::vector<u8> vecPayload(u32Max);
    for (size_t i = 0; i < vecPayload.size(); i++)
        vecPayload[i] = (u8)(i * 7 + 3);
    std::vector<int> vecFd(s32Num);
    std::vector<u32> vecSeq(s32Num);
    for (int i = 0; i < s32Num; i++) {
        struct sockaddr_in stAddr = Addr(argv[4], bTcp ? s32Port : s32Port + 2 * i);
        vecFd[i] = socket(AF_INET, bTcp ? SOCK_STREAM : SOCK_DGRAM, 0);
        if (vecFd[i] < 0 || connect(vecFd[i], (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0)
            Die("connect");
    }
    double dStart = Now(), dCpu = CpuSeconds();
    u64 u64Bytes = 0;
    u32 u32Frames = (u32)(dSeconds * BENCH_FPS);
    for (u32 f = 0; f < u32Frames; f++) {
        double dAt = dStart + (double)f / BENCH_FPS;
        double dWait = dAt - Now();
        if (dWait > 0) {
            struct timespec stTs = {(time_t)dWait, (long)((dWait - (double)(time_t)dWait) * 1e9)};
            nanosleep(&stTs, nullptr);
        }
        u32 u32Size = vecFrames[f % vecFrames.size()];
        u32 u32Ts = (u32)(f * (BENCH_CLOCK / BENCH_FPS));
        for (int i = 0; i < s32Num; i++)
            u64Bytes += bTcp ? Floor_Tcp(vecFd[i], vecPayload.data(), u32Size, &vecSeq[i], u32Ts, 0x1000 + i)
                             : Floor_Udp(vecFd[i], vecPayload.data(), u32Size, &vecSeq[i], u32Ts, 0x1000 + i);
    }
    dCpu = CpuSeconds() - dCpu;
    printf("floor_cpu=%.4f floor_bytes=%llu floor_seconds=%.2f\n", dCpu, u64Bytes, Now() - dStart);
    for (int s32Fd : vecFd)
        close(s32Fd);
    return 0;
}

int main(int argc, char **argv)
{
    int s32Ret = 2;
    if (argc > 1 && strcmp(argv[1], "play") == 0)
        s32Ret = Bench_Play(argc, argv);
    else if (argc > 1 && strcmp(argv[1], "sink") == 0)
        s32Ret = Bench_Sink(argc, argv);
    else if (argc > 1 && strcmp(argv[1], "floor") == 0)
        s32Ret = Bench_Floor(argc, argv);
    if (s32Ret == 2)
        fprintf(stderr, "usage: see the head of bench/bench_Delivery.cpp\n");
    return s32Ret;
}
