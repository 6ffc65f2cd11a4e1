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

    // A member as text; numbers as "#<value>" so the type is checked too.
    std::string Value(const char *pszBody, const char *pszKey)
    {
        const cJSON *pstItem = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, pszBody), pszKey);
        char azNum[32];
        snprintf(azNum, sizeof(azNum), "#%g", cJSON_IsNumber(pstItem) ? pstItem->valuedouble : 0);
        return cJSON_IsNumber(pstItem) ? azNum : cJSON_IsString(pstItem) ? pstItem->valuestring : "<none>";
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
    // An empty own id or type matches nothing by prefix.
    stBox.deviceId = "";
    stBox.type = "";
    for (const char *id : {"0a1b2c3d4e5f", "All_"}) EXPECT_EQ(0, Run(Request("config get id", {id}))) << id;
    EXPECT_GT(Run(Request("config get id", {"All"}, "", "")), 0);
    EXPECT_GT(Run(Request("config get id", {"7"})), 0);
}

// Unusable requests, and the box's own echoed back by the group, get no reply.
TEST_F(DispatchTest, UnusableAndOwnRequestsGiveNoReply) {
    EXPECT_EQ(-1, Run("{\"request\":{\"cmd\":\"config get id\"}}"));
    EXPECT_EQ(-1, Run(Request("config get id", {})));
    EXPECT_EQ(0, Run(Request("config get device", {"All"}, "", "0a1b2c3d4e5f")));
    EXPECT_EQ(std::vector<std::string>{"getDeviceid"}, stBox.calls);
    protocol_server_detach(&stServer);
    EXPECT_EQ(-2, Run(Request("config get id", {"All"})));
    EXPECT_EQ(std::vector<std::string>{"getDeviceid"}, stBox.calls);
}

// Getters' values, -1 from a getter that writes nothing, "failure" from one
// the box does not serve. Discovery's member order is left to the e2e test.
TEST_F(DispatchTest, Getters) {
    ASSERT_GT(Run(Request("xx config get device yy", {"All"})), 0);
    EXPECT_EQ(PROTOCOL_REPLY_GROUP, enTo);
    const cJSON *pstUp = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, "device"), "up");
    ASSERT_EQ(3, cJSON_GetArraySize(pstUp));
    EXPECT_EQ(3, cJSON_GetArrayItem(pstUp, 2)->valueint);
    // Formatted print: members on their own lines, tab after the colon.
    EXPECT_EQ(0, strncmp(azReply, "{\n\t\"ack\":\t{\n", 11));
    ASSERT_GT(Run(Request("config get tx params", {"All"})), 0);
    EXPECT_EQ(PROTOCOL_REPLY_SENDER, enTo);
    EXPECT_EQ((std::vector<std::string>{"alias", "deviceid", "id", "devaddr", "devnetmask", "devgateway", "enctype",
                                        "encres", "fps", "ratecontrol", "bitrate", "audioinput", "audiocodec",
                                        "audiofreq", "audiobitrate", "videoresstatus", "hdcpstatus", "voltage",
                                        "lcd", "led"}),
              Keys("txparams"));
    ASSERT_GT(Run(Request("config get id", {"All"})), 0);
    EXPECT_EQ((std::vector<std::string>{"deviceid", "id"}), Keys("DevId"));
    const char *dev = "config get device", *tx = "config get tx params", *rx = "config get rx params";
    const char *const values[][4] = {
        {"xx config get device yy", "ack", "cmd", "xx config get device yy"}, {dev, "device", "static", "#1"},
        {dev, "device", "enctype", "H264"}, {dev, "device", "encres", "3"}, {dev, "device", "ratecontrol", "VBR"},
        {tx, "txparams", "audioinput", "1"}, {tx, "txparams", "videoresstatus", "No Signal"},
        {"config get id", "DevId", "id", "#7"}, {"config get ir voltage", "info", "voltage", "#12"},
        {"config get display mode", "info", "display", "#-1"}, {rx, "rxparams", "luma", "0"},
        {rx, "rxparams", "alias", "TX1"}, {"config get hdcp mode", "ack", "status", "failure"},
    };
    for (const auto &v : values) {
        ASSERT_GT(Run(Request(v[0], {"All"})), 0) << v[0];
        EXPECT_EQ(v[3], Value(v[1], v[2])) << v[0] << " " << v[2];
    }
    EXPECT_EQ(nullptr, cJSON_GetObjectItem(pstReply, "info"));
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
    const auto with = [&](const char *from, const char *to) {
        const size_t pos = good.find(from);
        return "\"txparams\":{" + good.substr(0, pos) + to + good.substr(pos + strlen(from)) + "}";
    };
    EXPECT_EQ(0, Run(Request("config set tx params", {"All"}, with("4000", "3000000000"))));
    EXPECT_EQ(3000000000u, stBox.stEncSet.u32Bitrate);
    // A value past 32 bits is refused, not taken as its low 32 bits; a text
    // that is not whole decimal digits is not read up to where it stops.
    const std::string bad[] = {with("H265", "H266"), with("\"30\"", "30"), with("\"30\"", "\"4294967326\""),
                               with("\"1\"", "\"-4294967295\""), with("\"30\"", "\"-1\""),
                               with("\"30\"", "\"1e3\""), with("\"30\"", "\"3.5\""), with("\"30\"", "\"30abc\""),
                               with("\"30\"", "\"\""), with("\"30\"", "\"+30\""), with("\"30\"", "\" 30\""),
                               with("\"30\"", "\"-0\""), with("\"1\"", "\"abc\""), with("\"4000\"", "\"0x10\""),
                               "\"txparams\":{" + good.substr(good.find("\"encres\"")) + "}", "\"txparams\":\"x\""};
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
    const size_t pos = body.find("\"hue\"");
    EXPECT_EQ(0, Run(Request("config set rx params", {"All"}, body.substr(0, pos) + body.substr(pos + 10))));
    EXPECT_EQ(0, stBox.stDecSet.s32Luma);
    // Signed: a minus is taken, what is not a whole decimal is not.
    for (const char *hue : {"\"4294967299\"", "\"3x\"", "\"\"", "\"+3\"", "\"- 3\"", "3"}) {
        EXPECT_EQ(0, Run(Request("config set rx params", {"All"},
                                 body.substr(0, pos) + "\"hue\":" + hue + body.substr(pos + 9))));
        EXPECT_EQ(0, stBox.stDecSet.s32Luma) << hue;
    }
    EXPECT_EQ(0, Run(Request("config set rx params", {"All"}, body.substr(0, pos) + "\"hue\":\"-3\"" +
                                                             body.substr(pos + 9))));
    EXPECT_EQ(-3, stBox.stDecSet.s32Hue);
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
