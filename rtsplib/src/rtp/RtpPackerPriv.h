// Shared by the codec files of the packers: the generic operations and
// the helpers their cutting uses.
#ifndef RTSPLIB_RTP_RTPPACKERPRIV_H
#define RTSPLIB_RTP_RTPPACKERPRIV_H

#include "rtsplib/src/rtp/RtpPacker.h"

// Sets data, chunk and count: -1 for an empty unit or one of more than
// RTP_PIECES_MAX pieces.
s32 RtpUnit_Split(RtpUnit_S *pstUnit, const u8 *pu8Data, u32 u32Len, u32 u32Chunk);
void RtpUnit_Prefix(RtpUnit_S *pstUnit, u8 u8Len, const u8 *pu8Single, const u8 *pu8First, const u8 *pu8Middle,
                    const u8 *pu8Last);

RtpPacker_S *RtpPacker_Create(const RtpPackerFunc_S *pstFunc, u32 u32Ssrc, u16 u16Seq, u8 u8PayloadType,
                              u32 u32Clock, const RtpPackerCallback_S *pstCallback, void *pvParam);
void RtpPacker_Destroy(RtpPacker_S *pstPacker);
void RtpPacker_GetInfo(const RtpPacker_S *pstPacker, u16 *pu16Seq, u32 *pu32Time);
s32 RtpPacker_SetSize(RtpPacker_S *pstPacker, u32 u32Bytes);
s32 RtpPacker_Input(RtpPacker_S *pstPacker, const void *pvData, u32 u32Len, u64 u64TimeUs);

// Defines the table of a codec and the function that returns it: the
// codecs differ only in their cutting.
#define RTP_PACKER_DEFINE(name, pfnCutProc)                                                                  \
    static RtpPacker_S *name##_create(u32 u32Ssrc, u16 u16Seq, u8 u8PayloadType, u32 u32Clock,             \
                                      const RtpPackerCallback_S *pstCallback, void *pvParam);              \
    static const RtpPackerFunc_S s_st_##name = {name##_create,      RtpPacker_Destroy, RtpPacker_GetInfo,   \
                                                RtpPacker_SetSize,  RtpPacker_Input,   pfnCutProc};         \
    static RtpPacker_S *name##_create(u32 u32Ssrc, u16 u16Seq, u8 u8PayloadType, u32 u32Clock,             \
                                      const RtpPackerCallback_S *pstCallback, void *pvParam)               \
    {                                                                                                       \
        return RtpPacker_Create(&s_st_##name, u32Ssrc, u16Seq, u8PayloadType, u32Clock, pstCallback, pvParam); \
    }                                                                                                       \
    const RtpPackerFunc_S *name(void)                                                                       \
    {                                                                                                       \
        return &s_st_##name;                                                                                \
    }

#endif
