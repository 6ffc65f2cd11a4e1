// The INI dictionary: "section:key" texts with their values, plus the
// file's comment and blank lines tied to the entry before them, so that a
// loaded file is written back with its comments in place.
// A dictionary and the text functions are used by one thread at a time.
#ifndef CONFIG_INI_H
#define CONFIG_INI_H

#include <cstdio>
#include <string>

#include "core/Types.h"

#define DICT_MIN_SIZE     512      // entry slots of a new dictionary, at least
#define DICT_NUM_LEN      512      // room for a number's text
#define INI_LINE_LEN      1024     // room for a line the loader takes, with its end
#define INI_LINE_MAX      (INI_LINE_LEN - 2)   // longest line the loader reads, without its "\n"
// Bytes the loader reads; a longer file is not taken. Far above a real
// file (about 5 KB), and small enough that a file of short key lines, each
// looked up in the whole dictionary, still loads in about a second.
#define INI_FILE_MAX      (256u << 10)
#define INI_COMMENT_TOP   65535u   // comment owner before the first section
#define INI_WHY_LEN       64       // room for why a file was not loaded

enum IniCommentKind_E {
    INI_COMMENT_FREE     = 0,
    INI_COMMENT_LINE     = 1,      // ';' or '#' in the first column
    INI_COMMENT_TRAILING = 2,      // text after a section or a value
    INI_COMMENT_INDENTED = 3,      // ';' or '#' after white space
    INI_COMMENT_BLANK    = 4,      // blank or unreadable line
};

struct dictionary {
    s32 n;                 // entries in use
    s32 size;              // entry slots
    char **val;            // owned; may be null
    char **key;            // owned; null marks a free slot
    u32 *hash;
    s32 ncomment;
    s32 comment_size;
    char **comment;        // owned; null for an empty text
    u32 *comment_key;      // hash of the owner name, INI_COMMENT_TOP before any section
    u8 *comment_kind;      // IniCommentKind_E
};

// Dictionary layer: keys are used exactly as given. A value holding a line
// end, or both kinds of quote, cannot be written back and is refused (-1).
dictionary *dictionary_new(s32 size);                  // null when out of memory
void dictionary_del(dictionary *d);                    // null is accepted
u32 dictionary_hash(const char *key);
const char *dictionary_get(const dictionary *d, const char *key, const char *def);
char dictionary_getchar(const dictionary *d, const char *key, char def);
s32 dictionary_getint(const dictionary *d, const char *key, s32 def);
double dictionary_getdouble(const dictionary *d, const char *key, double def);
s32 dictionary_set(dictionary *d, const char *key, const char *val);      // update only
s32 dictionary_add(dictionary *d, const char *key, const char *val);      // insert only
s32 dictionary_modify(dictionary *d, const char *key, const char *val);   // either
s32 dictionary_setint(dictionary *d, const char *key, s32 i);
s32 dictionary_setdouble(dictionary *d, const char *key, double x);
void dictionary_unset(dictionary *d, const char *key);
void dictionary_dump(const dictionary *d, FILE *f);
bool dictionary_storable(const char *val);   // the writer can write it back

// Parser layer: keys are lower-cased first (except ini_add_entry).
// Null when the file cannot be opened or read, is no regular file (a FIFO
// or a device is not even opened) or is longer than INI_FILE_MAX; pszWhy
// (INI_WHY_LEN bytes) then says why, for the caller to log. A line that is
// no section, key, comment or blank line, or holds a control character, is
// not kept; the log quotes the first few of them.
dictionary *ini_load(const char *path, char *pszWhy);
// The INI text with its comments, each line within INI_LINE_MAX.
std::string ini_text(const dictionary *d);
// Writes ini_text; 0, or -1 when the stream fails.
s32 ini_dump_ini(const dictionary *d, FILE *f);
s32 ini_add_entry(dictionary *d, const char *section, const char *key, const char *val);
s32 ini_add_comment(dictionary *d, const char *section, const char *key, const char *text,
                    s32 kind);
const char *ini_getstring(const dictionary *d, const char *key, const char *def);
const char *ini_getstr(const dictionary *d, const char *key);
// Base-0 number (0x10 is 16, 010 is 8), kept to its low 32 bits.
s32 ini_getint(const dictionary *d, const char *key, s32 def);
double ini_getdouble(const dictionary *d, const char *key, double def);
s32 ini_getboolean(const dictionary *d, const char *key, s32 def);
s32 ini_find_entry(const dictionary *d, const char *key);
s32 ini_setstr(dictionary *d, const char *key, const char *val);   // 0, 1 absent, -1 refused
void ini_unset(dictionary *d, const char *key);
s32 ini_getnsec(const dictionary *d);
const char *ini_getsecname(const dictionary *d, s32 n);
void ini_freedict(dictionary *d);
void ini_dump(const dictionary *d, FILE *f);
void ini_mem_printf(const dictionary *d);
s32 ini_sec_getNLowLever(void);
s32 ini_sec_getLowLever(void);

// Text helpers, each returning its own static buffer, which its next call
// overwrites; at most INI_LINE_LEN characters are kept.
char *strlwc(const char *s);
char *strupc(const char *s);
char *strskp(char *s);
char *strcrop(const char *s);
char *strstrip(const char *s);

// Low 32 bits of the number that strtoll reads in the given base.
s32 Ini_ParseInt(const char *psz, s32 s32Base);

#endif
