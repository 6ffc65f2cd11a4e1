// GPIO lines through "/sys/class/gpio". Each line's value file is opened
// once and kept.
#ifndef BOARD_GPIO_H
#define BOARD_GPIO_H

#include "core/Types.h"

#define GPIO_MAX 256   // lines 0..GPIO_MAX-1

s32 GPIO_INIT(s32 s32Gpio);                 // export when needed, open value; 0 or -1
s32 GPIO_OUTPUT(s32 s32Gpio);               // direction "out"; the shell's result
s32 GPIO_SET(u32 u32Gpio, s32 s32Value);    // the write's result, -1 when not initialised
s32 GPIO_GET(u32 u32Gpio, s32 *ps32Value);  // 0, or -1 when not initialised or unreadable

#endif
