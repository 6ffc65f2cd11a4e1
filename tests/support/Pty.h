// A pseudo-terminal standing in for a board device such as "/dev/ttyS0":
// the device path becomes the slave, the test holds the master.
#ifndef TESTS_SUPPORT_PTY_H
#define TESTS_SUPPORT_PTY_H

// Returns the master descriptor (non-blocking), or -1. The slave stays open
// in the test too, so the pty lives while the program closes and reopens it.
int Pty_Attach(const char *pszDevPath);

// Reads until n bytes arrived or timeout_ms passed; returns what arrived.
#include <string>
std::string Pty_Read(int s32Master, size_t n, int s32TimeoutMs);

#endif
