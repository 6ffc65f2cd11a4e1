// The packers by themselves: boundaries, refusals and numbering. The
// packet forms of each codec, and video units cut once for every session,
// are checked on real streams through a media stream (test_RtspStream).
#include <gtest/gtest.h>

#include <vector>

#include "rtsplib/src/rtp/RtpPacker.h"
#include "tests/rtsplib/RtspTestNet.h"

// Collects what a packer sends; the buffer it lends is its own.
struct PackerTest : public testing::Test {
    std::vector<Bytes> vecPacket;
    u8 au8Buf[RTP_HEADER_SIZE + RTP_PAYLOAD_MAX];
    bool bNoBuffer = false;
    RtpPacker_S *pstPacker = nullptr;

    static void *Alloc(void *pv, u32 u32Bytes)
    {
        PackerTest *p = (PackerTest *)pv;
        return p->bNoBuffer || u32Bytes > sizeof(p->au8Buf) ? nullptr : p->au8Buf;
    }
    static void Free(void *, void *) {}
    static s32 Packet(void *pv, const void *pvPacket, u32 u32Bytes, u32)
    {
        ((PackerTest *)pv)->vecPacket.push_back(Bytes((const u8 *)pvPacket, (const u8 *)pvPacket + u32Bytes));
        return 0;
    }
    void Make(const RtpPackerFunc_S *pstFunc, u8 u8Pt, u32 u32Clock, u16 u16Seq = 100)
    {
        static const RtpPackerCallback_S s_stCallback = {Alloc, Free, Packet};
        if (pstPacker)
            pstPacker->pstFunc->pfnDestroy(pstPacker);
        vecPacket.clear();
        pstPacker = pstFunc->pfnCreate(0x11223344, u16Seq, u8Pt, u32Clock, &s_stCallback, this);
        ASSERT_NE(nullptr, pstPacker);
    }
    s32 Input(const Bytes &vec, u64 u64Us = 0)
    {
        return pstPacker->pstFunc->pfnInput(pstPacker, vec.data(), (u32)vec.size(), u64Us);
    }
    void TearDown() override
    {
        if (pstPacker)
            pstPacker->pstFunc->pfnDestroy(pstPacker);
    }
    // Payload sizes and whether each packet has the marker.
    std::vector<std::pair<size_t, bool>> Shape()
    {
        std::vector<std::pair<size_t, bool>> vec;
        for (const Bytes &vecPkt : vecPacket)
            vec.push_back({vecPkt.size() - RTP_HEADER_SIZE, (vecPkt[1] & 0x80) != 0});
        return vec;
    }
};

// Units up to the payload size go whole, with the marker; either start
// code goes and trailing zero bytes go.
TEST_F(PackerTest, H264ShortUnitsGoWhole)
{
    Make(rtp_h264_packer(), 96, 90000);
    ASSERT_EQ(0, Input({0, 0, 1, 0x68, 0xEE, 0x3C, 0x80, 0, 0}));
    ASSERT_EQ(0, Input(Net_Nal(0x41, 1449)));
    ASSERT_EQ(0, Input(Net_Nal(0x41, 1450)));
    EXPECT_EQ((std::vector<std::pair<size_t, bool>>{{4, true}, {1449, true}, {1450, false}, {3, true}}), Shape());
    EXPECT_EQ((Bytes{0x68, 0xEE, 0x3C, 0x80}), Bytes(vecPacket[0].begin() + 12, vecPacket[0].end()));
}

// What a codec cannot carry is refused, sends nothing and takes no
// sequence number; the longest units each codec carries still go.
TEST_F(PackerTest, UnitsPastTheirBoundsAreRefused)
{
    const struct {
        const RtpPackerFunc_S *pstFunc;
        std::vector<Bytes> vecBad, vecGood;
    } astCase[] = {
        {rtp_h264_packer(),
         {{}, {0, 0, 1}, {0, 0, 0, 1, 0, 0}, {1, 2, 3, 0x65, 9}, {0, 1, 0x65}, {0, 0, 1, 0x60}, {0, 0, 1, 0x78},
          {0, 0, 1, 0x7F, 1}},
         {}},
        {rtp_h265_packer(), {{0, 0, 1, 0x40}}, {{0, 0, 1, 0x40, 0x01, 0x0C}}},
        {rtp_aac_packer(), {{}, Bytes(8192, 7)}, {Bytes(8191, 7)}},
        {rtp_pcm_packer(), {Bytes(65536, 3)}, {Bytes(65535, 3)}},
        {rtp_g711_packer(), {Bytes(1451, 0xD5)}, {Bytes(1450, 0xD5)}},
    };
    for (const auto &stCase : astCase) {
        Make(stCase.pstFunc, 96, 90000);
        for (const Bytes &vec : stCase.vecBad)
            EXPECT_EQ(-1, Input(vec)) << vec.size();
        EXPECT_EQ(-1, pstPacker->pstFunc->pfnInput(pstPacker, nullptr, 10, 0));
        u16 u16Seq;
        u32 u32Time;
        pstPacker->pstFunc->pfnGetInfo(pstPacker, &u16Seq, &u32Time);
        EXPECT_EQ(100, u16Seq);
        EXPECT_TRUE(vecPacket.empty());
        for (const Bytes &vec : stCase.vecGood)
            EXPECT_EQ(0, Input(vec)) << vec.size();
    }
}

// G.711 goes whole; L16 is cut at the payload size; the size is bounded
// and followed; without a buffer a unit is not sent.
TEST_F(PackerTest, G711L16AndPayloadSize)
{
    Make(rtp_g711_packer(), 8, 8000);
    ASSERT_EQ(0, Input(Bytes(160, 0xD5), 20000));
    ASSERT_EQ((std::vector<std::pair<size_t, bool>>{{160, true}}), Shape());
    EXPECT_EQ(0x80 | 8, vecPacket[0][1]);
    EXPECT_EQ(160u, (u32)vecPacket[0][6] << 8 | vecPacket[0][7]);
    Make(rtp_l16_packer(), 22, 48000);
    ASSERT_EQ(0, Input(Bytes(1449, 1)));
    ASSERT_EQ(0, Input(Bytes(3000, 1)));
    EXPECT_EQ((std::vector<std::pair<size_t, bool>>{{1449, true}, {1450, false}, {1450, false}, {100, true}}), Shape());
    vecPacket.clear();
    EXPECT_EQ(-1, pstPacker->pstFunc->pfnSetSize(pstPacker, RTP_PAYLOAD_MIN - 1));
    EXPECT_EQ(-1, pstPacker->pstFunc->pfnSetSize(pstPacker, RTP_PAYLOAD_MAX + 1));
    ASSERT_EQ(0, pstPacker->pstFunc->pfnSetSize(pstPacker, 100));
    ASSERT_EQ(0, Input(Bytes(250, 1)));
    EXPECT_EQ((std::vector<std::pair<size_t, bool>>{{100, false}, {100, false}, {50, true}}), Shape());
    bNoBuffer = true;
    EXPECT_EQ(12, Input(Bytes(250, 1)));
}

// Sequence numbers run on across units and wrap; the time stamp is the
// capture time on the clock, exact at any age and rate.
TEST_F(PackerTest, SequenceAndTime)
{
    Make(rtp_l16_packer(), 22, 44100, 65534);
    ASSERT_EQ(0, Input(Bytes(3000, 1), 3600000000ull));
    u16 u16Seq;
    u32 u32Time;
    pstPacker->pstFunc->pfnGetInfo(pstPacker, &u16Seq, &u32Time);
    EXPECT_EQ(1, u16Seq);
    EXPECT_EQ(3600u * 44100, u32Time);
    EXPECT_EQ((Bytes{0xFF, 0xFE}), Bytes(vecPacket[0].begin() + 2, vecPacket[0].begin() + 4));
    EXPECT_EQ((Bytes{0x00, 0x00}), Bytes(vecPacket[2].begin() + 2, vecPacket[2].begin() + 4));
    // Exact products, worked out in wider arithmetic than the board has.
    static const u32 au32Clock[] = {8000, 44100, 90000};
    static const struct { u64 u64Us; u32 au32Time[3]; } astTimes[] = {
        {0, {0u, 0u, 0u}},
        {999999, {7999u, 44099u, 89999u}},
        {1ull << 40, {206158430u, 1243822528u, 171798691u}},
        {123456789012345ull, {4106801314u, 2720831412u, 30616359u}},
        {~0ull / 90000, {3328044553u, 2293405333u, 4154504685u}},
    };
    for (const auto &st : astTimes)
        for (u32 i = 0; i < ARRAY_SIZE(au32Clock); i++)
            EXPECT_EQ(st.au32Time[i], rtp_time(st.u64Us, au32Clock[i])) << st.u64Us << " " << au32Clock[i];
}
