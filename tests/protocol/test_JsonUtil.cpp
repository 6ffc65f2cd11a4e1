#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "protocol/JsonUtil.h"
#include "tests/support/Files.h"

struct JsonUtilTest : public testing::Test {
    cJSON *pstObj = cJSON_Parse(
        R"({"num": 300, "neg": -2, "yes": true, "text": "abc", "six": [1, 2, 3, 4, 5, 6],)"
        R"( "mixed": [7, "x", 9], "big": [70000, 1]})");
    void TearDown() override { cJSON_Delete(pstObj); }
};

// Numbers are cut to the result's width; a member of another kind counts
// as missing and leaves 0.
TEST_F(JsonUtilTest, NumberGettersTakeOnlyNumbers) {
    u8 u8Val = 9;
    u16 u16Val = 9;
    u32 u32Val = 9;
    s32 s32Val = 9;
    EXPECT_EQ(1, cJSON_GetByteVal(pstObj, "num", &u8Val));
    EXPECT_EQ(44, u8Val);
    EXPECT_EQ(1, cJSON_GetWordVal(pstObj, "num", &u16Val));
    EXPECT_EQ(300, u16Val);
    EXPECT_EQ(1, cJSON_GetIntVal(pstObj, "neg", &s32Val));
    EXPECT_EQ(-2, s32Val);
    EXPECT_EQ(0, cJSON_GetUintVal(pstObj, "yes", &u32Val));
    EXPECT_EQ(0u, u32Val);
    EXPECT_EQ(1, cJSON_GetIntVal(pstObj, "yes", &s32Val));
    EXPECT_EQ(1, s32Val);
    EXPECT_EQ(0, cJSON_GetIntVal(pstObj, "text", &s32Val));
    EXPECT_EQ(0, s32Val);
    EXPECT_EQ(0, cJSON_GetByteVal(pstObj, "none", &u8Val));
    EXPECT_EQ(0, u8Val);
}

TEST_F(JsonUtilTest, StringGetterCopiesOnlyStrings) {
    char az[8] = "zzzzzzz";
    EXPECT_EQ(1, cJSON_GetString(pstObj, "text", az));
    EXPECT_STREQ("abc", az);
    EXPECT_EQ(0, cJSON_GetString(pstObj, "num", az));
    EXPECT_STREQ("", az);
}

// Arrays: at most n elements; a non-number stops the copy with 0, keeping
// what was copied; a missing member or another kind zeroes all n.
TEST_F(JsonUtilTest, ArrayGettersCopyLeadingNumbers) {
    u8 au8[4];
    EXPECT_EQ(1, cJSON_GetByteArray(pstObj, "six", au8, 4));
    EXPECT_EQ(4, au8[3]);
    EXPECT_EQ(0, cJSON_GetByteArray(pstObj, "mixed", au8, 4));
    EXPECT_EQ(7, au8[0]);
    EXPECT_EQ(0, au8[1]);
    u32 au32[3] = {5, 5, 5};
    EXPECT_EQ(1, cJSON_GetUintArray(pstObj, "big", au32, 3));
    EXPECT_EQ(70000u, au32[0]);
    EXPECT_EQ(0u, au32[2]);
    EXPECT_EQ(0, cJSON_GetUintArray(pstObj, "text", au32, 3));
    EXPECT_EQ(0u, au32[0]);
}

TEST_F(JsonUtilTest, SetStringReplacesOnlyStrings) {
    EXPECT_EQ(1, cJSON_SetString(cJSON_GetObjectItem(pstObj, "text"), "a longer text"));
    EXPECT_STREQ("a longer text", cJSON_GetObjectItem(pstObj, "text")->valuestring);
    EXPECT_EQ(0, cJSON_SetString(cJSON_GetObjectItem(pstObj, "num"), "x"));
    EXPECT_EQ(0, cJSON_SetString(nullptr, "x"));
    EXPECT_TRUE(cJSON_IsNumber(cJSON_GetObjectItem(pstObj, "num")));
}

// Decimal text is taken whole or not at all: a minus where the field is
// signed, then digits, nothing else; a value outside the range, 64-bit
// overflow included, is refused instead of cut or wrapped.
TEST(JsonRangeTest, DecimalTextWithinRange) {
    const s64 S_MIN = INT32_MIN, S_MAX = INT32_MAX, U_MAX = UINT32_MAX;
    const struct { const char *text; s64 min, max; s32 ret; s64 value; } cases[] = {
        {"42", S_MIN, S_MAX, 0, 42},
        {"-7", S_MIN, S_MAX, 0, -7},
        {"007", 0, U_MAX, 0, 7},
        {"-0", S_MIN, S_MAX, 0, 0},
        {"0", 0, U_MAX, 0, 0},
        {"-2147483648", S_MIN, S_MAX, 0, INT32_MIN},
        {"4294967295", 0, U_MAX, 0, 4294967295},
        {"2147483648", S_MIN, S_MAX, -1, 0},
        {"4294967297", S_MIN, S_MAX, -1, 0},
        {"-1", 0, U_MAX, -1, 0},
        {"-0", 0, U_MAX, -1, 0},
        {"99999999999999999999", S_MIN, S_MAX, -1, 0},
        {"-99999999999999999999", INT64_MIN, INT64_MAX, -1, 0},
        {"", 0, U_MAX, -1, 0},
        {"", S_MIN, S_MAX, -1, 0},
        {"-", S_MIN, S_MAX, -1, 0},
        {"1e3", 0, U_MAX, -1, 0},
        {"3.5", 0, U_MAX, -1, 0},
        {"30abc", 0, U_MAX, -1, 0},
        {"abc", 0, U_MAX, -1, 0},
        {"0x10", S_MIN, S_MAX, -1, 0},
        {"+5", S_MIN, S_MAX, -1, 0},
        {" 5", S_MIN, S_MAX, -1, 0},
        {"5 ", 0, U_MAX, -1, 0},
        {"\t5", 0, U_MAX, -1, 0},
        {"  -7px", S_MIN, S_MAX, -1, 0},
        {"--5", S_MIN, S_MAX, -1, 0},
        {"5-", S_MIN, S_MAX, -1, 0},
        {"\xd9\xa3", 0, U_MAX, -1, 0},   // an Arabic-Indic three
    };
    for (const auto &c : cases) {
        s64 s64Value = 99;
        EXPECT_EQ(c.ret, Json_DecInRange(c.text, "k", c.min, c.max, &s64Value)) << c.text;
        EXPECT_EQ(c.value, s64Value) << c.text;
    }
}

// A number item is taken only whole and within the range; an item of
// another kind, or none, is refused too.
TEST(JsonRangeTest, WholeNumbersWithinRange) {
    const struct { const char *json; s32 ret; s64 value; } cases[] = {
        {"5", 0, 5},
        {"5.0", 0, 5},
        {"-2147483648", 0, INT32_MIN},
        {"5.5", -1, 0},
        {"2147483648", -1, 0},
        {"4294967297", -1, 0},
        {"1e400", -1, 0},
        {"-1e400", -1, 0},
        {"\"5\"", -1, 0},
        {"\"0x10\"", -1, 0},
        {"true", -1, 0},
        {"false", -1, 0},
        {"null", -1, 0},
        {"[5]", -1, 0},
        {"{\"v\":5}", -1, 0},
    };
    for (const auto &c : cases) {
        cJSON *pstItem = cJSON_Parse(c.json);
        ASSERT_NE(nullptr, pstItem) << c.json;
        s64 s64Value = 99;
        EXPECT_EQ(c.ret, Json_WholeInRange(pstItem, "k", INT32_MIN, INT32_MAX, &s64Value)) << c.json;
        EXPECT_EQ(c.value, s64Value) << c.json;
        cJSON_Delete(pstItem);
    }
    s64 s64Value = 99;
    EXPECT_EQ(-1, Json_WholeInRange(nullptr, "k", 0, 1, &s64Value));
    EXPECT_EQ(0, s64Value);
}

// A printed file parses back; empty, missing and broken files give null.
TEST_F(JsonUtilTest, FilesRoundTripAndBadFilesGiveNull) {
    EXPECT_EQ(0, cJSON_PrintToFile(pstObj, "/tmp/j.json", 0));
    EXPECT_EQ(std::string::npos, File_Read("/tmp/j.json").find(' '));
    cJSON *pstBack = cJSON_ParseFile("/tmp/j.json");
    ASSERT_NE(nullptr, pstBack);
    EXPECT_TRUE(cJSON_Compare(pstObj, pstBack, 1));
    cJSON_Delete(pstBack);
    EXPECT_EQ(0, cJSON_PrintToFile(pstObj, "/tmp/j.json", 1));
    EXPECT_NE(std::string::npos, File_Read("/tmp/j.json").find("\t"));

    File_Write("/tmp/empty.json", "");
    EXPECT_EQ(nullptr, cJSON_ParseFile("/tmp/empty.json"));
    File_Write("/tmp/bad.json", "{\"a\":");
    EXPECT_EQ(nullptr, cJSON_ParseFile("/tmp/bad.json"));
    EXPECT_EQ(nullptr, cJSON_ParseFile("/tmp/none.json"));
    EXPECT_EQ(nullptr, cJSON_ParseFile(nullptr));
    EXPECT_EQ(1, cJSON_PrintToFile(nullptr, "/tmp/j.json", 0));
    EXPECT_EQ(2, cJSON_PrintToFile(pstObj, "/tmp/no/such/dir/j.json", 0));
}
