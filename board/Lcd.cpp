#include "board/Lcd.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <time.h>

#include "core/Clock.h"
#include "core/Debug.h"
#include "core/Thread.h"

std::atomic<s32> g_button_press_flag{0};

struct LcdCtx_S {
    std::mutex mutex;    // guards the fields below
    u32 u32Mode;         // LcdMode_E
    u32 u32Value;
    char azText[16];     // text of LCD_MODE_TEXT
    bool bChanged;       // page to be shown again
};

static LcdCtx_S s_stLcd;
static MainThread_S s_stLcdThread;
static std::atomic<LcdSendProc *> s_pfnLcdSend{nullptr};   // the display's UART

static u8 Lcd_Segments(char c)
{
    static const u8 s_au8Digits[10] = {0x3F, 0x06, 0x5B, 0x4F, 0x66, 0x6D, 0x7D, 0x07, 0x7F, 0x6F};
    static const struct {
        char c;
        u8 u8Seg;
    } s_astLetters[] = {
        {'A', 0x77}, {'B', 0x7C}, {'C', 0x39}, {'D', 0x5E}, {'E', 0x79}, {'F', 0x71}, {'H', 0x76},
        {'L', 0x38}, {'N', 0x54}, {'O', 0x5C}, {'P', 0x73}, {'R', 0x50}, {'U', 0x3E}, {'-', 0x40},
    };
    if (c >= '0' && c <= '9')
        return s_au8Digits[c - '0'];
    for (const auto &l : s_astLetters)
        if (l.c == toupper((unsigned char)c))
            return l.u8Seg;
    return 0;
}

void Lcd_MakeFrame(const char *pszText, bool bOn, u8 au8Frame[LCD_FRAME_LEN])
{
    s32 s32Digit = -1;
    memset(au8Frame, 0, LCD_FRAME_LEN);
    au8Frame[0] = 0xAA;
    au8Frame[1] = 0x01;
    for (const char *p = pszText; *p != '\0'; p++) {
        if (*p == '.' && s32Digit >= 0 && !(au8Frame[2 + s32Digit] & 0x80)) {
            au8Frame[2 + s32Digit] |= 0x80;
            continue;
        }
        if (++s32Digit >= LCD_DIGITS)
            break;
        au8Frame[2 + s32Digit] = *p == '.' ? 0x80 : Lcd_Segments(*p);
    }
    au8Frame[5] = bOn ? 1 : 0;
    u8 u8Sum = 0;
    for (s32 i = 1; i <= 12; i++)
        u8Sum = (u8)(u8Sum + au8Frame[i]);
    au8Frame[13] = u8Sum;
    au8Frame[14] = 0x55;
}

static s32 Lcd_Send(const char *pszText, bool bOn)
{
    u8 au8Frame[LCD_FRAME_LEN];
    LcdSendProc *pfnSend = s_pfnLcdSend;
    if (pfnSend == nullptr)
        return -1;   // no UART attached: nothing to show it on
    Lcd_MakeFrame(pszText, bOn, au8Frame);
    return pfnSend(au8Frame, sizeof(au8Frame));
}

void Lcd_Set_value(u32 u32Mode, u32 u32Value)
{
    std::lock_guard<std::mutex> lock(s_stLcd.mutex);
    s_stLcd.u32Mode = u32Mode;
    s_stLcd.u32Value = u32Value;
    s_stLcd.bChanged = true;
}

s32 Main_Set_LCD_String(const char *pszText, u32 u32Flag)
{
    (void)u32Flag;   // the display has one text style
    {
        std::lock_guard<std::mutex> lock(s_stLcd.mutex);
        s_stLcd.u32Mode = LCD_MODE_TEXT;
        snprintf(s_stLcd.azText, sizeof(s_stLcd.azText), "%s", pszText);
        s_stLcd.bChanged = false;
    }
    (void)Lcd_Send(pszText, true);   // the sender logged a failure
    return 0;
}

// One pass of the display thread: front-panel activity wakes the display
// and restarts the time-out, the time-out darkens it, the show-me page
// blinks; the page is sent only when what it shows changes.
static void Lcd_Pass(u64 *pu64LastActive, bool *pbOn, u32 u32Pass)
{
    char azText[16];
    u64 u64Now = Clock_NowMs();
    bool bWasOn = *pbOn;

    if (g_button_press_flag.exchange(0) != 0) {
        *pu64LastActive = u64Now;
        *pbOn = true;
    } else if (*pbOn && u64Now - *pu64LastActive >= LCD_TIMEOUT_S * 1000ull) {
        *pbOn = false;
    }

    std::unique_lock<std::mutex> lock(s_stLcd.mutex);
    bool bShowMe = s_stLcd.u32Mode == LCD_MODE_SHOWME;
    if (!s_stLcd.bChanged && bWasOn == *pbOn && !(bShowMe && u32Pass % 5 == 0))
        return;
    s_stLcd.bChanged = false;
    if (s_stLcd.u32Mode == LCD_MODE_TEXT)
        snprintf(azText, sizeof(azText), "%s", s_stLcd.azText);
    else
        snprintf(azText, sizeof(azText), "%03u", s_stLcd.u32Value % 1000);
    lock.unlock();
    (void)Lcd_Send(azText, *pbOn && !(bShowMe && (u32Pass / 5) % 2 == 1));
}

static void *Lcd_Thread(void *)
{
    u64 u64LastActive = Clock_NowMs();
    bool bOn = true;
    for (u32 u32Pass = 0; MAIN_Thread_Wait(&s_stLcdThread, LCD_PASS_MS); u32Pass++)
        Lcd_Pass(&u64LastActive, &bOn, u32Pass);
    return nullptr;
}

void Lcd_AttachSender(LcdSendProc *pfnSend)
{
    s_pfnLcdSend = pfnSend;
}

s32 MAIN_LcdShow_start(void)
{
    return MAIN_Thread_Start(&s_stLcdThread, Lcd_Thread, nullptr, __func__);
}

void MAIN_LcdShow_stop(void)
{
    MAIN_Thread_Stop(&s_stLcdThread);
}
