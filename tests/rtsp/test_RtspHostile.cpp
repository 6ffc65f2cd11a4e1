// The service against hostile or quiet clients, and players told when their stream ends.
#include <gtest/gtest.h>

#include <map>
#include <regex>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/Time64.h"
#include "tests/rtsp/RtspTestService.h"
#include "tests/rtsplib/RtspTestAlloc.h"

static const char TCP_VIDEO[] = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";

typedef RtspServiceFixture RtspHostileTest;

// One request in a datagram from pszFrom; the status, 0 when no reply came.
static int UdpRequest(const char *pszFrom, const std::string &strRequest, std::string *pstrReply = nullptr)
{
    int s32Fd = Net_UdpBind(pszFrom, 0, 2000);
    EXPECT_GE(s32Fd, 0);
    struct sockaddr_in stTo = Net_Addr("127.0.0.1", TEST_RTSP_PORT);
    EXPECT_EQ((ssize_t)strRequest.size(),
              sendto(s32Fd, strRequest.data(), strRequest.size(), 0, (struct sockaddr *)&stTo, sizeof(stTo)));
    Bytes vecReply = Net_UdpRecv(s32Fd);
    close(s32Fd);
    std::string strReply(vecReply.begin(), vecReply.end());
    if (pstrReply)
        *pstrReply = strReply;
    return strReply.size() > 12 ? atoi(strReply.c_str() + 9) : 0;
}

static std::string UdpSetup(int s32Port, const std::string &strDest = "")
{
    return "SETUP " TEST_MAIN_URI "/track1 RTSP/1.0\r\nCSeq: 1\r\nTransport: RTP/AVP;unicast;" + strDest +
           "client_port=" + std::to_string(s32Port) + "\r\n\r\n";
}

static std::string UdpAsk(const char *pszMethod, const std::string &strSession)
{
    return std::string(pszMethod) + " " TEST_MAIN_URI " RTSP/1.0\r\nCSeq: 2\r\nSession: " + strSession + "\r\n\r\n";
}

static std::string Find(const std::string &strReply, const char *pszRegex)
{
    std::smatch m;
    return std::regex_search(strReply, m, std::regex(pszRegex)) ? m[1].str() : "";
}

// Requests on another owner's session are 454 and change nothing.
TEST_F(RtspHostileTest, OnlyTheOwnerActsOnASession)
{
    RtspClient stPlayer, stOther;
    int s32Udp = PlayUdp(&stPlayer, "/track1");
    ASSERT_TRUE(stOther.Connect());
    for (const char *pszMethod : {"PAUSE", "TEARDOWN", "PLAY"})
        EXPECT_EQ(454, stOther.Request(pszMethod, TEST_MAIN_URI, stPlayer.SessionLine())) << pszMethod;
    EXPECT_EQ(454, stOther.Request("SETUP", TEST_MAIN_URI "/track2",
                                   Test_UdpTransport(s32Udp) + stPlayer.SessionLine()));
    EXPECT_EQ(454, UdpRequest("127.0.0.1", UdpAsk("TEARDOWN", stPlayer.strSession)));
    ASSERT_EQ(0, FakeStream_PushVideo(&stMain, Net_Nal(0x67, 20), 1000));
    EXPECT_FALSE(Net_UdpRecv(s32Udp).empty());
    EXPECT_EQ(1u, Sessions());

    // Over UDP the sender's address owns the session.
    std::string strReply;
    int s32Client = Net_UdpBind("127.0.0.2", 0, 2000);
    ASSERT_EQ(200, UdpRequest("127.0.0.2", UdpSetup(Net_Port(s32Client)), &strReply));
    std::string strId = Find(strReply, "Session: (\\d+)");
    EXPECT_EQ(454, stOther.Request("PLAY", TEST_MAIN_URI, "Session: " + strId + "\r\n"));
    for (const char *pszMethod : {"PLAY", "TEARDOWN"}) {
        EXPECT_EQ(454, UdpRequest("127.0.0.3", UdpAsk(pszMethod, strId))) << pszMethod;
        EXPECT_EQ(200, UdpRequest("127.0.0.2", UdpAsk(pszMethod, strId))) << pszMethod;
    }
    EXPECT_EQ(1u, Sessions());
    close(s32Client);
    close(s32Udp);
}

// Only the requester's own address or the stream's group; else 403, nothing opened.
TEST_F(RtspHostileTest, DestinationsOtherThanTheRequesterAreRefused)
{
    static const struct { const char *pszTransport; int s32Code; } s_astCase[] = {
        {"RTP/AVP;unicast;destination=127.0.0.9;client_port=7000", 403},
        {"RTP/AVP;unicast;destination=0.0.0.0;client_port=7000", 403},
        {"RTP/AVP;unicast;destination=10.1.2.3;client_port=7000", 403},
        {"RTP/AVP/TCP;unicast;destination=127.0.0.9;interleaved=0-1", 403},
        {"RTP/AVP;multicast;destination=239.1.1.1", 403}, {"RTP/AVP;multicast;destination=234.0.100.2", 403},
        {"RTP/AVP;unicast;destination=127.0.0.1;client_port=7000", 200},
        {"RTP/AVP;multicast;destination=234.0.100.1", 200},
    };
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    ASSERT_EQ(200, stClient.Request("OPTIONS", "*"));
    int s32Open = Test_OpenFds();
    for (const auto &stCase : s_astCase) {
        EXPECT_EQ(stCase.s32Code, stClient.Request("SETUP", TEST_MAIN_URI "/track1",
                                                   std::string("Transport: ") + stCase.pszTransport + "\r\n"))
            << stCase.pszTransport;
        if (stCase.s32Code != 200) {
            EXPECT_EQ(0u, Sessions()) << stCase.pszTransport;
            EXPECT_EQ(s32Open, Test_OpenFds()) << stCase.pszTransport;
        }
        stClient.strSession.clear();
    }
    // Over UDP the requester is the datagram's sender.
    EXPECT_EQ(403, UdpRequest("127.0.0.2", UdpSetup(7000, "destination=127.0.0.1;")));
    EXPECT_EQ(2u, Sessions());
}

// Out of memory at each allocation that would throw while a request is
// served, the first, then the second, and so on: the request gets 500,
// and the same one once memory suffices gets 200. A SETUP refused so
// leaves no session behind.
TEST_F(RtspHostileTest, RequestsThatMeetNoMemoryGet500)
{
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    ASSERT_EQ(200, stClient.Request("OPTIONS", "*"));   // accepted while memory lasts
    const struct {
        const char *pszMethod, *pszUri, *pszTransport;   // no transport: the session's line
    } astStep[] = {{"DESCRIBE", TEST_MAIN_URI, ""}, {"SETUP", TEST_MAIN_URI "/track1", TCP_VIDEO},
                   {"PLAY", TEST_MAIN_URI, nullptr}};
    for (const auto &stStep : astStep) {
        int s32Code = 500;
        u32 u32Pass = 0;
        for (; s32Code == 500 && u32Pass < 10; u32Pass++) {
            std::string strHeaders = stStep.pszTransport ? stStep.pszTransport : stClient.SessionLine();
            TestAlloc_FailOthers(u32Pass);
            s32Code = stClient.Request(stStep.pszMethod, stStep.pszUri, strHeaders);
            TestAlloc_Pass();
        }
        EXPECT_EQ(200, s32Code) << stStep.pszMethod << ", " << u32Pass << " allocations let pass";
        EXPECT_GE(u32Pass, 2u) << stStep.pszMethod;   // refused at least once
    }
    EXPECT_EQ(1u, Sessions());
}

// Past RTSP_OWNER_SESSIONS per owner SETUP is 453 and opens nothing; others are still served.
TEST_F(RtspHostileTest, SessionsPerOwnerAreCapped)
{
    RtspClient stGreedy, stOther;
    int s32Client = Net_UdpBind("127.0.0.1", 0, 300);
    std::string strUdp = Test_UdpTransport(s32Client);
    for (int i = 0; i < RTSP_OWNER_SESSIONS; i++) {
        Setup(&stGreedy, strUdp);
        stGreedy.strSession.clear();
    }
    int s32Open = Test_OpenFds();
    for (int i = 0; i < 50; i++)
        ASSERT_EQ(453, stGreedy.Request("SETUP", TEST_MAIN_URI "/track1", strUdp)) << i;
    EXPECT_EQ("Not Enough Bandwidth", stGreedy.strReply.substr(13, 20));
    EXPECT_EQ(s32Open, Test_OpenFds());
    for (int i = 0; i <= RTSP_OWNER_SESSIONS; i++)
        ASSERT_EQ(i < RTSP_OWNER_SESSIONS ? 200 : 453, UdpRequest("127.0.0.4", UdpSetup(7000))) << i;
    Setup(&stOther, TCP_VIDEO);
    EXPECT_EQ(2u * RTSP_OWNER_SESSIONS + 1, Sessions());
    close(s32Client);
}

// Limit 256: 176 descriptors for RTSP, 88 sessions, 88 session sockets; UDP-set-up sessions get 11.
TEST_F(RtspHostileTest, SessionsInAllFollowTheDescriptorLimit)
{
    struct rlimit stOld, stLow;
    ASSERT_EQ(0, getrlimit(RLIMIT_NOFILE, &stOld));
    ASSERT_LT(Test_OpenFds(), 100);
    stLow = stOld;
    stLow.rlim_cur = 256;
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stLow));
    ASSERT_EQ(176u, rtsp_server_fd_budget());
    int s32Udp = 0;
    char azFrom[16];
    for (int i = 0; i < 60; i++) {
        snprintf(azFrom, sizeof(azFrom), "127.0.1.%d", i + 1);
        s32Udp += UdpRequest(azFrom, UdpSetup(7000)) == 200;
    }
    EXPECT_EQ(11, s32Udp);
    // Connections: UDP takes the sockets left, interleaved the sessions left.
    std::vector<RtspClient> vecClient(8);
    int as32Made[2] = {0, 0};
    for (size_t n = 0; n < vecClient.size(); n++) {
        std::string strFrom = "127.0.2." + std::to_string(n + 1);   // each within its address's share
        ASSERT_TRUE(vecClient[n].Connect(0, strFrom.c_str()));
        for (int i = 0; i < RTSP_OWNER_SESSIONS; i++) {
            as32Made[n >= 3] += vecClient[n].Request("SETUP", TEST_MAIN_URI "/track1",
                                                     n < 3 ? "Transport: RTP/AVP;unicast;client_port=7000\r\n"
                                                           : TCP_VIDEO) == 200;
            vecClient[n].strSession.clear();
        }
    }
    EXPECT_EQ(33, as32Made[0]);
    EXPECT_EQ(88 - 11 - 33, as32Made[1]);
    EXPECT_EQ(88u, Sessions());
    ASSERT_EQ(0, setrlimit(RLIMIT_NOFILE, &stOld));
}

// Past RTSP_PEER_SESSIONS sessions of one address, over all its connections
// and UDP, SETUP is 453 and opens nothing while other addresses are served;
// each session that ends (TEARDOWN, its connection's close, its lapse)
// gives its place back.
TEST_F(RtspHostileTest, SessionsPerAddressAreCapped)
{
    const char *const pszGreedy = "127.0.0.5";
    const std::string strUdp = "Transport: RTP/AVP;unicast;client_port=7000\r\n";
    std::vector<RtspClient> vecGreedy(RTSP_PEER_SESSIONS / RTSP_OWNER_SESSIONS + 1);
    std::vector<std::string> vecIds;
    std::map<int, int> mapCodes;
    auto setup = [&](RtspClient *pstClient) {
        int s32Code = pstClient->Request("SETUP", TEST_MAIN_URI "/track1", strUdp);
        vecIds.push_back(pstClient->strSession);
        pstClient->strSession.clear();
        return s32Code;
    };
    for (RtspClient &stClient : vecGreedy) {
        ASSERT_TRUE(stClient.Connect(0, pszGreedy));
        for (int i = 0; i < RTSP_OWNER_SESSIONS; i++)
            mapCodes[setup(&stClient)]++;
    }
    EXPECT_EQ((std::map<int, int>{{200, RTSP_PEER_SESSIONS}, {453, RTSP_OWNER_SESSIONS}}), mapCodes);
    int s32Open = Test_OpenFds();
    EXPECT_EQ(453, UdpRequest(pszGreedy, UdpSetup(7000)));
    EXPECT_EQ(s32Open, Test_OpenFds());
    RtspClient stPlayer;
    int s32Player = PlayUdp(&stPlayer, "/track1");
    EXPECT_EQ(200, UdpRequest("127.0.0.6", UdpSetup(7000)));
    RtspClient &stLast = vecGreedy.back();
    // TEARDOWN: one place, taken over UDP.
    EXPECT_EQ(200, vecGreedy[0].Request("TEARDOWN", TEST_MAIN_URI, "Session: " + vecIds[0] + "\r\n"));
    EXPECT_EQ(200, UdpRequest(pszGreedy, UdpSetup(7000)));
    EXPECT_EQ(453, setup(&stLast));
    // The close of a connection: its 15 places.
    vecGreedy[0].Close();
    const u32 u32Left = 2 + RTSP_PEER_SESSIONS - (RTSP_OWNER_SESSIONS - 1);
    EXPECT_EQ(u32Left, SessionsBecome(u32Left));
    for (int i = 0; i < RTSP_OWNER_SESSIONS - 1; i++)
        EXPECT_EQ(200, setup(&stLast)) << i;
    EXPECT_EQ(453, setup(&stLast));
    // The lapse of the one set up over UDP.
    rtspExpireSessions(pstService, time64_monotonic() + RTSP_SESSION_MS + 1000);
    EXPECT_EQ(200, setup(&stLast));
    EXPECT_EQ(453, UdpRequest(pszGreedy, UdpSetup(7000)));
    EXPECT_EQ(1u + RTSP_PEER_SESSIONS, Sessions());
    close(s32Player);
}

// Any request naming a session set up over UDP keeps it, whatever its
// method (GET_PARAMETER is answered 501), when it comes from the session's
// address; the same requests from elsewhere do not.
TEST_F(RtspHostileTest, RequestsNamingASessionKeepItAlive)
{
    int s32Client = Net_UdpBind("127.0.0.2", 0, 300);
    std::string strReply;
    ASSERT_EQ(200, UdpRequest("127.0.0.2", UdpSetup(Net_Port(s32Client)), &strReply));
    std::string strId = Find(strReply, "Session: (\\d+)");
    // Makes the session's last sign of life 5 s short of its lapse; now.
    auto age = [&]() {
        std::lock_guard<std::mutex> lk(pstService->mtx);
        RtspMediaStream_S *pstStream = rtspFindStream(pstService, TEST_MAIN_PATH);
        std::lock_guard<std::mutex> lkStream(pstStream->mtx);
        RtspSession_S *pstSession = rtspFindSession(pstStream, strId.c_str());
        u64 u64Now = time64_monotonic();
        if (pstSession)
            pstSession->u64SeenMs = u64Now - (RTSP_SESSION_MS - 5000);
        return u64Now;
    };
    const struct {
        const char *pszMethod;
        int s32Code;
    } astCase[] = {{"OPTIONS", 200}, {"GET_PARAMETER", 501}};
    for (const auto &stCase : astCase) {
        u64 u64Now = age();
        EXPECT_EQ(stCase.s32Code, UdpRequest("127.0.0.3", UdpAsk(stCase.pszMethod, strId)));
        EXPECT_EQ(stCase.s32Code, UdpRequest("127.0.0.2", UdpAsk(stCase.pszMethod, strId)));
        rtspExpireSessions(pstService, u64Now + 10000);
        EXPECT_EQ(1u, Sessions()) << stCase.pszMethod;
    }
    u64 u64Now = age();
    EXPECT_EQ(200, UdpRequest("127.0.0.3", UdpAsk("OPTIONS", strId)));
    rtspExpireSessions(pstService, u64Now + 10000);
    EXPECT_EQ(0u, Sessions());
    close(s32Client);
}

// A UDP-set-up session lapses RTSP_SESSION_MS after its last request or
// client RTCP; one on a connection lives with the connection.
TEST_F(RtspHostileTest, SessionsSetUpOverUdpLapse)
{
    RtspClient stPlayer;
    int s32Player = PlayUdp(&stPlayer, "/track1");
    int s32Client = Net_UdpBind("127.0.0.2", 0, 300);
    int s32Stranger = Net_UdpBind("127.0.0.3", 0, 300);
    int s32Open = Test_OpenFds();
    std::string strReply;
    ASSERT_EQ(200, UdpRequest("127.0.0.2", UdpSetup(Net_Port(s32Client)), &strReply));
    u16 u16Rtcp = (u16)atoi(Find(strReply, "server_port=\\d+-(\\d+)").c_str());
    ASSERT_NE(0, u16Rtcp);
    u64 u64Start = time64_monotonic();
    rtspExpireSessions(pstService, u64Start + RTSP_SESSION_MS - 1000);
    EXPECT_EQ(2u, Sessions());
    // RTCP from another address is no sign of life; from the client it is.
    struct sockaddr_in stTo = Net_Addr("127.0.0.1", u16Rtcp);
    static const u8 s_au8Rr[8] = {0x80, 201, 0, 1, 1, 2, 3, 4};
    ASSERT_EQ(8, sendto(s32Stranger, s_au8Rr, 8, 0, (struct sockaddr *)&stTo, sizeof(stTo)));
    rtspExpireSessions(pstService, u64Start + RTSP_SESSION_MS + 1000);
    EXPECT_EQ(1u, Sessions());
    EXPECT_EQ(s32Open, Test_OpenFds());
    ASSERT_EQ(200, UdpRequest("127.0.0.2", UdpSetup(Net_Port(s32Client)), &strReply));
    u16Rtcp = (u16)atoi(Find(strReply, "server_port=\\d+-(\\d+)").c_str());
    ASSERT_NE(0, u16Rtcp);
    stTo = Net_Addr("127.0.0.1", u16Rtcp);
    ASSERT_EQ(8, sendto(s32Client, s_au8Rr, 8, 0, (struct sockaddr *)&stTo, sizeof(stTo)));
    rtspExpireSessions(pstService, u64Start + RTSP_SESSION_MS + 30000);   // hears the RTCP
    rtspExpireSessions(pstService, u64Start + 2 * RTSP_SESSION_MS);
    EXPECT_EQ(2u, Sessions());
    rtspExpireSessions(pstService, u64Start + 2 * RTSP_SESSION_MS + 30000);
    EXPECT_EQ(1u, Sessions());
    rtspExpireSessions(pstService, u64Start + 100 * RTSP_SESSION_MS);
    EXPECT_EQ(1u, Sessions());
    ASSERT_EQ(0, FakeStream_PushVideo(&stMain, Net_Nal(0x67, 20), 1000));
    EXPECT_FALSE(Net_UdpRecv(s32Player).empty());
    for (int s32Fd : {s32Stranger, s32Client, s32Player})
        close(s32Fd);
}

static u32 Be32(const Bytes &vec, size_t i)
{
    return vec.size() < i + 4 ? 0 : (u32)vec[i] << 24 | vec[i + 1] << 16 | vec[i + 2] << 8 | vec[i + 3];
}

// An RTCP compound of an RR and a BYE for u32Ssrc.
static void ExpectBye(const Bytes &vecPacket, u32 u32Ssrc)
{
    ASSERT_EQ(16u, vecPacket.size());
    EXPECT_EQ(201, vecPacket[1]);
    EXPECT_EQ(0x81, vecPacket[8]);
    EXPECT_EQ(203, vecPacket[9]);
    EXPECT_EQ(u32Ssrc, Be32(vecPacket, 4));
    EXPECT_EQ(u32Ssrc, Be32(vecPacket, 12));
}

// Ending a stream's sessions sends each player a BYE then closes its
// connection, at once; the stream stays published.
TEST_F(RtspHostileTest, PlayersAreToldWhenTheirSessionsEnd)
{
    RtspClient stUdp, stTcp;
    int s32Rtp = Net_UdpBind("127.0.0.1", 0, 2000);
    int s32Rtcp = Net_UdpBind("127.0.0.1", (u16)(Net_Port(s32Rtp) + 1), 2000);
    ASSERT_GE(s32Rtcp, 0);
    Play(&stUdp, "/track1", "Transport: RTP/AVP;unicast;client_port=" + std::to_string(Net_Port(s32Rtp)) + "-" +
                                std::to_string(Net_Port(s32Rtcp)) + "\r\n");
    Play(&stTcp, "/track1", TCP_VIDEO);
    ASSERT_EQ(0, FakeStream_PushVideo(&stMain, Net_Nal(0x67, 20), 1000));
    u32 u32UdpSsrc = Be32(Net_UdpRecv(s32Rtp), 8);
    ASSERT_TRUE(stTcp.ReadFrame());
    u32 u32TcpSsrc = Be32(stTcp.vecFrames.back().vecData, 8);
    int64_t s64Start = (int64_t)time64_monotonic();
    ASSERT_EQ(0, RTSPSEVER_EndMediaStreamSessions(pstService, TEST_MAIN_PATH));
    EXPECT_EQ(0u, Sessions());
    ExpectBye(Net_UdpRecv(s32Rtcp), u32UdpSsrc);
    ASSERT_TRUE(stTcp.ReadFrame());
    EXPECT_EQ(1, stTcp.vecFrames.back().u8Channel);
    ExpectBye(stTcp.vecFrames.back().vecData, u32TcpSsrc);
    char c;
    EXPECT_EQ(0, recv(stTcp.s32Fd, &c, 1, 0));
    EXPECT_EQ(0, recv(stUdp.s32Fd, &c, 1, 0));
    EXPECT_LT((int64_t)time64_monotonic() - s64Start, 5000);   // at once, not at the session time-out
    RtspClient stNew;
    Play(&stNew, "/track1", TCP_VIDEO);
    close(s32Rtp);
    close(s32Rtcp);
}
