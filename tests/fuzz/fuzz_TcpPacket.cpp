// The typed-packet framing and the KVM report framing on arbitrary bytes:
// every step uses bytes, stays inside the buffer and frames what it says.
#include <cstddef>
#include <cstdint>

#include "extension/TcpServer.h"
#include "extension/Usb.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    const u8 *pu8 = pu8Data;
    u32 u32Left = (u32)size;
    TcpPacket_S stPacket;
    u32 u32Used;
    while ((u32Used = TcpServer_Parse(pu8, u32Left, &stPacket)) > 0) {
        if (u32Used > u32Left
            || (stPacket.bPacket && (pu8[0] != TCP_MARK || u32Used != TCP_HEAD_LEN + stPacket.u16Len)))
            __builtin_trap();
        pu8 += u32Used;
        u32Left -= u32Used;
    }
    pu8 = pu8Data;
    u32Left = (u32)size;
    UsbReport_S stReport;
    while ((u32Used = Usb_ParseFrame(pu8, u32Left, &stReport)) > 0) {
        if (u32Used > u32Left || (stReport.u8Dev != 0 && stReport.u8Len > USB_REPORT_MAX))
            __builtin_trap();
        pu8 += u32Used;
        u32Left -= u32Used;
    }
    return 0;
}
