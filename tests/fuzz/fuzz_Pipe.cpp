// The web FIFO's command splitter on arbitrary bytes, fed in two reads.
#include <cstddef>
#include <cstdint>
#include <string>

#include "web/Pipe.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    std::string buf, cmd;
    size_t half = size / 2;
    buf.assign((const char *)pu8Data, half);
    while (Pipe_NextCommand(&buf, &cmd) == 1)
        if (cmd.front() != '{' || cmd.back() != '}')
            __builtin_trap();
    buf.append((const char *)pu8Data + half, size - half);
    while (Pipe_NextCommand(&buf, &cmd) == 1)
        if (cmd.front() != '{' || cmd.back() != '}')
            __builtin_trap();
    return 0;
}
