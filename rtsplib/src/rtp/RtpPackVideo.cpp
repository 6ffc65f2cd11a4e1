// H.264 (RFC 6184) and H.265 (RFC 7798) packing of one NAL unit: a unit
// shorter than the payload goes whole in one packet, a longer one in
// fragmentation units; the last packet of every unit has the marker.
#include "rtsplib/src/rtp/RtpPackerPriv.h"

#define H264_FU_A        28
#define H265_FU_HEAD0    0x62   // payload header of type 49, layer 0
#define H265_FU_HEAD1    0x01   // temporal id 1
#define FU_START         0x80
#define FU_END           0x40

// The NAL unit behind its start code, without trailing zero bytes; -1
// when there is no start code or nothing behind it.
static s32 Nal_Strip(const u8 *pu8Data, u32 u32Len, const u8 **ppu8Nal, u32 *pu32Nal)
{
    u32 u32Skip;
    if (u32Len >= 4 && pu8Data[0] == 0 && pu8Data[1] == 0 && pu8Data[2] == 0 && pu8Data[3] == 1)
        u32Skip = 4;
    else if (u32Len >= 3 && pu8Data[0] == 0 && pu8Data[1] == 0 && pu8Data[2] == 1)
        u32Skip = 3;
    else
        return -1;
    while (u32Len > u32Skip && pu8Data[u32Len - 1] == 0)
        u32Len--;
    if (u32Len == u32Skip)
        return -1;
    *ppu8Nal = pu8Data + u32Skip;
    *pu32Nal = u32Len - u32Skip;
    return 0;
}

// Fragments carry the NAL without its u32Head header bytes, behind a
// prefix of u8Prefix bytes whose last byte is the FU header.
static s32 Nal_Cut(RtpUnit_S *pstUnit, const u8 *pu8Nal, u32 u32Nal, u32 u32MaxPayload, u32 u32Head,
                   const u8 *pu8Fu, u8 u8Prefix, u8 u8Type)
{
    if (u32Nal < u32MaxPayload)
        return RtpUnit_Split(pstUnit, pu8Nal, u32Nal, u32Nal);
    if (u32Nal <= u32Head)
        return -1;
    u8 au8First[RTP_PREFIX_MAX], au8Middle[RTP_PREFIX_MAX], au8Last[RTP_PREFIX_MAX];
    for (u8 i = 0; i + 1 < u8Prefix; i++)
        au8First[i] = au8Middle[i] = au8Last[i] = pu8Fu[i];
    au8First[u8Prefix - 1] = (u8)(FU_START | u8Type);
    au8Middle[u8Prefix - 1] = u8Type;
    au8Last[u8Prefix - 1] = (u8)(FU_END | u8Type);
    RtpUnit_Prefix(pstUnit, u8Prefix, au8Middle, au8First, au8Middle, au8Last);
    return RtpUnit_Split(pstUnit, pu8Nal + u32Head, u32Nal - u32Head, u32MaxPayload - u8Prefix);
}

static s32 H264_Cut(const u8 *pu8Data, u32 u32Len, u32 u32MaxPayload, RtpUnit_S *pstUnit)
{
    const u8 *pu8Nal;
    u32 u32Nal;
    if (Nal_Strip(pu8Data, u32Len, &pu8Nal, &u32Nal) < 0)
        return -1;
    u8 u8Type = pu8Nal[0] & 0x1F;
    if (u8Type < 1 || u8Type > 23)
        return -1;
    u8 u8Indicator = (u8)((pu8Nal[0] & 0xE0) | H264_FU_A);
    return Nal_Cut(pstUnit, pu8Nal, u32Nal, u32MaxPayload, 1, &u8Indicator, 2, u8Type);
}

static s32 H265_Cut(const u8 *pu8Data, u32 u32Len, u32 u32MaxPayload, RtpUnit_S *pstUnit)
{
    static const u8 s_au8Head[2] = {H265_FU_HEAD0, H265_FU_HEAD1};
    const u8 *pu8Nal;
    u32 u32Nal;
    if (Nal_Strip(pu8Data, u32Len, &pu8Nal, &u32Nal) < 0 || u32Nal < 2)
        return -1;
    return Nal_Cut(pstUnit, pu8Nal, u32Nal, u32MaxPayload, 2, s_au8Head, 3, (u8)((pu8Nal[0] >> 1) & 0x3F));
}

RTP_PACKER_DEFINE(rtp_h264_packer, H264_Cut)
RTP_PACKER_DEFINE(rtp_h265_packer, H265_Cut)
