#include "protocol/ProtocolHandler.h"

#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "core/Debug.h"
#include "protocol/JsonUtil.h"

static DebugLimit_S s_stBodyLimit;    // bodies come from peers
static DebugLimit_S s_stReplyLimit;   // replies too long for a datagram

struct HandlerValueArg_S {
    ProtocolSetValue_F *pfnSet;
    ProtocolGetValue_F *pfnGet;
    const char *pszKey;
};

// Slots 0 and 1 give every reply its device id; without them nothing answers.
static bool Handler_HasIdentity(const ProtocolServer_S *pstServer)
{
    return pstServer->stCallback.getDeviceid != nullptr &&
           pstServer->stCallback.getDeviceinfo != nullptr;
}

static void Handler_GetInfo(ProtocolServer_S *pstServer, ProtocolDeviceInfo_S *pstInfo)
{
    memset(pstInfo, 0, sizeof(*pstInfo));
    (void)pstServer->stCallback.getDeviceinfo(pstServer->pUser, pstInfo);   // fills what it can
    pstInfo->azDeviceId[sizeof(pstInfo->azDeviceId) - 1] = '\0';
}

bool protocol_json_addtext(cJSON *pstObj, const char *pszName, const char *azText, u32 u32Size)
{
    char azCopy[PROTOCOL_CMD_LEN];
    u32 u32Len = (u32)strnlen(azText, u32Size < sizeof(azCopy) ? u32Size : sizeof(azCopy) - 1);
    memcpy(azCopy, azText, u32Len);
    azCopy[u32Len] = '\0';
    return cJSON_AddStringToObject(pstObj, pszName, azCopy) != nullptr;
}

s32 protocol_json_s32(const cJSON *pstItem, const char *pszKey, s32 *ps32Out)
{
    s64 s64Value;
    s32 s32Ret = Json_WholeInRange(pstItem, pszKey, INT32_MIN, INT32_MAX, &s64Value);
    *ps32Out = (s32)s64Value;
    return s32Ret;
}

bool protocol_json_adddec(cJSON *pstObj, const char *pszName, s64 s64Value)
{
    char azText[24];
    snprintf(azText, sizeof(azText), "%" PRId64, s64Value);
    return cJSON_AddStringToObject(pstObj, pszName, azText) != nullptr;
}

s32 protocol_server_reply(const ProtocolRequestHead_S *pstHead, const char *pszDeviceId,
                          const char *pszStatus, const char *pszBodyName, cJSON *pstBody,
                          char *pszReply)
{
    ProtocolReplyHead_S stReply{};
    snprintf(stReply.azCmd, sizeof(stReply.azCmd), "%s", pstHead->azCmd);
    snprintf(stReply.azStatus, sizeof(stReply.azStatus), "%s", pszStatus);
    snprintf(stReply.azHostId, sizeof(stReply.azHostId), "%s", pstHead->azHostId);
    snprintf(stReply.azDeviceId, sizeof(stReply.azDeviceId), "%s", pszDeviceId);
    stReply.s32Seq = pstHead->s32Seq;

    cJSON *pstAck = reponse_head_createjson(&stReply);
    if (pstAck == nullptr) {
        Debug_Log("[%s]: reponse_head_createjson err!\n", log_Time());
        cJSON_Delete(pstBody);
        return -1;
    }
    cJSON *pstRoot = cJSON_CreateObject();
    bool bOk = cJSON_AddItemToObject(pstRoot, "ack", pstAck);
    if (!bOk)
        cJSON_Delete(pstAck);
    if (pstBody != nullptr && pszBodyName == nullptr) {
        while (bOk && pstBody->child != nullptr) {
            cJSON *pstItem = cJSON_DetachItemViaPointer(pstBody, pstBody->child);
            bOk = cJSON_AddItemToObject(pstRoot, pstItem->string, pstItem);
            if (!bOk)
                cJSON_Delete(pstItem);
        }
        cJSON_Delete(pstBody);
    } else if (pstBody != nullptr) {
        bool bAdded = bOk && cJSON_AddItemToObject(pstRoot, pszBodyName, pstBody);
        if (!bAdded)
            cJSON_Delete(pstBody);
        bOk = bAdded;
    }
    // The printer may need a few bytes beyond the text it writes.
    bOk = bOk && cJSON_PrintPreallocated(pstRoot, pszReply, PROTOCOL_BUF_LEN, 1);
    cJSON_Delete(pstRoot);
    size_t u32Len = bOk ? strnlen(pszReply, PROTOCOL_BUF_LEN) : 0;
    if (!bOk || u32Len > PROTOCOL_TEXT_MAX) {
        Debug_LogLimited(&s_stReplyLimit, "[%s]: %s: reply to \"%s\" not sent: too long\n",
                         log_Time(), __func__, stReply.azCmd);
        memset(pszReply, 0, PROTOCOL_BUF_LEN);
        return -1;
    }
    return (s32)u32Len;
}

static s32 Handler_FrameSet(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                            const char *pszRequest, char *pszReply, bool bSlot,
                            ProtocolApply_F *pfnApply, const void *pvArg, bool bInfoFirst)
{
    if (!Handler_HasIdentity(pstServer))
        return -2;
    ProtocolDeviceInfo_S stInfo;
    if (bInfoFirst)
        Handler_GetInfo(pstServer, &stInfo);
    const char *pszStatus = PROTOCOL_STATUS_FAIL;
    if (bSlot) {
        cJSON *pstRoot = cJSON_Parse(pszRequest);
        if (pstRoot == nullptr) {
            Debug_LogLimited(&s_stBodyLimit, "[%s]: cJSON_Parse err!\n", log_Time());
            return -1;
        }
        s32 s32Result = -1;
        s32 s32Ret = pfnApply(pstServer, pstRoot, pvArg, &s32Result);
        cJSON_Delete(pstRoot);
        if (s32Ret < 0)
            return -1;
        if (s32Result >= 0)
            pszStatus = PROTOCOL_STATUS_OK;
    }
    if (!bInfoFirst)
        Handler_GetInfo(pstServer, &stInfo);
    return protocol_server_reply(pstHead, stInfo.azDeviceId, pszStatus, nullptr, nullptr, pszReply);
}

s32 protocol_server_frame_set(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                              const char *pszRequest, char *pszReply, bool bSlot,
                              ProtocolApply_F *pfnApply, const void *pvArg)
{
    return Handler_FrameSet(pstServer, pstHead, pszRequest, pszReply, bSlot, pfnApply, pvArg, false);
}

s32 protocol_server_frame_set_infofirst(ProtocolServer_S *pstServer,
                                        const ProtocolRequestHead_S *pstHead,
                                        const char *pszRequest, char *pszReply, bool bSlot,
                                        ProtocolApply_F *pfnApply, const void *pvArg)
{
    return Handler_FrameSet(pstServer, pstHead, pszRequest, pszReply, bSlot, pfnApply, pvArg, true);
}

static s32 Handler_ApplyValue(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                              s32 *ps32Result)
{
    const HandlerValueArg_S *pstArg = (const HandlerValueArg_S *)pvArg;
    const cJSON *pstItem = cJSON_GetObjectItem(pstRoot, pstArg->pszKey);
    if (pstItem == nullptr) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get %s err!\n", log_Time(), pstArg->pszKey);
        return -1;
    }
    s32 s32Value;
    if (protocol_json_s32(pstItem, pstArg->pszKey, &s32Value) < 0)
        return 0;   // status "failure"
    *ps32Result = pstArg->pfnSet(pstServer->pUser, s32Value);
    return 0;
}

s32 protocol_server_frame_setvalue(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead, const char *pszRequest,
                                   char *pszReply, ProtocolSetValue_F *pfnSlot, const char *pszKey)
{
    HandlerValueArg_S stArg = {pfnSlot, nullptr, pszKey};
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply, pfnSlot != nullptr,
                                     Handler_ApplyValue, &stArg);
}

s32 protocol_server_frame_get(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                              char *pszReply, bool bSlot, const char *pszBodyName,
                              ProtocolBody_F *pfnBody, const void *pvArg)
{
    if (!Handler_HasIdentity(pstServer))
        return -2;
    ProtocolDeviceInfo_S stInfo;
    Handler_GetInfo(pstServer, &stInfo);
    if (!bSlot)
        return protocol_server_reply(pstHead, stInfo.azDeviceId, PROTOCOL_STATUS_FAIL, nullptr,
                                     nullptr, pszReply);
    cJSON *pstBody = pfnBody(pstServer, &stInfo, pvArg);
    if (pstBody == nullptr) {
        Debug_Log("[%s]: %s: no memory for the reply to \"%s\"\n", log_Time(), __func__,
                  pstHead->azCmd);
        return -1;
    }
    return protocol_server_reply(pstHead, stInfo.azDeviceId, PROTOCOL_STATUS_OK, pszBodyName,
                                 pstBody, pszReply);
}

static cJSON *Handler_ValueBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                                const void *pvArg)
{
    const HandlerValueArg_S *pstArg = (const HandlerValueArg_S *)pvArg;
    s32 s32Value = -1;
    (void)pstArg->pfnGet(pstServer->pUser, &s32Value);   // a getter that fails leaves -1
    cJSON *pstBody = cJSON_CreateObject();
    if (pstBody == nullptr ||
        !protocol_json_addtext(pstBody, "deviceid", pstInfo->azDeviceId, PROTOCOL_TEXT_LEN) ||
        !cJSON_AddNumberToObject(pstBody, pstArg->pszKey, s32Value)) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

s32 protocol_server_frame_getvalue(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead, char *pszReply,
                                   ProtocolGetValue_F *pfnSlot, const char *pszBodyName,
                                   const char *pszKey)
{
    HandlerValueArg_S stArg = {nullptr, pfnSlot, pszKey};
    return protocol_server_frame_get(pstServer, pstHead, pszReply, pfnSlot != nullptr, pszBodyName,
                                     Handler_ValueBody, &stArg);
}

s32 protocol_server_frame_action(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 char *pszReply, ProtocolAction_F *pfnSlot, bool bStatusFromSlot)
{
    if (!Handler_HasIdentity(pstServer))
        return -2;
    ProtocolDeviceInfo_S stInfo;
    Handler_GetInfo(pstServer, &stInfo);
    const char *pszStatus = PROTOCOL_STATUS_FAIL;
    if (pfnSlot != nullptr) {
        s32 s32Ret = pfnSlot(pstServer->pUser);
        if (!bStatusFromSlot || s32Ret >= 0)
            pszStatus = PROTOCOL_STATUS_OK;
    }
    return protocol_server_reply(pstHead, stInfo.azDeviceId, pszStatus, nullptr, nullptr, pszReply);
}
