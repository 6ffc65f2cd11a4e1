// Test helpers for the audio half: the frequency of a tone, ADTS headers,
// and a libavcodec AAC decoder for what the encoder made.
#ifndef TESTS_MEDIA_MEDIATESTAUDIO_H
#define TESTS_MEDIA_MEDIATESTAUDIO_H

#include <vector>

#include "core/Types.h"
#include "tests/media/MediaTest.h"

typedef std::vector<u8> TestBytes;

struct TestPcm_S {
    u32 u32Rate, u32Channels;
    std::vector<s16> left, right;    // right empty for mono
    u32 u32Errors;                   // frames the decoder refused
};

// The frame length (header included) when the bytes start with an ADTS
// header of MPEG-4 AAC-LC without CRC; else 0.
u32 TestAudio_AdtsLen(const u8 *pu8, u32 u32Len);
// Decodes ADTS frames, one frame each.
TestPcm_S TestAudio_DecodeAdts(const std::vector<TestBytes> &frames);
// The frequency of a tone from its zero crossings (with hysteresis).
double TestAudio_Frequency(const s16 *ps16, u32 u32Count, u32 u32Step, u32 u32Rate);
double TestAudio_Frequency(const std::vector<s16> &samples, u32 u32Rate);

#endif
