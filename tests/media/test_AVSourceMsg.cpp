// Signal-change handling on the media engine stand-in: the pipeline each
// input gets, its rebuild and teardown, the audio capture, and the poll.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "app/AVSourceMsg.h"
#include "app/Main.h"
#include "app/MainMedia.h"
#include "board/Led.h"
#include "config/Config.h"
#include "media/AVSource.h"
#include "media/MediaSnr.h"
#include "platform/host/HostMedia.h"
#include "tests/media/MediaTest.h"
#include "tests/support/Child.h"

using std::chrono::milliseconds;

static AVSourceVMsg_S VStart(u32 u32Width, u32 u32Height, u32 u32Fps, u32 enSan = 0)
{
    return {AVSOURCE_OP_START, 0, MAIN_VI_MODE_MIPI, u32Width, u32Height, u32Fps, enSan};
}

static const AVSourceVMsg_S s_stVStop = {AVSOURCE_OP_STOP, 0, MAIN_VI_MODE_MIPI, MAIN_SIZE_STOP, MAIN_SIZE_STOP, 0, 0};

// The locked input as the capture driver holds it, the receiver's output on.
static void PadLock(u16 u16Width, u16 u16Height, u8 u8Fps)
{
    SnrVideoInfo_S st = {};
    st.bsupport = 1;
    st.u16VideoWidth = u16Width;
    st.u16VideoHeight = u16Height;
    st.u8VideoFps = u8Fps;
    st.u32Width = u16Width;
    st.u32Height = u16Height;
    ASSERT_EQ(0, Media_SNR_SendVideoInfo(&st));
    HostPad_SetOutput(true);
}

// A started media engine with default settings and no RTSP server.
static void StartMedia(void)
{
    HostMedia_Reset();
    MAIN_Var_Init();
    ConfigEdidText_S stEdid;
    ASSERT_EQ(0, Config_default(&g_stConfigAttr, &stEdid, "00:11:22:33:44:55"));
    MAIN_Media_DefConifg(&g_stMainServerAttr.stMainMediaAttr);
    (void)MAIN_Media_Start(&g_stMainServerAttr.stMainMediaAttr);   // the local output is started once per process
    g_stMainServerAttr.enSample = MAIN_SAMPLE_NONE;
    g_enCurrentRunSample = MAIN_SAMPLE_NONE;
    g_audioinput_status = 0;
}

// The poll as the start-up runs it: a lock rebuilds the pipeline for the
// driver's timing with the rate normalised and starts the audio; an
// unchanged state does nothing; a loss takes both down. Defined before the
// tests that start the engine's threads, so that it runs first: a child
// forked while one of them holds the engine's lock would wait for ever.
TEST(MediaPollTest, StateChangesDriveThePipeline)
{
    std::string out = Child_Run([] {
        StartMedia();
        const MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
        if (MAIN_Media_TimerInit() != 0)
            return;
        MAIN_Media_TimerThread();
        PadLock(1280, 720, 59);
        bool bUp = Test_WaitFor([] { return g_stMainServerAttr.bViStart == 1 && g_stMainServerAttr.bAiCapStart == 1; },
                           3000);
        printf("\nup %d vi %ux%u@%u main %ux%u\n", bUp, pstMedia->stViAttr.u32Width, pstMedia->stViAttr.u32Height,
               pstMedia->stViAttr.u32SrcFrameRate, Engine().astVenc[0].u32Width, Engine().astVenc[0].u32Height);
        std::this_thread::sleep_for(milliseconds(300));
        SnrVideoInfo_S stNone = {};
        Media_SNR_SendVideoInfo(&stNone);
        bool bDown = Test_WaitFor([] {
            return g_stMainServerAttr.bViStart == 0 && g_stMainServerAttr.bAiCapStart == 0 &&
                   !Engine().astVenc[0].bCreated;
        }, 3000);
        printf("\ndown %d\n", bDown);
        fflush(stdout);
    });
    EXPECT_NE(std::string::npos, out.find("\nup 1 vi 1280x720@60 main 1280x720\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\ndown 1\n")) << out;
    size_t sizeLock = out.find("g_enSNRState: EN_SIGNAL_LOCK");
    ASSERT_NE(std::string::npos, sizeLock);
    EXPECT_EQ(std::string::npos, out.find("g_enSNRState: EN_SIGNAL_LOCK", sizeLock + 1));
    EXPECT_NE(std::string::npos, out.find("u8VideoFps [60] u16VideoWidth [1280] u16VideoHeight [720]"));
    EXPECT_EQ(std::string::npos, out.find("pfnCallBack err!"));
}

struct MsgProcTest : public testing::Test {
    MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;

    void SetUp() override
    {
        testing::internal::CaptureStdout();
        StartMedia();
    }
    void TearDown() override
    {
        AVSourceAMsg_S stAStop = {AVSOURCE_OP_STOP, 0, MAIN_SAMPLE_NONE};
        EXPECT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_AUDIO, &stAStop));
        EXPECT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_VIDEO, &s_stVStop));
        std::string out = testing::internal::GetCapturedStdout();
        if (HasFailure())
            fprintf(stderr, "%s", out.c_str());
        HostMedia_Reset();
    }
    static std::string Out()
    {
        std::string s = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        return s;
    }
};

TEST(CheckFpsTest, RatesToTheirFamily)
{
    const s32 aas32[][2] = {{55, 60}, {62, 60}, {63, 63}, {54, 50}, {45, 50}, {44, 44}, {34, 30}, {28, 30},
                            {27, 27}, {26, 25}, {25, 25}, {24, 24}, {20, 24}, {19, 19}, {0, 0}, {120, 120}};
    for (const auto &as32 : aas32)
        EXPECT_EQ(as32[1], MAIN_CheckFps(as32[0])) << as32[0];
}

struct Sizes {
    AVSourceVMsg_S stMsg;
    u32 u32CfgFps, u32SubW, u32SubH;           // settings
    u32 u32ViW, u32ViH, u32MainH, u32MainSrc, u32MainGop;
    u32 u32SubOutW, u32SubOutH, u32Port1H;
};

struct MsgProcSizesTest : public MsgProcTest, public testing::WithParamInterface<Sizes> {};

// Each input gets its video input, encoder sizes, rates and scaler ports.
TEST_P(MsgProcSizesTest, VideoStartSizesThePipeline)
{
    const Sizes &c = GetParam();
    g_stConfigAttr.stMainAttr.u32Fps = c.u32CfgFps;
    g_stConfigAttr.stSubAttr.u32Width = c.u32SubW;
    g_stConfigAttr.stSubAttr.u32Height = c.u32SubH;
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_VIDEO, &c.stMsg));

    EXPECT_EQ(c.u32ViW, pstMedia->stViAttr.u32Width);
    EXPECT_EQ(c.u32ViH, pstMedia->stViAttr.u32Height);
    EXPECT_EQ(c.stMsg.enSan ? (u32)MEDIA_SCAN_INTERLACED : (u32)MEDIA_SCAN_PROGRESSIVE, pstMedia->stViAttr.enScanMode);
    EXPECT_EQ(c.stMsg.u32Fps, pstMedia->stViAttr.u32SrcFrameRate);
    const MediaVencAttr_S &m = pstMedia->stMainVencAttr;
    EXPECT_EQ(c.u32MainSrc, m.u32SrcFrameRate);
    EXPECT_EQ(c.u32MainGop, m.u32Gop);
    EXPECT_EQ(c.u32MainGop, m.u32FrameRate);
    EXPECT_EQ(c.u32CfgFps > 60 ? 60u : c.u32CfgFps, g_stConfigAttr.stMainAttr.u32Fps);

    HostMedia_S st = Engine();
    EXPECT_EQ(c.u32ViW, st.astVpe[0].au32PortWidth[0]);
    EXPECT_EQ(c.u32MainH, st.astVpe[0].au32PortHeight[0]);
    EXPECT_EQ(c.u32Port1H, st.astVpe[0].au32PortHeight[1]);
    EXPECT_EQ((u32)MEDIA_JPEG_SIZE, st.astVpe[0].au32PortWidth[2]);
    EXPECT_TRUE(st.astVenc[2].bCreated);
    EXPECT_EQ((c.u32ViW + 7) / 8 * 8, st.astVenc[0].u32Width);   // an H.265 picture is 8-pixel aligned
    EXPECT_EQ(c.u32MainH, st.astVenc[0].u32Height);
    EXPECT_EQ(c.u32SubOutW, st.astVenc[1].u32Width);
    EXPECT_EQ(c.u32SubOutH, st.astVenc[1].u32Height);
    EXPECT_EQ(1, g_stMainServerAttr.bViStart);
    EXPECT_EQ(1, g_data_status);
    EXPECT_EQ(1, g_s32StopSend);
    EXPECT_EQ(0, memcmp(&c.stMsg, &g_stMainServerAttr.stVMsg, sizeof(c.stMsg)));
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, MsgProcSizesTest,
    testing::Values(Sizes{VStart(1920, 1080, 60), 60, 640, 360, 1920, 1080, 1080, 60, 60, 640, 360, 360},
                    Sizes{VStart(1920, 540, 30, 1), 60, 960, 540, 1920, 540, 1080, 60, 30, 960, 540, 538},
                    Sizes{VStart(1920, 576, 25, 1), 60, 640, 360, 1920, 576, 576, 60, 60, 640, 360, 360},
                    Sizes{VStart(1920, 1200, 60), 60, 640, 360, 1920, 1200, 1080, 60, 60, 640, 360, 360},
                    Sizes{VStart(1366, 768, 60), 30, 640, 360, 1364, 768, 768, 60, 30, 640, 360, 360},
                    Sizes{VStart(1024, 768, 60), 75, 1280, 720, 1024, 768, 768, 60, 60, 1024, 768, 768},
                    Sizes{VStart(1280, 720, 50), 0, 640, 360, 1280, 720, 720, 50, 50, 640, 360, 360}));

// A second lock without a loss between rebuilds everything for the new
// input, and its pictures reach every encoder. A stop then takes the whole
// pipeline down once; a second stop finds nothing.
TEST_F(MsgProcTest, RelockWithoutLossRebuildsThenStopTearsDown)
{
    PadLock(1920, 1080, 60);
    AVSourceVMsg_S stFirst = VStart(1920, 1080, 60);
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_VIDEO, &stFirst));
    EXPECT_TRUE(Test_WaitFor([] { return Engine().bViDelivering; }, 2000));

    PadLock(1280, 720, 50);
    AVSourceVMsg_S stSecond = VStart(1280, 720, 50);
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_VIDEO, &stSecond));
    EXPECT_EQ(1280u, Engine().astVenc[0].u32Width);
    EXPECT_TRUE(Test_WaitFor([] {
        HostMedia_S s = Engine();
        return s.bViDelivering && s.astVenc[0].u32Seq + s.astVenc[0].u32NotReady > 0 &&
               s.astVenc[1].u32Seq + s.astVenc[1].u32NotReady > 0;
    }, 3000));
    EXPECT_EQ(std::string::npos, Out().find("CreateChn failed"));

    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_VIDEO, &s_stVStop));
    HostMedia_S st = Engine();
    for (u32 i = 0; i < 3; i++)
        EXPECT_FALSE(st.astVenc[i].bCreated) << i;
    EXPECT_FALSE(st.astVpe[0].bCreated);
    EXPECT_EQ(0u, st.u32Binds);
    EXPECT_EQ(0, g_stMainServerAttr.bViStart);
    EXPECT_EQ(0, g_data_status);
    Out();
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_VIDEO, &s_stVStop));
    EXPECT_EQ(std::string::npos, Out().find("failed"));
}

// Audio at the configured rate starts without a stream restart; the same
// rate again does nothing; "no audio" ends the capture; an analog input
// selection leaves a stop alone.
TEST_F(MsgProcTest, AudioStartAndStop)
{
    AVSourceAMsg_S stStart = {AVSOURCE_OP_START, 0, MAIN_SAMPLE_RATE};
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_AUDIO, &stStart));
    EXPECT_EQ(1, g_stMainServerAttr.bAiCapStart);
    EXPECT_EQ(MAIN_SAMPLE_RATE, g_enCurrentRunSample);
    std::string out = Out();
    EXPECT_NE(std::string::npos, out.find("first,restart_stream_flag=0\n"));
    EXPECT_EQ(std::string::npos, out.find("audio StopStream"));
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_AUDIO, &stStart));
    EXPECT_EQ(std::string::npos, Out().find("enSample"));

    AVSourceAMsg_S stNone = {AVSOURCE_OP_START, 0, MAIN_SAMPLE_NONE};
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_AUDIO, &stNone));
    EXPECT_EQ(0, g_stMainServerAttr.bAiCapStart);
    EXPECT_EQ(MAIN_SAMPLE_NONE, g_stMainServerAttr.enSample);

    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_AUDIO, &stStart));
    g_audioinput_status = 2;
    AVSourceAMsg_S stStop = {AVSOURCE_OP_STOP, 0, MAIN_SAMPLE_NONE};
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_AUDIO, &stStop));
    EXPECT_EQ(1, g_stMainServerAttr.bAiCapStart);
    g_audioinput_status = 0;
    ASSERT_EQ(0, MAIN_AVSource_MsgProc(AVSOURCE_MSG_AUDIO, &stStop));
    EXPECT_EQ(0, g_stMainServerAttr.bAiCapStart);
}
