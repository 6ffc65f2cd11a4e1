#include "app/MainEncRange.h"

#include <cstring>

#include "core/Debug.h"

// Video rows first (MAIN_ENC_RANGE_VIDEO), then the audio rows.
static const MainEncRange_S s_astEncRanges[MAIN_ENC_RANGE_ALL] = {
    {"fps", offsetof(ConfigStreamAttr_S, u32Fps), MAIN_ENC_MIN_FPS, MAIN_ENC_MAX_FPS},
    {"videobitrate", offsetof(ConfigStreamAttr_S, u32Videobitrate), MAIN_ENC_MIN_BITRATE, MAIN_ENC_MAX_BITRATE},
    {"audioinput", offsetof(ConfigStreamAttr_S, u32Audioinput), 0, MAIN_AUDIO_MAX_INPUT},
    {"audiofreq", offsetof(ConfigStreamAttr_S, u32Audiofreq), MAIN_AUDIO_MIN_FREQ, MAIN_AUDIO_MAX_FREQ},
    {"audiobitrate", offsetof(ConfigStreamAttr_S, u32Audiobitrate), MAIN_AUDIO_MIN_BITRATE, MAIN_AUDIO_MAX_BITRATE},
};

u32 MAIN_EncRange_Value(const MainEncRange_S *pstRange, const ConfigStreamAttr_S *pstAttr)
{
    u32 u32Value;
    memcpy(&u32Value, (const u8 *)pstAttr + pstRange->u32Offset, sizeof(u32Value));
    return u32Value;
}

static bool MAIN_EncRange_In(const MainEncRange_S *pstRange, const ConfigStreamAttr_S *pstAttr)
{
    u32 u32Value = MAIN_EncRange_Value(pstRange, pstAttr);
    return u32Value >= pstRange->u32Min && u32Value <= pstRange->u32Max;
}

const MainEncRange_S *MAIN_EncRange_Find(const ConfigStreamAttr_S *pstAttr, u32 u32Rows)
{
    for (u32 i = 0; i < u32Rows && i < MAIN_ENC_RANGE_ALL; i++)
        if (!MAIN_EncRange_In(&s_astEncRanges[i], pstAttr))
            return &s_astEncRanges[i];
    return nullptr;
}

u32 MAIN_EncRange_Fallback(ConfigStreamAttr_S *pstAttr, const ConfigStreamAttr_S *pstDefault, u32 u32Rows,
                           const char *pszSection)
{
    u32 u32Taken = 0;
    for (u32 i = 0; i < u32Rows && i < MAIN_ENC_RANGE_ALL; i++) {
        const MainEncRange_S *pstRange = &s_astEncRanges[i];
        if (MAIN_EncRange_In(pstRange, pstAttr))
            continue;
        u32 u32Default = MAIN_EncRange_Value(pstRange, pstDefault);
        Debug_Log("[%s]: %s:%s %u out of %u..%u, default %u taken\n", log_Time(), pszSection, pstRange->pszKey,
                  MAIN_EncRange_Value(pstRange, pstAttr), pstRange->u32Min, pstRange->u32Max, u32Default);
        memcpy((u8 *)pstAttr + pstRange->u32Offset, &u32Default, sizeof(u32Default));
        u32Taken++;
    }
    return u32Taken;
}
