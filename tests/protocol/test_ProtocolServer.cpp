#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "protocol/ProtocolMsg.h"
#include "protocol/ProtocolServer.h"
#include "tests/protocol/FakeBox.h"

#define TEST_GROUP "239.255.255.250"
#define TEST_PORT  8002

// A server on the loopback interface of the test's own namespace, and a
// client with a socket of its own and one on the group's reply port.
struct ProtocolServerTest : public testing::Test {
    FakeBox_S stBox;
    ProtocolServer_S *pstServer = nullptr;
    int s32Client = -1, s32Group = -1;

    void SetUp() override
    {
        ASSERT_EQ(0, system("ip link set lo multicast on"));
        ASSERT_EQ(0, protocol_server_init(&pstServer, "lo", TEST_GROUP, TEST_PORT));
        EXPECT_STREQ("127.0.0.1", pstServer->azHostIP);
        protocol_server_attach(pstServer, FakeBox_Table(), &stBox);
        s32Client = socket(AF_INET, SOCK_DGRAM, 0);
        struct ip_mreqn stReq{};
        stReq.imr_ifindex = (int)if_nametoindex("lo");
        inet_pton(AF_INET, TEST_GROUP, &stReq.imr_multiaddr);
        setsockopt(s32Client, IPPROTO_IP, IP_MULTICAST_IF, &stReq, sizeof(stReq));
        s32Group = socket(AF_INET, SOCK_DGRAM, 0);
        int s32On = 1;
        setsockopt(s32Group, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On));
        struct sockaddr_in stAddr{};
        stAddr.sin_family = AF_INET;
        stAddr.sin_port = htons(TEST_PORT + 1);
        ASSERT_EQ(0, bind(s32Group, (struct sockaddr *)&stAddr, sizeof(stAddr)));
        ASSERT_EQ(0, setsockopt(s32Group, IPPROTO_IP, IP_ADD_MEMBERSHIP, &stReq, sizeof(stReq)));
    }

    void TearDown() override
    {
        if (pstServer != nullptr) {
            protocol_server_stop(pstServer);
            EXPECT_EQ(0, protocol_server_deinit(pstServer));
        }
        close(s32Client);
        close(s32Group);
    }

    void Send(const std::string &data)
    {
        struct sockaddr_in stTo{};
        stTo.sin_family = AF_INET;
        stTo.sin_port = htons(TEST_PORT);
        inet_pton(AF_INET, TEST_GROUP, &stTo.sin_addr);
        ASSERT_EQ((ssize_t)data.size(),
                  sendto(s32Client, data.data(), data.size(), 0, (struct sockaddr *)&stTo, sizeof(stTo)));
    }

    void SendRequest(const std::string &cmd)
    {
        std::string json = "{\"request\":{\"cmd\":\"" + cmd +
                           "\",\"hostid\":\"h\",\"seq\":3,\"device\":[{\"id\":\"All\"}]}}";
        char out[PROTOCOL_BUF_LEN];
        s32 n = protocol_frame_encode(json.c_str(), out, sizeof(out));
        ASSERT_GT(n, 0);
        Send(std::string(out, (size_t)n));
    }

    // The reply's JSON text arriving on the client's socket or the group
    // port within 2 s, and where it came: "sender" or "group"; "" for none.
    std::string Reply(std::string *where)
    {
        struct pollfd astPfd[2] = {{s32Client, POLLIN, 0}, {s32Group, POLLIN, 0}};
        where->clear();
        if (poll(astPfd, 2, 2000) <= 0)
            return "";
        int s32Fd = (astPfd[0].revents & POLLIN) ? s32Client : s32Group;
        *where = s32Fd == s32Client ? "sender" : "group";
        char acData[PROTOCOL_BUF_LEN + 1], azText[PROTOCOL_BUF_LEN];
        ssize_t n = recv(s32Fd, acData, sizeof(acData), 0);
        if (n <= 0 || protocol_frame_decode(acData, (u32)n, azText, sizeof(azText)) < 0)
            return "";
        return azText;
    }
};

// Ready, running and stopped, as the calling order allows them.
TEST_F(ProtocolServerTest, LifeCycleFollowsItsStates) {
    EXPECT_EQ(-1, protocol_server_stop(pstServer));
    ASSERT_EQ(0, protocol_server_start(pstServer));
    EXPECT_EQ(0, protocol_server_start(pstServer));
    EXPECT_EQ(-1, protocol_server_deinit(pstServer));
    EXPECT_EQ(0, protocol_server_stop(pstServer));
    EXPECT_EQ(-1, pstServer->s32Sock);
    EXPECT_EQ(0, protocol_server_stop(pstServer));
    ASSERT_EQ(0, protocol_server_start(pstServer));
    SendRequest("config get id");
    std::string where;
    EXPECT_NE(std::string::npos, Reply(&where).find("\"DevId\""));
    EXPECT_EQ(0, protocol_server_detach(pstServer));
    ProtocolServerCallback_S stEmpty{};
    EXPECT_EQ(0, memcmp(&stEmpty, &pstServer->stCallback, sizeof(stEmpty)));
}

TEST(ProtocolServerInitTest, RefusesMissingParametersAndUnknownInterface) {
    ProtocolServer_S *pstServer = nullptr;
    EXPECT_EQ(-1, protocol_server_init(&pstServer, nullptr, TEST_GROUP, TEST_PORT));
    EXPECT_EQ(-1, protocol_server_init(&pstServer, "nosuch0", TEST_GROUP, TEST_PORT));
    EXPECT_EQ(nullptr, pstServer);
}

// Discovery goes to the group's reply port, other replies to the sender;
// commands without a reply send nothing.
TEST_F(ProtocolServerTest, RepliesGoWhereTheCommandSays) {
    ASSERT_EQ(0, protocol_server_start(pstServer));
    std::string where;
    SendRequest("config get device");
    std::string text = Reply(&where);
    EXPECT_EQ("group", where);
    EXPECT_NE(std::string::npos, text.find("\"device\":\t{"));
    SendRequest("config get tx params");
    text = Reply(&where);
    EXPECT_EQ("sender", where);
    EXPECT_NE(std::string::npos, text.find("\"txparams\""));
    SendRequest("config set rx params");
    EXPECT_EQ("", Reply(&where));
}

// Datagrams that are no request, cut, or not base64 are dropped and the
// server goes on answering.
TEST_F(ProtocolServerTest, HostileDatagramsLeaveTheServerAnswering) {
    ASSERT_EQ(0, protocol_server_start(pstServer));
    std::string head = g_u8Base64Head_JsonUnformat;
    const std::string hostile[] = {
        "", "x", head, head + std::string(1484, 'A'), head + std::string(8984, '/'),
        head + std::string(200, '\0'), head + "!!!!****", std::string(1500, 'e'),
    };
    for (const auto &data : hostile) Send(data);
    std::string where;
    SendRequest("config get id");
    std::string text = Reply(&where);
    EXPECT_EQ("sender", where);
    EXPECT_NE(std::string::npos, text.find("\"seq\":\t3"));
}
