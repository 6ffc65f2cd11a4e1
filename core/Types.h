// Fixed-width names used by every record of the program.
#ifndef CORE_TYPES_H
#define CORE_TYPES_H

#include <cstdint>

typedef uint8_t  u8;
typedef uint16_t u16;
typedef uint32_t u32;
typedef uint64_t u64;
typedef int8_t   s8;
typedef int16_t  s16;
typedef int32_t  s32;
typedef int64_t  s64;

#define ARRAY_SIZE(a) (sizeof(a) / sizeof((a)[0]))

#endif
