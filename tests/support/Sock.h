// TCP clients of the program's servers on the loopback interface.
#ifndef TESTS_SUPPORT_SOCK_H
#define TESTS_SUPPORT_SOCK_H

#include "core/Types.h"

// A connected socket to 127.0.0.1:u16Port, or -1.
int Sock_Connect(u16 u16Port);

#endif
