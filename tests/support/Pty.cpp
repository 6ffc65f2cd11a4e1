#include "tests/support/Pty.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

int Pty_Attach(const char *pszDevPath)
{
    int s32Master, s32Slave;
    char azName[64];
    if (openpty(&s32Master, &s32Slave, azName, nullptr, nullptr) < 0)
        return -1;
    struct termios stTio;
    tcgetattr(s32Slave, &stTio);
    cfmakeraw(&stTio);
    tcsetattr(s32Slave, TCSANOW, &stTio);
    unlink(pszDevPath);
    if (symlink(azName, pszDevPath) < 0) {
        close(s32Master);
        close(s32Slave);
        return -1;
    }
    fcntl(s32Master, F_SETFL, O_NONBLOCK);
    return s32Master;   // the slave descriptor is kept open on purpose
}

std::string Pty_Read(int s32Master, size_t n, int s32TimeoutMs)
{
    std::string out;
    struct pollfd stPoll = {s32Master, POLLIN, 0};
    while (out.size() < n && poll(&stPoll, 1, s32TimeoutMs) > 0) {
        char az[512];
        ssize_t got = read(s32Master, az, sizeof(az));
        if (got <= 0)
            break;
        out.append(az, (size_t)got);
    }
    return out;
}
