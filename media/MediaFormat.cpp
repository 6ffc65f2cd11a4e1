// Input format code from width, height, frame rate and scan.
#include "media/MediaFormat.h"

#define FORMAT_ANY_FPS 0           // au8Fps[0]: any rate
#define FORMAT_KEEP    0xFFFFFFFFu // leave the caller's code

enum FormatScan_E {
    FORMAT_SCAN_ANY,
    FORMAT_SCAN_PROGRESSIVE,       // 0
    FORMAT_SCAN_NOT_PROGRESSIVE,   // anything but 0
    FORMAT_SCAN_KNOWN,             // 0 or 1
    FORMAT_SCAN_INTERLACED,        // 1
};

struct MediaFormat_S {
    u16 u16Width, u16Height;
    u8 au8Fps[3];                  // rates that match; FORMAT_ANY_FPS first: all
    u8 enScan;                     // FormatScan_E
    u32 u32Code;
};

// The first matching row wins; no match gives 12.
static const MediaFormat_S s_astFormats[] = {
    {1920, 1080, {FORMAT_ANY_FPS}, FORMAT_SCAN_NOT_PROGRESSIVE, 12},
    {1920, 1080, {60}, FORMAT_SCAN_PROGRESSIVE, 12},
    {1920, 1080, {50}, FORMAT_SCAN_PROGRESSIVE, 11},
    {1920, 1080, {30}, FORMAT_SCAN_PROGRESSIVE, 6},
    {1920, 1080, {25}, FORMAT_SCAN_PROGRESSIVE, 5},
    {1920, 1080, {24}, FORMAT_SCAN_PROGRESSIVE, 4},
    {1920, 540, {50}, FORMAT_SCAN_KNOWN, 9},
    {1920, 540, {FORMAT_ANY_FPS}, FORMAT_SCAN_KNOWN, 10},
    {1920, 1200, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 25},
    {1280, 720, {60, 30, 24}, FORMAT_SCAN_ANY, 8},
    {1280, 720, {50, 25}, FORMAT_SCAN_ANY, 7},
    {1280, 720, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, FORMAT_KEEP},
    {1280, 1024, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 18},
    {1280, 800, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 21},
    {720, 576, {FORMAT_ANY_FPS}, FORMAT_SCAN_PROGRESSIVE, 13},
    {720, 288, {FORMAT_ANY_FPS}, FORMAT_SCAN_KNOWN, 13},
    {720, 480, {FORMAT_ANY_FPS}, FORMAT_SCAN_PROGRESSIVE, 14},
    {720, 240, {FORMAT_ANY_FPS}, FORMAT_SCAN_KNOWN, 14},
    {1440, 288, {FORMAT_ANY_FPS}, FORMAT_SCAN_INTERLACED, 13},
    {1440, 240, {FORMAT_ANY_FPS}, FORMAT_SCAN_INTERLACED, 14},
    {1440, 900, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 20},
    {800, 600, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 16},
    {1024, 768, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 17},
    {1364, 768, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 19},
    {1366, 768, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 19},
    {1600, 1200, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 24},
    {1680, 1048, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 22},
    {1680, 1050, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 22},
    {640, 480, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 15},
    {2560, 1440, {FORMAT_ANY_FPS}, FORMAT_SCAN_ANY, 26},
};

#define FORMAT_OTHER 12

static bool Format_ScanMatches(u8 enScan, u32 u32Scan)
{
    switch (enScan) {
    case FORMAT_SCAN_PROGRESSIVE:
        return u32Scan == 0;
    case FORMAT_SCAN_NOT_PROGRESSIVE:
        return u32Scan != 0;
    case FORMAT_SCAN_KNOWN:
        return u32Scan <= 1;
    case FORMAT_SCAN_INTERLACED:
        return u32Scan == 1;
    default:
        return true;
    }
}

static bool Format_FpsMatches(const u8 *pu8Fps, u32 u32FrameRate)
{
    if (pu8Fps[0] == FORMAT_ANY_FPS)
        return true;
    for (u32 i = 0; i < 3 && pu8Fps[i] != 0; i++)
        if (pu8Fps[i] == u32FrameRate)
            return true;
    return false;
}

s32 Main_Media_INTF4HW(u32 u32Width, u32 u32Height, u32 u32FrameRate, u32 u32Scan, u32 *pu32Code)
{
    u32 u32Code = FORMAT_OTHER;
    for (const MediaFormat_S &f : s_astFormats) {
        if (f.u16Width == u32Width && f.u16Height == u32Height && Format_FpsMatches(f.au8Fps, u32FrameRate) &&
            Format_ScanMatches(f.enScan, u32Scan)) {
            u32Code = f.u32Code;
            break;
        }
    }
    if (u32Code != FORMAT_KEEP)
        *pu32Code = u32Code;
    return 0;
}
