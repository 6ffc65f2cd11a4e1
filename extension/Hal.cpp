#include "config/ConfigAttr.h"
#include "extension/Ir.h"
#include "extension/Uart.h"

#define HAL_UART_PORT     0
#define HAL_UART2_PORT    1
#define HAL_BAUD_DEFAULT  10   // 115200
#define HAL_BAUD_UART2    9    // 57600

s32 MAIN_Hal_DefConifg(HalAttr_S *pstHal)
{
    const ConfigSerialAttr_S &stSerial = g_stConfigAttr.stSerialAttr;
    UartSetAttr_S &stSet = pstHal->stUart.stSetAttr;
    s32 s32Baud = MAIN_Uart_BaudIndex(stSerial.u32Baudrate);

    pstHal->stUart.u32Port = HAL_UART_PORT;
    stSet.u32BaudIdx = s32Baud < 0 ? HAL_BAUD_DEFAULT : (u32)s32Baud;
    stSet.u32Databits = stSerial.u32Databits >= 5 && stSerial.u32Databits <= 8 ? stSerial.u32Databits : 8;
    stSet.u32Parity = stSerial.u32Parity <= 2 ? stSerial.u32Parity : 0;
    stSet.u32StopBits = stSerial.u32Stopbits == 2 ? 2 : 0;

    pstHal->stUart2.u32Port = HAL_UART2_PORT;
    pstHal->stUart2.stSetAttr = {HAL_BAUD_UART2, 8, 0, 0};
    pstHal->stIr.u32Gpio = IR_GPIO;
    return 0;
}
