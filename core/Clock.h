// The monotonic clock in milliseconds: for deadlines, periods and
// time-outs, which a step of the wall clock must neither end nor stretch.
#ifndef CORE_CLOCK_H
#define CORE_CLOCK_H

#include "core/Types.h"

s64 Clock_NowMs(void);

#endif
