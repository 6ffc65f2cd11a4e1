#include "media/MediaFrame.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "core/Debug.h"

// One queue: its list under the queue mutex, and the consumer's wake-up.
struct MediaQueue_S {
    std::mutex mutex;                  // the queue mutex: guards all below
    std::condition_variable cond;      // signalled for each frame queued
    bool bInit;                        // stHead set up
    bool bWake;                        // the waiting consumer is to return now
    ListNode_S stHead;
    u32 u32Count, u32AudioCount;       // queued; MEDIA_LIST only
};

// Made on first use and never freed: threads may wait on them until the
// process ends.
static MediaQueue_S *Media_Queue(bool bAac)
{
    static MediaQueue_S *s_apstQueue[2] = {new MediaQueue_S(), new MediaQueue_S()};
    return s_apstQueue[bAac];
}

static MediaFrameNode_S *Media_NodeOf(ListNode_S *pstLink)
{
    return (MediaFrameNode_S *)((char *)pstLink - offsetof(MediaFrameNode_S, stNode));
}

static s32 Media_QueueInit(MediaQueue_S *pstQueue)
{
    std::lock_guard<std::mutex> lock(pstQueue->mutex);
    if (pstQueue->bInit)
        return 0;
    if (init_list_head(&pstQueue->stHead) != 0)
        return -1;
    pstQueue->bInit = true;
    return 0;
}

static s32 Media_QueueAdd(MediaQueue_S *pstQueue, MediaFrameNode_S *pstNode, bool bAudio)
{
    if (pstNode == nullptr)
        return -1;
    std::lock_guard<std::mutex> lock(pstQueue->mutex);
    if (!pstQueue->bInit || add_list_tail_node(&pstQueue->stHead, &pstNode->stNode) != 0)
        return -1;
    pstQueue->u32Count++;
    pstQueue->u32AudioCount += bAudio;
    pstQueue->cond.notify_one();
    return 0;
}

// Unlinks the first node; queue mutex held.
static MediaFrameNode_S *Media_QueueTake(MediaQueue_S *pstQueue)
{
    ListNode_S *pstFirst = pstQueue->stHead.pstNext;
    if (!pstQueue->bInit || pstFirst == &pstQueue->stHead || del_list_node(&pstQueue->stHead, pstFirst) != 0)
        return nullptr;
    MediaFrameNode_S *pstNode = Media_NodeOf(pstFirst);
    pstQueue->u32Count--;
    pstQueue->u32AudioCount -= pstNode->enFrameKind == MEDIA_FRAME_PCM;
    return pstNode;
}

static MediaFrameNode_S *Media_QueueGet(MediaQueue_S *pstQueue, u32 u32WaitMs)
{
    std::unique_lock<std::mutex> lock(pstQueue->mutex);
    pstQueue->cond.wait_for(lock, std::chrono::milliseconds(u32WaitMs), [pstQueue] {
        return pstQueue->bWake || (pstQueue->bInit && pstQueue->stHead.pstNext != &pstQueue->stHead);
    });
    pstQueue->bWake = false;
    return Media_QueueTake(pstQueue);
}

static void Media_QueueWake(MediaQueue_S *pstQueue)
{
    std::lock_guard<std::mutex> lock(pstQueue->mutex);
    pstQueue->bWake = true;
    pstQueue->cond.notify_all();
}

static void Media_FreeMediaNode(MediaFrameNode_S *pstNode)
{
    if (pstNode->enFrameKind == MEDIA_FRAME_VIDEO)
        HI_MEDIA_Venc_DelFrame(&pstNode->stStream);
    else
        HI_MEDIA_Ai_DelFrame(&pstNode->stAudio);
    delete pstNode;
}

static void Media_FreeAacNode(MediaFrameNode_S *pstNode)
{
    HI_MEDIA_Ai_DelFrame(&pstNode->stAudio);
    delete pstNode;
}

static void Media_QueueClear(MediaQueue_S *pstQueue, void (*pfnFree)(MediaFrameNode_S *))
{
    std::lock_guard<std::mutex> lock(pstQueue->mutex);
    while (MediaFrameNode_S *pstNode = Media_QueueTake(pstQueue))
        pfnFree(pstNode);
}

s32 MEDIA_LIST_Init(void)
{
    return Media_QueueInit(Media_Queue(false));
}

s32 MEDIA_LIST_DeInit(void)
{
    MediaQueue_S *pstQueue = Media_Queue(false);
    Media_QueueClear(pstQueue, Media_FreeMediaNode);
    std::lock_guard<std::mutex> lock(pstQueue->mutex);
    if (pstQueue->bInit)
        (void)deinit_list_head(&pstQueue->stHead);   // unlocked and unused: cannot fail
    pstQueue->bInit = false;
    return 0;
}

s32 MEDIA_LIST_Add(MediaFrameNode_S *pstNode)
{
    return Media_QueueAdd(Media_Queue(false), pstNode, pstNode && pstNode->enFrameKind == MEDIA_FRAME_PCM);
}

MediaFrameNode_S *MEDIA_LIST_GetOneFram(u32 u32WaitMs)
{
    return Media_QueueGet(Media_Queue(false), u32WaitMs);
}

void MEDIA_LIST_Wake(void)
{
    Media_QueueWake(Media_Queue(false));
}

s32 MEDIA_LIST_DelOneFram(MediaFrameNode_S *pstNode)
{
    if (pstNode == nullptr)
        return -1;
    Media_FreeMediaNode(pstNode);
    return 0;
}

s32 MEDIA_LIST_DelAll(void)
{
    Media_QueueClear(Media_Queue(false), Media_FreeMediaNode);
    return 0;
}

u32 MEDIA_LIST_GetCurFramCnt(u32 *pu32Audio)
{
    MediaQueue_S *pstQueue = Media_Queue(false);
    std::lock_guard<std::mutex> lock(pstQueue->mutex);
    if (pu32Audio != nullptr)
        *pu32Audio = pstQueue->u32AudioCount;
    return pstQueue->u32Count - pstQueue->u32AudioCount;
}

s32 AAC_LIST_Init(void)
{
    return Media_QueueInit(Media_Queue(true));
}

s32 AAC_LIST_Add(MediaFrameNode_S *pstNode)
{
    return Media_QueueAdd(Media_Queue(true), pstNode, false);
}

MediaFrameNode_S *AAC_LIST_GetOneFram(u32 u32WaitMs)
{
    return Media_QueueGet(Media_Queue(true), u32WaitMs);
}

void AAC_LIST_Wake(void)
{
    Media_QueueWake(Media_Queue(true));
}

s32 AAC_LIST_DelOneFram(MediaFrameNode_S *pstNode)
{
    if (pstNode == nullptr)
        return -1;
    Media_FreeAacNode(pstNode);
    return 0;
}

s32 AAC_LIST_DelAll(void)
{
    Media_QueueClear(Media_Queue(true), Media_FreeAacNode);
    return 0;
}

s32 HI_MEDIA_Ai_CopyFrame(MediaAudioFrame_S *pstDst, const MediaAudioFrame_S *pstSrc)
{
    if (pstSrc->apData[0] == nullptr)
        return -1;
    s16 *ps16Out = (s16 *)calloc(1, MEDIA_PCM_BUF_LEN);
    if (ps16Out == nullptr)
        return -1;
    *pstDst = *pstSrc;
    const s16 *ps16In = (const s16 *)pstSrc->apData[0];
    u32 u32Pairs = pstSrc->u32Len / (2 * sizeof(s16));
    if (u32Pairs > MEDIA_AUDIO_PTNUM)
        u32Pairs = MEDIA_AUDIO_PTNUM;
    s16 *ps16Right = ps16Out + MEDIA_PCM_RIGHT / sizeof(s16);
    for (u32 i = 0; i < u32Pairs; i++) {
        ps16Out[i] = ps16In[2 * i];
        ps16Right[i] = ps16In[2 * i + 1];
    }
    pstDst->apData[0] = ps16Out;
    return 0;
}

void HI_MEDIA_Ai_DelFrame(MediaAudioFrame_S *pstFrame)
{
    free(pstFrame->apData[0]);
    pstFrame->apData[0] = nullptr;
}

void AAC_Ai_DelFrame(MediaAudioFrame_S *pstFrame)
{
    HI_MEDIA_Ai_DelFrame(pstFrame);
}

s32 HI_MEDIA_Venc_CopyFrame(MiVencStream_S *pstDst, const MiVencStream_S *pstSrc)
{
    *pstDst = *pstSrc;
    pstDst->pstPack = (MiVencPack_S *)calloc(pstSrc->u32PackCount, sizeof(MiVencPack_S));
    if (pstDst->pstPack == nullptr)
        return -1;
    for (u32 i = 0; i < pstSrc->u32PackCount; i++) {
        const MiVencPack_S &stSrc = pstSrc->pstPack[i];
        MiVencPack_S &stDst = pstDst->pstPack[i];
        stDst = stSrc;
        stDst.pu8Addr = (u8 *)malloc(stSrc.u32Len != 0 ? stSrc.u32Len : 1);
        if (stDst.pu8Addr == nullptr) {
            pstDst->u32PackCount = i;
            HI_MEDIA_Venc_DelFrame(pstDst);
            return -1;
        }
        if (stSrc.u32Len != 0)
            memcpy(stDst.pu8Addr, stSrc.pu8Addr, stSrc.u32Len);
    }
    return 0;
}

void HI_MEDIA_Venc_DelFrame(MiVencStream_S *pstStream)
{
    for (u32 i = 0; pstStream->pstPack != nullptr && i < pstStream->u32PackCount; i++)
        free(pstStream->pstPack[i].pu8Addr);
    free(pstStream->pstPack);
    pstStream->pstPack = nullptr;
    pstStream->u32PackCount = 0;
}

s32 HI_MEDIA_VencChn_DelFrame(s32 s32VencChn, MiVencStream_S *pstStream)
{
    s32 s32Ret = MI_VENC_ReleaseStream((u32)s32VencChn, pstStream);
    if (s32Ret != MI_SUCCESS)
        Debug_Log("[%s]: HI_MPI_VENC_ReleaseStream failed with %#x!\n", log_Time(), s32Ret);
    free(pstStream->pstPack);
    pstStream->pstPack = nullptr;
    return s32Ret;
}
