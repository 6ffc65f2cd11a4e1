#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/Files.h"
#include "upgrade/Flash.h"

static const char IMAGE[] = "/board/flash.img";
static const u32 IMAGE_SIZE = 4 << 20;

// A fresh erased image for each test, as the box gives one.
struct FlashTest : public testing::Test {
    static void SetUpTestSuite()
    {
        File_Write(IMAGE, std::string(IMAGE_SIZE, '\xff'));
        ASSERT_EQ(0, Flash_Init());
    }
    std::vector<u8> Read(u32 u32Off, u32 u32Len)
    {
        std::vector<u8> v(u32Len);
        EXPECT_EQ(0, Flash_Read(u32Off, v.data(), u32Len));
        return v;
    }
};

// Programming clears bits only, as on NOR: rewriting without an erase mixes
// old and new bytes; Flash_Update erases first.
TEST_F(FlashTest, ProgramWithoutEraseOnlyClearsBits)
{
    const u8 au8A[] = {0xF0, 0x0F}, au8B[] = {0x3C, 0xC3};
    u32 u32Off = 3 * Flash_EraseSize();
    ASSERT_EQ(0, Flash_Program(u32Off, au8A, 2));
    ASSERT_EQ(0, Flash_Program(u32Off, au8B, 2));
    EXPECT_EQ((std::vector<u8>{0x30, 0x03}), Read(u32Off, 2));
    ASSERT_EQ(0, Flash_Update(u32Off, au8B, 2));
    EXPECT_EQ((std::vector<u8>{0x3C, 0xC3}), Read(u32Off, 2));
}

// An update across an erase-block boundary keeps every byte around it.
TEST_F(FlashTest, UpdateKeepsNeighboursAcrossBlocks)
{
    u32 u32Block = Flash_EraseSize();
    std::vector<u8> fill(2 * u32Block);
    for (size_t i = 0; i < fill.size(); i++)
        fill[i] = (u8)(i * 7);
    ASSERT_EQ(0, Flash_Update(0, fill.data(), (u32)fill.size()));
    const char az[] = "across the line";
    ASSERT_EQ(0, Flash_Update(u32Block - 4, az, sizeof(az)));
    std::vector<u8> got = Read(0, (u32)fill.size());
    memcpy(fill.data() + u32Block - 4, az, sizeof(az));
    EXPECT_EQ(fill, got);
}

TEST_F(FlashTest, RefusesRangesPastTheEnd)
{
    u8 au8[16];
    EXPECT_EQ(-1, Flash_Read(IMAGE_SIZE - 8, au8, sizeof(au8)));
    EXPECT_EQ(-1, Flash_Program(0xFFFFFFF0u, au8, sizeof(au8)));
    EXPECT_EQ(-1, Flash_Erase(1, Flash_EraseSize()));
    EXPECT_EQ(-1, Flash_Update(IMAGE_SIZE - 1, au8, 2));
}
