// The process-wide debug log. Every message is a printf format beginning
// with "[%s]: " whose first argument is log_Time().
#ifndef CORE_DEBUG_H
#define CORE_DEBUG_H

#include <atomic>

#include "core/Types.h"

enum DebugLogMode_E {
    DEBUG_LOG_STDOUT  = 0,   // printed to standard output
    DEBUG_LOG_FILE    = 1,   // appended to g_azDebugFile
    DEBUG_LOG_CONSOLE = 10,  // printed to standard output
};                           // any other value: dropped

#define DEBUG_FILE_TRIM_LEN  0x200000   // a longer file is trimmed before the next write
#define DEBUG_FILE_DROP_LEN  0x2000     // bytes dropped from the start by one trim
#define DEBUG_FILE_BUF_LEN   0x202000

extern std::atomic<s32> g_bFileDebugOn;   // DebugLogMode_E
extern char g_azDebugFile[32];            // set once by main before any thread runs

// Local wall-clock time as "DD HH:MM:SS.mmm". The text belongs to the calling
// thread and stays valid until its next call; errno is left unchanged.
const char *log_Time(void);

// Writes one message according to g_bFileDebugOn. Never fails towards the
// caller; a message the facility cannot write is dropped with a note on
// standard output. errno is left unchanged.
void Debug_Log(const char *pszFmt, ...) __attribute__((format(printf, 1, 2)));

// A peer's bytes as a log can show them: at most u32OutSize - 1 of them,
// each one not printable as '.', so that they can neither forge lines nor
// grow one without bound. pszOut is always terminated.
void Debug_Printable(char *pszOut, u32 u32OutSize, const void *pvIn, u32 u32InLen);

// One cause of messages that remote peers can trigger at will. A zeroed
// record is ready; it may be shared by threads.
struct DebugLimit_S {
    std::atomic<s64> s64NextMs;     // monotonic ms before which messages are dropped
    std::atomic<u32> u32Dropped;    // dropped since the last one written
};

// Debug_Log for such a cause: at most one message a second; the first one
// after dropped messages is followed by
// "[%s]: (%u similar messages suppressed)\n".
void Debug_LogLimited(DebugLimit_S *pstLimit, const char *pszFmt, ...)
    __attribute__((format(printf, 2, 3)));
// For a cause whose one event writes several lines: true when the event
// may write them now with Debug_Log (the count of those dropped before is
// then written first); false counts the event as dropped.
bool Debug_LimitTake(DebugLimit_S *pstLimit);
// While set, the calling thread's messages are dropped: a request that did
// not get its turn (Debug_LimitTake) runs quiet, with the calls it makes.
void Debug_SetQuiet(bool bQuiet);
// Whether messages were dropped and the next one would be written: a cause
// whose last message tells a state can then tell the state as it now is.
bool Debug_LimitPending(const DebugLimit_S *pstLimit);

#endif
