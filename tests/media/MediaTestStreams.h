// Test helpers for the video pipeline: a stream callback that keeps every
// picture it gets, and a libavcodec decoder that checks what was kept.
#ifndef TESTS_MEDIA_MEDIATESTSTREAMS_H
#define TESTS_MEDIA_MEDIATESTSTREAMS_H

#include <vector>

#include "core/Types.h"
#include "platform/MiVenc.h"

struct TestNal_S {
    u32 u32Type;
    std::vector<u8> bytes;               // as the pack gave it
};

struct TestPicture_S {
    u32 u32Seq;
    u64 u64PtsUs;
    u32 u32Packs;
    std::vector<TestNal_S> nals;
};

// The stream callback to register; keeps pictures of channels 0..2.
s32 TestStreams_Collect(s32 s32Chn, MiVencStream_S *pstStream);
std::vector<TestPicture_S> TestStreams_Get(s32 s32Chn);
void TestStreams_Clear(void);
// Waits until channel s32Chn has at least u32Count pictures; false on time-out.
bool TestStreams_Wait(s32 s32Chn, u32 u32Count, u32 u32TimeoutMs);

struct TestDecode_S {
    u32 u32Frames;                       // decoded pictures
    u32 u32Errors;                       // failed calls and pictures flagged as damaged
    u32 u32Width, u32Height;
    s32 s32Profile;
    std::vector<u32> numbers;            // each picture's number in its GOP, from its top stripe
};

// Decodes the pictures from the first one that holds a key frame on.
TestDecode_S TestStreams_Decode(u32 enType, const std::vector<TestPicture_S> &pictures);
bool TestStreams_IsIdr(u32 enType, const TestPicture_S &stPic);

#endif
