// The three-digit front-panel display, driven over the second UART with
// 15-byte frames:
//   0      0xAA start
//   1      0x01 command "show"
//   2..4   segments of digits 1..3 (bits 0..6 = a..g, bit 7 = decimal point)
//   5      1 display on, 0 off
//   6..12  0
//   13     sum of bytes 1..12, low 8 bits
//   14     0x55 end
#ifndef BOARD_LCD_H
#define BOARD_LCD_H

#include <atomic>

#include "core/Types.h"

#define LCD_FRAME_LEN   15
#define LCD_DIGITS      3
#define LCD_PASS_MS     100
#define LCD_TIMEOUT_S   60     // display goes dark after this long without activity

enum LcdMode_E {
    LCD_MODE_TEXT   = 0,       // raw text from Main_Set_LCD_String
    LCD_MODE_HOME   = 1,       // the device ID
    LCD_MODE_SHOWME = 10,      // the device ID, blinking
};

extern std::atomic<s32> g_button_press_flag;   // front-panel activity, cleared by the display thread

// Writes one frame to the display's UART: 0, or -1 (logged by the sender).
typedef s32 LcdSendProc(const u8 *pu8Frame, u32 u32Len);

// The display's UART, given once before anything is shown; frames sent
// before are dropped.
void Lcd_AttachSender(LcdSendProc *pfnSend);
void Lcd_Set_value(u32 u32Mode, u32 u32Value);
s32  MAIN_LcdShow_start(void);                 // starts the display thread
void MAIN_LcdShow_stop(void);                  // stops and joins it
s32  Main_Set_LCD_String(const char *pszText, u32 u32Flag);

// Builds the frame that shows pszText: '.' lights the point of the digit
// before it, or stands as a blank digit with its point when that digit has
// its point already or there is none; signs without a segment form are blank.
void Lcd_MakeFrame(const char *pszText, bool bOn, u8 au8Frame[LCD_FRAME_LEN]);

#endif
