// Factory reset from the front panel.
#ifndef APP_FACTORY_H
#define APP_FACTORY_H

#include "core/Types.h"

// Shows the reset, loads the default EDID into the receiver, replaces
// "/etc/app.ini" with the defaults and reboots through the watchdog. 0.
s32 MAIN_FACTORY_RESET(void);

#endif
