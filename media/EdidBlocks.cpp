// The built-in EDIDs, composed at compile time from their timings, and the
// 4K filter. Offsets are absolute within the 256 bytes.
#include "media/Edid.h"

#include <cstring>

#include "core/Debug.h"

#define EDID_DTD_LEN      18
#define EDID_DTD1         54         // first and second descriptor of the base block
#define EDID_DTD2         72
#define EDID_DESC3        90
#define EDID_DESC4        108
#define EDID_EXT_COUNT    126
#define EDID_EXT          128
#define EDID_EXT_D        130        // offset of the extension's first timing, from 128
#define EDID_EXT_BLOCKS   132        // first data block
#define EDID_DTD_END      234        // a timing starting here would reach the checksum
#define EDID_CLOCK_MAX    15400      // 154 MHz, 10 kHz units
#define EDID_VIC_1080P60  16

enum EdidTag_E { EDID_TAG_AUDIO = 1, EDID_TAG_VIDEO = 2, EDID_TAG_VENDOR = 3, EDID_TAG_SPEAKER = 4,
                 EDID_TAG_EXTENDED = 7 };
// Extended tags, the first payload byte of an extended block.
enum EdidExtTag_E { EDID_EXT_VENDOR_VIDEO = 1, EDID_EXT_COLORIMETRY = 5, EDID_EXT_HDR = 6,
                    EDID_EXT_420_VIDEO = 14, EDID_EXT_420_MAP = 15 };

struct EdidTiming_S {                // one detailed timing
    u16 u16Clock;                    // pixel clock, 10 kHz
    u16 u16HActive, u16HBlank, u16HFront, u16HSync;
    u16 u16VActive, u16VBlank, u16VFront, u16VSync;
    u16 u16WidthMm, u16HeightMm;     // image size
};

static constexpr EdidTiming_S s_st2160p30 = {29700, 3840, 560, 176, 88, 2160, 90, 8, 10, 708, 398};
static constexpr EdidTiming_S s_st1200p60 = {15400, 1920, 160, 48, 32, 1200, 35, 3, 6, 708, 398};   // reduced blanking
static constexpr EdidTiming_S s_st1080p60 = {14850, 1920, 280, 88, 44, 1080, 45, 4, 5, 510, 287};
static constexpr EdidTiming_S s_st1080p50 = {14850, 1920, 720, 528, 44, 1080, 45, 4, 5, 510, 287};
static constexpr EdidTiming_S s_st720p60 = {7425, 1280, 370, 110, 40, 720, 30, 5, 5, 510, 287};
static constexpr EdidTiming_S s_st720p50 = {7425, 1280, 700, 440, 40, 720, 30, 5, 5, 510, 287};
static constexpr EdidTiming_S s_st480p60 = {2700, 720, 138, 16, 62, 480, 45, 9, 6, 510, 287};

// Short video descriptors of the extensions; 0x80 marks the native one.
static constexpr u8 s_au8Vic1080[] = {0x90, 31, 4, 19, 2, 3, 1};
static constexpr u8 s_au8Vic720[] = {0x84, 19, 2, 3, 1};
static constexpr u8 s_au8Vic1200[] = {16, 31, 4, 19, 2, 3, 1};
static constexpr u8 s_au8Vic2160[] = {95, 94, 93, 0x90, 31, 4, 19, 2, 3, 1};

struct EdidPreset_S {
    const EdidTiming_S *pstFirst, *pstSecond;
    bool bRangeLimits;               // a range-limits descriptor
    bool bExtension;                 // one CEA-861 extension
    const u8 *pu8Vics;
    u32 u32VicNum;
};

static constexpr u8 s_au8Header[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};
static constexpr u8 s_au8Chroma[10] = {0xEE, 0x91, 0xA3, 0x54, 0x4C, 0x99, 0x26, 0x0F, 0x50, 0x54};
static constexpr char s_szName[] = "Tamsu IP AV";
static constexpr u8 s_au8Audio[] = {0x23, 0x09, 0x07, 0x07};       // LPCM, 2 ch, 32-48 kHz, 16-24 bit
static constexpr u8 s_au8Speaker[] = {0x83, 0x01, 0x00, 0x00};     // front left and right
static constexpr u8 s_au8Hdmi[] = {0x67, 0x03, 0x0C, 0x00, 0x10, 0x00, 0x00, 0x00};   // address 1.0.0.0

static constexpr void Edid_PutDtd(u8 *pu8, const EdidTiming_S &t)
{
    pu8[0] = (u8)t.u16Clock;
    pu8[1] = (u8)(t.u16Clock >> 8);
    pu8[2] = (u8)t.u16HActive;
    pu8[3] = (u8)t.u16HBlank;
    pu8[4] = (u8)((t.u16HActive >> 8) << 4 | (t.u16HBlank >> 8));
    pu8[5] = (u8)t.u16VActive;
    pu8[6] = (u8)t.u16VBlank;
    pu8[7] = (u8)((t.u16VActive >> 8) << 4 | (t.u16VBlank >> 8));
    pu8[8] = (u8)t.u16HFront;
    pu8[9] = (u8)t.u16HSync;
    pu8[10] = (u8)((t.u16VFront & 0x0F) << 4 | (t.u16VSync & 0x0F));
    pu8[11] = (u8)((t.u16HFront >> 8) << 6 | (t.u16HSync >> 8) << 4 | (t.u16VFront >> 4) << 2 | (t.u16VSync >> 4));
    pu8[12] = (u8)t.u16WidthMm;
    pu8[13] = (u8)t.u16HeightMm;
    pu8[14] = (u8)((t.u16WidthMm >> 8) << 4 | (t.u16HeightMm >> 8));
    pu8[15] = 0;
    pu8[16] = 0;
    pu8[17] = 0x1E;                  // digital separate sync, both positive
}

static constexpr u32 Edid_Ceil(u32 u32Num, u32 u32Den)
{
    return (u32Num + u32Den - 1) / u32Den;
}

// Line rate of a timing, kHz rounded up.
static constexpr u32 Edid_HFreq(const EdidTiming_S &t)
{
    return Edid_Ceil(t.u16Clock * 10u, t.u16HActive + t.u16HBlank);
}

static constexpr u32 Edid_Max(u32 a, u32 b)
{
    return a > b ? a : b;
}

static constexpr void Edid_PutName(u8 *pu8)
{
    pu8[3] = 0xFC;
    u32 i = 0;
    for (; s_szName[i] != '\0'; i++)
        pu8[5 + i] = (u8)s_szName[i];
    pu8[5 + i++] = 0x0A;
    for (; 5 + i < EDID_DTD_LEN; i++)
        pu8[5 + i] = 0x20;
}

static constexpr void Edid_PutRange(u8 *pu8, const EdidPreset_S &p)
{
    u32 u32Clock = Edid_Max(p.pstFirst->u16Clock, p.pstSecond->u16Clock);
    const u8 au8Range[] = {0x00, 0x00, 0x00, 0xFD, 0x00, 24, 75, 15,
                           (u8)Edid_Max(Edid_HFreq(*p.pstFirst), Edid_HFreq(*p.pstSecond)),
                           (u8)Edid_Ceil(u32Clock, 1000), 0x00, 0x0A, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20};
    for (u32 i = 0; i < EDID_DTD_LEN; i++)
        pu8[i] = au8Range[i];
}

static constexpr void Edid_PutBytes(u8 *pu8, const u8 *pu8From, u32 u32Len)
{
    for (u32 i = 0; i < u32Len; i++)
        pu8[i] = pu8From[i];
}

// Video, audio, speaker and HDMI blocks, then one 480p timing.
static constexpr void Edid_PutExtension(u8 *e, const EdidPreset_S &p)
{
    e[EDID_EXT] = 0x02;
    e[EDID_EXT + 1] = 0x03;
    e[EDID_EXT + 3] = 0xF1;          // underscan, basic audio, YCbCr 4:4:4 and 4:2:2, one native timing
    u32 u32At = EDID_EXT_BLOCKS;
    e[u32At++] = (u8)(EDID_TAG_VIDEO << 5 | p.u32VicNum);
    Edid_PutBytes(e + u32At, p.pu8Vics, p.u32VicNum);
    u32At += p.u32VicNum;
    Edid_PutBytes(e + u32At, s_au8Audio, sizeof(s_au8Audio));
    u32At += sizeof(s_au8Audio);
    Edid_PutBytes(e + u32At, s_au8Speaker, sizeof(s_au8Speaker));
    u32At += sizeof(s_au8Speaker);
    Edid_PutBytes(e + u32At, s_au8Hdmi, sizeof(s_au8Hdmi));
    u32 u32MaxClock = Edid_Max(p.pstFirst->u16Clock, p.pstSecond->u16Clock);
    e[u32At + sizeof(s_au8Hdmi) - 1] = (u8)Edid_Ceil(u32MaxClock, 500);   // maximum TMDS clock, 5 MHz
    u32At += sizeof(s_au8Hdmi);
    e[EDID_EXT_D] = (u8)(u32At - EDID_EXT);
    Edid_PutDtd(e + u32At, s_st480p60);
    e[EDID_LEN - 1] = (u8)-Edid_Sum(e + EDID_EXT, EDID_BLOCK_LEN - 1);
}

static constexpr EdidBlock_S Edid_Build(const EdidPreset_S &p)
{
    EdidBlock_S st = {};
    u8 *e = st.au8;
    Edid_PutBytes(e, s_au8Header, sizeof(s_au8Header));
    e[8] = 0x51;                     // "TMU": three 5-bit letters
    e[9] = 0xB5;
    e[10] = 0x01;                    // product 0x0001
    e[16] = 1;                       // week 1 of 2020
    e[17] = 30;
    e[18] = 1;                       // EDID 1.3
    e[19] = 3;
    e[20] = 0x80;                    // digital input
    e[21] = (u8)(p.pstFirst->u16WidthMm / 10);
    e[22] = (u8)(p.pstFirst->u16HeightMm / 10);
    e[23] = 0x78;                    // gamma 2.2
    e[24] = 0x0A;                    // RGB colour, preferred timing first
    Edid_PutBytes(e + 25, s_au8Chroma, sizeof(s_au8Chroma));
    e[35] = 0x21;                    // 640 x 480, 800 x 600 and 1024 x 768 at 60 Hz
    e[36] = 0x08;
    const u8 au8Std[] = {0x61, 0x40, 0x81, 0xC0, 0xD1, 0xC0};   // 1024 x 768, 1280 x 720, 1920 x 1080 at 60 Hz
    u32 u32Std = p.pstFirst->u16VActive >= 1080 ? 6 : 4;
    for (u32 i = 0; i < 16; i++)
        e[38 + i] = i < u32Std ? au8Std[i] : 0x01;
    Edid_PutDtd(e + EDID_DTD1, *p.pstFirst);
    Edid_PutDtd(e + EDID_DTD2, *p.pstSecond);
    if (p.bRangeLimits) {
        Edid_PutRange(e + EDID_DESC3, p);
        Edid_PutName(e + EDID_DESC4);
    } else {
        Edid_PutName(e + EDID_DESC3);
        e[EDID_DESC4 + 3] = 0x10;    // dummy descriptor
    }
    if (p.bExtension) {
        e[EDID_EXT_COUNT] = 1;
        Edid_PutExtension(e, p);
    }
    e[EDID_BLOCK_LEN - 1] = (u8)-Edid_Sum(e, EDID_BLOCK_LEN - 1);
    return st;
}

#define EDID_VICS(a) a, ARRAY_SIZE(a)

static constexpr EdidPreset_S s_astPresets[EDID_BUILTIN_NUM] = {
    {&s_st1080p60, &s_st1080p50, true, true, EDID_VICS(s_au8Vic1080)},
    {&s_st720p60, &s_st720p50, true, true, EDID_VICS(s_au8Vic720)},
    {&s_st720p60, &s_st720p50, false, false, EDID_VICS(s_au8Vic720)},
    {&s_st1080p60, &s_st720p60, false, false, EDID_VICS(s_au8Vic1080)},
    {&s_st1200p60, &s_st1080p60, false, false, EDID_VICS(s_au8Vic1200)},
    {&s_st1200p60, &s_st1080p60, true, true, EDID_VICS(s_au8Vic1200)},
};
static constexpr EdidPreset_S s_stDefaultPreset = {&s_st2160p30, &s_st720p60, true, true, EDID_VICS(s_au8Vic2160)};

constexpr EdidBlock_S Edid_4100L_Lib[EDID_BUILTIN_NUM] = {
    Edid_Build(s_astPresets[0]), Edid_Build(s_astPresets[1]), Edid_Build(s_astPresets[2]),
    Edid_Build(s_astPresets[3]), Edid_Build(s_astPresets[4]), Edid_Build(s_astPresets[5]),
};
constexpr EdidBlock_S Default_Edid_Block = Edid_Build(s_stDefaultPreset);

// The filter. Data blocks run from byte 132 to 128 + d - 1; a block is
// taken only when it lies wholly inside that area.

static u32 Edid_DataEnd(const u8 *e)
{
    u8 d = e[EDID_EXT_D];
    return d < 4 || d > 127 ? EDID_EXT_BLOCKS : EDID_EXT + d;
}

// Payload length of the block at u32At, or -1 when none starts there or it
// overruns the area.
static s32 Edid_BlockLen(const u8 *e, u32 u32At)
{
    u32 u32End = Edid_DataEnd(e);
    if (u32At >= u32End)
        return -1;
    u32 u32Len = e[u32At] & 0x1F;
    return u32At + 1 + u32Len <= u32End ? (s32)u32Len : -1;
}

static u32 Edid_Tag(const u8 *e, u32 u32At)
{
    return e[u32At] >> 5;
}

// Removes bytes [u32At, u32At + u32Len) of the extension: what follows, up
// to byte 254, moves left, zeros fill in before the checksum, d shrinks.
static void Edid_Remove(u8 *e, u32 u32At, u32 u32Len)
{
    memmove(e + u32At, e + u32At + u32Len, EDID_LEN - 1 - (u32At + u32Len));
    memset(e + EDID_LEN - 1 - u32Len, 0, u32Len);
    e[EDID_EXT_D] = (u8)(e[EDID_EXT_D] - u32Len);
}

#define EDID_WALK_STOP 0xFFFFFFFFu

// One step on the block at u32At with payload length u32Len: returns the
// block's size after the step (0 once removed, so the walk looks at the
// same place again), or EDID_WALK_STOP.
typedef u32 EdidBlockStep(u8 *e, u32 u32At, u32 u32Len, u32 u32Arg);

static void Edid_Walk(u8 *e, EdidBlockStep *pfnStep, u32 u32Arg)
{
    u32 u32At = EDID_EXT_BLOCKS;
    for (s32 s32Len; (s32Len = Edid_BlockLen(e, u32At)) >= 0;) {
        u32 u32Size = pfnStep(e, u32At, (u32)s32Len, u32Arg);
        if (u32Size == EDID_WALK_STOP)
            return;
        u32At += u32Size;
    }
}

static bool Edid_IsExtended(const u8 *e, u32 u32At, u32 u32Len, u32 u32TagMask)
{
    return Edid_Tag(e, u32At) == EDID_TAG_EXTENDED && u32Len >= 1 && e[u32At + 1] < 32 &&
           (u32TagMask & (1u << e[u32At + 1])) != 0;
}

static u32 Edid_DelFirstStep(u8 *e, u32 u32At, u32 u32Len, u32 u32TagMask)
{
    if (!Edid_IsExtended(e, u32At, u32Len, u32TagMask))
        return 1 + u32Len;
    Edid_Remove(e, u32At, 1 + u32Len);
    return EDID_WALK_STOP;
}

static u32 Edid_DelEveryStep(u8 *e, u32 u32At, u32 u32Len, u32 u32TagMask)
{
    if (!Edid_IsExtended(e, u32At, u32Len, u32TagMask))
        return 1 + u32Len;
    Edid_Remove(e, u32At, 1 + u32Len);
    return 0;
}

static void Disable4KDetailTiming(u8 *pu8Dtd)
{
    u32 u32Clock = pu8Dtd[0] | (u32)pu8Dtd[1] << 8;
    if (u32Clock <= EDID_CLOCK_MAX)
        return;
    Debug_Log("[%s]: Disable above 150M detail timing %d\n", log_Time(), (s32)u32Clock);
    Edid_PutDtd(pu8Dtd, s_st1080p60);
}

static void Del_Established(u8 *e)
{
    e[35] &= 0x21;
    e[36] &= 0x08;
    e[37] &= 0x7F;
}

// Only a video data block in the first place is rewritten.
static void DelAOver1080PVic(u8 *e)
{
    s32 s32Len = Edid_BlockLen(e, EDID_EXT_BLOCKS);
    if (s32Len < 0 || Edid_Tag(e, EDID_EXT_BLOCKS) != EDID_TAG_VIDEO)
        return;
    for (u32 i = EDID_EXT_BLOCKS + 1; i <= EDID_EXT_BLOCKS + (u32)s32Len; i++)
        if ((e[i] & 0x7F) > 62)
            e[i] = (u8)((e[i] & 0x80) | EDID_VIC_1080P60);
}

static u32 ReservedPCM2_0(u8 *e, u32 u32At, u32 u32Len, u32)
{
    if (Edid_Tag(e, u32At) != EDID_TAG_AUDIO || u32Len < 3)
        return 1 + u32Len;
    if (u32Len > 3)
        Edid_Remove(e, u32At + 4, u32Len - 3);
    memcpy(e + u32At, s_au8Audio, sizeof(s_au8Audio));
    return sizeof(s_au8Audio);
}

static u32 ReservedSpeaker2ch(u8 *e, u32 u32At, u32 u32Len, u32)
{
    if (Edid_Tag(e, u32At) == EDID_TAG_SPEAKER && u32Len >= 1)
        e[u32At + 1] = 0x01;
    return 1 + u32Len;
}

static bool Edid_HasOui(const u8 *e, u32 u32At, u32 u32Len, u8 u8A, u8 u8B, u8 u8C)
{
    return Edid_Tag(e, u32At) == EDID_TAG_VENDOR && u32Len >= 3 && e[u32At + 1] == u8A &&
           e[u32At + 2] == u8B && e[u32At + 3] == u8C;
}

// The HDMI block keeps its address and flags, at most 165 MHz, and loses
// latency, HDMI video and 3D fields.
static u32 Disable4kOfVsdb(u8 *e, u32 u32At, u32 u32Len, u32)
{
    if (!Edid_HasOui(e, u32At, u32Len, 0x03, 0x0C, 0x00) || u32Len <= 6)
        return 1 + u32Len;
    e[u32At + 7] = 0x21;
    if (u32Len > 7) {
        Edid_Remove(e, u32At + 8, u32Len - 7);
        e[u32At] = (u8)(EDID_TAG_VENDOR << 5 | 7);
    }
    return EDID_WALK_STOP;
}

static u32 DelHDMI2_0(u8 *e, u32 u32At, u32 u32Len, u32)
{
    if (!Edid_HasOui(e, u32At, u32Len, 0xD8, 0x5D, 0xC4))
        return 1 + u32Len;
    Edid_Remove(e, u32At, 1 + u32Len);
    Debug_Log("[%s]: Del HDMI 2.0\n", log_Time());
    return EDID_WALK_STOP;
}

static void UpdateChecksum(u8 *e)
{
    e[EDID_BLOCK_LEN - 1] = (u8)-Edid_Sum(e, EDID_BLOCK_LEN - 1);
    e[EDID_LEN - 1] = (u8)-Edid_Sum(e + EDID_EXT, EDID_BLOCK_LEN - 1);
}

// Where the extension's first timing starts, or EDID_DTD_END when it has
// none that ends before the checksum (also for an offset below 4).
static u32 Edid_FirstDtd(const u8 *e)
{
    u8 d = e[EDID_EXT_D];
    return d < 4 || EDID_EXT + d >= EDID_DTD_END ? EDID_DTD_END : EDID_EXT + d;
}

// The walk follows the block headers from byte 132, so a 4:2:0 block in
// the first place goes too and no payload byte is taken for a header.
void Del420Info(u8 *pu8Edid)
{
    Edid_Walk(pu8Edid, Edid_DelEveryStep, 1u << EDID_EXT_420_VIDEO | 1u << EDID_EXT_420_MAP);
}

void DisableHdr(u8 *pu8Edid)
{
    Edid_Walk(pu8Edid, Edid_DelFirstStep, 1u << EDID_EXT_HDR);
}

void DisableCDB(u8 *pu8Edid)
{
    Edid_Walk(pu8Edid, Edid_DelFirstStep, 1u << EDID_EXT_COLORIMETRY);
}

// After a removal the walk looks at the same place again, so a vendor
// video block right behind a removed one goes too.
void zup_remove_dolbyVision_edid(u8 *pu8Edid)
{
    Edid_Walk(pu8Edid, Edid_DelEveryStep, 1u << EDID_EXT_VENDOR_VIDEO);
}

void Disable4KDetailTiming_Block1(u8 *pu8Edid)
{
    for (u32 u32At = Edid_FirstDtd(pu8Edid) + EDID_DTD_LEN; u32At < EDID_DTD_END; u32At += EDID_DTD_LEN)
        Disable4KDetailTiming(pu8Edid + u32At);
}

void EDID_Filte4k(u8 *pu8Edid)
{
    u8 *e = pu8Edid;
    Disable4KDetailTiming(e + EDID_DTD1);
    Disable4KDetailTiming(e + EDID_DTD2);
    Del_Established(e);
    DelAOver1080PVic(e);
    Edid_Walk(e, ReservedPCM2_0, 0);
    Edid_Walk(e, ReservedSpeaker2ch, 0);
    Edid_Walk(e, Disable4kOfVsdb, 0);
    Edid_Walk(e, DelHDMI2_0, 0);
    Del420Info(e);
    DisableHdr(e);
    DisableCDB(e);
    zup_remove_dolbyVision_edid(e);
    u32 u32Dtd = Edid_FirstDtd(e);
    if (u32Dtd < EDID_DTD_END)
        Edid_PutDtd(e + u32Dtd, s_st1200p60);
    Disable4KDetailTiming_Block1(e);
    if (e[EDID_EXT_COUNT] > 1)
        e[EDID_EXT_COUNT] = 1;   // a display's further extensions are not in the 256 bytes served
    UpdateChecksum(e);
    Debug_Log("[%s]: EDID_Filte4k complete\n", log_Time());
}
