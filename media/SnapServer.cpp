#include "media/SnapServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <mbedtls/aes.h>

#include "core/Clock.h"
#include "core/Debug.h"
#include "core/Thread.h"
#include "media/MediaVideo.h"
#include "media/SnapCap.h"

#define SNAP_WAIT_MS 1000

static const u8 s_au8Key[16] = {'Q', 'v', '7', '#', 'p', 'L', 'm', '2', 'X', 'r', '9', '!', 't', 'B', '4', 'w'};
static const u8 s_au8Iv[16] = {'H', 'k', '3', '%', 'z', 'N', '8', 'q', 'W', '&', '5', 'e', '^', 'R', 'y', '1'};

static MainThread_S s_stThread;
static s32 s_s32Fd = -1;
static SnapServerAttr_S s_stAttr;
static SnapCap_S s_stCap;        // the server thread's
static u32 s_u32OverCap;         // requests dropped by the cap since the start
// Peers cause these at will.
static DebugLimit_S s_stLimitSize, s_stLimitNet, s_stLimitCap;

// CBC over whole blocks with a fresh IV: the library advances the IV it is
// given, so a shared one would chain every reply to the one before.
static s32 Snap_Aes(bool bEnc, u8 *pu8Out, const u8 *pu8In, s32 s32Len, const char *pszFunc)
{
    mbedtls_aes_context stCtx;
    u8 au8Iv[sizeof(s_au8Iv)];
    memcpy(au8Iv, s_au8Iv, sizeof(au8Iv));
    mbedtls_aes_init(&stCtx);
    s32 s32Ret = bEnc ? mbedtls_aes_setkey_enc(&stCtx, s_au8Key, 128) : mbedtls_aes_setkey_dec(&stCtx, s_au8Key, 128);
    if (s32Ret != 0) {
        Debug_Log("[%s]: [%s]%s fail %d\n", log_Time(), pszFunc,
                  bEnc ? "mbedtls_aes_setkey_enc" : "mbedtls_aes_setkey_dec", s32Ret);
    } else {
        s32Ret = mbedtls_aes_crypt_cbc(&stCtx, bEnc ? MBEDTLS_AES_ENCRYPT : MBEDTLS_AES_DECRYPT, (size_t)s32Len,
                                       au8Iv, pu8In, pu8Out);
        if (s32Ret != 0)
            Debug_Log("[%s]: [%s]mbedtls_aes_crypt_cbc fail %d\n", log_Time(), pszFunc, s32Ret);
    }
    mbedtls_aes_free(&stCtx);
    return s32Ret == 0 ? 0 : -1;
}

s32 aes_128_cbc_enc(u8 *pu8Out, const u8 *pu8In, s32 s32Len)
{
    if (s32Len < 0)
        return -1;
    s32 s32Pad = 16 - s32Len % 16;
    memmove(pu8Out, pu8In, (size_t)s32Len);
    memset(pu8Out + s32Len, s32Pad, (size_t)s32Pad);
    if (Snap_Aes(true, pu8Out, pu8Out, s32Len + s32Pad, __func__) != 0)
        return -1;
    return s32Len + s32Pad;
}

s32 aes_128_cbc_dec(u8 *pu8Out, const u8 *pu8In, s32 s32Len)
{
    if (s32Len <= 0) {
        Debug_Log("[%s]: [%s]src_len fail %d\n", log_Time(), __func__, s32Len);
        return -1;
    }
    if (Snap_Aes(false, pu8Out, pu8In, s32Len, __func__) != 0)
        return -1;
    s32 s32Pad = pu8Out[s32Len - 1];
    if (s32Pad > 16 || s32Pad == 0) {
        Debug_Log("[%s]: [%s]pad_len src_len fail %d %d\n", log_Time(), __func__, s32Pad, s32Len);
        return -1;
    }
    return s32Len - s32Pad;
}

bool SnapServer_IsRequest(const char *pszData, s32 s32Len)
{
    if (s32Len <= 0)
        return false;
    size_t sizeText = strnlen(pszData, (size_t)s32Len);
    return memmem(pszData, sizeText, SNAP_REQUEST, sizeof(SNAP_REQUEST) - 1) != nullptr;
}

static void Snap_PutU32(u8 *pu8, u32 u32Val)
{
    for (u32 i = 0; i < 4; i++)
        pu8[i] = (u8)(u32Val >> (8 * i));
}

s32 SnapServer_BuildReply(const u8 *pu8File, u32 u32Len, u8 *pu8Reply, u32 u32Cap)
{
    if (u32Len <= SNAP_HEAD_LEN) {
        Debug_LogLimited(&s_stLimitSize, "[%s]: fread ret %d too small!!!\n", log_Time(), (s32)u32Len);
        return -1;
    }
    u64 u64Total = (u64)SNAP_REPLY_HEAD + SNAP_ENC_HEAD_LEN + (u32Len - SNAP_HEAD_LEN);
    if (u64Total > SNAP_DATAGRAM_MAX || u64Total > u32Cap) {
        // Cut, the picture would not decode; the requester asks again later.
        Debug_LogLimited(&s_stLimitSize, "[%s]: snapshot of %u bytes too large for one datagram\n", log_Time(),
                         u32Len);
        return -1;
    }
    s32 s32Enc = aes_128_cbc_enc(pu8Reply + SNAP_REPLY_HEAD, pu8File, SNAP_HEAD_LEN);
    if (s32Enc != SNAP_ENC_HEAD_LEN) {
        Debug_Log("[%s]: [%s]aes_enc_len %d,enc fail!\n", log_Time(), __func__, s32Enc);
        return -1;
    }
    Snap_PutU32(pu8Reply, SNAP_MAGIC);
    Snap_PutU32(pu8Reply + 4, (u32)s32Enc);
    Snap_PutU32(pu8Reply + 8, (u32)u64Total);
    memcpy(pu8Reply + SNAP_REPLY_HEAD + s32Enc, pu8File + SNAP_HEAD_LEN, u32Len - SNAP_HEAD_LEN);
    return (s32)u64Total;
}

// The whole file while the writer cannot replace it; -1 when there is none.
static s32 Snap_ReadFile(u8 *pu8Buf)
{
    FILE *fp = fopen(s_stAttr.pszFile, "rb");
    if (fp == nullptr)
        return -1;
    size_t sizeLen = fread(pu8Buf, 1, SNAP_BUF_LEN, fp);
    if (ferror(fp)) {
        Debug_Log("[%s]: %s: fread %s: %s\n", log_Time(), __func__, s_stAttr.pszFile, strerror(errno));
        sizeLen = 0;
    }
    fclose(fp);
    return (s32)sizeLen;
}

static void Snap_Send(const u8 *pu8Reply, u32 u32Len, const struct sockaddr_in *pstTo)
{
    if (sendto(s_s32Fd, pu8Reply, u32Len, 0, (const struct sockaddr *)pstTo, sizeof(*pstTo)) < 0)
        Debug_LogLimited(&s_stLimitNet, "[%s]: %s: sendto %s: %s\n", log_Time(), __func__,
                         inet_ntoa(pstTo->sin_addr), strerror(errno));
}

// One datagram. The writer's lock is only tried: while it replaces the
// file the last reply is sent again, or nothing once the file is gone.
static void Snap_Serve(u8 *pu8File, u8 *pu8Reply, u32 *pu32LastLen)
{
    char azReq[SNAP_REQUEST_LEN];
    struct sockaddr_in stFrom;
    socklen_t sizeFrom = sizeof(stFrom);

    memset(azReq, 0, sizeof(azReq));
    ssize_t sizeGot = recvfrom(s_s32Fd, azReq, sizeof(azReq) - 1, MSG_DONTWAIT, (struct sockaddr *)&stFrom, &sizeFrom);
    if (sizeGot < 0) {
        if (errno != EAGAIN && errno != EINTR)
            Debug_LogLimited(&s_stLimitNet, "[%s]: %s: recvfrom: %s\n", log_Time(), __func__, strerror(errno));
        return;
    }
    if (!SnapServer_IsRequest(azReq, (s32)sizeGot) || sizeFrom != sizeof(stFrom) || stFrom.sin_family != AF_INET)
        return;
    if (!SnapCap_Take(&s_stCap, stFrom.sin_addr.s_addr, Clock_NowMs())) {
        s_u32OverCap++;
        Debug_LogLimited(&s_stLimitCap, "[%s]: %s: request from %s over the reply cap, %u dropped so far\n",
                         log_Time(), __func__, inet_ntoa(stFrom.sin_addr), s_u32OverCap);
        return;
    }

    std::unique_lock<std::mutex> lock(*s_stAttr.pMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        if (*s_stAttr.pbFile != 1)
            *pu32LastLen = 0;
        else if (*pu32LastLen > 0)
            Snap_Send(pu8Reply, *pu32LastLen, &stFrom);
        return;
    }
    s32 s32Len = Snap_ReadFile(pu8File);
    lock.unlock();
    if (s32Len < 0)
        return;
    s32 s32Total = SnapServer_BuildReply(pu8File, (u32)s32Len, pu8Reply, SNAP_BUF_LEN);
    // A failed build may have written part of the buffer.
    *pu32LastLen = s32Total > 0 ? (u32)s32Total : 0;
    if (s32Total > 0)
        Snap_Send(pu8Reply, (u32)s32Total, &stFrom);
}

static void *Main_UDPServer_Thread(void *pvArg)
{
    (void)pvArg;
    pthread_setname_np(pthread_self(), "UDPServer");
    std::unique_ptr<u8[]> pFile(new (std::nothrow) u8[SNAP_BUF_LEN]);
    std::unique_ptr<u8[]> pReply(new (std::nothrow) u8[SNAP_BUF_LEN]);
    if (pFile == nullptr || pReply == nullptr) {
        Debug_Log("[%s]: %s: no memory for the snapshot buffers\n", log_Time(), __func__);
        return nullptr;
    }
    u32 u32LastLen = 0;
    while (MAIN_Thread_Running(&s_stThread)) {
        struct pollfd astFds[2] = {{s_s32Fd, POLLIN, 0}, {MAIN_Thread_WakeFd(&s_stThread), POLLIN, 0}};
        s32 s32Ret = poll(astFds, 2, SNAP_WAIT_MS);
        if (s32Ret < 0 && errno != EINTR) {
            Debug_Log("[%s]: %s: poll: %s\n", log_Time(), __func__, strerror(errno));
            (void)MAIN_Thread_Wait(&s_stThread, SNAP_WAIT_MS);
            continue;
        }
        if (s32Ret > 0 && (astFds[1].revents & POLLIN))
            (void)MAIN_Thread_Wait(&s_stThread, 0);   // takes the wake; the loop test sees a stop
        else if (s32Ret > 0 && (astFds[0].revents & POLLIN))
            Snap_Serve(pFile.get(), pReply.get(), &u32LastLen);
    }
    return nullptr;
}

// The socket, made before the thread so that a port in use is the start's failure.
static s32 Snap_OpenSocket(u16 u16Port)
{
    s32 s32Fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: socket: %s\n", log_Time(), __func__, strerror(errno));
        return -1;
    }
    s32 s32On = 1;
    if (setsockopt(s32Fd, SOL_SOCKET, SO_REUSEADDR, &s32On, sizeof(s32On)) < 0) {
        Debug_Log("[%s]: [%s]err setsockopt SO_REUSEADDR\n", log_Time(), __func__);
        close(s32Fd);
        return -1;
    }
    struct sockaddr_in stAddr = {};
    stAddr.sin_family = AF_INET;
    stAddr.sin_port = htons(u16Port);
    stAddr.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0) {
        Debug_Log("[%s]: bind,%s\n", log_Time(), strerror(errno));
        close(s32Fd);
        return -1;
    }
    Debug_Log("[%s]: UDPServer port:%d\n", log_Time(), u16Port);
    return s32Fd;
}

s32 MAIN_Media_Start_SnapShot(void)
{
    return HI_Media_Start_SnapShot() == 0 ? 0 : -1;   // the media layer logged why
}

s32 MAIN_UDPServer_Start(const SnapServerAttr_S *pstAttr)
{
    if (MAIN_Thread_Running(&s_stThread))
        return 0;
    Debug_Log("[%s]: %s: start\n", log_Time(), __func__);
    s_stAttr = *pstAttr;
    s_stCap = SnapCap_S{};
    s_u32OverCap = 0;
    s_s32Fd = Snap_OpenSocket(pstAttr->u16Port);
    if (s_s32Fd < 0)
        return -1;
    s32 s32Ret = MAIN_Thread_Start(&s_stThread, Main_UDPServer_Thread, nullptr, __func__);
    if (s32Ret != 0) {
        close(s_s32Fd);
        s_s32Fd = -1;
    }
    return s32Ret;
}

void MAIN_UDPServer_Stop(void)
{
    MAIN_Thread_Stop(&s_stThread);
    if (s_s32Fd >= 0)
        close(s_s32Fd);
    s_s32Fd = -1;
}
