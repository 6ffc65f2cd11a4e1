// Real clients play the service: ffmpeg over UDP and TCP,
// GStreamer over UDP, TCP and multicast. A feeder pushes pre-encoded
// H.264 and AAC in real time, as the encoder and audio threads do, and
// like the encoder answers a key-frame request with a key frame.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "tests/rtsp/RtspTestService.h"

#define CLIENT_FPS     30
#define CLIENT_GOP     30
#define AAC_RATE       48000
#define AAC_SAMPLES    1024

// Lines of ffmpeg's frame list for a stream.
static size_t Client_Frames(const std::string &str, const char *pszStream)
{
    size_t n = 0;
    for (size_t pos = str.find(pszStream); pos != std::string::npos; pos = str.find(pszStream, pos + 1))
        n++;
    return n;
}

// Warnings and errors of the elements that receive, depacketise and
// decode the media. (GStreamer also warns that it cannot send RTCP to
// the port 0 the multicast Transport gives, as the server reads no RTCP,
// and at times that its PAUSE at the end was cut short; a player that
// fails to play at all fails the pipeline.)
static std::string GstTrouble(const std::string &strErr)
{
    std::string strOut;
    std::istringstream ss(strErr);
    for (std::string strLine; std::getline(ss, strLine);) {
        bool bBad = strLine.find("WARN") != std::string::npos || strLine.find("ERROR") != std::string::npos;
        for (const char *psz : {"libav", "depay", "decoder", "jitterbuffer", "udpsrc"})
            if (bBad && strLine.find(psz) != std::string::npos) {
                strOut += strLine + "\n";
                break;
            }
    }
    return strOut;
}

// A GStreamer pipeline that ends by itself once it has decoded 60
// pictures and 100 audio frames: its exit status and its trouble.
static std::string GstPlay(const char *pszProtocols, int *ps32Status)
{
    std::string strOut, strErr;
    strOut = Test_Run(std::string("env GST_DEBUG=2 gst-launch-1.0 rtspsrc location=" TEST_MAIN_URI " protocols=") +
                          pszProtocols +
                          " name=s s. ! queue ! rtph264depay ! avdec_h264 ! identity eos-after=60 ! fakesink"
                          " s. ! queue ! rtpmp4gdepay ! avdec_aac ! identity eos-after=100 ! fakesink",
                      30, ps32Status, &strErr);
    // An error of the PAUSE cut short at the end, once the pipeline ran to
    // its end, is the player's own leaving, not a fault of the stream.
    std::string strAll = strOut + strErr;
    size_t posEnd = strAll.find("Execution ended after");
    if (*ps32Status != 0 && posEnd != std::string::npos &&
        strAll.rfind("Got EOS from element", posEnd) != std::string::npos &&
        strAll.rfind("ERROR", posEnd) == std::string::npos)
        *ps32Status = 0;
    return *ps32Status == 0 ? GstTrouble(strErr) : strAll;
}

struct RtspClientsTest : public RtspServiceFixture {
    static FakeStream *pstFeed;
    static std::vector<TestPicture> *pvecVideo;
    static std::vector<Bytes> *pvecAudio;
    static std::atomic<bool> bRun;
    static std::atomic<int> s32HoldVideo;   // no video until this many key-frame requests came
    static std::thread *pthFeeder;

    // Pushes the pictures and the audio frames in a loop at their pace.
    static void Feed()
    {
        auto tStart = std::chrono::steady_clock::now();
        u64 u64Base = 1000000000ull;   // encoder clocks do not start at 0
        size_t video = 0, audio = 0, picture = 0;
        int s32Requests = 0;
        while (bRun) {
            u64 u64VideoUs = (u64)video * 1000000 / CLIENT_FPS, u64AudioUs = (u64)audio * AAC_SAMPLES * 1000000 / AAC_RATE;
            std::this_thread::sleep_until(tStart + std::chrono::microseconds(std::min(u64VideoUs, u64AudioUs)));
            if (u64AudioUs < u64VideoUs) {
                FakeStream_PushAudio(pstFeed, (*pvecAudio)[audio++ % pvecAudio->size()], u64Base + u64AudioUs);
                continue;
            }
            if (pstFeed->s32IdrRequests != s32Requests) {
                s32Requests = pstFeed->s32IdrRequests;
                picture = (picture + CLIENT_GOP - 1) / CLIENT_GOP * CLIENT_GOP;
            }
            if (s32Requests >= s32HoldVideo) {
                for (const Bytes &vecNal : (*pvecVideo)[picture++ % pvecVideo->size()].vecNal)
                    FakeStream_PushVideo(pstFeed, vecNal, u64Base + u64VideoUs);
            }
            video++;
        }
    }
    static void SetUpTestSuite()
    {
        RtspServiceFixture::SetUpTestSuite();
        pvecVideo = new std::vector<TestPicture>(TestMedia_Video("libx264", 320, 240, CLIENT_FPS, 800, 60, CLIENT_GOP));
        // Every NAL unit ends with a marker, so GStreamer takes a lone SEI
        // for an empty picture; the box's encoder makes none but the
        // occasional HDCP note. The encoder's own note goes.
        for (TestPicture &stPic : *pvecVideo)
            stPic.vecNal.erase(std::remove_if(stPic.vecNal.begin(), stPic.vecNal.end(),
                                              [](const Bytes &vec) { return TestMedia_NalType(vec, false) == 6; }),
                               stPic.vecNal.end());
        pvecAudio = new std::vector<Bytes>(TestMedia_Aac(AAC_RATE, 2, 94));
        ASSERT_EQ(60u, pvecVideo->size());
        ASSERT_EQ(94u, pvecAudio->size());
        pstFeed = new FakeStream();
        FakeStream_Init(pstFeed, RTSP_PAYLOAD_H264, RTSP_PAYLOAD_AAC);
        FakeStream_SetParamSet(&pstFeed->stSps, (*pvecVideo)[0].vecNal[0]);
        FakeStream_SetParamSet(&pstFeed->stPps, (*pvecVideo)[0].vecNal[1]);
        pstFeed->stVideoInfo.u32Width = 320;
        pstFeed->stVideoInfo.u32Height = 240;
        pstFeed->stVideoInfo.u32BitRate = 800;
        ASSERT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &pstFeed->stAttr, TEST_MAIN_PATH, 0));
        bRun = true;
        pthFeeder = new std::thread(Feed);
    }
    static void TearDownTestSuite()
    {
        bRun = false;
        pthFeeder->join();
        RtspServiceFixture::TearDownTestSuite();
    }
    // The suite's stream stays published; every player has gone at the end.
    void SetUp() override {}
    void TearDown() override { EXPECT_EQ(0u, SessionsBecome(0)); }
};

FakeStream *RtspClientsTest::pstFeed;
std::vector<TestPicture> *RtspClientsTest::pvecVideo;
std::vector<Bytes> *RtspClientsTest::pvecAudio;
std::atomic<bool> RtspClientsTest::bRun;
std::atomic<int> RtspClientsTest::s32HoldVideo;
std::thread *RtspClientsTest::pthFeeder;

// Both tracks decode for 3 s without a complaint (video from the key frame
// PLAY asked for). (What ffprobe finds in the SDP: the stream tests.)
TEST_F(RtspClientsTest, FfmpegOverUdpAndTcp)
{
    for (const char *pszTransport : {"udp", "tcp"}) {
        int s32Status;
        std::string strErr, strOut = Test_Run(std::string("ffmpeg -nostdin -v error -rtsp_transport ") + pszTransport +
                                                  " -i " TEST_MAIN_URI " -t 3 -f framemd5 -",
                                              30, &s32Status, &strErr);
        EXPECT_EQ(0, s32Status) << pszTransport;
        EXPECT_EQ("", strErr) << pszTransport;
        EXPECT_GE(Client_Frames(strOut, "\n0,"), 60u) << pszTransport;
        EXPECT_GE(Client_Frames(strOut, "\n1,"), 130u) << pszTransport;
    }
}

TEST_F(RtspClientsTest, GstreamerDecodesOverUdpAndTcp)
{
    for (const char *pszProtocols : {"udp", "tcp"}) {
        int s32Status;
        EXPECT_EQ("", GstPlay(pszProtocols, &s32Status)) << pszProtocols;
        EXPECT_EQ(0, s32Status) << pszProtocols;
    }
}

// Two players share the group; it stops once both have left. Video waits
// for both to play, so that neither joins the group in the middle of a
// group of pictures (its decoder would miss the pictures before).
TEST_F(RtspClientsTest, GstreamerMulticastTwoPlayers)
{
    int s32Group = Net_UdpBind("234.0.100.1", 5002, 500);
    s32HoldVideo = pstFeed->s32IdrRequests + 2;
    int as32Status[2];
    std::string astrTrouble[2];
    std::thread th([&] { astrTrouble[1] = GstPlay("udp-mcast", &as32Status[1]); });
    astrTrouble[0] = GstPlay("udp-mcast", &as32Status[0]);
    th.join();
    s32HoldVideo = 0;
    for (int i = 0; i < 2; i++) {
        EXPECT_EQ(0, as32Status[i]) << astrTrouble[i];
        EXPECT_EQ("", astrTrouble[i]);
    }
    EXPECT_EQ(0u, SessionsBecome(0));
    for (int i = 0; i < 10000 && !Net_UdpRecv(s32Group).empty(); i++) {
    }
    EXPECT_TRUE(Net_UdpRecv(s32Group).empty());
    close(s32Group);
}
