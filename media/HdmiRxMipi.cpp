// MIPI CSI-2 output of the receiver: set-up, enable and disable, timing
// from the pixel clock, status, and low-power DCS packets.
#include "media/HdmiRxMipi.h"
#include "media/HdmiRxPriv.h"

#include <cstdio>

#define MIPI_BUS_CSI        0
#define MIPI_OUTPUT_OFF     0x36    // register 0x05
#define MIPI_MCLK_INV_KHZ   310000  // above: clock not inverted
#define MIPI_AUTO_LANE_MHZ  30      // below (with automatic lanes): halve the lanes
#define MIPI_CLOCK_WINDOW   1024    // reference cycles a MIPI clock count spans
#define MIPI_LP_DATA        0x71    // command FIFO data port

static const struct { u8 u8Code; const char *pszName; } s_astFormats[] = {
    {0x25, "CSI_RGB10b"},     {0x24, "CSI_RGB888"},     {0x23, "CSI_RGB666"},      {0x22, "CSI_RGB565"},
    {0x21, "CSI_RGB555"},     {0x20, "CSI_RGB444"},     {0x1A, "CSI_YCbCr4208b"},  {0x1E, "CSI_YCbCr4228b"},
    {0x1F, "CSI_YCbCr42210b"}, {0x30, "CSI_YCbCr42212b"},
};

// {lanes, format (register 0x20), register 0x23, PLL bytes for pixel
// clocks above 200 MHz, above 100 MHz, up to 100 MHz}.
static const u8 s_aau8BusCfg[][6] = {
    {4, 0x25, 0x8F, 0xEE, 0xEE, 0xEE}, {4, 0x24, 0x23, 0x65, 0x22, 0x22}, {4, 0x23, 0x89, 0xE8, 0xE8, 0xE8},
    {4, 0x22, 0x22, 0x63, 0x21, 0x00}, {4, 0x21, 0x22, 0x63, 0x21, 0x00}, {4, 0x20, 0x22, 0x63, 0x21, 0x00},
    {4, 0x1A, 0x23, 0x65, 0x22, 0x22}, {4, 0x1E, 0x22, 0x63, 0x21, 0x00}, {4, 0x1F, 0x45, 0x64, 0x64, 0x64},
    {4, 0x30, 0x23, 0x65, 0x22, 0x22}, {2, 0x25, 0x4F, 0x6E, 0x6E, 0x6E}, {2, 0x24, 0x13, 0x6B, 0x25, 0x25},
    {2, 0x23, 0x49, 0x68, 0x68, 0x68}, {2, 0x22, 0x12, 0x67, 0x23, 0x01}, {2, 0x21, 0x12, 0x67, 0x23, 0x01},
    {2, 0x20, 0x12, 0x67, 0x23, 0x01}, {2, 0x1A, 0x13, 0x6B, 0x25, 0x25}, {2, 0x1E, 0x12, 0x67, 0x23, 0x01},
    {2, 0x1F, 0x25, 0x69, 0x24, 0x24}, {2, 0x30, 0x13, 0x6B, 0x25, 0x25}, {1, 0x25, 0x2F, 0x7D, 0x2E, 0x2E},
    {1, 0x24, 0x03, 0x77, 0x2B, 0x05}, {1, 0x23, 0x29, 0x71, 0x28, 0x28}, {1, 0x22, 0x02, 0x6F, 0x27, 0x03},
    {1, 0x21, 0x02, 0x6F, 0x27, 0x03}, {1, 0x20, 0x02, 0x6F, 0x27, 0x03}, {1, 0x1A, 0x03, 0x77, 0x2B, 0x05},
    {1, 0x1E, 0x02, 0x6F, 0x27, 0x03}, {1, 0x1F, 0x15, 0x73, 0x29, 0x04}, {1, 0x30, 0x03, 0x77, 0x2B, 0x05},
    {0, 0, 0, 0, 0, 0},
};

// Display command set rows; the set-up sends display on (3) and get
// display mode (4).
static const MipiDcsCmd_S s_astDcs[MIPI_DCS_ROWS] = {
    {0, 0x39, 5, {0x2A, 0x00, 0x00, 0x07, 0x7F}},     // column address 0-1919
    {1, 0x39, 5, {0x2B, 0x00, 0x00, 0x04, 0x37}},     // page address 0-1079
    {2, MIPI_DCS_DELAY, 1, {120}},
    {3, 0x05, 1, {0x29}},                             // display on
    {4, 0x06, 1, {0x0D}},                             // get display mode
    {5, 0x15, 2, {0x36, 0x00}},                       // address mode
    {6, 0x39, 133, {0x2C}},                           // one line of memory: more than the FIFO takes
};

// ECC parity bits each header bit feeds (P0 bit 0 .. P5 bit 5).
static const u8 s_au8EccColumn[24] = {
    0x07, 0x0B, 0x0D, 0x0E, 0x13, 0x15, 0x16, 0x19, 0x1A, 0x1C, 0x23, 0x25,
    0x26, 0x29, 0x2A, 0x2C, 0x31, 0x32, 0x34, 0x38, 0x1F, 0x2F, 0x37, 0x3B,
};

const char *mipi_tx_format_name(u8 u8Format)
{
    for (const auto &st : s_astFormats)
        if (st.u8Code == u8Format)
            return st.pszName;
    return nullptr;
}

u8 mipi_tx_ecc(const u8 au8Header[3])
{
    u32 u32Bits = (u32)(au8Header[0] | au8Header[1] << 8 | au8Header[2] << 16);
    u8 u8Ecc = 0;
    for (u32 i = 0; i < 24; i++)
        if (u32Bits & (1u << i))
            u8Ecc ^= s_au8EccColumn[i];
    return u8Ecc;
}

u16 mipi_tx_crc16(const u8 *pu8Data, u32 u32Len)
{
    u16 u16Crc = 0xFFFF;
    for (u32 i = 0; i < u32Len; i++) {
        u16Crc ^= pu8Data[i];
        for (u32 b = 0; b < 8; b++)
            u16Crc = (u16)(u16Crc & 1 ? (u16Crc >> 1) ^ 0x8408 : u16Crc >> 1);
    }
    return u16Crc;
}

u32 mipi_tx_get_video_stable(HdmiRxAttr_S *pstRx)
{
    return (mipi_tx_read(pstRx, 0x09) >> 6) & 1;
}

// Header (data type, two bytes, ECC), then for a long packet the payload
// and its CRC. The number of bytes, or 0 when it does not fit.
static u32 mipi_tx_build_packet(const MipiDcsCmd_S *pstCmd, u8 *pu8Pkt)
{
    bool bLong = (pstCmd->u8DataType & 0x0F) == 0x09;
    u32 u32Len = bLong ? 6u + pstCmd->u8Count : 4u;
    if (u32Len > MIPI_LP_FIFO_MAX || pstCmd->u8Count > MIPI_DCS_PAYLOAD)
        return 0;
    pu8Pkt[0] = pstCmd->u8DataType;
    pu8Pkt[1] = bLong ? pstCmd->u8Count : pstCmd->au8Payload[0];
    pu8Pkt[2] = bLong ? 0 : (pstCmd->u8Count > 1 ? pstCmd->au8Payload[1] : 0);
    pu8Pkt[3] = mipi_tx_ecc(pu8Pkt);
    if (bLong) {
        u16 u16Crc = mipi_tx_crc16(pstCmd->au8Payload, pstCmd->u8Count);
        for (u32 i = 0; i < pstCmd->u8Count; i++)
            pu8Pkt[4 + i] = pstCmd->au8Payload[i];
        pu8Pkt[4 + pstCmd->u8Count] = (u8)u16Crc;
        pu8Pkt[5 + pstCmd->u8Count] = (u8)(u16Crc >> 8);
    }
    return u32Len;
}

void mipi_tx_write_lp_cmds(HdmiRxAttr_S *pstRx, u32 u32First, u32 u32Last)
{
    bool bStable = mipi_tx_get_video_stable(pstRx);
    if (!bStable) {
        (void)mipi_tx_set_bits(pstRx, 0x05, 0x16, 0x16);   // failures are printed by the access
        (void)mipi_tx_set_bits(pstRx, 0x05, 0x06, 0x00);
    }
    (void)mipi_tx_set_bits(pstRx, 0x70, 0x04, 0x04);
    (void)mipi_tx_write(pstRx, 0x3D, 0x00);
    (void)mipi_tx_write(pstRx, 0x3E, bStable ? 0x10 : 0x00);
    (void)mipi_tx_write(pstRx, 0x3F, bStable ? 0x90 : 0x30);
    for (u32 i = u32First; i <= u32Last; i++) {
        if (i >= MIPI_DCS_ROWS) {
            dev_err("error! exceed maximum dcs setting table index");
            break;
        }
        const MipiDcsCmd_S *pstCmd = &s_astDcs[i];
        if (pstCmd->u8DataType == MIPI_DCS_DELAY) {
            mSleep(pstCmd->au8Payload[0]);
            continue;
        }
        u8 au8Pkt[MIPI_LP_FIFO_MAX];
        u32 u32Len = mipi_tx_build_packet(pstCmd, au8Pkt);
        if (u32Len == 0) {
            dev_err("error! lp cmd: %d, exceed cmd fifo", pstCmd->u8Index);
            continue;
        }
        for (u32 j = 0; j < u32Len; j++)
            (void)mipi_tx_write(pstRx, MIPI_LP_DATA, au8Pkt[j]);
        (void)mipi_tx_set_bits(pstRx, 0x70, 0x01, 0x01);
        dev_err("cmd:%d tx reg09:0x%02x", pstCmd->u8Index, mipi_tx_read(pstRx, 0x09));
    }
    (void)mipi_tx_set_bits(pstRx, 0x70, 0x04, 0x00);
    (void)mipi_tx_set_bits(pstRx, 0x05, 0x16, 0x00);
    mSleep(20);
}

void hdmirx_mipi_set_default(HdmiRxAttr_S *pstRx)
{
    HdmiRxMipiCfg_S *pst = &pstRx->stMipi;
    pstRx->u8LaneNum = 2;
    pstRx->u8OutFormat = HDMIRX_CSI_YUV422_8;
    pstRx->u8BusType = MIPI_BUS_CSI;
    pst->u8SwapPn = 0;
    pst->u8SwapLan = 0;
    pst->u8PclkInv = 0;
    pst->u8MclkInv = 1;
    pst->u8LpxNum = 3;
    pst->u8HsPrepare = 1;
}

void hdmirx_mipi_initial(HdmiRxAttr_S *pstRx)
{
    (void)mipi_tx_set_bits(pstRx, 0x05, 0x09, 0x09);       // failures are printed by the access
    (void)mipi_tx_write(pstRx, 0x05, MIPI_OUTPUT_OFF);
    (void)mipi_tx_set_bits(pstRx, 0x2A, 0x3C, 0x00);
    (void)mipi_tx_set_bits(pstRx, 0x3C, 0x20, 0x20);
    (void)mipi_tx_set_bits(pstRx, 0x6B, 0x01, pstRx->u8BusType);
    (void)mipi_tx_set_bits(pstRx, 0x10, 0x80, 0x80);
    (void)mipi_tx_set_bits(pstRx, 0xC1, 0x03, 0x03);
    (void)mipi_tx_set_bits(pstRx, 0xA8, 0x01, 0x00);
    if (pstRx->u8SendDcs)
        mipi_tx_write_lp_cmds(pstRx, 3, 4);
    (void)mipi_tx_write(pstRx, 0x05, MIPI_OUTPUT_OFF);
    dev_err("mipi_initial chip:0x%02x", mipi_tx_read(pstRx, 0x04));
}

void hdmirx_disable_mipi(HdmiRxAttr_S *pstRx)
{
    (void)mipi_tx_write(pstRx, 0x05, MIPI_OUTPUT_OFF);     // printed; the next step tries again
}

void mipi_tx_get_support_format(HdmiRxAttr_S *pstRx)
{
    if (pstRx->u8BusType != MIPI_BUS_CSI)
        return;
    if (pstRx->u8OutFormat == 0x25) {
        dev_err("csi not support CSI_RGB10b");
        pstRx->u8OutFormat = 0x24;
    } else if (pstRx->u8OutFormat == 0x30) {
        dev_err("csi not support CSI_YCbCr42212b");
        pstRx->u8OutFormat = HDMIRX_CSI_YUV422_8;
    } else {
        return;
    }
    const char *pszName = mipi_tx_format_name(pstRx->u8OutFormat);
    if (pszName)
        dev_err("will set %s", pszName);
    else
        dev_err("error not find match color space");
}

static const u8 *mipi_get_bus_config(u8 u8Lanes, u8 u8Format)
{
    for (u32 i = 0; s_aau8BusCfg[i][0] != 0; i++)
        if (s_aau8BusCfg[i][0] == u8Lanes && s_aau8BusCfg[i][1] == u8Format) {
            printf("mipi_get_bus_config = %d (%s)\n", i, mipi_tx_format_name(u8Format));
            const u8 *pu8 = s_aau8BusCfg[i];
            printf("{%X, %X, %X, %X, %X ,%X}\n", pu8[0], pu8[1], pu8[2], pu8[3], pu8[4], pu8[5]);
            return pu8;
        }
    dev_err("mipi_get_bus_config error");
    return nullptr;
}

static u8 mipi_p2m_delay(u32 u32P, u32 u32Mclk)
{
    if (u32P >= 2 * u32Mclk)
        return 2;
    if (u32P >= u32Mclk)
        return 4;
    if (2 * u32Mclk < 3 * u32P)
        return 4;
    return u32Mclk < 2 * u32P ? 8 : 10;
}

static void mipitx_setup_csi(HdmiRxAttr_S *pstRx, const u8 *pu8Row)
{
    HdmiRxMipiCfg_S *pst = &pstRx->stMipi;
    s32 s32Period = (s32)pst->u32MclkPeriod;
    s32 s32PrepareZero = 7, s32Trail = 4;
    if (!pstRx->u8FixedTiming) {
        s32PrepareZero = (285000 - s32Period * 3 / 2) / s32Period + 9;
        s32Trail = (6 * s32Period - 20000) / s32Period == 0 ? 3 : (14 * s32Period - 20) / s32Period + 4;
    }
    (void)mipi_tx_write(pstRx, 0x1F, (u8)s32Trail);        // failures are printed by the access
    (void)mipi_tx_write(pstRx, 0x22, (u8)s32PrepareZero);
    (void)mipi_tx_write(pstRx, 0x24, 0x20);
    (void)mipi_tx_write(pstRx, 0x25, pst->u8P2mDelay);
    (void)mipi_tx_set_bits(pstRx, 0x26, 0x20, (u8)((hdmi_read(pstRx, 0x98) & 0x02) << 4));
    (void)mipi_tx_write(pstRx, 0x27, 0x02);
    (void)mipi_tx_write(pstRx, 0x20, pu8Row[1]);
    (void)mipi_tx_write(pstRx, 0x23, pu8Row[2]);
    mSleep(100);
    dev_err("hs_prepare_zero num: 0x%02x, hs_trail num: 0x%02x, tx_csi_p2m_delay: 0x%02x, "
            "mipi CSI TX setting done !!!", s32PrepareZero, s32Trail, pst->u8P2mDelay);
}

// The PLL byte for the pixel clock, and the MCLK it gives. The row, or
// null without a configuration for the lanes and format.
static const u8 *mipi_tx_clock(HdmiRxAttr_S *pstRx, u32 u32P)
{
    HdmiRxMipiCfg_S *pst = &pstRx->stMipi;
    for (;;) {
        const u8 *pu8Row = mipi_get_bus_config(pstRx->u8LaneNum, pstRx->u8OutFormat);
        if (pu8Row == nullptr)
            return nullptr;
        for (u32 i = 0; i < 6; i++)
            pst->au8BusCfg[i] = pu8Row[i];
        pst->u8Pll = u32P > 200 ? pu8Row[3] : u32P > 100 ? pu8Row[4] : pu8Row[5];
        u32 u32Prediv = pst->u8Pll >> 5, u32Plldiv = pst->u8Pll & 0x1F;
        dev_err("prediv: 0x%02x, plldiv: 0x%02x", u32Prediv, u32Plldiv);
        u32 u32Mclk = u32P * (u32Plldiv + 1) / 2 / (u32Prediv + 1);
        pst->u32MclkKHz = (u32)((u64)pstRx->stVideoInfo.u32PixelClk * (u32Plldiv + 1) / 2 / (u32Prediv + 1));
        pst->u32MclkPeriod = 2000000 * (u32Prediv + 1) / (u32P * (u32Plldiv + 1));
        dev_err("mclk_ns: %d.%d ns, mclk: %d MHz, pclk: %d MHz", pst->u32MclkPeriod / 1000,
                pst->u32MclkPeriod % 1000, u32Mclk, u32P);
        if (!pstRx->u8AutoLane || u32Mclk >= MIPI_AUTO_LANE_MHZ || pstRx->u8LaneNum == 1)
            return pu8Row;
        pstRx->u8LaneNum /= 2;
        dev_err("mclk < %d MHz, adjust to lan_num: %d", MIPI_AUTO_LANE_MHZ, pstRx->u8LaneNum);
    }
}

s32 hdmirx_enable_mipi(HdmiRxAttr_S *pstRx)
{
    HdmiRxMipiCfg_S *pst = &pstRx->stMipi;
    const char *pszName = mipi_tx_format_name(pstRx->u8OutFormat);
    dev_err("MIPI_CSI");
    dev_err("color space:%s", pszName ? pszName : "not find match");
    dev_err("lan_num: %d, swap_pn: %d", pstRx->u8LaneNum, pst->u8SwapPn);
    dev_err("swap_lan: %d, pclk_inv: %d", pst->u8SwapLan, pst->u8PclkInv);
    dev_err("mclk_inv: %d, lpx_num: %d", pst->u8MclkInv, pst->u8LpxNum);
    u32 u32P = pstRx->stVideoInfo.u32PixelClk / 1000;
    if (u32P == 0) {
        dev_err("no pixel clock, mipi stays off");
        return -1;
    }
    const u8 *pu8Row = mipi_tx_clock(pstRx, u32P);
    if (pu8Row == nullptr)
        return -1;
    if (pst->u32MclkKHz > MIPI_MCLK_INV_KHZ) {
        dev_err("mclk: %d KHz, mclk_inv: %d", pst->u32MclkKHz, pst->u8MclkInv);
        pst->u8MclkInv = 0;
        dev_err("set mclk_inv: %d", pst->u8MclkInv);
    }
    (void)mipi_tx_set_bits(pstRx, 0x28, 0x0C, (u8)(pst->u8SwapPn << 3 | pst->u8SwapLan << 2));   // printed
    (void)mipi_tx_set_bits(pstRx, 0x10, 0x04, (u8)(pst->u8PclkInv << 2));
    if (mipi_tx_read(pstRx, 0x04) == 0xC0)
        (void)mipi_tx_set_bits(pstRx, 0x10, 0x02, (u8)(pst->u8MclkInv << 1));
    else
        (void)mipi_tx_set_bits(pstRx, 0x11, 0x08, (u8)(pst->u8MclkInv << 3));
    (void)mipi_tx_set_bits(pstRx, 0x8C, 0x40, 0x00);
    (void)mipi_tx_set_bits(pstRx, 0x47, 0xF0, (u8)(pst->u8HsPrepare << 4));
    (void)mipi_tx_set_bits(pstRx, 0x44, 0x04, 0x04);
    (void)mipi_tx_set_bits(pstRx, 0x45, 0x0F, pst->u8LpxNum);
    (void)mipi_tx_set_bits(pstRx, 0x21, 0x30, (u8)((pstRx->u8LaneNum - 1) << 4));
    dev_err("set hs_prepare num: 0x%02x, hs_lpx num: 0x%02x", pst->u8HsPrepare, pst->u8LpxNum);
    u32 u32Prediv = pst->u8Pll >> 5;
    if (u32P < 10 * (u32Prediv + 1) || u32P > 100 * (u32Prediv + 1)) {
        dev_err("MPTX PHY setting wrong !!!");
        dev_err("Need to reset parameter for TXPHY !!!");
    }
    pst->u8P2mDelay = mipi_p2m_delay(u32P, pst->u32MclkKHz / 1000);
    mipitx_setup_csi(pstRx, pu8Row);
    (void)mipi_tx_write(pstRx, 0xB0, pst->u8Pll);
    mSleep(100);
    (void)mipi_tx_write(pstRx, 0x05, 0x00);
    return 0;
}

// Averages three latched counts of the clock whose control register is
// u8Ctrl; the count is in u8Low and the next register's low seven bits.
static u32 mipi_tx_count(HdmiRxAttr_S *pstRx, u8 u8Ctrl, u8 u8Low, u32 u32Bytes)
{
    u32 u32Sum = 0;
    for (u32 i = 0; i < 3; i++) {
        std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
        (void)mipi_tx_set_bits(pstRx, u8Ctrl, 0x80, 0x80);  // failures are printed; a count reads 0
        (void)mipi_tx_set_bits(pstRx, u8Ctrl, 0x80, 0x00);
        u32 u32Count = mipi_tx_read(pstRx, u8Low);
        u32Count |= (u32)(mipi_tx_read(pstRx, (u8)(u8Low + 1)) & (u32Bytes == 3 ? 0xFF : 0x7F)) << 8;
        if (u32Bytes == 3)
            u32Count |= (u32)mipi_tx_read(pstRx, (u8)(u8Low + 2)) << 16;
        u32Sum += u32Count;
    }
    return u32Sum / 3;
}

static void mipi_tx_measure_clocks(HdmiRxAttr_S *pstRx)
{
    pstRx->u32MipiRclkKHz = mipi_tx_count(pstRx, 0xE0, 0xE1, 3);
    u32 u32R = pstRx->u32MipiRclkKHz;
    pstRx->u32MipiMclkKHz = (u32)((u64)mipi_tx_count(pstRx, 0xE7, 0xE6, 2) * u32R / MIPI_CLOCK_WINDOW);
    pstRx->u32MipiPclkKHz = (u32)((u64)mipi_tx_count(pstRx, 0xE5, 0xE4, 2) * u32R / MIPI_CLOCK_WINDOW);
    dev_err("mipi rclk = %d.%d MHz", u32R / 1000, u32R % 1000);
    dev_err("mipi mclk = %lu.%lu MHz", (unsigned long)pstRx->u32MipiMclkKHz / 1000,
            (unsigned long)pstRx->u32MipiMclkKHz % 1000);
    dev_err("mipi pclk = %lu.%lu MHz", (unsigned long)pstRx->u32MipiPclkKHz / 1000,
            (unsigned long)pstRx->u32MipiPclkKHz % 1000);
}

u32 hdmirx_mipi_status(HdmiRxAttr_S *pstRx)
{
    u8 u8R09 = mipi_tx_read(pstRx, 0x09);
    u8 u8R0A = mipi_tx_read(pstRx, 0x0A);
    u8 u8R0B = mipi_tx_read(pstRx, 0x0B);
    if (u8R0A)
        (void)mipi_tx_write(pstRx, 0x0A, u8R0A);           // printed; read again next step
    if (u8R0B)
        (void)mipi_tx_write(pstRx, 0x0B, u8R0B);
    u32 u32Changed = 0;
    if (u8R0B & 0x10) {
        pstRx->u8MipiStable = (u8R09 >> 6) & 1;
        dev_err("mipi tx Video Stable Change ...");
        printf("mipi tx reg09 = 0x%02x, video %sstable\n", u8R09, pstRx->u8MipiStable ? "" : "un");
        if (pstRx->u8MipiStable)
            mipi_tx_measure_clocks(pstRx);
        u32Changed = 1;
    }
    if (u8R0A & 0x20)
        printf("Mipi Byte mismatch Err!!! \n");
    if (u8R0A & 0x40) {
        printf("mipi P2M FIFO Err!!! \n");
        if (++pstRx->u32P2mErrCount > 10) {
            pstRx->u32P2mErrCount = 0;
            pstRx->bVideoRun = 0;
            hdmirx_disable_mipi(pstRx);
            hdmirx_hpd_pulse(pstRx);
        }
    } else if (u8R0A & 0x70) {
        pstRx->u32P2mErrCount = 0;
    }
    return u32Changed;
}
