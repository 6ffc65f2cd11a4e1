#include "tests/rtsp/RtspTestService.h"

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "tests/rtsplib/RtspTestNet.h"

static FakeStream *Fake_Of(void *pvHalf, bool bVideo)
{
    return (FakeStream *)(bVideo ? ((RtspMediaVideoAttr_S *)pvHalf)->pvHandle
                                 : ((RtspMediaAudioAttr_S *)pvHalf)->pvHandle);
}

static s32 Fake_VideoInfo(void *pvHalf, RtspMediaVideoInfo_S *pstInfo)
{
    *pstInfo = Fake_Of(pvHalf, true)->stVideoInfo;
    return 0;
}

static s32 Fake_AudioInfo(void *pvHalf, RtspMediaAudioInfo_S *pstInfo)
{
    *pstInfo = Fake_Of(pvHalf, false)->stAudioInfo;
    return 0;
}

static s32 Fake_Stub(void *)
{
    return 0;
}

static s32 Fake_AddVideo(void *pvHalf, const RtspFrameObserver_S *pstObserver)
{
    FakeStream *p = Fake_Of(pvHalf, true);
    std::lock_guard<std::mutex> lk(p->mtx);
    p->stVideoObserver = *pstObserver;
    p->bVideoObserver = true;
    return 0;
}

static s32 Fake_RemoveVideo(void *pvHalf)
{
    FakeStream *p = Fake_Of(pvHalf, true);
    std::lock_guard<std::mutex> lk(p->mtx);
    p->bVideoObserver = false;
    return 0;
}

static s32 Fake_AddAudio(void *pvHalf, const RtspFrameObserver_S *pstObserver)
{
    FakeStream *p = Fake_Of(pvHalf, false);
    std::lock_guard<std::mutex> lk(p->mtx);
    p->stAudioObserver = *pstObserver;
    p->bAudioObserver = true;
    return 0;
}

static s32 Fake_RemoveAudio(void *pvHalf)
{
    FakeStream *p = Fake_Of(pvHalf, false);
    std::lock_guard<std::mutex> lk(p->mtx);
    p->bAudioObserver = false;
    return 0;
}

static s32 Fake_Idr(void *pvHalf)
{
    Fake_Of(pvHalf, true)->s32IdrRequests++;
    return 0;
}

static s32 Fake_ParamSets(void *pvHalf, RtspParamSet_S *pstSps, RtspParamSet_S *pstPps)
{
    FakeStream *p = Fake_Of(pvHalf, true);
    *pstSps = p->stSps;
    *pstPps = p->stPps;
    return 0;
}

static s32 Fake_Vps(void *pvHalf, RtspParamSet_S *pstVps)
{
    *pstVps = Fake_Of(pvHalf, true)->stVps;
    return 0;
}

void FakeStream_SetParamSet(RtspParamSet_S *pstSet, const Bytes &vecData)
{
    memset(pstSet, 0, sizeof(*pstSet));
    memcpy(pstSet->au8Data, vecData.data(), vecData.size() < sizeof(pstSet->au8Data) ? vecData.size() : sizeof(pstSet->au8Data));
    pstSet->u32Len = (u32)vecData.size();
}

void FakeStream_Init(FakeStream *p, u32 u32VideoPt, u32 u32AudioCode)
{
    memset(&p->stAttr, 0, sizeof(p->stAttr));
    RtspMediaVideoAttr_S &stVideo = p->stAttr.stVideo;
    stVideo = {u32VideoPt != 0, Fake_VideoInfo, Fake_Stub, Fake_Stub, Fake_AddVideo, Fake_RemoveVideo,
               Fake_Idr,        Fake_ParamSets, Fake_Vps,  p};
    RtspMediaAudioAttr_S &stAudio = p->stAttr.stAudio;
    stAudio = {u32AudioCode != 0, Fake_AudioInfo, Fake_Stub, Fake_Stub, Fake_AddAudio, Fake_RemoveAudio, p};
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
    u32 u32Type = TestMedia_NalType(vecNal, bH265);
    u32 u32Code = u32Type;
    if ((!bH265 && u32Type == 5) || (bH265 && u32Type == 19))
        u32Code = 2;
    RtspVideoFrame_S stFrame = {vecNal.data(), (u32)vecNal.size(), u64PtsUs, 0,
                                u32Code != 1 && u32Code != 6 && u32Code != 39,
                                p->stVideoInfo.u32PayloadType, u32Code};
    std::lock_guard<std::mutex> lk(p->mtx);
    return p->bVideoObserver ? p->stVideoObserver.pfnOnFrame(&p->stVideoObserver, &stFrame) : -2;
}

s32 FakeStream_PushAudio(FakeStream *p, const Bytes &vecData, u64 u64PtsUs)
{
    RtspAudioFrame_S stFrame = {vecData.data(), (u32)vecData.size(), u64PtsUs, 0, p->stAudioInfo.u32PayloadType};
    std::lock_guard<std::mutex> lk(p->mtx);
    return p->bAudioObserver ? p->stAudioObserver.pfnOnFrame(&p->stAudioObserver, &stFrame) : -2;
}

bool RtspClient::Connect()
{
    Close();
    if (s32RcvBuf == 0) {
        s32Fd = Net_Connect(TEST_RTSP_PORT);
        return s32Fd >= 0;
    }
    // The window is set before the handshake, so that it is small from
    // the first byte.
    s32Fd = socket(AF_INET, SOCK_STREAM, 0);
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32RcvBuf, sizeof(s32RcvBuf));
    struct timeval stTv = {5, 0};
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    struct sockaddr_in stAddr = Net_Loopback(TEST_RTSP_PORT);
    return connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) == 0;
}

void RtspClient::Close()
{
    if (s32Fd >= 0)
        close(s32Fd);
    s32Fd = -1;
}

std::string Test_Header(const std::string &strReply, const std::string &strName)
{
    std::string strKey = "\r\n" + strName + ": ";
    size_t pos = strReply.find(strKey);
    if (pos == std::string::npos)
        return "";
    pos += strKey.size();
    return strReply.substr(pos, strReply.find("\r\n", pos) - pos);
}

static bool Client_Read(int s32Fd, void *pv, size_t len)
{
    size_t off = 0;
    while (off < len) {
        ssize_t n = recv(s32Fd, (char *)pv + off, len - off, 0);
        if (n <= 0)
            return false;
        off += (size_t)n;
    }
    return true;
}

// The rest of an interleaved frame whose '$' was read.
static bool Client_Frame(int s32Fd, std::vector<TestInterleaved> *pvecFrames)
{
    u8 au8Head[3];
    if (!Client_Read(s32Fd, au8Head, sizeof(au8Head)))
        return false;
    TestInterleaved stFrame;
    stFrame.u8Channel = au8Head[0];
    stFrame.vecData.resize((size_t)au8Head[1] << 8 | au8Head[2]);
    if (!Client_Read(s32Fd, stFrame.vecData.data(), stFrame.vecData.size()))
        return false;
    pvecFrames->push_back(stFrame);
    return true;
}

bool RtspClient::ReadFrame()
{
    char c;
    return Client_Read(s32Fd, &c, 1) && c == '$' && Client_Frame(s32Fd, &vecFrames);
}

void RtspClient::ReadFrames(int s32Ms)
{
    struct timeval stTv = {s32Ms / 1000, (s32Ms % 1000) * 1000}, stOld;
    socklen_t u32Len = sizeof(stOld);
    getsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stOld, &u32Len);
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    while (ReadFrame()) {
    }
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stOld, sizeof(stOld));
}

int RtspClient::Request(const std::string &strMethod, const std::string &strUri, const std::string &strHeaders)
{
    std::string strReq = strMethod + " " + strUri + " RTSP/1.0\r\nCSeq: " + std::to_string(++u32CSeq) + "\r\n" +
                         strHeaders + "\r\n";
    strReply.clear();
    strBody.clear();
    s32Code = 0;
    if (!Net_SendAll(s32Fd, strReq))
        return 0;
    std::string strRaw;
    char c;
    while (strRaw.size() < 4 || strRaw.compare(strRaw.size() - 4, 4, "\r\n\r\n") != 0) {
        if (!Client_Read(s32Fd, &c, 1))
            return 0;
        if (strRaw.empty() && c == '$') {
            if (!Client_Frame(s32Fd, &vecFrames))
                return 0;
            continue;
        }
        strRaw += c;
    }
    std::string strLength = Test_Header(strRaw, "Content-Length");
    if (!strLength.empty()) {
        strBody.resize(std::stoul(strLength));
        if (!Client_Read(s32Fd, &strBody[0], strBody.size()))
            return 0;
        strRaw += strBody;
    }
    strReply = Net_NoDate(strRaw);
    s32Code = atoi(strReply.c_str() + 9);
    return s32Code;
}

std::string RtspClient::Session() const
{
    return Test_Header(strReply, "Session");
}

int Test_UdpBind(const char *pszAddr, u16 u16Port, int s32TimeoutMs)
{
    int s32Fd = socket(AF_INET, SOCK_DGRAM, 0);
    int s32On = 1;
    setsockopt(s32Fd, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On));
    struct timeval stTv = {s32TimeoutMs / 1000, (s32TimeoutMs % 1000) * 1000};
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    int s32Buf = 4 << 20;
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32Buf, sizeof(s32Buf));
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    inet_pton(AF_INET, pszAddr, &stAddr.sin_addr);
    if (bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        close(s32Fd);
        return -1;
    }
    if (IN_MULTICAST(ntohl(stAddr.sin_addr.s_addr))) {
        struct ip_mreq stReq;
        stReq.imr_multiaddr = stAddr.sin_addr;
        inet_pton(AF_INET, "127.0.0.1", &stReq.imr_interface);
        setsockopt(s32Fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &stReq, sizeof(stReq));
    }
    return s32Fd;
}

u16 Test_UdpPort(int s32Fd)
{
    struct sockaddr_in stAddr;
    socklen_t u32Len = sizeof(stAddr);
    getsockname(s32Fd, (struct sockaddr *)&stAddr, &u32Len);
    return ntohs(stAddr.sin_port);
}

Bytes Test_UdpRecv(int s32Fd)
{
    Bytes vec(65536);
    ssize_t n = recv(s32Fd, vec.data(), vec.size(), 0);
    vec.resize(n > 0 ? (size_t)n : 0);
    return vec;
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

RtspService_S *RtspServiceFixture::pstService = nullptr;

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
    FakeStream_Init(&stMain, RTSP_PAYLOAD_H264, RTSP_PAYLOAD_AAC);
    ASSERT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &stMain.stAttr, TEST_MAIN_PATH, 0x400000));
}

void RtspServiceFixture::TearDown()
{
    EXPECT_EQ(0, RTSPSEVER_RemoveMediaStream(pstService, TEST_MAIN_PATH));
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

std::string RtspServiceFixture::Setup(RtspClient *pstClient, const std::string &strTransport, const char *pszTrack)
{
    EXPECT_TRUE(pstClient->Connect());
    EXPECT_EQ(200, pstClient->Request("SETUP", std::string(TEST_MAIN_URI) + pszTrack, strTransport));
    return pstClient->Session();
}
