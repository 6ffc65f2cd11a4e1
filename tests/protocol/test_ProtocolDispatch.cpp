#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/ProtocolDispatch.h"
#include "protocol/ProtocolHandler.h"
#include "tests/protocol/FakeBox.h"

struct DispatchTest : public testing::Test {
    FakeBox_S stBox;
    ProtocolServer_S stServer{};
    char azReply[PROTOCOL_BUF_LEN] = {};
    ProtocolReplyTo_E enTo = PROTOCOL_REPLY_NONE;
    cJSON *pstReply = nullptr;

    void SetUp() override { protocol_server_attach(&stServer, FakeBox_Table(), &stBox); }
    void TearDown() override { cJSON_Delete(pstReply); }

    static std::string Request(const std::string &cmd, const std::vector<std::string> &ids,
                               const std::string &body = "", const std::string &host = "aabbccddeeff")
    {
        std::string json = "{\"request\":{\"cmd\":\"" + cmd + "\",\"hostid\":\"" + host +
                           "\",\"seq\":7,\"device\":[";
        for (size_t i = 0; i < ids.size(); i++)
            json += (i ? "," : "") + std::string("{\"id\":\"") + ids[i] + "\"}";
        return json + "]}" + (body.empty() ? "" : "," + body) + "}";
    }

    // Dispatches; on a reply, keeps its parsed tree in pstReply.
    s32 Run(const std::string &json)
    {
        memset(azReply, 0, sizeof(azReply));
        s32 s32Ret = protocol_server_dispatch(&stServer, json.c_str(), azReply, &enTo);
        cJSON_Delete(pstReply);
        pstReply = s32Ret > 0 ? cJSON_Parse(azReply) : nullptr;
        if (s32Ret > 0) {
            EXPECT_EQ((size_t)s32Ret, strlen(azReply));
        }
        return s32Ret;
    }

    std::string Text(const char *pszBody, const char *pszKey)
    {
        const cJSON *pstItem = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, pszBody), pszKey);
        return cJSON_IsString(pstItem) ? pstItem->valuestring : "<none>";
    }

    double Number(const char *pszBody, const char *pszKey)
    {
        const cJSON *pstItem = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, pszBody), pszKey);
        return cJSON_IsNumber(pstItem) ? pstItem->valuedouble : -9999;
    }

    std::vector<std::string> Keys(const char *pszBody)
    {
        std::vector<std::string> keys;
        const cJSON *pstItem;
        cJSON_ArrayForEach(pstItem, cJSON_GetObjectItem(pstReply, pszBody)) keys.push_back(pstItem->string);
        return keys;
    }
};

// Which device entries address this box (id 0a1b2c3d4e5f, type TX, number 7).
TEST_F(DispatchTest, AddressingRules) {
    const struct { const char *id; bool answered; } cases[] = {
        {"All", true}, {"All_TX", true}, {"All_TXB", true}, {"0a1b2c3d4e5f", true},
        {"0a1b2c3d4e5fzz", true}, {"7", true}, {"007", true}, {"0007", false},
        {"All_RX", false}, {"all", false}, {"0a1b2c3d4e", false}, {"112233445566", false},
        {"", false}, {"7a", false}, {" 7", false}, {"-7", false}, {"8", false},
    };
    for (const auto &c : cases) {
        stBox.calls.clear();
        s32 s32Ret = Run(Request("config get id", {c.id}));
        EXPECT_EQ(c.answered, s32Ret > 0) << c.id;
        EXPECT_EQ(c.answered, stBox.calls.size() > 1) << c.id;
    }
    EXPECT_GT(Run(Request("config get id", {"112233445566", "All_TX"})), 0);
}

// An empty id or type of the box matches nothing by prefix.
TEST_F(DispatchTest, EmptyOwnIdAndTypeMatchNothing) {
    stBox.deviceId = "";
    stBox.type = "";
    EXPECT_EQ(0, Run(Request("config get id", {"0a1b2c3d4e5f"})));
    EXPECT_EQ(0, Run(Request("config get id", {"All_"})));
    EXPECT_GT(Run(Request("config get id", {"All"}, "", "")), 0);
    EXPECT_GT(Run(Request("config get id", {"7"})), 0);
}

// The box's own requests come back through the group and are ignored.
TEST_F(DispatchTest, IgnoresOwnRequests) {
    EXPECT_EQ(0, Run(Request("config get device", {"All"}, "", "0a1b2c3d4e5f")));
    EXPECT_EQ(std::vector<std::string>{"getDeviceid"}, stBox.calls);
}

TEST_F(DispatchTest, UnusableRequestsAndMissingIdentityGiveNoReply) {
    EXPECT_EQ(-1, Run("{\"request\":{\"cmd\":\"config get id\"}}"));
    EXPECT_EQ(-1, Run(Request("config get id", {})));
    protocol_server_detach(&stServer);
    EXPECT_EQ(-2, Run(Request("config get id", {"All"})));
    EXPECT_TRUE(stBox.calls.empty());
}

// Discovery: every member in its order, answered to the group.
TEST_F(DispatchTest, DiscoveryListsEveryMemberInOrder) {
    ASSERT_GT(Run(Request("xx config get device yy", {"All"})), 0);
    EXPECT_EQ(PROTOCOL_REPLY_GROUP, enTo);
    const std::vector<std::string> keys = {
        "deviceid", "devtype", "alias", "chip", "id", "static", "devaddr", "devnetmask",
        "devgateway", "devmac", "status", "version", "up", "voltage", "lcd", "led", "serialbr",
        "serialbs", "serialpa", "serialsb", "edid", "audioinput", "enctype", "encres", "fps",
        "ratecontrol", "bitrate", "audiocodec", "audiofreq", "audiobitrate", "tx", "scale",
        "videomode", "button", "ir", "rotate", "osd", "videooutput", "videomute", "videopause",
        "audioformat", "httpport"};
    EXPECT_EQ(keys, Keys("device"));
    EXPECT_EQ((std::vector<std::string>{"cmd", "status", "hostid", "deviceid", "seq"}), Keys("ack"));
    EXPECT_EQ("xx config get device yy", Text("ack", "cmd"));
    EXPECT_EQ("success", Text("ack", "status"));
    EXPECT_EQ("aabbccddeeff", Text("ack", "hostid"));
    EXPECT_EQ("0a1b2c3d4e5f", Text("ack", "deviceid"));
    EXPECT_EQ(7, Number("ack", "seq"));
    EXPECT_EQ("encoder", Text("device", "devtype"));
    EXPECT_EQ(1, Number("device", "static"));
    EXPECT_EQ("169.254.96.78", Text("device", "devaddr"));
    EXPECT_EQ("H264", Text("device", "enctype"));
    EXPECT_EQ("3", Text("device", "encres"));
    EXPECT_EQ("VBR", Text("device", "ratecontrol"));
    EXPECT_EQ("PCM", Text("device", "audiocodec"));
    EXPECT_EQ("48001", Text("device", "audiofreq"));
    EXPECT_EQ(115200, Number("device", "serialbr"));
    EXPECT_EQ(80, Number("device", "httpport"));
    const cJSON *pstUp = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, "device"), "up");
    ASSERT_EQ(3, cJSON_GetArraySize(pstUp));
    EXPECT_EQ(3, cJSON_GetArrayItem(pstUp, 2)->valueint);
    // Formatted print: members on their own lines, tab after the colon.
    EXPECT_EQ(0, strncmp(azReply, "{\n\t\"ack\":\t{\n", 11));
}

TEST_F(DispatchTest, TxParamsAnswerTheSenderInOrder) {
    ASSERT_GT(Run(Request("config get tx params", {"All"})), 0);
    EXPECT_EQ(PROTOCOL_REPLY_SENDER, enTo);
    EXPECT_EQ((std::vector<std::string>{"alias", "deviceid", "id", "devaddr", "devnetmask",
                                        "devgateway", "enctype", "encres", "fps", "ratecontrol",
                                        "bitrate", "audioinput", "audiocodec", "audiofreq",
                                        "audiobitrate", "videoresstatus", "hdcpstatus", "voltage",
                                        "lcd", "led"}),
              Keys("txparams"));
    EXPECT_EQ("1", Text("txparams", "audioinput"));
    EXPECT_EQ("No Signal", Text("txparams", "videoresstatus"));
}

// One-value getters: the body, and -1 from a getter that writes nothing;
// a getter the box does not serve answers "failure".
TEST_F(DispatchTest, OneValueGetters) {
    ASSERT_GT(Run(Request("config get id", {"All"})), 0);
    EXPECT_EQ((std::vector<std::string>{"deviceid", "id"}), Keys("DevId"));
    EXPECT_EQ(7, Number("DevId", "id"));
    ASSERT_GT(Run(Request("config get ir voltage", {"All"})), 0);
    EXPECT_EQ(12, Number("info", "voltage"));
    ASSERT_GT(Run(Request("config get display mode", {"All"})), 0);
    EXPECT_EQ(-1, Number("info", "display"));
    ASSERT_GT(Run(Request("config get hdcp mode", {"All"})), 0);
    EXPECT_EQ("failure", Text("ack", "status"));
    EXPECT_EQ(nullptr, cJSON_GetObjectItem(pstReply, "info"));
    ASSERT_GT(Run(Request("config get rx params", {"All"})), 0);
    EXPECT_EQ("0", Text("rxparams", "luma"));
    EXPECT_EQ("TX1", Text("rxparams", "alias"));
}

// Set commands take effect without a reply; a bad body changes nothing.
TEST_F(DispatchTest, SetTxParamsReadsTextsAndRefusesBadOnes) {
    const std::string good = "\"enctype\":\"H265\",\"encres\":\"4\",\"fps\":\"30\","
                             "\"ratecontrol\":\"CBR\",\"bitrate\":\"4000\",\"audioinput\":\"1\","
                             "\"audiocodec\":\"AAC\",\"audiofreq\":\"48000\",\"audiobitrate\":\"96000\"";
    EXPECT_EQ(0, Run(Request("config set tx params", {"All"}, "\"txparams\":{" + good + "}")));
    EXPECT_EQ(2, stBox.stEncSet.enEncType);
    EXPECT_EQ(30u, stBox.stEncSet.u32Fps);
    EXPECT_EQ(1, stBox.stEncSet.enRateControl);
    EXPECT_EQ(1, stBox.stEncSet.enAudioCodec);
    EXPECT_EQ(96000u, stBox.stEncSet.u32AudioBitrate);
    // Past 2^31 the field gets the same value on the 32-bit board as here.
    const size_t pos = good.find("4000");
    const std::string big = good.substr(0, pos) + "3000000000" + good.substr(pos + 4);
    EXPECT_EQ(0, Run(Request("config set tx params", {"All"}, "\"txparams\":{" + big + "}")));
    EXPECT_EQ(3000000000u, stBox.stEncSet.u32Bitrate);

    const std::string bad[] = {
        "\"txparams\":{" + good.substr(0, good.find("H265")) + "H266" + good.substr(good.find("H265") + 4) + "}",
        "\"txparams\":{" + good.substr(0, good.find("\"30\"")) + "30" + good.substr(good.find("\"30\"") + 4) + "}",
        "\"txparams\":{" + good.substr(good.find("\"encres\"")) + "}",
        "\"txparams\":\"x\"",
    };
    for (const auto &body : bad) {
        stBox.calls.clear();
        EXPECT_EQ(0, Run(Request("config set tx params", {"All"}, body))) << body;
        for (const auto &call : stBox.calls) EXPECT_NE("setEncodeparams", call) << body;
    }
}

TEST_F(DispatchTest, SetRxParamsNeedsEveryKey) {
    const std::string body = "\"rxparams\":{\"luma\":\"1\",\"contrast\":\"2\",\"hue\":\"3\","
                             "\"saturation\":\"4\",\"videoformat\":\"5\"}";
    EXPECT_EQ(0, Run(Request("config set rx params", {"All"}, body)));
    EXPECT_EQ(3, stBox.stDecSet.s32Hue);
    EXPECT_EQ(5, stBox.stDecSet.s32VideoFormat);
    stBox.stDecSet = {};
    EXPECT_EQ(0, Run(Request("config set rx params", {"All"},
                             "\"rxparams\":{\"luma\":\"1\",\"contrast\":\"2\",\"saturation\":\"4\","
                             "\"videoformat\":\"5\"}")));
    EXPECT_EQ(0, stBox.stDecSet.s32Luma);
}

// "device factory" matches only whole; an unknown command is not answered.
TEST_F(DispatchTest, FactoryResetAndUnknownCommands) {
    EXPECT_EQ(0, Run(Request("device factory ", {"All"})));
    EXPECT_EQ(0, Run(Request("no such command", {"All"})));
    for (const auto &call : stBox.calls) EXPECT_NE("onFactory", call);
    EXPECT_EQ(0, Run(Request("device factory", {"All"})));
    EXPECT_EQ("onFactory", stBox.calls.back());
}

// A reply that would not fit a datagram is not built.
TEST(ProtocolReplyTest, RefusesReplyLongerThanADatagramAllows) {
    ProtocolRequestHead_S stHead{"c", "h", 0, nullptr, 0};
    char azReply[PROTOCOL_BUF_LEN] = {};
    cJSON *pstBody = cJSON_CreateObject();
    cJSON_AddStringToObject(pstBody, "big", std::string(1100, 'x').c_str());
    EXPECT_EQ(-1, protocol_server_reply(&stHead, "d", "success", "info", pstBody, azReply));
    EXPECT_EQ('\0', azReply[0]);
    pstBody = cJSON_CreateObject();
    cJSON_AddStringToObject(pstBody, "big", std::string(900, 'x').c_str());
    EXPECT_GT(protocol_server_reply(&stHead, "d", "success", "info", pstBody, azReply), 900);
}
