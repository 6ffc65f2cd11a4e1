// The flash layer: the board's flash addressed from offset 0, and the flash
// and identity lock. Every call takes the lock itself; a caller that needs
// several calls to act as one holds g_FlashMutex around them.
#ifndef UPGRADE_FLASH_H
#define UPGRADE_FLASH_H

#include <mutex>

#include "core/Types.h"

extern std::recursive_mutex g_FlashMutex;   // flash contents and the identity files

s32 Flash_Init(void);                                          // 0, or -1 (logged)
s32 Flash_Read(u32 u32Offset, void *pvBuf, u32 u32Len);        // 0, or -1 (logged)
s32 Flash_Erase(u32 u32Offset, u32 u32Len);                    // whole erase blocks
s32 Flash_Program(u32 u32Offset, const void *pvBuf, u32 u32Len);  // into erased flash
// Rewrites a range in place: the erase blocks it touches are read, changed,
// erased and programmed again. 0, or -1 (logged).
s32 Flash_Update(u32 u32Offset, const void *pvBuf, u32 u32Len);
u32 Flash_EraseSize(void);
u32 Flash_Size(void);                                          // bytes; 0 before Flash_Init

// CRC-32 (IEEE 802.3, reflected) starting from the register value u32Crc;
// the result is the inverted register, so getCrc32(0xFFFFFFFF, ...) is the
// common CRC-32. To go on over more bytes, pass the previous result inverted.
u32 getCrc32(u32 u32Crc, const void *pvBuf, u32 u32Len);

#endif
