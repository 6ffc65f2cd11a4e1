// The whole life of the process: every service started in one fixed order,
// then the 500 ms supervision loop until SIGTERM or SIGINT, then every
// service stopped in the reverse order.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include "app/AVSourceMsg.h"
#include "app/Factory.h"
#include "app/Main.h"
#include "app/MainConfig.h"
#include "app/MainMedia.h"
#include "app/MainMisc.h"
#include "app/MainProtocol.h"
#include "app/MainProtocolSlots.h"
#include "app/MainRtspServer.h"
#include "app/MainService.h"
#include "board/Key.h"
#include "board/Lcd.h"
#include "board/Led.h"
#include "board/Power.h"
#include "board/Wdt.h"
#include "config/Config.h"
#include "core/Debug.h"
#include "extension/Ir.h"
#include "extension/Rs232.h"
#include "extension/Soip.h"
#include "extension/TcpServer.h"
#include "extension/Usb.h"
#include "media/AVSource.h"
#include "media/SnapServer.h"
#include "net/NetConfig.h"
#include "upgrade/Image.h"
#include "upgrade/Upgrade.h"
#include "web/Pipe.h"

#define MAIN_PASS_MS       500
#define MAIN_AVAHI_START   "/customer/avahi-daemon -D --file=/etc/avahi/avahi-daemon.conf"

static s32 s_bMediaFrameList;   // MEDIA_LIST set up
static s32 s_s32StopFd = -1;    // eventfd, readable once SIGTERM or SIGINT came

static void MAIN_OnStopSignal(int)
{
    u64 u64One = 1;
    ssize_t n = write(s_s32StopFd, &u64One, sizeof(u64One));   // all a handler may do
    (void)n;
}

// The way out: SIGTERM and SIGINT end the supervision loop. 0, or -1
// (logged) when the program can only be killed.
static s32 MAIN_StopSignals(void)
{
    s_s32StopFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (s_s32StopFd < 0) {
        Debug_Log("[%s]: %s: eventfd: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    struct sigaction stAct = {};
    stAct.sa_handler = MAIN_OnStopSignal;
    sigemptyset(&stAct.sa_mask);
    sigaction(SIGTERM, &stAct, nullptr);
    sigaction(SIGINT, &stAct, nullptr);
    return 0;
}

// Waits s32Ms; false, at once, when the program is to stop.
static bool MAIN_Pause(s32 s32Ms)
{
    struct pollfd stPoll = {s_s32StopFd, POLLIN, 0};
    return poll(&stPoll, 1, s32Ms) <= 0;   // EINTR: the next pause sees the stop
}

// A failed start-up step is logged as "<step> failed with <code>!" and the
// start-up goes on.
static void MAIN_Check(s32 s32Ret, const char *pszStep)
{
    if (s32Ret != 0)
        Debug_Log("[%s]: %s failed with %#x!\n", log_Time(), pszStep, s32Ret);
}

static void MAIN_StartAvahi(void)
{
    Debug_Log("[%s]: avahi-daemon\n", log_Time());
    (void)system(MAIN_AVAHI_START);   // the daemon is outside this program
}

// Every second pass while video runs: a new picture. Without video a
// leftover picture goes, under the writer's lock so that the server never
// reads a file that is being deleted.
static void MAIN_SnapPass(s32 *ps32Phase)
{
    if (g_stMainServerAttr.bViStart == 1) {
        if (*ps32Phase == 1)
            (void)MAIN_Media_Start_SnapShot();   // the media layer logged a refusal; asked again in 1 s
        *ps32Phase = 1 - *ps32Phase;
        return;
    }
    if (access(MAIN_SNAP_FILE, F_OK) == 0) {
        std::lock_guard<std::mutex> lock(snap_mutex);
        g_snap_file = 0;
        unlink(MAIN_SNAP_FILE);
    }
}

// One pass every 500 ms until the program is to stop: watchdog, status
// LED, mDNS restart, snapshots.
static void MAIN_Supervise(void)
{
    s32 s32LedPhase = 0, s32AvahiCount = 0, s32SnapPhase = 0;

    do {
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

        MAIN_SnapPass(&s32SnapPhase);
    } while (MAIN_Pause(MAIN_PASS_MS));
}

int main(void)
{
    s32 s32Ret;

    signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);   // the drivers' printf lines reach a log file as they happen
    MAIN_Check(MAIN_StopSignals(), "MAIN_StopSignals");
    snprintf(g_azDebugFile, sizeof(g_azDebugFile), "/tmp/debug_main.txt");
    (void)system("/customer/igmp_report.sh &");   // outside this program
    snprintf(g_chip, sizeof(g_chip), "qx4700vblo_32m");
    MAIN_HDMIRX_RESET_set(1);
    MAIN_Var_Init();
    MAIN_Image_Init();   // logs its own failure
    MAIN_Device_Info(&g_stMainServerAttr.stDevInfo);

    s32Ret = MAIN_CONFIG_Init();
    s32Ret |= MAIN_CONFIG_Recv(&g_stConfigAttr, &g_stConfigAttrNew);
    if (s32Ret != 0) {
        Debug_Log("[%s]: MAIN_CONFIG_Recv failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    Wdt_AttachBeforeReboot(MAIN_CONFIG_BeforeReboot);   // a change just made survives a reboot asked for
    Wdt_AttachHold(MAIN_CONFIG_Hold);
    g_bFileDebugOn = g_stConfigAttr.stMisc.s32FileDebug;
    (void)MAIN_Init_SysPassword();   // always 0, logs the move

    MAIN_Check(MAIN_Media_Frame_Init(&s_bMediaFrameList), "MAIN_Media_Frame_Init");
    MAIN_Check(MAIN_Media_Frame_Start(), "MAIN_Media_Frame_Start");

    if (MAIN_Check_Update_Status() != 0) {
        Debug_Log("[%s]: Update Fail!\n", log_Time());
        return 0;
    }

    MAIN_Check(MAIN_WdtStart(), "MAIN_WdtStart");

    HalAttr_S *pstHal = &g_stMainServerAttr.stHalAttr;
    MAIN_Hal_DefConifg(pstHal);
    MAIN_Uart_Init(&pstHal->stUart2);
    Lcd_AttachSender(MAIN_Lcd_Send);
    MAIN_Check(MAIN_Uart_Init(&pstHal->stUart), "MAIN_Uart_Init");
    MAIN_Check(MAIN_Ir_Init(&pstHal->stIr), "MAIN_Ir_Init");

    if (g_stConfigAttr.stManual.s32ID < 0 || g_stConfigAttr.stManual.s32ID > CONFIG_ID_MAX)
        g_stConfigAttr.stManual.s32ID = 0;
    Lcd_Set_value(LCD_MODE_HOME, (u32)g_stConfigAttr.stManual.s32ID);
    MAIN_LcdShow_start();
    MAIN_FPGA_POWER();
    MAIN_Check(MAIN_KeyScan_start(MAIN_FACTORY_RESET), "MAIN_KeyScan_start");
    MAIN_Check(MAIN_SetNetWork_start(&g_stMainServerAttr.stConifg), "MAIN_SetNetWork_start");
    SnapServerAttr_S stSnap = {MAIN_SNAP_FILE, &snap_mutex, &g_snap_file, SNAP_SERVER_PORT};
    (void)MAIN_UDPServer_Start(&stSnap);   // logs its own failure; snapshots are then not served
    MAIN_Check(MAIN_UpgradeThread_start(), "MAIN_UpgradeThread_start");

    MAIN_Pipe_Start();
    MAIN_Check(MAIN_Usb_Init(&pstHal->stUsb), "MAIN_Usb_Init");

    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    MAIN_Netserver_DefConifg(pstNet);
    MAIN_Check(MAIN_Net_Conifg(pstNet), "MAIN_Net_Conifg");
    MAIN_Check(MAIN_Set_Hostname(), "MAIN_Start_avahi");
    MAIN_Check(MAIN_Dhcpclient_Start(pstNet), "MAIN_Dhcpclient_Start");

    s32Ret = MAIN_RtspServer_Init(pstNet);
    if (s32Ret == 0)
        s32Ret = MAIN_RtspServer_StartStream(pstNet, &pstNet->stMainStream);
    if (s32Ret == 0)
        s32Ret = MAIN_RtspServer_StartStream(pstNet, &pstNet->stSubStream);
    if (s32Ret != 0) {
        Debug_Log("[%s]: MAIN_RtspServer_StartStream failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }

    MAIN_Check(MAIN_Protocolclient_Init(&pstNet->stProtocolClientAttr), "MAIN_Protocolclient_Init");

    MainMediaAttr_S *pstMedia = &g_stMainServerAttr.stMainMediaAttr;
    MAIN_Media_DefConifg(pstMedia);
    MAIN_Check(MAIN_Media_Start(pstMedia), "MAIN_Media_Start");
    Led_Init();
    (void)MAIN_Misc_Start();   // logs its own failure

    MAIN_Check(MAIN_TcpServer_start(TCP_SERVER_PORT), "MAIN_TcpServer_start");
    MAIN_Check(MAIN_UartGuestTcpServer_Start(&pstHal->stUart), "MAIN_UartGuestTcpServer_Start");
    MAIN_Check(MAIN_UartTcpServer_Start(&pstHal->stUart, MAIN_Uart_Cb, MAIN_Uart_Restart),
               "MAIN_UartTcpServer_start");
    MAIN_Check(MAIN_IrSend_Start(&pstHal->stUart2), "MAIN_IrSend_Start");
    MAIN_Check(MAIN_Rs232Send_Start(&pstHal->stUart), "MAIN_Rs232Send_Start");
    MAIN_Check(MAIN_IrTcpServer_Start(&pstHal->stUart2), "MAIN_IrTcpServer_Start");
    MAIN_Check(MAIN_KvmTcpServer_Start(&pstHal->stUsb.s32KeyboardFd, &pstHal->stUsb.s32MouseFd),
               "MAIN_KvmTcpServer_Start");
    GetHostID(pstNet->azEthName, g_stConfigAttr.stDevAttr.azDeviceId);

    g_stMainServerAttr.bMediaSend = 1;
    g_stMainServerAttr.bViStart = 0;
    g_stMainServerAttr.bAiCapStart = 0;
    g_stMainServerAttr.enSample = MAIN_SAMPLE_NONE;
    g_enCurrentRunSample = MAIN_SAMPLE_NONE;

    g_stMainServerAttr.hAVSource = MAIN_AVSource_Start();
    if (g_stMainServerAttr.hAVSource == nullptr)
        Debug_Log("[%s]: MAIN_AVSource_Start failed with %#x!\n", log_Time(), 0);
    (void)MAIN_Media_TimerInit();        // logs its own failure; the poll below then runs once only
    (void)MAIN_Media_TimerThread();

    MAIN_LED_Init();
    if (MAIN_Pause(1000)) {
        MAIN_Check(MAIN_Protocolserver_start(&pstNet->stProtocolServerAttr), "MAIN_Protocolserver_start");
        MAIN_WdtKeepLive();
        if (MAIN_Pause(500)) {
            MAIN_StartAvahi();
            MAIN_Supervise();
        }
    }
    Debug_Log("[%s]: stop\n", log_Time());
    MAIN_Check(MAIN_Exit_Pthread(), "MAIN_Exit_Pthread");
    Debug_Log("[%s]: stopped\n", log_Time());
    return 0;
}
