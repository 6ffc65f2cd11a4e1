// Send queues of the UARTs: bytes that any thread queues are written to
// the port by the queue's one sender thread, in order, each packet whole
// in the port's sender turn, waiting for room as long as the port needs.
// Whoever queues never waits for the port: a full queue refuses bytes.
#ifndef EXTENSION_UARTQUEUE_H
#define EXTENSION_UARTQUEUE_H

#include "core/Debug.h"
#include "core/Thread.h"
#include "core/Types.h"
#include "extension/Uart.h"

#define UART_QUEUE_LEN  64     // packets waiting
#define UART_PACKET_MAX 1024   // bytes of one queued packet; longer data is split

struct UartPacket_S {
    u32 u32Len;
    u8 au8Data[UART_PACKET_MAX];
};

// A zeroed record with a name is an empty queue whose sender is not
// running. The ring and the waiter are under the queues' one lock.
struct UartQueue_S {
    const char *pszName;                   // for the log
    UartAttr_S *pstUart;                   // the port, set by the start
    MainThread_S stThread;                 // the sender
    UartPacket_S astRing[UART_QUEUE_LEN];
    u32 u32Head;                           // next packet to send
    u32 u32Count;                          // packets waiting
    MainThread_S *pstWaiter;               // woken when a packet leaves the ring; null: none
    UartPacket_S stSending;                // the sender's own copy of the packet it writes
    DebugLimit_S stFullLimit;              // those who queue fill it at will
};

void UartQueue_Clear(UartQueue_S *pstQueue);
// Queues all the bytes; 0, or -1 when they do not fit (nothing of them is
// queued then; logged, rate-limited).
s32 UartQueue_Put(UartQueue_S *pstQueue, const u8 *pu8Data, u32 u32Len);
// Queues what fits of the bytes, for a caller that holds the rest: the
// bytes queued, 0 when the queue is full (not logged). When not all fit,
// pstWaiter is woken once the sender has taken the next packet.
u32 UartQueue_Fit(UartQueue_S *pstQueue, const u8 *pu8Data, u32 u32Len, MainThread_S *pstWaiter);
// Starts the sender on the port: it sleeps until a packet is queued or
// its stop comes. 0, or the thread-creation error.
s32 UartQueue_Start(UartQueue_S *pstQueue, UartAttr_S *pstUart);
// Stops the sender whatever it waits for (the port's room, turn or
// reopen): the packet it was writing is lost, the queue kept.
void UartQueue_Stop(UartQueue_S *pstQueue);

#endif
