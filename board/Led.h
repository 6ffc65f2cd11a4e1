// Front-panel LEDs: the PWM stream LED with its override counter, and the
// status LED on GPIO 68 that the main loop blinks.
#ifndef BOARD_LED_H
#define BOARD_LED_H

#include <atomic>

#include "core/Types.h"

#define LED_STATUS_GPIO   68
#define LED_PWM_DIR       "/sys/class/pwm/pwmchip0"
#define LED_PWM_CHANNEL   0
#define LED_PWM_PERIOD_NS 1000000u
#define LED_PASS_MS       100     // LED thread period
#define LED_COUNT_PASSES  10      // passes per unit of the override counter

extern std::atomic<s32> g_data_status;   // 1 while stream data flows

void Led_Init(void);                 // LED context and the PWM LED thread
void Led_DeInit(void);               // stops and joins the LED thread
void Led_Set_value(s32 s32Count);    // blink for s32Count units of LED_COUNT_PASSES passes
void MAIN_LED_Init(void);            // status LED line as output
void MAIN_LED_SetStatus(s32 s32Level);

#endif
