// Media layer, audio half: the audio input with its capture thread and
// the local audio output.
#include "media/MediaAudio.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <pthread.h>

#include "core/Clock.h"
#include "core/Debug.h"
#include "core/Thread.h"
#include "platform/MiAo.h"

#define MEDIA_AUDIO_WORK_MODE    MI_AUDIO_MODE_I2S_SLAVE
#define MEDIA_AUDIO_FRAMES       30
#define MEDIA_AO_CHANNELS        2
#define MEDIA_AI_USER_DEPTH      3
#define MEDIA_AI_QUEUE_DEPTH     6
#define MEDIA_AI_WAIT_MS         1000
#define MEDIA_AUDIO_BIND_FPS     60
#define MEDIA_AI_NO_STAMP        (~0ull)   // the joined frame waits for a new time stamp

// A mono channel's frame that is a little shorter than its join buffer
// fills it with copies of its edge samples: bytes taken from its start
// and its end, by how many bytes it lacks.
struct MediaAiPad_S { u32 u32Short, u32Head, u32Tail; };

static const MediaAiPad_S s_astAiPads[] = {
    { 0, 0, 0 }, { 2, 0, 2 }, { 4, 2, 2 }, { 6, 2, 4 }, { 8, 4, 4 },
};

// The two mono channels of a capture joined into one frame.
struct MediaAiJoin_S {
    MediaAudioFrame_S stFrame;       // apData[0] left, apData[1] right; u32Len each
    u32 u32Mask;                     // bit per channel that delivered for this time stamp
};

// Silence handed on while a switched audio input settles: a zeroed buffer
// as long as a stereo frame (or both joined channels), and when the window
// began.
struct MediaAiSilence_S {
    u8 *pu8Zero;
    u32 u32Len;
    s64 s64StartMs;                  // 0: not begun
};

std::atomic<s32> g_audio_switch{0};

static std::atomic<MediaAiStreamProc *> g_pfnAIStreamCallBack{nullptr};
static MainThread_S s_stAiThread;        // the capture thread

static s32 Media_Ai_Channels(u32 enSoundmode)
{
    return enSoundmode == MI_AUDIO_SOUND_MODE_STEREO ? 1 : 2;
}

// The channel of the i-th channel slot: a stereo device has one channel.
static u32 Media_Audio_Chn(u32 i, u32 enSoundmode)
{
    return i / (enSoundmode + 1);
}

s32 HI_Media_Ai_start(s32 s32AiDev, const MediaAudioAttr_S *pstAttr)
{
    MiAudioAttr_S stAttr = MiAudioAttr_S();
    stAttr.enSamplerate = pstAttr->enInSamplerate;
    stAttr.enBitwidth = MI_AUDIO_BIT_WIDTH_16;
    stAttr.enWorkmode = MEDIA_AUDIO_WORK_MODE;
    stAttr.enSoundmode = pstAttr->enSoundmode;
    stAttr.u32FrmNum = MEDIA_AUDIO_FRAMES;
    stAttr.u32PtNumPerFrm = pstAttr->u32PtNumPerFrm;
    stAttr.u32ChnCnt = (u32)Media_Ai_Channels(pstAttr->enSoundmode);
    s32 s32Ret = MI_AI_SetPubAttr((u32)s32AiDev, &stAttr);
    if (s32Ret == MI_SUCCESS)
        s32Ret = MI_AI_Enable((u32)s32AiDev);
    for (u32 i = 0; s32Ret == MI_SUCCESS && i < stAttr.u32ChnCnt; i++)
        s32Ret = MI_AI_EnableChn((u32)s32AiDev, Media_Audio_Chn(i, stAttr.enSoundmode));
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}

s32 HI_Media_Ai_stop(s32 s32AiDev)
{
    MiAudioAttr_S stAttr;
    s32 s32Ret = MI_AI_GetPubAttr((u32)s32AiDev, &stAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_AI_GetPubAttr failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    for (u32 i = 0; i < stAttr.u32ChnCnt; i++) {
        u32 u32Chn = Media_Audio_Chn(i, stAttr.enSoundmode);
        s32Ret = MI_AI_DisableReSmp((u32)s32AiDev, u32Chn);
        if (s32Ret != MI_SUCCESS)
            Debug_Log("[%s]: HI_MPI_AI_DisableReSmp failed with %#x!\n", log_Time(), s32Ret);
        s32Ret = MI_AI_DisableChn((u32)s32AiDev, u32Chn);
        if (s32Ret != MI_SUCCESS) {
            Debug_Log("[%s]: HI_MPI_AI_DisableChn failed with %#x!\n", log_Time(), s32Ret);
            return s32Ret;
        }
    }
    s32Ret = MI_AI_Disable((u32)s32AiDev);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: HI_MPI_AI_Disable failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 HI_MEDIA_Ai_RegisterNotify(MediaAiStreamProc *pfnCallback)
{
    g_pfnAIStreamCallBack = pfnCallback;
    return 0;
}

// The frame to hand on: after an input switch, a silent copy of it until
// MEDIA_AI_SILENCE_MS after the first frame of the window. A frame longer
// than the silence buffer goes as captured.
static MediaAudioFrame_S *Media_Ai_Silence(MediaAiSilence_S *pstSilence, MediaAudioFrame_S *pstFrame,
                                           MediaAudioFrame_S *pstSilent)
{
    if (g_audio_switch == 0)
        return pstFrame;
    s64 s64Now = Clock_NowMs();
    if (pstSilence->s64StartMs == 0)
        pstSilence->s64StartMs = s64Now;
    if (s64Now - pstSilence->s64StartMs >= MEDIA_AI_SILENCE_MS) {
        Debug_Log("[%s]: start audio\n", log_Time());
        pstSilence->s64StartMs = 0;
        g_audio_switch = 0;
        return pstFrame;
    }
    if (pstFrame->u32Len > pstSilence->u32Len)
        return pstFrame;
    memset(pstSilence->pu8Zero, 0, pstSilence->u32Len);   // a callback may have written into it
    *pstSilent = *pstFrame;
    for (u32 i = 0; i < 2; i++)
        if (pstSilent->apData[i] != nullptr)
            pstSilent->apData[i] = pstSilence->pu8Zero;
    return pstSilent;
}

static void Media_Ai_Notify(s32 s32Dev, s32 s32Chn, MediaAudioFrame_S *pstFrame, MediaAiSilence_S *pstSilence)
{
    MediaAiStreamProc *pfnCallback = g_pfnAIStreamCallBack;
    MediaAudioFrame_S stSilent;
    pstFrame = Media_Ai_Silence(pstSilence, pstFrame, &stSilent);
    if (pfnCallback != nullptr && pfnCallback(s32Dev, s32Chn, pstFrame) != 0)
        Debug_Log("[%s]: g_pfnAIStreamCallBack failed!\n", log_Time());
}

// Copies a mono frame into its join buffer; a length difference not in
// s_astAiPads copies nothing.
static void Media_Ai_JoinCopy(u8 *pu8Buf, u32 u32BufLen, const u8 *pu8Data, u32 u32Len)
{
    for (const MediaAiPad_S &stPad : s_astAiPads) {
        if (u32Len + stPad.u32Short != u32BufLen || u32Len < stPad.u32Head || u32Len < stPad.u32Tail)
            continue;
        memcpy(pu8Buf, pu8Data, stPad.u32Head);
        memcpy(pu8Buf + stPad.u32Head, pu8Data, u32Len);
        memcpy(pu8Buf + stPad.u32Head + u32Len, pu8Data + u32Len - stPad.u32Tail, stPad.u32Tail);
        return;
    }
}

// One mono frame of channel s32Chn into the joined frame, which goes to
// the callback once both channels delivered the same time stamp.
static void Media_Ai_Join(s32 s32Dev, s32 s32Chn, const MediaAudioFrame_S *pstFrame, MediaAiJoin_S *pstJoin,
                          MediaAiSilence_S *pstSilence)
{
    MediaAudioFrame_S &stJoined = pstJoin->stFrame;
    if (pstFrame->u64TimeStamp != stJoined.u64TimeStamp) {
        stJoined.u64TimeStamp = pstFrame->u64TimeStamp;
        pstJoin->u32Mask = 0;
    }
    Media_Ai_JoinCopy((u8 *)stJoined.apData[s32Chn], stJoined.u32Len, (const u8 *)pstFrame->apData[0],
                      pstFrame->u32Len);
    pstJoin->u32Mask |= 1u << s32Chn;
    if (pstJoin->u32Mask == 3) {
        Media_Ai_Notify(s32Dev, s32Chn, &stJoined, pstSilence);
        pstJoin->u32Mask = 0;
        stJoined.u64TimeStamp = MEDIA_AI_NO_STAMP;
    }
}

static void Media_Ai_TakeFrame(s32 s32Dev, s32 s32Chn, MediaAiJoin_S *pstJoin, MediaAiSilence_S *pstSilence)
{
    MediaAudioFrame_S stFrame;
    s32 s32Ret = MI_AI_GetFrame((u32)s32Dev, (u32)s32Chn, &stFrame, nullptr, 0);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_AI_GetFrame(%d, %d), failed with %#x!\n", log_Time(), s32Dev, s32Chn, s32Ret);
        return;
    }
    if (pstJoin == nullptr)
        Media_Ai_Notify(s32Dev, s32Chn, &stFrame, pstSilence);
    else
        Media_Ai_Join(s32Dev, s32Chn, &stFrame, pstJoin, pstSilence);
    s32Ret = MI_AI_ReleaseFrame((u32)s32Dev, (u32)s32Chn, &stFrame, nullptr);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: HI_MPI_AI_ReleaseFrame(%d, %d), failed with %#x!\n", log_Time(), s32Dev, s32Chn, s32Ret);
}

// The joined frame of two mono channels: one allocation, a buffer each.
static bool Media_Ai_JoinInit(const MiAudioAttr_S *pstAttr, MediaAiJoin_S *pstJoin)
{
    u32 u32Len = (pstAttr->enBitwidth + 2) * MEDIA_AUDIO_PTNUM;
    u8 *pu8 = (u8 *)calloc(2, u32Len);
    if (pu8 == nullptr)
        return false;
    *pstJoin = MediaAiJoin_S();
    MediaAudioFrame_S &stFrame = pstJoin->stFrame;
    stFrame.u32BitWidth = pstAttr->enBitwidth;
    stFrame.enSoundmode = MI_AUDIO_SOUND_MODE_STEREO;
    stFrame.apData[0] = pu8;
    stFrame.apData[1] = pu8 + u32Len;
    stFrame.u32Len = u32Len;
    stFrame.u64TimeStamp = MEDIA_AI_NO_STAMP;
    return true;
}

static void *AI_GetAiStreamProc(void *pvDev)
{
    s32 s32Dev = (s32)(intptr_t)pvDev;
    char azName[16];
    snprintf(azName, sizeof(azName), "%s%d", "AiStream", s32Dev);
    pthread_setname_np(pthread_self(), azName);
    MiAudioAttr_S stAttr;
    s32 s32Ret = MI_AI_GetPubAttr((u32)s32Dev, &stAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_AI_GetPubAttr failed with %#x!\n", log_Time(), s32Ret);
        return nullptr;
    }
    Debug_Log("[%s]: AI_GetAiStreamProc,stAttr.enSoundmode=%d\n", log_Time(), stAttr.enSoundmode);
    s32 s32Chns = Media_Ai_Channels(stAttr.enSoundmode);
    MediaAiSilence_S stSilence = {nullptr, 2 * (stAttr.enBitwidth + 2) * MEDIA_AUDIO_PTNUM, 0};
    stSilence.pu8Zero = (u8 *)calloc(1, stSilence.u32Len);
    MediaAiJoin_S stJoin;
    if (stSilence.pu8Zero == nullptr || (s32Chns == 2 && !Media_Ai_JoinInit(&stAttr, &stJoin))) {
        Debug_Log("[%s]: %s: no memory for the joined frame\n", log_Time(), __func__);
        free(stSilence.pu8Zero);
        return nullptr;
    }
    struct pollfd astPoll[3];            // the channels, then the thread's wake-up
    for (s32 s32Chn = 0; s32Chn < s32Chns; s32Chn++) {
        MiSysChnPort_S stPort = {MI_MODULE_AI, (u32)s32Dev, (u32)s32Chn, 0};
        astPoll[s32Chn] = {-1, POLLIN, 0};
        s32Ret = MI_SYS_SetChnOutputPortDepth(&stPort, MEDIA_AI_USER_DEPTH, MEDIA_AI_QUEUE_DEPTH);
        if (s32Ret == MI_SUCCESS)
            s32Ret = MI_SYS_GetFd(&stPort, &astPoll[s32Chn].fd);
        if (s32Ret != MI_SUCCESS)
            Debug_Log("[%s]: AI channel %d port failed with %#x!\n", log_Time(), s32Chn, s32Ret);
    }
    astPoll[s32Chns] = {MAIN_Thread_WakeFd(&s_stAiThread), POLLIN, 0};
    while (MAIN_Thread_Running(&s_stAiThread)) {
        s32Ret = poll(astPoll, (nfds_t)s32Chns + 1, MEDIA_AI_WAIT_MS);
        if (s32Ret < 0 && errno == EINTR)
            continue;
        if (s32Ret < 0) {
            Debug_Log("[%s]: select failed!\n", log_Time());
            break;
        }
        for (s32 s32Chn = 0; s32Ret > 0 && s32Chn < s32Chns; s32Chn++)
            if (astPoll[s32Chn].revents & POLLIN)
                Media_Ai_TakeFrame(s32Dev, s32Chn, s32Chns == 2 ? &stJoin : nullptr, &stSilence);
    }
    if (s32Chns == 2)
        free(stJoin.stFrame.apData[0]);
    free(stSilence.pu8Zero);
    for (s32 s32Chn = 0; s32Chn < s32Chns; s32Chn++)
        if (astPoll[s32Chn].fd >= 0)
            (void)MI_SYS_CloseFd(astPoll[s32Chn].fd);   // ours: cannot fail
    return nullptr;
}

s32 HI_Media_Ai_StartManualMode(s32 s32AiDev)
{
    return MAIN_Thread_Start(&s_stAiThread, AI_GetAiStreamProc, (void *)(intptr_t)s32AiDev, nullptr);
}

s32 HI_Media_Ai_StopManualMode(s32 s32AiDev)
{
    (void)s32AiDev;   // one capture thread serves the one device
    MAIN_Thread_Stop(&s_stAiThread);
    return 0;
}

s32 HI_Media_Ao_start(s32 s32AoDev, const MediaAudioAttr_S *pstAttr)
{
    MiAudioAttr_S stAttr = MiAudioAttr_S();
    stAttr.enSamplerate = pstAttr->enOutSamplerate;
    stAttr.enBitwidth = pstAttr->u32BitWidth - 1;
    stAttr.enWorkmode = MEDIA_AUDIO_WORK_MODE;
    stAttr.enSoundmode = pstAttr->enSoundmode;
    stAttr.u32FrmNum = MEDIA_AUDIO_FRAMES;
    stAttr.u32PtNumPerFrm = pstAttr->u32PtNumPerFrm;
    stAttr.u32ChnCnt = MEDIA_AO_CHANNELS;
    s32 s32Ret = MI_AO_SetPubAttr((u32)s32AoDev, &stAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_AO_SetPubAttr failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    s32Ret = MI_AO_Enable((u32)s32AoDev);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_AO_Enable failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    for (u32 i = 0; i < MEDIA_AO_CHANNELS; i++) {
        u32 u32Chn = Media_Audio_Chn(i, stAttr.enSoundmode);
        s32Ret = MI_AO_EnableChn((u32)s32AoDev, u32Chn);
        if (s32Ret != MI_SUCCESS) {
            Debug_Log("[%s]: HI_MPI_AO_EnableChn failed with %#x!\n", log_Time(), s32Ret);
            return -1;
        }
        if (stAttr.enSoundmode == MI_AUDIO_SOUND_MODE_MONO && pstAttr->enInSamplerate != pstAttr->enOutSamplerate) {
            s32Ret = MI_AO_EnableReSmp((u32)s32AoDev, u32Chn, pstAttr->enInSamplerate);
            if (s32Ret != MI_SUCCESS) {
                Debug_Log("[%s]: HI_MPI_AO_EnableReSmp failed with %#x!\n", log_Time(), s32Ret);
                return -1;
            }
        }
    }
    return 0;
}

s32 HI_Media_Ao_Stop(s32 s32AoDev)
{
    MiAudioAttr_S stAttr;
    s32 s32Ret = MI_AO_GetPubAttr((u32)s32AoDev, &stAttr);
    if (s32Ret != MI_SUCCESS) {
        Debug_Log("[%s]: HI_MPI_AO_GetPubAttr failed with %#x!\n", log_Time(), s32Ret);
        return s32Ret;
    }
    for (u32 i = 0; i < stAttr.u32ChnCnt; i++) {
        u32 u32Chn = Media_Audio_Chn(i, stAttr.enSoundmode);
        s32Ret = MI_AO_DisableReSmp((u32)s32AoDev, u32Chn);
        if (s32Ret != MI_SUCCESS)
            Debug_Log("[%s]: HI_MPI_AO_DisableReSmp failed with %#x!\n", log_Time(), s32Ret);
        s32Ret = MI_AO_DisableChn((u32)s32AoDev, u32Chn);
        if (s32Ret != MI_SUCCESS) {
            Debug_Log("[%s]: HI_MPI_AO_DisableChn failed with %#x!\n", log_Time(), s32Ret);
            return s32Ret;
        }
    }
    s32Ret = MI_AO_Disable((u32)s32AoDev);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: HI_MPI_AO_Disable failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 HI_Media_Ao_SendFrame(s32 s32AoDev, s32 s32AoChn, const MediaAudioFrame_S *pstFrame)
{
    s32 s32Ret = MI_AO_SendFrame((u32)s32AoDev, (u32)s32AoChn, pstFrame, 0);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: HI_MPI_AO_SendFrame failed with %#x!\n", log_Time(), s32Ret);
    return s32Ret;
}

// The system bind of an input channel to an output channel, made or undone.
static s32 Media_Ao_Bind(bool bBind, s32 s32AiDev, s32 s32AiChn, s32 s32AoDev, s32 s32AoChn)
{
    MiSysChnPort_S stSrc = {MI_MODULE_AI, (u32)s32AiDev, (u32)s32AiChn, 0};
    MiSysChnPort_S stDst = {MI_MODULE_AO, (u32)s32AoDev, (u32)s32AoChn, 0};
    s32 s32Ret = bBind ? MI_SYS_BindChnPort2(&stSrc, &stDst, MEDIA_AUDIO_BIND_FPS, MEDIA_AUDIO_BIND_FPS,
                                             MI_SYS_BIND_FRAME, 0)
                       : MI_SYS_UnBindChnPort(&stSrc, &stDst);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: %s failed with %#x!\n", log_Time(), bBind ? "MI_SYS_BindChnPort2" : "MI_SYS_UnBindChnPort",
                  s32Ret);
    return s32Ret;
}

s32 HI_Media_Ao_BindAi(s32 s32AiDev, s32 s32AiChn, s32 s32AoDev, s32 s32AoChn)
{
    return Media_Ao_Bind(true, s32AiDev, s32AiChn, s32AoDev, s32AoChn);
}

s32 HI_Media_Ao_UnbindAi(s32 s32AiDev, s32 s32AiChn, s32 s32AoDev, s32 s32AoChn)
{
    return Media_Ao_Bind(false, s32AiDev, s32AiChn, s32AoDev, s32AoChn);
}

void HI_Media_Ao_BindAdec(s32, s32, s32)
{
}

void HI_Media_Ao_UnbindAdec(s32, s32, s32)
{
}

s32 HI_Media_Adec_CreateChn(s32, s32)
{
    return 0;
}

s32 HI_Media_Adec_DestroyChn(s32)
{
    return 0;
}

s32 HI_Media_Adec_SendStream(s32, const u8 *, u32)
{
    return 0;
}

void HI_Media_ECB_AES256(const u8 *, const u8 *, u8 *, u32)
{
}
