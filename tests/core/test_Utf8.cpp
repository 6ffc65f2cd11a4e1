#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "core/Utf8.h"

// Shortest forms up to U+10FFFF pass; overlong forms, surrogates, stray or
// missing continuation bytes and values past U+10FFFF do not.
TEST(Utf8Test, ValidityOfEachForm) {
    const struct { const char *text; bool valid; } cases[] = {
        {"", true}, {"Lobby 2", true}, {"\xc3\xa9", true}, {"\xe2\x82\xac", true},
        {"\xf0\x9f\x98\x80", true}, {"\xf4\x8f\xbf\xbf", true}, {"\xed\x9f\xbf", true},
        {"\xc0\xaf", false}, {"\xc1\xbf", false}, {"\xe0\x9f\xbf", false}, {"\xf0\x8f\xbf\xbf", false},
        {"\xed\xa0\x80", false}, {"\xf4\x90\x80\x80", false}, {"\xf5\x80\x80\x80", false},
        {"\x80", false}, {"a\xbf", false}, {"\xc3", false}, {"\xe2\x82", false}, {"\xc3\x28", false},
        {"\xff", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.valid, Utf8_IsValid(c.text, strlen(c.text))) << c.text;
    EXPECT_FALSE(Utf8_IsValid("\xe2\x82\xac", 2));   // the length given bounds the check
}

// A text is cut at the last whole character that leaves room for the
// terminator; an invalid text is refused even past the cut.
TEST(Utf8Test, CopyCutsBetweenCharacters) {
    const struct { std::string text; size_t size; s32 len; std::string out; } cases[] = {
        {"abcdef", 4, 3, "abc"},
        {"ab\xc3\xa9", 4, 2, "ab"},
        {"ab\xc3\xa9", 5, 4, "ab\xc3\xa9"},
        {"a\xf0\x9f\x98\x80z", 5, 1, "a"},
        {"a\xf0\x9f\x98\x80z", 6, 5, "a\xf0\x9f\x98\x80"},
        {"", 1, 0, ""},
        {"abc\xff", 3, -1, ""},
    };
    for (const auto &c : cases) {
        char out[16];
        memset(out, 'x', sizeof(out));
        EXPECT_EQ(c.len, Utf8_CopyCut(out, c.size, c.text.c_str())) << c.text;
        EXPECT_EQ(c.out, out) << c.text;
    }
}
