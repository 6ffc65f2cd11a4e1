// Thin wrappers over the file system.
#ifndef RTSPLIB_COMMON_PATH_H
#define RTSPLIB_COMMON_PATH_H

#include <cstddef>

#include "core/Types.h"

// 1 when the path is a regular file (directory), else 0.
s32 path_testfile(const char *pszPath);
s32 path_testdir(const char *pszPath);
// These return 0, or -1 with errno set.
s32 path_makedir(const char *pszPath);
s32 path_rmdir(const char *pszPath);
s32 path_rmfile(const char *pszPath);
s32 path_rename(const char *pszOld, const char *pszNew);
s32 path_chcwd(const char *pszPath);
s32 path_getcwd(char *pszOut, size_t size);
// Absolute path without "." , ".." or links into pszOut of PATH_MAX bytes.
s32 path_realpath(const char *pszPath, char *pszOut);
// The part after the last "/" (the path itself when it has none).
const char *path_basename(const char *pszPath);
// The part before the last "/" ("." when there is none, "/" for the root)
// into pszOut; -1 when it does not fit.
s32 path_dirname(const char *pszPath, char *pszOut, size_t size);
// Size in bytes, or -1.
s64 path_filesize(const char *pszPath);

#endif
