#include "tests/rtsp/RtspTestService.h"

#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

static FakeStream *Fake_Video(void *pvHalf)
{
    return (FakeStream *)((RtspMediaVideoAttr_S *)pvHalf)->pvHandle;
}

static FakeStream *Fake_Audio(void *pvHalf)
{
    return (FakeStream *)((RtspMediaAudioAttr_S *)pvHalf)->pvHandle;
}

static s32 Fake_Stub(void *)
{
    return 0;
}

// Registers (or with null withdraws) the observer of half s32Half.
static s32 Fake_Observe(FakeStream *p, int s32Half, const RtspFrameObserver_S *pstObserver)
{
    std::lock_guard<std::mutex> lk(p->mtx);
    p->abObserver[s32Half] = pstObserver != nullptr;
    if (pstObserver)
        p->astObserver[s32Half] = *pstObserver;
    return 0;
}

static s32 Fake_Push(FakeStream *p, int s32Half, const void *pvFrame)
{
    std::lock_guard<std::mutex> lk(p->mtx);
    return p->abObserver[s32Half] ? p->astObserver[s32Half].pfnOnFrame(&p->astObserver[s32Half], pvFrame) : -2;
}

void FakeStream_SetParamSet(RtspParamSet_S *pstSet, const Bytes &vecData)
{
    memset(pstSet, 0, sizeof(*pstSet));
    memcpy(pstSet->au8Data, vecData.data(), std::min(vecData.size(), sizeof(pstSet->au8Data)));
    pstSet->u32Len = (u32)vecData.size();
}

void FakeStream_Init(FakeStream *p, u32 u32VideoPt, u32 u32AudioCode)
{
    memset(&p->stAttr, 0, sizeof(p->stAttr));
    p->stAttr.stVideo = {
        u32VideoPt != 0,
        [](void *pv, RtspMediaVideoInfo_S *pstInfo) { return *pstInfo = Fake_Video(pv)->stVideoInfo, 0; },
        Fake_Stub,
        Fake_Stub,
        [](void *pv, const RtspFrameObserver_S *pstObserver) { return Fake_Observe(Fake_Video(pv), 0, pstObserver); },
        [](void *pv) { return Fake_Observe(Fake_Video(pv), 0, nullptr); },
        [](void *pv) { return Fake_Video(pv)->s32IdrRequests++, 0; },
        [](void *pv, RtspParamSet_S *pstSps, RtspParamSet_S *pstPps) {
            return *pstSps = Fake_Video(pv)->stSps, *pstPps = Fake_Video(pv)->stPps, 0;
        },
        [](void *pv, RtspParamSet_S *pstVps) { return *pstVps = Fake_Video(pv)->stVps, 0; },
        p};
    p->stAttr.stAudio = {
        u32AudioCode != 0,
        [](void *pv, RtspMediaAudioInfo_S *pstInfo) { return *pstInfo = Fake_Audio(pv)->stAudioInfo, 0; },
        Fake_Stub,
        Fake_Stub,
        [](void *pv, const RtspFrameObserver_S *pstObserver) { return Fake_Observe(Fake_Audio(pv), 1, pstObserver); },
        [](void *pv) { return Fake_Observe(Fake_Audio(pv), 1, nullptr); },
        p};
    p->stVideoInfo = {1280, 720, 30, 4000, "234.0.100.1", 5002, u32VideoPt};
    p->stAudioInfo = {48000, 2, 16, 0x20000, 1024, "234.0.100.1", 5003, u32AudioCode};
    FakeStream_SetParamSet(&p->stSps, {0, 0, 0, 1, 0x67, 0x4D, 0x00, 0x32, 0x96, 0x35, 0x40, 0x40, 0x01, 0x83, 0x4D,
                                       0xC0, 0x40, 0x40, 0x40, 0x80});
    FakeStream_SetParamSet(&p->stPps, {0, 0, 0, 1, 0x68, 0xEE, 0x3C, 0x80});
    memset(&p->stVps, 0, sizeof(p->stVps));
}

s32 FakeStream_PushVideo(FakeStream *p, const Bytes &vecNal, u64 u64PtsUs)
{
    bool bH265 = p->stVideoInfo.u32PayloadType == RTSP_PAYLOAD_H265;
    u32 u32Code = TestMedia_NalType(vecNal, bH265);
    if ((!bH265 && u32Code == 5) || (bH265 && u32Code == 19))
        u32Code = 2;
    RtspVideoFrame_S stFrame = {vecNal.data(), (u32)vecNal.size(), u64PtsUs, 0,
                                u32Code != 1 && u32Code != 6 && u32Code != 39,
                                p->stVideoInfo.u32PayloadType, u32Code};
    return Fake_Push(p, 0, &stFrame);
}

s32 FakeStream_PushAudio(FakeStream *p, const Bytes &vecData, u64 u64PtsUs)
{
    RtspAudioFrame_S stFrame = {vecData.data(), (u32)vecData.size(), u64PtsUs, 0, p->stAudioInfo.u32PayloadType};
    return Fake_Push(p, 1, &stFrame);
}

bool RtspClient::Connect(int s32RcvBuf, const char *pszFrom)
{
    Close();
    s32Fd = Net_Connect(TEST_RTSP_PORT, s32RcvBuf, pszFrom);
    return s32Fd >= 0;
}

void RtspClient::Close()
{
    if (s32Fd >= 0)
        close(s32Fd);
    s32Fd = -1;
    strSession.clear();
}

std::string RtspClient::Header(const std::string &strName) const
{
    std::string strKey = "\r\n" + strName + ": ";
    size_t pos = strReply.find(strKey);
    if (pos == std::string::npos)
        return "";
    pos += strKey.size();
    return strReply.substr(pos, strReply.find("\r\n", pos) - pos);
}

void RtspClient::ReadFrames(int s32Ms)
{
    Net_Timeout(s32Fd, s32Ms);
    while (ReadFrame()) {
    }
    Net_Timeout(s32Fd, NET_TIMEOUT_MS);
}

int RtspClient::Request(const std::string &strMethod, const std::string &strUri, const std::string &strHeaders)
{
    std::string strReq = strMethod + " " + strUri + " RTSP/1.0\r\nCSeq: " + std::to_string(++u32CSeq) + "\r\n" +
                         strHeaders + "\r\n";
    strReply = Net_SendAll(s32Fd, strReq) ? Net_NoDate(Net_ReadReply(s32Fd, &vecFrames)) : "";
    size_t pos = strReply.find("\r\n\r\n");
    strBody = pos == std::string::npos ? "" : strReply.substr(pos + 4);
    if (!Header("Session").empty())
        strSession = Header("Session");
    return strReply.size() > 12 ? atoi(strReply.c_str() + 9) : 0;
}

std::string Test_UdpTransport(int s32Fd)
{
    return "Transport: RTP/AVP;unicast;client_port=" + std::to_string(Net_Port(s32Fd)) + "\r\n";
}

void Test_MulticastOnLo(void)
{
    // Each test program runs in a namespace of its own: nothing to undo.
    if (system("ip link set lo multicast on && ip route replace 224.0.0.0/4 dev lo") != 0)
        fprintf(stderr, "multicast route on lo not set\n");
}

int Test_OpenFds(void)
{
    int n = 0;
    DIR *pstDir = opendir("/proc/self/fd");
    while (pstDir && readdir(pstDir))
        n++;
    if (pstDir)
        closedir(pstDir);
    return n;
}

int Test_FdsBecome(int s32Count)
{
    // The server closes its ends of connections on its own thread.
    for (int i = 0; i < 500 && Test_OpenFds() != s32Count; i++)
        usleep(10000);
    return Test_OpenFds();
}

RtspService_S *RtspServiceFixture::pstService = nullptr;

void RtspServiceFixture::SetUpTestSuite()
{
    Test_MulticastOnLo();
    StartService();
}

void RtspServiceFixture::StartService()
{
    const RtspServerConfig_S stConfig = {1500, 1024, TEST_RTSP_PORT, 2, 12000};
    ASSERT_EQ(0, RTSPSEVER_Create(&pstService, &stConfig));
    ASSERT_EQ(0, RTSPSEVER_Start(pstService));
}

void RtspServiceFixture::StopService()
{
    EXPECT_EQ(0, RTSPSEVER_Stop(pstService));
    EXPECT_EQ(0, RTSPSEVER_Destroy(pstService));
    pstService = nullptr;
}

void RtspServiceFixture::SetUp()
{
    s32Fds = Test_OpenFds();
    FakeStream_Init(&stMain, RTSP_PAYLOAD_H264, RTSP_PAYLOAD_AAC);
    ASSERT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &stMain.stAttr, TEST_MAIN_PATH, 0x400000));
}

void RtspServiceFixture::TearDown()
{
    EXPECT_EQ(0, RTSPSEVER_RemoveMediaStream(pstService, TEST_MAIN_PATH));
    EXPECT_EQ(s32Fds, Test_FdsBecome(s32Fds));
}

void RtspServiceFixture::Republish()
{
    ASSERT_EQ(0, RTSPSEVER_RemoveMediaStream(pstService, TEST_MAIN_PATH));
    ASSERT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &stMain.stAttr, TEST_MAIN_PATH, 0));
}

u32 RtspServiceFixture::Sessions()
{
    u32 u32Count = 99;
    EXPECT_EQ(0, RTSPSEVER_GetMediaStreamConnect(pstService, TEST_MAIN_PATH, &u32Count));
    return u32Count;
}

u32 RtspServiceFixture::SessionsBecome(u32 u32Count)
{
    for (int i = 0; i < 200 && Sessions() != u32Count; i++)
        usleep(10000);
    return Sessions();
}

std::string RtspServiceFixture::Setup(RtspClient *pstClient, const std::string &strTransport, const char *pszTrack)
{
    if (pstClient->s32Fd < 0) {
        EXPECT_TRUE(pstClient->Connect());
    }
    EXPECT_EQ(200, pstClient->Request("SETUP", std::string(TEST_MAIN_URI) + pszTrack, strTransport));
    return pstClient->strSession;
}

u16 RtspServiceFixture::Play(RtspClient *pstClient, const char *pszTrack, const std::string &strTransport)
{
    Setup(pstClient, strTransport, pszTrack);
    EXPECT_EQ(200, pstClient->Request("PLAY", TEST_MAIN_URI, pstClient->SessionLine()));
    std::string strInfo = pstClient->Header("RTP-Info");
    size_t pos = strInfo.find(std::string(pszTrack) + ";seq=");
    EXPECT_NE(std::string::npos, pos) << strInfo;
    return pos == std::string::npos ? 0 : (u16)std::stoul(strInfo.substr(pos + strlen(pszTrack) + 5));
}

int RtspServiceFixture::PlayUdp(RtspClient *pstClient, const char *pszTrack, u16 *pu16Seq)
{
    int s32Fd = Net_UdpBind("127.0.0.1", 0, 300);
    u16 u16Seq = Play(pstClient, pszTrack, Test_UdpTransport(s32Fd));
    if (pu16Seq)
        *pu16Seq = u16Seq;
    return s32Fd;
}
