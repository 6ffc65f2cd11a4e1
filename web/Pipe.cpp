#include "web/Pipe.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Debug.h"
#include "core/Thread.h"
#include "web/WebCmd.h"

#define PIPE_POLL_MS 500

static MainThread_S s_stPipeThread;
static DebugLimit_S s_stCmdLimit;   // the web side sends what it likes, and may not read

s32 Pipe_NextCommand(std::string *pBuf, std::string *pCmd)
{
    size_t start = pBuf->find('{');
    if (start == std::string::npos) {
        pBuf->clear();                  // nothing but noise between objects
        return 0;
    }
    s32 s32Depth = 0;
    bool bString = false, bEscape = false;
    for (size_t i = start; i < pBuf->size(); i++) {
        char c = (*pBuf)[i];
        if (bString) {
            if (bEscape)
                bEscape = false;
            else if (c == '\\')
                bEscape = true;
            else if (c == '"')
                bString = false;
            continue;
        }
        if (c == '"')
            bString = true;
        else if (c == '{')
            s32Depth++;
        else if (c == '}' && --s32Depth == 0) {
            pCmd->assign(*pBuf, start, i + 1 - start);
            pBuf->erase(0, i + 1);
            return 1;
        }
    }
    if (pBuf->size() - start > PIPE_MAX_CMD) {
        pBuf->clear();
        return -1;
    }
    pBuf->erase(0, start);
    return 0;
}

static s32 Pipe_Open(const char *pszPath, s32 s32Flags)
{
    if (mkfifo(pszPath, 0666) < 0 && errno != EEXIST) {
        Debug_Log("[%s]: %s: mkfifo %s: %s\n", log_Time(), __func__, pszPath, strerror(errno));
        return -1;
    }
    // Read-write: the FIFO never reports an end when the web side closes.
    s32 s32Fd = open(pszPath, O_RDWR | O_CLOEXEC | s32Flags);
    if (s32Fd < 0)
        Debug_Log("[%s]: %s: open %s: %s\n", log_Time(), __func__, pszPath, strerror(errno));
    return s32Fd;
}

static void Pipe_Reply(s32 s32Out, const std::string &reply)
{
    if (write(s32Out, reply.data(), reply.size()) != (ssize_t)reply.size())
        Debug_LogLimited(&s_stCmdLimit, "[%s]: %s: reply of %zu bytes lost: %s\n", log_Time(), __func__,
                         reply.size(), strerror(errno));
}

static void *Pipe_Thread(void *)
{
    s32 s32In = Pipe_Open(PIPE_C2S, 0);
    s32 s32Out = Pipe_Open(PIPE_S2C, O_NONBLOCK);
    std::string buf, cmd, reply;
    char az[4096];
    bool bSkip = false;   // the rest of a command too long to take is still coming

    while (MAIN_Thread_Running(&s_stPipeThread) && s32In >= 0 && s32Out >= 0) {
        s32 s32Ready = MAIN_Thread_WaitFd(&s_stPipeThread, s32In, POLLIN, PIPE_POLL_MS);
        if (s32Ready == 0) {
            // The web side writes a command at once: what is still incomplete
            // after a pause is broken, and would swallow the next commands.
            bSkip = false;
            if (!buf.empty()) {
                Debug_LogLimited(&s_stCmdLimit, "[%s]: %s: incomplete command of %zu bytes dropped\n",
                                 log_Time(), __func__, buf.size());
                buf.clear();
                Pipe_Reply(s32Out, "{\"result\":-1,\"msg\":\"incomplete command\"}");
            }
        }
        if (s32Ready <= 0)
            continue;
        ssize_t n = read(s32In, az, sizeof(az));
        if (n <= 0 || bSkip)
            continue;
        buf.append(az, (size_t)n);
        s32 s32Got;
        while ((s32Got = Pipe_NextCommand(&buf, &cmd)) == 1) {
            (void)MAIN_Webserver_DataProc(cmd.data(), (u32)cmd.size(), &reply);   // the reply tells
            Pipe_Reply(s32Out, reply);
        }
        if (s32Got < 0) {
            Debug_LogLimited(&s_stCmdLimit, "[%s]: %s: command longer than %d bytes dropped\n", log_Time(),
                             __func__, PIPE_MAX_CMD);
            Pipe_Reply(s32Out, "{\"result\":-1,\"msg\":\"command too long\"}");
            bSkip = true;
        }
    }
    if (s32In >= 0)
        close(s32In);
    if (s32Out >= 0)
        close(s32Out);
    return nullptr;
}

s32 MAIN_Pipe_Start(void)
{
    return MAIN_Thread_Start(&s_stPipeThread, Pipe_Thread, nullptr, __func__);
}

void MAIN_Pipe_Stop(void)
{
    MAIN_Thread_Stop(&s_stPipeThread);
}
