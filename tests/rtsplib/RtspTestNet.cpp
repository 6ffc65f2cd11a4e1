#include "tests/rtsplib/RtspTestNet.h"

#include <arpa/inet.h>
#include <cstring>
#include <netinet/tcp.h>
#include <regex>
#include <sys/socket.h>
#include <unistd.h>

void Net_Timeout(int s32Fd, int s32Ms)
{
    struct timeval stTv = {s32Ms / 1000, (s32Ms % 1000) * 1000};
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    setsockopt(s32Fd, SOL_SOCKET, SO_SNDTIMEO, &stTv, sizeof(stTv));
}

struct sockaddr_in Net_Addr(const char *pszAddr, u16 u16Port)
{
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    inet_pton(AF_INET, pszAddr, &stAddr.sin_addr);
    return stAddr;
}

int Net_Connect(u16 u16Port, int s32RcvBuf, const char *pszFrom)
{
    int s32Fd = socket(AF_INET, SOCK_STREAM, 0), s32On = 1;
    struct sockaddr_in stAddr = Net_Addr("127.0.0.1", u16Port);
    struct sockaddr_in stFrom = Net_Addr(pszFrom ? pszFrom : "0.0.0.0", 0);
    Net_Timeout(s32Fd, NET_TIMEOUT_MS);
    setsockopt(s32Fd, IPPROTO_TCP, TCP_NODELAY, &s32On, sizeof(s32On));
    if (s32RcvBuf != 0)
        setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32RcvBuf, sizeof(s32RcvBuf));
    if ((pszFrom && bind(s32Fd, (struct sockaddr *)&stFrom, sizeof(stFrom)) < 0) ||
        connect(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        close(s32Fd);
        return -1;
    }
    return s32Fd;
}

int Net_UdpBind(const char *pszAddr, u16 u16Port, int s32TimeoutMs)
{
    int s32Fd = socket(AF_INET, SOCK_DGRAM, 0), s32On = 1, s32Buf = 4 << 20;
    setsockopt(s32Fd, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On));
    setsockopt(s32Fd, SOL_SOCKET, SO_RCVBUF, &s32Buf, sizeof(s32Buf));
    Net_Timeout(s32Fd, s32TimeoutMs);
    struct sockaddr_in stAddr = Net_Addr(pszAddr, u16Port);
    if (bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        close(s32Fd);
        return -1;
    }
    if (IN_MULTICAST(ntohl(stAddr.sin_addr.s_addr))) {
        struct ip_mreq stReq;
        stReq.imr_multiaddr = stAddr.sin_addr;
        inet_pton(AF_INET, "127.0.0.1", &stReq.imr_interface);
        setsockopt(s32Fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &stReq, sizeof(stReq));
    }
    return s32Fd;
}

u16 Net_Port(int s32Fd)
{
    struct sockaddr_in stAddr;
    socklen_t u32Len = sizeof(stAddr);
    getsockname(s32Fd, (struct sockaddr *)&stAddr, &u32Len);
    return ntohs(stAddr.sin_port);
}

Bytes Net_UdpRecv(int s32Fd)
{
    Bytes vec(65536);
    ssize_t n = recv(s32Fd, vec.data(), vec.size(), 0);
    vec.resize(n > 0 ? (size_t)n : 0);
    return vec;
}

std::vector<Bytes> Net_UdpDrain(int s32Fd)
{
    std::vector<Bytes> vec;
    for (Bytes vecPkt = Net_UdpRecv(s32Fd); !vecPkt.empty(); vecPkt = Net_UdpRecv(s32Fd))
        vec.push_back(vecPkt);
    return vec;
}

Bytes Net_Nal(u8 u8Head, size_t len)
{
    Bytes vec(4 + len, 0x5A);
    vec[0] = vec[1] = vec[2] = 0;
    vec[3] = 1;
    vec[4] = u8Head;
    return vec;
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

bool Net_RecvAll(int s32Fd, void *pv, size_t len)
{
    size_t off = 0;
    while (off < len) {
        ssize_t n = recv(s32Fd, (char *)pv + off, len - off, 0);
        if (n <= 0)
            return false;
        off += (size_t)n;
    }
    return true;
}

// The rest of an interleaved frame whose '$' was read.
static bool Net_FrameRest(int s32Fd, std::vector<TestInterleaved> *pvecFrames)
{
    u8 au8Head[3];
    if (!Net_RecvAll(s32Fd, au8Head, sizeof(au8Head)))
        return false;
    TestInterleaved stFrame = {au8Head[0], Bytes((size_t)au8Head[1] << 8 | au8Head[2])};
    if (!Net_RecvAll(s32Fd, stFrame.vecData.data(), stFrame.vecData.size()))
        return false;
    pvecFrames->push_back(stFrame);
    return true;
}

bool Net_ReadFrame(int s32Fd, std::vector<TestInterleaved> *pvecFrames)
{
    char c;
    return Net_RecvAll(s32Fd, &c, 1) && c == '$' && Net_FrameRest(s32Fd, pvecFrames);
}

std::string Net_ReadReply(int s32Fd, std::vector<TestInterleaved> *pvecFrames)
{
    std::string str;
    char c;
    while (str.size() < 4 || str.compare(str.size() - 4, 4, "\r\n\r\n") != 0) {
        if (!Net_RecvAll(s32Fd, &c, 1))
            return "";
        if (str.empty() && c == '$' && pvecFrames) {
            if (!Net_FrameRest(s32Fd, pvecFrames))
                return "";
            continue;
        }
        str += c;
    }
    size_t pos = str.find("\r\nContent-Length: ");
    if (pos != std::string::npos) {
        std::string strBody(std::stoul(str.substr(pos + 18)), '\0');
        if (!Net_RecvAll(s32Fd, &strBody[0], strBody.size()))
            return "";
        str += strBody;
    }
    return str;
}

std::string Net_NoDate(const std::string &strReply)
{
    static const std::regex s_reDate(
        "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "\\d{4} \\d\\d:\\d\\d:\\d\\d GMT\r\n");
    return std::regex_replace(strReply, s_reDate, "Date: D\r\n");
}
