// The receiver's MIPI transmitter as a CSI-2 transmitter (2 lanes, YCbCr
// 4:2:2 8-bit): set-up at start, enable with clock-dependent PLL and
// timing for each stable input, disable on loss, status at every step,
// and display-command (DCS) low-power packets with ECC and CRC-16.
#ifndef MEDIA_HDMIRXMIPI_H
#define MEDIA_HDMIRXMIPI_H

#include "media/HdmiRx.h"

#define MIPI_DCS_ROWS       7
#define MIPI_DCS_PAYLOAD    137     // a row is 140 bytes: index, data type, count, payload
#define MIPI_DCS_DELAY      0xFF    // data type of a row that waits payload[0] ms
#define MIPI_LP_FIFO_MAX    128     // bytes the command FIFO takes in one packet

struct MipiDcsCmd_S {
    u8 u8Index;
    u8 u8DataType;
    u8 u8Count;
    u8 au8Payload[MIPI_DCS_PAYLOAD];
};

void hdmirx_mipi_set_default(HdmiRxAttr_S *pstRx);
void hdmirx_mipi_initial(HdmiRxAttr_S *pstRx);

// Enable: 0, or -1 (printed) without a bus configuration for the lanes
// and format or without a pixel clock; the output then stays off.
s32  hdmirx_enable_mipi(HdmiRxAttr_S *pstRx);
void hdmirx_disable_mipi(HdmiRxAttr_S *pstRx);

// Replaces a CSI format the transmitter cannot send by its nearest.
void mipi_tx_get_support_format(HdmiRxAttr_S *pstRx);
u32  mipi_tx_get_video_stable(HdmiRxAttr_S *pstRx);
const char *mipi_tx_format_name(u8 u8Format);   // null for an unknown code

// One step's status: 1 when the output reported a stable change.
u32  hdmirx_mipi_status(HdmiRxAttr_S *pstRx);

// Sends DCS rows u32First..u32Last as low-power packets.
void mipi_tx_write_lp_cmds(HdmiRxAttr_S *pstRx, u32 u32First, u32 u32Last);
u8   mipi_tx_ecc(const u8 au8Header[3]);               // packet header ECC (SEC-DED)
u16  mipi_tx_crc16(const u8 *pu8Data, u32 u32Len);     // x^16 + x^12 + x^5 + 1, seed 0xFFFF

#endif
