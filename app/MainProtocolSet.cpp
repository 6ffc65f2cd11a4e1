// Callbacks of the control protocol that change one value of the settings
// record (written into g_stConfigAttr at once, saved by the deferred save)
// and the front-panel actions show-me and reboot.
#include <cstdio>
#include <cstring>

#include "app/Main.h"
#include "app/MainProtocolCb.h"
#include "board/Lcd.h"
#include "board/Led.h"
#include "board/Wdt.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "core/Utf8.h"

// Requests come from the LAN at any rate: their log lines are limited.
static DebugLimit_S s_stAliasLimit;
static DebugLimit_S s_stIdLimit;
static DebugLimit_S s_stDbgLimit;

// Stores a word of the settings record and asks for the save.
static s32 Main_SetWord(s32 *ps32Field, s32 s32Value)
{
    *ps32Field = s32Value;
    (void)MAIN_CONFIG_Update();   // logged there; the next change asks again
    return 0;
}

s32 Main_Protocolserver_ongetAlias(void *pvCtx, char *pszAlias)
{
    (void)pvCtx;
    Main_Protocol_CopyText(pszAlias, g_stConfigAttr.stDevAttr.azAlias,
                           sizeof(g_stConfigAttr.stDevAttr.azAlias));
    return 0;
}

s32 Main_Protocolserver_onsetAlias(void *pvCtx, const char *pszAlias)
{
    (void)pvCtx;
    char azAlias[MAIN_ALIAS_LEN];
    if (Utf8_CopyCut(azAlias, sizeof(azAlias), pszAlias) < 0 ||
        !Config_IsFieldText(azAlias, sizeof(azAlias))) {
        Debug_LogLimited(&s_stAliasLimit, "[%s]: %s: alias refused\n", log_Time(), __func__);
        return -1;
    }
    snprintf(g_stConfigAttr.stDevAttr.azAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "%s",
             azAlias);
    (void)MAIN_CONFIG_Update();   // logged there; the next change asks again
    return 0;
}

s32 Main_Protocolserver_onremoveAlias(void *pvCtx)
{
    (void)pvCtx;
    snprintf(g_stConfigAttr.stDevAttr.azAlias, sizeof(g_stConfigAttr.stDevAttr.azAlias), "%s",
             MAIN_ALIAS_REMOVED);
    (void)MAIN_CONFIG_Update();
    return 0;
}

// The supervisor sees the new ID and restarts the streams on its groups.
s32 Main_Protocolserver_onsetId(void *pvCtx, s32 s32Id)
{
    (void)pvCtx;
    if (s32Id < 1 || s32Id > CONFIG_ID_MAX) {
        Debug_LogLimited(&s_stIdLimit, "[%s]: Main_Protocolserver_onsetId,out of range,s32Id=%d\n",
                         log_Time(), s32Id);
        return -1;
    }
    Debug_LogLimited(&s_stIdLimit, "[%s]: Main_Protocolserver_onsetId,s32Id=%d\n", log_Time(),
                     s32Id);
    return Main_SetWord(&g_stConfigAttr.stManual.s32ID, s32Id);
}

s32 Main_Protocolserver_ongetTxEdidIndex(void *pvCtx, s32 *ps32Index)
{
    (void)pvCtx;
    *ps32Index = g_stConfigAttr.stManual.s32Edid_index;
    return 0;
}

s32 Main_Protocolserver_onsetIrVoltage(void *pvCtx, s32 s32Value)
{
    (void)pvCtx;
    return Main_SetWord(&g_stConfigAttr.stManual.s32IrVoltage, s32Value);
}

s32 Main_Protocolserver_onsetDisplayMode(void *pvCtx, s32 s32Mode)
{
    (void)pvCtx;
    return Main_SetWord(&g_stConfigAttr.stManual.s32LcdDisplayMode, s32Mode);
}

s32 Main_Protocolserver_onsetPwrLedMode(void *pvCtx, s32 s32Mode)
{
    (void)pvCtx;
    return Main_SetWord(&g_stConfigAttr.stManual.s32LedDisplayMode, s32Mode);
}

s32 Main_Protocolserver_onsetHdcpMode(void *pvCtx, s32 s32Mode)
{
    (void)pvCtx;
    return Main_SetWord(&g_stConfigAttr.stMisc.s32HdcpMode, s32Mode);
}

s32 Main_Protocolserver_onsetStreamDbg(void *pvCtx, s32 s32Flag)
{
    (void)pvCtx;
    Debug_LogLimited(&s_stDbgLimit, "[%s]: %s: s32StreamDbg %d\n", log_Time(), __func__, s32Flag);
    return Main_SetWord(&g_stConfigAttr.stMisc.s32StreamDbg, s32Flag);
}

s32 Main_Protocolserver_ongetButtonsMode(void *pvCtx, s32 *ps32Mode)
{
    (void)pvCtx;
    (void)ps32Mode;
    return 0;
}

s32 Main_Protocolserver_onsetButtonsMode(void *pvCtx, s32 s32Mode)
{
    (void)pvCtx;
    (void)s32Mode;
    return 0;
}

s32 Main_Protocolserver_ongetIrMode(void *pvCtx, s32 *ps32Mode)
{
    (void)pvCtx;
    (void)ps32Mode;
    return 0;
}

s32 Main_Protocolserver_onsetIrMode(void *pvCtx, s32 s32Mode)
{
    (void)pvCtx;
    (void)s32Mode;
    return 0;
}

s32 Main_Protocolserver_ongetMatrix(void *pvCtx, ProtocolMatrix_S *pstMatrix)
{
    (void)pvCtx;
    (void)pstMatrix;
    return 0;
}

s32 Main_Protocolserver_onsetMatrix(void *pvCtx, const ProtocolMatrix_S *pstMatrix)
{
    (void)pvCtx;
    (void)pstMatrix;
    return 0;
}

s32 Main_Protocolserver_onclearMatrix(void *pvCtx)
{
    (void)pvCtx;
    return 0;
}

s32 Main_Protocolserver_onshowMe(void *pvCtx)
{
    (void)pvCtx;
    Led_Set_value(MAIN_SHOWME_LED);
    g_button_press_flag = 1;   // a display dark after its time-out comes back
    Lcd_Set_value(LCD_MODE_SHOWME, 0);
    return 0;
}

s32 Main_Protocolserver_onReboot(void *pvCtx)
{
    (void)pvCtx;
    WdtReboot();
    return 0;
}
