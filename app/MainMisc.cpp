// Each pass reads every setting it acts on once and acts on that value
// only, so a change made while the pass runs is seen by the next pass.
#include "app/MainMisc.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include "app/Main.h"
#include "app/MainRtspServer.h"
#include "app/MainService.h"
#include "config/ConfigAttr.h"
#include "core/Clock.h"
#include "core/Debug.h"
#include "core/Thread.h"
#include "media/AVSource.h"
#include "media/MediaVideo.h"
#include "net/Dot1x.h"
#include "web/Lighttpd.h"

#define MISC_WEB_RESTART_MS  200
#define MISC_IDR_PAUSE_MS    10
#define MISC_TEXT_LEN        64
#define MISC_DOT1X_RETRY_MS  10000   // wait before the same credentials are tried again

std::atomic<s32> g_bHttpdWebOn{0};

enum MiscWebState_E { MISC_WEB_NONE = 0, MISC_WEB_HTTP = 1, MISC_WEB_HTTPS = 2 };

// The command daemon's FIFO, opened without waiting for its reader.
struct MiscFifo_S {
    s32 s32Fd;               // -1 while not open
    bool bLogged;            // the open failure of this outage was logged
    const char *pszPending;  // a command that could not be written yet
};

struct MiscState_S {
    char azLastIp[32];
    s32 s32LastId;
    MiscHdcp_S stHdcp;
    s32 bDot1xRun;
    char azDot1xUser[MISC_TEXT_LEN];
    char azDot1xPwd[MISC_TEXT_LEN];
    char azDot1xFailUser[MISC_TEXT_LEN];   // credentials of the last failed start
    char azDot1xFailPwd[MISC_TEXT_LEN];
    s64 s64Dot1xRetryMs;     // no start with those before this time; 0 after a success
    s32 bSshRun;
    s32 enWeb;               // MiscWebState_E
    u32 u32LastPort;
    s32 bFirst;
    MiscFifo_S stFifo;
};

static MainThread_S s_stThread;
static DebugLimit_S s_stLimitSsh, s_stLimitFifo;

void MAIN_Misc_HdcpInit(MiscHdcp_S *pstHdcp)
{
    *pstHdcp = {MISC_HDCP_NONE, 0, MISC_HDCP_NONE, -1, 0, 0};
}

s32 MAIN_Misc_HdcpPass(MiscHdcp_S *pstHdcp, u8 u8State, s32 s32Mode)
{
    if (u8State == pstHdcp->u8Accepted) {
        pstHdcp->u32Debounce = 0;
    } else if (pstHdcp->u32Debounce <= MISC_HDCP_DEBOUNCE) {
        pstHdcp->u32Debounce++;
    } else {
        pstHdcp->u8Accepted = u8State;
        pstHdcp->u32Debounce = 0;
    }
    if (pstHdcp->u8Accepted != pstHdcp->u8Announced || s32Mode != pstHdcp->s32SeenMode) {
        pstHdcp->s32SeenMode = s32Mode;
        Debug_Log("[%s]: [%s,%d]Hdcp Change,hdcp_state %d,s32HdcpMode %d\n", log_Time(), __func__, __LINE__,
                  pstHdcp->u8Accepted, s32Mode);
        pstHdcp->u8Announced = pstHdcp->u8Accepted;
        pstHdcp->u32Count = 0;
        pstHdcp->bAnnouncing = 1;
    }
    if (!pstHdcp->bAnnouncing)
        return 0;
    if (pstHdcp->u32Count <= MISC_HDCP_LAST)
        return pstHdcp->u32Count++ % MISC_HDCP_EVERY == 0 ? 1 : 0;
    pstHdcp->bAnnouncing = 0;
    pstHdcp->u32Count = 0;
    return 1;
}

// A text of the settings, read once and always terminated.
static void Misc_CopyText(char *pszDst, const char *pszSrc, size_t sizeDst)
{
    size_t sizeLen = strnlen(pszSrc, sizeDst - 1);
    memcpy(pszDst, pszSrc, sizeLen);
    pszDst[sizeLen] = '\0';
}

// Opens the FIFO when its reader is there; the first failure of an outage
// is logged.
static void Misc_FifoOpen(MiscFifo_S *pstFifo)
{
    if (pstFifo->s32Fd >= 0)
        return;
    pstFifo->s32Fd = open(MISC_CMD_FIFO, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (pstFifo->s32Fd < 0) {
        if (!pstFifo->bLogged)
            Debug_Log("[%s]: open fifodeamon: %s\n", log_Time(), strerror(errno));
        pstFifo->bLogged = true;
        return;
    }
    pstFifo->bLogged = false;
}

// Sends one command text without terminator. A command the FIFO cannot
// take now is kept, and sent once it can: the last one counts, as a start
// after a stop leaves the server running either way.
static void Misc_Command(MiscFifo_S *pstFifo, const char *pszCmd)
{
    char azBuf[MISC_CMD_LEN];
    memset(azBuf, 0, sizeof(azBuf));
    snprintf(azBuf, sizeof(azBuf), "%s", pszCmd);
    size_t sizeLen = strlen(azBuf);

    Misc_FifoOpen(pstFifo);
    pstFifo->pszPending = pszCmd;
    if (pstFifo->s32Fd < 0)
        return;
    ssize_t sizeDone = write(pstFifo->s32Fd, azBuf, sizeLen);
    s32 s32Err = sizeDone < 0 ? errno : 0;
    if (sizeDone == (ssize_t)sizeLen) {
        pstFifo->pszPending = nullptr;
        return;
    }
    // Up to PIPE_BUF bytes go whole or not at all: no part is ever left.
    Debug_LogLimited(&s_stLimitFifo, "[%s]: %s: write fifodeamon: %s\n", log_Time(), __func__,
                     s32Err != 0 ? strerror(s32Err) : "short write");
    if (s32Err == EPIPE) {   // the daemon went away; reopen later
        close(pstFifo->s32Fd);
        pstFifo->s32Fd = -1;
    }
}

static void Misc_SourceIp(MiscState_S *pstState)
{
    char azIp[sizeof(pstState->azLastIp)];
    Misc_CopyText(azIp, g_stMainServerAttr.stConifg.azHostIP, sizeof(azIp));
    if (strcmp(azIp, pstState->azLastIp) == 0)
        return;
    memcpy(pstState->azLastIp, azIp, sizeof(azIp));
    FILE *fp = fopen(MISC_SOURCEIP_FILE, "w+");
    if (fp == nullptr) {
        Debug_Log("[%s]: fopen /tmp/sourceip err!", log_Time());
        return;
    }
    bool bOk = fputs(azIp, fp) >= 0;
    if (fclose(fp) != 0 || !bOk)
        Debug_Log("[%s]: %s: write %s: %s\n", log_Time(), __func__, MISC_SOURCEIP_FILE, strerror(errno));
}

static void Misc_Hdcp(MiscState_S *pstState)
{
    if (MAIN_Misc_HdcpPass(&pstState->stHdcp, g_hdcp_state, g_stConfigAttr.stMisc.s32HdcpMode) == 0)
        return;
    const NetServerConfig_S *pstNet = &g_stMainServerAttr.stConifg;
    RtspServerAttr_S *pstRtsp = (RtspServerAttr_S *)pstNet->hRtspServer;
    if (pstNet->bRtspStart == 0 || pstRtsp == nullptr)
        return;
    // The state sent is the state now, not the debounced one.
    (void)RtspServer_SendVSEICmdFrame(pstRtsp, g_stMainServerAttr.stMainMediaAttr.as32VencChn[0],
                                      g_hdcp_state);   // an announcement lost is sent again by its series
}

// Starts the supplicant; true when it runs. Each failed start logs, so one
// that failed is not tried again with the same credentials until they
// change, or, unless they were refused, until MISC_DOT1X_RETRY_MS later.
static bool Misc_Dot1xStart(MiscState_S *pstState, const char *pszUser, const char *pszPwd)
{
    s64 s64Now = Clock_NowMs();
    if (s64Now < pstState->s64Dot1xRetryMs && strcmp(pszUser, pstState->azDot1xFailUser) == 0 &&
        strcmp(pszPwd, pstState->azDot1xFailPwd) == 0)
        return false;
    s32 s32Ret = MAIN_8021xClient_Start(pszUser, pszPwd);
    if (s32Ret == 0) {
        pstState->s64Dot1xRetryMs = 0;
        return true;
    }
    Misc_CopyText(pstState->azDot1xFailUser, pszUser, sizeof(pstState->azDot1xFailUser));
    Misc_CopyText(pstState->azDot1xFailPwd, pszPwd, sizeof(pstState->azDot1xFailPwd));
    pstState->s64Dot1xRetryMs = s32Ret == DOT1X_REFUSED ? INT64_MAX : s64Now + MISC_DOT1X_RETRY_MS;
    return false;
}

static void Misc_Dot1x(MiscState_S *pstState)
{
    const ConfigMiscAttr_S *pstMisc = &g_stConfigAttr.stMisc;
    if (pstMisc->s32Ports == 0 || pstMisc->s32Dot1x == 0) {
        if (pstState->bDot1xRun) {
            (void)MAIN_8021xClient_Stop();   // always 0
            pstState->bDot1xRun = 0;
        }
        pstState->s64Dot1xRetryMs = 0;   // switched on again, it is tried at once
        return;
    }
    char azUser[MISC_TEXT_LEN], azPwd[MISC_TEXT_LEN];
    Misc_CopyText(azUser, pstMisc->azDot1xUser, sizeof(azUser));
    Misc_CopyText(azPwd, pstMisc->azDot1xPwd, sizeof(azPwd));
    if (!pstState->bDot1xRun) {
        pstState->bDot1xRun = Misc_Dot1xStart(pstState, azUser, azPwd);
        return;
    }
    if (strcmp(azUser, pstState->azDot1xUser) == 0 && strcmp(azPwd, pstState->azDot1xPwd) == 0)
        return;
    (void)MAIN_8021xClient_Stop();
    pstState->bDot1xRun = Misc_Dot1xStart(pstState, azUser, azPwd);
    if (pstState->bDot1xRun) {
        memcpy(pstState->azDot1xUser, azUser, sizeof(azUser));
        memcpy(pstState->azDot1xPwd, azPwd, sizeof(azPwd));
    }
}

static void Misc_Ssh(MiscState_S *pstState)
{
    const ConfigMiscAttr_S *pstMisc = &g_stConfigAttr.stMisc;
    if (pstMisc->s32Ports != 0 && pstMisc->s32Ssh != 0) {
        if (pstState->bSshRun)
            return;
        if (MAIN_SshServer_Start() == 0)
            pstState->bSshRun = 1;
        else
            Debug_LogLimited(&s_stLimitSsh, "[%s]: start ssh server fail!\n", log_Time());
    } else if (pstState->bSshRun) {
        (void)MAIN_SshServer_Stop();   // always 0
        pstState->bSshRun = 0;
    }
}

// Writes the configuration for the mode and port read in this pass and
// remembers exactly those, so a later change is a difference again.
static void Misc_WebConfig(MiscState_S *pstState, s32 bHttps, u32 u32Port)
{
    (void)MAIN_lighttpd_https_config(bHttps, u32Port);   // logged; the server keeps its old file
    pstState->enWeb = bHttps ? MISC_WEB_HTTPS : MISC_WEB_HTTP;
}

static void Misc_Web(MiscState_S *pstState)
{
    s32 bHttps = g_stConfigAttr.stMisc.s32Https != 0;
    u32 u32Port = g_stMainServerAttr.stConifg.stWeb.u32Port;

    g_bHttpdWebOn = g_stConfigAttr.stMisc.s32Web;
    if (pstState->enWeb == MISC_WEB_NONE) {
        Misc_WebConfig(pstState, bHttps, u32Port);
        Misc_Command(&pstState->stFifo, "ss http start!");
        return;
    }
    bool bModeChange = (pstState->enWeb == MISC_WEB_HTTPS) != (bHttps != 0);
    if (!bModeChange && u32Port == pstState->u32LastPort)
        return;
    Misc_Command(&pstState->stFifo, "ss http stop!");
    (void)MAIN_Thread_Wait(&s_stThread, MISC_WEB_RESTART_MS);   // a stop ends the pause; the restart still completes
    Misc_WebConfig(pstState, bHttps, u32Port);
    Misc_Command(&pstState->stFifo, "ss http start!");
    pstState->u32LastPort = u32Port;
}

static void Misc_KeyFrames(void)
{
    for (s32 s32Chn = 0; s32Chn < RTSP_IDR_CHANNELS; s32Chn++) {
        if (g_bRequestIDR[s32Chn].exchange(0) == 0)
            continue;
        (void)MAIN_Thread_Wait(&s_stThread, MISC_IDR_PAUSE_MS);
        if (HI_Media_Venc_RequestIDR(s32Chn) != 0)
            Debug_Log("[%s]: HI_Media_Venc_RequestIDR %d fail\n", log_Time(), s32Chn);
    }
}

static void Misc_Pass(MiscState_S *pstState)
{
    Misc_SourceIp(pstState);

    s32 s32Mode = g_stConfigAttr.stMisc.s32FileDebug;
    if (g_bFileDebugOn != s32Mode) {
        g_bFileDebugOn = s32Mode;
        Debug_Log("[%s]: %s: file debug %d\n", log_Time(), "Main_Misc_Thread", s32Mode);
    }

    s32 s32Id = g_stConfigAttr.stManual.s32ID;
    if (s32Id != pstState->s32LastId) {
        Debug_Log("[%s]: %s: id change\n", log_Time(), "Main_Misc_Thread");
        (void)MAIN_RTSP_Restart();   // logs its own failures
    }
    pstState->s32LastId = s32Id;

    Misc_Hdcp(pstState);
    Misc_Dot1x(pstState);
    if (pstState->bFirst)
        (void)MAIN_TelnetServer_Stop();   // always 0
    Misc_Ssh(pstState);
    if (pstState->stFifo.pszPending != nullptr)
        Misc_Command(&pstState->stFifo, pstState->stFifo.pszPending);
    Misc_Web(pstState);
    Misc_KeyFrames();
    pstState->bFirst = 0;
}

static void Misc_Init(MiscState_S *pstState)
{
    const ConfigMiscAttr_S *pstMisc = &g_stConfigAttr.stMisc;
    memset(pstState, 0, sizeof(*pstState));
    pstState->s32LastId = g_stConfigAttr.stManual.s32ID;
    MAIN_Misc_HdcpInit(&pstState->stHdcp);
    Misc_CopyText(pstState->azDot1xUser, pstMisc->azDot1xUser, sizeof(pstState->azDot1xUser));
    Misc_CopyText(pstState->azDot1xPwd, pstMisc->azDot1xPwd, sizeof(pstState->azDot1xPwd));
    pstState->bSshRun = 1;   // the system starts the daemon before this program
    pstState->enWeb = MISC_WEB_NONE;
    pstState->u32LastPort = g_stMainServerAttr.stConifg.stWeb.u32Port;
    pstState->bFirst = 1;
    pstState->stFifo = {-1, false, nullptr};
}

static void *Main_Misc_Thread(void *pvArg)
{
    (void)pvArg;
    MiscState_S stState;

    pthread_setname_np(pthread_self(), "MainMiscTrd");
    Debug_Log("[%s]: %s: bhttps %d\n", log_Time(), __func__, g_stConfigAttr.stMisc.s32Https);
    Misc_Init(&stState);
    Debug_Log("[%s]: %s: start0\n", log_Time(), __func__);
    Misc_FifoOpen(&stState.stFifo);
    Debug_Log("[%s]: %s: start1\n", log_Time(), __func__);

    // The period runs from pass start to pass start; a pass that overran
    // (a web server restart) is followed at once by the next, without catch-up.
    s64 s64Next = Clock_NowMs();
    while (MAIN_Thread_Running(&s_stThread)) {
        s64Next += MISC_PASS_MS;
        Misc_Pass(&stState);
        s64 s64Now = Clock_NowMs();
        if (s64Next < s64Now)
            s64Next = s64Now;
        (void)MAIN_Thread_Wait(&s_stThread, (s32)(s64Next - s64Now));
    }
    if (stState.stFifo.s32Fd >= 0)
        close(stState.stFifo.s32Fd);
    return nullptr;
}

s32 MAIN_Misc_Start(void)
{
    return MAIN_Thread_Start(&s_stThread, Main_Misc_Thread, nullptr, __func__);
}

void MAIN_Misc_Stop(void)
{
    MAIN_Thread_Stop(&s_stThread);
}
