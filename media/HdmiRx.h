// HDMIRX HDMI receiver driver over I2C bus 1: set-up, EDID RAM with hot-plug
// control, and the state machine that the source thread steps every 50 ms.
// Messages go to standard output. One driver lock (hdmirx_lock) is held
// over every register access and every bank-switched sequence, never
// across a sleep, so a second thread may call the getters and
// hdmirx_disable_mipi while the state machine runs.
#ifndef MEDIA_HDMIRX_H
#define MEDIA_HDMIRX_H

#include "core/Types.h"
#include "media/HdmiInfoFrame.h"

#define HDMIRX_I2C_BUS      1
#define HDMIRX_ADDR_HDMI    0x90        // 8-bit forms; the bus address is half
#define HDMIRX_ADDR_MIPI    0xAC
#define HDMIRX_ADDR_EDID    0xA8
#define HDMIRX_EDID_LEN     256
#define HDMIRX_CSI_YUV422_8 0x1E        // CSI YCbCr 4:2:2 8-bit
#define HDMIRX_OUT_YUV422   1           // u8OutColor: 0 RGB, 1 YUV 4:2:2, 2 YUV 4:4:4, 3 YUV 4:2:0

struct HdmiRxRegmap_S {
    u32 u32Bus;
    u8  u8Addr;                         // 8-bit form
};

struct HdmiRxVideoInfo_S {              // measured input timing
    u16 u16HActive, u16VActive, u16HTotal, u16VTotal;   // interlaced: one field
    u32 u32PixelClk;                    // kHz
    u32 u32TmdsClk;                     // kHz
    u32 u32FrameRate;                   // Hz
    u16 u16HFrontPorch, u16HSyncWidth, u16HBackPorch;
    u16 u16VFrontPorch, u16VSyncWidth, u16VBackPorch;
    u16 u16ScanMode;                    // 1 interlaced
    u16 u16VSyncPol, u16HSyncPol;       // 1 positive
};

struct AVSourceVideoInfo_S {            // the timing handed to the source layer's notify
    u8  bsupport;                       // 1: filled from a locked input
    u32 u32Vtotal, u32Vactive, u32Htotal, u32Hactive;
    u32 u32HsyncW, u32VsyncW, u32HBP, u32HFP;
    u32 u32PixelClk;                    // kHz
    u32 u32Fps;
    u32 bInterlace;
};

struct HdmiRxMipiCfg_S {                // MIPI transmitter bus configuration and timing
    u8  u8SwapPn, u8SwapLan, u8PclkInv, u8MclkInv, u8LpxNum, u8HsPrepare;
    u8  au8BusCfg[6];                   // lanes, format, 0x23 value, PLL bytes >200/>100/<=100 MHz
    u8  u8Pll;                          // PLL byte in use: prediv << 5 | plldiv
    u32 u32MclkKHz;
    u32 u32MclkPeriod;                  // ps
    u8  u8P2mDelay;
};

struct HdmiRxAttr_S {
    HdmiRxRegmap_S stHdmiMap, stMipiMap, stEdidMap;
    u8  u8HdmiStable;                   // SCDT of the input
    u8  u8HdcpOn;                       // input HDCP-encrypted
    u8  u8MipiStable;                   // MIPI output video stable
    u8  u8FixedTiming;                  // 0: MIPI timing from the clock
    u8  u8AudioEnable, u8LaneNum, u8OutFormat, u8BusType;   // 1, 2, 0x1E, 0 = CSI
    HdmiRxMipiCfg_S stMipi;
    HdmiRxVideoInfo_S stVideoInfo;
    u32 u32AudioN, u32AudioCts;
    u8  u8ChStatusFs;                   // sampling-frequency code of the channel status
    u32 u32AudioFs;                     // measured rate, kHz
    u8  u8ForceFs;                      // code of the measured rate
    u8  au8Edid[HDMIRX_EDID_LEN];
    u16 u16EdidLen;
    u8  u8FsErrCount, u8I2sJustified, u8AutoLane, u8SendDcs, u8HdcpEnable;
    u32 u32RclkKHz;                     // reference clock
    u32 u32MipiRclkKHz, u32MipiMclkKHz, u32MipiPclkKHz;   // as the MIPI block measures them
    HdmiAviInfoFrame_S stAviInfo;       // last AVI infoframe; its colour space is the input's
    u8  u8OutColor;
    u32 bVideoRun;                      // MIPI output enabled for a stable input
    u32 bRebuildMipi;
    u32 u32P2mErrCount;
    u32 u32Hdmi5v;                      // 5 V present
};

// Source-layer interface.
HdmiRxAttr_S *hdmirx_init(void);        // the one record, whatever the set-up gave
HdmiRxAttr_S *hdmirx_init_by_edid(const u8 *pu8Edid, u32 u32Len);
void hdmirx_fsm(HdmiRxAttr_S *pstRx);   // one 50 ms step
// Output off and not running; the next step brings it up again for an
// input that is still there (state machine thread only).
void hdmirx_restart_video(HdmiRxAttr_S *pstRx);
u32  hdmirx_get_run(HdmiRxAttr_S *pstRx);
u32  hdmirx_get_hdmi_sta(HdmiRxAttr_S *pstRx);
void hdmirx_get_video_msg(HdmiRxAttr_S *pstRx, AVSourceVideoInfo_S *pstOut);
u32  hdmirx_get_hdcp_status(HdmiRxAttr_S *pstRx);
u32  hdmirx_get_conect_sta(HdmiRxAttr_S *pstRx);
void hdmirx_set_hpd(HdmiRxAttr_S *pstRx, u32 u32Level);
void hdmirx_update_edid_data(HdmiRxAttr_S *pstRx, const u8 *pu8Edid, u32 u32Len);
void hdmirx_read_edid(HdmiRxAttr_S *pstRx, u8 *pu8Out, u32 u32Len);
void HDMIRX_pro(HdmiRxAttr_S *pstRx, u32 u32Stage);   // 0 version, 1 set-up, 2 step
void hdmirx_main(void);

#endif
