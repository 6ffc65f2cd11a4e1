#include "board/Led.h"

#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

#include "board/Gpio.h"
#include "core/Debug.h"
#include "core/Thread.h"

std::atomic<s32> g_data_status{0};

struct LedCtx_S {
    std::mutex mutex;      // guards s32Count
    s32 s32Count;          // override units left
};

static LedCtx_S s_stLed;
static MainThread_S s_stLedThread;

// Writes one attribute of the LED's PWM channel; the LED only shows what
// reaches the file, so a failure is logged once per attribute change.
static void Led_PwmWrite(const char *pszAttr, u32 u32Value)
{
    char azPath[96];
    snprintf(azPath, sizeof(azPath), LED_PWM_DIR "/pwm%d/%s", LED_PWM_CHANNEL, pszAttr);
    FILE *fp = fopen(azPath, "w");
    if (fp == nullptr || fprintf(fp, "%u", u32Value) < 0 || fclose(fp) != 0) {
        if (fp == nullptr)
            Debug_Log("[%s]: %s: open %s failed\n", log_Time(), __func__, azPath);
        else
            Debug_Log("[%s]: %s: write %s failed\n", log_Time(), __func__, azPath);
    }
}

static void Led_PwmSetup(void)
{
    char az[96];
    snprintf(az, sizeof(az), LED_PWM_DIR "/pwm%d", LED_PWM_CHANNEL);
    if (access(az, F_OK) != 0) {
        snprintf(az, sizeof(az), "echo %d > " LED_PWM_DIR "/export", LED_PWM_CHANNEL);
        (void)system(az);   // a missing channel shows in the writes below
    }
    Led_PwmWrite("period", LED_PWM_PERIOD_NS);
    Led_PwmWrite("duty_cycle", 0);
    Led_PwmWrite("enable", 1);
}

// Duty cycle of one pass: blinking while the override runs, else full
// while stream data flows and dim otherwise.
static u32 Led_Duty(u32 u32Pass)
{
    std::lock_guard<std::mutex> lock(s_stLed.mutex);
    if (s_stLed.s32Count > 0) {
        if (u32Pass % LED_COUNT_PASSES == 0)
            s_stLed.s32Count--;
        return (u32Pass & 1) ? LED_PWM_PERIOD_NS : 0;
    }
    return g_data_status ? LED_PWM_PERIOD_NS : LED_PWM_PERIOD_NS / 10;
}

static void *Led_Thread(void *)
{
    u32 u32Shown = ~0u;
    Led_PwmSetup();
    for (u32 u32Pass = 1; MAIN_Thread_Wait(&s_stLedThread, LED_PASS_MS); u32Pass++) {
        u32 u32Duty = Led_Duty(u32Pass);
        if (u32Duty != u32Shown) {
            Led_PwmWrite("duty_cycle", u32Duty);
            u32Shown = u32Duty;
        }
    }
    return nullptr;
}

void Led_Init(void)
{
    (void)MAIN_Thread_Start(&s_stLedThread, Led_Thread, nullptr, __func__);   // logged; the LED then stays as it is
}

void Led_DeInit(void)
{
    MAIN_Thread_Stop(&s_stLedThread);
}

void Led_Set_value(s32 s32Count)
{
    std::lock_guard<std::mutex> lock(s_stLed.mutex);
    s_stLed.s32Count = s32Count < 0 ? 0 : s32Count;
}

void MAIN_LED_Init(void)
{
    if (GPIO_INIT(LED_STATUS_GPIO) == 0)
        (void)GPIO_OUTPUT(LED_STATUS_GPIO);   // a line left as input only hides the blinking
}

void MAIN_LED_SetStatus(s32 s32Level)
{
    (void)GPIO_SET(LED_STATUS_GPIO, s32Level);   // a blink lost is shown again next pass
}
