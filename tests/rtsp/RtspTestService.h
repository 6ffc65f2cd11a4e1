// The RTSP service under test: a stand-in for the stream wrapper that
// answers the service's questions and pushes frames, and a plain RTSP
// client over a TCP connection.
#ifndef TESTS_RTSP_RTSPTESTSERVICE_H
#define TESTS_RTSP_RTSPTESTSERVICE_H

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "rtsp/RtspService.h"
#include "tests/rtsp/RtspTestMedia.h"
#include "tests/rtsplib/RtspTestNet.h"

#define TEST_RTSP_PORT  554
#define TEST_MAIN_PATH  "live/main/av_stream"
#define TEST_MAIN_URI   "rtsp://127.0.0.1/live/main/av_stream"

struct FakeStream {
    RtspMediaStreamAttr_S stAttr;
    RtspMediaVideoInfo_S stVideoInfo;
    RtspMediaAudioInfo_S stAudioInfo;
    RtspParamSet_S stSps, stPps, stVps;
    std::atomic<int> s32IdrRequests{0};
    std::mutex mtx;   // guards the observers, held across a push as the wrapper does
    RtspFrameObserver_S astObserver[2];   // video, audio
    bool abObserver[2] = {false, false};
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

// A blocking RTSP client of 127.0.0.1:554. Interleaved frames that come
// before a reply are kept in vecFrames.
struct RtspClient {
    int s32Fd = -1;
    unsigned u32CSeq = 0;
    std::vector<TestInterleaved> vecFrames;
    std::string strReply;   // the last reply, Date replaced by "D"
    std::string strBody;    // its body
    std::string strSession; // the id of the last reply that gave one

    // With that receive buffer from the first byte (0: the default), from
    // that source address (null: 127.0.0.1).
    bool Connect(int s32RcvBuf = 0, const char *pszFrom = nullptr);
    void Close();
    // Sends a request with CSeq and the given header lines ("Name: value\r\n"
    // each); returns the status code, 0 when no reply came.
    int Request(const std::string &strMethod, const std::string &strUri, const std::string &strHeaders = "");
    // The value of a header of the last reply; empty when absent.
    std::string Header(const std::string &strName) const;
    // "Session: <strSession>\r\n".
    std::string SessionLine() const { return "Session: " + strSession + "\r\n"; }
    // Reads one interleaved frame into vecFrames; false on time-out, close
    // or anything that is not a frame.
    bool ReadFrame() { return Net_ReadFrame(s32Fd, &vecFrames); }
    // Reads frames until none comes for s32Ms.
    void ReadFrames(int s32Ms);
    ~RtspClient() { Close(); }
};

// "Transport: RTP/AVP;unicast;client_port=<port of s32Fd>\r\n".
std::string Test_UdpTransport(int s32Fd);

// One service for a whole suite (stopping one waits for its thread's next
// turn); each test publishes stMain, H.264 and AAC unless it changes it
// and calls Republish, withdraws it at its end, and must have closed by
// then every descriptor it opened (the server's ends of its connections too).
struct RtspServiceFixture : public testing::Test {
    static RtspService_S *pstService;
    FakeStream stMain;
    int s32Fds = 0;   // descriptors open when the test began

    static void SetUpTestSuite();
    static void TearDownTestSuite() { StopService(); }
    static void StartService();
    static void StopService();
    void SetUp() override;
    void TearDown() override;
    void Republish();
    // Sessions of the main stream.
    u32 Sessions();
    // Waits up to 2 s for the main stream to have u32Count sessions; the count.
    u32 SessionsBecome(u32 u32Count);
    // Sets up a track on the client's connection (made when it has none); the session id.
    std::string Setup(RtspClient *pstClient, const std::string &strTransport, const char *pszTrack = "/track1");
    // Sets up a track with that Transport and plays it: the first sequence
    // number RTP-Info announces for it.
    u16 Play(RtspClient *pstClient, const char *pszTrack, const std::string &strTransport);
    // A UDP player of a track on a port of its own, playing: the socket,
    // and the first sequence number.
    int PlayUdp(RtspClient *pstClient, const char *pszTrack, u16 *pu16Seq = nullptr);
};

// Multicast over lo: the route the groups need in the test's namespace.
void Test_MulticastOnLo(void);
// Descriptors this process has open.
int Test_OpenFds(void);
// Waits up to 5 s for the descriptors open to be s32Count; the count.
int Test_FdsBecome(int s32Count);

#endif
