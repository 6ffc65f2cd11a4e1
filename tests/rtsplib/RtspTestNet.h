// Raw-socket helpers for the RTSP tests: blocking sockets with time-outs,
// and reading replies and interleaved frames.
#ifndef TESTS_RTSPLIB_RTSPTESTNET_H
#define TESTS_RTSPLIB_RTSPTESTNET_H

#include <netinet/in.h>
#include <string>
#include <vector>

#include "core/Types.h"

typedef std::vector<u8> Bytes;

// One interleaved frame: its channel and data.
struct TestInterleaved {
    u8 u8Channel;
    Bytes vecData;
};

#define NET_TIMEOUT_MS 5000

struct sockaddr_in Net_Addr(const char *pszAddr, u16 u16Port);
// Receive and send time-outs of a socket.
void Net_Timeout(int s32Fd, int s32Ms);
// A blocking TCP client of 127.0.0.1:u16Port with those time-outs and, when
// given, that receive buffer from the first byte and that source address
// (127.x.y.z: another client); -1 on failure.
int Net_Connect(u16 u16Port, int s32RcvBuf = 0, const char *pszFrom = nullptr);
// A UDP socket bound to pszAddr:u16Port (0: any; a group is joined on lo)
// with a 4 MiB receive buffer and a receive time-out; -1 when the bind fails.
int Net_UdpBind(const char *pszAddr, u16 u16Port, int s32TimeoutMs = 2000);
u16 Net_Port(int s32Fd);
// One datagram; empty on time-out.
Bytes Net_UdpRecv(int s32Fd);
// Every datagram until one does not come in time.
std::vector<Bytes> Net_UdpDrain(int s32Fd);
// A NAL unit of len bytes, header byte u8Head, behind a 4-byte start code.
Bytes Net_Nal(u8 u8Head, size_t len);
bool Net_SendAll(int s32Fd, const std::string &str);
bool Net_RecvAll(int s32Fd, void *pv, size_t len);
// The next interleaved frame, its '$' included; false on time-out, close
// or anything else.
bool Net_ReadFrame(int s32Fd, std::vector<TestInterleaved> *pvecFrames);
// One reply: the head up to the empty line and a Content-Length body.
// Interleaved frames before it go to *pvecFrames, when given. Empty on
// time-out, close or a frame not wanted.
std::string Net_ReadReply(int s32Fd, std::vector<TestInterleaved> *pvecFrames = nullptr);
// The reply with its Date value replaced by "D", after checking its form.
std::string Net_NoDate(const std::string &strReply);

#endif
