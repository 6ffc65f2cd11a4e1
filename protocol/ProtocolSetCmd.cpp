// The setting commands: one value at the root of the request, the alias,
// the one-value getters, the commands without parameters and the network
// parameters.
#include <cstdint>
#include <cstring>

#include "core/Debug.h"
#include "core/Utf8.h"
#include "protocol/JsonUtil.h"
#include "protocol/ProtocolHandler.h"
#include "protocol/ProtocolSetCmd.h"

static DebugLimit_S s_stBodyLimit;   // bodies come from peers

s32 protocol_body_text(const cJSON *pstObj, const char *pszKey, char *azOut)
{
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszKey);
    if (!cJSON_IsString(pstItem))
        return 0;
    return Utf8_CopyCut(azOut, PROTOCOL_TEXT_LEN, pstItem->valuestring) < 0 ? -1 : 1;
}

s32 protocol_body_dec(const cJSON *pstObj, const char *pszKey, s32 *ps32Out)
{
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszKey);
    if (!cJSON_IsString(pstItem))
        return 0;
    s64 s64Value;
    if (Json_DecInRange(pstItem->valuestring, pszKey, INT32_MIN, INT32_MAX, &s64Value) < 0)
        return -1;
    *ps32Out = (s32)s64Value;
    return 1;
}

// Slot 3 takes the text as it came; the callback decides what it stores.
static s32 SetCmd_ApplyAlias(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                             s32 *ps32Result)
{
    (void)pvArg;
    const cJSON *pstAlias = cJSON_GetObjectItem(pstRoot, "alias");
    if (!cJSON_IsObject(pstAlias)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get request err!\n", log_Time());
        return -1;
    }
    const cJSON *pstName = cJSON_GetObjectItem(pstAlias, "name");
    if (!cJSON_IsString(pstName)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get cmd err!\n", log_Time());
        return -1;
    }
    *ps32Result = pstServer->stCallback.onsetAlias(pstServer->pUser, pstName->valuestring);
    return 0;
}

s32 protocol_server_handle_config_set_alias(ProtocolServer_S *pstServer,
                                            const ProtocolRequestHead_S *pstHead,
                                            const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply,
                                     pstServer->stCallback.onsetAlias != nullptr,
                                     SetCmd_ApplyAlias, nullptr);
}

s32 protocol_server_handle_config_set_id(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead,
                                         const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetId, "id");
}

s32 protocol_server_handle_config_set_ir_voltage(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetIrVoltage, "voltage");
}

s32 protocol_server_handle_config_set_display_mode(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetDisplayMode, "display");
}

s32 protocol_server_handle_config_set_pwrled_mode(ProtocolServer_S *pstServer,
                                                  const ProtocolRequestHead_S *pstHead,
                                                  const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetPwrLedMode, "led");
}

s32 protocol_server_handle_config_set_hdcp_mode(ProtocolServer_S *pstServer,
                                                const ProtocolRequestHead_S *pstHead,
                                                const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetHdcpMode, "hdcp");
}

s32 protocol_server_handle_config_set_stream_dbg(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetStreamDbg, "streamdbg");
}

s32 protocol_server_handle_config_set_buttons_mode(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetButtonsMode, "buttons");
}

s32 protocol_server_handle_config_set_ir_mode(ProtocolServer_S *pstServer,
                                              const ProtocolRequestHead_S *pstHead,
                                              const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetIrMode, "ir");
}

s32 protocol_server_handle_config_set_tx_audio_format(ProtocolServer_S *pstServer,
                                                      const ProtocolRequestHead_S *pstHead,
                                                      const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetTxAudioFormat, "audioformat");
}

s32 protocol_server_handle_config_set_tx_indexedid(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_setvalue(pstServer, pstHead, pszRequest, pszReply,
                                          pstServer->stCallback.onsetTxEdidIndex, "edididx");
}

s32 protocol_server_handle_config_get_buttons_mode(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetButtonsMode, "info",
                                          "buttons");
}

s32 protocol_server_handle_config_get_ir_mode(ProtocolServer_S *pstServer,
                                              const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetIrMode, "info", "ir");
}

s32 protocol_server_handle_config_get_tx_indexedid(ProtocolServer_S *pstServer,
                                                   const ProtocolRequestHead_S *pstHead,
                                                   char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetTxEdidIndex, "info",
                                          "edididx");
}

s32 protocol_server_handle_config_remove_alias(ProtocolServer_S *pstServer,
                                               const ProtocolRequestHead_S *pstHead,
                                               char *pszReply)
{
    return protocol_server_frame_action(pstServer, pstHead, pszReply,
                                        pstServer->stCallback.onremoveAlias, true);
}

s32 protocol_server_handle_iframe_get(ProtocolServer_S *pstServer,
                                      const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return protocol_server_frame_action(pstServer, pstHead, pszReply,
                                        pstServer->stCallback.ongetIframe, false);
}

s32 protocol_server_handle_device_showme(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return protocol_server_frame_action(pstServer, pstHead, pszReply,
                                        pstServer->stCallback.onshowMe, false);
}

s32 protocol_server_handle_device_reboot(ProtocolServer_S *pstServer,
                                         const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return protocol_server_frame_action(pstServer, pstHead, pszReply,
                                        pstServer->stCallback.onReboot, false);
}

static cJSON *SetCmd_NetBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                             const void *pvArg)
{
    (void)pstInfo;
    (void)pvArg;
    ProtocolNetParams_S stNet;
    memset(&stNet, 0, sizeof(stNet));
    (void)pstServer->stCallback.ongetNet(pstServer->pUser, &stNet);   // a getter cannot refuse
    cJSON *pstBody = cJSON_CreateObject();
    if (pstBody == nullptr || !protocol_json_adddec(pstBody, "hdcpserver", stNet.bHdcpServer) ||
        !protocol_json_adddec(pstBody, "static", stNet.bStatic) ||
        !protocol_json_addtext(pstBody, "devaddr", stNet.azDevAddr, PROTOCOL_TEXT_LEN) ||
        !protocol_json_addtext(pstBody, "devnetmask", stNet.azDevNetmask, PROTOCOL_TEXT_LEN) ||
        !protocol_json_addtext(pstBody, "devgateway", stNet.azDevGateway, PROTOCOL_TEXT_LEN) ||
        !protocol_json_addtext(pstBody, "devmac", stNet.azDevMac, PROTOCOL_TEXT_LEN)) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

s32 protocol_server_handle_config_get_net_params(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 char *pszReply)
{
    return protocol_server_frame_get(pstServer, pstHead, pszReply,
                                     pstServer->stCallback.ongetNet != nullptr, "netparams",
                                     SetCmd_NetBody, nullptr);
}

// Reads "netparams"; every fault is a refusal (status "failure"), never a
// request without an answer. Slot 29 is called only with a whole record.
static s32 SetCmd_ApplyNet(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                           s32 *ps32Result)
{
    static const char *const s_apszFlags[] = {"hdcpserver", "static"};
    static const struct {
        const char *pszKey;
        size_t sizeOffset;
    } s_astTexts[] = {
        {"devaddr", offsetof(ProtocolNetParams_S, azDevAddr)},
        {"devnetmask", offsetof(ProtocolNetParams_S, azDevNetmask)},
        {"devgateway", offsetof(ProtocolNetParams_S, azDevGateway)},
        {"devmac", offsetof(ProtocolNetParams_S, azDevMac)},
    };
    (void)pvArg;
    *ps32Result = -1;
    ProtocolNetParams_S stNet;
    memset(&stNet, 0, sizeof(stNet));
    const cJSON *pstParams = cJSON_GetObjectItem(pstRoot, "netparams");
    if (!cJSON_IsObject(pstParams)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get request err!\n", log_Time());
        return 0;
    }
    u8 *apu8Flags[] = {&stNet.bHdcpServer, &stNet.bStatic};
    for (u32 i = 0; i < ARRAY_SIZE(s_apszFlags); i++) {
        s32 s32Value = 0;
        s32 s32Got = protocol_body_dec(pstParams, s_apszFlags[i], &s32Value);
        if (s32Got == 0)
            Debug_LogLimited(&s_stBodyLimit, "[%s]: get %s err!\n", log_Time(), s_apszFlags[i]);
        if (s32Got <= 0)
            return 0;
        *apu8Flags[i] = s32Value == 1 ? 1 : 0;
    }
    for (const auto &stText : s_astTexts) {
        char *pszField = (char *)&stNet + stText.sizeOffset;
        s32 s32Got = protocol_body_text(pstParams, stText.pszKey, pszField);
        if (s32Got == 0)
            Debug_LogLimited(&s_stBodyLimit, "[%s]: get cmd err!\n", log_Time());
        else if (s32Got < 0)
            Debug_LogLimited(&s_stBodyLimit, "[%s]: %s: %s not UTF-8\n", log_Time(), __func__,
                             stText.pszKey);
        if (s32Got <= 0)
            return 0;
    }
    *ps32Result = pstServer->stCallback.onsetNet(pstServer->pUser, &stNet);
    return 0;
}

s32 protocol_server_handle_config_set_net_params(ProtocolServer_S *pstServer,
                                                 const ProtocolRequestHead_S *pstHead,
                                                 const char *pszRequest, char *pszReply)
{
    cJSON *pstRoot = cJSON_Parse(pszRequest);
    if (pstRoot == nullptr) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: cJSON_Parse err!\n", log_Time());
        return protocol_server_frame_action(pstServer, pstHead, pszReply, nullptr, false);
    }
    cJSON_Delete(pstRoot);
    // A new MAC renames the box: the reply still names the box that was asked.
    return protocol_server_frame_set_infofirst(pstServer, pstHead, pszRequest, pszReply,
                                               pstServer->stCallback.onsetNet != nullptr,
                                               SetCmd_ApplyNet, nullptr);
}
