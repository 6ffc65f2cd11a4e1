// The box's protocol client, kept in its endpoint block of the network
// record from the start-up on.
#include <cstdio>

#include "app/Main.h"
#include "app/MainProtocolSlots.h"
#include "config/ConfigAttr.h"
#include "core/Debug.h"

// The device id is taken from the MAC after the client starts, and may
// change later: every request asks for it again.
static s32 Main_Protocolclient_HostId(char *pszHostId)
{
    snprintf(pszHostId, 32, "%.31s", g_stConfigAttr.stDevAttr.azDeviceId);
    return 0;
}

s32 MAIN_Protocolclient_Init(ProtocolEndpointAttr_S *pstEndpoint)
{
    ProtocolClient_S *pstClient = nullptr;
    s32 s32Ret = Protocol_client_init(&pstClient, pstEndpoint->azEthName,
                                      g_stMainServerAttr.stDevInfo.azModel, Main_Protocolclient_HostId,
                                      pstEndpoint->azGroup, pstEndpoint->u32Port);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Protocol_client_init failed with %#x!\n", log_Time(), s32Ret);
        pstEndpoint->hHandle = -1;
        pstEndpoint->bStart = 0;
        return -1;
    }
    pstEndpoint->hHandle = (intptr_t)pstClient;
    pstEndpoint->bStart = 1;
    return 0;
}

s32 MAIN_Protocolclient_deInit(ProtocolEndpointAttr_S *pstEndpoint)
{
    if (!pstEndpoint->bStart)
        return 0;
    s32 s32Ret = Protocol_client_deInit((ProtocolClient_S *)pstEndpoint->hHandle);
    if (s32Ret != 0)
        Debug_Log("[%s]: Protocol_client_deInit failed with %#x!\n", log_Time(), s32Ret);
    pstEndpoint->bStart = 0;
    pstEndpoint->hHandle = -1;
    return s32Ret == 0 ? 0 : -1;
}

ProtocolClient_S *MAIN_Protocolclient_Get(void)
{
    const ProtocolEndpointAttr_S *pstEndpoint = &g_stMainServerAttr.stConifg.stProtocolClientAttr;
    if (pstEndpoint->bStart != 1 || pstEndpoint->hHandle == -1 || pstEndpoint->hHandle == 0)
        return nullptr;
    return (ProtocolClient_S *)pstEndpoint->hHandle;
}
