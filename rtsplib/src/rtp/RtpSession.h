// RTP session state: the own sender's statistics, the members heard, and
// the RTCP packets (RFC 3550) built from and read into them.
#ifndef RTSPLIB_RTP_RTPSESSION_H
#define RTSPLIB_RTP_RTPSESSION_H

#include <cstddef>

#include "core/Types.h"
#include "rtsplib/src/rtp/RtpMember.h"

#define RTCP_REPORT_MAX    32     // report blocks in one SR or RR

enum RtcpType_E {
    RTCP_SR   = 200,
    RTCP_RR   = 201,
    RTCP_SDES = 202,
    RTCP_BYE  = 203,
    RTCP_APP  = 204,
};

// What an RTCP packet told, for the session's handler.
struct RtcpMsg_S {
    s32 enType;                   // RtcpType_E
    u32 u32Ssrc;                  // the sender of the packet
    u8 u8Subtype;                 // APP
    char acName[4];               // APP
    const void *pvData;           // BYE reason or APP data; valid during the call
    u32 u32Bytes;
};

struct RtpEventHandler_S {
    void (*pfnOnRtcp)(void *pvParam, const RtcpMsg_S *pstMsg);
};

struct RtpSession_S {
    RtpEventHandler_S stHandler;
    void *pvParam;
    RtpMember_S *pstSelf;
    RtpMemberList_S *pstMembers;  // every source heard
    RtpMemberList_S *pstSenders;  // those that sent RTP
    double dRtcpBw;               // bytes/s, 5 % of the session bandwidth
    u32 u32Frequency;             // RTP clock rate
    bool bInitial;                // no report sent yet
    double dAvgRtcpSize;          // bytes
    u32 u32SdesTurn;              // item sent beside CNAME in the next SDES
};

// u32Bandwidth in bytes/s. Null when out of memory.
RtpSession_S *rtp_create(const RtpEventHandler_S *pstHandler, void *pvParam, u32 u32Ssrc, u32 u32Frequency,
                         u32 u32Bandwidth);
void rtp_destroy(RtpSession_S *pstSession);
s32 rtp_set_info(RtpSession_S *pstSession, const char *pszCname, const char *pszName);
// Counts an RTP packet just sent: 0, or -1 for one shorter than 12 bytes or
// whose header does not add up.
s32 rtp_onsend(RtpSession_S *pstSession, const void *pvData, u32 u32Len);
// Counts u32Packets packets just sent with time stamp u32Timestamp and
// u64Payload payload octets in all, for senders that build no whole packet.
void rtp_onsent(RtpSession_S *pstSession, u32 u32Timestamp, u32 u32Packets, u64 u64Payload);
s32 rtp_onreceived(RtpSession_S *pstSession, const void *pvData, u32 u32Len);
s32 rtp_onreceived_rtcp(RtpSession_S *pstSession, const void *pvData, u32 u32Len);
// A report (SR once we have sent, else RR; then SDES) or a BYE into pvBuf; the bytes written, or
// 0 when u32Size is too small.
u32 rtp_rtcp_report(RtpSession_S *pstSession, void *pvBuf, u32 u32Size);
u32 rtp_rtcp_bye(RtpSession_S *pstSession, void *pvBuf, u32 u32Size);
// Milliseconds until the next report should go.
u32 rtp_rtcp_interval(RtpSession_S *pstSession);
const char *rtp_get_cname(RtpSession_S *pstSession, u32 u32Ssrc);
const char *rtp_get_name(RtpSession_S *pstSession, u32 u32Ssrc);
u32 rtp_ssrc(void);

// The member of that SSRC, added to the members (and to the senders) when
// new; null when out of memory.
RtpMember_S *rtp_member_fetch(RtpSession_S *pstSession, u32 u32Ssrc);
RtpMember_S *rtp_sender_fetch(RtpSession_S *pstSession, u32 u32Ssrc);

// RTCP: inputs update the session; packers return the bytes written or 0
// when u32Size is too small; unpackers read one packet body (after its
// 4-byte header) of u32Len bytes, 0 or -1.
s32 rtcp_input_rtp(RtpSession_S *pstSession, const void *pvData, u32 u32Len);
s32 rtcp_input_rtcp(RtpSession_S *pstSession, const void *pvData, u32 u32Len);
u32 rtcp_sr_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size);
u32 rtcp_rr_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size);
u32 rtcp_sdes_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size);
u32 rtcp_bye_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size);
u32 rtcp_app_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size, u8 u8Subtype, const char acName[4],
                  const void *pvData, u32 u32Bytes);
s32 rtcp_sr_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len);
s32 rtcp_rr_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len);
s32 rtcp_sdes_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len);
s32 rtcp_bye_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len);
s32 rtcp_app_unpack(RtpSession_S *pstSession, u8 u8Subtype, const u8 *pu8, u32 u32Len);
// The report interval in seconds (RFC 3550 6.3.1, randomised).
double rtcp_interval(u32 u32Members, u32 u32Senders, double dRtcpBw, bool bWeSent, double dAvgRtcpSize,
                     bool bInitial);

#endif
