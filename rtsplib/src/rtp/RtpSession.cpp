#include "rtsplib/src/rtp/RtpSession.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>

#include "rtsplib/include/Time64.h"

#define RTP_HEADER_LEN 12

RtpSession_S *rtp_create(const RtpEventHandler_S *pstHandler, void *pvParam, u32 u32Ssrc, u32 u32Frequency,
                         u32 u32Bandwidth)
{
    RtpSession_S *pstSession = new (std::nothrow) RtpSession_S();
    if (pstSession == nullptr)
        return nullptr;
    pstSession->stHandler = *pstHandler;
    pstSession->pvParam = pvParam;
    pstSession->pstSelf = rtp_member_create(u32Ssrc);
    pstSession->pstMembers = rtp_member_list_create();
    pstSession->pstSenders = rtp_member_list_create();
    pstSession->dRtcpBw = u32Bandwidth * 0.05;
    pstSession->u32Frequency = u32Frequency;
    pstSession->bInitial = true;
    pstSession->dAvgRtcpSize = 64;
    pstSession->u32SdesTurn = RTCP_SDES_NAME;
    if (!pstSession->pstSelf || !pstSession->pstMembers || !pstSession->pstSenders ||
        rtp_member_list_add(pstSession->pstMembers, pstSession->pstSelf) < 0) {
        rtp_destroy(pstSession);
        return nullptr;
    }
    return pstSession;
}

void rtp_destroy(RtpSession_S *pstSession)
{
    if (pstSession->pstMembers)
        rtp_member_list_destroy(pstSession->pstMembers);
    if (pstSession->pstSenders)
        rtp_member_list_destroy(pstSession->pstSenders);
    if (pstSession->pstSelf)
        rtp_member_release(pstSession->pstSelf);
    delete pstSession;
}

s32 rtp_set_info(RtpSession_S *pstSession, const char *pszCname, const char *pszName)
{
    if (rtp_member_setvalue(pstSession->pstSelf, RTCP_SDES_CNAME, pszCname, (u32)strlen(pszCname)) < 0 ||
        rtp_member_setvalue(pstSession->pstSelf, RTCP_SDES_NAME, pszName, (u32)strlen(pszName)) < 0)
        return -1;
    return 0;
}

// Header length and payload length of an RTP packet; -1 when they do not add up.
static s32 Rtp_Header(const u8 *pu8, u32 u32Len, u32 *pu32Header, u32 *pu32Payload)
{
    if (u32Len < RTP_HEADER_LEN || (pu8[0] >> 6) != 2)
        return -1;
    u32 u32Header = RTP_HEADER_LEN + 4 * (pu8[0] & 0x0F);
    u32 u32Pad = 0;
    if (pu8[0] & 0x10) {
        if (u32Header + 4 > u32Len)
            return -1;
        u32Header += 4 + 4 * ((u32)pu8[u32Header + 2] << 8 | pu8[u32Header + 3]);
    }
    if (u32Header > u32Len)
        return -1;
    if (pu8[0] & 0x20) {
        u32Pad = pu8[u32Len - 1];
        if (u32Pad == 0 || u32Header + u32Pad > u32Len)
            return -1;
    }
    *pu32Header = u32Header;
    *pu32Payload = u32Len - u32Header - u32Pad;
    return 0;
}

s32 rtp_onsend(RtpSession_S *pstSession, const void *pvData, u32 u32Len)
{
    const u8 *pu8 = (const u8 *)pvData;
    u32 u32Header, u32Payload;
    if (Rtp_Header(pu8, u32Len, &u32Header, &u32Payload) < 0)
        return -1;
    rtp_onsent(pstSession, (u32)pu8[4] << 24 | (u32)pu8[5] << 16 | (u32)pu8[6] << 8 | pu8[7], 1, u32Payload);
    return 0;
}

void rtp_onsent(RtpSession_S *pstSession, u32 u32Timestamp, u32 u32Packets, u64 u64Payload)
{
    RtpMember_S *pstSelf = pstSession->pstSelf;
    pstSelf->u64RtpClock = time64_now();
    pstSelf->u32RtpTimestamp = u32Timestamp;
    pstSelf->u32RtpPackets += u32Packets;
    pstSelf->u64RtpBytes += u64Payload;
}

s32 rtp_onreceived(RtpSession_S *pstSession, const void *pvData, u32 u32Len)
{
    u32 u32Header, u32Payload;
    if (Rtp_Header((const u8 *)pvData, u32Len, &u32Header, &u32Payload) < 0)
        return -1;
    return rtcp_input_rtp(pstSession, pvData, u32Len);
}

s32 rtp_onreceived_rtcp(RtpSession_S *pstSession, const void *pvData, u32 u32Len)
{
    return rtcp_input_rtcp(pstSession, pvData, u32Len);
}

u32 rtp_rtcp_report(RtpSession_S *pstSession, void *pvBuf, u32 u32Size)
{
    u8 *pu8 = (u8 *)pvBuf;
    u32 n = pstSession->pstSelf->u32RtpPackets > 0 ? rtcp_sr_pack(pstSession, pu8, u32Size)
                                                   : rtcp_rr_pack(pstSession, pu8, u32Size);
    u32 u32Sdes = n ? rtcp_sdes_pack(pstSession, pu8 + n, u32Size - n) : 0;
    if (u32Sdes == 0)
        return 0;
    n += u32Sdes;
    pstSession->bInitial = false;
    pstSession->dAvgRtcpSize = pstSession->dAvgRtcpSize * 15 / 16 + n / 16.0;
    return n;
}

u32 rtp_rtcp_bye(RtpSession_S *pstSession, void *pvBuf, u32 u32Size)
{
    return rtcp_bye_pack(pstSession, (u8 *)pvBuf, u32Size);
}

u32 rtp_rtcp_interval(RtpSession_S *pstSession)
{
    double dSeconds = rtcp_interval(rtp_member_list_count(pstSession->pstMembers),
                                    rtp_member_list_count(pstSession->pstSenders) +
                                        (pstSession->pstSelf->u32RtpPackets > 0 ? 1 : 0),
                                    pstSession->dRtcpBw, pstSession->pstSelf->u32RtpPackets > 0,
                                    pstSession->dAvgRtcpSize, pstSession->bInitial);
    return (u32)(dSeconds * 1000);
}

static const char *Rtp_SdesText(RtpSession_S *pstSession, u32 u32Ssrc, u8 u8Item)
{
    RtpMember_S *pstMember = rtp_member_list_find(pstSession->pstMembers, u32Ssrc);
    return pstMember && pstMember->astSdes[u8Item].u8Len ? pstMember->astSdes[u8Item].acData : nullptr;
}

const char *rtp_get_cname(RtpSession_S *pstSession, u32 u32Ssrc)
{
    return Rtp_SdesText(pstSession, u32Ssrc, RTCP_SDES_CNAME);
}

const char *rtp_get_name(RtpSession_S *pstSession, u32 u32Ssrc)
{
    return Rtp_SdesText(pstSession, u32Ssrc, RTCP_SDES_NAME);
}

u32 rtp_ssrc(void)
{
    // Seeded with the time on every call, as the sources create parts in
    // different seconds; two parts in the same second may share an SSRC.
    srand((unsigned)time(nullptr));
    return (u32)rand() << 16 ^ (u32)rand();
}

// The member of that SSRC in pstList, listed there (and among the
// session's members) when new; null when a list cannot grow.
static RtpMember_S *Rtp_Fetch(RtpSession_S *pstSession, RtpMemberList_S *pstList, u32 u32Ssrc)
{
    RtpMember_S *pstMember = rtp_member_list_find(pstList, u32Ssrc);
    if (pstMember != nullptr)
        return pstMember;
    pstMember = rtp_member_list_find(pstSession->pstMembers, u32Ssrc);
    if (pstMember != nullptr)   // not in pstList, checked above
        return rtp_member_list_add(pstList, pstMember) == 0 ? pstMember : nullptr;
    pstMember = rtp_member_create(u32Ssrc);
    if (pstMember == nullptr)
        return nullptr;
    s32 s32Ret = rtp_member_list_add(pstSession->pstMembers, pstMember);   // a new SSRC
    if (s32Ret == 0 && pstList != pstSession->pstMembers)
        s32Ret = rtp_member_list_add(pstList, pstMember);
    rtp_member_release(pstMember);   // the lists that took it hold it now
    return s32Ret == 0 ? pstMember : nullptr;
}

RtpMember_S *rtp_member_fetch(RtpSession_S *pstSession, u32 u32Ssrc)
{
    return Rtp_Fetch(pstSession, pstSession->pstMembers, u32Ssrc);
}

RtpMember_S *rtp_sender_fetch(RtpSession_S *pstSession, u32 u32Ssrc)
{
    return Rtp_Fetch(pstSession, pstSession->pstSenders, u32Ssrc);
}
