// The commands the dispatcher serves itself: discovery, the encoder and
// receiver parameters, the one-value getters and the factory reset.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "core/Debug.h"
#include "protocol/JsonUtil.h"
#include "protocol/ProtocolCommands.h"
#include "protocol/ProtocolHandler.h"

static DebugLimit_S s_stBodyLimit;   // bodies come from peers
static DebugLimit_S s_stTxLimit;     // every "config set tx params" is logged

struct BuiltinDecKey_S {
    const char *pszKey;
    size_t u32Offset;   // of the u32 or s32 field in the record
};

static const BuiltinDecKey_S s_astTxKeys[] = {
    {"encres", offsetof(ProtocolEncodeParams_S, u32EncRes)},
    {"fps", offsetof(ProtocolEncodeParams_S, u32Fps)},
    {"bitrate", offsetof(ProtocolEncodeParams_S, u32Bitrate)},
    {"audioinput", offsetof(ProtocolEncodeParams_S, u32AudioInput)},
    {"audiofreq", offsetof(ProtocolEncodeParams_S, u32AudioFreq)},
    {"audiobitrate", offsetof(ProtocolEncodeParams_S, u32AudioBitrate)},
};

static const BuiltinDecKey_S s_astRxKeys[] = {
    {"luma", offsetof(ProtocolDecodeParams_S, s32Luma)},
    {"contrast", offsetof(ProtocolDecodeParams_S, s32Contrast)},
    {"hue", offsetof(ProtocolDecodeParams_S, s32Hue)},
    {"saturation", offsetof(ProtocolDecodeParams_S, s32Saturation)},
    {"videoformat", offsetof(ProtocolDecodeParams_S, s32VideoFormat)},
};

static const char *Builtin_EncType(s32 enEncType)
{
    return enEncType == 1 ? "H264" : "H265";
}

static const char *Builtin_RateControl(s32 enRateControl)
{
    return enRateControl == 1 ? "CBR" : "VBR";
}

static const char *Builtin_AudioCodec(s32 enAudioCodec)
{
    return enAudioCodec == 1 ? "AAC" : "PCM";
}

// A string member, or null when it is missing or of another kind.
static const char *Builtin_Text(const cJSON *pstObj, const char *pszKey)
{
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszKey);
    return cJSON_IsString(pstItem) ? pstItem->valuestring : nullptr;
}

// Reads the decimal texts of the keys into the record's 32-bit fields,
// each value within s64Min..s64Max. 1 when all are read; 0 when a key is
// missing (or not a text), -1 (logged) when a text is no such number; then
// *ppszKey is that key.
static s32 Builtin_ReadDec(const cJSON *pstObj, const BuiltinDecKey_S *pstKeys, u32 u32Count,
                           s64 s64Min, s64 s64Max, void *pvRecord, const char **ppszKey)
{
    for (u32 i = 0; i < u32Count; i++) {
        *ppszKey = pstKeys[i].pszKey;
        const char *pszText = Builtin_Text(pstObj, pstKeys[i].pszKey);
        if (pszText == nullptr)
            return 0;
        s64 s64Value;
        if (Json_DecInRange(pszText, pstKeys[i].pszKey, s64Min, s64Max, &s64Value) < 0)
            return -1;
        u32 u32Bits = (u32)s64Value;   // the field's own bits, signed or not
        memcpy((u8 *)pvRecord + pstKeys[i].u32Offset, &u32Bits, sizeof(u32Bits));
    }
    return 1;
}

// 1 for the first text, 2 for the second, 0 for another or none.
static s32 Builtin_Code(const char *pszText, const char *pszOne, const char *pszTwo)
{
    if (pszText == nullptr)
        return 0;
    return strcmp(pszText, pszOne) == 0 ? 1 : strcmp(pszText, pszTwo) == 0 ? 2 : 0;
}

// The encoder members shared by the device and the tx-params replies.
static bool Builtin_AddVideo(cJSON *pstBody, const ProtocolEncodeParams_S *pstEnc)
{
    return cJSON_AddStringToObject(pstBody, "enctype", Builtin_EncType(pstEnc->enEncType)) &&
           protocol_json_adddec(pstBody, "encres", pstEnc->u32EncRes) &&
           protocol_json_adddec(pstBody, "fps", pstEnc->u32Fps) &&
           cJSON_AddStringToObject(pstBody, "ratecontrol",
                                   Builtin_RateControl(pstEnc->enRateControl)) &&
           protocol_json_adddec(pstBody, "bitrate", pstEnc->u32Bitrate);
}

static bool Builtin_AddAudio(cJSON *pstBody, const ProtocolEncodeParams_S *pstEnc)
{
    return cJSON_AddStringToObject(pstBody, "audiocodec",
                                   Builtin_AudioCodec(pstEnc->enAudioCodec)) &&
           protocol_json_adddec(pstBody, "audiofreq", pstEnc->u32AudioFreq) &&
           protocol_json_adddec(pstBody, "audiobitrate", pstEnc->u32AudioBitrate);
}

static bool Builtin_AddAddress(cJSON *pstBody, const ProtocolNetParams_S *pstNet)
{
    return protocol_json_addtext(pstBody, "devaddr", pstNet->azDevAddr, PROTOCOL_TEXT_LEN) &&
           protocol_json_addtext(pstBody, "devnetmask", pstNet->azDevNetmask, PROTOCOL_TEXT_LEN) &&
           protocol_json_addtext(pstBody, "devgateway", pstNet->azDevGateway, PROTOCOL_TEXT_LEN);
}

static bool Builtin_AddNumbers(cJSON *pstBody, const char *const *ppszKeys, const s32 *ps32Values,
                               u32 u32Count)
{
    for (u32 i = 0; i < u32Count; i++)
        if (!cJSON_AddNumberToObject(pstBody, ppszKeys[i], ps32Values[i]))
            return false;
    return true;
}

// Slots 28 and 24 into zeroed records.
static void Builtin_GetEncNet(ProtocolServer_S *pstServer, ProtocolEncodeParams_S *pstEnc,
                              ProtocolNetParams_S *pstNet)
{
    memset(pstEnc, 0, sizeof(*pstEnc));
    memset(pstNet, 0, sizeof(*pstNet));
    // The replies answer "success" whatever the callbacks say: their records stay zeroed.
    (void)pstServer->stCallback.ongetNet(pstServer->pUser, pstNet);
    (void)pstServer->stCallback.getEncodeparams(pstServer->pUser, pstEnc);
}

// The uptime as an array of days, hours and minutes.
static bool Builtin_AddUptime(cJSON *pstBody, const u32 *pu32Up)
{
    cJSON *pstUp = cJSON_AddArrayToObject(pstBody, "up");
    for (u32 i = 0; pstUp != nullptr && i < 3; i++) {
        cJSON *pstNum = cJSON_CreateNumber(pu32Up[i]);
        if (!cJSON_AddItemToArray(pstUp, pstNum)) {
            cJSON_Delete(pstNum);
            return false;
        }
    }
    return pstUp != nullptr;
}

static bool Builtin_AddDescription(cJSON *pstBody, const ProtocolDeviceInfo_S *pstInfo,
                                   const ProtocolNetParams_S *pstNet)
{
    bool bOk = protocol_json_addtext(pstBody, "deviceid", pstInfo->azDeviceId, PROTOCOL_TEXT_LEN) &&
               protocol_json_addtext(pstBody, "devtype", pstInfo->azDevType, PROTOCOL_TEXT_LEN) &&
               protocol_json_addtext(pstBody, "alias", pstInfo->azAlias, PROTOCOL_TEXT_LEN) &&
               protocol_json_addtext(pstBody, "chip", pstInfo->azChip, PROTOCOL_TEXT_LEN) &&
               cJSON_AddNumberToObject(pstBody, "id", pstInfo->s32Id) &&
               cJSON_AddNumberToObject(pstBody, "static", pstNet->bStatic) &&
               Builtin_AddAddress(pstBody, pstNet) &&
               protocol_json_addtext(pstBody, "devmac", pstNet->azDevMac, PROTOCOL_TEXT_LEN) &&
               protocol_json_addtext(pstBody, "status", pstInfo->azStatus, PROTOCOL_TEXT_LEN) &&
               protocol_json_addtext(pstBody, "version", pstInfo->azVersion, PROTOCOL_TEXT_LEN) &&
               Builtin_AddUptime(pstBody, pstInfo->au32Up);
    if (!bOk)
        return false;
    static const char *const s_apszKeys[] = {"voltage", "lcd", "led", "serialbr", "serialbs",
                                             "serialpa", "serialsb", "edid", "audioinput"};
    const s32 as32Values[] = {pstInfo->s32Voltage, pstInfo->s32Lcd, pstInfo->s32Led,
                              pstInfo->s32SerialBr, pstInfo->s32SerialBs, pstInfo->s32SerialPa,
                              pstInfo->s32SerialSb, pstInfo->s32Edid, pstInfo->s32AudioInput};
    return Builtin_AddNumbers(pstBody, s_apszKeys, as32Values, ARRAY_SIZE(as32Values));
}

static bool Builtin_AddReceiver(cJSON *pstBody, const ProtocolDeviceInfo_S *pstInfo)
{
    static const char *const s_apszKeys[] = {"scale", "videomode", "button", "ir", "rotate",
                                             "osd", "videooutput", "videomute", "videopause",
                                             "audioformat"};
    const s32 as32Values[] = {pstInfo->s32Scale, pstInfo->s32VideoMode, pstInfo->s32Button,
                              pstInfo->s32Ir, pstInfo->s32Rotate, pstInfo->s32Osd,
                              pstInfo->s32VideoOutput, pstInfo->s32VideoMute,
                              pstInfo->s32VideoPause, pstInfo->s32AudioFormat};
    return protocol_json_addtext(pstBody, "tx", pstInfo->azTx, PROTOCOL_TEXT_LEN) &&
           Builtin_AddNumbers(pstBody, s_apszKeys, as32Values, ARRAY_SIZE(as32Values));
}

static cJSON *Builtin_DeviceBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                                 const void *pvArg)
{
    (void)pvArg;
    ProtocolEncodeParams_S stEnc;
    ProtocolNetParams_S stNet;
    Builtin_GetEncNet(pstServer, &stEnc, &stNet);
    cJSON *pstBody = cJSON_CreateObject();
    bool bOk = pstBody != nullptr && Builtin_AddDescription(pstBody, pstInfo, &stNet) &&
               Builtin_AddVideo(pstBody, &stEnc) && Builtin_AddAudio(pstBody, &stEnc) &&
               Builtin_AddReceiver(pstBody, pstInfo) &&
               cJSON_AddNumberToObject(pstBody, "httpport", stNet.s32HttpPort);
    if (!bOk) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

static cJSON *Builtin_TxBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                             const void *pvArg)
{
    (void)pvArg;
    ProtocolEncodeParams_S stEnc;
    ProtocolNetParams_S stNet;
    Builtin_GetEncNet(pstServer, &stEnc, &stNet);
    static const char *const s_apszKeys[] = {"voltage", "lcd", "led"};
    const s32 as32Values[] = {stEnc.s32Voltage, stEnc.s32Lcd, stEnc.s32Led};
    cJSON *pstBody = cJSON_CreateObject();
    bool bOk =
        pstBody != nullptr &&
        protocol_json_addtext(pstBody, "alias", pstInfo->azAlias, PROTOCOL_TEXT_LEN) &&
        protocol_json_addtext(pstBody, "deviceid", pstInfo->azDeviceId, PROTOCOL_TEXT_LEN) &&
        cJSON_AddNumberToObject(pstBody, "id", pstInfo->s32Id) &&
        Builtin_AddAddress(pstBody, &stNet) && Builtin_AddVideo(pstBody, &stEnc) &&
        protocol_json_adddec(pstBody, "audioinput", stEnc.u32AudioInput) &&
        Builtin_AddAudio(pstBody, &stEnc) &&
        protocol_json_addtext(pstBody, "videoresstatus", stEnc.azVideoResStatus,
                              PROTOCOL_TEXT_LEN) &&
        protocol_json_addtext(pstBody, "hdcpstatus", stEnc.azHdcpStatus, PROTOCOL_TEXT_LEN) &&
        Builtin_AddNumbers(pstBody, s_apszKeys, as32Values, ARRAY_SIZE(as32Values));
    if (!bOk) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

static cJSON *Builtin_RxBody(ProtocolServer_S *pstServer, const ProtocolDeviceInfo_S *pstInfo,
                             const void *pvArg)
{
    (void)pvArg;
    ProtocolDecodeParams_S stDec{};
    (void)pstServer->stCallback.getDecodeparams(pstServer->pUser, &stDec);   // zeros on failure
    const s32 as32Values[] = {stDec.s32Luma, stDec.s32Contrast, stDec.s32Hue,
                              stDec.s32Saturation, stDec.s32VideoFormat};
    cJSON *pstBody = cJSON_CreateObject();
    bool bOk = pstBody != nullptr &&
               protocol_json_addtext(pstBody, "alias", pstInfo->azAlias, PROTOCOL_TEXT_LEN) &&
               protocol_json_addtext(pstBody, "deviceid", pstInfo->azDeviceId, PROTOCOL_TEXT_LEN);
    for (u32 i = 0; bOk && i < ARRAY_SIZE(s_astRxKeys); i++)
        bOk = protocol_json_adddec(pstBody, s_astRxKeys[i].pszKey, as32Values[i]);
    bOk = bOk &&
          protocol_json_addtext(pstBody, "videoresstatus", stDec.azVideoResStatus,
                                PROTOCOL_TEXT_LEN) &&
          protocol_json_addtext(pstBody, "hdcpstatus", stDec.azHdcpStatus, PROTOCOL_TEXT_LEN);
    if (!bOk) {
        cJSON_Delete(pstBody);
        return nullptr;
    }
    return pstBody;
}

static s32 Builtin_ApplyTx(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                           s32 *ps32Result)
{
    (void)pvArg;
    const cJSON *pstTx = cJSON_GetObjectItem(pstRoot, "txparams");
    if (!cJSON_IsObject(pstTx)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get request err!\n", log_Time());
        return -1;
    }
    ProtocolEncodeParams_S stEnc{};
    stEnc.enEncType = Builtin_Code(Builtin_Text(pstTx, "enctype"), "H264", "H265");
    stEnc.enRateControl = Builtin_Code(Builtin_Text(pstTx, "ratecontrol"), "CBR", "VBR");
    const char *pszAudio = Builtin_Text(pstTx, "audiocodec");
    const char *pszKey = nullptr;
    s32 s32Dec = Builtin_ReadDec(pstTx, s_astTxKeys, ARRAY_SIZE(s_astTxKeys), 0, UINT32_MAX, &stEnc, &pszKey);
    if (stEnc.enEncType == 0 || stEnc.enRateControl == 0 || pszAudio == nullptr || s32Dec == 0) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get cmd err!\n", log_Time());
        return -1;
    }
    if (s32Dec < 0)
        return 0;   // status "failure", as for a value the encoder cannot run
    stEnc.enAudioCodec = strcmp(pszAudio, "AAC") == 0 ? 1 : 0;
    *ps32Result = pstServer->stCallback.setEncodeparams(pstServer->pUser, &stEnc);
    return 0;
}

static s32 Builtin_ApplyRx(ProtocolServer_S *pstServer, const cJSON *pstRoot, const void *pvArg,
                           s32 *ps32Result)
{
    (void)pvArg;
    const cJSON *pstRx = cJSON_GetObjectItem(pstRoot, "rxparams");
    if (!cJSON_IsObject(pstRx)) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get rxparams err!\n", log_Time());
        return -1;
    }
    ProtocolDecodeParams_S stDec{};
    const char *pszKey = nullptr;
    s32 s32Dec = Builtin_ReadDec(pstRx, s_astRxKeys, ARRAY_SIZE(s_astRxKeys), INT32_MIN, INT32_MAX, &stDec, &pszKey);
    if (s32Dec == 0) {
        Debug_LogLimited(&s_stBodyLimit, "[%s]: get %s err!\n", log_Time(), pszKey);
        return -1;
    }
    if (s32Dec < 0)
        return 0;   // status "failure"
    *ps32Result = pstServer->stCallback.setDecodeparams(pstServer->pUser, &stDec);
    return 0;
}

s32 protocol_server_getDevice(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                              char *pszReply)
{
    const ProtocolServerCallback_S *pstCb = &pstServer->stCallback;
    return protocol_server_frame_get(pstServer, pstHead, pszReply,
                                     pstCb->getEncodeparams != nullptr && pstCb->ongetNet != nullptr,
                                     "device", Builtin_DeviceBody, nullptr);
}

s32 protocol_server_getTxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                char *pszReply)
{
    const ProtocolServerCallback_S *pstCb = &pstServer->stCallback;
    return protocol_server_frame_get(pstServer, pstHead, pszReply,
                                     pstCb->getEncodeparams != nullptr && pstCb->ongetNet != nullptr,
                                     "txparams", Builtin_TxBody, nullptr);
}

s32 protocol_server_setTxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                const char *pszRequest, char *pszReply)
{
    Debug_LogLimited(&s_stTxLimit, "[%s]: %s\n", log_Time(), "config_set_tx_params");
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply,
                                     pstServer->stCallback.setEncodeparams != nullptr,
                                     Builtin_ApplyTx, nullptr);
}

s32 protocol_server_getRxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                char *pszReply)
{
    return protocol_server_frame_get(pstServer, pstHead, pszReply,
                                     pstServer->stCallback.getDecodeparams != nullptr, "rxparams",
                                     Builtin_RxBody, nullptr);
}

s32 protocol_server_setRxParams(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                const char *pszRequest, char *pszReply)
{
    return protocol_server_frame_set(pstServer, pstHead, pszRequest, pszReply,
                                     pstServer->stCallback.setDecodeparams != nullptr,
                                     Builtin_ApplyRx, nullptr);
}

s32 protocol_server_getId(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                          char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetId, "DevId", "id");
}

s32 protocol_server_getIrVoltage(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetIrVoltage, "info", "voltage");
}

s32 protocol_server_getDisplayMode(ProtocolServer_S *pstServer,
                                   const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetDisplayMode, "info",
                                          "display");
}

s32 protocol_server_getPwrLedMode(ProtocolServer_S *pstServer,
                                  const ProtocolRequestHead_S *pstHead, char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetPwrLedMode, "info", "led");
}

s32 protocol_server_getHdcpMode(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetHdcpMode, "info", "hdcp");
}

s32 protocol_server_getStreamDbg(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                                 char *pszReply)
{
    return protocol_server_frame_getvalue(pstServer, pstHead, pszReply,
                                          pstServer->stCallback.ongetStreamDbg, "info",
                                          "streamdbg");
}

s32 protocol_server_factory(ProtocolServer_S *pstServer, const ProtocolRequestHead_S *pstHead,
                            char *pszReply)
{
    return protocol_server_frame_action(pstServer, pstHead, pszReply,
                                        pstServer->stCallback.onFactory, false);
}
