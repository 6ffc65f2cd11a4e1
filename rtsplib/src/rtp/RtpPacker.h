// RTP packers: one per codec (H.264, H.265, AAC, G.711, raw PCM, L16).
// A packer cuts one unit (a NAL unit or an audio frame) into packets and
// writes their 12-byte RTP headers. Cutting is separate from the headers,
// so that a unit cut once can go to many receivers, each with its own
// sequence numbers and SSRC over the same payload bytes.
#ifndef RTSPLIB_RTP_RTPPACKER_H
#define RTSPLIB_RTP_RTPPACKER_H

#include "core/Types.h"

#define RTP_HEADER_SIZE      12
#define RTP_PAYLOAD_DEFAULT  1450
#define RTP_PAYLOAD_MIN      16
#define RTP_PAYLOAD_MAX      1500
#define RTP_PREFIX_MAX       4      // bytes a packer puts before each piece of a unit
#define RTP_HEAD_MAX         (RTP_HEADER_SIZE + RTP_PREFIX_MAX)
#define RTP_PIECES_MAX       4096   // packets of one unit

// Payload types as the SDP announces them.
#define RTP_PT_PCMU   0
#define RTP_PT_PCMA   8
#define RTP_PT_L16    22
#define RTP_PT_H264   96
#define RTP_PT_AAC    97
#define RTP_PT_H265   98
#define RTP_PT_PCM    108

enum RtpPiece_E {
    RTP_PIECE_SINGLE = 0,   // the unit in one packet
    RTP_PIECE_FIRST,
    RTP_PIECE_MIDDLE,
    RTP_PIECE_LAST,
    RTP_PIECE_KINDS,
};

struct RtpPackerFunc_S;

// What the receivers of one unit share beyond the call that gives it to
// them, such as one copy of its bytes: the first that needs it makes it,
// the caller releases it after the last receiver.
struct RtpUnitShare_S {
    void *pvCopy;
    void (*pfnRelease)(void *pvCopy);
};

// A unit cut into packets: piece i carries the prefix of its kind, then
// u32Chunk bytes of pu8Data from i * u32Chunk (the last piece the rest).
// So every piece but the last has the same size.
struct RtpUnit_S {
    const RtpPackerFunc_S *pstFunc;   // the codec that cut it
    u32 u32MaxPayload;                // the payload size it was cut for
    u64 u64TimeUs;                    // capture time, microseconds
    const u8 *pu8Unit;                // the unit as given, to cut it again
    u32 u32UnitLen;
    const u8 *pu8Data;
    u32 u32Len;
    u32 u32Chunk;
    u32 u32Num;                       // pieces, 1..RTP_PIECES_MAX
    u8 u8PrefixLen;
    bool bMarkerEach;                 // marker on every packet, else on the last
    u8 aau8Prefix[RTP_PIECE_KINDS][RTP_PREFIX_MAX];
    RtpUnitShare_S *pstShare;         // null: nothing is shared
};

// What the source gives a packer: a packet buffer of at least u32Bytes
// (null when it has none), its release, and the send of a whole packet.
struct RtpPackerCallback_S {
    void *(*pfnAlloc)(void *pvParam, u32 u32Bytes);
    void (*pfnFree)(void *pvParam, void *pvPacket);
    s32 (*pfnPacket)(void *pvParam, const void *pvPacket, u32 u32Bytes, u32 u32Time);
};

struct RtpPacker_S {
    const RtpPackerFunc_S *pstFunc;
    RtpPackerCallback_S stCallback;
    void *pvParam;
    u32 u32MaxPayload;   // bytes after the RTP header
    u32 u32Ssrc;
    u16 u16Seq;          // of the next packet
    u8 u8PayloadType;
    u32 u32Time;         // RTP time stamp of the last unit
    u32 u32Clock;        // Hz
};

struct RtpPackerFunc_S {
    RtpPacker_S *(*pfnCreate)(u32 u32Ssrc, u16 u16Seq, u8 u8PayloadType, u32 u32Clock,
                              const RtpPackerCallback_S *pstCallback, void *pvParam);
    void (*pfnDestroy)(RtpPacker_S *pstPacker);
    void (*pfnGetInfo)(const RtpPacker_S *pstPacker, u16 *pu16Seq, u32 *pu32Time);
    // RTP_PAYLOAD_MIN..RTP_PAYLOAD_MAX; 0, or -1 outside.
    s32 (*pfnSetSize)(RtpPacker_S *pstPacker, u32 u32Bytes);
    // Packs and sends one unit: 0, 12 when no packet buffer could be had,
    // -1 for a unit this codec cannot carry.
    s32 (*pfnInput)(RtpPacker_S *pstPacker, const void *pvData, u32 u32Len, u64 u64TimeUs);
    // The codec's cutting: 0, or -1 for a unit it cannot carry.
    s32 (*pfnCut)(const u8 *pu8Data, u32 u32Len, u32 u32MaxPayload, RtpUnit_S *pstUnit);
};

const RtpPackerFunc_S *rtp_h264_packer(void);
const RtpPackerFunc_S *rtp_h265_packer(void);
const RtpPackerFunc_S *rtp_aac_packer(void);
const RtpPackerFunc_S *rtp_g711_packer(void);
const RtpPackerFunc_S *rtp_pcm_packer(void);
const RtpPackerFunc_S *rtp_l16_packer(void);
// The packer of a payload type, or null.
const RtpPackerFunc_S *rtp_video_packer(u8 u8PayloadType);
const RtpPackerFunc_S *rtp_audio_packer(u8 u8PayloadType);

// Cuts a unit with that codec for packets of u32MaxPayload bytes.
s32 rtp_unit_cut(const RtpPackerFunc_S *pstFunc, const void *pvData, u32 u32Len, u32 u32MaxPayload,
                 u64 u64TimeUs, RtpUnit_S *pstUnit);
// Payload bytes of piece u32Index (prefix not counted) and where they start.
u32 rtp_unit_piece(const RtpUnit_S *pstUnit, u32 u32Index, const u8 **ppu8Data);
// Bytes of all packets of the unit, RTP headers included.
u64 rtp_unit_bytes(const RtpUnit_S *pstUnit);
// The RTP time stamp of a capture time for a clock: us * clock / 10^6,
// exact, modulo 2^32.
u32 rtp_time(u64 u64TimeUs, u32 u32Clock);

// Writes header and prefix of u32Count pieces from u32First, each at
// RTP_HEAD_MAX bytes after the one before, taking sequence numbers and the
// unit's time stamp; returns the bytes of one head (header + prefix).
u32 rtp_packer_heads(RtpPacker_S *pstPacker, const RtpUnit_S *pstUnit, u32 u32First, u32 u32Count, u8 *pu8Out);
// Sends every piece of a cut unit through the callbacks: as pfnInput.
s32 rtp_packer_emit(RtpPacker_S *pstPacker, const RtpUnit_S *pstUnit);

#endif
