#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rtsplib/src/rtp/RtpSession.h"

static std::vector<u8> RtpPacket(u16 u16Seq, u32 u32Ts, u32 u32Ssrc, u32 u32Payload, u8 u8First = 0x80)
{
    std::vector<u8> vec(12 + u32Payload, 0xAB);
    vec[0] = u8First;
    vec[1] = 96;
    vec[2] = (u8)(u16Seq >> 8);
    vec[3] = (u8)u16Seq;
    for (int i = 0; i < 4; i++) {
        vec[4 + i] = (u8)(u32Ts >> (24 - 8 * i));
        vec[8 + i] = (u8)(u32Ssrc >> (24 - 8 * i));
    }
    return vec;
}

struct Heard {
    std::vector<s32> vecType;
    std::string strApp;
};

static void OnRtcp(void *pv, const RtcpMsg_S *pstMsg)
{
    Heard *p = (Heard *)pv;
    p->vecType.push_back(pstMsg->enType);
    if (pstMsg->enType == RTCP_APP)
        p->strApp.assign((const char *)pstMsg->pvData, pstMsg->u32Bytes);
}

// A sender's report read by a receiver: statistics across a sequence
// wrap with one packet lost, source description, application data, then
// a BYE that removes the sender. (Nothing sends reports yet.)
TEST(RtpSessionTest, ReportsTravelBetweenSessions)
{
    Heard stHeard;
    RtpEventHandler_S stHandler = {OnRtcp};
    RtpSession_S *pstTx = rtp_create(&stHandler, nullptr, 0xAAAA0001, 90000, 4096);
    RtpSession_S *pstRx = rtp_create(&stHandler, &stHeard, 0xBBBB0002, 90000, 4096);
    ASSERT_EQ(0, rtp_set_info(pstTx, "RTSPServer", "H264_UDP_V"));
    for (u16 i = 0; i < 10; i++) {
        std::vector<u8> vec = RtpPacket((u16)(65530 + i), i * 3000u, 0xAAAA0001, 200);
        ASSERT_EQ(0, rtp_onsend(pstTx, vec.data(), (u32)vec.size()));
        if (i != 4) {   // one lost
            ASSERT_EQ(0, rtp_onreceived(pstRx, vec.data(), (u32)vec.size()));
        }
    }
    u8 au8[512];
    u32 u32Len = rtp_rtcp_report(pstTx, au8, sizeof(au8));
    ASSERT_GT(u32Len, 0u);
    EXPECT_EQ(RTCP_SR, au8[1]);
    EXPECT_EQ(0u, rtp_rtcp_report(pstTx, au8, 20));
    ASSERT_EQ(0, rtp_onreceived_rtcp(pstRx, au8, u32Len));
    EXPECT_STREQ("H264_UDP_V", rtp_get_name(pstRx, 0xAAAA0001));
    RtpMember_S *pstMember = rtp_member_list_find(pstRx->pstSenders, 0xAAAA0001);
    ASSERT_NE(nullptr, pstMember);
    EXPECT_EQ(9u, pstMember->u32RtpPackets);
    EXPECT_EQ(0x10000u, pstMember->u32SeqCycles);
    // The receiver's report carries one block: 1 lost.
    u32Len = rtp_rtcp_report(pstRx, au8, sizeof(au8));
    ASSERT_GT(u32Len, 0u);
    EXPECT_EQ(RTCP_RR, au8[1]);
    EXPECT_EQ(1, au8[0] & 0x1F);
    EXPECT_EQ(1u, (u32)au8[13] << 16 | au8[14] << 8 | au8[15]);
    u32Len = rtcp_app_pack(pstTx, au8, sizeof(au8), 3, "TEST", "hi", 2);
    u32Len += rtp_rtcp_bye(pstTx, au8 + u32Len, sizeof(au8) - u32Len);
    ASSERT_EQ(0, rtp_onreceived_rtcp(pstRx, au8, u32Len));
    EXPECT_EQ(std::string("hi\0\0", 4), stHeard.strApp);
    EXPECT_EQ(nullptr, rtp_member_list_find(pstRx->pstMembers, 0xAAAA0001));
    EXPECT_EQ((std::vector<s32>{RTCP_SR, RTCP_SDES, RTCP_APP, RTCP_BYE}), stHeard.vecType);
    // A packet whose length runs past the data is refused.
    au8[3] = 50;
    EXPECT_EQ(-1, rtp_onreceived_rtcp(pstRx, au8, 12));
    rtp_destroy(pstTx);
    rtp_destroy(pstRx);
}
