#include <gtest/gtest.h>

#include <unistd.h>

#include "board/Wdt.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"

struct WdtTest : public testing::Test {
    void SetUp() override { File_Write("/dev/watchdog", ""); }
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
    File_Write("/board/calls.log", "");
    Child_Run([] {
        MAIN_WdtKeepLive();
        WdtReboot();
    });
    for (int i = 0; i < 100 && File_Read("/board/calls.log").find('\n') == std::string::npos; i++)
        usleep(20 * 1000);   // the reboot program runs in the background
    EXPECT_EQ("reboot -d 1;", File_Calls("/board/calls.log"));
    EXPECT_EQ("", File_Calls("/dev/watchdog"));
}
