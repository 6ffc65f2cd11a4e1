// Writing a text to a file whole, for the settings store: the path holds
// the old text or the new one, whatever stops the write. Used under
// g_ConfigMutex.
#ifndef CONFIG_CONFIGFILE_H
#define CONFIG_CONFIGFILE_H

#include <string>

#include "core/Types.h"

#define CONFIG_WHY_LEN    320   // room for why a write failed: paths and a reason
#define CONFIG_LINKS_MAX  8     // links followed from the path to the file written
#define CONFIG_TMP_SUFFIX ".tmp"

// Writes text to pszPath through a file of its own beside it, then renames
// it over the path. A link at the path is followed: its target is written
// (the temporary file beside the target) and the link stays. The temporary
// file is created exclusively and never through a link, so nothing at its
// name can block or redirect the write: what is there is removed, and when
// it cannot be (a directory with files), a name of the save's own is taken.
// 0, or -1 with pszWhy (CONFIG_WHY_LEN bytes) naming the path, the step,
// the file and the reason.
s32 ConfigFile_Write(const char *pszPath, const std::string &text, char *pszWhy);
// Removes the regular file at pszPath, if there is one, and logs why;
// anything else there is left alone.
void ConfigFile_Drop(const std::string &path, const char *pszWhy);

#endif
