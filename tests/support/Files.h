// Reading what the program and the board's stand-ins left in files, and
// writing what a test hands them.
#ifndef TESTS_SUPPORT_FILES_H
#define TESTS_SUPPORT_FILES_H

#include <string>

#include "core/Types.h"

// The whole file, or "" when it cannot be read.
std::string File_Read(const std::string &path);
// Replaces the file with text.
void File_Write(const std::string &path, const std::string &text);

// Records of a board stand-in ("/dev/watchdog", "/board/calls.log") from
// byte sizeFrom on, without their times, as "call args;" each:
// "open 0;timeout 10;kick 0;".
std::string File_Calls(const std::string &path, size_t sizeFrom = 0);

// Bytes as lower-case hex text without separators, as stored EDIDs are
// written in the settings file.
std::string File_Hex(const u8 *pu8, size_t sizeLen);

// Random-looking bytes, other for each seed, in which a lost, doubled or
// moved byte shows.
std::string File_Pattern(size_t sizeLen, u32 u32Seed);

#endif
