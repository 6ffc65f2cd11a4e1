#include <gtest/gtest.h>


#include "board/Gpio.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"

// A line is set through its kept value file, as "%d" in four bytes.
TEST(GpioTest, SetWritesFourBytesAndGetReadsBack)
{
    ASSERT_EQ(0, GPIO_INIT(40));
    EXPECT_EQ(0, GPIO_OUTPUT(40));
    EXPECT_EQ("out", File_Read("/sys/class/gpio/gpio40/direction").substr(0, 3));
    EXPECT_EQ(4, GPIO_SET(40, 1));
    EXPECT_EQ(std::string("1\0\0\0", 4), File_Read("/sys/class/gpio/gpio40/value"));
    s32 s32Value = -1;
    ASSERT_EQ(0, GPIO_GET(40, &s32Value));
    EXPECT_EQ(1, s32Value);
    EXPECT_EQ(4, GPIO_SET(40, 0));
    ASSERT_EQ(0, GPIO_GET(40, &s32Value));
    EXPECT_EQ(0, s32Value);
}

TEST(GpioTest, RefusesLinesOutOfRangeOrNotInitialised)
{
    s32 s32Value;
    EXPECT_EQ(-1, GPIO_INIT(-1));
    EXPECT_EQ(-1, GPIO_INIT(GPIO_MAX));
    EXPECT_EQ(-1, GPIO_OUTPUT(GPIO_MAX));
    EXPECT_EQ(-1, GPIO_SET(GPIO_MAX, 1));
    EXPECT_EQ(-1, GPIO_SET(41, 1));            // never initialised
    EXPECT_EQ(-1, GPIO_GET(0xFFFFFFFFu, &s32Value));
}

// A line that is not exported yet is exported first; one that cannot be
// opened afterwards fails with the board's message.
TEST(GpioTest, ExportsMissingLineAndReportsFailedOpen)
{
    std::string out = Child_Run([] { printf("%d", GPIO_INIT(200)); });
    EXPECT_EQ("open gpio200 failed\n-1", out);
    EXPECT_EQ("200\n", File_Read("/sys/class/gpio/export"));
}
