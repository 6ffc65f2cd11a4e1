#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "rtsplib/src/rtsp/RtspParser.h"

struct RtspParserTest : public testing::Test {
    RtspParser_S *pstParser = nullptr;
    void SetUp() override { pstParser = rtsp_parser_create(RTSP_PARSER_REQUEST); }
    void TearDown() override { rtsp_parser_destroy(pstParser); }
    s32 Input(const std::string &str) { return rtsp_parser_input(pstParser, str.data(), (u32)str.size()); }
    // Forgets everything and parses str from the start.
    s32 Fresh(const std::string &str)
    {
        rtsp_parser_clear(pstParser);
        return Input(str);
    }
    std::string Body() { return std::string((const char *)rtsp_get_content(pstParser), 4); }
};

static const std::string REQUEST = "ANNOUNCE  rtsp://h/live/main  RTSP/1.0\r\nCSeq : 12\r\nContent-Length:4\r\n"
                                   "X-Empty:\r\nConnection: close \r\n\r\nbody";

TEST_F(RtspParserTest, ReadsRequestLineHeadersAndBody)
{
    ASSERT_EQ(0, Input(REQUEST));
    EXPECT_STREQ("ANNOUNCE", rtsp_get_request_method(pstParser));
    EXPECT_STREQ("rtsp://h/live/main", rtsp_get_request_uri(pstParser));
    s32 s32Major, s32Minor;
    rtsp_get_version(pstParser, &s32Major, &s32Minor);
    EXPECT_EQ(10, s32Major * 10 + s32Minor);
    u32 u32CSeq = 0;
    EXPECT_EQ(0, rtsp_get_header_by_name2(pstParser, "cseq", &u32CSeq));
    EXPECT_EQ(12u, u32CSeq);
    EXPECT_STREQ("", rtsp_get_header_by_name(pstParser, "X-Empty"));
    EXPECT_EQ(nullptr, rtsp_get_header_by_name(pstParser, "Session"));
    EXPECT_EQ(4, rtsp_get_content_length(pstParser));
    EXPECT_EQ("body", Body());
    EXPECT_EQ(1, rtsp_get_connection(pstParser));
    const char *pszName, *pszValue;
    ASSERT_EQ(0, rtsp_get_header(pstParser, 3, &pszName, &pszValue));
    EXPECT_STREQ("Connection", pszName);
    EXPECT_EQ(-1, rtsp_get_header(pstParser, 4, &pszName, &pszValue));
}

// (Splits, frames between messages, the bounds of a message and bytes
// kept past one: the server tests.) One input is bounded too, and refused
// until cleared.
TEST_F(RtspParserTest, MalformedMessagesAreRefused)
{
    EXPECT_EQ(-E2BIG, Fresh(std::string(RTSP_MAX_INPUT + 1, 'a')));
    EXPECT_EQ(-E2BIG, Input("more"));
    EXPECT_EQ(1, Fresh("OPTIONS"));
    for (const char *psz : {"OPTIONS\r\n\r\n", "OPTIONS * RTSP/1.0 extra\r\n\r\n", "OPTIONS * RTSP/10.0\r\n\r\n",
                            "OPTIONS * RTSPX1.0\r\n\r\n", "AVERYLONGMETHODNAME * RTSP/1.0\r\n\r\n",
                            "OPTIONS * RTSP/1.0\r\nNoColon\r\n\r\n", "OPTIONS * RTSP/1.0\r\n: value\r\n\r\n",
                            "OPTIONS * RTSP/1.0\r\nBad Name: value\r\n\r\n", "OPTIONS * RTSP/1.0\r\nX: a\x01z\r\n\r\n",
                            "OPTIONS * RTSP/1.0\r\nContent-Length: -1\r\n\r\n",
                            "OPTIONS * RTSP/1.0\r\nContent-Length: 99999999999\r\n\r\n",
                            "OPTIONS * RTSP/1.0\r\nTransfer-Encoding: chunked\r\n\r\n",
                            "OPTIONS rtsp://a\x7f" "b RTSP/1.0\r\n\r\n"}) {
        s32 s32Ret = Fresh(psz);
        EXPECT_TRUE(s32Ret == -EINVAL || s32Ret == -E2BIG) << psz << " " << s32Ret;
    }
}

TEST_F(RtspParserTest, NumbersAreBoundedUnsigned)
{
    const struct {
        const char *pszValue;
        s32 s32Ret;
        u32 u32Value;
    } astCase[] = {{"0", 0, 0}, {"4294967295", 0, 4294967295u}, {"4294967296", -2, 0}, {"12a", -2, 0},
                   {"-1", -2, 0}, {"", -2, 0}, {"+5", -2, 0}, {"4294967297", -2, 0},
                   {"18446744073709551617", -2, 0}};
    for (const auto &stCase : astCase) {
        ASSERT_EQ(0, Fresh(std::string("OPTIONS * RTSP/1.0\r\nCSeq: ") + stCase.pszValue + "\r\n\r\n"));
        u32 u32Value = 0;
        EXPECT_EQ(stCase.s32Ret, rtsp_get_header_by_name2(pstParser, "CSeq", &u32Value)) << stCase.pszValue;
        EXPECT_EQ(stCase.u32Value, u32Value) << stCase.pszValue;
    }
    EXPECT_EQ(-1, rtsp_get_header_by_name2(pstParser, "Missing", nullptr));
}

// Whatever the bound, up to the largest 64-bit number, a number past it
// is refused, never taken modulo 2^64.
TEST(RtspNumberTest, NumbersPastTheBoundNeverWrap)
{
    const u64 u64Top = 0xFFFFFFFFFFFFFFFFULL;
    const struct {
        const char *psz;
        u64 u64Max;
        s32 s32Ret;
        u64 u64Value;
    } astCase[] = {{"18446744073709551615", u64Top, 0, u64Top}, {"18446744073709551616", u64Top, -1, 0},
                   {"18446744073709551617", u64Top, -1, 0},      {"99999999999999999999", u64Top, -1, 0},
                   {"000000000000000000000007", 7, 0, 7},         {"8", 7, -1, 0},
                   {"0", 0, 0, 0},                                {"5", 0, -1, 0},
                   {"4294967297", 0xFFFFFFFFULL, -1, 0}};
    for (const auto &stCase : astCase) {
        u64 u64Value = 0;
        EXPECT_EQ(stCase.s32Ret, rtsp_parse_number(stCase.psz, (u32)strlen(stCase.psz), stCase.u64Max, &u64Value))
            << stCase.psz;
        EXPECT_EQ(stCase.u64Value, u64Value) << stCase.psz;
    }
}

TEST_F(RtspParserTest, ResponsesAndBareLineFeeds)
{
    RtspParser_S *pstResp = rtsp_parser_create(RTSP_PARSER_RESPONSE);
    std::string str = "RTSP/1.0 454 Session Not Found\nCSeq: 3\n\n";
    ASSERT_EQ(0, rtsp_parser_input(pstResp, str.data(), (u32)str.size()));
    EXPECT_EQ(454, rtsp_get_status_code(pstResp));
    EXPECT_STREQ("Session Not Found", rtsp_get_status_reason(pstResp));
    rtsp_parser_destroy(pstResp);
}
