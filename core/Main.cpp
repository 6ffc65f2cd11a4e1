#include "core/Main.h"

#include <cstring>
#include <unistd.h>

#include "core/Debug.h"
#include "hdmichip/HdmiSwitch.h"
#include "rtsp/RtspServer.h"

MainServerAttr_S g_stMainServerAttr;
std::atomic<s32> g_bRun{1};
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
    return 0;
}

s32 MAIN_Exit_Pthread(void)
{
    NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    g_bRun = 0;
    HdmiSwitch_StopThread();
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
    usleep(100 * 1000);
    return 0;
}
