#include "platform/host/HostSim.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <sstream>
#include <sys/socket.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

#define SIM_SOCKET "/board/sim.sock"
#define SIM_MAX_LINE 4096

struct HostSimWord_S {
    std::string word;
    HostSimProc *pfnProc;
    std::string help;
};

static std::mutex s_SimMutex;                 // guards s_words and s_bServing
static std::vector<HostSimWord_S> *s_pWords;  // never freed: used until the process ends
static bool s_bServing;

static std::vector<std::string> HostSim_Split(const std::string &line)
{
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;)
        words.push_back(w);
    return words;
}

std::string HostSim_Exec(const std::string &line)
{
    std::vector<std::string> words = HostSim_Split(line);
    std::string reply;
    HostSimProc *pfnProc = nullptr;
    if (words.empty())
        return "error: no words\n";
    {
        std::lock_guard<std::mutex> lock(s_SimMutex);
        for (const HostSimWord_S &w : s_pWords ? *s_pWords : std::vector<HostSimWord_S>()) {
            if (words[0] == "help")
                reply += w.word + " " + w.help + "\n";
            else if (w.word == words[0])
                pfnProc = w.pfnProc;
        }
    }
    if (words[0] == "help")
        return reply + "ok\n";
    if (pfnProc == nullptr)
        return "error: unknown words (try help)\n";
    if (pfnProc(words, &reply) < 0)
        return "error: " + reply + "\n";
    return reply + "ok\n";
}

static void HostSim_Serve(s32 s32Listen)
{
    for (;;) {
        s32 s32Fd = accept(s32Listen, nullptr, nullptr);
        if (s32Fd < 0) {
            // Out of descriptors the asker stays queued: wait, do not spin.
            if (errno == EMFILE || errno == ENFILE)
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
            continue;
        }
        std::string line;
        char c;
        while (line.size() < SIM_MAX_LINE && read(s32Fd, &c, 1) == 1 && c != '\n')
            line += c;
        std::string reply = HostSim_Exec(line);
        (void)!write(s32Fd, reply.data(), reply.size());   // the asker may have gone
        close(s32Fd);
    }
}

static void HostSim_StartServer(void)
{
    if (access("/board", F_OK) != 0)
        return;
    s32 s32Fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    struct sockaddr_un stAddr = {};
    stAddr.sun_family = AF_UNIX;
    snprintf(stAddr.sun_path, sizeof(stAddr.sun_path), "%s", SIM_SOCKET);
    unlink(SIM_SOCKET);
    if (s32Fd < 0 || bind(s32Fd, (struct sockaddr *)&stAddr, sizeof(stAddr)) < 0 || listen(s32Fd, 4) < 0) {
        fprintf(stderr, "sim: cannot serve %s: %s\n", SIM_SOCKET, strerror(errno));
        if (s32Fd >= 0)
            close(s32Fd);
        return;
    }
    std::thread(HostSim_Serve, s32Fd).detach();   // lives as long as the process
}

s32 HostSim_Register(const char *pszWord, HostSimProc *pfnProc, const char *pszHelp)
{
    std::lock_guard<std::mutex> lock(s_SimMutex);
    if (s_pWords == nullptr)
        s_pWords = new std::vector<HostSimWord_S>();
    for (const HostSimWord_S &w : *s_pWords)
        if (w.word == pszWord)
            return 0;
    s_pWords->push_back({pszWord, pfnProc, pszHelp});
    if (!s_bServing) {
        s_bServing = true;
        HostSim_StartServer();
    }
    return 0;
}
