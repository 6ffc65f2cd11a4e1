#include "protocol/ProtocolClient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <new>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cjson/cJSON.h>

#include "core/Debug.h"
#include "protocol/JsonUtil.h"
#include "protocol/ProtocolMsg.h"
#include "protocol/ProtocolServer.h"

#define CLIENT_STATE_READY   2
#define CLIENT_STATE_STOPPED 4

// The one waiting exchange of the process. g_ConsoleMsgSendMutex is held
// by a waiting request from before its send until its answer or time-out;
// g_ConsoleMsgMutex guards the words below and goes with g_ConsoleMsgCond.
static std::mutex g_ConsoleMsgSendMutex;
static std::mutex g_ConsoleMsgMutex;
static std::condition_variable g_ConsoleMsgCond;
static s32 s_bConsoleWaiting;                        // an exchange awaits its reply
static s32 g_s32ConsoleCmdFlag;                      // its sequence number
static char s_azConsoleHostId[PROTOCOL_ID_LEN];      // its "hostid"
static s32 s_bConsoleReceived;                       // g_azCmdResult holds its reply
static char g_azCmdResult[PROTOCOL_CLIENT_RESULT_LEN];

static DebugLimit_S s_stRecvLimit;   // replies of other boxes cause these

// One request sent without waiting: its command, where its value stands
// and in which form.
struct ClientRequest_S {
    const char *pszCmd;
    const char *pszObject;   // body object holding the member; null: the member is at the root
    const char *pszMember;
    s32 bText;               // the value as decimal text, else as a number
    s32 bRefreshIp;          // the interface address is read again first
};

enum ClientRequest_E {
    CLIENT_MATRIX, CLIENT_MATRIX_V3, CLIENT_SERIAL_MATRIX, CLIENT_SERIAL_MATRIX_V2,
    CLIENT_IR_MATRIX, CLIENT_IR_MATRIX_V2, CLIENT_USB_MATRIX, CLIENT_USB_MATRIX_V2,
    CLIENT_EDID_INDEX, CLIENT_RX_PERMISSION, CLIENT_RX_SCALE, CLIENT_RX_ID, CLIENT_EDID_COPY,
    CLIENT_TX_ID,
};

static const ClientRequest_S s_astRequest[] = {
    {"matrix set", "rxsource", "txid", 1, 1},
    {"matrix set v3", "rxsource", "txid", 1, 1},
    {"serial matrix set", "serialsource", "txid", 1, 1},
    {"serial matrix set v2", "serialsource", "txid", 1, 1},
    {"ir matrix set", "irsource", "txid", 1, 1},
    {"ir matrix set v2", "irsource", "txid", 1, 1},
    {"usb matrix set", "usbsource", "txid", 1, 1},
    {"usb matrix set v2", "usbsource", "txid", 1, 1},
    {"edid index set", "txedid", "edidindex", 0, 0},
    {"config set rx permission", nullptr, "permission", 0, 0},
    {"config set rx scale", nullptr, "scale", 0, 0},
    {"config set rxid", nullptr, "id", 0, 0},
    {"edid copy", "txedid", "rxid", 0, 0},
    {"config set txid", nullptr, "id", 0, 0},
};
static_assert(ARRAY_SIZE(s_astRequest) == CLIENT_TX_ID + 1, "one row per request");

static s32 Client_OpenSocket(ProtocolClient_S *pstClient)
{
    s32 s32Sock = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s32Sock < 0) {
        perror("socket()");
        return -1;
    }
    s32 s32On = 1;
    if (setsockopt(s32Sock, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On)) < 0) {
        perror("Setting SO_REUSEADDR error");
        close(s32Sock);
        return -1;
    }
    struct sockaddr_in stAddr = {};
    stAddr.sin_family = AF_INET;
    stAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    stAddr.sin_port = htons((u16)(pstClient->u32Port + 1));
    if (bind(s32Sock, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        perror("bind()");
        close(s32Sock);
        return -2;
    }
    // Requests leave by the client's interface, whatever the routes say.
    struct ip_mreqn stIf = {};
    stIf.imr_ifindex = (s32)if_nametoindex(pstClient->azEthName);
    if (setsockopt(s32Sock, IPPROTO_IP, IP_MULTICAST_IF, &stIf, sizeof(stIf)) < 0) {
        Debug_Log("[%s]: %s: IP_MULTICAST_IF %s: %s\n", log_Time(), __func__, pstClient->azEthName,
                  strerror(errno));
        close(s32Sock);
        return -1;
    }
    return s32Sock;
}

// Joins (IP_ADD_MEMBERSHIP) or leaves (IP_DROP_MEMBERSHIP) the client's
// group on any interface; 0, or -1 with the failure logged.
static s32 Client_Membership(const ProtocolClient_S *pstClient, s32 s32Sock, s32 s32Opt,
                             const char *pszOpt)
{
    struct ip_mreq stReq = {};
    stReq.imr_interface.s_addr = htonl(INADDR_ANY);
    if (inet_pton(AF_INET, pstClient->azGroup, &stReq.imr_multiaddr) != 1 ||
        setsockopt(s32Sock, IPPROTO_IP, s32Opt, &stReq, sizeof(stReq)) < 0) {
        Debug_Log("[%s]: setsockopt %s error!!!\n", log_Time(), pszOpt);
        return -1;
    }
    return 0;
}

s32 enabledMulticast(ProtocolClient_S *pstClient, s32 s32Sock)
{
    u8 u8Loop = 0;
    if (setsockopt(s32Sock, IPPROTO_IP, IP_MULTICAST_LOOP, &u8Loop, sizeof(u8Loop)) < 0) {
        Debug_Log("[%s]: setsockopt broadcaset error!!!\n", log_Time());
        return -1;
    }
    return Client_Membership(pstClient, s32Sock, IP_ADD_MEMBERSHIP, "IP_ADD_MEMBERSHIP");
}

s32 disabledMulticast(ProtocolClient_S *pstClient, s32 s32Sock)
{
    return Client_Membership(pstClient, s32Sock, IP_DROP_MEMBERSHIP, "IP_DROP_MEMBERSHIP");
}

s32 closeSocket(s32 s32Sock)
{
    if (close(s32Sock) < 0) {
        Debug_Log("[%s]: %s: close: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    return 0;
}

static s32 Client_SendPacket(ProtocolClient_S *pstClient, const char *pszText)
{
    char acData[PROTOCOL_BUF_LEN];
    s32 s32Len = protocol_frame_encode(pszText, acData, sizeof(acData));
    if (s32Len < 0) {
        Debug_Log("[%s]: %s: request of %zu characters too long\n", log_Time(), __func__,
                  strlen(pszText));
        return -1;
    }
    struct sockaddr_in stAddr = {};
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons((u16)pstClient->u32Port);
    if (inet_pton(AF_INET, pstClient->azGroup, &stAddr.sin_addr) != 1 ||
        sendto(pstClient->s32Sock, acData, (size_t)s32Len, 0, (struct sockaddr *)&stAddr,
               sizeof(stAddr)) != s32Len) {
        perror("sendto()");
        return -1;
    }
    return 0;
}

// Hands a reply to the waiting exchange when it is the awaited one.
static void Client_OnReply(const char *pszText)
{
    if (strstr(pszText, "config get device") != nullptr)
        return;   // discovery replies of other boxes
    ProtocolReplyHead_S stHead = {};
    if (reponse_head_parse(&stHead, pszText) < 0)
        return;
    size_t sizeLen = strlen(pszText);
    std::lock_guard<std::mutex> lock(g_ConsoleMsgMutex);
    if (!s_bConsoleWaiting || stHead.s32Seq != g_s32ConsoleCmdFlag ||
        strcmp(stHead.azHostId, s_azConsoleHostId) != 0 || sizeLen >= sizeof(g_azCmdResult))
        return;
    memcpy(g_azCmdResult, pszText, sizeLen + 1);
    s_bConsoleReceived = 1;
    g_ConsoleMsgCond.notify_all();
}

static void *thread_multicast_recv(void *pvArg)
{
    ProtocolClient_S *pstClient = (ProtocolClient_S *)pvArg;
    char acData[PROTOCOL_CLIENT_RECV_LEN];
    char azText[PROTOCOL_CLIENT_RECV_LEN];

    while (MAIN_Thread_Running(&pstClient->stThread)) {
        struct pollfd astFd[2] = {{pstClient->s32Sock, POLLIN, 0},
                                  {MAIN_Thread_WakeFd(&pstClient->stThread), POLLIN, 0}};
        if (poll(astFd, 2, -1) < 0) {
            if (errno != EINTR)
                Debug_LogLimited(&s_stRecvLimit, "[%s]: %s: poll: %s\n", log_Time(), __func__,
                                 strerror(errno));
            continue;
        }
        if (astFd[1].revents != 0) {
            (void)MAIN_Thread_Wait(&pstClient->stThread, 0);   // takes the wake; a stop ends the loop
            continue;
        }
        if (astFd[0].revents == 0)
            continue;
        ssize_t n = recv(pstClient->s32Sock, acData, sizeof(acData), 0);
        if (n < 0) {
            if (errno != EINTR && errno != EAGAIN)
                Debug_LogLimited(&s_stRecvLimit, "[%s]: %s: recv: %s\n", log_Time(), __func__,
                                 strerror(errno));
            continue;
        }
        if (protocol_frame_decode(acData, (u32)n, azText, sizeof(azText)) < 0) {
            Debug_LogLimited(&s_stRecvLimit, "[%s]: %s: reply of %zd bytes dropped\n", log_Time(),
                             __func__, n);
            continue;
        }
        Client_OnReply(azText);
    }
    return nullptr;
}

// Takes the current device id as "hostid" into the client and into
// pszHostId; 0, or -1 (logged) for a client that cannot send.
static s32 Client_Begin(ProtocolClient_S *pstClient, bool bRefreshIp, char *pszHostId)
{
    if (pstClient == nullptr) {
        Debug_Log("[%s]: client state(%d) err!\n", log_Time(), -1);
        return -1;
    }
    if (pstClient->enState != CLIENT_STATE_READY && pstClient->enState != CLIENT_STATE_STOPPED) {
        Debug_Log("[%s]: client state(%d) err!\n", log_Time(), pstClient->enState);
        return -1;
    }
    char azId[PROTOCOL_ID_LEN] = {};
    if (pstClient->pfnHostId(azId) < 0) {
        Debug_Log("[%s]: %s: no device id\n", log_Time(), __func__);
        return -1;
    }
    azId[sizeof(azId) - 1] = '\0';
    std::lock_guard<std::mutex> lock(pstClient->stMutex);
    if (bRefreshIp && protocol_server_getHostIP(pstClient->azEthName, pstClient->azHostIP) < 0) {
        Debug_Log("[%s]: pEthName(%s) get ip err!\n", log_Time(), pstClient->azEthName);
        return -1;
    }
    memcpy(pstClient->azHostId, azId, sizeof(azId));
    memcpy(pszHostId, azId, sizeof(azId));
    return 0;
}

// A request object for one addressed device, its sequence number in
// pstHead; null (logged) when out of memory.
static cJSON *Client_Request(ProtocolRequestHead_S *pstHead, ProtocolRequestDevice_S *pstDev,
                             const char *pszCmd, const char *pszHostId, const char *pszDeviceId)
{
    snprintf(pstHead->azCmd, sizeof(pstHead->azCmd), "%s", pszCmd);
    snprintf(pstHead->azHostId, sizeof(pstHead->azHostId), "%s", pszHostId);
    snprintf(pstDev->azId, sizeof(pstDev->azId), "%s", pszDeviceId);
    pstHead->s32DevCount = 1;
    pstHead->pstDevice = pstDev;
    return request_head_json(pstHead);
}

// Sends the printed request and waits for the reply of the same sequence
// number and host id until the deadline; 0 with the reply text in
// pszReply, or -1. The deadline is on the monotonic clock.
static s32 Client_Exchange(ProtocolClient_S *pstClient, const ProtocolRequestHead_S *pstHead,
                           const char *pszText, s32 s32TimeoutMs, char *pszReply, u32 u32Size)
{
    std::lock_guard<std::mutex> sendLock(g_ConsoleMsgSendMutex);
    std::unique_lock<std::mutex> lock(g_ConsoleMsgMutex);
    s_bConsoleWaiting = 1;
    s_bConsoleReceived = 0;
    g_s32ConsoleCmdFlag = pstHead->s32Seq;
    memcpy(s_azConsoleHostId, pstHead->azHostId, sizeof(s_azConsoleHostId));
    s32 s32Ret = Client_SendPacket(pstClient, pszText);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(s32TimeoutMs > 0 ? s32TimeoutMs : 0);
    while (s32Ret == 0 && !s_bConsoleReceived)
        if (g_ConsoleMsgCond.wait_until(lock, deadline) == std::cv_status::timeout)
            break;
    size_t sizeLen = strlen(g_azCmdResult);
    if (s32Ret == 0 && s_bConsoleReceived && sizeLen < u32Size)
        memcpy(pszReply, g_azCmdResult, sizeLen + 1);
    else
        s32Ret = -1;
    s_bConsoleWaiting = 0;
    s_bConsoleReceived = 0;
    return s32Ret;
}

// A waiting request to one device: the reply's parsed tree, or null (the
// reason logged) when none came or it is not a success of this request.
static cJSON *Client_Ask(ProtocolClient_S *pstClient, const char *pszCmd, const char *pszDeviceId,
                         s32 s32TimeoutMs)
{
    char azHostId[PROTOCOL_ID_LEN];
    if (Client_Begin(pstClient, false, azHostId) < 0)
        return nullptr;
    ProtocolRequestHead_S stHead = {};
    ProtocolRequestDevice_S stDev = {};
    cJSON *pstReq = Client_Request(&stHead, &stDev, pszCmd, azHostId, pszDeviceId);
    char *pszText = pstReq != nullptr ? cJSON_Print(pstReq) : nullptr;
    cJSON_Delete(pstReq);
    if (pszText == nullptr) {
        Debug_Log("[%s]: %s: %s: out of memory\n", log_Time(), __func__, pszCmd);
        return nullptr;
    }
    char azReply[PROTOCOL_CLIENT_RESULT_LEN];
    s32 s32Ret = Client_Exchange(pstClient, &stHead, pszText, s32TimeoutMs, azReply, sizeof(azReply));
    cJSON_free(pszText);
    if (s32Ret < 0) {
        Debug_Log("[%s]: %s: no reply to \"%s\" from %s\n", log_Time(), __func__, pszCmd, pszDeviceId);
        return nullptr;
    }
    ProtocolReplyHead_S stReply = {};
    if (reponse_head_parse(&stReply, azReply) < 0 || strcmp(stReply.azCmd, stHead.azCmd) != 0 ||
        strcmp(stReply.azStatus, PROTOCOL_STATUS_OK) != 0 ||
        strcmp(stReply.azHostId, stHead.azHostId) != 0 || stReply.s32Seq != stHead.s32Seq) {
        Debug_Log("[%s]: %s: \"%s\" refused by %s\n", log_Time(), __func__, pszCmd, pszDeviceId);
        return nullptr;
    }
    return cJSON_Parse(azReply);
}

static s32 Client_Send(ProtocolClient_S *pstClient, ClientRequest_E enReq, s32 s32Id, s32 s32Value)
{
    const ClientRequest_S *pstReq = &s_astRequest[enReq];
    char azHostId[PROTOCOL_ID_LEN], azId[16], azValue[16];
    if (Client_Begin(pstClient, pstReq->bRefreshIp != 0, azHostId) < 0)
        return -1;
    snprintf(azId, sizeof(azId), "%d", s32Id);
    snprintf(azValue, sizeof(azValue), "%d", s32Value);
    ProtocolRequestHead_S stHead = {};
    ProtocolRequestDevice_S stDev = {};
    cJSON *pstRoot = Client_Request(&stHead, &stDev, pstReq->pszCmd, azHostId, azId);
    cJSON *pstBody = pstRoot;
    if (pstRoot != nullptr && pstReq->pszObject != nullptr)
        pstBody = cJSON_AddObjectToObject(pstRoot, pstReq->pszObject);
    bool bOk = pstBody != nullptr &&
               (pstReq->bText ? cJSON_AddStringToObject(pstBody, pstReq->pszMember, azValue)
                              : cJSON_AddNumberToObject(pstBody, pstReq->pszMember, s32Value)) != nullptr;
    char *pszText = bOk ? cJSON_Print(pstRoot) : nullptr;
    cJSON_Delete(pstRoot);
    if (pszText == nullptr) {
        Debug_Log("[%s]: %s: %s: out of memory\n", log_Time(), __func__, pstReq->pszCmd);
        return -1;
    }
    s32 s32Ret = Client_SendPacket(pstClient, pszText);
    cJSON_free(pszText);
    if (s32Ret < 0)
        Debug_Log("[%s]: pEthName(%s) sendPacket err!\n", log_Time(), pstClient->azEthName);
    return s32Ret;
}

static void Client_Free(ProtocolClient_S *pstClient)
{
    MAIN_Thread_Stop(&pstClient->stThread);
    if (pstClient->s32Sock >= 0)
        (void)closeSocket(pstClient->s32Sock);   // logged there
    delete pstClient;
}

s32 Protocol_client_init(ProtocolClient_S **ppstClient, const char *pszEthName, const char *pszName,
                         ProtocolClientHostIdProc *pfnHostId, const char *pszGroup, u32 u32Port)
{
    if (ppstClient == nullptr || pszEthName == nullptr || pszName == nullptr || pfnHostId == nullptr ||
        pszGroup == nullptr) {
        Debug_Log("[%s]: param err!\n", log_Time());
        return -1;
    }
    ProtocolClient_S *pstClient = new (std::nothrow) ProtocolClient_S();
    if (pstClient == nullptr) {
        Debug_Log("[%s]: client malloc err!\n", log_Time());
        return -1;
    }
    pstClient->s32Sock = -1;
    if (protocol_server_getHostIP(pszEthName, pstClient->azHostIP) < 0) {
        Debug_Log("[%s]: pEthName(%s) get ip err!\n", log_Time(), pszEthName);
        Client_Free(pstClient);
        return -1;
    }
    snprintf(pstClient->azName, sizeof(pstClient->azName), "%s", pszName);
    snprintf(pstClient->azEthName, sizeof(pstClient->azEthName), "%s", pszEthName);
    snprintf(pstClient->azGroup, sizeof(pstClient->azGroup), "%s", pszGroup);
    pstClient->pfnHostId = pfnHostId;
    pstClient->u32Port = u32Port;
    pstClient->enState = CLIENT_STATE_READY;
    pstClient->s32Sock = Client_OpenSocket(pstClient);
    if (pstClient->s32Sock <= 0) {
        Debug_Log("[%s]: pEthName(%s) get socket err!\n", log_Time(), pszEthName);
        pstClient->s32Sock = -1;
        Client_Free(pstClient);
        return -1;
    }
    if (MAIN_Thread_Start(&pstClient->stThread, thread_multicast_recv, pstClient, __func__) != 0) {
        Client_Free(pstClient);   // a client without its receive thread would never see a reply
        return -1;
    }
    *ppstClient = pstClient;
    return 0;
}

s32 Protocol_client_deInit(ProtocolClient_S *pstClient)
{
    if (pstClient != nullptr)
        Client_Free(pstClient);
    return 0;
}

s32 Protocol_client_getDecodeEdid(ProtocolClient_S *pstClient, s32 s32RxId, s32 s32TimeoutMs,
                                  char *pszEdid, u32 u32Size)
{
    char azId[16];
    snprintf(azId, sizeof(azId), "%d", s32RxId);
    cJSON *pstRoot = Client_Ask(pstClient, "edid get", azId, s32TimeoutMs);
    if (pstRoot == nullptr)
        return -1;
    s32 s32Ret = -1;
    const cJSON *pstObj = cJSON_GetObjectItem(pstRoot, "rxedid");
    const cJSON *pstEdid = cJSON_IsObject(pstObj) ? cJSON_GetObjectItem(pstObj, "edid") : nullptr;
    if (!cJSON_IsObject(pstObj))
        Debug_Log("[%s]: get rxedid err!\n", log_Time());
    else if (!cJSON_IsString(pstEdid) || strlen(pstEdid->valuestring) >= u32Size)
        Debug_Log("[%s]: get edid err!\n", log_Time());
    else {
        memcpy(pszEdid, pstEdid->valuestring, strlen(pstEdid->valuestring) + 1);
        s32Ret = 0;
    }
    cJSON_Delete(pstRoot);
    return s32Ret;
}

// One "stream" element into the entry; 0, or -1 (logged) without "status"
// or with a size that is no decimal text of an s32.
static s32 Client_ParseStream(const cJSON *pstItem, ProtocolClientStream_S *pstOut)
{
    static const struct { const char *pszName; size_t offset; } s_astNum[] = {
        {"width", offsetof(ProtocolClientStream_S, s32Width)},
        {"height", offsetof(ProtocolClientStream_S, s32Height)},
        {"vsync", offsetof(ProtocolClientStream_S, s32Vsync)},
    };
    const cJSON *pstStatus = cJSON_GetObjectItem(pstItem, "status");
    if (!cJSON_IsString(pstStatus)) {
        Debug_Log("[%s]: get status err!\n", log_Time());
        return -1;
    }
    pstOut->bStatus = strcmp(pstStatus->valuestring, "true") == 0;
    for (const auto &stNum : s_astNum) {
        const cJSON *pstNum = cJSON_GetObjectItem(pstItem, stNum.pszName);
        // A member missing or of another kind holds no decimal text either.
        const char *pszText = cJSON_IsString(pstNum) ? pstNum->valuestring : "";
        s64 s64Value;
        if (Json_DecInRange(pszText, stNum.pszName, INT32_MIN, INT32_MAX, &s64Value) < 0)
            return -1;
        *(s32 *)((char *)pstOut + stNum.offset) = (s32)s64Value;
    }
    const cJSON *pstUrl = cJSON_GetObjectItem(pstItem, "url");
    if (cJSON_IsString(pstUrl))
        snprintf(pstOut->azUrl, sizeof(pstOut->azUrl), "%s", pstUrl->valuestring);
    return 0;
}

s32 Protocol_client_getstream(ProtocolClient_S *pstClient, const char *pszDeviceId, s32 s32TimeoutMs,
                              ProtocolClientStreamList_S *pstOut)
{
    memset(pstOut, 0, sizeof(*pstOut));
    cJSON *pstRoot = Client_Ask(pstClient, "stream get", pszDeviceId, s32TimeoutMs);
    if (pstRoot == nullptr)
        return -1;
    s32 s32Ret = -1;
    const cJSON *pstArray = cJSON_GetObjectItem(pstRoot, "stream");
    s32 s32Count = cJSON_IsArray(pstArray) ? cJSON_GetArraySize(pstArray) : -1;
    if (!cJSON_IsArray(pstArray))
        Debug_Log("[%s]: get device err!\n", log_Time());
    else if (s32Count > PROTOCOL_CLIENT_STREAM_MAX)
        Debug_Log("[%s]: conut err!\n", log_Time());
    else {
        s32Ret = 0;
        for (s32 i = 0; s32Ret == 0 && i < s32Count; i++) {
            const cJSON *pstItem = cJSON_GetArrayItem(pstArray, i);
            if (!cJSON_IsObject(pstItem)) {
                Debug_Log("[%s]: get ArrayItem(%d) err!\n", log_Time(), i);
                s32Ret = -1;
            } else {
                s32Ret = Client_ParseStream(pstItem, &pstOut->astStream[i]);
            }
        }
        pstOut->s32Count = s32Ret == 0 ? s32Count : 0;
    }
    cJSON_Delete(pstRoot);
    return s32Ret;
}

s32 Protocol_client_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_MATRIX, s32Id, s32TxId);
}

s32 Protocol_client_matrix_setDecodeId_v3(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_MATRIX_V3, s32Id, s32TxId);
}

s32 Protocol_client_serial_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_SERIAL_MATRIX, s32Id, s32TxId);
}

s32 Protocol_client_serial_matrix_setDecodeId_v2(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_SERIAL_MATRIX_V2, s32Id, s32TxId);
}

s32 Protocol_client_ir_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_IR_MATRIX, s32Id, s32TxId);
}

s32 Protocol_client_ir_matrix_setDecodeId_v2(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_IR_MATRIX_V2, s32Id, s32TxId);
}

s32 Protocol_client_usb_matrix_setDecodeId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_USB_MATRIX, s32Id, s32TxId);
}

s32 Protocol_client_usb_matrix_setDecodeId_v2(ProtocolClient_S *pstClient, s32 s32Id, s32 s32TxId)
{
    return Client_Send(pstClient, CLIENT_USB_MATRIX_V2, s32Id, s32TxId);
}

s32 Protocol_client_setEncodeEdidIndex(ProtocolClient_S *pstClient, s32 s32Id, s32 s32Index)
{
    for (s32 i = 1; i <= 3; i++)
        Debug_Log("[%s]: %d\n", log_Time(), i);
    s32 s32Ret = Client_Send(pstClient, CLIENT_EDID_INDEX, s32Id, s32Index);
    if (s32Ret == 0) {
        for (s32 i = 4; i <= 5; i++)
            Debug_Log("[%s]: %d\n", log_Time(), i);
    }
    return s32Ret;
}

s32 Protocol_client_setRxPermission(ProtocolClient_S *pstClient, s32 s32Id, s32 s32Permission)
{
    return Client_Send(pstClient, CLIENT_RX_PERMISSION, s32Id, s32Permission);
}

s32 Protocol_client_setRxScale(ProtocolClient_S *pstClient, s32 s32Id, s32 s32Scale)
{
    return Client_Send(pstClient, CLIENT_RX_SCALE, s32Id, s32Scale);
}

s32 Protocol_client_setRxId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32NewId)
{
    return Client_Send(pstClient, CLIENT_RX_ID, s32Id, s32NewId);
}

s32 Protocol_client_copyEdid(ProtocolClient_S *pstClient, s32 s32Id, s32 s32RxId)
{
    return Client_Send(pstClient, CLIENT_EDID_COPY, s32Id, s32RxId);
}

s32 Protocol_client_setTxId(ProtocolClient_S *pstClient, s32 s32Id, s32 s32NewId)
{
    return Client_Send(pstClient, CLIENT_TX_ID, s32Id, s32NewId);
}
