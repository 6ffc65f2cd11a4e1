#include <gtest/gtest.h>

#include <cstring>

#include "config/ConfigAttr.h"
#include "extension/Ir.h"
#include "extension/Uart.h"

// The UART takes the stored serial settings; what the port cannot do
// becomes 115200 8N1 piece by piece. The second UART is fixed.
TEST(HalDefaults, UartFollowsTheSettings)
{
    HalAttr_S stHal;
    memset(&stHal, 0x55, sizeof(stHal));
    g_stConfigAttr.stSerialAttr = {9600, 7, 2, 2};
    ASSERT_EQ(0, MAIN_Hal_DefConifg(&stHal));
    EXPECT_EQ(0u, stHal.stUart.u32Port);
    EXPECT_EQ(6u, stHal.stUart.stSetAttr.u32BaudIdx);
    EXPECT_EQ(7u, stHal.stUart.stSetAttr.u32Databits);
    EXPECT_EQ(2u, stHal.stUart.stSetAttr.u32Parity);
    EXPECT_EQ(2u, stHal.stUart.stSetAttr.u32StopBits);
    EXPECT_EQ(1u, stHal.stUart2.u32Port);
    EXPECT_EQ(57600u, MAIN_Uart_Baud(stHal.stUart2.stSetAttr.u32BaudIdx));
    EXPECT_EQ(8u, stHal.stUart2.stSetAttr.u32Databits);
    EXPECT_EQ((u32)IR_GPIO, stHal.stIr.u32Gpio);
    EXPECT_EQ(0x55555555, stHal.stUsb.s32KeyboardFd);   // descriptors are not attributes

    g_stConfigAttr.stSerialAttr = {14400, 9, 3, 1};
    ASSERT_EQ(0, MAIN_Hal_DefConifg(&stHal));
    EXPECT_EQ(115200u, MAIN_Uart_Baud(stHal.stUart.stSetAttr.u32BaudIdx));
    EXPECT_EQ(8u, stHal.stUart.stSetAttr.u32Databits);
    EXPECT_EQ(0u, stHal.stUart.stSetAttr.u32Parity);
    EXPECT_EQ(0u, stHal.stUart.stSetAttr.u32StopBits);
}
