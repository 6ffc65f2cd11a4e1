#include <gtest/gtest.h>

#include <cstring>

#include "app/Main.h"
#include "app/MainProtocol.h"
#include "config/ConfigAttr.h"
#include "media/AVSource.h"

struct MainProtocolTest : public testing::Test {
    void SetUp() override
    {
        memset(&g_stConfigAttr, 0, sizeof(g_stConfigAttr));
        memset(&g_stMainServerAttr, 0, sizeof(g_stMainServerAttr));
        g_hdcp_state = 0;
    }
};

// The timing text names the captured input and its colour space (RGB when
// the source layer has none to give); without a picture it says so.
TEST_F(MainProtocolTest, EncoderReportNamesTheInputTiming) {
    const struct { u32 w, h, fps, scan; u8 hdcp; s32 running; const char *text, *hdcpText; } cases[] = {
        {1920, 1080, 60, 0, 0, 1, "1920*1080P60 RGB444", "NONE"},
        {1920, 540, 50, 1, 1, 1, "1920*1080I50 RGB444", "HDCP 1.4"},
        {1920, 1080, 30, 1, 0, 1, "1920*1080P30 RGB444", "NONE"},
        {1440, 240, 60, 1, 0, 1, "720*480I60 RGB444", "NONE"},
        {1440, 240, 60, 0, 0, 1, "1440*240P60 RGB444", "NONE"},
        {1280, 720, 60, 1, 0, 1, "1280*720P60 RGB444", "NONE"},
        {1024, 768, 60, 0, 0, 1, "1024*768P60 RGB444", "NONE"},
        {1920, 1080, 60, 0, 1, 0, "No Signal", "NONE"},
    };
    for (const auto &c : cases) {
        g_stMainServerAttr.bViStart = c.running;
        g_stMainServerAttr.stVMsg.u32Width = c.w;
        g_stMainServerAttr.stVMsg.u32Height = c.h;
        g_stMainServerAttr.stVMsg.u32Fps = c.fps;
        g_stMainServerAttr.stVMsg.enSan = c.scan;
        g_hdcp_state = c.hdcp;
        ProtocolEncodeParams_S stEnc{};
        EXPECT_EQ(0, Main_Protocolserver_getEncodeparams(nullptr, &stEnc));
        EXPECT_STREQ(c.text, stEnc.azVideoResStatus) << c.w << "x" << c.h;
        EXPECT_STREQ(c.hdcpText, stEnc.azHdcpStatus) << c.w << "x" << c.h;
    }
}

// Stored codes become the protocol's: types and resolutions count from 1,
// the audio rate is the running capture's.
TEST_F(MainProtocolTest, EncoderReportTranslatesStoredCodes) {
    g_stConfigAttr.stMainAttr.u32Enctype = 1;
    g_stConfigAttr.stMainAttr.u32Encres = 2;
    g_stConfigAttr.stMainAttr.u32Audiofreq = 44100;
    g_stMainServerAttr.enSample = MAIN_SAMPLE_NONE;
    ProtocolEncodeParams_S stEnc{};
    Main_Protocolserver_getEncodeparams(nullptr, &stEnc);
    EXPECT_EQ(2, stEnc.enEncType);
    EXPECT_EQ(3u, stEnc.u32EncRes);
    EXPECT_EQ((u32)MAIN_SAMPLE_NONE, stEnc.u32AudioFreq);
}

// Long texts are cut to the protocol's fields; LED mode 3 reads as 1 in the
// description but as 3 through its own getter.
TEST_F(MainProtocolTest, DescriptionCutsTextsAndMapsTheLedMode) {
    memset(g_stConfigAttr.stDevAttr.azAlias, 'a', sizeof(g_stConfigAttr.stDevAttr.azAlias) - 1);
    strcpy(g_stConfigAttr.stDevAttr.azDeviceId, "0a1b2c3d4e5f");
    g_stConfigAttr.stManual.s32LedDisplayMode = 3;
    g_stConfigAttr.stManual.s32ID = 42;
    g_stMainServerAttr.bViStart = 1;
    ProtocolDeviceInfo_S stInfo{};
    EXPECT_EQ(0, Main_Protocolserver_getDeviceinfo(nullptr, &stInfo));
    EXPECT_EQ(std::string(31, 'a'), stInfo.azAlias);
    EXPECT_EQ(1, stInfo.s32Led);
    EXPECT_STREQ("1", stInfo.azStatus);
    EXPECT_STREQ("encoder", stInfo.azDevType);
    s32 s32Mode = -1;
    Main_Protocolserver_ongetPwrLedMode(nullptr, &s32Mode);
    EXPECT_EQ(3, s32Mode);
    char azType[32], azId[32];
    s32 s32Id = 0;
    EXPECT_EQ(0, Main_Protocolserver_getDeviceid(nullptr, azType, azId, &s32Id));
    EXPECT_STREQ("TX", azType);
    EXPECT_STREQ("0a1b2c3d4e5f", azId);
    EXPECT_EQ(42, s32Id);
}

// DHCP on shows as not static; the texts come from the live network record.
TEST_F(MainProtocolTest, NetworkReportFollowsTheLiveRecord) {
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    strcpy(pstNet->azHostIP, "192.168.1.20");
    strcpy(pstNet->azMac, "0a:1b:2c:3d:4e:5f");
    pstNet->stWeb.u32Port = 8080;
    pstNet->stDhcp.enDHCP = 1;
    g_stConfigAttr.stNetAttr.bHdcpServer = 5;
    ProtocolNetParams_S stOut{};
    EXPECT_EQ(0, Main_Protocolserver_ongetNet(nullptr, &stOut));
    EXPECT_EQ(0, stOut.bStatic);
    EXPECT_EQ(1, stOut.bHdcpServer);
    EXPECT_STREQ("192.168.1.20", stOut.azDevAddr);
    EXPECT_STREQ("0a:1b:2c:3d:4e:5f", stOut.azDevMac);
    EXPECT_EQ(8080, stOut.s32HttpPort);
    pstNet->stDhcp.enDHCP = 0;
    Main_Protocolserver_ongetNet(nullptr, &stOut);
    EXPECT_EQ(1, stOut.bStatic);
}

// Every callback the box has is in the table; the reserved slot stays null.
TEST_F(MainProtocolTest, TableHoldsTheBoxCallbacks) {
    ProtocolServerCallback_S stCb;
    memset(&stCb, 0xff, sizeof(stCb));
    MAIN_Protocolserver_Callbacks(&stCb);
    EXPECT_EQ(&Main_Protocolserver_getDeviceid, stCb.getDeviceid);
    EXPECT_EQ(&Main_Protocolserver_getDeviceinfo, stCb.getDeviceinfo);
    EXPECT_EQ(&Main_Protocolserver_ongetNet, stCb.ongetNet);
    EXPECT_EQ(&Main_Protocolserver_onFactory, stCb.onFactory);
    EXPECT_EQ(nullptr, stCb.reserved);
}
