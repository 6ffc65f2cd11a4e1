// The routing commands of the three families (video, serial, infrared),
// the serial port's parameters, and serial and infrared payloads.
#include <cstring>

#include "core/Debug.h"
#include "protocol/Base64.h"
#include "protocol/ProtocolHandler.h"
#include "protocol/ProtocolSetCmd.h"

static DebugLimit_S s_stBodyLimit;   // bodies come from peers

// One route family: its body object and its three slots.
struct RouteFamily_S {
    const char *pszBody;
    ProtocolGetMatrix_F *ProtocolServerCallback_S::*pGet;
    ProtocolSetMatrix_F *ProtocolServerCallback_S::*pSet;
    ProtocolAction_F *ProtocolServerCallback_S::*pClear;
};

static const RouteFamily_S s_stVideo = {"rxsource", &ProtocolServerCallback_S::ongetMatrix,
                                        &ProtocolServerCallback_S::onsetMatrix,
                                        &ProtocolServerCallback_S::onclearMatrix};
static const RouteFamily_S s_stSerial = {"serialsource",
                                         &ProtocolServerCallback_S::ongetSerialMatrix,
                                         &ProtocolServerCallback_S::onsetSerialMatrix,
                                         &ProtocolServerCallback_S::onclearSerialMatrix};
static const RouteFamily_S s_stIr = {"irsource", &ProtocolServerCallback_S::ongetIrMatrix,
                                     &ProtocolServerCallback_S::onsetIrMatrix,
                                     &ProtocolServerCallback_S::onclearIrMatrix};

#define ROUTE_DATA_MAX ((PROTOCOL_PAYLOAD_LEN + 2) / 3 * 4)   // base64 characters, at most

s32 protocol_payload_decode(const char *pszText, u8 *pu8Out)
{
    size_t sizeLen = strnlen(pszText, ROUTE_DATA_MAX + 1);
    if (sizeLen > ROUTE_DATA_MAX || base64_check_qelto(pszText, (u32)sizeLen) < 0)
        return -1;
    return base64_decode_qelto(pu8Out, pszText, (u32)sizeLen);
}

static cJSON *RouteCmd_Body(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                            const void *pvArg)
{
    const RouteFamily_S *pstFamily = (const RouteFamily_S *)pvArg;
    ProtocolMatrix_S stMatrix;
    memset(&stMatrix, 0, sizeof(stMatrix));
    (void)(pstServer->stCallback.*pstFamily->pGet)(pstServer->pUser, &stMatrix);   // cannot refuse
    cJSON *pstBody = cJSON_CreateObject();
    if (pstBody == nullptr ||
        !protocol_json_addtext(pstBody, "rxid", pstInfo->azDeviceId, PROTOCOL_TEXT_LEN) ||
        !protocol_json_addtext(pstBody, "txid", stMatrix.bEnable ? stMatrix.azTxId : PROTOCOL_NO_TX,
                               PROTOCOL_TEXT_LEN)) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

static s32 RouteCmd_Get(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                        char *pszReply, const RouteFamily_S *pstFamily)
{
    return protocol_server_frame_get(pstServer, pstHead, pszReply,
                                     pstServer->stCallback.*pstFamily->pGet != nullptr,
                                     pstFamily->pszBody, RouteCmd_Body, pstFamily);
}

// A "txid" longer than its field is cut to it; one that is not UTF-8 is
// refused.
static s32 RouteCmd_ApplySet(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                             s32 *ps32Result)
{
    const RouteFamily_S *pstFamily = (const RouteFamily_S *)pvArg;
    const cJSON *pstSource = cJSON_GetObjectItem(pstRoot, pstFamily->pszBody);
    if (!cJSON_IsObject(pstSource)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get request err!\n", log_Time());
        return -1;
    }
    ProtocolMatrix_S stMatrix;
    memset(&stMatrix, 0, sizeof(stMatrix));
    s32 s32Got = protocol_body_text(pstSource, "txid", stMatrix.azTxId);
    if (s32Got == 0) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get cmd err!\n", log_Time());
        return -1;
    }
    if (s32Got < 0) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: %s: txid not UTF-8\n", log_Time(), __func__);
        *ps32Result = -1;
        return 0;
    }
    stMatrix.bEnable = 1;
    *ps32Result = (pstServer->stCallback.*pstFamily->pSet)(pstServer->pUser, &stMatrix);
    return 0;
}

static s32 RouteCmd_Set(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                        const char *pszRequest, char *pszReply, const RouteFamily_S *pstFamily)
{
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply,
                                     pstServer->stCallback.*pstFamily->pSet != nullptr,
                                     RouteCmd_ApplySet, pstFamily);
}

// A clear is served only by a box that also reports the route.
static s32 RouteCmd_Clear(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                          char *pszReply, const RouteFamily_S *pstFamily)
{
    ProtocolAction_F *pfnClear = pstServer->stCallback.*pstFamily->pGet != nullptr
                                     ? pstServer->stCallback.*pstFamily->pClear : nullptr;
    return protocol_server_frame_action(pstServer, pstHead, pszReply, pfnClear, false);
}

s32 protocol_server_handle_matrix_get(ProtocolServer_S *pstServer,
                                      const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return RouteCmd_Get(pstServer, pstHead, pszReply, &s_stVideo);
}

s32 protocol_server_handle_matrix_set(ProtocolServer_S *pstServer,
                                      const ProtocolRequestHead_S *pstHead,
                                      const char *pszRequest, char *pszReply)
{
    return RouteCmd_Set(pstServer, pstHead, pszRequest, pszReply, &s_stVideo);
}

s32 protocol_server_handle_matrix_clear(ProtocolServer_S *pstServer,
                                        const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return RouteCmd_Clear(pstServer, pstHead, pszReply, &s_stVideo);
}

s32 protocol_server_handle_serial_matrix_get(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return RouteCmd_Get(pstServer, pstHead, pszReply, &s_stSerial);
}

s32 protocol_server_handle_serial_matrix_set(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead,
                                             const char *pszRequest, char *pszReply)
{
    return RouteCmd_Set(pstServer, pstHead, pszRequest, pszReply, &s_stSerial);
}

s32 protocol_server_handle_serial_matrix_clear(ProtocolServer_S *pstServer,
                                               const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return RouteCmd_Clear(pstServer, pstHead, pszReply, &s_stSerial);
}

s32 protocol_server_handle_ir_matrix_get(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return RouteCmd_Get(pstServer, pstHead, pszReply, &s_stIr);
}

s32 protocol_server_handle_ir_matrix_set(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead,
                                         const char *pszRequest, char *pszReply)
{
    return RouteCmd_Set(pstServer, pstHead, pszRequest, pszReply, &s_stIr);
}

s32 protocol_server_handle_ir_matrix_clear(ProtocolServer_S *pstServer,
                                           const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return RouteCmd_Clear(pstServer, pstHead, pszReply, &s_stIr);
}

static cJSON *RouteCmd_SerialBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                                  const void *pvArg)
{
    (void)pstInfo;
    (void)pvArg;
    ProtocolSerialParams_S stSerial;
    memset(&stSerial, 0, sizeof(stSerial));
    (void)pstServer->stCallback.ongetSerialparams(pstServer->pUser, &stSerial);   // cannot refuse
    cJSON *pstBody = cJSON_CreateObject();
    if (pstBody == nullptr || !protocol_json_adddec(pstBody, "baudrate", stSerial.s32Baudrate) ||
        !protocol_json_adddec(pstBody, "databits", stSerial.s32Databits) ||
        !protocol_json_adddec(pstBody, "parity", stSerial.s32Parity) ||
        !protocol_json_adddec(pstBody, "stopbits", stSerial.s32Stopbits)) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

s32 protocol_server_handle_serial_get_params(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return protocol_server_frame_get(pstServer, pstHead, pszReply,
                                     pstServer->stCallback.ongetSerialparams != nullptr,
                                     "serialparams", RouteCmd_SerialBody, nullptr);
}

static s32 RouteCmd_ApplySerial(ProtocolServer_S *pstServer, const cJSON *pstRoot,
                                const void *pvArg, s32 *ps32Result)
{
    (void)pvArg;
    const cJSON *pstParams = cJSON_GetObjectItem(pstRoot, "serialparams");
    if (!cJSON_IsObject(pstParams)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get serialparams err!\n", log_Time());
        return -1;
    }
    ProtocolSerialParams_S stSerial;
    memset(&stSerial, 0, sizeof(stSerial));
    const struct { const char *pszKey; s32 *ps32Field; } astKeys[] = {
        {"baudrate", &stSerial.s32Baudrate},
        {"databits", &stSerial.s32Databits},
        {"parity", &stSerial.s32Parity},
        {"stopbits", &stSerial.s32Stopbits},
    };
    for (const auto &stKey : astKeys) {
        s32 s32Got = protocol_body_dec(pstParams, stKey.pszKey, stKey.ps32Field);
        if (s32Got == 0) {
            Debug_LogLimited(&s_stBodyLimit, "[%s]: get cmd err!\n", log_Time());
            return -1;
        }
        if (s32Got < 0)
            return 0;   // status "failure", the port left alone
    }
    *ps32Result = pstServer->stCallback.onsetSerialparams(pstServer->pUser, &stSerial);
    return 0;
}

s32 protocol_server_handle_serial_set_params(ProtocolServer_S *pstServer,
                                             const ProtocolRequestHead_S *pstHead,
                                             const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply,
                                     pstServer->stCallback.onsetSerialparams != nullptr,
                                     RouteCmd_ApplySerial, nullptr);
}

// The payload reaches the slot whole; one that is not base64 is refused.
static s32 RouteCmd_ApplyData(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                              s32 *ps32Result)
{
    ProtocolSendData_F *pfnSend = *(ProtocolSendData_F *const *)pvArg;
    const cJSON *pstData = cJSON_GetObjectItem(pstRoot, "data");
    if (!cJSON_IsString(pstData)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get cmd err!\n", log_Time());
        return -1;
    }
    u8 au8Payload[PROTOCOL_PAYLOAD_LEN];
    memset(au8Payload, 0, sizeof(au8Payload));
    s32 s32Len = protocol_payload_decode(pstData->valuestring, au8Payload);
    if (s32Len < 0) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: %s: data is not base64\n", log_Time(), __func__);
        *ps32Result = -1;
        return 0;
    }
    *ps32Result = pfnSend(pstServer->pUser, au8Payload, (u32)s32Len);
    return 0;
}

s32 protocol_server_handle_serial_data(ProtocolServer_S *pstServer,
                                       const ProtocolRequestHead_S *pstHead,
                                       const char *pszRequest, char *pszReply)
{
    ProtocolSendData_F *pfnSend = pstServer->stCallback.onrecvSerialData;
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply, pfnSend != nullptr,
                                     RouteCmd_ApplyData, &pfnSend);
}

s32 protocol_server_handle_ir_data(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead, const char *pszRequest,
                                   char *pszReply)
{
    ProtocolSendData_F *pfnSend = pstServer->stCallback.onrecvIrData;
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply, pfnSend != nullptr,
                                     RouteCmd_ApplyData, &pfnSend);
}
