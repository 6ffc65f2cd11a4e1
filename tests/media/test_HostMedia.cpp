#include <gtest/gtest.h>

#include <functional>
#include <poll.h>
#include <thread>

#include "platform/MiSnr.h"
#include "platform/MiVif.h"
#include "platform/MiVpe.h"
#include "platform/host/HostMedia.h"
#include "platform/host/HostSim.h"
#include "tests/media/MediaTest.h"
#include "tests/media/MediaTestStreams.h"

using std::chrono::milliseconds;

static s32 Err(u32 enModId, u32 u32Code)
{
    return MI_ERR(enModId, u32Code);
}

static MiVencChnAttr_S SmallH264(void)
{
    MiVencChnAttr_S st = MiVencChnAttr_S();
    st.stVeAttr = {MI_VENC_TYPE_H264, 1920, 1200, 0, 0, 1, 64, 64, 0, 0};
    st.stRcAttr.enRcMode = MI_VENC_RC_H264_CBR;
    st.stRcAttr.stCbr = {10, 1, 60, 1, 200000, 1};
    return st;
}

static bool Readable(s32 s32Fd)
{
    struct pollfd stPoll = {s32Fd, POLLIN, 0};
    return poll(&stPoll, 1, 0) == 1;
}

// Video input 0 on a MIPI pad, scaler 0 with one 64 x 64 port, encoder
// channel 3 (no thread takes its pictures) bound to it.
struct HostMediaTest : public testing::Test {
    void SetUp() override { MI_SYS_Init(); }
    void TearDown() override { HostMedia_Reset(); }

    static void Pad(const char *pszWords) { ASSERT_EQ("ok\n", HostSim_Exec(pszWords)); }

    static void VideoInput(u16 u16Width, u16 u16Height)
    {
        ASSERT_EQ(MI_SUCCESS, MI_SNR_Enable(0));
        MiVifDevAttr_S stDev = {MI_VIF_MODE_MIPI, 3, 0, 2, 0, {0}};
        ASSERT_EQ(MI_SUCCESS, MI_VIF_SetDevAttr(0, &stDev));
        ASSERT_EQ(MI_SUCCESS, MI_VIF_EnableDev(0));
        MiVifChnPortAttr_S stPort = MiVifChnPortAttr_S();
        stPort.u16CapWidth = stPort.u16DestWidth = u16Width;
        stPort.u16CapHeight = stPort.u16DestHeight = u16Height;
        stPort.enPixFormat = MI_PIXFMT_UYVY;
        ASSERT_EQ(MI_SUCCESS, MI_VIF_SetChnPortAttr(0, 0, &stPort));
        ASSERT_EQ(MI_SUCCESS, MI_VIF_EnableChnPort(0, 0));
    }

    static void Scaler(void)
    {
        MiVpeChannelAttr_S stAttr = {64, 64, MI_PIXFMT_NV12, MI_VPE_RUN_REALTIME, {0}};
        ASSERT_EQ(MI_SUCCESS, MI_VPE_CreateChannel(0, &stAttr));
        ASSERT_EQ(MI_SUCCESS, MI_VPE_StartChannel(0));
        MiVpePortMode_S stMode = {64, 64, MI_PIXFMT_NV12, 0};
        ASSERT_EQ(MI_SUCCESS, MI_VPE_SetPortMode(0, 0, &stMode));
        ASSERT_EQ(MI_SUCCESS, MI_VPE_EnablePort(0, 0));
    }

    static void Encoder(void)
    {
        MiVencChnAttr_S stAttr = SmallH264();
        ASSERT_EQ(MI_SUCCESS, MI_VENC_CreateChn(3, &stAttr));
        ASSERT_EQ(MI_SUCCESS, MI_VENC_SetMaxStreamCnt(3, 4));
        ASSERT_EQ(MI_SUCCESS, MI_SYS_BindChnPort2(&s_stVif, &s_stVpeIn, 60, 60, MI_SYS_BIND_REALTIME, 0));
        ASSERT_EQ(MI_SUCCESS, MI_SYS_BindChnPort2(&s_stVpeOut, &s_stVenc, 60, 60, MI_SYS_BIND_FRAME, 0));
    }

    // Waits until channel 3 has its GOP and u32Queued pictures queued.
    static bool WaitQueued(u32 u32Queued)
    {
        return Test_WaitFor([u32Queued] { return Engine().astVenc[3].u32Queued >= u32Queued; }, 30000);
    }

    static constexpr MiSysChnPort_S s_stVif = {MI_MODULE_VIF, 0, 0, 0};
    static constexpr MiSysChnPort_S s_stVpeIn = {MI_MODULE_VPE, 0, 0, 0};
    static constexpr MiSysChnPort_S s_stVpeOut = {MI_MODULE_VPE, 0, 0, 0};
    static constexpr MiSysChnPort_S s_stVenc = {MI_MODULE_VENC, MI_VENC_DEV_H264, 3, 0};
};

// Pictures flow only while the pad is locked, its output runs, the port is
// enabled and its window fits the timing.
TEST_F(HostMediaTest, VideoInputDeliversOnlyWhenAllConditionsHold)
{
    Pad("pad 1280x720p60");
    VideoInput(1280, 720);
    EXPECT_TRUE(Engine().bViDelivering);
    std::this_thread::sleep_for(milliseconds(100));
    EXPECT_GT(Engine().u64ViFrames, 2u);

    auto stalls = [](const std::function<void()> &change) {
        change();
        u64 u64Before = Engine().u64ViFrames;
        std::this_thread::sleep_for(milliseconds(100));
        return !Engine().bViDelivering && Engine().u64ViFrames == u64Before;
    };
    EXPECT_TRUE(stalls([] { Pad("pad output off"); }));
    EXPECT_TRUE(stalls([] { Pad("pad output on"); Pad("pad 1024x768p60"); }));   // window larger than the input
    EXPECT_TRUE(stalls([] { Pad("pad 1920x1080p60"); ASSERT_EQ(MI_SUCCESS, MI_VIF_DisableChnPort(0, 0)); }));
    EXPECT_TRUE(stalls([] { ASSERT_EQ(MI_SUCCESS, MI_VIF_EnableChnPort(0, 0)); Pad("pad off"); }));
    EXPECT_EQ(Err(MI_MODULE_VIF, MI_ERR_NOT_PERM), MI_VIF_DisableDev(0));   // its port is still enabled
}

// Nobody takes the pictures: the queue fills to its bound, then drops and
// counts; the descriptor is readable exactly while a picture is queued; a
// caller without room for a picture's packs gets nothing; pictures taken
// around the drops still decode.
TEST_F(HostMediaTest, BoundedQueueDropsAndCounts)
{
    Pad("pad 640x480p60");
    VideoInput(640, 480);
    Scaler();
    Encoder();
    s32 s32Fd = MI_VENC_GetFd(3);
    ASSERT_GE(s32Fd, 0);
    EXPECT_FALSE(Readable(s32Fd));
    ASSERT_EQ(MI_SUCCESS, MI_VENC_StartRecvPic(3));
    ASSERT_TRUE(WaitQueued(4));
    std::this_thread::sleep_for(milliseconds(100));
    HostMedia_S st = Engine();
    EXPECT_EQ(4u, st.astVenc[3].u32Queued);
    EXPECT_GE(st.astVenc[3].u32Dropped, 3u);
    EXPECT_TRUE(Readable(s32Fd));

    for (u32 u32Round = 0; u32Round < 4; u32Round++) {
        for (;;) {
            MiVencChnStat_S stStat;
            ASSERT_EQ(MI_SUCCESS, MI_VENC_Query(3, &stStat));
            if (stStat.u32LeftStreamFrames == 0)
                break;
            MiVencPack_S astPacks[2];
            MiVencStream_S stStream = {astPacks, stStat.u32CurPacks - 1, 0};
            EXPECT_EQ(Err(MI_MODULE_VENC, MI_ERR_ILLEGAL_PARAM), MI_VENC_GetStream(3, &stStream, 0));
            stStream.u32PackCount = stStat.u32CurPacks;
            ASSERT_EQ(MI_SUCCESS, MI_VENC_GetStream(3, &stStream, 0));
            ASSERT_EQ(MI_SUCCESS, TestStreams_Collect(0, &stStream));
            ASSERT_EQ(MI_SUCCESS, MI_VENC_ReleaseStream(3, &stStream));
            EXPECT_EQ(Err(MI_MODULE_VENC, MI_ERR_ILLEGAL_PARAM), MI_VENC_ReleaseStream(3, &stStream));
        }
        EXPECT_FALSE(Readable(s32Fd));
        std::this_thread::sleep_for(milliseconds(150));
    }
    std::vector<TestPicture_S> pictures = TestStreams_Get(0);
    TestStreams_Clear();
    ASSERT_GE(pictures.size(), 12u);
    for (size_t i = 1; i < pictures.size(); i++)
        EXPECT_EQ(pictures[i - 1].u32Seq + 1, pictures[i].u32Seq);
    TestDecode_S stDec = TestStreams_Decode(MI_VENC_TYPE_H264, pictures);
    EXPECT_EQ(0u, stDec.u32Errors);
    EXPECT_EQ(64u, stDec.u32Width);
    ASSERT_GE(stDec.numbers.size(), 10u);
    for (size_t i = 1; i < stDec.numbers.size(); i++)
        EXPECT_EQ((stDec.numbers[i - 1] + 1) % 10, stDec.numbers[i]) << "picture " << i;
    EXPECT_EQ(Err(MI_MODULE_VENC, MI_ERR_NOT_PERM), MI_VENC_DestroyChn(3));   // still receiving
    EXPECT_EQ(MI_SUCCESS, MI_VENC_CloseFd(3));
    EXPECT_EQ(-1, MI_VENC_CloseFd(3));
}

// What the hardware refuses: calls before the system is up, a timing the
// capture cannot take, an EDID record past its buffer, a width that is not
// a multiple of 8, a rate control of another codec, a second source for a
// destination, a wrong bind type. Destroying a channel drops its binds.
TEST_F(HostMediaTest, WhatTheHardwareRefuses)
{
    MI_SYS_Exit();
    MiVencChnAttr_S stAttr = SmallH264();
    EXPECT_EQ(Err(MI_MODULE_VENC, MI_ERR_SYS_NOTREADY), MI_VENC_CreateChn(3, &stAttr));
    ASSERT_EQ(MI_SUCCESS, MI_SYS_Init());
    Pad("pad 1920x1080i60");
    EXPECT_EQ(540u, Engine().u32PadHeight);   // fields
    u8 au8Big[MI_SNR_VIDEO_INFO_LEN] = {0, 0, 0, 0, 1, 0, 0x00, 0x0f, 0x70, 0x08, 30};
    EXPECT_EQ(Err(MI_MODULE_SNR, MI_ERR_ILLEGAL_PARAM),
              MI_SNR_CustFunction(0, MI_SNR_CMD_SET_VIDEO_INFO, sizeof(au8Big), au8Big, 1));
    EXPECT_EQ(1920u, Engine().u32PadWidth);
    u8 au8Rec[MI_SNR_EDID_RECORD_LEN] = {1, 0, 0, 0, 1, 2, 0, 0};   // 513 bytes
    EXPECT_NE(MI_SUCCESS, MI_SNR_CustFunction(0, MI_SNR_CMD_SET_EDID, sizeof(au8Rec), au8Rec, 0));
    MiVencChnAttr_S stBad = stAttr;
    stBad.stVeAttr.u32PicWidth = 1364;
    EXPECT_EQ(Err(MI_MODULE_VENC, MI_ERR_ILLEGAL_PARAM), MI_VENC_CreateChn(3, &stBad));
    stBad = stAttr;
    stBad.stRcAttr.enRcMode = MI_VENC_RC_H265_VBR;
    EXPECT_EQ(Err(MI_MODULE_VENC, MI_ERR_ILLEGAL_PARAM), MI_VENC_CreateChn(3, &stBad));

    Scaler();
    ASSERT_EQ(MI_SUCCESS, MI_VENC_CreateChn(3, &stAttr));
    ASSERT_EQ(MI_SUCCESS, MI_SYS_BindChnPort2(&s_stVif, &s_stVpeIn, 60, 60, MI_SYS_BIND_REALTIME, 0));
    MiSysChnPort_S stOther = {MI_MODULE_VIF, 1, 4, 0};
    EXPECT_EQ(Err(MI_MODULE_SYS, MI_ERR_EXIST), MI_SYS_BindChnPort2(&stOther, &s_stVpeIn, 60, 60, 4, 0));
    EXPECT_EQ(Err(MI_MODULE_SYS, MI_ERR_ILLEGAL_PARAM), MI_SYS_BindChnPort2(&s_stVpeOut, &s_stVenc, 60, 60, 4, 0));
    EXPECT_EQ(Err(MI_MODULE_SYS, MI_ERR_NOT_SUPPORT), MI_SYS_BindChnPort2(&s_stVif, &s_stVenc, 60, 60, 1, 0));
    ASSERT_EQ(MI_SUCCESS, MI_SYS_BindChnPort2(&s_stVpeOut, &s_stVenc, 60, 60, MI_SYS_BIND_FRAME, 0));
    ASSERT_EQ(MI_SUCCESS, MI_VENC_DestroyChn(3));
    EXPECT_EQ(1u, Engine().u32Binds);
}
