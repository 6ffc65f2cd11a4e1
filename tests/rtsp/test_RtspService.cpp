#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <unistd.h>

#include "rtsplib/include/Time64.h"
#include "rtsplib/src/rtp/RtpPacker.h"
#include "tests/rtsp/RtspTestService.h"

static const char UDP_VIDEO[] = "Transport: RTP/AVP;unicast;client_port=6000-6001\r\n";
static const char TCP_VIDEO[] = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
static const char MCAST[] = "Transport: RTP/AVP;multicast\r\n";

static std::string Plain(const char *pszStatus, unsigned u32CSeq)
{
    return std::string("RTSP/1.0 ") + pszStatus + "\r\nCSeq: " + std::to_string(u32CSeq) + "\r\nDate: D\r\n\r\n";
}

typedef RtspServiceFixture RtspServiceTest;

// The session part, then the video and the audio block, in the order and
// with the line ends clients have been given.
TEST_F(RtspServiceTest, DescribeH264AndAacSdpLineByLine)
{
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    u64 u64Before = ntp64_now() >> 32;
    ASSERT_EQ(200, stClient.Request("DESCRIBE", TEST_MAIN_URI));
    EXPECT_EQ("application/sdp", stClient.Header("Content-Type"));
    std::smatch m;
    ASSERT_TRUE(std::regex_search(stClient.strBody, m, std::regex("^v=0\no=- (\\d+) (\\d+) IN IP4 0.0.0.0\n")));
    EXPECT_EQ(m[1], m[2]);
    EXPECT_NEAR((double)u64Before, (double)(std::stoull(m[1]) >> 32), 2);
    EXPECT_EQ("s=rtsp://127.0.0.1/live/main/av_stream\n"
              "c=IN IP4 0.0.0.0\n"
              "t=0 0\n"
              "a=rtcp-unicast: reflection\n"
              "m=video 0 RTP/AVP 96\r\n"
              "c=IN IP4 0.0.0.0\r\n"
              "b=AS:4000\r\n"
              "a=recvonly\r\n"
              "a=control:track1\r\n"
              "a=framerate:30\r\n"
              "a=rtpmap:96 H264/90000\r\n"
              "a=fmtp:96 profile-level-id=4D0032; packetization-mode=1; "
              "sprop-parameter-sets=Z00AMpY1QEABg03AQEBAgA==,aO48gA==\r\n"
              "m=audio 0 RTP/AVP 97\r\n"
              "b=AS:128\r\n"
              "c=IN IP4 0.0.0.0\r\n"
              "a=recvonly\r\n"
              "a=control:track2\r\n"
              "a=rtpmap:97 MPEG4-GENERIC/48000/2\r\n"
              "a=fmtp:97 streamtype=5;profile-level-id=15;mode=AAC-hbr;sizelength=13;indexlength=3;"
              "indexdeltalength=3;config=1190\r\n",
              m.suffix().str());
}

// H.265 keeps the H.264 form of the fmtp line and adds the three sets by
// their own names; a 3-byte start code is stripped like a 4-byte one.
TEST_F(RtspServiceTest, DescribeH265CarriesVpsSpsAndPps)
{
    stMain.stVideoInfo.u32PayloadType = RTSP_PAYLOAD_H265;
    stMain.stAttr.stAudio.bAudioEnable = 0;
    Republish();
    FakeStream_SetParamSet(&stMain.stVps, {0, 0, 1, 0x40, 0x01, 0x0C});
    FakeStream_SetParamSet(&stMain.stSps, {0, 0, 0, 1, 0x42, 0x01, 0x01, 0x01, 0x60});
    FakeStream_SetParamSet(&stMain.stPps, {0, 0, 0, 1, 0x44, 0x01, 0xC1});
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    ASSERT_EQ(200, stClient.Request("DESCRIBE", TEST_MAIN_URI));
    size_t pos = stClient.strBody.find("m=video");
    ASSERT_NE(std::string::npos, pos);
    EXPECT_EQ("m=video 0 RTP/AVP 98\r\nc=IN IP4 0.0.0.0\r\nb=AS:4000\r\na=recvonly\r\na=control:track1\r\n"
              "a=framerate:30\r\na=rtpmap:98 H265/90000\r\n"
              "a=fmtp:98 profile-level-id=010101; packetization-mode=1; sprop-parameter-sets=QgEBAWA=,RAHB; "
              "sprop-vps=QAEM; sprop-sps=QgEBAWA=; sprop-pps=RAHB\r\n",
              stClient.strBody.substr(pos));
}

// The AAC config follows rate and channel count; audio payload codes
// have their SDP type and name; codes without a name fail DESCRIBE.
TEST_F(RtspServiceTest, DescribeAudioByPayloadCode)
{
    const std::string strAac = "\r\na=fmtp:97 streamtype=5;profile-level-id=15;mode=AAC-hbr;sizelength=13;"
                               "indexlength=3;indexdeltalength=3;config=";
    const struct {
        u32 u32Code, u32Rate, u32Channels;
        std::string strLines;   // from "a=rtpmap:"; empty: 500
    } astCase[] = {
        {RTSP_PAYLOAD_AAC, 8000, 6, "a=rtpmap:97 MPEG4-GENERIC/8000/6" + strAac + "1588\r\n"},
        {RTSP_PAYLOAD_PCMA, 8000, 1, "a=rtpmap:8 PCMA/8000/1\r\n"},
        {RTSP_PAYLOAD_G726, 8000, 1, "a=rtpmap:23 G726-32/8000/1\r\n"},
        {RTSP_PAYLOAD_PCM, 48000, 2, "a=rtpmap:108 WAV/48000/2\r\n"},
        {RTSP_PAYLOAD_AUDIO4, 48000, 2, ""},
    };
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    for (const auto &stCase : astCase) {
        stMain.stAudioInfo.u32PayloadType = stCase.u32Code;
        stMain.stAudioInfo.u32SampleRate = stCase.u32Rate;
        stMain.stAudioInfo.u32Channels = stCase.u32Channels;
        int s32Code = stClient.Request("DESCRIBE", TEST_MAIN_URI);
        if (stCase.strLines.empty()) {
            EXPECT_EQ(Plain("500 Internal Server Error", stClient.u32CSeq), stClient.strReply) << stCase.u32Code;
            continue;
        }
        ASSERT_EQ(200, s32Code) << stCase.u32Code;
        size_t pos = stClient.strBody.find("a=rtpmap:", stClient.strBody.find("m=audio"));
        EXPECT_EQ(stCase.strLines, stClient.strBody.substr(pos)) << stCase.u32Code;
    }
}

// The Transport of each delivery, exactly; the server ports are an even
// pair of the range; a session id is a random number, each its own.
TEST_F(RtspServiceTest, SetupTransportOfEachDelivery)
{
    RtspClient stUdp, stTcp, stMcast, stNamed;
    std::string strUdp = Setup(&stUdp, UDP_VIDEO);
    std::smatch m;
    std::string strTransport = stUdp.Header("Transport");
    ASSERT_TRUE(std::regex_match(strTransport, m,
                                 std::regex("RTP/AVP;unicast;destination=127.0.0.1;source=127.0.0.1;"
                                            "client_port=6000-6001;server_port=(\\d+)-(\\d+)")));
    int s32Rtp = std::stoi(m[1]);
    EXPECT_EQ(0, s32Rtp % 2);
    EXPECT_GE(s32Rtp, 30000);
    EXPECT_LE(s32Rtp, 59998);
    EXPECT_EQ(s32Rtp + 1, std::stoi(m[2]));
    std::string strTcp = Setup(&stTcp, TCP_VIDEO);
    EXPECT_EQ("RTP/AVP/TCP;unicast;destination=127.0.0.1;source=127.0.0.1;interleaved=0-1", stTcp.Header("Transport"));
    std::string strMcast = Setup(&stMcast, MCAST, "/track2");
    EXPECT_EQ("RTP/AVP;multicast;destination=234.0.100.1;source=127.0.0.1;port=5003-0;ttl=255",
              stMcast.Header("Transport"));
    EXPECT_EQ(200, stMcast.Request("SETUP", TEST_MAIN_URI "/track1", MCAST + stMcast.SessionLine()));
    EXPECT_EQ("RTP/AVP;multicast;destination=234.0.100.1;source=127.0.0.1;port=5002-0;ttl=255",
              stMcast.Header("Transport"));
    EXPECT_EQ(strMcast, stMcast.Header("Session"));
    for (const std::string &str : {strUdp, strTcp, strMcast})
        EXPECT_TRUE(std::regex_match(str, std::regex("\\d{1,10}"))) << str;
    EXPECT_NE(strUdp, strTcp);
    EXPECT_NE(strTcp, strMcast);
    EXPECT_EQ(3u, Sessions());
    // Addresses the client names are used as given (the destination can only be its own).
    Setup(&stNamed, "Transport: RTP/AVP;unicast;destination=127.0.0.1;source=127.0.0.7;client_port=7000\r\n");
    EXPECT_TRUE(std::regex_match(stNamed.Header("Transport"),
                                 std::regex("RTP/AVP;unicast;destination=127.0.0.1;source=127.0.0.7;"
                                            "client_port=7000-7001;server_port=\\d+-\\d+")));
}

// A stream is found by its name anywhere in the path; anything else is
// 404. Transports the stream cannot serve, or that differ from the
// session's, get 461; another connection's session does not exist for it.
TEST_F(RtspServiceTest, UnknownStreamsAndUnsupportedTransports)
{
    RtspClient stClient, stTcp, stOther;
    ASSERT_TRUE(stClient.Connect());
    EXPECT_EQ(200, stClient.Request("DESCRIBE", "rtsp://10.0.0.5:554/x/live/main/av_stream/track1"));
    EXPECT_EQ(404, stClient.Request("DESCRIBE", "rtsp://127.0.0.1/live/sub/av_stream"));
    EXPECT_EQ(Plain("404 Not Found", 2), stClient.strReply);
    EXPECT_EQ(404, stClient.Request("SETUP", "rtsp://127.0.0.1/live/sub/av_stream/track1", UDP_VIDEO));
    EXPECT_EQ(404, stClient.Request("PLAY", "rtsp://127.0.0.1/live/sub", "Session: 1\r\n"));
    for (const char *pszTransport :
         {"Transport: RTP/AVP/TCP;multicast;interleaved=0-1\r\n", "Transport: RAW/RAW/UDP;unicast;client_port=6000\r\n",
          "Transport: RTP/AVP;unicast\r\n", "Transport: RTP/AVP;unicast;destination=host;client_port=6000\r\n"}) {
        EXPECT_EQ(461, stClient.Request("SETUP", TEST_MAIN_URI "/track1", pszTransport)) << pszTransport;
        EXPECT_EQ(Plain("461 Unsupported Transport", stClient.u32CSeq), stClient.strReply);
    }
    EXPECT_EQ(461, stClient.Request("SETUP", TEST_MAIN_URI "/track3", UDP_VIDEO));
    EXPECT_EQ(461, stClient.Request("SETUP", TEST_MAIN_URI, UDP_VIDEO));
    EXPECT_EQ(0u, Sessions());
    ASSERT_EQ(200, stClient.Request("SETUP", TEST_MAIN_URI "/track1", UDP_VIDEO));
    EXPECT_EQ(461, stClient.Request("SETUP", TEST_MAIN_URI "/track2", TCP_VIDEO + stClient.SessionLine()));
    Setup(&stTcp, TCP_VIDEO);
    ASSERT_TRUE(stOther.Connect());
    EXPECT_EQ(454, stOther.Request("SETUP", TEST_MAIN_URI "/track2",
                                   "Transport: RTP/AVP/TCP;unicast;interleaved=2-3\r\n" + stTcp.SessionLine()));
    EXPECT_EQ(2u, Sessions());
}

// Sessions are found by their whole id only, in their own stream.
TEST_F(RtspServiceTest, UnknownSessionsGet454)
{
    RtspClient stClient;
    std::string strId = Setup(&stClient, UDP_VIDEO);
    for (const char *pszMethod : {"PLAY", "PAUSE", "TEARDOWN"}) {
        EXPECT_EQ(454, stClient.Request(pszMethod, TEST_MAIN_URI, "Session: " + strId.substr(0, strId.size() - 1) + "\r\n"));
        EXPECT_EQ(454, stClient.Request(pszMethod, TEST_MAIN_URI, "Session: " + strId + "0\r\n"));
        EXPECT_EQ(454, stClient.Request(pszMethod, TEST_MAIN_URI));
    }
    EXPECT_EQ(Plain("454 Session Not Found", stClient.u32CSeq), stClient.strReply);
    EXPECT_EQ(454, stClient.Request("SETUP", TEST_MAIN_URI "/track2", std::string(UDP_VIDEO) + "Session: 77\r\n"));
    EXPECT_EQ(1u, Sessions());
    EXPECT_EQ(200, stClient.Request("PLAY", TEST_MAIN_URI, "Session: " + strId + ";timeout=60\r\n"));
}

// PLAY answers one RTP-Info entry per set-up track, each with the sequence
// number its first packet will carry and the time of the stream's last
// frame on that track's clock (unsigned); it also asks for a key frame.
TEST_F(RtspServiceTest, PlayGivesRtpInfoOfEachTrack)
{
    int s32Video = Net_UdpBind("127.0.0.1", 0), s32Audio = Net_UdpBind("127.0.0.1", 0);
    RtspClient stClient;
    std::string strId = Setup(&stClient, Test_UdpTransport(s32Video));
    ASSERT_EQ(200, stClient.Request("SETUP", TEST_MAIN_URI "/track2", Test_UdpTransport(s32Audio) + stClient.SessionLine()));
    EXPECT_EQ(strId, stClient.Header("Session"));
    ASSERT_EQ(0, FakeStream_PushAudio(&stMain, Bytes(100, 1), 5000000000ull));
    ASSERT_EQ(0, FakeStream_PushVideo(&stMain, {0, 0, 0, 1, 0x41, 1, 2, 3}, 7000000000ull));
    ASSERT_EQ(200, stClient.Request("PLAY", TEST_MAIN_URI, stClient.SessionLine() + "Range: npt=0.000-\r\n"));
    EXPECT_EQ(1, stMain.s32IdrRequests.load());
    EXPECT_EQ("", stClient.Header("Range"));
    std::smatch m;
    std::string strInfo = stClient.Header("RTP-Info");
    ASSERT_TRUE(std::regex_match(strInfo, m,
                                 std::regex("url=rtsp://127.0.0.1/live/main/av_stream/track1;seq=(\\d+);rtptime=(\\d+),"
                                            "url=rtsp://127.0.0.1/live/main/av_stream/track2;seq=(\\d+);rtptime=(\\d+)")))
        << strInfo;
    EXPECT_EQ(std::to_string(rtp_time(7000000000ull, 90000)), m[2]);
    EXPECT_EQ(std::to_string(rtp_time(5000000000ull, 48000)), m[4]);
    // The first packets carry the announced numbers.
    ASSERT_EQ(0, FakeStream_PushVideo(&stMain, {0, 0, 0, 1, 0x67, 1, 2, 3}, 7000033333ull));
    ASSERT_EQ(0, FakeStream_PushAudio(&stMain, Bytes(100, 1), 5000021333ull));
    Bytes vecVideo = Net_UdpRecv(s32Video), vecAudio = Net_UdpRecv(s32Audio);
    ASSERT_GE(vecVideo.size(), 12u);
    ASSERT_GE(vecAudio.size(), 12u);
    EXPECT_EQ(std::stoul(m[1]), (unsigned)(vecVideo[2] << 8 | vecVideo[3]));
    EXPECT_EQ(std::stoul(m[3]), (unsigned)(vecAudio[2] << 8 | vecAudio[3]));
    close(s32Video);
    close(s32Audio);
}

// A new player gets no video until a parameter set; PAUSE stops the flow
// and a later PLAY waits for a parameter set again.
TEST_F(RtspServiceTest, PlayWaitsForParameterSetAndPauseStops)
{
    const Bytes vecP = {0, 0, 0, 1, 0x41, 0xAA}, vecSps = {0, 0, 0, 1, 0x67, 0xBB}, vecPps = {0, 0, 1, 0x68, 0xCC};
    int s32Video = Net_UdpBind("127.0.0.1", 0, 300);
    RtspClient stClient;
    Setup(&stClient, Test_UdpTransport(s32Video));
    ASSERT_EQ(0, FakeStream_PushVideo(&stMain, vecSps, 1000));
    EXPECT_TRUE(Net_UdpRecv(s32Video).empty());   // not playing yet
    ASSERT_EQ(200, stClient.Request("PLAY", TEST_MAIN_URI, stClient.SessionLine()));
    for (int s32Round = 0; s32Round < 2; s32Round++) {
        FakeStream_PushVideo(&stMain, vecP, 2000);
        FakeStream_PushVideo(&stMain, vecPps, 2000);
        EXPECT_TRUE(Net_UdpRecv(s32Video).empty());
        FakeStream_PushVideo(&stMain, vecSps, 3000);
        FakeStream_PushVideo(&stMain, vecP, 4000);
        EXPECT_EQ(0xBB, Net_UdpRecv(s32Video).back());
        EXPECT_EQ(0xAA, Net_UdpRecv(s32Video).back());
        ASSERT_EQ(200, stClient.Request("PAUSE", TEST_MAIN_URI, stClient.SessionLine()));
        FakeStream_PushVideo(&stMain, vecSps, 5000);
        EXPECT_TRUE(Net_UdpRecv(s32Video).empty());
        ASSERT_EQ(200, stClient.Request("PLAY", TEST_MAIN_URI, stClient.SessionLine()));
    }
    EXPECT_EQ(3, stMain.s32IdrRequests.load());
    close(s32Video);
}

// TEARDOWN and the close of the connection end sessions and free their
// ports (the fixture checks the descriptors); a track set up again gets
// new ports and the old ones are freed at once.
TEST_F(RtspServiceTest, SessionsEndAndPortsAreFreed)
{
    RtspClient stA, stB;
    Setup(&stA, UDP_VIDEO);
    std::string strFirst = stA.Header("Transport");
    ASSERT_EQ(200, stA.Request("SETUP", TEST_MAIN_URI "/track1", UDP_VIDEO + stA.SessionLine()));
    std::string strSecond = stA.Header("Transport");
    EXPECT_NE(strFirst, strSecond);
    auto Bindable = [](const std::string &strTransport) {
        std::smatch m;
        EXPECT_TRUE(std::regex_search(strTransport, m, std::regex("server_port=(\\d+)-(\\d+)")));
        int s32Fd = Net_UdpBind("0.0.0.0", (u16)std::stoi(m[1]));
        close(s32Fd);
        return s32Fd >= 0;
    };
    EXPECT_TRUE(Bindable(strFirst));
    EXPECT_FALSE(Bindable(strSecond));
    Setup(&stB, TCP_VIDEO);
    ASSERT_EQ(200, stA.Request("PLAY", TEST_MAIN_URI, stA.SessionLine()));
    EXPECT_EQ(2u, Sessions());
    ASSERT_EQ(200, stA.Request("TEARDOWN", TEST_MAIN_URI, stA.SessionLine()));
    EXPECT_EQ(Plain("200 OK", stA.u32CSeq), stA.strReply);
    EXPECT_EQ(454, stA.Request("PLAY", TEST_MAIN_URI, stA.SessionLine()));
    EXPECT_TRUE(Bindable(strSecond));
    stB.Close();
    EXPECT_EQ(0u, SessionsBecome(0));
    stA.Close();
    EXPECT_EQ(s32Fds, Test_FdsBecome(s32Fds));
}

// A SETUP that fails after its session was made leaves no session and no
// socket behind; a second track's failure leaves the first as it was.
TEST_F(RtspServiceTest, FailedSetupLeavesNothingOpen)
{
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    ASSERT_EQ(200, stClient.Request("OPTIONS", "*"));   // the server has its end of the connection
    int s32Open = Test_OpenFds();
    // The video socket of the group is open when the audio one fails.
    snprintf(stMain.stAudioInfo.azMulticastIp, sizeof(stMain.stAudioInfo.azMulticastIp), "10.1.1.1");
    EXPECT_EQ(500, stClient.Request("SETUP", TEST_MAIN_URI "/track1", MCAST));
    EXPECT_EQ(0u, Sessions());
    EXPECT_EQ(s32Open, Test_OpenFds());
    stMain.stVideoInfo.u32PayloadType = 97;
    EXPECT_EQ(500, stClient.Request("SETUP", TEST_MAIN_URI "/track1", UDP_VIDEO));
    EXPECT_EQ(0u, Sessions());
    ASSERT_EQ(200, stClient.Request("SETUP", TEST_MAIN_URI "/track2", UDP_VIDEO));
    s32Open = Test_OpenFds();
    EXPECT_EQ(500, stClient.Request("SETUP", TEST_MAIN_URI "/track1", UDP_VIDEO + stClient.SessionLine()));
    EXPECT_EQ(s32Open, Test_OpenFds());
    ASSERT_EQ(200, stClient.Request("PLAY", TEST_MAIN_URI, stClient.SessionLine()));
    EXPECT_EQ(std::string::npos, stClient.Header("RTP-Info").find("track1"));
}

// Without DESCRIBE, SETUP still builds packers of the stream's own types
// (for video and PCM: the stream tests).
TEST_F(RtspServiceTest, SetupWithoutDescribeUsesStreamPayloadTypes)
{
    stMain.stAudioInfo.u32PayloadType = RTSP_PAYLOAD_PCMA;
    RtspClient stClient;
    int s32Audio = PlayUdp(&stClient, "/track2");
    FakeStream_PushAudio(&stMain, Bytes(160, 0xD5), 1000);
    Bytes vecAudio = Net_UdpRecv(s32Audio);
    ASSERT_EQ(172u, vecAudio.size());
    EXPECT_EQ(0x80 | 8, vecAudio[1]);
    close(s32Audio);
}

// Streams: a path published twice stays one stream, a removed stream ends
// its sessions and closes their players' connections, bad tables and a
// second service on the port are refused.
TEST_F(RtspServiceTest, StreamsAndServicesAreChecked)
{
    RtspClient stClient;
    Setup(&stClient, UDP_VIDEO);
    EXPECT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &stMain.stAttr, TEST_MAIN_PATH, 0));
    EXPECT_EQ(1u, Sessions());
    RtspMediaStreamAttr_S stBad = stMain.stAttr;
    stBad.stVideo.pfnGetParamSets = nullptr;
    EXPECT_EQ(-1, RTSPSEVER_AddMediaStream(pstService, &stBad, "live/sub/av_stream", 0));
    stBad = stMain.stAttr;
    stBad.stAudio.pfnStub2 = nullptr;
    EXPECT_EQ(-1, RTSPSEVER_AddMediaStream(pstService, &stBad, "live/sub/av_stream", 0));
    u32 u32Count;
    EXPECT_EQ(-1, RTSPSEVER_GetMediaStreamConnect(pstService, "live/sub/av_stream", &u32Count));
    RtspService_S *pstSecond = nullptr;
    const RtspServerConfig_S stConfig = {1500, 1024, TEST_RTSP_PORT, 2, 12000};
    EXPECT_EQ(-1, RTSPSEVER_Create(&pstSecond, &stConfig));
    EXPECT_EQ(0, RTSPSEVER_RemoveMediaStream(pstService, TEST_MAIN_PATH));
    EXPECT_FALSE(stMain.abObserver[0] || stMain.abObserver[1]);
    EXPECT_EQ(-2, FakeStream_PushVideo(&stMain, {0, 0, 1, 0x67}, 0));
    EXPECT_EQ(0, RTSPSEVER_RemoveMediaStream(pstService, TEST_MAIN_PATH));
    EXPECT_EQ(0, stClient.Request("DESCRIBE", TEST_MAIN_URI));   // its player was told: connection closed
    stClient.Close();
    ASSERT_TRUE(stClient.Connect());
    EXPECT_EQ(404, stClient.Request("DESCRIBE", TEST_MAIN_URI));
    // The service can be made again once the old one is gone.
    stClient.Close();
    StopService();
    StartService();
    ASSERT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &stMain.stAttr, TEST_MAIN_PATH, 0));
    EXPECT_EQ(0u, Sessions());
}

// Playing twice, pausing and playing again keep the count of users
// right, so that the group stops when its last user leaves, whether by
// TEARDOWN (after PAUSE too) or by closing its connection, even while a
// session that does not play refers to it; the group goes on for its
// other users; its sockets go with the last session.
TEST_F(RtspServiceTest, MulticastGroupStopsAfterLastUser)
{
    int s32Group = Net_UdpBind("234.0.100.1", 5002, 200);
    RtspClient stA, stB;
    Setup(&stA, MCAST);
    Setup(&stB, MCAST);
    auto Flows = [&] {   // one packet a push while the group plays
        FakeStream_PushVideo(&stMain, {0, 0, 0, 1, 0x67, 0x11}, 1000);
        return !Net_UdpRecv(s32Group).empty();
    };
    EXPECT_FALSE(Flows());
    const struct {
        RtspClient *pstClient;
        const char *pszMethod;
        bool bFlows;
    } astStep[] = {
        {&stA, "PLAY", true},     {&stA, "PLAY", true},  {&stA, "PAUSE", true}, {&stA, "PLAY", true},
        {&stA, "TEARDOWN", false}, {&stB, "PLAY", true},  {&stB, "PAUSE", true}, {&stA, "SETUP", true},
        {&stA, "PLAY", true},     {&stB, "TEARDOWN", true},
    };
    for (const auto &stStep : astStep) {
        if (std::string(stStep.pszMethod) == "SETUP")
            Setup(stStep.pstClient, MCAST);
        else
            ASSERT_EQ(200, stStep.pstClient->Request(stStep.pszMethod, TEST_MAIN_URI, stStep.pstClient->SessionLine()));
        EXPECT_EQ(stStep.bFlows, Flows()) << (stStep.pstClient == &stA ? "A " : "B ") << stStep.pszMethod;
    }
    stA.Close();
    EXPECT_EQ(0u, SessionsBecome(0));
    EXPECT_FALSE(Flows());
    EXPECT_EQ(s32Fds + 3, Test_FdsBecome(s32Fds + 3));   // the group's socket here and B's connection, no more
    close(s32Group);
}

// A stream can be withdrawn and published again while a frame thread
// pushes through a wrapper that locks around its observer calls: the
// service takes no stream lock while the observers are withdrawn.
TEST_F(RtspServiceTest, StreamWithdrawnWhileFramesArrive)
{
    RtspClient stClient;
    Setup(&stClient, UDP_VIDEO);
    std::atomic<bool> bRun{true};
    std::atomic<int> s32Pushed{0};
    std::thread th([&] {
        while (bRun) {
            FakeStream_PushVideo(&stMain, {0, 0, 0, 1, 0x67, 0x11}, 1000);
            s32Pushed++;
        }
    });
    // Withdraw and add again until plenty of pushes met the churn, however
    // slowly the pusher gets going on a loaded machine.
    for (int i = 0; (i < 2000 || s32Pushed < 1000) && !HasFailure(); i++) {
        EXPECT_EQ(0, RTSPSEVER_RemoveMediaStream(pstService, TEST_MAIN_PATH));
        EXPECT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &stMain.stAttr, TEST_MAIN_PATH, 0));
    }
    bRun = false;
    th.join();
    EXPECT_EQ(0u, Sessions());
}
