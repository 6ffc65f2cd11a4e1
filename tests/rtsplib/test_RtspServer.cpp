#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <random>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "rtsplib/src/rtsp/RtspServer.h"
#include "rtsplib/src/socket/AioSocket.h"
#include "tests/rtsplib/RtspTestNet.h"

static const unsigned short PORT = 554;
static const char OPTIONS_REPLY[] = "RTSP/1.0 200 OK\r\nCSeq: %u\r\nPublic: DESCRIBE,SETUP,TEARDOWN,PLAY,PAUSE\r\n\r\n";

static std::string Options(unsigned u32CSeq, const char *pszMethod = "OPTIONS")
{
    return std::string(pszMethod) + " rtsp://127.0.0.1/live/main/av_stream RTSP/1.0\r\nCSeq: " +
           std::to_string(u32CSeq) + "\r\n\r\n";
}

static std::string OptionsReply(unsigned u32CSeq)
{
    char az[128];
    snprintf(az, sizeof(az), OPTIONS_REPLY, u32CSeq);
    return az;
}

static std::string Plain(int s32Code, const char *pszReason, const char *pszCSeq)
{
    return "RTSP/1.0 " + std::to_string(s32Code) + " " + pszReason + "\r\nCSeq: " + pszCSeq + "\r\nDate: D\r\n\r\n";
}

// What the handlers were given, and what the DESCRIBE handler answers.
struct Calls {
    std::vector<std::string> vecMethod;
    std::string strUri, strSession;
    std::vector<RtspHeaderTransport_S> vecTransport;
    bool bStart = false, bEnd = false, bScale = false;
    s64 s64Start = 0, s64End = 0;
    double dScale = 0;
    std::string strSdp = "v=0\r\n";
    std::vector<void *> vecClosed;
    char azClient[RTSP_ADDRESS_TEXT] = "", azHost[RTSP_ADDRESS_TEXT] = "";
};

static void OnDescribe(void *pv, RtspServerReq_S *pstReq, const char *pszUri)
{
    Calls *p = (Calls *)pv;
    u16 u16Port;
    p->vecMethod.push_back("DESCRIBE");
    p->strUri = pszUri;
    rtsp_server_get_client(pstReq, p->azClient, &u16Port);
    rtsp_server_get_host(pstReq, p->azHost, &u16Port);
    rtsp_server_reply_describe(pstReq, 200, p->strSdp.c_str());
}

static void OnSetup(void *pv, RtspServerReq_S *pstReq, const char *pszUri, const char *pszSession,
                    const RtspHeaderTransport_S *pastTransport, u32 u32Num)
{
    Calls *p = (Calls *)pv;
    p->vecMethod.push_back("SETUP");
    p->strUri = pszUri;
    p->strSession = pszSession ? pszSession : "(null)";
    p->vecTransport.assign(pastTransport, pastTransport + u32Num);
    rtsp_server_reply_setup(pstReq, 200, "12345", "RTP/AVP/TCP;unicast;interleaved=0-1");
}

static void OnPlay(void *pv, RtspServerReq_S *pstReq, const char *, const char *pszSession, const s64 *ps64Start,
                   const s64 *ps64End, const double *pdScale)
{
    Calls *p = (Calls *)pv;
    p->vecMethod.push_back("PLAY");
    p->strSession = pszSession;
    p->bStart = ps64Start != nullptr;
    p->bEnd = ps64End != nullptr;
    p->bScale = pdScale != nullptr;
    p->s64Start = ps64Start ? *ps64Start : 0;
    p->s64End = ps64End ? *ps64End : 0;
    p->dScale = pdScale ? *pdScale : 0;
    rtsp_server_reply_play(pstReq, 200, ps64Start, ps64End, "url=rtsp://x/track1;seq=1;rtptime=2");
}

static void OnPause(void *pv, RtspServerReq_S *pstReq, const char *, const char *pszSession, const s64 *ps64Start)
{
    Calls *p = (Calls *)pv;
    p->vecMethod.push_back("PAUSE");
    p->strSession = pszSession;
    p->bStart = ps64Start != nullptr;
    p->s64Start = ps64Start ? *ps64Start : 0;
    rtsp_server_reply_pause(pstReq, 200);
}

static void OnTeardown(void *pv, RtspServerReq_S *pstReq, const char *, const char *pszSession)
{
    Calls *p = (Calls *)pv;
    p->vecMethod.push_back("TEARDOWN");
    p->strSession = pszSession;
    rtsp_server_reply_teardown(pstReq, 454);
}

static void OnClose(void *pv, void *pvConnection)
{
    ((Calls *)pv)->vecClosed.push_back(pvConnection);
}

struct RtspServerTest : public testing::Test {
    Calls stCalls;
    RtspServer_S *pstServer = nullptr;
    ReactorThread stReactor;
    std::vector<int> vecFd;

    void SetUp() override
    {
        static const RtspServerHandler_S s_stHandler = {OnDescribe, OnSetup, OnPlay, OnPause, OnTeardown};
        ASSERT_EQ(0, aio_socket_init(1));
        pstServer = rtsp_server_create(nullptr, PORT, &s_stHandler, 1024, &stCalls);
        ASSERT_NE(nullptr, pstServer);
        rtsp_server_register(pstServer, OnClose);
        stReactor.Start();
    }
    void TearDown() override
    {
        for (int s32Fd : vecFd)
            close(s32Fd);
        stReactor.Stop();
        if (pstServer)
            rtsp_server_destroy(pstServer);
        g_azUserAgent[0] = '\0';
    }
    int Connect()
    {
        int s32Fd = Net_Connect(PORT);
        if (s32Fd >= 0)
            vecFd.push_back(s32Fd);
        return s32Fd;
    }
    // Sends one request on a new connection and returns the reply, date masked.
    std::string Ask(const std::string &strRequest)
    {
        int s32Fd = Connect();
        EXPECT_TRUE(Net_SendAll(s32Fd, strRequest));
        return Net_NoDate(Net_ReadReply(s32Fd));
    }
    // The reactor thread's state after a request is only safe to read once stopped.
    void Quiesce() { stReactor.Stop(); }
};

TEST_F(RtspServerTest, OptionsReplyIsExactInAnyCase)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(2)));
    EXPECT_EQ(OptionsReply(2), Net_ReadReply(s32Fd));
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(3, "options")));
    EXPECT_EQ(OptionsReply(3), Net_ReadReply(s32Fd));
}

// A request without CSeq is refused with the unset value; the connection stays.
TEST_F(RtspServerTest, MissingCSeqGets400AndConnectionStays)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, "OPTIONS rtsp://127.0.0.1/ RTSP/1.0\r\nUser-Agent: t\r\n\r\n"));
    EXPECT_EQ(Plain(400, "Bad Request", "4294967295"), Net_NoDate(Net_ReadReply(s32Fd)));
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(5)));
    EXPECT_EQ(OptionsReply(5), Net_ReadReply(s32Fd));
}

TEST_F(RtspServerTest, UnknownMethodsGet501AndConnectionAnswersAfter)
{
    int s32Fd = Connect();
    unsigned u32CSeq = 10;
    for (const char *pszMethod : {"GET_PARAMETER", "SET_PARAMETER", "ANNOUNCE", "RECORD", "X"}) {
        ASSERT_TRUE(Net_SendAll(s32Fd, Options(u32CSeq, pszMethod)));
        EXPECT_EQ(Plain(501, "Not Implemented", std::to_string(u32CSeq).c_str()), Net_NoDate(Net_ReadReply(s32Fd)))
            << pszMethod;
        u32CSeq++;
    }
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(99)));
    EXPECT_EQ(OptionsReply(99), Net_ReadReply(s32Fd));
}

// Any major version but 1 is refused; minor versions pass.
TEST_F(RtspServerTest, MajorVersionOtherThanOneGets505)
{
    int s32Fd = Connect();
    for (const char *pszVersion : {"RTSP/2.0", "RTSP/0.9", "RTSP/2.1"}) {
        ASSERT_TRUE(Net_SendAll(s32Fd, std::string("OPTIONS * ") + pszVersion + "\r\nCSeq: 4\r\n\r\n"));
        EXPECT_EQ(Plain(505, "RTSP Version Not Supported", "4"), Net_NoDate(Net_ReadReply(s32Fd))) << pszVersion;
    }
    ASSERT_TRUE(Net_SendAll(s32Fd, "OPTIONS * RTSP/1.1\r\nCSeq: 6\r\n\r\n"));
    EXPECT_EQ(OptionsReply(6), Net_ReadReply(s32Fd));
}

TEST_F(RtspServerTest, RequestSplitAcrossWritesIsAnsweredOnce)
{
    int s32Fd = Connect();
    std::string str = Options(7);
    for (size_t i = 0; i < str.size(); i += 3) {
        ASSERT_TRUE(Net_SendAll(s32Fd, str.substr(i, 3)));
        usleep(2000);
    }
    EXPECT_EQ(OptionsReply(7), Net_ReadReply(s32Fd));
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(8)));
    EXPECT_EQ(OptionsReply(8), Net_ReadReply(s32Fd));
}

TEST_F(RtspServerTest, SeveralRequestsInOneWriteAreAnsweredInOrder)
{
    int s32Fd = Connect();
    std::string str;
    for (unsigned i = 1; i <= 20; i++)
        str += Options(i);
    ASSERT_TRUE(Net_SendAll(s32Fd, str));
    for (unsigned i = 1; i <= 20; i++)
        EXPECT_EQ(OptionsReply(i), Net_ReadReply(s32Fd));
}

// Frames are skipped by their length, even when they hold request text
// and arrive in pieces; each request around them is answered.
TEST_F(RtspServerTest, InterleavedFramesBetweenRequestsAreSkipped)
{
    int s32Fd = Connect();
    std::string strInner = Options(666);
    std::string strFrame = std::string("$\x01", 2) + (char)(strInner.size() >> 8) + (char)strInner.size() + strInner;
    std::string strBig(4 + 65535, 'x');
    strBig[0] = '$';
    strBig[1] = 0;
    strBig[2] = (char)0xFF;
    strBig[3] = (char)0xFF;
    std::string strEmpty("$\x00\x00\x00", 4);
    std::string str = strFrame + Options(1) + strEmpty + strBig + Options(2) + strFrame;
    // Pieces cut inside frame heads, payloads and requests alike.
    for (size_t i = 0; i < str.size();) {
        size_t n = i < 200 ? 1 : 997;
        ASSERT_TRUE(Net_SendAll(s32Fd, str.substr(i, n)));
        i += n;
    }
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(3)));
    EXPECT_EQ(OptionsReply(1), Net_ReadReply(s32Fd));
    EXPECT_EQ(OptionsReply(2), Net_ReadReply(s32Fd));
    EXPECT_EQ(OptionsReply(3), Net_ReadReply(s32Fd));
}

// A malformed message gets 400 (with its CSeq when it was read) and the
// connection closes.
TEST_F(RtspServerTest, MalformedRequestsGet400AndClose)
{
    const struct {
        std::string strRequest;
        const char *pszCSeq;
    } astCase[] = {
        {"OPTIONS * RTSP/1.0\r\nCSeq: 7\r\nContent-Length: 70000\r\n\r\n", "7"},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 8\r\nContent-Length: 1x\r\n\r\n", "8"},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 12a\r\n\r\n", "4294967295"},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 4294967296\r\n\r\n", "4294967295"},
        {"GARBAGE\r\n\r\n", "4294967295"},
        {"OPTIONS * HTTP/1.0\r\nCSeq: 1\r\n\r\n", "4294967295"},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 9\r\nno colon here\r\n\r\n", "9"},
        {"OPTIONS * RTSP/1.0\r\nCSeq: 9\r\nTransfer-Encoding: chunked\r\n\r\n", "9"},
    };
    for (const auto &stCase : astCase) {
        int s32Fd = Connect();
        ASSERT_TRUE(Net_SendAll(s32Fd, stCase.strRequest));
        EXPECT_EQ(Plain(400, "Bad Request", stCase.pszCSeq), Net_NoDate(Net_ReadReply(s32Fd))) << stCase.strRequest;
        EXPECT_TRUE(Net_Closed(s32Fd)) << stCase.strRequest;
    }
}

TEST_F(RtspServerTest, MessagesPastTheBoundsGet400AndClose)
{
    std::string strHeaders;
    for (int i = 0; i < 63; i++)
        strHeaders += "X-" + std::to_string(i) + ": y\r\n";
    // CSeq and 63 more: exactly the most headers a request may have.
    EXPECT_EQ(OptionsReply(1), Ask("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n" + strHeaders + "\r\n"));

    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, "OPTIONS * RTSP/1.0\r\nCSeq: 2\r\n" + strHeaders + "X-64: z\r\n\r\n"));
    EXPECT_EQ(Plain(400, "Bad Request", "4294967295"), Net_NoDate(Net_ReadReply(s32Fd)));
    EXPECT_TRUE(Net_Closed(s32Fd));

    // A head that never ends is cut off at 64 KiB.
    s32Fd = Connect();
    std::string strLong = "OPTIONS * RTSP/1.0\r\nCSeq: 3\r\nX: " + std::string(70000, 'a');
    (void)Net_SendAll(s32Fd, strLong);   // the server may close before all is sent
    EXPECT_EQ(Plain(400, "Bad Request", "4294967295"), Net_NoDate(Net_ReadReply(s32Fd)));
    EXPECT_TRUE(Net_Closed(s32Fd));
}

TEST_F(RtspServerTest, OverlongUriGets414AndConnectionStays)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, "DESCRIBE rtsp://127.0.0.1/" + std::string(300, 'u') + " RTSP/1.0\r\nCSeq: 3\r\n\r\n"));
    EXPECT_EQ(Plain(414, "Request-URI Too Large", "3"), Net_NoDate(Net_ReadReply(s32Fd)));
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(4)));
    EXPECT_EQ(OptionsReply(4), Net_ReadReply(s32Fd));
    Quiesce();
    EXPECT_TRUE(stCalls.vecMethod.empty());
}

TEST_F(RtspServerTest, UdpRequestsAreAnsweredToTheirSender)
{
    int s32Fd = Net_Udp();
    vecFd.push_back(s32Fd);
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(PORT);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    // Garbage and a half request get no answer; the whole request after them does.
    for (const std::string &str : {std::string("\x01garbage"), std::string("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\n"),
                                   Options(21)})
        ASSERT_EQ((ssize_t)str.size(),
                  sendto(s32Fd, str.data(), str.size(), 0, (struct sockaddr *)&stAddr, sizeof(stAddr)));
    char az[2048];
    struct sockaddr_in stFrom;
    socklen_t u32Len = sizeof(stFrom);
    ssize_t n = recvfrom(s32Fd, az, sizeof(az), 0, (struct sockaddr *)&stFrom, &u32Len);
    ASSERT_GT(n, 0);
    EXPECT_EQ(OptionsReply(21), std::string(az, (size_t)n));
    EXPECT_EQ(htons(PORT), stFrom.sin_port);
}

TEST_F(RtspServerTest, MethodsReachTheirHandlersWithParsedHeaders)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, "DESCRIBE rtsp://127.0.0.1/live/main/av_stream RTSP/1.0\r\nCSeq: 1\r\n\r\n"));
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 1\r\nDate: D\r\nContent-Type: application/sdp\r\nContent-Length: 5\r\n\r\nv=0\r\n",
              Net_NoDate(Net_ReadReply(s32Fd)));
    ASSERT_TRUE(Net_SendAll(s32Fd, "SETUP rtsp://127.0.0.1/live/main/av_stream/track1 RTSP/1.0\r\nCSeq: 2\r\n"
                                   "Transport: RTP/AVP/TCP;unicast;interleaved=0-1, RTP/AVP;unicast;client_port=5000-5001,"
                                   "RTP/AVP;multicast\r\n\r\n"));
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 2\r\nDate: D\r\nSession: 12345\r\nTransport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n\r\n",
              Net_NoDate(Net_ReadReply(s32Fd)));
    ASSERT_TRUE(Net_SendAll(s32Fd, "PLAY rtsp://127.0.0.1/live/main/av_stream RTSP/1.0\r\nCSeq: 3\r\n"
                                   "Session: 12345;timeout=60\r\nRange: npt=1.5-3\r\nScale: 2\r\n\r\n"));
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 3\r\nDate: D\r\nRange: 1.500-3.000\r\nRTP-Info: url=rtsp://x/track1;seq=1;rtptime=2\r\n\r\n",
              Net_NoDate(Net_ReadReply(s32Fd)));
    Quiesce();
    ASSERT_EQ((std::vector<std::string>{"DESCRIBE", "SETUP", "PLAY"}), stCalls.vecMethod);
    EXPECT_STREQ("127.0.0.1", stCalls.azClient);
    EXPECT_STREQ("127.0.0.1", stCalls.azHost);
    EXPECT_EQ("12345", stCalls.strSession);
    EXPECT_TRUE(stCalls.bStart && stCalls.bEnd && stCalls.bScale);
    EXPECT_EQ(1500, stCalls.s64Start);
    EXPECT_EQ(3000, stCalls.s64End);
    EXPECT_EQ(2.0, stCalls.dScale);
    ASSERT_EQ(3u, stCalls.vecTransport.size());
    EXPECT_EQ(RTSP_TRANSPORT_RTP_TCP, stCalls.vecTransport[0].enTransport);
    EXPECT_EQ(0, stCalls.vecTransport[0].as32Interleaved[0]);
    EXPECT_EQ(5000, stCalls.vecTransport[1].au16ClientPort[0]);
    EXPECT_TRUE(stCalls.vecTransport[2].bMulticast);
    EXPECT_NE(nullptr, stCalls.vecTransport[0].pvOwner);
    EXPECT_EQ(stCalls.vecTransport[0].pvOwner, stCalls.vecTransport[2].pvOwner);
}

TEST_F(RtspServerTest, RefusalsOfSetupPlayPauseAndTeardown)
{
    const struct {
        std::string strRequest;
        int s32Code;
        const char *pszReason;
    } astCase[] = {
        {"SETUP rtsp://h/s/track1 RTSP/1.0\r\nCSeq: 1\r\n\r\n", 461, "Unsupported Transport"},
        {"SETUP rtsp://h/s/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP;client_port=0-1\r\n\r\n", 461,
         "Unsupported Transport"},
        {"SETUP rtsp://h/s/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP;destination=evil.example\r\n\r\n", 461,
         "Unsupported Transport"},
        {"PLAY rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\n\r\n", 454, "Session Not Found"},
        {"PLAY rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\nSession: \r\n\r\n", 454, "Session Not Found"},
        {"PAUSE rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\n\r\n", 454, "Session Not Found"},
        {"PAUSE rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\nSession: 1\r\nRange: npt=1-2\r\n\r\n", 457, "Invalid Range"},
        {"TEARDOWN rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\n\r\n", 454, "Session Not Found"},
    };
    for (const auto &stCase : astCase)
        EXPECT_EQ(Plain(stCase.s32Code, stCase.pszReason, "1"), Ask(stCase.strRequest)) << stCase.strRequest;
    Quiesce();
    EXPECT_TRUE(stCalls.vecMethod.empty());
}

TEST_F(RtspServerTest, PauseWithOpenRangeAndTeardownReachHandlers)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, "PAUSE rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\nSession: abc\r\nRange: npt=2.25-\r\n\r\n"));
    EXPECT_EQ(Plain(200, "OK", "1"), Net_NoDate(Net_ReadReply(s32Fd)));
    ASSERT_TRUE(Net_SendAll(s32Fd, "TEARDOWN rtsp://h/s RTSP/1.0\r\nCSeq: 2\r\nSession: abc\r\n\r\n"));
    EXPECT_EQ(Plain(454, "Session Not Found", "2"), Net_NoDate(Net_ReadReply(s32Fd)));
    Quiesce();
    EXPECT_EQ((std::vector<std::string>{"PAUSE", "TEARDOWN"}), stCalls.vecMethod);
    EXPECT_EQ(2250, stCalls.s64Start);
    EXPECT_EQ("abc", stCalls.strSession);
}

TEST_F(RtspServerTest, ReplyThatDoesNotFitBecomes500)
{
    stCalls.strSdp = std::string(RTSP_SDP_MAX + 1, 'a');
    EXPECT_EQ(Plain(500, "Internal Server Error", "1"), Ask("DESCRIBE rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\n\r\n"));
}

// An SDP longer than the other replies' buffer still goes out whole.
TEST_F(RtspServerTest, DescribeCarriesSdpLongerThanReplyBuffer)
{
    stCalls.strSdp = std::string(RTSP_SDP_MAX, 's');
    std::string strReply = Ask("DESCRIBE rtsp://h/s RTSP/1.0\r\nCSeq: 1\r\n\r\n");
    EXPECT_EQ("RTSP/1.0 200 OK\r\nCSeq: 1\r\nDate: D\r\nContent-Type: application/sdp\r\nContent-Length: " +
                  std::to_string(RTSP_SDP_MAX) + "\r\n\r\n" + stCalls.strSdp,
              strReply);
}

TEST_F(RtspServerTest, PermissionTextRefusesOtherUserAgents)
{
    strcpy(g_azUserAgent, "GoodPlayer");
    EXPECT_EQ(Plain(400, "Bad Request", "1"), Ask("OPTIONS * RTSP/1.0\r\nCSeq: 1\r\nUser-Agent: Other/1.0\r\n\r\n"));
    EXPECT_EQ(OptionsReply(2), Ask("OPTIONS * RTSP/1.0\r\nCSeq: 2\r\nUser-Agent: GoodPlayer/2\r\n\r\n"));
    EXPECT_EQ(OptionsReply(3), Ask(Options(3)));
}

// The close handler hears of the connection that owned the transports,
// and interleaved frames sent on it arrive whole.
TEST_F(RtspServerTest, InterleavedSendAndCloseHandlerUseTheConnection)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, "SETUP rtsp://h/s/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP/TCP;interleaved=2-3\r\n\r\n"));
    ASSERT_FALSE(Net_ReadReply(s32Fd).empty());
    void *pvConn = stCalls.vecTransport.at(0).pvOwner;
    std::string strPacket(1400, 'p');
    ASSERT_EQ(0, rtsp_server_send_interleaved(pvConn, 2, strPacket.data(), (u32)strPacket.size()));
    EXPECT_EQ(EMSGSIZE, rtsp_server_send_interleaved(pvConn, 2, strPacket.data(), 70000));
    std::string strGot(4 + strPacket.size(), '\0');
    ASSERT_EQ((ssize_t)strGot.size(), recv(s32Fd, &strGot[0], strGot.size(), MSG_WAITALL));
    EXPECT_EQ(std::string("$\x02\x05\x78", 4) + strPacket, strGot);
    close(s32Fd);
    vecFd.clear();
    for (int i = 0; i < 500 && stCalls.vecClosed.empty(); i++)
        usleep(10000);
    Quiesce();
    ASSERT_EQ(1u, stCalls.vecClosed.size());
    EXPECT_EQ(pvConn, stCalls.vecClosed[0]);
}

// A client that stops reading fills its queue: sends are refused whole,
// never cut, and every frame accepted arrives intact.
TEST_F(RtspServerTest, SlowReaderGetsWholeFramesOrRefusals)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, "SETUP rtsp://h/s/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP/TCP\r\n\r\n"));
    ASSERT_FALSE(Net_ReadReply(s32Fd).empty());
    void *pvConn = stCalls.vecTransport.at(0).pvOwner;
    std::vector<char> vecPacket(1000);
    u32 u32Accepted = 0, u32Refused = 0;
    for (u32 i = 0; i < 100000 && u32Refused < 10; i++) {
        memset(vecPacket.data(), (int)(i & 0xFF), vecPacket.size());
        s32 s32Ret = rtsp_server_send_interleaved(pvConn, 0, vecPacket.data(), (u32)vecPacket.size());
        ASSERT_TRUE(s32Ret == 0 || s32Ret == ENOBUFS) << s32Ret;
        (s32Ret == 0 ? u32Accepted : u32Refused)++;
    }
    EXPECT_GT(u32Refused, 0u);
    // Now read everything: frames must follow each other exactly.
    u32 u32Frames = 0;
    std::vector<char> vecFrame(4 + 1000);
    while (u32Frames < u32Accepted) {
        ASSERT_EQ((ssize_t)vecFrame.size(), recv(s32Fd, vecFrame.data(), vecFrame.size(), MSG_WAITALL));
        ASSERT_EQ('$', vecFrame[0]);
        ASSERT_EQ(1000, (u8)vecFrame[2] << 8 | (u8)vecFrame[3]);
        ASSERT_EQ(vecFrame[4], vecFrame[1003]);
        u32Frames++;
    }
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(2)));
    EXPECT_EQ(OptionsReply(2), Net_ReadReply(s32Fd));
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
    for (int i = 0; i < 500; i++)
        ASSERT_GE(Connect(), 0) << i;
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(1)));
    EXPECT_EQ(OptionsReply(1), Net_ReadReply(s32Fd));
    // The idle ones are still served too.
    ASSERT_TRUE(Net_SendAll(vecFd[0], Options(2)));
    EXPECT_EQ(OptionsReply(2), Net_ReadReply(vecFd[0]));
}

// 100 MB of interleaved frames with random payload, written in random
// pieces: the connection stays in step and the heap does not grow.
TEST_F(RtspServerTest, StreamOfGarbageFramesKeepsMemoryFlat)
{
    int s32Fd = Connect();
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(1)));
    ASSERT_EQ(OptionsReply(1), Net_ReadReply(s32Fd));
    size_t heapBefore = Net_HeapInUse();
    std::mt19937 rng(7);
    std::string strChunk;
    size_t sent = 0;
    while (sent < 100u * 1024 * 1024) {
        u32 u32Len = rng() % 65536;
        strChunk.assign(4 + u32Len, '\0');
        strChunk[0] = '$';
        strChunk[1] = (char)(rng() & 0xFF);
        strChunk[2] = (char)(u32Len >> 8);
        strChunk[3] = (char)u32Len;
        for (size_t i = 4; i < strChunk.size(); i += 64)
            strChunk[i] = (char)rng();
        ASSERT_TRUE(Net_SendAll(s32Fd, strChunk));
        sent += strChunk.size();
    }
    ASSERT_TRUE(Net_SendAll(s32Fd, Options(2)));
    EXPECT_EQ(OptionsReply(2), Net_ReadReply(s32Fd));
    size_t heapAfter = Net_HeapInUse();
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
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(PORT);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int s32Ret = connect(s32Client, (struct sockaddr *)&stAddr, sizeof(stAddr));
    usleep(300000);   // several refused accepts happen meanwhile
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stOld));
    ASSERT_EQ(0, s32Ret);
    struct timeval stTv = {5, 0};
    setsockopt(s32Client, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    ASSERT_TRUE(Net_SendAll(s32Client, Options(9)));
    EXPECT_EQ(OptionsReply(9), Net_ReadReply(s32Client));
}
