#include <gtest/gtest.h>

#include "media/MediaFormat.h"

// One case for each way a row matches: by rate and scan, by scan alone,
// by size alone, and what matches no row.
TEST(MediaFormatTest, CodeByRateScanAndSize)
{
    const u32 aau32Cases[][5] = {
        // width, height, fps, scan, code
        {1920, 1080, 60, 0, 12}, {1920, 1080, 50, 0, 11}, {1920, 1080, 24, 0, 4},
        {1920, 1080, 29, 0, 12}, {1920, 1080, 50, 1, 12},   // unlisted rate; interlaced
        {1920, 540, 50, 1, 9},   {1920, 540, 30, 1, 10},  {1920, 540, 50, 2, 12},
        {1280, 720, 24, 1, 8},   {1280, 720, 25, 0, 7},
        {720, 576, 50, 0, 13},   {720, 576, 50, 1, 12},   {720, 288, 50, 1, 13},
        {1440, 240, 60, 1, 14},  {1440, 288, 50, 0, 12},  // 1440-wide fields only interlaced
        {1364, 768, 60, 0, 19},  {1368, 768, 60, 0, 12},  {1680, 1048, 60, 0, 22},
        {1920, 1200, 60, 7, 25}, {2560, 1440, 60, 0, 26}, {3840, 2160, 30, 0, 12},
    };
    for (const auto &c : aau32Cases) {
        u32 u32Code = 99;
        Main_Media_INTF4HW(c[0], c[1], c[2], c[3], &u32Code);
        EXPECT_EQ(c[4], u32Code) << c[0] << "x" << c[1] << "@" << c[2] << " scan " << c[3];
    }
    u32 u32Code = 3;   // 720p at an unlisted rate leaves the caller's code
    Main_Media_INTF4HW(1280, 720, 59, 0, &u32Code);
    EXPECT_EQ(3u, u32Code);
}
