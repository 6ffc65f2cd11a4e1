#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "protocol/Base64.h"
#include "protocol/ProtocolMsg.h"

static std::string Frame(const std::string &text)
{
    char out[PROTOCOL_BUF_LEN];
    s32 n = protocol_frame_encode(text.c_str(), out, sizeof(out));
    return n < 0 ? std::string() : std::string(out, (size_t)n);
}

// Decodes from a heap copy of exactly the datagram's bytes, so that a read
// past them is caught by the sanitizer build.
static s32 Unframe(const std::string &data, std::string *text)
{
    std::unique_ptr<char[]> copy(new char[data.size() + 1]);
    memcpy(copy.get(), data.data(), data.size());
    char out[PROTOCOL_BUF_LEN];
    s32 n = protocol_frame_decode(copy.get(), (u32)data.size(), out, sizeof(out));
    text->assign(n < 0 ? "" : out);
    return n;
}

struct RequestParseTest : public testing::Test {
    ProtocolRequestHead_S stHead{};
    void TearDown() override { request_head_free(&stHead); }
};

// Formatted and whitespace-free requests pass the head test; a request
// printed with blanks, or one that does not begin with "request", does not.
TEST(ProtocolFrameTest, AcceptsOnlyTheTwoRequestPrints) {
    const struct { const char *text; bool accepted; } cases[] = {
        {"{\n\t\"request\":\t{\n\t\t\"cmd\":\t\"x\"\n\t}\n}", true},
        {"{\"request\":{\"cmd\":\"x\"}}", true},
        {"{ \"request\": {\"cmd\":\"x\"}}", false},
        {"{\"ack\":{},\"request\":{}}", false},
        {"{\"request\"", false},
    };
    for (const auto &c : cases) {
        std::string data = Frame(c.text);
        EXPECT_EQ(c.accepted, protocol_frame_is_request(data.data(), (u32)data.size())) << c.text;
    }
    EXPECT_FALSE(protocol_frame_is_request(g_u8Base64Head, PROTOCOL_HEAD_LEN - 1));
}

// The datagram is the text and 1 to 4 zeros, encoded; a text of 1119
// characters takes 1496 bytes, one of 1120 is refused.
TEST(ProtocolFrameTest, FramesTextWithTrailingZerosUpToTheLimit) {
    const struct { size_t len; s32 frame; } cases[] = {
        {0, 8}, {1, 8}, {3, 8}, {4, 12}, {8, 16}, {1119, 1496}, {1120, -1},
    };
    for (const auto &c : cases) {
        std::string text(c.len, 'a');
        char out[PROTOCOL_BUF_LEN];
        EXPECT_EQ(c.frame, protocol_frame_encode(text.c_str(), out, sizeof(out))) << c.len;
        if (c.frame < 0) continue;
        std::string back;
        EXPECT_EQ((s32)c.len, Unframe(std::string(out, (size_t)c.frame), &back));
        EXPECT_EQ(text, back);
    }
    char small[12];
    EXPECT_EQ(-1, protocol_frame_encode("abcdefgh", small, sizeof(small)));
}

// Decoding stops at the first zero byte and never reads past the
// datagram; a datagram that is not valid base64 decodes to something
// bounded, and one whose text would not fit the buffer is refused.
TEST(ProtocolFrameTest, DecodesHostileDatagramsWithinBounds) {
    std::string text;
    EXPECT_EQ(0, Unframe("", &text));
    EXPECT_EQ(2, Unframe("e30", &text));
    EXPECT_EQ("{}", text);
    EXPECT_EQ(2, Unframe(std::string("e30\0garbage", 11), &text));
    EXPECT_EQ(-1, Unframe(std::string(1996, 'A'), &text));
    EXPECT_EQ(0, Unframe(std::string(1995, 'A'), &text));
    EXPECT_EQ(0, Unframe(std::string(PROTOCOL_BUF_LEN, 'A'), &text));
    s32 n = Unframe(std::string(PROTOCOL_BUF_LEN, '/'), &text);
    EXPECT_EQ(1125, n);
    char out[15];
    EXPECT_EQ(-1, protocol_frame_decode("eyJyZXF1ZXN0Ijp7", 16, out, sizeof(out)));
}

// A buffer larger than a request's takes a datagram as long as it holds.
TEST(ProtocolFrameTest, DecodesDatagramsAsLongAsTheBufferTakes) {
    std::string text = "{\"ack\":\"" + std::string(3000, 'x') + "\"}";
    std::string padded = text + std::string(4 - text.size() % 4, '\0');
    std::unique_ptr<char[]> data(new char[padded.size() * 2]);
    s32 s32Chars = base64_encode_qelto(data.get(), padded.data(), (u32)padded.size());
    std::unique_ptr<char[]> out(new char[8192]);
    EXPECT_EQ((s32)text.size(), protocol_frame_decode(data.get(), (u32)s32Chars, out.get(), 8192));
    EXPECT_EQ(text, out.get());
}

// Bytes carried after the text are counted up to the framing's last zero,
// for every length the framing rounds: exactly when the sender's bytes
// leave it one zero to add. Zeros of their own inside them count.
TEST(ProtocolFrameTest, CountsCarriedBytesUpToTheFramingsLastZero) {
    for (size_t n : {13, 14, 15, 16, 17}) {
        std::string sent = "{}\r\n" + std::string("\x01\0\x02", 3) + std::string(n - 7, '\x05');
        std::string padded = sent + std::string(4 - n % 4, '\0');
        char data[64], out[64];
        s32 s32Chars = base64_encode_qelto(data, padded.data(), (u32)padded.size());
        u32 u32Bytes = 0;
        EXPECT_EQ(5, protocol_frame_decode(data, (u32)s32Chars, out, sizeof(out), &u32Bytes)) << n;   // up to the first zero
        EXPECT_EQ(((n + 4) & ~size_t(3)) - 1, u32Bytes) << n;
        EXPECT_EQ(sent, std::string(out, n)) << n;
    }
}

TEST_F(RequestParseTest, ParsesAllMembersAndCutsLongTexts) {
    std::string host(40, 'h');
    std::string json = "{\"request\":{\"cmd\":\"config get device\",\"hostid\":\"" + host +
                       "\",\"seq\":7,\"device\":[{\"id\":\"All\"},{\"id\":\"" + std::string(50, 'd') +
                       "\"}]}}";
    ASSERT_EQ(0, request_head_parse(&stHead, json.c_str()));
    EXPECT_STREQ("config get device", stHead.azCmd);
    EXPECT_EQ(std::string(31, 'h'), stHead.azHostId);
    EXPECT_EQ(7, stHead.s32Seq);
    ASSERT_EQ(2, stHead.s32DevCount);
    EXPECT_STREQ("All", stHead.pstDevice[0].azId);
    EXPECT_EQ(1, stHead.pstDevice[1].s32Index);
    EXPECT_EQ(std::string(31, 'd'), stHead.pstDevice[1].azId);

    // Cut between characters: a two-byte one that does not fit is left out.
    request_head_free(&stHead);
    stHead = {};
    json = "{\"request\":{\"cmd\":\"c\",\"hostid\":\"" + std::string(30, 'h') +
           "\u00e9\",\"device\":[{\"id\":\"All\"}]}}";
    ASSERT_EQ(0, request_head_parse(&stHead, json.c_str()));
    EXPECT_EQ(std::string(30, 'h'), stHead.azHostId);

    // An escaped backslash before "u0000" is no NUL.
    request_head_free(&stHead);
    stHead = {};
    ASSERT_EQ(0, request_head_parse(&stHead, R"({"request":{"cmd":"c","hostid":"\\u0000\\\\u0000",)"
                                             R"("device":[{"id":"All"}]}})"));
    EXPECT_STREQ(R"(\u0000\\u0000)", stHead.azHostId);
}

// Escapes that give a character pass, as does "\u000g" after an escaped
// backslash; only the JSON is checked, not the "update tx" chunk after it.
TEST_F(RequestParseTest, TakesSoundEscapesAndChecksTheJsonAlone) {
    ASSERT_EQ(0, request_head_parse(&stHead, R"({"request":{"cmd":"update tx","hostid":"\\u000g\u00e9",)"
                                             R"("device":[{"id":"All"}]},"count":"1","length":"16"})"
                                             "\r\n" R"(\u0000AB\u000gCD)"));
    EXPECT_STREQ("\\u000g\xc3\xa9", stHead.azHostId);
}

// "seq" only names the exchange: a whole number within 32 bits is taken,
// any other form, in a request or a reply, counts as none (0).
TEST(MessageSeqTest, TakesAWholeS32AndAnyOtherFormAsNone) {
    const struct { const char *value; s32 seq; } cases[] = {
        {nullptr, 0}, {"7", 7}, {"-2147483648", INT32_MIN}, {"2147483647", INT32_MAX}, {"2147483648", 0},
        {"1099511627776", 0}, {"7.5", 0}, {"\"7\"", 0}, {"null", 0}, {"[1]", 0}, {"true", 0},
    };
    for (const auto &c : cases) {
        std::string seq = c.value == nullptr ? "" : std::string(",\"seq\":") + c.value;
        ProtocolRequestHead_S stReq{};
        std::string request = R"({"request":{"cmd":"c","hostid":"h")" + seq + R"(,"device":[{"id":"All"}]}})";
        EXPECT_EQ(0, request_head_parse(&stReq, request.c_str())) << seq;
        EXPECT_EQ(c.seq, stReq.s32Seq) << seq;
        request_head_free(&stReq);
        ProtocolReplyHead_S stReply{};
        std::string reply = R"({"ack":{"cmd":"c","status":"s","hostid":"h","deviceid":"d")" + seq + "}}";
        EXPECT_EQ(0, reponse_head_parse(&stReply, reply.c_str())) << seq;
        EXPECT_EQ(c.seq, stReply.s32Seq) << seq;
    }
}

// Missing members, members of the wrong kind, texts that are not UTF-8
// (a reply would echo them to every controller) and an escaped NUL in any
// text or name, or a "\u" without four hex digits, which the parser reads
// as one (it would end the text there: "30\u0000abc" read as 30), fail
// alike, leaving nothing allocated.
TEST_F(RequestParseTest, RefusesMissingAndMistypedMembers) {
    const char *cases[] = {
        "not json",
        "[1,2]",
        "{\"request\":5}",
        "{\"request\":{\"hostid\":\"h\",\"device\":[{\"id\":\"All\"}]}}",
        "{\"request\":{\"cmd\":5,\"hostid\":\"h\",\"device\":[{\"id\":\"All\"}]}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":null,\"device\":[{\"id\":\"All\"}]}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":\"h\"}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":\"h\",\"device\":[]}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":\"h\",\"device\":{\"id\":\"All\"}}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":\"h\",\"device\":[\"All\"]}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":\"h\",\"device\":[{\"id\":\"All\"},{\"id\":3}]}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":\"h\",\"device\":[{\"id\":\"All\"},{}]}}",
        "{\"request\":{\"cmd\":\"c\",\"hostid\":\"h\xff\",\"device\":[{\"id\":\"All\"}]}}",
        "{\"request\":{\"cmd\":\"config get device\xc3\",\"hostid\":\"h\",\"device\":[{\"id\":\"All\"}]}}",
        R"({"request":{"cmd":"c\u0000x","hostid":"h","device":[{"id":"All"}]}})",
        R"({"request":{"cmd":"c","hostid":"h","device":[{"id":"All"}]},"txparams":{"fps":"30\u0000abc"}})",
        R"({"request":{"cmd":"c","hostid":"h","device":[{"id":"All"}]},"fps\u0000x":30})",
        R"({"request":{"cmd":"c","hostid":"h","device":[{"id":"All"}]},"alias":{"name":"a\\\u0000"}})",
        R"({"request":{"cmd":"c","hostid":"h","device":[{"id":"All"}]},"alias":{"name":"lob\u000gby"}})",
        R"({"request":{"cmd":"c\uzzzz","hostid":"h","device":[{"id":"All"}]}})",
        R"({"request":{"cmd":"c","hostid":"h","device":[{"id":"All\u00G0junk"}]}})",
        R"({"request":{"cmd":"c","hostid":"h","device":[{"id":"All"}]},"alias\u 000":{}})",
        R"({"request":{"cmd":"c","hostid":"h","device":[{"id":"All"}]},"alias":{"name":"a\u00)",
    };
    for (const char *c : cases) {
        ProtocolRequestHead_S stOne{};
        EXPECT_EQ(-1, request_head_parse(&stOne, c)) << c;
        EXPECT_EQ(nullptr, stOne.pstDevice) << c;
    }
}

// The client's head: members in order, one number more per request.
TEST(RequestJsonTest, PrintsMembersInOrderWithRisingSeq) {
    ProtocolRequestDevice_S astDev[2] = {{0, "All_RX"}, {1, "0a0b0c0d0e0f"}};
    ProtocolRequestHead_S stHead{"matrix get", "112233445566", 2, astDev, 0};
    cJSON *pstFirst = request_head_json(&stHead);
    s32 s32First = stHead.s32Seq;
    ASSERT_NE(nullptr, pstFirst);
    char *psz = cJSON_PrintUnformatted(pstFirst);
    EXPECT_EQ("{\"request\":{\"cmd\":\"matrix get\",\"hostid\":\"112233445566\",\"seq\":" +
                  std::to_string(s32First) +
                  ",\"device\":[{\"id\":\"All_RX\"},{\"id\":\"0a0b0c0d0e0f\"}]}}",
              std::string(psz));
    cJSON_free(psz);
    cJSON_Delete(pstFirst);
    cJSON_Delete(request_head_json(&stHead));
    EXPECT_EQ(s32First + 1, stHead.s32Seq);
}

TEST(ReplyHeadTest, PrintsInOrderAndParsesBack) {
    ProtocolReplyHead_S stHead{"config get id", "success", "host", "dev", 9};
    cJSON *pstRoot = cJSON_CreateObject();
    cJSON_AddItemToObject(pstRoot, "ack", reponse_head_createjson(&stHead));
    char *psz = cJSON_PrintUnformatted(pstRoot);
    EXPECT_STREQ("{\"ack\":{\"cmd\":\"config get id\",\"status\":\"success\",\"hostid\":\"host\","
                 "\"deviceid\":\"dev\",\"seq\":9}}",
                 psz);
    ProtocolReplyHead_S stBack{};
    EXPECT_EQ(0, reponse_head_parse(&stBack, psz));
    EXPECT_EQ(0, memcmp(&stHead, &stBack, sizeof(stHead)));
    cJSON_free(psz);
    cJSON_Delete(pstRoot);

    const char *bad[] = {"x", "{\"request\":{}}",
                         "{\"ack\":{\"cmd\":\"c\",\"status\":\"s\",\"hostid\":\"h\"}}",
                         "{\"ack\":{\"cmd\":\"c\",\"status\":1,\"hostid\":\"h\",\"deviceid\":\"d\"}}",
                         R"({"ack":{"cmd":"c","status":"s","hostid":"h","deviceid":"d\u0000x"}})"};
    for (const char *c : bad) {
        ProtocolReplyHead_S stOne{};
        EXPECT_EQ(-1, reponse_head_parse(&stOne, c)) << c;
    }
}
