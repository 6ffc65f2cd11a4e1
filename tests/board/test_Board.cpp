#include <gtest/gtest.h>

#include <set>
#include <unistd.h>

#include "app/Factory.h"
#include "app/Main.h"
#include "board/Gpio.h"
#include "board/Key.h"
#include "board/Lcd.h"
#include "board/Led.h"
#include "board/Wdt.h"
#include "tests/support/Child.h"
#include "tests/support/Files.h"
#include "tests/support/Pty.h"

// Lines out of range or never initialised are refused; a line that is not
// exported yet is exported first, and one that cannot be opened afterwards
// fails with the board's message.
TEST(GpioTest, RefusesBadLinesAndReportsFailedOpen)
{
    s32 s32Value;
    EXPECT_EQ(-1, GPIO_INIT(-1));
    EXPECT_EQ(-1, GPIO_INIT(GPIO_MAX));
    EXPECT_EQ(-1, GPIO_OUTPUT(GPIO_MAX));
    EXPECT_EQ(-1, GPIO_SET(GPIO_MAX, 1));
    EXPECT_EQ(-1, GPIO_SET(41, 1));
    EXPECT_EQ(-1, GPIO_GET(0xFFFFFFFFu, &s32Value));
    EXPECT_EQ("open gpio200 failed\n-1", Child_Run([] { printf("%d", GPIO_INIT(200)); }));
    EXPECT_EQ("200\n", File_Read("/sys/class/gpio/export"));
}

struct WdtTest : public testing::Test {
    void SetUp() override { File_Write("/dev/watchdog", ""); }
};

// Started, kicked, then rebooted: the attached proc first, while the
// watchdog is still kicked, then 1 s time-out and close, also when the
// proc failed; after that no kick reaches the watchdog.
TEST_F(WdtTest, RebootShortensTimeoutAndCloses)
{
    std::string out = Child_Run([] {
        MAIN_WdtStart();
        MAIN_WdtKeepLive();
        Wdt_AttachBeforeReboot([]() -> s32 {
            printf("before: %s\n", File_Calls("/dev/watchdog").c_str());
            return -1;
        });
        WdtReboot();
        MAIN_WdtKeepLive();
    });
    EXPECT_EQ("before: open 0;timeout 10;kick 0;kick 0;\n", out);
    EXPECT_EQ("open 0;timeout 10;kick 0;kick 0;timeout 1;close 0;", File_Calls("/dev/watchdog"));
}

static std::string Frame(const char *pszText, bool bOn)
{
    u8 au8[LCD_FRAME_LEN];
    Lcd_MakeFrame(pszText, bOn, au8);
    return std::string((const char *)au8, sizeof(au8));
}

TEST(LcdFrameTest, DigitsPointsAndChecksum)
{
    const u8 au8Want[] = {0xAA, 0x01, 0x7F, 0x7F, 0x7F, 1, 0, 0, 0, 0, 0, 0, 0, (u8)(0x01 + 3 * 0x7F + 1), 0x55};
    EXPECT_EQ(std::string((const char *)au8Want, sizeof(au8Want)), Frame("888", true));
    // " . . ." lights the three points over blank digits.
    EXPECT_EQ("\x80\x80\x80", Frame(" . . .", true).substr(2, 3));
    // Off, with a letter, a blank for an unknown sign, and text past three digits cut.
    std::string off = Frame("E?12", false);
    EXPECT_EQ(std::string("\x79\x00\x06\x00", 4), off.substr(2, 4));
    EXPECT_EQ((char)(0x01 + 0x79 + 0x06), off[13]);
    // A point without a digit of its own before it takes a blank digit.
    EXPECT_EQ(Frame(" .1", true), Frame(".1", true));
    EXPECT_EQ(Frame("1. .", true), Frame("1..", true));
}

// The display thread shows the home page with the device ID over the second
// UART, and a text replaces it at once.
TEST(LcdThreadTest, ShowsHomePageAndText)
{
    int s32Master = Pty_Attach("/dev/ttyS1");
    ASSERT_GE(s32Master, 0);
    UartAttr_S *pstUart2 = &g_stMainServerAttr.stHalAttr.stUart2;
    *pstUart2 = {-1, 1, {9, 8, 0, 0}};
    ASSERT_EQ(0, MAIN_Uart_Init(pstUart2));

    Lcd_Set_value(LCD_MODE_HOME, 42);
    Lcd_AttachSender(MAIN_Lcd_Send);
    ASSERT_EQ(0, MAIN_LcdShow_start());
    EXPECT_EQ(Frame("042", true), Pty_Read(s32Master, LCD_FRAME_LEN, 2000));
    g_button_press_flag = 1;
    Main_Set_LCD_String("888", 0);
    EXPECT_EQ(Frame("888", true), Pty_Read(s32Master, LCD_FRAME_LEN, 2000));
    usleep(3 * LCD_PASS_MS * 1000);
    EXPECT_EQ(0, g_button_press_flag);                            // seen by the thread
    EXPECT_EQ("", Pty_Read(s32Master, 1, 3 * LCD_PASS_MS));      // nothing changed: nothing sent
}

static std::string Pwm(const char *pszAttr)
{
    std::string s = File_Read(std::string(LED_PWM_DIR "/pwm0/") + pszAttr);
    return s.substr(0, s.find_first_of("\n"));
}

// Dim while no stream flows, full while it does, blinking during an override.
TEST(LedTest, PwmFollowsStreamStateAndOverride)
{
    g_data_status = 0;
    Led_Init();
    usleep(3 * LED_PASS_MS * 1000);
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS), Pwm("period"));
    EXPECT_EQ("1", Pwm("enable"));
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS / 10), Pwm("duty_cycle"));

    g_data_status = 1;
    usleep(3 * LED_PASS_MS * 1000);
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS), Pwm("duty_cycle"));

    Led_Set_value(1);
    std::set<std::string> seen;
    for (int i = 0; i < 8; i++) {
        seen.insert(Pwm("duty_cycle"));
        usleep(LED_PASS_MS * 1000 / 2);
    }
    EXPECT_EQ(1u, seen.count("0"));
    EXPECT_EQ(1u, seen.count(std::to_string(LED_PWM_PERIOD_NS)));

    usleep((LED_COUNT_PASSES + 3) * LED_PASS_MS * 1000);       // the override has run down
    EXPECT_EQ(std::to_string(LED_PWM_PERIOD_NS), Pwm("duty_cycle"));
}

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
        g_stMainServerAttr.stHalAttr.stUart2 = {-1, 1, {9, 8, 0, 0}};
        MAIN_Uart_Init(&g_stMainServerAttr.stHalAttr.stUart2);
        MAIN_WdtStart();
        Lcd_AttachSender(MAIN_Lcd_Send);
        MAIN_KeyScan_start(MAIN_FACTORY_RESET);
        KeyLevel("0");
        usleep((KEY_HOLD_MS + 500) * 1000);
        KeyLevel("1");
    });
    EXPECT_EQ("open 0;timeout 10;kick 0;timeout 1;close 0;", File_Calls("/dev/watchdog"));
    EXPECT_EQ(Frame("888", true) + Frame(" . . .", true), Pty_Read(s32Master, 2 * LCD_FRAME_LEN, 1000));
}
