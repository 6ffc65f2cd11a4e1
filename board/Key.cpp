#include "board/Key.h"

#include <time.h>

#include "board/Gpio.h"
#include "board/Lcd.h"
#include "core/Clock.h"
#include "core/Debug.h"
#include "core/Thread.h"

std::atomic<s32> g_enKeyState{KEY_STATE_RELEASED};
static MainThread_S s_stKeyThread;
static KeyResetProc *s_pfnKeyReset;   // set before the thread starts

// Every press and release is front-panel activity.
static void Key_Event(KeyState_E enState)
{
    g_button_press_flag = 1;
    g_enKeyState = enState;
    Debug_Log("[%s]: %s: reset key %s\n", log_Time(), __func__,
              enState == KEY_STATE_RELEASED ? "released" : "pressed");
}

static void *Key_Thread(void *)
{
    u64 u64PressedAt = 0;
    while (MAIN_Thread_Wait(&s_stKeyThread, KEY_PASS_MS)) {
        s32 s32Level = 1;
        if (GPIO_GET(KEY_RESET_GPIO, &s32Level) == 0) {
            bool bDown = s32Level == 0;
            if (bDown && g_enKeyState == KEY_STATE_RELEASED) {
                u64PressedAt = Clock_NowMs();
                Key_Event(KEY_STATE_PRESSED);
            } else if (!bDown && g_enKeyState != KEY_STATE_RELEASED) {
                Key_Event(KEY_STATE_RELEASED);
            } else if (bDown && g_enKeyState == KEY_STATE_PRESSED
                       && Clock_NowMs() - u64PressedAt >= KEY_HOLD_MS) {
                g_enKeyState = KEY_STATE_HELD;
                Debug_Log("[%s]: %s: factory reset\n", log_Time(), __func__);
                s_pfnKeyReset();
            }
        }
    }
    return nullptr;
}

s32 MAIN_KeyScan_start(KeyResetProc *pfnReset)
{
    if (GPIO_INIT(KEY_RESET_GPIO) < 0)
        return -1;
    s_pfnKeyReset = pfnReset;
    return MAIN_Thread_Start(&s_stKeyThread, Key_Thread, nullptr, __func__);
}

void MAIN_KeyScan_stop(void)
{
    MAIN_Thread_Stop(&s_stKeyThread);
}
