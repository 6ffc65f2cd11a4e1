// Media glue: the frame sender thread that drains MEDIA_LIST into the RTSP
// wrapper, and the snapshot writer.
#include "app/MainMedia.h"

#include <cstdio>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include "app/Main.h"
#include "core/Debug.h"
#include "core/Thread.h"
#include "media/AVSource.h"
#include "media/MediaFrame.h"
#include "rtsp/RtspServer.h"

// The media layer fills the buffers the wrapper reads.
static_assert(MEDIA_PCM_BUF_LEN == RTSP_PCM_BUF_LEN, "one PCM buffer layout");

#define MAIN_SEND_WAIT_MS  100
#define MAIN_SNAP_MODE     0777

std::mutex g_mediaListFrame_mutex;
std::mutex snap_mutex;

static MainThread_S s_stMediaSendThread;

s32 MAIN_Media_Frame_Init(s32 *pbInit)
{
    if (*pbInit == 0 && MEDIA_LIST_Init() == 0)
        *pbInit = 1;
    return *pbInit ? 0 : -1;
}

s32 MAIN_Media_Frame_DeInit(s32 *pbInit)
{
    if (*pbInit != 0) {
        (void)MEDIA_LIST_DeInit();   // cannot fail: it frees what is queued and unlinks the head
        *pbInit = 0;
    }
    return 0;
}

// One frame to the streams whose codec it is, when sending is on.
static void Main_Media_SendNode(MediaFrameNode_S *pstNode)
{
    const NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    RtspServerAttr_S *pstRtsp = (RtspServerAttr_S *)pstNet->hRtspServer;
    if (!g_stMainServerAttr.bMediaSend || !g_s32StopSend || !pstNet->bRtspStart || pstRtsp == nullptr)
        return;
    // Send results are not looked at: a lost frame is not retried.
    if (pstNode->enFrameKind == MEDIA_FRAME_VIDEO) {
        (void)RtspServer_SendVFrame(pstRtsp, pstNode->s32Chn, &pstNode->stStream);
        return;
    }
    const MainMediaAttr_S *pstAttr = &g_stMainServerAttr.stMainMediaAttr;
    u32 u32Rate = pstAttr->stAiAttr.enOutSamplerate;
    if (pstAttr->enMainAudioCodec == MAIN_AUDIO_CODEC_PCM)
        (void)RtspServer_SendAPCMFrame(pstRtsp, 0, u32Rate, &pstNode->stAudio);
    if (pstAttr->enSubAudioCodec == MAIN_AUDIO_CODEC_PCM)
        (void)RtspServer_SendAPCMFrame(pstRtsp, 1, u32Rate, &pstNode->stAudio);
}

static void *MAIN_Media_Send_Frame(void *pvUnused)
{
    (void)pvUnused;
    pthread_setname_np(pthread_self(), "MediaSendFrame");
    while (MAIN_Thread_Running(&s_stMediaSendThread)) {
        MediaFrameNode_S *pstNode = MEDIA_LIST_GetOneFram(MAIN_SEND_WAIT_MS);
        if (pstNode == nullptr)
            continue;
        std::lock_guard<std::mutex> lock(g_mediaListFrame_mutex);
        Main_Media_SendNode(pstNode);
        MEDIA_LIST_DelOneFram(pstNode);
    }
    return nullptr;
}

s32 MAIN_Media_Frame_Start(void)
{
    s_stMediaSendThread.pfnWake = MEDIA_LIST_Wake;
    return MAIN_Thread_Start(&s_stMediaSendThread, MAIN_Media_Send_Frame, nullptr, nullptr);
}

s32 MAIN_Media_Frame_Stop(void)
{
    MAIN_Thread_Stop(&s_stMediaSendThread);
    return 0;
}

// Writes the packs into the temporary file; false when any write, the
// flush, the mode or the close failed.
static bool Main_Snap_Write(FILE *pFile, const MiVencStream_S *pstStream)
{
    bool bOk = true;
    for (u32 i = 0; bOk && i < pstStream->u32PackCount; i++) {
        const MiVencPack_S &stPack = pstStream->pstPack[i];
        if (stPack.u32Offset > stPack.u32Len)
            continue;
        size_t sizeLen = stPack.u32Len - stPack.u32Offset;
        bOk = fwrite(stPack.pu8Addr + stPack.u32Offset, 1, sizeLen, pFile) == sizeLen && fflush(pFile) == 0;
    }
    if (bOk && fchmod(fileno(pFile), MAIN_SNAP_MODE) != 0) {
        Debug_Log("[%s]: chmod fail\n", log_Time());
        bOk = false;
    }
    return (fclose(pFile) == 0) && bOk;
}

s32 HI_Media_Save_SnapShot(const MiVencStream_S *pstStream)
{
    FILE *pFile = fopen(MAIN_SNAP_TMP_FILE, "w");
    if (pFile == nullptr) {
        Debug_Log("[%s]: open /tmp/snaptmp.jpg fail\n", log_Time());
        return -1;
    }
    if (!Main_Snap_Write(pFile, pstStream)) {
        Debug_Log("[%s]: write /tmp/snaptmp.jpg fail\n", log_Time());
        unlink(MAIN_SNAP_TMP_FILE);
        return -1;
    }
    std::lock_guard<std::mutex> lock(snap_mutex);
    if (rename(MAIN_SNAP_TMP_FILE, MAIN_SNAP_FILE) != 0) {
        Debug_Log("[%s]: rename fail\n", log_Time());
        unlink(MAIN_SNAP_TMP_FILE);
        return -1;
    }
    g_snap_file = 1;
    return 0;
}
