#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "media/Edid.h"
#include "media/MediaSnr.h"
#include "tests/media/EdidTest.h"

static const std::vector<u8> s_1080p60 = Edid_Hex("02 3A 80 18 71 38 2D 40 58 2C 45 00 FE 1F 11 00 00 1E");
static const std::vector<u8> s_1200p60 = Edid_Hex("28 3C 80 A0 70 B0 23 40 30 20 36 00 C4 8E 21 00 00 1E");

struct Dtd {
    u32 u32Clock, u32Width, u32Height;   // 10 kHz, pixels
};

static Dtd DtdAt(const u8 *e, u32 u32At)
{
    const u8 *p = e + u32At;
    return {p[0] | (u32)p[1] << 8, p[2] | (u32)(p[4] >> 4) << 8, p[5] | (u32)(p[7] >> 4) << 8};
}

static std::vector<u8> Bytes(const u8 *pu8, u32 u32Len)
{
    return std::vector<u8>(pu8, pu8 + u32Len);
}

// Filtered quietly: the filter's log lines are checked elsewhere.
static void Filter(std::vector<u8> &e)
{
    testing::internal::CaptureStdout();
    EDID_Filte4k(e.data());
    testing::internal::GetCapturedStdout();
}

// Built-in EDID 0's base block with this extension, filtered.
static std::vector<u8> FilteredExtension(const std::string &extHex)
{
    std::vector<u8> e(Edid_4100L_Lib[0].au8, Edid_4100L_Lib[0].au8 + 128);
    std::vector<u8> ext = Edid_Hex(extHex);
    e.insert(e.end(), ext.begin(), ext.end());
    e.resize(EDID_LEN);
    Filter(e);
    return e;
}

// Each built-in EDID and the default are whole (their rows are checked
// end to end, in the receiver's EDID RAM); an index past the built-ins
// gives nothing.
TEST(EdidTest, Builtins)
{
    for (u32 i = 0; i <= EDID_BUILTIN_NUM; i++) {
        const u8 *pu8 = i < EDID_BUILTIN_NUM ? Edid_4100L_Lib[i].au8 : Default_Edid_Block.au8;
        EXPECT_EQ(1, IsEdidRight(pu8)) << i;
        EXPECT_EQ(0, Media_Edid_Check(pu8, EDID_LEN)) << i;
    }
    u8 au8[EDID_LEN];
    ASSERT_EQ(0, AVSource_get_EDID_from_index(5, au8));
    EXPECT_EQ(0, memcmp(au8, Edid_4100L_Lib[5].au8, EDID_LEN));
    memset(au8, 0x5A, sizeof(au8));
    EXPECT_EQ(-1, AVSource_get_EDID_from_index(6, au8));
    EXPECT_EQ(0x5A, au8[0]);
}

// The header test and both checksum rules: with an extension announced
// only the whole 256 bytes count, without one only the base block. The
// capture driver's check wants exactly 256 bytes, the header and both
// blocks whole.
TEST(EdidTest, HeaderAndChecksums)
{
    std::vector<u8> e = Edid_Tv4k();
    EXPECT_EQ(1, IsEdidRight(e.data()));
    EXPECT_EQ(0, Media_Edid_Check(e.data(), 256));
    EXPECT_EQ(-1, Media_Edid_Check(e.data(), 128));
    EXPECT_EQ(-1, Media_Edid_Check(nullptr, 256));
    e[7] = 0x01;
    EXPECT_EQ(0, CheckEdidHead(e.data()));
    EXPECT_EQ(0, IsEdidRight(e.data()));
    EXPECT_EQ(-1, Media_Edid_Check(e.data(), 256));

    e = Edid_Tv4k();
    e[127]++;   // block 0 off by one, block 1 off the other way: the whole still sums to 0
    e[255]--;
    EXPECT_EQ(1, IsEdidRight(e.data()));
    EXPECT_EQ(-1, Media_Edid_Check(e.data(), EDID_LEN));

    e[126] = 0;   // no extension: block 0 alone is judged
    Edid_FixSums(e);
    e[200] ^= 0xFF;
    EXPECT_EQ(1, IsEdidRight(e.data()));
    e[126] = 1;
    EXPECT_EQ(0, IsCheckSumRight(e.data()));
}

// What a peer sends is taken only whole: 256 bytes, or a base block that
// announces no extension, each block with its own checksum right.
TEST(EdidTest, OnlyWholeEdidsFromPeers)
{
    std::vector<u8> tv = Edid_Tv4k(), lone = tv, cancelling = tv;
    lone[126] = 0;
    Edid_FixSums(lone);
    cancelling[127]++;
    cancelling[255]--;
    const struct { std::vector<u8> edid; s32 whole; } rows[] = {
        {tv, 1}, {Bytes(lone.data(), 128), 1}, {Edid_Hex("00 FF FF FF FF FF FF 00 06 00"), 0},
        {Bytes(tv.data(), 128), 0}, {cancelling, 0},   // an extension promised; sums that cancel out
    };
    for (const auto &r : rows)
        EXPECT_EQ(r.whole, Edid_IsWhole(r.edid.data(), (s32)r.edid.size())) << r.edid.size();
}

// The whole filter on a 4K television's EDID: every step's change, the
// blocks moved together, the timings and both checksums; of its three
// extensions only the one served is announced.
TEST(EdidFilterTest, FourKTelevision)
{
    std::vector<u8> e = Edid_Tv4k();
    e[126] = 3;
    Edid_FixSums(e);
    testing::internal::CaptureStdout();
    EDID_Filte4k(e.data());
    std::string log = testing::internal::GetCapturedStdout();

    EXPECT_EQ(s_1080p60, Bytes(e.data() + 54, 18));
    EXPECT_EQ(s_1080p60, Bytes(e.data() + 72, 18));
    EXPECT_EQ(Edid_Hex("21 08 00"), Bytes(e.data() + 35, 3));
    EXPECT_EQ(Edid_Hex("00 00 00 FD 00 18 4B"), Bytes(e.data() + 90, 7));   // range limits kept
    std::vector<u8> want = Edid_Hex("02 03 1E F0"
                                     "49 10 10 10 90 04 1F 13 10 90"
                                     "23 09 07 07"
                                     "83 01 00 00"
                                     "67 03 0C 00 10 00 B8 21");
    EXPECT_EQ(want, Bytes(e.data() + 128, (u32)want.size()));
    EXPECT_EQ(s_1200p60, Bytes(e.data() + 158, 18));
    EXPECT_EQ(s_1080p60, Bytes(e.data() + 176, 18));   // the 297 MHz timing
    EXPECT_EQ(std::vector<u8>(255 - 194, 0), Bytes(e.data() + 194, 255 - 194));
    EXPECT_EQ(1, e[126]);
    EXPECT_EQ(0, Media_Edid_Check(e.data(), EDID_LEN));
    EXPECT_NE(std::string::npos, log.find("Disable above 150M detail timing 59400\n"));
    EXPECT_NE(std::string::npos, log.find("Del HDMI 2.0\n"));
    EXPECT_NE(std::string::npos, log.find("EDID_Filte4k complete\n"));
}

// Steps on extensions made for them (behind built-in EDID 0's base block):
// what the data blocks and the timings after them become; both blocks stay
// whole.
TEST(EdidFilterTest, StepsOnSmallExtensions)
{
    const struct { const char *pszWhy, *pszExt, *pszWant; s32 s32At1200, s32At1080; } astCases[] = {
        {"every vendor video block goes, also one right behind another; only the first HDR block does",
         "02 03 17 00  42 90 04  E2 01 AA  E3 01 BB CC  E2 06 01  E2 06 02  E2 05 03"
         "02 3A 80 18 71 38 2D 40 58 2C 45 00 FE 1F 11 00 00 1E",
         "02 03 0A 00  42 90 04  E2 06 02", 138, -1},
        {"d = 4: no data blocks; the first timing becomes 1920 x 1200, a faster one after it 1080p60",
         "02 03 04 00  01 1D 00 72 51 D0 1E 20 6E 28 55 00 FE 1F 11 00 00 1E"
         "08 E8 00 30 F2 70 5A 80 B0 58 8A 00 58 54 21 00 00 1E",
         "02 03 04 00", 132, 150},
        {"a block running past d ends the walk; nothing past the area is touched",
         "02 03 0E 00  83 5F 00 00  6F 03 0C 00 10  E2 06 01", "02 03 0E 00  83 01 00 00  6F 03 0C 00 10  E2", 142,
         -1},
        {"VICs above 62 become VIC 16 with their native bit", "02 03 0C 00  46 3E 3F 40 DF 90 7F  E1 7F",
         "02 03 0C 00  46 3E 10 10 90 90 10", -1, -1},
        {"only a video block in the first place is rewritten", "02 03 08 00  63 7F 41 42", "02 03 08 00  63 7F 41 42",
         -1, -1},
    };
    for (const auto &c : astCases) {
        SCOPED_TRACE(c.pszWhy);
        std::vector<u8> e = FilteredExtension(c.pszExt), want = Edid_Hex(c.pszWant);
        EXPECT_EQ(want, Bytes(e.data() + 128, (u32)want.size()));
        for (const auto &at : {std::make_pair(c.s32At1200, &s_1200p60), std::make_pair(c.s32At1080, &s_1080p60)}) {
            if (at.first >= 0) {
                EXPECT_EQ(*at.second, Bytes(e.data() + at.first, 18)) << at.first;
            }
        }
        EXPECT_EQ(0, Media_Edid_Check(e.data(), EDID_LEN));
    }
}

// An offset below 4 or above 127 means no data blocks and no timings: the
// extension keeps its bytes, only its checksum is made right.
TEST(EdidFilterTest, OffsetOutsideTheBlock)
{
    for (u8 d : {0, 1, 3, 128, 200, 255}) {
        std::vector<u8> e = Edid_Tv4k();
        e[130] = d;
        std::vector<u8> before = e;
        Filter(e);
        EXPECT_EQ(Bytes(before.data() + 128, 127), Bytes(e.data() + 128, 127)) << (int)d;
        EXPECT_EQ(0, Media_Edid_Check(e.data(), EDID_LEN)) << (int)d;
    }
    std::vector<u8> e(Edid_4100L_Lib[2].au8, Edid_4100L_Lib[2].au8 + 256);   // all-zero block 1
    Filter(e);
    EXPECT_EQ(std::vector<u8>(128, 0), Bytes(e.data() + 128, 128));
    EXPECT_EQ(0, memcmp(e.data(), Edid_4100L_Lib[2].au8, 128));
}

// The source layer's default, a 4K EDID, comes out of the filter whole and
// without timings above 154 MHz.
TEST(EdidFilterTest, DefaultEdid)
{
    std::vector<u8> e(Default_Edid_Block.au8, Default_Edid_Block.au8 + 256);
    Filter(e);
    EXPECT_EQ(s_1080p60, Bytes(e.data() + 54, 18));
    EXPECT_EQ(1280u, DtdAt(e.data(), 72).u32Width);
    EXPECT_EQ(Edid_Hex("4A 10 10 10 90"), Bytes(e.data() + 132, 5));
    EXPECT_EQ(0, Media_Edid_Check(e.data(), EDID_LEN));
}

// Each removing step on the 4K television's EDID, which has the blocks it
// takes: exactly those go, the rest of the extension closes up behind them
// with zeros before the checksum, the data-block offset shrinks and the
// base block stays.
TEST(EdidFilterTest, EachStepRemovesItsBlocks)
{
    const struct { const char *pszStep; void (*pfnStep)(u8 *); const char *pszGone; } astSteps[] = {
        {"Del420Info", Del420Info, "E3 0E 61 60  E2 0F 03"},
        {"DisableHdr", DisableHdr, "E3 06 0D 01"},
        {"DisableCDB", DisableCDB, "E3 05 C3 00"},
        {"zup_remove_dolbyVision_edid", zup_remove_dolbyVision_edid,
         "EB 01 46 D0 00 44 4B 9F 60 92 A8 53  E5 01 8B 84 90 01"},
    };
    for (const auto &s : astSteps) {
        SCOPED_TRACE(s.pszStep);
        std::vector<u8> e = Edid_Tv4k(), gone = Edid_Hex(s.pszGone);
        std::vector<u8> want = Bytes(e.data() + 128, 127);
        auto at = std::search(want.begin(), want.end(), gone.begin(), gone.end());
        ASSERT_NE(want.end(), at);
        want.erase(at, at + (long)gone.size());
        want.resize(127, 0);
        want[2] = (u8)(want[2] - gone.size());
        std::vector<u8> base = Bytes(e.data(), 128);
        s.pfnStep(e.data());
        EXPECT_EQ(want, Bytes(e.data() + 128, 127));
        EXPECT_EQ(base, Bytes(e.data(), 128));
    }
}

// The steps on blocks in the first place and on repeats: every 4:2:0 and
// vendor video block goes, of the HDR and colorimetry blocks the first.
TEST(EdidFilterTest, StepsOnFirstAndRepeatedBlocks)
{
    const std::string ext = "02 03 17 00  E2 0F 03  E3 0E 61 60  E2 06 01  E2 05 02  E2 06 03  E2 05 04";
    const struct { void (*pfnStep)(u8 *); const char *pszWant; } astCases[] = {
        {Del420Info, "02 03 10 00  E2 06 01  E2 05 02  E2 06 03  E2 05 04  00 00 00 00 00 00 00"},
        {DisableHdr, "02 03 14 00  E2 0F 03  E3 0E 61 60  E2 05 02  E2 06 03  E2 05 04  00 00 00"},
        {DisableCDB, "02 03 14 00  E2 0F 03  E3 0E 61 60  E2 06 01  E2 06 03  E2 05 04  00 00 00"},
    };
    for (const auto &c : astCases) {
        std::vector<u8> e(Edid_4100L_Lib[0].au8, Edid_4100L_Lib[0].au8 + 128), x = Edid_Hex(ext);
        e.insert(e.end(), x.begin(), x.end());
        e.resize(EDID_LEN);
        c.pfnStep(e.data());
        std::vector<u8> want = Edid_Hex(c.pszWant);
        EXPECT_EQ(want, Bytes(e.data() + 128, (u32)want.size()));
    }
    std::vector<u8> e(Edid_4100L_Lib[0].au8, Edid_4100L_Lib[0].au8 + 128);
    std::vector<u8> x = Edid_Hex("02 03 0B 00  E2 01 AA  E3 01 BB CC");
    e.insert(e.end(), x.begin(), x.end());
    e.resize(EDID_LEN);
    zup_remove_dolbyVision_edid(e.data());
    EXPECT_EQ(Edid_Hex("02 03 04 00 00 00 00 00 00 00 00"), Bytes(e.data() + 128, 11));
}

// The extension's timings after its first one lose what is above 154 MHz;
// its first timing and the base block's stay.
TEST(EdidFilterTest, Block1TimingsAfterTheFirst)
{
    std::vector<u8> e = Edid_Tv4k();
    const u32 u32First = 128 + e[130];
    ASSERT_EQ(29700u, DtdAt(e.data(), u32First + 18).u32Clock);
    std::copy(e.begin() + u32First + 18, e.begin() + u32First + 36, e.begin() + u32First);
    std::vector<u8> before = e;
    testing::internal::CaptureStdout();
    Disable4KDetailTiming_Block1(e.data());
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(Bytes(before.data(), u32First + 18), Bytes(e.data(), u32First + 18));
    EXPECT_EQ(s_1080p60, Bytes(e.data() + u32First + 18, 18));
    const u32 u32Rest = u32First + 36;
    EXPECT_EQ(Bytes(before.data() + u32Rest, 256 - u32Rest), Bytes(e.data() + u32Rest, 256 - u32Rest));
    EXPECT_NE(std::string::npos, log.find("Disable above 150M detail timing 29700\n"));
}
