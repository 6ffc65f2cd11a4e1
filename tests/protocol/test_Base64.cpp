#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "protocol/Base64.h"

static std::string Encode(const std::string &src)
{
    std::string out(4 * ((src.size() + 2) / 3), '\0');
    s32 n = base64_encode_qelto(&out[0], src.data(), (u32)src.size());
    out.resize(n < 0 ? 0 : (size_t)n);
    return out;
}

static s32 Decode(const std::string &text, std::string *out)
{
    std::vector<char> buf(text.size() * 3 / 4 + 1, 'X');
    s32 n = base64_decode_qelto(buf.data(), text.data(), (u32)text.size());
    out->assign(buf.data(), n < 0 ? 0 : (size_t)n);
    return n;
}

// RFC 4648 test vectors, both ways.
TEST(Base64Test, EncodesAndDecodesTheRfcVectors) {
    const struct { const char *src, *text; } cases[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(c.text, Encode(c.src)) << c.src;
        std::string back;
        EXPECT_EQ((s32)strlen(c.src), Decode(c.text, &back)) << c.text;
        EXPECT_EQ(c.src, back);
    }
}

// Every byte value survives the round trip, and nothing is written past
// the encoded length.
TEST(Base64Test, RoundTripsAllBytesWithoutTerminator) {
    std::string src;
    for (int i = 0; i < 256; i++) src += (char)i;
    char out[400];
    memset(out, '#', sizeof(out));
    s32 n = base64_encode_qelto(out, src.data(), (u32)src.size());
    ASSERT_EQ(344, n);
    EXPECT_EQ('#', out[n]);
    std::string back;
    EXPECT_EQ(256, Decode(std::string(out, (size_t)n), &back));
    EXPECT_EQ(src, back);
}

// A character outside the alphabet counts as 0; a length that is not a
// multiple of 4 is refused without writing.
TEST(Base64Test, ForeignCharactersCountAsZeroAndShortGroupsAreRefused) {
    std::string out;
    EXPECT_EQ(3, Decode("AA*A", &out));
    EXPECT_EQ(std::string(3, '\0'), out);
    EXPECT_EQ(3, Decode(std::string("Zg\0\0", 4), &out));
    EXPECT_EQ('f', out[0]);
    char buf[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(-1, base64_decode_qelto(buf, "Zm9vY", 5));
    EXPECT_EQ('X', buf[0]);
}

// The decoder's table is built once, also when threads decode at the same time.
TEST(Base64Test, DecodesFromManyThreadsAtOnce) {
    std::vector<std::thread> threads;
    std::vector<int> ok(8, 0);
    for (int t = 0; t < 8; t++)
        threads.emplace_back([t, &ok] {
            char buf[8];
            ok[t] = base64_decode_qelto(buf, "Zm9vYmFy", 8) == 6 && memcmp(buf, "foobar", 6) == 0;
        });
    for (auto &th : threads) th.join();
    for (int t = 0; t < 8; t++) EXPECT_EQ(1, ok[t]) << t;
}
