#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "rtsplib/include/AioSocket.h"
#include "tests/rtsplib/RtspTestNet.h"

// What a callback saw.
struct Done {
    int s32Calls = 0;
    s32 s32Code = -1;
    size_t bytes = 0;
    s32 s32Fd = -1;
    u16 u16Port = 0;
};

static void OnRecv(void *pv, s32 s32Code, size_t bytes)
{
    Done *p = (Done *)pv;
    p->s32Calls++;
    p->s32Code = s32Code;
    p->bytes = bytes;
}

// Runs the reactor until the callback has run or 2 s have passed.
static void RunUntil(const Done &stDone)
{
    for (int i = 0; i < 200 && stDone.s32Calls == 0; i++)
        aio_socket_process(10);
}

// A non-blocking socket bound to a port of loopback, and its address.
static int Bound(int s32Type, struct sockaddr_in *pstAddr)
{
    int s32Fd = socket(AF_INET, s32Type | SOCK_NONBLOCK, 0);
    socklen_t u32Len = sizeof(*pstAddr);
    *pstAddr = Net_Addr("127.0.0.1", 0);
    EXPECT_EQ(0, bind(s32Fd, (struct sockaddr *)pstAddr, u32Len));
    getsockname(s32Fd, (struct sockaddr *)pstAddr, &u32Len);
    return s32Fd;
}

struct AioSocketTest : public testing::Test {
    int as32Pair[2] = {-1, -1};
    AioSocket_S *pst = nullptr;
    char az[16];
    void SetUp() override
    {
        ASSERT_EQ(0, aio_socket_init(1));
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, as32Pair));
        pst = aio_socket_create(as32Pair[0], true);
    }
    void TearDown() override
    {
        if (pst)
            aio_socket_destroy(pst);
        close(as32Pair[1]);
        // Nothing may be left pending by a test.
        EXPECT_EQ(0, aio_socket_process(0));
    }
};

// Plain and vector forms complete on process, one request a side at a
// time; a peer that sends and then shuts its side down is read to the end.
TEST_F(AioSocketTest, SendAndReceiveCompleteOnProcess)
{
    Done stRecv, stSend, stRecvV, stEnd;
    ASSERT_EQ(0, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stRecv));
    EXPECT_EQ(EBUSY, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stRecv));
    EXPECT_EQ(0, aio_socket_process(10));   // nothing to read yet
    ASSERT_EQ(5, write(as32Pair[1], "hello", 5));
    RunUntil(stRecv);
    EXPECT_EQ(1, stRecv.s32Calls);
    EXPECT_EQ("hello", std::string(az, stRecv.bytes));
    struct iovec astOut[2] = {{(void *)"ab", 2}, {(void *)"cdef", 4}};
    ASSERT_EQ(0, aio_socket_send_v(pst, astOut, 2, OnRecv, &stSend));
    RunUntil(stSend);
    EXPECT_EQ(6u, stSend.bytes);
    ASSERT_EQ(6, read(as32Pair[1], az, sizeof(az)));
    EXPECT_EQ("abcdef", std::string(az, 6));
    char azA[3], azB[8];
    struct iovec astIn[2] = {{azA, sizeof(azA)}, {azB, sizeof(azB)}};
    ASSERT_EQ(5, write(as32Pair[1], "12345", 5));
    ASSERT_EQ(0, shutdown(as32Pair[1], SHUT_WR));
    ASSERT_EQ(0, aio_socket_recv_v(pst, astIn, 2, OnRecv, &stRecvV));
    RunUntil(stRecvV);
    EXPECT_EQ(0, stRecvV.s32Code);
    EXPECT_EQ("12345", std::string(azA, 3) + std::string(azB, stRecvV.bytes - 3));
    ASSERT_EQ(0, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stEnd));
    RunUntil(stEnd);
    EXPECT_EQ(1, stEnd.s32Calls);
    EXPECT_EQ(0, stEnd.s32Code);
    EXPECT_EQ(0u, stEnd.bytes);
}

TEST_F(AioSocketTest, DestroyEndsPendingRequestsWithAnError)
{
    Done stRecv;
    ASSERT_EQ(0, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stRecv));
    aio_socket_destroy(pst);
    pst = nullptr;
    RunUntil(stRecv);
    EXPECT_EQ(1, stRecv.s32Calls);
    EXPECT_NE(0, stRecv.s32Code);
    // The descriptor went with the last reference.
    EXPECT_EQ(-1, fcntl(as32Pair[0], F_GETFD));
}

// The datagram forms (only recvfrom serves the listener) carry addresses;
// an accepted socket is non-blocking like every other.
TEST_F(AioSocketTest, DatagramsAcceptAndConnect)
{
    struct sockaddr_in stA, stB;
    AioSocket_S *pstA = aio_socket_create(Bound(SOCK_DGRAM, &stA), true);
    AioSocket_S *pstB = aio_socket_create(Bound(SOCK_DGRAM, &stB), true);
    Done stSend, stRecv;
    char azX[2], azY[8];
    struct iovec astIn[2] = {{azX, 2}, {azY, 8}};
    auto pfnFrom = [](void *pv, s32 s32Code, size_t bytes, const struct sockaddr *pstAddr, socklen_t,
                      const struct in_addr *) {
        OnRecv(pv, s32Code, bytes);
        ((Done *)pv)->u16Port = ntohs(((const struct sockaddr_in *)pstAddr)->sin_port);
    };
    ASSERT_EQ(0, aio_socket_recvfrom_v(pstB, astIn, 2, pfnFrom, &stRecv));
    ASSERT_EQ(0, aio_socket_sendto(pstA, (struct sockaddr *)&stB, sizeof(stB), "vector", 6, OnRecv, &stSend));
    EXPECT_EQ(EINVAL, aio_socket_sendto(pstB, (struct sockaddr *)&stB, 0, "x", 1, OnRecv, &stSend));
    RunUntil(stSend);
    RunUntil(stRecv);
    EXPECT_EQ(ntohs(stA.sin_port), stRecv.u16Port);
    EXPECT_EQ("vector", std::string(azX, 2) + std::string(azY, stRecv.bytes - 2));
    aio_socket_destroy(pstA);
    aio_socket_destroy(pstB);
    struct sockaddr_in stAddr;
    int s32Listen = Bound(SOCK_STREAM, &stAddr);
    ASSERT_EQ(0, listen(s32Listen, 4));
    AioSocket_S *pstListen = aio_socket_create(s32Listen, true);
    AioSocket_S *pstClient = aio_socket_create(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0), true);
    Done stAccept, stConnect;
    auto pfnAccept = [](void *pv, s32 s32Code, s32 s32Fd, const struct sockaddr *, socklen_t) {
        OnRecv(pv, s32Code, 0);
        ((Done *)pv)->s32Fd = s32Fd;
    };
    ASSERT_EQ(0, aio_socket_accept(pstListen, pfnAccept, &stAccept));
    ASSERT_EQ(0, aio_socket_connect(pstClient, (struct sockaddr *)&stAddr, sizeof(stAddr),
                                    [](void *pv, s32 s32Code) { OnRecv(pv, s32Code, 0); }, &stConnect));
    RunUntil(stAccept);
    RunUntil(stConnect);
    EXPECT_EQ(0, stConnect.s32Code);
    ASSERT_GE(stAccept.s32Fd, 0);
    EXPECT_TRUE(fcntl(stAccept.s32Fd, F_GETFL) & O_NONBLOCK);
    close(stAccept.s32Fd);
    aio_socket_destroy(pstClient);
    aio_socket_destroy(pstListen);
}
