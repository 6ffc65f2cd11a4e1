#include "protocol/ProtocolStreamCmds.h"

#include <cstdint>
#include <cstring>

#include "core/Debug.h"
#include "protocol/Base64.h"
#include "protocol/JsonUtil.h"
#include "protocol/ProtocolHandler.h"

#define CMD_EDID_BUF_LEN 512

static DebugLimit_S s_stCmdLimit;   // requests come from peers

// Which slot an EDID command calls, and which member of "txedid" it reads.
enum CmdEdid_E { CMD_EDID_SET, CMD_EDID_USER_SET, CMD_EDID_INDEX_SET, CMD_EDID_COPY };

// A member that must be text; missing or of another kind logs pszMissing.
static const char *Cmd_Text(const cJSON *pstObj, const char *pszName, const char *pszMissing)
{
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszName);
    if (!cJSON_IsString(pstItem)) {
        Debug_LogLimited(&s_stCmdLimit, pszMissing, log_Time());
        return nullptr;
    }
    return pstItem->valuestring;
}

// Decodes a base64 payload into pu8Out (u32Size bytes); the byte count,
// or -1 (logged) for text that is not padded base64 or does not fit.
static s32 Cmd_Decode(const char *pszText, u8 *pu8Out, u32 u32Size, const char *pszWhat)
{
    u32 u32Len = (u32)strnlen(pszText, u32Size * 2);
    s32 s32Bytes = base64_check_qelto(pszText, u32Len);
    if (s32Bytes < 0 || (u32)s32Bytes > u32Size) {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: %s: not base64 of at most %u bytes\n", log_Time(), pszWhat,
                         u32Size);
        return -1;
    }
    return base64_decode_qelto(pu8Out, pszText, u32Len);
}

static cJSON *Cmd_StreamBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                             const void *pvArg)
{
    (void)pstInfo;
    (void)pvArg;
    ProtocolStreamInfo_S stInfo = {};
    (void)pstServer->stCallback.ongetStream(pstServer->pUser, &stInfo);   // "success" whatever it says
    s32 s32Count = stInfo.s32Count;
    if (s32Count < 0 || s32Count > PROTOCOL_STREAM_MAX) {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: stream get: %d streams, at most %d sent\n", log_Time(),
                         s32Count, PROTOCOL_STREAM_MAX);
        s32Count = s32Count < 0 ? 0 : PROTOCOL_STREAM_MAX;
    }
    cJSON *pstArray = cJSON_CreateArray();
    bool bOk = pstArray != nullptr;
    for (s32 i = 0; bOk && i < s32Count; i++) {
        const ProtocolStreamEntry_S *pstEntry = &stInfo.astStream[i];
        cJSON *pstObj = cJSON_CreateObject();
        bOk = pstObj != nullptr && cJSON_AddItemToArray(pstArray, pstObj);
        if (!bOk) {
            cJSON_Delete(pstObj);
            break;
        }
        bOk = cJSON_AddStringToObject(pstObj, "status", pstEntry->bStatus ? "true" : "false") &&
              cJSON_AddNumberToObject(pstObj, "id", stInfo.s32Id) &&
              protocol_json_adddec(pstObj, "width", pstEntry->s32Width) &&
              protocol_json_adddec(pstObj, "height", pstEntry->s32Height) &&
              protocol_json_adddec(pstObj, "vsync", pstEntry->s32Vsync) &&
              protocol_json_adddec(pstObj, "async", pstEntry->s32Async) &&
              protocol_json_addtext(pstObj, "url", pstEntry->azUrl, sizeof(pstEntry->azUrl)) &&
              cJSON_AddNumberToObject(pstObj, "hdcp", pstEntry->s32Hdcp) &&
              protocol_json_addtext(pstObj, "rtspmip", pstEntry->azRtspMip, sizeof(pstEntry->azRtspMip));
    }
    if (!bOk) {
        cJSON_Delete(pstArray);
        return nullptr;
    }
    return pstArray;
}

s32 protocol_server_handle_stream_get(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                      char *pszReply)
{
    return protocol_server_frame_get(pstServer, pstHead, pszReply, pstServer->stCallback.ongetStream != nullptr,
                                     "stream", Cmd_StreamBody, nullptr);
}

static cJSON *Cmd_IpBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo, const void *pvArg)
{
    (void)pvArg;
    cJSON *pstBody = cJSON_CreateObject();
    if (pstBody == nullptr || !cJSON_AddNumberToObject(pstBody, "id", pstInfo->s32Id) ||
        !protocol_json_addtext(pstBody, "ip", pstServer->azHostIP, sizeof(pstServer->azHostIP))) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

s32 protocol_server_handle_ip_get(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                  char *pszReply)
{
    if (pstServer->stCallback.getDeviceid == nullptr)
        return -2;
    if (protocol_server_getHostIP(pstServer->azEthName, pstServer->azHostIP) < 0) {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: pEthName(%s) get ip err!\n", log_Time(), pstServer->azEthName);
        return -1;
    }
    // "id" and "ip" stand beside "ack", not in a body object.
    return protocol_server_frame_get(pstServer, pstHead, pszReply, true, nullptr, Cmd_IpBody, nullptr);
}

// "count" and "length" as decimal texts; false (logged) when one is missing.
// One that is no number within s32 sets bRefused (logged), for the chunk to
// be refused whole.
static bool Cmd_ChunkHead(const cJSON *pstRoot, ProtocolFirmwareChunk_S *pstChunk, bool *pbRefused)
{
    const char *pszCount = Cmd_Text(pstRoot, "count", "[%s]: get count err!\n");
    const char *pszLength = pszCount != nullptr ? Cmd_Text(pstRoot, "length", "[%s]: get count err!\n")
                                                : nullptr;
    if (pszLength == nullptr)
        return false;
    s64 s64Count, s64Length = 0;
    *pbRefused = Json_DecInRange(pszCount, "count", INT32_MIN, INT32_MAX, &s64Count) < 0 ||
                 Json_DecInRange(pszLength, "length", INT32_MIN, INT32_MAX, &s64Length) < 0;
    pstChunk->s32Count = (s32)s64Count;
    pstChunk->s32Length = (s32)s64Length;
    return true;
}

// Calls slot 44 when the chunk's numbers were taken, its number is in
// range and its length claims no more than the u32Carried bytes the
// request really brought.
static s32 Cmd_Chunk(ProtocolServer_S *pstServer, ProtocolFirmwareChunk_S *pstChunk, bool bRefused,
                     u32 u32Carried)
{
    if (bRefused)
        return -1;   // the number's own line tells why
    if (pstChunk->s32Count < 1 || pstChunk->s32Count > PROTOCOL_CHUNK_COUNT_MAX || pstChunk->s32Length < 0 ||
        (u32)pstChunk->s32Length > u32Carried) {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: firmware chunk %d of %d bytes refused: %u carried\n", log_Time(),
                         pstChunk->s32Count, pstChunk->s32Length, u32Carried);
        return -1;
    }
    return pstServer->stCallback.onupdateFirmware(pstServer->pUser, pstChunk);
}

static s32 Cmd_ApplyUpdateRx(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                             s32 *ps32Result)
{
    (void)pvArg;
    ProtocolFirmwareChunk_S stChunk = {};
    bool bRefused = false;
    if (!Cmd_ChunkHead(pstRoot, &stChunk, &bRefused))
        return -1;
    const char *pszData = Cmd_Text(pstRoot, "data", "[%s]: get data err!\n");
    if (pszData == nullptr)
        return -1;
    u8 au8Data[PROTOCOL_BUF_LEN] = {};
    s32 s32Bytes = Cmd_Decode(pszData, au8Data, sizeof(au8Data), "update rx");
    stChunk.pu8Data = au8Data;
    *ps32Result = s32Bytes < 0 ? -1 : Cmd_Chunk(pstServer, &stChunk, bRefused, (u32)s32Bytes);
    return 0;
}

s32 protocol_server_handle_update_rx(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                     const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply,
                                     pstServer->stCallback.onupdateFirmware != nullptr, Cmd_ApplyUpdateRx,
                                     nullptr);
}

static s32 Cmd_ApplyUpdateTx(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                             s32 *ps32Result)
{
    const char *pszRequest = (const char *)pvArg;
    ProtocolFirmwareChunk_S stChunk = {};
    bool bRefused = false;
    if (!Cmd_ChunkHead(pstRoot, &stChunk, &bRefused))
        return -1;
    const char *pszEnd = strstr(pszRequest, "\r\n");
    if (pszEnd == nullptr) {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: get data err!\n", log_Time());
        return -1;
    }
    // Bytes after "\r\n", zeros included: counted from what was decoded, not by strlen.
    u32 u32Offset = (u32)(pszEnd + 2 - pszRequest);
    u32 u32Carried = pstServer->u32RequestLen > u32Offset ? pstServer->u32RequestLen - u32Offset : 0;
    u8 au8Data[PROTOCOL_BUF_LEN];
    memcpy(au8Data, pszEnd + 2, u32Carried < sizeof(au8Data) ? u32Carried : sizeof(au8Data));
    stChunk.pu8Data = au8Data;
    *ps32Result = Cmd_Chunk(pstServer, &stChunk, bRefused,
                            u32Carried < sizeof(au8Data) ? u32Carried : sizeof(au8Data));
    return 0;
}

s32 protocol_server_handle_update_tx(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                     const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply,
                                     pstServer->stCallback.onupdateFirmware != nullptr, Cmd_ApplyUpdateTx,
                                     pszRequest);
}

static s32 Cmd_ApplyEdid(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg, s32 *ps32Result)
{
    CmdEdid_E enCmd = *(const CmdEdid_E *)pvArg;
    const ProtocolServerCallback_S *pstCb = &pstServer->stCallback;
    const cJSON *pstTxEdid = cJSON_GetObjectItem(pstRoot, "txedid");
    if (!cJSON_IsObject(pstTxEdid)) {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: get txedid err!\n", log_Time());
        return -1;
    }
    if (enCmd == CMD_EDID_INDEX_SET || enCmd == CMD_EDID_COPY) {
        const char *pszKey = enCmd == CMD_EDID_COPY ? "rxid" : "edidindex";
        const cJSON *pstItem = cJSON_GetObjectItem(pstTxEdid, pszKey);
        if (pstItem == nullptr) {
            Debug_LogLimited(&s_stCmdLimit, "[%s]: get edid err!\n", log_Time());
            return -1;
        }
        s32 s32Value;
        if (protocol_json_s32(pstItem, pszKey, &s32Value) < 0)
            return 0;   // status "failure"
        *ps32Result = enCmd == CMD_EDID_COPY ? pstCb->oncopyEdid(pstServer->pUser, s32Value)
                                             : pstCb->onsetEdidIndex(pstServer->pUser, s32Value);
        return 0;
    }
    const char *pszEdid = Cmd_Text(pstTxEdid, "edid", "[%s]: get edid err!\n");
    if (pszEdid == nullptr)
        return -1;
    s32 s32Index = 0;
    if (enCmd == CMD_EDID_USER_SET) {
        const cJSON *pstIdx = cJSON_GetObjectItem(pstTxEdid, "idx");
        if (pstIdx == nullptr) {
            Debug_LogLimited(&s_stCmdLimit, "[%s]: get idx err!\n", log_Time());
            return -1;
        }
        if (protocol_json_s32(pstIdx, "idx", &s32Index) < 0)
            return -1;
        if (s32Index != 1 && s32Index != 2) {
            Debug_LogLimited(&s_stCmdLimit, "[%s]: idx value err!\n", log_Time());
            return -1;
        }
    }
    u8 au8Edid[CMD_EDID_BUF_LEN] = {};
    s32 s32Len = Cmd_Decode(pszEdid, au8Edid, sizeof(au8Edid), "edid");
    if (s32Len != PROTOCOL_EDID_LEN) {
        Debug_LogLimited(&s_stCmdLimit, "[%s]: edid of %d bytes refused\n", log_Time(), s32Len);
        *ps32Result = -1;
        return 0;
    }
    *ps32Result = enCmd == CMD_EDID_SET ? pstCb->onsetEdid(pstServer->pUser, au8Edid, s32Len)
                                        : pstCb->onsetUserEdid(pstServer->pUser, au8Edid, s32Len, s32Index);
    return 0;
}

static s32 Cmd_Edid(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead, const char *pszRequest,
                    char *pszReply, CmdEdid_E enCmd)
{
    const ProtocolServerCallback_S *pstCb = &pstServer->stCallback;
    bool abSlot[] = {pstCb->onsetEdid != nullptr, pstCb->onsetUserEdid != nullptr,
                     pstCb->onsetEdidIndex != nullptr, pstCb->oncopyEdid != nullptr};
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply, abSlot[enCmd], Cmd_ApplyEdid,
                                     &enCmd);
}

s32 protocol_server_handle_edid_set(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                    const char *pszRequest, char *pszReply)
{
    return Cmd_Edid(pstServer, pstHead, pszRequest, pszReply, CMD_EDID_SET);
}

s32 protocol_server_handle_edid_user_set(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                         const char *pszRequest, char *pszReply)
{
    return Cmd_Edid(pstServer, pstHead, pszRequest, pszReply, CMD_EDID_USER_SET);
}

s32 protocol_server_handle_edid_index_set(ProtocolServer_S *pstServer,
                                          const ProtocolRequestHead_S *pstHead, const char *pszRequest,
                                          char *pszReply)
{
    return Cmd_Edid(pstServer, pstHead, pszRequest, pszReply, CMD_EDID_INDEX_SET);
}

s32 protocol_server_handle_edid_copy(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                     const char *pszRequest, char *pszReply)
{
    return Cmd_Edid(pstServer, pstHead, pszRequest, pszReply, CMD_EDID_COPY);
}
