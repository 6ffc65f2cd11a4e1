#include "upgrade/Flash.h"

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/Debug.h"
#include "platform/HalFlash.h"

std::recursive_mutex g_FlashMutex;

static s32 Flash_Check(s32 s32Ret, const char *pszCall, u32 u32Offset, u32 u32Len)
{
    if (s32Ret < 0)
        Debug_Log("[%s]: %s %#x+%#x failed: %s\n", log_Time(), pszCall, u32Offset, u32Len,
                  strerror(errno));
    return s32Ret < 0 ? -1 : 0;
}

s32 Flash_Init(void)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    return Flash_Check(HAL_Flash_Open(), "flash open", 0, 0);
}

s32 Flash_Read(u32 u32Offset, void *pvBuf, u32 u32Len)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    return Flash_Check(HAL_Flash_Read(u32Offset, pvBuf, u32Len), "flash read", u32Offset, u32Len);
}

s32 Flash_Erase(u32 u32Offset, u32 u32Len)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    return Flash_Check(HAL_Flash_Erase(u32Offset, u32Len), "flash erase", u32Offset, u32Len);
}

s32 Flash_Program(u32 u32Offset, const void *pvBuf, u32 u32Len)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    return Flash_Check(HAL_Flash_Program(u32Offset, pvBuf, u32Len), "flash program", u32Offset,
                       u32Len);
}

u32 Flash_EraseSize(void)
{
    return HAL_Flash_EraseSize();
}

u32 Flash_Size(void)
{
    return HAL_Flash_Size();
}

s32 Flash_Update(u32 u32Offset, const void *pvBuf, u32 u32Len)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    u32 u32Block = HAL_Flash_EraseSize();
    if (u32Block == 0)
        return Flash_Check(-1, "flash update (not open)", u32Offset, u32Len);
    u32 u32Start = u32Offset - u32Offset % u32Block;
    u64 u64End = ((u64)u32Offset + u32Len + u32Block - 1) / u32Block * u32Block;
    std::vector<u8> image((size_t)(u64End - u32Start));
    if (Flash_Read(u32Start, image.data(), (u32)image.size()) < 0)
        return -1;
    memcpy(image.data() + (u32Offset - u32Start), pvBuf, u32Len);
    if (Flash_Erase(u32Start, (u32)image.size()) < 0)
        return -1;
    return Flash_Program(u32Start, image.data(), (u32)image.size());
}

u32 getCrc32(u32 u32Crc, const void *pvBuf, u32 u32Len)
{
    static u32 s_au32Table[256];
    static std::once_flag s_once;
    std::call_once(s_once, [] {
        for (u32 n = 0; n < 256; n++) {
            u32 c = n;
            for (s32 k = 0; k < 8; k++)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            s_au32Table[n] = c;
        }
    });
    const u8 *pu8 = (const u8 *)pvBuf;
    for (u32 i = 0; i < u32Len; i++)
        u32Crc = s_au32Table[(u32Crc ^ pu8[i]) & 0xFF] ^ (u32Crc >> 8);
    return u32Crc ^ 0xFFFFFFFFu;
}
