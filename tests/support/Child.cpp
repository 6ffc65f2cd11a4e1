#include "tests/support/Child.h"

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

std::string Child_Run(const std::function<void()> &fn, int *ps32Status)
{
    char azPath[] = "/tmp/child-out-XXXXXX";
    int s32Fd = mkstemp(azPath);
    if (s32Fd < 0)
        return "mkstemp failed";
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        dup2(s32Fd, STDOUT_FILENO);
        fn();
        fflush(stdout);
        _exit(0);
    }
    int s32Status = -1;
    waitpid(pid, &s32Status, 0);
    if (ps32Status != nullptr)
        *ps32Status = WIFEXITED(s32Status) ? WEXITSTATUS(s32Status) : 128 + WTERMSIG(s32Status);
    std::string out;
    char az[4096];
    ssize_t n;
    lseek(s32Fd, 0, SEEK_SET);
    while ((n = read(s32Fd, az, sizeof(az))) > 0)
        out.append(az, (size_t)n);
    close(s32Fd);
    unlink(azPath);
    return out;
}
