#include "extension/Ir.h"

#include "board/Gpio.h"
#include "core/Debug.h"

static UartQueue_S s_stIrQueue = {"MAIN_Ir_SendData"};

s32 MAIN_Ir_Init(IrAttr_S *pstIr)
{
    UartQueue_Clear(&s_stIrQueue);
    if (GPIO_INIT((s32)pstIr->u32Gpio) < 0 || GPIO_OUTPUT((s32)pstIr->u32Gpio) != 0
        || GPIO_SET(pstIr->u32Gpio, 1) < 0) {
        Debug_Log("[%s]: %s: gpio %u not set up\n", log_Time(), __func__, pstIr->u32Gpio);
        return -1;
    }
    return 0;
}

s32 MAIN_Ir_SendData(const u8 *pu8Data, u32 u32Len)
{
    return UartQueue_Put(&s_stIrQueue, pu8Data, u32Len);
}

u32 MAIN_Ir_Queue(const u8 *pu8Data, u32 u32Len, MainThread_S *pstWaiter)
{
    return UartQueue_Fit(&s_stIrQueue, pu8Data, u32Len, pstWaiter);
}

s32 MAIN_IrSend_Start(UartAttr_S *pstUart)
{
    return UartQueue_Start(&s_stIrQueue, pstUart);
}

void MAIN_IrSend_Stop(void)
{
    UartQueue_Stop(&s_stIrQueue);
}

s32 Main_Protocolserver_onrecvIrData(void *pvCtx, const u8 *pu8Data, u32 u32Len)
{
    (void)pvCtx;   // the queue is process-wide
    return MAIN_Ir_SendData(pu8Data, u32Len);
}
