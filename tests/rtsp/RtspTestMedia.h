// Media for the RTSP tests, encoded with libavcodec (through ffmpeg) at
// test time, and running real clients.
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

// u32Frames pictures of a noisy moving pattern from an encoder ("libx264"
// or "libx265"), a key frame every u32Gop, no B frames, parameter sets in
// band before every key frame, one slice per picture.
std::vector<TestPicture> TestMedia_Video(const char *pszEncoder, u32 u32Width, u32 u32Height, u32 u32Fps,
                                         u32 u32Kbps, u32 u32Frames, u32 u32Gop);
// ADTS frames (7-byte headers, no CRC) of a 440 Hz AAC-LC tone.
std::vector<Bytes> TestMedia_Aac(u32 u32Rate, u32 u32Channels, u32 u32Frames);
// The NAL type of a unit with start code (H.264: 5 bits; H.265: 6 bits).
u32 TestMedia_NalType(const Bytes &vecNal, bool bH265);

// Runs a shell command, stopped with SIGINT after s32Seconds: its standard
// output, its exit status (-1 when it did not exit) and, when asked for,
// its standard error.
std::string Test_Run(const std::string &strCmd, int s32Seconds, int *ps32Status, std::string *pstrErr = nullptr);

#endif
