// The flash through its MTD partitions: "/proc/mtd" lists them in address
// order, each "/dev/mtd%d" covers the next range of the chip.
#include "platform/HalFlash.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <mtd/mtd-user.h>
#include <sys/ioctl.h>
#include <unistd.h>

#define FLASH_MAX_PARTS 16

struct HalFlashPart_S {
    s32 s32Fd;
    u32 u32Start;
    u32 u32Size;
};

static HalFlashPart_S s_astParts[FLASH_MAX_PARTS];
static u32 s_u32Parts;
static u32 s_u32FlashSize;
static u32 s_u32EraseSize;

s32 HAL_Flash_Open(void)
{
    if (s_u32Parts > 0)
        return 0;
    FILE *fp = fopen("/proc/mtd", "r");
    if (fp == nullptr)
        return -1;
    char azLine[128];
    u32 u32Start = 0;
    while (fgets(azLine, sizeof(azLine), fp) != nullptr && s_u32Parts < FLASH_MAX_PARTS) {
        s32 s32Index;
        u32 u32Size, u32Erase;
        if (sscanf(azLine, "mtd%d: %x %x", &s32Index, &u32Size, &u32Erase) != 3)
            continue;
        char azDev[32];
        snprintf(azDev, sizeof(azDev), "/dev/mtd%d", s32Index);
        s32 s32Fd = open(azDev, O_RDWR | O_CLOEXEC);
        if (s32Fd < 0)
            break;
        s_astParts[s_u32Parts++] = {s32Fd, u32Start, u32Size};
        u32Start += u32Size;
        s_u32EraseSize = u32Erase;
    }
    fclose(fp);
    s_u32FlashSize = u32Start;
    return s_u32Parts > 0 ? 0 : -1;
}

u32 HAL_Flash_Size(void)
{
    return s_u32FlashSize;
}

u32 HAL_Flash_EraseSize(void)
{
    return s_u32EraseSize;
}

// Walks the partitions that [u32Offset, u32Offset + u32Len) touches.
template <typename Fn>
static s32 HalFlash_Each(u32 u32Offset, u32 u32Len, Fn fn)
{
    if (u32Offset > s_u32FlashSize || u32Len > s_u32FlashSize - u32Offset) {
        errno = EINVAL;
        return -1;
    }
    for (u32 i = 0; i < s_u32Parts && u32Len > 0; i++) {
        const HalFlashPart_S &p = s_astParts[i];
        if (u32Offset >= p.u32Start + p.u32Size)
            continue;
        u32 u32Part = p.u32Start + p.u32Size - u32Offset;
        u32 u32Chunk = u32Len < u32Part ? u32Len : u32Part;
        if (fn(p.s32Fd, u32Offset - p.u32Start, u32Chunk) < 0)
            return -1;
        u32Offset += u32Chunk;
        u32Len -= u32Chunk;
    }
    return 0;
}

s32 HAL_Flash_Read(u32 u32Offset, void *pvBuf, u32 u32Len)
{
    u8 *pu8 = (u8 *)pvBuf;
    return HalFlash_Each(u32Offset, u32Len, [&pu8](s32 s32Fd, u32 u32Off, u32 u32Chunk) {
        if (pread(s32Fd, pu8, u32Chunk, u32Off) != (ssize_t)u32Chunk)
            return -1;
        pu8 += u32Chunk;
        return 0;
    });
}

s32 HAL_Flash_Program(u32 u32Offset, const void *pvBuf, u32 u32Len)
{
    const u8 *pu8 = (const u8 *)pvBuf;
    return HalFlash_Each(u32Offset, u32Len, [&pu8](s32 s32Fd, u32 u32Off, u32 u32Chunk) {
        if (pwrite(s32Fd, pu8, u32Chunk, u32Off) != (ssize_t)u32Chunk)
            return -1;
        pu8 += u32Chunk;
        return 0;
    });
}

s32 HAL_Flash_Erase(u32 u32Offset, u32 u32Len)
{
    return HalFlash_Each(u32Offset, u32Len, [](s32 s32Fd, u32 u32Off, u32 u32Chunk) {
        struct erase_info_user stErase = {u32Off, u32Chunk};
        return ioctl(s32Fd, MEMERASE, &stErase) < 0 ? -1 : 0;
    });
}
