#include "upgrade/Upgrade.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include "board/Wdt.h"
#include "core/Clock.h"
#include "core/Debug.h"
#include "core/Thread.h"
#include "upgrade/Image.h"

#define UPGRADE_PASS_MS 1000   // how often the thread looks for an idle upload

std::atomic<s32> g_upgradeimg_flag{UPDATE_STATE_IDLE};

static std::mutex s_UploadMutex;      // the upload below; one upload at a time
static s32 s_s32UploadFd = -1;
static u32 s_u32UploadLen;
static u64 s_u64UploadOwner;          // whose first packet started it
static s64 s_s64UploadLastMs;         // monotonic ms of its start or its last bytes
static DebugLimit_S s_stPacketLimit;  // refused packets: peers send them at will

static std::mutex s_RequestMutex;     // s_azRequest
static char s_azRequest[128];         // file for the upgrade thread
static MainThread_S s_stUpgradeThread;

static void ImageRecv_Drop(bool bRemove)
{
    if (s_s32UploadFd >= 0)
        close(s_s32UploadFd);
    s_s32UploadFd = -1;
    s_u32UploadLen = 0;
    if (bRemove)
        unlink(UPDATE_FILE);
}

static s32 ImageRecv_Open(void)
{
    ImageRecv_Drop(false);
    if (mkdir(UPDATE_DIR, 0755) < 0 && errno != EEXIST) {
        Debug_Log("[%s]: %s: mkdir %s: %s\n", log_Time(), __func__, UPDATE_DIR, strerror(errno));
        return -1;
    }
    s_s32UploadFd = open(UPDATE_FILE, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (s_s32UploadFd < 0) {
        Debug_Log("[%s]: %s: %s: %s\n", log_Time(), __func__, UPDATE_FILE, strerror(errno));
        return -1;
    }
    return 0;
}

static s32 ImageRecv_Append(const u8 *pu8, u32 u32Len)
{
    if (u32Len > UPDATE_FILE_MAX - s_u32UploadLen) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: upload beyond %u bytes\n", log_Time(), __func__,
                         UPDATE_FILE_MAX);
        return -1;
    }
    for (u32 u32Done = 0; u32Done < u32Len;) {
        ssize_t n = write(s_s32UploadFd, pu8 + u32Done, u32Len - u32Done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            Debug_Log("[%s]: %s: write: %s\n", log_Time(), __func__, strerror(errno));
            return -1;
        }
        u32Done += (u32)n;
    }
    s_u32UploadLen += u32Len;
    return 0;
}

// Writes a checked file and reboots; -1 (logged) when the write failed.
static s32 Upgrade_Write(const char *pszFile)
{
    // A change waiting for its save is written while the old flash still
    // holds the file system, not onto the new image afterwards; later ones
    // are held until the reboot, or the failure.
    Wdt_BeforeReboot();
    if (Image_WriteFile(pszFile) < 0) {
        Wdt_CancelReboot();
        return -1;
    }
    Debug_Log("[%s]: %s: %s written, reboot\n", log_Time(), __func__, pszFile);
    unlink(pszFile);
    g_upgradeimg_flag = UPDATE_STATE_WRITTEN;
    WdtReboot();
    return 0;
}

// The whole upload is in the file: check it, then write it.
static s32 ImageRecv_Finish(void)
{
    bool bOk = close(s_s32UploadFd) == 0;
    s_s32UploadFd = -1;
    if (!bOk || Image_CheckFile(UPDATE_FILE) < 0) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: check_upgrade_file err!\n", log_Time());
        ImageRecv_Drop(true);
        return -1;
    }
    return Upgrade_Write(UPDATE_FILE);
}

s32 ImageRecv(UpdatePacket_S *pstPacket, UpdateExitProc *pfnExit)
{
    (void)pfnExit;   // the reboot goes through the watchdog; nothing is shut down first
    return ImageRecv_From(UPDATE_OWNER_ANY, pstPacket);
}

s32 ImageRecv_From(u64 u64Owner, UpdatePacket_S *pstPacket)
{
    std::lock_guard<std::mutex> lock(s_UploadMutex);
    bool bRunning = s_s32UploadFd >= 0;
    if (g_upgradeimg_flag == UPDATE_STATE_WRITTEN) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: an image is written, packet %u refused\n", log_Time(),
                         __func__, pstPacket->u16Num);
        return -1;
    }
    if (pstPacket->u16Mark != UPDATE_MARK) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: UpdatePacket_S head err!\n", log_Time());
        return -1;
    }
    if (bRunning && u64Owner != s_u64UploadOwner) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: packet %u of another peer's upload refused\n",
                         log_Time(), __func__, pstPacket->u16Num);
        return -1;
    }
    if (pstPacket->u32Len > UPDATE_PACKET_MAX || (pstPacket->u32Len > 0 && pstPacket->pu8Data == nullptr)
        || (pstPacket->u8Flag == UPDATE_FLAG_FIRST && pstPacket->u16Num != 0)) {
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: packet %u flag %#x of %u bytes refused\n",
                         log_Time(), __func__, pstPacket->u16Num, pstPacket->u8Flag, pstPacket->u32Len);
        ImageRecv_Drop(bRunning);
        return -1;
    }
    switch (pstPacket->u8Flag) {
    case UPDATE_FLAG_FIRST:
        if (g_upgradeimg_flag) {   // a new upload must not rewrite files being flashed
            Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: an upgrade is under way\n", log_Time(), __func__);
            return -1;
        }
        if (ImageRecv_Open() < 0)
            return -1;
        s_u64UploadOwner = u64Owner;
        break;
    case UPDATE_FLAG_MIDDLE:
    case UPDATE_FLAG_LAST:
        if (bRunning)
            break;
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: packet %u without an upload\n", log_Time(),
                         __func__, pstPacket->u16Num);
        return -1;
    default:
        Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: unknown flag %#x\n", log_Time(), __func__,
                         pstPacket->u8Flag);
        ImageRecv_Drop(bRunning);
        return -1;
    }
    if (pstPacket->u32Len > 0 || !bRunning)   // an empty packet must not hold the upload
        s_s64UploadLastMs = Clock_NowMs();
    if (ImageRecv_Append(pstPacket->pu8Data, pstPacket->u32Len) < 0) {
        ImageRecv_Drop(true);
        return -1;
    }
    return pstPacket->u8Flag == UPDATE_FLAG_LAST ? ImageRecv_Finish() : 0;
}

void ImageRecv_Abandon(u64 u64Owner)
{
    std::lock_guard<std::mutex> lock(s_UploadMutex);
    if (s_s32UploadFd < 0 || s_u64UploadOwner != u64Owner)
        return;
    Debug_LogLimited(&s_stPacketLimit, "[%s]: %s: the peer left, upload of %u bytes dropped\n",
                     log_Time(), __func__, s_u32UploadLen);
    ImageRecv_Drop(true);
}

bool ImageRecv_Owns(u64 u64Owner)
{
    std::lock_guard<std::mutex> lock(s_UploadMutex);
    return s_s32UploadFd >= 0 && s_u64UploadOwner == u64Owner;
}

void ImageRecv_Expire(s64 s64NowMs)
{
    std::lock_guard<std::mutex> lock(s_UploadMutex);
    if (s_s32UploadFd < 0 || s64NowMs - s_s64UploadLastMs < UPDATE_IDLE_MS)
        return;
    Debug_Log("[%s]: %s: no bytes for %d s, upload of %u bytes dropped\n", log_Time(), __func__,
              UPDATE_IDLE_MS / 1000, s_u32UploadLen);
    ImageRecv_Drop(true);
}

s32 MAIN_Upgrade_Request(const char *pszFile)
{
    if (strlen(pszFile) >= sizeof(s_azRequest) || Image_CheckFile(pszFile) < 0) {
        Debug_Log("[%s]: check_upgrade_file err!\n", log_Time());
        return -1;
    }
    std::lock_guard<std::mutex> lock(s_RequestMutex);
    s32 s32State = UPDATE_STATE_IDLE;   // not written over an image written meanwhile
    if (!g_upgradeimg_flag.compare_exchange_strong(s32State, UPDATE_STATE_REQUESTED)) {
        Debug_Log("[%s]: %s: an upgrade is under way\n", log_Time(), __func__);
        return -1;
    }
    snprintf(s_azRequest, sizeof(s_azRequest), "%s", pszFile);
    MAIN_Thread_Wake(&s_stUpgradeThread);
    return 0;
}

// Writes requested files and drops uploads left idle.
static void *MAIN_Upgrade_Thread(void *pvArg)
{
    (void)pvArg;
    while (MAIN_Thread_Wait(&s_stUpgradeThread, UPGRADE_PASS_MS)) {
        ImageRecv_Expire(Clock_NowMs());
        if (g_upgradeimg_flag != UPDATE_STATE_REQUESTED)
            continue;
        char azFile[sizeof(s_azRequest)];
        {
            std::lock_guard<std::mutex> lock(s_RequestMutex);
            snprintf(azFile, sizeof(azFile), "%s", s_azRequest);
        }
        std::lock_guard<std::mutex> lock(s_UploadMutex);   // never two images at once
        // An upload may have written its image meanwhile; a failed write is
        // logged and leaves the marker.
        if (g_upgradeimg_flag == UPDATE_STATE_REQUESTED && Upgrade_Write(azFile) < 0)
            g_upgradeimg_flag = UPDATE_STATE_IDLE;
    }
    return nullptr;
}

s32 MAIN_UpgradeThread_start(void)
{
    return MAIN_Thread_Start(&s_stUpgradeThread, MAIN_Upgrade_Thread, nullptr, __func__);
}

void MAIN_UpgradeThread_stop(void)
{
    MAIN_Thread_Stop(&s_stUpgradeThread);
}
