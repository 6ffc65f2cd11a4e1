// The audio half of the media layer: the audio input with its capture
// thread, the local audio output, and the AAC encoder with its sender
// thread. Operations return 0, or -1 or the engine's error code, and log
// each failed engine call.
#ifndef MEDIA_MEDIAAUDIO_H
#define MEDIA_MEDIAAUDIO_H

#include <atomic>

#include "core/Types.h"
#include "platform/MiAi.h"

#define MEDIA_AUDIO_PTNUM    1024   // samples per frame
#define MEDIA_AENC_MAX_CHN   16
#define MEDIA_AENC_TYPE_AAC  4
#define MEDIA_AI_SILENCE_MS  1000   // silence handed on after an audio input switch

struct MediaAudioAttr_S {
    u32 enInSamplerate;      // capture rate, Hz
    u32 enOutSamplerate;     // output rate, Hz; reported with PCM frames
    u32 u32BitWidth;         // 1: 16-bit samples
    u32 enSoundmode;         // 1: one stereo channel; else two mono channels
    u32 u32PtNumPerFrm;      // samples per frame
};

// The engine's audio frame. Copies made by the frame queues own the buffer
// at apData[0] (media/MediaFrame.h).
typedef MiAudioFrame_S MediaAudioFrame_S;

// Gets each captured frame on the capture thread: one stereo frame, or the
// two mono channels joined (left at apData[0], right at apData[1]). The
// frame is given back when it returns; non-zero is logged.
typedef s32 MediaAiStreamProc(s32 s32AiDev, s32 s32AiChn, MediaAudioFrame_S *pstFrame);
// Gets each AAC frame (one ADTS frame at apData[0]) on the sender thread.
typedef s32 MediaAencStreamProc(s32 s32AencChn, MediaAudioFrame_S *pstFrame);

// 1 from an audio input switch until the capture has handed on silence
// for MEDIA_AI_SILENCE_MS; the capture thread clears it.
extern std::atomic<s32> g_audio_switch;

// Audio input. The capture thread runs from StartManualMode to
// StopManualMode, which joins it: the callback no longer runs after it.
s32 HI_Media_Ai_start(s32 s32AiDev, const MediaAudioAttr_S *pstAttr);
s32 HI_Media_Ai_stop(s32 s32AiDev);
s32 HI_MEDIA_Ai_RegisterNotify(MediaAiStreamProc *pfnCallback);
s32 HI_Media_Ai_StartManualMode(s32 s32AiDev);
s32 HI_Media_Ai_StopManualMode(s32 s32AiDev);

// Local audio output.
s32 HI_Media_Ao_start(s32 s32AoDev, const MediaAudioAttr_S *pstAttr);
s32 HI_Media_Ao_Stop(s32 s32AoDev);
s32 HI_Media_Ao_SendFrame(s32 s32AoDev, s32 s32AoChn, const MediaAudioFrame_S *pstFrame);
s32 HI_Media_Ao_BindAi(s32 s32AiDev, s32 s32AiChn, s32 s32AoDev, s32 s32AoChn);
s32 HI_Media_Ao_UnbindAi(s32 s32AiDev, s32 s32AiChn, s32 s32AoDev, s32 s32AoChn);
// The box decodes no audio and feeds the AAC encoder itself: these binds
// and the decoder do nothing (the s32 ones give 0).
void HI_Media_Ao_BindAdec(s32 s32AoDev, s32 s32AoChn, s32 s32AdecChn);
void HI_Media_Ao_UnbindAdec(s32 s32AoDev, s32 s32AoChn, s32 s32AdecChn);
void HI_Media_Aenc_BindAi(s32 s32AiDev, s32 s32AiChn, s32 s32AencChn);
void HI_Media_Aenc_UnBindAi(s32 s32AiDev, s32 s32AiChn, s32 s32AencChn);
s32 HI_Media_Aenc_SendFrame(s32 s32AencChn, const MediaAudioFrame_S *pstFrame);
s32 HI_Media_Adec_CreateChn(s32 s32AdecChn, s32 s32Type);
s32 HI_Media_Adec_DestroyChn(s32 s32AdecChn);
s32 HI_Media_Adec_SendStream(s32 s32AdecChn, const u8 *pu8Data, u32 u32Len);
// No stream of this box is encrypted this way: nothing done.
void HI_Media_ECB_AES256(const u8 *pu8Key, const u8 *pu8In, u8 *pu8Out, u32 u32Len);

// AAC encoder: AAC-LC, 131072 bit/s, ADTS. Opened once; frames are
// encoded on the capture thread into AAC_LIST, which the sender thread of
// a channel drains into the registered callback until Aenc_Stop.
s32 HI_Media_Aenc_CreateChn(s32 s32AencChn, s32 s32Type, const MediaAudioAttr_S *pstAttr);   // always 0
s32 HI_Media_Aenc_DestroyChn(s32 s32AencChn);
s32 HI_MEDIA_Aenc_RegisterNotify(MediaAencStreamProc *pfnCallback);
s32 HI_Media_Aenc_Start(s32 s32AencChn);
s32 HI_Media_Aenc_Stop(s32 s32AencChn);
// The encoder for u32Channels at u32SampleRate; AAC_LIST is set up
// whether it opens or not. 0, or -1 when it did not open.
s32 AAC_Init(u32 u32Channels, u32 u32SampleRate);
s32 AAC_DeInit(void);
// Encodes one captured frame of 16-bit interleaved samples into pstDst
// (the record copied, apData[0] a new 4096-byte buffer holding u32Len
// bytes). 0 with a frame; 1 with none (encoder not open, or still filling
// up; nothing allocated); -1 on failure.
s32 AAC_Ai_CopyFrame(MediaAudioFrame_S *pstDst, const MediaAudioFrame_S *pstSrc);

#endif
