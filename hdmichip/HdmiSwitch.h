// Service of the HDMI switch chip. The start-up does not start it; the
// shut-down stops it if it runs.
#ifndef HDMICHIP_HDMISWITCH_H
#define HDMICHIP_HDMISWITCH_H

#include "core/Types.h"

s32 HdmiSwitch_StopThread(void);   // clears the run flag and joins; 0

#endif
