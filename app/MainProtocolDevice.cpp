// The box's identity, description and one-value settings as the control
// protocol reports them. The settings record has no lock: texts are copied
// bounded, numbers read as whole words.
#include <cstdio>
#include <cstring>
#include <sys/sysinfo.h>

#include "app/Factory.h"
#include "app/Main.h"
#include "app/MainProtocol.h"
#include "config/ConfigAttr.h"

#define MAIN_PROTOCOL_DEVTYPE  "TX"
#define MAIN_PROTOCOL_KIND     "encoder"
#define MAIN_LED_MODE_BLINK    3   // reported as mode 1

s32 Main_get_uptime(u32 au32Up[3])
{
    struct sysinfo stInfo{};
    if (sysinfo(&stInfo) != 0)
        return 0;   // cannot fail on Linux; the uptime then reads 0
    u32 u32Sec = (u32)stInfo.uptime;
    au32Up[0] = u32Sec / 86400;
    au32Up[1] = (u32Sec / 3600) % 24;
    au32Up[2] = (u32Sec / 60) % 60;
    return 0;
}

s32 Main_Protocolserver_getDeviceid(void *pUser, char *pszType, char *pszDeviceId, s32 *ps32Id)
{
    (void)pUser;
    snprintf(pszType, PROTOCOL_TEXT_LEN, "%s", MAIN_PROTOCOL_DEVTYPE);
    const ConfigDevAttr_S *pstDev = &g_stConfigAttr.stDevAttr;
    Main_Protocol_CopyText(pszDeviceId, pstDev->azDeviceId, sizeof(pstDev->azDeviceId));
    *ps32Id = g_stConfigAttr.stManual.s32ID;
    return 0;
}

s32 Main_Protocolserver_getDeviceinfo(void *pUser, ProtocolDeviceInfo_S *pstInfo)
{
    (void)pUser;
    const ConfigAttr_S *pstCfg = &g_stConfigAttr;
    Main_Protocol_CopyText(pstInfo->azDeviceId, pstCfg->stDevAttr.azDeviceId,
                  sizeof(pstCfg->stDevAttr.azDeviceId));
    Main_Protocol_CopyText(pstInfo->azAlias, pstCfg->stDevAttr.azAlias, sizeof(pstCfg->stDevAttr.azAlias));
    Main_Protocol_CopyText(pstInfo->azChip, g_chip, sizeof(g_chip));
    pstInfo->s32Id = pstCfg->stManual.s32ID;
    snprintf(pstInfo->azDevType, sizeof(pstInfo->azDevType), "%s", MAIN_PROTOCOL_KIND);
    snprintf(pstInfo->azStatus, sizeof(pstInfo->azStatus), "%d", g_stMainServerAttr.bViStart);
    Main_Protocol_CopyText(pstInfo->azVersion, g_stMainServerAttr.stDevInfo.azVersion,
                  sizeof(g_stMainServerAttr.stDevInfo.azVersion));
    (void)Main_get_uptime(pstInfo->au32Up);
    pstInfo->s32Voltage = pstCfg->stManual.s32IrVoltage;
    pstInfo->s32Lcd = pstCfg->stManual.s32LcdDisplayMode;
    s32 s32Led = pstCfg->stManual.s32LedDisplayMode;
    pstInfo->s32Led = s32Led == MAIN_LED_MODE_BLINK ? 1 : s32Led;
    pstInfo->s32SerialBr = (s32)pstCfg->stSerialAttr.u32Baudrate;
    pstInfo->s32SerialBs = (s32)pstCfg->stSerialAttr.u32Databits;
    pstInfo->s32SerialPa = (s32)pstCfg->stSerialAttr.u32Parity;
    pstInfo->s32SerialSb = (s32)pstCfg->stSerialAttr.u32Stopbits;
    pstInfo->s32Edid = pstCfg->stManual.s32Edid_index;
    pstInfo->s32AudioInput = (s32)pstCfg->stMainAttr.u32Audioinput;
    pstInfo->s32AudioFormat = (s32)pstCfg->stMainAttr.u32Audiocodec;
    return 0;
}

s32 Main_Protocolserver_ongetId(void *pUser, s32 *ps32Id)
{
    (void)pUser;
    *ps32Id = g_stConfigAttr.stManual.s32ID;
    return 0;
}

s32 Main_Protocolserver_ongetIrVoltage(void *pUser, s32 *ps32Value)
{
    (void)pUser;
    *ps32Value = g_stConfigAttr.stManual.s32IrVoltage;
    return 0;
}

s32 Main_Protocolserver_ongetDisplayMode(void *pUser, s32 *ps32Mode)
{
    (void)pUser;
    *ps32Mode = g_stConfigAttr.stManual.s32LcdDisplayMode;
    return 0;
}

s32 Main_Protocolserver_ongetPwrLedMode(void *pUser, s32 *ps32Mode)
{
    (void)pUser;
    *ps32Mode = g_stConfigAttr.stManual.s32LedDisplayMode;
    return 0;
}

s32 Main_Protocolserver_ongetHdcpMode(void *pUser, s32 *ps32Mode)
{
    (void)pUser;
    *ps32Mode = g_stConfigAttr.stMisc.s32HdcpMode;
    return 0;
}

s32 Main_Protocolserver_ongetStreamDbg(void *pUser, s32 *ps32Flag)
{
    (void)pUser;
    *ps32Flag = g_stConfigAttr.stMisc.s32StreamDbg;
    return 0;
}

s32 Main_Protocolserver_getDecodeparams(void *pUser, ProtocolDecodeParams_S *pstParams)
{
    (void)pUser;
    (void)pstParams;
    return 0;
}

s32 Main_Protocolserver_setDecodeparams(void *pUser, const ProtocolDecodeParams_S *pstParams)
{
    (void)pUser;
    (void)pstParams;
    return 0;
}

s32 Main_Protocolserver_onFactory(void *pUser)
{
    (void)pUser;
    return MAIN_FACTORY_RESET();
}
