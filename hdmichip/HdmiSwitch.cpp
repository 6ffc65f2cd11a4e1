#include "hdmichip/HdmiSwitch.h"

#include <atomic>
#include <pthread.h>

// The chip service itself is not started by this program; stopping finds
// it idle unless something started it.
static std::atomic<bool> s_bHdmiSwitchRun{false};
static pthread_t s_HdmiSwitchThread;

s32 HdmiSwitch_StopThread(void)
{
    if (s_bHdmiSwitchRun.exchange(false))
        pthread_join(s_HdmiSwitchThread, nullptr);
    return 0;
}
