#include <gtest/gtest.h>

#include <unistd.h>

#include "board/Key.h"
#include "board/Lcd.h"
#include "board/Wdt.h"
#include "core/Main.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"

static void KeyLevel(const char *pszLevel)
{
    File_Write("/sys/class/gpio/gpio20/value", pszLevel);
}

// Held 3 s, the key shows the reset on the display and reboots through the
// watchdog.
TEST(KeyTest, HoldThreeSecondsResetsAndReboots)
{
    int s32Master = Pty_Attach("/dev/ttyS1");
    ASSERT_GE(s32Master, 0);
    File_Write("/dev/watchdog", "");
    KeyLevel("1");
    Child_Run([] {
        g_wdtkeepalive_flag = 0;   // an earlier test rebooted this process's watchdog
        g_stMainServerAttr.stHalAttr.stUart2 = {-1, 1, {9, 8, 0, 0}};
        MAIN_Uart_Init(&g_stMainServerAttr.stHalAttr.stUart2);
        MAIN_WdtStart();
        MAIN_KeyScan_start();
        KeyLevel("0");
        usleep((KEY_HOLD_MS + 500) * 1000);
        KeyLevel("1");
    });
    EXPECT_EQ("open 0;timeout 10;kick 0;timeout 1;close 0;", File_Calls("/dev/watchdog"));
    u8 au8Want[2][LCD_FRAME_LEN];
    Lcd_MakeFrame("888", true, au8Want[0]);
    Lcd_MakeFrame(" . . .", true, au8Want[1]);
    EXPECT_EQ(std::string((char *)au8Want, sizeof(au8Want)),
              Pty_Read(s32Master, sizeof(au8Want), 1000));
}
