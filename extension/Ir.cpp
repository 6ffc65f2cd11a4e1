#include "extension/Ir.h"

#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <pthread.h>

#include "board/Gpio.h"
#include "core/Debug.h"
#include "core/Thread.h"

#define IR_WAIT_MS 100

struct IrPacket_S {
    u32 u32Len;
    u8 au8Data[IR_PACKET_MAX];
};

static pthread_mutex_t s_IrMutex = PTHREAD_MUTEX_INITIALIZER;   // the ring below
static pthread_cond_t s_IrCond = PTHREAD_COND_INITIALIZER;      // a packet was queued
static IrPacket_S s_astIrQueue[IR_QUEUE_LEN];
static u32 s_u32IrHead;     // next packet to send
static u32 s_u32IrCount;    // packets waiting
static MainThread_S *s_pstIrWaiter;   // woken when a packet leaves the queue; null: none

static MainThread_S s_stIrSendThread;
static DebugLimit_S s_stFullLimit;   // a relay client fills the queue at will

s32 MAIN_Ir_Init(IrAttr_S *pstIr)
{
    pthread_mutex_lock(&s_IrMutex);
    s_u32IrHead = 0;
    s_u32IrCount = 0;
    pthread_mutex_unlock(&s_IrMutex);
    if (GPIO_INIT((s32)pstIr->u32Gpio) < 0 || GPIO_OUTPUT((s32)pstIr->u32Gpio) != 0
        || GPIO_SET(pstIr->u32Gpio, 1) < 0) {
        Debug_Log("[%s]: %s: gpio %u not set up\n", log_Time(), __func__, pstIr->u32Gpio);
        return -1;
    }
    return 0;
}

// Appends the bytes as packets; the caller holds the lock and made sure
// they fit.
static void Ir_Put(const u8 *pu8Data, u32 u32Len)
{
    for (u32 u32Done = 0; u32Done < u32Len;) {
        IrPacket_S &stPacket = s_astIrQueue[(s_u32IrHead + s_u32IrCount++) % IR_QUEUE_LEN];
        stPacket.u32Len = u32Len - u32Done < IR_PACKET_MAX ? u32Len - u32Done : IR_PACKET_MAX;
        memcpy(stPacket.au8Data, pu8Data + u32Done, stPacket.u32Len);
        u32Done += stPacket.u32Len;
    }
    if (u32Len > 0)
        pthread_cond_signal(&s_IrCond);
}

s32 MAIN_Ir_SendData(const u8 *pu8Data, u32 u32Len)
{
    u32 u32Packets = (u32Len + IR_PACKET_MAX - 1) / IR_PACKET_MAX;
    pthread_mutex_lock(&s_IrMutex);
    if (u32Packets > IR_QUEUE_LEN - s_u32IrCount) {
        pthread_mutex_unlock(&s_IrMutex);
        Debug_LogLimited(&s_stFullLimit, "[%s]: %s: queue full, %u bytes dropped\n", log_Time(), __func__, u32Len);
        return -1;
    }
    Ir_Put(pu8Data, u32Len);
    pthread_mutex_unlock(&s_IrMutex);
    return 0;
}

u32 MAIN_Ir_Queue(const u8 *pu8Data, u32 u32Len, MainThread_S *pstWaiter)
{
    pthread_mutex_lock(&s_IrMutex);
    u32 u32Room = (IR_QUEUE_LEN - s_u32IrCount) * IR_PACKET_MAX;
    u32 u32Fit = u32Len < u32Room ? u32Len : u32Room;
    Ir_Put(pu8Data, u32Fit);
    if (u32Fit < u32Len)
        s_pstIrWaiter = pstWaiter;
    pthread_mutex_unlock(&s_IrMutex);
    return u32Fit;
}

// Takes the next packet into *pstOut; false when none came within IR_WAIT_MS.
static bool Ir_Take(IrPacket_S *pstOut)
{
    struct timespec stUntil;
    clock_gettime(CLOCK_REALTIME, &stUntil);
    stUntil.tv_nsec += IR_WAIT_MS * 1000000L;
    if (stUntil.tv_nsec >= 1000000000L) {
        stUntil.tv_sec++;
        stUntil.tv_nsec -= 1000000000L;
    }
    pthread_mutex_lock(&s_IrMutex);
    if (s_u32IrCount == 0)
        pthread_cond_timedwait(&s_IrCond, &s_IrMutex, &stUntil);
    bool bTaken = s_u32IrCount > 0;
    MainThread_S *pstWaiter = nullptr;
    if (bTaken) {
        const IrPacket_S &stPacket = s_astIrQueue[s_u32IrHead];
        pstOut->u32Len = stPacket.u32Len;
        memcpy(pstOut->au8Data, stPacket.au8Data, stPacket.u32Len);
        s_u32IrHead = (s_u32IrHead + 1) % IR_QUEUE_LEN;
        s_u32IrCount--;
        pstWaiter = s_pstIrWaiter;
        s_pstIrWaiter = nullptr;
    }
    pthread_mutex_unlock(&s_IrMutex);
    if (pstWaiter != nullptr)
        MAIN_Thread_Wake(pstWaiter);
    return bTaken;
}

// Ends the sender's wait for a packet or for its port (its stop).
static void Ir_Wake(void)
{
    pthread_mutex_lock(&s_IrMutex);
    pthread_cond_broadcast(&s_IrCond);
    pthread_mutex_unlock(&s_IrMutex);
    MAIN_Uart_WakeSenders();
}

static void *MAIN_IrSend_Thread(void *pvArg)
{
    UartAttr_S *pstUart = (UartAttr_S *)pvArg;
    static IrPacket_S s_stPacket;   // only this thread uses it
    while (MAIN_Thread_Running(&s_stIrSendThread)) {
        if (!Ir_Take(&s_stPacket))
            continue;
        // Waits for room as long as the port needs, so that no packet is lost
        // for want of it; a closed port or a failed write is logged there and
        // loses the packet, as does the stop.
        (void)MAIN_Uart_SendAll(pstUart, s_stPacket.au8Data, s_stPacket.u32Len, &s_stIrSendThread);
    }
    return nullptr;
}

s32 MAIN_IrSend_Start(UartAttr_S *pstUart)
{
    s_stIrSendThread.pfnWake = Ir_Wake;
    return MAIN_Thread_Start(&s_stIrSendThread, MAIN_IrSend_Thread, pstUart, __func__);
}

void MAIN_IrSend_Stop(void)
{
    MAIN_Thread_Stop(&s_stIrSendThread);
}

s32 Main_Protocolserver_onrecvIrData(void *pvCtx, const u8 *pu8Data, u32 u32Len)
{
    (void)pvCtx;   // the queue is process-wide
    return MAIN_Ir_SendData(pu8Data, u32Len);
}
