// Services and their media streams.
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <new>
#include <unistd.h>

#include "core/Debug.h"
#include "rtsp/RtspServicePriv.h"
#include "rtsplib/include/AioSocket.h"
#include "rtsplib/include/Url.h"

static std::mutex s_mtxServerList;                 // guards the list; taken before any service lock
static RtspService_S *g_stRTSPServerList = nullptr;

RtspService_S *rtspLockServer(void *pvParam)
{
    std::lock_guard<std::mutex> lk(s_mtxServerList);
    for (RtspService_S *pstService = g_stRTSPServerList; pstService; pstService = pstService->pstNext) {
        if (pstService == pvParam && pstService->bCreated) {
            pstService->mtx.lock();
            return pstService;
        }
    }
    return nullptr;
}

RtspMediaStream_S *rtspFindStream(RtspService_S *pstService, const char *pszPath)
{
    for (RtspMediaStream_S *pstStream = pstService->pstStreams; pstStream; pstStream = pstStream->pstNext) {
        if (strstr(pszPath, pstStream->pszName) != nullptr)
            return pstStream;
    }
    return nullptr;
}

s32 rtspLockStream(void *pvParam, const char *pszUri, RtspStreamLock_S *pstLock)
{
    pstLock->pstService = rtspLockServer(pvParam);
    if (pstLock->pstService == nullptr)
        return 500;
    Url_S *pstUrl = url_parse(pszUri);
    if (pstUrl == nullptr)
        return errno == ENOMEM ? 500 : 400;
    RtspMediaStream_S *pstStream = rtspFindStream(pstLock->pstService, url_getpath(pstUrl));
    url_free(pstUrl);
    if (pstStream == nullptr)
        return 404;
    pstStream->mtx.lock();
    pstLock->pstStream = pstStream;
    return 0;
}

s32 rtspLockPlayableStream(void *pvParam, const char *pszUri, RtspStreamLock_S *pstLock)
{
    static DebugLimit_S s_stNoSignal;   // every player that tries while no input is there
    s32 s32Code = rtspLockStream(pvParam, pszUri, pstLock);
    if (s32Code != 0 || !pstLock->pstStream->bNoSignal)
        return s32Code;
    Debug_LogLimited(&s_stNoSignal, "[%s]: 503 Service Unavailable: no input signal\n", log_Time());
    return 503;
}

RtspSession_S *rtspFindSession(RtspMediaStream_S *pstStream, const char *pszSession)
{
    for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstSession->pstNext) {
        if (strcmp(pstSession->azSessionId, pszSession) == 0)
            return pstSession;
    }
    return nullptr;
}

static void rtspAioLoop(void *pvParam)
{
    RtspService_S *pstService = (RtspService_S *)pvParam;
    while (pstService->u32Run) {
        s32 s32Ret = aio_socket_process(RTSP_TICK_MS);
        if (s32Ret < 0) {
            Debug_Log("[%s]: %s: aio_socket_process: %s\n", log_Time(), __func__, strerror(-s32Ret));
            usleep(RTSP_TICK_MS * 1000);   // an epoll set gone bad: do not spin
        }
        rtspTick(pstService);
    }
}

s32 RTSPSEVER_Create(RtspService_S **ppstService, const RtspServerConfig_S *pstConfig)
{
    static const RtspServerHandler_S s_stHandler = {rtspOnDescribe, rtspOnSetup, rtspOnPlay, rtspOnPause,
                                                    rtspOnTeardown};
    if (ppstService == nullptr || pstConfig == nullptr || pstConfig->u32Port == 0 || pstConfig->u32Port > 0xFFFF) {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    std::lock_guard<std::mutex> lk(s_mtxServerList);
    for (RtspService_S *pst = g_stRTSPServerList; pst; pst = pst->pstNext) {
        if (pst->bCreated && pst->stConfig.u32Port == pstConfig->u32Port) {
            Debug_Log("[%s]: is Create!\n", log_Time());
            return -1;
        }
    }
    // Writes to a closed connection must fail, not end the process.
    signal(SIGPIPE, SIG_IGN);
    s32 s32Ret = aio_socket_init((s32)sysconf(_SC_NPROCESSORS_ONLN));
    if (s32Ret != 0) {
        Debug_Log("[%s]: %s: aio_socket_init: %s\n", log_Time(), __func__, strerror(s32Ret));
        return -1;
    }
    (void)rtsp_server_init();   // nothing to fail
    RtspService_S *pstService = new (std::nothrow) RtspService_S();
    if (pstService == nullptr) {
        Debug_Log("[%s]: malloc err!\n", log_Time());
        return -1;
    }
    pstService->pstServer = rtsp_server_create(nullptr, (u16)pstConfig->u32Port, &s_stHandler,
                                               (s32)pstConfig->u32Backlog, pstService);
    if (pstService->pstServer == nullptr) {
        Debug_Log("[%s]: rtsp_server_create err!\n", log_Time());
        delete pstService;
        return -1;
    }
    rtsp_server_register(pstService->pstServer, rtspOnClose);
    rtsp_server_register_busy(pstService->pstServer, rtspOnBusy);
    rtsp_server_register_alive(pstService->pstServer, rtspOnAlive);
    pstService->stConfig = *pstConfig;
    pstService->bCreated = 1;
    pstService->pstNext = g_stRTSPServerList;
    g_stRTSPServerList = pstService;
    *ppstService = pstService;
    return 0;
}

s32 RTSPSEVER_Start(RtspService_S *pstService)
{
    if (pstService == nullptr || !pstService->bCreated || pstService->pstPool != nullptr) {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    // One thread serves every connection for the life of the service.
    pstService->pstPool = thread_pool_create(1, RTSP_POOL_QUEUE, 1);
    if (pstService->pstPool == nullptr) {
        Debug_Log("[%s]: %s: thread_pool_create failed\n", log_Time(), __func__);
        return -1;
    }
    pstService->u32Run = 1;
    if (thread_pool_push(pstService->pstPool, rtspAioLoop, pstService) != 0) {
        Debug_Log("[%s]: %s: thread_pool_push failed\n", log_Time(), __func__);
        RTSPSEVER_Stop(pstService);
        return -1;
    }
    return 0;
}

s32 RTSPSEVER_Stop(RtspService_S *pstService)
{
    if (pstService == nullptr || !pstService->bCreated) {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    pstService->u32Run = 0;
    if (pstService->pstPool)
        thread_pool_destroy(pstService->pstPool);
    pstService->pstPool = nullptr;
    return 0;
}

// Frees a stream that is out of every list.
static void rtspFreeStream(RtspMediaStream_S *pstStream)
{
    delete[] pstStream->pszName;
    delete pstStream;
}

// Ends every session of the stream and tells its player. Caller holds the
// service lock but not the stream lock.
static void rtspTellStream(RtspMediaStream_S *pstStream)
{
    std::lock_guard<std::mutex> lk(pstStream->mtx);
    while (pstStream->pstSessions)
        rtspTellSession(pstStream->pstSessions);
}

// Withdraws the observers, then ends every session. Caller holds the
// service lock but not the stream lock: the wrapper may hold a lock of
// its own while it calls an observer, which takes the stream lock.
static void rtspCloseStream(RtspMediaStream_S *pstStream)
{
    RtspMediaStreamAttr_S *pstAttr = &pstStream->stAttr;
    if (pstAttr->stVideo.bVideoEnable && pstAttr->stVideo.pfnVideoRemoveObserver(&pstAttr->stVideo) < 0)
        Debug_Log("[%s]: %s: video observer not removed\n", log_Time(), __func__);
    if (pstAttr->stAudio.bAudioEnable && pstAttr->stAudio.pfnAudioRemoveObserver(&pstAttr->stAudio) < 0)
        Debug_Log("[%s]: %s: audio observer not removed\n", log_Time(), __func__);
    rtspTellStream(pstStream);
}

s32 RTSPSEVER_Destroy(RtspService_S *pstService)
{
    if (pstService == nullptr || !pstService->bCreated)
        return 0;
    // Closing the connections ends their sessions through rtspOnClose.
    (void)rtsp_server_destroy(pstService->pstServer);   // always 0
    (void)rtsp_server_cleanup();
    {
        std::lock_guard<std::mutex> lk(pstService->mtx);
        while (RtspMediaStream_S *pstStream = pstService->pstStreams) {
            rtspCloseStream(pstStream);
            pstService->pstStreams = pstStream->pstNext;
            rtspFreeStream(pstStream);
        }
    }
    std::lock_guard<std::mutex> lk(s_mtxServerList);
    pstService->bCreated = 0;
    for (RtspService_S **ppst = &g_stRTSPServerList; *ppst; ppst = &(*ppst)->pstNext) {
        if (*ppst == pstService) {
            *ppst = pstService->pstNext;
            break;
        }
    }
    if (g_stRTSPServerList == nullptr)
        aio_socket_clean();
    delete pstService;
    return 0;
}

static bool rtspStreamAttrOk(const RtspMediaStreamAttr_S *pstAttr)
{
    const RtspMediaAudioAttr_S *pstAudio = &pstAttr->stAudio;
    const RtspMediaVideoAttr_S *pstVideo = &pstAttr->stVideo;
    if (pstAudio->bAudioEnable && (!pstAudio->pfnGetAudioInfo || !pstAudio->pfnStub1 || !pstAudio->pfnStub2 ||
                                   !pstAudio->pfnAudioAddObserver || !pstAudio->pfnAudioRemoveObserver)) {
        Debug_Log("[%s]: Audio stream para err!\n", log_Time());
        return false;
    }
    if (pstVideo->bVideoEnable &&
        (!pstVideo->pfnGetVideoInfo || !pstVideo->pfnStub3 || !pstVideo->pfnStub4 || !pstVideo->pfnGetParamSets ||
         !pstVideo->pfnVideoAddObserver || !pstVideo->pfnVideoRemoveObserver || !pstVideo->pfnRequestIdr ||
         !pstVideo->pfnGetVps)) {
        Debug_Log("[%s]: Video stream para err!\n", log_Time());
        return false;
    }
    return true;
}

s32 RTSPSEVER_AddMediaStream(RtspService_S *pstService, const RtspMediaStreamAttr_S *pstAttr, const char *pszPath,
                             u32 u32Param)
{
    (void)u32Param;   // carried by the caller, not read
    if (pstService == nullptr || !pstService->bCreated || pstAttr == nullptr || pszPath == nullptr ||
        pszPath[0] == '\0') {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    if (!rtspStreamAttrOk(pstAttr))
        return -1;
    std::lock_guard<std::mutex> lk(pstService->mtx);
    if (rtspFindStream(pstService, pszPath) != nullptr)
        return 0;
    RtspMediaStream_S *pstStream = new (std::nothrow) RtspMediaStream_S();
    size_t len = strlen(pszPath);
    if (pstStream == nullptr || (pstStream->pszName = new (std::nothrow) char[len + 1]) == nullptr) {
        Debug_Log("[%s]: __alloc_stream err!\n", log_Time());
        delete pstStream;
        return -1;
    }
    memcpy(pstStream->pszName, pszPath, len + 1);
    pstStream->stAttr = *pstAttr;
    pstStream->stVideoObserver = {rtspVideoStream, rtspVideoError, pstStream};
    pstStream->stAudioObserver = {rtspAudioStream, rtspAudioError, pstStream};
    pstStream->pstService = pstService;
    // Frames may come as soon as an observer is in; with no session yet
    // they are dropped, so the stream needs no lock until it is linked.
    RtspMediaStreamAttr_S *pstOwn = &pstStream->stAttr;
    if (pstOwn->stVideo.bVideoEnable &&
        pstOwn->stVideo.pfnVideoAddObserver(&pstOwn->stVideo, &pstStream->stVideoObserver) < 0) {
        Debug_Log("[%s]: Video stream addObserver err!\n", log_Time());
        rtspFreeStream(pstStream);
        return -1;
    }
    if (pstOwn->stAudio.bAudioEnable &&
        pstOwn->stAudio.pfnAudioAddObserver(&pstOwn->stAudio, &pstStream->stAudioObserver) < 0) {
        Debug_Log("[%s]: Audio stream addObserver err!\n", log_Time());
        if (pstOwn->stVideo.bVideoEnable)
            (void)pstOwn->stVideo.pfnVideoRemoveObserver(&pstOwn->stVideo);   // failure logged by the wrapper
        rtspFreeStream(pstStream);
        return -1;
    }
    pstStream->pstNext = pstService->pstStreams;
    pstService->pstStreams = pstStream;
    return 0;
}

s32 RTSPSEVER_RemoveMediaStream(RtspService_S *pstService, const char *pszPath)
{
    if (pstService == nullptr || !pstService->bCreated || pszPath == nullptr) {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    std::lock_guard<std::mutex> lk(pstService->mtx);
    RtspMediaStream_S **ppstStream = &pstService->pstStreams;
    while (*ppstStream && strstr(pszPath, (*ppstStream)->pszName) == nullptr)
        ppstStream = &(*ppstStream)->pstNext;
    RtspMediaStream_S *pstStream = *ppstStream;
    if (pstStream == nullptr)
        return 0;
    rtspCloseStream(pstStream);
    *ppstStream = pstStream->pstNext;
    rtspFreeStream(pstStream);
    return 0;
}

s32 RTSPSEVER_EndMediaStreamSessions(RtspService_S *pstService, const char *pszPath)
{
    if (pstService == nullptr || !pstService->bCreated || pszPath == nullptr) {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    std::lock_guard<std::mutex> lk(pstService->mtx);
    RtspMediaStream_S *pstStream = rtspFindStream(pstService, pszPath);
    if (pstStream != nullptr)
        rtspTellStream(pstStream);
    return 0;
}

s32 RTSPSEVER_SetMediaStreamSignal(RtspService_S *pstService, const char *pszPath, u32 bSignal)
{
    if (pstService == nullptr || !pstService->bCreated || pszPath == nullptr) {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    {
        std::lock_guard<std::mutex> lk(pstService->mtx);
        RtspMediaStream_S *pstStream = rtspFindStream(pstService, pszPath);
        if (pstStream == nullptr)
            return -1;
        std::lock_guard<std::mutex> lkStream(pstStream->mtx);
        pstStream->bNoSignal = bSignal ? 0 : 1;
    }
    // No session starts any more; the players there are told as by a stop.
    return bSignal ? 0 : RTSPSEVER_EndMediaStreamSessions(pstService, pszPath);
}

s32 RTSPSEVER_GetMediaStreamConnect(RtspService_S *pstService, const char *pszPath, u32 *pu32Count)
{
    if (pstService == nullptr || !pstService->bCreated || pszPath == nullptr || pu32Count == nullptr) {
        Debug_Log("[%s]: para err!\n", log_Time());
        return -1;
    }
    std::lock_guard<std::mutex> lk(pstService->mtx);
    RtspMediaStream_S *pstStream = rtspFindStream(pstService, pszPath);
    if (pstStream == nullptr)
        return -1;
    std::lock_guard<std::mutex> lkStream(pstStream->mtx);
    u32 u32Count = 0;
    for (RtspSession_S *pstSession = pstStream->pstSessions; pstSession; pstSession = pstSession->pstNext)
        u32Count++;
    *pu32Count = u32Count;
    return 0;
}

void RTSPSERVER_SetPermissionStr(const char *pszText)
{
    snprintf(g_azUserAgent, sizeof(g_azUserAgent), "%s", pszText ? pszText : "");
}
