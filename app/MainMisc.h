// The supervisor thread: every 10 ms it turns changes of the settings and
// of a few runtime words into actions: the address file, the debug-log
// mode, a stream restart on a new device ID, the HDCP announcements in the
// main stream, 802.1X, SSH and telnet, the external web server's
// configuration and restart, and the encoders' key-frame requests.
#ifndef APP_MAINMISC_H
#define APP_MAINMISC_H

#include <atomic>

#include "core/Types.h"

#define MISC_PASS_MS        10
#define MISC_CMD_FIFO       "/customer/fifodeamon"
#define MISC_CMD_LEN        2048
#define MISC_SOURCEIP_FILE  "/tmp/sourceip"
#define MISC_HDCP_NONE      0xFF
#define MISC_HDCP_DEBOUNCE  10    // passes a new state must outlast, plus one
#define MISC_HDCP_EVERY     100   // passes between announcements of a series
#define MISC_HDCP_LAST      300   // count after which a series sends its last one

extern std::atomic<s32> g_bHttpdWebOn;   // the web switch as last seen

// HDCP debounce and announcement series.
struct MiscHdcp_S {
    u8 u8Accepted;       // debounced state, MISC_HDCP_NONE before the first
    u32 u32Debounce;     // passes in a row with another state
    u8 u8Announced;      // accepted state when the series began
    s32 s32SeenMode;     // settings' HDCP mode when the series began, -1 before
    u32 u32Count;        // passes since the series began
    s32 bAnnouncing;     // 1 while a series runs
};

void MAIN_Misc_HdcpInit(MiscHdcp_S *pstHdcp);
// One pass with the state read from the receiver and the settings' mode;
// 1 when an announcement is due in this pass, else 0. A series sends at
// its passes 0, 100, 200, 300 and 301; a change during it starts it again.
s32 MAIN_Misc_HdcpPass(MiscHdcp_S *pstHdcp, u8 u8State, s32 s32Mode);

// Starts the thread; 0 also when it runs, or the thread-creation error (logged).
s32 MAIN_Misc_Start(void);
// Wakes and joins the thread; the command FIFO is closed.
void MAIN_Misc_Stop(void);

#endif
