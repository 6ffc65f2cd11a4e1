// TCP relays between one client and a device (serial over IP): a listener,
// one client at a time (a new client replaces the one before, so a client
// that vanished without a word never locks the port), and a thread that
// moves bytes both ways. A client whose end of sending has come is read
// to its end into the device before a new client is accepted (the new
// one waits in the listen queue), unless the device takes none of its
// bytes for SOIP_STALL_MS; the bytes it still had unread are dropped then,
// as those of a live client that is replaced, counted in the log line.
// Each client's life is logged whole (its end line goes with its
// "client connected" line) or, in a flood, not at all. A client that shuts
// its sending side still gets the device's bytes until it closes or is
// replaced, unless the relay takes that for its leaving. What the device
// is comes from the hooks.
// No byte is dropped for want of room: while the device cannot take the
// client's bytes, the client is not read (TCP holds the sender back); while
// the client has SOIP_OUT_LEN bytes of the device not taken, the device is
// not read. A client that takes none of them for SOIP_STALL_MS is dropped,
// so that one stalled client does not hold the device for good. A client
// whose host is gone without a word (power or cable lost) is dropped once
// it answers neither keep-alive probes nor data for SOIP_USER_TIMEOUT_MS.
#ifndef EXTENSION_SOIP_H
#define EXTENSION_SOIP_H

#include <atomic>

#include "core/Debug.h"
#include "core/Thread.h"
#include "core/Types.h"
#include "extension/Uart.h"

#define SOIP_UART_PORT   7888
#define SOIP_IR_PORT     7889
#define SOIP_KVM_PORT    7890
#define SOIP_GUEST_PORT  6752
#define SOIP_BUF_LEN     4096
#define SOIP_OUT_LEN     65536  // device bytes a client has not taken yet
#define SOIP_STALL_MS    5000   // a client that takes none of them for this long is dropped
#define SOIP_PASS_MS     100    // longest wait of one pass
#define SOIP_ACCEPT_PAUSE_MS 1000   // no accepting for this long once descriptors ran out
#define SOIP_KEEPIDLE_S  10     // a silent client is probed after this long
#define SOIP_KEEPINTVL_S 5      // between probes
#define SOIP_KEEPCNT     3      // probes unanswered before it is dropped, where no user time-out rules
#define SOIP_USER_TIMEOUT_MS 30000  // data or probes unanswered this long drop it

struct SoipServerAttr_S;

struct SoipSockOpt_S {
    s32 s32Level;
    s32 s32Name;
    s32 s32Value;
};
// Set on every client: keep-alive, user time-out (see above), no delay.
extern const SoipSockOpt_S g_astSoipClientOpts[];
extern const u32 g_u32SoipClientOpts;   // its entries

// Descriptor to wait on for device bytes this pass, -1 for none; the
// device is pstUart, read with MAIN_Uart_Read.
typedef s32 SoipDevFdProc(SoipServerAttr_S *pstServer);
// Bytes read from the device.
typedef void SoipDataProc(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len);
// Bytes of the client for the device: returns those it took, 0 while it
// has no room (they are offered again); bytes it refused for good count as
// taken (logged there).
typedef u32 SoipToDevProc(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len);
// Work done once every pass.
typedef void SoipPassProc(SoipServerAttr_S *pstServer);
// Serves the frame at the start of pu8Buf; returns the bytes it used, 0
// while the frame is incomplete.
typedef u32 SoipFrameProc(SoipServerAttr_S *pstServer, const u8 *pu8Buf, u32 u32Len);
// The client (u32Clients names it) sends nothing more: it shut its sending
// side, or it was dropped or replaced. May come twice for one client.
typedef void SoipClientDoneProc(SoipServerAttr_S *pstServer);
// True when the client must not be replaced now: a new one is turned away.
typedef bool SoipKeepClientProc(SoipServerAttr_S *pstServer);

typedef void UartDataProc(const u8 *pu8Data, u32 u32Len);
typedef s32 UartReopenProc(UartAttr_S *pstUart);

struct SoipServerAttr_S {
    const char *pszName;             // for the log
    u16 u16Port;
    MainThread_S stThread;           // the relay's one thread
    std::atomic<s32> bReopen;        // 1: reopen the device before the next pass
    std::atomic<s32> s32ClientFd{-1};   // -1 while no client, also before the start
    u32 u32Clients;                  // clients accepted so far: a change means a new client
    bool bClientEof;                 // the client shut its sending side
    bool bClientRdHup;               // its end of sending was seen, perhaps not yet read
    bool bClientLogged;              // its "client connected" was logged: its end is too
    s64 s64ToDevMs;                  // monotonic ms the device last took its bytes, or its end was seen
    bool bEofLeaves;                 // a client that ends its sending has left
    s32 s32ListenFd;
    s64 s64AcceptAtMs;               // monotonic ms from which accepting goes on
    DebugLimit_S stLogLimit;         // messages that clients cause
    SoipDevFdProc *pfnDevFd;         // null: no device to read
    SoipToDevProc *pfnFromClient;    // null: client bytes go to pfnFrame
    SoipDevFdProc *pfnDevOutFd;      // POLLOUT there: room for held client bytes;
                                     // null: the device wakes the thread
    SoipDataProc *pfnFromDev;        // null: device bytes go to the client
    SoipPassProc *pfnPass;           // may be null
    SoipFrameProc *pfnFrame;
    SoipClientDoneProc *pfnClientDone;   // may be null
    SoipKeepClientProc *pfnKeepClient;   // may be null: a new client always replaces
    u8 *pu8Pending;                  // pfnFrame's buffer: a frame and SOIP_BUF_LEN more
    u32 u32Pending;                  // bytes in it
    u32 u32PendingClient;            // u32Clients when they came
    UartAttr_S *pstUart;             // the relayed UART, if any
    UartDataProc *pfnUartData;       // UART bytes for the program itself, may be null
    UartReopenProc *pfnReopen;       // with pstUart: how bReopen is served
    u8 au8Held[SOIP_BUF_LEN];        // client bytes the device has not taken yet
    u32 u32HeldOff;                  // the first of them
    u32 u32HeldLen;
    u8 au8Out[SOIP_OUT_LEN];         // device bytes the client has not taken yet
    u32 u32OutOff;                   // the first of them
    u32 u32OutLen;
    s64 s64OutMs;                    // monotonic ms the client last took some of them
};

extern SoipServerAttr_S g_stUartServer;   // its bReopen is set by the serial settings

// Names the relay and its port and clears every hook and buffer.
void Soip_Init(SoipServerAttr_S *pstServer, const char *pszName, u16 u16Port);
// Binds the port and starts the thread; 0, -1 (bind, logged) or the
// thread-creation error. The listener's accept pauses SOIP_ACCEPT_PAUSE_MS
// whenever descriptors run out, instead of spinning on the pending client.
s32 Soip_Start(SoipServerAttr_S *pstServer);
void Soip_Stop(SoipServerAttr_S *pstServer);
// Queues the bytes for the client and sends what it takes now; a client
// with no room for them in its queue is dropped. Nothing without a client.
void Soip_SendClient(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len);
// Sets each option on the socket on its own, so that one the system
// refuses (an older kernel may lack TCP_USER_TIMEOUT) leaves the others
// set; each refusal is one line of the relay's rate-limited log. Returns
// the number refused.
u32 Soip_SetOpts(SoipServerAttr_S *pstServer, s32 s32Fd, const SoipSockOpt_S *pastOpts, u32 u32Count);

// The relays: UART on 7888, the guest UART server on 6752 (its client takes
// the UART over from the relay), infrared on 7889 (the second UART; bytes
// to it go through the infrared send queue), KVM on 7890 (the HID gadgets).
s32 MAIN_UartTcpServer_Start(UartAttr_S *pstUart, UartDataProc *pfnData, UartReopenProc *pfnReopen);
s32 MAIN_UartGuestTcpServer_Start(UartAttr_S *pstUart);
s32 MAIN_IrTcpServer_Start(UartAttr_S *pstUart2);
s32 MAIN_KvmTcpServer_Start(s32 *ps32KeyboardFd, s32 *ps32MouseFd);
void MAIN_SoipServers_Stop(void);

#endif
