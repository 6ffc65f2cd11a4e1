#include "rtsplib/src/rtp/RtpMember.h"

#include <cstring>
#include <new>

RtpMember_S *rtp_member_create(u32 u32Ssrc)
{
    RtpMember_S *pstMember = new (std::nothrow) RtpMember_S();
    if (pstMember == nullptr)
        return nullptr;
    pstMember->s32Ref = 1;
    pstMember->u32Ssrc = u32Ssrc;
    return pstMember;
}

void rtp_member_addref(RtpMember_S *pstMember)
{
    pstMember->s32Ref++;
}

void rtp_member_release(RtpMember_S *pstMember)
{
    if (--pstMember->s32Ref == 0)
        delete pstMember;
}

s32 rtp_member_setvalue(RtpMember_S *pstMember, u8 u8Item, const void *pvData, u32 u32Len)
{
    if (u8Item < RTCP_SDES_CNAME || u8Item > RTCP_SDES_PRIV || u32Len > 255)
        return -1;
    RtpSdesItem_S *pstItem = &pstMember->astSdes[u8Item];
    memcpy(pstItem->acData, pvData, u32Len);
    pstItem->acData[u32Len] = '\0';
    pstItem->u8Len = (u8)u32Len;
    return 0;
}

RtpMemberList_S *rtp_member_list_create(void)
{
    return new (std::nothrow) RtpMemberList_S();
}

void rtp_member_list_destroy(RtpMemberList_S *pstList)
{
    for (RtpMember_S *pstMember : pstList->vecMember)
        rtp_member_release(pstMember);
    delete pstList;
}

u32 rtp_member_list_count(const RtpMemberList_S *pstList)
{
    return (u32)pstList->vecMember.size();
}

RtpMember_S *rtp_member_list_get(const RtpMemberList_S *pstList, u32 u32Index)
{
    return u32Index < pstList->vecMember.size() ? pstList->vecMember[u32Index] : nullptr;
}

RtpMember_S *rtp_member_list_find(const RtpMemberList_S *pstList, u32 u32Ssrc)
{
    for (RtpMember_S *pstMember : pstList->vecMember) {
        if (pstMember->u32Ssrc == u32Ssrc)
            return pstMember;
    }
    return nullptr;
}

s32 rtp_member_list_add(RtpMemberList_S *pstList, RtpMember_S *pstMember)
{
    if (rtp_member_list_find(pstList, pstMember->u32Ssrc) != nullptr)
        return -1;
    try {
        pstList->vecMember.push_back(pstMember);
    } catch (const std::bad_alloc &) {
        return -1;   // the list is as it was
    }
    rtp_member_addref(pstMember);
    return 0;
}

s32 rtp_member_list_delete(RtpMemberList_S *pstList, u32 u32Ssrc)
{
    for (size_t i = 0; i < pstList->vecMember.size(); i++) {
        RtpMember_S *pstMember = pstList->vecMember[i];
        if (pstMember->u32Ssrc == u32Ssrc) {
            pstList->vecMember.erase(pstList->vecMember.begin() + (long)i);
            rtp_member_release(pstMember);
            return 0;
        }
    }
    return -1;
}
