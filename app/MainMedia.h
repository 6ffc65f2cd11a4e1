// The media glue: the media attributes with their defaults from the
// settings, the one-time media start, the pipeline stop, the callbacks
// that route encoded video, AAC and PCM frames to the RTSP wrapper and
// JPEG pictures to the snapshot file, and the frame sender thread.
#ifndef APP_MAINMEDIA_H
#define APP_MAINMEDIA_H

#include <atomic>
#include <cstddef>
#include <mutex>

#include "core/Types.h"
#include "media/MediaAudio.h"
#include "media/MediaVideo.h"

#define MAIN_AUDIO_CODEC_AAC   4
#define MAIN_AUDIO_CODEC_PCM   5
#define MAIN_MEDIA_POOL_WORDS  7
#define MAIN_SNAP_FILE         "/tmp/snap.jpg"
#define MAIN_SNAP_TMP_FILE     "/tmp/snaptmp.jpg"

// Read and written as plain words by the start-up, the signal-change
// handling, the control protocol and the stream information.
struct MainMediaAttr_S {
    s32 s32ViDev, s32ViChn, s32ViPort;
    s32 s32VpeChn;
    u32 u32VpePortNum;
    s32 as32VpePort[MEDIA_VPE_MAX_PORT];      // feeding main, sub, JPEG
    s32 as32VencChn[MEDIA_VPE_MAX_PORT];      // main, sub, JPEG
    u32 au32PoolPlan[MAIN_MEDIA_POOL_WORDS];  // pool count, then block size and count per pool
    MediaViAttr_S stViAttr;
    // HI_Media_Vpss_Start reads these seven words as one block.
    u32 au32PortWidth[MEDIA_VPE_MAX_PORT];
    u32 au32PortHeight[MEDIA_VPE_MAX_PORT];
    u32 u32VpePixelSel;                       // 0: 4:2:0, else 4:2:2
    MediaVencAttr_S stMainVencAttr;
    MediaVencAttr_S stSubVencAttr;
    MediaVencAttr_S stJpegVencAttr;
    u32 u32TimingCode;                        // input format code
    s32 enMainAudioCodec;                     // MAIN_AUDIO_CODEC_*
    MediaAudioAttr_S stMainAudioAttr;
    s32 enSubAudioCodec;
    MediaAudioAttr_S stSubAudioAttr;
    s32 s32AiDev;
    MediaAudioAttr_S stAiAttr;
    MediaAudioAttr_S stAoAttr;
};

static_assert(offsetof(MainMediaAttr_S, u32VpePixelSel) ==
                  offsetof(MainMediaAttr_S, au32PortWidth) + 2 * MEDIA_VPE_MAX_PORT * sizeof(u32),
              "scaler sizes and selector are one block");

extern std::mutex g_mediaListFrame_mutex;   // held around each send of the frame sender and while MEDIA_LIST is emptied
extern std::mutex snap_mutex;               // the snapshot file MAIN_SNAP_FILE and g_snap_file

s32 MAIN_Media_DefConifg(MainMediaAttr_S *pstAttr);
// Once at start-up, after the RTSP wrapper: engine, local output, AAC encoder.
s32 MAIN_Media_Start(MainMediaAttr_S *pstAttr);
// The program's end: what MAIN_Media_Start set up beside the pipeline
// (the AAC sender and channel, the local output) taken down.
void MAIN_Media_Exit(MainMediaAttr_S *pstAttr);
// Takes the video pipeline down: binds, encoders, scaler, video input.
s32 MAIN_Media_Stop(MainMediaAttr_S *pstAttr);
// Video input only; u32Scan: 0 progressive, 1 interlaced. Stores the input format code.
s32 MAIN_Media_Vi_Statr(MainMediaAttr_S *pstAttr, u32 u32Scan);
s32 MAIN_Media_Vi_Stop(MainMediaAttr_S *pstAttr, s32 s32Unused);

// MEDIA_LIST set up once: *pbInit 0 -> 1.
s32 MAIN_Media_Frame_Init(s32 *pbInit);
// The reverse, after MAIN_Media_Frame_Stop: the queued frames freed,
// MEDIA_LIST refusing frames until set up again, *pbInit 1 -> 0. Returns 0.
s32 MAIN_Media_Frame_DeInit(s32 *pbInit);
// The frame sender thread: passes MEDIA_LIST frames to the RTSP wrapper
// while bMediaSend and g_s32StopSend are set, and drops them otherwise.
s32 MAIN_Media_Frame_Start(void);
s32 MAIN_Media_Frame_Stop(void);

// Callbacks registered with the media layer.
s32 MAIN_Media_Venc_GetVENCStreamProc(s32 s32VencChn, MiVencStream_S *pstStream);
s32 MAIN_Media_Ai_GetAIStreamProc(s32 s32AiDev, s32 s32AiChn, MediaAudioFrame_S *pstFrame);
s32 MAIN_Media_Aenc_GetAENCStreamProc(s32 s32AencChn, MediaAudioFrame_S *pstFrame);

// Writes a JPEG picture (its packs one after the other) to MAIN_SNAP_FILE
// through MAIN_SNAP_TMP_FILE, so the file always holds a whole picture;
// on failure the old one stays and the temporary file is removed. 0 or -1.
s32 HI_Media_Save_SnapShot(const MiVencStream_S *pstStream);

#endif
