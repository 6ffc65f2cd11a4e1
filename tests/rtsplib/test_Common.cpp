#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <cstring>
#include <string>
#include <unistd.h>

#include "rtsplib/include/Base64Rtsp.h"
#include "rtsplib/include/ThreadPool.h"
#include "rtsplib/include/Time64.h"
#include "rtsplib/include/Url.h"
#include "rtsplib/src/common/Path.h"

// Nothing but the service's stream look-up (by path) uses these.
TEST(UrlTest, ParsesBuildsAndRefuses)
{
    Url_S *pst = url_parse("rtsp://10.0.0.5:554/live/main/av_stream/track1?a=1+2&b=%41%42&=skip&noeq&c=");
    ASSERT_NE(nullptr, pst);
    EXPECT_STREQ("/live/main/av_stream/track1", url_getpath(pst));
    char az[128];
    ASSERT_GT(url_geturl(pst, az, sizeof(az)), 0);
    EXPECT_STREQ("rtsp://10.0.0.5:554/live/main/av_stream/track1?a=1+2&b=AB&c=", az);
    EXPECT_EQ(-1, url_geturl(pst, az, 20));
    url_free(pst);
    for (const char *psz : {"rtsp://h:0/", "rtsp://h:65536/", "rtsp://h:1x/", "rtsp://h/?a=%4"})
        EXPECT_EQ(nullptr, url_parse(psz)) << psz;
    for (const char *psz : {"%2", "%zz", "abcdef"})
        EXPECT_EQ(-1, url_decode(psz, -1, az, 4)) << psz;
}

// (Encoding: the SDP tests.)
TEST(Base64RtspTest, DecodesAndRefusesTheRest)
{
    u8 au8Out[8];
    ASSERT_EQ(2, base64_decode_rtsp(au8Out, "Z00=", 4));
    EXPECT_EQ(0x674D, au8Out[0] << 8 | au8Out[1]);
    EXPECT_EQ(-1, base64_decode_rtsp(au8Out, "Z0*A", 4));
    EXPECT_EQ(-1, base64_decode_rtsp(au8Out, "Z", 1));
}

TEST(Time64Test, DatesAndNtpTimes)
{
    char az[DATETIME_TEXT_LEN];
    EXPECT_EQ(29, datetime_format(951782400 + 86399, az));   // the end of a leap day
    EXPECT_STREQ("Tue, 29 Feb 2000 23:59:59 GMT", az);
    EXPECT_EQ(0x83AA7E80ULL << 32, clock2ntp(0));
    EXPECT_EQ(1500u, ntp2clock(clock2ntp(1500)));
    EXPECT_EQ(-1, time64_format(0, "%Y-%m-%d", az, 5));
}

TEST(PathTest, WrapsTheFileSystem)
{
    char az[PATH_MAX];
    ASSERT_EQ(0, path_dirname("c", az, sizeof(az)));
    EXPECT_STREQ(".", az);
    EXPECT_EQ(-1, path_dirname("/a/b/c", az, 3));
    ASSERT_EQ(0, path_makedir("/tmp/pathtest"));
    EXPECT_EQ(1, path_testdir("/tmp/pathtest"));
    EXPECT_EQ(0, path_rmdir("/tmp/pathtest"));
    EXPECT_EQ(-1, path_filesize("/tmp/pathtest"));
}

// Blocking tasks make the pool grow up to its maximum (the rest wait in
// the queue), and destroy waits for every task.
TEST(ThreadPoolTest, GrowsToMaxAndRunsEveryTask)
{
    static std::atomic<int> s_s32Running, s_s32Done;
    static std::atomic<bool> s_bOpen;
    ThreadPool_S *pstPool = thread_pool_create(1, 0, 3);
    ASSERT_NE(nullptr, pstPool);
    for (int i = 0; i < 5; i++) {
        ASSERT_EQ(0, thread_pool_push(pstPool, [](void *) {
            s_s32Running++;
            while (!s_bOpen)
                usleep(1000);
            s_s32Done++;
        }, nullptr));
    }
    for (int i = 0; i < 500 && s_s32Running < 3; i++)
        usleep(10000);
    EXPECT_EQ(3, s_s32Running.load());
    EXPECT_EQ(3u, thread_pool_threads_count(pstPool));
    s_bOpen = true;
    thread_pool_destroy(pstPool);
    EXPECT_EQ(5, s_s32Done.load());
}
