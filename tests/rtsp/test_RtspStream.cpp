// Pre-encoded H.264, H.265 and AAC streams pushed into a media stream and
// checked packet by packet: fragments with their sizes, S/E bits and
// markers, AAC AU headers, PCM block flags, time stamps and sequence
// numbers; and a TCP client too slow to keep up.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sys/socket.h>
#include <unistd.h>

#include "rtsplib/include/RtpPace.h"
#include "rtsplib/src/rtp/RtpPacker.h"
#include "rtsp/RtspServicePriv.h"
#include "tests/rtsp/RtspTestService.h"

struct RtpPacket {
    bool bMarker;
    u8 u8Pt;
    u16 u16Seq;
    u32 u32Time;
    u32 u32Ssrc;
    Bytes vecPayload;
};

static RtpPacket Rtp_Parse(const Bytes &vec)
{
    RtpPacket stPkt = {};
    EXPECT_GE(vec.size(), 12u);
    if (vec.size() < 12)
        return stPkt;
    EXPECT_EQ(0x80, vec[0]);   // version 2, nothing else
    stPkt.bMarker = vec[1] & 0x80;
    stPkt.u8Pt = vec[1] & 0x7F;
    stPkt.u16Seq = (u16)(vec[2] << 8 | vec[3]);
    stPkt.u32Time = (u32)vec[4] << 24 | (u32)vec[5] << 16 | (u32)vec[6] << 8 | vec[7];
    stPkt.u32Ssrc = (u32)vec[8] << 24 | (u32)vec[9] << 16 | (u32)vec[10] << 8 | vec[11];
    stPkt.vecPayload.assign(vec.begin() + 12, vec.end());
    return stPkt;
}

// One unit pushed: its bytes and time.
struct Pushed {
    Bytes vecData;
    u64 u64PtsUs;
};

// The packets one NAL unit must have become, from *pIndex on.
static void Expect_Nal(const Pushed &stUnit, bool bH265, u32 u32Max, const std::vector<RtpPacket> &vecPkt,
                       size_t *pIndex)
{
    const Bytes &vec = stUnit.vecData;
    size_t off = vec[2] == 1 ? 3 : 4, end = vec.size();
    while (end > off && vec[end - 1] == 0)
        end--;
    Bytes vecNal(vec.begin() + off, vec.begin() + end);
    size_t head = bH265 ? 2 : 1, prefix = bH265 ? 3 : 2, chunk = u32Max - prefix;
    size_t count = vecNal.size() < u32Max ? 1 : (vecNal.size() - head + chunk - 1) / chunk;
    ASSERT_LE(*pIndex + count, vecPkt.size()) << "missing packets";
    for (size_t i = 0; i < count; i++) {
        const RtpPacket &stPkt = vecPkt[*pIndex + i];
        EXPECT_EQ(rtp_time(stUnit.u64PtsUs, 90000), stPkt.u32Time);
        EXPECT_EQ(i + 1 == count, stPkt.bMarker) << "packet " << i << " of " << count;
        if (count == 1) {
            EXPECT_EQ(vecNal, stPkt.vecPayload);
            continue;
        }
        size_t from = head + i * chunk, len = std::min(chunk, vecNal.size() - from);
        ASSERT_EQ(prefix + len, stPkt.vecPayload.size());
        u8 u8Flags = (u8)((i == 0 ? 0x80 : 0) | (i + 1 == count ? 0x40 : 0));
        if (bH265) {
            EXPECT_EQ(0x62, stPkt.vecPayload[0]);
            EXPECT_EQ(0x01, stPkt.vecPayload[1]);
            EXPECT_EQ(u8Flags | ((vecNal[0] >> 1) & 0x3F), stPkt.vecPayload[2]);
        } else {
            EXPECT_EQ((vecNal[0] & 0xE0) | 28, stPkt.vecPayload[0]);
            EXPECT_EQ(u8Flags | (vecNal[0] & 0x1F), stPkt.vecPayload[1]);
        }
        EXPECT_TRUE(std::equal(vecNal.begin() + from, vecNal.begin() + from + len, stPkt.vecPayload.begin() + prefix));
    }
    *pIndex += count;
}

// The same RTP session throughout: one SSRC, one payload type, sequence
// numbers one after another from the first.
static void Expect_Session(const std::vector<RtpPacket> &vecPkt, u8 u8Pt, u16 u16FirstSeq)
{
    for (size_t i = 0; i < vecPkt.size(); i++) {
        EXPECT_EQ(u8Pt, vecPkt[i].u8Pt);
        EXPECT_EQ(vecPkt[0].u32Ssrc, vecPkt[i].u32Ssrc);
        EXPECT_EQ((u16)(u16FirstSeq + i), vecPkt[i].u16Seq) << i;
    }
}

static std::vector<RtpPacket> Udp_Drain(int s32Fd)
{
    std::vector<RtpPacket> vecPkt;
    for (const Bytes &vec : Net_UdpDrain(s32Fd))
        vecPkt.push_back(Rtp_Parse(vec));
    return vecPkt;
}

struct RtspStreamTest : public RtspServiceFixture {
    // Pushes pictures as the wrapper does; the units pushed.
    std::vector<Pushed> PushVideo(const std::vector<TestPicture> &vecPic)
    {
        std::vector<Pushed> vecUnit;
        for (const TestPicture &stPic : vecPic) {
            for (const Bytes &vecNal : stPic.vecNal) {
                EXPECT_EQ(0, FakeStream_PushVideo(&stMain, vecNal, 5000000000ull + stPic.u64PtsUs));
                vecUnit.push_back({vecNal, 5000000000ull + stPic.u64PtsUs});
            }
        }
        return vecUnit;
    }
    // minFragmented: the units known to need more than one packet.
    void ExpectVideo(const std::vector<Pushed> &vecUnit, const std::vector<RtpPacket> &vecPkt, bool bH265, u32 u32Max,
                     u16 u16Seq, size_t minFragmented = 3)
    {
        size_t index = 0, fragmented = 0;
        for (const Pushed &stUnit : vecUnit) {
            size_t before = index;
            ASSERT_NO_FATAL_FAILURE(Expect_Nal(stUnit, bH265, u32Max, vecPkt, &index));
            fragmented += index - before > 1;
        }
        EXPECT_EQ(vecPkt.size(), index);
        EXPECT_GE(fragmented, minFragmented);
        Expect_Session(vecPkt, bH265 ? 98 : 96, u16Seq);
    }
};

// Over UDP, and interleaved, where packets carry 1444 bytes at most.
TEST_F(RtspStreamTest, VideoPacketByPacket)
{
    const struct {
        bool bH265, bTcp;
    } astCase[] = {{false, false}, {true, false}, {false, true}};
    for (const auto &stCase : astCase) {
        std::vector<TestPicture> vecPic = TestMedia_Video(stCase.bH265 ? "libx265" : "libx264", 640, 360, 30, 2000, 12, 6);
        ASSERT_EQ(12u, vecPic.size());
        stMain.stVideoInfo.u32PayloadType = stCase.bH265 ? RTSP_PAYLOAD_H265 : RTSP_PAYLOAD_H264;
        Republish();
        RtspClient stClient;
        u16 u16Seq = 0;
        int s32Fd = stCase.bTcp ? -1 : PlayUdp(&stClient, "/track1", &u16Seq);
        if (stCase.bTcp)
            u16Seq = Play(&stClient, "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=4-5\r\n");
        std::vector<Pushed> vecUnit = PushVideo(vecPic);
        std::vector<RtpPacket> vecPkt;
        if (stCase.bTcp) {
            stClient.ReadFrames(300);
            for (const TestInterleaved &stFrame : stClient.vecFrames) {
                EXPECT_EQ(4, stFrame.u8Channel);
                vecPkt.push_back(Rtp_Parse(stFrame.vecData));
            }
        } else {
            vecPkt = Udp_Drain(s32Fd);
            close(s32Fd);
        }
        ExpectVideo(vecUnit, vecPkt, stCase.bH265, stCase.bTcp ? 1444 : 1450, u16Seq);
    }
}

// AAC at 44.1 kHz: ADTS headers without CRC go, one with CRC stays; each
// packet has the AU header section of one AU with its size; time stamps
// are exact however late (44.1 per millisecond must not drift).
TEST_F(RtspStreamTest, AacOverUdpPacketByPacket)
{
    std::vector<Bytes> vecAdts = TestMedia_Aac(44100, 2, 20);
    ASSERT_EQ(20u, vecAdts.size());
    stMain.stAudioInfo.u32SampleRate = 44100;
    RtspClient stClient;
    u16 u16Seq = 0;
    int s32Fd = PlayUdp(&stClient, "/track2", &u16Seq);
    std::vector<Bytes> vecAu;
    std::vector<Pushed> vecUnit;
    for (size_t i = 0; i < vecAdts.size(); i++) {
        vecAu.push_back(Bytes(vecAdts[i].begin() + 7, vecAdts[i].end()));
        vecUnit.push_back({i % 2 ? vecAdts[i] : vecAu[i], 3600000000ull + i * 1024000000 / 44100});
    }
    Bytes vecCrc = vecAdts[0];
    vecCrc[1] = 0xF0;   // protection present
    vecUnit.push_back({vecCrc, 3600500000ull});
    vecUnit.push_back({Bytes(3000, 0x5A), 3600600000ull});   // longer than a packet
    for (const Pushed &stUnit : vecUnit)
        EXPECT_EQ(0, FakeStream_PushAudio(&stMain, stUnit.vecData, stUnit.u64PtsUs));
    std::vector<RtpPacket> vecPkt = Udp_Drain(s32Fd);
    ASSERT_EQ(vecUnit.size() + 2, vecPkt.size());
    EXPECT_EQ(3600u * 44100, vecPkt[0].u32Time);
    EXPECT_EQ(3600u * 44100 + 1023, vecPkt[1].u32Time);   // 1024 samples less the truncated microsecond
    for (size_t i = 0; i < vecUnit.size(); i++) {
        bool bAdts = i < vecAu.size() && i % 2;
        const Bytes &vecAuOut = bAdts ? vecAu[i] : vecUnit[i].vecData;
        size_t size = vecAuOut.size();
        const Bytes vecHead = {0x00, 0x10, (u8)(size >> 5), (u8)(size << 3)};
        for (size_t k = 0; k < (size > 1446 ? 3u : 1u); k++) {
            const RtpPacket &stPkt = vecPkt[i + k];
            EXPECT_TRUE(std::equal(vecHead.begin(), vecHead.end(), stPkt.vecPayload.begin())) << i;
            EXPECT_EQ(rtp_time(vecUnit[i].u64PtsUs, 44100), stPkt.u32Time);
            EXPECT_EQ(size <= 1436 || k == 2, stPkt.bMarker);
            size_t from = k * 1436, len = std::min<size_t>(1436, size - from);
            ASSERT_EQ(4 + len, stPkt.vecPayload.size());
            EXPECT_TRUE(std::equal(vecAuOut.begin() + from, vecAuOut.begin() + from + len, stPkt.vecPayload.begin() + 4));
        }
    }
    Expect_Session(vecPkt, 97, u16Seq);
    close(s32Fd);
}

// Raw PCM: every packet has the marker and the block header with the
// frame's whole length; flags tell a lone block, first, middle and last.
TEST_F(RtspStreamTest, PcmBlocksCarryFlags)
{
    stMain.stAudioInfo.u32PayloadType = RTSP_PAYLOAD_PCM;
    Republish();
    RtspClient stClient;
    u16 u16Seq = 0;
    int s32Fd = PlayUdp(&stClient, "/track2", &u16Seq);
    const struct {
        u32 u32Len;
        Bytes vecFlags;
    } astCase[] = {{500, {0x90}}, {1436, {0x90}}, {2000, {0x10, 0x80}}, {4000, {0x10, 0x40, 0x80}}};
    Bytes vecAll;
    for (const auto &stCase : astCase) {
        Bytes vecFrame(stCase.u32Len);
        for (size_t i = 0; i < vecFrame.size(); i++)
            vecFrame[i] = (u8)(i * 7);
        ASSERT_EQ(0, FakeStream_PushAudio(&stMain, vecFrame, 1000000));
        vecAll.insert(vecAll.end(), vecFrame.begin(), vecFrame.end());
    }
    std::vector<RtpPacket> vecPkt = Udp_Drain(s32Fd);
    ASSERT_EQ(7u, vecPkt.size());
    Bytes vecJoined;
    size_t k = 0;
    for (const auto &stCase : astCase) {
        for (u8 u8Flags : stCase.vecFlags) {
            const Bytes &vecPay = vecPkt[k].vecPayload;
            EXPECT_TRUE(vecPkt[k].bMarker);
            EXPECT_EQ(48000u, vecPkt[k].u32Time);
            EXPECT_EQ((Bytes{0x00, u8Flags, (u8)(stCase.u32Len >> 8), (u8)stCase.u32Len}),
                      Bytes(vecPay.begin(), vecPay.begin() + 4)) << k;
            EXPECT_LE(vecPay.size(), 1440u);
            vecJoined.insert(vecJoined.end(), vecPay.begin() + 4, vecPay.end());
            k++;
        }
    }
    EXPECT_EQ(vecAll, vecJoined);
    Expect_Session(vecPkt, 108, u16Seq);
    close(s32Fd);
}

// Units of the interleaved stream as they arrive: whole NAL units only.
static std::vector<Bytes> Tcp_Units(const std::vector<TestInterleaved> &vecFrames)
{
    std::vector<Bytes> vecUnit;
    Bytes vecFu;
    for (const TestInterleaved &stFrame : vecFrames) {
        RtpPacket stPkt = Rtp_Parse(stFrame.vecData);
        const Bytes &vec = stPkt.vecPayload;
        if ((vec[0] & 0x1F) != 28) {
            EXPECT_TRUE(vecFu.empty()) << "a fragmented unit was cut short";
            vecUnit.push_back(vec);
            continue;
        }
        if (vec[1] & 0x80) {
            EXPECT_TRUE(vecFu.empty()) << "a fragmented unit was cut short";
            vecFu = {(u8)((vec[0] & 0xE0) | (vec[1] & 0x1F))};
        }
        vecFu.insert(vecFu.end(), vec.begin() + 2, vec.end());
        if (vec[1] & 0x40) {
            vecUnit.push_back(vecFu);
            vecFu.clear();
        }
    }
    EXPECT_TRUE(vecFu.empty());
    return vecUnit;
}

// A key frame bigger than the connection's usual share of the queue still
// reaches a player that reads, whole, after its parameter sets.
TEST_F(RtspStreamTest, LargeKeyFrameReachesTcpPlayer)
{
    TestPicture stKey = TestMedia_Video("libx264", 640, 360, 30, 8000, 1, 30)[0];
    Bytes vecIdr = {0, 0, 0, 1, 0x65};
    vecIdr.resize(vecIdr.size() + 600 * 1024, 0x5a);
    for (Bytes &vecNal : stKey.vecNal)
        if ((vecNal[vecNal[2] == 1 ? 3 : 4] & 0x1F) == 5)
            vecNal = vecIdr;
    RtspClient stTcp;
    ASSERT_TRUE(stTcp.Connect());
    Play(&stTcp, "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
    PushVideo({stKey});
    stTcp.ReadFrames(300);
    std::vector<Bytes> vecUnits = Tcp_Units(stTcp.vecFrames);
    ASSERT_EQ(stKey.vecNal.size(), vecUnits.size());
    EXPECT_EQ(7, vecUnits[0][0] & 0x1F);
    EXPECT_EQ(Bytes(vecIdr.begin() + 4, vecIdr.end()), vecUnits.back());
}

// The waits the sender asked for between bursts, each with the next
// sequence number of a UDP session then: where in the unit it waited.
struct PaceWait {
    u16 u16Seq;
    u32 u32Us;
};
static struct {
    const MediaSourceFunc_S *pstFunc;
    void *pvSource;
    std::vector<PaceWait> vecWait;
} s_stPace;

static void Pace_Record(u32 u32Us)
{
    u16 u16Seq = 0;
    u32 u32Time;
    EXPECT_EQ(0, s_stPace.pstFunc->pfnGetRtpInfo(s_stPace.pvSource, MEDIA_TRACK_VIDEO, &u16Seq, &u32Time));
    s_stPace.vecWait.push_back({u16Seq, u32Us});
}

// A key frame of 128 packets reaches a UDP player whole and in order; the
// sender hands it over in bursts of RTP_PACE_BURST packets and waits
// RTP_PACE_GAP_US after each but the last (the times themselves: the
// benchmark); an interleaved player beside it gets it whole.
TEST_F(RtspStreamTest, LargeKeyFrameGoesToUdpInBursts)
{
    TestPicture stKey = TestMedia_Video("libx264", 640, 360, 30, 2000, 1, 30)[0];
    Bytes vecIdr = Net_Nal(0x65, 1 + 1448 * 128);
    for (Bytes &vecNal : stKey.vecNal)
        if ((vecNal[vecNal[2] == 1 ? 3 : 4] & 0x1F) == 5)
            vecNal = vecIdr;
    RtspClient stUdp, stTcp;
    u16 u16Seq;
    int s32Fd = PlayUdp(&stUdp, "/track1", &u16Seq);
    ASSERT_TRUE(stTcp.Connect());
    Play(&stTcp, "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
    {
        std::lock_guard<std::mutex> lk(pstService->mtx);
        RtspMediaStream_S *pstStream = rtspFindStream(pstService, TEST_MAIN_PATH);
        std::lock_guard<std::mutex> lkStream(pstStream->mtx);
        RtspSession_S *pstSession = rtspFindSession(pstStream, stUdp.strSession.c_str());
        ASSERT_NE(nullptr, pstSession);
        s_stPace = {pstSession->pstFunc, pstSession->pvSource, {}};
    }
    rtp_pace_set_wait(Pace_Record);
    std::vector<Pushed> vecUnit = PushVideo({stKey});
    rtp_pace_set_wait(nullptr);
    std::vector<RtpPacket> vecPkt = Udp_Drain(s32Fd);
    close(s32Fd);
    ExpectVideo(vecUnit, vecPkt, false, 1450, u16Seq, 1);
    ASSERT_GE(vecPkt.size(), 128u);
    // The unit's packets come last; the units before it are one packet each.
    u16 u16Idr = vecPkt[vecPkt.size() - 128].u16Seq;
    ASSERT_EQ(128u / RTP_PACE_BURST - 1, s_stPace.vecWait.size());
    for (size_t i = 0; i < s_stPace.vecWait.size(); i++) {
        EXPECT_EQ((u16)(u16Idr + (i + 1) * RTP_PACE_BURST), s_stPace.vecWait[i].u16Seq) << "wait " << i;
        EXPECT_EQ((u32)RTP_PACE_GAP_US, s_stPace.vecWait[i].u32Us) << "wait " << i;
    }
    stTcp.ReadFrames(300);
    std::vector<Bytes> vecTcp = Tcp_Units(stTcp.vecFrames);
    ASSERT_EQ(stKey.vecNal.size(), vecTcp.size());
    EXPECT_EQ(Bytes(vecIdr.begin() + 4, vecIdr.end()), vecTcp.back());
}

// A TCP player that stops reading neither holds up the frame thread nor
// a UDP player; its connection gets whole units only, and after an
// overflow video resumes at a parameter set.
TEST_F(RtspStreamTest, SlowTcpPlayerDropsUntilParameterSet)
{
    std::vector<TestPicture> vecPic = TestMedia_Video("libx264", 640, 360, 30, 8000, 30, 30);
    RtspClient stTcp, stUdp;
    ASSERT_TRUE(stTcp.Connect(4096));
    Play(&stTcp, "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
    int s32Udp = PlayUdp(&stUdp, "/track1");
    // More than socket buffers and queue hold.
    size_t pushed = 0;
    for (int s32Round = 0; s32Round < 8; s32Round++) {
        pushed += PushVideo(vecPic).size();
        EXPECT_GT(Udp_Drain(s32Udp).size(), vecPic.size());   // the UDP player keeps getting everything
    }
    // The reader wakes up: what it gets is whole units, and video after
    // the gap starts again with an SPS.
    stTcp.ReadFrames(300);
    EXPECT_LT(Tcp_Units(stTcp.vecFrames).size(), pushed);
    stTcp.vecFrames.clear();
    PushVideo({vecPic[1], vecPic[0], vecPic[1]});   // P, then SPS PPS IDR, then P
    stTcp.ReadFrames(300);
    std::vector<Bytes> vecAfter = Tcp_Units(stTcp.vecFrames);
    ASSERT_EQ(vecPic[0].vecNal.size() + 1, vecAfter.size());
    EXPECT_EQ(7, vecAfter[0][0] & 0x1F);
    EXPECT_EQ(5, vecAfter[vecAfter.size() - 2][0] & 0x1F);
    EXPECT_EQ(2u, Sessions());
    close(s32Udp);
}

// A player that reads nothing at all is closed after about 10 s, and its
// session ends with the connection.
TEST_F(RtspStreamTest, StalledTcpPlayerIsClosed)
{
    std::vector<TestPicture> vecPic = TestMedia_Video("libx264", 640, 360, 30, 8000, 30, 30);
    RtspClient stTcp;
    ASSERT_TRUE(stTcp.Connect(4096));
    Play(&stTcp, "/track1", "Transport: RTP/AVP/TCP;unicast;interleaved=0-1\r\n");
    auto tStart = std::chrono::steady_clock::now();
    auto Seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - tStart).count(); };
    double dAlive = 0;   // the session was still there after this time, however slow a pass
    for (double d = Seconds(); d < 20 && Sessions() == 1; d = Seconds()) {
        dAlive = d;
        PushVideo({vecPic[0], vecPic[1], vecPic[2]});
        usleep(100000);
    }
    EXPECT_GE(dAlive, 5.0);
    EXPECT_EQ(0u, Sessions());
    EXPECT_GE(Seconds(), 9.0);
    stTcp.ReadFrames(300);
    char c;
    EXPECT_LE(recv(stTcp.s32Fd, &c, 1, 0), 0);   // closed
}
