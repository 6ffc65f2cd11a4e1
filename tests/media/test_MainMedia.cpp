#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

#include "app/AVSourceMsg.h"
#include "app/Main.h"
#include "app/MainEncRange.h"
#include "app/MainMedia.h"
#include "board/Gpio.h"
#include "config/ConfigAttr.h"
#include "media/MediaFrame.h"
#include "platform/host/HostMedia.h"
#include "tests/media/MainMediaTest.h"
#include "tests/media/MediaTestAudio.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"

// A JPEG stream of packs holding "<junk>" + text from u32Offset on.
struct TestJpeg_S {
    std::vector<std::string> data;
    std::vector<MiVencPack_S> packs;
    MiVencStream_S stStream;

    TestJpeg_S(std::initializer_list<std::string> texts, u32 u32Offset)
    {
        for (const std::string &text : texts)
            data.push_back(std::string(u32Offset, 'x') + text);
        for (std::string &str : data) {
            MiVencPack_S stPack = MiVencPack_S();
            stPack.pu8Addr = (u8 *)str.data();
            stPack.u32Len = (u32)str.size();
            stPack.u32Offset = u32Offset;
            stPack.u32DataNum = 1;
            stPack.asPackInfo[0] = {MI_VENC_JPEG_PACK_PICTURE, u32Offset, (u32)str.size() - u32Offset};
            packs.push_back(stPack);
        }
        stStream = {packs.data(), (u32)packs.size(), 1};
    }
};

// A queued PCM frame of silence; the queue frees it.
static MediaFrameNode_S *Test_PcmNode(void)
{
    MediaFrameNode_S *pstNode = new MediaFrameNode_S();
    pstNode->enFrameKind = MEDIA_FRAME_PCM;
    pstNode->stAudio.apData[0] = calloc(1, MEDIA_PCM_BUF_LEN);
    pstNode->stAudio.u32Len = 4096;
    return pstNode;
}

struct MainMediaTest : public testing::Test {
    void SetUp() override
    {
        MAIN_Var_Init();
        g_stMainServerAttr.bMediaSend = 1;
        g_snap_file = 0;
        ASSERT_EQ(0, MEDIA_LIST_Init());
    }
    void TearDown() override
    {
        MAIN_Media_Frame_Stop();
        HI_Media_Aenc_Stop(0);
        HI_MEDIA_Aenc_RegisterNotify(nullptr);
        HI_Media_Ai_StopManualMode(0);
        MEDIA_LIST_DelAll();
        AAC_DeInit();
        HostMedia_Reset();
        unlink(MAIN_SNAP_FILE);
    }
};

// The defaults follow the settings: encoder types, sizes, bit rates and
// the audio codec of each stream.
TEST_F(MainMediaTest, DefaultsComeFromTheSettings) {
    TestMedia_Config(true);
    const MainMediaAttr_S &st = g_stMainServerAttr.stMainMediaAttr;
    const MediaVencAttr_S &m = st.stMainVencAttr, &s = st.stSubVencAttr;
    EXPECT_EQ((std::vector<u32>{MEDIA_VENC_H265, MEDIA_VENC_H264, MEDIA_VENC_JPEG, 1280, 360, 2000, 500}),
              (std::vector<u32>{m.enVencType, s.enVencType, st.stJpegVencAttr.enVencType, m.u32Width, s.u32Height,
                                m.u32BitRate, s.u32BitRate}));
    EXPECT_EQ(MAIN_AUDIO_CODEC_AAC, st.enMainAudioCodec);
    EXPECT_EQ(MAIN_AUDIO_CODEC_PCM, st.enSubAudioCodec);
    TestMedia_Config(false);
    EXPECT_EQ(MAIN_AUDIO_CODEC_PCM, st.enMainAudioCodec);
    EXPECT_EQ(MAIN_AUDIO_CODEC_AAC, st.enSubAudioCodec);
}

// Stored values the encoder cannot run take their defaults at start-up,
// so the channels are made; values inside the ranges stay, and the sub
// stream's audio fields, which it never runs, are not looked at.
TEST_F(MainMediaTest, StoredValuesOutOfRangeTakeTheirDefaults) {
    TestMedia_Config(true);
    ConfigStreamAttr_S &stMain = g_stConfigAttr.stMainAttr, &stSub = g_stConfigAttr.stSubAttr;
    stMain.u32Videobitrate = 0xFFFFFFFF;
    stMain.u32Fps = 0;
    stMain.u32Audiofreq = 96000;
    stSub.u32Videobitrate = 0;
    stSub.u32Audiofreq = 0;
    MAIN_Media_DefConifg(&g_stMainServerAttr.stMainMediaAttr);
    EXPECT_EQ((std::vector<u32>{20480, 60, 48000, 131072, 1024, 60, 0}),
              (std::vector<u32>{stMain.u32Videobitrate, stMain.u32Fps, stMain.u32Audiofreq, stMain.u32Audiobitrate,
                                stSub.u32Videobitrate, stSub.u32Fps, stSub.u32Audiofreq}));
    const MainMediaAttr_S &st = g_stMainServerAttr.stMainMediaAttr;
    EXPECT_EQ(20480u, st.stMainVencAttr.u32BitRate);
    EXPECT_EQ(1024u, st.stSubVencAttr.u32BitRate);
    TestMedia_BuildVideo();
    TestMedia_StopVideo();

    stMain.u32Videobitrate = MAIN_ENC_MAX_BITRATE;
    stSub.u32Videobitrate = MAIN_ENC_MIN_BITRATE;
    stMain.u32Fps = MAIN_ENC_MIN_FPS;
    MAIN_Media_DefConifg(&g_stMainServerAttr.stMainMediaAttr);
    EXPECT_EQ((std::vector<u32>{MAIN_ENC_MAX_BITRATE, MAIN_ENC_MIN_BITRATE, MAIN_ENC_MIN_FPS}),
              (std::vector<u32>{stMain.u32Videobitrate, stSub.u32Videobitrate, stMain.u32Fps}));
}

static s32 Line(u32 u32Gpio)
{
    s32 s32Value = -1;
    EXPECT_EQ(0, GPIO_GET(u32Gpio, &s32Value));
    return s32Value;
}

// The analog input restarts a capture at 44100 Hz, and the local output it
// feeds, at 48000 Hz; the routing lines go 13 low, 6 low, 5 high, and the
// capture hands on silence for a while. The HDMI input only routes: 13
// high, 6 high, 5 low. No other input is taken.
TEST_F(MainMediaTest, AudioInputSelection) {
    TestMedia_Config(true);
    MainMediaAttr_S *pstAttr = &g_stMainServerAttr.stMainMediaAttr;
    pstAttr->stAiAttr.enInSamplerate = pstAttr->stAiAttr.enOutSamplerate = 44100;
    ASSERT_EQ(0, MAIN_Media_Start(pstAttr));
    TestMedia_StartAudio(false);
    g_stMainServerAttr.bAiCapStart = 1;
    g_stMainServerAttr.enSample = 44100;

    ASSERT_EQ(0, MAIN_Audio_set(MAIN_AUDIO_INPUT_ANALOG, 0));
    EXPECT_EQ(MAIN_AUDIO_STATUS_ANALOG, g_audioinput_status);
    EXPECT_EQ((std::vector<s32>{48000, 1}), (std::vector<s32>{g_stMainServerAttr.enSample,
                                                               g_stMainServerAttr.bAiCapStart}));
    EXPECT_EQ((std::vector<u32>{48000, 48000}),
              (std::vector<u32>{Engine().astAi[0].stAttr.enSamplerate, Engine().astAo[0].stAttr.enSamplerate}));
    EXPECT_EQ((std::vector<s32>{0, 0, 1}), (std::vector<s32>{Line(13), Line(6), Line(5)}));
    u64 u64Played = Engine().astAo[0].u64Frames;
    EXPECT_TRUE(Test_WaitFor([u64Played] { return Engine().astAo[0].u64Frames > u64Played + 3; }));
    EXPECT_TRUE(Test_WaitFor([] { return g_audio_switch == 0; }, 3000));

    ASSERT_EQ(0, MAIN_Audio_set(MAIN_AUDIO_INPUT_HDMI, 0));
    EXPECT_EQ(MAIN_AUDIO_STATUS_HDMI, g_audioinput_status);
    EXPECT_EQ((std::vector<s32>{1, 1, 0}), (std::vector<s32>{Line(13), Line(6), Line(5)}));
    EXPECT_EQ(-1, MAIN_Audio_set(2, 0));
    EXPECT_EQ(MAIN_AUDIO_STATUS_HDMI, g_audioinput_status);
    TestMedia_StopAudio();
    g_audioinput_status = 0;
    g_audio_switch = 0;
}

// Every captured frame becomes one PCM frame and is played locally; with
// a stream on AAC it also becomes an AAC frame (once the encoder has
// filled up), with both on PCM never.
TEST_F(MainMediaTest, CapturedAudioIsQueuedAsPcmAndAac) {
    for (bool bAac : {true, false}) {
        TestMedia_Config(true);
        if (!bAac)
            g_stMainServerAttr.stMainMediaAttr.enMainAudioCodec = MAIN_AUDIO_CODEC_PCM;
        ASSERT_EQ(0, MAIN_Media_Start(&g_stMainServerAttr.stMainMediaAttr));
        TestMedia_StartAudio(false);
        ASSERT_TRUE(Test_WaitFor([] { return Engine().astAo[0].u64Frames >= 8; }));
        TestMedia_StopAudio();
        u32 u32Played = (u32)Engine().astAo[0].u64Frames, u32Pcm = 0;
        EXPECT_EQ(0u, MEDIA_LIST_GetCurFramCnt(&u32Pcm));
        EXPECT_EQ(u32Played, u32Pcm);
        u32 u32Aac = 0;
        while (MediaFrameNode_S *pstNode = AAC_LIST_GetOneFram(0)) {
            EXPECT_EQ(pstNode->stAudio.u32Len, TestAudio_AdtsLen((const u8 *)pstNode->stAudio.apData[0], pstNode->stAudio.u32Len));
            AAC_LIST_DelOneFram(pstNode);
            u32Aac++;
        }
        if (bAac) {
            EXPECT_GE(u32Aac + 2, u32Played);
            EXPECT_LE(u32Aac, u32Played);
        } else {
            EXPECT_EQ(0u, u32Aac);
        }
        MEDIA_LIST_DelAll();
        HostMedia_Reset();
    }
}

static std::atomic<u32> s_u32AacFrames;
static s32 Test_AacFrame(s32 s32Chn, MediaAudioFrame_S *pstFrame)
{
    if (s32Chn == 0 && TestAudio_AdtsLen((const u8 *)pstFrame->apData[0], pstFrame->u32Len) == pstFrame->u32Len)
        s_u32AacFrames++;
    return 0;
}

// The AAC sender hands each queued frame to the AAC callback until stopped.
TEST_F(MainMediaTest, AacSenderDrainsTheQueueIntoTheCallback) {
    TestMedia_Config(true);
    ASSERT_EQ(0, MAIN_Media_Start(&g_stMainServerAttr.stMainMediaAttr));
    HI_MEDIA_Aenc_RegisterNotify(Test_AacFrame);
    s_u32AacFrames = 0;
    TestMedia_StartAudio(true);
    EXPECT_EQ(0, HI_Media_Aenc_Start(0));   // running already: no second thread
    ASSERT_TRUE(Test_WaitFor([] { return s_u32AacFrames >= 5; }));
    TestMedia_StopAudio();
    ASSERT_EQ(0, HI_Media_Aenc_Stop(0));
    u32 u32Seen = s_u32AacFrames;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(u32Seen, s_u32AacFrames.load());
}

// The frame sender takes every frame off the queue, whether it may send
// or not: frames never pile up while sending is off.
TEST_F(MainMediaTest, FrameSenderDrainsTheQueueWhileSendingIsOff) {
    s32 bInit = 0;
    ASSERT_EQ(0, MAIN_Media_Frame_Init(&bInit));
    EXPECT_EQ(1, bInit);
    ASSERT_EQ(0, MAIN_Media_Frame_Start());
    for (s32 bSend : {0, 1}) {
        g_stMainServerAttr.bMediaSend = bSend;   // the wrapper is down either way
        for (u32 i = 0; i < 20; i++) {
            ASSERT_EQ(0, MEDIA_LIST_Add(Test_PcmNode()));
        }
        EXPECT_TRUE(Test_WaitFor([] {
            u32 u32Audio;
            MEDIA_LIST_GetCurFramCnt(&u32Audio);
            return u32Audio == 0;
        }));
    }
    ASSERT_EQ(0, MAIN_Media_Frame_Stop());
}

// Taking the frame queue down frees what it holds and refuses frames
// until it is set up again; the second set-up works as the first did.
TEST_F(MainMediaTest, FrameQueueDownAndUpAgain) {
    s32 bInit = 0;
    ASSERT_EQ(0, MAIN_Media_Frame_Init(&bInit));
    for (u32 i = 0; i < 3; i++)
        ASSERT_EQ(0, MEDIA_LIST_Add(Test_PcmNode()));
    ASSERT_EQ(0, MAIN_Media_Frame_DeInit(&bInit));
    EXPECT_EQ(0, bInit);
    u32 u32Audio = 99;
    EXPECT_EQ(0u, MEDIA_LIST_GetCurFramCnt(&u32Audio));
    EXPECT_EQ(0u, u32Audio);
    MediaFrameNode_S *pstNode = Test_PcmNode();
    EXPECT_EQ(-1, MEDIA_LIST_Add(pstNode));
    EXPECT_EQ(0, MAIN_Media_Frame_DeInit(&bInit));   // down already: nothing to do
    EXPECT_EQ(0, bInit);

    ASSERT_EQ(0, MAIN_Media_Frame_Init(&bInit));
    EXPECT_EQ(1, bInit);
    EXPECT_EQ(0u, MEDIA_LIST_GetCurFramCnt(&u32Audio));
    ASSERT_EQ(0, MEDIA_LIST_Add(pstNode));
    EXPECT_EQ(pstNode, MEDIA_LIST_GetOneFram(0));
    EXPECT_EQ(0, MEDIA_LIST_DelOneFram(pstNode));
}

// A picture that cannot be written whole leaves the old one and no
// temporary file behind.
TEST_F(MainMediaTest, FailedSnapshotKeepsTheOldPicture) {
    TestJpeg_S stOld({"old picture"}, 0);
    ASSERT_EQ(0, HI_Media_Save_SnapShot(&stOld.stStream));
    std::string strBig(64 * 1024, 'b');
    TestJpeg_S stBig({strBig}, 0);
    int s32Status = -1;
    Child_Run(
        [&stBig] {
            signal(SIGXFSZ, SIG_IGN);
            struct rlimit stLimit = {4096, 4096};
            setrlimit(RLIMIT_FSIZE, &stLimit);
            _exit(HI_Media_Save_SnapShot(&stBig.stStream) == -1 ? 0 : 1);
        },
        &s32Status);
    EXPECT_EQ(0, s32Status);
    EXPECT_EQ("old picture", File_Read(MAIN_SNAP_FILE));
    EXPECT_NE(0, access(MAIN_SNAP_TMP_FILE, F_OK));
}

// A picture of several packs is written as their concatenation from each
// pack's offset, readable by all, and marked as there; a reader never sees
// a part of a picture: the file is replaced in one step.
TEST_F(MainMediaTest, SnapshotIsThePacksReplacedAtomically) {
    std::string strA = "\xFF\xD8" + std::string(100000, 'a'), strB = std::string(30000, 'b');
    TestJpeg_S stA({strA.substr(0, 50000), strA.substr(50000)}, 3), stB({strB}, 0);
    ASSERT_EQ(0, MAIN_Media_Venc_GetVENCStreamProc(MEDIA_JPEG_VENC_CHN, &stA.stStream));
    EXPECT_EQ(strA, File_Read(MAIN_SNAP_FILE));
    EXPECT_EQ(1, g_snap_file.load());
    std::atomic<bool> bRun{true};
    std::atomic<u32> u32Bad{0}, u32Reads{0};
    std::thread reader([&] {
        while (bRun) {
            std::string str = File_Read(MAIN_SNAP_FILE);
            u32Reads++;
            if (str != strA && str != strB)
                u32Bad++;
        }
    });
    // Under load the reader may start late: keep replacing until it has read.
    s32 s32Ret = 0;
    for (u32 i = 0; s32Ret == 0 && i < 1000000 && (i < 200 || u32Reads < 20); i++)
        s32Ret = HI_Media_Save_SnapShot(i % 2 ? &stA.stStream : &stB.stStream);
    bRun = false;
    reader.join();
    EXPECT_EQ(0, s32Ret);
    EXPECT_GE(u32Reads.load(), 20u);
    EXPECT_EQ(0u, u32Bad.load());
    struct stat st;
    ASSERT_EQ(0, stat(MAIN_SNAP_FILE, &st));
    EXPECT_EQ(0777u, st.st_mode & 0777);
    EXPECT_NE(0, access(MAIN_SNAP_TMP_FILE, F_OK));
}

// The JPEG channel's first picture becomes the snapshot; the glue's stop
// (whose teardown the signal-change tests check) finds nothing the second
// time; the input format code follows the captured timing.
TEST_F(MainMediaTest, SnapshotStopAndFormatCode) {
    TestMedia_Config(true);
    ASSERT_EQ(0, MAIN_Media_Start(&g_stMainServerAttr.stMainMediaAttr));
    TestMedia_BuildVideo();
    ASSERT_TRUE(Test_WaitFor([] { return g_snap_file == 1; }, 30000));
    EXPECT_EQ("\xFF\xD8", File_Read(MAIN_SNAP_FILE).substr(0, 2));
    TestMedia_StopVideo();
    EXPECT_EQ(-1, MAIN_Media_Stop(&g_stMainServerAttr.stMainMediaAttr));

    MainMediaAttr_S &stAttr = g_stMainServerAttr.stMainMediaAttr;
    stAttr.stViAttr = {MEDIA_VI_MIPI, 1280, 720, MEDIA_SCAN_PROGRESSIVE, 0, 60, 60};
    ASSERT_EQ(0, MAIN_Media_Vi_Statr(&stAttr, 0));
    EXPECT_EQ(8u, stAttr.u32TimingCode);
    EXPECT_EQ(0, MAIN_Media_Vi_Stop(&stAttr, 1));
}
