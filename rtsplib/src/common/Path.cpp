#include "rtsplib/src/common/Path.h"

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

s32 path_testfile(const char *pszPath)
{
    struct stat st;
    return stat(pszPath, &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
}

s32 path_testdir(const char *pszPath)
{
    struct stat st;
    return stat(pszPath, &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
}

s32 path_makedir(const char *pszPath) { return mkdir(pszPath, 0777); }
s32 path_rmdir(const char *pszPath) { return rmdir(pszPath); }
s32 path_rmfile(const char *pszPath) { return unlink(pszPath); }
s32 path_rename(const char *pszOld, const char *pszNew) { return rename(pszOld, pszNew); }
s32 path_chcwd(const char *pszPath) { return chdir(pszPath); }

s32 path_getcwd(char *pszOut, size_t size)
{
    return getcwd(pszOut, size) ? 0 : -1;
}

s32 path_realpath(const char *pszPath, char *pszOut)
{
    return realpath(pszPath, pszOut) ? 0 : -1;
}

const char *path_basename(const char *pszPath)
{
    const char *psz = strrchr(pszPath, '/');
    return psz ? psz + 1 : pszPath;
}

s32 path_dirname(const char *pszPath, char *pszOut, size_t size)
{
    const char *psz = strrchr(pszPath, '/');
    const char *pszFrom = ".";
    size_t len = 1;
    if (psz != nullptr) {
        pszFrom = pszPath;
        len = psz == pszPath ? 1 : (size_t)(psz - pszPath);
    }
    if (len >= size)
        return -1;
    memcpy(pszOut, pszFrom, len);
    pszOut[len] = '\0';
    return 0;
}

s64 path_filesize(const char *pszPath)
{
    struct stat st;
    return stat(pszPath, &st) == 0 ? (s64)st.st_size : -1;
}
