#include "protocol/JsonUtil.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/Debug.h"

#define JSON_NOT_A_NUMBER "is not a number"
#define JSON_OUT_OF_RANGE "out of range"

static DebugLimit_S s_stPeerLimit;   // numbers refused come from peers

// The shared body of the number getters: 0 and *pOut = 0 when the member
// is missing or not a number.
template <typename T>
static s32 Json_GetNumber(const cJSON *pstObj, const char *pszName, T *pOut)
{
    *pOut = 0;
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszName);
    if (!cJSON_IsNumber(pstItem))
        return 0;
    *pOut = (T)pstItem->valueint;
    return 1;
}

s32 cJSON_GetByteVal(const cJSON *pstObj, const char *pszName, u8 *pu8Val)
{
    return Json_GetNumber(pstObj, pszName, pu8Val);
}

s32 cJSON_GetWordVal(const cJSON *pstObj, const char *pszName, u16 *pu16Val)
{
    return Json_GetNumber(pstObj, pszName, pu16Val);
}

s32 cJSON_GetUintVal(const cJSON *pstObj, const char *pszName, u32 *pu32Val)
{
    return Json_GetNumber(pstObj, pszName, pu32Val);
}

s32 cJSON_GetIntVal(const cJSON *pstObj, const char *pszName, s32 *ps32Val)
{
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszName);
    if (cJSON_IsBool(pstItem)) {
        *ps32Val = cJSON_IsTrue(pstItem) ? 1 : 0;
        return 1;
    }
    return Json_GetNumber(pstObj, pszName, ps32Val);
}

s32 cJSON_GetString(const cJSON *pstObj, const char *pszName, char *pszOut)
{
    pszOut[0] = '\0';
    const cJSON *pstItem = cJSON_GetObjectItem(pstObj, pszName);
    if (!cJSON_IsString(pstItem))
        return 0;
    strcpy(pszOut, pstItem->valuestring);
    return 1;
}

// The shared body of the two array getters.
template <typename T>
static s32 Json_GetArray(const cJSON *pstObj, const char *pszName, T *pOut, u32 u32Count)
{
    memset(pOut, 0, sizeof(T) * u32Count);
    const cJSON *pstArray = cJSON_GetObjectItem(pstObj, pszName);
    if (!cJSON_IsArray(pstArray))
        return 0;
    u32 i = 0;
    const cJSON *pstElem;
    cJSON_ArrayForEach(pstElem, pstArray) {
        if (i == u32Count)
            break;
        if (!cJSON_IsNumber(pstElem))
            return 0;
        pOut[i++] = (T)pstElem->valueint;
    }
    return 1;
}

s32 cJSON_GetByteArray(const cJSON *pstObj, const char *pszName, u8 *pu8Out, u32 u32Count)
{
    return Json_GetArray(pstObj, pszName, pu8Out, u32Count);
}

s32 cJSON_GetUintArray(const cJSON *pstObj, const char *pszName, u32 *pu32Out, u32 u32Count)
{
    return Json_GetArray(pstObj, pszName, pu32Out, u32Count);
}

// The one line a refused number gives; -1.
static s32 Json_Refuse(const char *pszKey, const char *pszWhy)
{
    Debug_LogLimited(&s_stPeerLimit, "[%s]: %s %s\n", log_Time(), pszKey, pszWhy);
    return -1;
}

s32 Json_DecInRange(const char *pszText, const char *pszKey, s64 s64Min, s64 s64Max, s64 *ps64Out)
{
    *ps64Out = 0;
    const char *pszDigits = pszText[0] == '-' ? pszText + 1 : pszText;
    if (pszDigits[0] == '\0' || pszDigits[strspn(pszDigits, "0123456789")] != '\0')
        return Json_Refuse(pszKey, JSON_NOT_A_NUMBER);
    errno = 0;
    // 64 bits on the 32-bit board too, where long would stop at 2^31 - 1.
    long long llValue = strtoll(pszText, nullptr, 10);
    // "-0" is no value of an unsigned field either.
    if (errno == ERANGE || llValue < s64Min || llValue > s64Max || (pszDigits != pszText && s64Min >= 0))
        return Json_Refuse(pszKey, JSON_OUT_OF_RANGE);
    *ps64Out = (s64)llValue;
    return 0;
}

s32 Json_WholeInRange(const cJSON *pstItem, const char *pszKey, s64 s64Min, s64 s64Max, s64 *ps64Out)
{
    *ps64Out = 0;
    if (!cJSON_IsNumber(pstItem))
        return Json_Refuse(pszKey, JSON_NOT_A_NUMBER);
    double dValue = pstItem->valuedouble;
    // Written so that NaN fails too.
    if (!(dValue >= (double)s64Min && dValue <= (double)s64Max) || dValue != (double)(s64)dValue)
        return Json_Refuse(pszKey, JSON_OUT_OF_RANGE);
    *ps64Out = (s64)dValue;
    return 0;
}

cJSON *cJSON_ParseFile(const char *pszPath)
{
    if (pszPath == nullptr)
        return nullptr;
    FILE *pFile = fopen(pszPath, "rb");
    if (pFile == nullptr) {
        printf("file %s not exits\n", pszPath);
        return nullptr;
    }
    long s32Len = -1;
    if (fseek(pFile, 0, SEEK_END) == 0)
        s32Len = ftell(pFile);
    if (s32Len <= 0 || fseek(pFile, 0, SEEK_SET) != 0) {
        printf("file len error\n");
        fclose(pFile);
        return nullptr;
    }
    char *pszText = (char *)malloc((size_t)s32Len + 1);
    if (pszText == nullptr) {
        fclose(pFile);
        return nullptr;
    }
    size_t u32Read = fread(pszText, 1, (size_t)s32Len, pFile);
    fclose(pFile);
    pszText[u32Read] = '\0';
    cJSON *pstItem = cJSON_Parse(pszText);
    free(pszText);
    return pstItem;
}

s32 cJSON_PrintToFile(const cJSON *pstItem, const char *pszPath, s32 bFormatted)
{
    if (pstItem == nullptr || pszPath == nullptr)
        return 1;
    FILE *pFile = fopen(pszPath, "w");
    if (pFile == nullptr) {
        printf("open file error\n");
        return 2;
    }
    char *pszText = bFormatted ? cJSON_Print(pstItem) : cJSON_PrintUnformatted(pstItem);
    s32 s32Ret = 0;
    if (pszText == nullptr || fputs(pszText, pFile) == EOF)
        s32Ret = 3;
    cJSON_free(pszText);
    if (fclose(pFile) != 0)
        s32Ret = 3;
    return s32Ret;
}

s32 cJSON_SetString(cJSON *pstItem, const char *pszText)
{
    if (!cJSON_IsString(pstItem) || (pstItem->type & cJSON_IsReference))
        return 0;
    size_t u32Len = strlen(pszText) + 1;
    char *pszCopy = (char *)cJSON_malloc(u32Len);
    if (pszCopy == nullptr)
        return 0;
    memcpy(pszCopy, pszText, u32Len);
    cJSON_free(pstItem->valuestring);
    pstItem->valuestring = pszCopy;
    return 1;
}
