#include <gtest/gtest.h>

#include <termios.h>
#include <unistd.h>

#include "config/ConfigAttr.h"
#include "extension/Uart.h"
#include "tests/support/Pty.h"

struct UartTest : public testing::Test {
    UartAttr_S stUart{-1, 3, {10, 8, 0, 0}};
    int s32Master = -1;
    void SetUp() override { s32Master = Pty_Attach("/dev/ttyS3"); ASSERT_GE(s32Master, 0); }
    void TearDown() override { MAIN_Uart_Close(&stUart); close(s32Master); }
    speed_t Speed()
    {
        struct termios stTio = {};
        EXPECT_EQ(0, tcgetattr(stUart.s32Fd, &stTio));
        return cfgetospeed(&stTio);
    }
};

// The port carries the record's speed (a pty keeps no other line setting),
// bytes reach the other end unchanged, and a restart takes a new speed.
TEST_F(UartTest, OpensWithAttributesSendsAndRestarts)
{
    stUart.stSetAttr = {7, 7, 2, 2};   // 19200 7E2
    ASSERT_EQ(0, MAIN_Uart_Init(&stUart));
    EXPECT_EQ((speed_t)B19200, Speed());
    const char az[] = "hello\r\n\x00\xff";
    ASSERT_EQ(0, MAIN_Uart_SendData(&stUart, az, sizeof(az)));
    EXPECT_EQ(std::string(az, sizeof(az)), Pty_Read(s32Master, sizeof(az), 1000));

    stUart.stSetAttr.u32BaudIdx = 5;
    ASSERT_EQ(0, MAIN_Uart_Restart(&stUart));
    EXPECT_EQ((speed_t)B4800, Speed());
}

// Speeds outside the table, bad line settings and closed or missing ports.
TEST_F(UartTest, RefusesBadAttributesAndClosedPorts)
{
    EXPECT_EQ(0u, MAIN_Uart_Baud(15));
    EXPECT_EQ(-1, MAIN_Uart_BaudIndex(14400));
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

// The UART takes the stored serial settings; what the port cannot do
// becomes 115200 8N1 piece by piece.
TEST(HalDefaults, UartFollowsTheSettings)
{
    HalAttr_S stHal;
    g_stConfigAttr.stSerialAttr = {9600, 7, 2, 2};
    ASSERT_EQ(0, MAIN_Hal_DefConifg(&stHal));
    EXPECT_EQ(9600u, MAIN_Uart_Baud(stHal.stUart.stSetAttr.u32BaudIdx));
    EXPECT_EQ(7u, stHal.stUart.stSetAttr.u32Databits);
    EXPECT_EQ(2u, stHal.stUart.stSetAttr.u32Parity);
    EXPECT_EQ(2u, stHal.stUart.stSetAttr.u32StopBits);

    g_stConfigAttr.stSerialAttr = {14400, 9, 3, 1};
    ASSERT_EQ(0, MAIN_Hal_DefConifg(&stHal));
    EXPECT_EQ(115200u, MAIN_Uart_Baud(stHal.stUart.stSetAttr.u32BaudIdx));
    EXPECT_EQ(8u, stHal.stUart.stSetAttr.u32Databits);
    EXPECT_EQ(0u, stHal.stUart.stSetAttr.u32Parity);
    EXPECT_EQ(0u, stHal.stUart.stSetAttr.u32StopBits);
}
