// Input format code: the captured timing reduced to the small code kept in
// the media attributes.
#ifndef MEDIA_MEDIAFORMAT_H
#define MEDIA_MEDIAFORMAT_H

#include "core/Types.h"

#define MEDIA_FORMAT_UNKNOWN 28   // what the caller presets: kept where no code applies

// u32Scan: 0 progressive, 1 interlaced. Writes the code of the first
// matching format into *pu32Code (12 when none matches), except for
// 1280 x 720 at a rate other than 60, 50, 30, 25 and 24, where *pu32Code
// is left as it is. Returns 0.
s32 Main_Media_INTF4HW(u32 u32Width, u32 u32Height, u32 u32FrameRate, u32 u32Scan, u32 *pu32Code);

#endif
