#include "tests/rtsp/WrapperTest.h"

#include <cstring>

#include "config/ConfigAttr.h"
#include "core/Main.h"
#include "tests/media/MainMediaTest.h"

#define TEST_RTP_HEADER 12

TestPack::TestPack(std::initializer_list<std::pair<u32, Bytes>> units)
{
    MiVencPack_S stPack = MiVencPack_S();
    for (const auto &unit : units) {
        stPack.asPackInfo[stPack.u32DataNum++] = {unit.first, (u32)data.size(), (u32)unit.second.size() + 4};
        data.insert(data.end(), {0, 0, 0, 1});
        data.insert(data.end(), unit.second.begin(), unit.second.end());
    }
    stPack.pu8Addr = data.data();
    stPack.u32Len = (u32)data.size();
    stPack.u64PTS = 1000000;
    stPack.bFrameEnd = 1;
    packs.push_back(stPack);
    stStream = {packs.data(), 1, 1};
}

void WrapperTest::SetUpTestSuite()
{
    if (g_stMainServerAttr.stConifg.bRtspStart)
        return;   // up already for an earlier suite
    MAIN_Var_Init();
    TestMedia_Config(true);
    g_stConfigAttr.stManual.s32ID = 1;
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    strcpy(pstNet->azMac, "02:00:00:00:08:01");
    pstNet->stMainStream = {0, 0, "main/av_stream"};
    pstNet->stSubStream = {0, 1, "sub/av_stream"};
    ASSERT_EQ(0, MAIN_RtspServer_Init(pstNet));
}

void WrapperTest::SetUp()
{
    TestMedia_Config(true);
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    ASSERT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &pstNet->stMainStream));
    ASSERT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &pstNet->stSubStream));
    ASSERT_EQ(1u, pstNet->stMainStream.bStart);
}

void WrapperTest::TearDown()
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    EXPECT_EQ(0, MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream));
    EXPECT_EQ(0, MAIN_RtspServer_StopStream(pstNet, &pstNet->stSubStream));
}

RtspServerAttr_S *WrapperTest::Ctx()
{
    return (RtspServerAttr_S *)g_stMainServerAttr.stConifg.hRtspServer;
}

std::string Sprop(const std::string &strUri, const std::string &strKey)
{
    RtspClient stClient;
    if (!stClient.Connect() || stClient.Request("DESCRIBE", strUri) != 200)
        return "<no DESCRIBE>";
    size_t pos = stClient.strBody.find(strKey);
    if (pos == std::string::npos)
        return "";
    pos += strKey.size();
    return stClient.strBody.substr(pos, stClient.strBody.find_first_of(";\r\n", pos) - pos);
}

void PlayTcp(RtspClient *pstClient, const std::string &strUri, const char *pszTrack, u8 u8Channel)
{
    ASSERT_TRUE(pstClient->Connect());
    ASSERT_EQ(200, pstClient->Request("SETUP", strUri + pszTrack,
                                      "Transport: RTP/AVP/TCP;unicast;interleaved=" + std::to_string(u8Channel) + "-" +
                                          std::to_string(u8Channel + 1) + "\r\n"));
    ASSERT_EQ(200, pstClient->Request("PLAY", strUri, pstClient->SessionLine()));
}

// The next RTP packet on u8Channel; false on time-out.
static bool Test_NextRtp(RtspClient *pstClient, u8 u8Channel, Bytes *pPacket)
{
    for (;;) {
        if (pstClient->vecFrames.empty() && !pstClient->ReadFrame())
            return false;
        TestInterleaved stFrame = pstClient->vecFrames.front();
        pstClient->vecFrames.erase(pstClient->vecFrames.begin());
        if (stFrame.u8Channel == u8Channel && stFrame.vecData.size() >= TEST_RTP_HEADER) {
            *pPacket = stFrame.vecData;
            return true;
        }
    }
}

std::vector<Bytes> ReadRtp(RtspClient *pstClient, u8 u8Channel, u32 u32Count)
{
    std::vector<Bytes> payloads;
    Bytes packet;
    while (payloads.size() < u32Count && Test_NextRtp(pstClient, u8Channel, &packet))
        payloads.emplace_back(packet.begin() + TEST_RTP_HEADER, packet.end());
    return payloads;
}

Bytes ReadPcmBlock(RtspClient *pstClient, u8 u8Channel)
{
    Bytes block, packet;
    bool bIn = false;
    while (Test_NextRtp(pstClient, u8Channel, &packet)) {
        if (packet.size() < TEST_RTP_HEADER + 4)
            return Bytes();
        u8 u8Flags = packet[TEST_RTP_HEADER + 1];
        if (u8Flags & 0x10) {   // a first piece, or a whole block
            block.clear();
            bIn = true;
        }
        if (!bIn)
            continue;
        block.insert(block.end(), packet.begin() + TEST_RTP_HEADER + 4, packet.end());
        u32 u32Whole = (u32)packet[TEST_RTP_HEADER + 2] << 8 | packet[TEST_RTP_HEADER + 3];
        if (u8Flags & 0x80)
            return block.size() == u32Whole ? block : Bytes();
    }
    return Bytes();
}
