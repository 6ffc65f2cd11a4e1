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
    s32 s32Value = -1;
    for (s32 s32Level : {1, 0}) {
        EXPECT_EQ(4, GPIO_SET(40, s32Level));
        EXPECT_EQ(std::string(1, (char)('0' + s32Level)) + std::string(3, '\0'),
                  File_Read("/sys/class/gpio/gpio40/value"));
        ASSERT_EQ(0, GPIO_GET(40, &s32Value));
        EXPECT_EQ(s32Level, s32Value);
    }
}

// Lines out of range or never initialised are refused; a line that is not
// exported yet is exported first, and one that cannot be opened afterwards
// fails with the board's message.
TEST(GpioTest, RefusesBadLinesAndReportsFailedOpen)
{
    s32 s32Value;
    EXPECT_EQ(-1, GPIO_INIT(-1));
    EXPECT_EQ(-1, GPIO_INIT(GPIO_MAX));
    EXPECT_EQ(-1, GPIO_OUTPUT(GPIO_MAX));
    EXPECT_EQ(-1, GPIO_SET(GPIO_MAX, 1));
    EXPECT_EQ(-1, GPIO_SET(41, 1));
    EXPECT_EQ(-1, GPIO_GET(0xFFFFFFFFu, &s32Value));
    EXPECT_EQ("open gpio200 failed\n-1", Child_Run([] { printf("%d", GPIO_INIT(200)); }));
    EXPECT_EQ("200\n", File_Read("/sys/class/gpio/export"));
}
