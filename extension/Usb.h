// The USB HID gadgets of the KVM extension: keyboard "/dev/hidg0" and
// mouse "/dev/hidg1". Reports travel over the KVM relay framed as
//   device (USB_DEV_KEYBOARD or USB_DEV_MOUSE), length (1..USB_REPORT_MAX),
//   the report's bytes;
// the keyboard's output reports (its LEDs) go back to the client the same way.
#ifndef EXTENSION_USB_H
#define EXTENSION_USB_H

#include "core/Types.h"
#include "extension/Uart.h"

#define USB_KEYBOARD_DEV  "/dev/hidg0"
#define USB_MOUSE_DEV     "/dev/hidg1"
#define USB_DEV_KEYBOARD  1
#define USB_DEV_MOUSE     2
#define USB_REPORT_MAX    64
#define USB_FRAME_HEAD    2

struct UsbReport_S {
    u8 u8Dev;                      // USB_DEV_*, 0: bytes skipped, no report
    u8 u8Len;
    const u8 *pu8Data;             // inside the parsed buffer
};

// Opens both gadgets (non-blocking); 0, or -1 with both closed (logged).
s32 MAIN_Usb_Init(UsbAttr_S *pstUsb);
void MAIN_Usb_Close(UsbAttr_S *pstUsb);

// Frames one report at the start of pu8Buf. Returns the bytes used (a
// whole frame, or one byte that cannot start a frame, with u8Dev 0), or 0
// when the frame is not complete yet.
u32 Usb_ParseFrame(const u8 *pu8Buf, u32 u32Len, UsbReport_S *pstReport);
// Writes one report to a gadget in one write; 0, or -1 (logged).
s32 Usb_WriteReport(s32 s32Fd, const u8 *pu8Data, u32 u32Len);

#endif
