#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "rtsplib/src/socket/AioSocket.h"

// What the callbacks saw.
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

static void OnRecvFrom(void *pv, s32 s32Code, size_t bytes, const struct sockaddr *pstAddr, socklen_t)
{
    OnRecv(pv, s32Code, bytes);
    if (pstAddr)
        ((Done *)pv)->u16Port = ntohs(((const struct sockaddr_in *)pstAddr)->sin_port);
}

static void OnAccept(void *pv, s32 s32Code, s32 s32Fd, const struct sockaddr *, socklen_t)
{
    OnRecv(pv, s32Code, 0);
    ((Done *)pv)->s32Fd = s32Fd;
}

static void OnConnect(void *pv, s32 s32Code)
{
    OnRecv(pv, s32Code, 0);
}

// Runs the reactor until the callback has run or 2 s have passed.
static void RunUntil(const Done &stDone)
{
    for (int i = 0; i < 200 && stDone.s32Calls == 0; i++)
        aio_socket_process(10);
}

static sockaddr_in Loopback(u16 u16Port)
{
    struct sockaddr_in stAddr;
    memset(&stAddr, 0, sizeof(stAddr));
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    stAddr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return stAddr;
}

struct AioSocketTest : public testing::Test {
    int as32Pair[2] = {-1, -1};
    void SetUp() override
    {
        ASSERT_EQ(0, aio_socket_init(1));
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, as32Pair));
    }
    void TearDown() override
    {
        close(as32Pair[1]);
        // Nothing may be left pending by a test.
        EXPECT_EQ(0, aio_socket_process(0));
    }
};

TEST_F(AioSocketTest, ReceiveAndSendCompleteOnProcess)
{
    AioSocket_S *pst = aio_socket_create(as32Pair[0], true);
    char az[16];
    Done stRecv, stSend;
    ASSERT_EQ(0, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stRecv));
    EXPECT_EQ(EBUSY, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stRecv));
    EXPECT_EQ(0, aio_socket_process(10));   // nothing to read yet
    ASSERT_EQ(5, write(as32Pair[1], "hello", 5));
    RunUntil(stRecv);
    EXPECT_EQ(1, stRecv.s32Calls);
    EXPECT_EQ(0, stRecv.s32Code);
    EXPECT_EQ("hello", std::string(az, stRecv.bytes));
    ASSERT_EQ(0, aio_socket_send(pst, "world", 5, OnRecv, &stSend));
    RunUntil(stSend);
    EXPECT_EQ(5u, stSend.bytes);
    EXPECT_EQ(5, read(as32Pair[1], az, sizeof(az)));
    aio_socket_destroy(pst);
}

// The vector forms read and write across buffers.
TEST_F(AioSocketTest, VectorFormsSpanBuffers)
{
    AioSocket_S *pst = aio_socket_create(as32Pair[0], true);
    char azA[3], azB[8];
    struct iovec astIn[2] = {{azA, sizeof(azA)}, {azB, sizeof(azB)}};
    struct iovec astOut[2] = {{(void *)"ab", 2}, {(void *)"cdef", 4}};
    Done stRecv, stSend;
    ASSERT_EQ(0, aio_socket_send_v(pst, astOut, 2, OnRecv, &stSend));
    RunUntil(stSend);
    EXPECT_EQ(6u, stSend.bytes);
    char az[8];
    ASSERT_EQ(6, read(as32Pair[1], az, sizeof(az)));
    EXPECT_EQ("abcdef", std::string(az, 6));
    ASSERT_EQ(5, write(as32Pair[1], "12345", 5));
    ASSERT_EQ(0, aio_socket_recv_v(pst, astIn, 2, OnRecv, &stRecv));
    RunUntil(stRecv);
    EXPECT_EQ(5u, stRecv.bytes);
    EXPECT_EQ("123", std::string(azA, 3));
    EXPECT_EQ("45", std::string(azB, 2));
    aio_socket_destroy(pst);
}

// A peer that sends and then shuts its side down is read to the end.
TEST_F(AioSocketTest, HalfClosedPeerIsReadBeforeEnd)
{
    AioSocket_S *pst = aio_socket_create(as32Pair[0], true);
    char az[16];
    Done stFirst, stSecond;
    ASSERT_EQ(3, write(as32Pair[1], "req", 3));
    ASSERT_EQ(0, shutdown(as32Pair[1], SHUT_WR));
    ASSERT_EQ(0, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stFirst));
    RunUntil(stFirst);
    EXPECT_EQ(0, stFirst.s32Code);
    EXPECT_EQ(3u, stFirst.bytes);
    ASSERT_EQ(0, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stSecond));
    RunUntil(stSecond);
    EXPECT_EQ(0, stSecond.s32Code);
    EXPECT_EQ(0u, stSecond.bytes);
    aio_socket_destroy(pst);
}

TEST_F(AioSocketTest, DestroyEndsPendingRequestsWithAnError)
{
    AioSocket_S *pst = aio_socket_create(as32Pair[0], true);
    char az[16];
    Done stRecv;
    ASSERT_EQ(0, aio_socket_recv(pst, az, sizeof(az), OnRecv, &stRecv));
    aio_socket_destroy(pst);
    RunUntil(stRecv);
    EXPECT_EQ(1, stRecv.s32Calls);
    EXPECT_NE(0, stRecv.s32Code);
    // The descriptor went with the last reference.
    EXPECT_EQ(-1, fcntl(as32Pair[0], F_GETFD));
}

TEST_F(AioSocketTest, DatagramsCarryTheirAddresses)
{
    int s32A = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0), s32B = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
    struct sockaddr_in stA = Loopback(0), stB = Loopback(0);
    socklen_t u32Len = sizeof(stA);
    ASSERT_EQ(0, bind(s32A, (struct sockaddr *)&stA, sizeof(stA)));
    ASSERT_EQ(0, bind(s32B, (struct sockaddr *)&stB, sizeof(stB)));
    getsockname(s32A, (struct sockaddr *)&stA, &u32Len);
    getsockname(s32B, (struct sockaddr *)&stB, &u32Len);
    AioSocket_S *pstA = aio_socket_create(s32A, true), *pstB = aio_socket_create(s32B, true);
    char az[16];
    Done stSend, stRecv;
    ASSERT_EQ(0, aio_socket_recvfrom(pstB, az, sizeof(az), OnRecvFrom, &stRecv));
    ASSERT_EQ(0, aio_socket_sendto(pstA, (struct sockaddr *)&stB, sizeof(stB), "dgram", 5, OnRecv, &stSend));
    EXPECT_EQ(EINVAL, aio_socket_sendto(pstB, (struct sockaddr *)&stB, 0, "x", 1, OnRecv, &stSend));
    RunUntil(stSend);
    RunUntil(stRecv);
    EXPECT_EQ(5u, stRecv.bytes);
    EXPECT_EQ("dgram", std::string(az, 5));
    EXPECT_EQ(ntohs(stA.sin_port), stRecv.u16Port);
    // And the vector forms.
    Done stSend2, stRecv2;
    char azX[2], azY[8];
    struct iovec astIn[2] = {{azX, 2}, {azY, 8}}, stOut = {(void *)"vector", 6};
    ASSERT_EQ(0, aio_socket_recvfrom_v(pstA, astIn, 2, OnRecvFrom, &stRecv2));
    ASSERT_EQ(0, aio_socket_sendto_v(pstB, (struct sockaddr *)&stA, sizeof(stA), &stOut, 1, OnRecv, &stSend2));
    RunUntil(stSend2);
    RunUntil(stRecv2);
    EXPECT_EQ(6u, stRecv2.bytes);
    EXPECT_EQ(ntohs(stB.sin_port), stRecv2.u16Port);
    EXPECT_EQ("ve", std::string(azX, 2));
    aio_socket_destroy(pstA);
    aio_socket_destroy(pstB);
}

TEST_F(AioSocketTest, AcceptAndConnectComplete)
{
    int s32Listen = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    struct sockaddr_in stAddr = Loopback(0);
    socklen_t u32Len = sizeof(stAddr);
    ASSERT_EQ(0, bind(s32Listen, (struct sockaddr *)&stAddr, sizeof(stAddr)));
    ASSERT_EQ(0, listen(s32Listen, 4));
    getsockname(s32Listen, (struct sockaddr *)&stAddr, &u32Len);
    AioSocket_S *pstListen = aio_socket_create(s32Listen, true);
    AioSocket_S *pstClient = aio_socket_create(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0), true);
    Done stAccept, stConnect;
    ASSERT_EQ(0, aio_socket_accept(pstListen, OnAccept, &stAccept));
    ASSERT_EQ(0, aio_socket_connect(pstClient, (struct sockaddr *)&stAddr, sizeof(stAddr), OnConnect, &stConnect));
    RunUntil(stAccept);
    RunUntil(stConnect);
    EXPECT_EQ(0, stConnect.s32Code);
    EXPECT_EQ(0, stAccept.s32Code);
    ASSERT_GE(stAccept.s32Fd, 0);
    EXPECT_TRUE(fcntl(stAccept.s32Fd, F_GETFL) & O_NONBLOCK);
    close(stAccept.s32Fd);
    aio_socket_destroy(pstClient);
    aio_socket_destroy(pstListen);
}
