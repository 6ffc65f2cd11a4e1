// Flash stand-in: the image file "/board/flash.img", written with NOR rules.
#include "platform/HalFlash.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#define FLASH_IMAGE      "/board/flash.img"
#define FLASH_ERASE_SIZE 0x10000

static s32 s_s32FlashFd = -1;
static u32 s_u32FlashSize;

s32 HAL_Flash_Open(void)
{
    if (s_s32FlashFd >= 0)
        return 0;
    s32 s32Fd = open(FLASH_IMAGE, O_RDWR | O_CLOEXEC);
    struct stat st;
    if (s32Fd < 0)
        return -1;
    if (fstat(s32Fd, &st) < 0 || st.st_size == 0 || st.st_size % FLASH_ERASE_SIZE != 0) {
        close(s32Fd);
        errno = EINVAL;
        return -1;
    }
    s_u32FlashSize = (u32)st.st_size;
    s_s32FlashFd = s32Fd;
    return 0;
}

u32 HAL_Flash_Size(void)
{
    return s_u32FlashSize;
}

u32 HAL_Flash_EraseSize(void)
{
    return FLASH_ERASE_SIZE;
}

static s32 HostFlash_CheckRange(u32 u32Offset, u32 u32Len)
{
    if (s_s32FlashFd < 0 || u32Offset > s_u32FlashSize || u32Len > s_u32FlashSize - u32Offset) {
        errno = s_s32FlashFd < 0 ? EBADF : EINVAL;
        return -1;
    }
    return 0;
}

s32 HAL_Flash_Read(u32 u32Offset, void *pvBuf, u32 u32Len)
{
    if (HostFlash_CheckRange(u32Offset, u32Len) < 0)
        return -1;
    return pread(s_s32FlashFd, pvBuf, u32Len, u32Offset) == (ssize_t)u32Len ? 0 : -1;
}

s32 HAL_Flash_Program(u32 u32Offset, const void *pvBuf, u32 u32Len)
{
    if (HostFlash_CheckRange(u32Offset, u32Len) < 0)
        return -1;
    std::vector<u8> cells(u32Len);
    if (pread(s_s32FlashFd, cells.data(), u32Len, u32Offset) != (ssize_t)u32Len)
        return -1;
    const u8 *pu8New = (const u8 *)pvBuf;
    for (u32 i = 0; i < u32Len; i++)
        cells[i] &= pu8New[i];
    return pwrite(s_s32FlashFd, cells.data(), u32Len, u32Offset) == (ssize_t)u32Len ? 0 : -1;
}

s32 HAL_Flash_Erase(u32 u32Offset, u32 u32Len)
{
    if (HostFlash_CheckRange(u32Offset, u32Len) < 0)
        return -1;
    if (u32Offset % FLASH_ERASE_SIZE != 0 || u32Len % FLASH_ERASE_SIZE != 0) {
        errno = EINVAL;
        return -1;
    }
    std::vector<u8> erased(FLASH_ERASE_SIZE, 0xFF);
    for (u32 u32Off = u32Offset; u32Off < u32Offset + u32Len; u32Off += FLASH_ERASE_SIZE)
        if (pwrite(s_s32FlashFd, erased.data(), FLASH_ERASE_SIZE, u32Off) != FLASH_ERASE_SIZE)
            return -1;
    return 0;
}
