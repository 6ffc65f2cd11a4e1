#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "app/Main.h"
#include "core/Clock.h"
#include "media/MediaAudio.h"
#include "tests/media/MediaTestAudio.h"

static const MediaAudioAttr_S s_stStereo = {48000, 48000, 1, 1, 1024};
static const MediaAudioAttr_S s_stMono = {48000, 48000, 1, 0, 1024};

// What the capture callback was given.
struct TestCapture_S {
    s32 s32Chn;
    MediaAudioFrame_S stFrame;
    std::vector<s16> left, right;   // apData[0] and, when set, apData[1]
};

static std::mutex s_mtxCaptured;
static std::vector<TestCapture_S> s_captured;

static s32 Test_Capture(s32, s32 s32Chn, MediaAudioFrame_S *pstFrame)
{
    TestCapture_S st = {s32Chn, *pstFrame, {}, {}};
    const s16 *ps16 = (const s16 *)pstFrame->apData[0];
    st.left.assign(ps16, ps16 + pstFrame->u32Len / 2);
    if (pstFrame->apData[1] != nullptr) {
        ps16 = (const s16 *)pstFrame->apData[1];
        st.right.assign(ps16, ps16 + pstFrame->u32Len / 2);
    }
    std::lock_guard<std::mutex> lock(s_mtxCaptured);
    s_captured.push_back(st);
    return 0;
}

static size_t Captured(void)
{
    std::lock_guard<std::mutex> lock(s_mtxCaptured);
    return s_captured.size();
}

struct MediaAudioTest : public testing::Test {
    void SetUp() override
    {
        ASSERT_EQ(MI_SUCCESS, MI_SYS_Init());
        HI_MEDIA_Ai_RegisterNotify(Test_Capture);
    }
    void TearDown() override
    {
        HI_Media_Ai_StopManualMode(0);
        HI_MEDIA_Ai_RegisterNotify(nullptr);
        HostMedia_Reset();
    }

    // Captures until sizeFrames reached the callback; the frames it got.
    static std::vector<TestCapture_S> Capture(const MediaAudioAttr_S &stAttr, size_t sizeFrames)
    {
        {
            std::lock_guard<std::mutex> lock(s_mtxCaptured);
            s_captured.clear();
        }
        EXPECT_EQ(0, HI_Media_Ai_start(0, &stAttr));
        EXPECT_EQ(0, HI_Media_Ai_StartManualMode(0));
        EXPECT_TRUE(Test_WaitFor([sizeFrames] { return Captured() >= sizeFrames; }));
        EXPECT_EQ(0, HI_Media_Ai_StopManualMode(0));
        std::lock_guard<std::mutex> lock(s_mtxCaptured);
        return s_captured;
    }
};

// Stereo capture hands the callback every frame of the interleaved tones
// in order; once the stop returns, no callback runs and every frame and
// descriptor is given back. The engine keeps a running device's attributes
// and its channels must go before it: the layer's stop does it in order.
TEST_F(MediaAudioTest, StereoCaptureReachesTheCallbackUntilStopped) {
    std::vector<TestCapture_S> captured = Capture(s_stStereo, 5);
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(captured.size(), Captured());
    HostMedia_S st = Engine();
    EXPECT_EQ(0u, st.astAi[0].au32Held[0]);
    EXPECT_EQ(0u, st.astAi[0].u32UserFds);
    EXPECT_EQ(1u, st.astAi[0].u32ChnMask);
    std::vector<s16> all;
    for (size_t i = 0; i < captured.size(); i++) {
        EXPECT_EQ(4096u, captured[i].stFrame.u32Len);
        EXPECT_EQ(0, captured[i].s32Chn);
        EXPECT_EQ(captured[0].stFrame.u32Seq + i, captured[i].stFrame.u32Seq);
        all.insert(all.end(), captured[i].left.begin(), captured[i].left.end());
    }
    EXPECT_NEAR(HOST_AI_TONE_LEFT_HZ, TestAudio_Frequency(all.data(), (u32)all.size() / 2, 2, 48000), 5);
    EXPECT_NEAR(HOST_AI_TONE_RIGHT_HZ, TestAudio_Frequency(all.data() + 1, (u32)all.size() / 2, 2, 48000), 5);

    EXPECT_EQ(MI_ERR(MI_MODULE_AI, MI_ERR_NOT_PERM), MI_AI_SetPubAttr(0, &st.astAi[0].stAttr));
    EXPECT_EQ(MI_ERR(MI_MODULE_AI, MI_ERR_NOT_PERM), MI_AI_Disable(0));
    EXPECT_EQ(0, HI_Media_Ai_stop(0));
    EXPECT_EQ(0u, Engine().astAi[0].u32ChnMask);
    EXPECT_FALSE(Engine().astAi[0].bEnabled);
}

// Two mono channels are joined: the callback gets one frame per time
// stamp, left at apData[0] and right at apData[1].
TEST_F(MediaAudioTest, MonoChannelsAreJoinedByTimeStamp) {
    std::vector<TestCapture_S> captured = Capture(s_stMono, 6);
    EXPECT_EQ(3u, Engine().astAi[0].u32ChnMask);
    std::vector<s16> left, right;
    for (size_t i = 0; i < captured.size(); i++) {
        const TestCapture_S &st = captured[i];
        EXPECT_EQ(2048u, st.stFrame.u32Len);
        EXPECT_EQ((u32)MI_AUDIO_SOUND_MODE_STEREO, st.stFrame.enSoundmode);
        EXPECT_NEAR(i * 1024 * 1000000.0 / 48000, st.stFrame.u64TimeStamp - captured[0].stFrame.u64TimeStamp, 1);
        left.insert(left.end(), st.left.begin(), st.left.end());
        right.insert(right.end(), st.right.begin(), st.right.end());
    }
    EXPECT_NEAR(HOST_AI_TONE_LEFT_HZ, TestAudio_Frequency(left, 48000), 5);
    EXPECT_NEAR(HOST_AI_TONE_RIGHT_HZ, TestAudio_Frequency(right, 48000), 5);
}

static bool Silent(const TestCapture_S &st)
{
    for (const std::vector<s16> *pv : {&st.left, &st.right})
        for (s16 s : *pv)
            if (s != 0)
                return false;
    return true;
}

// After an audio input switch the capture hands on silence, stereo or
// joined, for a second from its first frame; then it clears the word and
// hands on the input again.
TEST_F(MediaAudioTest, SwitchedInputIsSilentForASecond) {
    for (const MediaAudioAttr_S *pstAttr : {&s_stStereo, &s_stMono}) {
        SCOPED_TRACE(pstAttr->enSoundmode);
        {
            std::lock_guard<std::mutex> lock(s_mtxCaptured);
            s_captured.clear();
        }
        g_audio_switch = 1;
        s64 s64Start = Clock_NowMs();
        ASSERT_EQ(0, HI_Media_Ai_start(0, pstAttr));
        ASSERT_EQ(0, HI_Media_Ai_StartManualMode(0));
        EXPECT_TRUE(Test_WaitFor([] { return g_audio_switch == 0; }, 3000));
        EXPECT_GE(Clock_NowMs() - s64Start, MEDIA_AI_SILENCE_MS);
        size_t sizeAt = Captured();
        EXPECT_TRUE(Test_WaitFor([sizeAt] { return Captured() >= sizeAt + 3; }));
        EXPECT_EQ(0, HI_Media_Ai_StopManualMode(0));
        EXPECT_EQ(0, HI_Media_Ai_stop(0));
        std::lock_guard<std::mutex> lock(s_mtxCaptured);
        size_t sizeSilent = 0;
        while (sizeSilent < s_captured.size() && Silent(s_captured[sizeSilent]))
            sizeSilent++;
        EXPECT_GT(sizeSilent, 0u);
        EXPECT_LE(sizeSilent, sizeAt);
        for (size_t i = sizeSilent; i < s_captured.size(); i++)
            EXPECT_FALSE(Silent(s_captured[i])) << i;
    }
}

// A mono frame 2 bytes short ends with its last sample twice; 4 bytes short
// gets its first sample in front and its last one behind; 10 bytes short
// is not copied at all: its half stays silent.
TEST_F(MediaAudioTest, ShortMonoFramesArePaddedWithEdgeSamples) {
    HostAi_SetShortfall(0, 0, 4);
    HostAi_SetShortfall(0, 1, 2);
    std::vector<TestCapture_S> captured = Capture(s_stMono, 2);
    const TestCapture_S &st = captured.back();
    ASSERT_EQ(1024u, st.left.size());
    EXPECT_EQ(st.left[0], st.left[1]);
    EXPECT_EQ(st.left[1022], st.left[1023]);
    EXPECT_NE(st.left[100], st.left[101]);
    EXPECT_EQ(st.right[1022], st.right[1023]);
    EXPECT_NE(st.right[0], st.right[1]);

    ASSERT_EQ(0, HI_Media_Ai_stop(0));
    HostAi_SetShortfall(0, 0, 0);
    HostAi_SetShortfall(0, 1, 10);
    for (const TestCapture_S &stShort : Capture(s_stMono, 2)) {
        EXPECT_EQ(std::vector<s16>(1024, 0), stShort.right);
        EXPECT_NE(std::vector<s16>(1024, 0), stShort.left);
    }
}

// The local output opens with the output attributes, plays frames sent
// to it and those of a bound input channel, and closes again; mono output
// at a rate of its own resamples the input rate.
TEST_F(MediaAudioTest, OutputPlaysSentAndBoundFrames) {
    ASSERT_EQ(0, HI_Media_Ao_start(0, &s_stStereo));
    HostMedia_S st = Engine();
    EXPECT_EQ(1u, st.astAo[0].u32ChnMask);
    EXPECT_EQ(48000u, st.astAo[0].stAttr.enSamplerate);
    EXPECT_EQ(2u, st.astAo[0].stAttr.u32ChnCnt);
    s16 as16[2048] = {};
    MediaAudioFrame_S stFrame = MediaAudioFrame_S();
    stFrame.apData[0] = as16;
    stFrame.u32Len = sizeof(as16);
    EXPECT_EQ(0, HI_Media_Ao_SendFrame(0, 0, &stFrame));
    EXPECT_NE(0, HI_Media_Ao_SendFrame(0, 1, &stFrame));
    EXPECT_EQ(1u, Engine().astAo[0].u64Frames);

    ASSERT_EQ(0, HI_Media_Ai_start(0, &s_stStereo));
    ASSERT_EQ(0, HI_Media_Ao_BindAi(0, 0, 0, 0));
    EXPECT_TRUE(Test_WaitFor([] { return Engine().astAo[0].u64Frames >= 4; }));
    ASSERT_EQ(0, HI_Media_Ao_UnbindAi(0, 0, 0, 0));
    EXPECT_NE(0, HI_Media_Ao_UnbindAi(0, 0, 0, 0));
    EXPECT_EQ(0, HI_Media_Ai_stop(0));
    EXPECT_EQ(0, HI_Media_Ao_Stop(0));
    EXPECT_FALSE(Engine().astAo[0].bEnabled);

    MediaAudioAttr_S stAttr = {32000, 48000, 1, 0, 1024};
    ASSERT_EQ(0, HI_Media_Ao_start(0, &stAttr));
    EXPECT_EQ(3u, Engine().astAo[0].u32ChnMask);
    stAttr.enInSamplerate = 12345;
    ASSERT_EQ(0, HI_Media_Ao_Stop(0));
    EXPECT_EQ(-1, HI_Media_Ao_start(0, &stAttr));
}
