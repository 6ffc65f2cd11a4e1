// The snapshot request check and the reply builder on arbitrary bytes: the
// check reads only the datagram, and a reply is exactly as long as its
// header says, never past the buffer, its tail the file's.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "media/SnapServer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    if (size > SNAP_BUF_LEN)
        return 0;
    std::vector<char> req(pu8Data, pu8Data + size);   // unterminated, as received
    bool bReq = SnapServer_IsRequest(req.data(), (s32)size);
    if (bReq && size < sizeof(SNAP_REQUEST) - 1)
        __builtin_trap();

    u32 u32Cap = size > 0 ? size + pu8Data[0] * 4 : 0;
    std::vector<u8> reply(u32Cap);
    s32 s32Total = SnapServer_BuildReply(pu8Data, (u32)size, reply.data(), u32Cap);
    if (s32Total >= 0) {
        u32 u32Said = reply[8] | (u32)reply[9] << 8 | (u32)reply[10] << 16 | (u32)reply[11] << 24;
        if ((u32)s32Total != u32Said || (u32)s32Total > u32Cap || (u32)s32Total != size + 28 ||
            memcmp(reply.data() + SNAP_REPLY_HEAD + SNAP_ENC_HEAD_LEN, pu8Data + SNAP_HEAD_LEN,
                   size - SNAP_HEAD_LEN) != 0)
            __builtin_trap();
    }
    return 0;
}
