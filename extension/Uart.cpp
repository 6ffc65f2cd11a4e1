#include "extension/Uart.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "core/Debug.h"
#include "core/Thread.h"

#define UART_WRITE_WAIT_MS 1000   // least wait for room in the transmit buffer
#define UART_WAKE_BYTES    512    // room a waiting writer is woken for, with margin
#define UART_CHAR_BITS     12     // start, 8 data, parity, 2 stop bits at most
#define UART_TURNS         4      // ports with a sender turn of their own; a higher one shares
#define UART_REOPEN_MS     500    // a reopen's pause between close and open

// Guards the descriptors against their close or reopen while a sender
// writes or a relay reads, the reopen marks and the sender turns. Held for
// one read or write that does not wait, never across a wait nor a close:
// one port's wait holds up neither the other port nor a writer that does
// not wait.
static std::mutex s_UartMutex;
// A turn was given back, a reopen ended, or a sender thread was stopped.
static std::condition_variable s_UartCond;
// True while a waiting sender of the port has its turn: one at a time, so
// that frames do not interleave (the second UART carries the infrared
// packets and the display's frames). Never taken by MAIN_Uart_Write.
static bool s_abUartTurn[UART_TURNS];
static DebugLimit_S s_stSendLimit;   // relay clients send and read at will, to and from a closed or failing port too

static const struct {
    u32 u32Baud;
    speed_t speed;
} s_astBauds[UART_BAUD_COUNT] = {
    {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},     {4800, B4800},     {9600, B9600},     {19200, B19200},
    {38400, B38400},   {57600, B57600},   {115200, B115200}, {230400, B230400},
    {460800, B460800}, {576000, B576000}, {921600, B921600},
};

u32 MAIN_Uart_Baud(u32 u32BaudIdx)
{
    return u32BaudIdx < UART_BAUD_COUNT ? s_astBauds[u32BaudIdx].u32Baud : 0;
}

s32 MAIN_Uart_BaudIndex(u32 u32Baud)
{
    for (u32 i = 0; i < UART_BAUD_COUNT; i++)
        if (s_astBauds[i].u32Baud == u32Baud)
            return (s32)i;
    return -1;
}

static s32 Uart_SetAttr(s32 s32Fd, const UartSetAttr_S *pstSet)
{
    static const tcflag_t s_aSizes[] = {CS5, CS6, CS7, CS8};
    struct termios stTio;

    if (pstSet->u32BaudIdx >= UART_BAUD_COUNT || pstSet->u32Databits < 5 || pstSet->u32Databits > 8
        || pstSet->u32Parity > 2) {
        Debug_Log("[%s]: %s: bad uart attr baud %u bits %u parity %u\n", log_Time(), __func__,
                  pstSet->u32BaudIdx, pstSet->u32Databits, pstSet->u32Parity);
        return -1;
    }
    if (tcgetattr(s32Fd, &stTio) < 0) {
        Debug_Log("[%s]: %s: tcgetattr: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    cfmakeraw(&stTio);
    stTio.c_cflag &= ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS);
    stTio.c_cflag |= CLOCAL | CREAD | s_aSizes[pstSet->u32Databits - 5];
    if (pstSet->u32Parity != 0)
        stTio.c_cflag |= PARENB | (pstSet->u32Parity == 1 ? PARODD : 0);
    if (pstSet->u32StopBits == 2)
        stTio.c_cflag |= CSTOPB;
    stTio.c_cc[VMIN] = 0;
    stTio.c_cc[VTIME] = 0;
    cfsetispeed(&stTio, s_astBauds[pstSet->u32BaudIdx].speed);
    cfsetospeed(&stTio, s_astBauds[pstSet->u32BaudIdx].speed);
    if (tcsetattr(s32Fd, TCSANOW, &stTio) < 0) {
        Debug_Log("[%s]: %s: tcsetattr: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    return 0;
}

s32 MAIN_Uart_Init(UartAttr_S *pstUart)
{
    char azDev[32];
    snprintf(azDev, sizeof(azDev), "/dev/ttyS%u", pstUart->u32Port);
    s32 s32Fd = open(azDev, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: open %s: %s\n", log_Time(), __func__, azDev, strerror(errno));
        return -1;
    }
    if (Uart_SetAttr(s32Fd, &pstUart->stSetAttr) < 0) {
        close(s32Fd);
        return -1;
    }
    std::lock_guard<std::mutex> lock(s_UartMutex);
    pstUart->s32Fd = s32Fd;
    return 0;
}

// Marks the port closed for a reopen, so that its senders wait, or the
// reopen over: they go on, with "Uart not open" when the open failed.
// Returns the descriptor it took out when bReopening, else -1.
static s32 Uart_MarkReopen(UartAttr_S *pstUart, bool bReopening)
{
    std::lock_guard<std::mutex> lock(s_UartMutex);
    s32 s32Fd = bReopening ? pstUart->s32Fd : -1;
    if (bReopening)
        pstUart->s32Fd = -1;
    pstUart->bReopening = bReopening;
    s_UartCond.notify_all();
    return s32Fd;
}

// Outside the lock: the last close of a serial port waits for its output
// to drain, seconds at a low rate, which must hold up no other writer.
// Taken out under the lock first, the number cannot be reused by another
// file while a reader or writer still uses it.
static void Uart_CloseFd(s32 s32Fd)
{
    if (s32Fd >= 0 && close(s32Fd) < 0)
        Debug_Log("[%s]: %s: close: %s\n", log_Time(), __func__, strerror(errno));
}

void MAIN_Uart_Close(UartAttr_S *pstUart)
{
    s32 s32Fd;
    {
        std::lock_guard<std::mutex> lock(s_UartMutex);
        s32Fd = pstUart->s32Fd;
        pstUart->s32Fd = -1;
    }
    Uart_CloseFd(s32Fd);
}

s32 MAIN_Uart_Restart(UartAttr_S *pstUart)
{
    Uart_CloseFd(Uart_MarkReopen(pstUart, true));
    usleep(UART_REOPEN_MS * 1000);
    s32 s32Ret = MAIN_Uart_Init(pstUart);
    (void)Uart_MarkReopen(pstUart, false);   // takes nothing out
    return s32Ret;
}

void MAIN_Uart_WakeSenders(void)
{
    // Under the lock: a sender between its look at its run flag and its
    // wait gets the notice too.
    std::lock_guard<std::mutex> lock(s_UartMutex);
    s_UartCond.notify_all();
}

// One write of pvIn (or one read into pvOut when pvIn is null) of what
// the port has now: the bytes moved, 0 when it has no room or no bytes,
// -1 on a failure (logged). Under the UART lock.
static s32 Uart_Move(const char *pszWho, s32 s32Fd, const void *pvIn, void *pvOut, u32 u32Len)
{
    for (;;) {
        ssize_t n = pvIn != nullptr ? write(s32Fd, pvIn, u32Len) : read(s32Fd, pvOut, u32Len);
        if (n >= 0)
            return (s32)n;
        if (errno == EAGAIN)
            return 0;
        if (errno != EINTR) {
            Debug_LogLimited(&s_stSendLimit, "[%s]: %s: %s: %s\n", log_Time(), pszWho,
                             pvIn != nullptr ? "write" : "read", strerror(errno));
            return -1;
        }
    }
}

// The port's state, under the UART lock: 1 open, 0 closed for a reopen,
// -1 closed otherwise ("Uart not open" logged).
static s32 Uart_State(const UartAttr_S *pstUart)
{
    if (pstUart->s32Fd >= 0)
        return 1;
    if (pstUart->bReopening)
        return 0;
    Debug_LogLimited(&s_stSendLimit, "[%s]: Uart not open\n", log_Time());
    return -1;
}

// How long a port that takes nothing may keep a sender waiting: the time a
// working port needs to make room at its rate, at least UART_WRITE_WAIT_MS.
static s32 Uart_WaitMs(const UartAttr_S *pstUart)
{
    u32 u32Baud = MAIN_Uart_Baud(pstUart->stSetAttr.u32BaudIdx);
    u32 u32Ms = u32Baud != 0 ? UART_WAKE_BYTES * UART_CHAR_BITS * 1000 / u32Baud : 0;
    return (s32)(u32Ms > UART_WRITE_WAIT_MS ? u32Ms : UART_WRITE_WAIT_MS);
}

// Uart_Move of a write on the port's descriptor of the moment: 0 while it
// is closed for a reopen, -1 while it is closed otherwise (see
// Uart_State); *ps32Fd: that descriptor, to wait on.
static s32 Uart_WriteNow(const char *pszWho, UartAttr_S *pstUart, const u8 *pu8, u32 u32Len,
                         s32 *ps32Fd)
{
    std::lock_guard<std::mutex> lock(s_UartMutex);
    *ps32Fd = pstUart->s32Fd;
    s32 s32State = Uart_State(pstUart);
    return s32State <= 0 ? s32State : Uart_Move(pszWho, *ps32Fd, pu8, nullptr, u32Len);
}

// Waits under the lock until *pbBusy is false: up to s32Ms, or for a
// sender thread as long as it takes, until that thread is stopped. True
// when it is false (and the thread not stopped).
static bool Uart_WaitFree(std::unique_lock<std::mutex> *pLock, const bool *pbBusy, s32 s32Ms,
                          MainThread_S *pstThread)
{
    if (pstThread == nullptr)
        return s_UartCond.wait_for(*pLock, std::chrono::milliseconds(s32Ms), [&] { return !*pbBusy; });
    s_UartCond.wait(*pLock, [&] { return !*pbBusy || !MAIN_Thread_Running(pstThread); });
    return MAIN_Thread_Running(pstThread);
}

// Takes the port's sender turn: within the port's wait for room, or for a
// sender thread as long as it takes, until that thread is stopped.
static bool Uart_TakeTurn(const UartAttr_S *pstUart, MainThread_S *pstThread)
{
    bool *pbTurn = &s_abUartTurn[pstUart->u32Port % UART_TURNS];
    std::unique_lock<std::mutex> lock(s_UartMutex);
    if (!Uart_WaitFree(&lock, pbTurn, Uart_WaitMs(pstUart), pstThread))
        return false;
    *pbTurn = true;
    return true;
}

static void Uart_GiveTurn(const UartAttr_S *pstUart)
{
    std::lock_guard<std::mutex> lock(s_UartMutex);
    s_abUartTurn[pstUart->u32Port % UART_TURNS] = false;
    s_UartCond.notify_all();
}

// Waits for room on the descriptor, no lock held, or for the reopen's end
// when it was closed for one (s32Fd -1): up to the port's wait (and the
// reopen's pause), or for a sender thread as long as it takes, until that
// thread is stopped. True when there may be room (a descriptor closed
// meanwhile shows at the next write).
static bool Uart_WaitRoom(const UartAttr_S *pstUart, s32 s32Fd, MainThread_S *pstThread)
{
    if (s32Fd < 0) {
        std::unique_lock<std::mutex> lock(s_UartMutex);
        return Uart_WaitFree(&lock, &pstUart->bReopening, UART_REOPEN_MS + Uart_WaitMs(pstUart),
                             pstThread);
    }
    if (pstThread == nullptr) {
        struct pollfd stPoll = {s32Fd, POLLOUT, 0};
        s32 s32Ready = poll(&stPoll, 1, Uart_WaitMs(pstUart));
        return s32Ready > 0 || (s32Ready < 0 && errno == EINTR);
    }
    s32 s32Ready = 0;
    while (s32Ready == 0 && MAIN_Thread_Running(pstThread))
        s32Ready = MAIN_Thread_WaitFd(pstThread, s32Fd, POLLOUT, -1);   // a poll error is logged there
    return s32Ready > 0;
}

// -1 for a sender whose wait ended without room or turn: a timeout
// (logged), or a sender thread's stop (not logged).
static s32 Uart_Timeout(const char *pszWho, const MainThread_S *pstThread)
{
    if (pstThread == nullptr)
        Debug_LogLimited(&s_stSendLimit, "[%s]: %s: write: timeout\n", log_Time(), pszWho);
    return -1;
}

// Writes all bytes, waiting for room between writes.
static s32 Uart_SendInTurn(const char *pszWho, UartAttr_S *pstUart, const u8 *pu8, u32 u32Len,
                           MainThread_S *pstThread)
{
    for (;;) {
        s32 s32Fd;
        s32 n = Uart_WriteNow(pszWho, pstUart, pu8, u32Len, &s32Fd);
        if (n < 0)
            return -1;
        pu8 += n;
        u32Len -= (u32)n;
        if (u32Len == 0)
            return 0;
        if (n == 0 && !Uart_WaitRoom(pstUart, s32Fd, pstThread))
            return Uart_Timeout(pszWho, pstThread);
    }
}

// Uart_SendInTurn in the port's sender turn.
static s32 Uart_Send(const char *pszWho, UartAttr_S *pstUart, const u8 *pu8, u32 u32Len,
                     MainThread_S *pstThread)
{
    if (!Uart_TakeTurn(pstUart, pstThread))
        return Uart_Timeout(pszWho, pstThread);
    s32 s32Ret = Uart_SendInTurn(pszWho, pstUart, pu8, u32Len, pstThread);
    Uart_GiveTurn(pstUart);
    return s32Ret;
}

s32 MAIN_Uart_SendData(UartAttr_S *pstUart, const void *pvData, u32 u32Len)
{
    return Uart_Send(__func__, pstUart, (const u8 *)pvData, u32Len, nullptr);
}

s32 MAIN_Uart_SendAll(UartAttr_S *pstUart, const void *pvData, u32 u32Len, MainThread_S *pstThread)
{
    return Uart_Send(__func__, pstUart, (const u8 *)pvData, u32Len, pstThread);
}

s32 MAIN_Uart_Write(UartAttr_S *pstUart, const void *pvData, u32 u32Len)
{
    s32 s32Fd;
    return Uart_WriteNow(__func__, pstUart, (const u8 *)pvData, u32Len, &s32Fd);
}

s32 MAIN_Uart_Read(UartAttr_S *pstUart, void *pvBuf, u32 u32Len)
{
    std::lock_guard<std::mutex> lock(s_UartMutex);
    return pstUart->s32Fd < 0 ? 0 : Uart_Move(__func__, pstUart->s32Fd, nullptr, pvBuf, u32Len);
}

s32 MAIN_Uart_Fd(UartAttr_S *pstUart)
{
    std::lock_guard<std::mutex> lock(s_UartMutex);
    return pstUart->s32Fd;
}

s32 MAIN_Uart_CheckOpen(UartAttr_S *pstUart)
{
    std::lock_guard<std::mutex> lock(s_UartMutex);
    return Uart_State(pstUart) < 0 ? -1 : 0;
}
