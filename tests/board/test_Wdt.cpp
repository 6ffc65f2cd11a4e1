#include <gtest/gtest.h>

#include <fstream>

#include "board/Wdt.h"
#include "platform/host/HostBoard.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"

struct WdtTest : public testing::Test {
    void SetUp() override { std::ofstream("/dev/watchdog", std::ios::trunc); }
};

// Started, kicked, then rebooted: 1 s time-out and close, after which no
// kick reaches the watchdog.
TEST_F(WdtTest, RebootShortensTimeoutAndCloses)
{
    Child_Run([] {
        MAIN_WdtStart();
        MAIN_WdtKeepLive();
        WdtReboot();
        MAIN_WdtKeepLive();
    });
    EXPECT_EQ("open 0;timeout 10;kick 0;kick 0;timeout 1;close 0;", File_Calls("/dev/watchdog"));
}

// Without an open watchdog the reboot goes through the reboot program.
TEST_F(WdtTest, RebootWithoutWatchdogRunsReboot)
{
    std::ofstream("/board/calls.log", std::ios::trunc);
    Child_Run([] {
        MAIN_WdtKeepLive();
        WdtReboot();
        sleep(1);
    });
    std::ifstream in("/board/calls.log");
    std::string line;
    ASSERT_TRUE(std::getline(in, line));
    EXPECT_NE(std::string::npos, line.find(" reboot -d 1"));
    EXPECT_EQ("", File_Calls("/dev/watchdog"));
}

TEST_F(WdtTest, KeepLiveCountsKicksOnlyWhileOpen)
{
    HostWdt_S *pstWdt = HostWdt_Get();
    ASSERT_EQ(0, MAIN_WdtStart());
    u32 u32Before = pstWdt->u32Kicks;
    for (int i = 0; i < 3; i++)
        MAIN_WdtKeepLive();
    EXPECT_EQ(u32Before + 3, pstWdt->u32Kicks);
    EXPECT_EQ(WDT_TIMEOUT_S, pstWdt->s32Timeout);
    WdtReboot();
    MAIN_WdtKeepLive();
    EXPECT_EQ(u32Before + 3, pstWdt->u32Kicks);
    EXPECT_FALSE(pstWdt->bOpen);
}
