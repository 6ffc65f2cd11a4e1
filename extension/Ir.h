// The infrared send queue: everything bound for the infrared port (the
// relay, the control protocol) is queued here and written to the second
// UART by one thread, so packets never interleave.
#ifndef EXTENSION_IR_H
#define EXTENSION_IR_H

#include "core/Thread.h"
#include "core/Types.h"
#include "extension/Uart.h"
#include "extension/UartQueue.h"

#define IR_QUEUE_LEN  UART_QUEUE_LEN    // packets waiting
#define IR_PACKET_MAX UART_PACKET_MAX   // bytes of one queued packet
#define IR_GPIO       71     // enables the infrared emitter

// Clears the queue and drives the emitter line on; 0, or -1 when the line
// cannot be set up (logged).
s32 MAIN_Ir_Init(IrAttr_S *pstIr);
// Queues bytes for the infrared port; 0, or -1 when the queue is full
// (nothing of the data is queued then; logged).
s32 MAIN_Ir_SendData(const u8 *pu8Data, u32 u32Len);
// Queues what fits of the bytes, for a sender that holds the rest: the
// bytes queued, 0 when the queue is full (not logged). When not all fit,
// pstWaiter is woken once the send thread has taken the next packet.
u32 MAIN_Ir_Queue(const u8 *pu8Data, u32 u32Len, MainThread_S *pstWaiter);
// The thread that writes the queue to the infrared UART (the second one),
// each packet whole, waiting for room as long as the port needs; it
// sleeps while the queue is empty, and its stop ends any wait.
s32 MAIN_IrSend_Start(UartAttr_S *pstUart);
void MAIN_IrSend_Stop(void);

// Control protocol: infrared bytes to send; the context is not used. 0 or -1.
s32 Main_Protocolserver_onrecvIrData(void *pvCtx, const u8 *pu8Data, u32 u32Len);

#endif
