#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <malloc.h>
#include <poll.h>
#include <random>
#include <regex>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "core/Debug.h"
#include "rtsplib/include/AioSocket.h"
#include "rtsplib/include/RtspServerCore.h"
#include "rtsplib/include/Time64.h"
#include "tests/rtsplib/RtspTestAlloc.h"
#include "tests/rtsplib/RtspTestNet.h"

// Present in sanitizer builds, where malloc is not glibc's.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void) __attribute__((weak));

static size_t HeapInUse(void)
{
    return __sanitizer_get_current_allocated_bytes ? __sanitizer_get_current_allocated_bytes() : mallinfo2().uordblks;
}

static const u16 PORT = 554;
static const char NO_CSEQ[] = "4294967295";

static std::string Options(unsigned u32CSeq, const char *pszMethod = "OPTIONS", const char *pszVersion = "RTSP/1.0")
{
    return std::string(pszMethod) + " rtsp://127.0.0.1/live/main/av_stream " + pszVersion + "\r\nCSeq: " +
           std::to_string(u32CSeq) + "\r\n\r\n";
}

static std::string OptionsReply(unsigned u32CSeq)
{
    return "RTSP/1.0 200 OK\r\nCSeq: " + std::to_string(u32CSeq) + "\r\nPublic: DESCRIBE,SETUP,TEARDOWN,PLAY,PAUSE\r\n\r\n";
}

static std::string Plain(int s32Code, const char *pszReason, const std::string &strCSeq)
{
    return "RTSP/1.0 " + std::to_string(s32Code) + " " + pszReason + "\r\nCSeq: " + strCSeq + "\r\nDate: D\r\n\r\n";
}

// What the handlers were given, a line a call, and what DESCRIBE answers.
struct Calls {
    std::vector<std::string> vecLog;
    std::vector<RtspHeaderTransport_S> vecTransport;   // of the last SETUP
    std::string strSdp = "v=0\r\n";
    void *pvPlaying = nullptr;   // the connection of the last SETUP, taken as playing; reactor thread
    std::vector<std::string> vecAlive;   // "METHOD id" of each request the alive proc was told of
};

static std::string Opt(const s64 *ps64)
{
    return ps64 ? std::to_string(*ps64) : "-";
}

static void OnDescribe(void *pv, RtspServerReq_S *pstReq, const char *pszUri)
{
    char azClient[RTSP_ADDRESS_TEXT], azHost[RTSP_ADDRESS_TEXT];
    u16 u16Port;
    rtsp_server_get_client(pstReq, azClient, &u16Port);
    rtsp_server_get_host(pstReq, azHost, &u16Port);
    ((Calls *)pv)->vecLog.push_back(std::string("DESCRIBE ") + pszUri + " " + azClient + " " + azHost);
    rtsp_server_reply_describe(pstReq, 200, ((Calls *)pv)->strSdp.c_str());
}

static void OnSetup(void *pv, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                    const RtspHeaderTransport_S *pastTransport, u32 u32Num)
{
    Calls *p = (Calls *)pv;
    p->vecLog.push_back(std::string("SETUP ") + pszUri + " " + (pszSession ? pszSession : "(null)"));
    p->vecTransport.assign(pastTransport, pastTransport + u32Num);
    p->pvPlaying = rtsp_server_get_connection(pstReq);
    rtsp_server_reply_setup(pstReq, 200, "12345", "RTP/AVP/TCP;unicast;interleaved=0-1");
}

static void OnPlay(void *pv, RtspServerReq_S *pstReq, const char *, const char *pszSession, const s64 *ps64Start,
                   const s64 *ps64End, const double *pdScale)
{
    ((Calls *)pv)->vecLog.push_back(std::string("PLAY ") + pszSession + " " + Opt(ps64Start) + " " + Opt(ps64End) +
                                    " " + (pdScale ? std::to_string(*pdScale) : "-"));
    rtsp_server_reply_play(pstReq, 200, ps64Start, ps64End, "url=rtsp://x/track1;seq=1;rtptime=2");
}

static void OnPause(void *pv, RtspServerReq_S *pstReq, const char *, const char *pszSession, const s64 *ps64Start)
{
    ((Calls *)pv)->vecLog.push_back(std::string("PAUSE ") + pszSession + " " + Opt(ps64Start));
    rtsp_server_reply_pause(pstReq, 200);
}

static void OnTeardown(void *pv, RtspServerReq_S *pstReq, const char *, const char *pszSession)
{
    ((Calls *)pv)->vecLog.push_back(std::string("TEARDOWN ") + pszSession);
    rtsp_server_reply_teardown(pstReq, 454);
}

struct RtspServerTest : public testing::Test {
    Calls stCalls;
    RtspServer_S *pstServer = nullptr;
    std::atomic<bool> bRun{true};
    std::atomic<u64> u64SkewMs{0};   // added to the clock of the idle sweep
    std::thread thReactor;
    std::vector<int> vecFd;

    void SetUp() override
    {
        static const RtspServerHandler_S s_stHandler = {OnDescribe, OnSetup, OnPlay, OnPause, OnTeardown};
        ASSERT_EQ(0, aio_socket_init(1));
        pstServer = rtsp_server_create(nullptr, PORT, &s_stHandler, 1024, &stCalls);
        ASSERT_NE(nullptr, pstServer);
        rtsp_server_register_busy(pstServer, [](void *pv, void *pvConnection) {
            return pvConnection == ((Calls *)pv)->pvPlaying;
        });
        rtsp_server_register_alive(pstServer, [](void *pv, RtspServerReq_S *pstReq, const char *pszSession) {
            char azClient[RTSP_ADDRESS_TEXT];
            u16 u16Port;
            rtsp_server_get_client(pstReq, azClient, &u16Port);
            ((Calls *)pv)->vecAlive.push_back(std::string(rtsp_server_get_connection(pstReq) ? "TCP " : "UDP ") +
                                              azClient + " " + pszSession);
        });
        thReactor = std::thread([this] {
            while (bRun) {
                aio_socket_process(20);
                rtsp_server_sweep(pstServer, time64_monotonic() + u64SkewMs);
            }
        });
    }
    void TearDown() override
    {
        for (int s32Fd : vecFd)
            close(s32Fd);
        Quiesce();
        if (pstServer)
            rtsp_server_destroy(pstServer);
        g_azUserAgent[0] = '\0';
    }
    int Connect(const char *pszFrom = nullptr)
    {
        int s32Fd = Net_Connect(PORT, 0, pszFrom);
        if (s32Fd >= 0)
            vecFd.push_back(s32Fd);
        return s32Fd;
    }
    // Sends a request and returns the reply, date masked.
    static std::string Ask(int s32Fd, const std::string &strRequest)
    {
        EXPECT_TRUE(Net_SendAll(s32Fd, strRequest));
        return Net_NoDate(Net_ReadReply(s32Fd));
    }
    // The reactor thread's state after a request is only safe to read once stopped.
    void Quiesce()
    {
        bRun = false;
        if (thReactor.joinable())
            thReactor.join();
    }
};

// Requests the server answers itself, one after another on one connection:
// each refusal leaves the connection answering, and no handler is called.
// (Refusals the service makes are tested with the service.)
TEST_F(RtspServerTest, AnswersAndRefusalsKeepTheConnection)
{
    strcpy(g_azUserAgent, "GoodPlayer");
    const struct {
        std::string strRequest, strReply;
    } astCase[] = {
        {Options(2), OptionsReply(2)},
        {Options(3, "options"), OptionsReply(3)},
        {"OPTIONS rtsp://127.0.0.1/ RTSP/1.0\r\nAccept: x\r\n\r\n", Plain(400, "Bad Request", NO_CSEQ)},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 12a\r\n\r\n", Plain(400, "Bad Request", "12a")},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 4294967297\r\n\r\n", Plain(400, "Bad Request", "4294967297")},
        {Options(4, "GET_PARAMETER"), Plain(501, "Not Implemented", "4")},
        {Options(5, "RECORD"), Plain(501, "Not Implemented", "5")},
        {Options(6, "X"), Plain(501, "Not Implemented", "6")},
        {Options(7, "OPTIONS", "RTSP/2.0"), Plain(505, "RTSP Version Not Supported", "7")},
        {Options(8, "OPTIONS", "RTSP/0.9"), Plain(505, "RTSP Version Not Supported", "8")},
        {Options(9, "OPTIONS", "RTSP/1.1"), OptionsReply(9)},
        {"DESCRIBE rtsp://127.0.0.1/" + std::string(300, 'u') + " RTSP/1.0\r\nCSeq: 10\r\n\r\n",
         Plain(414, "Request-URI Too Large", "10")},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 11\r\nUser-Agent: Other/1.0\r\n\r\n", Plain(400, "Bad Request", "11")},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 12\r\nUser-Agent: GoodPlayer/2\r\n\r\n", OptionsReply(12)},
        {"SETUP rtsp://h/s/track1 RTSP/1.0\r\nCSeq: 13\r\n\r\n", Plain(461, "Unsupported Transport", "13")},
        {"SETUP rtsp://h/s/track1 RTSP/1.0\r\nCSeq: 14\r\nTransport: RTP/AVP;client_port=0-1\r\n\r\n",
         Plain(461, "Unsupported Transport", "14")},
        {"PLAY rtsp://h/s RTSP/1.0\r\nCSeq: 15\r\nSession: \r\n\r\n", Plain(454, "Session Not Found", "15")},
        {"PAUSE rtsp://h/s RTSP/1.0\r\nCSeq: 16\r\nSession: 1\r\nRange: npt=1-2\r\n\r\n",
         Plain(457, "Invalid Range", "16")},
        {Options(17), OptionsReply(17)},
    };
    int s32Fd = Connect();
    for (const auto &stCase : astCase)
        EXPECT_EQ(stCase.strReply, Ask(s32Fd, stCase.strRequest)) << stCase.strRequest;
    Quiesce();
    EXPECT_TRUE(stCalls.vecLog.empty());
}

// Requests cut anywhere (inside frame heads, payloads, requests and
// bodies alike), several in one write, and interleaved frames between
// them, even frames that hold request text or are longer than a message
// may be, while a '$' in a body is body: every request is answered once,
// in order.
TEST_F(RtspServerTest, FramingKeepsRequestsAndSkipsFrames)
{
    std::string strInner = Options(666);
    std::string strFrame = std::string("$\x01", 2) + (char)(strInner.size() >> 8) + (char)strInner.size() + strInner;
    std::string strBig = "$" + std::string(1, '\0') + "\xFF\xFF" + std::string(65535, 'x');
    std::string strBody = Options(1).insert(Options(1).size() - 2, "Content-Length: 4\r\n") + std::string("$\0\0\1", 4);
    std::string strPiecewise = strFrame + strBody + std::string("$\0\0\0", 4) + strBig + Options(2) + strFrame;
    int s32Fd = Connect();
    for (size_t i = 0; i < strPiecewise.size();) {
        size_t n = i < 200 ? 1 : 997;
        ASSERT_TRUE(Net_SendAll(s32Fd, strPiecewise.substr(i, n)));
        i += n;
    }
    std::string strPipelined;
    for (unsigned i = 3; i <= 20; i++)
        strPipelined += Options(i) + (i % 5 ? "" : strFrame);
    ASSERT_TRUE(Net_SendAll(s32Fd, strPipelined));
    for (unsigned i = 1; i <= 20; i++)
        EXPECT_EQ(OptionsReply(i), Net_ReadReply(s32Fd));
}

// A malformed or oversized message gets 400 (with its CSeq when it was
// read) and the connection closes. (The parser's own tests hold more forms.)
TEST_F(RtspServerTest, MalformedRequestsGet400AndClose)
{
    std::string strHeaders;
    for (int i = 0; i < 63; i++)
        strHeaders += "X-" + std::to_string(i) + ": y\r\n";
    // CSeq and 63 more: exactly the most headers a request may have.
    EXPECT_EQ(OptionsReply(1), Ask(Connect(), "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n" + strHeaders + "\r\n"));
    const struct {
        std::string strRequest;
        const char *pszCSeq;
    } astCase[] = {
        {"OPTIONS * RTSP/1.0\r\nCSeq: 7\r\nContent-Length: 70000\r\n\r\n", "7"},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 7e3\r\nContent-Length: 70000\r\n\r\n", "7e3"},
        {"GARBAGE\r\n\r\n", NO_CSEQ},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 9\r\nTransfer-Encoding: chunked\r\n\r\n", "9"},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 2\r\n" + strHeaders + "X-64: z\r\n\r\n", NO_CSEQ},
        // A head that never ends is cut off at 64 KiB.
        {"OPTIONS * RTSP/1.0\r\nCSeq: 3\r\nX: " + std::string(70000, 'a'), NO_CSEQ},
    };
    for (const auto &stCase : astCase) {
        int s32Fd = Connect();
        (void)Net_SendAll(s32Fd, stCase.strRequest);   // the server may close before all is sent
        EXPECT_EQ(Plain(400, "Bad Request", stCase.pszCSeq), Net_NoDate(Net_ReadReply(s32Fd)))
            << stCase.strRequest.substr(0, 80);
        char c;
        EXPECT_LE(recv(s32Fd, &c, 1, 0), 0) << stCase.strRequest.substr(0, 80);   // closed
    }
}

// A CSeq that is no number the server can take is answered with the
// client's own text, by which it matches its replies, and never with a
// number it did not send: over TCP, where the connection stays, before a
// 505, and over UDP. A text longer than any counter gets no CSeq line.
TEST_F(RtspServerTest, UnreadableCSeqIsAnsweredWithTheClientsText)
{
    const std::string strLongest(32, '9'), strNoLine = "RTSP/1.0 400 Bad Request\r\nDate: D\r\n\r\n";
    const struct {
        std::string strCSeq, strVersion, strReply;
    } astCase[] = {
        {"99999999999999999999", "RTSP/1.0", Plain(400, "Bad Request", "99999999999999999999")},
        {"4294967296", "RTSP/1.0", Plain(400, "Bad Request", "4294967296")},
        {"-1", "RTSP/1.0", Plain(400, "Bad Request", "-1")},
        {strLongest, "RTSP/1.0", Plain(400, "Bad Request", strLongest)},
        {strLongest + "9", "RTSP/1.0", strNoLine},
        {"", "RTSP/1.0", strNoLine},
        {"x1", "RTSP/2.0", Plain(505, "RTSP Version Not Supported", "x1")},
        {"007", "RTSP/1.0", "RTSP/1.0 200 OK\r\nCSeq: 007\r\nPublic: DESCRIBE,SETUP,TEARDOWN,PLAY,PAUSE\r\n\r\n"},
    };
    int s32Fd = Connect();
    for (const auto &stCase : astCase) {
        std::string strRequest = "OPTIONS * " + stCase.strVersion + "\r\nCSeq: " + stCase.strCSeq + "\r\n\r\n";
        EXPECT_EQ(stCase.strReply, Ask(s32Fd, strRequest)) << stCase.strCSeq;
    }
    EXPECT_EQ(OptionsReply(8), Ask(s32Fd, Options(8)));
    int s32Udp = Net_UdpBind("127.0.0.1", 0, 5000);
    vecFd.push_back(s32Udp);
    struct sockaddr_in stAddr = Net_Addr("127.0.0.1", PORT);
    std::string strUdp = "OPTIONS * RTSP/1.0\r\nCSeq: 18446744073709551616\r\n\r\n";
    ASSERT_EQ((ssize_t)strUdp.size(),
              sendto(s32Udp, strUdp.data(), strUdp.size(), 0, (struct sockaddr *)&stAddr, sizeof(stAddr)));
    Bytes vecReply = Net_UdpRecv(s32Udp);
    EXPECT_EQ(Plain(400, "Bad Request", "18446744073709551616"),
              Net_NoDate(std::string(vecReply.begin(), vecReply.end())));
}

TEST_F(RtspServerTest, UdpRequestsAreAnsweredToTheirSender)
{
    int s32Fd = Net_UdpBind("127.0.0.1", 0, 5000);
    vecFd.push_back(s32Fd);
    struct sockaddr_in stAddr = Net_Addr("127.0.0.1", PORT), stFrom;
    // Garbage and a half request get no answer; the whole request after them does.
    for (const std::string &str : {std::string("\x01garbage"), std::string("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n"),
                                   Options(21)})
        ASSERT_EQ((ssize_t)str.size(),
                  sendto(s32Fd, str.data(), str.size(), 0, (struct sockaddr *)&stAddr, sizeof(stAddr)));
    char az[2048];
    socklen_t u32Len = sizeof(stFrom);
    ssize_t n = recvfrom(s32Fd, az, sizeof(az), 0, (struct sockaddr *)&stFrom, &u32Len);
    ASSERT_GT(n, 0);
    EXPECT_EQ(OptionsReply(21), std::string(az, (size_t)n));
    EXPECT_EQ(htons(PORT), stFrom.sin_port);
    // The box's address a datagram came to is the request's host, as the
    // connection's own end is over TCP.
    stAddr = Net_Addr("127.0.0.2", PORT);
    std::string strDescribe = "DESCRIBE rtsp://127.0.0.2/s RTSP/1.0\r\nCSeq: 22\r\n\r\n";
    ASSERT_EQ((ssize_t)strDescribe.size(), sendto(s32Fd, strDescribe.data(), strDescribe.size(), 0,
                                                  (struct sockaddr *)&stAddr, sizeof(stAddr)));
    EXPECT_FALSE(Net_UdpRecv(s32Fd).empty());
    Quiesce();
    EXPECT_EQ(std::vector<std::string>{"DESCRIBE rtsp://127.0.0.2/s 127.0.0.1 127.0.0.2"}, stCalls.vecLog);
}

TEST_F(RtspServerTest, MethodsReachTheirHandlersWithParsedHeaders)
{
    int s32Fd = Connect();
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 1\r\nDate: D\r\nContent-Type: application/sdp\r\nContent-Length: 5\r\n\r\nv=0\r\n",
              Ask(s32Fd, "DESCRIBE rtsp://127.0.0.1/live/main/av_stream RTSP/1.0\r\nCSeq: 1\r\n\r\n"));
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 2\r\nDate: D\r\nSession: 12345\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n",
              Ask(s32Fd, "SETUP rtsp://127.0.0.1/live/main/av_stream/track1 RTSP/1.0\r\nCSeq: 2\r\n"
                         "Transport: RTP/AVP/TCP;unicast;interleaved=0-1, RTP/AVP;unicast;client_port=5000-5001,"
                         "RTP/AVP;multicast\r\n\r\n"));
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 3\r\nDate: D\r\nRange: 1.500-3.000\r\nRTP-Info: url=rtsp://x/track1;seq=1;rtptime=2\r\n\r\n",
              Ask(s32Fd, "PLAY rtsp://127.0.0.1/live/main/av_stream RTSP/1.0\r\nCSeq: 3\r\n"
                         "Session: 12345;timeout=60\r\nRange: npt=1.5-3\r\nScale: 2\r\n\r\n"));
    EXPECT_EQ(Plain(200, "OK", "4"), Ask(s32Fd, "PAUSE rtsp://h/s RTSP/1.0\r\nCSeq: 4\r\nSession: abc\r\nRange: npt=2.25-\r\n\r\n"));
    EXPECT_EQ(Plain(454, "Session Not Found", "5"), Ask(s32Fd, "TEARDOWN rtsp://h/s RTSP/1.0\r\nCSeq: 5\r\nSession: abc\r\n\r\n"));
    // An SDP longer than the other replies' buffer still goes out whole;
    // one that does not fit at all becomes 500.
    stCalls.strSdp = std::string(RTSP_SDP_MAX, 's');
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 6\r\nDate: D\r\nContent-Type: application/sdp\r\nContent-Length: " +
                  std::to_string(RTSP_SDP_MAX) + "\r\n\r\n" + stCalls.strSdp,
              Ask(s32Fd, "DESCRIBE rtsp://h/s RTSP/1.0\r\nCSeq: 6\r\n\r\n"));
    stCalls.strSdp += 'a';
    EXPECT_EQ(Plain(500, "Internal Server Error", "7"), Ask(s32Fd, "DESCRIBE rtsp://h/s RTSP/1.0\r\nCSeq: 7\r\n\r\n"));
    Quiesce();
    EXPECT_EQ((std::vector<std::string>{"DESCRIBE rtsp://127.0.0.1/live/main/av_stream 127.0.0.1 127.0.0.1",
                                        "SETUP rtsp://127.0.0.1/live/main/av_stream/track1 (null)",
                                        "PLAY 12345 1500 3000 2.000000", "PAUSE abc 2250", "TEARDOWN abc",
                                        "DESCRIBE rtsp://h/s 127.0.0.1 127.0.0.1", "DESCRIBE rtsp://h/s 127.0.0.1 127.0.0.1"}),
              stCalls.vecLog);
    ASSERT_EQ(3u, stCalls.vecTransport.size());
    EXPECT_EQ(RTSP_TRANSPORT_RTP_TCP, stCalls.vecTransport[0].enTransport);
    EXPECT_EQ(0, stCalls.vecTransport[0].as32Interleaved[0]);
    EXPECT_EQ(5000, stCalls.vecTransport[1].au16ClientPort[0]);
    EXPECT_TRUE(stCalls.vecTransport[2].bMulticast);
    // Interleaved frames longer than a frame can say are refused. (Frames
    // that go, and the end of a connection's sessions: the service tests.)
    std::string strPacket(70000, 'p');
    EXPECT_EQ(EMSGSIZE, rtsp_server_send_interleaved(stCalls.vecTransport[0].pvOwner, 2, strPacket.data(), 70000));
}

TEST_F(RtspServerTest, FiveHundredIdleConnectionsDoNotDelayANewOne)
{
    struct rlimit stLimit;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &stLimit));
    if (stLimit.rlim_cur < 2048) {
        stLimit.rlim_cur = stLimit.rlim_max < 2048 ? stLimit.rlim_max : 2048;
        ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stLimit));
    }
    ASSERT_GE(stLimit.rlim_cur, 1100u);
    for (int i = 0; i < 500; i++) {
        std::string strFrom = "127.0.1." + std::to_string(1 + i / (RTSP_PEER_CONNECTIONS - 1));
        ASSERT_GE(Connect(strFrom.c_str()), 0) << i;
    }
    EXPECT_EQ(OptionsReply(1), Ask(Connect(), Options(1)));
    // The idle ones are still served too.
    EXPECT_EQ(OptionsReply(2), Ask(vecFd[0], Options(2)));
}

// 100 MB of interleaved frames with random payload, written in random
// pieces: the connection stays in step and the heap does not grow.
TEST_F(RtspServerTest, StreamOfGarbageFramesKeepsMemoryFlat)
{
    int s32Fd = Connect();
    ASSERT_EQ(OptionsReply(1), Ask(s32Fd, Options(1)));
    size_t heapBefore = HeapInUse();
    std::mt19937 rng(7);
    std::string strChunk;
    for (size_t sent = 0; sent < 100u * 1024 * 1024; sent += strChunk.size()) {
        u32 u32Len = rng() % 65536;
        strChunk.assign(4 + u32Len, '\0');
        strChunk[0] = '$';
        strChunk[1] = (char)(rng() & 0xFF);
        strChunk[2] = (char)(u32Len >> 8);
        strChunk[3] = (char)u32Len;
        for (size_t i = 4; i < strChunk.size(); i += 64)
            strChunk[i] = (char)rng();
        ASSERT_TRUE(Net_SendAll(s32Fd, strChunk));
    }
    EXPECT_EQ(OptionsReply(2), Ask(s32Fd, Options(2)));
    size_t heapAfter = HeapInUse();
    EXPECT_LT(heapAfter, heapBefore + 1024 * 1024) << heapBefore << " -> " << heapAfter;
}

// Out of descriptors, the listener pauses and accepts again later.
TEST_F(RtspServerTest, ListenerRecoversFromRunningOutOfDescriptors)
{
    int s32Client = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(s32Client, 0);
    vecFd.push_back(s32Client);
    struct rlimit stOld, stTight;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &stOld));
    int s32Free = dup(0);
    ASSERT_GE(s32Free, 0);
    close(s32Free);
    stTight = stOld;
    stTight.rlim_cur = (rlim_t)s32Free;   // no new descriptor can be had
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stTight));
    struct sockaddr_in stAddr = Net_Addr("127.0.0.1", PORT);
    int s32Ret = connect(s32Client, (struct sockaddr *)&stAddr, sizeof(stAddr));
    usleep(300000);   // several refused accepts happen meanwhile
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stOld));
    ASSERT_EQ(0, s32Ret);
    Net_Timeout(s32Client, NET_TIMEOUT_MS);
    EXPECT_EQ(OptionsReply(9), Ask(s32Client, Options(9)));
}

// Whether the server closed the connection within a second.
static bool Closed(int s32Fd)
{
    char c;
    Net_Timeout(s32Fd, 1000);
    return recv(s32Fd, &c, 1, 0) == 0;
}

// Connections that play nothing are closed when silent: after 30 s without
// a whole first request or with half of one, after 120 s without any; one
// that plays is kept however long it is silent.
TEST_F(RtspServerTest, IdleConnectionsAreClosed)
{
    int s32Mute = Connect(), s32Half = Connect(), s32Asked = Connect(), s32Player = Connect();
    EXPECT_EQ(OptionsReply(1), Ask(s32Asked, Options(1)));
    EXPECT_EQ(OptionsReply(1), Ask(s32Half, Options(1)));
    ASSERT_TRUE(Net_SendAll(s32Half, "OPTIONS * RTSP/1.0\r\nCSe"));
    Ask(s32Player, "SETUP rtsp://127.0.0.1/live/main/av_stream/track1 RTSP/1.0\r\nCSeq: 1\r\n"
                   "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n");
    u64SkewMs = RTSP_REQUEST_MS - 2000;
    EXPECT_EQ(OptionsReply(2), Ask(s32Asked, Options(2)));   // nothing closed yet
    u64SkewMs = RTSP_REQUEST_MS + 1000;
    EXPECT_TRUE(Closed(s32Mute));
    EXPECT_TRUE(Closed(s32Half));
    EXPECT_EQ(OptionsReply(3), Ask(s32Asked, Options(3)));
    u64SkewMs = RTSP_IDLE_MS + 2000;
    EXPECT_TRUE(Closed(s32Asked));
    u64SkewMs = 100 * RTSP_IDLE_MS;
    EXPECT_EQ(OptionsReply(2), Ask(s32Player, Options(2)));
}

// Players connecting or leaving in a burst give a line or so, and once the
// burst is over a line with the number of connections then and the count
// of lines dropped. The log goes to its file, read while it grows.
TEST_F(RtspServerTest, PlayerLinesGiveTheNumberOfConnectionsAfterABurst)
{
    const char *const pszLog = "/tmp/debug_main.txt";
    const std::string strMark = "burst of players begins\n";   // what comes before is another run's
    g_bFileDebugOn = DEBUG_LOG_FILE;
    Debug_Log("[%s]: %s", log_Time(), strMark.c_str());
    auto waitLog = [pszLog, strMark](const std::regex &re) {
        std::string strLog;
        for (u64 u64End = time64_monotonic() + 5000; time64_monotonic() < u64End; usleep(20 * 1000)) {
            std::ifstream in(pszLog);
            strLog.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
            size_t sizeMark = strLog.rfind(strMark);
            strLog.erase(0, sizeMark == std::string::npos ? 0 : sizeMark);
            if (std::regex_search(strLog, re))
                return strLog;
        }
        ADD_FAILURE() << "not in the log: " << strLog;
        return strLog;
    };
    const char *const pszStamp = R"(\[[^\]]+\]: )";
    std::vector<int> vecPlayers;
    for (int i = 0; i < 8; i++) {
        vecPlayers.push_back(Connect());
        EXPECT_EQ(OptionsReply(1), Ask(vecPlayers.back(), Options(1)));
    }
    const std::string strDropped = std::string(pszStamp) + R"(\(\d+ similar messages suppressed\)\n)";
    std::string strLog = waitLog(std::regex("RTSP players: 8 connections\n" + strDropped));
    EXPECT_NE(std::string::npos, strLog.find("connected, 1 connections\n")) << strLog;
    for (int s32Fd : vecPlayers)
        shutdown(s32Fd, SHUT_RDWR);
    waitLog(std::regex("RTSP players: 0 connections\n" + strDropped));
    g_bFileDebugOn = DEBUG_LOG_STDOUT;
}

// Control connections take at most half of the descriptors RTSP may hold;
// the ones beyond are closed at once and the others still served.
TEST_F(RtspServerTest, ConnectionsFollowTheDescriptorLimit)
{
    struct rlimit stOld, stLow;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &stOld));
    stLow = stOld;
    stLow.rlim_cur = 256;   // RTSP may hold 176: 88 connections
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stLow));
    for (int i = 0; i < 88; i++) {
        std::string strFrom = "127.0.1." + std::to_string(1 + i % 4);   // within each address's share
        ASSERT_EQ(OptionsReply(1), Ask(Connect(strFrom.c_str()), Options(1))) << i;
    }
    int s32Refused = Connect("127.0.1.9");
    ASSERT_GE(s32Refused, 0);
    EXPECT_TRUE(Closed(s32Refused));
    EXPECT_EQ(OptionsReply(2), Ask(vecFd[0], Options(2)));
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stOld));
}

// One address holds at most RTSP_PEER_CONNECTIONS control connections: one
// more is closed at once while other addresses are served, and each way a
// connection ends (its client closes, a malformed request, the idle sweep)
// gives its place back.
TEST_F(RtspServerTest, ConnectionsPerAddressAreCapped)
{
    const char *const pszGreedy = "127.0.2.1";
    std::vector<int> vecGreedy;
    auto fill = [&](int s32Count) {
        for (int i = 0; i < s32Count; i++) {
            vecGreedy.push_back(Connect(pszGreedy));
            ASSERT_EQ(OptionsReply(1), Ask(vecGreedy.back(), Options(1))) << i;
        }
        EXPECT_TRUE(Closed(Connect(pszGreedy)));
    };
    fill(RTSP_PEER_CONNECTIONS);
    EXPECT_EQ(OptionsReply(2), Ask(Connect("127.0.2.2"), Options(2)));
    EXPECT_EQ(OptionsReply(3), Ask(Connect(), Options(3)));
    ASSERT_EQ(0, shutdown(vecGreedy[0], SHUT_WR));
    EXPECT_TRUE(Closed(vecGreedy[0]));
    EXPECT_EQ(Plain(400, "Bad Request", NO_CSEQ), Ask(vecGreedy[1], "GARBAGE\r\n\r\n"));
    EXPECT_TRUE(Closed(vecGreedy[1]));
    fill(2);
    u64SkewMs = RTSP_IDLE_MS + 2000;
    for (int s32Fd : vecGreedy)
        EXPECT_TRUE(Closed(s32Fd));
    u64SkewMs = 0;
    fill(RTSP_PEER_CONNECTIONS);
}

// Out of memory, a connection from an address not counted yet is refused
// at once, its count not kept; one from an address that holds one, and
// the connections open, are served as ever. With memory back, that
// address gets its whole share: the failure left no count behind.
TEST_F(RtspServerTest, AConnectionWhoseCountCannotBeKeptIsRefused)
{
    int s32Held = Connect();
    ASSERT_EQ(OptionsReply(1), Ask(s32Held, Options(1)));
    TestAlloc_FailOthers(0);
    int s32New = Connect("127.0.3.1"), s32Known = Connect();
    bool bRefused = Closed(s32New);
    std::string strKnown = Ask(s32Known, Options(2)), strHeld = Ask(s32Held, Options(3));
    TestAlloc_Pass();
    EXPECT_TRUE(bRefused);
    EXPECT_GT(TestAlloc_Failed(), 0u);
    EXPECT_EQ(OptionsReply(2), strKnown);
    EXPECT_EQ(OptionsReply(3), strHeld);
    for (int i = 0; i < RTSP_PEER_CONNECTIONS; i++)
        ASSERT_EQ(OptionsReply(1), Ask(Connect("127.0.3.1"), Options(1))) << i;
    EXPECT_TRUE(Closed(Connect("127.0.3.1")));
}

// Every whole request that names a session, whatever its method and its
// answer, over TCP or UDP, is told to the alive proc; others are not.
TEST_F(RtspServerTest, RequestsNamingASessionAreSignsOfLife)
{
    int s32Fd = Connect();
    EXPECT_EQ(OptionsReply(1), Ask(s32Fd, "OPTIONS * RTSP/1.0\r\nCSeq: 1\r\nSession: 777\r\n\r\n"));
    EXPECT_EQ(Plain(501, "Not Implemented", "2"),
              Ask(s32Fd, "GET_PARAMETER rtsp://h/s RTSP/1.0\r\nCSeq: 2\r\nSession: 777;timeout=60\r\n\r\n"));
    EXPECT_EQ(Plain(400, "Bad Request", NO_CSEQ), Ask(s32Fd, "GET_PARAMETER rtsp://h/s RTSP/1.0\r\nSession: 778\r\n\r\n"));
    EXPECT_EQ(OptionsReply(3), Ask(s32Fd, Options(3)));
    EXPECT_EQ(Plain(454, "Session Not Found", "4"), Ask(s32Fd, "PLAY rtsp://h/s RTSP/1.0\r\nCSeq: 4\r\nSession: ;x\r\n\r\n"));
    int s32Udp = Net_UdpBind("127.0.0.5", 0, 5000);
    vecFd.push_back(s32Udp);
    struct sockaddr_in stAddr = Net_Addr("127.0.0.1", PORT);
    std::string strUdp = "OPTIONS * RTSP/1.0\r\nCSeq: 5\r\nSession: 779\r\n\r\n";
    ASSERT_EQ((ssize_t)strUdp.size(), sendto(s32Udp, strUdp.data(), strUdp.size(), 0, (struct sockaddr *)&stAddr,
                                             sizeof(stAddr)));
    Bytes vecReply = Net_UdpRecv(s32Udp);
    EXPECT_EQ(OptionsReply(5), std::string(vecReply.begin(), vecReply.end()));
    Quiesce();
    EXPECT_EQ((std::vector<std::string>{"TCP 127.0.0.1 777", "TCP 127.0.0.1 777", "TCP 127.0.0.1 778",
                                        "UDP 127.0.0.5 779"}),
              stCalls.vecAlive);
}

// Connections that pipeline requests and never read their replies: each
// holds at most a few KiB of replies (its further requests stay unread),
// others are still served, and each is closed once its queue has not
// moved for 10 s, though it sends nothing new.
TEST_F(RtspServerTest, NonReadingPipelinersAreBoundedAndClosed)
{
    const int CONNECTIONS = 50;   // 200, in a box: the end-to-end test
    struct rlimit stLimit;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &stLimit));
    ASSERT_GE(stLimit.rlim_cur, 2u * CONNECTIONS + 64);
    std::string strBurst;
    for (int i = 0; i < 200; i++)
        strBurst += Options(100 + i);
    size_t heapBefore = HeapInUse();
    std::vector<int> vecPipe;
    for (int i = 0; i < CONNECTIONS; i++) {
        int s32Fd = Net_Connect(PORT, 4096);
        ASSERT_GE(s32Fd, 0) << i;
        vecFd.push_back(s32Fd);
        vecPipe.push_back(s32Fd);
    }
    // Requests until the server takes no more: more replies than the
    // socket buffers hold, which grow to some MiB on loopback.
    const size_t EACH = 16 * 1024 * 1024;
    std::vector<size_t> vecSent(CONNECTIONS);
    size_t total = 0;
    for (int s32Idle = 0; s32Idle < 10 && total < EACH * CONNECTIONS;) {
        size_t round = 0;
        for (int i = 0; i < CONNECTIONS; i++) {
            ssize_t n;
            while (vecSent[i] < EACH &&
                   (n = send(vecPipe[i], strBurst.data(), strBurst.size(), MSG_DONTWAIT | MSG_NOSIGNAL)) > 0)
                vecSent[i] += (size_t)n;
            round += vecSent[i];
        }
        s32Idle = round == total ? s32Idle + 1 : 0;
        total = round;
        usleep(50000);
    }
    usleep(500000);
    size_t heapAfter = HeapInUse();
    EXPECT_LT(heapAfter, heapBefore + 4u * 1024 * 1024) << heapBefore << " -> " << heapAfter << ", " << total;
    EXPECT_EQ(OptionsReply(1), Ask(Connect(), Options(1)));
    // Watched without reading, which would be progress. The last ones
    // stopped moving when the requests stopped; a sanitized server may
    // still be reading its backlog then.
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    int s32Open = CONNECTIONS;
    while (s32Open > 0 && std::chrono::steady_clock::now() < tEnd) {
        usleep(200000);
        s32Open = 0;
        for (int s32Fd : vecPipe) {
            struct pollfd stPoll = {s32Fd, POLLRDHUP, 0};
            s32Open += poll(&stPoll, 1, 0) == 0 || !(stPoll.revents & (POLLRDHUP | POLLHUP | POLLERR));
        }
    }
    EXPECT_EQ(0, s32Open) << total;
}

// A player that stops reading while small interleaved frames pile up
// (its queue fills by count of pieces long before its bytes): the queue
// refuses further frames, yet the player's next request is still answered
// once it reads again, and its connection stays.
TEST_F(RtspServerTest, RepliesPassAQueueFullOfSmallFrames)
{
    int s32Fd = Net_Connect(PORT, 4096);
    ASSERT_GE(s32Fd, 0);
    vecFd.push_back(s32Fd);
    ASSERT_EQ(200, std::stoi(Ask(s32Fd, "SETUP rtsp://127.0.0.1/live/main/av_stream/track1 RTSP/1.0\r\nCSeq: 1\r\n"
                                        "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n")
                                    .substr(9, 3)));
    void *pvConnection = stCalls.pvPlaying;   // set before the reply went
    const u8 au8Rtp[40] = {0x80, 96};
    s32 s32Ret = 0;
    size_t frames = 0;
    // Until the queue takes no more after the reactor had its time to
    // write: socket buffers on loopback take some MiB first.
    for (size_t last = 1; last != frames && frames < 1000000; usleep(50000)) {
        last = frames;
        while ((s32Ret = rtsp_server_send_interleaved(pvConnection, 0, au8Rtp, sizeof(au8Rtp))) == 0)
            frames++;
    }
    ASSERT_EQ(ENOBUFS, s32Ret) << frames;
    EXPECT_GT(rtsp_server_interleaved_room(pvConnection), 0);   // bytes were not what ran out
    ASSERT_TRUE(Net_SendAll(s32Fd, "PAUSE rtsp://127.0.0.1/live/main/av_stream RTSP/1.0\r\nCSeq: 2\r\nSession: 12345\r\n\r\n"));
    std::vector<TestInterleaved> vecFrames;
    EXPECT_EQ(Plain(200, "OK", "2"), Net_NoDate(Net_ReadReply(s32Fd, &vecFrames)));
    EXPECT_EQ(frames, vecFrames.size());
    EXPECT_EQ(OptionsReply(3), Ask(s32Fd, Options(3)));
}
