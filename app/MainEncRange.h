// The encoder and audio settings of a stream that the box can run. A value
// outside its range is refused by the setters and, read from the settings
// file at start-up, replaced by its default: the encoder channel refuses
// it, and a stream built from it would carry no video.
#ifndef APP_MAINENCRANGE_H
#define APP_MAINENCRANGE_H

#include <cstddef>

#include "config/ConfigAttr.h"
#include "core/Types.h"

#define MAIN_ENC_MIN_FPS        1
#define MAIN_ENC_MAX_FPS        60        // the streams are set up for at most 60
#define MAIN_ENC_MIN_BITRATE    64        // kbit/s; below it no picture of the input is watchable
#define MAIN_ENC_MAX_BITRATE    100000    // kbit/s: the encoder takes at most 100 Mbit/s
#define MAIN_AUDIO_MAX_INPUT    1         // 0 HDMI, 1 analog
#define MAIN_AUDIO_MIN_FREQ     8000      // Hz
#define MAIN_AUDIO_MAX_FREQ     48000     // Hz: a faster input is not captured
#define MAIN_AUDIO_MIN_BITRATE  16000     // bit/s, the AAC encoder's range for stereo
#define MAIN_AUDIO_MAX_BITRATE  320000
#define MAIN_ENC_RANGE_VIDEO    2         // the first rows: the video fields
#define MAIN_ENC_RANGE_ALL      5

struct MainEncRange_S {
    const char *pszKey;       // the settings file's key
    size_t u32Offset;         // of the u32 field in ConfigStreamAttr_S
    u32 u32Min, u32Max;
};

// The first of the first u32Rows fields outside its range, or null.
const MainEncRange_S *MAIN_EncRange_Find(const ConfigStreamAttr_S *pstAttr, u32 u32Rows);
u32 MAIN_EncRange_Value(const MainEncRange_S *pstRange, const ConfigStreamAttr_S *pstAttr);
// Each of the first u32Rows fields outside its range takes its value in
// pstDefault, logged with the section's name. The number of fields taken.
u32 MAIN_EncRange_Fallback(ConfigStreamAttr_S *pstAttr, const ConfigStreamAttr_S *pstDefault, u32 u32Rows,
                           const char *pszSection);

#endif
