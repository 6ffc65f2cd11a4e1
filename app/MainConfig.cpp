// The configuration's load at start-up (from the file, the old parameter
// block or the defaults, keyed by the box's MAC) and its factory reset.
#include "app/MainConfig.h"

#include <cstring>
#include <unistd.h>

#include "app/Main.h"
#include "config/ConfigOld.h"
#include "core/Debug.h"

// Takes the settings of an older firmware over from flash. The old block is
// cleared only once the file holds them, so a failed write loses nothing.
static void MAIN_CONFIG_Migrate(void)
{
    Debug_Log("[%s]: %s: no app.ini, try to find old params\n", log_Time(), "MAIN_CONFIG_Init");
    ConfigAttr_S stAttr;
    ConfigEdidText_S stEdid;
    memset(&stAttr, 0, sizeof(stAttr));
    memset(&stEdid, 0, sizeof(stEdid));
    s32 s32Ret = Config_get_old(&stAttr, &stEdid);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_get_old failed with %#x!\n", log_Time(), s32Ret);
        // The two texts above are expected on a box's first start: say so.
        Debug_Log("[%s]: first start: no usable settings of an older firmware, %s\n", log_Time(),
                  Config_IsInMemory() ? "the defaults run from memory" : CONFIG_FILE " holds the defaults");
        return;
    }
    s32Ret = Config_set(&stAttr, &stEdid);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_set failed with %#x!\n", log_Time(), s32Ret);
        return;
    }
    s32Ret = Config_clear_old();
    if (s32Ret != 0)
        Debug_Log("[%s]: Config_clear_old failed with %#x!\n", log_Time(), s32Ret);
}

s32 MAIN_CONFIG_Init(void)
{
    bool bExists = access(CONFIG_FILE, F_OK) == 0;
    // A failure leaves nothing loaded; MAIN_CONFIG_Recv reports it.
    (void)Config_init(CONFIG_FILE, g_stMainServerAttr.stDevInfo.azMac);
    if (!bExists)
        MAIN_CONFIG_Migrate();
    return MAIN_CONFIG_TimerInit();
}

s32 MAIN_CONFIG_Recv(ConfigAttr_S *pstAttr, ConfigEdidText_S *pstEdid)
{
    s32 s32Ret = Config_get(pstAttr, pstEdid, g_stMainServerAttr.stDevInfo.azMac);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_get failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    const struct { const char *pszText; u8 *pu8Edid; } astEdid[] = {
        { pstEdid->azRxEdid, g_stMainServerAttr.au8CopyEdid },
        { pstEdid->azUser1Edid, g_stMainServerAttr.au8User1Edid },
        { pstEdid->azUser2Edid, g_stMainServerAttr.au8User2Edid },
    };
    for (const auto &st : astEdid) {
        size_t sizeLen = strnlen(st.pszText, CONFIG_EDID_TEXT_LEN);
        for (size_t i = 0; i < MAIN_EDID_LEN; i++)
            st.pu8Edid[i] = Config_HexByte(st.pszText, sizeLen, 2 * i);
    }
    return 0;
}

s32 MAIN_CONFIG_Reset(void)
{
    s32 s32Ret = Config_reset(g_stMainServerAttr.stDevInfo.azMac);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Config_reset failed with %#x!\n", log_Time(), s32Ret);
        return -1;
    }
    return 0;
}
