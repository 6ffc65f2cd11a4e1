// Infoframe checksums, unpacking of received frames, checks and packing.
#include "media/HdmiInfoFrame.h"

#include <cstdio>
#include <cstring>

typedef s32 InfoFrameUnpack(HdmiInfoFrame_U *punFrame, const u8 *pu8Payload, u8 u8Length);
typedef void InfoFramePack(const HdmiInfoFrame_U *punFrame, u8 *pu8Payload);

struct InfoFrameKind_S {
    HdmiInfoFrameType_E enType;
    u8 u8Version;
    u8 u8Length;                        // 0: vendor, 4 to 6
    InfoFrameUnpack *pfnUnpack;
    InfoFramePack *pfnPack;
};

static u16 InfoFrame_Le16(const u8 *pu8)
{
    return (u16)(pu8[0] | pu8[1] << 8);
}

static void InfoFrame_PutLe16(u8 *pu8, u16 u16Val)
{
    pu8[0] = (u8)u16Val;
    pu8[1] = (u8)(u16Val >> 8);
}

u8 hdmi_infoframe_checksum(const u8 *pu8Buf, u32 u32Size)
{
    u8 u8Sum = 0;
    for (u32 i = 0; i < u32Size; i++)
        u8Sum = (u8)(u8Sum + pu8Buf[i]);
    return (u8)(0x100 - u8Sum);
}

void hdmi_infoframe_set_checksum(u8 *pu8Buf, u32 u32Size)
{
    pu8Buf[3] = 0;
    pu8Buf[3] = hdmi_infoframe_checksum(pu8Buf, u32Size);
}

static s32 InfoFrame_UnpackAvi(HdmiInfoFrame_U *punFrame, const u8 *pu8, u8)
{
    HdmiAviInfoFrame_S *pst = &punFrame->stAvi;
    pst->enColorspace = (HdmiColorspace_E)((pu8[0] >> 5) & 0x7);
    pst->enScanMode = (HdmiScanMode_E)(pu8[0] & 0x3);
    pst->enColorimetry = (HdmiColorimetry_E)((pu8[1] >> 6) & 0x3);
    pst->enPictureAspect = (HdmiPictureAspect_E)((pu8[1] >> 4) & 0x3);
    pst->enActiveAspect = (HdmiActiveAspect_E)(pu8[0] & 0x10 ? pu8[1] & 0xF : 0);
    pst->bItc = (pu8[2] & 0x80) != 0;
    pst->enExtendedColorimetry = (HdmiExtendedColorimetry_E)((pu8[2] >> 4) & 0x7);
    pst->enQuantizationRange = (HdmiQuantizationRange_E)((pu8[2] >> 2) & 0x3);
    pst->enNups = (HdmiNups_E)(pu8[2] & 0x3);
    pst->u8VideoCode = pu8[3] & 0x7F;
    pst->enYccQuantizationRange = (HdmiYccQuantizationRange_E)((pu8[4] >> 6) & 0x3);
    pst->enContentType = (HdmiContentType_E)((pu8[4] >> 4) & 0x3);
    pst->u8PixelRepeat = pu8[4] & 0xF;
    pst->u16TopBar = InfoFrame_Le16(pu8 + 5);
    pst->u16BottomBar = InfoFrame_Le16(pu8 + 7);
    pst->u16LeftBar = InfoFrame_Le16(pu8 + 9);
    pst->u16RightBar = InfoFrame_Le16(pu8 + 11);
    return 0;
}

static void InfoFrame_PackAvi(const HdmiInfoFrame_U *punFrame, u8 *pu8)
{
    const HdmiAviInfoFrame_S *pst = &punFrame->stAvi;
    bool bHBars = pst->u16TopBar || pst->u16BottomBar;
    bool bVBars = pst->u16LeftBar || pst->u16RightBar;
    pu8[0] = (u8)((pst->enColorspace & 0x7) << 5 | (pst->enActiveAspect & 0xF ? 0x10 : 0) |
                  (bHBars ? 0x08 : 0) | (bVBars ? 0x04 : 0) | (pst->enScanMode & 0x3));
    pu8[1] = (u8)((pst->enColorimetry & 0x3) << 6 | (pst->enPictureAspect & 0x3) << 4 | (pst->enActiveAspect & 0xF));
    pu8[2] = (u8)((pst->bItc ? 0x80 : 0) | (pst->enExtendedColorimetry & 0x7) << 4 |
                  (pst->enQuantizationRange & 0x3) << 2 | (pst->enNups & 0x3));
    pu8[3] = pst->u8VideoCode & 0x7F;
    pu8[4] = (u8)((pst->enYccQuantizationRange & 0x3) << 6 | (pst->enContentType & 0x3) << 4 |
                  (pst->u8PixelRepeat & 0xF));
    InfoFrame_PutLe16(pu8 + 5, pst->u16TopBar);
    InfoFrame_PutLe16(pu8 + 7, pst->u16BottomBar);
    InfoFrame_PutLe16(pu8 + 9, pst->u16LeftBar);
    InfoFrame_PutLe16(pu8 + 11, pst->u16RightBar);
}

static s32 InfoFrame_UnpackSpd(HdmiInfoFrame_U *punFrame, const u8 *pu8, u8)
{
    HdmiSpdInfoFrame_S *pst = &punFrame->stSpd;
    memset(pst->azVendor, 0, sizeof(pst->azVendor));
    memset(pst->azProduct, 0, sizeof(pst->azProduct));
    memcpy(pst->azVendor, pu8, 8);
    memcpy(pst->azProduct, pu8 + 8, 16);
    pst->enSdi = (HdmiSpdSdi_E)pu8[24];
    return 0;
}

static void InfoFrame_PackSpd(const HdmiInfoFrame_U *punFrame, u8 *pu8)
{
    const HdmiSpdInfoFrame_S *pst = &punFrame->stSpd;
    memcpy(pu8, pst->azVendor, strnlen(pst->azVendor, 8));
    memcpy(pu8 + 8, pst->azProduct, strnlen(pst->azProduct, 16));
    pu8[24] = pst->enSdi;
}

static s32 InfoFrame_UnpackAudio(HdmiInfoFrame_U *punFrame, const u8 *pu8, u8)
{
    HdmiAudioInfoFrame_S *pst = &punFrame->stAudio;
    pst->enCodingType = (HdmiAudioCodingType_E)((pu8[0] >> 4) & 0xF);
    pst->u8Channels = pu8[0] & 0x7 ? (u8)((pu8[0] & 0x7) + 1) : 0;
    pst->enSampleFrequency = (HdmiAudioSampleFrequency_E)((pu8[1] >> 2) & 0x7);
    pst->enSampleSize = (HdmiAudioSampleSize_E)(pu8[1] & 0x3);
    pst->enCodingTypeExt = (HdmiAudioCodingTypeExt_E)(pu8[2] & 0x1F);
    pst->u8ChannelAllocation = pu8[3];
    pst->u8LevelShiftValue = (pu8[4] >> 3) & 0xF;
    pst->bDownmixInhibit = (pu8[4] & 0x80) != 0;
    return 0;
}

static void InfoFrame_PackAudio(const HdmiInfoFrame_U *punFrame, u8 *pu8)
{
    const HdmiAudioInfoFrame_S *pst = &punFrame->stAudio;
    pu8[0] = (u8)((pst->enCodingType & 0xF) << 4 | (pst->u8Channels ? (pst->u8Channels - 1) & 0x7 : 0));
    pu8[1] = (u8)((pst->enSampleFrequency & 0x7) << 2 | (pst->enSampleSize & 0x3));
    pu8[2] = pst->enCodingTypeExt & 0x1F;
    pu8[3] = pst->u8ChannelAllocation;
    pu8[4] = (u8)((pst->bDownmixInhibit ? 0x80 : 0) | (pst->u8LevelShiftValue & 0xF) << 3);
}

// HDMI video format 0: nothing, 1: an HDMI VIC, not 0 (length 5), 2: 3D (length 5,
// or 6 for the structures from side-by-side (half) on, which carry
// extension data).
static s32 InfoFrame_UnpackVendor(HdmiInfoFrame_U *punFrame, const u8 *pu8, u8 u8Length)
{
    if (pu8[0] != 0x03 || pu8[1] != 0x0C || pu8[2] != 0x00)
        return HDMI_INFOFRAME_EINVAL;
    u8 u8Format = pu8[3] >> 5;
    HdmiVendorInfoFrame_S stNew = {};
    stNew.en3dStructure = HDMI_3D_STRUCTURE_NONE;
    if (u8Format > 2 || (u8Format == 0 && u8Length != 4) || (u8Format == 1 && u8Length != 5) ||
        (u8Format == 2 && u8Length != 5 && u8Length != 6))
        return HDMI_INFOFRAME_EINVAL;
    if (u8Format == 1) {
        stNew.u8Vic = pu8[4];
        if (stNew.u8Vic == 0)
            return HDMI_INFOFRAME_EINVAL;       // an extended resolution names its VIC
    }
    if (u8Format == 2) {
        stNew.en3dStructure = (Hdmi3dStructure_E)(pu8[4] >> 4);
        if (stNew.en3dStructure >= HDMI_3D_STRUCTURE_SIDE_BY_SIDE_HALF) {
            if (u8Length != 6)
                return HDMI_INFOFRAME_EINVAL;
            stNew.u8S3dExtData = pu8[5] >> 4;
        }
    }
    HdmiVendorInfoFrame_S *pst = &punFrame->stVendor;
    pst->u32Oui = HDMI_IEEE_OUI;
    pst->u8Vic = stNew.u8Vic;
    pst->en3dStructure = stNew.en3dStructure;
    pst->u8S3dExtData = stNew.u8S3dExtData;
    return 0;
}

static u8 InfoFrame_VendorLength(const HdmiVendorInfoFrame_S *pst)
{
    if (pst->u8Vic)
        return 5;
    if (pst->en3dStructure == HDMI_3D_STRUCTURE_NONE)
        return 4;
    return pst->en3dStructure >= HDMI_3D_STRUCTURE_SIDE_BY_SIDE_HALF ? 6 : 5;
}

// A 3D frame may carry a sixth byte it does not need.
static bool InfoFrame_VendorFits(const HdmiVendorInfoFrame_S *pst)
{
    u8 u8Need = InfoFrame_VendorLength(pst);
    return pst->u32Oui == HDMI_IEEE_OUI &&
           (pst->u8Length == u8Need || (u8Need == 5 && pst->u8Vic == 0 && pst->u8Length == 6));
}

static void InfoFrame_PackVendor(const HdmiInfoFrame_U *punFrame, u8 *pu8)
{
    const HdmiVendorInfoFrame_S *pst = &punFrame->stVendor;
    pu8[0] = (u8)pst->u32Oui;
    pu8[1] = (u8)(pst->u32Oui >> 8);
    pu8[2] = (u8)(pst->u32Oui >> 16);
    if (pst->u8Vic) {
        pu8[3] = 1 << 5;
        pu8[4] = pst->u8Vic;
    } else if (pst->en3dStructure != HDMI_3D_STRUCTURE_NONE) {
        pu8[3] = 2 << 5;
        pu8[4] = (u8)((pst->en3dStructure & 0xF) << 4);
        if (pst->en3dStructure >= HDMI_3D_STRUCTURE_SIDE_BY_SIDE_HALF)
            pu8[5] = (u8)((pst->u8S3dExtData & 0xF) << 4);
    }
}

static s32 InfoFrame_UnpackDrm(HdmiInfoFrame_U *punFrame, const u8 *pu8, u8)
{
    HdmiDrmInfoFrame_S *pst = &punFrame->stDrm;
    pst->u8Eotf = pu8[0] & 0x7;
    pst->u8MetadataType = pu8[1] & 0x7;
    for (u32 i = 0; i < 3; i++) {
        pst->astDisplayPrimaries[i].u16X = InfoFrame_Le16(pu8 + 2 + 4 * i);
        pst->astDisplayPrimaries[i].u16Y = InfoFrame_Le16(pu8 + 4 + 4 * i);
    }
    pst->stWhitePoint.u16X = InfoFrame_Le16(pu8 + 14);
    pst->stWhitePoint.u16Y = InfoFrame_Le16(pu8 + 16);
    pst->u16MaxDisplayMasteringLuminance = InfoFrame_Le16(pu8 + 18);
    pst->u16MinDisplayMasteringLuminance = InfoFrame_Le16(pu8 + 20);
    pst->u16MaxCll = InfoFrame_Le16(pu8 + 22);
    pst->u16MaxFall = InfoFrame_Le16(pu8 + 24);
    return 0;
}

static void InfoFrame_PackDrm(const HdmiInfoFrame_U *punFrame, u8 *pu8)
{
    const HdmiDrmInfoFrame_S *pst = &punFrame->stDrm;
    pu8[0] = pst->u8Eotf & 0x7;
    pu8[1] = pst->u8MetadataType & 0x7;
    for (u32 i = 0; i < 3; i++) {
        InfoFrame_PutLe16(pu8 + 2 + 4 * i, pst->astDisplayPrimaries[i].u16X);
        InfoFrame_PutLe16(pu8 + 4 + 4 * i, pst->astDisplayPrimaries[i].u16Y);
    }
    InfoFrame_PutLe16(pu8 + 14, pst->stWhitePoint.u16X);
    InfoFrame_PutLe16(pu8 + 16, pst->stWhitePoint.u16Y);
    InfoFrame_PutLe16(pu8 + 18, pst->u16MaxDisplayMasteringLuminance);
    InfoFrame_PutLe16(pu8 + 20, pst->u16MinDisplayMasteringLuminance);
    InfoFrame_PutLe16(pu8 + 22, pst->u16MaxCll);
    InfoFrame_PutLe16(pu8 + 24, pst->u16MaxFall);
}

static const InfoFrameKind_S s_astKinds[] = {
    {HDMI_INFOFRAME_TYPE_VENDOR, 1, 0, InfoFrame_UnpackVendor, InfoFrame_PackVendor},
    {HDMI_INFOFRAME_TYPE_AVI, 2, HDMI_AVI_INFOFRAME_SIZE, InfoFrame_UnpackAvi, InfoFrame_PackAvi},
    {HDMI_INFOFRAME_TYPE_SPD, 1, HDMI_SPD_INFOFRAME_SIZE, InfoFrame_UnpackSpd, InfoFrame_PackSpd},
    {HDMI_INFOFRAME_TYPE_AUDIO, 1, HDMI_AUDIO_INFOFRAME_SIZE, InfoFrame_UnpackAudio, InfoFrame_PackAudio},
    {HDMI_INFOFRAME_TYPE_DRM, 1, HDMI_DRM_INFOFRAME_SIZE, InfoFrame_UnpackDrm, InfoFrame_PackDrm},
};

static const InfoFrameKind_S *InfoFrame_Kind(u8 u8Type)
{
    for (const InfoFrameKind_S &st : s_astKinds)
        if (st.enType == u8Type)
            return &st;
    return nullptr;
}

static bool InfoFrame_LengthFits(const InfoFrameKind_S *pstKind, u8 u8Length)
{
    return pstKind->u8Length ? u8Length == pstKind->u8Length : u8Length >= 4 && u8Length <= 6;
}

s32 hdmi_infoframe_unpack(HdmiInfoFrame_U *punFrame, const u8 *pu8Buf, u32 u32Size)
{
    if (u32Size < HDMI_INFOFRAME_HEADER_SIZE)
        return HDMI_INFOFRAME_EINVAL;
    const InfoFrameKind_S *pstKind = InfoFrame_Kind(pu8Buf[0]);
    u8 u8Length = pu8Buf[2];
    if (pstKind == nullptr || pu8Buf[1] != pstKind->u8Version || !InfoFrame_LengthFits(pstKind, u8Length) ||
        u32Size < (u32)u8Length + HDMI_INFOFRAME_HEADER_SIZE ||
        hdmi_infoframe_checksum(pu8Buf, u8Length + HDMI_INFOFRAME_HEADER_SIZE) != 0)
        return HDMI_INFOFRAME_EINVAL;
    HdmiInfoFrame_U unNew = {};
    unNew.stAny.enType = pstKind->enType;
    unNew.stAny.u8Version = pstKind->u8Version;
    unNew.stAny.u8Length = u8Length;
    if (pstKind->pfnUnpack(&unNew, pu8Buf + HDMI_INFOFRAME_HEADER_SIZE, u8Length) < 0)
        return HDMI_INFOFRAME_EINVAL;
    *punFrame = unNew;
    return 0;
}

void hdmi_avi_infoframe_init(HdmiAviInfoFrame_S *pstFrame)
{
    memset(pstFrame, 0, sizeof(*pstFrame));
    pstFrame->enType = HDMI_INFOFRAME_TYPE_AVI;
    pstFrame->u8Version = 2;
    pstFrame->u8Length = HDMI_AVI_INFOFRAME_SIZE;
}

void hdmi_spd_infoframe_init(HdmiSpdInfoFrame_S *pstFrame, const char *pszVendor, const char *pszProduct)
{
    memset(pstFrame, 0, sizeof(*pstFrame));
    pstFrame->enType = HDMI_INFOFRAME_TYPE_SPD;
    pstFrame->u8Version = 1;
    pstFrame->u8Length = HDMI_SPD_INFOFRAME_SIZE;
    snprintf(pstFrame->azVendor, sizeof(pstFrame->azVendor), "%s", pszVendor);
    snprintf(pstFrame->azProduct, sizeof(pstFrame->azProduct), "%s", pszProduct);
}

void hdmi_audio_infoframe_init(HdmiAudioInfoFrame_S *pstFrame)
{
    memset(pstFrame, 0, sizeof(*pstFrame));
    pstFrame->enType = HDMI_INFOFRAME_TYPE_AUDIO;
    pstFrame->u8Version = 1;
    pstFrame->u8Length = HDMI_AUDIO_INFOFRAME_SIZE;
}

void hdmi_vendor_infoframe_init(HdmiVendorInfoFrame_S *pstFrame)
{
    memset(pstFrame, 0, sizeof(*pstFrame));
    pstFrame->enType = HDMI_INFOFRAME_TYPE_VENDOR;
    pstFrame->u8Version = 1;
    pstFrame->u32Oui = HDMI_IEEE_OUI;
    pstFrame->en3dStructure = HDMI_3D_STRUCTURE_NONE;
    pstFrame->u8Length = InfoFrame_VendorLength(pstFrame);
}

void hdmi_drm_infoframe_init(HdmiDrmInfoFrame_S *pstFrame)
{
    memset(pstFrame, 0, sizeof(*pstFrame));
    pstFrame->enType = HDMI_INFOFRAME_TYPE_DRM;
    pstFrame->u8Version = 1;
    pstFrame->u8Length = HDMI_DRM_INFOFRAME_SIZE;
}

s32 hdmi_infoframe_check(HdmiInfoFrame_U *punFrame)
{
    const InfoFrameKind_S *pstKind = InfoFrame_Kind(punFrame->stAny.enType);
    if (pstKind == nullptr || punFrame->stAny.u8Version != pstKind->u8Version)
        return HDMI_INFOFRAME_EINVAL;
    if (pstKind->enType == HDMI_INFOFRAME_TYPE_VENDOR)
        return InfoFrame_VendorFits(&punFrame->stVendor) ? 0 : HDMI_INFOFRAME_EINVAL;
    return punFrame->stAny.u8Length == pstKind->u8Length ? 0 : HDMI_INFOFRAME_EINVAL;
}

s32 hdmi_infoframe_pack_only(const HdmiInfoFrame_U *punFrame, u8 *pu8Buf, u32 u32Size)
{
    const InfoFrameKind_S *pstKind = InfoFrame_Kind(punFrame->stAny.enType);
    if (pstKind == nullptr) {
        printf("[WARNING] Bad infoframe type %d\n", punFrame->stAny.enType);
        return HDMI_INFOFRAME_EINVAL;
    }
    u32 u32Len = punFrame->stAny.u8Length + HDMI_INFOFRAME_HEADER_SIZE;
    if (u32Size < u32Len)
        return HDMI_INFOFRAME_ENOSPC;
    u8 au8Frame[HDMI_INFOFRAME_MAX_SIZE] = {};
    au8Frame[0] = pstKind->enType;
    au8Frame[1] = punFrame->stAny.u8Version;
    au8Frame[2] = punFrame->stAny.u8Length;
    pstKind->pfnPack(punFrame, au8Frame + HDMI_INFOFRAME_HEADER_SIZE);
    hdmi_infoframe_set_checksum(au8Frame, u32Len);
    memcpy(pu8Buf, au8Frame, u32Len);
    return (s32)u32Len;
}

s32 hdmi_infoframe_pack(HdmiInfoFrame_U *punFrame, u8 *pu8Buf, u32 u32Size)
{
    if (InfoFrame_Kind(punFrame->stAny.enType) == nullptr)
        return hdmi_infoframe_pack_only(punFrame, pu8Buf, u32Size);   // logs the bad type
    s32 s32Ret = hdmi_infoframe_check(punFrame);
    return s32Ret < 0 ? s32Ret : hdmi_infoframe_pack_only(punFrame, pu8Buf, u32Size);
}

// Packs a record of one type through the union.
static s32 InfoFrame_PackRecord(const void *pvFrame, size_t size, u8 *pu8Buf, u32 u32Size)
{
    HdmiInfoFrame_U unFrame = {};
    memcpy(&unFrame, pvFrame, size);
    return hdmi_infoframe_pack(&unFrame, pu8Buf, u32Size);
}

s32 hdmi_avi_infoframe_pack(HdmiAviInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size)
{
    return InfoFrame_PackRecord(pstFrame, sizeof(*pstFrame), pu8Buf, u32Size);
}

s32 hdmi_spd_infoframe_pack(HdmiSpdInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size)
{
    return InfoFrame_PackRecord(pstFrame, sizeof(*pstFrame), pu8Buf, u32Size);
}

s32 hdmi_audio_infoframe_pack(HdmiAudioInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size)
{
    return InfoFrame_PackRecord(pstFrame, sizeof(*pstFrame), pu8Buf, u32Size);
}

s32 hdmi_vendor_infoframe_pack(HdmiVendorInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size)
{
    return InfoFrame_PackRecord(pstFrame, sizeof(*pstFrame), pu8Buf, u32Size);
}

s32 hdmi_drm_infoframe_pack(HdmiDrmInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size)
{
    return InfoFrame_PackRecord(pstFrame, sizeof(*pstFrame), pu8Buf, u32Size);
}
