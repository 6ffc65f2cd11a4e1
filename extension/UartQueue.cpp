#include "extension/UartQueue.h"

#include <condition_variable>
#include <cstring>
#include <mutex>

static std::mutex s_QueueMutex;               // the rings and waiters of every queue
static std::condition_variable s_QueueCond;   // a packet was queued, or a sender stopped

void UartQueue_Clear(UartQueue_S *pstQueue)
{
    std::lock_guard<std::mutex> lock(s_QueueMutex);
    pstQueue->u32Head = 0;
    pstQueue->u32Count = 0;
}

// Appends the bytes as packets; the caller holds the lock and made sure
// they fit.
static void UartQueue_Append(UartQueue_S *pstQueue, const u8 *pu8Data, u32 u32Len)
{
    for (u32 u32Done = 0; u32Done < u32Len;) {
        UartPacket_S &stPacket = pstQueue->astRing[(pstQueue->u32Head + pstQueue->u32Count++) % UART_QUEUE_LEN];
        stPacket.u32Len = u32Len - u32Done < UART_PACKET_MAX ? u32Len - u32Done : UART_PACKET_MAX;
        memcpy(stPacket.au8Data, pu8Data + u32Done, stPacket.u32Len);
        u32Done += stPacket.u32Len;
    }
    if (u32Len > 0)
        s_QueueCond.notify_all();
}

s32 UartQueue_Put(UartQueue_S *pstQueue, const u8 *pu8Data, u32 u32Len)
{
    u32 u32Packets = (u32Len + UART_PACKET_MAX - 1) / UART_PACKET_MAX;
    {
        std::lock_guard<std::mutex> lock(s_QueueMutex);
        if (u32Packets <= UART_QUEUE_LEN - pstQueue->u32Count) {
            UartQueue_Append(pstQueue, pu8Data, u32Len);
            return 0;
        }
    }
    Debug_LogLimited(&pstQueue->stFullLimit, "[%s]: %s: queue full, %u bytes dropped\n", log_Time(),
                     pstQueue->pszName, u32Len);
    return -1;
}

u32 UartQueue_Fit(UartQueue_S *pstQueue, const u8 *pu8Data, u32 u32Len, MainThread_S *pstWaiter)
{
    std::lock_guard<std::mutex> lock(s_QueueMutex);
    u32 u32Room = (UART_QUEUE_LEN - pstQueue->u32Count) * UART_PACKET_MAX;
    u32 u32Fit = u32Len < u32Room ? u32Len : u32Room;
    UartQueue_Append(pstQueue, pu8Data, u32Fit);
    if (u32Fit < u32Len)
        pstQueue->pstWaiter = pstWaiter;
    return u32Fit;
}

// Waits for the next packet and copies it for the sender: false on the stop.
static bool UartQueue_Take(UartQueue_S *pstQueue)
{
    MainThread_S *pstWaiter;
    {
        std::unique_lock<std::mutex> lock(s_QueueMutex);
        s_QueueCond.wait(lock, [&] {
            return pstQueue->u32Count > 0 || !MAIN_Thread_Running(&pstQueue->stThread);
        });
        if (!MAIN_Thread_Running(&pstQueue->stThread))
            return false;
        const UartPacket_S &stPacket = pstQueue->astRing[pstQueue->u32Head];
        pstQueue->stSending.u32Len = stPacket.u32Len;
        memcpy(pstQueue->stSending.au8Data, stPacket.au8Data, stPacket.u32Len);
        pstQueue->u32Head = (pstQueue->u32Head + 1) % UART_QUEUE_LEN;
        pstQueue->u32Count--;
        pstWaiter = pstQueue->pstWaiter;
        pstQueue->pstWaiter = nullptr;
    }
    if (pstWaiter != nullptr)
        MAIN_Thread_Wake(pstWaiter);
    return true;
}

// Every sender's wake: ends its wait for a packet or for its port. Under
// the lock, so that a sender between its look at its run flag and its wait
// gets it too.
static void UartQueue_Wake(void)
{
    {
        std::lock_guard<std::mutex> lock(s_QueueMutex);
        s_QueueCond.notify_all();
    }
    MAIN_Uart_WakeSenders();
}

static void *UartQueue_Thread(void *pvArg)
{
    UartQueue_S *pstQueue = (UartQueue_S *)pvArg;
    while (UartQueue_Take(pstQueue)) {
        // A closed port or a failed write is logged there and loses the
        // packet, as does the stop.
        (void)MAIN_Uart_SendAll(pstQueue->pstUart, pstQueue->stSending.au8Data, pstQueue->stSending.u32Len,
                                &pstQueue->stThread);
    }
    return nullptr;
}

s32 UartQueue_Start(UartQueue_S *pstQueue, UartAttr_S *pstUart)
{
    if (MAIN_Thread_Running(&pstQueue->stThread))
        return 0;
    pstQueue->pstUart = pstUart;
    pstQueue->stThread.pfnWake = UartQueue_Wake;
    return MAIN_Thread_Start(&pstQueue->stThread, UartQueue_Thread, pstQueue, pstQueue->pszName);
}

void UartQueue_Stop(UartQueue_S *pstQueue)
{
    MAIN_Thread_Stop(&pstQueue->stThread);
}
