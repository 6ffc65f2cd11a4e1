// Signal-change handling: a 100 ms poll of the capture driver's input
// state, and the messages that rebuild the video pipeline (video input,
// scaler, main, sub and JPEG encoders) and the audio capture for a new
// input, restarting the main and sub RTSP streams around it.
#ifndef APP_AVSOURCEMSG_H
#define APP_AVSOURCEMSG_H

#include <atomic>
#include <mutex>

#include "core/Types.h"

#define MAIN_POLL_MS        100
#define MAIN_SAMPLE_RATE    48000
#define MAIN_VI_MODE_MIPI   4
#define MAIN_SIZE_STOP      0xFFFFFFFFu   // width and height of a video stop

enum AVSourceMsgType_E {
    AVSOURCE_MSG_VIDEO = 1,          // AVSourceVMsg_S
    AVSOURCE_MSG_AUDIO = 2,          // AVSourceAMsg_S
};

enum AVSourceOperate_E {
    AVSOURCE_OP_START = 1,
    AVSOURCE_OP_STOP  = 2,
};

struct AVSourceVMsg_S {
    u32 enOperate;                   // AVSourceOperate_E
    s32 s32DevChn;                   // 0
    u32 enMode;                      // video input interface, MAIN_VI_MODE_MIPI
    u32 u32Width, u32Height;         // active size; MAIN_SIZE_STOP in a stop
    u32 u32Fps;                      // normalised frame rate (start only)
    u32 enSan;                       // 1 interlaced, 0 progressive (start only)
};

struct AVSourceAMsg_S {
    u32 enOperate;                   // AVSourceOperate_E
    s32 s32DevChn;                   // 0
    s32 enSample;                    // MAIN_SAMPLE_RATE, or MAIN_SAMPLE_NONE: no audio
};

// Held by every rebuild of the encoder channels: the signal-change
// handling and any setter that re-creates a channel.
extern std::mutex g_MediaMutex;
#define MAIN_AUDIO_STATUS_HDMI   1
#define MAIN_AUDIO_STATUS_ANALOG 2
#define MAIN_AUDIO_INPUT_HDMI    0    // inputs of MAIN_Audio_set
#define MAIN_AUDIO_INPUT_ANALOG  1

// 2: the analog audio input is selected and the HDMI audio is left alone.
extern std::atomic<s32> g_audioinput_status;

// 55..62 -> 60, 45..54 -> 50, 28..34 -> 30, 25..26 -> 25, 20..24 -> 24;
// any other rate as it is.
s32 MAIN_CheckFps(s32 s32Fps);

// The poll's timer (thread notification): 0, or -1 (logged).
s32 MAIN_Media_TimerInit(void);
// One poll, then the next one armed 100 ms later. The start-up calls it
// once itself. 0.
s32 MAIN_Media_TimerThread(void);
// No poll runs once it returns; a pipeline that runs is taken down as on
// a loss of the input.
void MAIN_Media_TimerDeInit(void);

// Stops or starts the main and then the sub stream while the RTSP server
// runs; the step texts go before the call's name in a failure's log line.
// 0, or -1 at the first failure. Callers hold g_MediaMutex.
s32 MAIN_AVSource_Streams(bool bStart, const char *pszMainStep, const char *pszSubStep);
// The audio capture at the rate of stAiAttr: the input, its callback, the
// AAC sender and the capture thread; the running rate recorded. 0, or -1
// (logged). Callers hold g_MediaMutex.
s32 MAIN_AudioCapture_Start(void);
// The capture thread joined and the audio input stopped; the step text
// goes before the call's name when either failed. Callers hold g_MediaMutex.
void MAIN_AudioCapture_Stop(const char *pszStep);

// Selects the HDMI (0) or the analog (1) audio input; the analog one runs
// the capture at 48000 Hz. bRestart 1 takes the streams down around an
// analog switch. The capture hands on silence for 1 s after. 0, or -1 for
// another input.
s32 MAIN_Audio_set(s32 s32Input, s32 bRestart);

// Carries out a video or audio message under g_MediaMutex: 0, or -1 when
// a step that cannot be skipped failed (logged with its number).
s32 MAIN_AVSource_MsgProc(AVSourceMsgType_E enType, const void *pvMsg);

#endif
