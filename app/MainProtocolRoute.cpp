// The serial and infrared routing entries: which transmitter's data this
// box carries. They live in the settings record only; no key saves them.
#include <cstdio>

#include "app/MainProtocolCb.h"
#include "config/Config.h"
#include "core/Debug.h"

static DebugLimit_S s_stRouteLimit;   // requests come at any rate

static void Main_RouteGet(const ConfigRoute_S *pstRoute, ProtocolMatrix_S *pstMatrix)
{
    pstMatrix->bEnable = pstRoute->s32Enable == 1 ? 1 : 0;
    snprintf(pstMatrix->azTxId, sizeof(pstMatrix->azTxId), "%.31s", pstRoute->azTxId);
}

static s32 Main_RouteSet(ConfigRoute_S *pstRoute, const ProtocolMatrix_S *pstMatrix,
                         const char *pszFunc)
{
    if (!Config_IsFieldText(pstMatrix->azTxId, sizeof(pstMatrix->azTxId))) {
        Debug_LogLimited(&s_stRouteLimit, "[%s]: %s: txid refused\n", log_Time(), pszFunc);
        return -1;
    }
    pstRoute->s32Enable = pstMatrix->bEnable;
    snprintf(pstRoute->azTxId, sizeof(pstRoute->azTxId), "%s", pstMatrix->azTxId);
    (void)MAIN_CONFIG_Update();   // logged there; the next change asks again
    return 0;
}

static s32 Main_RouteClear(ConfigRoute_S *pstRoute)
{
    pstRoute->s32Enable = 0;
    snprintf(pstRoute->azTxId, sizeof(pstRoute->azTxId), CONFIG_ROUTE_CLEARED);
    (void)MAIN_CONFIG_Update();
    return 0;
}

s32 Main_Protocolserver_ongetSerialMatrix(void *pvCtx, ProtocolMatrix_S *pstMatrix)
{
    (void)pvCtx;
    Main_RouteGet(&g_stConfigAttr.stSerialMatrix, pstMatrix);
    return 0;
}

s32 Main_Protocolserver_onsetSerialMatrix(void *pvCtx, const ProtocolMatrix_S *pstMatrix)
{
    (void)pvCtx;
    return Main_RouteSet(&g_stConfigAttr.stSerialMatrix, pstMatrix, __func__);
}

s32 Main_Protocolserver_onclearSerialMatrix(void *pvCtx)
{
    (void)pvCtx;
    return Main_RouteClear(&g_stConfigAttr.stSerialMatrix);
}

s32 Main_Protocolserver_ongetIrMatrix(void *pvCtx, ProtocolMatrix_S *pstMatrix)
{
    (void)pvCtx;
    Main_RouteGet(&g_stConfigAttr.stIrMatrix, pstMatrix);
    return 0;
}

s32 Main_Protocolserver_onsetIrMatrix(void *pvCtx, const ProtocolMatrix_S *pstMatrix)
{
    (void)pvCtx;
    return Main_RouteSet(&g_stConfigAttr.stIrMatrix, pstMatrix, __func__);
}

s32 Main_Protocolserver_onclearIrMatrix(void *pvCtx)
{
    (void)pvCtx;
    return Main_RouteClear(&g_stConfigAttr.stIrMatrix);
}
