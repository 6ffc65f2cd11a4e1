// The board's NOR flash as one address range from offset 0. Board: the MTD
// partitions of "/proc/mtd", which lie end to end from offset 0, through
// "/dev/mtd%d". Host: the image "/board/flash.img" (as in a box), which
// behaves like NOR: erasing sets bytes to 0xFF, programming only clears bits.
#ifndef PLATFORM_HALFLASH_H
#define PLATFORM_HALFLASH_H

#include "core/Types.h"

s32 HAL_Flash_Open(void);                                        // 0, or -1 with errno
u32 HAL_Flash_Size(void);                                        // bytes; 0 before open
u32 HAL_Flash_EraseSize(void);                                   // bytes of one erase block
s32 HAL_Flash_Read(u32 u32Offset, void *pvBuf, u32 u32Len);      // 0, or -1 with errno
s32 HAL_Flash_Program(u32 u32Offset, const void *pvBuf, u32 u32Len);
s32 HAL_Flash_Erase(u32 u32Offset, u32 u32Len);                  // whole erase blocks

#endif
