// The source layer: owns the HDMI receiver driver and turns its state into
// two events, input locked (with the timing) and input lost, reported
// through a registered notify callback on its source thread. A connection
// watcher turns the receiver's MIPI output off within 5 ms of a cable or
// clock loss. The application side checks the timing and hands it to the
// capture driver (media/MediaSnr.h).
#ifndef MEDIA_AVSOURCE_H
#define MEDIA_AVSOURCE_H

#include <atomic>

#include "core/Types.h"
#include "media/HdmiRx.h"

#define AVSOURCE_PASS_MS      50     // source thread period
#define AVSOURCE_WATCH_MS     5      // connection watcher period
#define AVSOURCE_LOSS_WAIT_MS 1500   // the notify callback's pause after a loss
#define AVSOURCE_RESET_GPIO   12     // the receiver's reset line

// Accepted inputs: 256..1920 x 128..1200 pixels below 64 frames a second.
#define AVSOURCE_MIN_WIDTH    256
#define AVSOURCE_MAX_WIDTH    1920
#define AVSOURCE_MIN_HEIGHT   128
#define AVSOURCE_MAX_HEIGHT   1200
#define AVSOURCE_MAX_FPS      63

enum SignalState_E {
    EN_SIGNAL_NO_CONNECTION = 0,     // no usable input
    EN_SIGNAL_LOCK          = 2,     // input present, timing stable
};

// The input as the source layer last saw it locked; all zero without one.
struct AVSourceStatus_S {
    u32 u32Width, u32Height;         // active size; one field of an interlaced input
    u32 u32Fps;
    u32 u32Scan;                     // 0 progressive, 1 interlaced
    u32 u32ColorSpace;               // of the input's AVI infoframe: 0 RGB 4:4:4, 1 YCbCr 4:2:2, 2 YCbCr 4:4:4
};

// Called on the source thread: state 2 with the timing, state 0 with an
// all-zero record.
typedef s32 AVSourceNotifyProc(SignalState_E enState, const AVSourceVideoInfo_S *pstInfo);
typedef s32 AVSourceStopStreamProc(void);

// Plain words shared without a lock.
extern std::atomic<s32> g_signal_detect;        // HDMI 5 V present at the input
extern std::atomic<u8>  g_hdcp_state;           // 1 while the locked input is encrypted
extern std::atomic<s32> g_video_incompatible;   // 1: a locked input outside the accepted range
extern std::atomic<s32> g_s32StopSend;          // 1: frames of the accepted input may be sent

// Source layer. A handle that is null or not initialised logs
// "uninitialized!" and gives -1.
void *AVSource_Init(void);           // null when out of memory
s32 AVSource_RegisterNotify(void *hAVSource, AVSourceNotifyProc *pfnNotify,
                            AVSourceStopStreamProc *pfnStopStream);
// Starts the source thread and the watcher; 0 at once when running. A
// thread that cannot start leaves neither running and gives its error.
s32 AVSource_Start(void *hAVSource);
s32 AVSource_Stop(void *hAVSource);  // joins both threads
s32 AVSource_deInit(void *hAVSource);   // stops the threads when needed, frees
// Takes 256 bytes for the source thread to write into the receiver on its
// next pass, unless they equal the EDID held. Any thread; under the
// layer's EDID lock.
s32 AVSource_setEdid(void *hAVSource, const u8 *pu8Edid);
s32 AVSource_getEdid(void *hAVSource, u8 *pu8Out);
s32 AVSource_getDefaultEdid(void *hAVSource, u8 *pu8Out);
// Any thread; the HDCP and 5 V state are in g_hdcp_state and g_signal_detect.
s32 AVSource_getStatus(void *hAVSource, AVSourceStatus_S *pstOut);
void AVSource_SetSwitchLockSta(void *hAVSource, s32 s32State);
HdmiRxAttr_S *HDMIRX_Init(s32 s32Bus, s32 s32Addr, s32 s32Mode);

// Application side.
// Drives the receiver's reset line; the first call of the process writes 1
// before the level. 0.
s32 MAIN_HDMIRX_RESET_set(s32 s32Level);
// Source layer with the notify callbacks and the configured EDID preset,
// started; the handle, or null (logged) when any step failed.
void *MAIN_AVSource_Start(void);
s32 MAIN_AVSource_Stop(void *hAVSource);
// The notify callback: an accepted lock goes to the capture driver, a
// refused one sets g_video_incompatible, a loss clears the driver's record
// and pauses AVSOURCE_LOSS_WAIT_MS. 0.
s32 MAIN_AVSourceMsgCallback(SignalState_E enState, const AVSourceVideoInfo_S *pstInfo);
s32 MAIN_AVSourceStopStream(void);   // clears g_s32StopSend; 0

#endif
