// Test helpers for the stream publishing wrapper: the wrapper up once per
// test program with both streams published for each test, encoded packs
// made of given units, and an RTSP client's view of what it pushed.
#ifndef TESTS_RTSP_WRAPPERTEST_H
#define TESTS_RTSP_WRAPPERTEST_H

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "app/MainRtspServer.h"
#include "tests/rtsp/RtspTestService.h"

#define TEST_SUB_URI "rtsp://127.0.0.1/live/sub/av_stream"

// One encoded picture: one pack holding the units, each given a start code.
struct TestPack {
    std::vector<u8> data;
    std::vector<MiVencPack_S> packs;
    MiVencStream_S stStream;
    TestPack(std::initializer_list<std::pair<u32, Bytes>> units);
};

// The wrapper is brought up once (port 554), with the settings of
// TestMedia_Config(true) and device ID 1; each test starts with both
// streams published and ends by withdrawing them.
struct WrapperTest : public testing::Test {
    static void SetUpTestSuite();
    void SetUp() override;
    void TearDown() override;
    static RtspServerAttr_S *Ctx();
};

// The whole media chain running into the wrapper besides: settings of
// TestMedia_Config(true) (main H.265 with AAC, sub H.264 with PCM), the
// media start, the frame sender, the pipeline on a 1080p60 pad and the
// audio capture, with the first pictures of both streams encoded.
struct StreamLiveTest : public WrapperTest {
    void SetUp() override;
    void TearDown() override;
};

// The value after strKey in the SDP of a DESCRIBE of strUri, up to the
// next ';' or line end; empty when absent.
std::string Sprop(const std::string &strUri, const std::string &strKey);
// SETUP of strUri + pszTrack interleaved on u8Channel, then PLAY.
void PlayTcp(RtspClient *pstClient, const std::string &strUri, const char *pszTrack, u8 u8Channel);
// The payloads of the next u32Count RTP packets on u8Channel (fewer on
// time-out).
std::vector<Bytes> ReadRtp(RtspClient *pstClient, u8 u8Channel, u32 u32Count);
// The next whole PCM block on u8Channel, put together from its packets.
Bytes ReadPcmBlock(RtspClient *pstClient, u8 u8Channel);

#endif
