#include <cstddef>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "app/Main.h"
#include "app/MainProtocolCb.h"
#include "board/Lcd.h"
#include "config/Config.h"
#include "extension/Soip.h"
#include "net/Dhcp.h"
#include "protocol/ProtocolSetCmd.h"
#include "tests/protocol/SetCmdTest.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"
#include "upgrade/Identity.h"

static ProtocolNetParams_S s_stNetGot;
static s32 s_s32NetCalls;

static s32 Test_RecordNet(void *pUser, const ProtocolNetParams_S *pstNet)
{
    (void)pUser;
    s_stNetGot = *pstNet;
    s_s32NetCalls++;
    return 0;
}

// The setters share one path (end-to-end stores each key): the edge ID, the
// "ID" spelling and LED mode 3 are stored, answered with the "ack" alone.
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
        {protocol_server_handle_config_set_pwrled_mode, "config set pwrled mode", "led", 3,
         &stManual.s32LedDisplayMode},
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

// A number that is not whole or lies outside 32 bits is refused with
// "failure" and changes nothing: neither cut nor held at the range's edge.
TEST_F(SetCmdTest, NumbersOutOfRangeOrNotWholeChangeNothing)
{
    ConfigManualAttr_S &stManual = g_stConfigAttr.stManual;
    stManual.s32IrVoltage = 12;
    const struct {
        ProtocolHandleBody_F *pfn;
        const char *cmd, *body;
    } cases[] = {
        {protocol_server_handle_config_set_id, "config set id", "\"id\":9.5"},
        {protocol_server_handle_config_set_id, "config set id", "\"id\":4294967305"},
        {protocol_server_handle_config_set_ir_voltage, "config set ir voltage", "\"voltage\":4294967297"},
        {protocol_server_handle_config_set_ir_voltage, "config set ir voltage", "\"voltage\":-2147483649"},
        {protocol_server_handle_config_set_ir_voltage, "config set ir voltage", "\"voltage\":1e400"},
    };
    for (const auto &c : cases) {
        ASSERT_GT(Run(c.pfn, c.cmd, c.body), 0) << c.body;
        EXPECT_EQ("failure", Status()) << c.body;
        EXPECT_EQ(5, stManual.s32ID) << c.body;
        EXPECT_EQ(12, stManual.s32IrVoltage) << c.body;
    }
    ASSERT_GT(Run(protocol_server_handle_config_set_ir_voltage, "config set ir voltage", "\"voltage\":-2147483648"),
              0);
    EXPECT_EQ("success", Status());
    EXPECT_EQ(INT32_MIN, stManual.s32IrVoltage);
}

static s32 s_s32IdCalls;

static s32 Test_RecordId(void *pUser, s32 s32Id)
{
    (void)pUser;
    (void)s32Id;
    s_s32IdCalls++;
    return 0;
}

// A word where a number belongs is refused as a number out of range is:
// "failure", and no slot sees it. The one-value setters (one path) take a
// JSON number; the serial and network parameters the decimal text of an s32.
TEST_F(SetCmdTest, WordsWhereNumbersBelongAreRefused)
{
    stServer.stCallback.onsetId = Test_RecordId;
    stServer.stCallback.onsetNet = Test_RecordNet;
    g_stUartServer.bReopen = 0;
    struct Run_S {
        ProtocolHandleBody_F *pfn;
        std::string cmd, body;
    };
    std::vector<Run_S> runs;
    for (const std::string word : {"\"abc\"", "\"0x10\"", "\"9\"", "\"\"", "null", "true", "false", "[9]", "{}"})
        runs.push_back({protocol_server_handle_config_set_id, "config set id", "\"id\":" + word});
    for (const std::string text : {"1e3", "3.5", "96abc", "x", "", " 1", "1 ", "+1", "0x10", "--1"}) {
        runs.push_back({protocol_server_handle_serial_set_params, "serial set params",
                        "\"serialparams\":{\"baudrate\":\"" + text +
                            "\",\"databits\":\"8\",\"parity\":\"0\",\"stopbits\":\"1\"}"});
        runs.push_back({protocol_server_handle_config_set_net_params, "config set net params",
                        "\"netparams\":{\"hdcpserver\":\"0\",\"static\":\"" + text +
                            "\",\"devaddr\":\"10.0.0.2\",\"devnetmask\":\"255.0.0.0\","
                            "\"devgateway\":\"10.0.0.1\",\"devmac\":\"\"}"});
    }
    for (const auto &r : runs) {
        s_s32IdCalls = 0;
        s_s32NetCalls = 0;
        ASSERT_GT(Run(r.pfn, r.cmd, r.body), 0) << r.body;
        EXPECT_EQ("failure", Status()) << r.body;
        EXPECT_EQ(0, s_s32IdCalls + s_s32NetCalls + g_stUartServer.bReopen) << r.body;
        EXPECT_EQ(115200u, g_stConfigAttr.stSerialAttr.u32Baudrate) << r.body;
    }
}

// A long alias is cut to 31 bytes between characters; one that is not
// UTF-8, or holds a control character or a '"' that could break the
// settings file, is refused whole.
TEST_F(SetCmdTest, AliasCutOrRefused)
{
    const std::string a31(31, 'a'), a30(30, 'a');
    const struct {
        std::string json; // the "name" value as JSON
        bool bOk;
        std::string stored;
    } cases[] = {{"\"Lobby 2\"", true, "Lobby 2"}, {"\"" + a31 + "\"", true, a31},
                 {"\"\"", true, ""},               {"\"" + std::string(40, 'a') + "\"", true, a31},
                 {"\"" + a30 + "\u00e9\"", true, a30},
                 {"\"" + std::string(29, 'a') + "\u00e9\"", true, std::string(29, 'a') + "\xc3\xa9"},
                 {"\"a\\nb=1\"", false, "TX 001"}, {"\"a\\\"b\"", false, "TX 001"},
                 {"\"a\\tb\"", false, "TX 001"},   {"\"Lobby\xff\"", false, "TX 001"},
                 {"\"\xc3\"", false, "TX 001"}};
    for (const auto &c : cases) {
        snprintf(g_stConfigAttr.stDevAttr.azAlias, 32, "TX 001");
        ASSERT_GT(Run(protocol_server_handle_config_set_alias, "config set alias",
                      "\"alias\":{\"name\":" + c.json + "}"),
                  0)
            << c.json;
        EXPECT_EQ(c.bOk ? "success" : "failure", Status()) << c.json;
        EXPECT_EQ(c.stored, g_stConfigAttr.stDevAttr.azAlias) << c.json;
    }
    for (const char *body : {"\"x\":1", "\"alias\":{}", "\"alias\":{\"name\":5}"})
        EXPECT_EQ(-1, Run(protocol_server_handle_config_set_alias, "config set alias", body))
            << body;
}

// Getters answer "info" with the device id and the value; a slot that
// writes nothing reports the preset -1. Show-me lights the front panel.
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
    g_button_press_flag = 0;
    ASSERT_GT(Run(protocol_server_handle_device_showme, "device showme"), 0);
    EXPECT_EQ("success", Status());
    EXPECT_EQ(1, g_button_press_flag);
}

// The network report keeps its order (end-to-end checks the values).
TEST_F(SetCmdTest, NetParamsReportedInOrder)
{
    ASSERT_GT(Run(protocol_server_handle_config_get_net_params, "config get net params"), 0);
    std::string keys;
    const cJSON *pstItem;
    cJSON_ArrayForEach(pstItem, cJSON_GetObjectItem(pstReply, "netparams")) keys +=
        pstItem->string + std::string(" ");
    EXPECT_EQ("hdcpserver static devaddr devnetmask devgateway devmac ", keys);
}

// "config set net params" answers every request, a faulty one with
// "failure" and without calling the slot.
TEST_F(SetCmdTest, NetParamsFaultsAnswerFailure)
{
    stServer.stCallback.onsetNet = Test_RecordNet;
    auto body = [](const std::string &hdcp, const char *stat, const std::string &addr,
                   const char *gw) {
        return "\"netparams\":{\"hdcpserver\":" + hdcp + ",\"static\":\"" + stat +
               "\",\"devaddr\":\"" + addr + "\",\"devnetmask\":\"255.0.0.0\"" + gw +
               ",\"devmac\":\"\"}";
    };
    const char *gw = ",\"devgateway\":\"10.0.0.1\"";
    const struct {
        std::string body;
        s32 calls; // slot 29 called
        u8 bStatic;
    } cases[] = {
        {body("\"1\"", "1", "10.0.0.2", gw), 1, 1},
        {body("\"0\"", "2", "10.0.0.2", gw), 1, 0},
        {body("\"0\"", "1", "10.0.0.2", ""), 0, 0},
        {body("0", "1", "10.0.0.2", gw), 0, 0},
        {body("\"4294967297\"", "1", "10.0.0.2", gw), 0, 0},   // not 1 nor held at 2^31 - 1
        {body("\"0\"", "-4294967295", "10.0.0.2", gw), 0, 0},
        {body("\"0\"", "1", "10.0.0.\xff", gw), 0, 0},
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
    // Texts longer than their field are cut between characters.
    s_s32NetCalls = 0;
    ASSERT_GT(Run(protocol_server_handle_config_set_net_params, "config set net params",
                  body("\"0\"", "1", std::string(30, '1') + "\u00e9", gw)),
              0);
    EXPECT_EQ("success", Status());
    EXPECT_EQ(1, s_s32NetCalls);
    EXPECT_EQ(std::string(30, '1'), s_stNetGot.azDevAddr);
}

// A new MAC renames the box: the reply still names the box that was asked.
TEST_F(SetCmdTest, NetParamsReplyNamesTheBoxAsked)
{
    stServer.stCallback.onsetNet = [](void *, const ProtocolNetParams_S *) {
        snprintf(g_stConfigAttr.stDevAttr.azDeviceId, 32, "0200000000bb");
        return 0;
    };
    ASSERT_GT(Run(protocol_server_handle_config_set_net_params, "config set net params",
                  "\"netparams\":{\"hdcpserver\":\"0\",\"static\":\"0\",\"devaddr\":\"\","
                  "\"devnetmask\":\"\",\"devgateway\":\"\",\"devmac\":\"02:00:00:00:00:bb\"}"),
              0);
    EXPECT_EQ("success", Status());
    EXPECT_EQ(SETCMD_DEVICE_ID, Text("ack", "deviceid"));
    EXPECT_STREQ("0200000000bb", g_stConfigAttr.stDevAttr.azDeviceId);
}

// The network callback refuses what is not an address or a MAC before it
// touches anything: also the network and broadcast addresses of the
// subnet, and MACs that no interface takes as its own.
TEST_F(SetCmdTest, NetCallbackRefusesBadTexts)
{
    ConfigNetAttr_S stBefore = g_stConfigAttr.stNetAttr;
    const std::string macBefore = File_Read(IDENTITY_MAC_FILE);
    int s32Fifo = open(DHCP_CMD_FIFO, O_RDONLY | O_NONBLOCK);   // a DHCP stop would show here
    ASSERT_GE(s32Fifo, 0);
    ProtocolNetParams_S stGood{};
    stGood.bStatic = 1;
    snprintf(stGood.azDevAddr, 32, "10.0.0.2");
    snprintf(stGood.azDevNetmask, 32, "255.0.0.0");
    snprintf(stGood.azDevGateway, 32, "10.0.0.1");
    const size_t addr = offsetof(ProtocolNetParams_S, azDevAddr);
    const size_t mac = offsetof(ProtocolNetParams_S, azDevMac);
    const struct {
        size_t offset;
        const char *text;
    } cases[] = {{addr, "10.0.0"},          {addr, "0.0.0.0"},
                 {addr, "239.1.1.1"},       {addr, "10.0.0.2;reboot"},
                 {offsetof(ProtocolNetParams_S, azDevNetmask), "255.0.255.0"},
                 {offsetof(ProtocolNetParams_S, azDevGateway), "gw"},
                 {mac, "02:00:00:00:aa:0\n"}, {mac, "02:00:00:00:aa:01\""},
                 {addr, "10.0.0.0"},        {addr, "10.255.255.255"},
                 {mac, "ff:ff:ff:ff:ff:ff"}, {mac, "01:00:5E:00:00:01"},
                 {mac, "00-00-00-00-00-00"}, {mac, "03:00:00:00:00:01"}};
    for (const auto &c : cases) {
        ProtocolNetParams_S stNet = stGood;
        snprintf((char *)&stNet + c.offset, 32, "%s", c.text);
        EXPECT_EQ(-1, Main_Protocolserver_onsetNet(nullptr, &stNet)) << c.text;
        EXPECT_EQ(0, memcmp(&stBefore, &g_stConfigAttr.stNetAttr, sizeof(stBefore))) << c.text;
        EXPECT_EQ(macBefore, File_Read(IDENTITY_MAC_FILE)) << c.text;
        EXPECT_EQ("", Pty_Read(s32Fifo, 4096, 0)) << c.text;
    }
    close(s32Fifo);
}
