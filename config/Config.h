// The configuration store: "/etc/app.ini" loaded once as an INI dictionary,
// read into g_stConfigAttr at start-up and written back whole 2 s after the
// last change. Results are 0, or -1 (logged where the cause is known).
#ifndef CONFIG_CONFIG_H
#define CONFIG_CONFIG_H

#include <atomic>
#include <csignal>
#include <cstddef>
#include <mutex>

#include "config/ConfigAttr.h"
#include "config/Ini.h"

#define CONFIG_FILE          "/etc/app.ini"
#define CONFIG_SAVE_DELAY_S  2
#define CONFIG_SAVE_RETRY_MAX_S  64   // longest wait between tries of a failed save
#define CONFIG_UNREAD_SUFFIX ".unread"   // beside the path: the last file there that was not read
// Beside the path: the last text saved whole, notes and all, when its notes
// did not fit beside the settings under the loader's bound (INI_FILE_MAX).
#define CONFIG_NOTES_SUFFIX  ".notes"
#define CONFIG_WHOLE_SUFFIX  ".whole"    // beside the path: that text, while something else is at ".notes"

// Guards the loaded dictionary and the file; held by Config_get, Config_set,
// Config_save, Config_reset, the web-account calls and the timed save.
extern std::recursive_mutex g_ConfigMutex;
// 1 from a factory reset to the reboot: no save may write the old record
// back over the new file. Set before MAIN_CONFIG_Reset; never cleared.
extern std::atomic<s32> bConfigSaveBlock;

// The save timer, made once: 0, or -1 (logged).
s32 MAIN_CONFIG_TimerInit(void);
// Asks for a save 2 s from now, replacing a pending one, so a burst of
// changes costs one write; after MAIN_CONFIG_BeforeReboot, writes at once
// under g_ConfigMutex. Callable from any thread; -1 before
// MAIN_CONFIG_TimerInit or after MAIN_CONFIG_deInit.
s32 MAIN_CONFIG_Update(void);
// Writes the record when a change waits; a save that could not write the
// file arms the timer for another try (2 s, then twice as long each time,
// up to 64 s) unless a change armed it already.
void MAIN_CONFIG_SaveTimerProc(union sigval unused);
s32 MAIN_CONFIG_Save_all(const ConfigAttr_S *pstAttr, const ConfigEdidText_S *pstEdid);
// Deletes the save timer, then flushes.
s32 MAIN_CONFIG_deInit(void);
// Writes at once a change the timer had still to write, including one
// whose save failed, unless a factory reset blocks saves or they are held:
// 0, or -1 when it could not be written (logged). At the stop.
s32 MAIN_CONFIG_Flush(void);
// MAIN_CONFIG_Flush before a reboot: from then on every change is written
// at once, on the caller's thread, as the board resets within a second.
s32 MAIN_CONFIG_BeforeReboot(void);
// Holds every save (true) while the flash is rewritten before a reboot, so
// that no file is written onto the old image; released (false) when the
// rewrite failed: changes are saved 2 s after the last one again, and one
// that waits is written then.
void MAIN_CONFIG_Hold(bool bHold);

// Store layer.
// Loads pszPath, or saves the defaults there. A file that exists and was
// not read is kept first as pszPath CONFIG_UNREAD_SUFFIX, replacing an older
// copy. One that cannot be kept (a directory) stays as it is, as does the
// path when the defaults cannot be written: the defaults then run from
// memory, and no save writes the path in this process.
s32 Config_init(const char *pszPath, const char *pszMac);
bool Config_IsInMemory(void);
s32 Config_deinit(void);
// Writes a dictionary to pszPath as ConfigFile_Write does; a failure is
// logged with the path and the reason. Every save of the store writes so.
s32 Config_save(const dictionary *d, const char *pszPath);
s32 Config_reset(const char *pszMac);
s32 Config_default(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid, const char *pszMac);
dictionary *Config_createDefault(const char *pszMac);     // owned by the caller
s32 Config_get(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid, const char *pszMac);
s32 Config_set(const ConfigAttr_S *pstAttr, const ConfigEdidText_S *pstEdid);
// True when the last Config_set could not write the file (rather than
// only refusing a value, or running from memory, where no later try
// could): the file lacks the record until a save succeeds.
bool Config_IsFileBehind(void);
s32 Config_setWebAuth(const WebAccount_S *pstAccount, s32 n);
s32 Config_getWebAuth(WebAccount_S *pstAccount, s32 n);
// The byte of the two hex digits at sizePos of a text of sizeLen characters;
// reading stops at the first non-hex character or the text's end.
u8 Config_HexByte(const char *psz, size_t sizeLen, size_t sizePos);
// True for a text that a field of sizeField bytes can hold and the file can
// keep as one value: shorter than the field, no control character, no '"',
// valid UTF-8.
bool Config_IsFieldText(const char *pszText, size_t sizeField);

#endif
