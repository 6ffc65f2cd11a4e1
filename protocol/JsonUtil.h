// Typed getters and file functions over the JSON library. A member of the
// wrong kind counts as missing.
#ifndef PROTOCOL_JSONUTIL_H
#define PROTOCOL_JSONUTIL_H

#include <cjson/cJSON.h>

#include "core/Types.h"

// Each getter first clears its result, then returns 1 when the member
// exists with the right kind (and stores its value), else 0.
s32 cJSON_GetByteVal(const cJSON *pstObj, const char *pszName, u8 *pu8Val);
s32 cJSON_GetWordVal(const cJSON *pstObj, const char *pszName, u16 *pu16Val);
s32 cJSON_GetUintVal(const cJSON *pstObj, const char *pszName, u32 *pu32Val);
// Also takes false and true, as 0 and 1.
s32 cJSON_GetIntVal(const cJSON *pstObj, const char *pszName, s32 *ps32Val);
// Copies the whole text: the caller provides room for it.
s32 cJSON_GetString(const cJSON *pstObj, const char *pszName, char *pszOut);
// Copies the integer values of at most u32Count elements; 0 as soon as an
// element is not a number (the values copied so far stay).
s32 cJSON_GetByteArray(const cJSON *pstObj, const char *pszName, u8 *pu8Out, u32 u32Count);
s32 cJSON_GetUintArray(const cJSON *pstObj, const char *pszName, u32 *pu32Out, u32 u32Count);

// Numbers that come from peers are taken only in the form of their field
// and within the range of what they go into: never cut, saturated, wrapped
// or read up to the first character that does not fit. The bounds lie
// within +-2^53, where a JSON number holds every whole value. A refusal
// leaves *ps64Out 0 and logs one line, "<key> out of range" for a number
// outside, "<key> is not a number" for anything else, rate-limited for all
// numbers alike; pszKey names the member.
//
// Decimal text: a minus where s64Min is negative, then decimal digits (as
// many leading zeros as it likes), the whole text and nothing else: no
// blank, no "+", no empty text. 0 with the value in *ps64Out, or -1.
s32 Json_DecInRange(const char *pszText, const char *pszKey, s64 s64Min, s64 s64Max, s64 *ps64Out);
// A JSON number member, whole: 0 with the value in *ps64Out, or -1 for a
// number that is not whole or lies outside, and for a member of another
// kind or none (null).
s32 Json_WholeInRange(const cJSON *pstItem, const char *pszKey, s64 s64Min, s64 s64Max, s64 *ps64Out);

// The parsed file, or null (no path, no file, empty file, no memory, no
// JSON). The caller deletes the item.
cJSON *cJSON_ParseFile(const char *pszPath);
// 0 written; 1 no item or path; 2 the file cannot be created; 3 the item
// cannot be printed or written.
s32 cJSON_PrintToFile(const cJSON *pstItem, const char *pszPath, s32 bFormatted);
// Replaces the text of a string item: 1, or 0 (nothing changed) for another
// kind of item or when no memory is left.
s32 cJSON_SetString(cJSON *pstItem, const char *pszText);

#endif
