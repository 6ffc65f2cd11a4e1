// Members of an RTP session (the sources it sends or hears) and the list
// that holds them.
#ifndef RTSPLIB_RTP_RTPMEMBER_H
#define RTSPLIB_RTP_RTPMEMBER_H

#include <vector>

#include "core/Types.h"

enum RtcpSdes_E {
    RTCP_SDES_END = 0,
    RTCP_SDES_CNAME,
    RTCP_SDES_NAME,
    RTCP_SDES_EMAIL,
    RTCP_SDES_PHONE,
    RTCP_SDES_LOC,
    RTCP_SDES_TOOL,
    RTCP_SDES_NOTE,
    RTCP_SDES_PRIV,
};

struct RtpSdesItem_S {
    u8 u8Len;                       // bytes of acData
    char acData[256];               // terminated
};

struct RtpMember_S {
    s32 s32Ref;                     // changed under the session's owner only
    u32 u32Ssrc;
    u16 u16SeqBase, u16SeqMax;      // first and highest sequence number heard
    u32 u32SeqCycles;               // wraps of the sequence number, << 16
    u32 u32ExpectedPrior, u32ReceivedPrior;   // at the last report
    u32 u32RtpTimestamp;            // last RTP time stamp sent or heard
    u64 u64RtpClock;                // local time of that packet, ms
    u32 u32RtpPackets;
    u64 u64RtpBytes;                // payload octets
    double dJitter;                 // RTP clock units
    s64 s64Transit;                 // previous arrival - time stamp, RTP units
    u64 u64SrNtp;                   // NTP time of the last sender report heard
    u64 u64SrArrival;               // local time it arrived, ms
    RtpSdesItem_S astSdes[RTCP_SDES_PRIV + 1];
};

struct RtpMemberList_S {
    std::vector<RtpMember_S *> vecMember;   // each holds one reference
};

RtpMember_S *rtp_member_create(u32 u32Ssrc);
void rtp_member_addref(RtpMember_S *pstMember);
void rtp_member_release(RtpMember_S *pstMember);
// Sets source-description item u8Item (1..8) to u32Len bytes (at most
// 255); 0 or -1.
s32 rtp_member_setvalue(RtpMember_S *pstMember, u8 u8Item, const void *pvData, u32 u32Len);

RtpMemberList_S *rtp_member_list_create(void);
void rtp_member_list_destroy(RtpMemberList_S *pstList);
u32 rtp_member_list_count(const RtpMemberList_S *pstList);
RtpMember_S *rtp_member_list_get(const RtpMemberList_S *pstList, u32 u32Index);   // null past the end
RtpMember_S *rtp_member_list_find(const RtpMemberList_S *pstList, u32 u32Ssrc);
// Adds a reference to the member; -1 when its SSRC is listed already or
// the list cannot grow.
s32 rtp_member_list_add(RtpMemberList_S *pstList, RtpMember_S *pstMember);
// Removes the member of that SSRC and drops the list's reference; -1 when absent.
s32 rtp_member_list_delete(RtpMemberList_S *pstList, u32 u32Ssrc);

#endif
