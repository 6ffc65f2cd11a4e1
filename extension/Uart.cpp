#include "extension/Uart.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include "core/Debug.h"

#define UART_WRITE_WAIT_MS 1000   // longest wait for room in the transmit buffer

// One sender at a time: the second UART carries the infrared relay and the
// display's frames, which must not interleave.
static std::mutex s_UartSendMutex;
static DebugLimit_S s_stSendLimit;   // relay clients send at will, to a closed or slow port too

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
    std::lock_guard<std::mutex> lock(s_UartSendMutex);
    pstUart->s32Fd = s32Fd;
    return 0;
}

// Under the send lock, so that no sender writes to a descriptor closed here
// and perhaps reused by another file.
void MAIN_Uart_Close(UartAttr_S *pstUart)
{
    std::lock_guard<std::mutex> lock(s_UartSendMutex);
    if (pstUart->s32Fd >= 0)
        close(pstUart->s32Fd);
    pstUart->s32Fd = -1;
}

s32 MAIN_Uart_Restart(UartAttr_S *pstUart)
{
    MAIN_Uart_Close(pstUart);
    usleep(500 * 1000);
    return MAIN_Uart_Init(pstUart);
}

s32 MAIN_Uart_SendData(UartAttr_S *pstUart, const void *pvData, u32 u32Len)
{
    const u8 *pu8 = (const u8 *)pvData;
    std::lock_guard<std::mutex> lock(s_UartSendMutex);
    s32 s32Fd = pstUart->s32Fd;

    if (s32Fd < 0) {
        Debug_LogLimited(&s_stSendLimit, "[%s]: Uart not open\n", log_Time());
        return -1;
    }
    while (u32Len > 0) {
        ssize_t n = write(s32Fd, pu8, u32Len);
        if (n > 0) {
            pu8 += n;
            u32Len -= (u32)n;
            continue;
        }
        struct pollfd stPoll = {s32Fd, POLLOUT, 0};
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN && poll(&stPoll, 1, UART_WRITE_WAIT_MS) > 0)
            continue;
        Debug_LogLimited(&s_stSendLimit, "[%s]: %s: write: %s\n", log_Time(), __func__,
                         n < 0 ? strerror(errno) : "timeout");
        return -1;
    }
    return 0;
}
