#include "rtsplib/src/rtp/RtpPacker.h"

#include <cstring>
#include <new>

#include "rtsplib/src/rtp/RtpPackerPriv.h"

u32 rtp_time(u64 u64TimeUs, u32 u32Clock)
{
    // Split so that the product cannot overflow for any clock below 2^32.
    u64 u64Sec = u64TimeUs / 1000000, u64Frac = u64TimeUs % 1000000;
    return (u32)(u64Sec * u32Clock + u64Frac * u32Clock / 1000000);
}

s32 rtp_unit_cut(const RtpPackerFunc_S *pstFunc, const void *pvData, u32 u32Len, u32 u32MaxPayload,
                 u64 u64TimeUs, RtpUnit_S *pstUnit)
{
    if (pvData == nullptr || u32MaxPayload < RTP_PAYLOAD_MIN || u32MaxPayload > RTP_PAYLOAD_MAX)
        return -1;
    memset(pstUnit, 0, sizeof(*pstUnit));
    if (pstFunc->pfnCut((const u8 *)pvData, u32Len, u32MaxPayload, pstUnit) < 0)
        return -1;
    pstUnit->pstFunc = pstFunc;
    pstUnit->u32MaxPayload = u32MaxPayload;
    pstUnit->u64TimeUs = u64TimeUs;
    pstUnit->pu8Unit = (const u8 *)pvData;
    pstUnit->u32UnitLen = u32Len;
    return 0;
}

u32 rtp_unit_piece(const RtpUnit_S *pstUnit, u32 u32Index, const u8 **ppu8Data)
{
    u32 u32Off = u32Index * pstUnit->u32Chunk;
    u32 u32Left = pstUnit->u32Len - u32Off;
    *ppu8Data = pstUnit->pu8Data + u32Off;
    return u32Left < pstUnit->u32Chunk ? u32Left : pstUnit->u32Chunk;
}

u64 rtp_unit_bytes(const RtpUnit_S *pstUnit)
{
    return (u64)pstUnit->u32Num * (RTP_HEADER_SIZE + pstUnit->u8PrefixLen) + pstUnit->u32Len;
}

s32 RtpUnit_Split(RtpUnit_S *pstUnit, const u8 *pu8Data, u32 u32Len, u32 u32Chunk)
{
    if (u32Len == 0 || u32Chunk == 0)
        return -1;
    u32 u32Num = u32Len / u32Chunk + (u32Len % u32Chunk ? 1 : 0);
    if (u32Num > RTP_PIECES_MAX)
        return -1;
    pstUnit->pu8Data = pu8Data;
    pstUnit->u32Len = u32Len;
    pstUnit->u32Chunk = u32Chunk;
    pstUnit->u32Num = u32Num;
    return 0;
}

void RtpUnit_Prefix(RtpUnit_S *pstUnit, u8 u8Len, const u8 *pu8Single, const u8 *pu8First, const u8 *pu8Middle,
                    const u8 *pu8Last)
{
    pstUnit->u8PrefixLen = u8Len;
    memcpy(pstUnit->aau8Prefix[RTP_PIECE_SINGLE], pu8Single, u8Len);
    memcpy(pstUnit->aau8Prefix[RTP_PIECE_FIRST], pu8First, u8Len);
    memcpy(pstUnit->aau8Prefix[RTP_PIECE_MIDDLE], pu8Middle, u8Len);
    memcpy(pstUnit->aau8Prefix[RTP_PIECE_LAST], pu8Last, u8Len);
}

static RtpPiece_E RtpUnit_Kind(const RtpUnit_S *pstUnit, u32 u32Index)
{
    if (pstUnit->u32Num == 1)
        return RTP_PIECE_SINGLE;
    if (u32Index == 0)
        return RTP_PIECE_FIRST;
    return u32Index + 1 == pstUnit->u32Num ? RTP_PIECE_LAST : RTP_PIECE_MIDDLE;
}

static void RtpPacker_PutHead(RtpPacker_S *pstPacker, const RtpUnit_S *pstUnit, u32 u32Index, u8 *pu8)
{
    bool bMarker = pstUnit->bMarkerEach || u32Index + 1 == pstUnit->u32Num;
    u16 u16Seq = pstPacker->u16Seq++;
    u32 u32Time = pstPacker->u32Time, u32Ssrc = pstPacker->u32Ssrc;
    pu8[0] = 0x80;   // version 2, no padding, extension or CSRC
    pu8[1] = (u8)((bMarker ? 0x80 : 0) | (pstPacker->u8PayloadType & 0x7F));
    pu8[2] = (u8)(u16Seq >> 8);
    pu8[3] = (u8)u16Seq;
    pu8[4] = (u8)(u32Time >> 24);
    pu8[5] = (u8)(u32Time >> 16);
    pu8[6] = (u8)(u32Time >> 8);
    pu8[7] = (u8)u32Time;
    pu8[8] = (u8)(u32Ssrc >> 24);
    pu8[9] = (u8)(u32Ssrc >> 16);
    pu8[10] = (u8)(u32Ssrc >> 8);
    pu8[11] = (u8)u32Ssrc;
    memcpy(pu8 + RTP_HEADER_SIZE, pstUnit->aau8Prefix[RtpUnit_Kind(pstUnit, u32Index)], pstUnit->u8PrefixLen);
}

u32 rtp_packer_heads(RtpPacker_S *pstPacker, const RtpUnit_S *pstUnit, u32 u32First, u32 u32Count, u8 *pu8Out)
{
    pstPacker->u32Time = rtp_time(pstUnit->u64TimeUs, pstPacker->u32Clock);
    for (u32 i = 0; i < u32Count; i++)
        RtpPacker_PutHead(pstPacker, pstUnit, u32First + i, pu8Out + i * RTP_HEAD_MAX);
    return RTP_HEADER_SIZE + pstUnit->u8PrefixLen;
}

s32 rtp_packer_emit(RtpPacker_S *pstPacker, const RtpUnit_S *pstUnit)
{
    pstPacker->u32Time = rtp_time(pstUnit->u64TimeUs, pstPacker->u32Clock);
    u32 u32Head = RTP_HEADER_SIZE + pstUnit->u8PrefixLen;
    for (u32 i = 0; i < pstUnit->u32Num; i++) {
        const u8 *pu8Data;
        u32 u32Len = rtp_unit_piece(pstUnit, i, &pu8Data);
        u8 *pu8 = (u8 *)pstPacker->stCallback.pfnAlloc(pstPacker->pvParam, u32Head + u32Len);
        if (pu8 == nullptr)
            return 12;
        RtpPacker_PutHead(pstPacker, pstUnit, i, pu8);
        memcpy(pu8 + u32Head, pu8Data, u32Len);
        // A packet that did not go out is the source's to report; the
        // rest of the unit still goes, as a receiver can use it.
        (void)pstPacker->stCallback.pfnPacket(pstPacker->pvParam, pu8, u32Head + u32Len, pstPacker->u32Time);
        pstPacker->stCallback.pfnFree(pstPacker->pvParam, pu8);
    }
    return 0;
}

RtpPacker_S *RtpPacker_Create(const RtpPackerFunc_S *pstFunc, u32 u32Ssrc, u16 u16Seq, u8 u8PayloadType,
                              u32 u32Clock, const RtpPackerCallback_S *pstCallback, void *pvParam)
{
    if (u32Clock == 0 || pstCallback == nullptr)
        return nullptr;
    RtpPacker_S *pstPacker = new (std::nothrow) RtpPacker_S();
    if (pstPacker == nullptr)
        return nullptr;
    pstPacker->pstFunc = pstFunc;
    pstPacker->stCallback = *pstCallback;
    pstPacker->pvParam = pvParam;
    pstPacker->u32MaxPayload = RTP_PAYLOAD_DEFAULT;
    pstPacker->u32Ssrc = u32Ssrc;
    pstPacker->u16Seq = u16Seq;
    pstPacker->u8PayloadType = u8PayloadType;
    pstPacker->u32Clock = u32Clock;
    return pstPacker;
}

void RtpPacker_Destroy(RtpPacker_S *pstPacker)
{
    delete pstPacker;
}

void RtpPacker_GetInfo(const RtpPacker_S *pstPacker, u16 *pu16Seq, u32 *pu32Time)
{
    *pu16Seq = pstPacker->u16Seq;
    *pu32Time = pstPacker->u32Time;
}

s32 RtpPacker_SetSize(RtpPacker_S *pstPacker, u32 u32Bytes)
{
    if (u32Bytes < RTP_PAYLOAD_MIN || u32Bytes > RTP_PAYLOAD_MAX)
        return -1;
    pstPacker->u32MaxPayload = u32Bytes;
    return 0;
}

s32 RtpPacker_Input(RtpPacker_S *pstPacker, const void *pvData, u32 u32Len, u64 u64TimeUs)
{
    RtpUnit_S stUnit;
    if (rtp_unit_cut(pstPacker->pstFunc, pvData, u32Len, pstPacker->u32MaxPayload, u64TimeUs, &stUnit) < 0)
        return -1;
    return rtp_packer_emit(pstPacker, &stUnit);
}

const RtpPackerFunc_S *rtp_video_packer(u8 u8PayloadType)
{
    if (u8PayloadType == RTP_PT_H264)
        return rtp_h264_packer();
    if (u8PayloadType == RTP_PT_H265)
        return rtp_h265_packer();
    return nullptr;
}

const RtpPackerFunc_S *rtp_audio_packer(u8 u8PayloadType)
{
    switch (u8PayloadType) {
    case RTP_PT_PCMU:
    case RTP_PT_PCMA:
        return rtp_g711_packer();
    case RTP_PT_AAC:
        return rtp_aac_packer();
    case RTP_PT_PCM:
        return rtp_pcm_packer();
    case RTP_PT_L16:
        return rtp_l16_packer();
    default:
        return nullptr;
    }
}
