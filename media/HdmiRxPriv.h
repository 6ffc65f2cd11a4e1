// The receiver driver's own parts: set-up steps, measurement and register
// access, shared by its files (and its tests) only.
#ifndef MEDIA_HDMIRXPRIV_H
#define MEDIA_HDMIRXPRIV_H

#include <mutex>

#include "media/HdmiRx.h"

// Set-up and its parts. 0, or -1 (chip not found).
s32  hdmirx_initial(HdmiRxAttr_S *pstRx);
void hdmirx_write_edid_ram(HdmiRxAttr_S *pstRx);
u16  cec_get_edid_phys_addr(const u8 *pu8Edid, u32 u32Size, u32 *pu32Offset);   // 0xFFFF: none
void hdmirx_hpd_high(HdmiRxAttr_S *pstRx);
void hdmirx_hpd_low(HdmiRxAttr_S *pstRx);
void hdmirx_hpd_pulse(HdmiRxAttr_S *pstRx);       // low, 1200 ms, high
void hdmirx_hdcp_reset_sub(HdmiRxAttr_S *pstRx);

// Measurement. Clocks and timing return 0, or -1 when the input gives no
// usable count (nothing is divided by zero).
void hdmi_rx_calc_rclk(HdmiRxAttr_S *pstRx);
void hdmirx_fsm_reset(void);            // the state machine's own words to their start values
s32  hdmi_rx_calc_tmds_clk(HdmiRxAttr_S *pstRx, u32 u32Samples);
s32  hdmi_rx_calc_pclk(HdmiRxAttr_S *pstRx);
s32  hdmi_rx_get_video_info(HdmiRxAttr_S *pstRx);
void hdmirx_audio_setup(HdmiRxAttr_S *pstRx);
void hdmirx_audio_output(HdmiRxAttr_S *pstRx, u32 u32On);
s32  hdmirx_get_avi_infoframe(HdmiRxAttr_S *pstRx);   // 0, or -22 (record kept)
void hdmirx_setup_csc(HdmiRxAttr_S *pstRx);
u32  hdmi_is_scdt_on(HdmiRxAttr_S *pstRx);

// Register access. Reads that fail give 0 ("nothing pending"); writes
// return 0 or -1. Failures are printed.
std::recursive_mutex &hdmirx_lock(void);
// The driver's record lock, which does nothing: the state machine and the
// second thread are kept apart by hdmirx_lock above, held over each
// register access and each bank-switched sequence, and by the transfer
// mutex of I2c_Read and I2c_Write.
void mutex_init(HdmiRxAttr_S *pstRx);
void mutex_destroy(HdmiRxAttr_S *pstRx);
void mutex_lock(HdmiRxAttr_S *pstRx);
void mutex_unlock(HdmiRxAttr_S *pstRx);
s32  I2c_Read(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 *pu8Val);    // 1 ok, 0 failed
s32  I2c_Write(u32 u32Bus, u8 u8Addr, u8 u8Reg, u8 u8Val);     // 1 ok, 0 failed
s32  regmap_read(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 *pu8Val);
s32  regmap_write(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 u8Val);
s32  regmap_update_bits(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 u8Mask, u8 u8Val);
s32  regmap_bulk_read(const HdmiRxRegmap_S *pstMap, u8 u8Reg, u8 *pu8Buf, u32 u32Count);
s32  regmap_bulk_write(const HdmiRxRegmap_S *pstMap, u8 u8Reg, const u8 *pu8Buf, u32 u32Count);
u8   hdmi_read(HdmiRxAttr_S *pstRx, u8 u8Reg);
s32  hdmi_write(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Val);
s32  hdmi_set(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Mask, u8 u8Val);
void hdmi_chgbank(HdmiRxAttr_S *pstRx, u8 u8Bank);
s32  hdmi_edid_write(HdmiRxAttr_S *pstRx, u8 u8Offset, const u8 *pu8Buf, u32 u32Len);
u8   mipi_tx_read(HdmiRxAttr_S *pstRx, u8 u8Reg);
s32  mipi_tx_write(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Val);
s32  mipi_tx_set_bits(HdmiRxAttr_S *pstRx, u8 u8Reg, u8 u8Mask, u8 u8Val);
void mDelay(u32 u32Ms);
void mSleep(u32 u32Ms);
// A driver message on standard output (cut to 127 characters) behind a
// line feed and a carriage return, so it starts at the left of a line of
// its own also on a raw serial console.
void dev_err(const char *pszFmt, ...) __attribute__((format(printf, 1, 2)));

#endif
