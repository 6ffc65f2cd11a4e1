#include "rtsplib/include/Url.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/Debug.h"

static s32 Url_HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static s32 Url_DecodeString(const char *pszSrc, size_t len, std::string *pstr)
{
    pstr->assign(len + 1, '\0');
    if (url_decode(pszSrc, (s32)len, &(*pstr)[0], pstr->size()) < 0)
        return -1;
    pstr->resize(strlen(pstr->c_str()));
    return 0;
}

static s32 Url_EncodeAppend(const std::string &str, std::string *pstrOut)
{
    std::string strTmp(str.size() * 3 + 1, '\0');
    if (url_encode(str.c_str(), (s32)str.size(), &strTmp[0], strTmp.size()) < 0)
        return -1;
    pstrOut->append(strTmp.c_str());
    return 0;
}

// "name=value&..." into the parameter list; pairs without "=" or with an
// empty name are skipped.
static s32 Url_ParseQuery(const char *pszQuery, Url_S *pstUrl)
{
    while (*pszQuery != '\0') {
        size_t len = strcspn(pszQuery, "&");
        const char *pszEq = (const char *)memchr(pszQuery, '=', len);
        if (pszEq != nullptr && pszEq != pszQuery && pstUrl->u32ParamNum < URL_MAX_PARAMS) {
            UrlParam_S *pstParam = &pstUrl->astParam[pstUrl->u32ParamNum];
            if (Url_DecodeString(pszQuery, (size_t)(pszEq - pszQuery), &pstParam->strName) < 0 ||
                Url_DecodeString(pszEq + 1, len - (size_t)(pszEq + 1 - pszQuery), &pstParam->strValue) < 0)
                return -1;
            pstUrl->u32ParamNum++;
        }
        pszQuery += len;
        if (*pszQuery == '&')
            pszQuery++;
    }
    return 0;
}

static s32 Url_ParsePort(const char *psz, size_t len, u16 *pu16Port)
{
    u32 u32Port = 0;
    if (len == 0 || len > 5)
        return -1;
    for (size_t i = 0; i < len; i++) {
        if (!isdigit((unsigned char)psz[i]))
            return -1;
        u32Port = u32Port * 10 + (u32)(psz[i] - '0');
    }
    if (u32Port == 0 || u32Port > 65535)
        return -1;
    *pu16Port = (u16)u32Port;
    return 0;
}

Url_S *url_new(void)
{
    Url_S *pstUrl = new (std::nothrow) Url_S();
    if (pstUrl != nullptr)
        pstUrl->strPath = "/";   // short: kept in the string itself, no allocation
    return pstUrl;
}

void url_free(Url_S *pstUrl)
{
    delete pstUrl;
}

// Fills a new record from the text: 0, or -1 when it is no URL. Its
// strings throw std::bad_alloc when memory runs out.
static s32 Url_Parse(const char *pszUrl, Url_S *pstUrl)
{
    const char *psz = pszUrl;
    const char *pszSlash = strchr(psz, '/');
    if (pszSlash != nullptr && pszSlash > psz && pszSlash[-1] == ':' && pszSlash[1] == '/') {
        pstUrl->strScheme.assign(psz, (size_t)(pszSlash - 1 - psz));
        psz = pszSlash + 2;
    }
    size_t lenAuthority = strcspn(psz, "/?");
    const char *pszColon = (const char *)memchr(psz, ':', lenAuthority);
    size_t lenHost = pszColon ? (size_t)(pszColon - psz) : lenAuthority;
    pstUrl->strHost.assign(psz, lenHost);
    if (pszColon != nullptr && Url_ParsePort(pszColon + 1, lenAuthority - lenHost - 1, &pstUrl->u16Port) < 0)
        return -1;
    psz += lenAuthority;
    size_t lenPath = strcspn(psz, "?");
    if (lenPath > 0)
        pstUrl->strPath.assign(psz, lenPath);
    psz += lenPath;
    return *psz == '?' ? Url_ParseQuery(psz + 1, pstUrl) : 0;
}

Url_S *url_parse(const char *pszUrl)
{
    static DebugLimit_S s_stLimit;   // the texts come from peers
    Url_S *pstUrl = url_new();
    s32 s32Ret = -ENOMEM;
    if (pstUrl != nullptr) {
        try {
            s32Ret = Url_Parse(pszUrl, pstUrl) < 0 ? -EINVAL : 0;
        } catch (const std::bad_alloc &) {
            s32Ret = -ENOMEM;   // refused like a record that could not be made
        }
    }
    if (s32Ret == 0)
        return pstUrl;
    if (s32Ret == -ENOMEM)
        Debug_LogLimited(&s_stLimit, "[%s]: %s: out of memory, a URL refused\n", log_Time(), __func__);
    url_free(pstUrl);
    errno = -s32Ret;
    return nullptr;
}

s32 url_geturlpath(const Url_S *pstUrl, char *pszOut, size_t size)
{
    std::string str = pstUrl->strPath;
    for (u32 i = 0; i < pstUrl->u32ParamNum; i++) {
        str += i == 0 ? "?" : "&";
        if (Url_EncodeAppend(pstUrl->astParam[i].strName, &str) < 0)
            return -1;
        str += "=";
        if (Url_EncodeAppend(pstUrl->astParam[i].strValue, &str) < 0)
            return -1;
    }
    if (str.size() >= size)
        return -1;
    memcpy(pszOut, str.c_str(), str.size() + 1);
    return (s32)str.size();
}

s32 url_geturl(const Url_S *pstUrl, char *pszOut, size_t size)
{
    std::string str;
    if (!pstUrl->strScheme.empty())
        str = pstUrl->strScheme + "://";
    str += pstUrl->strHost;
    if (pstUrl->u16Port != 0)
        str += ":" + std::to_string(pstUrl->u16Port);
    if (str.size() >= size)
        return -1;
    s32 s32Path = url_geturlpath(pstUrl, pszOut + str.size(), size - str.size());
    if (s32Path < 0)
        return -1;
    memcpy(pszOut, str.c_str(), str.size());
    return (s32)str.size() + s32Path;
}

const char *url_getscheme(const Url_S *pstUrl) { return pstUrl->strScheme.c_str(); }
const char *url_gethost(const Url_S *pstUrl) { return pstUrl->strHost.c_str(); }
u16 url_getport(const Url_S *pstUrl) { return pstUrl->u16Port; }
const char *url_getpath(const Url_S *pstUrl) { return pstUrl->strPath.c_str(); }
void url_setscheme(Url_S *pstUrl, const char *pszScheme) { pstUrl->strScheme = pszScheme; }
void url_sethost(Url_S *pstUrl, const char *pszHost) { pstUrl->strHost = pszHost; }
void url_setport(Url_S *pstUrl, u16 u16Port) { pstUrl->u16Port = u16Port; }
void url_setpath(Url_S *pstUrl, const char *pszPath) { pstUrl->strPath = pszPath; }
u32 url_getparam_count(const Url_S *pstUrl) { return pstUrl->u32ParamNum; }

s32 url_setparam(Url_S *pstUrl, const char *pszName, const char *pszValue)
{
    for (u32 i = 0; i < pstUrl->u32ParamNum; i++) {
        if (pstUrl->astParam[i].strName == pszName) {
            pstUrl->astParam[i].strValue = pszValue;
            return 0;
        }
    }
    if (pstUrl->u32ParamNum >= URL_MAX_PARAMS)
        return -1;
    pstUrl->astParam[pstUrl->u32ParamNum].strName = pszName;
    pstUrl->astParam[pstUrl->u32ParamNum].strValue = pszValue;
    pstUrl->u32ParamNum++;
    return 0;
}

s32 url_getparam(const Url_S *pstUrl, u32 u32Index, const char **ppszName, const char **ppszValue)
{
    if (u32Index >= pstUrl->u32ParamNum)
        return -1;
    *ppszName = pstUrl->astParam[u32Index].strName.c_str();
    *ppszValue = pstUrl->astParam[u32Index].strValue.c_str();
    return 0;
}

s32 url_encode(const char *pszSrc, s32 s32Len, char *pszDst, size_t size)
{
    static const char s_azHex[] = "0123456789ABCDEF";
    size_t len = s32Len < 0 ? strlen(pszSrc) : (size_t)s32Len;
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        unsigned char c = (unsigned char)pszSrc[i];
        bool bPlain = isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~' || c == ' ';
        if (n + (bPlain ? 1 : 3) >= size)
            return -1;
        if (c == ' ') {
            pszDst[n++] = '+';
        } else if (bPlain) {
            pszDst[n++] = (char)c;
        } else {
            pszDst[n++] = '%';
            pszDst[n++] = s_azHex[c >> 4];
            pszDst[n++] = s_azHex[c & 15];
        }
    }
    if (size == 0)
        return -1;
    pszDst[n] = '\0';
    return 0;
}

s32 url_decode(const char *pszSrc, s32 s32Len, char *pszDst, size_t size)
{
    size_t len = s32Len < 0 ? strlen(pszSrc) : (size_t)s32Len;
    size_t n = 0;
    for (size_t i = 0; i < len; i++) {
        if (n + 1 >= size)
            return -1;
        char c = pszSrc[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (i + 2 >= len)
                return -1;
            s32 s32Hi = Url_HexValue(pszSrc[i + 1]), s32Lo = Url_HexValue(pszSrc[i + 2]);
            if (s32Hi < 0 || s32Lo < 0)
                return -1;
            c = (char)(s32Hi * 16 + s32Lo);
            i += 2;
        }
        pszDst[n++] = c;
    }
    if (size == 0)
        return -1;
    pszDst[n] = '\0';
    return 0;
}
