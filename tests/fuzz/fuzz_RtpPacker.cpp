// Feeds every packer arbitrary units at payload sizes chosen by the input,
// checking that no packet outgrows its size and that the packets carry
// no more than the unit.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "rtsplib/src/rtp/RtpPacker.h"

struct FuzzSink {
    u8 au8Buf[RTP_HEADER_SIZE + RTP_PAYLOAD_MAX];
    u32 u32Max;
    size_t payload;
};

static void *Fuzz_Alloc(void *pv, u32 u32Bytes)
{
    FuzzSink *p = (FuzzSink *)pv;
    return u32Bytes <= sizeof(p->au8Buf) ? p->au8Buf : nullptr;
}

static void Fuzz_Free(void *, void *) {}

static s32 Fuzz_Packet(void *pv, const void *, u32 u32Bytes, u32)
{
    FuzzSink *p = (FuzzSink *)pv;
    if (u32Bytes < RTP_HEADER_SIZE || u32Bytes > RTP_HEADER_SIZE + p->u32Max)
        abort();
    p->payload += u32Bytes - RTP_HEADER_SIZE;
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    static const RtpPackerCallback_S s_stCallback = {Fuzz_Alloc, Fuzz_Free, Fuzz_Packet};
    static const u8 s_au8Pt[] = {96, 98, 97, 0, 108, 22};
    if (size < 2)
        return 0;
    u8 u8Pt = s_au8Pt[pu8Data[0] % sizeof(s_au8Pt)];
    const RtpPackerFunc_S *pstFunc = u8Pt == 96 || u8Pt == 98 ? rtp_video_packer(u8Pt) : rtp_audio_packer(u8Pt);
    FuzzSink stSink;
    stSink.u32Max = RTP_PAYLOAD_MIN + pu8Data[1] * 6;
    stSink.payload = 0;
    // The unit in a buffer of its own size, so that a read past it shows.
    std::vector<u8> vecUnit(pu8Data + 2, pu8Data + size);
    RtpPacker_S *pstPacker = pstFunc->pfnCreate(1, 2, u8Pt, 90000, &s_stCallback, &stSink);
    if (pstFunc->pfnSetSize(pstPacker, stSink.u32Max) == 0 &&
        pstFunc->pfnInput(pstPacker, vecUnit.data(), (u32)vecUnit.size(), size * 1000) == 0 &&
        stSink.payload > vecUnit.size() + 4 * (vecUnit.size() / 12 + 1))
        abort();
    pstFunc->pfnDestroy(pstPacker);
    return 0;
}
