// URL parsing and percent-encoding for RTSP request URIs.
#ifndef RTSPLIB_INCLUDE_URL_H
#define RTSPLIB_INCLUDE_URL_H

#include <cstddef>
#include <string>

#include "core/Types.h"

#define URL_MAX_PARAMS 128

struct UrlParam_S {
    std::string strName;    // decoded
    std::string strValue;   // decoded
};

struct Url_S {
    std::string strScheme;  // without ":"; empty when absent
    std::string strHost;
    u16 u16Port;            // 0 when absent
    std::string strPath;    // "/" when absent; not decoded
    u32 u32ParamNum;
    UrlParam_S astParam[URL_MAX_PARAMS];
};

// Parses a URL; null for a bad port or a bad "%" escape in the query
// (errno EINVAL), or when out of memory (ENOMEM). The caller frees the
// result with url_free.
Url_S *url_parse(const char *pszUrl);
// An empty URL, or null when out of memory.
Url_S *url_new(void);
void url_free(Url_S *pstUrl);

// Builds "scheme://host:port/path?query" (query encoded) into pszOut; the
// length, or -1 when it does not fit. url_geturlpath builds "path?query".
s32 url_geturl(const Url_S *pstUrl, char *pszOut, size_t size);
s32 url_geturlpath(const Url_S *pstUrl, char *pszOut, size_t size);
const char *url_getscheme(const Url_S *pstUrl);
const char *url_gethost(const Url_S *pstUrl);
u16 url_getport(const Url_S *pstUrl);
const char *url_getpath(const Url_S *pstUrl);
void url_setscheme(Url_S *pstUrl, const char *pszScheme);
void url_sethost(Url_S *pstUrl, const char *pszHost);
void url_setport(Url_S *pstUrl, u16 u16Port);
void url_setpath(Url_S *pstUrl, const char *pszPath);
// Replaces the value of a parameter of that name or adds one; -1 when all
// URL_MAX_PARAMS are taken.
s32 url_setparam(Url_S *pstUrl, const char *pszName, const char *pszValue);
u32 url_getparam_count(const Url_S *pstUrl);
// Parameter u32Index; -1 when there is none.
s32 url_getparam(const Url_S *pstUrl, u32 u32Index, const char **ppszName, const char **ppszValue);

// Percent-encoding of s32Len bytes (-1: up to the terminator) into pszDst of
// size bytes, terminated. 0, or -1 when the output does not fit (encode) or
// a "%" lacks two hexadecimal digits (decode).
s32 url_encode(const char *pszSrc, s32 s32Len, char *pszDst, size_t size);
s32 url_decode(const char *pszSrc, s32 s32Len, char *pszDst, size_t size);

#endif
