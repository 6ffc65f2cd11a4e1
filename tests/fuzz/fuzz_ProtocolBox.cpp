// Control-protocol requests through the dispatcher to the box's own
// callbacks, on a scratch settings file ("/etc/app.ini" of the box that
// runs the target). Slots that reboot, reset, re-address the box or act
// on the media engine are left out. After every request the settings
// record must still be one that the file can hold.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "app/Main.h"
#include "app/MainConfig.h"
#include "app/MainProtocol.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "protocol/ProtocolDispatch.h"

static ProtocolServer_S *Fuzz_Server(void)
{
    static ProtocolServer_S s_stServer{};
    if (s_stServer.pUser != nullptr)
        return &s_stServer;
    g_bFileDebugOn = 2;   // silent
    snprintf(g_stMainServerAttr.stDevInfo.azMac, sizeof(g_stMainServerAttr.stDevInfo.azMac),
             "02:00:00:00:16:f0");
    (void)MAIN_CONFIG_Init();
    (void)MAIN_CONFIG_Recv(&g_stConfigAttr, &g_stConfigAttrNew);
    snprintf(g_stConfigAttr.stDevAttr.azDeviceId, 32, "0200000016f0");
    g_stMainServerAttr.stHalAttr.stUart.s32Fd = -1;
    ProtocolServerCallback_S stCallback;
    MAIN_Protocolserver_Callbacks(&stCallback);
    stCallback.onReboot = nullptr;
    stCallback.onFactory = nullptr;
    stCallback.onsetNet = nullptr;
    stCallback.setEncodeparams = nullptr;
    stCallback.onsetTxAudioFormat = nullptr;
    stCallback.onupdateFirmware = nullptr;
    stCallback.onsetEdid = nullptr;
    stCallback.onsetUserEdid = nullptr;
    stCallback.onsetEdidIndex = nullptr;
    stCallback.onsetTxEdidIndex = nullptr;
    stCallback.oncopyEdid = nullptr;
    stCallback.ongetIframe = nullptr;
    protocol_server_attach(&s_stServer, stCallback, &s_stServer);
    return &s_stServer;
}

// Texts the file keeps as one value each, and an ID the start-up keeps.
static bool Fuzz_RecordSound(void)
{
    const ConfigAttr_S &stAttr = g_stConfigAttr;
    return Config_IsFieldText(stAttr.stDevAttr.azAlias, 32) &&
           Config_IsFieldText(stAttr.stSerialMatrix.azTxId, 32) &&
           Config_IsFieldText(stAttr.stIrMatrix.azTxId, 32) && stAttr.stManual.s32ID >= 0 &&
           stAttr.stManual.s32ID <= CONFIG_ID_MAX && stAttr.stSerialAttr.u32Parity <= 2 &&
           stAttr.stSerialAttr.u32Databits >= 5 && stAttr.stSerialAttr.u32Databits <= 8;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    ProtocolServer_S *pstServer = Fuzz_Server();
    std::string text((const char *)pu8Data, size < PROTOCOL_TEXT_MAX ? size : PROTOCOL_TEXT_MAX);
    char azReply[PROTOCOL_BUF_LEN] = {};
    ProtocolReplyTo_E enTo;
    s32 s32Ret = protocol_server_dispatch(pstServer, text.c_str(), azReply, &enTo);
    if (s32Ret > 0 && (size_t)s32Ret != strlen(azReply))
        __builtin_trap();
    if (!Fuzz_RecordSound())
        __builtin_trap();
    return 0;
}
