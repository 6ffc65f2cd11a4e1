// Waiting on the source layer's threads and reading the media engine
// stand-in, shared by the source-layer and signal-change tests.
#ifndef TESTS_MEDIA_SOURCETEST_H
#define TESTS_MEDIA_SOURCETEST_H

#include <functional>

#include "core/Types.h"
#include "platform/host/HostMedia.h"

// Polls every 10 ms; true once fnDone holds, false after u32Ms.
bool WaitFor(const std::function<bool()> &fnDone, u32 u32Ms);

// A copy of the media engine stand-in's state.
HostMedia_S Engine(void);

#endif
