// Pre-encoded media for the RTSP tests, made with libavcodec at test time.
#ifndef TESTS_RTSP_RTSPTESTMEDIA_H
#define TESTS_RTSP_RTSPTESTMEDIA_H

#include <string>
#include <vector>

#include "core/Types.h"

typedef std::vector<u8> Bytes;

// One coded picture: its NAL units, each with its start code.
struct TestPicture {
    std::vector<Bytes> vecNal;
    u64 u64PtsUs;
};

// u32Frames pictures of a moving pattern from an encoder ("libx264" or
// "libx265"), a key frame every u32Gop, no B frames, parameter sets in
// band before every key frame, one slice per picture. Empty when the
// encoder is missing.
std::vector<TestPicture> TestMedia_Video(const char *pszEncoder, u32 u32Width, u32 u32Height, u32 u32Fps,
                                         u32 u32Kbps, u32 u32Frames, u32 u32Gop);
// Raw AAC-LC access units of a tone (1024 samples each).
std::vector<Bytes> TestMedia_Aac(u32 u32Rate, u32 u32Channels, u32 u32Frames);
// The access unit behind a 7-byte ADTS header (without CRC).
Bytes TestMedia_Adts(const Bytes &vecAu, u32 u32Rate, u32 u32Channels);
// The NAL type of a unit with start code (H.264: 5 bits; H.265: 6 bits).
u32 TestMedia_NalType(const Bytes &vecNal, bool bH265);

#endif
