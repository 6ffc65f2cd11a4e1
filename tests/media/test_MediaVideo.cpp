#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <thread>

extern "C" {
#include <libavcodec/avcodec.h>
}

#include "media/MediaVideo.h"
#include "platform/host/HostMedia.h"
#include "platform/host/HostSim.h"
#include "tests/media/MediaTestStreams.h"

std::atomic<s32> g_bRun{1};

using std::chrono::milliseconds;
using std::chrono::steady_clock;

static const u32 BUILD_TIMEOUT_MS = 60000;   // a first GOP of a new size is encoded on a slow machine

struct TestPipeline_S {
    const char *pszPad;                  // sim words for the input
    MediaViAttr_S stVi;
    u32 au32Sizes[7];                    // scaler ports: widths, heights, pixel format
    MediaVencAttr_S astVenc[3];          // main, sub, JPEG
};

static const TestPipeline_S s_st1080p60 = {
    "pad 1920x1080p60",
    {MEDIA_VI_MIPI, 1920, 1080, MEDIA_SCAN_PROGRESSIVE, 0, 60, 60},
    {1920, 640, 240, 1080, 360, 240, 0},
    {{MEDIA_VENC_H265, MEDIA_RC_VBR, 1920, 1200, 1920, 1080, 60, 60, 60, 4000},
     {MEDIA_VENC_H265, MEDIA_RC_VBR, 1920, 1200, 640, 360, 60, 60, 60, 1000},
     {MEDIA_VENC_JPEG, MEDIA_RC_CBR, 1920, 1200, 1920, 1080, 60, 60, 60, 4000}},
};

static const TestPipeline_S s_st720p50 = {
    "pad 1280x720p50",
    {MEDIA_VI_MIPI, 1280, 720, MEDIA_SCAN_PROGRESSIVE, 0, 50, 50},
    {1280, 640, 240, 720, 360, 240, 0},
    {{MEDIA_VENC_H264, MEDIA_RC_VBR, 1920, 1200, 1280, 720, 60, 60, 60, 4000},
     {MEDIA_VENC_H264, MEDIA_RC_CBR, 1920, 1200, 640, 360, 60, 60, 60, 1000},
     {MEDIA_VENC_JPEG, MEDIA_RC_CBR, 1920, 1200, 1280, 720, 60, 60, 60, 4000}},
};

static u32 TestVencType(const MediaVencAttr_S &stAttr)
{
    return stAttr.enVencType == MEDIA_VENC_H264 ? MI_VENC_TYPE_H264
         : stAttr.enVencType == MEDIA_VENC_H265 ? MI_VENC_TYPE_H265 : MI_VENC_TYPE_JPEG;
}

// The pipeline as the signal-change handling builds it on a lock.
static void TestPipeline_Build(const TestPipeline_S &stPipe)
{
    ASSERT_EQ(0, HI_Media_Init(nullptr));
    ASSERT_EQ("ok\n", HostSim_Exec(stPipe.pszPad));
    ASSERT_EQ(0, HI_Media_Vi_Start(0, 0, 0, &stPipe.stVi));
    ASSERT_EQ(0, HI_Media_Vpss_Start(0, 3, stPipe.au32Sizes));
    ASSERT_EQ(0, HI_MEDIA_Venc_RegisterNotify(TestStreams_Collect));
    for (s32 s32Chn = 0; s32Chn < 3; s32Chn++) {
        ASSERT_EQ(0, HI_Media_Venc_CreateChn(s32Chn, &stPipe.astVenc[s32Chn]));
        ASSERT_EQ(0, HI_Media_Venc_Start(s32Chn));
    }
    ASSERT_EQ(0, HI_Media_VI_BindVpss(0, 0, 0, 0));
    for (s32 s32Chn = 0; s32Chn < 3; s32Chn++)
        ASSERT_EQ(0, HI_Media_Venc_BindVpss(s32Chn, 0, s32Chn));
    EXPECT_EQ(0, HI_Media_Venc_RequestIDR(1));
    EXPECT_EQ(0, HI_Media_Venc_RequestIDR(0));
}

// The pipeline as the media glue takes it down on a loss.
static void TestPipeline_Stop(void)
{
    EXPECT_EQ(0, HI_Media_Venc_UnBindVpss(1, 0, 1));
    EXPECT_EQ(0, HI_Media_Venc_UnBindVpss(0, 0, 0));
    EXPECT_EQ(0, HI_Media_VI_UnBindVpss(0, 0, 0, 0));
    for (s32 s32Chn : {1, 0, 2}) {
        EXPECT_EQ(0, HI_Media_Venc_Stop(s32Chn));
        EXPECT_EQ(0, HI_Media_Venc_DestroyChn(s32Chn));
    }
    EXPECT_EQ(0, HI_Media_Vpss_Stop(0, 3));
    EXPECT_EQ(0, HI_Media_Vi_Stop(0, 0, 0));
}

static bool TestAllowedNal(u32 enType, u32 u32Nal)
{
    static const u32 s_au32H264[] = {1, 5, 6, 7, 8};
    static const u32 s_au32H265[] = {1, 19, 32, 33, 34, 39};
    const u32 *pu32 = enType == MI_VENC_TYPE_H264 ? s_au32H264 : s_au32H265;
    u32 u32Count = enType == MI_VENC_TYPE_H264 ? ARRAY_SIZE(s_au32H264) : ARRAY_SIZE(s_au32H265);
    return std::find(pu32, pu32 + u32Count, u32Nal) != pu32 + u32Count;
}

// Every entry starts with a start code and has an accepted type; every IDR
// follows its parameter sets within the same picture.
static void TestCheckNals(u32 enType, const std::vector<TestPicture_S> &pictures)
{
    bool bH265 = enType == MI_VENC_TYPE_H265;
    std::vector<u32> headers = bH265 ? std::vector<u32>{32, 33, 34} : std::vector<u32>{7, 8};
    u32 u32Idrs = 0;
    for (const TestPicture_S &stPic : pictures) {
        std::vector<u32> seen;
        for (const TestNal_S &stNal : stPic.nals) {
            ASSERT_GE(stNal.bytes.size(), 5u);
            EXPECT_EQ(0, memcmp(stNal.bytes.data(), "\0\0\0\1", 4)) << "seq " << stPic.u32Seq;
            EXPECT_TRUE(TestAllowedNal(enType, stNal.u32Type)) << "type " << stNal.u32Type;
            u32 u32Coded = bH265 ? (stNal.bytes[4] >> 1) & 0x3f : stNal.bytes[4] & 0x1f;
            EXPECT_EQ(stNal.u32Type, u32Coded);
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
    void TearDown() override
    {
        TestPipeline_Stop();
        HostMedia_Reset();
        TestStreams_Clear();
    }

    // Builds the pipeline and waits for the first pictures of main and sub.
    void Start(const TestPipeline_S &stPipe)
    {
        TestPipeline_Build(stPipe);
        ASSERT_TRUE(TestStreams_Wait(0, 1, BUILD_TIMEOUT_MS));
        ASSERT_TRUE(TestStreams_Wait(1, 1, BUILD_TIMEOUT_MS));
    }

    // Keeps 5 s of pictures; checks their rate, content and decoding.
    void CheckStreams(const TestPipeline_S &stPipe, u32 u32Fps)
    {
        TestStreams_Clear();
        std::this_thread::sleep_for(milliseconds(5000));
        std::vector<TestPicture_S> apictures[2] = {TestStreams_Get(0), TestStreams_Get(1)};
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
            EXPECT_EQ(stAttr.u32Width, stDec.u32Width);
            EXPECT_EQ(stAttr.u32Height, stDec.u32Height);
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

// 720p50: H.264 at the input's 50 pictures a second, though rate control is told 60.
TEST_F(VideoPipelineTest, Streams720p50H264)
{
    Start(s_st720p50);
    CheckStreams(s_st720p50, 50);
}
