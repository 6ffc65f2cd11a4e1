#include <gtest/gtest.h>

#include <cjson/cJSON.h>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/Base64.h"
#include "protocol/ProtocolCommands.h"
#include "protocol/ProtocolStreamCmds.h"
#include "tests/protocol/FakeBox.h"

// What slots 43 to 48 were given.
struct StreamSlots_S {
    s32 s32Streams = 2;
    std::vector<std::string> calls;
    ProtocolFirmwareChunk_S stChunk{};
    std::string chunkBytes;
    std::string edid;
    s32 s32Value = -1;
    s32 s32Result = 0;
};

static StreamSlots_S *s_pstSlots;

static s32 Slot_GetStream(void *, ProtocolStreamInfo_S *pstInfo)
{
    s_pstSlots->calls.push_back("ongetStream");
    pstInfo->s32Count = s_pstSlots->s32Streams;
    pstInfo->s32Id = 300;
    for (s32 i = 0; i < PROTOCOL_STREAM_MAX; i++) {
        ProtocolStreamEntry_S *pstEntry = &pstInfo->astStream[i];
        pstEntry->bStatus = i == 0;
        pstEntry->s32Width = 1920 >> i;
        pstEntry->s32Height = 1080 >> i;
        pstEntry->s32Vsync = 12;
        pstEntry->s32Async = 48000;
        pstEntry->s32Hdcp = 1 + i;
        memset(pstEntry->azUrl, 'u', sizeof(pstEntry->azUrl));   // no terminator: read no further
        snprintf(pstEntry->azRtspMip, sizeof(pstEntry->azRtspMip), "234.%d.1.44", i);
    }
    return 0;
}

static s32 Slot_Firmware(void *, ProtocolFirmwareChunk_S *pstChunk)
{
    s_pstSlots->calls.push_back("onupdateFirmware");
    s_pstSlots->stChunk = *pstChunk;
    s_pstSlots->chunkBytes.assign((const char *)pstChunk->pu8Data, (size_t)pstChunk->s32Length);
    return s_pstSlots->s32Result;
}

// Records a call to a slot and what it was given.
static s32 Slot_Edid(const char *pszName, const u8 *pu8Edid, s32 s32Len, s32 s32Value)
{
    s_pstSlots->calls.push_back(pszName);
    if (pu8Edid)
        s_pstSlots->edid.assign((const char *)pu8Edid, (size_t)s32Len);
    s_pstSlots->s32Value = s32Value;
    return s_pstSlots->s32Result;
}

struct StreamCmdsTest : public testing::Test {
    FakeBox_S stBox;
    StreamSlots_S stSlots;
    ProtocolServer_S stServer{};
    ProtocolRequestHead_S stHead{};
    char azReply[PROTOCOL_BUF_LEN] = {};
    cJSON *pstReply = nullptr;

    void SetUp() override
    {
        s_pstSlots = &stSlots;
        ProtocolServerCallback_S stTable = FakeBox_Table();
        stTable.ongetStream = Slot_GetStream;
        stTable.onupdateFirmware = Slot_Firmware;
        stTable.onsetEdid = [](void *, const u8 *e, s32 n) { return Slot_Edid("onsetEdid", e, n, -1); };
        stTable.onsetUserEdid = [](void *, const u8 *e, s32 n, s32 i) { return Slot_Edid("onsetUserEdid", e, n, i); };
        stTable.onsetEdidIndex = [](void *, s32 v) { return Slot_Edid("onsetEdidIndex", nullptr, 0, v); };
        stTable.oncopyEdid = [](void *, s32 v) { return Slot_Edid("oncopyEdid", nullptr, 0, v); };
        protocol_server_attach(&stServer, stTable, &stBox);
        snprintf(stServer.azEthName, sizeof(stServer.azEthName), "lo");
        snprintf(stHead.azCmd, sizeof(stHead.azCmd), "some cmd");
        snprintf(stHead.azHostId, sizeof(stHead.azHostId), "aabbccddeeff");
        stHead.s32Seq = 9;
    }
    void TearDown() override { cJSON_Delete(pstReply); }

    static std::string Body(const std::string &body) { return "{\"request\":{}," + body + "}"; }
    static std::string B64(const std::string &bytes)
    {
        std::string out(4 * ((bytes.size() + 2) / 3), '\0');
        base64_encode_qelto(&out[0], bytes.data(), (u32)bytes.size());
        return out;
    }

    s32 Keep(s32 s32Ret)
    {
        cJSON_Delete(pstReply);
        pstReply = s32Ret > 0 ? cJSON_Parse(azReply) : nullptr;
        return s32Ret;
    }
    s32 Run(ProtocolHandleBody_F *pfn, const std::string &request)
    {
        memset(azReply, 0, sizeof(azReply));
        return Keep(pfn(&stServer, &stHead, request.c_str(), azReply));
    }
    std::string Status()
    {
        const cJSON *pstItem = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, "ack"), "status");
        return cJSON_IsString(pstItem) ? pstItem->valuestring : "<none>";
    }
};

// Both streams with their texts and numbers in order; the URL field is
// read no further than its 128 bytes.
TEST_F(StreamCmdsTest, StreamGetListsEveryEntry) {
    ASSERT_GT(Keep(protocol_server_handle_stream_get(&stServer, &stHead, azReply)), 0);
    EXPECT_EQ("success", Status());
    const cJSON *pstArray = cJSON_GetObjectItem(pstReply, "stream");
    ASSERT_EQ(2, cJSON_GetArraySize(pstArray));
    const cJSON *pstSub = cJSON_GetArrayItem(pstArray, 1);
    std::vector<std::string> keys;
    const cJSON *pstItem;
    cJSON_ArrayForEach(pstItem, pstSub) keys.push_back(pstItem->string);
    EXPECT_EQ((std::vector<std::string>{"status", "id", "width", "height", "vsync", "async", "url", "hdcp",
                                        "rtspmip"}), keys);
    EXPECT_STREQ("true", cJSON_GetObjectItem(cJSON_GetArrayItem(pstArray, 0), "status")->valuestring);
    EXPECT_STREQ("false", cJSON_GetObjectItem(pstSub, "status")->valuestring);
    EXPECT_EQ(300, cJSON_GetObjectItem(pstSub, "id")->valueint);
    EXPECT_STREQ("48000", cJSON_GetObjectItem(pstSub, "async")->valuestring);
    EXPECT_EQ(127u, strlen(cJSON_GetObjectItem(pstSub, "url")->valuestring));
    const cJSON *pstHdcp = cJSON_GetObjectItem(pstSub, "hdcp");   // a number, not a boolean
    ASSERT_TRUE(cJSON_IsNumber(pstHdcp));
    EXPECT_EQ(2, pstHdcp->valueint);

    // More than the record's 16 entries is read no further (too big to send); fewer than none sends none.
    stSlots.calls.clear();
    stSlots.s32Streams = 40;
    EXPECT_EQ(-1, Keep(protocol_server_handle_stream_get(&stServer, &stHead, azReply)));
    EXPECT_EQ(1u, stSlots.calls.size());
    stSlots.s32Streams = -3;
    ASSERT_GT(Keep(protocol_server_handle_stream_get(&stServer, &stHead, azReply)), 0);
    EXPECT_EQ(0, cJSON_GetArraySize(cJSON_GetObjectItem(pstReply, "stream")));
}

// "id" and "ip" stand beside "ack"; the address is left in the server.
TEST_F(StreamCmdsTest, IpGetAnswersIdAndAddress) {
    ASSERT_GT(Keep(protocol_server_handle_ip_get(&stServer, &stHead, azReply)), 0);
    EXPECT_EQ(7, cJSON_GetObjectItem(pstReply, "id")->valueint);
    EXPECT_STREQ("127.0.0.1", cJSON_GetObjectItem(pstReply, "ip")->valuestring);
    EXPECT_STREQ("127.0.0.1", stServer.azHostIP);
    snprintf(stServer.azEthName, sizeof(stServer.azEthName), "nosuch0");
    EXPECT_EQ(-1, protocol_server_handle_ip_get(&stServer, &stHead, azReply));
}

// A chunk reaches slot 44 only when its number is in range and its length
// is within the bytes the request carried; the last chunk of an image of
// whole chunks is empty.
TEST_F(StreamCmdsTest, UpdateRxChecksChunk) {
    std::string bytes(512, '\0');
    for (size_t i = 0; i < bytes.size(); i++)
        bytes[i] = (char)(i * 7);
    const struct { const char *count, *length; std::string data; const char *status; } cases[] = {
        {"1", "512", B64(bytes), "success"},
        {"16384", "100", B64(bytes), "success"},
        {"2", "513", B64(bytes), "failure"},
        {"16384", "0", "", "success"},
        {"2", "-5", B64(bytes), "failure"},
        {"0", "10", B64(bytes), "failure"},
        {"16385", "10", B64(bytes), "failure"},
        {"2", "10", B64(bytes).substr(1), "failure"},      // not a multiple of 4
        {"2", "10", "AAA*" + B64(bytes).substr(4), "failure"},
        {"4294967297", "10", B64(bytes), "failure"},       // not chunk 1
        {"-4294967294", "10", B64(bytes), "failure"},      // nor chunk 2
        {"2", "4294967306", B64(bytes), "failure"},        // nor 10 bytes
        {"99999999999999999999", "10", B64(bytes), "failure"},
        {"1x", "10", B64(bytes), "failure"},               // not chunk 1
        {"+1", "10", B64(bytes), "failure"},
        {"", "10", B64(bytes), "failure"},
        {"1", "1e1", B64(bytes), "failure"},               // nor 1 byte
        {"1", " 10", B64(bytes), "failure"},
    };
    for (const auto &c : cases) {
        stSlots.calls.clear();
        ASSERT_GT(Run(protocol_server_handle_update_rx,
                      Body("\"count\":\"" + std::string(c.count) + "\",\"length\":\"" + c.length +
                           "\",\"data\":\"" + c.data + "\"")), 0) << c.count << " " << c.length;
        EXPECT_EQ(c.status, Status()) << c.count << " " << c.length;
        bool bCalled = std::string("success") == c.status;
        EXPECT_EQ(bCalled, !stSlots.calls.empty());
        if (bCalled) {
            EXPECT_EQ(atoi(c.count), stSlots.stChunk.s32Count);
            EXPECT_EQ(bytes.substr(0, (size_t)atoi(c.length)), stSlots.chunkBytes);
        }
    }
    EXPECT_EQ(-1, Run(protocol_server_handle_update_rx, Body("\"length\":\"1\",\"data\":\"AAAA\"")));
    EXPECT_EQ(-1, Run(protocol_server_handle_update_rx, Body("\"count\":\"1\",\"length\":\"1\"")));
    stSlots.s32Result = -1;
    ASSERT_GT(Run(protocol_server_handle_update_rx, Body("\"count\":\"1\",\"length\":\"3\",\"data\":\"AAAA\"")), 0);
    EXPECT_EQ("failure", Status());
}

// The raw bytes after "\r\n", zeros among them, counted from what was
// decoded rather than by their text length.
TEST_F(StreamCmdsTest, UpdateTxTakesBytesAfterTheLineEnd) {
    std::string json = Body("\"count\":\"2\",\"length\":\"6\"");
    std::string request = json + "\r\n" + std::string("\x01\0\x02\0\0\x03", 6);
    request.resize(PROTOCOL_BUF_LEN, '\0');
    stServer.u32RequestLen = (u32)(json.size() + 2 + 6);
    memset(azReply, 0, sizeof(azReply));
    ASSERT_GT(Keep(protocol_server_handle_update_tx(&stServer, &stHead, request.data(), azReply)), 0);
    EXPECT_EQ("success", Status());
    EXPECT_EQ(std::string("\x01\0\x02\0\0\x03", 6), stSlots.chunkBytes);

    stSlots.calls.clear();
    stServer.u32RequestLen = (u32)(json.size() + 2 + 5);   // one byte short of "length"
    ASSERT_GT(Keep(protocol_server_handle_update_tx(&stServer, &stHead, request.data(), azReply)), 0);
    EXPECT_EQ("failure", Status());
    EXPECT_TRUE(stSlots.calls.empty());

    EXPECT_EQ(-1, Run(protocol_server_handle_update_tx, json));

    // A chunk number past 2^32 is refused, not taken as its low 32 bits.
    json = Body("\"count\":\"4294967297\",\"length\":\"6\"");
    request = json + "\r\n" + std::string("\x01\0\x02\0\0\x03", 6);
    request.resize(PROTOCOL_BUF_LEN, '\0');
    stServer.u32RequestLen = (u32)(json.size() + 2 + 6);
    stSlots.calls.clear();
    ASSERT_GT(Keep(protocol_server_handle_update_tx(&stServer, &stHead, request.data(), azReply)), 0);
    EXPECT_EQ("failure", Status());
    EXPECT_TRUE(stSlots.calls.empty());
}

// "edid set" and "edid user set" take padded base64 of exactly 256 bytes.
TEST_F(StreamCmdsTest, EdidPayloadMustBeWhole) {
    std::string edid(256, '\0');
    for (size_t i = 0; i < edid.size(); i++)
        edid[i] = (char)(255 - i);
    const struct { std::string text; bool taken; } cases[] = {
        {B64(edid), true},
        {B64(edid.substr(0, 255)), false},
        {B64(edid + "x"), false},
        {B64(edid + std::string(200, 'y')), false},
        {B64(edid).substr(0, 343), false},
        {"@" + B64(edid).substr(1), false},
        {"", false},
    };
    for (const auto &c : cases) {
        stSlots.calls.clear();
        ASSERT_GT(Run(protocol_server_handle_edid_set, Body("\"txedid\":{\"edid\":\"" + c.text + "\"}")), 0);
        EXPECT_EQ(c.taken ? "success" : "failure", Status()) << c.text.size();
        EXPECT_EQ(c.taken, !stSlots.calls.empty());
    }
    EXPECT_EQ(edid, stSlots.edid);
    EXPECT_EQ(-1, Run(protocol_server_handle_edid_set, Body("\"edid\":\"" + B64(edid) + "\"")));
    EXPECT_EQ(-1, Run(protocol_server_handle_edid_set, Body("\"txedid\":{\"edid\":5}")));

    // "edid user set" needs an index, 3 being too big.
    stSlots.calls.clear();
    edid.assign(256, 'e');
    EXPECT_EQ(-1, Run(protocol_server_handle_edid_user_set,
                      Body("\"txedid\":{\"edid\":\"" + B64(edid) + "\",\"idx\":3}")));
    EXPECT_EQ(-1, Run(protocol_server_handle_edid_user_set, Body("\"txedid\":{\"edid\":\"" + B64(edid) + "\"}")));
    EXPECT_TRUE(stSlots.calls.empty());
    ASSERT_GT(Run(protocol_server_handle_edid_user_set,
                  Body("\"txedid\":{\"edid\":\"" + B64(edid) + "\",\"idx\":2}")), 0);
    EXPECT_EQ(2, stSlots.s32Value);
    EXPECT_EQ(edid, stSlots.edid);
}

// The index and receiver id pass as numbers; the slot's refusal is the
// status.
TEST_F(StreamCmdsTest, EdidIndexAndCopyPassTheirNumber) {
    const struct { ProtocolHandleBody_F *pfn; const char *body, *slot; s32 value; } cases[] = {
        {protocol_server_handle_edid_copy, "\"txedid\":{\"rxid\":5}", "oncopyEdid", 5},
        {protocol_server_handle_edid_index_set, "\"txedid\":{\"edidindex\":8}", "onsetEdidIndex", 8},
    };
    for (const auto &c : cases) {
        stSlots.calls.clear();
        ASSERT_GT(Run(c.pfn, Body(c.body)), 0);
        EXPECT_EQ(std::vector<std::string>{c.slot}, stSlots.calls);
        EXPECT_EQ(c.value, stSlots.s32Value);
    }
    stSlots.s32Result = -1;
    ASSERT_GT(Run(protocol_server_handle_edid_copy, Body("\"txedid\":{\"rxid\":5}")), 0);
    EXPECT_EQ("failure", Status());
    EXPECT_EQ(-1, Run(protocol_server_handle_edid_copy, Body("\"txedid\":{\"edidindex\":5}")));
    EXPECT_EQ(-1, Run(protocol_server_handle_edid_index_set, Body("\"edidindex\":5")));
}

// A number that is not whole or lies outside 32 bits, or anything but a
// number, is refused with "failure" before any slot, neither cut nor held
// at the edge of the range nor taken as 0.
TEST_F(StreamCmdsTest, EdidNumbersOutOfRangeAreRefused) {
    const struct { ProtocolHandleBody_F *pfn; const char *body; } cases[] = {
        {protocol_server_handle_edid_index_set, "\"txedid\":{\"edidindex\":4294967304}"},
        {protocol_server_handle_edid_index_set, "\"txedid\":{\"edidindex\":-2147483649}"},
        {protocol_server_handle_edid_copy, "\"txedid\":{\"rxid\":5.5}"},
        {protocol_server_handle_edid_copy, "\"txedid\":{\"rxid\":1e400}"},
        {protocol_server_handle_edid_copy, "\"txedid\":{\"rxid\":\"5\"}"},
        {protocol_server_handle_edid_copy, "\"txedid\":{\"rxid\":null}"},
        {protocol_server_handle_edid_copy, "\"txedid\":{\"rxid\":[5]}"},
        {protocol_server_handle_edid_index_set, "\"txedid\":{\"edidindex\":\"abc\"}"},
        {protocol_server_handle_edid_index_set, "\"txedid\":{\"edidindex\":true}"},
    };
    for (const auto &c : cases) {
        stSlots.calls.clear();
        ASSERT_GT(Run(c.pfn, Body(c.body)), 0) << c.body;
        EXPECT_EQ("failure", Status()) << c.body;
        EXPECT_TRUE(stSlots.calls.empty()) << c.body;
    }
    std::string edid(256, 'e');
    EXPECT_EQ(-1, Run(protocol_server_handle_edid_user_set,
                      Body("\"txedid\":{\"edid\":\"" + B64(edid) + "\",\"idx\":4294967297}")));
    for (const char *idx : {"1.5", "\"2\"", "null", "false"})
        EXPECT_EQ(-1, Run(protocol_server_handle_edid_user_set,
                          Body("\"txedid\":{\"edid\":\"" + B64(edid) + "\",\"idx\":" + idx + "}")))
            << idx;
    EXPECT_TRUE(stSlots.calls.empty());
}
