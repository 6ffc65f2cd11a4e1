// Test helpers for the audio half: the frequency of a tone, ADTS headers.
#ifndef TESTS_MEDIA_MEDIATESTAUDIO_H
#define TESTS_MEDIA_MEDIATESTAUDIO_H

#include <vector>

#include "core/Types.h"
#include "tests/media/MediaTest.h"

typedef std::vector<u8> TestBytes;

// The frame length (header included) when the bytes start with an ADTS
// header of MPEG-4 AAC-LC without CRC; else 0.
u32 TestAudio_AdtsLen(const u8 *pu8, u32 u32Len);
// The frequency of a tone from its zero crossings (with hysteresis).
double TestAudio_Frequency(const s16 *ps16, u32 u32Count, u32 u32Step, u32 u32Rate);
double TestAudio_Frequency(const std::vector<s16> &samples, u32 u32Rate);

#endif
