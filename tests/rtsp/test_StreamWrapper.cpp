#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <mutex>
#include <string>
#include <vector>

#include "app/AVSourceMsg.h"
#include "app/Main.h"
#include "app/MainEncRange.h"
#include "app/MainProtocolSlots.h"
#include "app/MainRtspServer.h"
#include "config/ConfigAttr.h"
#include "rtsp/RtspTypes.h"
#include "tests/media/MainMediaTest.h"
#include "tests/rtsp/WrapperTest.h"

// The stream information procedure and the groups need no service.
struct StreamInfoTest : public testing::Test {
    void SetUp() override
    {
        TestMedia_Config(true);
        g_stConfigAttr.stManual.s32ID = 1;
    }
};

// IDs give the group directly; ID 0 takes it from the MAC's last two
// bytes, avoiding groups ending in .0 and .255.
TEST_F(StreamInfoTest, MulticastGroupsFromDeviceIdOrMac)
{
    const struct {
        bool bMain;
        s32 s32Id;
        const char *pszMac, *pszGroup;
    } astCase[] = {
        {true, 1, "", "234.0.100.1"},
        {true, 300, "", "234.0.101.44"},
        {false, 762, "", "234.1.102.250"},
        {true, 0, "02:00:00:00:12:34", "234.0.53.18"},
        {true, 0, "02:00:00:00:00:FF", "234.0.0.128"},
        {false, 0, "02:00:00:00:00:FF", "234.1.0.128"},
        {true, 0, "02:00:00:00:ff:fe", "234.0.255.127"},
        {true, 0, "02:00:00:00:01:ff", "234.0.0.1"},
    };
    for (const auto &stCase : astCase) {
        strcpy(g_stMainServerAttr.stConifg.azMac, stCase.pszMac);
        char az[64];
        if (stCase.bMain)
            MAIN_get_main_RTSP_multicast_ip(stCase.s32Id, az, sizeof(az));
        else
            MAIN_get_sub_RTSP_multicast_ip(stCase.s32Id, az, sizeof(az));
        EXPECT_STREQ(stCase.pszGroup, az) << stCase.s32Id << " " << stCase.pszMac;
    }
}

// Each stream's information names its own group; a channel of no stream
// answers nothing (not stale data), and an unknown audio word maps to the
// last codec.
TEST_F(StreamInfoTest, GroupsChannelsAndWords)
{
    RtspVideoInfo_S stVideo;
    ASSERT_EQ(0, MAIN_Rtspserver_StreamInfo(0, RTSP_INFO_VIDEO, &stVideo));
    EXPECT_STREQ("234.0.100.1", stVideo.azMulticastIp);
    memset(&stVideo, 0x5A, sizeof(stVideo));
    ASSERT_EQ(0, MAIN_Rtspserver_StreamInfo(2, RTSP_INFO_VIDEO, &stVideo));
    EXPECT_EQ(0, stVideo.enCodec);
    EXPECT_EQ(0u, stVideo.u32Width);
    RtspAudioInfo_S stAudio;
    for (s32 s32Word : {9, -1}) {
        g_stMainServerAttr.stMainMediaAttr.enSubAudioCodec = s32Word;
        ASSERT_EQ(0, MAIN_Rtspserver_StreamInfo(7, RTSP_INFO_AUDIO, &stAudio));
        EXPECT_EQ(RTSP_AUDIO_CODEC_PCM, stAudio.enCodec) << s32Word;
        EXPECT_STREQ("234.1.100.1", stAudio.azMulticastIp);
    }
}

// Slot rules: a used slot or name is not taken again, ids stop at 15, a
// free slot is not stopped; the descriptors follow what the wrapper did.
TEST_F(WrapperTest, SlotsAndDescriptors)
{
    RtspServerAttr_S *pstCtx = Ctx();
    EXPECT_EQ(1, RtspServer_StartStream(pstCtx, 0, "main/av_stream"));
    EXPECT_EQ(-1, RtspServer_StartStream(pstCtx, 6, "main/av_stream"));
    EXPECT_EQ(-1, RtspServer_StartStream(pstCtx, 16, "x"));
    EXPECT_EQ(-1, RtspServer_StopStream(pstCtx, -1));
    EXPECT_EQ(1, RtspServer_StopStream(pstCtx, 5));
    u32 u32Count = 9;
    EXPECT_EQ(1, RtspServer_GetStreamInfo(pstCtx, 5, &u32Count));
    ASSERT_EQ(0, RtspServer_StartStream(pstCtx, 5, "extra"));
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    EXPECT_EQ(500, stClient.Request("DESCRIBE", "rtsp://127.0.0.1/live/extra"));   // published, but no encoder
    EXPECT_EQ(0, RtspServer_StopStream(pstCtx, 5));
    EXPECT_EQ(404, stClient.Request("DESCRIBE", "rtsp://127.0.0.1/live/extra"));

    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    EXPECT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &pstNet->stMainStream));   // started already
    EXPECT_EQ(0, MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream));
    EXPECT_EQ(0u, pstNet->stMainStream.bStart);
    EXPECT_EQ(0, MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream));
    EXPECT_EQ(0, MAIN_RtspServer_GetStreamInfo(pstNet, &pstNet->stMainStream));
    EXPECT_EQ(404, stClient.Request("DESCRIBE", TEST_MAIN_URI));
    RtspStreamDesc_S stBad = {0, 16, "bad"};
    EXPECT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &stBad));   // refused, only logged
    EXPECT_EQ(0u, stBad.bStart);
}

// DESCRIBE offers the built-in parameter sets until the stream has its own;
// a pack with an unknown unit, or a unit pointing outside the pack, stores
// what came before it and no more; a restarted stream forgets its sets.
TEST_F(WrapperTest, ParameterSetsFollowTheStream)
{
    MainMediaAttr_S &stAttr = g_stMainServerAttr.stMainMediaAttr;
    stAttr.stMainVencAttr.enVencType = MEDIA_VENC_H264;
    EXPECT_EQ("Z00AMpY1QEABg03AQEBAgA==,aO48gA==", Sprop(TEST_MAIN_URI, "sprop-parameter-sets="));
    TestPack stPack({{MI_VENC_H264_NAL_SPS, {0x67, 0x42, 0x00, 0x1E}}, {9, {0x09, 0xF0}},
                     {MI_VENC_H264_NAL_PPS, {0x68, 0xCE, 0x06}}});
    EXPECT_EQ(-1, RtspServer_SendVFrame(Ctx(), 0, &stPack.stStream));
    EXPECT_EQ("Z0IAHg==,aO48gA==", Sprop(TEST_MAIN_URI, "sprop-parameter-sets="));
    TestPack stOutside({{MI_VENC_H264_NAL_SPS, {0x67, 0x42, 0x00, 0x20}}, {MI_VENC_H264_NAL_PPS, {0x68, 0xCE}}});
    stOutside.packs[0].asPackInfo[1].u32PackLength = 4096;
    EXPECT_EQ(-1, RtspServer_SendVFrame(Ctx(), 0, &stOutside.stStream));
    EXPECT_EQ("Z0IAIA==,aO48gA==", Sprop(TEST_MAIN_URI, "sprop-parameter-sets="));
    TestPack stGood({{MI_VENC_H264_NAL_SPS, {0x67, 0x42, 0x00, 0x1F}}, {MI_VENC_H264_NAL_PPS, {0x68, 0xCE, 0x06}},
                     {MI_VENC_H264_NAL_ISLICE, {0x65, 0x88}}});
    EXPECT_EQ(0, RtspServer_SendVFrame(Ctx(), 0, &stGood.stStream));
    EXPECT_EQ("Z0IAHw==,aM4G", Sprop(TEST_MAIN_URI, "sprop-parameter-sets="));

    stAttr.stMainVencAttr.enVencType = MEDIA_VENC_H265;
    TestPack stHevc({{MI_VENC_H265_NAL_VPS, {0x40, 0x01, 0x0C}}, {MI_VENC_H265_NAL_SPS, {0x42, 0x01, 0x01, 0x01}},
                     {MI_VENC_H265_NAL_PPS, {0x44, 0x01, 0xC1}}, {MI_VENC_H265_NAL_ISLICE, {0x26, 0x01, 0xAF}}});
    EXPECT_EQ(0, RtspServer_SendVFrame(Ctx(), 0, &stHevc.stStream));
    EXPECT_EQ("QAEM", Sprop(TEST_MAIN_URI, "sprop-vps="));
    EXPECT_EQ("QgEBAQ==", Sprop(TEST_MAIN_URI, "sprop-sps="));
    ASSERT_EQ(0, MAIN_RTSP_Restart());
    EXPECT_EQ("", Sprop(TEST_MAIN_URI, "sprop-vps="));
}

// The video and the audio half of each stream's table find their own
// slot: each stream is described with its own codecs.
TEST_F(WrapperTest, EachHalfFindsItsOwnStream)
{
    const struct { const char *pszUri, *pszVideo, *pszAudio; } astCases[] = {
        {TEST_MAIN_URI, "a=rtpmap:98 H265/90000\r\n", "a=rtpmap:97 MPEG4-GENERIC/48000/2\r\n"},
        {TEST_SUB_URI, "a=rtpmap:96 H264/90000\r\n", "a=rtpmap:108 WAV/48000/2\r\n"},
    };
    for (const auto &c : astCases) {
        RtspClient stClient;
        ASSERT_TRUE(stClient.Connect());
        ASSERT_EQ(200, stClient.Request("DESCRIBE", c.pszUri));
        size_t posAudio = stClient.strBody.find("m=audio");
        EXPECT_LT(stClient.strBody.find(c.pszVideo), posAudio) << c.pszUri;
        EXPECT_NE(std::string::npos, stClient.strBody.find(c.pszAudio, posAudio)) << c.pszUri;
    }
}

// PLAY asks the stream's channel for a key frame; the video that follows
// starts at a parameter set and carries the HDCP SEI the supervisor sends.
TEST_F(WrapperTest, PlayRequestsAKeyFrameAndSeiReachesTheClient)
{
    g_stMainServerAttr.stMainMediaAttr.stMainVencAttr.enVencType = MEDIA_VENC_H264;
    g_bRequestIDR[0] = g_bRequestIDR[1] = 0;
    RtspClient stClient;
    PlayTcp(&stClient, TEST_MAIN_URI, "/track1", 0);
    EXPECT_EQ(1, g_bRequestIDR[0].load());
    EXPECT_EQ(0, g_bRequestIDR[1].load());
    ASSERT_EQ(0, RtspServer_SendVSEICmdFrame(Ctx(), 0, 1));   // before any parameter set: not sent
    TestPack stPack({{MI_VENC_H264_NAL_SPS, {0x67, 0x42, 0x00, 0x1E}}});
    ASSERT_EQ(0, RtspServer_SendVFrame(Ctx(), 0, &stPack.stStream));
    ASSERT_EQ(0, RtspServer_SendVSEICmdFrame(Ctx(), 0, 1));
    EXPECT_EQ((std::vector<Bytes>{{0x67, 0x42, 0x00, 0x1E}, {0x06, 0xFF, 0xA5, 0x00, 0x02}}), ReadRtp(&stClient, 0, 2));
}

// A PCM frame goes out as its left half, the rate, and the rest of the
// buffer up to the end of the right half; a frame too long for the PCM
// buffer is refused.
TEST_F(WrapperTest, PcmBlockLayout)
{
    RtspClient stClient;
    PlayTcp(&stClient, TEST_SUB_URI, "/track2", 2);
    std::vector<u8> buf(8192, 0);
    for (u32 i = 0; i < 2048; i++)
        buf[i] = (u8)i, buf[4096 + i] = (u8)(i + 1);
    MediaAudioFrame_S stFrame = MediaAudioFrame_S();
    stFrame.apData[0] = buf.data();
    stFrame.u32Len = 4096;
    stFrame.enSoundmode = 1;
    ASSERT_EQ(0, RtspServer_SendAPCMFrame(Ctx(), 1, 44100, &stFrame));
    Bytes block = ReadPcmBlock(&stClient, 2);
    ASSERT_EQ(6144u, block.size());
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + 2048), Bytes(block.begin(), block.begin() + 2048));
    EXPECT_EQ((Bytes{0x44, 0xAC, 0x00, 0x00}), Bytes(block.begin() + 2048, block.begin() + 2052));
    EXPECT_EQ(Bytes(2044, 0), Bytes(block.begin() + 2052, block.begin() + 4096));
    EXPECT_EQ(Bytes(buf.begin() + 4096, buf.begin() + 6144), Bytes(block.begin() + 4096, block.end()));
    stFrame.u32Len = 8192;
    EXPECT_EQ(-1, RtspServer_SendAPCMFrame(Ctx(), 1, 44100, &stFrame));
    EXPECT_EQ(0, RtspServer_SendAPCMFrame(Ctx(), 9, 44100, &stFrame));   // not published: dropped
}

// The exit path stops both streams and takes the wrapper down, which then
// comes up again on the same port.
TEST_F(WrapperTest, ExitTakesTheWrapperDownAndItComesUpAgain)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    ASSERT_EQ(0, MAIN_Exit_Pthread());
    EXPECT_EQ(0u, pstNet->bRtspStart);
    EXPECT_EQ(0u, pstNet->stMainStream.bStart + pstNet->stSubStream.bStart);
    RtspClient stClient;
    EXPECT_FALSE(stClient.Connect());
    EXPECT_EQ(-1, MAIN_Exit_Pthread());   // nothing to stop
    EXPECT_EQ(-1, MAIN_RtspServer_StartStream(pstNet, &pstNet->stMainStream));
    EXPECT_EQ(0, MAIN_RtspServer_deInit(pstNet));
    ASSERT_EQ(0, MAIN_RtspServer_Init(pstNet));
    EXPECT_EQ(0, MAIN_RtspServer_Init(pstNet));
    ASSERT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &pstNet->stMainStream));
    ASSERT_EQ(0, MAIN_RtspServer_StartStream(pstNet, &pstNet->stSubStream));
    ASSERT_TRUE(stClient.Connect());
    EXPECT_EQ(200, stClient.Request("DESCRIBE", TEST_MAIN_URI));
    const std::string strTcp = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
    EXPECT_EQ(503, stClient.Request("SETUP", TEST_MAIN_URI "/track1", strTcp));   // nothing locked yet
    ASSERT_EQ(0, MAIN_RtspServer_SetSignal(pstNet, 1));
    EXPECT_EQ(200, stClient.Request("SETUP", TEST_MAIN_URI "/track1", strTcp));
}

// Without an input the streams stay published and described, but end
// their players and refuse SETUP and PLAY with 503, not a PLAY that never
// sends; the word outlives a restart of the streams, and with the input
// back they play again.
TEST_F(WrapperTest, StreamsWithoutSignalRefuseAndEndTheirPlayers)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    const std::string strTcp = "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n";
    RtspClient stPlayer;
    PlayTcp(&stPlayer, TEST_MAIN_URI, "/track1", 0);
    ASSERT_EQ(1, MAIN_RtspServer_GetStreamInfo(pstNet, &pstNet->stMainStream));

    ASSERT_EQ(0, MAIN_RtspServer_SetSignal(pstNet, 0));
    EXPECT_EQ(0, MAIN_RtspServer_GetStreamInfo(pstNet, &pstNet->stMainStream));
    // The player is told: its connection closes (0: no reply), or, asking
    // before the close is done, it is refused.
    s32 s32Code = stPlayer.Request("PLAY", TEST_MAIN_URI, stPlayer.SessionLine());
    EXPECT_TRUE(s32Code == 0 || s32Code == 503) << s32Code;
    RtspClient stNew;
    ASSERT_TRUE(stNew.Connect());
    EXPECT_EQ(503, stNew.Request("PLAY", TEST_MAIN_URI, stPlayer.SessionLine()));
    EXPECT_NE(std::string::npos, stNew.strReply.find("RTSP/1.0 503 Service Unavailable\r\n"));
    for (const char *pszUri : {TEST_MAIN_URI, TEST_SUB_URI}) {
        EXPECT_EQ(200, stNew.Request("DESCRIBE", pszUri)) << pszUri;
        EXPECT_EQ(503, stNew.Request("SETUP", std::string(pszUri) + "/track1", strTcp)) << pszUri;
    }
    EXPECT_EQ(0, MAIN_RtspServer_GetStreamInfo(pstNet, &pstNet->stMainStream));

    ASSERT_EQ(0, MAIN_RTSP_Restart());
    EXPECT_EQ(503, stNew.Request("SETUP", TEST_MAIN_URI "/track1", strTcp));
    ASSERT_EQ(0, MAIN_RtspServer_SetSignal(pstNet, 1));
    RtspClient stAgain;
    PlayTcp(&stAgain, TEST_MAIN_URI, "/track1", 0);
    EXPECT_EQ(1, MAIN_RtspServer_GetStreamInfo(pstNet, &pstNet->stMainStream));
}

// The restart for a new device ID waits for a rebuild that holds the media
// lock and stops and starts the same streams; it then restarts both, so
// neither skips the other's step.
TEST_F(WrapperTest, IdRestartWaitsForARebuild)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    RtspStreamDesc_S *apstDesc[] = {&pstNet->stMainStream, &pstNet->stSubStream};
    std::future<s32> restart;
    {
        std::lock_guard<std::mutex> lock(g_MediaMutex);
        for (RtspStreamDesc_S *pstDesc : apstDesc)
            ASSERT_EQ(0, MAIN_RtspServer_StopStream(pstNet, pstDesc));
        restart = std::async(std::launch::async, MAIN_RTSP_Restart);
        EXPECT_EQ(std::future_status::timeout, restart.wait_for(std::chrono::milliseconds(400)));
        for (RtspStreamDesc_S *pstDesc : apstDesc) {
            EXPECT_EQ(0u, pstDesc->bStart);
            ASSERT_EQ(0, MAIN_RtspServer_StartStream(pstNet, pstDesc));
        }
    }
    ASSERT_EQ(0, restart.get());
    for (RtspStreamDesc_S *pstDesc : apstDesc)
        EXPECT_EQ(1u, pstDesc->bStart);
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    EXPECT_EQ(200, stClient.Request("DESCRIBE", TEST_MAIN_URI));
}

// A "config set tx params" request for the main stream as the settings of
// the fixture have it (H.265 with AAC), with this bit rate and rate.
static ProtocolEncodeParams_S EncRequest(u32 u32Bitrate, u32 u32Fps)
{
    ProtocolEncodeParams_S st = {};
    st.enEncType = 2;
    st.u32Fps = u32Fps;
    st.enRateControl = 2;
    st.u32Bitrate = u32Bitrate;
    st.enAudioCodec = 1;
    st.u32AudioFreq = 48000;
    st.u32AudioBitrate = 131072;
    return st;
}

// A value the encoder or the audio chain cannot run changes nothing: not
// the settings, not the encoder's attributes, and the main stream stays
// published. The edges of each range are taken.
TEST_F(WrapperTest, EncoderRequestOutOfRangeChangesNothing)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    const ConfigStreamAttr_S stStored = g_stConfigAttr.stMainAttr;
    const MediaVencAttr_S stVenc = g_stMainServerAttr.stMainMediaAttr.stMainVencAttr;
    std::vector<ProtocolEncodeParams_S> astBad;
    for (u32 u32Bitrate : {0u, 0xFFFFFFFFu, (u32)MAIN_ENC_MIN_BITRATE - 1, (u32)MAIN_ENC_MAX_BITRATE + 1})
        astBad.push_back(EncRequest(u32Bitrate, 30));
    for (u32 u32Fps : {0u, (u32)MAIN_ENC_MAX_FPS + 1})
        astBad.push_back(EncRequest(4000, u32Fps));
    astBad.push_back(EncRequest(4000, 30));
    astBad.back().u32AudioInput = MAIN_AUDIO_MAX_INPUT + 1;
    astBad.push_back(EncRequest(4000, 30));
    astBad.back().u32AudioFreq = 96000;
    astBad.push_back(EncRequest(4000, 30));
    astBad.back().u32AudioBitrate = 0;
    for (const ProtocolEncodeParams_S &stBad : astBad) {
        SCOPED_TRACE(std::to_string(stBad.u32Bitrate) + " " + std::to_string(stBad.u32Fps));
        EXPECT_EQ(0, Main_Protocolserver_setEncodeparams(nullptr, &stBad));
        EXPECT_EQ(0, memcmp(&stStored, &g_stConfigAttr.stMainAttr, sizeof(stStored)));
        EXPECT_EQ(0, memcmp(&stVenc, &g_stMainServerAttr.stMainMediaAttr.stMainVencAttr, sizeof(stVenc)));
        EXPECT_EQ(1u, pstNet->stMainStream.bStart);
    }
    const struct { u32 u32Bitrate, u32Fps; } astEdge[] = {
        {MAIN_ENC_MAX_BITRATE, MAIN_ENC_MIN_FPS}, {MAIN_ENC_MIN_BITRATE, MAIN_ENC_MAX_FPS}};
    for (const auto &stEdge : astEdge) {
        ProtocolEncodeParams_S stGood = EncRequest(stEdge.u32Bitrate, stEdge.u32Fps);
        EXPECT_EQ(0, Main_Protocolserver_setEncodeparams(nullptr, &stGood));
        EXPECT_EQ(stEdge.u32Bitrate, g_stConfigAttr.stMainAttr.u32Videobitrate);
        EXPECT_EQ(stEdge.u32Fps, g_stConfigAttr.stMainAttr.u32Fps);
        EXPECT_EQ(stEdge.u32Bitrate, g_stMainServerAttr.stMainMediaAttr.stMainVencAttr.u32BitRate);
    }
}

// The getter reports MAIN_SAMPLE_NONE while no audio runs; a controller
// that sends back what it read changes the rest and keeps the stored rate.
TEST_F(WrapperTest, EncoderRequestEchoingNoAudioKeepsTheStoredRate)
{
    const u32 u32Freq = g_stConfigAttr.stMainAttr.u32Audiofreq;
    ProtocolEncodeParams_S stReq = EncRequest(5000, 25);
    stReq.u32AudioFreq = MAIN_SAMPLE_NONE;
    EXPECT_EQ(0, Main_Protocolserver_setEncodeparams(nullptr, &stReq));
    EXPECT_EQ(5000u, g_stConfigAttr.stMainAttr.u32Videobitrate);
    EXPECT_EQ(25u, g_stConfigAttr.stMainAttr.u32Fps);
    EXPECT_EQ(u32Freq, g_stConfigAttr.stMainAttr.u32Audiofreq);
}

// Without a codec change the request publishes the main stream again when
// an earlier failed switch left it stopped.
TEST_F(WrapperTest, EncoderRequestBringsBackAStoppedMainStream)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    ASSERT_EQ(0, MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream));
    ProtocolEncodeParams_S stReq = EncRequest(3000, 30);
    EXPECT_EQ(0, Main_Protocolserver_setEncodeparams(nullptr, &stReq));
    EXPECT_EQ(1u, pstNet->stMainStream.bStart);
    EXPECT_EQ(MAIN_AUDIO_CODEC_AAC, g_stMainServerAttr.stMainMediaAttr.enMainAudioCodec);
    EXPECT_EQ(3000u, g_stMainServerAttr.stMainMediaAttr.stMainVencAttr.u32BitRate);
    RtspClient stClient;
    ASSERT_TRUE(stClient.Connect());
    EXPECT_EQ(200, stClient.Request("DESCRIBE", TEST_MAIN_URI));
}
