#include "config/ConfigFile.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Debug.h"

#define CONFIG_TMP_FLAGS (O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)

// Fills pszWhy for a step that failed with errno; -1.
static s32 ConfigFile_Fail(char *pszWhy, const char *pszPath, const char *pszStep, const std::string &file)
{
    snprintf(pszWhy, CONFIG_WHY_LEN, "%s not written: %s %s: %s", pszPath, pszStep, file.c_str(), strerror(errno));
    return -1;
}

// The folder part of a path, with its '/', or "" for a bare name.
static std::string ConfigFile_Dir(const std::string &path)
{
    size_t sizeSlash = path.rfind('/');
    return sizeSlash == std::string::npos ? std::string() : path.substr(0, sizeSlash + 1);
}

// The file a write of pszPath goes to: the path, or where its links lead
// (a target that does not exist yet too). 0, or -1 with errno.
static s32 ConfigFile_Target(const char *pszPath, std::string &target)
{
    target = pszPath;
    for (s32 i = 0; i < CONFIG_LINKS_MAX; i++) {
        char az[PATH_MAX];
        ssize_t n = readlink(target.c_str(), az, sizeof(az) - 1);
        if (n < 0)
            return errno == EINVAL || errno == ENOENT ? 0 : -1;   // no link (or nothing) there
        az[n] = '\0';
        target = az[0] == '/' ? std::string(az) : ConfigFile_Dir(target) + az;
    }
    errno = ELOOP;
    return -1;
}

// The temporary file at tmp, made here: a leftover of a cut save is
// replaced; anything else in the way is removed, and logged; one that
// cannot be removed keeps its name, and tmp becomes a name of its own.
// The descriptor, or -1 with errno.
static s32 ConfigFile_CreateTemp(std::string &tmp)
{
    s32 s32Fd = open(tmp.c_str(), CONFIG_TMP_FLAGS, 0644);
    if (s32Fd >= 0 || errno != EEXIST)
        return s32Fd;
    struct stat st;
    memset(&st, 0, sizeof(st));
    (void)lstat(tmp.c_str(), &st);   // gone meanwhile: the removal below says so
    if ((S_ISDIR(st.st_mode) ? rmdir(tmp.c_str()) : unlink(tmp.c_str())) == 0) {
        if (!S_ISREG(st.st_mode))
            Debug_Log("[%s]: %s: %s was in the way, not a regular file: removed\n", log_Time(), __func__,
                      tmp.c_str());
        return open(tmp.c_str(), CONFIG_TMP_FLAGS, 0644);
    }
    Debug_Log("[%s]: %s: %s is in the way and stays (%s): a name of its own is taken\n", log_Time(), __func__,
              tmp.c_str(), strerror(errno));
    tmp += ".XXXXXX";
    s32Fd = mkostemp(&tmp[0], O_CLOEXEC);
    if (s32Fd >= 0)
        (void)fchmod(s32Fd, 0644);   // 0600 serves the program as well: only a reader's convenience
    return s32Fd;
}

static s32 ConfigFile_WriteAll(s32 s32Fd, const std::string &text)
{
    for (size_t sizeDone = 0; sizeDone < text.size();) {
        ssize_t n = write(s32Fd, text.data() + sizeDone, text.size() - sizeDone);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return -1;
        sizeDone += (size_t)n;
    }
    return 0;
}

// Makes a finished rename survive a power loss; the file itself is whole
// either way, so a failure is only reported.
static void ConfigFile_SyncDir(const std::string &path)
{
    std::string dir = ConfigFile_Dir(path);
    s32 s32Fd = open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (s32Fd < 0 || fsync(s32Fd) < 0)
        Debug_Log("[%s]: %s: sync of %s: %s\n", log_Time(), __func__, path.c_str(), strerror(errno));
    if (s32Fd >= 0)
        close(s32Fd);
}

s32 ConfigFile_Write(const char *pszPath, const std::string &text, char *pszWhy)
{
    std::string target;
    if (ConfigFile_Target(pszPath, target) < 0)
        return ConfigFile_Fail(pszWhy, pszPath, "follow", pszPath);
    std::string tmp = target + CONFIG_TMP_SUFFIX;
    s32 s32Fd = ConfigFile_CreateTemp(tmp);
    if (s32Fd < 0)
        return ConfigFile_Fail(pszWhy, pszPath, "create", tmp);
    s32 s32Ret = 0;
    if (ConfigFile_WriteAll(s32Fd, text) < 0)
        s32Ret = ConfigFile_Fail(pszWhy, pszPath, "write", tmp);
    else if (fsync(s32Fd) < 0)
        s32Ret = ConfigFile_Fail(pszWhy, pszPath, "fsync", tmp);
    if (close(s32Fd) < 0 && s32Ret == 0)
        s32Ret = ConfigFile_Fail(pszWhy, pszPath, "close", tmp);
    if (s32Ret == 0 && rename(tmp.c_str(), target.c_str()) < 0)
        s32Ret = ConfigFile_Fail(pszWhy, pszPath, "rename onto", target);
    if (s32Ret < 0) {
        (void)unlink(tmp.c_str());   // the old file stays whole; a leftover would only waste space
        return -1;
    }
    ConfigFile_SyncDir(target);
    return 0;
}

void ConfigFile_Drop(const std::string &path, const char *pszWhy)
{
    struct stat st;
    if (lstat(path.c_str(), &st) < 0 || !S_ISREG(st.st_mode))
        return;
    if (unlink(path.c_str()) < 0)
        Debug_Log("[%s]: %s: %s stays (%s): %s\n", log_Time(), __func__, path.c_str(), pszWhy, strerror(errno));
    else
        Debug_Log("[%s]: %s removed: %s\n", log_Time(), path.c_str(), pszWhy);
}
