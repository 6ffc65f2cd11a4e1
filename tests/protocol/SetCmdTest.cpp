#include "tests/protocol/SetCmdTest.h"

#include <cstring>

#include "app/MainProtocol.h"
#include "config/Config.h"

void SetCmdTest::SetUp()
{
    memset(&g_stConfigAttr, 0, sizeof(g_stConfigAttr));
    snprintf(g_stConfigAttr.stDevAttr.azDeviceId, 32, SETCMD_DEVICE_ID);
    snprintf(g_stConfigAttr.stDevAttr.azAlias, 32, "TX 001");
    g_stConfigAttr.stManual.s32ID = 5;
    g_stConfigAttr.stSerialAttr = {115200, 8, 0, 1};
    ProtocolServerCallback_S stCallback;
    MAIN_Protocolserver_Callbacks(&stCallback);
    protocol_server_attach(&stServer, stCallback, &stServer);
}

void SetCmdTest::TearDown()
{
    cJSON_Delete(pstReply);
    request_head_free(&stHead);
}

std::string SetCmdTest::Request(const std::string &cmd, const std::string &body)
{
    return "{\"request\":{\"cmd\":\"" + cmd +
           "\",\"hostid\":\"5e5e5e5e5e5e\",\"seq\":7,\"device\":[{\"id\":\"All\"}]}" +
           (body.empty() ? "" : "," + body) + "}";
}

s32 SetCmdTest::Run(ProtocolHandleBody_F *pfnBody, const std::string &cmd, const std::string &body)
{
    return RunText(pfnBody, cmd, Request(cmd, body));
}

s32 SetCmdTest::RunText(ProtocolHandleBody_F *pfnBody, const std::string &cmd,
                        const std::string &text)
{
    request_head_free(&stHead);
    memset(&stHead, 0, sizeof(stHead));
    EXPECT_EQ(0, request_head_parse(&stHead, Request(cmd).c_str()));
    memset(azReply, 0, sizeof(azReply));
    s32 s32Ret = pfnBody(&stServer, &stHead, text.c_str(), azReply);
    cJSON_Delete(pstReply);
    pstReply = s32Ret > 0 ? cJSON_Parse(azReply) : nullptr;
    if (s32Ret <= 0) {
        EXPECT_STREQ("", azReply);
    }
    return s32Ret;
}

s32 SetCmdTest::Run(ProtocolHandleHead_F *pfnHead, const std::string &cmd)
{
    std::string text = Request(cmd);
    request_head_free(&stHead);
    memset(&stHead, 0, sizeof(stHead));
    EXPECT_EQ(0, request_head_parse(&stHead, text.c_str()));
    memset(azReply, 0, sizeof(azReply));
    s32 s32Ret = pfnHead(&stServer, &stHead, azReply);
    cJSON_Delete(pstReply);
    pstReply = s32Ret > 0 ? cJSON_Parse(azReply) : nullptr;
    return s32Ret;
}

std::string SetCmdTest::Status()
{
    return Text("ack", "status");
}

std::string SetCmdTest::Text(const char *pszBody, const char *pszKey)
{
    const cJSON *pstItem = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, pszBody), pszKey);
    return cJSON_IsString(pstItem) ? pstItem->valuestring : "<none>";
}

double SetCmdTest::Number(const char *pszBody, const char *pszKey)
{
    const cJSON *pstItem = cJSON_GetObjectItem(cJSON_GetObjectItem(pstReply, pszBody), pszKey);
    return cJSON_IsNumber(pstItem) ? pstItem->valuedouble : -9999;
}

std::string SetCmdTest::Members()
{
    std::string out;
    const cJSON *pstItem;
    cJSON_ArrayForEach(pstItem, pstReply) out +=
        std::string(out.empty() ? "" : ",") + pstItem->string;
    return out;
}
