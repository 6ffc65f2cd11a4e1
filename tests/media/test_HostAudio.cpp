#include <gtest/gtest.h>

#include <poll.h>

#include "platform/MiAi.h"
#include "tests/media/MediaTest.h"

static const MiAudioAttr_S s_stStereo = {48000, MI_AUDIO_BIT_WIDTH_16, MI_AUDIO_MODE_I2S_SLAVE,
                                         MI_AUDIO_SOUND_MODE_STEREO, 30, 1024, 1};
static const MiAudioAttr_S s_stMono = {48000, MI_AUDIO_BIT_WIDTH_16, MI_AUDIO_MODE_I2S_SLAVE,
                                       MI_AUDIO_SOUND_MODE_MONO, 30, 1024, 2};

static s32 AiErr(u32 u32Code)
{
    return MI_ERR(MI_MODULE_AI, u32Code);
}

// The audio input as the media layer sees it; what it delivers is checked
// through the media layer's capture.
struct HostAudioTest : public testing::Test {
    void SetUp() override { ASSERT_EQ(MI_SUCCESS, MI_SYS_Init()); }
    void TearDown() override { HostMedia_Reset(); }

    // Device 0 enabled with its channels, each port keeping u32Depth frames.
    static void StartAi(const MiAudioAttr_S &stAttr, u32 u32Depth)
    {
        ASSERT_EQ(MI_SUCCESS, MI_AI_SetPubAttr(0, &stAttr));
        ASSERT_EQ(MI_SUCCESS, MI_AI_Enable(0));
        for (u32 u32Chn = 0; u32Chn < stAttr.u32ChnCnt; u32Chn++) {
            ASSERT_EQ(MI_SUCCESS, MI_AI_EnableChn(0, u32Chn));
            MiSysChnPort_S stPort = {MI_MODULE_AI, 0, u32Chn, 0};
            ASSERT_EQ(MI_SUCCESS, MI_SYS_SetChnOutputPortDepth(&stPort, u32Depth, 6));
        }
    }
};

// A port of depth 0 keeps nothing for the caller; a full port drops its
// oldest frame; a short-fall setting cuts each frame; a frame is released
// once.
TEST_F(HostAudioTest, PortDepthBoundsWhatWaitsAndShortfallCutsFrames) {
    StartAi(s_stMono, 0);
    MiAudioFrame_S stFrame;
    ASSERT_TRUE(Test_WaitFor([] { return Engine().astAi[0].au32Dropped[0] > 2; }));
    EXPECT_EQ(AiErr(MI_ERR_BUF_EMPTY), MI_AI_GetFrame(0, 0, &stFrame, nullptr, 0));

    MiSysChnPort_S stPort = {MI_MODULE_AI, 0, 1, 0};
    HostAi_SetShortfall(0, 1, 6);
    u32 u32Before = Engine().astAi[0].au32Dropped[1];
    ASSERT_EQ(MI_SUCCESS, MI_SYS_SetChnOutputPortDepth(&stPort, 2, 6));
    ASSERT_TRUE(Test_WaitFor([u32Before] { return Engine().astAi[0].au32Dropped[1] > u32Before + 2; }));
    ASSERT_EQ(MI_SUCCESS, MI_AI_GetFrame(0, 1, &stFrame, nullptr, 0));
    EXPECT_EQ(2042u, stFrame.u32Len);
    EXPECT_EQ(1u, Engine().astAi[0].au32Held[1]);
    EXPECT_EQ(MI_SUCCESS, MI_AI_ReleaseFrame(0, 1, &stFrame, nullptr));
    EXPECT_EQ(AiErr(MI_ERR_ILLEGAL_PARAM), MI_AI_ReleaseFrame(0, 1, &stFrame, nullptr));
}

// Bad attributes are refused; they change only while the device is off,
// and a device goes off only when its channels are.
TEST_F(HostAudioTest, AttributesAndOrderAreChecked) {
    MiAudioAttr_S stBad = s_stStereo;
    stBad.u32ChnCnt = 2;   // stereo is one channel
    EXPECT_EQ(AiErr(MI_ERR_ILLEGAL_PARAM), MI_AI_SetPubAttr(0, &stBad));
    StartAi(s_stStereo, 3);
    EXPECT_EQ(AiErr(MI_ERR_NOT_PERM), MI_AI_SetPubAttr(0, &s_stStereo));
    EXPECT_EQ(AiErr(MI_ERR_NOT_PERM), MI_AI_Disable(0));
    EXPECT_EQ(MI_SUCCESS, MI_AI_DisableChn(0, 0));
    EXPECT_EQ(MI_SUCCESS, MI_AI_Disable(0));
}

// A port's descriptor is readable while a frame waits, and is closed once.
TEST_F(HostAudioTest, PortDescriptorFollowsTheQueue) {
    StartAi(s_stStereo, 3);
    MiSysChnPort_S stPort = {MI_MODULE_AI, 0, 0, 0};
    s32 s32Fd = -1;
    ASSERT_EQ(MI_SUCCESS, MI_SYS_GetFd(&stPort, &s32Fd));
    struct pollfd stPoll = {s32Fd, POLLIN, 0};
    ASSERT_EQ(1, poll(&stPoll, 1, 1000));
    MiAudioFrame_S stFrame;
    while (MI_AI_GetFrame(0, 0, &stFrame, nullptr, 0) == MI_SUCCESS)
        ASSERT_EQ(MI_SUCCESS, MI_AI_ReleaseFrame(0, 0, &stFrame, nullptr));
    EXPECT_EQ(0, poll(&stPoll, 1, 0));
    EXPECT_EQ(MI_SUCCESS, MI_SYS_CloseFd(s32Fd));
    EXPECT_EQ(MI_ERR(MI_MODULE_SYS, MI_ERR_ILLEGAL_PARAM), MI_SYS_CloseFd(s32Fd));
}
