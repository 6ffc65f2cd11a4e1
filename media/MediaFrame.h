// The frame queues between the capture and encoder threads and the
// sender threads: MEDIA_LIST (PCM frames, and encoded video when queued)
// and AAC_LIST (AAC frames), with the deep frame copies they hold.
// Taking a frame unlinks it: the taker owns it and gives it back to
// MEDIA_LIST_DelOneFram or AAC_LIST_DelOneFram. Lock order: the caller's
// g_mediaListFrame_mutex, the queue mutex, the list head's mutex.
#ifndef MEDIA_MEDIAFRAME_H
#define MEDIA_MEDIAFRAME_H

#include "core/Types.h"
#include "media/MediaAudio.h"
#include "media/MediaList.h"
#include "platform/MiVenc.h"

#define MEDIA_PCM_BUF_LEN    8192   // planar copy: left at 0, right at MEDIA_PCM_RIGHT
#define MEDIA_PCM_RIGHT      4096
#define MEDIA_AAC_BUF_LEN    4096   // one ADTS frame

enum MediaFrameKind_E { MEDIA_FRAME_VIDEO = 0, MEDIA_FRAME_PCM = 1 };

// One queued frame; its data belongs to it.
struct MediaFrameNode_S {
    s32 enFrameKind;                // MEDIA_LIST: MediaFrameKind_E; AAC_LIST: the audio channel
    s32 s32Chn;                     // MEDIA_LIST: the channel
    union {
        MediaAudioFrame_S stAudio;  // PCM or AAC copy
        MiVencStream_S stStream;    // deep copy of an encoded picture
    };
    ListNode_S stNode;
};

s32 MEDIA_LIST_Init(void);
s32 MEDIA_LIST_DeInit(void);
// Queues a node at the tail and counts it; -1 when the queue is not set up.
s32 MEDIA_LIST_Add(MediaFrameNode_S *pstNode);
// Takes the first node, waiting up to u32WaitMs for one; null when none came.
MediaFrameNode_S *MEDIA_LIST_GetOneFram(u32 u32WaitMs);
// Ends the consumer's current or next wait at once (a thread stop).
void MEDIA_LIST_Wake(void);
// Frees a taken node and its data.
s32 MEDIA_LIST_DelOneFram(MediaFrameNode_S *pstNode);
// Frees every queued node (not those taken).
s32 MEDIA_LIST_DelAll(void);
// Video frames queued; *pu32Audio (when given) the audio frames queued.
u32 MEDIA_LIST_GetCurFramCnt(u32 *pu32Audio);

s32 AAC_LIST_Init(void);
s32 AAC_LIST_Add(MediaFrameNode_S *pstNode);
MediaFrameNode_S *AAC_LIST_GetOneFram(u32 u32WaitMs);
void AAC_LIST_Wake(void);
s32 AAC_LIST_DelOneFram(MediaFrameNode_S *pstNode);
s32 AAC_LIST_DelAll(void);

// PCM copy of a captured stereo frame: the record, and a zeroed 8192-byte
// buffer with the left samples at 0 and the right ones at 4096, as many
// as the frame holds (1024 at most). 0, or -1 with nothing allocated.
s32 HI_MEDIA_Ai_CopyFrame(MediaAudioFrame_S *pstDst, const MediaAudioFrame_S *pstSrc);
// Frees the buffer of a PCM or AAC copy.
void HI_MEDIA_Ai_DelFrame(MediaAudioFrame_S *pstFrame);
void AAC_Ai_DelFrame(MediaAudioFrame_S *pstFrame);
// Deep copy of an encoded picture: the record, its packs and their data.
s32 HI_MEDIA_Venc_CopyFrame(MiVencStream_S *pstDst, const MiVencStream_S *pstSrc);
void HI_MEDIA_Venc_DelFrame(MiVencStream_S *pstStream);
// Gives a picture taken from the channel back to the engine and frees the
// taker's pack array: the engine's result (logged).
s32 HI_MEDIA_VencChn_DelFrame(s32 s32VencChn, MiVencStream_S *pstStream);

#endif
