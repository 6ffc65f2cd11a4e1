#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <malloc.h>
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

static double RssMb(void)
{
    FILE *fp = fopen("/proc/self/status", "r");
    char az[256];
    unsigned long ulKb = 0;
    while (fp != nullptr && fgets(az, sizeof(az), fp) != nullptr && sscanf(az, "VmRSS: %lu kB", &ulKb) != 1) {
    }
    if (fp != nullptr)
        fclose(fp);
    return ulKb / 1024.0;
}

// What the encoders freed is handed back after a build: trimming the heap
// afterwards finds next to nothing more to give back, where the tens of MB
// a 1080p encoder worked in would otherwise stay resident.
TEST(HostGopTest, BuildHandsBackTheEncodersMemory)
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "the sanitizer's allocator keeps freed memory by design";
#endif
    MiVencChnAttr_S stAttr = GopAttr({MI_VENC_TYPE_H264, MI_VENC_RC_H264_VBR, 2000});
    stAttr.stVeAttr.u32PicWidth = 1920;
    stAttr.stVeAttr.u32PicHeight = 1080;
    (void)malloc_trim(0);   // what earlier tests left is not the build's
    std::shared_ptr<const HostGop_S> pGop = HostGop_Get(&stAttr, 0);
    auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (pGop->s32State == HOST_GOP_BUILDING && std::chrono::steady_clock::now() < tEnd)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(HostGop_Ready(pGop.get()));
    EXPECT_GE(HostGop_Bytes(), pGop->pictures[0].data.size());
    double dBuilt = RssMb();
    (void)malloc_trim(0);
    EXPECT_LT(dBuilt - RssMb(), 8) << "left resident after the build";
}
