// The source side of the simulated receiver: what a source plugged into
// the chip sends, and when. Applied at every register access, so the
// model needs no thread of its own.
#include "platform/host/HostHdmiRx.h"
#include "platform/host/HostMedia.h"

#include <cstring>

static const HostRxMode_S s_astModes[] = {
    {"1920x1080p60", 16, 148500, 1920, 88, 44, 148, 1080, 4, 5, 36, false, true},
    {"1920x1080p50", 31, 148500, 1920, 528, 44, 148, 1080, 4, 5, 36, false, true},
    {"1920x1080i60", 5, 74250, 1920, 88, 44, 148, 540, 2, 5, 15, true, true},
    {"1280x720p60", 4, 74250, 1280, 110, 40, 220, 720, 5, 5, 20, false, true},
    {"1280x720p50", 19, 74250, 1280, 440, 40, 220, 720, 5, 5, 20, false, true},
    {"3840x2160p30", 95, 297000, 3840, 176, 88, 296, 2160, 8, 10, 72, false, true},
    {"2560x1440p60", 0, 241500, 2560, 48, 32, 80, 1440, 3, 5, 33, false, true},   // reduced blanking
    {"1920x1080p120", 63, 297000, 1920, 88, 44, 148, 1080, 4, 5, 36, false, true},
    {"720x480p60", 2, 27000, 720, 16, 62, 60, 480, 9, 6, 30, false, false},
    {"640x480p60", 1, 25175, 640, 16, 96, 48, 480, 10, 2, 33, false, false},
};

// Audio clock regeneration N of the three rate families.
static const struct { u32 u32BaseHz; u32 u32N; } s_astAudioN[] = {
    {32000, 4096}, {44100, 6272}, {48000, 6144},
};

// Channel-status sampling-frequency codes: bits 0-3 and 6-7 of byte 3.
static const struct { u32 u32Hz; u8 u8Code; } s_astChStatus[] = {
    {32000, 0x03}, {44100, 0x00}, {48000, 0x02}, {88200, 0x08},
    {96000, 0x0A}, {176400, 0x0C}, {192000, 0x0E},
};

static u8 *HostRx_R0(HostHdmiRx_S *pstRx, u8 u8Reg)
{
    return &pstRx->aau8Hdmi[0][u8Reg];
}

static void HostRx_SetBit(u8 *pu8, u8 u8Mask, bool bOn)
{
    *pu8 = bOn ? (u8)(*pu8 | u8Mask) : (u8)(*pu8 & ~u8Mask);
}

static void HostRx_Put12(HostHdmiRx_S *pstRx, u8 u8Low, u32 u32Val)
{
    *HostRx_R0(pstRx, u8Low) = (u8)u32Val;
    *HostRx_R0(pstRx, (u8)(u8Low + 1)) = (u8)((u32Val >> 8) & 0x3F);
}

// Timing registers as the receiver measures them once sync is detected,
// zero without.
static void HostRx_FillTiming(HostHdmiRx_S *pstRx, const HostRxMode_S *pstMode)
{
    for (u8 u8Reg = 0x9B; u8Reg <= 0xA8; u8Reg++)
        *HostRx_R0(pstRx, u8Reg) = 0;
    *HostRx_R0(pstRx, 0x98) = 0;
    *HostRx_R0(pstRx, 0xAA) &= 0x08;
    if (pstMode == nullptr)
        return;
    u32 u32HTotal = pstMode->u16HActive + pstMode->u16HFront + pstMode->u16HSync + pstMode->u16HBack;
    u32 u32VTotal = pstMode->u16VActive + pstMode->u16VFront + pstMode->u16VSync + pstMode->u16VBack;
    HostRx_Put12(pstRx, 0x9B, u32HTotal);
    HostRx_Put12(pstRx, 0x9D, pstMode->u16HActive);
    *HostRx_R0(pstRx, 0x9F) = (u8)pstMode->u16HSync;
    *HostRx_R0(pstRx, 0xA0) = (u8)pstMode->u16HFront;
    *HostRx_R0(pstRx, 0xA1) = (u8)(((pstMode->u16HFront >> 4) & 0xF0) | ((pstMode->u16HSync >> 8) & 0x01));
    HostRx_Put12(pstRx, 0xA2, u32VTotal);
    HostRx_Put12(pstRx, 0xA4, pstMode->u16VActive);
    *HostRx_R0(pstRx, 0xA6) = (u8)pstMode->u16VSync;
    *HostRx_R0(pstRx, 0xA7) = (u8)pstMode->u16VFront;
    *HostRx_R0(pstRx, 0xA8) = (u8)(((pstMode->u16VFront >> 4) & 0xF0) | ((pstMode->u16VSync >> 8) & 0x01));
    *HostRx_R0(pstRx, 0x98) = (u8)(0x40 | (pstMode->bInterlace ? 0x02 : 0));   // 24-bit colour
    HostRx_SetBit(HostRx_R0(pstRx, 0xAA), 0x60, pstMode->bSyncPos);
}

// Pixel clock counter: reference cycles per 512 pixel clocks. It counts
// the clock the receiver recovers, so it runs as soon as the clock does,
// before sync is detected; zero without a clock.
static void HostRx_FillPclk(HostHdmiRx_S *pstRx, u32 u32PixelKHz)
{
    u32 u32Count = u32PixelKHz != 0 ? pstRx->u32RclkKHz * 512 / u32PixelKHz : 0;
    *HostRx_R0(pstRx, 0x99) = (u8)u32Count;
    *HostRx_R0(pstRx, 0x9A) = (u8)((*HostRx_R0(pstRx, 0x9A) & 0xFC) | ((u32Count >> 8) & 0x03));
}

// TMDS clock counter: register 0x48 + 1 reference cycles span 128 TMDS
// cycles times the range in bits 5-7 of 0x43 (none: x1, up to bit 7: x8).
// The driver reads the count modulo 256, so a range holds at most 255.
static void HostRx_FillTmds(HostHdmiRx_S *pstRx, u32 u32TmdsKHz)
{
    static const u8 au8Range[] = {0x80, 0x40, 0x20, 0x00};
    *HostRx_R0(pstRx, 0x43) &= 0x1F;
    *HostRx_R0(pstRx, 0x48) = 0xFF;
    if (u32TmdsKHz == 0)
        return;
    u32 u32Mult = 1024;
    for (u8 u8Range : au8Range) {
        u32 u32Count = (u32)((u64)pstRx->u32RclkKHz * u32Mult / u32TmdsKHz);
        if (u32Count < 256 || u8Range == 0) {
            *HostRx_R0(pstRx, 0x43) |= u8Range;
            *HostRx_R0(pstRx, 0x48) = (u8)(u32Count - 1);
            return;
        }
        u32Mult /= 2;
    }
}

static void HostRx_FillAvi(HostHdmiRx_S *pstRx)
{
    u8 *pu8 = &pstRx->aau8Hdmi[2][0];
    memset(pu8 + 0x12, 0, 0x24 - 0x12);
    pu8[0x12] = 13;
    pu8[0x13] = 2;
    u8 *pu8Payload = pu8 + 0x15;
    pu8Payload[0] = (u8)((pstRx->u8AviColor & 3) << 5 | 0x10);           // active format present
    pu8Payload[1] = (u8)((pstRx->pstMode->u32PixelKHz > 27000 ? 2 : 1) << 6 | 2 << 4 | 8);
    pu8Payload[3] = pstRx->pstMode->u8Vic;
    u32 u32Sum = 0x82 + 2 + 13;
    for (u32 i = 0; i < 13; i++)
        u32Sum += pu8Payload[i];
    pu8[0x14] = (u8)(0x100 - (u32Sum & 0xFF));
}

static void HostRx_FillAudio(HostHdmiRx_S *pstRx)
{
    u8 *pu8 = &pstRx->aau8Hdmi[2][0];
    u8 *pu8ChStatus = HostRx_R0(pstRx, 0xB5);
    u32 u32N = 0, u32Cts = 0;
    u8 u8Code = 0x01;                                   // not indicated
    u32 u32ClaimHz = pstRx->u32ChStatusHz ? pstRx->u32ChStatusHz : pstRx->u32AudioHz;
    for (const auto &st : s_astAudioN)
        if (pstRx->u32AudioHz && pstRx->u32AudioHz % st.u32BaseHz == 0)
            u32N = st.u32N * (pstRx->u32AudioHz / st.u32BaseHz);
    if (u32N == 0)
        u32N = (u32)((u64)pstRx->u32AudioHz * 128 / 1000);
    if (pstRx->bScdt && pstRx->u32AudioHz)
        u32Cts = (u32)((u64)pstRx->pstMode->u32PixelKHz * 1000 * u32N / (128ULL * pstRx->u32AudioHz));
    else
        u32N = 0;
    for (const auto &st : s_astChStatus)
        if (st.u32Hz == u32ClaimHz)
            u8Code = st.u8Code;
    *pu8ChStatus = (u8)((u8Code & 0x0F) | ((u8Code & 0x30) << 2));
    pu8[0xBE] = (u8)(u32N >> 12);
    pu8[0xBF] = (u8)(u32N >> 4);
    pu8[0xC0] = (u8)((u32N & 0x0F) | (u32Cts & 0x0F) << 4);
    pu8[0xC1] = (u8)(u32Cts >> 12);
    pu8[0xC2] = (u8)(u32Cts >> 4);
}

static void HostRx_SetClock(HostHdmiRx_S *pstRx, bool bOn)
{
    if (pstRx->bClock == bOn)
        return;
    pstRx->bClock = bOn;
    *HostRx_R0(pstRx, 0x05) |= (u8)(0x04 | (bOn ? 0x02 : 0));
    HostRx_SetBit(HostRx_R0(pstRx, 0x13), 0x10, bOn);
    HostRx_SetBit(HostRx_R0(pstRx, 0x13), 0x02, bOn && pstRx->bHdmi);
    HostRx_FillTmds(pstRx, bOn ? pstRx->pstMode->u32PixelKHz : 0);
    HostRx_FillPclk(pstRx, bOn ? pstRx->pstMode->u32PixelKHz : 0);
}

static void HostRx_SetScdt(HostHdmiRx_S *pstRx, bool bOn)
{
    if (pstRx->bScdt == bOn)
        return;
    pstRx->bScdt = bOn;
    HostRx_SetBit(HostRx_R0(pstRx, 0x19), 0x80, bOn);
    *HostRx_R0(pstRx, 0x10) |= 0x02;
    HostRx_FillTiming(pstRx, bOn ? pstRx->pstMode : nullptr);
    HostRx_FillAudio(pstRx);
    if (bOn && pstRx->bHdmi) {
        HostRx_FillAvi(pstRx);
        *HostRx_R0(pstRx, 0x12) |= (u8)(0x01 | (pstRx->u32AudioHz ? 0x10 : 0));   // AVI, audio packets
    }
}

// The source starts sending anew and reads the EDID.
static void HostRx_SourceStart(HostHdmiRx_S *pstRx, u64 u64Now)
{
    pstRx->u64SourceMs = u64Now;
    HostHdmiRx_SourceEdid(pstRx->au8SourceEdid);
    pstRx->u32EdidReads++;
}

void HostRx_OnHpd(HostHdmiRx_S *pstRx, bool bHigh, u64 u64Now)
{
    pstRx->bHpd = bHigh;
    HostRxHpdEvent_S *pstEv = &pstRx->astHpd[pstRx->u32HpdEvents % HOSTRX_HPD_EVENTS];
    pstEv->u64Ms = u64Now;
    pstEv->bHigh = bHigh;
    pstRx->u32HpdEvents++;
    if (bHigh && pstRx->bPlugged)
        HostRx_SourceStart(pstRx, u64Now);
}

// Pictures reach the capture pad while the CSI-2 output is on and a
// signal is behind it; the audio rate goes with the signal.
static void HostRx_TellPad(HostHdmiRx_S *pstRx)
{
    bool bOutput = (pstRx->au8Mipi[0x05] & 0x36) == 0 && pstRx->bScdt;
    if (bOutput != pstRx->bPadOutput) {
        pstRx->bPadOutput = bOutput;
        HostPad_SetOutput(bOutput);
    }
    u32 u32AudioHz = pstRx->bScdt && pstRx->bHdmi ? pstRx->u32AudioHz : 0;
    if (u32AudioHz != pstRx->u32PadAudioHz) {
        pstRx->u32PadAudioHz = u32AudioHz;
        HostPad_SetAudio(u32AudioHz);
    }
}

void HostRx_Advance(HostHdmiRx_S *pstRx, u64 u64Now)
{
    u8 *pu8Sta = HostRx_R0(pstRx, 0x13);
    if (((*pu8Sta & 0x01) != 0) != pstRx->bPlugged) {
        HostRx_SetBit(pu8Sta, 0x01, pstRx->bPlugged);
        *HostRx_R0(pstRx, 0x05) |= 0x01;
    }
    u64 u64ClockAt = pstRx->u64SourceMs + pstRx->u32ClockDelayMs;
    bool bClock = pstRx->bPlugged && pstRx->bHpd && pstRx->pstMode && u64Now >= u64ClockAt;
    bool bScdt = bClock && u64Now >= u64ClockAt + pstRx->u32ScdtDelayMs;
    if (!bScdt)
        HostRx_SetScdt(pstRx, false);
    HostRx_SetClock(pstRx, bClock);
    HostRx_SetScdt(pstRx, bScdt);

    bool bEncrypted = pstRx->bScdt && pstRx->bHdcp;
    if (bEncrypted != pstRx->bEncrypted) {
        pstRx->bEncrypted = bEncrypted;
        *HostRx_R0(pstRx, 0x09) |= bEncrypted ? 0x07 : 0x0C;
        HostRx_SetBit(HostRx_R0(pstRx, 0xCF), 0x20, bEncrypted);
    }
    bool bMute = pstRx->bScdt && pstRx->bAvMute;
    if (bMute != ((*HostRx_R0(pstRx, 0xAA) & 0x08) != 0)) {
        HostRx_SetBit(HostRx_R0(pstRx, 0xAA), 0x08, bMute);
        *HostRx_R0(pstRx, 0x10) |= bMute ? 0x10 : 0x20;
    }
    bool bStable = (pstRx->au8Mipi[0x05] & 0x36) == 0 && pstRx->bScdt && pstRx->au8Mipi[0xB0] != 0 &&
                   !pstRx->bMipiUnstable;
    if (bStable != pstRx->bMipiStable) {
        pstRx->bMipiStable = bStable;
        HostRx_SetBit(&pstRx->au8Mipi[0x09], 0x40, bStable);
        pstRx->au8Mipi[0x0B] |= 0x10;
    }
    HostRx_TellPad(pstRx);
}

// The source keeps its timing and changes what its packets say: HDMI or
// DVI, and the colour space of its AVI infoframe. The chip reports a mode
// change, or a new AVI infoframe.
static void HostRx_Resend(HostHdmiRx_S *pstRx)
{
    if (!pstRx->bClock)
        return;                                     // the link comes up with them anyway
    u8 *pu8Sta = HostRx_R0(pstRx, 0x13);
    if (((*pu8Sta & 0x02) != 0) != pstRx->bHdmi) {
        HostRx_SetBit(pu8Sta, 0x02, pstRx->bHdmi);
        *HostRx_R0(pstRx, 0x05) |= 0x10;
    } else if (!pstRx->bHdmi || ((pstRx->aau8Hdmi[2][0x15] >> 5) & 3) == pstRx->u8AviColor) {
        return;
    }
    if (pstRx->bScdt && pstRx->bHdmi) {
        HostRx_FillAvi(pstRx);
        *HostRx_R0(pstRx, 0x12) |= 0x01;
    }
    HostRx_TellPad(pstRx);
}

const HostRxMode_S *HostHdmiRx_FindMode(const char *pszName)
{
    for (const HostRxMode_S &st : s_astModes)
        if (strcmp(st.pszName, pszName) == 0)
            return &st;
    return nullptr;
}

std::string HostHdmiRx_ModeNames(void)
{
    std::string s;
    for (const HostRxMode_S &st : s_astModes)
        s += (s.empty() ? "" : " ") + std::string(st.pszName);
    return s;
}

s32 HostHdmiRx_Plug(const char *pszMode)
{
    const HostRxMode_S *pstMode = HostHdmiRx_FindMode(pszMode);
    if (pstMode == nullptr)
        return -1;
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    u64 u64Now = HostRx_NowMs();
    HostRx_Advance(pstRx, u64Now);
    if (pstRx->bPlugged && pstRx->pstMode == pstMode) {
        HostRx_Resend(pstRx);
        return 0;
    }
    bool bWasPlugged = pstRx->bPlugged;
    pstRx->bPlugged = true;
    pstRx->pstMode = pstMode;
    pstRx->u64SourceMs = u64Now;
    if (!bWasPlugged && pstRx->bHpd)
        HostRx_SourceStart(pstRx, u64Now);
    HostRx_SetScdt(pstRx, false);
    HostRx_SetClock(pstRx, false);
    HostRx_Advance(pstRx, u64Now);
    return 0;
}

void HostHdmiRx_Unplug(void)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    pstRx->bPlugged = false;
    HostRx_Advance(pstRx, HostRx_NowMs());
}

void HostHdmiRx_SetHdcp(bool bOn)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    pstRx->bHdcp = bOn;
    HostRx_Advance(pstRx, HostRx_NowMs());
}

// A new rate while the link is up overruns the receiver's audio FIFO.
void HostHdmiRx_SetAudio(u32 u32Hz, u32 u32ChStatusHz)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    pstRx->u32AudioHz = u32Hz;
    pstRx->u32ChStatusHz = u32ChStatusHz;
    HostRx_Advance(pstRx, HostRx_NowMs());
    if (pstRx->bScdt) {
        HostRx_FillAudio(pstRx);
        *HostRx_R0(pstRx, 0x10) |= 0x80;
        *HostRx_R0(pstRx, 0x12) |= 0x10;
    }
}

void HostHdmiRx_SetAvMute(bool bOn)
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    pstRx->bAvMute = bOn;
    HostRx_Advance(pstRx, HostRx_NowMs());
}

void HostHdmiRx_SourceEdid(u8 au8Out[256])
{
    HostHdmiRx_S *pstRx = HostHdmiRx_Get();
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    memcpy(au8Out, pstRx->au8EdidRam, 256);
    u8 u8Offset = pstRx->au8Latched[0];
    if (u8Offset >= 128 && u8Offset < 254) {        // only into the extension
        au8Out[u8Offset] = pstRx->au8Latched[1];
        au8Out[u8Offset + 1] = pstRx->au8Latched[2];
    }
    au8Out[127] = pstRx->au8Latched[3];
    au8Out[255] = pstRx->au8Latched[4];
}
