// The four relays built on the Soip core.
#include <cstring>
#include <initializer_list>
#include <unistd.h>

#include "core/Debug.h"
#include "extension/Ir.h"
#include "extension/Soip.h"
#include "extension/Usb.h"

SoipServerAttr_S g_stUartServer;
static SoipServerAttr_S s_stGuestServer;
static SoipServerAttr_S s_stIrServer;
static SoipServerAttr_S s_stKvmServer;

static s32 *s_ps32KeyboardFd;                      // the KVM relay's gadgets
static s32 *s_ps32MouseFd;
static u8 s_au8KvmPending[USB_FRAME_HEAD + USB_REPORT_MAX + SOIP_BUF_LEN];

static bool Soip_GuestHoldsUart(void)
{
    return s_stGuestServer.s32ClientFd >= 0;
}

static s32 Soip_UartFd(SoipServerAttr_S *pstServer)
{
    return MAIN_Uart_Fd(pstServer->pstUart);
}

// Bytes a closed or failing port refuses are dropped (logged there): they
// could wait for good. A port closed for its reopen takes none yet: they
// wait, offered again each pass.
static u32 Soip_ToUart(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len)
{
    s32 s32Took = MAIN_Uart_Write(pstServer->pstUart, pu8Data, u32Len);
    return s32Took < 0 ? u32Len : (u32)s32Took;
}

// The relay gives the UART up while a guest holds it.
static s32 Soip_RelayUartFd(SoipServerAttr_S *pstServer)
{
    return Soip_GuestHoldsUart() ? -1 : Soip_UartFd(pstServer);
}

// While a guest holds the UART, the relay client's bytes wait (the client
// is not read meanwhile) and reach the port in order once the guest left.
static u32 Soip_RelayToUart(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len)
{
    return Soip_GuestHoldsUart() ? 0 : Soip_ToUart(pstServer, pu8Data, u32Len);
}

static void Soip_RelayFromUart(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len)
{
    if (pstServer->pfnUartData != nullptr)
        pstServer->pfnUartData(pu8Data, u32Len);
    Soip_SendClient(pstServer, pu8Data, u32Len);
}

static s32 Soip_GuestUartFd(SoipServerAttr_S *pstServer)
{
    return pstServer->s32ClientFd >= 0 ? Soip_UartFd(pstServer) : -1;
}

static u32 Soip_ToIr(SoipServerAttr_S *pstServer, const u8 *pu8Data, u32 u32Len)
{
    return MAIN_Ir_Queue(pu8Data, u32Len, &pstServer->stThread);
}

static u32 Soip_KvmFrame(SoipServerAttr_S *pstServer, const u8 *pu8Buf, u32 u32Len)
{
    (void)pstServer;
    UsbReport_S stReport;
    u32 u32Used = Usb_ParseFrame(pu8Buf, u32Len, &stReport);
    if (stReport.u8Dev != 0) {
        s32 s32Fd = stReport.u8Dev == USB_DEV_KEYBOARD ? *s_ps32KeyboardFd : *s_ps32MouseFd;
        (void)Usb_WriteReport(s32Fd, stReport.pu8Data, stReport.u8Len);   // logged there
    }
    return u32Used;
}

// The keyboard's output reports (LED states) go back to the client. A
// gadget has no wake-up of its own here: it is read once every pass.
static void Soip_KvmPass(SoipServerAttr_S *pstServer)
{
    u8 au8Frame[USB_FRAME_HEAD + USB_REPORT_MAX];
    if (pstServer->s32ClientFd < 0 || *s_ps32KeyboardFd < 0)
        return;
    ssize_t n = read(*s_ps32KeyboardFd, au8Frame + USB_FRAME_HEAD, USB_REPORT_MAX);
    if (n <= 0)
        return;
    au8Frame[0] = USB_DEV_KEYBOARD;
    au8Frame[1] = (u8)n;
    Soip_SendClient(pstServer, au8Frame, USB_FRAME_HEAD + (u32)n);
}

s32 MAIN_UartTcpServer_Start(UartAttr_S *pstUart, UartDataProc *pfnData, UartReopenProc *pfnReopen)
{
    SoipServerAttr_S *pst = &g_stUartServer;
    Soip_Init(pst, "MAIN_UartTcpServer_Start", SOIP_UART_PORT);
    pst->pfnDevFd = Soip_RelayUartFd;
    pst->pfnFromClient = Soip_RelayToUart;
    pst->pfnDevOutFd = Soip_RelayUartFd;
    pst->pfnFromDev = Soip_RelayFromUart;
    pst->pstUart = pstUart;
    pst->pfnUartData = pfnData;
    pst->pfnReopen = pfnReopen;
    return Soip_Start(pst);
}

s32 MAIN_UartGuestTcpServer_Start(UartAttr_S *pstUart)
{
    SoipServerAttr_S *pst = &s_stGuestServer;
    Soip_Init(pst, "MAIN_UartGuestTcpServer_Start", SOIP_GUEST_PORT);
    pst->pfnDevFd = Soip_GuestUartFd;
    pst->pfnFromClient = Soip_ToUart;
    pst->pfnDevOutFd = Soip_GuestUartFd;
    pst->bEofLeaves = true;   // its end gives the UART back to the relay at once
    pst->pstUart = pstUart;
    return Soip_Start(pst);
}

s32 MAIN_IrTcpServer_Start(UartAttr_S *pstUart2)
{
    SoipServerAttr_S *pst = &s_stIrServer;
    Soip_Init(pst, "MAIN_IrTcpServer_Start", SOIP_IR_PORT);
    pst->pfnDevFd = Soip_UartFd;
    pst->pfnFromClient = Soip_ToIr;
    pst->pstUart = pstUart2;
    return Soip_Start(pst);
}

s32 MAIN_KvmTcpServer_Start(s32 *ps32KeyboardFd, s32 *ps32MouseFd)
{
    SoipServerAttr_S *pst = &s_stKvmServer;
    s_ps32KeyboardFd = ps32KeyboardFd;
    s_ps32MouseFd = ps32MouseFd;
    Soip_Init(pst, "MAIN_KvmTcpServer_Start", SOIP_KVM_PORT);
    pst->pfnFrame = Soip_KvmFrame;
    pst->pu8Pending = s_au8KvmPending;
    pst->pfnPass = Soip_KvmPass;
    return Soip_Start(pst);
}

void MAIN_SoipServers_Stop(void)
{
    for (SoipServerAttr_S *pst : {&g_stUartServer, &s_stGuestServer, &s_stIrServer, &s_stKvmServer})
        Soip_Stop(pst);
}
