#include "config/ConfigOld.h"

#include <cstdio>
#include <cstring>

#include "upgrade/Flash.h"

static s32 ConfigOld_Read(ConfigOldBlock_S *pstBlock)
{
    if (Flash_Init() < 0)
        return -1;
    return Flash_Read(CONFIG_OLD_OFFSET, pstBlock, sizeof(*pstBlock));
}

static void ConfigOld_HexEdid(char *pszOut, const u8 *pu8Edid, u32 u32Len)
{
    for (u32 i = 0; i < u32Len; i++)
        snprintf(pszOut + 2 * i, 3, "%02x", pu8Edid[i]);
}

// A text field of the block, which need not hold a NUL.
static void ConfigOld_Text(char *pszOut, size_t sizeOut, const char *pcIn, size_t sizeIn)
{
    snprintf(pszOut, sizeOut, "%.*s", (int)strnlen(pcIn, sizeIn), pcIn);
}

s32 Config_get_old(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid)
{
    static_assert(2 * sizeof(ConfigOldBlock_S::au8CopyEdid) < CONFIG_EDID_TEXT_LEN, "EDID text width");
    if (pstAttr == nullptr || pstEdid == nullptr)
        return -1;
    ConfigOldBlock_S stBlock;
    {
        std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
        if (ConfigOld_Read(&stBlock) < 0)
            return -1;
    }
    if (getCrc32(0xFFFFFFFF, &stBlock.stAttr, CONFIG_OLD_CRC_LEN) != stBlock.stAttr.u32Crc)
        return -1;
    *pstAttr = stBlock.stAttr;
    ConfigOld_Text(pstAttr->stMisc.azWebUser, sizeof(pstAttr->stMisc.azWebUser), stBlock.azWebUser,
                   sizeof(stBlock.azWebUser));
    ConfigOld_Text(pstAttr->stMisc.azWebPsw, sizeof(pstAttr->stMisc.azWebPsw), stBlock.azWebPsw,
                   sizeof(stBlock.azWebPsw));
    ConfigOld_HexEdid(pstEdid->azRxEdid, stBlock.au8CopyEdid, sizeof(stBlock.au8CopyEdid));
    ConfigOld_HexEdid(pstEdid->azUser1Edid, stBlock.au8User1Edid, sizeof(stBlock.au8User1Edid));
    ConfigOld_HexEdid(pstEdid->azUser2Edid, stBlock.au8User2Edid, sizeof(stBlock.au8User2Edid));
    return 0;
}

s32 Config_clear_old(void)
{
    std::lock_guard<std::recursive_mutex> lock(g_FlashMutex);
    ConfigOldBlock_S stBlock;
    if (ConfigOld_Read(&stBlock) < 0)
        return -1;
    memset(&stBlock.stAttr, 0, sizeof(stBlock.stAttr));
    stBlock.stAttr.u32Crc = CONFIG_OLD_CLEARED_CRC;
    return Flash_Update(CONFIG_OLD_OFFSET, &stBlock, sizeof(stBlock));
}
