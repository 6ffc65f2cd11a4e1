// Words for the simulated hardware. Each stand-in registers the words it
// understands; "tools/box sim NAME WORDS..." sends one line of words to the
// socket "/board/sim.sock" of the box's program, which answers with text
// lines and a last line "ok" or "error: <why>".
#ifndef PLATFORM_HOST_HOSTSIM_H
#define PLATFORM_HOST_HOSTSIM_H

#include <string>
#include <vector>

#include "core/Types.h"

// Handles one line whose first word is the registered word. Appends its
// answer to *pReply; returns 0, or -1 with the reason in *pReply.
typedef s32 HostSimProc(const std::vector<std::string> &words, std::string *pReply);

// Registers a word (first registration of a word wins). The first call
// starts the socket server when "/board" exists, as in a box.
s32 HostSim_Register(const char *pszWord, HostSimProc *pfnProc, const char *pszHelp);

// Runs one line as the socket would; returns the full answer.
std::string HostSim_Exec(const std::string &line);

#endif
