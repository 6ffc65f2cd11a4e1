#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include "extension/Uart.h"
#include "tests/support/Pty.h"

struct UartTest : public testing::Test {
    UartAttr_S stUart{-1, 3, {10, 8, 0, 0}};
    int s32Master = -1;
    void SetUp() override { s32Master = Pty_Attach("/dev/ttyS3"); ASSERT_GE(s32Master, 0); }
    void TearDown() override { MAIN_Uart_Close(&stUart); close(s32Master); }
};

TEST_F(UartTest, BaudIndexCoversTheTable)
{
    EXPECT_EQ(300u, MAIN_Uart_Baud(0));
    EXPECT_EQ(115200u, MAIN_Uart_Baud(10));
    EXPECT_EQ(921600u, MAIN_Uart_Baud(14));
    EXPECT_EQ(0u, MAIN_Uart_Baud(15));
    EXPECT_EQ(0, MAIN_Uart_BaudIndex(300));
    EXPECT_EQ(13, MAIN_Uart_BaudIndex(576000));
    EXPECT_EQ(14, MAIN_Uart_BaudIndex(921600));
    EXPECT_EQ(-1, MAIN_Uart_BaudIndex(14400));
}

// The port carries the record's speed (a pty keeps no other line setting),
// and bytes reach the other end unchanged.
TEST_F(UartTest, OpensWithAttributesAndSends)
{
    stUart.stSetAttr = {7, 7, 2, 2};   // 19200 7E2
    ASSERT_EQ(0, MAIN_Uart_Init(&stUart));
    struct termios stTio;
    ASSERT_EQ(0, tcgetattr(stUart.s32Fd, &stTio));
    EXPECT_EQ((speed_t)B19200, cfgetospeed(&stTio));

    const char az[] = "hello\r\n\x00\xff";
    ASSERT_EQ(0, MAIN_Uart_SendData(&stUart, az, sizeof(az)));
    EXPECT_EQ(std::string(az, sizeof(az)), Pty_Read(s32Master, sizeof(az), 1000));
}

TEST_F(UartTest, RefusesBadAttributesAndClosedPorts)
{
    stUart.stSetAttr.u32BaudIdx = 15;
    EXPECT_EQ(-1, MAIN_Uart_Init(&stUart));
    EXPECT_EQ(-1, stUart.s32Fd);
    stUart.stSetAttr = {10, 4, 0, 0};
    EXPECT_EQ(-1, MAIN_Uart_Init(&stUart));
    EXPECT_EQ(-1, MAIN_Uart_SendData(&stUart, "x", 1));
    stUart.u32Port = 9;                 // no such device
    stUart.stSetAttr = {10, 8, 0, 0};
    EXPECT_EQ(-1, MAIN_Uart_Init(&stUart));
}

TEST_F(UartTest, RestartReopensWithNewAttributes)
{
    ASSERT_EQ(0, MAIN_Uart_Init(&stUart));
    stUart.stSetAttr.u32BaudIdx = 5;
    ASSERT_EQ(0, MAIN_Uart_Restart(&stUart));
    struct termios stTio;
    ASSERT_EQ(0, tcgetattr(stUart.s32Fd, &stTio));
    EXPECT_EQ((speed_t)B4800, cfgetospeed(&stTio));
}
