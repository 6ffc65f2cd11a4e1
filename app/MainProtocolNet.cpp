// The box's network settings as the control protocol reports them: the
// live records, so a DHCP lease shows as the address in use.
#include "app/Main.h"
#include "app/MainProtocol.h"
#include "config/ConfigAttr.h"

s32 Main_Protocolserver_ongetNet(void *pUser, ProtocolNetParams_S *pstNet)
{
    (void)pUser;
    const NetServerConfig_S *pstCfg = &g_stMainServerAttr.stConifg;
    pstNet->bHdcpServer = g_stConfigAttr.stNetAttr.bHdcpServer != 0 ? 1 : 0;
    pstNet->bStatic = pstCfg->stDhcp.enDHCP == 1 ? 0 : 1;
    Main_Protocol_CopyText(pstNet->azDevAddr, pstCfg->azHostIP, sizeof(pstCfg->azHostIP));
    Main_Protocol_CopyText(pstNet->azDevNetmask, pstCfg->azNetmask, sizeof(pstCfg->azNetmask));
    Main_Protocol_CopyText(pstNet->azDevGateway, pstCfg->azGateway, sizeof(pstCfg->azGateway));
    Main_Protocol_CopyText(pstNet->azDevMac, pstCfg->azMac, sizeof(pstCfg->azMac));
    pstNet->s32HttpPort = (s32)pstCfg->stWeb.u32Port;
    return 0;
}
