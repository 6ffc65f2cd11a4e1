// The INI loader on any input: it must load every readable file, and the
// text it writes back must be bounded text that loads again.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

#include "config/Ini.h"

static const char FUZZ_PATH[] = "/tmp/fuzz_ini.ini";
static const char FUZZ_LOG[] = "/tmp/fuzz_ini.log";

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    // The loader's log lines land here and are read back after each input.
    if (freopen(FUZZ_LOG, "w+", stdout) == nullptr)
        abort();
    return 0;
}

// Junk reaches the log of one load as a few short lines of printable text.
static void Fuzz_CheckLog(void)
{
    std::string log;
    char az[4096];
    rewind(stdout);
    for (size_t n; (n = fread(az, 1, sizeof(az), stdout)) > 0;)
        log.append(az, n);
    if (ftruncate(fileno(stdout), 0) != 0)
        abort();
    rewind(stdout);
    size_t sizeLines = 0, sizeLine = 0;
    for (char c : log) {
        sizeLine = c == '\n' ? 0 : sizeLine + 1;
        sizeLines += c == '\n' ? 1 : 0;
        if ((c != '\n' && ((u8)c < 0x20 || (u8)c >= 0x7f)) || sizeLine > 300)
            abort();
    }
    if (sizeLines > 6)
        abort();
}

static dictionary *Fuzz_Load(const void *pv, size_t sizeLen)
{
    FILE *fp = fopen(FUZZ_PATH, "wb");
    if (fp == nullptr || fwrite(pv, 1, sizeLen, fp) != sizeLen || fclose(fp) != 0)
        abort();
    char azWhy[INI_WHY_LEN];
    dictionary *d = ini_load(FUZZ_PATH, azWhy);
    if (d == nullptr)
        abort();
    Fuzz_CheckLog();
    return d;
}

static std::string Fuzz_Dump(const dictionary *d)
{
    char *psz = nullptr;
    size_t sizeLen = 0;
    FILE *fp = open_memstream(&psz, &sizeLen);
    if (fp == nullptr || ini_dump_ini(d, fp) != 0)
        abort();
    fclose(fp);
    std::string s(psz, sizeLen);
    free(psz);
    return s;
}

// What the writer gives back of any input is text: no control character
// but tabs and the line ends, and no more than a padded line for each line
// that came in.
static void Fuzz_CheckText(const std::string &text, const uint8_t *pu8Data, size_t sizeLen)
{
    size_t sizeLines = 1;
    for (size_t i = 0; i < sizeLen; i++)
        sizeLines += pu8Data[i] == '\n' ? 1 : 0;
    if (text.size() > sizeLen * 2 + sizeLines * 100)
        abort();
    for (size_t i = 0; i < text.size(); i++) {
        u8 u8C = (u8)text[i];
        bool bLineEnd = u8C == '\n' || (u8C == '\r' && i + 1 < text.size() && text[i + 1] == '\n');
        if ((u8C < 0x20 && u8C != '\t' && !bLineEnd) || u8C == 0x7f)
            abort();
    }
}

// A value that loads again reads as it was saved: the writer closes every
// quote it opens, so the loader's reading of an unclosed one never applies.
// Not checked when the text has a line longer than the loader takes (a long
// value or comment padded): that line is skipped, and what followed it may
// fall under another section.
static void Fuzz_CheckValues(const dictionary *d, const dictionary *pstAgain, const std::string &text)
{
    size_t sizeLine = 0;
    for (char c : text) {
        sizeLine = c == '\n' ? 0 : sizeLine + 1;
        if (sizeLine >= INI_LINE_LEN - 1)
            return;
    }
    for (s32 i = 0; i < d->size; i++) {
        if (d->key[i] == nullptr || d->val[i] == nullptr)
            continue;
        const char *psz = dictionary_get(pstAgain, d->key[i], nullptr);
        if (psz != nullptr && strcmp(psz, d->val[i]) != 0)
            abort();
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t sizeLen)
{
    dictionary *d = Fuzz_Load(pu8Data, sizeLen);
    for (s32 i = 0; i < d->size; i++) {
        if (d->key[i] == nullptr)
            continue;
        (void)ini_getint(d, d->key[i], 0);
        (void)ini_getboolean(d, d->key[i], 0);
        // Every loaded value can be set again: the loader keeps only what
        // the writer can write.
        if (d->val[i] != nullptr && dictionary_set(d, d->key[i], d->val[i]) != 0)
            abort();
    }
    std::string text = Fuzz_Dump(d);
    Fuzz_CheckText(text, pu8Data, sizeLen);
    dictionary *pstAgain = Fuzz_Load(text.data(), text.size());
    Fuzz_CheckValues(d, pstAgain, text);
    ini_freedict(pstAgain);
    ini_freedict(d);
    return 0;
}
