#include <gtest/gtest.h>

#include "media/MediaFormat.h"

static u32 Code(u32 u32Width, u32 u32Height, u32 u32Fps, u32 u32Scan)
{
    u32 u32Code = MEDIA_FORMAT_UNKNOWN;
    Main_Media_INTF4HW(u32Width, u32Height, u32Fps, u32Scan, &u32Code);
    return u32Code;
}

// 1080 lines: progressive rates have codes of their own; interlaced,
// 60 and unlisted rates share the code of an unknown format.
TEST(MediaFormatTest, FullHd)
{
    EXPECT_EQ(12u, Code(1920, 1080, 60, 0));
    EXPECT_EQ(11u, Code(1920, 1080, 50, 0));
    EXPECT_EQ(6u, Code(1920, 1080, 30, 0));
    EXPECT_EQ(5u, Code(1920, 1080, 25, 0));
    EXPECT_EQ(4u, Code(1920, 1080, 24, 0));
    EXPECT_EQ(12u, Code(1920, 1080, 29, 0));
    EXPECT_EQ(12u, Code(1920, 1080, 50, 1));
    EXPECT_EQ(9u, Code(1920, 540, 50, 1));
    EXPECT_EQ(9u, Code(1920, 540, 50, 0));
    EXPECT_EQ(10u, Code(1920, 540, 30, 1));
    EXPECT_EQ(12u, Code(1920, 540, 50, 2));
    EXPECT_EQ(25u, Code(1920, 1200, 60, 7));
    EXPECT_EQ(12u, Code(1920, 1000, 60, 0));
}

// 720p at an unlisted rate leaves the caller's code.
TEST(MediaFormatTest, Hd720)
{
    for (u32 u32Fps : {60u, 30u, 24u})
        EXPECT_EQ(8u, Code(1280, 720, u32Fps, 1));
    for (u32 u32Fps : {50u, 25u})
        EXPECT_EQ(7u, Code(1280, 720, u32Fps, 0));
    EXPECT_EQ(28u, Code(1280, 720, 59, 0));
    u32 u32Code = 3;
    Main_Media_INTF4HW(1280, 720, 0, 0, &u32Code);
    EXPECT_EQ(3u, u32Code);
    EXPECT_EQ(18u, Code(1280, 1024, 75, 0));
    EXPECT_EQ(21u, Code(1280, 800, 60, 0));
}

// Standard definition goes by scan; the 1440-wide fields only interlaced.
TEST(MediaFormatTest, StandardDefinition)
{
    EXPECT_EQ(13u, Code(720, 576, 50, 0));
    EXPECT_EQ(12u, Code(720, 576, 50, 1));
    EXPECT_EQ(13u, Code(720, 288, 50, 1));
    EXPECT_EQ(12u, Code(720, 288, 50, 2));
    EXPECT_EQ(14u, Code(720, 480, 60, 0));
    EXPECT_EQ(12u, Code(720, 480, 60, 1));
    EXPECT_EQ(14u, Code(720, 240, 60, 0));
    EXPECT_EQ(13u, Code(1440, 288, 50, 1));
    EXPECT_EQ(12u, Code(1440, 288, 50, 0));
    EXPECT_EQ(14u, Code(1440, 240, 60, 1));
}

// Computer formats go by size alone.
TEST(MediaFormatTest, ComputerFormats)
{
    EXPECT_EQ(20u, Code(1440, 900, 60, 0));
    EXPECT_EQ(16u, Code(800, 600, 60, 0));
    EXPECT_EQ(17u, Code(1024, 768, 70, 0));
    EXPECT_EQ(19u, Code(1366, 768, 60, 0));
    EXPECT_EQ(19u, Code(1364, 768, 60, 0));
    EXPECT_EQ(12u, Code(1368, 768, 60, 0));
    EXPECT_EQ(24u, Code(1600, 1200, 60, 0));
    EXPECT_EQ(22u, Code(1680, 1050, 60, 0));
    EXPECT_EQ(22u, Code(1680, 1048, 60, 0));
    EXPECT_EQ(15u, Code(640, 480, 60, 0));
    EXPECT_EQ(26u, Code(2560, 1440, 60, 0));
    EXPECT_EQ(12u, Code(3840, 2160, 30, 0));
}
