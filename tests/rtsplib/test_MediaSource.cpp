#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include "rtsplib/include/MediaSource.h"
#include "rtsplib/include/RtpPace.h"
#include "rtsplib/include/RtpSocket.h"
#include "tests/rtsplib/RtspTestNet.h"

// A range without a free pair gives up, and one past the last port is
// refused. (Pairs in use, even, bound and distinct: the service tests;
// a group's port shared with a player on the box: the multicast tests.)
TEST(RtpSocketTest, RangeIsBounded)
{
    s32 as32A[2], as32B[2];
    u16 au16A[2], au16B[2];
    ASSERT_EQ(0, rtp_socket_set_port_range(40000, 2));
    ASSERT_EQ(0, rtp_socket_create("127.0.0.1", as32A, au16A));
    EXPECT_EQ(40000, au16A[0]);
    EXPECT_EQ(-1, rtp_socket_create("127.0.0.1", as32B, au16B));
    rtp_socket_close(as32A[0]);
    rtp_socket_close(as32A[1]);
    EXPECT_EQ(-1, rtp_socket_set_port_range(65534, 2));
    ASSERT_EQ(0, rtp_socket_set_port_range(RTP_PORT_BASE, RTP_PORT_RANGE));
    EXPECT_EQ(-1, rtp_socket_create_one("not-an-address", 5002, &as32A[0]));
}

// A unit goes in bursts of RTP_PACE_BURST packets where that spreads it
// over RTP_PACE_SPREAD_US at most, else in the fewest larger bursts that
// do; a unit of one burst is not paced.
TEST(RtpPaceTest, BurstsKeepTheSpread)
{
    const u32 u32Gaps = RTP_PACE_SPREAD_US / RTP_PACE_GAP_US;
    for (u32 u32Num : {1u, 16u, 17u, 128u, 208u, 209u, 1000u, (u32)RTP_PIECES_MAX}) {
        u32 u32Burst = rtp_pace_burst(u32Num);
        u32 u32Bursts = (u32Num + u32Burst - 1) / u32Burst;
        EXPECT_LE(u32Bursts - 1, u32Gaps) << u32Num;
        EXPECT_GE(u32Burst, (u32)RTP_PACE_BURST) << u32Num;
        if (u32Burst > RTP_PACE_BURST) {   // one packet less a burst would need one gap more
            EXPECT_GT((u32Num + u32Burst - 2) / (u32Burst - 1) - 1, u32Gaps) << u32Num;
        }
    }
    EXPECT_EQ((u32)RTP_PACE_BURST, rtp_pace_burst(128));
}

// The sender's wait between bursts is at least RTP_PACE_GAP_US of quiet
// (a sleep is never shorter; what the receiver sees: the benchmark).
TEST(RtpPaceTest, GapSleepsItsTime)
{
    auto tStart = std::chrono::steady_clock::now();
    rtp_pace_gap();
    EXPECT_GE(std::chrono::steady_clock::now() - tStart, std::chrono::microseconds(RTP_PACE_GAP_US));
}

// A UDP media source, a socket pair for it and a peer, gone at the end.
struct UdpSourceTest : public testing::Test {
    const MediaSourceFunc_S *pstFunc = &media_source_udp_func;
    void *pvSource = nullptr;
    s32 as32Socket[2] = {-1, -1};
    u16 au16Port[2];
    int s32Peer = Net_UdpBind("127.0.0.1", 0, 300);

    void Make(bool bMulticast)
    {
        pvSource = pstFunc->pfnCreate(bMulticast);
        ASSERT_NE(nullptr, pvSource);
        ASSERT_EQ(0, rtp_socket_create("127.0.0.1", as32Socket, au16Port));
    }
    void TearDown() override
    {
        if (pvSource)
            pstFunc->pfnDestroy(pvSource);
        rtp_socket_close(as32Socket[0]);
        rtp_socket_close(as32Socket[1]);
        close(s32Peer);
    }
};

// Where the kernel refuses segmentation offload (here: a path whose MTU
// is below one packet), a unit cut once still leaves as one datagram per
// packet. (With offload: the stream tests; sending only while playing:
// the service tests.)
TEST_F(UdpSourceTest, WithoutSegmentationOffloadPacketsStillLeave)
{
    ASSERT_NO_FATAL_FAILURE(Make(false));
    ASSERT_EQ(0, pstFunc->pfnVideoCreate(pvSource, 96, 90000));
    ASSERT_EQ(0, pstFunc->pfnVideoRtp(pvSource, "127.0.0.1", as32Socket[0], Net_Port(s32Peer), nullptr));
    ASSERT_EQ(0, pstFunc->pfnPlay(pvSource));
    Bytes vecNal = Net_Nal(0x65, 100000);
    RtpUnit_S stUnit;
    ASSERT_EQ(0, rtp_unit_cut(rtp_h264_packer(), vecNal.data(), (u32)vecNal.size(), MEDIA_UDP_VIDEO_PAYLOAD, 1000000,
                              &stUnit));
    ASSERT_EQ(0, system("ip link set lo mtu 1400"));
    ASSERT_EQ(0, pstFunc->pfnVideoUnit(pvSource, &stUnit));
    std::vector<Bytes> vecPkt = Net_UdpDrain(s32Peer);
    EXPECT_EQ(0, system("ip link set lo mtu 65536"));
    ASSERT_EQ(70u, vecPkt.size());   // 99999 bytes after the NAL header, 1448 a packet
    for (size_t i = 0; i < vecPkt.size(); i++) {
        EXPECT_EQ(12 + 2 + (i < 69 ? 1448 : 99999 - 69 * 1448), vecPkt[i].size()) << i;
        EXPECT_EQ((u16)(vecPkt[0][2] << 8 | vecPkt[0][3]) + i, (u16)(vecPkt[i][2] << 8 | vecPkt[i][3]));
    }
}

// A unit in bursts to a source whose packer cuts it otherwise (an H.265
// part given an H.264 cut: 100 pieces there, 101 here) still leaves whole,
// once and in order; bursts outside the unit are refused.
TEST_F(UdpSourceTest, BurstsOfAUnitCutOtherwiseCoverIt)
{
    ASSERT_NO_FATAL_FAILURE(Make(false));
    ASSERT_EQ(0, pstFunc->pfnVideoCreate(pvSource, 98, 90000));
    ASSERT_EQ(0, pstFunc->pfnVideoRtp(pvSource, "127.0.0.1", as32Socket[0], Net_Port(s32Peer), nullptr));
    ASSERT_EQ(0, pstFunc->pfnPlay(pvSource));
    Bytes vecNal = Net_Nal(0x26, 1 + 1448 * 100);
    RtpUnit_S stUnit;
    ASSERT_EQ(0, rtp_unit_cut(rtp_h264_packer(), vecNal.data(), (u32)vecNal.size(), MEDIA_UDP_VIDEO_PAYLOAD, 1000000,
                              &stUnit));
    ASSERT_EQ(100u, stUnit.u32Num);
    EXPECT_EQ(-1, pstFunc->pfnVideoPieces(pvSource, &stUnit, 0, 101));
    EXPECT_EQ(-1, pstFunc->pfnVideoPieces(pvSource, &stUnit, 16, 16));
    for (u32 u32From = 0; u32From < 100; u32From += RTP_PACE_BURST)
        ASSERT_EQ(0, pstFunc->pfnVideoPieces(pvSource, &stUnit, u32From, std::min(100u, u32From + RTP_PACE_BURST)));
    std::vector<Bytes> vecPkt = Net_UdpDrain(s32Peer);
    ASSERT_EQ(101u, vecPkt.size());   // 144799 bytes after the 2-byte header, 1447 a packet
    for (size_t i = 0; i < vecPkt.size(); i++) {
        EXPECT_EQ((u16)(vecPkt[0][2] << 8 | vecPkt[0][3]) + i, (u16)(vecPkt[i][2] << 8 | vecPkt[i][3])) << i;
        u8 u8Fu = (u8)((i == 0 ? 0x80 : 0) | (i == 100 ? 0x40 : 0) | 0x13);
        EXPECT_EQ(u8Fu, vecPkt[i][14]) << i;   // S on the first, E on the last
        EXPECT_EQ(i == 100, (vecPkt[i][1] & 0x80) != 0) << i;
    }
}

// The drain thread of a group source empties its sockets while it plays,
// and ends with the source.
TEST_F(UdpSourceTest, GroupDrainEmptiesSockets)
{
    ASSERT_NO_FATAL_FAILURE(Make(true));
    ASSERT_EQ(0, pstFunc->pfnAudioCreate(pvSource, 97, 48000));
    ASSERT_EQ(0, pstFunc->pfnAudioRtcp(pvSource, "127.0.0.1", as32Socket[1], 9, nullptr));
    struct sockaddr_in stTo = Net_Addr("127.0.0.1", au16Port[1]);
    auto Queued = [&] {
        int n = -1;
        ioctl(as32Socket[1], FIONREAD, &n);
        return n;
    };
    ASSERT_EQ(5, sendto(s32Peer, "rtcp!", 5, 0, (struct sockaddr *)&stTo, sizeof(stTo)));
    usleep(100000);
    EXPECT_EQ(5, Queued());   // not playing: left alone
    ASSERT_EQ(0, pstFunc->pfnPlay(pvSource));
    for (int i = 0; i < 300 && Queued() != 0; i++)
        usleep(10000);
    EXPECT_EQ(0, Queued());
}

// A player gone without a word: its closed port fails every other send
// (the ICMP report of the one before). A few lines for all of them.
TEST_F(UdpSourceTest, SendsToAClosedPortLogAFewLines)
{
    ASSERT_NO_FATAL_FAILURE(Make(false));
    u16 u16Gone = Net_Port(s32Peer);
    close(s32Peer);
    s32Peer = -1;
    ASSERT_EQ(0, pstFunc->pfnVideoCreate(pvSource, 96, 90000));
    ASSERT_EQ(0, pstFunc->pfnVideoRtp(pvSource, "127.0.0.1", as32Socket[0], u16Gone, nullptr));
    ASSERT_EQ(0, pstFunc->pfnPlay(pvSource));
    Bytes vecNal = Net_Nal(0x41, 100);
    testing::internal::CaptureStdout();
    for (u32 i = 0; i < 200; i++) {
        RtpUnit_S stUnit;
        ASSERT_EQ(0, rtp_unit_cut(rtp_h264_packer(), vecNal.data(), (u32)vecNal.size(), MEDIA_UDP_VIDEO_PAYLOAD,
                                  i * 3000, &stUnit));
        (void)pstFunc->pfnVideoUnit(pvSource, &stUnit);   // refused sends are the point
        usleep(1000);   // the report comes back in between
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, out.find("udp_RTPPacket err! Connection refused\n")) << out;
    EXPECT_LE(std::count(out.begin(), out.end(), '\n'), 2) << out;
}
