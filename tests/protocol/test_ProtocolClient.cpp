#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <chrono>
#include <cjson/cJSON.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

#include "protocol/Base64.h"
#include "protocol/ProtocolClient.h"
#include "protocol/ProtocolMsg.h"

#define TEST_GROUP "239.255.255.250"
#define TEST_PORT  8002

static char s_azHostId[32] = "0a1b2c3d4e5f";

static s32 Test_HostId(char *pszHostId)
{
    snprintf(pszHostId, 32, "%s", s_azHostId);
    return 0;
}

// A box on the group: takes the client's requests and answers as told.
struct FakePeer_S {
    s32 s32Sock = -1;
    sockaddr_in stFrom{};

    FakePeer_S()
    {
        s32Sock = socket(AF_INET, SOCK_DGRAM, 0);
        s32 s32On = 1;
        setsockopt(s32Sock, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On));
        sockaddr_in stAddr{};
        stAddr.sin_family = AF_INET;
        stAddr.sin_port = htons(TEST_PORT);
        EXPECT_EQ(0, bind(s32Sock, (sockaddr *)&stAddr, sizeof(stAddr)));
        ip_mreq stReq{};
        inet_pton(AF_INET, TEST_GROUP, &stReq.imr_multiaddr);
        inet_pton(AF_INET, "127.0.0.1", &stReq.imr_interface);
        EXPECT_EQ(0, setsockopt(s32Sock, IPPROTO_IP, IP_ADD_MEMBERSHIP, &stReq, sizeof(stReq)));
    }
    ~FakePeer_S() { close(s32Sock); }

    // The next request's text, "" after 2 s without one.
    std::string Take()
    {
        pollfd stPfd = {s32Sock, POLLIN, 0};
        if (poll(&stPfd, 1, 2000) != 1)
            return "";
        char acData[PROTOCOL_BUF_LEN + 1] = {}, azText[PROTOCOL_BUF_LEN] = {};
        socklen_t len = sizeof(stFrom);
        ssize_t n = recvfrom(s32Sock, acData, PROTOCOL_BUF_LEN, 0, (sockaddr *)&stFrom, &len);
        return n > 0 && protocol_frame_decode(acData, (u32)n, azText, sizeof(azText)) >= 0 ? azText : "";
    }

    // Framed as a box frames it, also past what a request may hold.
    void Reply(const std::string &text)
    {
        std::string padded = text + std::string(4 - text.size() % 4, '\0');
        std::string data(padded.size() / 3 * 4 + 4, '\0');
        s32 s32Len = base64_encode_qelto(&data[0], padded.data(), (u32)padded.size());
        sendto(s32Sock, data.data(), (size_t)s32Len, 0, (sockaddr *)&stFrom, sizeof(stFrom));
    }
};

// The reply a receiver gives to a request text; tweak changes its head.
static std::string Answer(const std::string &request, const std::string &body,
                          const std::function<void(ProtocolReplyHead_S &)> &tweak = nullptr)
{
    ProtocolRequestHead_S stReq{};
    EXPECT_EQ(0, request_head_parse(&stReq, request.c_str()));
    ProtocolReplyHead_S stReply{};
    snprintf(stReply.azCmd, sizeof(stReply.azCmd), "%s", stReq.azCmd);
    snprintf(stReply.azStatus, sizeof(stReply.azStatus), "success");
    snprintf(stReply.azHostId, sizeof(stReply.azHostId), "%s", stReq.azHostId);
    snprintf(stReply.azDeviceId, sizeof(stReply.azDeviceId), "112233445566");
    stReply.s32Seq = stReq.s32Seq;
    request_head_free(&stReq);
    if (tweak)
        tweak(stReply);
    cJSON *pstRoot = cJSON_CreateObject();
    cJSON_AddItemToObject(pstRoot, "ack", reponse_head_createjson(&stReply));
    char *psz = cJSON_PrintUnformatted(pstRoot);
    std::string text = std::string(psz, strlen(psz) - 1) + (body.empty() ? "" : "," + body) + "}";
    cJSON_free(psz);
    cJSON_Delete(pstRoot);
    return text;
}

struct ClientTest : public testing::Test {
    ProtocolClient_S *pstClient = nullptr;
    FakePeer_S stPeer;
    std::thread peer;

    static void SetUpTestSuite()
    {
        ASSERT_EQ(0, system("ip link set lo multicast on && ip route replace 224.0.0.0/4 dev lo"));
    }
    void SetUp() override
    {
        snprintf(s_azHostId, sizeof(s_azHostId), "0a1b2c3d4e5f");
        ASSERT_EQ(0, Protocol_client_init(&pstClient, "lo", "PZR-T4900", Test_HostId, TEST_GROUP, TEST_PORT));
    }
    void TearDown() override
    {
        if (peer.joinable())
            peer.join();
        Protocol_client_deInit(pstClient);
    }
    // The peer answers the next request with what answer() makes of it.
    void Serve(const std::function<std::string(const std::string &)> &answer)
    {
        peer = std::thread([this, answer] {
            std::string request = stPeer.Take();
            std::string reply = request.empty() ? "" : answer(request);
            if (!reply.empty())
                stPeer.Reply(reply);
        });
    }
    // The request text that send() put on the group, left unanswered.
    std::string Sent(const std::function<s32()> &send, s32 s32Expect = 0)
    {
        std::string seen;
        Serve([&](const std::string &r) { seen = r; return std::string(); });
        EXPECT_EQ(s32Expect, send());
        peer.join();
        return seen;
    }
};

static const char *const EDID_BODY = "\"rxedid\":{\"edid\":\"AP///////wA=\"}";

// The receiver's EDID text comes back, also in a reply longer than a
// request may be; the request named the receiver by its id.
TEST_F(ClientTest, EdidGetTakesTheMatchingReply) {
    for (size_t pad : {size_t(0), size_t(3000)}) {
        std::string seen;
        std::string body = std::string(EDID_BODY) + ",\"note\":\"" + std::string(pad, 'n') + "\"";
        Serve([&](const std::string &request) { seen = request; return Answer(request, body); });
        char azEdid[512] = {};
        ASSERT_EQ(0, Protocol_client_getDecodeEdid(pstClient, 5, 1000, azEdid, sizeof(azEdid))) << pad;
        peer.join();
        EXPECT_STREQ("AP///////wA=", azEdid);
        ProtocolRequestHead_S stHead{};
        ASSERT_EQ(0, request_head_parse(&stHead, seen.c_str()));
        EXPECT_STREQ("edid get", stHead.azCmd);
        EXPECT_STREQ("0a1b2c3d4e5f", stHead.azHostId);
        ASSERT_EQ(1, stHead.s32DevCount);
        EXPECT_STREQ("5", stHead.pstDevice[0].azId);
        request_head_free(&stHead);
    }
}

// Replies that are not the awaited one never end the wait early, and the
// wait still ends at its deadline; a refusal or a malformed body fails.
TEST_F(ClientTest, OtherRepliesAreNotTaken) {
    typedef std::function<void(ProtocolReplyHead_S &)> Tweak_F;
    const struct { const char *what; std::string body; Tweak_F tweak; } cases[] = {
        {"other seq", EDID_BODY, [](ProtocolReplyHead_S &h) { h.s32Seq++; }},
        {"other host", EDID_BODY, [](ProtocolReplyHead_S &h) { h.azHostId[0] = 'f'; }},
        {"discovery", EDID_BODY, [](ProtocolReplyHead_S &h) { strcpy(h.azCmd, "config get device"); }},
        {"failure", EDID_BODY, [](ProtocolReplyHead_S &h) { strcpy(h.azStatus, "failure"); }},
        {"other cmd", EDID_BODY, [](ProtocolReplyHead_S &h) { strcpy(h.azCmd, "edid set"); }},
        {"no rxedid", "\"edid\":\"AAAA\"", nullptr},
        {"edid too long", "\"rxedid\":{\"edid\":\"" + std::string(600, 'A') + "\"}", nullptr},
        {"not JSON", "", nullptr},
    };
    for (const auto &c : cases) {
        Serve([&](const std::string &r) { return c.body.empty() ? std::string("{\"ack\":") : Answer(r, c.body, c.tweak); });
        char azEdid[512] = {};
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(-1, Protocol_client_getDecodeEdid(pstClient, 5, 300, azEdid, sizeof(azEdid))) << c.what;
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
        EXPECT_LT(ms.count(), 1500) << c.what;
        EXPECT_STREQ("", azEdid) << c.what;
        peer.join();
    }
}

// A reply that comes after its request gave up does not answer the next one.
TEST_F(ClientTest, LateReplyDoesNotAnswerTheNextRequest) {
    char azEdid[512] = {};
    std::string first = Sent([&] { return Protocol_client_getDecodeEdid(pstClient, 5, 200, azEdid, sizeof(azEdid)); }, -1);
    Serve([&](const std::string &) { return Answer(first, EDID_BODY); });   // answers the old one
    EXPECT_EQ(-1, Protocol_client_getDecodeEdid(pstClient, 5, 300, azEdid, sizeof(azEdid)));
}

// Every request takes the device id of the moment and the next number.
TEST_F(ClientTest, HostIdAndSequencePerRequest) {
    s32 s32Seq[2];
    for (s32 i = 0; i < 2; i++) {
        snprintf(s_azHostId, sizeof(s_azHostId), i == 0 ? "aaaaaaaaaaaa" : "bbbbbbbbbbbb");
        std::string seen = Sent([&] { return i == 0 ? Protocol_client_setRxScale(pstClient, 3, 1)
                                                    : Protocol_client_copyEdid(pstClient, 3, 9); });
        ProtocolRequestHead_S stHead{};
        ASSERT_EQ(0, request_head_parse(&stHead, seen.c_str()));
        EXPECT_STREQ(s_azHostId, stHead.azHostId);
        s32Seq[i] = stHead.s32Seq;
        request_head_free(&stHead);
    }
    EXPECT_EQ(s32Seq[0] + 1, s32Seq[1]);
}

// Each request without a wait: its command, where its value stands and
// whether it is text or a number.
TEST_F(ClientTest, RequestsWithoutWaitCarryTheirBody) {
    typedef s32 Send_F(ProtocolClient_S *, s32, s32);
    const struct { Send_F *pfn; const char *cmd, *object, *member; bool text; } cases[] = {
        {Protocol_client_matrix_setDecodeId, "matrix set", "rxsource", "txid", true},
        {Protocol_client_matrix_setDecodeId_v3, "matrix set v3", "rxsource", "txid", true},
        {Protocol_client_serial_matrix_setDecodeId, "serial matrix set", "serialsource", "txid", true},
        {Protocol_client_serial_matrix_setDecodeId_v2, "serial matrix set v2", "serialsource", "txid", true},
        {Protocol_client_ir_matrix_setDecodeId, "ir matrix set", "irsource", "txid", true},
        {Protocol_client_ir_matrix_setDecodeId_v2, "ir matrix set v2", "irsource", "txid", true},
        {Protocol_client_usb_matrix_setDecodeId, "usb matrix set", "usbsource", "txid", true},
        {Protocol_client_usb_matrix_setDecodeId_v2, "usb matrix set v2", "usbsource", "txid", true},
        {Protocol_client_setEncodeEdidIndex, "edid index set", "txedid", "edidindex", false},
        {Protocol_client_setRxPermission, "config set rx permission", nullptr, "permission", false},
        {Protocol_client_setRxScale, "config set rx scale", nullptr, "scale", false},
        {Protocol_client_setRxId, "config set rxid", nullptr, "id", false},
        {Protocol_client_copyEdid, "edid copy", "txedid", "rxid", false},
        {Protocol_client_setTxId, "config set txid", nullptr, "id", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cmd);
        cJSON *pstRoot = cJSON_Parse(Sent([&] { return c.pfn(pstClient, 42, 17); }).c_str());
        ASSERT_NE(nullptr, pstRoot) << c.cmd;
        const cJSON *pstReq = cJSON_GetObjectItem(pstRoot, "request");
        EXPECT_STREQ(c.cmd, cJSON_GetObjectItem(pstReq, "cmd")->valuestring);
        EXPECT_STREQ("42", cJSON_GetObjectItem(cJSON_GetArrayItem(cJSON_GetObjectItem(pstReq, "device"), 0),
                                               "id")->valuestring);
        const cJSON *pstBody = c.object ? cJSON_GetObjectItem(pstRoot, c.object) : pstRoot;
        const cJSON *pstValue = cJSON_GetObjectItem(pstBody, c.member);
        ASSERT_NE(nullptr, pstValue) << c.cmd;
        if (c.text)
            EXPECT_STREQ("17", pstValue->valuestring) << c.cmd;
        else
            EXPECT_EQ(17, pstValue->valueint) << c.cmd;
        cJSON_Delete(pstRoot);
    }
}

// The stream list of a reply, bounded by its 16 entries.
TEST_F(ClientTest, StreamGetParsesTheList) {
    auto entry = [](s32 i) {
        return "{\"status\":\"" + std::string(i == 0 ? "true" : "false") +
               "\",\"id\":3,\"width\":\"1920\",\"height\":\"1080\",\"vsync\":\"12\",\"url\":\"rtsp://x/" +
               std::to_string(i) + "\"}";
    };
    Serve([&](const std::string &r) { return Answer(r, "\"stream\":[" + entry(0) + "," + entry(1) + "]"); });
    ProtocolClientStreamList_S stList;
    ASSERT_EQ(0, Protocol_client_getstream(pstClient, "112233445566", 1000, &stList));
    peer.join();
    ASSERT_EQ(2, stList.s32Count);
    EXPECT_EQ(1, stList.astStream[0].bStatus);
    EXPECT_EQ(0, stList.astStream[1].bStatus);
    EXPECT_EQ(1080, stList.astStream[1].s32Height);
    EXPECT_STREQ("rtsp://x/1", stList.astStream[1].azUrl);

    std::string many = "{}";
    for (s32 i = 0; i < 16; i++)
        many += ",{}";
    Serve([&](const std::string &r) { return Answer(r, "\"stream\":[" + many + "]"); });
    EXPECT_EQ(-1, Protocol_client_getstream(pstClient, "112233445566", 1000, &stList));
    peer.join();
    EXPECT_EQ(0, stList.s32Count);

    // A size past 32 bits is refused, not taken as its low 32 bits; one that
    // is no decimal text, or none, is not taken as its leading digits or 0.
    for (const char *width : {"\"4294969216\"", "\"1920px\"", "\"+1920\"", "\"\"", "1920", "null"}) {
        std::string wrong = entry(0);
        wrong.replace(wrong.find("\"1920\""), 6, width);
        Serve([&](const std::string &r) { return Answer(r, "\"stream\":[" + wrong + "]"); });
        EXPECT_EQ(-1, Protocol_client_getstream(pstClient, "112233445566", 1000, &stList)) << width;
        peer.join();
        EXPECT_EQ(0, stList.s32Count) << width;
    }
    std::string none = entry(0);
    none.erase(none.find("\"width\""), 15);
    Serve([&](const std::string &r) { return Answer(r, "\"stream\":[" + none + "]"); });
    EXPECT_EQ(-1, Protocol_client_getstream(pstClient, "112233445566", 1000, &stList));
    EXPECT_EQ(0, stList.s32Count);
}

// The EDID index request is traced by its markers, the last two only once
// it was sent.
TEST_F(ClientTest, EdidIndexMarkers) {
    testing::internal::CaptureStdout();
    Sent([&] { return Protocol_client_setEncodeEdidIndex(pstClient, 4, 2); });
    std::string log = testing::internal::GetCapturedStdout();
    size_t pos = 0;
    for (const char *marker : {"]: 1\n", "]: 2\n", "]: 3\n", "]: 4\n", "]: 5\n"}) {
        pos = log.find(marker, pos);
        EXPECT_NE(std::string::npos, pos) << marker;
    }
    snprintf(pstClient->azGroup, sizeof(pstClient->azGroup), "not a group");
    testing::internal::CaptureStdout();
    EXPECT_EQ(-1, Protocol_client_setEncodeEdidIndex(pstClient, 4, 2));
    log = testing::internal::GetCapturedStdout();
    EXPECT_NE(std::string::npos, log.find("]: 3\n"));
    EXPECT_EQ(std::string::npos, log.find("]: 4\n"));
}

// A socket joins the group with loop-back off and leaves it again; joining
// twice or leaving when not in it fails, and a closed socket is gone.
TEST_F(ClientTest, MulticastJoinLeaveAndClose) {
    s32 s32Sock = socket(AF_INET, SOCK_DGRAM, 0);
    ASSERT_GE(s32Sock, 0);
    EXPECT_EQ(-1, disabledMulticast(pstClient, s32Sock));
    ASSERT_EQ(0, enabledMulticast(pstClient, s32Sock));
    u8 u8Loop = 1;
    socklen_t len = sizeof(u8Loop);
    ASSERT_EQ(0, getsockopt(s32Sock, IPPROTO_IP, IP_MULTICAST_LOOP, &u8Loop, &len));
    EXPECT_EQ(0, u8Loop);
    EXPECT_EQ(-1, enabledMulticast(pstClient, s32Sock));
    EXPECT_EQ(0, disabledMulticast(pstClient, s32Sock));
    EXPECT_EQ(-1, disabledMulticast(pstClient, s32Sock));
    EXPECT_EQ(0, closeSocket(s32Sock));
    EXPECT_EQ(-1, fcntl(s32Sock, F_GETFD));
    EXPECT_EQ(EBADF, errno);
    EXPECT_EQ(-1, closeSocket(-1));
}

// A client that cannot be made is not handed out; requests on none fail.
TEST(ClientInitTest, NoClientWithoutInterfaceOrPort) {
    ProtocolClient_S *pstClient = nullptr;
    EXPECT_EQ(-1, Protocol_client_init(&pstClient, "nosuch0", "PZR-T4900", Test_HostId, TEST_GROUP, TEST_PORT));
    EXPECT_EQ(nullptr, pstClient);
    EXPECT_EQ(-1, Protocol_client_init(&pstClient, "lo", "PZR-T4900", nullptr, TEST_GROUP, TEST_PORT));
    EXPECT_EQ(-1, Protocol_client_setTxId(nullptr, 1, 2));
    char azEdid[8];
    EXPECT_EQ(-1, Protocol_client_getDecodeEdid(nullptr, 1, 10, azEdid, sizeof(azEdid)));
}
