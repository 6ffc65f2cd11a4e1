// Audio packing: AAC (RFC 3640, mode AAC-hbr), G.711, raw PCM in the
// "WAV" form with its 4-byte block header, and L16.
#include "rtsplib/src/rtp/RtpPackerPriv.h"

#define ADTS_HEADER_LEN  7
#define AAC_AU_SIZE_MAX  0x1FFF   // 13-bit AU size
#define PCM_BLOCK_MAX    0xFFFF   // 16-bit frame length
#define PCM_FLAG_ONLY    0x90
#define PCM_FLAG_FIRST   0x10
#define PCM_FLAG_MIDDLE  0x40
#define PCM_FLAG_LAST    0x80

static s32 Aac_Cut(const u8 *pu8Data, u32 u32Len, u32 u32MaxPayload, RtpUnit_S *pstUnit)
{
    // An ADTS header without CRC goes; one with CRC stays, as it always has.
    if (u32Len >= ADTS_HEADER_LEN && pu8Data[0] == 0xFF && (pu8Data[1] & 0x01)) {
        pu8Data += ADTS_HEADER_LEN;
        u32Len -= ADTS_HEADER_LEN;
    }
    if (u32Len > AAC_AU_SIZE_MAX)
        return -1;
    // 16 bits of AU headers; one header: 13-bit size, 3-bit index 0.
    const u8 au8Head[4] = {0x00, 0x10, (u8)(u32Len >> 5), (u8)((u32Len << 3) & 0xFF)};
    RtpUnit_Prefix(pstUnit, 4, au8Head, au8Head, au8Head, au8Head);
    u32 u32Chunk = u32MaxPayload - 4;
    return RtpUnit_Split(pstUnit, pu8Data, u32Len, u32Len < u32Chunk ? u32Len : u32Chunk);
}

static s32 G711_Cut(const u8 *pu8Data, u32 u32Len, u32 u32MaxPayload, RtpUnit_S *pstUnit)
{
    if (u32Len > u32MaxPayload)
        return -1;
    return RtpUnit_Split(pstUnit, pu8Data, u32Len, u32Len);
}

static s32 Pcm_Cut(const u8 *pu8Data, u32 u32Len, u32 u32MaxPayload, RtpUnit_S *pstUnit)
{
    if (u32Len > PCM_BLOCK_MAX)
        return -1;
    u8 u8Hi = (u8)(u32Len >> 8), u8Lo = (u8)u32Len;
    const u8 au8Only[4] = {0x00, PCM_FLAG_ONLY, u8Hi, u8Lo};
    const u8 au8First[4] = {0x00, PCM_FLAG_FIRST, u8Hi, u8Lo};
    const u8 au8Middle[4] = {0x00, PCM_FLAG_MIDDLE, u8Hi, u8Lo};
    const u8 au8Last[4] = {0x00, PCM_FLAG_LAST, u8Hi, u8Lo};
    RtpUnit_Prefix(pstUnit, 4, au8Only, au8First, au8Middle, au8Last);
    pstUnit->bMarkerEach = true;
    u32 u32Chunk = u32MaxPayload - 4;
    return RtpUnit_Split(pstUnit, pu8Data, u32Len, u32Len < u32Chunk ? u32Len : u32Chunk);
}

static s32 L16_Cut(const u8 *pu8Data, u32 u32Len, u32 u32MaxPayload, RtpUnit_S *pstUnit)
{
    return RtpUnit_Split(pstUnit, pu8Data, u32Len, u32Len < u32MaxPayload ? u32Len : u32MaxPayload);
}

RTP_PACKER_DEFINE(rtp_aac_packer, Aac_Cut)
RTP_PACKER_DEFINE(rtp_g711_packer, G711_Cut)
RTP_PACKER_DEFINE(rtp_pcm_packer, Pcm_Cut)
RTP_PACKER_DEFINE(rtp_l16_packer, L16_Cut)
