// Clocks of the RTSP library: wall-clock milliseconds, NTP time stamps and
// the RFC 822 date of RTSP replies.
#ifndef RTSPLIB_INCLUDE_TIME64_H
#define RTSPLIB_INCLUDE_TIME64_H

#include <ctime>
#include <cstddef>

#include "core/Types.h"

#define NTP_UNIX_OFFSET   2208988800ULL   // seconds from 1900 to 1970
#define DATETIME_TEXT_LEN 30              // datetime_format output, terminator included

// Milliseconds since 1970, wall clock.
u64 time64_now(void);
// Milliseconds of the monotonic clock, for time-outs.
u64 time64_monotonic(void);
// Broken-down UTC and local time of a time64 value; 0, or -1 when it does
// not convert.
s32 time64_utc(u64 u64Time, struct tm *pstTm);
s32 time64_local(u64 u64Time, struct tm *pstTm);
// The time64 value of a broken-down UTC time plus u32Ms milliseconds.
u64 time64_from(const struct tm *pstUtc, u32 u32Ms);
// strftime of the UTC time into pszOut; the length written, or -1 when the
// text does not fit.
s32 time64_format(u64 u64Time, const char *pszFmt, char *pszOut, size_t size);

// NTP time now: seconds since 1900 in the high word, the fraction in the low.
u64 ntp64_now(void);
u64 clock2ntp(u64 u64Ms);     // time64 value to NTP
u64 ntp2clock(u64 u64Ntp);    // NTP to time64 value

// "Thu, 01 Jan 1970 00:00:00 GMT" for a Unix time, into pszOut of at least
// DATETIME_TEXT_LEN bytes. Returns the length, or -1 for a time gmtime
// cannot convert (pszOut is then empty).
s32 datetime_format(time_t tSeconds, char *pszOut);

#endif
