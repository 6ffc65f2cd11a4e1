#include <cstdlib>
#include <cstring>

#include "rtsplib/include/Time64.h"
#include "rtsplib/src/rtp/RtpSession.h"

#define RTCP_HEADER_LEN     4
#define RTCP_REPORT_LEN     24     // one report block
#define RTCP_MIN_TIME       5.0    // s
#define RTCP_COMPENSATION   1.21828   // e - 3/2

static void Rtcp_Put32(u8 *pu8, u32 u32)
{
    pu8[0] = (u8)(u32 >> 24);
    pu8[1] = (u8)(u32 >> 16);
    pu8[2] = (u8)(u32 >> 8);
    pu8[3] = (u8)u32;
}

static u32 Rtcp_Get32(const u8 *pu8)
{
    return (u32)pu8[0] << 24 | (u32)pu8[1] << 16 | (u32)pu8[2] << 8 | pu8[3];
}

// Version 2, the count field, the type and the length of u32Len bytes.
static void Rtcp_Header(u8 *pu8, u8 u8Count, u8 u8Type, u32 u32Len)
{
    pu8[0] = (u8)(0x80 | (u8Count & 0x1F));
    pu8[1] = u8Type;
    pu8[2] = (u8)((u32Len / 4 - 1) >> 8);
    pu8[3] = (u8)(u32Len / 4 - 1);
}

static void Rtcp_Notify(RtpSession_S *pstSession, RtcpMsg_S *pstMsg)
{
    if (pstSession->stHandler.pfnOnRtcp)
        pstSession->stHandler.pfnOnRtcp(pstSession->pvParam, pstMsg);
}

// One report block about a sender we hear.
static void Rtcp_ReportBlock(RtpMember_S *pstMember, u64 u64Now, u8 *pu8)
{
    u32 u32Extended = pstMember->u32SeqCycles + pstMember->u16SeqMax;
    u32 u32Expected = u32Extended - pstMember->u16SeqBase + 1;
    s64 s64Lost = (s64)u32Expected - pstMember->u32RtpPackets;
    s64Lost = s64Lost > 0x7FFFFF ? 0x7FFFFF : s64Lost < -0x800000 ? -0x800000 : s64Lost;
    u32 u32ExpectedInterval = u32Expected - pstMember->u32ExpectedPrior;
    u32 u32ReceivedInterval = pstMember->u32RtpPackets - pstMember->u32ReceivedPrior;
    pstMember->u32ExpectedPrior = u32Expected;
    pstMember->u32ReceivedPrior = pstMember->u32RtpPackets;
    s64 s64LostInterval = (s64)u32ExpectedInterval - u32ReceivedInterval;
    u32 u32Fraction = u32ExpectedInterval == 0 || s64LostInterval <= 0
                          ? 0 : (u32)((s64LostInterval << 8) / u32ExpectedInterval);
    u32 u32Lsr = 0, u32Dlsr = 0;
    if (pstMember->u64SrArrival != 0) {
        u32Lsr = (u32)(pstMember->u64SrNtp >> 16);
        u32Dlsr = (u32)((u64Now - pstMember->u64SrArrival) * 65536 / 1000);
    }
    Rtcp_Put32(pu8, pstMember->u32Ssrc);
    Rtcp_Put32(pu8 + 4, (u32Fraction > 255 ? 255 : u32Fraction) << 24 | ((u32)s64Lost & 0xFFFFFF));
    Rtcp_Put32(pu8 + 8, u32Extended);
    Rtcp_Put32(pu8 + 12, (u32)pstMember->dJitter);
    Rtcp_Put32(pu8 + 16, u32Lsr);
    Rtcp_Put32(pu8 + 20, u32Dlsr);
}

// Report blocks after u32Fixed bytes of an SR or RR; the length, or 0.
static u32 Rtcp_Report(RtpSession_S *pstSession, u8 *pu8, u32 u32Size, u8 u8Type, u32 u32Fixed)
{
    u32 u32Num = rtp_member_list_count(pstSession->pstSenders);
    if (u32Num > RTCP_REPORT_MAX)
        u32Num = RTCP_REPORT_MAX;
    u32 u32Len = u32Fixed + u32Num * RTCP_REPORT_LEN;
    if (u32Len > u32Size)
        return 0;
    u64 u64Now = time64_now();
    for (u32 i = 0; i < u32Num; i++)
        Rtcp_ReportBlock(rtp_member_list_get(pstSession->pstSenders, i), u64Now,
                         pu8 + u32Fixed + i * RTCP_REPORT_LEN);
    Rtcp_Header(pu8, (u8)u32Num, u8Type, u32Len);
    Rtcp_Put32(pu8 + 4, pstSession->pstSelf->u32Ssrc);
    return u32Len;
}

u32 rtcp_sr_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size)
{
    u32 u32Len = Rtcp_Report(pstSession, pu8, u32Size, RTCP_SR, 28);
    if (u32Len == 0)
        return 0;
    RtpMember_S *pstSelf = pstSession->pstSelf;
    u64 u64Now = time64_now();
    u64 u64Ntp = clock2ntp(u64Now);
    // The RTP time of now, from the last packet's time stamp and clock.
    u32 u32Rtp = pstSelf->u32RtpTimestamp +
                 (u32)((u64Now - pstSelf->u64RtpClock) * pstSession->u32Frequency / 1000);
    Rtcp_Put32(pu8 + 8, (u32)(u64Ntp >> 32));
    Rtcp_Put32(pu8 + 12, (u32)u64Ntp);
    Rtcp_Put32(pu8 + 16, u32Rtp);
    Rtcp_Put32(pu8 + 20, pstSelf->u32RtpPackets);
    Rtcp_Put32(pu8 + 24, (u32)pstSelf->u64RtpBytes);
    return u32Len;
}

u32 rtcp_rr_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size)
{
    return Rtcp_Report(pstSession, pu8, u32Size, RTCP_RR, 8);
}

// CNAME always, and one more item in turn.
u32 rtcp_sdes_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size)
{
    RtpMember_S *pstSelf = pstSession->pstSelf;
    u8 au8Item[2] = {RTCP_SDES_CNAME, 0};
    for (u32 i = 0; i < RTCP_SDES_PRIV - 1 && au8Item[1] == 0; i++) {
        u32 u32Item = RTCP_SDES_NAME + (pstSession->u32SdesTurn - RTCP_SDES_NAME + i) % (RTCP_SDES_PRIV - 1);
        if (pstSelf->astSdes[u32Item].u8Len > 0)
            au8Item[1] = (u8)u32Item;
    }
    u32 u32Len = 8;
    for (u8 u8Item : au8Item)
        u32Len += u8Item ? 2u + pstSelf->astSdes[u8Item].u8Len : 0u;
    u32Len = (u32Len + 1 + 3) / 4 * 4;   // the end item, then padding to 32 bits
    if (u32Len > u32Size)
        return 0;
    memset(pu8, 0, u32Len);
    Rtcp_Header(pu8, 1, RTCP_SDES, u32Len);
    Rtcp_Put32(pu8 + 4, pstSelf->u32Ssrc);
    u32 u32Pos = 8;
    for (u8 u8Item : au8Item) {
        if (u8Item == 0)
            continue;
        pu8[u32Pos++] = u8Item;
        pu8[u32Pos++] = pstSelf->astSdes[u8Item].u8Len;
        memcpy(pu8 + u32Pos, pstSelf->astSdes[u8Item].acData, pstSelf->astSdes[u8Item].u8Len);
        u32Pos += pstSelf->astSdes[u8Item].u8Len;
    }
    if (au8Item[1] != 0)
        pstSession->u32SdesTurn = au8Item[1] == RTCP_SDES_PRIV ? (u32)RTCP_SDES_NAME : au8Item[1] + 1u;
    return u32Len;
}

u32 rtcp_bye_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size)
{
    if (u32Size < 8)
        return 0;
    Rtcp_Header(pu8, 1, RTCP_BYE, 8);
    Rtcp_Put32(pu8 + 4, pstSession->pstSelf->u32Ssrc);
    return 8;
}

u32 rtcp_app_pack(RtpSession_S *pstSession, u8 *pu8, u32 u32Size, u8 u8Subtype, const char acName[4],
                  const void *pvData, u32 u32Bytes)
{
    u32 u32Len = 12 + (u32Bytes + 3) / 4 * 4;
    if (u32Bytes > 0xFFFF * 4 || u32Len > u32Size)
        return 0;
    memset(pu8, 0, u32Len);
    Rtcp_Header(pu8, u8Subtype, RTCP_APP, u32Len);
    Rtcp_Put32(pu8 + 4, pstSession->pstSelf->u32Ssrc);
    memcpy(pu8 + 8, acName, 4);
    memcpy(pu8 + 12, pvData, u32Bytes);
    return u32Len;
}

s32 rtcp_sr_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len)
{
    if (u32Len < 24 + (u32)u8Count * RTCP_REPORT_LEN)
        return -1;
    RtcpMsg_S stMsg = {RTCP_SR, Rtcp_Get32(pu8), 0, {0}, nullptr, 0};
    RtpMember_S *pstMember = rtp_sender_fetch(pstSession, stMsg.u32Ssrc);
    if (pstMember == nullptr)
        return -1;
    pstMember->u64SrNtp = (u64)Rtcp_Get32(pu8 + 4) << 32 | Rtcp_Get32(pu8 + 8);
    pstMember->u64SrArrival = time64_now();
    Rtcp_Notify(pstSession, &stMsg);
    return 0;
}

s32 rtcp_rr_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len)
{
    if (u32Len < 4 + (u32)u8Count * RTCP_REPORT_LEN)
        return -1;
    RtcpMsg_S stMsg = {RTCP_RR, Rtcp_Get32(pu8), 0, {0}, nullptr, 0};
    if (rtp_member_fetch(pstSession, stMsg.u32Ssrc) == nullptr)
        return -1;
    Rtcp_Notify(pstSession, &stMsg);
    return 0;
}

s32 rtcp_sdes_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len)
{
    u32 u32Pos = 0;
    for (u8 i = 0; i < u8Count; i++) {
        if (u32Pos + 4 > u32Len)
            return -1;
        RtcpMsg_S stMsg = {RTCP_SDES, Rtcp_Get32(pu8 + u32Pos), 0, {0}, nullptr, 0};
        RtpMember_S *pstMember = rtp_member_fetch(pstSession, stMsg.u32Ssrc);
        if (pstMember == nullptr)
            return -1;
        u32Pos += 4;
        while (u32Pos < u32Len && pu8[u32Pos] != RTCP_SDES_END) {
            if (u32Pos + 2 > u32Len || u32Pos + 2 + pu8[u32Pos + 1] > u32Len)
                return -1;
            if (pstMember != pstSession->pstSelf)
                (void)rtp_member_setvalue(pstMember, pu8[u32Pos], pu8 + u32Pos + 2, pu8[u32Pos + 1]);   // unknown items are skipped
            u32Pos += 2 + pu8[u32Pos + 1];
        }
        u32Pos = (u32Pos + 4) / 4 * 4;   // past the end item and its padding
        Rtcp_Notify(pstSession, &stMsg);
    }
    return 0;
}

s32 rtcp_bye_unpack(RtpSession_S *pstSession, u8 u8Count, const u8 *pu8, u32 u32Len)
{
    u32 u32Ids = (u32)u8Count * 4;
    if (u32Len < u32Ids)
        return -1;
    RtcpMsg_S stMsg = {RTCP_BYE, 0, 0, {0}, nullptr, 0};
    if (u32Len > u32Ids && u32Ids + 1 + pu8[u32Ids] <= u32Len) {
        stMsg.pvData = pu8 + u32Ids + 1;
        stMsg.u32Bytes = pu8[u32Ids];
    }
    for (u32 i = 0; i < u32Ids; i += 4) {
        stMsg.u32Ssrc = Rtcp_Get32(pu8 + i);
        if (stMsg.u32Ssrc == pstSession->pstSelf->u32Ssrc)
            continue;
        Rtcp_Notify(pstSession, &stMsg);
        (void)rtp_member_list_delete(pstSession->pstSenders, stMsg.u32Ssrc);   // may never have sent
        (void)rtp_member_list_delete(pstSession->pstMembers, stMsg.u32Ssrc);   // may be unknown
    }
    return 0;
}

s32 rtcp_app_unpack(RtpSession_S *pstSession, u8 u8Subtype, const u8 *pu8, u32 u32Len)
{
    if (u32Len < 8)
        return -1;
    RtcpMsg_S stMsg = {RTCP_APP, Rtcp_Get32(pu8), u8Subtype, {0}, pu8 + 8, u32Len - 8};
    memcpy(stMsg.acName, pu8 + 4, 4);
    Rtcp_Notify(pstSession, &stMsg);
    return 0;
}

s32 rtcp_input_rtcp(RtpSession_S *pstSession, const void *pvData, u32 u32Len)
{
    const u8 *pu8 = (const u8 *)pvData;
    while (u32Len > 0) {
        if (u32Len < RTCP_HEADER_LEN || (pu8[0] >> 6) != 2)
            return -1;
        u32 u32Packet = ((u32)pu8[2] << 8 | pu8[3]) * 4 + 4;
        if (u32Packet > u32Len)
            return -1;
        u32 u32Body = u32Packet - RTCP_HEADER_LEN;
        if ((pu8[0] & 0x20) && (pu8[u32Packet - 1] == 0 || pu8[u32Packet - 1] > u32Body))
            return -1;
        if (pu8[0] & 0x20)
            u32Body -= pu8[u32Packet - 1];
        u8 u8Count = pu8[0] & 0x1F;
        const u8 *pu8Body = pu8 + RTCP_HEADER_LEN;
        s32 s32Ret = 0;
        switch (pu8[1]) {
        case RTCP_SR: s32Ret = rtcp_sr_unpack(pstSession, u8Count, pu8Body, u32Body); break;
        case RTCP_RR: s32Ret = rtcp_rr_unpack(pstSession, u8Count, pu8Body, u32Body); break;
        case RTCP_SDES: s32Ret = rtcp_sdes_unpack(pstSession, u8Count, pu8Body, u32Body); break;
        case RTCP_BYE: s32Ret = rtcp_bye_unpack(pstSession, u8Count, pu8Body, u32Body); break;
        case RTCP_APP: s32Ret = rtcp_app_unpack(pstSession, u8Count, pu8Body, u32Body); break;
        default: break;   // types of later profiles are skipped
        }
        if (s32Ret < 0)
            return -1;
        pu8 += u32Packet;
        u32Len -= u32Packet;
    }
    return 0;
}

s32 rtcp_input_rtp(RtpSession_S *pstSession, const void *pvData, u32 u32Len)
{
    const u8 *pu8 = (const u8 *)pvData;
    if (u32Len < 12)
        return -1;
    RtpMember_S *pstMember = rtp_sender_fetch(pstSession, Rtcp_Get32(pu8 + 8));
    if (pstMember == nullptr)
        return -1;
    u16 u16Seq = (u16)(pu8[2] << 8 | pu8[3]);
    u32 u32Timestamp = Rtcp_Get32(pu8 + 4);
    u64 u64Now = time64_now();
    if (pstMember->u32RtpPackets == 0) {
        pstMember->u16SeqBase = pstMember->u16SeqMax = u16Seq;
    } else if ((u16)(u16Seq - pstMember->u16SeqMax) < 0x8000) {
        if (u16Seq < pstMember->u16SeqMax)
            pstMember->u32SeqCycles += 0x10000;
        pstMember->u16SeqMax = u16Seq;
    }
    // Interarrival jitter (RFC 3550 A.8) in RTP clock units.
    s64 s64Transit = (s64)(u64Now * pstSession->u32Frequency / 1000) - u32Timestamp;
    if (pstMember->u32RtpPackets > 0) {
        s64 s64D = s64Transit - pstMember->s64Transit;
        pstMember->dJitter += ((s64D < 0 ? -s64D : s64D) - pstMember->dJitter) / 16.0;
    }
    pstMember->s64Transit = s64Transit;
    pstMember->u32RtpTimestamp = u32Timestamp;
    pstMember->u64RtpClock = u64Now;
    pstMember->u32RtpPackets++;
    pstMember->u64RtpBytes += u32Len - 12;
    return 0;
}

double rtcp_interval(u32 u32Members, u32 u32Senders, double dRtcpBw, bool bWeSent, double dAvgRtcpSize,
                     bool bInitial)
{
    double dMin = bInitial ? RTCP_MIN_TIME / 2 : RTCP_MIN_TIME;
    double dN = u32Members;
    if (u32Senders <= u32Members * 0.25) {
        if (bWeSent) {
            dRtcpBw *= 0.25;
            dN = u32Senders;
        } else {
            dRtcpBw *= 0.75;
            dN -= u32Senders;
        }
    }
    double dT = dRtcpBw > 0 ? dAvgRtcpSize * dN / dRtcpBw : dMin;
    if (dT < dMin)
        dT = dMin;
    dT *= drand48() + 0.5;
    return dT / RTCP_COMPENSATION;
}
