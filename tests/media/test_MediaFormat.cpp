#include <gtest/gtest.h>

#include "media/MediaFormat.h"

// The matching rules rather than the rows: a rate must be listed, a scan
// must fit the row's, the first matching row wins, nothing matching gives
// 12, and 720p at an unlisted rate leaves the caller's code.
TEST(MediaFormatTest, MatchingRules)
{
    const u32 aau32Cases[][5] = {
        // width, height, fps, scan, code
        {1920, 1080, 50, 0, 11}, {1920, 1080, 29, 0, 12}, {1920, 1080, 50, 1, 12},
        {1920, 540, 50, 1, 9},   {1920, 540, 30, 0, 10},  {1920, 540, 50, 2, 12},
        {1440, 240, 60, 1, 14},  {1440, 288, 50, 0, 12},  {1920, 1200, 60, 7, 25},
        {1280, 720, 25, 1, 7},   {1368, 768, 60, 0, 12},  {3840, 2160, 30, 0, 12},
    };
    for (const auto &c : aau32Cases) {
        u32 u32Code = 99;
        Main_Media_INTF4HW(c[0], c[1], c[2], c[3], &u32Code);
        EXPECT_EQ(c[4], u32Code) << c[0] << "x" << c[1] << "@" << c[2] << " scan " << c[3];
    }
    u32 u32Code = 3;
    Main_Media_INTF4HW(1280, 720, 59, 0, &u32Code);
    EXPECT_EQ(3u, u32Code);
}
