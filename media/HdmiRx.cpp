// Receiver set-up, EDID RAM and hot-plug, and the calls the source layer
// makes. The state machine is in HdmiRxFsm.cpp, the measurements in
// HdmiRxMeasure.cpp, the MIPI output in HdmiRxMipi.cpp.
#include "media/HdmiRxPriv.h"
#include "media/HdmiRxMipi.h"

#include <cstdio>
#include <cstring>

#define HDMIRX_TABLE_END    0xFF
#define HDMIRX_RCLK_SAMPLES 5
#define HDMIRX_HPD_LOW_MS   1200

static HdmiRxAttr_S s_stHdmiRx;

static const u8 s_au8ChipId[4] = {0x54, 0x49, 0x16, 0x66};

// Register initialisation: {register, mask, value}; mask 0xFF writes the
// value, another mask changes only its bits. Rows on 0x0F switch banks.
static const u8 s_aau8InitTable[][3] = {
    {0x0F, 0xFF, 0x00}, {0x22, 0xFF, 0x08}, {0x22, 0xFF, 0x17}, {0x23, 0xFF, 0x1F}, {0x2B, 0xFF, 0x1F},
    {0x24, 0xFF, 0xF8}, {0x22, 0xFF, 0x10}, {0x23, 0xFF, 0xA0}, {0x2B, 0xFF, 0xA0}, {0x24, 0xFF, 0x00},
    {0x2F, 0xFF, 0xAD}, {0x34, 0xFF, 0x00}, {0x0F, 0xFF, 0x03}, {0xAA, 0xFF, 0xEC}, {0x0F, 0xFF, 0x00},
    {0x0F, 0xFF, 0x03}, {0xAC, 0xFF, 0x40}, {0x0F, 0xFF, 0x00}, {0x3A, 0xFF, 0x89}, {0x43, 0xFF, 0x01},
    {0x0F, 0xFF, 0x04}, {0x43, 0xFF, 0x01}, {0x3A, 0xFF, 0x89}, {0x0F, 0xFF, 0x03}, {0xA8, 0xFF, 0x0B},
    {0x0F, 0xFF, 0x00}, {0x4F, 0xFF, 0x84}, {0x44, 0xFF, 0x19}, {0x46, 0xFF, 0x15}, {0x47, 0xFF, 0x88},
    {0xD9, 0xFF, 0x00}, {0xF0, 0xFF, 0x78}, {0xF1, 0xFF, 0x10}, {0x0F, 0xFF, 0x03}, {0x3A, 0xFF, 0x02},
    {0x0F, 0xFF, 0x00}, {0x28, 0xFF, 0x88}, {0x6E, 0xFF, 0x00}, {0x77, 0xFF, 0x87}, {0x7B, 0xFF, 0x00},
    {0x86, 0xFF, 0x00}, {0x0F, 0xFF, 0x00}, {0x36, 0xFF, 0x06}, {0x8F, 0xFF, 0x41}, {0x0F, 0xFF, 0x01},
    {0xC0, 0xFF, 0x42}, {0xC4, 0x70, 0x30}, {0xC4, 0x80, 0x00}, {0xC7, 0xFF, 0x7F}, {0xC8, 0xFF, 0x1F},
    {0xC9, 0xFF, 0x90}, {0xCA, 0xFF, 0x99}, {0x0F, 0xFF, 0x00}, {0x86, 0x0C, 0x08}, {0x81, 0x80, 0x80},
    {0x0F, 0x07, 0x01}, {0x10, 0xFF, 0x00}, {0x11, 0xFF, 0x00}, {0x12, 0xFF, 0x00}, {0x13, 0xFF, 0x00},
    {0x28, 0xFF, 0x00}, {0x29, 0xFF, 0x00}, {0x2A, 0xFF, 0x00}, {0x2B, 0xFF, 0x00}, {0x2C, 0xFF, 0x00},
    {0xC0, 0xC0, 0x40}, {0x0F, 0x07, 0x03}, {0xE3, 0xFF, 0x07}, {0x27, 0xFF, 0x9F}, {0x28, 0xFF, 0x9F},
    {0x29, 0xFF, 0x9F}, {0xA7, 0x40, 0x40}, {0x21, 0x04, 0x04}, {0xF8, 0xFF, 0xC3}, {0xF8, 0xFF, 0xA5},
    {0x0F, 0x07, 0x01}, {0x5F, 0xFF, 0x04}, {0x58, 0xFF, 0x12}, {0x58, 0xFF, 0x02}, {0x5F, 0xFF, 0x00},
    {0x0F, 0x07, 0x00}, {0xF8, 0xFF, 0xFF}, {0x0F, 0x07, 0x04}, {0x3C, 0x20, 0x00}, {0x0F, 0x07, 0x00},
    {0x91, 0x40, 0x40}, {0x0F, 0x07, 0x03}, {0xF0, 0xFF, 0xC0}, {0x0F, 0x07, 0x00}, {0x21, 0x40, 0x40},
    {0xCE, 0x30, 0x00}, {0x0F, 0x07, 0x04}, {0xCE, 0x30, 0x00}, {0x42, 0xE0, 0xC0}, {0x0F, 0x07, 0x00},
    {0x42, 0xE0, 0xC0}, {0x7B, 0x10, 0x10}, {0x3C, 0x21, 0x00}, {0x3B, 0xFF, 0x23}, {0xF6, 0xFF, 0x08},
    {0x0F, 0x07, 0x04}, {0x3C, 0x21, 0x00}, {0x3B, 0xFF, 0x23}, {0x0F, 0x07, 0x00}, {0x59, 0xFF, 0x00},
    {0x6E, 0x07, 0x07},
    {HDMIRX_TABLE_END, 0x00, 0x00},
};

// 1920 x 1080 display, one CEA-861 extension (physical address 1.0.0.0).
static const u8 s_au8DefaultEdid[HDMIRX_EDID_LEN] = {
    0x00, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x00, 0x22, 0x98, 0x01, 0x00, 0x01, 0x00, 0x00, 0x00,
    0x01, 0x22, 0x01, 0x03, 0x80, 0x50, 0x2d, 0x78, 0x0a, 0xee, 0x91, 0xa3, 0x54, 0x4c, 0x99, 0x26,
    0x0f, 0x50, 0x54, 0x21, 0x08, 0x00, 0x81, 0xc0, 0x81, 0x80, 0x95, 0x00, 0xb3, 0x00, 0x01, 0x01,
    0x01, 0x01, 0x01, 0x01, 0x01, 0x01, 0x02, 0x3a, 0x80, 0x18, 0x71, 0x38, 0x2d, 0x40, 0x58, 0x2c,
    0x45, 0x00, 0x20, 0xc2, 0x31, 0x00, 0x00, 0x1e, 0x01, 0x1d, 0x00, 0x72, 0x51, 0xd0, 0x1e, 0x20,
    0x6e, 0x28, 0x55, 0x00, 0x20, 0xc2, 0x31, 0x00, 0x00, 0x1e, 0x00, 0x00, 0x00, 0xfc, 0x00, 0x48,
    0x44, 0x4d, 0x49, 0x20, 0x52, 0x58, 0x0a, 0x20, 0x20, 0x20, 0x20, 0x20, 0x00, 0x00, 0x00, 0xfd,
    0x00, 0x17, 0x3d, 0x0f, 0x44, 0x0f, 0x00, 0x0a, 0x20, 0x20, 0x20, 0x20, 0x20, 0x20, 0x01, 0xb6,
    0x02, 0x03, 0x1b, 0xf1, 0x46, 0x90, 0x04, 0x1f, 0x13, 0x05, 0x02, 0x23, 0x09, 0x07, 0x07, 0x83,
    0x01, 0x00, 0x00, 0x67, 0x03, 0x0c, 0x00, 0x10, 0x00, 0x00, 0x21, 0x02, 0x3a, 0x80, 0x18, 0x71,
    0x38, 0x2d, 0x40, 0x58, 0x2c, 0x45, 0x00, 0x20, 0xc2, 0x31, 0x00, 0x00, 0x1e, 0x01, 0x1d, 0x00,
    0x72, 0x51, 0xd0, 0x1e, 0x20, 0x6e, 0x28, 0x55, 0x00, 0x20, 0xc2, 0x31, 0x00, 0x00, 0x1e, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
    0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x88,
};

static s32 hdmirx_check_chip_id(HdmiRxAttr_S *pstRx)
{
    for (u8 i = 0; i < sizeof(s_au8ChipId); i++) {
        u8 u8Val = hdmi_read(pstRx, i);
        if (u8Val != s_au8ChipId[i]) {
            dev_err("not hdmirx reg[0x%02x]=0x%02x", i, u8Val);
            return -1;
        }
    }
    return 0;
}

static void hdim_write_table(HdmiRxAttr_S *pstRx, const u8 (*paau8Table)[3])
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    for (u32 i = 0; paau8Table[i][0] != HDMIRX_TABLE_END; i++) {
        const u8 *pu8Row = paau8Table[i];
        if (pu8Row[1] == 0xFF)
            (void)hdmi_write(pstRx, pu8Row[0], pu8Row[2]);   // failures are printed
        else
            (void)hdmi_set(pstRx, pu8Row[0], pu8Row[1], pu8Row[2]);
    }
}

static void hdmirx_set_defaults(HdmiRxAttr_S *pstRx, const u8 *pu8Edid, u32 u32Len)
{
    memset(pstRx->au8Edid, 0, sizeof(pstRx->au8Edid));
    memcpy(pstRx->au8Edid, pu8Edid, u32Len);
    pstRx->u16EdidLen = (u16)u32Len;
    pstRx->u8FixedTiming = 0;
    pstRx->u8AudioEnable = 1;
    pstRx->u8I2sJustified = 0;
    pstRx->u8AutoLane = 0;
    pstRx->u8SendDcs = 1;
    pstRx->u8HdcpEnable = 1;
    pstRx->u8OutColor = HDMIRX_OUT_YUV422;
}

// Five 100 ms windows of the reference-clock counter: the sum is 500 ms
// of cycles, so sum / 500 is the clock in kHz.
void hdmi_rx_calc_rclk(HdmiRxAttr_S *pstRx)
{
    u32 u32Sum = 0;
    for (u32 i = 0; i < HDMIRX_RCLK_SAMPLES; i++) {
        (void)hdmi_set(pstRx, 0x58, 0x80, 0x80);   // failures are printed; a failed count reads 0
        mSleep(100);
        std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
        (void)hdmi_set(pstRx, 0x58, 0x80, 0x00);
        u32Sum += hdmi_read(pstRx, 0x59) | hdmi_read(pstRx, 0x5A) << 8 | hdmi_read(pstRx, 0x5B) << 16;
    }
    pstRx->u32RclkKHz = u32Sum / 500;
    printf("RCLK=%lu KHz\n", (unsigned long)pstRx->u32RclkKHz);
    (void)hdmi_set(pstRx, 0x1E, 0x3F, (u8)(pstRx->u32RclkKHz / 1000));
    (void)hdmi_write(pstRx, 0x1F, 0x00);
}

static void hdmirx_hdmi_init_regs(HdmiRxAttr_S *pstRx)
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    hdmi_chgbank(pstRx, 0);
    hdim_write_table(pstRx, s_aau8InitTable);
    hdmi_chgbank(pstRx, 3);
    (void)hdmi_set(pstRx, 0x26, 0x20, 0x00);
    for (u8 u8Reg = 0x27; u8Reg <= 0x29; u8Reg++)
        (void)hdmi_write(pstRx, u8Reg, 0x9F);
    hdmi_chgbank(pstRx, 0);
    (void)hdmi_set(pstRx, 0x67, 0x80, (u8)(pstRx->u8HdcpEnable << 7));
    (void)hdmi_set(pstRx, 0x69, 0x60, 0x00);
}

static s32 hdmirx_setup(HdmiRxAttr_S *pstRx, const u8 *pu8Edid, u32 u32Len)
{
    if (hdmirx_check_chip_id(pstRx) < 0) {
        dev_err("can not find hdmirx");
        return -1;
    }
    hdmirx_set_defaults(pstRx, pu8Edid, u32Len);
    hdmirx_fsm_reset();
    hdmi_rx_calc_rclk(pstRx);
    hdmirx_hdmi_init_regs(pstRx);
    hdmirx_write_edid_ram(pstRx);
    hdmirx_mipi_set_default(pstRx);
    hdmirx_mipi_initial(pstRx);
    dev_err("hdmirx init ok");
    return 0;
}

s32 hdmirx_initial(HdmiRxAttr_S *pstRx)
{
    return hdmirx_setup(pstRx, s_au8DefaultEdid, HDMIRX_EDID_LEN);
}

// The first vendor-specific block with the HDMI OUI in a CEA-861 extension
// holds the physical address in its bytes 4-5. Every walk stays inside
// the announced blocks and inside each block's data-block area.
u16 cec_get_edid_phys_addr(const u8 *pu8Edid, u32 u32Size, u32 *pu32Offset)
{
    *pu32Offset = 0;
    if (u32Size < 256 || u32Size % 128 != 0)
        return 0xFFFF;
    for (u32 u32Block = 1; u32Block <= pu8Edid[126] && (u32Block + 1) * 128 <= u32Size; u32Block++) {
        const u8 *pu8Ext = pu8Edid + u32Block * 128;
        if (pu8Ext[0] != 0x02 || pu8Ext[1] != 0x03 || pu8Ext[2] <= 4)
            continue;
        u32 u32End = pu8Ext[2] < 127 ? pu8Ext[2] : 127;      // byte 127 is the checksum
        for (u32 j = 4; j < u32End;) {
            u32 u32Tag = pu8Ext[j] >> 5, u32Len = pu8Ext[j] & 0x1F;
            if (j + 1 + u32Len > u32End)
                break;
            if (u32Tag == 3 && u32Len >= 5 && pu8Ext[j + 1] == 0x03 && pu8Ext[j + 2] == 0x0C && pu8Ext[j + 3] == 0x00) {
                *pu32Offset = u32Block * 128 + j + 4;
                return (u16)(pu8Ext[j + 4] << 8 | pu8Ext[j + 5]);
            }
            j += 1 + u32Len;
        }
    }
    return 0xFFFF;
}

static u8 hdmirx_sum(const u8 *pu8, u32 u32Len)
{
    u8 u8Sum = 0;
    for (u32 i = 0; i < u32Len; i++)
        u8Sum = (u8)(u8Sum + pu8[i]);
    return u8Sum;
}

// The chip serves the RAM with the physical address of 0xC7-0xC8 put in at
// offset 0xC6 of the extension and the checksums of 0xC9-0xCA; 0xC6-0xC8
// keep their old values when this EDID has no address.
void hdmirx_write_edid_ram(HdmiRxAttr_S *pstRx)
{
    const u8 *pu8Edid = pstRx->au8Edid;
    u32 u32Len = pstRx->u16EdidLen <= HDMIRX_EDID_LEN ? pstRx->u16EdidLen : HDMIRX_EDID_LEN;
    (void)hdmi_write(pstRx, 0x4B, 0xA9);            // failures are printed; the source reads what is there
    (void)hdmi_edid_write(pstRx, 0, pu8Edid, u32Len);
    (void)hdmi_write(pstRx, 0x4B, 0xA8);
    u32 u32Offset;
    u16 u16Addr = cec_get_edid_phys_addr(pu8Edid, u32Len, &u32Offset);
    if (u16Addr != 0xFFFF) {
        (void)hdmi_write(pstRx, 0xC6, (u8)u32Offset);
        (void)hdmi_write(pstRx, 0xC7, (u8)(u16Addr >> 8));
        (void)hdmi_write(pstRx, 0xC8, (u8)u16Addr);
    }
    (void)hdmi_write(pstRx, 0xC9, (u8)(0x100 - hdmirx_sum(pu8Edid, 127)));
    u8 u8Sum = hdmirx_sum(pu8Edid + 128, 127);
    u8 u8At = hdmi_read(pstRx, 0xC6);
    if (u8At >= 128 && u8At < 254)                  // the chip puts an address only into the extension
        u8Sum = (u8)(u8Sum - pu8Edid[u8At] - pu8Edid[u8At + 1] + hdmi_read(pstRx, 0xC7) + hdmi_read(pstRx, 0xC8));
    (void)hdmi_write(pstRx, 0xCA, (u8)(0x100 - u8Sum));
    (void)hdmi_set(pstRx, 0xC5, 0x10, 0x10);
    mDelay(1);
    (void)hdmi_set(pstRx, 0xC5, 0x10, 0x00);
}

void hdmirx_hdcp_reset_sub(HdmiRxAttr_S *pstRx)
{
    (void)hdmi_set(pstRx, 0x22, 0x02, 0x02);       // failures are printed by the access
    mDelay(1);
    (void)hdmi_set(pstRx, 0x22, 0x02, 0x00);
    u8 u8Val = hdmi_read(pstRx, 0x8A);
    for (u32 i = 0; i < 4; i++)
        (void)hdmi_write(pstRx, 0x8A, u8Val);
}

static void hdmirx_hpd_level(HdmiRxAttr_S *pstRx, u8 u8Bits)
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    hdmi_chgbank(pstRx, 3);
    (void)hdmi_set(pstRx, 0xAB, 0xC0, u8Bits);      // failures are printed
    hdmi_chgbank(pstRx, 0);
}

void hdmirx_hpd_high(HdmiRxAttr_S *pstRx)
{
    (void)hdmi_set(pstRx, 0xC5, 0x3F, 0x02);       // failures are printed by the access
    (void)hdmi_set(pstRx, 0x22, 0x01, 0x01);
    mDelay(1);
    (void)hdmi_set(pstRx, 0x22, 0x01, 0x00);
    (void)hdmi_set(pstRx, 0x10, 0x02, 0x02);
    (void)hdmi_set(pstRx, 0x12, 0x80, 0x80);
    // That cleared a pending SCDT change. A source that kept its link up
    // (replugged while hot-plug stayed high, or through the pulse) sends no
    // new one, so the next step brings its output up.
    if (pstRx->bVideoRun == 0 && hdmi_is_scdt_on(pstRx))
        pstRx->bRebuildMipi = 1;
    hdmirx_hdcp_reset_sub(pstRx);
    printf("hdmi_hpd_output(%X)...\n", 1);
    hdmirx_hpd_level(pstRx, 0xC0);
}

void hdmirx_hpd_low(HdmiRxAttr_S *pstRx)
{
    printf("hdmi_hpd_output(%X)...\n", 0);
    hdmirx_hpd_level(pstRx, 0x40);
    (void)hdmi_set(pstRx, 0xC5, 0x3F, 0x13);       // failures are printed by the access
}

void hdmirx_hpd_pulse(HdmiRxAttr_S *pstRx)
{
    hdmirx_hpd_low(pstRx);
    mSleep(HDMIRX_HPD_LOW_MS);
    hdmirx_hpd_high(pstRx);
}

static HdmiRxAttr_S *hdmirx_record(void)
{
    HdmiRxAttr_S *pstRx = &s_stHdmiRx;
    memset(pstRx, 0, sizeof(*pstRx));
    pstRx->stHdmiMap = {HDMIRX_I2C_BUS, HDMIRX_ADDR_HDMI};
    pstRx->stMipiMap = {HDMIRX_I2C_BUS, HDMIRX_ADDR_MIPI};
    pstRx->stEdidMap = {HDMIRX_I2C_BUS, HDMIRX_ADDR_EDID};
    return pstRx;
}

HdmiRxAttr_S *hdmirx_init(void)
{
    HdmiRxAttr_S *pstRx = hdmirx_record();
    (void)hdmirx_initial(pstRx);                    // a missing chip is printed; the steps still run
    return pstRx;
}

// An EDID of 1 to 256 bytes; any other length takes the driver's own.
HdmiRxAttr_S *hdmirx_init_by_edid(const u8 *pu8Edid, u32 u32Len)
{
    HdmiRxAttr_S *pstRx = hdmirx_record();
    if (pu8Edid == nullptr || u32Len == 0 || u32Len > HDMIRX_EDID_LEN) {
        dev_err("edid length %u refused, using the default", u32Len);
        (void)hdmirx_initial(pstRx);                // a missing chip is printed
    } else {
        (void)hdmirx_setup(pstRx, pu8Edid, u32Len);
    }
    return pstRx;
}

void HDMIRX_pro(HdmiRxAttr_S *pstRx, u32 u32Stage)
{
    if (u32Stage == 0)
        printf("HDMIRX %s\n", "V105\n    ");
    else if (u32Stage == 1)
        (void)hdmirx_initial(pstRx);                // a missing chip is printed
    else
        hdmirx_fsm(pstRx);
}

void hdmirx_main(void)
{
    HdmiRxAttr_S *pstRx = hdmirx_record();
    for (u32 u32Stage = 0; u32Stage < 3; u32Stage++)
        HDMIRX_pro(pstRx, u32Stage);
}

u32 hdmirx_get_run(HdmiRxAttr_S *pstRx)
{
    return pstRx->bVideoRun;
}

u32 hdmirx_get_hdmi_sta(HdmiRxAttr_S *pstRx)
{
    return pstRx->u32Hdmi5v;
}

void hdmirx_get_video_msg(HdmiRxAttr_S *pstRx, AVSourceVideoInfo_S *pstOut)
{
    if (pstOut == nullptr)
        return;
    const HdmiRxVideoInfo_S *pstInfo = &pstRx->stVideoInfo;
    pstOut->bsupport = 1;
    pstOut->u32Vtotal = pstInfo->u16VTotal;
    pstOut->u32Vactive = pstInfo->u16VActive;
    pstOut->u32Htotal = pstInfo->u16HTotal;
    pstOut->u32Hactive = pstInfo->u16HActive;
    pstOut->u32HsyncW = pstInfo->u16HSyncWidth;
    pstOut->u32VsyncW = pstInfo->u16VSyncWidth;
    pstOut->u32HBP = pstInfo->u16HBackPorch;
    pstOut->u32HFP = pstInfo->u16HFrontPorch;
    pstOut->u32PixelClk = pstInfo->u32PixelClk;
    pstOut->u32Fps = pstInfo->u32FrameRate;
    pstOut->bInterlace = pstInfo->u16ScanMode;
}

u32 hdmirx_get_hdcp_status(HdmiRxAttr_S *pstRx)
{
    return hdmi_read(pstRx, 0xCF) & 0x20;
}

u32 hdmirx_get_conect_sta(HdmiRxAttr_S *pstRx)
{
    std::lock_guard<std::recursive_mutex> lock(hdmirx_lock());
    if (hdmi_read(pstRx, 0x05) & 0x04)
        return 0;
    if (!(hdmi_read(pstRx, 0x10) & 0x02))
        return 1;
    return hdmi_is_scdt_on(pstRx);
}

void hdmirx_set_hpd(HdmiRxAttr_S *pstRx, u32 u32Level)
{
    if (u32Level)
        hdmirx_hpd_high(pstRx);
    else
        hdmirx_hpd_low(pstRx);
}

void hdmirx_update_edid_data(HdmiRxAttr_S *pstRx, const u8 *pu8Edid, u32 u32Len)
{
    if (u32Len != HDMIRX_EDID_LEN || memcmp(pu8Edid, pstRx->au8Edid, HDMIRX_EDID_LEN) == 0)
        return;
    memcpy(pstRx->au8Edid, pu8Edid, HDMIRX_EDID_LEN);
    pstRx->u16EdidLen = HDMIRX_EDID_LEN;
    hdmirx_hpd_low(pstRx);
    hdmirx_write_edid_ram(pstRx);
    mSleep(HDMIRX_HPD_LOW_MS);
    hdmirx_hpd_high(pstRx);
}

void hdmirx_read_edid(HdmiRxAttr_S *pstRx, u8 *pu8Out, u32 u32Len)
{
    memcpy(pu8Out, pstRx->au8Edid, u32Len < HDMIRX_EDID_LEN ? u32Len : HDMIRX_EDID_LEN);
}
