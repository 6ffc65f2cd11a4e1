#include "tests/rtsp/StreamLiveTest.h"

#include "core/Main.h"
#include "media/MediaFrame.h"
#include "platform/host/HostMedia.h"
#include "tests/media/MainMediaTest.h"
#include "tests/media/MediaTestAudio.h"

static const u32 GOP_TIMEOUT_MS = 60000;   // a first GOP of a new size, on a slow machine

static bool GopsReady(void)
{
    HostMedia_S st;
    HostMedia_Get(&st);
    return st.astVenc[0].bGopReady && st.astVenc[1].bGopReady;
}

void StreamLiveTest::SetUp()
{
    WrapperTest::SetUp();
    g_stMainServerAttr.bMediaSend = 1;
    ASSERT_EQ(0, MAIN_Media_Start(&g_stMainServerAttr.stMainMediaAttr));
    s32 bInit = 0;
    ASSERT_EQ(0, MAIN_Media_Frame_Init(&bInit));
    ASSERT_EQ(0, MAIN_Media_Frame_Start());
    TestMedia_BuildVideo();
    TestMedia_StartAudio(true);
    ASSERT_TRUE(Test_WaitFor(GopsReady, GOP_TIMEOUT_MS));
}

void StreamLiveTest::TearDown()
{
    TestMedia_StopAudio();
    TestMedia_StopVideo();
    EXPECT_EQ(0, HI_Media_Aenc_Stop(0));
    EXPECT_EQ(0, MAIN_Media_Frame_Stop());
    MEDIA_LIST_DelAll();
    HostMedia_Reset();
    WrapperTest::TearDown();
}
