// The whole media chain running into the wrapper for the streaming tests:
// settings of TestMedia_Config(true) (main H.265 with AAC, sub H.264 with
// PCM), the media start, the frame sender, the pipeline on a 1080p60 pad
// and the audio capture, with the first pictures of both streams encoded.
#ifndef TESTS_RTSP_STREAMLIVETEST_H
#define TESTS_RTSP_STREAMLIVETEST_H

#include <string>

#include "tests/rtsp/WrapperTest.h"

struct StreamLiveTest : public WrapperTest {
    void SetUp() override;
    void TearDown() override;
};

// Runs a shell command; its standard output, and its exit status.
std::string Test_Run(const std::string &strCmd, int *ps32Status);

#endif
