#include "hdmichip/HdmiSwitch.h"

#include "core/Thread.h"

// The chip service itself is not started by this program; stopping finds
// it idle unless something started it.
static MainThread_S s_stHdmiSwitchThread;

s32 HdmiSwitch_StopThread(void)
{
    MAIN_Thread_Stop(&s_stHdmiSwitchThread);
    return 0;
}
