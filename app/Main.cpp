#include "app/Main.h"

#include <cstring>
#include <unistd.h>

#include "app/AVSourceMsg.h"
#include "app/MainMedia.h"
#include "app/MainMisc.h"
#include "app/MainProtocol.h"
#include "app/MainProtocolSlots.h"
#include "app/MainRtspServer.h"
#include "board/Key.h"
#include "board/Lcd.h"
#include "board/Led.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "extension/Ir.h"
#include "extension/Rs232.h"
#include "extension/Soip.h"
#include "extension/TcpServer.h"
#include "hdmichip/HdmiSwitch.h"
#include "media/AVSource.h"
#include "media/Edid.h"
#include "media/SnapServer.h"
#include "upgrade/Upgrade.h"
#include "web/Pipe.h"

MainServerAttr_S g_stMainServerAttr;
char g_chip[32];
std::atomic<s32> avahi_reset{0};
std::atomic<s32> g_snap_file{0};
std::atomic<s32> g_enCurrentRunSample{MAIN_SAMPLE_NONE};

s32 MAIN_Var_Init(void)
{
    memset(&g_stMainServerAttr, 0, sizeof(g_stMainServerAttr));
    g_stMainServerAttr.stHalAttr.stUart.s32Fd = -1;
    g_stMainServerAttr.stHalAttr.stUart2.s32Fd = -1;
    g_stMainServerAttr.stHalAttr.stUsb.s32KeyboardFd = -1;
    g_stMainServerAttr.stHalAttr.stUsb.s32MouseFd = -1;
    EDID_AttachStore(g_stMainServerAttr.au8CopyEdid, g_stMainServerAttr.au8User1Edid,
                     g_stMainServerAttr.au8User2Edid);
    return 0;
}

s32 MAIN_Lcd_Send(const u8 *pu8Frame, u32 u32Len)
{
    return MAIN_Uart_SendData(&g_stMainServerAttr.stHalAttr.stUart2, pu8Frame, u32Len);
}

// The streams and the wrapper go first but one: players learn of the end
// before the services they talk to stop.
static s32 MAIN_Exit_Streams(void)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    s32 s32Ret = MAIN_RtspServer_StopStream(pstNet, &pstNet->stMainStream);
    if (s32Ret != 0) {
        Debug_Log("[%s]: MAIN_RtspServer_StopStream Main stream failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = MAIN_RtspServer_StopStream(pstNet, &pstNet->stSubStream);
    if (s32Ret != 0) {
        Debug_Log("[%s]: MAIN_RtspServer_StopStream sub stream failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = MAIN_RtspServer_deInit(pstNet);
    if (s32Ret != 0) {
        Debug_Log("[%s]: MAIN_RtspServer_deInit with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 MAIN_Exit_Pthread(void)
{
    (void)MAIN_Protocolserver_stop(&g_stMainServerAttr.stConifg.stProtocolServerAttr);   // logged there
    MAIN_Media_TimerDeInit();
    if (g_stMainServerAttr.hAVSource != nullptr)
        (void)MAIN_AVSource_Stop(g_stMainServerAttr.hAVSource);   // always 0
    g_stMainServerAttr.hAVSource = nullptr;
    HdmiSwitch_StopThread();
    MAIN_SoipServers_Stop();
    MAIN_Rs232Send_Stop();
    MAIN_IrSend_Stop();
    MAIN_TcpServer_stop();
    MAIN_Misc_Stop();
    Led_DeInit();
    MAIN_Media_Exit(&g_stMainServerAttr.stMainMediaAttr);
    (void)MAIN_Protocolclient_deInit(&g_stMainServerAttr.stConifg.stProtocolClientAttr);   // logged there
    s32 s32Ret = MAIN_Exit_Streams();
    Dhcpclient_Detach(g_stMainServerAttr.stConifg.stDhcp.hDhcp);
    g_stMainServerAttr.stConifg.stDhcp.hDhcp = nullptr;
    MAIN_Pipe_Stop();
    MAIN_UpgradeThread_stop();
    MAIN_UDPServer_Stop();
    MAIN_SetNetWork_stop();
    MAIN_KeyScan_stop();
    MAIN_LcdShow_stop();
    (void)MAIN_Media_Frame_Stop();                               // always 0
    (void)MAIN_CONFIG_deInit();                                  // logged there
    return s32Ret;
}
