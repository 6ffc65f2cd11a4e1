// What the receiver measures of its input: TMDS and pixel clocks, timing,
// audio rate, the AVI infoframe, and the colour conversion it implies.
#include "media/HdmiRxPriv.h"

#include <cstdio>

#define HDMIRX_PCLK_SAMPLES 5
#define HDMIRX_PCLK_TRIES   5       // zero counts before the input counts as not stable
#define HDMIRX_AVI_BUF      20
#define HDMIRX_AVI_REGS     16      // from 0x14: checksum, 13 payload bytes and two spare
#define HDMIRX_CSC_LEN      22
#define HDMIRX_FS_FORCE_AT  15      // mismatching set-ups tolerated before forcing the rate

static_assert(3 + HDMIRX_AVI_REGS <= HDMIRX_AVI_BUF &&
                  3 + HDMIRX_AVI_REGS >= HDMI_INFOFRAME_HEADER_SIZE + HDMI_AVI_INFOFRAME_SIZE,
              "the read holds a whole AVI frame and fits the buffer");

// RGB to YUV matrices: limited and full range, BT.601 and BT.709.
static const u8 s_aau8CscRgb2Yuv[4][HDMIRX_CSC_LEN] = {
    {0x00, 0x80, 0x10, 0xb2, 0x04, 0x65, 0x02, 0xe9, 0x00, 0x93, 0x3c,
     0x18, 0x04, 0x55, 0x3f, 0x49, 0x3d, 0x9f, 0x3e, 0x18, 0x04, 0x00},
    {0x10, 0x80, 0x10, 0x09, 0x04, 0x0e, 0x02, 0xc9, 0x00, 0x0f, 0x3d,
     0x84, 0x03, 0x6d, 0x3f, 0xab, 0x3d, 0xd1, 0x3e, 0x84, 0x03, 0x00},
    {0x00, 0x80, 0x10, 0xb8, 0x05, 0xb4, 0x01, 0x94, 0x00, 0x4a, 0x3c,
     0x17, 0x04, 0x9f, 0x3f, 0xd9, 0x3c, 0x10, 0x3f, 0x17, 0x04, 0x00},
    {0x10, 0x80, 0x10, 0xea, 0x04, 0x77, 0x01, 0x7f, 0x00, 0xd0, 0x3c,
     0x83, 0x03, 0xad, 0x3f, 0x4b, 0x3d, 0x32, 0x3f, 0x83, 0x03, 0x00},
};

// IEC 60958-3 sampling-frequency codes (bits 0-3, bits 6-7 as 4-5) by the
// measured rate in kHz; rates in none of the ranges keep the last code.
static const struct { u32 u32MinKHz, u32MaxKHz; u8 u8Code; } s_astFsRanges[] = {
    {26, 38, 0x03},    {39, 45, 0x00},    {46, 58, 0x02},    {59, 78, 0x0B},    {79, 91, 0x08},
    {92, 106, 0x0A},   {107, 166, 0x2B},  {167, 182, 0x0C},  {183, 202, 0x0E},  {225, 320, 0x1B},
    {321, 448, 0x05},  {449, 638, 0x3B},  {639, 894, 0x09},  {895, 1324, 0x35},
};

u32 hdmi_is_scdt_on(HdmiRxAttr_S *pstRx)
{
    return (hdmi_read(pstRx, 0x19) >> 7) & 1;
}

s32 hdmi_rx_calc_tmds_clk(HdmiRxAttr_S *pstRx, u32 u32Samples)
{
    u32 u32Sum = 0;
    for (u32 i = 0; i < u32Samples; i++) {
        mSleep(3);
        u32Sum += (u8)(hdmi_read(pstRx, 0x48) + 1);
    }
    u8 u8Range = hdmi_read(pstRx, 0x43);
    u64 u64Mult = u8Range & 0x80 ? 1024 : u8Range & 0x40 ? 512 : u8Range & 0x20 ? 256 : 128;
    if (u32Sum == 0) {
        printf("hdmi_rx_calc_tmds_clk - sumt==0\n");
        pstRx->stVideoInfo.u32TmdsClk = 0;
        return -1;
    }
    u32 u32Tmds = (u32)(pstRx->u32RclkKHz * u64Mult * u32Samples / u32Sum);
    pstRx->stVideoInfo.u32TmdsClk = u32Tmds;
    printf("TMDSCLK = %u.%03uMHz\n", u32Tmds / 1000, u32Tmds % 1000);
    return 0;
}

// The 10-bit count is reference cycles per 512 pixels. A zero count is
// measured again, a bounded number of times.
s32 hdmi_rx_calc_pclk(HdmiRxAttr_S *pstRx)
{
    for (u32 u32Try = 0; u32Try < HDMIRX_PCLK_TRIES; u32Try++) {
        u32 u32Sum = 0;
        for (u32 i = 0; i < HDMIRX_PCLK_SAMPLES; i++) {
            mSleep(10);
            std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
            (void)hdmi_set(pstRx, 0x9A, 0x80, 0x00);   // failures are printed; the count reads 0
            u32Sum += (u32)((hdmi_read(pstRx, 0x9A) & 0x03) << 8 | hdmi_read(pstRx, 0x99));
            (void)hdmi_set(pstRx, 0x9A, 0x80, 0x80);
        }
        u32 u32Avg = u32Sum / HDMIRX_PCLK_SAMPLES;
        if (u32Avg == 0) {
            printf("sump == 0\n");
            continue;
        }
        u32 u32Pclk = pstRx->u32RclkKHz * 512 / u32Avg;
        pstRx->stVideoInfo.u32PixelClk = u32Pclk;
        printf("PCLK = %u.%03u MHz\n", u32Pclk / 1000, u32Pclk % 1000);
        return 0;
    }
    pstRx->stVideoInfo.u32PixelClk = 0;
    return -1;
}

static u16 hdmirx_read12(HdmiRxAttr_S *pstRx, u8 u8Low, u8 u8HighMask)
{
    return (u16)(hdmi_read(pstRx, u8Low) | (hdmi_read(pstRx, (u8)(u8Low + 1)) & u8HighMask) << 8);
}

static u16 hdmirx_porch(u32 u32Total, u32 u32Active, u32 u32Front, u32 u32Sync)
{
    return u32Total > u32Active + u32Front + u32Sync ? (u16)(u32Total - u32Active - u32Front - u32Sync) : 0;
}

// Reads the timing registers; -1 (nothing divided) when a total is zero.
s32 hdmi_rx_get_video_info(HdmiRxAttr_S *pstRx)
{
    HdmiRxVideoInfo_S *pst = &pstRx->stVideoInfo;
    {
        std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
        pst->u16HTotal = hdmirx_read12(pstRx, 0x9B, 0x3F);
        pst->u16HActive = hdmirx_read12(pstRx, 0x9D, 0x3F);
        pst->u16HFrontPorch = (u16)(hdmi_read(pstRx, 0xA0) | (hdmi_read(pstRx, 0xA1) & 0xF0) << 4);
        pst->u16HSyncWidth = (u16)(hdmi_read(pstRx, 0x9F) | (hdmi_read(pstRx, 0xA1) & 0x01) << 8);
        pst->u16VTotal = hdmirx_read12(pstRx, 0xA2, 0x3F);
        pst->u16VActive = hdmirx_read12(pstRx, 0xA4, 0x3F);
        pst->u16VFrontPorch = (u16)(hdmi_read(pstRx, 0xA7) | (hdmi_read(pstRx, 0xA8) & 0xF0) << 4);
        pst->u16VSyncWidth = (u16)(hdmi_read(pstRx, 0xA6) | (hdmi_read(pstRx, 0xA8) & 0x01) << 8);
        pst->u16ScanMode = (hdmi_read(pstRx, 0x98) >> 1) & 1;
        u8 u8Pol = hdmi_read(pstRx, 0xAA);
        pst->u16VSyncPol = (u8Pol >> 6) & 1;
        pst->u16HSyncPol = (u8Pol >> 5) & 1;
    }
    pst->u16HBackPorch = hdmirx_porch(pst->u16HTotal, pst->u16HActive, pst->u16HFrontPorch, pst->u16HSyncWidth);
    pst->u16VBackPorch = hdmirx_porch(pst->u16VTotal, pst->u16VActive, pst->u16VFrontPorch, pst->u16VSyncWidth);
    if (pst->u16HTotal == 0 || pst->u16VTotal == 0) {
        dev_err("no timing: htotal %u vtotal %u", pst->u16HTotal, pst->u16VTotal);
        pst->u32FrameRate = 0;
        return -1;
    }
    pst->u32FrameRate = (u32)(1000ULL * pst->u32PixelClk / pst->u16HTotal / pst->u16VTotal);
    u32 u32H = pstRx->stAviInfo.enColorspace == HDMI_COLORSPACE_YUV420 ? 2 : 1;
    printf("HActive = %d\n", pst->u16HActive * u32H);
    printf("HTotal = %d\n", pst->u16HTotal * u32H);
    printf("VActive = %d\n", pst->u16VActive);
    printf("VTotal = %d\n", pst->u16VTotal);
    printf("HFrontPorch = %d\n", pst->u16HFrontPorch * u32H);
    printf("HSyncWidth = %d\n", pst->u16HSyncWidth * u32H);
    printf("HBackPorch = %d\n", pst->u16HBackPorch * u32H);
    printf("VFrontPorch = %d\n", pst->u16VFrontPorch);
    printf("VSyncWidth = %d\n", pst->u16VSyncWidth);
    printf("VBackPorch = %d\n", pst->u16VBackPorch);
    printf("FrameRate = %u\n", pst->u32FrameRate);
    printf(pst->u16ScanMode ? "ScanMode = InterLaced\n" : "ScanMode = Progressive\n");
    printf(pst->u16VSyncPol ? "VSyncPol = Positive\n" : "VSyncPol = Negative\n");
    printf(pst->u16HSyncPol ? "HSyncPol = Positive\n" : "HSyncPol = Negative\n");
    return 0;
}

void hdmirx_audio_output(HdmiRxAttr_S *pstRx, u32 u32On)
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    hdmi_chgbank(pstRx, 1);
    (void)hdmi_write(pstRx, 0xC7, u32On ? 0x00 : 0x7F);   // failures are printed
    hdmi_chgbank(pstRx, 0);
    dev_err(u32On ? "enable audio output" : "audio off");
}

static void hdmirx_audio_force(HdmiRxAttr_S *pstRx)
{
    if (pstRx->u8ChStatusFs != pstRx->u8ForceFs) {
        pstRx->u8FsErrCount++;
        printf("hdmirx->audio_sampling_freq_error_count=%d\n", pstRx->u8FsErrCount);
        if (pstRx->u8FsErrCount > HDMIRX_FS_FORCE_AT) {
            (void)hdmi_set(pstRx, 0x81, 0x40, 0x40);       // failures are printed
            (void)hdmi_set(pstRx, 0x8A, 0x3F, pstRx->u8ForceFs);
            pstRx->u8FsErrCount = 0;
            hdmirx_hdcp_reset_sub(pstRx);
            printf("ForceAudio Mode\n");
        }
        return;
    }
    printf("channel_status == force_sample_freq\n");
    if (hdmi_read(pstRx, 0x81) & 0x40) {
        (void)hdmi_set(pstRx, 0x81, 0x40, 0x00);           // failures are printed
        hdmirx_hdcp_reset_sub(pstRx);
    }
    pstRx->u8FsErrCount = 0;
}

// Rate = TMDS x N / (128 x CTS), in 64 bits: N x TMDS passes 32 bits from
// 176.4 kHz audio on a 4K clock.
void hdmirx_audio_setup(HdmiRxAttr_S *pstRx)
{
    hdmirx_audio_output(pstRx, 0);
    hdmirx_hdcp_reset_sub(pstRx);
    (void)hdmi_set(pstRx, 0x86, 0x01, 0x01);               // failures are printed
    dev_err("i2s_justified:%d", pstRx->u8I2sJustified);
    {
        std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
        (void)hdmi_set(pstRx, 0x0F, 0x03, 0x00);
        (void)hdmi_set(pstRx, 0x82, 0x03, pstRx->u8I2sJustified);
        hdmi_chgbank(pstRx, 2);
        u8 u8C0 = hdmi_read(pstRx, 0xC0);
        pstRx->u32AudioN = (u32)(hdmi_read(pstRx, 0xBE) << 12 | hdmi_read(pstRx, 0xBF) << 4 | (u8C0 & 0x0F));
        pstRx->u32AudioCts = (u32)(u8C0 >> 4 | hdmi_read(pstRx, 0xC1) << 12 | hdmi_read(pstRx, 0xC2) << 4);
        hdmi_chgbank(pstRx, 0);
    }
    if (pstRx->u32AudioCts == 0) {
        dev_err("WARNING:cts = %u", pstRx->u32AudioCts);
    } else {
        u8 u8Cs = hdmi_read(pstRx, 0xB5);
        pstRx->u8ChStatusFs = (u8)((u8Cs & 0x0F) + ((u8Cs & 0xC0) >> 2));
        u64 u64Fs100 = (u64)pstRx->stVideoInfo.u32TmdsClk * pstRx->u32AudioN * 100 / ((u64)pstRx->u32AudioCts * 128);
        pstRx->u32AudioFs = (u32)(u64Fs100 / 100);
        printf("n = %u cts = %u\n", pstRx->u32AudioN, pstRx->u32AudioCts);
        printf("tmds clock = %d kHz\n", pstRx->stVideoInfo.u32TmdsClk);
        printf("Audio_CH_Status[24:27 - 30:31][bit0~bit5] = 0x%02x\n", pstRx->u8ChStatusFs);
        printf("sw clac sampling frequency = %d.%d kHz\n", (s32)(u64Fs100 / 100), (s32)(u64Fs100 % 100));
        for (const auto &st : s_astFsRanges)
            if (pstRx->u32AudioFs >= st.u32MinKHz && pstRx->u32AudioFs <= st.u32MaxKHz)
                pstRx->u8ForceFs = st.u8Code;
        dev_err("Sampling_Frequency value 0x%02x", pstRx->u8ForceFs);
        hdmirx_audio_force(pstRx);
    }
    (void)hdmi_set(pstRx, 0x8C, 0x10, 0x10);               // failures are printed
    (void)hdmi_set(pstRx, 0x8C, 0x10, 0x00);
    if (pstRx->u8AudioEnable == 1)
        hdmirx_audio_output(pstRx, 1);
}

// {0x82, version, length, checksum and 15 more bytes} from bank 2; the
// last byte of the buffer stays 0. The checksum and unpack take the 17
// bytes up to the 13th payload byte, so all they check is read.
s32 hdmirx_get_avi_infoframe(HdmiRxAttr_S *pstRx)
{
    u8 au8Buf[HDMIRX_AVI_BUF] = {HDMI_INFOFRAME_TYPE_AVI};
    {
        std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
        hdmi_chgbank(pstRx, 2);
        au8Buf[1] = hdmi_read(pstRx, 0x13);
        au8Buf[2] = hdmi_read(pstRx, 0x12);
        for (u8 i = 0; i < HDMIRX_AVI_REGS; i++)
            au8Buf[3 + i] = hdmi_read(pstRx, (u8)(0x14 + i));
        hdmi_chgbank(pstRx, 0);
    }
    dev_err("avi infoframe:");
    for (u8 u8 : au8Buf)
        printf("0x%02x ", u8);
    printf("\n");
    HdmiInfoFrame_U unFrame;
    s32 s32Ret = hdmi_infoframe_unpack(&unFrame, au8Buf, sizeof(au8Buf));
    if (s32Ret < 0)
        return s32Ret;
    pstRx->stAviInfo = unFrame.stAvi;
    hdmi_infoframe_log("[INFO]", "hdmirx", &unFrame);
    return 0;
}

// For the YCbCr 4:2:2 output: an RGB input is converted, YUV passes.
void hdmirx_setup_csc(HdmiRxAttr_S *pstRx)
{
    const HdmiAviInfoFrame_S *pstAvi = &pstRx->stAviInfo;
    u8 u8Select = 0;
    if (pstAvi->enColorspace == HDMI_COLORSPACE_RGB) {
        dev_err("csc rgb2yuv");
        u32 u32Matrix = (pstAvi->enColorimetry == HDMI_COLORIMETRY_ITU_709 ? 2 : 0) +
                        (pstAvi->enQuantizationRange == HDMI_QUANTIZATION_RANGE_LIMITED ? 0 : 1);
        dev_err("setup csc matrix: %d", u32Matrix);
        std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
        hdmi_chgbank(pstRx, 1);
        (void)regmap_bulk_write(&pstRx->stHdmiMap, 0x70, s_aau8CscRgb2Yuv[u32Matrix], HDMIRX_CSC_LEN);   // printed
        hdmi_chgbank(pstRx, 0);
        u8Select = 2;
    } else {
        dev_err("csc byass");
    }
    (void)hdmi_set(pstRx, 0x6E, 0xF7, 0x51);               // failures are printed
    (void)hdmi_set(pstRx, 0x6C, 0x03, u8Select);
    (void)hdmi_set(pstRx, 0x6B, 0x3F, (u8)((pstAvi->enColorspace & 0x3) << 4 | pstRx->u8OutColor << 2));
}
