// The source layer against the simulated receiver chip and the media
// engine stand-in's capture pad: what a source plugged into the box makes
// the layer report, and what reaches the capture driver.
#include <gtest/gtest.h>

#include <cstring>
#include <dirent.h>
#include <mutex>
#include <string>
#include <vector>

#include "app/Main.h"
#include "app/MainConfig.h"
#include "config/Config.h"
#include "media/AVSource.h"
#include "media/Edid.h"
#include "media/MediaSnr.h"
#include "platform/MiSnr.h"
#include "platform/host/HostHdmiRx.h"
#include "tests/media/EdidTest.h"
#include "tests/media/MediaTest.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"

using std::chrono::milliseconds;

static AVSourceVideoInfo_S Timing(u32 u32Width, u32 u32Height, u32 u32Fps, u32 bInterlace = 0)
{
    AVSourceVideoInfo_S st = {};
    st.bsupport = 1;
    st.u32Hactive = u32Width;
    st.u32Vactive = u32Height;
    st.u32Fps = u32Fps;
    st.bInterlace = bInterlace;
    return st;
}

// Inputs inside the range reach the capture driver, which reports the lock
// and gives the record back with both sizes, the rate cut to 60 and the
// scan. One outside is not passed on: the driver keeps the last accepted
// record, sending stops and the input is marked incompatible. A loss
// clears the driver's record and the mark.
TEST(NotifyTest, AcceptedRangeReachesTheCaptureDriver)
{
    HostMedia_Reset();
    const struct { AVSourceVideoInfo_S st; u8 u8Fps; } astCases[] = {
        {Timing(1920, 1200, 60), 60}, {Timing(256, 128, 30), 30},  {Timing(1280, 720, 63), 60},
        {Timing(1920, 540, 60, 1), 60}, {Timing(1921, 1080, 60), 0}, {Timing(1920, 1201, 60), 0},
        {Timing(255, 720, 60), 0},      {Timing(1280, 127, 60), 0},   {Timing(1280, 720, 64), 0},
        {Timing(3840, 2160, 30), 0},
    };
    for (const auto &c : astCases) {
        SCOPED_TRACE(std::to_string(c.st.u32Hactive) + "x" + std::to_string(c.st.u32Vactive) + "@" +
                     std::to_string(c.st.u32Fps));
        g_s32StopSend = c.u8Fps == 0;
        ASSERT_EQ(0, MAIN_AVSourceMsgCallback(EN_SIGNAL_LOCK, &c.st));
        EXPECT_EQ(c.u8Fps == 0, g_video_incompatible);
        EXPECT_EQ(c.u8Fps != 0, g_s32StopSend);
        EXPECT_EQ((u32)EN_SIGNAL_LOCK, Media_SNR_GetState());
        if (c.u8Fps == 0) {
            EXPECT_EQ(1920u, Engine().u32PadWidth);
            continue;
        }
        SnrVideoInfo_S stBack = {};
        ASSERT_EQ(0, Media_SNR_GetVideoInfo(&stBack));
        EXPECT_EQ((std::vector<u32>{1, c.st.u32Hactive, c.st.u32Vactive, c.st.u32Hactive, c.st.u32Vactive, c.u8Fps,
                                    c.st.bInterlace}),
                  (std::vector<u32>{stBack.bsupport, stBack.u16VideoWidth, stBack.u16VideoHeight, stBack.u32Width,
                                    stBack.u32Height, stBack.u8VideoFps, stBack.u16Interlace}));
    }
    AVSourceVideoInfo_S stNone = {};
    ASSERT_EQ(0, MAIN_AVSourceMsgCallback(EN_SIGNAL_NO_CONNECTION, &stNone));
    EXPECT_EQ((u32)EN_SIGNAL_NO_CONNECTION, Media_SNR_GetState());
    EXPECT_EQ(0, g_video_incompatible);
    SnrVideoInfo_S stBack;
    memset(&stBack, 0xFF, sizeof(stBack));
    ASSERT_EQ(0, Media_SNR_GetVideoInfo(&stBack));
    EXPECT_EQ(0, stBack.bsupport);
    EXPECT_EQ(0, stBack.u16VideoWidth);
    g_s32StopSend = 1;
    EXPECT_EQ(0, MAIN_AVSourceStopStream());
    EXPECT_EQ(0, g_s32StopSend);
}

// A refused input says so once, by the name its source gives it (whole
// lines of an interlaced one); an accepted one does not.
TEST(NotifyTest, RefusedInputIsNamedInTheLog)
{
    const struct { AVSourceVideoInfo_S st; const char *pszName; } astCases[] = {
        {Timing(3840, 2160, 30), "input 3840x2160p30 not supported"},
        {Timing(2560, 1440, 59), "input 2560x1440p59 not supported"},
        {Timing(1920, 1080, 120), "input 1920x1080p120 not supported"},
        {Timing(3840, 1080, 60, 1), "input 3840x2160i60 not supported"},
        {Timing(1920, 1080, 60), nullptr},
    };
    for (const auto &c : astCases) {
        std::string strOut = Child_Run([&c] { (void)MAIN_AVSourceMsgCallback(EN_SIGNAL_LOCK, &c.st); });
        if (c.pszName == nullptr) {
            EXPECT_EQ(std::string::npos, strOut.find("not supported")) << strOut;
            continue;
        }
        size_t sizeAt = strOut.find(c.pszName);
        ASSERT_NE(std::string::npos, sizeAt) << strOut;
        EXPECT_EQ(std::string::npos, strOut.find("not supported", sizeAt + strlen(c.pszName))) << strOut;
    }
}

// The EDID commands of the capture driver: one the check refuses is not
// sent, and the driver refuses a record claiming more than its buffer.
TEST(NotifyTest, EdidThroughTheCaptureDriver)
{
    HostMedia_Reset();
    std::vector<u8> e = Edid_Tv4k();
    ASSERT_EQ(0, Media_SNR_SetEdidInfo(e.data(), EDID_LEN));
    std::vector<u8> bad = Edid_Hex("00 FF FF FF FF FF FF 00");
    bad.resize(EDID_LEN);
    EXPECT_EQ(-1, Media_SNR_SetEdidInfo(bad.data(), EDID_LEN));
    u8 au8Back[EDID_LEN] = {};
    ASSERT_EQ(0, Media_SNR_GetEdidInfo(au8Back));
    EXPECT_EQ(e, std::vector<u8>(au8Back, au8Back + EDID_LEN));
    u8 au8Rec[MI_SNR_EDID_RECORD_LEN] = {1, 0, 0, 0, 1, 2, 0, 0};   // 513 bytes
    EXPECT_NE(MI_SUCCESS, MI_SNR_CustFunction(0, MI_SNR_CMD_SET_EDID, sizeof(au8Rec), au8Rec, 0));
}

struct Report {
    SignalState_E enState;
    AVSourceVideoInfo_S stInfo;
};

static std::mutex s_ReportMutex;
static std::vector<Report> s_reports;
static u32 s_u32LockPauseMs;                // the recorder holds the source thread this long on a lock

static s32 RecordNotify(SignalState_E enState, const AVSourceVideoInfo_S *pstInfo)
{
    {
        std::lock_guard<std::mutex> lock(s_ReportMutex);
        s_reports.push_back({enState, *pstInfo});
    }
    if (enState == EN_SIGNAL_LOCK)
        std::this_thread::sleep_for(milliseconds(s_u32LockPauseMs));
    return 0;
}

static u32 HpdEvents(void)
{
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    return HostHdmiRx_Get()->u32HpdEvents;
}

static bool MipiOn(void)
{
    std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
    return (HostHdmiRx_Get()->au8Mipi[0x05] & 0x36) == 0;
}

// A layer on the simulated receiver with a recording notify callback.
struct AVSourceTest : public testing::Test {
    void *h = nullptr;

    void SetUp() override
    {
        HostHdmiRx_Reset();
        HostMedia_Reset();
        s_reports.clear();
        s_u32LockPauseMs = 0;
        testing::internal::CaptureStdout();   // the driver talks a lot
        h = AVSource_Init();
        ASSERT_NE(nullptr, h);
        ASSERT_EQ(0, AVSource_RegisterNotify(h, RecordNotify, MAIN_AVSourceStopStream));
    }
    void TearDown() override
    {
        EXPECT_EQ(0, AVSource_deInit(h));
        std::string out = testing::internal::GetCapturedStdout();
        if (HasFailure())
            fprintf(stderr, "%s", out.c_str());
    }
    static std::vector<Report> Reports()
    {
        std::lock_guard<std::mutex> lock(s_ReportMutex);
        return s_reports;
    }
    static u32 Count(SignalState_E enState)
    {
        u32 n = 0;
        for (const Report &r : Reports())
            n += r.enState == enState;
        return n;
    }
    // Starts the layer with this input plugged; waits for its lock.
    void PlugAndLock(const char *pszMode)
    {
        ASSERT_EQ(0, AVSource_Start(h));
        ASSERT_EQ(0, HostHdmiRx_Plug(pszMode));
        ASSERT_TRUE(Test_WaitFor([] { return Count(EN_SIGNAL_LOCK) == 1; }));
    }
};

static u32 ThreadCount(void)
{
    u32 n = 0;
    DIR *pDir = opendir("/proc/self/task");
    while (pDir != nullptr && readdir(pDir) != nullptr)
        n++;
    if (pDir != nullptr)
        closedir(pDir);
    return n;
}

// A lock is reported once with its timing, the 5 V and HDCP words follow
// the input, and an unplug is one loss with a cleared record. The status
// record carries the locked timing and the source's colour space until
// the loss. A second start starts nothing; the stop joins both threads.
TEST_F(AVSourceTest, LockOnceThenLoss)
{
    u32 u32Threads = ThreadCount();
    HostHdmiRx_SetHdcp(true);
    {
        std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
        HostHdmiRx_Get()->u8AviColor = 2;
    }
    PlugAndLock("1280x720p50");
    AVSourceStatus_S stStatus = {};
    void *hSource = h;
    EXPECT_TRUE(Test_WaitFor([&] { return AVSource_getStatus(hSource, &stStatus) == 0 && stStatus.u32ColorSpace == 2; },
                             2000));
    EXPECT_EQ(1280u, stStatus.u32Width);
    EXPECT_EQ(720u, stStatus.u32Height);
    EXPECT_EQ(50u, stStatus.u32Fps);
    EXPECT_EQ(0u, stStatus.u32Scan);
    EXPECT_EQ(2u, stStatus.u32ColorSpace);
    ASSERT_EQ(0, AVSource_Start(h));
    EXPECT_EQ(u32Threads + 2, ThreadCount());
    const AVSourceVideoInfo_S st = Reports().back().stInfo;
    EXPECT_EQ(1, st.bsupport);
    EXPECT_EQ(1280u, st.u32Hactive);
    EXPECT_EQ(720u, st.u32Vactive);
    EXPECT_EQ(1980u, st.u32Htotal);
    EXPECT_EQ(50u, st.u32Fps);
    EXPECT_EQ(1, g_signal_detect);
    EXPECT_TRUE(Test_WaitFor([] { return g_hdcp_state == 1; }, 2000));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(1u, Count(EN_SIGNAL_LOCK));
    HostHdmiRx_Unplug();
    ASSERT_TRUE(Test_WaitFor([] { return Count(EN_SIGNAL_NO_CONNECTION) == 1; }, 2000));
    AVSourceVideoInfo_S stNone = {};
    EXPECT_EQ(0, memcmp(&stNone, &Reports().back().stInfo, sizeof(stNone)));
    ASSERT_EQ(0, AVSource_getStatus(h, &stStatus));
    EXPECT_EQ(0u, stStatus.u32Width);
    EXPECT_EQ(0u, stStatus.u32ColorSpace);
    EXPECT_EQ(-1, AVSource_getStatus(nullptr, &stStatus));
    EXPECT_EQ(0, g_signal_detect);
    EXPECT_EQ(0, AVSource_Stop(h));
    EXPECT_EQ(u32Threads, ThreadCount());
}

// With the source thread held up in the callback, the watcher alone turns
// the MIPI output off when the cable goes, and the capture pad sees no
// more pictures.
TEST_F(AVSourceTest, WatcherCutsTheOutputOnUnplug)
{
    s_u32LockPauseMs = 1500;
    PlugAndLock("1920x1080p60");
    EXPECT_TRUE(MipiOn());
    EXPECT_TRUE(Engine().bPadOutput);
    HostHdmiRx_Unplug();
    EXPECT_TRUE(Test_WaitFor([] { return !MipiOn(); }, 200));
    EXPECT_FALSE(Engine().bPadOutput);
    EXPECT_EQ(0u, Count(EN_SIGNAL_NO_CONNECTION));   // the source thread is still in the callback
    EXPECT_TRUE(Test_WaitFor([] { return Count(EN_SIGNAL_NO_CONNECTION) == 1; }, 3000));
}

// The EDID held is not written again; a new one is, with a loss reported
// before and a lock again after the hot-plug pulse.
TEST_F(AVSourceTest, NewEdidIsWrittenOnce)
{
    PlugAndLock("1920x1080p60");
    u32 u32Hpd = HpdEvents();
    ASSERT_EQ(0, AVSource_setEdid(h, Default_Edid_Block.au8));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(u32Hpd, HpdEvents());
    EXPECT_EQ(0u, Count(EN_SIGNAL_NO_CONNECTION));

    ASSERT_EQ(0, AVSource_setEdid(h, Edid_4100L_Lib[3].au8));
    ASSERT_TRUE(Test_WaitFor([] { return Count(EN_SIGNAL_NO_CONNECTION) == 1; }, 1000));
    ASSERT_TRUE(Test_WaitFor([] { return Count(EN_SIGNAL_LOCK) == 2; }, 6000));
    {
        std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
        EXPECT_EQ(0, memcmp(HostHdmiRx_Get()->au8EdidRam, Edid_4100L_Lib[3].au8, 128));   // block 1 gets the chip's address
    }
    EXPECT_EQ(u32Hpd + 2, HpdEvents());
    u32Hpd = HpdEvents();
    ASSERT_EQ(0, AVSource_setEdid(h, Edid_4100L_Lib[3].au8));
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(u32Hpd, HpdEvents());
}

// The preset loader hands a built-in EDID to the layer; an unknown index
// loads nothing. Without a layer a built-in preset still reports success,
// a stored one not. (Stored presets and their fallback are seen end to end.)
TEST_F(AVSourceTest, PresetLoader)
{
    u8 au8[EDID_LEN];
    for (s32 s32Index : {2, 9, -1}) {
        g_stConfigAttr.stManual.s32Edid_index = s32Index;
        ASSERT_EQ(0, MAIN_SetEDID_preset(h));
        ASSERT_EQ(0, AVSource_getEdid(h, au8));
        EXPECT_EQ(0, memcmp(au8, Edid_4100L_Lib[2].au8, EDID_LEN)) << s32Index;
    }
    EXPECT_EQ(0, MAIN_SetEDID_preset(nullptr));
    g_stConfigAttr.stManual.s32Edid_index = EDID_INDEX_USER1;
    EXPECT_EQ(-1, MAIN_SetEDID_preset(nullptr));
    EXPECT_EQ(-1, AVSource_setEdid(nullptr, au8));
}

// The reset line: the first call drives it high before the level asked for.
TEST(MainAVSourceTest, ResetLine)
{
    std::string out = Child_Run([] {
        MAIN_HDMIRX_RESET_set(0);
        printf("%s|", File_Read("/sys/class/gpio/gpio12/direction").c_str());
        printf("%s|", File_Read("/sys/class/gpio/gpio12/value").c_str());
        MAIN_HDMIRX_RESET_set(1);
        printf("%s", File_Read("/sys/class/gpio/gpio12/value").c_str());
    });
    EXPECT_EQ(std::string("out\n|0", 6), out.substr(0, 6));
    EXPECT_NE(std::string::npos, out.find("|1"));
}

// Each stored EDID keeps its bytes and its hex text, and reaches the file
// with the next save.
TEST(StoredEdidTest, BytesTextAndSave)
{
    std::string out = Child_Run([] {
        MAIN_Var_Init();
        if (MAIN_CONFIG_Init() != 0 || MAIN_CONFIG_Recv(&g_stConfigAttr, &g_stConfigAttrNew) != 0)
            return;
        const u8 *apu8[3] = {Edid_4100L_Lib[4].au8, Edid_4100L_Lib[5].au8, Default_Edid_Block.au8};
        const struct { s32 (*pfnSet)(const u8 *); s32 (*pfnGet)(u8 *); const char *pszText; } astStores[] = {
            {setEdid, getEdid, g_stConfigAttrNew.azRxEdid},
            {setUser1Edid, getUser1Edid, g_stConfigAttrNew.azUser1Edid},
            {setUser2Edid, getUser2Edid, g_stConfigAttrNew.azUser2Edid}};
        for (u32 i = 0; i < 3; i++)
            astStores[i].pfnSet(apu8[i]);
        for (u32 i = 0; i < 3; i++) {
            u8 au8[EDID_LEN];
            astStores[i].pfnGet(au8);
            printf("store %u %d %d\n", i, memcmp(au8, apu8[i], EDID_LEN) == 0, astStores[i].pszText == File_Hex(apu8[i], EDID_LEN));
        }
        fflush(stdout);
        sleep(CONFIG_SAVE_DELAY_S + 1);
        printf("\nfile %d\n", File_Read(CONFIG_FILE).find(File_Hex(apu8[2], EDID_LEN)) != std::string::npos);
    });
    EXPECT_NE(std::string::npos, out.find("store 0 1 1\nstore 1 1 1\nstore 2 1 1\n")) << out;
    EXPECT_NE(std::string::npos, out.find("\nfile 1\n")) << out;
}
