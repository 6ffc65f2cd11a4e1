#include <cstddef>
#include <cstring>
#include <string>

#include "app/Main.h"
#include "app/MainProtocolCb.h"
#include "board/Lcd.h"
#include "config/Config.h"
#include "protocol/ProtocolSetCmd.h"
#include "tests/protocol/SetCmdTest.h"

static ProtocolNetParams_S s_stNetGot;
static s32 s_s32NetCalls;

static s32 Test_RecordNet(void *pUser, const ProtocolNetParams_S *pstNet)
{
    (void)pUser;
    s_stNetGot = *pstNet;
    s_s32NetCalls++;
    return 0;
}

// Every one-value setter stores its value at once and answers with the
// "ack" object alone, carrying the request's command and seq.
TEST_F(SetCmdTest, OneValueSettersStoreTheValue)
{
    ConfigManualAttr_S &stManual = g_stConfigAttr.stManual;
    const struct {
        ProtocolHandleBody_F *pfn;
        const char *cmd, *key;
        s32 value;
        const s32 *field;
    } cases[] = {
        {protocol_server_handle_config_set_id, "config set id", "id", 762, &stManual.s32ID},
        {protocol_server_handle_config_set_id, "config set txid", "ID", 9, &stManual.s32ID},
        {protocol_server_handle_config_set_ir_voltage, "config set ir voltage", "voltage", 12,
         &stManual.s32IrVoltage},
        {protocol_server_handle_config_set_display_mode, "config set display mode", "display", 2,
         &stManual.s32LcdDisplayMode},
        {protocol_server_handle_config_set_pwrled_mode, "config set pwrled mode", "led", 3,
         &stManual.s32LedDisplayMode},
        {protocol_server_handle_config_set_hdcp_mode, "config set hdcp mode", "hdcp", 1,
         &g_stConfigAttr.stMisc.s32HdcpMode},
        {protocol_server_handle_config_set_stream_dbg, "config set stream dbg", "streamdbg", 1,
         &g_stConfigAttr.stMisc.s32StreamDbg},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cmd);
        ASSERT_GT(Run(c.pfn, c.cmd, "\"" + std::string(c.key) + "\":" + std::to_string(c.value)),
                  0);
        EXPECT_EQ("ack", Members());
        EXPECT_EQ("success", Status());
        EXPECT_EQ(c.cmd, Text("ack", "cmd"));
        EXPECT_EQ(SETCMD_DEVICE_ID, Text("ack", "deviceid"));
        EXPECT_EQ("5e5e5e5e5e5e", Text("ack", "hostid"));
        EXPECT_EQ(7, Number("ack", "seq"));
        EXPECT_EQ(c.value, *c.field);
    }
    // The LED mode 3 is reported as 1 in the description only.
    ASSERT_GT(Run(protocol_server_getPwrLedMode, "config get pwrled mode"), 0);
    EXPECT_EQ(3, Number("info", "led"));
}

// An ID outside 1..762, or given as a text, is refused: "failure" and the
// stored ID stays. A request that is not JSON or lacks the key gets no reply.
TEST_F(SetCmdTest, RefusedIdChangesNothing)
{
    for (const char *body : {"\"id\":0", "\"id\":763", "\"id\":-1", "\"id\":\"5\""}) {
        ASSERT_GT(Run(protocol_server_handle_config_set_id, "config set id", body), 0) << body;
        EXPECT_EQ("failure", Status()) << body;
        EXPECT_EQ(5, g_stConfigAttr.stManual.s32ID) << body;
    }
    EXPECT_EQ(-1, Run(protocol_server_handle_config_set_id, "config set id", "\"idx\":3"));
    EXPECT_EQ(-1, RunText(protocol_server_handle_config_set_hdcp_mode, "config set hdcp mode",
                          "{\"request\":"));
    EXPECT_EQ(5, g_stConfigAttr.stManual.s32ID);
}

// An alias is stored whole or refused whole: never cut, never with a
// control character or a '"' that could break the settings file.
TEST_F(SetCmdTest, AliasStoredOrRefusedWhole)
{
    const std::string longest(31, 'a');
    const struct {
        const char *json; // the "name" value as JSON
        const char *status;
        std::string stored;
    } cases[] = {
        {"\"Lobby 2\"", "success", "Lobby 2"},
        {"\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\"", "success", longest},
        {"\"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\"", "failure", "TX 001"},
        {"\"a\\nb=1\"", "failure", "TX 001"},
        {"\"a\\\"b\"", "failure", "TX 001"},
        {"\"a\\tb\"", "failure", "TX 001"},
        {"\"\"", "success", ""},
    };
    for (const auto &c : cases) {
        snprintf(g_stConfigAttr.stDevAttr.azAlias, 32, "TX 001");
        ASSERT_GT(Run(protocol_server_handle_config_set_alias, "config set alias",
                      std::string("\"alias\":{\"name\":") + c.json + "}"),
                  0)
            << c.json;
        EXPECT_EQ(c.status, Status()) << c.json;
        EXPECT_EQ(c.stored, g_stConfigAttr.stDevAttr.azAlias) << c.json;
    }
    EXPECT_EQ(-1, Run(protocol_server_handle_config_set_alias, "config set alias", "\"x\":1"));
    EXPECT_EQ(-1, Run(protocol_server_handle_config_set_alias, "config set alias", "\"alias\":{}"));
    EXPECT_EQ(-1, Run(protocol_server_handle_config_set_alias, "config set alias",
                      "\"alias\":{\"name\":5}"));
    ASSERT_GT(Run(protocol_server_handle_config_remove_alias, "config remove alias"), 0);
    EXPECT_EQ("success", Status());
    EXPECT_STREQ("TX1", g_stConfigAttr.stDevAttr.azAlias);
}

// Getters answer "info" with the device id and the value; a slot that
// writes nothing reports the preset -1.
TEST_F(SetCmdTest, GettersAnswerInfo)
{
    g_stConfigAttr.stManual.s32Edid_index = 4;
    const struct {
        ProtocolHandleHead_F *pfn;
        const char *cmd, *key;
        s32 value;
    } cases[] = {
        {protocol_server_handle_config_get_buttons_mode, "config get buttons mode", "buttons", -1},
        {protocol_server_handle_config_get_ir_mode, "config get ir mode", "ir", -1},
        {protocol_server_handle_config_get_tx_indexedid, "config get tx indexedid", "edididx", 4},
    };
    for (const auto &c : cases) {
        ASSERT_GT(Run(c.pfn, c.cmd), 0) << c.cmd;
        EXPECT_EQ("ack,info", Members()) << c.cmd;
        EXPECT_EQ("success", Status()) << c.cmd;
        EXPECT_EQ(SETCMD_DEVICE_ID, Text("info", "deviceid")) << c.cmd;
        EXPECT_EQ(c.value, Number("info", c.key)) << c.cmd;
    }
}

// Show-me lights the front panel: the activity flag and the show-me page.
TEST_F(SetCmdTest, ShowMeWakesThePanel)
{
    g_button_press_flag = 0;
    ASSERT_GT(Run(protocol_server_handle_device_showme, "device showme"), 0);
    EXPECT_EQ("success", Status());
    EXPECT_EQ(1, g_button_press_flag);
}

// The network report sends every value as text, in its order.
TEST_F(SetCmdTest, NetParamsReportedAsTexts)
{
    NetServerConfig_S &stNet = g_stMainServerAttr.stConifg;
    memset(&stNet, 0, sizeof(stNet));
    snprintf(stNet.azHostIP, 32, "169.254.2.3");
    snprintf(stNet.azNetmask, 32, "255.255.0.0");
    snprintf(stNet.azGateway, 32, "169.254.100.1");
    snprintf(stNet.azMac, 32, "02:00:00:00:aa:01");
    stNet.stDhcp.enDHCP = 1;
    ASSERT_GT(Run(protocol_server_handle_config_get_net_params, "config get net params"), 0);
    const char *azWant[][2] = {{"hdcpserver", "0"},
                               {"static", "0"},
                               {"devaddr", "169.254.2.3"},
                               {"devnetmask", "255.255.0.0"},
                               {"devgateway", "169.254.100.1"},
                               {"devmac", "02:00:00:00:aa:01"}};
    std::string keys;
    const cJSON *pstItem;
    cJSON_ArrayForEach(pstItem, cJSON_GetObjectItem(pstReply, "netparams")) keys +=
        pstItem->string + std::string(" ");
    EXPECT_EQ("hdcpserver static devaddr devnetmask devgateway devmac ", keys);
    for (const auto &w : azWant)
        EXPECT_EQ(w[1], Text("netparams", w[0])) << w[0];
}

// "config set net params" answers every request, a faulty one with
// "failure" and without calling the slot.
TEST_F(SetCmdTest, NetParamsFaultsAnswerFailure)
{
    stServer.stCallback.onsetNet = Test_RecordNet;
    const std::string addr = "\"devaddr\":\"10.0.0.2\",\"devnetmask\":\"255.0.0.0\"";
    const struct {
        std::string body;
        s32 calls; // slot 29 called
        u8 bStatic;
    } cases[] = {
        {"\"netparams\":{\"hdcpserver\":\"1\",\"static\":\"1\"," + addr +
             ",\"devgateway\":\"10.0.0.1\",\"devmac\":\"\"}",
         1, 1},
        {"\"netparams\":{\"hdcpserver\":\"0\",\"static\":\"2\"," + addr +
             ",\"devgateway\":\"10.0.0.1\",\"devmac\":\"\"}",
         1, 0},
        {"\"netparams\":{\"hdcpserver\":\"0\",\"static\":\"1\"," + addr + ",\"devmac\":\"\"}", 0,
         0},
        {"\"netparams\":{\"hdcpserver\":0,\"static\":\"1\"," + addr +
             ",\"devgateway\":\"10.0.0.1\",\"devmac\":\"\"}",
         0, 0},
        {"\"netparams\":{\"hdcpserver\":\"0\",\"static\":\"1\",\"devaddr\":\"" +
             std::string(32, '1') +
             "\",\"devnetmask\":\"255.0.0.0\",\"devgateway\":\"10.0.0.1\","
             "\"devmac\":\"\"}",
         0, 0},
        {"\"params\":{}", 0, 0},
    };
    for (const auto &c : cases) {
        s_s32NetCalls = 0;
        memset(&s_stNetGot, 0, sizeof(s_stNetGot));
        ASSERT_GT(
            Run(protocol_server_handle_config_set_net_params, "config set net params", c.body), 0)
            << c.body;
        EXPECT_EQ(c.calls ? "success" : "failure", Status()) << c.body;
        EXPECT_EQ(c.calls, s_s32NetCalls) << c.body;
        EXPECT_EQ(c.bStatic, s_stNetGot.bStatic) << c.body;
        EXPECT_STREQ(c.calls ? "10.0.0.2" : "", s_stNetGot.azDevAddr) << c.body;
    }
    ASSERT_GT(RunText(protocol_server_handle_config_set_net_params, "config set net params", "{"),
              0);
    EXPECT_EQ("failure", Status());
}

// The network callback refuses what is not an address or a MAC before it
// touches anything.
TEST_F(SetCmdTest, NetCallbackRefusesBadTexts)
{
    ConfigNetAttr_S stBefore = g_stConfigAttr.stNetAttr;
    ProtocolNetParams_S stGood{};
    stGood.bStatic = 1;
    snprintf(stGood.azDevAddr, 32, "10.0.0.2");
    snprintf(stGood.azDevNetmask, 32, "255.0.0.0");
    snprintf(stGood.azDevGateway, 32, "10.0.0.1");
    const struct {
        size_t offset;
        const char *text;
    } cases[] = {
        {offsetof(ProtocolNetParams_S, azDevAddr), "10.0.0"},
        {offsetof(ProtocolNetParams_S, azDevAddr), "0.0.0.0"},
        {offsetof(ProtocolNetParams_S, azDevAddr), "239.1.1.1"},
        {offsetof(ProtocolNetParams_S, azDevAddr), "10.0.0.2;reboot"},
        {offsetof(ProtocolNetParams_S, azDevNetmask), "255.0.255.0"},
        {offsetof(ProtocolNetParams_S, azDevGateway), "gw"},
        {offsetof(ProtocolNetParams_S, azDevMac), "02:00:00:00:aa:0\n"},
        {offsetof(ProtocolNetParams_S, azDevMac), "02:00:00:00:aa:01\""},
    };
    for (const auto &c : cases) {
        ProtocolNetParams_S stNet = stGood;
        snprintf((char *)&stNet + c.offset, 32, "%s", c.text);
        EXPECT_EQ(-1, Main_Protocolserver_onsetNet(nullptr, &stNet)) << c.text;
        EXPECT_EQ(0, memcmp(&stBefore, &g_stConfigAttr.stNetAttr, sizeof(stBefore))) << c.text;
    }
}
