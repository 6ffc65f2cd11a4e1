// The board's power line for the capture side.
#ifndef BOARD_POWER_H
#define BOARD_POWER_H

#include "core/Types.h"

#define POWER_GPIO 69

s32 MAIN_FPGA_POWER(void);   // drives the power line high; 0

#endif
