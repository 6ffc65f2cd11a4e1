#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "media/MediaSnr.h"
#include "media/MediaVideo.h"
#include "platform/host/HostMedia.h"
#include "platform/host/HostSim.h"
#include "tests/media/MediaTest.h"
#include "tests/media/MediaTestStreams.h"

using std::chrono::milliseconds;

static const u32 BUILD_TIMEOUT_MS = 60000;   // a first GOP of a new size is encoded on a slow machine

struct TestPipeline_S {
    const char *pszPad;                  // sim words for the input
    MediaViAttr_S stVi;
    u32 au32Sizes[7];                    // scaler ports: widths, heights, pixel format
    MediaVencAttr_S astVenc[3];          // main, sub, JPEG
};

// Main at the capture size (the encoder pads it to 8), sub 640 x 360, JPEG.
static TestPipeline_S Pipeline(const char *pszPad, u32 u32W, u32 u32H, u32 u32Fps, u32 enType)
{
    return {pszPad,
            {MEDIA_VI_MIPI, u32W, u32H, MEDIA_SCAN_PROGRESSIVE, 0, u32Fps, u32Fps},
            {u32W, 640, 240, u32H, 360, 240, 0},
            {{enType, MEDIA_RC_VBR, 1920, 1200, u32W, u32H, 60, 60, 60, 4000},
             {enType, MEDIA_RC_CBR, 1920, 1200, 640, 360, 60, 60, 60, 1000},
             {MEDIA_VENC_JPEG, MEDIA_RC_CBR, 1920, 1200, u32W, u32H, 60, 60, 60, 4000}}};
}

static const TestPipeline_S s_st1080p60 = Pipeline("pad 1920x1080p60", 1920, 1080, 60, MEDIA_VENC_H265);

static u32 TestVencType(const MediaVencAttr_S &stAttr)
{
    return stAttr.enVencType == MEDIA_VENC_H264 ? MI_VENC_TYPE_H264
         : stAttr.enVencType == MEDIA_VENC_H265 ? MI_VENC_TYPE_H265 : MI_VENC_TYPE_JPEG;
}

// Every entry starts with a start code and has a type the streaming layer
// accepts; every IDR follows its parameter sets within the same picture.
static void TestCheckNals(u32 enType, const std::vector<TestPicture_S> &pictures)
{
    bool bH265 = enType == MI_VENC_TYPE_H265;
    const std::vector<u32> allowed = bH265 ? std::vector<u32>{1, 19, 32, 33, 34, 39} : std::vector<u32>{1, 5, 6, 7, 8};
    const std::vector<u32> headers = bH265 ? std::vector<u32>{32, 33, 34} : std::vector<u32>{7, 8};
    u32 u32Idrs = 0;
    for (const TestPicture_S &stPic : pictures) {
        std::vector<u32> seen;
        for (const TestNal_S &stNal : stPic.nals) {
            ASSERT_GE(stNal.bytes.size(), 5u);
            EXPECT_EQ(0, memcmp(stNal.bytes.data(), "\0\0\0\1", 4)) << "seq " << stPic.u32Seq;
            EXPECT_NE(allowed.end(), std::find(allowed.begin(), allowed.end(), stNal.u32Type)) << stNal.u32Type;
            EXPECT_EQ(stNal.u32Type, bH265 ? (stNal.bytes[4] >> 1) & 0x3fu : stNal.bytes[4] & 0x1fu);
            if (stNal.u32Type == (bH265 ? 19u : 5u)) {
                u32Idrs++;
                for (u32 u32Header : headers)
                    EXPECT_NE(seen.end(), std::find(seen.begin(), seen.end(), u32Header)) << "seq " << stPic.u32Seq;
            }
            seen.push_back(stNal.u32Type);
        }
    }
    EXPECT_GE(u32Idrs, 1u);
}

struct VideoPipelineTest : public testing::Test {
    // The pipeline as the signal-change handling builds it on a lock; waits
    // for the first pictures of main and sub.
    void Start(const TestPipeline_S &stPipe)
    {
        HI_Media_Init(nullptr);
        ASSERT_EQ("ok\n", HostSim_Exec(stPipe.pszPad));
        ASSERT_EQ(0, HI_Media_Vi_Start(0, 0, 0, &stPipe.stVi));
        ASSERT_EQ(0, HI_Media_Vpss_Start(0, 3, stPipe.au32Sizes));
        HI_MEDIA_Venc_RegisterNotify(TestStreams_Collect);
        for (s32 s32Chn = 0; s32Chn < 3; s32Chn++) {
            ASSERT_EQ(0, HI_Media_Venc_CreateChn(s32Chn, &stPipe.astVenc[s32Chn]));
            ASSERT_EQ(0, HI_Media_Venc_Start(s32Chn));
        }
        ASSERT_EQ(0, HI_Media_VI_BindVpss(0, 0, 0, 0));
        for (s32 s32Chn = 0; s32Chn < 3; s32Chn++)
            ASSERT_EQ(0, HI_Media_Venc_BindVpss(s32Chn, 0, s32Chn));
        ASSERT_TRUE(TestStreams_Wait(0, 1, BUILD_TIMEOUT_MS));
        ASSERT_TRUE(TestStreams_Wait(1, 1, BUILD_TIMEOUT_MS));
    }

    // As the media glue takes it down on a loss.
    void TearDown() override
    {
        EXPECT_EQ(0, HI_Media_Venc_UnBindVpss(1, 0, 1));
        EXPECT_EQ(0, HI_Media_Venc_UnBindVpss(0, 0, 0));
        EXPECT_EQ(0, HI_Media_VI_UnBindVpss(0, 0, 0, 0));
        for (s32 s32Chn : {1, 0, 2}) {
            HI_Media_Venc_Stop(s32Chn);
            EXPECT_EQ(0, HI_Media_Venc_DestroyChn(s32Chn));
        }
        EXPECT_EQ(0, HI_Media_Vpss_Stop(0, 3));
        EXPECT_EQ(0, HI_Media_Vi_Stop(0, 0, 0));
        HostMedia_Reset();
        TestStreams_Clear();
    }

    // Keeps 5 s of pictures; checks their rate, content and decoding.
    void CheckStreams(const TestPipeline_S &stPipe, u32 u32Fps)
    {
        TestStreams_Clear();
        std::this_thread::sleep_for(milliseconds(5000));
        const std::vector<TestPicture_S> apictures[2] = {TestStreams_Get(0), TestStreams_Get(1)};
        for (s32 s32Chn = 0; s32Chn < 2; s32Chn++) {
            const std::vector<TestPicture_S> &pictures = apictures[s32Chn];
            const MediaVencAttr_S &stAttr = stPipe.astVenc[s32Chn];
            u32 enType = TestVencType(stAttr);
            SCOPED_TRACE("channel " + std::to_string(s32Chn));
            EXPECT_NEAR(5.0 * u32Fps, (double)pictures.size(), 0.05 * 5 * u32Fps);
            ASSERT_GE(pictures.size(), 2u);
            double dPtsUs = (double)(pictures.back().u64PtsUs - pictures.front().u64PtsUs) / (pictures.size() - 1);
            EXPECT_NEAR(1e6 / u32Fps, dPtsUs, 0.01 * 1e6 / u32Fps);
            for (size_t i = 1; i < pictures.size(); i++)
                EXPECT_EQ(pictures[i - 1].u32Seq + 1, pictures[i].u32Seq);
            TestCheckNals(enType, pictures);
            TestDecode_S stDec = TestStreams_Decode(enType, pictures);
            EXPECT_EQ(0u, stDec.u32Errors);
            EXPECT_GE(stDec.u32Frames + stAttr.u32Gop, pictures.size());
            EXPECT_EQ((stAttr.u32Width + 7) / 8 * 8, stDec.u32Width);   // the encoder pads to 8
            EXPECT_EQ(stAttr.u32Height, stDec.u32Height);
            for (size_t i = 1; i < stDec.numbers.size(); i++)
                ASSERT_EQ((stDec.numbers[i - 1] + 1) % stAttr.u32Gop, stDec.numbers[i]) << "picture " << i;
            if (enType == MI_VENC_TYPE_H265)
                EXPECT_EQ(FF_PROFILE_HEVC_MAIN, stDec.s32Profile);
            else
                EXPECT_EQ(FF_PROFILE_H264_BASELINE, stDec.s32Profile & 0xff);
        }
    }
};

// 1080p60: H.265 main and sub at 60 pictures a second that decode at their sizes.
TEST_F(VideoPipelineTest, Streams1080p60H265MainAndSub)
{
    Start(s_st1080p60);
    CheckStreams(s_st1080p60, 60);
}

// 1080i60 as the source layer hands it on (fields of 540 lines at the 60
// the receiver measures) and the signal change builds it (main scaled to
// 1080): 60 pictures a second, one per field, not 120.
TEST_F(VideoPipelineTest, Streams1080i60AtTheFieldRate)
{
    SnrVideoInfo_S stInfo = {};
    stInfo.bsupport = 1;
    stInfo.u16VideoWidth = 1920;
    stInfo.u16VideoHeight = 540;
    stInfo.u8VideoFps = 60;
    stInfo.u16Interlace = 1;
    ASSERT_EQ(0, Media_SNR_SendVideoInfo(&stInfo));
    TestPipeline_S st1080i60 = s_st1080p60;
    st1080i60.pszPad = "pad output on";
    st1080i60.stVi.u32Height = 540;
    st1080i60.stVi.enScanMode = MEDIA_SCAN_INTERLACED;
    Start(st1080i60);
    CheckStreams(st1080i60, 60);
}

// 1366 x 768 at 50: H.264 at the input's 50 pictures a second, though rate
// control is told 60; captured 1364 wide, the scaler's 1364 is padded to
// 1368 by the encoder instead of refused.
TEST_F(VideoPipelineTest, Streams768p50H264OddWidth)
{
    TestPipeline_S st768p50 = Pipeline("pad 1366x768p50", 1364, 768, 50, MEDIA_VENC_H264);
    Start(st768p50);
    CheckStreams(st768p50, 50);
}

// A key-frame request forces nothing: the next IDR after it is the GOP's
// own, so no request raises every viewer's bit rate.
TEST_F(VideoPipelineTest, RequestIdrForcesNoKeyFrame)
{
    Start(s_st1080p60);
    const u32 u32Gop = s_st1080p60.astVenc[0].u32Gop;
    std::vector<TestPicture_S> pictures;
    auto lastIdr = [&pictures] {
        for (size_t i = pictures.size(); i-- > 0;)
            if (TestStreams_IsIdr(MI_VENC_TYPE_H265, pictures[i]))
                return (s64)i;
        return (s64)-1;
    };
    for (s32 s32Try = 0; s32Try < 200; s32Try++) {
        pictures = TestStreams_Get(0);
        if (lastIdr() >= 0 && pictures.size() - lastIdr() >= 5)
            break;
        std::this_thread::sleep_for(milliseconds(20));
    }
    ASSERT_GE(lastIdr(), 0);
    u32 u32GopStart = pictures[(size_t)lastIdr()].u32Seq;
    ASSERT_EQ(0, HI_Media_Venc_RequestIDR(0));
    ASSERT_TRUE(TestStreams_Wait(0, (u32)lastIdr() + u32Gop + 2, 4000));
    pictures = TestStreams_Get(0);
    auto it = std::find_if(pictures.begin(), pictures.end(), [u32GopStart](const TestPicture_S &p) {
        return p.u32Seq > u32GopStart && TestStreams_IsIdr(MI_VENC_TYPE_H265, p);
    });
    ASSERT_NE(pictures.end(), it);
    EXPECT_EQ(u32GopStart + u32Gop, it->u32Seq);
}

// New size, GOP and bit rate on the running main channel: the pictures
// after the change decode at the new size with a key frame every 30.
TEST_F(VideoPipelineTest, SetAttrTakesEffectOnRunningChannel)
{
    Start(s_st1080p60);
    MediaVencAttr_S stNew = s_st1080p60.astVenc[0];
    stNew.u32Width = 1280;
    stNew.u32Height = 720;
    stNew.u32Gop = 30;
    stNew.u32BitRate = 2000;
    ASSERT_EQ(0, HI_Media_Venc_SetAttr(0, &stNew));
    u32 u32First = Engine().astVenc[0].u32Seq;
    MiVencChnAttr_S stAttr;
    ASSERT_EQ(MI_SUCCESS, MI_VENC_GetChnAttr(0, &stAttr));
    EXPECT_EQ(2000000u, stAttr.stRcAttr.stVbr.u32MaxBitRate);
    EXPECT_EQ(16u, stAttr.stRcAttr.stVbr.u32MaxQp);   // kept as read back

    TestStreams_Clear();
    ASSERT_TRUE(TestStreams_Wait(0, 75, BUILD_TIMEOUT_MS));
    std::vector<TestPicture_S> pictures;
    for (const TestPicture_S &stPic : TestStreams_Get(0))
        if (stPic.u32Seq >= u32First)
            pictures.push_back(stPic);
    ASSERT_GE(pictures.size(), 61u);
    for (const TestPicture_S &stPic : pictures)
        EXPECT_EQ((stPic.u32Seq - u32First) % 30 == 0, TestStreams_IsIdr(MI_VENC_TYPE_H265, stPic)) << stPic.u32Seq;
    TestDecode_S stDec = TestStreams_Decode(MI_VENC_TYPE_H265, pictures);
    EXPECT_EQ(0u, stDec.u32Errors);
    EXPECT_EQ(pictures.size(), stDec.u32Frames);
    EXPECT_EQ(1280u, stDec.u32Width);
    EXPECT_EQ(720u, stDec.u32Height);
}

// The JPEG channel stops after its first picture; each snapshot request
// then gives exactly one 240 x 240 JPEG.
TEST_F(VideoPipelineTest, SnapshotGivesOnePicturePerRequest)
{
    Start(s_st1080p60);
    ASSERT_TRUE(TestStreams_Wait(2, 1, BUILD_TIMEOUT_MS));
    for (s32 s32Shot = 0; s32Shot < 2; s32Shot++) {
        TestStreams_Clear();
        std::this_thread::sleep_for(milliseconds(200));
        EXPECT_EQ(0u, TestStreams_Get(2).size());
        ASSERT_EQ(0, HI_Media_Start_SnapShot());
        ASSERT_TRUE(TestStreams_Wait(2, 1, 1000));
        std::this_thread::sleep_for(milliseconds(200));
        std::vector<TestPicture_S> pictures = TestStreams_Get(2);
        ASSERT_EQ(1u, pictures.size());
        TestDecode_S stDec = TestStreams_Decode(MI_VENC_TYPE_JPEG, pictures);
        EXPECT_EQ(0u, stDec.u32Errors);
        EXPECT_EQ(1u, stDec.u32Frames);
        EXPECT_EQ((u32)MEDIA_JPEG_SIZE, stDec.u32Width);
        EXPECT_EQ((u32)MEDIA_JPEG_SIZE, stDec.u32Height);
    }
}

struct MediaVencTest : public testing::Test {
    void SetUp() override { HI_Media_Init(nullptr); }
    void TearDown() override
    {
        for (s32 s32Chn = 0; s32Chn < 3; s32Chn++)
            HI_Media_Venc_Stop(s32Chn);
        HostMedia_Reset();
    }

    static MiVencChnAttr_S Attr(s32 s32Chn)
    {
        MiVencChnAttr_S stAttr = MiVencChnAttr_S();
        EXPECT_EQ(MI_SUCCESS, MI_VENC_GetChnAttr((u32)s32Chn, &stAttr));
        return stAttr;
    }
};

// Sizes are rounded up at creation; a later change rounds an H.264 channel
// down and an H.265 channel up.
TEST_F(MediaVencTest, ChannelSizes)
{
    MediaVencAttr_S stAttr = {MEDIA_VENC_H264, MEDIA_RC_VBR, 1918, 1199, 1366, 767, 60, 60, 60, 4000};
    ASSERT_EQ(0, HI_Media_Venc_CreateChn(0, &stAttr));
    MiVencChnAttr_S st = Attr(0);
    EXPECT_EQ(1920u, st.stVeAttr.u32MaxPicWidth);
    EXPECT_EQ(1200u, st.stVeAttr.u32MaxPicHeight);
    EXPECT_EQ(1368u, st.stVeAttr.u32PicWidth);
    EXPECT_EQ(768u, st.stVeAttr.u32PicHeight);
    ASSERT_EQ(0, HI_Media_Venc_SetAttr(0, &stAttr));
    EXPECT_EQ(1360u, Attr(0).stVeAttr.u32PicWidth);
    EXPECT_EQ(766u, Attr(0).stVeAttr.u32PicHeight);
    stAttr.enVencType = MEDIA_VENC_H265;
    ASSERT_EQ(0, HI_Media_Venc_CreateChn(1, &stAttr));
    ASSERT_EQ(0, HI_Media_Venc_SetAttr(1, &stAttr));
    EXPECT_EQ(1368u, Attr(1).stVeAttr.u32PicWidth);
}

// Each mode of each codec gets its engine code and the bit rate in bit/s;
// channel 0 has a tighter VBR QP range. A change to a mode above 2 gives
// AVBR, one to CBR the new bit rate.
TEST_F(MediaVencTest, RateControlModes)
{
    const u32 aau32Codes[2][4] = {
        {MI_VENC_RC_H264_CBR, MI_VENC_RC_H264_VBR, MI_VENC_RC_H264_FIXQP, MI_VENC_RC_H264_AVBR},
        {MI_VENC_RC_H265_CBR, MI_VENC_RC_H265_VBR, MI_VENC_RC_H265_FIXQP, MI_VENC_RC_H265_AVBR}};
    for (u32 enType : {MEDIA_VENC_H264, MEDIA_VENC_H265}) {
        for (u32 enMode = MEDIA_RC_CBR; enMode <= MEDIA_RC_AVBR; enMode++) {
            MediaVencAttr_S stAttr = {enType, enMode, 1920, 1200, 640, 360, 50, 30, 25, 3000};
            ASSERT_EQ(0, HI_Media_Venc_CreateChn(1, &stAttr));
            const MiVencRcAttr_S st = Attr(1).stRcAttr;
            EXPECT_EQ(aau32Codes[enType][enMode], st.enRcMode) << enType << " mode " << enMode;
            EXPECT_EQ(enMode == MEDIA_RC_FIXQP ? 30u : 3000000u,
                      enMode == MEDIA_RC_FIXQP ? st.stFixQp.u32SrcFrmRateNum : st.stVbr.u32MaxBitRate);
            ASSERT_EQ(0, HI_Media_Venc_DestroyChn(1));
        }
    }
    MediaVencAttr_S stAttr = {MEDIA_VENC_H265, MEDIA_RC_VBR, 1920, 1200, 1920, 1080, 60, 60, 60, 4000};
    ASSERT_EQ(0, HI_Media_Venc_CreateChn(0, &stAttr));
    EXPECT_EQ(16u, Attr(0).stRcAttr.stVbr.u32MaxQp);
    stAttr.enRcMode = 7;
    ASSERT_EQ(0, HI_Media_Venc_SetAttr(0, &stAttr));
    EXPECT_EQ((u32)MI_VENC_RC_H265_AVBR, Attr(0).stRcAttr.enRcMode);
    stAttr.enRcMode = MEDIA_RC_CBR;
    stAttr.u32BitRate = 1500;
    ASSERT_EQ(0, HI_Media_Venc_SetAttr(0, &stAttr));
    EXPECT_EQ((u32)MI_VENC_RC_H265_CBR, Attr(0).stRcAttr.enRcMode);
    EXPECT_EQ(1500000u, Attr(0).stRcAttr.stCbr.u32BitRate);
}

// Refusals: an unknown type or rate-control mode, and a channel that
// exists already, which fails in the engine.
TEST_F(MediaVencTest, CreateRefusals)
{
    MediaVencAttr_S stAttr = {3, MEDIA_RC_VBR, 1920, 1200, 640, 360, 60, 60, 60, 1000};
    EXPECT_EQ(-1, HI_Media_Venc_CreateChn(0, &stAttr));
    stAttr.enVencType = MEDIA_VENC_H264;
    stAttr.enRcMode = 4;
    EXPECT_EQ(-1, HI_Media_Venc_CreateChn(0, &stAttr));
    stAttr.enRcMode = MEDIA_RC_VBR;
    ASSERT_EQ(0, HI_Media_Venc_CreateChn(0, &stAttr));
    EXPECT_EQ(MI_ERR(MI_MODULE_VENC, MI_ERR_EXIST), HI_Media_Venc_CreateChn(0, &stAttr));
}

static u32 ThreadsNamed(const char *pszName)
{
    u32 u32Count = 0;
    DIR *pDir = opendir("/proc/self/task");
    for (struct dirent *pEnt; pDir != nullptr && (pEnt = readdir(pDir)) != nullptr;) {
        std::ifstream in(std::string("/proc/self/task/") + pEnt->d_name + "/comm");
        std::string name;
        u32Count += std::getline(in, name) && name == pszName;
    }
    if (pDir != nullptr)
        closedir(pDir);
    return u32Count;
}

// Starting a started channel makes no second thread; stopping joins it.
TEST_F(MediaVencTest, StartTwiceOneThread)
{
    MediaVencAttr_S stAttr = {MEDIA_VENC_H264, MEDIA_RC_VBR, 1920, 1200, 640, 360, 60, 60, 60, 1000};
    ASSERT_EQ(0, HI_Media_Venc_CreateChn(1, &stAttr));
    ASSERT_EQ(0, HI_Media_Venc_Start(1));
    for (u32 u32Ms = 0; u32Ms < 2000 && ThreadsNamed("VStream1") == 0; u32Ms += 10)
        std::this_thread::sleep_for(milliseconds(10));
    ASSERT_EQ(0, HI_Media_Venc_Start(1));
    std::this_thread::sleep_for(milliseconds(50));
    EXPECT_EQ(1u, ThreadsNamed("VStream1"));
    HI_Media_Venc_Stop(1);
    EXPECT_EQ(0u, ThreadsNamed("VStream1"));
    EXPECT_EQ(-1, HI_Media_Venc_Start(MEDIA_VENC_MAX_CHN));
}

// The scaler takes at most three ports and gives the sub port 538 lines
// for 540; a second source for it is refused by the engine, and the bind
// says so.
TEST_F(MediaVencTest, ScalerPortsAndSecondSource)
{
    const u32 au32Sizes[7] = {1920, 640, 240, 1080, 360, 240, 0};
    EXPECT_EQ(-1, HI_Media_Vpss_Start(0, 4, au32Sizes));
    ASSERT_EQ(0, HI_Media_Vpss_Start(0, 3, au32Sizes));
    ASSERT_EQ(0, HI_Media_Vpss_SetChannelRes(0, 1, 960, 540));
    EXPECT_EQ(538u, Engine().astVpe[0].au32PortHeight[1]);
    ASSERT_EQ(0, HI_Media_VI_BindVpss(0, 0, 0, 0));
    EXPECT_EQ(0, HI_Media_VI_BindVpss(0, 0, 0, 0));
    EXPECT_EQ(-1, HI_Media_VI_BindVpss(1, 4, 0, 0));
    ASSERT_EQ(0, HI_Media_VI_UnBindVpss(0, 0, 0, 0));
    EXPECT_EQ(-1, HI_Media_VI_UnBindVpss(0, 0, 0, 0));
    EXPECT_EQ(0, HI_Media_Vpss_Stop(0, 3));
}
