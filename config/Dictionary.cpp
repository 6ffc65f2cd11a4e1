#include "config/Ini.h"

#include <cstdlib>
#include <cstring>

// Grows *pp from s32Old to s32New elements of sizeElem bytes, zeroing the
// new part. 0, or -1 (and *pp unchanged) when out of memory.
static s32 Dict_Grow(void **pp, s32 s32Old, s32 s32New, size_t sizeElem)
{
    void *pv = realloc(*pp, (size_t)s32New * sizeElem);
    if (pv == nullptr)
        return -1;
    memset((char *)pv + (size_t)s32Old * sizeElem, 0, (size_t)(s32New - s32Old) * sizeElem);
    *pp = pv;
    return 0;
}

static s32 Dict_GrowEntries(dictionary *d)
{
    s32 s32New = d->size * 2;
    if (Dict_Grow((void **)&d->val, d->size, s32New, sizeof(*d->val)) < 0 ||
        Dict_Grow((void **)&d->key, d->size, s32New, sizeof(*d->key)) < 0 ||
        Dict_Grow((void **)&d->hash, d->size, s32New, sizeof(*d->hash)) < 0)
        return -1;   // arrays already grown stay larger; size keeps the old count
    d->size = s32New;
    return 0;
}

static s32 Dict_Find(const dictionary *d, const char *key)
{
    u32 u32Hash = dictionary_hash(key);
    for (s32 i = 0; i < d->size; i++) {
        if (d->key[i] != nullptr && d->hash[i] == u32Hash && strcmp(d->key[i], key) == 0)
            return i;
    }
    return -1;
}

// A copy of val, or null for a null val; *pbOk is false when out of memory.
static char *Dict_Copy(const char *val, bool *pbOk)
{
    char *psz = val != nullptr ? strdup(val) : nullptr;
    *pbOk = val == nullptr || psz != nullptr;
    return psz;
}

dictionary *dictionary_new(s32 size)
{
    if (size < DICT_MIN_SIZE)
        size = DICT_MIN_SIZE;
    dictionary *d = (dictionary *)calloc(1, sizeof(dictionary));
    if (d == nullptr)
        return nullptr;
    d->size = size;
    d->comment_size = size;
    d->val = (char **)calloc((size_t)size, sizeof(char *));
    d->key = (char **)calloc((size_t)size, sizeof(char *));
    d->hash = (u32 *)calloc((size_t)size, sizeof(u32));
    d->comment = (char **)calloc((size_t)size, sizeof(char *));
    d->comment_key = (u32 *)calloc((size_t)size, sizeof(u32));
    d->comment_kind = (u8 *)calloc((size_t)size, sizeof(u8));
    if (d->val == nullptr || d->key == nullptr || d->hash == nullptr || d->comment == nullptr ||
        d->comment_key == nullptr || d->comment_kind == nullptr) {
        dictionary_del(d);
        return nullptr;
    }
    return d;
}

void dictionary_del(dictionary *d)
{
    if (d == nullptr)
        return;
    for (s32 i = 0; d->key != nullptr && d->val != nullptr && i < d->size; i++) {
        free(d->key[i]);
        free(d->val[i]);
    }
    for (s32 i = 0; d->comment != nullptr && i < d->comment_size; i++)
        free(d->comment[i]);
    free(d->val);
    free(d->key);
    free(d->hash);
    free(d->comment);
    free(d->comment_key);
    free(d->comment_kind);
    free(d);
}

u32 dictionary_hash(const char *key)
{
    u32 h = 0;
    for (const u8 *p = (const u8 *)key; *p != '\0'; p++) {
        h += *p;
        h += h << 10;
        h ^= h >> 6;
    }
    h += h << 3;
    h ^= h >> 11;
    h += h << 15;
    return h;
}

const char *dictionary_get(const dictionary *d, const char *key, const char *def)
{
    if (d == nullptr || key == nullptr)
        return def;
    s32 i = Dict_Find(d, key);
    return i < 0 ? def : d->val[i];
}

char dictionary_getchar(const dictionary *d, const char *key, char def)
{
    const char *psz = dictionary_get(d, key, nullptr);
    return psz != nullptr ? psz[0] : def;
}

s32 dictionary_getint(const dictionary *d, const char *key, s32 def)
{
    const char *psz = dictionary_get(d, key, nullptr);
    return psz != nullptr ? Ini_ParseInt(psz, 10) : def;
}

double dictionary_getdouble(const dictionary *d, const char *key, double def)
{
    const char *psz = dictionary_get(d, key, nullptr);
    return psz != nullptr ? atof(psz) : def;
}

// The loader reads a value back from double quotes, or from single quotes
// when it holds a double quote; it empties "" and ''.
bool dictionary_storable(const char *val)
{
    if (val == nullptr)
        return true;
    if (strpbrk(val, "\r\n") != nullptr || strcmp(val, "\"\"") == 0 || strcmp(val, "''") == 0)
        return false;
    return strchr(val, '"') == nullptr || strchr(val, '\'') == nullptr;
}

s32 dictionary_set(dictionary *d, const char *key, const char *val)
{
    if (d == nullptr || key == nullptr || d->n == 0 || !dictionary_storable(val))
        return -1;
    s32 i = Dict_Find(d, key);
    bool bOk;
    char *pszVal = i < 0 ? nullptr : Dict_Copy(val, &bOk);
    if (i < 0 || !bOk)
        return -1;
    free(d->val[i]);
    d->val[i] = pszVal;
    return 0;
}

s32 dictionary_add(dictionary *d, const char *key, const char *val)
{
    if (d == nullptr || key == nullptr || !dictionary_storable(val) || Dict_Find(d, key) >= 0)
        return -1;
    if (d->n == d->size && Dict_GrowEntries(d) < 0)
        return -1;
    s32 i = 0;
    while (d->key[i] != nullptr)
        i++;
    bool bOk;
    char *pszVal = Dict_Copy(val, &bOk);
    char *pszKey = strdup(key);
    if (!bOk || pszKey == nullptr) {
        free(pszVal);
        free(pszKey);
        return -1;
    }
    d->key[i] = pszKey;
    d->val[i] = pszVal;
    d->hash[i] = dictionary_hash(key);
    d->n++;
    return 0;
}

s32 dictionary_modify(dictionary *d, const char *key, const char *val)
{
    if (d == nullptr || key == nullptr)
        return -1;
    return Dict_Find(d, key) >= 0 ? dictionary_set(d, key, val) : dictionary_add(d, key, val);
}

s32 dictionary_setint(dictionary *d, const char *key, s32 i)
{
    char az[DICT_NUM_LEN];
    snprintf(az, sizeof(az), "%d", i);
    return dictionary_set(d, key, az);
}

s32 dictionary_setdouble(dictionary *d, const char *key, double x)
{
    char az[DICT_NUM_LEN];
    snprintf(az, sizeof(az), "%g", x);
    return dictionary_set(d, key, az);
}

void dictionary_unset(dictionary *d, const char *key)
{
    if (d == nullptr || key == nullptr)
        return;
    s32 i = Dict_Find(d, key);
    if (i < 0)
        return;
    free(d->key[i]);
    free(d->val[i]);
    d->key[i] = nullptr;
    d->val[i] = nullptr;
    d->hash[i] = 0;
    d->n--;
}

void dictionary_dump(const dictionary *d, FILE *f)
{
    if (d == nullptr || f == nullptr)
        return;
    if (d->n < 1) {
        fputs("empty dictionary\n", f);
        return;
    }
    for (s32 i = 0; i < d->size; i++) {
        if (d->key[i] != nullptr)
            fprintf(f, "%20s\t[%s]\n", d->key[i], d->val[i] != nullptr ? d->val[i] : "UNDEF");
    }
}

s32 Ini_ParseInt(const char *psz, s32 s32Base)
{
    return (s32)(u32)strtoll(psz, nullptr, s32Base);
}
