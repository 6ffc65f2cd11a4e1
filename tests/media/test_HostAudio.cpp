#include <gtest/gtest.h>

#include <poll.h>
#include <unistd.h>

#include "platform/MiAo.h"
#include "platform/host/HostMedia.h"
#include "tests/media/MediaTestAudio.h"

static const MiAudioAttr_S s_stStereo = {48000, MI_AUDIO_BIT_WIDTH_16, MI_AUDIO_MODE_I2S_SLAVE,
                                         MI_AUDIO_SOUND_MODE_STEREO, 30, 1024, 1};
static const MiAudioAttr_S s_stMono = {48000, MI_AUDIO_BIT_WIDTH_16, MI_AUDIO_MODE_I2S_SLAVE,
                                       MI_AUDIO_SOUND_MODE_MONO, 30, 1024, 2};

static HostMedia_S State(void)
{
    HostMedia_S st;
    HostMedia_Get(&st);
    return st;
}

static s32 AiErr(u32 u32Code)
{
    return MI_ERR(MI_MODULE_AI, u32Code);
}

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

    // The next frame of a channel, waiting for it; copied, then released.
    static std::vector<s16> Take(u32 u32Chn, MiAudioFrame_S *pstFrame)
    {
        EXPECT_EQ(MI_SUCCESS, MI_AI_GetFrame(0, u32Chn, pstFrame, nullptr, 1000));
        const s16 *ps16 = (const s16 *)pstFrame->apData[0];
        std::vector<s16> samples(ps16, ps16 + pstFrame->u32Len / 2);
        EXPECT_EQ(MI_SUCCESS, MI_AI_ReleaseFrame(0, u32Chn, pstFrame, nullptr));
        return samples;
    }
};

// A stereo input gives interleaved frames of both tones, one frame time
// apart, numbered in order.
TEST_F(HostAudioTest, StereoInputDeliversBothTonesInterleavedAtFrameRate) {
    StartAi(s_stStereo, 3);
    MiAudioFrame_S stFirst, stFrame;
    std::vector<s16> first = Take(0, &stFirst);
    std::vector<s16> all = first;
    for (int i = 0; i < 9; i++) {
        std::vector<s16> next = Take(0, &stFrame);
        all.insert(all.end(), next.begin(), next.end());
    }
    ASSERT_EQ(4096u, stFirst.u32Len);
    EXPECT_EQ((u32)MI_AUDIO_SOUND_MODE_STEREO, stFirst.enSoundmode);
    EXPECT_EQ(stFirst.u32Seq + 9, stFrame.u32Seq);
    EXPECT_EQ(9 * 1024 * 1000000ull / 48000, stFrame.u64TimeStamp - stFirst.u64TimeStamp);
    EXPECT_NEAR(HOST_AI_TONE_LEFT_HZ, TestAudio_Frequency(all.data(), (u32)all.size() / 2, 2, 48000), 5);
    EXPECT_NEAR(HOST_AI_TONE_RIGHT_HZ, TestAudio_Frequency(all.data() + 1, (u32)all.size() / 2, 2, 48000), 5);
}

// Two mono channels carry left and right with the same time stamps.
TEST_F(HostAudioTest, MonoChannelsCarryOneToneEachWithSharedStamps) {
    StartAi(s_stMono, 3);
    MiAudioFrame_S stLeft, stRight;
    std::vector<s16> left = Take(0, &stLeft);
    std::vector<s16> right = Take(1, &stRight);
    while (stRight.u32Seq < stLeft.u32Seq)
        right = Take(1, &stRight);
    while (stLeft.u32Seq < stRight.u32Seq)
        left = Take(0, &stLeft);
    EXPECT_EQ(stLeft.u64TimeStamp, stRight.u64TimeStamp);
    EXPECT_EQ(2048u, stLeft.u32Len);
    EXPECT_NEAR(HOST_AI_TONE_LEFT_HZ, TestAudio_Frequency(left, 48000), 30);
    EXPECT_NEAR(HOST_AI_TONE_RIGHT_HZ, TestAudio_Frequency(right, 48000), 30);
}

// A port of depth 0 keeps nothing for the caller; a full port drops its
// oldest frame; a short-fall setting cuts each frame.
TEST_F(HostAudioTest, PortDepthBoundsWhatWaitsAndShortfallCutsFrames) {
    StartAi(s_stMono, 0);
    MiAudioFrame_S stFrame;
    ASSERT_TRUE(Test_WaitFor([] { return State().astAi[0].au32Dropped[0] > 2; }));
    EXPECT_EQ(AiErr(MI_ERR_BUF_EMPTY), MI_AI_GetFrame(0, 0, &stFrame, nullptr, 0));

    MiSysChnPort_S stPort = {MI_MODULE_AI, 0, 1, 0};
    HostAi_SetShortfall(0, 1, 6);
    u32 u32Before = State().astAi[0].au32Dropped[1];
    ASSERT_EQ(MI_SUCCESS, MI_SYS_SetChnOutputPortDepth(&stPort, 2, 6));
    ASSERT_TRUE(Test_WaitFor([u32Before] { return State().astAi[0].au32Dropped[1] > u32Before + 2; }));
    ASSERT_EQ(MI_SUCCESS, MI_AI_GetFrame(0, 1, &stFrame, nullptr, 0));
    EXPECT_EQ(2042u, stFrame.u32Len);
    EXPECT_EQ(1u, State().astAi[0].au32Held[1]);
    EXPECT_EQ(MI_SUCCESS, MI_AI_ReleaseFrame(0, 1, &stFrame, nullptr));
    EXPECT_EQ(AiErr(MI_ERR_ILLEGAL_PARAM), MI_AI_ReleaseFrame(0, 1, &stFrame, nullptr));
}

// The attributes change only while the device is off, and a device goes
// off only when its channels are; bad attributes are refused.
TEST_F(HostAudioTest, AttributesAndOrderAreChecked) {
    MiAudioAttr_S stBad = s_stStereo;
    stBad.enSamplerate = 22050;
    EXPECT_EQ(AiErr(MI_ERR_ILLEGAL_PARAM), MI_AI_SetPubAttr(0, &stBad));
    stBad = s_stStereo;
    stBad.u32ChnCnt = 2;   // stereo is one channel
    EXPECT_EQ(AiErr(MI_ERR_ILLEGAL_PARAM), MI_AI_SetPubAttr(0, &stBad));
    EXPECT_EQ(AiErr(MI_ERR_NOT_CONFIG), MI_AI_Enable(0));
    StartAi(s_stStereo, 3);
    EXPECT_EQ(AiErr(MI_ERR_NOT_PERM), MI_AI_SetPubAttr(0, &s_stStereo));
    EXPECT_EQ(AiErr(MI_ERR_INVALID_CHNID), MI_AI_EnableChn(0, 1));
    EXPECT_EQ(AiErr(MI_ERR_NOT_PERM), MI_AI_Disable(0));
    EXPECT_EQ(MI_SUCCESS, MI_AI_DisableChn(0, 0));
    EXPECT_EQ(MI_SUCCESS, MI_AI_Disable(0));
    EXPECT_FALSE(State().astAi[0].bEnabled);
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
    MiSysChnPort_S stVenc = {MI_MODULE_VENC, 0, 0, 0};
    s32 s32Other;
    EXPECT_EQ(MI_ERR(MI_MODULE_SYS, MI_ERR_NOT_SUPPORT), MI_SYS_GetFd(&stVenc, &s32Other));
    EXPECT_EQ(1u, State().astAi[0].u32UserFds);
    EXPECT_EQ(MI_SUCCESS, MI_SYS_CloseFd(s32Fd));
    EXPECT_EQ(MI_ERR(MI_MODULE_SYS, MI_ERR_ILLEGAL_PARAM), MI_SYS_CloseFd(s32Fd));
    EXPECT_EQ(0u, State().astAi[0].u32UserFds);
}

// The output plays what it is sent on an enabled channel, and what a bound
// input channel captures.
TEST_F(HostAudioTest, OutputCountsSentAndBoundFrames) {
    MiAudioAttr_S stAo = s_stStereo;
    stAo.u32ChnCnt = 2;
    ASSERT_EQ(MI_SUCCESS, MI_AO_SetPubAttr(0, &stAo));
    ASSERT_EQ(MI_SUCCESS, MI_AO_Enable(0));
    s16 as16Data[2048] = {};
    MiAudioFrame_S stFrame = MiAudioFrame_S();
    stFrame.apData[0] = as16Data;
    stFrame.u32Len = sizeof(as16Data);
    EXPECT_EQ(MI_ERR(MI_MODULE_AO, MI_ERR_NOT_PERM), MI_AO_SendFrame(0, 0, &stFrame, 0));
    ASSERT_EQ(MI_SUCCESS, MI_AO_EnableChn(0, 0));
    EXPECT_EQ(MI_SUCCESS, MI_AO_SendFrame(0, 0, &stFrame, 0));
    EXPECT_EQ(1u, State().astAo[0].u64Frames);
    EXPECT_EQ(sizeof(as16Data), State().astAo[0].u64Bytes);

    StartAi(s_stStereo, 0);
    MiSysChnPort_S stSrc = {MI_MODULE_AI, 0, 0, 0}, stDst = {MI_MODULE_AO, 0, 1, 0};
    EXPECT_EQ(MI_ERR(MI_MODULE_SYS, MI_ERR_UNEXIST), MI_SYS_BindChnPort2(&stSrc, &stDst, 60, 60, MI_SYS_BIND_FRAME, 0));
    stDst.u32ChnId = 0;
    ASSERT_EQ(MI_SUCCESS, MI_SYS_BindChnPort2(&stSrc, &stDst, 60, 60, MI_SYS_BIND_FRAME, 0));
    EXPECT_TRUE(Test_WaitFor([] { return State().astAo[0].u64Frames >= 5; }));
    EXPECT_EQ(MI_ERR(MI_MODULE_AO, MI_ERR_NOT_PERM), MI_AO_Disable(0));
}
