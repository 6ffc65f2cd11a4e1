#include "extension/Usb.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <unistd.h>

#include "core/Debug.h"

static DebugLimit_S s_stReportLimit;   // the KVM client sends reports at will

static s32 Usb_Open(const char *pszDev)
{
    s32 s32Fd = open(pszDev, O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (s32Fd < 0)
        Debug_Log("[%s]: %s: open %s: %s\n", log_Time(), __func__, pszDev, strerror(errno));
    return s32Fd;
}

s32 MAIN_Usb_Init(UsbAttr_S *pstUsb)
{
    MAIN_Usb_Close(pstUsb);
    pstUsb->s32KeyboardFd = Usb_Open(USB_KEYBOARD_DEV);
    pstUsb->s32MouseFd = Usb_Open(USB_MOUSE_DEV);
    if (pstUsb->s32KeyboardFd < 0 || pstUsb->s32MouseFd < 0) {
        MAIN_Usb_Close(pstUsb);
        return -1;
    }
    return 0;
}

void MAIN_Usb_Close(UsbAttr_S *pstUsb)
{
    for (s32 *ps32Fd : {&pstUsb->s32KeyboardFd, &pstUsb->s32MouseFd}) {
        if (*ps32Fd >= 0)
            close(*ps32Fd);
        *ps32Fd = -1;
    }
}

u32 Usb_ParseFrame(const u8 *pu8Buf, u32 u32Len, UsbReport_S *pstReport)
{
    memset(pstReport, 0, sizeof(*pstReport));
    if (u32Len == 0)
        return 0;
    bool bDev = pu8Buf[0] == USB_DEV_KEYBOARD || pu8Buf[0] == USB_DEV_MOUSE;
    if (!bDev || (u32Len > 1 && (pu8Buf[1] == 0 || pu8Buf[1] > USB_REPORT_MAX)))
        return 1;
    if (u32Len < USB_FRAME_HEAD || u32Len < (u32)USB_FRAME_HEAD + pu8Buf[1])
        return 0;
    pstReport->u8Dev = pu8Buf[0];
    pstReport->u8Len = pu8Buf[1];
    pstReport->pu8Data = pu8Buf + USB_FRAME_HEAD;
    return USB_FRAME_HEAD + pu8Buf[1];
}

s32 Usb_WriteReport(s32 s32Fd, const u8 *pu8Data, u32 u32Len)
{
    if (s32Fd < 0) {
        Debug_LogLimited(&s_stReportLimit, "[%s]: %s: gadget not open\n", log_Time(), __func__);
        return -1;
    }
    ssize_t n = write(s32Fd, pu8Data, u32Len);
    if (n != (ssize_t)u32Len) {
        Debug_LogLimited(&s_stReportLimit, "[%s]: %s: write: %s\n", log_Time(), __func__,
                         n < 0 ? strerror(errno) : "short");
        return -1;
    }
    return 0;
}
