// What the UDP and the TCP media sources share: a track's packer, its
// packet buffer and, for video, its RTP session.
#ifndef RTSPLIB_RTSP_MEDIASOURCEPRIV_H
#define RTSPLIB_RTSP_MEDIASOURCEPRIV_H

#include "rtsplib/include/MediaSource.h"
#include "rtsplib/src/rtp/RtpPacker.h"
#include "rtsplib/src/rtp/RtpSession.h"

struct MediaPart_S {
    bool bCreated;
    bool bVideo;
    RtpPacker_S *pstPacker;
    RtpSession_S *pstRtp;        // video only: counts what was sent
    u64 u64LastUs;               // capture time of the last unit
    u8 au8Packet[RTP_HEADER_SIZE + RTP_PAYLOAD_MAX];
};

// Creates the packer of the payload type (video: 96 or 98) with a random
// SSRC and sequence start, its payload size, and for video the RTP session
// named pszKind ("UDP" or "TCP"). 1 when it exists, 0, or -1 (logged).
s32 MediaPart_Create(MediaPart_S *pstPart, bool bVideo, u8 u8PayloadType, u32 u32Clock, u32 u32MaxPayload,
                     const char *pszKind, const RtpPackerCallback_S *pstCallback, void *pvParam);
void MediaPart_Destroy(MediaPart_S *pstPart);
s32 MediaPart_RtpInfo(const MediaPart_S *pstPart, u16 *pu16Seq, u32 *pu32Time);
s32 MediaPart_Ssrc(const MediaPart_S *pstPart, u32 *pu32Ssrc);
// The unit cut for this part: pstUnit itself when it was cut by the same
// packer for the same payload, else cut again into *pstOwn. Null when the
// unit is refused.
const RtpUnit_S *MediaPart_Unit(MediaPart_S *pstPart, const RtpUnit_S *pstUnit, RtpUnit_S *pstOwn);
// Cuts a raw unit for this part into *pstUnit; 0 or -1.
s32 MediaPart_Cut(MediaPart_S *pstPart, const void *pvData, u32 u32Len, u64 u64TimeUs, RtpUnit_S *pstUnit);
// True for an H.264 SPS, an H.265 VPS or SPS: where a decoder can start.
bool MediaPart_IsParamSet(const MediaPart_S *pstPart, const RtpUnit_S *pstUnit);

// The packet buffer callbacks every part uses.
void *MediaPart_Alloc(void *pvPart, u32 u32Bytes);
void MediaPart_Free(void *pvPart, void *pvPacket);

#endif
