// The board's UARTs "/dev/ttyS%d" and the attribute records of the serial,
// infrared and USB devices.
#ifndef EXTENSION_UART_H
#define EXTENSION_UART_H

#include "core/Types.h"

#define UART_BAUD_COUNT 15

struct MainThread_S;

struct UartSetAttr_S {
    u32 u32BaudIdx;      // 0..14: 300 ... 921600, see MAIN_Uart_Baud
    u32 u32Databits;     // 5..8
    u32 u32Parity;       // 0 none, 1 odd, 2 even
    u32 u32StopBits;     // 0 one stop bit, 2 two
};

struct UartAttr_S {
    s32 s32Fd;           // -1 while closed; under the UART lock once a relay or sender runs
    u32 u32Port;         // n of "/dev/ttyS%d"
    UartSetAttr_S stSetAttr;
    bool bReopening;     // closed for a reopen: its senders wait (under the UART lock)
};

struct IrAttr_S {
    u32 u32Gpio;         // line that drives the infrared emitter
};

struct UsbAttr_S {
    s32 s32KeyboardFd;   // "/dev/hidg0", -1 while closed
    s32 s32MouseFd;      // "/dev/hidg1", -1 while closed
};

struct HalAttr_S {
    UartAttr_S stUart;   // the RS-232 port
    UartAttr_S stUart2;  // second UART: infrared and the front-panel display
    IrAttr_S   stIr;
    UsbAttr_S  stUsb;
};

// The attributes at start-up: the UART's from the stored serial settings
// (what it cannot do falls back to 115200 8N1 piece by piece), the second
// UART at 57600 8N1, the infrared line. Descriptors are left as they are.
s32 MAIN_Hal_DefConifg(HalAttr_S *pstHal);

// Baud rate of a baud index, 0 for an index out of range.
u32 MAIN_Uart_Baud(u32 u32BaudIdx);
// Baud index of a baud rate, -1 for a rate not in the table.
s32 MAIN_Uart_BaudIndex(u32 u32Baud);

// Opens "/dev/ttyS<u32Port>" raw and non-blocking with the record's
// attributes; 0, or -1 (logged) with the port closed.
s32 MAIN_Uart_Init(UartAttr_S *pstUart);
// Takes the descriptor out under the UART lock and closes it after, so
// that a close waiting for the port's output holds up no other writer.
void MAIN_Uart_Close(UartAttr_S *pstUart);

// Close, 500 ms pause, open with the current attributes; 0, or -1 with
// the port closed. Meanwhile nothing sent to the port is lost: the
// senders below wait for the reopen's end, MAIN_Uart_Write takes nothing.
s32 MAIN_Uart_Restart(UartAttr_S *pstUart);

// Writes all bytes, waiting for room as long as a working port at its rate
// needs, for a reopen that much longer than its pause; 0, or -1 ("Uart not
// open", a port that took nothing for that long, or the write's failure).
// The waiting senders of one port take turns, so that their frames do not
// interleave; a wait holds up no other port and no MAIN_Uart_Write.
s32 MAIN_Uart_SendData(UartAttr_S *pstUart, const void *pvData, u32 u32Len);
// MAIN_Uart_SendData for a sender thread that waits for room, a reopen and
// its turn as long as it takes, until pstThread is stopped; 0, or -1
// ("Uart not open", the write's failure, or the stop). The thread's
// pfnWake must call MAIN_Uart_WakeSenders, so that its stop ends the wait.
s32 MAIN_Uart_SendAll(UartAttr_S *pstUart, const void *pvData, u32 u32Len, MainThread_S *pstThread);
// Makes the waiting sender threads look at their run flags.
void MAIN_Uart_WakeSenders(void);
// Writes what the port takes now, without waiting: the bytes written (0
// when it has no room, or while it is closed for a reopen), or -1 ("Uart
// not open", or the write's failure). A writer that got less waits for
// POLLOUT on the port, or a while when it is closed.
s32 MAIN_Uart_Write(UartAttr_S *pstUart, const void *pvData, u32 u32Len);
// Reads what the port has now, without waiting, under the UART lock (so
// never from a descriptor closed meanwhile and reused by another file):
// the bytes read (0 when none, or while the port is closed), or -1 (the
// read's failure, logged).
s32 MAIN_Uart_Read(UartAttr_S *pstUart, void *pvBuf, u32 u32Len);
// The port's descriptor of the moment, -1 while closed: only to wait on,
// for reads and writes go through the calls above.
s32 MAIN_Uart_Fd(UartAttr_S *pstUart);
// 0 while the port is open or closed for a reopen, else -1 ("Uart not
// open" logged): for a caller that queues bytes for it.
s32 MAIN_Uart_CheckOpen(UartAttr_S *pstUart);

#endif
