// The whole media chain running into the wrapper for the streaming tests:
// settings of TestMedia_Config(true) (main H.265 with AAC, sub H.264 with
// PCM), the media start, the frame sender, the pipeline on a 1080p60 pad
// and the audio capture, with the first pictures of both streams encoded.
#ifndef TESTS_RTSP_STREAMLIVETEST_H
#define TESTS_RTSP_STREAMLIVETEST_H

#include "tests/rtsp/WrapperTest.h"

struct StreamLiveTest : public WrapperTest {
    void SetUp() override;
    void TearDown() override;
};

#endif
