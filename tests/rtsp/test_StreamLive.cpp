// The streams end to end inside one process: the media stand-in's encoded
// video and tone go through the media glue, the frame queues and the
// wrapper to real clients (ffprobe, ffmpeg, GStreamer) and to a plain
// RTSP client for the PCM stream.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include "platform/host/HostMedia.h"
#include "tests/media/MediaTestAudio.h"
#include "tests/rtsp/WrapperTest.h"

// The stereo tone in interleaved 16-bit samples: both frequencies.
static void ExpectTone(const std::string &strPcm, u32 u32MinSamples)
{
    ASSERT_GE(strPcm.size(), u32MinSamples * 4) << "decoded audio too short";
    const s16 *ps16 = (const s16 *)strPcm.data();
    u32 u32Samples = (u32)strPcm.size() / 4;
    EXPECT_NEAR(HOST_AI_TONE_LEFT_HZ, TestAudio_Frequency(ps16, u32Samples, 2, 48000), 10);
    EXPECT_NEAR(HOST_AI_TONE_RIGHT_HZ, TestAudio_Frequency(ps16 + 1, u32Samples, 2, 48000), 10);
}

// ffprobe finds H.265 video of the main size and AAC at 48000 Hz in stereo
// on the AAC stream, and H.264 of the sub size on the other.
TEST_F(StreamLiveTest, FfprobeSeesVideoAndAac)
{
    const struct {
        const char *pszUri, *pszOut;
    } astCase[] = {
        {TEST_MAIN_URI, "stream|codec_name=hevc|width=1280|height=720\nstream|codec_name=aac|sample_rate=48000|channels=2\n"},
        {TEST_SUB_URI " -select_streams v", "stream|codec_name=h264|width=640|height=360\n"},
    };
    for (const auto &stCase : astCase) {
        int s32Status;
        EXPECT_EQ(stCase.pszOut, Test_Run(std::string("ffprobe -v error -rtsp_transport tcp -show_entries "
                                                      "stream=codec_name,width,height,sample_rate,channels "
                                                      "-of compact=nk=0 ") + stCase.pszUri,
                                          40, &s32Status));
        EXPECT_EQ(0, s32Status) << stCase.pszUri;
    }
}

// ffmpeg decodes pictures and the tone, over interleaved TCP and over UDP.
TEST_F(StreamLiveTest, FfmpegDecodesPicturesAndTheTone) {
    int s32Status;
    std::string strPictures = Test_Run("ffmpeg -v error -rtsp_transport tcp -i " TEST_MAIN_URI
                                       " -map 0:v -frames:v 30 -vf scale=64:36 -f rawvideo -pix_fmt gray pipe:1",
                                       40, &s32Status);
    EXPECT_EQ(0, s32Status);
    EXPECT_EQ(30u * 64 * 36, strPictures.size());
    for (const char *pszTransport : {"tcp", "udp"}) {
        std::string strPcm = Test_Run(std::string("ffmpeg -v error -rtsp_transport ") + pszTransport +
                                          " -i " TEST_MAIN_URI " -map 0:a -t 2 -f s16le -ac 2 -ar 48000 pipe:1",
                                      40, &s32Status);
        EXPECT_EQ(0, s32Status) << pszTransport;
        ExpectTone(strPcm, 48000);
    }
}

// GStreamer depacketises, parses and decodes both tracks of the AAC stream.
TEST_F(StreamLiveTest, GstreamerPlaysVideoAndAac) {
    unlink("/tmp/gst_video.raw");
    int s32Status;
    std::string strPcm = Test_Run(
        "gst-launch-1.0 -q -e rtspsrc location=" TEST_MAIN_URI " protocols=tcp name=src "
        "src. ! application/x-rtp,media=audio ! rtpmp4gdepay ! aacparse ! avdec_aac ! audioconvert ! "
        "audioresample ! audio/x-raw,format=S16LE,rate=48000,channels=2 ! fdsink fd=1 "
        "src. ! application/x-rtp,media=video ! rtph265depay ! h265parse ! avdec_h265 ! videoscale ! "
        "video/x-raw,width=64,height=36 ! videoconvert ! video/x-raw,format=GRAY8 ! "
        "filesink location=/tmp/gst_video.raw",
        10, &s32Status);
    ExpectTone(strPcm, 48000);
    struct stat st;
    ASSERT_EQ(0, stat("/tmp/gst_video.raw", &st));
    EXPECT_GE(st.st_size, 60 * 64 * 36);
    EXPECT_EQ(0, st.st_size % (64 * 36));
}

// The PCM stream carries the capture rate, and the tone in its left and
// right halves. (The rest of the layout: the wrapper tests.)
TEST_F(StreamLiveTest, PcmStreamCarriesTheBlockLayout) {
    RtspClient stClient;
    PlayTcp(&stClient, TEST_SUB_URI, "/track2", 2);
    std::string strLeft, strRight;
    for (u32 i = 0; i < 20; i++) {
        Bytes block = ReadPcmBlock(&stClient, 2);
        ASSERT_EQ(6144u, block.size());
        EXPECT_EQ((Bytes{0x80, 0xBB, 0x00, 0x00}), Bytes(block.begin() + 2048, block.begin() + 2052));
        strLeft.append((const char *)block.data(), 2048);
        strRight.append((const char *)block.data() + 4096, 2048);
    }
    const s16 *ps16Left = (const s16 *)strLeft.data(), *ps16Right = (const s16 *)strRight.data();
    EXPECT_NEAR(HOST_AI_TONE_LEFT_HZ, TestAudio_Frequency(ps16Left, (u32)strLeft.size() / 2, 1, 48000), 10);
    EXPECT_NEAR(HOST_AI_TONE_RIGHT_HZ, TestAudio_Frequency(ps16Right, (u32)strRight.size() / 2, 1, 48000), 10);
}
