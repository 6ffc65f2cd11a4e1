#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <sstream>
#include <string>
#include <thread>

#include "media/HdmiRxPriv.h"
#include "media/HdmiRxMipi.h"
#include "platform/host/HostHdmiRx.h"
#include "platform/host/HostSim.h"

// The driver against the simulated chip, stepped every 50 ms as the source
// thread does; the source's clock and SCDT follow hot-plug by 50 and 150 ms.
struct HdmiRxTest : public testing::Test {
    HostHdmiRx_S *pstChip = nullptr;
    HdmiRxAttr_S *pstRx = nullptr;
    std::string all;                    // everything the driver printed, shown when the test fails

    void SetUp() override
    {
        pstChip = HostHdmiRx_Get();
        HostHdmiRx_Reset();
        testing::internal::CaptureStdout();
    }
    void TearDown() override
    {
        Out();
        (void)testing::internal::GetCapturedStdout();
        if (HasFailure())
            fprintf(stderr, "%s", all.c_str());
    }
    // What the driver printed since the last call.
    std::string Out()
    {
        std::string s = testing::internal::GetCapturedStdout();
        testing::internal::CaptureStdout();
        all += s;
        return s;
    }
    void Steps(u32 u32Count)
    {
        for (u32 i = 0; i < u32Count; i++) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            hdmirx_fsm(pstRx);
        }
    }
    // Steps until the output runs, at most 30 times.
    bool Locked()
    {
        for (u32 i = 0; i < 30; i++) {
            Steps(1);
            if (hdmirx_get_run(pstRx) == 1)
                return true;
        }
        return false;
    }
    void PlugAndLock(const char *pszMode)
    {
        ASSERT_EQ(0, HostHdmiRx_Plug(pszMode));
        pstRx = hdmirx_init();
        ASSERT_TRUE(Locked()) << Out();
    }
    bool MipiOn() { return (pstChip->au8Mipi[0x05] & 0x36) == 0; }
    u32 HpdEvents()
    {
        std::lock_guard<std::recursive_mutex> lock(HostRx_Lock());
        return pstChip->u32HpdEvents;
    }
    // Two hot-plug events from u32From on: low, then high 1.2 s later.
    void ExpectPulse(u32 u32From)
    {
        ASSERT_EQ(u32From + 2, HpdEvents());
        const HostRxHpdEvent_S &stLow = pstChip->astHpd[u32From % HOSTRX_HPD_EVENTS];
        const HostRxHpdEvent_S &stHigh = pstChip->astHpd[(u32From + 1) % HOSTRX_HPD_EVENTS];
        EXPECT_FALSE(stLow.bHigh);
        EXPECT_TRUE(stHigh.bHigh);
        EXPECT_GE(stHigh.u64Ms - stLow.u64Ms, 1200u);
    }
    // The EDID the source reads has both checksums right.
    std::vector<u8> ServedEdid()
    {
        u8 au8Served[256];
        HostHdmiRx_SourceEdid(au8Served);
        u8 au8Sum[2] = {0, 0};
        for (u32 i = 0; i < 256; i++)
            au8Sum[i / 128] = (u8)(au8Sum[i / 128] + au8Served[i]);
        EXPECT_EQ(0, au8Sum[0]);
        EXPECT_EQ(0, au8Sum[1]);
        return std::vector<u8>(au8Served, au8Served + 256);
    }
};

static size_t Count(const std::string &s, const std::string &what)
{
    size_t n = 0;
    for (size_t at = s.find(what); at != std::string::npos; at = s.find(what, at + 1))
        n++;
    return n;
}

struct Timing {
    const char *pszMode;
    std::vector<u32> geometry;           // active and total H, V; H then V front porch, sync, back porch;
                                         // interlace; frame rate
    u32 u32PixelKHz;
    u8 u8Pll;
};

struct HdmiRxLockTest : public HdmiRxTest, public testing::WithParamInterface<Timing> {};

// Each input locks, with the CEA-861 timing measured and the MIPI output
// running with the PLL byte for its pixel clock.
TEST_P(HdmiRxLockTest, LocksAndReportsTiming)
{
    const Timing &t = GetParam();
    HostHdmiRx_SetAudio(48000, 0);
    PlugAndLock(t.pszMode);
    const HdmiRxVideoInfo_S &v = pstRx->stVideoInfo;
    EXPECT_EQ(t.geometry, (std::vector<u32>{v.u16HActive, v.u16VActive, v.u16HTotal, v.u16VTotal, v.u16HFrontPorch,
                                            v.u16HSyncWidth, v.u16HBackPorch, v.u16VFrontPorch, v.u16VSyncWidth,
                                            v.u16VBackPorch, v.u16ScanMode, v.u32FrameRate}));
    EXPECT_EQ(1, v.u16HSyncPol);
    EXPECT_EQ(1, v.u16VSyncPol);
    EXPECT_NEAR(t.u32PixelKHz, v.u32PixelClk, t.u32PixelKHz / 50);
    EXPECT_NEAR(t.u32PixelKHz, v.u32TmdsClk, t.u32PixelKHz / 50);
    EXPECT_EQ(48u, pstRx->u32AudioFs);
    EXPECT_EQ(1u, hdmirx_get_hdmi_sta(pstRx));

    AVSourceVideoInfo_S stMsg = {};
    hdmirx_get_video_msg(pstRx, &stMsg);
    EXPECT_EQ(v.u16VTotal, stMsg.u32Vtotal);
    EXPECT_EQ(v.u16ScanMode, stMsg.bInterlace);
    hdmirx_get_video_msg(pstRx, nullptr);

    EXPECT_TRUE(MipiOn());
    EXPECT_EQ(t.u8Pll, pstChip->au8Mipi[0xB0]);
    EXPECT_EQ(v.u16ScanMode ? 0x20 : 0x00, pstChip->au8Mipi[0x26] & 0x20);
    EXPECT_EQ(2, pstChip->aau8Hdmi[0][0x6C] & 0x03);                 // RGB converted, BT.709
    EXPECT_EQ(0xea, pstChip->aau8Hdmi[1][0x73]);
    Steps(2);
    EXPECT_EQ(1, pstRx->u8MipiStable);
    EXPECT_NEAR(t.u32PixelKHz, pstRx->u32MipiPclkKHz, t.u32PixelKHz / 50);
}

INSTANTIATE_TEST_SUITE_P(
    Timings, HdmiRxLockTest,
    testing::Values(Timing{"1920x1080p60", {1920, 1080, 2200, 1125, 88, 44, 148, 4, 5, 36, 0, 60}, 148500, 0x23},
                    Timing{"1280x720p50", {1280, 720, 1980, 750, 440, 40, 220, 5, 5, 20, 0, 50}, 74250, 0x01},
                    Timing{"1920x1080i60", {1920, 540, 2200, 562, 88, 44, 148, 2, 5, 15, 1, 60}, 74250, 0x01},
                    Timing{"3840x2160p30", {3840, 2160, 4400, 2250, 176, 88, 296, 8, 10, 72, 0, 30}, 297000, 0x67}),
    [](const testing::TestParamInfo<Timing> &info) { return std::string("m") + info.param.pszMode; });

// Set-up measures the reference clock and serves its EDID with the
// physical address latched; an EDID without a CEA extension keeps the
// address registers and still gets both checksums.
TEST_F(HdmiRxTest, SetUpMeasuresClockAndWritesEdid)
{
    pstRx = hdmirx_init();
    EXPECT_NE(std::string::npos, Out().find("RCLK=27000 KHz\n"));
    EXPECT_EQ(27000u, pstRx->u32RclkKHz);
    EXPECT_EQ(27, pstChip->aau8Hdmi[0][0x1E] & 0x3F);
    EXPECT_EQ(0, pstChip->aau8Hdmi[0][0x0F] & 0x07);                 // left in bank 0
    EXPECT_EQ(0xA8, pstChip->aau8Hdmi[0][0x4B]);                     // EDID RAM write-protected again
    EXPECT_FALSE(pstChip->bHpd);                                      // nothing plugged yet

    u8 au8Edid[256];
    hdmirx_read_edid(pstRx, au8Edid, sizeof(au8Edid));
    EXPECT_EQ(0, memcmp(au8Edid, pstChip->au8EdidRam, 256));
    std::vector<u8> served = ServedEdid();
    u32 u32Offset;
    EXPECT_EQ(0x1000, cec_get_edid_phys_addr(served.data(), 256, &u32Offset));
    EXPECT_EQ(u32Offset, pstChip->au8Latched[0]);

    au8Edid[126] = 0;
    au8Edid[127] = (u8)(au8Edid[127] + 1);
    au8Edid[200] = 0x55;
    u8 au8Before[3];
    memcpy(au8Before, &pstChip->aau8Hdmi[0][0xC6], 3);
    hdmirx_update_edid_data(pstRx, au8Edid, 256);
    EXPECT_EQ(0, memcmp(au8Before, &pstChip->aau8Hdmi[0][0xC6], 3));
    EXPECT_EQ(0x55, ServedEdid()[200]);
}

// A new EDID is served after a 1.2 s hot-plug pulse, with its own physical
// address and valid checksums; the same EDID again changes nothing. The
// driver lock is not held across the pulse: the watcher's calls finish
// while the update still waits.
TEST_F(HdmiRxTest, EdidUpdatePulsesHotPlugOnlyForANewEdid)
{
    PlugAndLock("1920x1080p60");
    u8 au8Edid[256];
    hdmirx_read_edid(pstRx, au8Edid, sizeof(au8Edid));
    u32 u32Events = HpdEvents();
    hdmirx_update_edid_data(pstRx, au8Edid, 256);
    hdmirx_update_edid_data(pstRx, au8Edid, 128);
    EXPECT_EQ(u32Events, HpdEvents());

    u32 u32Offset;
    ASSERT_EQ(0x1000, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    au8Edid[u32Offset] = 0x20;                                        // 2.0.0.0
    au8Edid[255] = (u8)(au8Edid[255] - 0x10);
    au8Edid[20] ^= 0x01;
    std::atomic<bool> bDone{false};
    std::thread thUpdate([&] {
        hdmirx_update_edid_data(pstRx, au8Edid, 256);
        bDone = true;
    });
    while (HpdEvents() == u32Events)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    (void)hdmirx_get_conect_sta(pstRx);
    hdmirx_disable_mipi(pstRx);
    EXPECT_FALSE(bDone);
    thUpdate.join();
    ExpectPulse(u32Events);
    std::vector<u8> served = ServedEdid();
    EXPECT_EQ(0, memcmp(served.data(), pstChip->au8SourceEdid, 256));    // what the source read on the rise
    EXPECT_EQ(0x20, served[u32Offset]);
    EXPECT_EQ(0x01, served[20] & 0x01);
    EXPECT_TRUE(Locked());
}

// Walks stay inside the announced blocks and each data-block area.
TEST(HdmiRxEdidTest, PhysicalAddressSearchStaysInsideTheBlocks)
{
    u8 au8Edid[384] = {};
    u32 u32Offset = 99;
    au8Edid[126] = 1;
    u8 *pu8Ext = au8Edid + 128;
    const u8 au8Blocks[] = {0x42, 0x10, 0x04, 0x65, 0x03, 0x0C, 0x00, 0x12, 0x00};   // video, short VSDB
    pu8Ext[0] = 0x02;
    pu8Ext[1] = 0x03;
    pu8Ext[2] = 4 + sizeof(au8Blocks);
    memcpy(pu8Ext + 4, au8Blocks, sizeof(au8Blocks));
    EXPECT_EQ(0x1200, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    EXPECT_EQ(128u + 4 + 3 + 4, u32Offset);
    pu8Ext[7] = 0x63;                                                 // VSDB of 3 bytes: too short
    EXPECT_EQ(0xFFFF, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    EXPECT_EQ(0u, u32Offset);
    pu8Ext[7] = 0x7F;                                                 // runs past the area
    EXPECT_EQ(0xFFFF, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    pu8Ext[7] = 0x65;
    pu8Ext[2] = 10;                                                   // area ends inside the VSDB
    EXPECT_EQ(0xFFFF, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    pu8Ext[2] = 0xFF;                                                 // past the block: clipped at 127
    memset(pu8Ext + 4 + sizeof(au8Blocks), 0x5F, 128 - 4 - sizeof(au8Blocks));
    EXPECT_EQ(0x1200, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    pu8Ext[1] = 0x01;                                                 // not revision 3
    EXPECT_EQ(0xFFFF, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    pu8Ext[1] = 0x03;
    au8Edid[126] = 3;                                                 // announces more than the length
    memcpy(au8Edid + 256, pu8Ext, 128);
    pu8Ext[0] = 0x10;
    EXPECT_EQ(0x1200, cec_get_edid_phys_addr(au8Edid, 384, &u32Offset));
    EXPECT_EQ(0xFFFF, cec_get_edid_phys_addr(au8Edid, 256, &u32Offset));
    EXPECT_EQ(0xFFFF, cec_get_edid_phys_addr(au8Edid, 200, &u32Offset));
}

// A restart (a new EDID the source keeps its link through) brings the
// output up again; a timing change drops the output and locks again at the
// new timing; an unplug drops everything, seen a step late when reads fail;
// a replug locks.
TEST_F(HdmiRxTest, RestartTimingChangeUnplugAndReplug)
{
    PlugAndLock("1920x1080p60");
    hdmirx_restart_video(pstRx);
    EXPECT_EQ(0u, hdmirx_get_run(pstRx));
    EXPECT_FALSE(MipiOn());
    ASSERT_TRUE(Locked());
    EXPECT_TRUE(MipiOn());
    ASSERT_EQ(0, HostHdmiRx_Plug("1280x720p50"));
    Steps(1);
    EXPECT_EQ(0u, hdmirx_get_run(pstRx));
    EXPECT_FALSE(MipiOn());
    EXPECT_NE(std::string::npos, Out().find("# Input Clock Change Detect #\n"));
    ASSERT_TRUE(Locked());
    EXPECT_EQ(720, pstRx->stVideoInfo.u16VActive);
    EXPECT_EQ(50u, pstRx->stVideoInfo.u32FrameRate);
    EXPECT_EQ(0x01, pstChip->au8Mipi[0xB0]);
    EXPECT_EQ(4, pstRx->stMipi.u8P2mDelay);

    EXPECT_EQ(1u, hdmirx_get_conect_sta(pstRx));
    HostHdmiRx_Unplug();
    EXPECT_EQ(0u, hdmirx_get_conect_sta(pstRx));                      // clock loss pending
    pstChip->u32FailReads = 3;                                        // 0x0F, 0xAA and 0x05 of the next step
    Steps(1);
    EXPECT_EQ(1u, hdmirx_get_hdmi_sta(pstRx));                        // failed reads: nothing pending yet
    EXPECT_NE(std::string::npos, Out().find("ERROR: i2c_read 90 05\r\n"));
    Steps(1);
    EXPECT_EQ(0u, hdmirx_get_run(pstRx));
    EXPECT_EQ(0u, hdmirx_get_hdmi_sta(pstRx));
    EXPECT_FALSE(pstChip->bHpd);
    EXPECT_FALSE(MipiOn());
    EXPECT_NE(std::string::npos, Out().find("# 5V state change INT #\n"));
    Steps(3);
    EXPECT_EQ(0u, hdmirx_get_run(pstRx));
    ASSERT_EQ(0, HostHdmiRx_Plug("1920x1080p60"));
    ASSERT_TRUE(Locked());
    EXPECT_EQ(1920, pstRx->stVideoInfo.u16HActive);
    EXPECT_TRUE(pstChip->bHpd);
}

// A source unplugged and plugged again while the driver is busy elsewhere
// keeps hot-plug high and its link up: the 5 V change and the SCDT change
// come in the same step, and the input is brought up without a new edge.
TEST_F(HdmiRxTest, ReplugWhileBusyLocksWithoutANewEdge)
{
    PlugAndLock("1920x1080p60");
    u32 u32Hpd = HpdEvents();
    HostHdmiRx_Unplug();
    ASSERT_EQ(0, HostHdmiRx_Plug("1280x720p50"));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_EQ(1u, hdmi_is_scdt_on(pstRx));                           // the link is up again
    ASSERT_TRUE(Locked()) << Out();
    EXPECT_EQ(720, pstRx->stVideoInfo.u16VActive);
    EXPECT_TRUE(MipiOn());
    EXPECT_EQ(u32Hpd, HpdEvents());
    EXPECT_EQ(1u, hdmirx_get_hdmi_sta(pstRx));
    EXPECT_NE(std::string::npos, Out().find("# 5V state change INT #\n"));
}

// A driver message, cut to 127 characters, stands behind a line feed and
// a carriage return and adds no line end of its own; the driver's
// messages on the way to a locked input all come so.
TEST_F(HdmiRxTest, MessagesStandBehindLineFeedAndCarriageReturn)
{
    Out();
    dev_err("SCDT %s", "ON");
    dev_err("%s", std::string(200, 'x').c_str());
    EXPECT_EQ("\n\rSCDT ON\n\r" + std::string(127, 'x'), Out());

    PlugAndLock("1920x1080p60");
    std::string out = Out();
    for (const char *pszLine : {"\n\rhdmirx init ok", "\n\rsetup csc matrix: 3", "\n\rmipi pclk = 148.500 MHz",
                                "\n\rSCDT ON", "\n\rmclk_inv: 1, lpx_num: 3"})
        EXPECT_NE(std::string::npos, out.find(pszLine)) << pszLine;
}

// An unknown timing is answered with the known ones, each of which plugs.
TEST_F(HdmiRxTest, UnknownTimingListsTheKnownOnes)
{
    std::string strReply = HostSim_Exec("plug 4k");
    const std::string strHead = "error: plug: unknown timing; known: ";
    ASSERT_EQ(0u, strReply.rfind(strHead, 0)) << strReply;
    std::istringstream in(strReply.substr(strHead.size()));
    u32 u32Names = 0;
    for (std::string strName; in >> strName; u32Names++)
        EXPECT_EQ("ok\n", HostSim_Exec("plug " + strName)) << strName;
    EXPECT_GE(u32Names, 10u);
    EXPECT_NE(std::string::npos, strReply.find(" 1920x1080i60 "));
}

// A DVI input has no AVI infoframe: it is taken as RGB and converted with
// BT.601; a YCbCr input passes. The sim words set up the source.
TEST_F(HdmiRxTest, ColourSpaceDecidesTheConversion)
{
    ASSERT_EQ("ok\n", HostSim_Exec("plug 1280x720p60 dvi"));
    pstRx = hdmirx_init();
    ASSERT_TRUE(Locked());
    EXPECT_EQ(2, pstChip->aau8Hdmi[0][0x6C] & 0x03);
    EXPECT_EQ(0x09, pstChip->aau8Hdmi[1][0x73]);
    EXPECT_EQ(std::string::npos, Out().find("-------------------------------HDMI"));

    HostHdmiRx_Reset();
    ASSERT_EQ("ok\n", HostSim_Exec("plug 1920x1080p60 yuv422"));
    pstRx = hdmirx_init();
    ASSERT_TRUE(Locked());
    EXPECT_EQ(HDMI_COLORSPACE_YUV422, pstRx->stAviInfo.enColorspace);
    EXPECT_EQ(0, pstChip->aau8Hdmi[0][0x6C] & 0x03);
}

// The AVI infoframe is the 16 registers from 0x14 on behind its type,
// version and length: the byte after them is not read, the buffer's last
// byte stays 0.
TEST_F(HdmiRxTest, AviInfoFrameIsSixteenRegistersFromChecksumOn)
{
    pstChip->aau8Hdmi[2][0x24] = 0xA5;
    PlugAndLock("1920x1080p60");
    std::string out = Out();
    const std::string strHead = "avi infoframe:";
    size_t at = out.find(strHead);
    ASSERT_NE(std::string::npos, at);
    std::string strWant;
    char az[8];
    std::vector<u8> bytes = {0x82, pstChip->aau8Hdmi[2][0x13], pstChip->aau8Hdmi[2][0x12]};
    bytes.insert(bytes.end(), &pstChip->aau8Hdmi[2][0x14], &pstChip->aau8Hdmi[2][0x24]);
    bytes.push_back(0);
    for (u8 u8 : bytes) {
        snprintf(az, sizeof(az), "0x%02x ", u8);
        strWant += az;
    }
    EXPECT_EQ(strWant + "\n", out.substr(at + strHead.size(), strWant.size() + 1));
    EXPECT_EQ(HDMI_COLORSPACE_RGB, pstRx->stAviInfo.enColorspace);
    EXPECT_EQ(16, pstRx->stAviInfo.u8VideoCode);
}

// The same timing plugged again with other packets keeps the link and the
// output: the driver follows the new AVI infoframe's colour space, and
// DVI (RGB) from the mode the chip reports; each plug says its own colour.
TEST_F(HdmiRxTest, SameTimingWithOtherPacketsKeepsTheOutput)
{
    ASSERT_EQ("ok\n", HostSim_Exec("plug 1920x1080p60"));
    pstRx = hdmirx_init();
    ASSERT_TRUE(Locked());
    Out();
    u32 u32Hpd = HpdEvents();
    const struct { const char *pszWords; HdmiColorspace_E enColor; int iSelect; } astCases[] = {
        {"plug 1920x1080p60 yuv422", HDMI_COLORSPACE_YUV422, 0},
        {"plug 1920x1080p60 dvi", HDMI_COLORSPACE_RGB, -1},       // the conversion is left as it was
        {"plug 1920x1080p60 yuv444", HDMI_COLORSPACE_YUV444, 0},
        {"plug 1920x1080p60", HDMI_COLORSPACE_RGB, 2},
    };
    for (const auto &c : astCases) {
        ASSERT_EQ("ok\n", HostSim_Exec(c.pszWords)) << c.pszWords;
        Steps(2);
        EXPECT_EQ(c.enColor, pstRx->stAviInfo.enColorspace) << c.pszWords;
        if (c.iSelect >= 0) {
            EXPECT_EQ(c.iSelect, pstChip->aau8Hdmi[0][0x6C] & 0x03) << c.pszWords;
        }
        EXPECT_EQ(1u, hdmirx_get_run(pstRx)) << c.pszWords;
        EXPECT_TRUE(MipiOn()) << c.pszWords;
    }
    std::string out = Out();
    EXPECT_NE(std::string::npos, out.find("-------------------------------DVI"));
    EXPECT_EQ(std::string::npos, out.find("# Input Clock Change Detect #"));
    EXPECT_EQ(u32Hpd, HpdEvents());
}

// On a running 4K input: HDCP encryption is followed; audio rate changes
// are measured, 192 kHz on its clock needing 64-bit arithmetic; AV mute
// holds the output off.
TEST_F(HdmiRxTest, RunningInputFollowsHdcpAudioAndAvMute)
{
    HostHdmiRx_SetAudio(48000, 0);
    PlugAndLock("3840x2160p30");
    EXPECT_EQ(48u, pstRx->u32AudioFs);
    EXPECT_EQ(6144u, pstRx->u32AudioN);
    EXPECT_EQ(0, pstRx->u8HdcpOn);
    HostHdmiRx_SetHdcp(true);
    HostHdmiRx_SetAudio(44100, 0);
    Steps(1);
    EXPECT_EQ(1, pstRx->u8HdcpOn);
    EXPECT_NE(0u, hdmirx_get_hdcp_status(pstRx));
    EXPECT_NE(std::string::npos, Out().find("HDCP Encryption ON!"));
    EXPECT_EQ(44u, pstRx->u32AudioFs);
    EXPECT_EQ(0x00, pstRx->u8ForceFs);
    HostHdmiRx_SetHdcp(false);
    HostHdmiRx_SetAudio(192000, 0);
    Steps(1);
    EXPECT_EQ(0, pstRx->u8HdcpOn);
    EXPECT_EQ(0u, hdmirx_get_hdcp_status(pstRx));
    EXPECT_EQ(192u, pstRx->u32AudioFs);
    EXPECT_EQ(0x0E, pstRx->u8ForceFs);
    EXPECT_EQ(0x00, pstChip->aau8Hdmi[1][0xC7]);                      // audio output on
    HostHdmiRx_SetAvMute(true);
    Steps(1);
    EXPECT_FALSE(MipiOn());
    EXPECT_EQ(1u, hdmirx_get_run(pstRx));
    HostHdmiRx_SetAvMute(false);
    Steps(1);
    EXPECT_TRUE(MipiOn());
}

// A channel status that disagrees with the measured rate in 16 set-ups in
// a row forces the measured rate.
TEST_F(HdmiRxTest, MismatchingChannelStatusIsForcedAtTheSixteenthSetUp)
{
    HostHdmiRx_SetAudio(48000, 44100);
    PlugAndLock("1280x720p50");
    for (u32 i = 0; i < 14; i++) {
        HostHdmiRx_SetAudio(48000, 44100);
        Steps(1);
    }
    EXPECT_EQ(15, pstRx->u8FsErrCount);
    EXPECT_EQ(0, pstChip->aau8Hdmi[0][0x81] & 0x40);
    HostHdmiRx_SetAudio(48000, 44100);
    Steps(1);
    EXPECT_EQ(0x40, pstChip->aau8Hdmi[0][0x81] & 0x40);
    EXPECT_EQ(0x02, pstChip->aau8Hdmi[0][0x8A] & 0x3F);               // 48 kHz
    EXPECT_EQ(0, pstRx->u8FsErrCount);
    HostHdmiRx_SetAudio(48000, 0);                                    // agreeing again: unforced
    Steps(1);
    EXPECT_EQ(0, pstChip->aau8Hdmi[0][0x81] & 0x40);
}

// Injected errors, one each step through the sim words: the driver stays
// up until the count that acts, then takes its recovery path (hot-plug
// pulse or output rebuild) and locks again.
TEST_F(HdmiRxTest, InjectedErrorsTakeTheirRecoveryPaths)
{
    const struct {
        const char *pszWords, *pszClear;   // pszClear: a persistent fault and its end; else a count follows
        u32 u32Quiet;                      // steps with the fault before the one that acts
        const char *pszLog;
        u32 u32LogCount;
        bool bPulse;                       // else rebuilt while running
    } astCases[] = {
        {"inject ecc", nullptr, 4, "# reset HPD # \n", 1, true},
        {"inject deskew", nullptr, 9, "====================rebuild mipi==================", 1, false},
        {"inject fifo", nullptr, 10, "mipi P2M FIFO Err!!! \n", 11, true},
        {"inject mipi unstable", "inject mipi stable", 20,
         "# reset HPD # hdmi_rx_video_stable[1] mipi_tx_video_stable[0]\n", 1, true},
    };
    PlugAndLock("1920x1080p60");
    for (const auto &c : astCases) {
        SCOPED_TRACE(c.pszWords);
        Steps(2);
        ASSERT_EQ(1, pstRx->u8MipiStable);
        Out();
        u32 u32Events = HpdEvents();
        std::string words = c.pszWords;
        ASSERT_EQ("ok\n", HostSim_Exec(c.pszClear ? words : words + " " + std::to_string(c.u32Quiet)));
        Steps(c.u32Quiet);
        EXPECT_EQ(u32Events, HpdEvents());
        EXPECT_EQ(1u, hdmirx_get_run(pstRx));
        if (c.pszClear == nullptr) {
            ASSERT_EQ("ok\n", HostSim_Exec(words + " 1"));
        }
        Steps(1);
        EXPECT_EQ(c.u32LogCount, Count(Out(), c.pszLog));
        if (c.bPulse) {
            ExpectPulse(u32Events);
        } else {
            EXPECT_EQ(u32Events, HpdEvents());
            EXPECT_EQ(1u, hdmirx_get_run(pstRx));
            EXPECT_TRUE(MipiOn());
        }
        if (c.pszClear != nullptr) {
            ASSERT_EQ("ok\n", HostSim_Exec(c.pszClear));
        }
        ASSERT_TRUE(Locked());
    }
}

// A first measurement above 63 Hz is taken again; the second stands.
TEST_F(HdmiRxTest, FastInputIsMeasuredTwice)
{
    PlugAndLock("1920x1080p120");
    EXPECT_NEAR(120, pstRx->stVideoInfo.u32FrameRate, 2);
    EXPECT_EQ(1u, Count(Out(), "re do hdmi_rx_get_video_info\n"));
}

// A TMDS clock equal to the reference clock (27 MHz, 720x480p60) fills
// the counter's range exactly; it is measured and the input comes up.
TEST_F(HdmiRxTest, ClockOfTheReferenceRateIsMeasured)
{
    PlugAndLock("720x480p60");
    EXPECT_NEAR(27000, pstRx->stVideoInfo.u32TmdsClk, 540);
    EXPECT_EQ(std::string::npos, Out().find("sumt==0"));
    EXPECT_TRUE(MipiOn());
}

// The pixel clock counts as soon as the clock runs, before the picture is
// stable: a bring-up in that time (a rebuild after the EDID load meeting a
// plug) measures the source's clock, not a fraction of it.
TEST_F(HdmiRxTest, PixelClockIsMeasuredBeforeTheInputIsStable)
{
    pstChip->u32ScdtDelayMs = 5000;
    ASSERT_EQ(0, HostHdmiRx_Plug("1920x1080p60"));
    pstRx = hdmirx_init();
    Steps(1);                                         // 5 V seen: hot-plug goes high
    std::this_thread::sleep_for(std::chrono::milliseconds(pstChip->u32ClockDelayMs + 20));
    ASSERT_FALSE(pstChip->bScdt);
    ASSERT_EQ(0, hdmi_rx_calc_pclk(pstRx));
    EXPECT_NEAR(148500, pstRx->stVideoInfo.u32PixelClk, 1500);
    EXPECT_EQ(std::string::npos, Out().find("sump == 0"));
}

// A pixel count or timing that stays zero is measured a bounded number of
// times and the input is not brought up; nothing divides by zero.
TEST_F(HdmiRxTest, UnmeasurableInputStaysDown)
{
    static const HostRxMode_S stNoCount = {"fast", 0, 20000000, 1920, 88, 44, 148, 1080, 4, 5, 36, false, true};
    static const HostRxMode_S stNoTotal = {"empty", 0, 148500, 0, 0, 0, 0, 0, 0, 0, 0, false, true};
    for (const HostRxMode_S *pstMode : {&stNoCount, &stNoTotal}) {
        HostHdmiRx_Reset();
        ASSERT_EQ(0, HostHdmiRx_Plug("1920x1080p60"));
        pstChip->pstMode = pstMode;
        pstRx = hdmirx_init();
        EXPECT_FALSE(Locked()) << pstMode->pszName;
        EXPECT_FALSE(MipiOn());
        std::string out = Out();
        EXPECT_NE(std::string::npos, out.find("hdmi input not stable, mipi stays off")) << pstMode->pszName;
        EXPECT_EQ(pstMode == &stNoCount ? 5u : 0u, Count(out, "sump == 0\n"));
    }
}

TEST_F(HdmiRxTest, MissingChipFailsSetUpCleanly)
{
    pstChip->bPresent = false;
    pstRx = hdmirx_init();
    ASSERT_NE(nullptr, pstRx);
    Steps(2);
    std::string out = Out();
    EXPECT_NE(std::string::npos, out.find("can not find hdmirx"));
    EXPECT_EQ(std::string::npos, out.find("RCLK="));
    EXPECT_EQ(std::string::npos, out.find("# 5V state change INT #"));   // failed reads: nothing pending
    EXPECT_EQ(0u, hdmirx_get_run(pstRx));
    EXPECT_EQ(0u, hdmirx_get_hdmi_sta(pstRx));
    EXPECT_EQ(0u, pstChip->u32LpPackets);
}

// The connection watcher's reads never land in another bank while the
// state machine switches banks.
TEST_F(HdmiRxTest, WatcherReadsStayInBankZero)
{
    ASSERT_EQ(0, HostHdmiRx_Plug("1920x1080p60"));
    HostHdmiRx_SetAudio(48000, 0);
    pstRx = hdmirx_init();
    std::atomic<bool> bRun{true};
    std::thread thWatcher([&] {
        while (bRun) {
            if (hdmirx_get_conect_sta(pstRx) == 0)
                hdmirx_disable_mipi(pstRx);
            (void)hdmirx_get_hdcp_status(pstRx);
        }
    });
    bool bLocked = Locked();
    HostHdmiRx_SetAudio(44100, 0);
    Steps(3);
    bRun = false;
    thWatcher.join();
    EXPECT_TRUE(bLocked);
    EXPECT_EQ(0u, pstChip->u32OffBankReads);
}
