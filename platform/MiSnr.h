// The SoC media engine: the capture pad (sensor interface) that the HDMI
// receiver's CSI-2 output feeds, and the custom commands of its driver.
// Our own declarations; see platform/MiSys.h for the board and the host.
#ifndef PLATFORM_MISNR_H
#define PLATFORM_MISNR_H

#include "platform/MiSys.h"

#define MI_SNR_PAD_NUM 1

struct MiSnrRes_S {
    u16 u16CropX, u16CropY, u16CropWidth, u16CropHeight;
    u16 u16OutWidth, u16OutHeight;
    u32 u32MaxFps, u32MinFps;
    char azResDesc[32];
};

// Custom commands of the capture driver. The driver goes by the command;
// the direction word is carried along. Records are little-endian:
//   video info (24 bytes): u32 0, u8 bsupport, u8 pad, u16 width, u16 height,
//     u8 fps, u8 pad, u16 interlace, u16 pad, u32 width, u32 height
//   EDID record (520 bytes): u8 flag, 3 pad, u32 length, 512 EDID bytes
//   audio info (12 bytes): u32 present, u32 sample rate, u32 channels
enum MiSnrCustCmd_E {
    MI_SNR_CMD_GET_STATE      = 0,   // u32 state: 0 no input, 2 locked
    MI_SNR_CMD_GET_VIDEO_INFO = 1,   // the last video info set
    MI_SNR_CMD_GET_AUDIO_INFO = 2,
    MI_SNR_CMD_GET_EDID       = 3,   // the last EDID record set
    MI_SNR_CMD_SET_EDID       = 6,
    MI_SNR_CMD_SET_VIDEO_INFO = 7,   // bsupport 1: locked; 0: no input
};
#define MI_SNR_STATE_LEN       4
#define MI_SNR_VIDEO_INFO_LEN  24
#define MI_SNR_AUDIO_INFO_LEN  12
#define MI_SNR_EDID_RECORD_LEN 520
#define MI_SNR_EDID_MAX_LEN    512

#define MI_SNR_STATE_NO_INPUT 0
#define MI_SNR_STATE_LOCK     2

// The capture accepts 64..1920 x 64..1200 pixels at 1..60 frames a second.
#define MI_SNR_MAX_WIDTH  1920
#define MI_SNR_MAX_HEIGHT 1200
#define MI_SNR_MIN_SIZE   64
#define MI_SNR_MAX_FPS    60

extern "C" {

s32 MI_SNR_SetPlaneMode(u32 u32Pad, bool bEnable);   // only false: no HDR planes
s32 MI_SNR_QueryResCount(u32 u32Pad, u32 *pu32Count);
s32 MI_SNR_GetRes(u32 u32Pad, u32 u32Idx, MiSnrRes_S *pstRes);
s32 MI_SNR_SetRes(u32 u32Pad, u32 u32Idx);
s32 MI_SNR_Enable(u32 u32Pad);
s32 MI_SNR_Disable(u32 u32Pad);
s32 MI_SNR_CustFunction(u32 u32Pad, u32 u32Cmd, u32 u32Size, void *pvData, u32 u32Dir);
}

#endif
