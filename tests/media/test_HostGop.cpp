#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "platform/host/HostMediaGop.h"

// The media stand-in's encoders keep the channel's bit rate: each GOP,
// replayed at its frame rate, is within a tenth of the configured rate
// for CBR and VBR, H.264 and H.265, at two rates.
struct GopRateCase {
    u32 enType;
    u32 enRcMode;
    u32 u32Kbps;
};

static MiVencChnAttr_S GopAttr(const GopRateCase &stCase)
{
    MiVencChnAttr_S stAttr = MiVencChnAttr_S();
    stAttr.stVeAttr.enType = stCase.enType;
    stAttr.stVeAttr.u32PicWidth = 640;
    stAttr.stVeAttr.u32PicHeight = 360;
    stAttr.stRcAttr.enRcMode = stCase.enRcMode;
    u32 u32Bits = stCase.u32Kbps * 1000;
    bool bCbr = stCase.enRcMode == MI_VENC_RC_H264_CBR || stCase.enRcMode == MI_VENC_RC_H265_CBR;
    if (bCbr)
        stAttr.stRcAttr.stCbr = {30, 1, 30, 1, u32Bits, 1};
    else   // the main stream's own VBR words: a narrow QP range that must not overrule the rate
        stAttr.stRcAttr.stVbr = {30, 1, 30, 1, u32Bits, 16, 12};
    return stAttr;
}

TEST(HostGopTest, RateFollowsTheChannel)
{
    const GopRateCase astCase[] = {
        {MI_VENC_TYPE_H264, MI_VENC_RC_H264_CBR, 1000}, {MI_VENC_TYPE_H264, MI_VENC_RC_H264_VBR, 3000},
        {MI_VENC_TYPE_H265, MI_VENC_RC_H265_CBR, 3000}, {MI_VENC_TYPE_H265, MI_VENC_RC_H265_VBR, 1000},
    };
    std::shared_ptr<const HostGop_S> apGop[4];
    for (size_t i = 0; i < 4; i++) {
        MiVencChnAttr_S stAttr = GopAttr(astCase[i]);
        apGop[i] = HostGop_Get(&stAttr, 0);
    }
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    for (size_t i = 0; i < 4; i++) {
        while (apGop[i]->s32State == HOST_GOP_BUILDING && std::chrono::steady_clock::now() < tEnd)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        ASSERT_TRUE(HostGop_Ready(apGop[i].get())) << i;
        double dWant = astCase[i].u32Kbps * 1000.0, dGot = HostGop_Rate(apGop[i].get());
        EXPECT_NEAR(dWant, dGot, dWant * 0.1) << "case " << i;
        EXPECT_EQ(30u, apGop[i]->pictures.size());
    }
}
