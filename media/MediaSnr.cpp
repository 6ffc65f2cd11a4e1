#include "media/MediaSnr.h"

#include <cstring>

#include "core/Debug.h"
#include "media/Edid.h"
#include "platform/MiSnr.h"

#define SNR_PAD     0
#define SNR_DIR_GET 1
#define SNR_DIR_SET 0

struct SnrEdidInfo_S {               // custom commands 3 and 6
    u8  bEdid;                       // 1: an EDID is sent
    u8  au8Pad[3];
    u32 u32Len;
    u8  au8Edid[MI_SNR_EDID_MAX_LEN];
};
static_assert(sizeof(SnrEdidInfo_S) == MI_SNR_EDID_RECORD_LEN, "capture driver record");

u32 Media_SNR_GetState(void)
{
    u32 u32State = 0;
    s32 s32Ret = MI_SNR_CustFunction(SNR_PAD, MI_SNR_CMD_GET_STATE, MI_SNR_STATE_LEN, &u32State, SNR_DIR_GET);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Media_SNR_GetState: %#x\n", log_Time(), s32Ret);
        return 0;
    }
    return u32State;
}

s32 Media_SNR_GetVideoInfo(SnrVideoInfo_S *pstOut)
{
    return MI_SNR_CustFunction(SNR_PAD, MI_SNR_CMD_GET_VIDEO_INFO, MI_SNR_VIDEO_INFO_LEN, pstOut, SNR_DIR_GET);
}

s32 Media_SNR_GetAudioInfo(void *pvOut)
{
    return MI_SNR_CustFunction(SNR_PAD, MI_SNR_CMD_GET_AUDIO_INFO, MI_SNR_AUDIO_INFO_LEN, pvOut, SNR_DIR_GET);
}

s32 Media_SNR_GetEdidInfo(u8 *pu8Out)
{
    SnrEdidInfo_S stRec;
    memset(&stRec, 0, sizeof(stRec));
    s32 s32Ret = MI_SNR_CustFunction(SNR_PAD, MI_SNR_CMD_GET_EDID, sizeof(stRec), &stRec, SNR_DIR_GET);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Media_SNR_GetEdidInfo: %#x\n", log_Time(), s32Ret);
        return s32Ret;
    }
    memcpy(pu8Out, stRec.au8Edid, EDID_LEN);
    return 0;
}

s32 Media_SNR_SetEdidInfo(const u8 *pu8Edid, u32 u32Len)
{
    s32 s32Ret = Media_Edid_Check(pu8Edid, u32Len);
    if (s32Ret != 0) {
        Debug_Log("[%s]: Media_Edid_Check: %#x\n", log_Time(), s32Ret);
        return s32Ret;
    }
    SnrEdidInfo_S stRec;
    memset(&stRec, 0, sizeof(stRec));
    stRec.bEdid = 1;
    stRec.u32Len = u32Len;
    memcpy(stRec.au8Edid, pu8Edid, u32Len);
    s32Ret = MI_SNR_CustFunction(SNR_PAD, MI_SNR_CMD_SET_EDID, sizeof(stRec), &stRec, SNR_DIR_SET);
    if (s32Ret != 0)
        Debug_Log("[%s]: Media_SNR_SetEdidInfo: %#x\n", log_Time(), s32Ret);
    return s32Ret;
}

s32 Media_SNR_SendVideoInfo(const SnrVideoInfo_S *pstInfo)
{
    SnrVideoInfo_S stInfo = *pstInfo;   // the driver's buffer is not const
    return MI_SNR_CustFunction(SNR_PAD, MI_SNR_CMD_SET_VIDEO_INFO, sizeof(stInfo), &stInfo, SNR_DIR_GET);
}

s32 Media_Edid_Check(const u8 *pu8Edid, u32 u32Len)
{
    if (pu8Edid == nullptr || u32Len != EDID_LEN || !CheckEdidHead(pu8Edid))
        return -1;
    if (Edid_Sum(pu8Edid, EDID_BLOCK_LEN) != 0) {
        Debug_Log("[%s]: check EDID Block 0 fail", log_Time());
        return -1;
    }
    if (Edid_Sum(pu8Edid + EDID_BLOCK_LEN, EDID_BLOCK_LEN) != 0) {
        Debug_Log("[%s]: check EDID Block 1 fail", log_Time());
        return -1;
    }
    return 0;
}
