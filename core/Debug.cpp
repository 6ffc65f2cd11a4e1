#include "core/Debug.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <sys/stat.h>

#include "core/Clock.h"

std::atomic<s32> g_bFileDebugOn{DEBUG_LOG_STDOUT};
char g_azDebugFile[32];

static std::mutex debugmutex;      // guards everything below
static FILE *g_debug_fp;           // opened by the first mode-1 message, never closed
static char *g_debug_az;           // trim buffer, allocated once

static const char DEBUG_DEFAULT_FILE[] = "/tmp/debug_main.txt";

const char *log_Time(void)
{
    thread_local char s_azTime[24];
    s32 s32Errno = errno;
    struct timespec stNow;
    struct tm stTm;

    clock_gettime(CLOCK_REALTIME, &stNow);
    localtime_r(&stNow.tv_sec, &stTm);
    snprintf(s_azTime, sizeof(s_azTime), "%02d %02d:%02d:%02d.%03d", stTm.tm_mday, stTm.tm_hour,
             stTm.tm_min, stTm.tm_sec, (s32)(stNow.tv_nsec / 1000000));
    errno = s32Errno;
    return s_azTime;
}

static FILE *Debug_OpenEmpty(void)
{
    FILE *fp = fopen(g_azDebugFile, "w+");
    if (fp != nullptr)
        (void)chmod(g_azDebugFile, 0777);   // best effort, as the file is ours anyway
    return fp;
}

// Drops the oldest DEBUG_FILE_DROP_LEN bytes once the file has grown past
// DEBUG_FILE_TRIM_LEN. Returns 0 when the file is open afterwards.
static s32 Debug_Trim(void)
{
    long lLen = ftell(g_debug_fp);
    if (lLen <= DEBUG_FILE_TRIM_LEN)
        return 0;
    if (g_debug_az == nullptr) {
        fputs("malloc debug az fail", stdout);
        return -1;
    }
    printf("rewrite,len %ld\n", lLen);
    fseek(g_debug_fp, DEBUG_FILE_DROP_LEN, SEEK_SET);
    size_t sizeRead = fread(g_debug_az, 1, DEBUG_FILE_BUF_LEN, g_debug_fp);
    if ((long)sizeRead != lLen - DEBUG_FILE_DROP_LEN)
        printf("rewrite fail,lenr %d,(len-DEFBUGDELLEN) %ld\n", (s32)sizeRead, lLen - DEBUG_FILE_DROP_LEN);
    fclose(g_debug_fp);
    g_debug_fp = Debug_OpenEmpty();
    if (g_debug_fp == nullptr) {
        fputs("2,create debug txt fail", stdout);
        return -1;
    }
    size_t sizeWritten = fwrite(g_debug_az, 1, sizeRead, g_debug_fp);
    if (sizeWritten != sizeRead)
        printf("rewrite fail,lenr %d,lenw %d\n", (s32)sizeRead, (s32)sizeWritten);
    return 0;
}

static void Debug_LogFile(const char *pszFmt, va_list ap)
{
    std::lock_guard<std::mutex> lock(debugmutex);

    if (g_debug_az == nullptr) {
        g_debug_az = (char *)malloc(DEBUG_FILE_BUF_LEN);
        if (g_debug_az == nullptr)
            fputs("malloc debug az fail", stdout);
    }
    if (g_debug_fp == nullptr) {
        if (g_azDebugFile[0] == '\0')
            snprintf(g_azDebugFile, sizeof(g_azDebugFile), "%s", DEBUG_DEFAULT_FILE);
        g_debug_fp = Debug_OpenEmpty();
        if (g_debug_fp != nullptr)
            fputs("g_debug_fp open", stdout);
    }
    if (g_debug_fp == nullptr) {
        fputs("create debug txt fail", stdout);
        return;
    }
    if (Debug_Trim() < 0)
        return;
    vfprintf(g_debug_fp, pszFmt, ap);
    fflush(g_debug_fp);
}

static thread_local bool s_bQuiet;   // Debug_SetQuiet

static void Debug_LogV(const char *pszFmt, va_list ap)
{
    if (s_bQuiet)
        return;
    s32 s32Errno = errno;
    s32 s32Mode = g_bFileDebugOn;

    if (s32Mode == DEBUG_LOG_STDOUT || s32Mode == DEBUG_LOG_CONSOLE) {
        vprintf(pszFmt, ap);
        fflush(stdout);
    } else if (s32Mode == DEBUG_LOG_FILE) {
        Debug_LogFile(pszFmt, ap);
    }
    errno = s32Errno;
}

void Debug_Log(const char *pszFmt, ...)
{
    va_list ap;
    va_start(ap, pszFmt);
    Debug_LogV(pszFmt, ap);
    va_end(ap);
}

void Debug_Printable(char *pszOut, u32 u32OutSize, const void *pvIn, u32 u32InLen)
{
    const u8 *pu8In = (const u8 *)pvIn;
    u32 u32Shown = u32InLen < u32OutSize - 1 ? u32InLen : u32OutSize - 1;
    for (u32 i = 0; i < u32Shown; i++)
        pszOut[i] = isprint(pu8In[i]) ? (char)pu8In[i] : '.';
    pszOut[u32Shown] = '\0';
}

void Debug_SetQuiet(bool bQuiet)
{
    s_bQuiet = bQuiet;
}

bool Debug_LimitPending(const DebugLimit_S *pstLimit)
{
    return pstLimit->u32Dropped != 0 && Clock_NowMs() >= pstLimit->s64NextMs;
}

// Only the thread that moves the deadline writes: one turn a second. The
// others count their message as dropped.
static bool Debug_LimitTurn(DebugLimit_S *pstLimit)
{
    if (s_bQuiet)
        return false;   // writes nothing, so takes no turn from the threads that would
    s32 s32Errno = errno;
    s64 s64NowMs = Clock_NowMs();
    errno = s32Errno;
    s64 s64Next = pstLimit->s64NextMs;
    if (s64NowMs < s64Next || !pstLimit->s64NextMs.compare_exchange_strong(s64Next, s64NowMs + 1000)) {
        pstLimit->u32Dropped++;
        return false;
    }
    return true;
}

static void Debug_LimitNote(DebugLimit_S *pstLimit)
{
    u32 u32Dropped = pstLimit->u32Dropped.exchange(0);
    if (u32Dropped != 0)
        Debug_Log("[%s]: (%u similar messages suppressed)\n", log_Time(), u32Dropped);
}

void Debug_LogLimited(DebugLimit_S *pstLimit, const char *pszFmt, ...)
{
    if (!Debug_LimitTurn(pstLimit))
        return;
    va_list ap;
    va_start(ap, pszFmt);
    Debug_LogV(pszFmt, ap);
    va_end(ap);
    Debug_LimitNote(pstLimit);
}

bool Debug_LimitTake(DebugLimit_S *pstLimit)
{
    if (!Debug_LimitTurn(pstLimit))
        return false;
    Debug_LimitNote(pstLimit);
    return true;
}
