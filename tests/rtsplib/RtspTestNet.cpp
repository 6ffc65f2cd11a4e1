#include "tests/rtsplib/RtspTestNet.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <malloc.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

#include "rtsplib/src/socket/AioSocket.h"

// Present in sanitizer builds, where malloc is not glibc's.
extern "C" size_t __sanitizer_get_current_allocated_bytes(void) __attribute__((weak));

void ReactorThread::Start()
{
    bRun = true;
    th = std::thread([this] {
        while (bRun)
            aio_socket_process(20);
    });
}

void ReactorThread::Stop()
{
    bRun = false;
    if (th.joinable())
        th.join();
}

static void Net_Timeouts(int s32Fd, int s32Ms)
{
    struct timeval stTv = {s32Ms / 1000, (s32Ms % 1000) * 1000};
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    setsockopt(s32Fd, SOL_SOCKET, SO_SNDTIMEO, &stTv, sizeof(stTv));
}

struct sockaddr_in Net_Loopback(unsigned short u16Port)
{
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return stAddr;
}

int Net_Connect(unsigned short u16Port)
{
    int s32Fd = socket(AF_INET, SOCK_STREAM, 0);
    struct sockaddr_in stAddr = Net_Loopback(u16Port);
    Net_Timeouts(s32Fd, 5000);
    int s32On = 1;
    setsockopt(s32Fd, IPPROTO_TCP, TCP_NODELAY, &s32On, sizeof(s32On));
    if (connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        close(s32Fd);
        return -1;
    }
    return s32Fd;
}

int Net_Udp(int s32TimeoutMs)
{
    int s32Fd = socket(AF_INET, SOCK_DGRAM, 0);
    Net_Timeouts(s32Fd, s32TimeoutMs);
    return s32Fd;
}

bool Net_SendAll(int s32Fd, const std::string &str)
{
    size_t off = 0;
    while (off < str.size()) {
        ssize_t n = send(s32Fd, str.data() + off, str.size() - off, MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        off += (size_t)n;
    }
    return true;
}

std::string Net_ReadReply(int s32Fd)
{
    std::string str;
    char c;
    while (str.size() < 4 || str.compare(str.size() - 4, 4, "\r\n\r\n") != 0) {
        if (recv(s32Fd, &c, 1, 0) != 1)
            return "";
        str += c;
    }
    std::smatch m;
    if (std::regex_search(str, m, std::regex("Content-Length: (\\d+)\r\n"))) {
        size_t len = std::stoul(m[1]);
        std::string strBody(len, '\0');
        size_t off = 0;
        while (off < len) {
            ssize_t n = recv(s32Fd, &strBody[off], len - off, 0);
            if (n <= 0)
                return "";
            off += (size_t)n;
        }
        str += strBody;
    }
    return str;
}

bool Net_Closed(int s32Fd)
{
    char az[256];
    for (;;) {
        ssize_t n = recv(s32Fd, az, sizeof(az), 0);
        if (n == 0 || (n < 0 && errno == ECONNRESET))
            return true;
        if (n < 0)
            return false;
    }
}

std::string Net_NoDate(const std::string &strReply)
{
    static const std::regex s_reDate(
        "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "\\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n");
    return std::regex_replace(strReply, s_reDate, "Date: D\r\n");
}

size_t Net_HeapInUse(void)
{
    if (__sanitizer_get_current_allocated_bytes)
        return __sanitizer_get_current_allocated_bytes();
    return mallinfo2().uordblks;
}
