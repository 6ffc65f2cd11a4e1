// The front-panel reset key: held 3 s, it resets the box to its factory
// settings.
#ifndef BOARD_KEY_H
#define BOARD_KEY_H

#include <atomic>

#include "core/Types.h"

#define KEY_RESET_GPIO  20       // low while pressed
#define KEY_PASS_MS     20
#define KEY_HOLD_MS     3000

enum KeyState_E {
    KEY_STATE_RELEASED = 0,
    KEY_STATE_PRESSED  = 1,
    KEY_STATE_HELD     = 2,      // held long enough: the reset ran
};

extern std::atomic<s32> g_enKeyState;   // KeyState_E

// The factory reset, run on the key thread once the key is held.
typedef s32 KeyResetProc(void);

// Starts the key thread: 0, or -1 / the thread-creation error. Stop joins it.
s32 MAIN_KeyScan_start(KeyResetProc *pfnReset);
void MAIN_KeyScan_stop(void);

#endif
