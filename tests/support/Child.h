// Runs a piece of code in a child process, for state that lives once per
// process (files opened on first use, one-time initialisation).
#ifndef TESTS_SUPPORT_CHILD_H
#define TESTS_SUPPORT_CHILD_H

#include <functional>
#include <string>

// Runs fn in a forked child with its standard output captured; returns the
// output. *ps32Status (when given) receives the child's exit status.
std::string Child_Run(const std::function<void()> &fn, int *ps32Status = nullptr);

#endif
