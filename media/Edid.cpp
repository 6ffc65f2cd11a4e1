// EDID checks, the stored EDIDs and the preset loader.
#include "media/Edid.h"

#include <cstdio>
#include <cstring>

#include "config/Config.h"
#include "core/Debug.h"
#include "media/AVSource.h"

static const u8 s_au8EdidHead[8] = {0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00};

s32 CheckEdidHead(const u8 *pu8Edid)
{
    return memcmp(pu8Edid, s_au8EdidHead, sizeof(s_au8EdidHead)) == 0 ? 1 : 0;
}

s32 IsCheckSumRight(const u8 *pu8Edid)
{
    u32 u32Len = pu8Edid[126] != 0 ? EDID_LEN : EDID_BLOCK_LEN;
    return Edid_Sum(pu8Edid, u32Len) == 0 ? 1 : 0;
}

s32 IsEdidRight(const u8 *pu8Edid)
{
    return CheckEdidHead(pu8Edid) && IsCheckSumRight(pu8Edid) ? 1 : 0;
}

s32 Edid_IsWhole(const u8 *pu8Edid, s32 s32Len)
{
    if (s32Len != EDID_LEN && (s32Len != EDID_BLOCK_LEN || pu8Edid[126] != 0))
        return 0;
    for (s32 i = 0; i < s32Len; i += EDID_BLOCK_LEN) {
        if (Edid_Sum(pu8Edid + i, EDID_BLOCK_LEN) != 0)
            return 0;
    }
    return CheckEdidHead(pu8Edid);
}

// The runtime record's three blocks, handed over once at start-up.
static u8 *s_apu8Stored[EDID_STORED_NUM];

void EDID_AttachStore(u8 *pu8Copy, u8 *pu8User1, u8 *pu8User2)
{
    s_apu8Stored[0] = pu8Copy;
    s_apu8Stored[1] = pu8User1;
    s_apu8Stored[2] = pu8User2;
}

static s32 Edid_Load(u32 u32Store, u8 *pu8Out)
{
    if (s_apu8Stored[u32Store] == nullptr)
        return -1;
    memcpy(pu8Out, s_apu8Stored[u32Store], EDID_LEN);
    return 0;
}

// The bytes into the runtime record, their 512 hex digits into the
// settings, and a save 2 s from now.
static s32 Edid_Store(u32 u32Store, char *pszText, const u8 *pu8Edid)
{
    if (s_apu8Stored[u32Store] == nullptr)
        return -1;
    memcpy(s_apu8Stored[u32Store], pu8Edid, EDID_LEN);
    for (u32 i = 0; i < EDID_LEN; i++)
        snprintf(pszText + 2 * i, 3, "%02x", pu8Edid[i]);
    (void)MAIN_CONFIG_Update();   // logs its own failure; the bytes are in use either way
    return 0;
}

s32 getEdid(u8 *pu8Out)
{
    return Edid_Load(0, pu8Out);
}

s32 getUser1Edid(u8 *pu8Out)
{
    return Edid_Load(1, pu8Out);
}

s32 getUser2Edid(u8 *pu8Out)
{
    return Edid_Load(2, pu8Out);
}

s32 setEdid(const u8 *pu8Edid)
{
    return Edid_Store(0, g_stConfigAttrNew.azRxEdid, pu8Edid);
}

s32 setUser1Edid(const u8 *pu8Edid)
{
    s32 s32Ret = Edid_Store(1, g_stConfigAttrNew.azUser1Edid, pu8Edid);
    Debug_Log("[%s]: %s: azUser1Edid %s\n", log_Time(), "setUser1Edid", g_stConfigAttrNew.azUser1Edid);
    return s32Ret;
}

s32 setUser2Edid(const u8 *pu8Edid)
{
    return Edid_Store(2, g_stConfigAttrNew.azUser2Edid, pu8Edid);
}

s32 AVSource_get_EDID_from_index(u32 u32Index, u8 *pu8Out)
{
    if (u32Index >= EDID_BUILTIN_NUM)
        return -1;
    memcpy(pu8Out, Edid_4100L_Lib[u32Index].au8, EDID_LEN);
    return 0;
}

s32 MAIN_SetEDID_preset(void *hAVSource)
{
    s32 s32Index = g_stConfigAttr.stManual.s32Edid_index;
    u8 au8Edid[EDID_LEN];

    Debug_Log("[%s]: MAIN_SetEDID_preset,g_stConfigAttr.stManual.s32Edid_index=%d\n", log_Time(), s32Index);
    if (s32Index >= 0 && s32Index < EDID_BUILTIN_NUM) {
        (void)AVSource_get_EDID_from_index((u32)s32Index, au8Edid);   // the index is in range
        s32 s32Ret = AVSource_setEdid(hAVSource, au8Edid);
        if (s32Ret != 0)
            Debug_Log("[%s]: AVSource_setEdid failed with %#x!\n", log_Time(), s32Ret);
        return 0;
    }
    if (s32Index == EDID_INDEX_COPY)
        (void)getEdid(au8Edid);                 // copies cannot fail
    else if (s32Index == EDID_INDEX_USER1)
        (void)getUser1Edid(au8Edid);
    else if (s32Index == EDID_INDEX_USER2) {
        (void)getUser2Edid(au8Edid);
        Debug_Log("[%s]: %s: USER2 EDID %x %x %x %x\n", log_Time(), "MAIN_SetEDID_preset", au8Edid[0],
                  au8Edid[1], au8Edid[2], au8Edid[3]);
    } else {
        return 0;
    }
    if (!IsEdidRight(au8Edid)) {
        Debug_Log("[%s]: edid wrong,use default edid\n", log_Time());
        (void)AVSource_get_EDID_from_index(0, au8Edid);   // index 0 always exists
    }
    s32 s32Ret = AVSource_setEdid(hAVSource, au8Edid);
    if (s32Ret != 0) {
        Debug_Log("[%s]: AVSource_setEdid failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}
