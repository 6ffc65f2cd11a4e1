#include "net/Dhcp.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Debug.h"
#include "core/Thread.h"

#define DHCP_POLL_MS   200
#define DHCP_LEASE_MAX 1024   // a longer lease file is not a lease

struct Dhcpclient_S {
    DhcpLeaseProc *pfnLease;
    void *pvCtx;
    std::atomic<s32> bOn;
    std::atomic<s32> bForget;   // 1: the thread drops what it knows of the lease file
    MainThread_S stThread;      // watches the lease file
};

// Writes one command to the command daemon's FIFO; 0 or -1 (logged).
static s32 Dhcpclient_Command(const char *pszCmd)
{
    s32 s32Fd = open(DHCP_CMD_FIFO, O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (s32Fd < 0) {
        Debug_Log("[%s]: %s: open %s: %s\n", log_Time(), __func__, DHCP_CMD_FIFO, strerror(errno));
        return -1;
    }
    size_t len = strlen(pszCmd);
    ssize_t n = write(s32Fd, pszCmd, len);
    if (n != (ssize_t)len)
        Debug_Log("[%s]: %s: write \"%s\": %s\n", log_Time(), __func__, pszCmd,
                  n < 0 ? strerror(errno) : "short write");
    close(s32Fd);
    return n == (ssize_t)len ? 0 : -1;
}

static bool Dhcpclient_IsAddr(const char *pszText)
{
    struct in_addr stAddr;
    return inet_pton(AF_INET, pszText, &stAddr) == 1;
}

s32 Dhcpclient_ParseLease(const char *pszText, DhcpLease_S *pstLease)
{
    static const struct {
        const char *pszKey;
        size_t offset;
    } s_astKeys[] = {
        {"ip=", offsetof(DhcpLease_S, azIp)},
        {"subnet=", offsetof(DhcpLease_S, azNetmask)},
        {"router=", offsetof(DhcpLease_S, azGateway)},
    };
    DhcpLease_S stLease;
    memset(&stLease, 0, sizeof(stLease));
    snprintf(stLease.azGateway, sizeof(stLease.azGateway), "0.0.0.0");
    for (const char *pszLine = pszText; *pszLine != '\0';) {
        size_t len = strcspn(pszLine, "\n");
        for (const auto &key : s_astKeys) {
            size_t keyLen = strlen(key.pszKey);
            if (len <= keyLen || len - keyLen >= sizeof(stLease.azIp)
                || strncmp(pszLine, key.pszKey, keyLen) != 0)
                continue;
            char *pszField = (char *)&stLease + key.offset;
            memcpy(pszField, pszLine + keyLen, len - keyLen);
            pszField[len - keyLen] = '\0';
            if (!Dhcpclient_IsAddr(pszField))
                return -1;
        }
        pszLine += len + (pszLine[len] == '\n');
    }
    if (stLease.azIp[0] == '\0' || stLease.azNetmask[0] == '\0')
        return -1;
    *pstLease = stLease;
    return 0;
}

// Reads and hands on the lease file; a file that is not a lease is logged.
static void Dhcpclient_ReadLease(Dhcpclient_S *pstClient)
{
    char azText[DHCP_LEASE_MAX + 1];
    FILE *fp = fopen(DHCP_LEASE_FILE, "r");
    if (fp == nullptr)
        return;
    size_t len = fread(azText, 1, sizeof(azText), fp);
    fclose(fp);
    DhcpLease_S stLease;
    azText[len < sizeof(azText) ? len : DHCP_LEASE_MAX] = '\0';
    if (len > DHCP_LEASE_MAX || Dhcpclient_ParseLease(azText, &stLease) < 0) {
        Debug_Log("[%s]: %s: %s holds no lease\n", log_Time(), __func__, DHCP_LEASE_FILE);
        return;
    }
    Debug_Log("[%s]: %s: lease %s/%s gateway %s\n", log_Time(), __func__, stLease.azIp,
              stLease.azNetmask, stLease.azGateway);
    pstClient->pfnLease(&stLease, pstClient->pvCtx);
}

static void *Dhcpclient_Thread(void *pvArg)
{
    Dhcpclient_S *pstClient = (Dhcpclient_S *)pvArg;
    struct stat stSeen;
    memset(&stSeen, 0, sizeof(stSeen));
    while (MAIN_Thread_Running(&pstClient->stThread)) {
        struct stat st;
        if (pstClient->bForget.exchange(0))
            memset(&stSeen, 0, sizeof(stSeen));
        if (stat(DHCP_LEASE_FILE, &st) == 0
            && (st.st_ino != stSeen.st_ino || st.st_size != stSeen.st_size
                || st.st_mtim.tv_sec != stSeen.st_mtim.tv_sec
                || st.st_mtim.tv_nsec != stSeen.st_mtim.tv_nsec)) {
            stSeen = st;
            if (pstClient->bOn)
                Dhcpclient_ReadLease(pstClient);
        }
        (void)MAIN_Thread_Wait(&pstClient->stThread, DHCP_POLL_MS);
    }
    return nullptr;
}

Dhcpclient_S *Dhcpclient_Attach(DhcpLeaseProc *pfnLease, void *pvCtx)
{
    Dhcpclient_S *pstClient = new Dhcpclient_S();
    pstClient->pfnLease = pfnLease;
    pstClient->pvCtx = pvCtx;
    if (MAIN_Thread_Start(&pstClient->stThread, Dhcpclient_Thread, pstClient, __func__) != 0) {
        delete pstClient;
        return nullptr;
    }
    return pstClient;
}

void Dhcpclient_Detach(Dhcpclient_S *hDhcp)
{
    if (hDhcp == nullptr)
        return;
    MAIN_Thread_Stop(&hDhcp->stThread);
    delete hDhcp;
}

s32 Dhcpclient_Switch(Dhcpclient_S *hDhcp, u32 u32On)
{
    if (u32On != 0) {
        if (unlink(DHCP_LEASE_FILE) < 0 && errno != ENOENT)
            Debug_Log("[%s]: %s: unlink %s: %s\n", log_Time(), __func__, DHCP_LEASE_FILE,
                      strerror(errno));
        hDhcp->bForget = 1;
    }
    s32 s32Ret = Dhcpclient_Command(u32On != 0 ? "ss udhcpc start!" : "ss udhcpc stop!");
    if (s32Ret == 0)
        hDhcp->bOn = u32On != 0;
    return s32Ret;
}

s32 Dhcpclient_Exit(void *pvArg)
{
    (void)pvArg;   // the stop concerns the external program, not a client record
    (void)Dhcpclient_Command("ss udhcpc stop!");   // logged there; nothing else to do
    return 0;
}
