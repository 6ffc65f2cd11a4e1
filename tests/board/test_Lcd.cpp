#include <gtest/gtest.h>

#include <unistd.h>

#include "board/Lcd.h"
#include "core/Main.h"
#include "tests/support/Pty.h"

static std::vector<u8> Frame(const char *pszText, bool bOn)
{
    std::vector<u8> v(LCD_FRAME_LEN);
    Lcd_MakeFrame(pszText, bOn, v.data());
    return v;
}

TEST(LcdFrameTest, DigitsPointsAndChecksum)
{
    EXPECT_EQ((std::vector<u8>{0xAA, 0x01, 0x7F, 0x7F, 0x7F, 1, 0, 0, 0, 0, 0, 0, 0,
                               (u8)(0x01 + 3 * 0x7F + 1), 0x55}),
              Frame("888", true));
    // " . . ." lights the three points over blank digits.
    std::vector<u8> dots = Frame(" . . .", true);
    EXPECT_EQ(0x80, dots[2]);
    EXPECT_EQ(0x80, dots[3]);
    EXPECT_EQ(0x80, dots[4]);
    // Off, with a letter, a blank for an unknown sign, and text past three digits cut.
    std::vector<u8> off = Frame("E?12", false);
    EXPECT_EQ(0x79, off[2]);
    EXPECT_EQ(0x00, off[3]);
    EXPECT_EQ(0x06, off[4]);
    EXPECT_EQ(0, off[5]);
    EXPECT_EQ((u8)(0x01 + 0x79 + 0x06), off[13]);
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
    ASSERT_EQ(0, MAIN_LcdShow_start());
    std::string got = Pty_Read(s32Master, LCD_FRAME_LEN, 2000);
    std::vector<u8> want = Frame("042", true);
    EXPECT_EQ(std::string(want.begin(), want.end()), got);

    g_button_press_flag = 1;
    Main_Set_LCD_String("888", 0);
    want = Frame("888", true);
    EXPECT_EQ(std::string(want.begin(), want.end()), Pty_Read(s32Master, LCD_FRAME_LEN, 2000));
    usleep(3 * LCD_PASS_MS * 1000);
    EXPECT_EQ(0, g_button_press_flag);                            // seen by the thread
    EXPECT_EQ("", Pty_Read(s32Master, 1, 3 * LCD_PASS_MS));      // nothing changed: nothing sent
}
