#include "config/Ini.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "core/Debug.h"

#define INI_HEADER_WIDTH  49   // a section line is padded to this many characters
#define INI_INDENT        48   // spaces before an indented comment
#define INI_QUOTE_LEN     48   // characters of a line not kept that the log quotes
#define INI_QUOTED_LINES  4    // lines not kept that one load quotes; the rest are counted

static const char *const s_pszAbsent = "\x01";   // marks a missing key inside this file

static std::string Ini_Lower(const char *psz)
{
    std::string s(psz);
    for (char &c : s)
        c = (char)tolower((u8)c);
    return s;
}

// The owner of a comment: "section:key", the key alone, the section alone.
static u32 Ini_CommentOwner(const char *section, const char *key)
{
    std::string name;
    if (section[0] != '\0' && key != nullptr && key[0] != '\0')
        name = std::string(section) + ":" + key;
    else
        name = key != nullptr && key[0] != '\0' ? key : section;
    return name.empty() ? INI_COMMENT_TOP : dictionary_hash(name.c_str());
}

// Characters left to a line of sizeUsed under INI_LINE_MAX.
static size_t Ini_Room(size_t sizeUsed)
{
    return sizeUsed < INI_LINE_MAX ? INI_LINE_MAX - sizeUsed : 0;
}

// Pads s from sizeFrom to sizeWidth characters, by at most sizeRoom spaces.
static void Ini_Pad(std::string &s, size_t sizeFrom, size_t sizeWidth, size_t sizeRoom = INI_LINE_MAX)
{
    if (s.size() - sizeFrom < sizeWidth)
        s.append(std::min(sizeRoom, sizeWidth - (s.size() - sizeFrom)), ' ');
}

// Characters of the last line of out, without its end.
static size_t Ini_LastLine(const std::string &out)
{
    size_t sizeStart = out.size() < 2 ? std::string::npos : out.rfind('\n', out.size() - 2);
    return out.size() - 1 - (sizeStart == std::string::npos ? 0 : sizeStart + 1);
}

// Whether a trailing text can go onto the line end just written: one is
// there (a blank line has none: its "\r" would stay alone), the line stays
// within the loader's bound, and after a bare value only ';' ends the value.
static bool Ini_TakesTrailing(const std::string &out, const char *pszText, bool bBare)
{
    if (out.empty() || (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0))
        return false;
    return Ini_LastLine(out) + strlen(pszText) <= INI_LINE_MAX && (!bBare || pszText[0] == ';');
}

// The comments of u32Owner; bBare: the line before them holds a bare value.
static void Ini_WriteComments(std::string &out, const dictionary *d, u32 u32Owner, bool bBare = false)
{
    for (s32 i = 0; i < d->comment_size; i++) {
        if (d->comment_kind[i] == INI_COMMENT_FREE || d->comment_key[i] != u32Owner)
            continue;
        const char *pszText = d->comment[i] != nullptr ? d->comment[i] : " ";
        switch (d->comment_kind[i]) {
        case INI_COMMENT_TRAILING:
            // A text that cannot go onto the line before gets a line of its
            // own, as a comment: else "c = 5" would come back as a key.
            if (Ini_TakesTrailing(out, pszText, bBare))
                out.pop_back();
            else if (pszText[0] != ';' && pszText[0] != '#')
                out += "; ";
            out += pszText;
            out += '\n';
            break;
        case INI_COMMENT_INDENTED:
            out.append(std::max<size_t>(1, std::min<size_t>(INI_INDENT, Ini_Room(strlen(pszText)))), ' ');
            out += pszText;
            out += '\n';
            break;
        case INI_COMMENT_BLANK:
            out += "\r\n";
            break;
        default:
            out += pszText;
            out += '\n';
            break;
        }
    }
}

// A value the loader reads back the same without quotes.
static bool Ini_IsBare(const char *psz)
{
    size_t sizeLen = strlen(psz);
    return sizeLen > 0 && strchr("\"' \t", psz[0]) == nullptr && !isspace((u8)psz[sizeLen - 1]) &&
           strchr(psz, ';') == nullptr;
}

// One entry line, within the loader's bound: the padding shrinks as the line
// needs, then the spaces around '='. Values go in double quotes, or in
// single quotes when they hold a double quote (the dictionary refuses
// values holding both); one too long for quotes goes bare, as the loader
// took it. True for a bare value.
static bool Ini_WriteEntry(std::string &out, const char *pszName, const char *pszVal, bool bQuoted)
{
    const char *pszText = pszVal != nullptr ? pszVal : " ";
    size_t sizeText = strlen(pszName) + strlen(pszText);
    const char *pszQuote = "";
    if (bQuoted)
        pszQuote = strchr(pszText, '"') != nullptr ? "'" : "\"";
    if (*pszQuote != '\0' && sizeText + 3 > INI_LINE_MAX && Ini_IsBare(pszText))
        pszQuote = "";
    sizeText += 2 * strlen(pszQuote);
    const char *pszEq = sizeText + 3 <= INI_LINE_MAX ? " = " : "=";
    size_t sizeRoom = Ini_Room(sizeText + strlen(pszEq));
    size_t sizeStart = out.size();
    out += pszName;
    Ini_Pad(out, sizeStart, 30, sizeRoom);
    sizeRoom = Ini_Room(out.size() - sizeStart + sizeText - strlen(pszName) + strlen(pszEq));
    out += pszEq;
    out += pszQuote;
    size_t sizeVal = out.size();
    out += pszText;
    Ini_Pad(out, sizeVal, 15, sizeRoom);
    out += pszQuote;
    out += '\n';
    return bQuoted && *pszQuote == '\0';
}

// The INI text of d: with comments and quoted values for the file, or
// bare for the console.
static std::string Ini_Format(const dictionary *d, bool bFile)
{
    std::string out;
    if (bFile)
        Ini_WriteComments(out, d, INI_COMMENT_TOP);
    s32 s32Sections = ini_getnsec(d);
    for (s32 i = 0; s32Sections == 0 && i < d->size; i++) {
        if (d->key[i] == nullptr)
            continue;
        const char *pszName = d->key[i][0] == ':' ? d->key[i] + 1 : d->key[i];
        bool bBare = Ini_WriteEntry(out, pszName, d->val[i], bFile);
        if (bFile)
            Ini_WriteComments(out, d, d->hash[i], bBare);
    }
    for (s32 s = 0; s < d->size; s++) {
        if (d->key[s] == nullptr || strchr(d->key[s], ':') != nullptr)
            continue;
        size_t sizeStart = out.size();
        out += "[";
        out += d->key[s];
        out += "]";
        if (bFile)
            Ini_Pad(out, sizeStart, INI_HEADER_WIDTH, Ini_Room(out.size() - sizeStart));
        out += '\n';
        if (bFile)
            Ini_WriteComments(out, d, d->hash[s]);
        std::string prefix = std::string(d->key[s]) + ":";
        for (s32 i = 0; i < d->size; i++) {
            if (d->key[i] == nullptr || strncmp(d->key[i], prefix.c_str(), prefix.size()) != 0)
                continue;
            bool bBare = Ini_WriteEntry(out, d->key[i] + prefix.size(), d->val[i], bFile);
            if (bFile)
                Ini_WriteComments(out, d, d->hash[i], bBare);
        }
    }
    return out;
}

struct IniLoad_S {
    dictionary *d;
    const char *pszPath;
    s32 s32LineNo;
    s32 s32Dropped;                 // lines not kept
    size_t sizeRead;                // bytes of the file read so far
    bool bTooLong;                  // the file goes on past INI_FILE_MAX
    size_t sizeLine;                // characters in azLine, NUL bytes included
    char azLine[INI_LINE_LEN + 1];
    char azSection[INI_LINE_LEN + 1];
    char azKey[INI_LINE_LEN + 1];
    char azNewKey[INI_LINE_LEN + 1];
    char azVal[INI_LINE_LEN + 1];
    char azTrail[INI_LINE_LEN + 1];
};

// A file of junk must not fill the log: a few lines are quoted, bounded and
// escaped, and the rest only counted.
static void Ini_Drop(IniLoad_S *pst, const char *pszWhat, const char *pc, size_t sizeLen)
{
    if (pst->s32Dropped++ >= INI_QUOTED_LINES)
        return;
    char az[INI_QUOTE_LEN * 4 + 4];
    size_t sizeOut = 0;
    for (size_t i = 0; i < sizeLen && i < INI_QUOTE_LEN; i++) {
        u8 u8C = (u8)pc[i];
        if (u8C >= 0x20 && u8C < 0x7f)
            az[sizeOut++] = (char)u8C;
        else
            sizeOut += (size_t)snprintf(az + sizeOut, sizeof(az) - sizeOut, "\\x%02x", u8C);
    }
    snprintf(az + sizeOut, sizeof(az) - sizeOut, "%s", sizeLen > INI_QUOTE_LEN ? "..." : "");
    Debug_Log("[%s]: ini: %s in %s (%d):%s\n", log_Time(), pszWhat, pst->pszPath, pst->s32LineNo, az);
}

// The file's next byte, or EOF also past INI_FILE_MAX: a huge file must
// not fill the memory, nor one that keeps growing hold the start-up.
static s32 Ini_GetC(FILE *fp, IniLoad_S *pst)
{
    s32 c = getc(fp);
    if (c != EOF && ++pst->sizeRead > INI_FILE_MAX) {
        pst->bTooLong = true;
        return EOF;
    }
    return c;
}

// Reads one line into pst->azLine, joining lines that end in a backslash.
// 1: a line; 0: end of file; -1: an over-long line, which was skipped.
static s32 Ini_ReadLine(FILE *fp, IniLoad_S *pst)
{
    char *az = pst->azLine;
    size_t sizeLen = 0;
    for (;;) {
        bool bRead = false;
        s32 c = EOF;
        while (sizeLen < INI_LINE_LEN - 1 && (c = Ini_GetC(fp, pst)) != EOF) {
            bRead = true;
            az[sizeLen++] = (char)c;
            if (c == '\n')
                break;
        }
        if (!bRead)
            return sizeLen > 0 ? 1 : 0;   // a backslash on the last line stays
        az[sizeLen] = '\0';
        pst->s32LineNo++;
        if (c != '\n' && sizeLen == INI_LINE_LEN - 1) {
            c = Ini_GetC(fp, pst);
            if (c != EOF) {
                Ini_Drop(pst, "input line too long", az, sizeLen);
                while (c != '\n' && c != EOF)
                    c = Ini_GetC(fp, pst);
                return -1;
            }
        }
        while (sizeLen > 0 && (az[sizeLen - 1] == '\n' || az[sizeLen - 1] == '\r'))
            az[--sizeLen] = '\0';
        pst->sizeLine = sizeLen;
        if (sizeLen == 0 || az[sizeLen - 1] != '\\')
            return 1;
        sizeLen--;   // the next line goes where the backslash is
    }
}

// Text the writer gives back as it was: no control character but tabs
// (nor a NUL byte).
static bool Ini_IsText(const char *pc, size_t sizeLen)
{
    for (size_t i = 0; i < sizeLen; i++) {
        u8 u8C = (u8)pc[i];
        if ((u8C < 0x20 && u8C != '\t') || u8C == 0x7f)
            return false;
    }
    return true;
}

// A section or key name: printable ASCII.
static bool Ini_IsName(const char *psz)
{
    for (; *psz != '\0'; psz++) {
        if ((u8)*psz < 0x20 || (u8)*psz >= 0x7f)
            return false;
    }
    return true;
}

static void Ini_TrimRight(char *psz)
{
    size_t sizeLen = strlen(psz);
    while (sizeLen > 0 && isspace((u8)psz[sizeLen - 1]))
        psz[--sizeLen] = '\0';
}

// Splits a key line into key, value and trailing text; false when it is
// none. Each buffer has INI_LINE_LEN + 1 bytes. A quote that is opened and
// not closed still quotes the rest of the line: the closing quote of the
// second and fourth forms is not counted. The writer closes every quote,
// so this reads no saved value differently.
static bool Ini_MatchKeyLine(const char *psz, char *pszKey, char *pszVal, char *pszTrail)
{
    s32 n = -1;
    pszVal[0] = pszTrail[0] = '\0';
    if (sscanf(psz, "%1024[^=] = \"%1024[^\"]\" %1024[^\n]", pszKey, pszVal, pszTrail) == 3 ||
        sscanf(psz, "%1024[^=] = \"%1024[^\"]\"", pszKey, pszVal) == 2 ||
        sscanf(psz, "%1024[^=] = '%1024[^']' %1024[^\n]", pszKey, pszVal, pszTrail) == 3 ||
        sscanf(psz, "%1024[^=] = '%1024[^']'", pszKey, pszVal) == 2 ||
        sscanf(psz, "%1024[^=] = %1024[^;] %1024[^\n]", pszKey, pszVal, pszTrail) == 3)
        return true;
    pszTrail[0] = '\0';
    if (sscanf(psz, "%1024[^=] = %1024[^;]", pszKey, pszVal) == 2)
        return true;
    pszVal[0] = '\0';
    if (sscanf(psz, "%1024[^=] = %1024[^\n]", pszKey, pszTrail) == 2)
        return true;
    pszTrail[0] = '\0';
    return sscanf(psz, "%1024[^=] =%n", pszKey, &n) == 1 && n >= 0;
}

// A section line: "[name]" with an optional trailing text; true when the
// line is one, and then taken.
static bool Ini_LoadSection(IniLoad_S *pst, const char *psz)
{
    char *pszName = pst->azNewKey;
    s32 n = -1;
    if (sscanf(psz, "[%1024[^]]]%n", pszName, &n) != 1 || n < 0 || !Ini_IsName(pszName))
        return false;
    snprintf(pst->azSection, sizeof(pst->azSection), "%s", Ini_Lower(pszName).c_str());
    pst->azKey[0] = '\0';
    (void)ini_add_entry(pst->d, pst->azSection, nullptr, nullptr);   // a repeated section is one
    const char *pszTrail = strskp((char *)psz + n);
    if (*pszTrail != '\0')
        (void)ini_add_comment(pst->d, pst->azSection, nullptr, pszTrail, INI_COMMENT_TRAILING);
    return true;
}

// A key line with a printable name; true when it was taken.
static bool Ini_LoadKey(IniLoad_S *pst, const char *psz)
{
    if (!Ini_MatchKeyLine(psz, pst->azNewKey, pst->azVal, pst->azTrail))
        return false;
    Ini_TrimRight(pst->azNewKey);
    if (!Ini_IsName(pst->azNewKey))
        return false;
    std::string key = Ini_Lower(pst->azNewKey);
    Ini_TrimRight(pst->azVal);
    if (strcmp(pst->azVal, "\"\"") == 0 || strcmp(pst->azVal, "''") == 0)
        pst->azVal[0] = '\0';
    // A repeated key keeps its first value; a value the writer could not
    // give back is not kept.
    if (ini_add_entry(pst->d, pst->azSection, key.c_str(), pst->azVal) < 0)
        return false;
    snprintf(pst->azKey, sizeof(pst->azKey), "%s", key.c_str());
    if (pst->azTrail[0] != '\0')
        (void)ini_add_comment(pst->d, pst->azSection, pst->azKey, pst->azTrail, INI_COMMENT_TRAILING);
    return true;
}

// Comments and blank lines are kept in place; a line that is no section
// and no key is not, or junk would come back as sections and keys.
static void Ini_LoadLine(IniLoad_S *pst)
{
    char *pszLine = pst->azLine;
    if (!Ini_IsText(pszLine, pst->sizeLine)) {
        Ini_Drop(pst, "line not kept", pszLine, pst->sizeLine);
        return;
    }
    if (pszLine[0] == ';' || pszLine[0] == '#') {
        (void)ini_add_comment(pst->d, pst->azSection, pst->azKey, pszLine, INI_COMMENT_LINE);
        return;
    }
    char *psz = strskp(pszLine);
    if (*psz == ';' || *psz == '#') {
        (void)ini_add_comment(pst->d, pst->azSection, pst->azKey, psz, INI_COMMENT_INDENTED);
        return;
    }
    if (*psz == '\0') {
        (void)ini_add_comment(pst->d, pst->azSection, pst->azKey, "", INI_COMMENT_BLANK);
        return;
    }
    if (!Ini_LoadSection(pst, psz) && !Ini_LoadKey(pst, psz))
        Ini_Drop(pst, "line not kept", pszLine, pst->sizeLine);
}

// The file opened for reading, or null with why. Only a regular file is
// opened: a FIFO would hold the start-up, and a device may act on being
// opened (a watchdog starts). What was opened is checked again, as the path
// may have changed since.
static FILE *Ini_Open(const char *path, const char **ppszWhy)
{
    static const char s_azNotRegular[] = "not a regular file";
    struct stat st;
    if (stat(path, &st) < 0) {
        *ppszWhy = strerror(errno);
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        *ppszWhy = s_azNotRegular;
        return nullptr;
    }
    s32 s32Fd = open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (s32Fd < 0) {
        *ppszWhy = strerror(errno);
        return nullptr;
    }
    if (fstat(s32Fd, &st) < 0 || !S_ISREG(st.st_mode)) {
        *ppszWhy = s_azNotRegular;
        close(s32Fd);
        return nullptr;
    }
    FILE *fp = fdopen(s32Fd, "r");
    if (fp == nullptr) {
        *ppszWhy = strerror(errno);
        close(s32Fd);
    }
    return fp;
}

dictionary *ini_load(const char *path, char *pszWhy)
{
    const char *pszOpenWhy = "no path";
    FILE *fp = path != nullptr ? Ini_Open(path, &pszOpenWhy) : nullptr;
    if (fp == nullptr) {
        snprintf(pszWhy, INI_WHY_LEN, "%s", pszOpenWhy);
        return nullptr;
    }
    IniLoad_S *pst = (IniLoad_S *)calloc(1, sizeof(IniLoad_S));
    dictionary *d = pst != nullptr ? dictionary_new(0) : nullptr;
    s32 s32Ret = d != nullptr ? 1 : 0;
    if (pst != nullptr) {
        pst->d = d;
        pst->pszPath = path;
    }
    while (s32Ret != 0 && !pst->bTooLong) {
        s32Ret = Ini_ReadLine(fp, pst);
        if (s32Ret > 0)
            Ini_LoadLine(pst);
    }
    if (d != nullptr && pst->s32Dropped > INI_QUOTED_LINES)
        Debug_Log("[%s]: ini: %d more lines not kept in %s\n", log_Time(), pst->s32Dropped - INI_QUOTED_LINES,
                  path);
    // A file that could not be read to its end is not the file: its keys
    // would fall back to defaults and the next save would lose the rest.
    if (d == nullptr)
        snprintf(pszWhy, INI_WHY_LEN, "out of memory");
    else if (pst->bTooLong)
        snprintf(pszWhy, INI_WHY_LEN, "longer than %u bytes", INI_FILE_MAX);
    else if (ferror(fp))
        snprintf(pszWhy, INI_WHY_LEN, "%s", strerror(errno));
    if (d != nullptr && (pst->bTooLong || ferror(fp))) {
        dictionary_del(d);
        d = nullptr;
    }
    fclose(fp);
    free(pst);
    return d;
}

std::string ini_text(const dictionary *d)
{
    return d != nullptr ? Ini_Format(d, true) : std::string();
}

s32 ini_dump_ini(const dictionary *d, FILE *f)
{
    if (d == nullptr || f == nullptr)
        return -1;
    std::string out = ini_text(d);
    return fwrite(out.data(), 1, out.size(), f) == out.size() && fflush(f) == 0 ? 0 : -1;
}

s32 ini_add_entry(dictionary *d, const char *section, const char *key, const char *val)
{
    if (d == nullptr || section == nullptr)
        return -1;
    std::string name = key != nullptr ? std::string(section) + ":" + key : section;
    if (dictionary_get(d, name.c_str(), s_pszAbsent) != s_pszAbsent)
        return 1;
    return dictionary_add(d, name.c_str(), val) == 0 ? 0 : -1;
}

s32 ini_add_comment(dictionary *d, const char *section, const char *key, const char *text, s32 kind)
{
    if (d == nullptr || section == nullptr || kind == INI_COMMENT_FREE)
        return -1;
    if (d->ncomment == d->comment_size) {
        s32 s32New = d->comment_size * 2;
        char **ppsz = (char **)realloc(d->comment, (size_t)s32New * sizeof(char *));
        if (ppsz != nullptr)
            d->comment = ppsz;
        u32 *pu32 = (u32 *)realloc(d->comment_key, (size_t)s32New * sizeof(u32));
        if (pu32 != nullptr)
            d->comment_key = pu32;
        u8 *pu8 = (u8 *)realloc(d->comment_kind, (size_t)s32New);
        if (pu8 != nullptr)
            d->comment_kind = pu8;
        if (ppsz == nullptr || pu32 == nullptr || pu8 == nullptr)
            return -1;
        memset(d->comment + d->comment_size, 0, (size_t)d->comment_size * sizeof(char *));
        memset(d->comment_key + d->comment_size, 0, (size_t)d->comment_size * sizeof(u32));
        memset(d->comment_kind + d->comment_size, 0, (size_t)d->comment_size);
        d->comment_size = s32New;
    }
    char *pszText = text != nullptr && text[0] != '\0' ? strdup(text) : nullptr;
    if (text != nullptr && text[0] != '\0' && pszText == nullptr)
        return -1;
    // Slots are taken in order and never freed one by one: the next one is
    // at ncomment, so a file of many comments loads in linear time.
    s32 i = d->ncomment;
    d->comment[i] = pszText;
    d->comment_key[i] = Ini_CommentOwner(section, key);
    d->comment_kind[i] = (u8)kind;
    d->ncomment++;
    return 0;
}

const char *ini_getstring(const dictionary *d, const char *key, const char *def)
{
    if (d == nullptr || key == nullptr)
        return def;
    return dictionary_get(d, Ini_Lower(key).c_str(), def);
}

const char *ini_getstr(const dictionary *d, const char *key)
{
    return ini_getstring(d, key, nullptr);
}

s32 ini_getint(const dictionary *d, const char *key, s32 def)
{
    const char *psz = ini_getstring(d, key, s_pszAbsent);
    return psz == s_pszAbsent || psz == nullptr ? def : Ini_ParseInt(psz, 0);
}

double ini_getdouble(const dictionary *d, const char *key, double def)
{
    const char *psz = ini_getstring(d, key, s_pszAbsent);
    return psz == s_pszAbsent || psz == nullptr ? def : atof(psz);
}

s32 ini_getboolean(const dictionary *d, const char *key, s32 def)
{
    const char *psz = ini_getstring(d, key, s_pszAbsent);
    if (psz == s_pszAbsent || psz == nullptr)
        return def;
    if (psz[0] != '\0' && strchr("yYtT1", psz[0]) != nullptr)
        return 1;
    if (psz[0] != '\0' && strchr("nNfF0", psz[0]) != nullptr)
        return 0;
    return def;
}

s32 ini_find_entry(const dictionary *d, const char *key)
{
    return ini_getstring(d, key, s_pszAbsent) != s_pszAbsent ? 1 : 0;
}

s32 ini_setstr(dictionary *d, const char *key, const char *val)
{
    if (!dictionary_storable(val))
        return -1;
    return dictionary_set(d, key != nullptr ? Ini_Lower(key).c_str() : nullptr, val) == 0 ? 0 : 1;
}

void ini_unset(dictionary *d, const char *key)
{
    if (key != nullptr)
        dictionary_unset(d, Ini_Lower(key).c_str());
}

s32 ini_getnsec(const dictionary *d)
{
    if (d == nullptr)
        return -1;
    s32 s32Count = 0;
    for (s32 i = 0; i < d->size; i++) {
        if (d->key[i] != nullptr && strchr(d->key[i], ':') == nullptr)
            s32Count++;
    }
    return s32Count;
}

const char *ini_getsecname(const dictionary *d, s32 n)
{
    for (s32 i = 0; d != nullptr && n >= 0 && i < d->size; i++) {
        if (d->key[i] != nullptr && strchr(d->key[i], ':') == nullptr && n-- == 0)
            return d->key[i];
    }
    return nullptr;
}

void ini_freedict(dictionary *d)
{
    dictionary_del(d);
}

void ini_dump(const dictionary *d, FILE *f)
{
    for (s32 i = 0; d != nullptr && f != nullptr && i < d->size; i++) {
        if (d->key[i] == nullptr)
            continue;
        if (d->val[i] != nullptr)
            fprintf(f, "[%s]=[%s]\n", d->key[i], d->val[i]);
        else
            fprintf(f, "[%s]=UNDEF\n", d->key[i]);
    }
}

void ini_mem_printf(const dictionary *d)
{
    if (d != nullptr)
        fputs(Ini_Format(d, false).c_str(), stdout);
}

s32 ini_sec_getNLowLever(void)
{
    return 0;
}

s32 ini_sec_getLowLever(void)
{
    return 0;
}

// The text helpers keep at most INI_LINE_LEN characters.
static char *Ini_Map(char *pszBuf, const char *s, int (*pfnMap)(int))
{
    size_t i = 0;
    for (; s[i] != '\0' && i < INI_LINE_LEN; i++)
        pszBuf[i] = (char)pfnMap((u8)s[i]);
    pszBuf[i] = '\0';
    return pszBuf;
}

char *strlwc(const char *s)
{
    static char s_az[INI_LINE_LEN + 1];
    return s != nullptr ? Ini_Map(s_az, s, tolower) : nullptr;
}

char *strupc(const char *s)
{
    static char s_az[INI_LINE_LEN + 1];
    return s != nullptr ? Ini_Map(s_az, s, toupper) : nullptr;
}

char *strskp(char *s)
{
    while (s != nullptr && *s != '\0' && isspace((u8)*s))
        s++;
    return s;
}

char *strcrop(const char *s)
{
    static char s_az[INI_LINE_LEN + 1];
    if (s == nullptr)
        return nullptr;
    snprintf(s_az, sizeof(s_az), "%s", s);
    Ini_TrimRight(s_az);
    return s_az;
}

char *strstrip(const char *s)
{
    static char s_az[INI_LINE_LEN + 1];
    if (s == nullptr)
        return nullptr;
    while (*s != '\0' && isspace((u8)*s))
        s++;
    snprintf(s_az, sizeof(s_az), "%s", s);
    Ini_TrimRight(s_az);
    return s_az;
}
