// The whole life of the process: every service started in one fixed order,
// then the 500 ms supervision loop, for ever.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <unistd.h>

#include "board/Key.h"
#include "board/Lcd.h"
#include "board/Led.h"
#include "board/Power.h"
#include "board/Wdt.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "core/Main.h"
#include "extension/Ir.h"
#include "extension/Soip.h"
#include "extension/TcpServer.h"
#include "extension/Usb.h"
#include "net/NetConfig.h"
#include "upgrade/Image.h"
#include "upgrade/Upgrade.h"
#include "web/Pipe.h"

#define MAIN_PASS_MS       500
#define MAIN_AVAHI_START   "/customer/avahi-daemon -D --file=/etc/avahi/avahi-daemon.conf"
#define MAIN_SNAP_FILE     "/tmp/snap.jpg"

std::mutex snap_mutex;   // the snapshot file

static void MAIN_StartAvahi(void)
{
    Debug_Log("[%s]: avahi-daemon\n", log_Time());
    (void)system(MAIN_AVAHI_START);   // the daemon is outside this program
}

// One pass every 500 ms: watchdog, status LED, mDNS restart, snapshots.
static void MAIN_Supervise(void)
{
    s32 s32LedPhase = 0, s32AvahiCount = 0;

    for (;;) {
        s32LedPhase = 1 - s32LedPhase;
        MAIN_WdtKeepLive();
        MAIN_LED_SetStatus(s32LedPhase);

        if (avahi_reset == 1) {
            avahi_reset = 0;
            Debug_Log("[%s]: kill avahi-daemon\n", log_Time());
            (void)system("killall -9 avahi-daemon");   // it may not run at all
            s32AvahiCount = 10;
        }
        if (s32AvahiCount != 0 && --s32AvahiCount == 1)
            MAIN_StartAvahi();

        if (g_stMainServerAttr.bViStart != 1 && access(MAIN_SNAP_FILE, F_OK) == 0) {
            std::lock_guard<std::mutex> lock(snap_mutex);
            g_snap_file = 0;
            unlink(MAIN_SNAP_FILE);
        }
        usleep(MAIN_PASS_MS * 1000);
    }
}

int main(void)
{
    s32 s32Ret;

    signal(SIGPIPE, SIG_IGN);
    snprintf(g_azDebugFile, sizeof(g_azDebugFile), "/tmp/debug_main.txt");
    (void)system("/customer/igmp_report.sh &");   // outside this program
    snprintf(g_chip, sizeof(g_chip), "qx4700vblo_32m");
    MAIN_Var_Init();
    MAIN_Image_Init();   // logs its own failure
    MAIN_Device_Info(&g_stMainServerAttr.stDevInfo);

    s32Ret = MAIN_CONFIG_Init();
    s32Ret |= MAIN_CONFIG_Recv(&g_stConfigAttr, &g_stConfigAttrNew);
    if (s32Ret != 0) {
        Debug_Log("[%s]: MAIN_CONFIG_Recv failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    g_bFileDebugOn = g_stConfigAttr.stMisc.s32FileDebug;

    if (MAIN_Check_Update_Status() != 0) {
        Debug_Log("[%s]: Update Fail!\n", log_Time());
        return 0;
    }

    s32Ret = MAIN_WdtStart();
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_WdtStart failed with %#x!\n", log_Time(), s32Ret);

    HalAttr_S *pstHal = &g_stMainServerAttr.stHalAttr;
    MAIN_Hal_DefConifg(pstHal);
    MAIN_Uart_Init(&pstHal->stUart2);
    s32Ret = MAIN_Uart_Init(&pstHal->stUart);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_Uart_Init failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_Ir_Init(&pstHal->stIr);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_Ir_Init failed with %#x!\n", log_Time(), s32Ret);

    if (g_stConfigAttr.stManual.s32ID > CONFIG_ID_MAX)
        g_stConfigAttr.stManual.s32ID = 0;
    Lcd_Set_value(LCD_MODE_HOME, (u32)g_stConfigAttr.stManual.s32ID);
    MAIN_LcdShow_start();
    MAIN_FPGA_POWER();
    s32Ret = MAIN_KeyScan_start();
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_KeyScan_start failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_SetNetWork_start();
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_SetNetWork_start failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_UpgradeThread_start();
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_UpgradeThread_start failed with %#x!\n", log_Time(), s32Ret);

    MAIN_Pipe_Start();
    s32Ret = MAIN_Usb_Init(&pstHal->stUsb);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_Usb_Init failed with %#x!\n", log_Time(), s32Ret);

    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    MAIN_Netserver_DefConifg(pstNet);
    s32Ret = MAIN_Net_Conifg(pstNet);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_Net_Conifg failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_Set_Hostname();
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_Start_avahi failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_Dhcpclient_Start(&pstNet->stDhcp);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_Dhcpclient_Start failed with %#x!\n", log_Time(), s32Ret);
    Led_Init();

    s32Ret = MAIN_TcpServer_start(TCP_SERVER_PORT);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_TcpServer_start failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_UartGuestTcpServer_Start(&pstHal->stUart);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_UartGuestTcpServer_Start failed with %#x!\n", log_Time(), s32Ret);
    // No program use of the UART's bytes exists yet: the relay carries them alone.
    s32Ret = MAIN_UartTcpServer_Start(&pstHal->stUart, nullptr, MAIN_Uart_Restart);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_UartTcpServer_start failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_IrSend_Start();
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_IrSend_Start failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_IrTcpServer_Start(&pstHal->stUart2);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_IrTcpServer_Start failed with %#x!\n", log_Time(), s32Ret);
    s32Ret = MAIN_KvmTcpServer_Start(&pstHal->stUsb.s32KeyboardFd, &pstHal->stUsb.s32MouseFd);
    if (s32Ret != 0)
        Debug_Log("[%s]: MAIN_KvmTcpServer_Start failed with %#x!\n", log_Time(), s32Ret);
    GetHostID(pstNet->azEthName, g_stConfigAttr.stDevAttr.azDeviceId);
    MAIN_LED_Init();
    sleep(1);
    MAIN_WdtKeepLive();
    usleep(500 * 1000);
    MAIN_StartAvahi();
    MAIN_Supervise();
    return 0;
}
