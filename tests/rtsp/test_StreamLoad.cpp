// Streams stopped and started while every kind of thread pushes into them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "app/Main.h"
#include "tests/rtsp/WrapperTest.h"

#define TEST_RESTARTS 200

// Pushes of every kind, as fast as they go, on the streams' ids.
static void Hammer(const std::atomic<bool> *pbRun, std::atomic<u32> *pu32Pushes)
{
    TestPack stHevc({{MI_VENC_H265_NAL_VPS, {0x40, 0x01, 0x0C}}, {MI_VENC_H265_NAL_SPS, {0x42, 0x01, 0x01, 0x01}},
                     {MI_VENC_H265_NAL_PPS, {0x44, 0x01, 0xC1}}, {MI_VENC_H265_NAL_ISLICE, {0x26, 0x01, 0xAF}}});
    TestPack stAvc({{MI_VENC_H264_NAL_SPS, {0x67, 0x42, 0x00, 0x1E}}, {MI_VENC_H264_NAL_PPS, {0x68, 0xCE, 0x06}},
                    {MI_VENC_H264_NAL_ISLICE, {0x65, 0x88}}});
    std::vector<u8> pcm(8192), aac = {0xFF, 0xF1, 0x4C, 0x80, 0x01, 0x7F, 0xFC, 0x21, 0x00};
    MediaAudioFrame_S stPcm = MediaAudioFrame_S(), stAac = MediaAudioFrame_S();
    stPcm.apData[0] = pcm.data();
    stPcm.u32Len = 4096;
    stPcm.enSoundmode = 1;
    stAac.apData[0] = aac.data();
    stAac.u32Len = (u32)aac.size();
    RtspServerAttr_S *pstCtx = WrapperTest::Ctx();
    for (u32 i = 0; *pbRun; i++) {
        (void)RtspServer_SendVFrame(pstCtx, 0, &stHevc.stStream);
        (void)RtspServer_SendVFrame(pstCtx, 1, &stAvc.stStream);
        (void)RtspServer_SendAFrame(pstCtx, 0, &stAac);
        (void)RtspServer_SendAPCMFrame(pstCtx, 1, 48000, &stPcm);
        if (i % 256 == 0)
            (void)RtspServer_SendVSEICmdFrame(pstCtx, 0, 1);   // logs each time
        (*pu32Pushes)++;
    }
}

// A client that plays the main stream over and over; its sessions end
// whenever the stream is stopped.
static void Player(const std::atomic<bool> *pbRun, std::atomic<u32> *pu32Frames)
{
    while (*pbRun) {
        RtspClient stClient;
        if (!stClient.Connect() ||
            stClient.Request("SETUP", TEST_MAIN_URI "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n") != 200 ||
            stClient.Request("PLAY", TEST_MAIN_URI, stClient.SessionLine()) != 200)
            continue;
        for (u32 i = 0; i < 20 && *pbRun && stClient.ReadFrame(); i++)
            (*pu32Frames)++;
    }
}

// 200 stops and starts of both streams under encoder, capture, AAC and
// frame sender threads, a pusher at full rate and a playing client: every
// call succeeds, and the streams play afterwards.
TEST_F(StreamLiveTest, StopStartTwoHundredTimesWhilePushing) {
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    std::atomic<bool> bRun{true};
    std::atomic<u32> u32Pushes{0}, u32Frames{0};
    std::thread hammer(Hammer, &bRun, &u32Pushes), player(Player, &bRun, &u32Frames);
    for (u32 i = 0; i < TEST_RESTARTS; i++) {
        ASSERT_EQ(0, MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream));
        ASSERT_EQ(0, MAIN_RtspServer_StopStream(pstNet, &pstNet->stSubStream));
        if (i % 10 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        ASSERT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &pstNet->stMainStream));
        ASSERT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &pstNet->stSubStream));
        ASSERT_EQ(1u, pstNet->stSubStream.bStart);
        if (i % 10 == 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    bRun = false;
    hammer.join();
    player.join();
    EXPECT_GT(u32Pushes.load(), (u32)TEST_RESTARTS);
    EXPECT_GT(u32Frames.load(), 0u);

    RtspClient stClient;
    PlayTcp(&stClient, TEST_MAIN_URI, "/track2", 2);
    EXPECT_EQ(5u, ReadRtp(&stClient, 2, 5).size());
}
