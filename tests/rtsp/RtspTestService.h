// The RTSP service under test: a stand-in for the stream wrapper that
// answers the service's questions and pushes frames, and a plain RTSP
// client over a TCP connection.
#ifndef TESTS_RTSP_RTSPTESTSERVICE_H
#define TESTS_RTSP_RTSPTESTSERVICE_H

#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "rtsp/RtspService.h"
#include "tests/rtsp/RtspTestMedia.h"

#define TEST_RTSP_PORT  554
#define TEST_MAIN_PATH  "live/main/av_stream"
#define TEST_MAIN_URI   "rtsp://127.0.0.1/live/main/av_stream"

struct FakeStream {
    RtspMediaStreamAttr_S stAttr;
    RtspMediaVideoInfo_S stVideoInfo;
    RtspMediaAudioInfo_S stAudioInfo;
    RtspParamSet_S stSps, stPps, stVps;
    std::atomic<int> s32IdrRequests{0};
    std::mutex mtx;   // guards the observers
    RtspFrameObserver_S stVideoObserver, stAudioObserver;
    bool bVideoObserver = false, bAudioObserver = false;
};

// A stream of video payload u32VideoPt (0: no video) and audio payload
// code u32AudioCode (0: no audio): 1280x720, 30 fps, 4000 kbit/s, group
// 234.0.100.1 ports 5002/5003, AAC 48000 Hz stereo, the given SPS and PPS.
void FakeStream_Init(FakeStream *pstStream, u32 u32VideoPt, u32 u32AudioCode);
void FakeStream_SetParamSet(RtspParamSet_S *pstSet, const Bytes &vecData);
// Pushes one NAL unit (start code included) as the wrapper does, or one
// audio frame; the observer's result, or -2 with no observer.
s32 FakeStream_PushVideo(FakeStream *pstStream, const Bytes &vecNal, u64 u64PtsUs);
s32 FakeStream_PushAudio(FakeStream *pstStream, const Bytes &vecData, u64 u64PtsUs);

// One interleaved frame received on the RTSP connection.
struct TestInterleaved {
    u8 u8Channel;
    Bytes vecData;
};

// A blocking RTSP client of 127.0.0.1:554. Interleaved frames that come
// before a reply are kept in vecFrames.
struct RtspClient {
    int s32Fd = -1;
    unsigned u32CSeq = 0;
    std::vector<TestInterleaved> vecFrames;
    std::string strReply;                          // the last reply, Date replaced by "D"
    std::map<std::string, std::string> mapHeader;  // its headers
    std::string strBody;
    int s32Code = 0;
    int s32RcvBuf = 0;                             // receive buffer to connect with; 0: the default

    bool Connect();
    void Close();
    // Sends a request with CSeq and the given header lines ("Name: value\r\n"
    // each); returns the status code, 0 when no reply came.
    int Request(const std::string &strMethod, const std::string &strUri, const std::string &strHeaders = "");
    // The Session header's id.
    std::string Session() const;
    // Reads one interleaved frame into vecFrames; false on time-out, close
    // or anything that is not a frame.
    bool ReadFrame();
    // Reads frames until none comes for s32Ms.
    void ReadFrames(int s32Ms);
    ~RtspClient() { Close(); }
};

// One service for a whole suite (stopping one waits for its thread's next
// turn); each test publishes stMain, H.264 and AAC unless it changes it
// and calls Republish, and withdraws it at its end.
struct RtspServiceFixture : public testing::Test {
    static RtspService_S *pstService;
    FakeStream stMain;

    static void SetUpTestSuite() { StartService(); }
    static void TearDownTestSuite() { StopService(); }
    static void StartService();
    static void StopService();
    void SetUp() override;
    void TearDown() override;
    void Republish();
    // Sessions of the main stream.
    u32 Sessions();
    // Connects a client and sets up a track; the session id.
    std::string Setup(RtspClient *pstClient, const std::string &strTransport, const char *pszTrack = "/track1");
};

// A UDP socket bound to pszAddr (a multicast group is joined on lo) and
// u16Port (0: any), with a receive time-out.
int Test_UdpBind(const char *pszAddr, u16 u16Port, int s32TimeoutMs = 2000);
u16 Test_UdpPort(int s32Fd);
// One datagram; empty on time-out.
Bytes Test_UdpRecv(int s32Fd);
// Multicast over lo: the route the groups need in the test's namespace.
void Test_MulticastOnLo(void);
// Descriptors this process has open.
int Test_OpenFds(void);

// The value of a header in a raw reply; empty when absent.
std::string Test_Header(const std::string &strReply, const std::string &strName);

#endif
