// The SoC media engine: the video input (VIF) that captures from the pad.
// Our own declarations; see platform/MiSys.h for the board and the host.
#ifndef PLATFORM_MIVIF_H
#define PLATFORM_MIVIF_H

#include "platform/MiSys.h"

#define MI_VIF_MAX_DEV       4
#define MI_VIF_CHN_PER_DEV   4    // channel n belongs to device n / 4
#define MI_VIF_MAX_CHN       (MI_VIF_MAX_DEV * MI_VIF_CHN_PER_DEV)
#define MI_VIF_MAX_PORT      2

enum MiVifIntfMode_E {
    MI_VIF_MODE_BT656              = 0,
    MI_VIF_MODE_BT1120_STANDARD    = 2,
    MI_VIF_MODE_BT1120_INTERLEAVED = 3,
    MI_VIF_MODE_MIPI               = 4,   // the only one wired to the capture pad
};
#define MI_VIF_WORK_MODE_MAX 4

struct MiVifDevAttr_S {
    u32 enIntfMode;        // MiVifIntfMode_E
    u32 enWorkMode;        // 0..MI_VIF_WORK_MODE_MAX
    u32 enHdrType;
    u32 enClkEdge;
    u32 enDataSeq;
    u32 au32Reserved[7];
};

struct MiVifChnPortAttr_S {
    u16 u16CapX, u16CapY, u16CapWidth, u16CapHeight;   // capture window
    u16 u16DestWidth, u16DestHeight;                   // the window's size: no scaling here
    u32 enCapSel;           // 3: both fields
    u32 enScanMode;         // 0 progressive, 1 interlaced
    u32 enPixFormat;        // MI_PIXFMT_YUYV or MI_PIXFMT_UYVY
    u32 u32FrameRateCtrl;
    u32 u32FrameLineCnt;
    u32 au32Reserved[4];
};

extern "C" {

s32 MI_VIF_SetDevAttr(u32 u32Dev, const MiVifDevAttr_S *pstAttr);   // device disabled only
s32 MI_VIF_EnableDev(u32 u32Dev);                                   // after its attributes
s32 MI_VIF_DisableDev(u32 u32Dev);                                  // ports disabled first
s32 MI_VIF_SetChnPortAttr(u32 u32Chn, u32 u32Port, const MiVifChnPortAttr_S *pstAttr);
s32 MI_VIF_EnableChnPort(u32 u32Chn, u32 u32Port);                  // device enabled first
s32 MI_VIF_DisableChnPort(u32 u32Chn, u32 u32Port);
}

#endif
