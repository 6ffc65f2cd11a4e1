// The upgrade header check on arbitrary headers. The check word is set
// right first, so that the fuzzer reaches the model and partition checks;
// an accepted header must name only partitions that fit.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "upgrade/Flash.h"
#include "upgrade/Image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    static bool s_bFlash = MAIN_Image_Init() == 0;
    ImageInfo_S stInfo;
    u32 u32Head = 0;
    if (!s_bFlash || size < sizeof(u32Head))
        return 0;
    memcpy(&u32Head, pu8Data, sizeof(u32Head));
    memset(&stInfo, 0, sizeof(stInfo));
    memcpy(&stInfo, pu8Data + 4, size - 4 < sizeof(stInfo) ? size - 4 : sizeof(stInfo));
    Image_Seal(&stInfo);
    if (Image_CheckHeader(&stInfo, u32Head) != 0)
        return 0;
    for (const ImagePart_S &stPart : stInfo.astPart)
        if (stPart.azName[0] != '\0'
            && ((u64)stPart.u32FileOffset + stPart.u32Len > u32Head
                || (u64)stPart.u32FlashAddr + stPart.u32Len > IMAGE_FLASH_LIMIT))
            __builtin_trap();
    return 0;
}
