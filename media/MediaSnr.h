// The bridge to the capture driver of the media engine: its custom
// commands carry the input state, the input timing and the EDID. Each
// call returns the engine's result, 0 on success.
#ifndef MEDIA_MEDIASNR_H
#define MEDIA_MEDIASNR_H

#include <cstddef>

#include "core/Types.h"

// The input timing as the capture driver takes and gives it back.
// A little-endian wire record of 24 bytes.
struct SnrVideoInfo_S {
    u32 u32Reserved;                 // 0
    u8  bsupport;                    // 1: a usable input described; 0: none
    u8  u8Pad0;
    u16 u16VideoWidth, u16VideoHeight;
    u8  u8VideoFps;                  // at most 60
    u8  u8Pad1;
    u16 u16Interlace;                // 1: interlaced
    u16 u16Pad2;
    u32 u32Width, u32Height;         // the active size again
};
static_assert(sizeof(SnrVideoInfo_S) == 24, "capture driver record");
static_assert(offsetof(SnrVideoInfo_S, u8VideoFps) == 10, "capture driver record");
static_assert(offsetof(SnrVideoInfo_S, u16Interlace) == 12, "capture driver record");
static_assert(offsetof(SnrVideoInfo_S, u32Width) == 16, "capture driver record");

// SignalState_E of the driver; a failed call reads as 0 (no input).
u32 Media_SNR_GetState(void);
s32 Media_SNR_GetVideoInfo(SnrVideoInfo_S *pstOut);
s32 Media_SNR_GetAudioInfo(void *pvOut);                       // 12 bytes
s32 Media_SNR_GetEdidInfo(u8 *pu8Out);                         // 256 bytes
// Checked by Media_Edid_Check first: -1 when it refuses the EDID.
s32 Media_SNR_SetEdidInfo(const u8 *pu8Edid, u32 u32Len);
s32 Media_SNR_SendVideoInfo(const SnrVideoInfo_S *pstInfo);

// 0 for 256 bytes with the EDID header and both blocks' checksums, else -1.
s32 Media_Edid_Check(const u8 *pu8Edid, u32 u32Len);

#endif
