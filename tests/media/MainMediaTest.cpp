#include "tests/media/MainMediaTest.h"

#include <gtest/gtest.h>

#include "app/Main.h"
#include "config/ConfigAttr.h"
#include "media/AVSource.h"
#include "platform/host/HostSim.h"

void TestMedia_Config(bool bAacMain)
{
    ConfigStreamAttr_S &stMain = g_stConfigAttr.stMainAttr, &stSub = g_stConfigAttr.stSubAttr;
    stMain = {1, 0, 1280, 720, 60, 2, 2000, 0, bAacMain ? 1u : 0u, 48000, 131072};
    stSub = {0, 0, 640, 360, 60, 2, 500, 0, bAacMain ? 0u : 1u, 48000, 131072};
    MAIN_Media_DefConifg(&g_stMainServerAttr.stMainMediaAttr);
}

void TestMedia_BuildVideo(void)
{
    MainMediaAttr_S *pstAttr = &g_stMainServerAttr.stMainMediaAttr;
    ASSERT_EQ("ok\n", HostSim_Exec("pad 1920x1080p60"));
    pstAttr->stViAttr = {MEDIA_VI_MIPI, 1920, 1080, MEDIA_SCAN_PROGRESSIVE, 0, 60, 60};
    const MediaVencAttr_S *apstVenc[] = {&pstAttr->stMainVencAttr, &pstAttr->stSubVencAttr};
    for (u32 i = 0; i < 2; i++) {
        pstAttr->au32PortWidth[i] = apstVenc[i]->u32Width;
        pstAttr->au32PortHeight[i] = apstVenc[i]->u32Height;
    }
    pstAttr->au32PortWidth[2] = pstAttr->au32PortHeight[2] = MEDIA_JPEG_SIZE;
    ASSERT_EQ(0, MAIN_Media_Vi_Statr(pstAttr, 0));
    ASSERT_EQ(0, HI_Media_Vpss_Start(pstAttr->s32VpeChn, pstAttr->u32VpePortNum, pstAttr->au32PortWidth));
    ASSERT_EQ(0, HI_MEDIA_Venc_RegisterNotify(MAIN_Media_Venc_GetVENCStreamProc));
    const MediaVencAttr_S *apstAll[] = {&pstAttr->stMainVencAttr, &pstAttr->stSubVencAttr, &pstAttr->stJpegVencAttr};
    for (u32 i = 0; i < 3; i++) {
        ASSERT_EQ(0, HI_Media_Venc_CreateChn(pstAttr->as32VencChn[i], apstAll[i]));
        ASSERT_EQ(0, HI_Media_Venc_Start(pstAttr->as32VencChn[i]));
    }
    ASSERT_EQ(0, HI_Media_VI_BindVpss(pstAttr->s32ViDev, pstAttr->s32ViChn, pstAttr->s32ViPort, pstAttr->s32VpeChn));
    for (u32 i = 0; i < 3; i++)
        ASSERT_EQ(0, HI_Media_Venc_BindVpss(pstAttr->as32VencChn[i], pstAttr->s32VpeChn, pstAttr->as32VpePort[i]));
    g_s32StopSend = 1;
}

void TestMedia_StopVideo(void)
{
    g_s32StopSend = 0;
    EXPECT_EQ(0, MAIN_Media_Stop(&g_stMainServerAttr.stMainMediaAttr));
}

void TestMedia_StartAudio(bool bAencSender)
{
    MainMediaAttr_S *pstAttr = &g_stMainServerAttr.stMainMediaAttr;
    ASSERT_EQ(0, HI_Media_Ai_start(pstAttr->s32AiDev, &pstAttr->stAiAttr));
    ASSERT_EQ(0, HI_MEDIA_Ai_RegisterNotify(MAIN_Media_Ai_GetAIStreamProc));
    if (bAencSender) {
        ASSERT_EQ(0, HI_Media_Aenc_Start(0));
    }
    ASSERT_EQ(0, HI_Media_Ai_StartManualMode(pstAttr->s32AiDev));
}

void TestMedia_StopAudio(void)
{
    s32 s32Dev = g_stMainServerAttr.stMainMediaAttr.s32AiDev;
    EXPECT_EQ(0, HI_Media_Ai_StopManualMode(s32Dev));
    EXPECT_EQ(0, HI_Media_Ai_stop(s32Dev));
}
