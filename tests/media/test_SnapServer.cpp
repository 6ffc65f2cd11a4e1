// The snapshot service: the encrypted head, the reply layout, the request
// check, the reply caps, and the server on the loopback interface with the
// writer's lock.
#include <algorithm>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <mbedtls/aes.h>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

#include "media/SnapCap.h"
#include "media/SnapServer.h"
#include "tests/support/Files.h"

namespace {

const char *const SNAP_TEST_FILE = "/tmp/snap.jpg";
const u16 SNAP_TEST_PORT = 6888;

std::vector<u8> Pattern(size_t sizeLen)
{
    std::vector<u8> v(sizeLen);
    for (size_t i = 0; i < sizeLen; i++)
        v[i] = (u8)(i * 7 + 3);
    return v;
}

u32 GetU32(const u8 *pu8)
{
    return pu8[0] | (u32)pu8[1] << 8 | (u32)pu8[2] << 16 | (u32)pu8[3] << 24;
}

// The library directly, key and IV as the requesters know them.
std::vector<u8> Decrypt(const u8 *pu8In, size_t sizeLen)
{
    const u8 au8Key[] = "Qv7#pLm2Xr9!tB4w";
    u8 au8Iv[] = "Hk3%zN8qW&5e^Ry1";
    std::vector<u8> out(sizeLen);
    mbedtls_aes_context stCtx;
    mbedtls_aes_init(&stCtx);
    EXPECT_EQ(0, mbedtls_aes_setkey_dec(&stCtx, au8Key, 128));
    EXPECT_EQ(0, mbedtls_aes_crypt_cbc(&stCtx, MBEDTLS_AES_DECRYPT, sizeLen, au8Iv, pu8In, out.data()));
    mbedtls_aes_free(&stCtx);
    return out;
}

// The file a reply carries: its head decrypted and unpadded, then the rest.
std::vector<u8> Reassemble(const std::vector<u8> &reply)
{
    if (reply.size() < SNAP_REPLY_HEAD + SNAP_ENC_HEAD_LEN)
        return {};
    std::vector<u8> head = Decrypt(reply.data() + SNAP_REPLY_HEAD, SNAP_ENC_HEAD_LEN);
    for (size_t i = SNAP_HEAD_LEN; i < SNAP_ENC_HEAD_LEN; i++)
        EXPECT_EQ(16, head[i]) << "padding byte " << i;
    head.resize(SNAP_HEAD_LEN);
    head.insert(head.end(), reply.begin() + SNAP_REPLY_HEAD + SNAP_ENC_HEAD_LEN, reply.end());
    return head;
}

TEST(SnapAesTest, HeadRoundTripsAndBadInputIsRefused)
{
    std::vector<u8> in = Pattern(SNAP_HEAD_LEN), out(SNAP_HEAD_LEN + 16), again(SNAP_HEAD_LEN + 16),
                    back(SNAP_HEAD_LEN + 16);
    ASSERT_EQ(SNAP_ENC_HEAD_LEN, aes_128_cbc_enc(out.data(), in.data(), SNAP_HEAD_LEN));
    // Each call starts a fresh chain.
    ASSERT_EQ(SNAP_ENC_HEAD_LEN, aes_128_cbc_enc(again.data(), in.data(), SNAP_HEAD_LEN));
    EXPECT_EQ(out, again);
    ASSERT_EQ(SNAP_HEAD_LEN, aes_128_cbc_dec(back.data(), out.data(), SNAP_ENC_HEAD_LEN));
    EXPECT_EQ(0, memcmp(in.data(), back.data(), SNAP_HEAD_LEN));
    EXPECT_EQ(-1, aes_128_cbc_dec(back.data(), in.data(), 0));
    EXPECT_EQ(-1, aes_128_cbc_dec(back.data(), in.data(), 15));   // not whole blocks
    in[31] = 17;   // a last plain byte of 17 is no padding
    ASSERT_EQ(48, aes_128_cbc_enc(out.data(), in.data(), 32));
    EXPECT_EQ(-1, aes_128_cbc_dec(back.data(), out.data(), 32));
}

TEST(SnapRequestTest, TextAnywhereBeforeTheFirstNul)
{
    const struct {
        std::string data;
        bool bRequest;
    } cases[] = {
        {"ss get snap!", true},        {"hello ss get snap! more", true},
        {"ss get snap", false},        {"SS GET SNAP!", false},
        {std::string("\0ss get snap!", 13), false},
        {std::string("ss get snap!\0tail", 17), true},        {"", false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.bRequest, SnapServer_IsRequest(c.data.data(), (s32)c.data.size())) << c.data;
    // Unterminated: the length bounds the search.
    const char azCut[] = {'s', 's', ' ', 'g', 'e', 't', ' ', 's', 'n', 'a', 'p', '!'};
    EXPECT_TRUE(SnapServer_IsRequest(azCut, sizeof(azCut)));
    EXPECT_FALSE(SnapServer_IsRequest(azCut, sizeof(azCut) - 1));
}

TEST(SnapReplyTest, LayoutAndLimits)
{
    const struct {
        u32 u32File, u32Cap;
        s32 s32Total;
    } cases[] = {
        {129, SNAP_BUF_LEN, 157},    {128, SNAP_BUF_LEN, -1},    {0, SNAP_BUF_LEN, -1},
        {SNAP_DATAGRAM_MAX - 28, SNAP_BUF_LEN, SNAP_DATAGRAM_MAX},
        {SNAP_DATAGRAM_MAX - 27, SNAP_BUF_LEN, -1},
        {SNAP_BUF_LEN, SNAP_BUF_LEN, -1},    {1000, 1027, -1},    {1000, 1028, 1028},
    };
    for (const auto &c : cases) {
        std::vector<u8> file = Pattern(c.u32File), reply(c.u32Cap + 64, 0xEE);
        s32 s32Total = SnapServer_BuildReply(file.data(), c.u32File, reply.data(), c.u32Cap);
        EXPECT_EQ(c.s32Total, s32Total) << c.u32File << " in " << c.u32Cap;
        EXPECT_EQ(0xEE, reply[c.u32Cap]) << "written past the buffer";
        if (s32Total < 0)
            continue;
        EXPECT_EQ(SNAP_MAGIC, GetU32(&reply[0]));
        EXPECT_EQ((u32)SNAP_ENC_HEAD_LEN, GetU32(&reply[4]));
        EXPECT_EQ((u32)s32Total, GetU32(&reply[8]));
        reply.resize(s32Total);
        EXPECT_EQ(file, Reassemble(reply));
    }
}

TEST(SnapCapTest, PerAddressAndInAllPerWindow)
{
    SnapCap_S stCap = {};
    const s64 s64T = 50000;
    const u32 u32A = 0x0100007F, u32B = 0x0200007F;
    for (u32 i = 0; i < SNAP_CAP_PER_ADDR; i++)
        EXPECT_TRUE(SnapCap_Take(&stCap, u32A, s64T + i)) << i;
    EXPECT_FALSE(SnapCap_Take(&stCap, u32A, s64T + SNAP_CAP_WINDOW_MS - 1));
    EXPECT_TRUE(SnapCap_Take(&stCap, u32B, s64T + SNAP_CAP_WINDOW_MS - 1)) << "another address";
    EXPECT_TRUE(SnapCap_Take(&stCap, u32A, s64T + SNAP_CAP_WINDOW_MS)) << "the next window";

    // Many addresses: the total holds, and those refused take no entry.
    const s64 s64T2 = s64T + 10 * SNAP_CAP_WINDOW_MS;
    for (u32 i = 0; i < SNAP_CAP_TOTAL; i++)
        EXPECT_TRUE(SnapCap_Take(&stCap, 0x0A000000 + i, s64T2)) << i;
    for (u32 i = 0; i < 10000; i++)
        EXPECT_FALSE(SnapCap_Take(&stCap, 0x0B000000 + i, s64T2 + 1)) << i;
    EXPECT_FALSE(SnapCap_Take(&stCap, 0x0A000000, s64T2 + 2));
    EXPECT_EQ((u32)SNAP_CAP_TOTAL, stCap.u32Addrs);
    EXPECT_TRUE(SnapCap_Take(&stCap, 0x0B000000, s64T2 + SNAP_CAP_WINDOW_MS));
}

struct SnapServerTest : public testing::Test {
    std::mutex mutex;
    std::atomic<s32> bFile{1};
    int s32Fd = -1;

    void SetUp() override
    {
        unlink(SNAP_TEST_FILE);
        SnapServerAttr_S stAttr = {SNAP_TEST_FILE, &mutex, &bFile, SNAP_TEST_PORT};
        ASSERT_EQ(0, MAIN_UDPServer_Start(&stAttr));
        s32Fd = socket(AF_INET, SOCK_DGRAM, 0);
        struct timeval stTv = {0, 300000};
        setsockopt(s32Fd, SOL_SOCKET, SO_RCVTIMEO, &stTv, sizeof(stTv));
    }
    void TearDown() override
    {
        close(s32Fd);
        MAIN_UDPServer_Stop();
        unlink(SNAP_TEST_FILE);
    }
    // Sends the datagram and returns the reply, empty when none came.
    std::vector<u8> Ask(const std::string &req = SNAP_REQUEST)
    {
        struct sockaddr_in stTo = {};
        stTo.sin_family = AF_INET;
        stTo.sin_port = htons(SNAP_TEST_PORT);
        stTo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        EXPECT_EQ((ssize_t)req.size(), sendto(s32Fd, req.data(), req.size(), 0, (sockaddr *)&stTo, sizeof(stTo)));
        std::vector<u8> reply(SNAP_DATAGRAM_MAX);
        ssize_t n = recv(s32Fd, reply.data(), reply.size(), 0);
        reply.resize(n > 0 ? n : 0);
        return reply;
    }
    // Replies that come until none did for 300 ms.
    u32 Drain()
    {
        std::vector<u8> reply(SNAP_DATAGRAM_MAX);
        u32 u32Got = 0;
        while (recv(s32Fd, reply.data(), reply.size(), 0) > 0)
            u32Got++;
        return u32Got;
    }
    void Picture(size_t sizeLen, u8 u8Seed = 0)
    {
        std::vector<u8> v = Pattern(sizeLen);
        v[0] = u8Seed;
        File_Write(SNAP_TEST_FILE, std::string(v.begin(), v.end()));
    }
};

// Also after a restart on the same port; a second reply is the same bytes.
TEST_F(SnapServerTest, AnswersTheRequestWithTheFileAfterARestart)
{
    MAIN_UDPServer_Stop();
    SnapServerAttr_S stAttr = {SNAP_TEST_FILE, &mutex, &bFile, SNAP_TEST_PORT};
    ASSERT_EQ(0, MAIN_UDPServer_Start(&stAttr));
    Picture(5000);
    std::vector<u8> reply = Ask("please ss get snap!");
    ASSERT_EQ(5028u, reply.size());
    std::vector<u8> file = Reassemble(reply);
    EXPECT_EQ(File_Read(SNAP_TEST_FILE), std::string(file.begin(), file.end()));
    EXPECT_EQ(reply, Ask());
}

// Size limits of the reply itself are left to SnapReplyTest.
TEST_F(SnapServerTest, AnswersNothingItCannotServeWhole)
{
    EXPECT_TRUE(Ask().empty()) << "no file";
    Picture(SNAP_BUF_LEN + 100);
    EXPECT_TRUE(Ask().empty()) << "larger than the buffer";
    Picture(300);
    EXPECT_TRUE(Ask("ss get snap").empty()) << "not the request";
    // A request cut at the buffer's end is not one.
    EXPECT_TRUE(Ask(std::string(SNAP_REQUEST_LEN - 6, 'x') + SNAP_REQUEST).empty());
    EXPECT_EQ(328u, Ask().size()) << "still serving";
}

// While the writer holds the lock: the last reply while a picture is in
// place, nothing once the loop dropped it, and the old reply stays forgotten.
TEST_F(SnapServerTest, BusyWriterGetsTheLastReplyOrNothing)
{
    Picture(700, 1);
    std::vector<u8> first = Ask();
    ASSERT_EQ(728u, first.size());
    {
        std::lock_guard<std::mutex> lock(mutex);
        Picture(900, 2);
        EXPECT_EQ(first, Ask());
        EXPECT_EQ(first, Ask());
        bFile = 0;
        EXPECT_TRUE(Ask().empty());
        bFile = 1;
        EXPECT_TRUE(Ask().empty());
    }
    std::vector<u8> now = Reassemble(Ask());
    ASSERT_EQ(900u, now.size());
    EXPECT_EQ(2, now[0]);
}

// A burst from many ports of one address gets the address's share of a
// window; the drops are counted in a limited line. (Later windows: the
// caps' own test.)
TEST_F(SnapServerTest, RepliesToABurstAreCapped)
{
    Picture(300);
    struct sockaddr_in stTo = {};
    stTo.sin_family = AF_INET;
    stTo.sin_port = htons(SNAP_TEST_PORT);
    stTo.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::vector<int> vecFds;
    for (u32 i = 0; i < 5; i++)
        vecFds.push_back(socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0));
    testing::internal::CaptureStdout();
    for (u32 i = 0; i < 10 * SNAP_CAP_PER_ADDR; i++)
        ASSERT_EQ(12, sendto(vecFds[i % vecFds.size()], SNAP_REQUEST, 12, 0, (sockaddr *)&stTo, sizeof(stTo)));
    EXPECT_EQ(0u, Drain()) << "the replies go to the ports that asked";
    std::string out = testing::internal::GetCapturedStdout();
    u32 u32Got = 0;
    std::vector<u8> reply(SNAP_DATAGRAM_MAX);
    for (int s32Client : vecFds) {
        while (recv(s32Client, reply.data(), reply.size(), 0) > 0)
            u32Got++;
        close(s32Client);
    }
    // The burst may straddle two windows.
    EXPECT_GE(u32Got, (u32)SNAP_CAP_PER_ADDR);
    EXPECT_LE(u32Got, 2u * SNAP_CAP_PER_ADDR);
    EXPECT_EQ(1, std::count(out.begin(), out.end(), '\n')) << out;
    EXPECT_NE(std::string::npos, out.find("request from 127.0.0.1 over the reply cap, 1 dropped so far")) << out;
}

}  // namespace
