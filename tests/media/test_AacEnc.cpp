#include <gtest/gtest.h>

#include <cmath>

#include "platform/AacEnc.h"
#include "tests/media/MediaTestAudio.h"

static const u32 RATE = 48000;

// Interleaved stereo: 1000 Hz left, 1500 Hz right.
static std::vector<s16> Tone(u32 u32Frames)
{
    std::vector<s16> samples;
    for (u32 i = 0; i < u32Frames * 1024; i++) {
        samples.push_back((s16)(8000 * sin(2 * M_PI * 1000 * i / RATE)));
        samples.push_back((s16)(8000 * sin(2 * M_PI * 1500 * i / RATE)));
    }
    return samples;
}

struct AacEncTest : public testing::Test {
    HANDLE_AACENCODER hEnc = nullptr;

    void TearDown() override
    {
        if (hEnc != nullptr)
            aacEncClose(&hEnc);
    }

    // The parameters the media layer sets, in its order.
    void Open(void)
    {
        ASSERT_EQ(AACENC_OK, aacEncOpen(&hEnc, 0, 2));
        const std::pair<AACENC_PARAM, u32> aParams[] = {
            {AACENC_AOT, 2},          {AACENC_SBR_MODE, 0},     {AACENC_SAMPLERATE, RATE},  {AACENC_CHANNELMODE, 2},
            {AACENC_CHANNELORDER, 1}, {AACENC_BITRATEMODE, 0}, {AACENC_BITRATE, 131072}, {AACENC_TRANSMUX, 2},
        };
        for (const auto &param : aParams)
            ASSERT_EQ(AACENC_OK, aacEncoder_SetParam(hEnc, param.first, param.second)) << std::hex << param.first;
        ASSERT_EQ(AACENC_OK, aacEncEncode(hEnc, nullptr, nullptr, nullptr, nullptr));
    }

    // One call with u32Values samples; the output bytes, and the samples
    // taken in s32Taken.
    AACENC_ERROR Encode(const s16 *ps16In, u32 u32Values, TestBytes *pOut, u32 u32OutSize = 4096)
    {
        void *pvIn = (void *)ps16In, *pvOut;
        pOut->assign(u32OutSize, 0);
        pvOut = pOut->data();
        int s32InId = IN_AUDIO_DATA, s32InSize = (int)u32Values * 2, s32InEl = 2;
        int s32OutId = OUT_BITSTREAM_DATA, s32OutSize = (int)u32OutSize, s32OutEl = 1;
        AACENC_BufDesc stIn = {1, &pvIn, &s32InId, &s32InSize, &s32InEl};
        AACENC_BufDesc stOut = {1, &pvOut, &s32OutId, &s32OutSize, &s32OutEl};
        AACENC_InArgs stInArgs = {(int)u32Values, 0};
        AACENC_OutArgs stOutArgs = AACENC_OutArgs();
        AACENC_ERROR enRet = aacEncEncode(hEnc, &stIn, &stOut, &stInArgs, &stOutArgs);
        pOut->resize((size_t)stOutArgs.numOutBytes);
        s32Taken = stOutArgs.numInSamples;
        return enRet;
    }
    int s32Taken = 0;
};

// A second of the tone, one frame per call, becomes whole ADTS frames of
// AAC-LC at 48000 Hz stereo (the streaming tests decode them back).
TEST_F(AacEncTest, EncodesToneIntoAdtsFrames) {
    Open();
    AACENC_InfoStruct stInfo;
    ASSERT_EQ(AACENC_OK, aacEncInfo(hEnc, &stInfo));
    EXPECT_EQ(1024u, stInfo.frameLength);
    EXPECT_EQ(2u, stInfo.inputChannels);
    ASSERT_GE(stInfo.confSize, 2u);
    EXPECT_EQ(0x1190, stInfo.confBuf[0] << 8 | stInfo.confBuf[1]);   // AAC-LC, 48000 Hz, stereo
    std::vector<s16> tone = Tone(47);
    u32 u32Empty = 0;
    for (u32 f = 0; f < 47; f++) {
        TestBytes out;
        ASSERT_EQ(AACENC_OK, Encode(tone.data() + f * 2048, 2048, &out));
        if (out.empty()) {
            u32Empty++;
            continue;
        }
        EXPECT_EQ(out.size(), TestAudio_AdtsLen(out.data(), (u32)out.size()));
        EXPECT_LE(out.size(), stInfo.maxOutBufBytes);
    }
    EXPECT_LE(u32Empty, 2u);   // while the encoder fills up
}

// Input in pieces that are not whole frames is kept until a frame is whole;
// the encoder never takes more than it has room for; an output buffer too
// small for the frame is an error, not a cut frame.
TEST_F(AacEncTest, PartialInputAndShortOutput) {
    Open();
    std::vector<s16> tone = Tone(8);
    TestBytes out;
    u32 u32Frames = 0;
    for (u32 u32Pos = 0; u32Pos + 700 <= tone.size(); u32Pos += 700) {
        ASSERT_EQ(AACENC_OK, Encode(tone.data() + u32Pos, 700, &out));
        u32Frames += !out.empty();
    }
    EXPECT_GE(u32Frames, 4u);
    ASSERT_EQ(AACENC_OK, Encode(tone.data(), (u32)tone.size(), &out));
    EXPECT_LT(s32Taken, (int)tone.size());
    EXPECT_GT(s32Taken, 0);
    EXPECT_EQ(AACENC_ENCODE_ERROR, Encode(tone.data(), 2048, &out, 8));
    EXPECT_TRUE(out.empty());
}

// Parameters outside AAC-LC, constant rate, mono or stereo are refused;
// information and encoding need the parameters applied first.
TEST_F(AacEncTest, RefusesWhatItCannotEncode) {
    ASSERT_EQ(AACENC_OK, aacEncOpen(&hEnc, 0, 2));
    EXPECT_EQ(AACENC_INVALID_CONFIG, aacEncoder_SetParam(hEnc, AACENC_AOT, 5));
    EXPECT_EQ(AACENC_INVALID_CONFIG, aacEncoder_SetParam(hEnc, AACENC_SAMPLERATE, 45000));
    EXPECT_EQ(AACENC_INVALID_CONFIG, aacEncoder_SetParam(hEnc, AACENC_CHANNELMODE, 3));
    EXPECT_EQ(AACENC_UNSUPPORTED_PARAMETER, aacEncoder_SetParam(hEnc, (AACENC_PARAM)0x0200, 1));
    AACENC_InfoStruct stInfo;
    EXPECT_EQ(AACENC_INIT_ERROR, aacEncInfo(hEnc, &stInfo));
    EXPECT_EQ(AACENC_INIT_ERROR, aacEncEncode(hEnc, nullptr, nullptr, nullptr, nullptr));   // no sample rate
    HANDLE_AACENCODER hWide = nullptr;
    EXPECT_EQ(AACENC_INVALID_CONFIG, aacEncOpen(&hWide, 0, 6));
    EXPECT_EQ(nullptr, hWide);
    EXPECT_EQ(AACENC_INVALID_HANDLE, aacEncClose(&hWide));
}
