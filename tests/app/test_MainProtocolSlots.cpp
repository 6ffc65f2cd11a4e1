#include <gtest/gtest.h>

#include <algorithm>

#include <cstring>
#include <string>
#include <sys/stat.h>

#include "app/MainProtocolSlots.h"
#include "config/ConfigAttr.h"
#include "app/Main.h"
#include "media/Edid.h"
#include "upgrade/Upgrade.h"

static long File_Size(const char *pszPath)
{
    struct stat st;
    return stat(pszPath, &st) == 0 ? (long)st.st_size : -1;
}

struct FirmwareChunkTest : public testing::Test {
    u8 au8Data[1000];

    void SetUp() override
    {
        for (u32 i = 0; i < sizeof(au8Data); i++)
            au8Data[i] = (u8)i;
    }
    s32 Chunk(s32 s32Count, s32 s32Length)
    {
        ProtocolFirmwareChunk_S stChunk = {s32Count, s32Length, au8Data};
        return Main_Protocolserver_onupdateFirmware(nullptr, &stChunk);
    }
};

// Chunks reach the upload file only in order: a gap or a number out of its
// range is refused, a repeat of the last one is answered but not written
// again, and a refused chunk leaves the file as it was. An empty chunk is
// taken.
TEST_F(FirmwareChunkTest, OnlyChunksInOrderAreWritten) {
    const struct { s32 count, length, result; long size; } steps[] = {
        {2, 100, -1, -1},      // no upload yet
        {1, 100, 0, 100},
        {3, 100, -1, 100},     // chunk 2 missing
        {2, 100, 0, 200},
        {2, 100, 0, 200},      // repeated
        {0, 100, -1, 200},
        {16385, 100, -1, 200},
        {3, 0, 0, 200},
        {4, -1, -1, 200},
        {4, 0x10001, -1, 200},
        {4, 50, 0, 250},
        {1, 10, 0, 10},        // a new upload starts over
    };
    for (const auto &s : steps) {
        EXPECT_EQ(s.result, Chunk(s.count, s.length)) << s.count << " " << s.length;
        EXPECT_EQ(s.size, File_Size(UPDATE_FILE)) << s.count << " " << s.length;
    }
    // The last chunk has the file checked: this one is no image, so the
    // upload ends and later chunks find none. An image of whole chunks
    // ends with an empty one.
    for (s32 s32Length : {10, 0}) {
        ASSERT_EQ(0, Chunk(1, 10)) << s32Length;
        EXPECT_EQ(-1, Chunk(16384, s32Length)) << s32Length;
        EXPECT_EQ(-1, File_Size(UPDATE_FILE)) << s32Length;
        EXPECT_EQ(-1, Chunk(2, 10)) << s32Length;
    }
}

// The stream list reads no further than its fields and reports the
// interlaced 1080 codes as the progressive ones.
TEST(StreamListTest, EntriesFromTheRuntimeRecord) {
    MainServerAttr_S *pstAttr = &g_stMainServerAttr;
    memset(pstAttr->stConifg.azHostIP, '9', sizeof(pstAttr->stConifg.azHostIP));   // no terminator
    snprintf(pstAttr->stConifg.stMainStream.azStreamName, RTSP_STREAM_NAME_LEN, "main/av_stream");
    snprintf(pstAttr->stConifg.stSubStream.azStreamName, RTSP_STREAM_NAME_LEN, "sub/av_stream");
    pstAttr->stMainMediaAttr.stMainVencAttr.u32Width = 1920;
    pstAttr->stMainMediaAttr.stSubVencAttr.u32Width = 640;
    pstAttr->stMainMediaAttr.stAiAttr.enInSamplerate = 44100;
    g_stConfigAttr.stManual.s32ID = 300;
    const struct { u32 code; s32 vsync; s32 viStart; } cases[] = {{10, 12, 1}, {9, 11, 0}, {4, 4, 1}};
    for (const auto &c : cases) {
        pstAttr->stMainMediaAttr.u32TimingCode = c.code;
        pstAttr->bViStart = c.viStart;
        ProtocolStreamInfo_S stInfo = {};
        ASSERT_EQ(0, Main_Protocolserver_ongetStream(nullptr, &stInfo));
        ASSERT_EQ(2, stInfo.s32Count);
        EXPECT_EQ(300, stInfo.s32Id);
        for (s32 i = 0; i < 2; i++) {
            EXPECT_EQ(c.vsync, stInfo.astStream[i].s32Vsync);
            EXPECT_EQ(c.viStart, stInfo.astStream[i].bStatus);
            EXPECT_EQ(44100, stInfo.astStream[i].s32Async);
        }
        EXPECT_EQ(1920, stInfo.astStream[0].s32Width);
        EXPECT_EQ("rtsp://" + std::string(31, '9') + ":554/live/main/av_stream", stInfo.astStream[0].azUrl);
        EXPECT_STREQ("234.0.101.44", stInfo.astStream[0].azRtspMip);
        EXPECT_STREQ("234.1.101.44", stInfo.astStream[1].azRtspMip);
    }
}

// Out-of-range indexes and user EDID numbers change nothing; an EDID that
// is not whole is refused; without a protocol client nothing is copied.
TEST(EdidSlotsTest, RefusalsLeaveTheIndex) {
    g_stConfigAttr.stManual.s32Edid_index = 2;
    u8 au8Edid[512] = {};
    EXPECT_EQ(0, Main_Protocolserver_onsetEdidIndex(nullptr, 9));
    EXPECT_EQ(0, Main_Protocolserver_onsetTxEdidIndex(nullptr, -1));
    EXPECT_EQ(0, Main_Protocolserver_onsetUserEdid(nullptr, au8Edid, 256, 3));
    EXPECT_EQ(-1, Main_Protocolserver_onsetEdid(nullptr, au8Edid, 255));
    EXPECT_EQ(-1, Main_Protocolserver_onsetEdid(nullptr, au8Edid, 256));   // no header, not whole
    EXPECT_EQ(-1, Main_Protocolserver_onsetUserEdid(nullptr, au8Edid, 512, 1));
    EXPECT_EQ(-1, Main_Protocolserver_oncopyEdid(nullptr, 5));
    EXPECT_EQ(2, g_stConfigAttr.stManual.s32Edid_index);
    EXPECT_EQ(0, Main_Protocolserver_onsetEdidIndex(nullptr, 8));
    EXPECT_EQ(8, g_stConfigAttr.stManual.s32Edid_index);
}

// A request's EDID dump is some forty lines: a flood of requests writes
// one request's lines a second, not every request's.
TEST(EdidSlotsTest, FloodOfEdidsLogsOneRequestASecond) {
    const u8 *pu8Edid = Edid_4100L_Lib[0].au8;   // whole, so each request runs to its end
    testing::internal::CaptureStdout();
    for (int i = 0; i < 200; i++)
        EXPECT_EQ(0, Main_Protocolserver_onsetUserEdid(nullptr, pu8Edid, 256, 0));   // stores nothing
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LT(std::count(out.begin(), out.end(), '\n'), 80) << out.substr(0, 2000);
}

// Uploads of two chunks that fail their check, and format requests that
// change nothing, as fast as a peer sends them: a few lines.
TEST_F(FirmwareChunkTest, FloodsOfRequestsLogAFewLines) {
    g_stConfigAttr.stMainAttr.u32Audiocodec = 1;
    testing::internal::CaptureStdout();
    for (int i = 0; i < 500; i++) {
        EXPECT_EQ(0, Chunk(1, 10));
        EXPECT_EQ(-1, Chunk(16384, 10));
        EXPECT_EQ(0, Main_Protocolserver_onsetTxAudioFormat(nullptr, 7));
    }
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_LT(std::count(out.begin(), out.end(), '\n'), 12) << out.substr(0, 2000);
}

// Audio format values are compared as what they mean: any value but 0 is
// AAC, so an AAC box given 7 changes nothing.
TEST(AudioFormatTest, ValuesAreNormalised) {
    g_stConfigAttr.stMainAttr.u32Audiocodec = 1;
    g_stMainServerAttr.stMainMediaAttr.enMainAudioCodec = 4;
    EXPECT_EQ(0, Main_Protocolserver_onsetTxAudioFormat(nullptr, 7));
    EXPECT_EQ(0, Main_Protocolserver_onsetTxAudioFormat(nullptr, -1));
    EXPECT_EQ(1u, g_stConfigAttr.stMainAttr.u32Audiocodec);
    EXPECT_EQ(4, g_stMainServerAttr.stMainMediaAttr.enMainAudioCodec);
}
