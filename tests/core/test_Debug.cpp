#include <gtest/gtest.h>

#include <cerrno>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <vector>

#include "core/Debug.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"

static const char LOG_FILE[] = "/tmp/debug_main.txt";

struct DebugTest : public testing::Test {
    void SetUp() override { unlink(LOG_FILE); }
};

// Modes 0 and 10 print with the time stamp; any mode but 0, 1 and 10 drops
// the message; neither touches the file.
TEST_F(DebugTest, ModesOtherThanTheFile)
{
    for (s32 s32Mode : {(s32)DEBUG_LOG_STDOUT, (s32)DEBUG_LOG_CONSOLE, 2, 3, 9, 11, -1}) {
        std::string out = Child_Run([s32Mode] {
            g_bFileDebugOn = s32Mode;
            Debug_Log("[%s]: %s: value %d\n", log_Time(), "fn", 7);
        });
        if (s32Mode == DEBUG_LOG_STDOUT || s32Mode == DEBUG_LOG_CONSOLE)
            EXPECT_TRUE(std::regex_match(out, std::regex(R"(\[\d\d \d\d:\d\d:\d\d\.\d{3}\]: fn: value 7\n)")))
                << out;
        else
            EXPECT_EQ("", out) << s32Mode;
    }
    EXPECT_NE(0, access(LOG_FILE, F_OK));
}

// Each run starts a new file (mode 0777) at its first message, then appends;
// errno is left as it was.
TEST_F(DebugTest, FileModeEmptiesOldFileThenAppends)
{
    File_Write(LOG_FILE, "left by the previous run\n");
    std::string out = Child_Run([] {
        g_bFileDebugOn = DEBUG_LOG_FILE;
        errno = EAGAIN;
        (void)log_Time();   // the stamp alone, as the time zone is read on first use
        Debug_Log("one %d\n", 1);
        Debug_Log("two %s\n", "2");
        printf("<%d>", errno);
    });
    EXPECT_EQ("one 1\ntwo 2\n", File_Read(LOG_FILE));
    EXPECT_EQ("g_debug_fp open<" + std::to_string(EAGAIN) + ">", out);
    struct stat st;
    ASSERT_EQ(0, stat(LOG_FILE, &st));
    EXPECT_EQ(0777u, st.st_mode & 0777);
}

// Exactly 2 MiB is kept; one byte more and the next message first drops the
// oldest 8192 bytes.
TEST_F(DebugTest, FileTrimsOldestBytesPastTwoMiB)
{
    std::string out = Child_Run([] {
        g_bFileDebugOn = DEBUG_LOG_FILE;
        std::string big(DEBUG_FILE_TRIM_LEN, 'b');
        big[DEBUG_FILE_DROP_LEN] = 'K';          // first byte that survives the trim
        Debug_Log("%s", big.c_str());
        Debug_Log("+");                           // exactly 2 MiB + 1 now
        printf("<%zu>", File_Read(LOG_FILE).size());
        Debug_Log("new\n");
    });
    std::string trimmed = File_Read(LOG_FILE);
    ASSERT_EQ((size_t)DEBUG_FILE_TRIM_LEN + 1 - DEBUG_FILE_DROP_LEN + 4, trimmed.size());
    EXPECT_EQ('K', trimmed[0]);
    EXPECT_EQ("+new\n", trimmed.substr(trimmed.size() - 5));
    EXPECT_EQ("g_debug_fp open<" + std::to_string(DEBUG_FILE_TRIM_LEN + 1) + ">rewrite,len 2097153\n", out);
}

TEST_F(DebugTest, UnopenableFileDropsEachMessage)
{
    std::string out = Child_Run([] {
        snprintf(g_azDebugFile, sizeof(g_azDebugFile), "/nonexistent/dir/log");
        g_bFileDebugOn = DEBUG_LOG_FILE;
        Debug_Log("lost\n");
        Debug_Log("lost too\n");
    });
    EXPECT_EQ("create debug txt failcreate debug txt fail", out);
}

// The time stamp of one thread survives other threads' calls.
TEST_F(DebugTest, TimeStampIsPerThread)
{
    const char *pszMine = log_Time();
    const char *pszOther = nullptr;
    std::thread([&pszOther] { pszOther = log_Time(); }).join();
    EXPECT_NE(pszMine, pszOther);
}

// Many threads writing their first file messages at once: every line is
// whole and none is lost.
TEST_F(DebugTest, ConcurrentFileMessagesStayWhole)
{
    Child_Run([] {
        g_bFileDebugOn = DEBUG_LOG_FILE;
        std::vector<std::thread> threads;
        for (s32 t = 0; t < 8; t++)
            threads.emplace_back([t] {
                for (s32 i = 0; i < 200; i++)
                    Debug_Log("[%s]: thread %d line %d end\n", log_Time(), t, i);
            });
        for (auto &th : threads)
            th.join();
    });
    std::istringstream in(File_Read(LOG_FILE));
    std::string line;
    s32 s32Lines = 0;
    while (std::getline(in, line)) {
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(\[.{15}\]: thread \d line \d+ end)"))) << line;
        s32Lines++;
    }
    EXPECT_EQ(8 * 200, s32Lines);
}

// A cause whose event writes several lines takes one turn a second: the
// events without one run quiet on their thread only, and the next turn
// first says how many were dropped.
TEST_F(DebugTest, LimitedEventTakesOneTurnASecondAndOthersRunQuiet)
{
    std::string out = Child_Run([] {
        static DebugLimit_S s_stLimit;
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
        for (s32 i = 0; i < 3; i++) {
            Debug_SetQuiet(!Debug_LimitTake(&s_stLimit));
            Debug_Log("event %d line 1\n", i);
            std::thread([] { Debug_Log("other thread\n"); }).join();
            Debug_Log("event %d line 2\n", i);
            Debug_SetQuiet(false);
        }
        usleep(1100 * 1000);
        if (Debug_LimitTake(&s_stLimit))
            Debug_Log("event 3\n");
    });
    EXPECT_TRUE(std::regex_match(out, std::regex(R"(event 0 line 1\nother thread\nevent 0 line 2\n)"
                                                  R"(other thread\nother thread\n)"
                                                  R"(\[[^\]]+\]: \(2 similar messages suppressed\)\nevent 3\n)")))
        << out;
}

// A thread running quiet writes nothing, so it takes no turn from a limited
// cause: the next thread to log it is written.
TEST_F(DebugTest, QuietThreadTakesNoLimitedTurn)
{
    std::string out = Child_Run([] {
        static DebugLimit_S s_stLimit;
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
        std::thread([] {
            Debug_SetQuiet(true);
            Debug_LogLimited(&s_stLimit, "quiet\n");
            (void)Debug_LimitTake(&s_stLimit);
        }).join();
        Debug_LogLimited(&s_stLimit, "heard\n");
    });
    EXPECT_EQ("heard\n", out);
}

// A cause that peers trigger at will writes one message a second; the next
// one written says how many were dropped meanwhile.
TEST_F(DebugTest, LimitedCauseWritesOneMessageASecond)
{
    std::string out = Child_Run([] {
        static DebugLimit_S s_stLimit;
        g_bFileDebugOn = DEBUG_LOG_STDOUT;
        for (s32 i = 0; i < 1000; i++)
            Debug_LogLimited(&s_stLimit, "bad packet %d\n", i);
        usleep(1100 * 1000);
        Debug_LogLimited(&s_stLimit, "bad packet %d\n", 1000);
    });
    EXPECT_TRUE(std::regex_match(out, std::regex(R"(bad packet 0\nbad packet 1000\n)"
                                                  R"(\[\d\d \d\d:\d\d:\d\d\.\d{3}\]: \(999 similar messages suppressed\)\n)")))
        << out;
}
