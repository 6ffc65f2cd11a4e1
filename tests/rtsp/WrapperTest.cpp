#include "tests/rtsp/WrapperTest.h"

#include <cstring>

#include "app/Main.h"
#include "config/ConfigAttr.h"
#include "media/MediaFrame.h"
#include "platform/host/HostMedia.h"
#include "tests/media/MainMediaTest.h"
#include "tests/media/MediaTestAudio.h"

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
    ASSERT_EQ(0, MAIN_RtspServer_SetSignal(pstNet, 1));   // as after a lock
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

std::vector<Bytes> ReadRtp(RtspClient *pstClient, u8 u8Channel, u32 u32Count)
{
    std::vector<Bytes> vecPayload;
    std::vector<TestInterleaved> &vecFrames = pstClient->vecFrames;
    size_t i = 0;
    for (; vecPayload.size() < u32Count && (i < vecFrames.size() || pstClient->ReadFrame()); i++) {
        if (vecFrames[i].u8Channel == u8Channel && vecFrames[i].vecData.size() >= 12)
            vecPayload.emplace_back(vecFrames[i].vecData.begin() + 12, vecFrames[i].vecData.end());
    }
    vecFrames.erase(vecFrames.begin(), vecFrames.begin() + i);
    return vecPayload;
}

Bytes ReadPcmBlock(RtspClient *pstClient, u8 u8Channel)
{
    Bytes vecBlock;
    bool bIn = false;
    for (std::vector<Bytes> vec = ReadRtp(pstClient, u8Channel, 1); !vec.empty(); vec = ReadRtp(pstClient, u8Channel, 1)) {
        const Bytes &vecPay = vec[0];
        if (vecPay.size() < 4)
            return Bytes();
        if (vecPay[1] & 0x10) {   // a first piece, or a whole block
            vecBlock.clear();
            bIn = true;
        }
        if (!bIn)
            continue;
        vecBlock.insert(vecBlock.end(), vecPay.begin() + 4, vecPay.end());
        if (vecPay[1] & 0x80)
            return vecBlock.size() == ((u32)vecPay[2] << 8 | vecPay[3]) ? vecBlock : Bytes();
    }
    return Bytes();
}

static bool GopsReady(void)
{
    HostMedia_S st;
    HostMedia_Get(&st);
    return st.astVenc[0].bGopReady && st.astVenc[1].bGopReady;
}

void StreamLiveTest::SetUp()
{
    WrapperTest::SetUp();
    g_stMainServerAttr.bMediaSend = 1;
    ASSERT_EQ(0, MAIN_Media_Start(&g_stMainServerAttr.stMainMediaAttr));
    s32 bInit = 0;
    ASSERT_EQ(0, MAIN_Media_Frame_Init(&bInit));
    ASSERT_EQ(0, MAIN_Media_Frame_Start());
    TestMedia_BuildVideo();
    TestMedia_StartAudio(true);
    ASSERT_TRUE(Test_WaitFor(GopsReady, 60000));   // a first GOP of a new size, on a slow machine
}

void StreamLiveTest::TearDown()
{
    TestMedia_StopAudio();
    TestMedia_StopVideo();
    EXPECT_EQ(0, HI_Media_Aenc_Stop(0));
    EXPECT_EQ(0, MAIN_Media_Frame_Stop());
    MEDIA_LIST_DelAll();
    HostMedia_Reset();
    WrapperTest::TearDown();
}
