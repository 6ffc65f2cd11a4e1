// Real clients play the service: ffprobe and ffmpeg over UDP and TCP,
// GStreamer over UDP, TCP and multicast. A feeder pushes pre-encoded
// H.264 and AAC in real time, as the encoder and audio threads do.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "tests/rtsp/RtspTestService.h"

#define CLIENT_FPS     30
#define AAC_RATE       48000
#define AAC_SAMPLES    1024

struct ClientResult {
    int s32Status = -1;   // exit status, -1 when it did not exit normally
    std::string strOut, strErr;
};

// Runs a shell command with a time-out; standard output and error apart.
static ClientResult Client_Run(const std::string &strCmd, int s32Seconds)
{
    char azOut[] = "/tmp/clientoutXXXXXX", azErr[] = "/tmp/clienterrXXXXXX";
    close(mkstemp(azOut));
    close(mkstemp(azErr));
    std::string strLine = "timeout -s INT " + std::to_string(s32Seconds) + " " + strCmd + " >" + azOut + " 2>" + azErr;
    ClientResult stResult;
    int s32Ret = system(strLine.c_str());
    stResult.s32Status = WIFEXITED(s32Ret) ? WEXITSTATUS(s32Ret) : -1;
    std::ifstream fOut(azOut), fErr(azErr);
    std::stringstream ssOut, ssErr;
    ssOut << fOut.rdbuf();
    ssErr << fErr.rdbuf();
    stResult.strOut = ssOut.str();
    stResult.strErr = ssErr.str();
    unlink(azOut);
    unlink(azErr);
    return stResult;
}

static size_t Client_Count(const std::string &str, const std::string &strPrefix)
{
    size_t n = 0;
    std::istringstream ss(str);
    for (std::string strLine; std::getline(ss, strLine);)
        n += strLine.compare(0, strPrefix.size(), strPrefix) == 0;
    return n;
}

struct RtspClientsTest : public testing::Test {
    static RtspService_S *pstService;
    static FakeStream *pstMain;
    static std::vector<TestPicture> *pvecVideo;
    static std::vector<Bytes> *pvecAudio;
    static std::atomic<bool> bRun;
    static std::thread *pthFeeder;

    // Pushes the pictures and the audio frames in a loop at their pace.
    static void Feed()
    {
        auto tStart = std::chrono::steady_clock::now();
        u64 u64Base = 1000000000ull;   // encoder clocks do not start at 0
        size_t video = 0, audio = 0;
        while (bRun) {
            u64 u64VideoUs = (u64)video * 1000000 / CLIENT_FPS, u64AudioUs = (u64)audio * AAC_SAMPLES * 1000000 / AAC_RATE;
            u64 u64Next = std::min(u64VideoUs, u64AudioUs);
            std::this_thread::sleep_until(tStart + std::chrono::microseconds(u64Next));
            if (u64VideoUs <= u64AudioUs) {
                for (const Bytes &vecNal : (*pvecVideo)[video % pvecVideo->size()].vecNal)
                    FakeStream_PushVideo(pstMain, vecNal, u64Base + u64VideoUs);
                video++;
            } else {
                FakeStream_PushAudio(pstMain, TestMedia_Adts((*pvecAudio)[audio % pvecAudio->size()], AAC_RATE, 2),
                                     u64Base + u64AudioUs);
                audio++;
            }
        }
    }
    static void SetUpTestSuite()
    {
        Test_MulticastOnLo();
        pvecVideo = new std::vector<TestPicture>(TestMedia_Video("libx264", 320, 240, CLIENT_FPS, 800, 60, 30));
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
        pstMain = new FakeStream();
        FakeStream_Init(pstMain, RTSP_PAYLOAD_H264, RTSP_PAYLOAD_AAC);
        FakeStream_SetParamSet(&pstMain->stSps, (*pvecVideo)[0].vecNal[0]);
        FakeStream_SetParamSet(&pstMain->stPps, (*pvecVideo)[0].vecNal[1]);
        pstMain->stVideoInfo.u32Width = 320;
        pstMain->stVideoInfo.u32Height = 240;
        pstMain->stVideoInfo.u32BitRate = 800;
        const RtspServerConfig_S stConfig = {1500, 1024, TEST_RTSP_PORT, 2, 12000};
        ASSERT_EQ(0, RTSPSEVER_Create(&pstService, &stConfig));
        ASSERT_EQ(0, RTSPSEVER_Start(pstService));
        ASSERT_EQ(0, RTSPSEVER_AddMediaStream(pstService, &pstMain->stAttr, TEST_MAIN_PATH, 0));
        bRun = true;
        pthFeeder = new std::thread(Feed);
    }
    static void TearDownTestSuite()
    {
        bRun = false;
        pthFeeder->join();
        EXPECT_EQ(0, RTSPSEVER_Stop(pstService));
        EXPECT_EQ(0, RTSPSEVER_Destroy(pstService));
    }
    static u32 Sessions()
    {
        u32 u32Count = 99;
        EXPECT_EQ(0, RTSPSEVER_GetMediaStreamConnect(pstService, TEST_MAIN_PATH, &u32Count));
        return u32Count;
    }
    // Warnings and errors of the elements that receive, depacketise and
    // decode the media. (GStreamer also warns that it cannot send RTCP to
    // the port 0 the multicast Transport gives, as the server reads no
    // RTCP, and at times that its PAUSE at the end was cut short; a player
    // that fails to play at all fails the pipeline.)
    static std::string GstTrouble(const std::string &strErr)
    {
        static const char *s_apszElement[] = {"libav", "depay", "decoder", "jitterbuffer", "udpsrc"};
        std::string strOut;
        std::istringstream ss(strErr);
        for (std::string strLine; std::getline(ss, strLine);) {
            if (strLine.find("WARN") == std::string::npos && strLine.find("ERROR") == std::string::npos)
                continue;
            for (const char *psz : s_apszElement) {
                if (strLine.find(psz) != std::string::npos) {
                    strOut += strLine + "\n";
                    break;
                }
            }
        }
        return strOut;
    }
};

RtspService_S *RtspClientsTest::pstService;
FakeStream *RtspClientsTest::pstMain;
std::vector<TestPicture> *RtspClientsTest::pvecVideo;
std::vector<Bytes> *RtspClientsTest::pvecAudio;
std::atomic<bool> RtspClientsTest::bRun;
std::thread *RtspClientsTest::pthFeeder;

TEST_F(RtspClientsTest, FfprobeSeesBothStreamsOverUdpAndTcp)
{
    for (const char *pszTransport : {"udp", "tcp"}) {
        ClientResult stResult = Client_Run(std::string("ffprobe -v error -rtsp_transport ") + pszTransport +
                                               " -show_entries stream=codec_name,width,height,sample_rate,channels"
                                               " -of compact=nk=0 " TEST_MAIN_URI,
                                           20);
        EXPECT_EQ(0, stResult.s32Status) << pszTransport;
        EXPECT_EQ("", stResult.strErr) << pszTransport;
        EXPECT_EQ("stream|codec_name=h264|width=320|height=240\n"
                  "stream|codec_name=aac|sample_rate=48000|channels=2\n",
                  stResult.strOut)
            << pszTransport;
    }
}

TEST_F(RtspClientsTest, FfmpegDecodesVideoAndAudioOverUdpAndTcp)
{
    for (const char *pszTransport : {"udp", "tcp"}) {
        ClientResult stResult = Client_Run(std::string("ffmpeg -nostdin -v error -rtsp_transport ") + pszTransport +
                                               " -i " TEST_MAIN_URI " -t 3 -f framemd5 -",
                                           20);
        EXPECT_EQ(0, stResult.s32Status) << pszTransport;
        EXPECT_EQ("", stResult.strErr) << pszTransport;
        // Video starts at the next key frame, up to a second in.
        EXPECT_GE(Client_Count(stResult.strOut, "0,"), 50u) << pszTransport;
        EXPECT_GE(Client_Count(stResult.strOut, "1,"), 130u) << pszTransport;
    }
    for (int i = 0; i < 100 && Sessions() != 0; i++)
        usleep(10000);
    EXPECT_EQ(0u, Sessions());
}

// Each pipeline ends by itself once it has decoded 60 pictures and 100
// audio frames.
static std::string GstPipeline(const char *pszProtocols)
{
    return std::string("gst-launch-1.0 rtspsrc location=" TEST_MAIN_URI " protocols=") + pszProtocols +
           " name=s s. ! queue ! rtph264depay ! avdec_h264 ! identity eos-after=60 ! fakesink"
           " s. ! queue ! rtpmp4gdepay ! avdec_aac ! identity eos-after=100 ! fakesink";
}

TEST_F(RtspClientsTest, GstreamerDecodesOverUdpAndTcp)
{
    for (const char *pszProtocols : {"udp", "tcp"}) {
        ClientResult stResult = Client_Run("env GST_DEBUG=2 " + GstPipeline(pszProtocols), 20);
        EXPECT_EQ(0, stResult.s32Status) << pszProtocols << stResult.strOut << stResult.strErr;
        EXPECT_EQ("", GstTrouble(stResult.strErr)) << pszProtocols;
    }
}

// Two players share the group; it stops once both have left.
TEST_F(RtspClientsTest, GstreamerMulticastTwoPlayers)
{
    int s32Group = Test_UdpBind("234.0.100.1", 5002, 500);
    ClientResult astResult[2];
    std::thread th([&] { astResult[1] = Client_Run("env GST_DEBUG=2 " + GstPipeline("udp-mcast"), 20); });
    astResult[0] = Client_Run("env GST_DEBUG=2 " + GstPipeline("udp-mcast"), 20);
    th.join();
    for (const ClientResult &stResult : astResult) {
        EXPECT_EQ(0, stResult.s32Status) << stResult.strOut << stResult.strErr;
        EXPECT_EQ("", GstTrouble(stResult.strErr));
    }
    for (int i = 0; i < 100 && Sessions() != 0; i++)
        usleep(10000);
    EXPECT_EQ(0u, Sessions());
    for (int i = 0; i < 10000 && !Test_UdpRecv(s32Group).empty(); i++) {
    }
    EXPECT_TRUE(Test_UdpRecv(s32Group).empty());
    close(s32Group);
}
