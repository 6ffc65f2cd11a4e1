// A callback table that answers like a fresh transmitter and records each
// call, for the dispatcher and the server tests.
#ifndef TESTS_PROTOCOL_FAKEBOX_H
#define TESTS_PROTOCOL_FAKEBOX_H

#include <string>
#include <vector>

#include "protocol/ProtocolCallback.h"

struct FakeBox_S {
    std::string deviceId = "0a1b2c3d4e5f";
    std::string type = "TX";
    s32 s32Id = 7;
    s32 s32SetResult = 0;                    // what the setters return
    std::vector<std::string> calls;          // slot names, in call order
    ProtocolEncodeParams_S stEncSet{};       // last record given to slot 25
    ProtocolDecodeParams_S stDecSet{};       // last record given to slot 27
    s32 s32LastValue = 0;                    // last value given to a one-value setter
};

// The table with every slot the fake serves; the context is the FakeBox_S.
ProtocolServerCallback_S FakeBox_Table(void);

#endif
