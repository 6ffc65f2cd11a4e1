#include <cstdio>
#include <cstring>

#include "core/Debug.h"
#include "rtsplib/src/rtsp/MediaSourcePriv.h"

#define H264_NAL_SPS  7
#define H265_NAL_VPS  32
#define H265_NAL_SPS  33

static void MediaPart_OnRtcp(void *pvParam, const RtcpMsg_S *pstMsg)
{
    (void)pvParam;   // the sources read no RTCP
    (void)pstMsg;
}

s32 MediaPart_Create(MediaPart_S *pstPart, bool bVideo, u8 u8PayloadType, u32 u32Clock, u32 u32MaxPayload,
                     const char *pszKind, const RtpPackerCallback_S *pstCallback, void *pvParam)
{
    static const RtpEventHandler_S s_stHandler = {MediaPart_OnRtcp};
    static DebugLimit_S s_stLimit;   // out of memory, each SETUP meanwhile
    if (pstPart->bCreated)
        return 1;
    const RtpPackerFunc_S *pstFunc = bVideo ? rtp_video_packer(u8PayloadType) : rtp_audio_packer(u8PayloadType);
    if (pstFunc == nullptr) {
        if (bVideo)
            Debug_Log("[%s]: Not supported video payload type!\n", log_Time());
        else
            Debug_Log("[%s]: %s: audio payload type %u has no packer\n", log_Time(), __func__, u8PayloadType);
        return -1;
    }
    u32 u32Ssrc = rtp_ssrc();
    pstPart->pstPacker = pstFunc->pfnCreate(u32Ssrc, (u16)u32Ssrc, u8PayloadType, u32Clock, pstCallback, pvParam);
    if (pstPart->pstPacker == nullptr || pstFunc->pfnSetSize(pstPart->pstPacker, u32MaxPayload) < 0) {
        Debug_LogLimited(&s_stLimit, "[%s]: create %s err!\n", log_Time(), bVideo ? "video" : "audio");
        MediaPart_Destroy(pstPart);
        return -1;
    }
    if (bVideo) {
        char azName[16];
        snprintf(azName, sizeof(azName), "%s_%s_V", u8PayloadType == RTP_PT_H264 ? "H264" : "H265", pszKind);
        pstPart->pstRtp = rtp_create(&s_stHandler, pvParam, u32Ssrc, MEDIA_VIDEO_CLOCK, MEDIA_RTP_BANDWIDTH);
        if (pstPart->pstRtp == nullptr || rtp_set_info(pstPart->pstRtp, MEDIA_RTP_CNAME, azName) < 0) {
            Debug_LogLimited(&s_stLimit, "[%s]: create video err!\n", log_Time());
            MediaPart_Destroy(pstPart);
            return -1;
        }
    }
    pstPart->bVideo = bVideo;
    pstPart->bCreated = true;
    return 0;
}

void MediaPart_Destroy(MediaPart_S *pstPart)
{
    if (pstPart->pstPacker)
        pstPart->pstPacker->pstFunc->pfnDestroy(pstPart->pstPacker);
    if (pstPart->pstRtp)
        rtp_destroy(pstPart->pstRtp);
    pstPart->pstPacker = nullptr;
    pstPart->pstRtp = nullptr;
    pstPart->bCreated = false;
}

s32 MediaPart_RtpInfo(const MediaPart_S *pstPart, u16 *pu16Seq, u32 *pu32Time)
{
    if (!pstPart->bCreated)
        return -1;
    pstPart->pstPacker->pstFunc->pfnGetInfo(pstPart->pstPacker, pu16Seq, pu32Time);
    return 0;
}

s32 MediaPart_Ssrc(const MediaPart_S *pstPart, u32 *pu32Ssrc)
{
    if (!pstPart->bCreated)
        return -1;
    *pu32Ssrc = pstPart->pstPacker->u32Ssrc;
    return 0;
}

s32 MediaPart_Cut(MediaPart_S *pstPart, const void *pvData, u32 u32Len, u64 u64TimeUs, RtpUnit_S *pstUnit)
{
    RtpPacker_S *pstPacker = pstPart->pstPacker;
    return rtp_unit_cut(pstPacker->pstFunc, pvData, u32Len, pstPacker->u32MaxPayload, u64TimeUs, pstUnit);
}

const RtpUnit_S *MediaPart_Unit(MediaPart_S *pstPart, const RtpUnit_S *pstUnit, RtpUnit_S *pstOwn)
{
    RtpPacker_S *pstPacker = pstPart->pstPacker;
    if (pstUnit->pstFunc == pstPacker->pstFunc && pstUnit->u32MaxPayload == pstPacker->u32MaxPayload)
        return pstUnit;
    if (MediaPart_Cut(pstPart, pstUnit->pu8Unit, pstUnit->u32UnitLen, pstUnit->u64TimeUs, pstOwn) < 0)
        return nullptr;
    pstOwn->pstShare = pstUnit->pstShare;   // the same bytes, cut otherwise
    return pstOwn;
}

bool MediaPart_IsParamSet(const MediaPart_S *pstPart, const RtpUnit_S *pstUnit)
{
    // The first byte behind the start code, which the cut has checked.
    const u8 *pu8 = pstUnit->pu8Unit;
    u8 u8Head = pu8[2] == 1 ? pu8[3] : pu8[4];
    if (pstPart->pstPacker->pstFunc == rtp_h264_packer())
        return (u8Head & 0x1F) == H264_NAL_SPS;
    u8 u8Type = (u8)((u8Head >> 1) & 0x3F);
    return u8Type == H265_NAL_VPS || u8Type == H265_NAL_SPS;
}

void *MediaPart_Alloc(void *pvPart, u32 u32Bytes)
{
    MediaPart_S *pstPart = (MediaPart_S *)pvPart;
    return u32Bytes <= sizeof(pstPart->au8Packet) ? pstPart->au8Packet : nullptr;
}

void MediaPart_Free(void *pvPart, void *pvPacket)
{
    (void)pvPart;     // the buffer is the part's own
    (void)pvPacket;
}
