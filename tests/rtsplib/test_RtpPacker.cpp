#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "rtsplib/src/rtp/RtpPacker.h"

typedef std::vector<u8> Bytes;

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

static Bytes Nal(std::initializer_list<u8> lstHead, size_t total, u8 u8Fill = 0x5A)
{
    Bytes vec = {0, 0, 0, 1};
    vec.insert(vec.end(), lstHead);
    vec.resize(total + 4, u8Fill);
    return vec;
}

// A 3000-byte NAL unit: FU-A of 1448, 1448 and the rest of the NAL after
// its header byte, S on the first, E and the marker on the last.
TEST_F(PackerTest, H264LongUnitBecomesFuA)
{
    Make(rtp_h264_packer(), 96, 90000);
    Bytes vecNal = Nal({0x65}, 3000);
    for (size_t i = 5; i < vecNal.size(); i++)
        vecNal[i] = (u8)i;
    ASSERT_EQ(0, Input(vecNal, 2000000));
    ASSERT_EQ((std::vector<std::pair<size_t, bool>>{{1450, false}, {1450, false}, {2 + 103, true}}), Shape());
    static const u8 s_au8Fu[3][2] = {{0x7C, 0x85}, {0x7C, 0x05}, {0x7C, 0x45}};
    Bytes vecJoined = {0x65};
    for (size_t k = 0; k < 3; k++) {
        const Bytes &vec = vecPacket[k];
        u8 u8Marker = k == 2 ? 0x80 : 0;
        EXPECT_EQ((Bytes{0x80, (u8)(u8Marker | 96), 0, (u8)(100 + k), 0x00, 0x02, 0xBF, 0x20, 0x11, 0x22, 0x33, 0x44}),
                  Bytes(vec.begin(), vec.begin() + 12))
            << k;
        EXPECT_EQ(s_au8Fu[k][0], vec[12]);
        EXPECT_EQ(s_au8Fu[k][1], vec[13]);
        vecJoined.insert(vecJoined.end(), vec.begin() + 14, vec.end());
    }
    EXPECT_EQ(Bytes(vecNal.begin() + 4, vecNal.end()), vecJoined);
}

// Units shorter than the payload go whole, with the marker; either start
// code goes and trailing zero bytes go.
TEST_F(PackerTest, H264ShortUnitsGoWhole)
{
    Make(rtp_h264_packer(), 96, 90000);
    Bytes vecSps = Nal({0x67, 0x4D, 0x00, 0x32}, 16);
    ASSERT_EQ(20u, vecSps.size());
    ASSERT_EQ(0, Input(vecSps));
    ASSERT_EQ(0, Input({0, 0, 1, 0x68, 0xEE, 0x3C, 0x80, 0, 0}));
    ASSERT_EQ(0, Input(Nal({0x41}, 1449)));
    ASSERT_EQ(0, Input(Nal({0x41}, 1450)));
    EXPECT_EQ((std::vector<std::pair<size_t, bool>>{{16, true}, {4, true}, {1449, true}, {1450, false}, {3, true}}),
              Shape());
    EXPECT_EQ((Bytes{0x68, 0xEE, 0x3C, 0x80}), Bytes(vecPacket[1].begin() + 12, vecPacket[1].end()));
}

// What is not a NAL unit of this codec is refused and sends nothing.
TEST_F(PackerTest, H264RefusesWhatIsNoUnit)
{
    Make(rtp_h264_packer(), 96, 90000);
    for (const Bytes &vec : std::vector<Bytes>{{}, {0, 0, 1}, {0, 0, 0, 1, 0, 0}, {1, 2, 3, 0x65, 9}, {0, 1, 0x65},
                                               {0, 0, 1, 0x60}, {0, 0, 1, 0x78}, {0, 0, 1, 0x7F, 1}})
        EXPECT_EQ(-1, Input(vec)) << vec.size();
    EXPECT_EQ(-1, pstPacker->pstFunc->pfnInput(pstPacker, nullptr, 10, 0));
    EXPECT_TRUE(vecPacket.empty());
    u16 u16Seq;
    u32 u32Time;
    pstPacker->pstFunc->pfnGetInfo(pstPacker, &u16Seq, &u32Time);
    EXPECT_EQ(100, u16Seq);
}

// H.265 fragments drop the 2-byte header and carry 0x62 0x01 and the FU
// header; each carries 1447 bytes of the unit.
TEST_F(PackerTest, H265LongUnitBecomesFu)
{
    Make(rtp_h265_packer(), 98, 90000);
    ASSERT_EQ(0, Input(Nal({0x26, 0x01}, 3000)));
    ASSERT_EQ((std::vector<std::pair<size_t, bool>>{{1450, false}, {1450, false}, {3 + 104, true}}), Shape());
    static const u8 s_au8Fu[3] = {0x93, 0x13, 0x53};
    for (size_t k = 0; k < 3; k++) {
        EXPECT_EQ(0x62, vecPacket[k][12]);
        EXPECT_EQ(0x01, vecPacket[k][13]);
        EXPECT_EQ(s_au8Fu[k], vecPacket[k][14]);
    }
    ASSERT_EQ(0, Input(Nal({0x40, 0x01, 0x0C}, 24)));
    EXPECT_EQ(24u, vecPacket.back().size() - 12);
    EXPECT_EQ(-1, Input({0, 0, 1, 0x40}));
}

// AAC: ADTS without CRC is dropped, with CRC kept; the AU header gives the
// AU's size; long AUs are cut with the same header; too long is refused.
TEST_F(PackerTest, AacAuHeaders)
{
    Make(rtp_aac_packer(), 97, 48000);
    Bytes vecAdts = {0xFF, 0xF1, 0x4C, 0x80, 0x2E, 0x7F, 0xFC, 0x21, 0x1A};
    ASSERT_EQ(0, Input(vecAdts, 1000000));
    EXPECT_EQ((Bytes{0x00, 0x10, 0x00, 0x10, 0x21, 0x1A}), Bytes(vecPacket[0].begin() + 12, vecPacket[0].end()));
    EXPECT_EQ(48000u, (u32)vecPacket[0][4] << 24 | vecPacket[0][5] << 16 | vecPacket[0][6] << 8 | vecPacket[0][7]);
    vecAdts[1] = 0xF0;   // with CRC
    ASSERT_EQ(0, Input(vecAdts));
    EXPECT_EQ((Bytes{0x00, 0x10, 0x00, 0x48}), Bytes(vecPacket[1].begin() + 12, vecPacket[1].begin() + 16));
    vecPacket.clear();
    ASSERT_EQ(0, Input(Bytes(3000, 7)));
    ASSERT_EQ((std::vector<std::pair<size_t, bool>>{{1450, false}, {1450, false}, {4 + 108, true}}), Shape());
    for (const Bytes &vec : vecPacket)
        EXPECT_EQ((Bytes{0x00, 0x10, 0x5D, 0xC0}), Bytes(vec.begin() + 12, vec.begin() + 16));
    vecPacket.clear();
    ASSERT_EQ(0, Input(Bytes(1446, 7)));
    ASSERT_EQ(0, Input(Bytes(8191, 7)));
    EXPECT_EQ(1 + 6u, vecPacket.size());
    EXPECT_EQ(-1, Input(Bytes(8192, 7)));
    EXPECT_EQ(-1, Input(Bytes()));
}

// G.711 goes whole or not at all; L16 is cut at the payload size.
TEST_F(PackerTest, G711AndL16)
{
    Make(rtp_g711_packer(), 8, 8000);
    ASSERT_EQ(0, Input(Bytes(160, 0xD5), 20000));
    EXPECT_EQ(-1, Input(Bytes(1451, 0xD5)));
    ASSERT_EQ((std::vector<std::pair<size_t, bool>>{{160, true}}), Shape());
    EXPECT_EQ(0x80 | 8, vecPacket[0][1]);
    EXPECT_EQ(160u, (u32)vecPacket[0][6] << 8 | vecPacket[0][7]);
    pstPacker->pstFunc->pfnDestroy(pstPacker);
    vecPacket.clear();
    Make(rtp_l16_packer(), 22, 48000);
    ASSERT_EQ(0, Input(Bytes(1449, 1)));
    ASSERT_EQ(0, Input(Bytes(3000, 1)));
    EXPECT_EQ((std::vector<std::pair<size_t, bool>>{{1449, true}, {1450, false}, {1450, false}, {100, true}}), Shape());
}

// PCM blocks: a 4-byte header with flags and the frame's whole length, the
// marker on every packet; frames beyond 16 bits of length are refused.
TEST_F(PackerTest, PcmBlockHeaders)
{
    Make(rtp_pcm_packer(), 108, 48000);
    ASSERT_EQ(0, Input(Bytes(1446, 3)));
    ASSERT_EQ(0, Input(Bytes(1447, 3)));
    ASSERT_EQ(0, Input(Bytes(65535, 3)));
    EXPECT_EQ(-1, Input(Bytes(65536, 3)));
    ASSERT_EQ(1 + 2 + 46u, vecPacket.size());
    EXPECT_EQ((Bytes{0x00, 0x90, 0x05, 0xA6}), Bytes(vecPacket[0].begin() + 12, vecPacket[0].begin() + 16));
    EXPECT_EQ((Bytes{0x00, 0x10, 0x05, 0xA7}), Bytes(vecPacket[1].begin() + 12, vecPacket[1].begin() + 16));
    EXPECT_EQ((Bytes{0x00, 0x80, 0x05, 0xA7}), Bytes(vecPacket[2].begin() + 12, vecPacket[2].begin() + 16));
    EXPECT_EQ(0x40, vecPacket[20][13]);
    EXPECT_EQ(0x80, vecPacket.back()[13]);
    for (const Bytes &vec : vecPacket)
        EXPECT_TRUE(vec[1] & 0x80);
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
    for (u64 u64Us : {0ull, 999999ull, 1ull << 40, 123456789012345ull, ~0ull / 90000}) {
        for (u32 u32Clock : {8000u, 44100u, 90000u}) {
            unsigned __int128 uExact = (unsigned __int128)u64Us * u32Clock / 1000000;
            EXPECT_EQ((u32)uExact, rtp_time(u64Us, u32Clock)) << u64Us << " " << u32Clock;
        }
    }
}

// The payload size is bounded; packets follow it; no buffer stops a unit.
TEST_F(PackerTest, PayloadSizeAndBuffer)
{
    Make(rtp_l16_packer(), 22, 48000);
    EXPECT_EQ(-1, pstPacker->pstFunc->pfnSetSize(pstPacker, RTP_PAYLOAD_MIN - 1));
    EXPECT_EQ(-1, pstPacker->pstFunc->pfnSetSize(pstPacker, RTP_PAYLOAD_MAX + 1));
    ASSERT_EQ(0, pstPacker->pstFunc->pfnSetSize(pstPacker, 100));
    ASSERT_EQ(0, Input(Bytes(250, 1)));
    EXPECT_EQ((std::vector<std::pair<size_t, bool>>{{100, false}, {100, false}, {50, true}}), Shape());
    bNoBuffer = true;
    EXPECT_EQ(12, Input(Bytes(250, 1)));
    EXPECT_EQ(nullptr, rtp_video_packer(97));
    EXPECT_EQ(nullptr, rtp_audio_packer(96));
    EXPECT_EQ(rtp_g711_packer(), rtp_audio_packer(0));
}

// A unit cut once gives every receiver the same packets as its own
// packer would, under that receiver's own numbers.
TEST_F(PackerTest, SharedCutMatchesOwnPacking)
{
    Make(rtp_h264_packer(), 96, 90000, 7);
    Bytes vecNal = Nal({0x65}, 5000);
    for (size_t i = 5; i < vecNal.size(); i++)
        vecNal[i] = (u8)(i * 13);
    ASSERT_EQ(0, Input(vecNal, 33333));
    RtpUnit_S stUnit;
    ASSERT_EQ(0, rtp_unit_cut(rtp_h264_packer(), vecNal.data(), (u32)vecNal.size(), 1450, 33333, &stUnit));
    ASSERT_EQ(vecPacket.size(), stUnit.u32Num);
    EXPECT_EQ(rtp_unit_bytes(&stUnit), 5000u + 4 * (12 + 2) - 1);
    pstPacker->u16Seq = 7;
    u8 au8Heads[8 * RTP_HEAD_MAX];
    ASSERT_EQ(14u, rtp_packer_heads(pstPacker, &stUnit, 0, stUnit.u32Num, au8Heads));
    for (u32 i = 0; i < stUnit.u32Num; i++) {
        Bytes vecOwn(au8Heads + i * RTP_HEAD_MAX, au8Heads + i * RTP_HEAD_MAX + 14);
        const u8 *pu8Data;
        u32 u32Len = rtp_unit_piece(&stUnit, i, &pu8Data);
        vecOwn.insert(vecOwn.end(), pu8Data, pu8Data + u32Len);
        EXPECT_EQ(vecPacket[i], vecOwn) << i;
    }
}
