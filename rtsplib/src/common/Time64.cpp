#include "rtsplib/include/Time64.h"

#include <cstdio>
#include <sys/time.h>

static const char *const s_apszWeekday[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
static const char *const s_apszMonth[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                          "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

u64 time64_now(void)
{
    struct timeval stTv;
    gettimeofday(&stTv, nullptr);
    return (u64)stTv.tv_sec * 1000 + (u64)stTv.tv_usec / 1000;
}

u64 time64_monotonic(void)
{
    struct timespec stTs;
    clock_gettime(CLOCK_MONOTONIC, &stTs);
    return (u64)stTs.tv_sec * 1000 + (u64)stTs.tv_nsec / 1000000;
}

s32 time64_utc(u64 u64Time, struct tm *pstTm)
{
    time_t t = (time_t)(u64Time / 1000);
    return gmtime_r(&t, pstTm) ? 0 : -1;
}

s32 time64_local(u64 u64Time, struct tm *pstTm)
{
    time_t t = (time_t)(u64Time / 1000);
    return localtime_r(&t, pstTm) ? 0 : -1;
}

u64 time64_from(const struct tm *pstUtc, u32 u32Ms)
{
    struct tm stTm = *pstUtc;
    return (u64)timegm(&stTm) * 1000 + u32Ms;
}

s32 time64_format(u64 u64Time, const char *pszFmt, char *pszOut, size_t size)
{
    struct tm stTm;
    if (size == 0 || time64_utc(u64Time, &stTm) < 0)
        return -1;
    size_t n = strftime(pszOut, size, pszFmt, &stTm);
    if (n == 0 && pszFmt[0] != '\0')
        return -1;
    return (s32)n;
}

u64 ntp64_now(void)
{
    struct timeval stTv;
    gettimeofday(&stTv, nullptr);
    u64 u64Frac = ((u64)stTv.tv_usec << 32) / 1000000;
    return (((u64)stTv.tv_sec + NTP_UNIX_OFFSET) << 32) | u64Frac;
}

u64 clock2ntp(u64 u64Ms)
{
    u64 u64Sec = u64Ms / 1000 + NTP_UNIX_OFFSET;
    u64 u64Frac = ((u64Ms % 1000) << 32) / 1000;
    return (u64Sec << 32) | u64Frac;
}

u64 ntp2clock(u64 u64Ntp)
{
    u64 u64Sec = (u64Ntp >> 32) - NTP_UNIX_OFFSET;
    u64 u64Ms = ((u64Ntp & 0xFFFFFFFFULL) * 1000) >> 32;
    return u64Sec * 1000 + u64Ms;
}

s32 datetime_format(time_t tSeconds, char *pszOut)
{
    struct tm stTm;
    pszOut[0] = '\0';
    if (!gmtime_r(&tSeconds, &stTm) || stTm.tm_year + 1900 > 9999 || stTm.tm_year + 1900 < 0)
        return -1;
    return snprintf(pszOut, DATETIME_TEXT_LEN, "%s, %02d %s %04d %02d:%02d:%02d GMT",
                    s_apszWeekday[stTm.tm_wday], stTm.tm_mday, s_apszMonth[stTm.tm_mon],
                    stTm.tm_year + 1900, stTm.tm_hour, stTm.tm_min, stTm.tm_sec);
}
