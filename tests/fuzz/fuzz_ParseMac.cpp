// parse_mac and the lease reader on arbitrary texts: a MAC accepted is one,
// and the text pointer never passes the text's end.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "extension/Rs232.h"
#include "net/Dhcp.h"
#include "net/NetIf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    std::string text((const char *)pu8Data, size);
    const char *psz = text.c_str();
    char azMac[RS232_MAC_BUF] = {};
    s32 s32Ret = parse_mac(&psz, azMac);
    if (psz > text.c_str() + strlen(text.c_str()) || strlen(azMac) > 17)
        __builtin_trap();
    if (s32Ret == 0 && !Mac_IsForm(azMac, "-,:"))
        __builtin_trap();
    DhcpLease_S stLease;
    if (Dhcpclient_ParseLease(text.c_str(), &stLease) == 0
        && (strlen(stLease.azIp) > 15 || strlen(stLease.azNetmask) > 15 || strlen(stLease.azGateway) > 15))
        __builtin_trap();
    return 0;
}
