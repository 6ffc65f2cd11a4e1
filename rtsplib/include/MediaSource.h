// Media sources: turn the frames of one session, or of one stream's
// multicast group, into RTP packets and send them over UDP or interleaved
// on the RTSP connection. Each source has a video and an audio part, each
// with the packer of its codec. The service reaches a source only through
// one of the two operation tables.
#ifndef RTSPLIB_INCLUDE_MEDIASOURCE_H
#define RTSPLIB_INCLUDE_MEDIASOURCE_H

#include "core/Types.h"
#include "rtsplib/src/rtp/RtpPacker.h"

#define MEDIA_UDP_VIDEO_PAYLOAD  1450
#define MEDIA_UDP_AUDIO_PAYLOAD  1440
#define MEDIA_TCP_VIDEO_PAYLOAD  1444
#define MEDIA_TCP_AUDIO_PAYLOAD  1450
#define MEDIA_VIDEO_CLOCK        90000
#define MEDIA_RTP_BANDWIDTH      4096
#define MEDIA_RTP_CNAME          "RTSPServer"
#define MEDIA_DRAIN_BUF          1500
#define MEDIA_DRAIN_POLL_MS      1000
#define MEDIA_DRAIN_IDLE_MS      20

enum MediaSourceState_E {
    MEDIA_SOURCE_NEW = 0,
    MEDIA_SOURCE_PLAYING,
    MEDIA_SOURCE_PAUSED,
};

enum MediaTrack_E {
    MEDIA_TRACK_VIDEO = 0,
    MEDIA_TRACK_AUDIO,
    MEDIA_TRACKS,
};

// All operations take the source first and return 0 or -1 unless said.
// Inputs run on the frame threads under the caller's stream lock; the
// rest on the RTSP thread under the same lock.
struct MediaSourceFunc_S {
    void *(*pfnCreate)(bool bMulticast);   // null on failure
    void (*pfnDestroy)(void *pvSource);
    // 1 when the part exists already.
    s32 (*pfnVideoCreate)(void *pvSource, u8 u8PayloadType, u32 u32Clock);
    s32 (*pfnAudioCreate)(void *pvSource, u8 u8PayloadType, u32 u32Clock);
    // UDP: the socket to send from and the peer (dotted IPv4 and port) it
    // sends to; the socket stays the caller's. TCP: only pvConnection, the
    // RTSP connection the packets go on, is read.
    s32 (*pfnVideoRtp)(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection);
    s32 (*pfnVideoRtcp)(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection);
    s32 (*pfnAudioRtp)(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection);
    s32 (*pfnAudioRtcp)(void *pvSource, const char *pszAddr, s32 s32Socket, u16 u16Port, void *pvConnection);
    s32 (*pfnPlay)(void *pvSource);
    s32 (*pfnPause)(void *pvSource);
    // One NAL unit (start code included) or audio frame with its capture
    // time in us: 0 when sent, 1 when the source is not playing, -1 when
    // the part is missing, the unit is refused or it could not be sent.
    s32 (*pfnVideoInput)(void *pvSource, const void *pvData, u32 u32Len, u64 u64TimeUs);
    s32 (*pfnAudioInput)(void *pvSource, const void *pvData, u32 u32Len, u64 u64TimeUs);
    // The next sequence number and the last RTP time stamp of a track.
    s32 (*pfnGetRtpInfo)(void *pvSource, u32 u32Track, u16 *pu16Seq, u32 *pu32Time);
    // Interleaved channels; null in the UDP table.
    s32 (*pfnVideoInterleaved)(void *pvSource, s32 s32Rtp, s32 s32Rtcp);
    s32 (*pfnAudioInterleaved)(void *pvSource, s32 s32Rtp, s32 s32Rtcp);
    // A video unit cut once for many sources (rtp_unit_cut); a source whose
    // packer or payload size differs cuts the unit again. As pfnVideoInput.
    s32 (*pfnVideoUnit)(void *pvSource, const RtpUnit_S *pstUnit);
    // The SSRC a track's packets carry.
    s32 (*pfnGetSsrc)(void *pvSource, u32 u32Track, u32 *pu32Ssrc);
    // Pieces [u32From, u32To) of a unit given as to pfnVideoUnit, so that a
    // large unit can go in bursts (RtpPace.h); the bursts of a unit come in
    // order and cover it. Null in the TCP table: TCP paces itself.
    s32 (*pfnVideoPieces)(void *pvSource, const RtpUnit_S *pstUnit, u32 u32From, u32 u32To);
};

extern const MediaSourceFunc_S media_source_udp_func;
extern const MediaSourceFunc_S media_source_tcp_func;

#endif
