#include "tests/support/Sock.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int Sock_Connect(u16 u16Port)
{
    int s32Fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in stAddr = {};
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (s32Fd >= 0 && connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        close(s32Fd);
        return -1;
    }
    return s32Fd;
}
