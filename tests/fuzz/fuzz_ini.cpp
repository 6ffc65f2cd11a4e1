// The INI loader on any input: it must load every readable file, and the
// text it writes back must load again.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "config/Ini.h"

static const char FUZZ_PATH[] = "/tmp/fuzz_ini.ini";

static dictionary *Fuzz_Load(const void *pv, size_t sizeLen)
{
    FILE *fp = fopen(FUZZ_PATH, "wb");
    if (fp == nullptr || fwrite(pv, 1, sizeLen, fp) != sizeLen || fclose(fp) != 0)
        abort();
    dictionary *d = ini_load(FUZZ_PATH);
    if (d == nullptr)
        abort();
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
    ini_freedict(d);
    ini_freedict(Fuzz_Load(text.data(), text.size()));
    return 0;
}
