#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "media/MediaAudio.h"
#include "media/MediaFrame.h"
#include "tests/media/MediaTestAudio.h"

// A captured stereo frame on the heap, exactly u32Len bytes, so that a
// read past it is caught: left i*2+1, right -(i*2+1).
static MediaAudioFrame_S PcmFrame(u32 u32Len)
{
    MediaAudioFrame_S stFrame = MediaAudioFrame_S();
    s16 *ps16 = (s16 *)malloc(u32Len);
    for (u32 i = 0; i < u32Len / 4; i++) {
        ps16[2 * i] = (s16)(2 * i + 1);
        ps16[2 * i + 1] = (s16)-(2 * i + 1);
    }
    stFrame.apData[0] = ps16;
    stFrame.u32Len = u32Len;
    stFrame.enSoundmode = 1;
    stFrame.u32Seq = 7;
    return stFrame;
}

static MediaFrameNode_S *PcmNode(u32 u32Len)
{
    MediaAudioFrame_S stFrame = PcmFrame(u32Len);
    MediaFrameNode_S *pstNode = new MediaFrameNode_S();
    pstNode->enFrameKind = MEDIA_FRAME_PCM;
    EXPECT_EQ(0, HI_MEDIA_Ai_CopyFrame(&pstNode->stAudio, &stFrame));
    free(stFrame.apData[0]);
    return pstNode;
}

struct MediaFrameTest : public testing::Test {
    void SetUp() override { ASSERT_EQ(0, MEDIA_LIST_Init()); }
    void TearDown() override
    {
        MEDIA_LIST_DelAll();
        AAC_LIST_DelAll();
        AAC_DeInit();
    }
};

// L0 R0 L1 R1 ... becomes L0 L1 ... at byte 0 and R0 R1 ... at byte 4096,
// the rest zero; a short frame is read only as far as it goes (the heap
// buffer is exactly its length), a long one only up to a frame's samples;
// one without data is refused.
TEST_F(MediaFrameTest, PcmCopyIsPlanarAndStaysInBothBuffers) {
    for (u32 u32Len : {4096u, 400u, 8192u}) {
        MediaAudioFrame_S stSrc = PcmFrame(u32Len), stDst;
        ASSERT_EQ(0, HI_MEDIA_Ai_CopyFrame(&stDst, &stSrc));
        EXPECT_NE(stSrc.apData[0], stDst.apData[0]);
        EXPECT_EQ(7u, stDst.u32Seq);
        const s16 *ps16 = (const s16 *)stDst.apData[0];
        for (u32 i = 0; i < 2048; i++) {
            bool bCopied = i < std::min(u32Len / 4, 1024u);
            ASSERT_EQ(bCopied ? (s16)(2 * i + 1) : 0, ps16[i]) << u32Len << " at " << i;
            ASSERT_EQ(bCopied ? (s16)-(2 * i + 1) : 0, ps16[2048 + i]) << u32Len << " at " << i;
        }
        HI_MEDIA_Ai_DelFrame(&stDst);
        EXPECT_EQ(nullptr, stDst.apData[0]);
        free(stSrc.apData[0]);
    }
    MediaAudioFrame_S stSrc = MediaAudioFrame_S(), stDst;
    EXPECT_EQ(-1, HI_MEDIA_Ai_CopyFrame(&stDst, &stSrc));
}

// The queue hands frames out in order, unlinked and counted off; emptying
// it frees only what is still queued, never a frame a consumer holds.
TEST_F(MediaFrameTest, TakenFramesBelongToTheTaker) {
    MediaFrameNode_S *pstA = PcmNode(4096), *pstB = PcmNode(4096);
    MediaFrameNode_S *pstVideo = new MediaFrameNode_S();
    u8 au8Data[64] = {1, 2, 3};
    MiVencPack_S stPack = MiVencPack_S();
    stPack.pu8Addr = au8Data;
    stPack.u32Len = sizeof(au8Data);
    MiVencStream_S stStream = {&stPack, 1, 9};
    ASSERT_EQ(0, HI_MEDIA_Venc_CopyFrame(&pstVideo->stStream, &stStream));
    ASSERT_EQ(0, MEDIA_LIST_Add(pstA));
    ASSERT_EQ(0, MEDIA_LIST_Add(pstVideo));
    ASSERT_EQ(0, MEDIA_LIST_Add(pstB));
    u32 u32Audio = 0;
    EXPECT_EQ(1u, MEDIA_LIST_GetCurFramCnt(&u32Audio));
    EXPECT_EQ(2u, u32Audio);

    MediaFrameNode_S *pstTaken = MEDIA_LIST_GetOneFram(0);
    ASSERT_EQ(pstA, pstTaken);
    EXPECT_EQ(1u, MEDIA_LIST_GetCurFramCnt(&u32Audio));
    EXPECT_EQ(1u, u32Audio);
    ASSERT_EQ(pstVideo, MEDIA_LIST_GetOneFram(0));
    EXPECT_EQ(0u, MEDIA_LIST_GetCurFramCnt(nullptr));
    memset(au8Data, 0, sizeof(au8Data));   // the copy is deep
    EXPECT_EQ(3, pstVideo->stStream.pstPack[0].pu8Addr[2]);
    EXPECT_EQ(9u, pstVideo->stStream.u32Seq);

    EXPECT_EQ(0, MEDIA_LIST_DelAll());   // frees B only
    EXPECT_EQ(nullptr, MEDIA_LIST_GetOneFram(0));
    EXPECT_EQ(0, MEDIA_LIST_DelOneFram(pstTaken));   // A and the video copy, freed once each
    EXPECT_EQ(0, MEDIA_LIST_DelOneFram(pstVideo));
    EXPECT_EQ(-1, MEDIA_LIST_DelOneFram(nullptr));
}

// A waiting consumer wakes for a frame queued by another thread, and gives
// up with none after its wait.
TEST_F(MediaFrameTest, ConsumerWaitsForAFrame) {
    EXPECT_EQ(nullptr, AAC_LIST_GetOneFram(20));
    ASSERT_EQ(0, AAC_LIST_Init());
    MediaFrameNode_S *pstNode = PcmNode(4096);
    std::thread th([pstNode] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        AAC_LIST_Add(pstNode);
    });
    MediaFrameNode_S *pstTaken = AAC_LIST_GetOneFram(5000);
    th.join();
    EXPECT_EQ(pstNode, pstTaken);
    EXPECT_EQ(0, AAC_LIST_DelOneFram(pstTaken));
    EXPECT_EQ(nullptr, AAC_LIST_GetOneFram(10));
}

// Without the encoder no AAC frame is made; with it, frames of captured
// audio come out as ADTS frames once the encoder has filled up, never empty.
TEST_F(MediaFrameTest, AacCopyNeedsTheEncoderAndGivesAdtsFrames) {
    MediaAudioFrame_S stSrc = MediaAudioFrame_S(), stDst = MediaAudioFrame_S();
    std::vector<s16> tone(2048);
    for (u32 i = 0; i < 2048; i++)
        tone[i] = (s16)(8000 * sin(2 * M_PI * 1000 * (i / 2) / 48000));
    stSrc.apData[0] = tone.data();
    stSrc.u32Len = 4096;
    stSrc.u64TimeStamp = 1234;
    EXPECT_EQ(1, AAC_Ai_CopyFrame(&stDst, &stSrc));
    EXPECT_EQ(nullptr, stDst.apData[0]);

    MediaAudioAttr_S stAttr = {48000, 48000, 1, 1, 1024};
    ASSERT_EQ(0, HI_Media_Aenc_CreateChn(0, MEDIA_AENC_TYPE_AAC, &stAttr));
    u32 u32Frames = 0;
    for (u32 i = 0; i < 5; i++) {
        s32 s32Ret = AAC_Ai_CopyFrame(&stDst, &stSrc);
        ASSERT_GE(s32Ret, 0);
        if (s32Ret == 1)
            continue;
        u32Frames++;
        EXPECT_EQ(stDst.u32Len, TestAudio_AdtsLen((const u8 *)stDst.apData[0], stDst.u32Len));
        EXPECT_EQ(1234u, stDst.u64TimeStamp);
        HI_MEDIA_Ai_DelFrame(&stDst);
    }
    EXPECT_GE(u32Frames, 3u);
    EXPECT_EQ(0, HI_Media_Aenc_DestroyChn(0));
    EXPECT_EQ(1, AAC_Ai_CopyFrame(&stDst, &stSrc));
}

// Giving back a picture frees the taker's pack array also when the engine
// refuses the release (here: a channel that was never made), and reports
// the refusal; an AAC copy's buffer goes like a PCM copy's.
TEST(MediaFrameDelTest, TakenPicturesAndAacCopiesAreFreed) {
    ASSERT_EQ(MI_SUCCESS, MI_SYS_Init());
    MiVencStream_S stStream = MiVencStream_S();
    stStream.pstPack = (MiVencPack_S *)calloc(2, sizeof(MiVencPack_S));
    stStream.u32PackCount = 2;
    EXPECT_NE(MI_SUCCESS, HI_MEDIA_VencChn_DelFrame(5, &stStream));
    EXPECT_EQ(nullptr, stStream.pstPack);
    MediaAudioFrame_S stAac = MediaAudioFrame_S();
    stAac.apData[0] = malloc(MEDIA_AAC_BUF_LEN);
    AAC_Ai_DelFrame(&stAac);
    EXPECT_EQ(nullptr, stAac.apData[0]);
    HostMedia_Reset();
}
