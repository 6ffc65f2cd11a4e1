#include "protocol/ProtocolMsg.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "core/Debug.h"
#include "core/Utf8.h"
#include "protocol/Base64.h"
#include "protocol/JsonUtil.h"

// A new object appended to an array, or null.
static cJSON *Msg_AddObjectToArray(cJSON *pstArray)
{
    cJSON *pstObj = cJSON_CreateObject();
    if (pstObj != nullptr && !cJSON_AddItemToArray(pstArray, pstObj)) {
        cJSON_Delete(pstObj);
        return nullptr;
    }
    return pstObj;
}

const char g_u8Base64Head[PROTOCOL_HEAD_LEN + 1] = "ewoJInJlcXVlc3Qi";
const char g_u8Base64Head_JsonUnformat[PROTOCOL_HEAD_LEN + 1] = "eyJyZXF1ZXN0Ijp7";

static std::atomic<s32> s_s32Seq{0};   // next sequence number of this process's requests
static DebugLimit_S s_stParseLimit;    // requests and replies are sent by peers

// Copies a string member cut to its field; false when missing, no string
// or not UTF-8 (replies echo these texts to every controller).
static bool Msg_GetText(const cJSON *pstObj, const char *pszName, char *pszOut, u32 u32Size)
{
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszName);
    return cJSON_IsString(pstItem) && Utf8_CopyCut(pszOut, u32Size, pstItem->valuestring) >= 0;
}

// Takes "seq" when it is a whole JSON number within s32. It only names the
// exchange, and other makes may send it as a text: any other form counts
// as none (0, the refusal logged), the message is served all the same.
static void Msg_GetSeq(const cJSON *pstObj, s32 *ps32Seq)
{
    const cJSON *pstSeq = cJSON_GetObjectItem(pstObj, "seq");
    s64 s64Seq = 0;
    if (pstSeq != nullptr)
        (void)Json_WholeInRange(pstSeq, "seq", INT32_MIN, INT32_MAX, &s64Seq);   // 0 when refused
    *ps32Seq = (s32)s64Seq;
}

// True when the four characters after "\u" are hex digits that give no NUL.
// The parser reads any other four as a NUL.
static bool Msg_EscapeGivesChar(const char *pcHex)
{
    return strspn(pcHex, "0123456789abcdefABCDEF") >= 4 && strncmp(pcHex, "0000", 4) != 0;
}

// Parses the JSON at the head of pszText and checks it alone: a firmware
// chunk's bytes may follow it. Null (logged) when it is no JSON, or when a
// text or name holds an escape the parser would end it at: "30\u0000abc"
// or "30\u000gabc" taken as 30. The caller deletes the result.
static cJSON *Msg_Parse(const char *pszText)
{
    const char *pszEnd = nullptr;
    cJSON *pstRoot = cJSON_ParseWithOpts(pszText, &pszEnd, false);
    if (pstRoot == nullptr) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: cJSON_Parse err!\n", log_Time());
        return nullptr;
    }
    // Backslashes stand only in texts and names; an escaped one starts no escape.
    for (const char *pc = pszText; pc + 1 < pszEnd; pc++) {
        if (*pc != '\\')
            continue;
        pc++;
        if (*pc == 'u' && !Msg_EscapeGivesChar(pc + 1)) {
            Debug_LogLimited(&s_stParseLimit, "[%s]: text with a NUL refused\n", log_Time());
            cJSON_Delete(pstRoot);
            return nullptr;
        }
    }
    return pstRoot;
}

// The device entries of a request; the head keeps the array only on success.
static s32 Msg_ParseDevices(const cJSON *pstArray, ProtocolRequestHead_S *pstOut)
{
    s32 s32Count = cJSON_GetArraySize(pstArray);
    if (s32Count <= 0) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: conut err!\n", log_Time());
        return -1;
    }
    ProtocolRequestDevice_S *pstDevice =
        (ProtocolRequestDevice_S *)calloc((size_t)s32Count, sizeof(ProtocolRequestDevice_S));
    if (pstDevice == nullptr) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: %s: calloc failed\n", log_Time(), __func__);
        return -1;
    }
    s32 i = 0;
    const cJSON *pstElem;
    cJSON_ArrayForEach(pstElem, pstArray) {
        if (!cJSON_IsObject(pstElem)) {
            Debug_LogLimited(&s_stParseLimit, "[%s]: get ArrayItem(%d) err!\n", log_Time(), i);
            free(pstDevice);
            return -1;
        }
        if (!Msg_GetText(pstElem, "id", pstDevice[i].azId, sizeof(pstDevice[i].azId))) {
            Debug_LogLimited(&s_stParseLimit, "[%s]: get id err!\n", log_Time());
            free(pstDevice);
            return -1;
        }
        pstDevice[i].s32Index = i;
        i++;
    }
    pstOut->s32DevCount = s32Count;
    pstOut->pstDevice = pstDevice;
    return 0;
}

static s32 Msg_ParseRequest(const cJSON *pstRoot, ProtocolRequestHead_S *pstOut)
{
    const cJSON *pstReq = cJSON_GetObjectItem(pstRoot, "request");
    if (!cJSON_IsObject(pstReq)) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: get request err!\n", log_Time());
        return -1;
    }
    if (!Msg_GetText(pstReq, "cmd", pstOut->azCmd, sizeof(pstOut->azCmd))) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: get cmd err!\n", log_Time());
        return -1;
    }
    if (!Msg_GetText(pstReq, "hostid", pstOut->azHostId, sizeof(pstOut->azHostId))) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: get hostname err!\n", log_Time());
        return -1;
    }
    Msg_GetSeq(pstReq, &pstOut->s32Seq);
    const cJSON *pstDevices = cJSON_GetObjectItem(pstReq, "device");
    if (!cJSON_IsArray(pstDevices)) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: get device err!\n", log_Time());
        return -1;
    }
    return Msg_ParseDevices(pstDevices, pstOut);
}

s32 request_head_parse(ProtocolRequestHead_S *pstOut, const char *pszJson)
{
    cJSON *pstRoot = Msg_Parse(pszJson);
    if (pstRoot == nullptr)
        return -1;
    s32 s32Ret = Msg_ParseRequest(pstRoot, pstOut);
    cJSON_Delete(pstRoot);
    return s32Ret;
}

void request_head_free(ProtocolRequestHead_S *pstHead)
{
    free(pstHead->pstDevice);
    pstHead->pstDevice = nullptr;
    pstHead->s32DevCount = 0;
}

cJSON *request_head_json(ProtocolRequestHead_S *pstHead)
{
    pstHead->s32Seq = s_s32Seq.fetch_add(1);
    cJSON *pstRoot = cJSON_CreateObject();
    cJSON *pstReq = cJSON_AddObjectToObject(pstRoot, "request");
    bool bOk = pstReq != nullptr && cJSON_AddStringToObject(pstReq, "cmd", pstHead->azCmd) &&
               cJSON_AddStringToObject(pstReq, "hostid", pstHead->azHostId) &&
               cJSON_AddNumberToObject(pstReq, "seq", pstHead->s32Seq);
    cJSON *pstDevices = bOk ? cJSON_AddArrayToObject(pstReq, "device") : nullptr;
    bOk = pstDevices != nullptr;
    for (s32 i = 0; bOk && i < pstHead->s32DevCount; i++) {
        cJSON *pstDev = Msg_AddObjectToArray(pstDevices);
        bOk = pstDev != nullptr && cJSON_AddStringToObject(pstDev, "id", pstHead->pstDevice[i].azId);
    }
    if (!bOk) {
        Debug_Log("[%s]: %s: out of memory\n", log_Time(), __func__);
        cJSON_Delete(pstRoot);
        return nullptr;
    }
    return pstRoot;
}

cJSON *reponse_head_createjson(const ProtocolReplyHead_S *pstHead)
{
    cJSON *pstAck = cJSON_CreateObject();
    if (pstAck == nullptr || !cJSON_AddStringToObject(pstAck, "cmd", pstHead->azCmd) ||
        !cJSON_AddStringToObject(pstAck, "status", pstHead->azStatus) ||
        !cJSON_AddStringToObject(pstAck, "hostid", pstHead->azHostId) ||
        !cJSON_AddStringToObject(pstAck, "deviceid", pstHead->azDeviceId) ||
        !cJSON_AddNumberToObject(pstAck, "seq", pstHead->s32Seq)) {
        cJSON_Delete(pstAck);
        return nullptr;
    }
    return pstAck;
}

s32 reponse_head_parse(ProtocolReplyHead_S *pstOut, const char *pszJson)
{
    cJSON *pstRoot = Msg_Parse(pszJson);
    if (pstRoot == nullptr)
        return -1;
    s32 s32Ret = -1;
    const cJSON *pstAck = cJSON_GetObjectItem(pstRoot, "ack");
    if (!cJSON_IsObject(pstAck)) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: get ack err!\n", log_Time());
    } else if (!Msg_GetText(pstAck, "cmd", pstOut->azCmd, sizeof(pstOut->azCmd)) ||
               !Msg_GetText(pstAck, "status", pstOut->azStatus, sizeof(pstOut->azStatus)) ||
               !Msg_GetText(pstAck, "hostid", pstOut->azHostId, sizeof(pstOut->azHostId)) ||
               !Msg_GetText(pstAck, "deviceid", pstOut->azDeviceId, sizeof(pstOut->azDeviceId))) {
        Debug_LogLimited(&s_stParseLimit, "[%s]: get cmd err!\n", log_Time());
    } else {
        Msg_GetSeq(pstAck, &pstOut->s32Seq);
        s32Ret = 0;
    }
    cJSON_Delete(pstRoot);
    return s32Ret;
}

bool protocol_frame_is_request(const char *pcData, u32 u32Len)
{
    return u32Len >= PROTOCOL_HEAD_LEN &&
           (memcmp(pcData, g_u8Base64Head, PROTOCOL_HEAD_LEN) == 0 ||
            memcmp(pcData, g_u8Base64Head_JsonUnformat, PROTOCOL_HEAD_LEN) == 0);
}

s32 protocol_frame_encode(const char *pszText, char *pcOut, u32 u32OutSize)
{
    size_t u32Len = strnlen(pszText, PROTOCOL_TEXT_MAX + 1);
    if (u32Len > PROTOCOL_TEXT_MAX)
        return -1;
    // The text and 1 to 4 zeros, so that the receiver finds its end.
    char azPadded[PROTOCOL_TEXT_MAX + 4] = {};
    memcpy(azPadded, pszText, u32Len);
    u32 u32Bytes = (u32)(u32Len + 4) & ~3u;
    u32 u32Chars = (u32Bytes + 2) / 3 * 4;
    if (u32Chars + 1 > u32OutSize)
        return -1;
    s32 s32Out = base64_encode_qelto(pcOut, azPadded, u32Bytes);
    pcOut[s32Out] = '\0';
    return s32Out;
}

s32 protocol_frame_decode(const char *pcData, u32 u32Len, char *pszText, u32 u32TextSize, u32 *pu32Bytes)
{
    u32 u32Chars = (u32)strnlen(pcData, u32Len);
    // The characters taken, then zeros up to one more whole group.
    u32 u32Groups = (u32Chars + 4) & ~3u;
    if (u32Groups / 4 * 3 + 1 > u32TextSize)
        return -1;
    u32 u32Whole = u32Chars & ~3u;
    s32 s32Bytes = base64_decode_qelto(pszText, pcData, u32Whole);
    char azTail[4] = {};
    memcpy(azTail, pcData + u32Whole, u32Chars - u32Whole);
    (void)base64_decode_qelto(pszText + s32Bytes, azTail, sizeof(azTail));   // a whole group: 3 bytes
    pszText[s32Bytes + 3] = '\0';
    // Bytes the characters carry. The sender's last zero is framing; up to
    // three before it may be its own bytes or more framing, and are counted,
    // since a chunk of zeros must not be refused.
    u32 u32Bytes = (u32)s32Bytes + (u32Chars > u32Whole ? u32Chars - u32Whole - 1 : 0);
    if (u32Bytes > 0 && pszText[u32Bytes - 1] == '\0')
        u32Bytes--;
    if (pu32Bytes != nullptr)
        *pu32Bytes = u32Bytes;
    return (s32)strlen(pszText);
}
