// A control-protocol datagram through the request test, the decoder and
// the dispatcher with a callback table that records its calls. An input
// that begins with '{' goes to the dispatcher as JSON text directly, so
// the fuzzer also reaches the handlers without learning base64.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "protocol/ProtocolDispatch.h"
#include "protocol/ProtocolMsg.h"
#include "tests/protocol/FakeBox.h"

// Slots that read every byte their arguments claim, so that a length the
// handlers let through beyond the bytes carried is an overflow.
static volatile u8 s_u8Sink;

static void Fuzz_Touch(const u8 *pu8, s32 s32Len)
{
    for (s32 i = 0; i < s32Len; i++)
        s_u8Sink = s_u8Sink ^ pu8[i];
}

static s32 Fuzz_GetStream(void *, ProtocolStreamInfo_S *pstInfo)
{
    pstInfo->s32Count = 2;
    return 0;
}

static s32 Fuzz_Firmware(void *, ProtocolFirmwareChunk_S *pstChunk)
{
    Fuzz_Touch(pstChunk->pu8Data, pstChunk->s32Length);
    return 0;
}

static s32 Fuzz_SetEdid(void *, const u8 *pu8Edid, s32 s32Len)
{
    Fuzz_Touch(pu8Edid, s32Len);
    return 0;
}

static s32 Fuzz_SetUserEdid(void *, const u8 *pu8Edid, s32 s32Len, s32)
{
    Fuzz_Touch(pu8Edid, s32Len);
    return 0;
}

static s32 Fuzz_Value(void *, s32)
{
    return 0;
}

static void Fuzz_Dispatch(ProtocolServer_S *pstServer, const char *pszText)
{
    char azReply[PROTOCOL_BUF_LEN] = {};
    ProtocolReplyTo_E enTo;
    s32 s32Ret = protocol_server_dispatch(pstServer, pszText, azReply, &enTo);
    // A reply is terminated, fits a datagram and has a destination.
    if (s32Ret > 0 && ((size_t)s32Ret != strlen(azReply) || s32Ret > PROTOCOL_TEXT_MAX ||
                       enTo == PROTOCOL_REPLY_NONE))
        __builtin_trap();
    char azOut[PROTOCOL_BUF_LEN];
    if (s32Ret > 0 && protocol_frame_encode(azReply, azOut, sizeof(azOut)) < 0)
        __builtin_trap();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    static FakeBox_S s_stBox;
    static ProtocolServer_S s_stServer{};
    if (s_stServer.pUser == nullptr) {
        ProtocolServerCallback_S stTable = FakeBox_Table();
        stTable.ongetStream = Fuzz_GetStream;
        stTable.onupdateFirmware = Fuzz_Firmware;
        stTable.onsetEdid = Fuzz_SetEdid;
        stTable.onsetUserEdid = Fuzz_SetUserEdid;
        stTable.onsetEdidIndex = Fuzz_Value;
        stTable.oncopyEdid = Fuzz_Value;
        protocol_server_attach(&s_stServer, stTable, &s_stBox);
    }
    s_stBox.calls.clear();

    if (size > 0 && pu8Data[0] == '{') {
        std::string text((const char *)pu8Data, size < PROTOCOL_TEXT_MAX ? size : PROTOCOL_TEXT_MAX);
        s_stServer.u32RequestLen = (u32)text.size();   // raw bytes after the text are read no further
        Fuzz_Dispatch(&s_stServer, text.c_str());
        return 0;
    }
    // As the server thread takes it: at most a buffer, no terminator.
    if (size >= PROTOCOL_BUF_LEN || !protocol_frame_is_request((const char *)pu8Data, (u32)size))
        return 0;
    char azText[PROTOCOL_BUF_LEN];
    if (protocol_frame_decode((const char *)pu8Data, (u32)size, azText, sizeof(azText),
                              &s_stServer.u32RequestLen) >= 0)
        Fuzz_Dispatch(&s_stServer, azText);
    return 0;
}
