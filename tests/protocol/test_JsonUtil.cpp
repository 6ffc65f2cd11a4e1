#include <gtest/gtest.h>

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
