#include "app/MainProtocol.h"

#include <cstdio>
#include <cstring>

#include "app/MainProtocolCb.h"
#include "app/MainProtocolSlots.h"
#include "core/Debug.h"
#include "extension/Ir.h"
#include "protocol/ProtocolServer.h"

void Main_Protocol_CopyText(char *pszDst, const char *pszSrc, size_t u32SrcSize)
{
    size_t u32Len = strnlen(pszSrc, u32SrcSize < PROTOCOL_TEXT_LEN ? u32SrcSize : PROTOCOL_TEXT_LEN - 1);
    memcpy(pszDst, pszSrc, u32Len);
    pszDst[u32Len] = '\0';
}

void MAIN_Protocolserver_Callbacks(ProtocolServerCallback_S *pstCallback)
{
    *pstCallback = ProtocolServerCallback_S{};
    pstCallback->getDeviceid = Main_Protocolserver_getDeviceid;
    pstCallback->getDeviceinfo = Main_Protocolserver_getDeviceinfo;
    pstCallback->ongetAlias = Main_Protocolserver_ongetAlias;
    pstCallback->onsetAlias = Main_Protocolserver_onsetAlias;
    pstCallback->onremoveAlias = Main_Protocolserver_onremoveAlias;
    pstCallback->ongetId = Main_Protocolserver_ongetId;
    pstCallback->onsetId = Main_Protocolserver_onsetId;
    pstCallback->ongetTxEdidIndex = Main_Protocolserver_ongetTxEdidIndex;
    pstCallback->ongetIrVoltage = Main_Protocolserver_ongetIrVoltage;
    pstCallback->onsetIrVoltage = Main_Protocolserver_onsetIrVoltage;
    pstCallback->ongetDisplayMode = Main_Protocolserver_ongetDisplayMode;
    pstCallback->onsetDisplayMode = Main_Protocolserver_onsetDisplayMode;
    pstCallback->ongetPwrLedMode = Main_Protocolserver_ongetPwrLedMode;
    pstCallback->onsetPwrLedMode = Main_Protocolserver_onsetPwrLedMode;
    pstCallback->ongetHdcpMode = Main_Protocolserver_ongetHdcpMode;
    pstCallback->onsetHdcpMode = Main_Protocolserver_onsetHdcpMode;
    pstCallback->ongetStreamDbg = Main_Protocolserver_ongetStreamDbg;
    pstCallback->onsetStreamDbg = Main_Protocolserver_onsetStreamDbg;
    pstCallback->ongetButtonsMode = Main_Protocolserver_ongetButtonsMode;
    pstCallback->onsetButtonsMode = Main_Protocolserver_onsetButtonsMode;
    pstCallback->ongetIrMode = Main_Protocolserver_ongetIrMode;
    pstCallback->onsetIrMode = Main_Protocolserver_onsetIrMode;
    pstCallback->getEncodeparams = Main_Protocolserver_getEncodeparams;
    pstCallback->setEncodeparams = Main_Protocolserver_setEncodeparams;
    pstCallback->onsetTxAudioFormat = Main_Protocolserver_onsetTxAudioFormat;
    pstCallback->onsetTxEdidIndex = Main_Protocolserver_onsetTxEdidIndex;
    pstCallback->getDecodeparams = Main_Protocolserver_getDecodeparams;
    pstCallback->setDecodeparams = Main_Protocolserver_setDecodeparams;
    pstCallback->ongetNet = Main_Protocolserver_ongetNet;
    pstCallback->onsetNet = Main_Protocolserver_onsetNet;
    pstCallback->ongetMatrix = Main_Protocolserver_ongetMatrix;
    pstCallback->onsetMatrix = Main_Protocolserver_onsetMatrix;
    pstCallback->onclearMatrix = Main_Protocolserver_onclearMatrix;
    pstCallback->ongetSerialparams = Main_Protocolserver_ongetSerialparams;
    pstCallback->onsetSerialparams = Main_Protocolserver_onsetSerialparams;
    pstCallback->ongetSerialMatrix = Main_Protocolserver_ongetSerialMatrix;
    pstCallback->onsetSerialMatrix = Main_Protocolserver_onsetSerialMatrix;
    pstCallback->onclearSerialMatrix = Main_Protocolserver_onclearSerialMatrix;
    pstCallback->onrecvSerialData = Main_Protocolserver_onrecvSerialData;
    pstCallback->ongetIrMatrix = Main_Protocolserver_ongetIrMatrix;
    pstCallback->onsetIrMatrix = Main_Protocolserver_onsetIrMatrix;
    pstCallback->onclearIrMatrix = Main_Protocolserver_onclearIrMatrix;
    pstCallback->onrecvIrData = Main_Protocolserver_onrecvIrData;
    pstCallback->onshowMe = Main_Protocolserver_onshowMe;
    pstCallback->onReboot = Main_Protocolserver_onReboot;
    pstCallback->ongetStream = Main_Protocolserver_ongetStream;
    pstCallback->onupdateFirmware = Main_Protocolserver_onupdateFirmware;
    pstCallback->onsetEdid = Main_Protocolserver_onsetEdid;
    pstCallback->onsetUserEdid = Main_Protocolserver_onsetUserEdid;
    pstCallback->onsetEdidIndex = Main_Protocolserver_onsetEdidIndex;
    pstCallback->oncopyEdid = Main_Protocolserver_oncopyEdid;
    pstCallback->ongetIframe = Main_Protocolserver_ongetIframe;
    pstCallback->onFactory = Main_Protocolserver_onFactory;
}

static void MAIN_Protocolserver_SearchIp(const char *pszGroup)
{
    FILE *pFile = fopen(MAIN_SEARCHIP_FILE, "w");
    if (pFile == nullptr) {
        Debug_Log("[%s]: fopen /tmp/searchip err!\n", log_Time());
        return;
    }
    if (fputs(pszGroup, pFile) == EOF)
        Debug_Log("[%s]: %s: write %s failed\n", log_Time(), __func__, MAIN_SEARCHIP_FILE);
    if (fclose(pFile) != 0)
        Debug_Log("[%s]: %s: close %s failed\n", log_Time(), __func__, MAIN_SEARCHIP_FILE);
}

s32 MAIN_Protocolserver_start(ProtocolEndpointAttr_S *pstEndpoint)
{
    if (pstEndpoint->bStart)
        return 0;
    ProtocolServer_S *pstServer = nullptr;
    s32 s32Ret = protocol_server_init(&pstServer, pstEndpoint->azEthName, pstEndpoint->azGroup,
                                      pstEndpoint->u32Port);
    if (s32Ret != 0) {
        Debug_Log("[%s]: protocol_server_init failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    ProtocolServerCallback_S stCallback;
    MAIN_Protocolserver_Callbacks(&stCallback);
    s32Ret = protocol_server_attach(pstServer, stCallback, pstServer);
    if (s32Ret != 0) {
        Debug_Log("[%s]: protocol_server_attach failed with %#x!\n", log_Time(), s32Ret);
        (void)protocol_server_deinit(pstServer);   // ready: cannot fail
        return -1;
    }
    s32Ret = protocol_server_start(pstServer);
    if (s32Ret != 0) {
        Debug_Log("[%s]: protocol_server_start failed with %#x!\n", log_Time(), s32Ret);
        (void)protocol_server_deinit(pstServer);   // still ready: cannot fail
        return -1;
    }
    pstEndpoint->bStart = 1;
    pstEndpoint->hHandle = (intptr_t)pstServer;
    MAIN_Protocolserver_SearchIp(pstEndpoint->azGroup);
    return 0;
}

s32 MAIN_Protocolserver_stop(ProtocolEndpointAttr_S *pstEndpoint)
{
    if (!pstEndpoint->bStart)
        return 0;
    ProtocolServer_S *pstServer = (ProtocolServer_S *)pstEndpoint->hHandle;
    s32 s32Stop = protocol_server_stop(pstServer);
    s32 s32Detach = protocol_server_detach(pstServer);
    s32 s32Deinit = protocol_server_deinit(pstServer);
    if (s32Stop != 0 || s32Detach != 0 || s32Deinit != 0) {
        Debug_Log("[%s]: MAIN_Protocolserver_stop failed with %#x!\n", log_Time(),
                  s32Stop != 0 ? s32Stop : s32Detach != 0 ? s32Detach : s32Deinit);
        return -1;
    }
    pstEndpoint->bStart = 0;
    pstEndpoint->hHandle = -1;
    return 0;
}
