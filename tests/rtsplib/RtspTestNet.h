// Raw-socket helpers for the RTSP tests: a reactor thread, blocking
// clients with time-outs, and reading replies.
#ifndef TESTS_RTSPLIB_RTSPTESTNET_H
#define TESTS_RTSPLIB_RTSPTESTNET_H

#include <atomic>
#include <netinet/in.h>
#include <string>
#include <thread>

// Runs aio_socket_process on a thread of its own until stopped.
struct ReactorThread {
    std::atomic<bool> bRun{false};
    std::thread th;
    void Start();
    void Stop();
};

// 127.0.0.1:u16Port.
struct sockaddr_in Net_Loopback(unsigned short u16Port);
// A blocking TCP client of 127.0.0.1:u16Port with 5 s time-outs; -1 on failure.
int Net_Connect(unsigned short u16Port);
// A blocking UDP socket with 5 s time-outs (s32TimeoutMs when given).
int Net_Udp(int s32TimeoutMs = 5000);
bool Net_SendAll(int s32Fd, const std::string &str);
// One reply: the head up to the empty line and a Content-Length body.
// Empty on time-out or close.
std::string Net_ReadReply(int s32Fd);
// True when the peer closed (recv returns 0 or a reset) within the time-out.
bool Net_Closed(int s32Fd);
// The reply with its Date value replaced by "D", after checking its form.
std::string Net_NoDate(const std::string &strReply);
// Heap bytes in use by this process.
size_t Net_HeapInUse(void);

#endif
