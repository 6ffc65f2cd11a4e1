// The runtime record, the device information and the process-wide words of
// the application core.
#ifndef APP_MAIN_H
#define APP_MAIN_H

#include <atomic>

#include "app/AVSourceMsg.h"
#include "app/MainMedia.h"
#include "core/Types.h"
#include "extension/Uart.h"
#include "net/NetConfig.h"

#define MAIN_EDID_LEN     256
#define MAIN_SAMPLE_NONE  48001   // no audio capture runs

struct DevInfo_S {
    char azModel[128];       // "PZR-T4900"
    char azDevType[36];      // "TX"
    char azMac[48];
    char azSerialNum[48];
    char azVersion[32];
};

// Never persisted; cleared whole at start-up. Plain words shared between
// threads without a lock, each read and written as a whole.
struct MainServerAttr_S {
    DevInfo_S stDevInfo;
    void *hAVSource;             // source layer, null while none runs
    s32 bViStart;                // 1 while the video pipeline runs
    s32 bAiCapStart;             // 1 while audio capture runs
    s32 bMediaSend;              // 1 lets the frame sender pass frames on
    s32 enSample;                // rate of the running audio capture, MAIN_SAMPLE_NONE
    AVSourceVMsg_S stVMsg;       // the last video start that completed; zero after a stop
    MainMediaAttr_S stMainMediaAttr;
    NetServerConfig_S stConifg;  // network record
    HalAttr_S stHalAttr;
    u8 au8CopyEdid[MAIN_EDID_LEN];
    u8 au8User1Edid[MAIN_EDID_LEN];
    u8 au8User2Edid[MAIN_EDID_LEN];
};

extern MainServerAttr_S g_stMainServerAttr;
extern char g_chip[32];                  // chip and board model
extern std::atomic<s32> avahi_reset;     // 1: the loop restarts the mDNS daemon
extern std::atomic<s32> g_snap_file;     // 1 while "/tmp/snap.jpg" holds a finished picture
extern std::atomic<s32> g_enCurrentRunSample;

s32 MAIN_Var_Init(void);
s32 MAIN_Device_Info(DevInfo_S *pstDevInfo);
// Stops everything the start-up started, in the reverse order: the
// control protocol's server, the signal
// poll and the pipeline, the receiver, the relays and servers, the
// supervisor, the streams, the network, snapshot and front-panel threads,
// the frame sender, and the settings store, whose pending save is written. The streams' result: 0,
// or -1 (logged) when they could not be stopped.
s32 MAIN_Exit_Pthread(void);
// The display's frames, on the second UART of the runtime record.
s32 MAIN_Lcd_Send(const u8 *pu8Frame, u32 u32Len);

#endif
