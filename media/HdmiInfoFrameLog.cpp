// Logging of unpacked infoframes with the CEA-861 names of their fields.
#include "media/HdmiInfoFrame.h"

#include <cstdarg>
#include <cstdio>

struct InfoFrameLog_S {
    const char *pszLevel;
    const char *pszDevice;
};

static const char *const s_apszColorspace[] = {"RGB", "YCbCr 4:2:2", "YCbCr 4:4:4", "YCbCr 4:2:0",
                                               "Reserved", "Reserved", "Reserved", "IDO Defined"};
static const char *const s_apszScanMode[] = {"No Data", "Overscan", "Underscan", "Reserved"};
static const char *const s_apszColorimetry[] = {"No Data", "ITU601", "ITU709", "Extended"};
static const char *const s_apszPictureAspect[] = {"No Data", "4:3", "16:9", "Reserved"};
static const char *const s_apszActiveAspect[] = {
    "Reserved", "Reserved", "16:9 Top", "14:9 Top", "16:9 Center", "Reserved", "Reserved", "Reserved",
    "Same as Picture", "4:3", "16:9", "14:9", "Reserved", "4:3 SP 14:9", "16:9 SP 14:9", "16:9 SP 4:3"};
static const char *const s_apszExtColorimetry[] = {"xvYCC 601", "xvYCC 709", "sYCC 601", "opYCC 601",
                                                   "opRGB", "BT.2020 Constant Luminance", "BT.2020", "Reserved"};
static const char *const s_apszQuantization[] = {"Default", "Limited", "Full", "Reserved"};
static const char *const s_apszNups[] = {"Unknown Non-uniform Scaling", "Horizontally Scaled",
                                         "Vertically Scaled", "Horizontally and Vertically Scaled"};
static const char *const s_apszYccQuantization[] = {"Limited", "Full", "Reserved", "Reserved"};
static const char *const s_apszContentType[] = {"Graphics", "Photo", "Cinema", "Game"};
static const char *const s_apszSdi[] = {"Unknown", "Digital STB", "DVD Player", "D-VHS", "HDD Videorecorder",
                                        "DVC", "DSC", "Video CD", "Game", "PC General", "Blu-Ray Disc",
                                        "Super Audio CD", "HD DVD", "PMP"};
static const char *const s_apszCodingType[] = {
    "Refer to Stream Header", "PCM", "AC-3", "MPEG1", "MP3", "MPEG2", "AAC", "DTS", "ATRAC", "One Bit Audio",
    "Dolby Digital +", "DTS-HD", "Dolby MLP", "DST", "WMA PRO", "Refer to CXT"};
static const char *const s_apszSampleSize[] = {"Refer to Stream Header", "16 bit", "20 bit", "24 bit"};
static const char *const s_apszSampleFrequency[] = {"Refer to Stream Header", "32 kHz", "44.1 kHz (CD)",
                                                    "48 kHz", "88.2 kHz", "96 kHz", "176.4 kHz", "192 kHz"};
static const char *const s_apszCodingTypeExt[] = {"Refer to CT", "Reserved", "Reserved", "Reserved",
                                                  "HE AAC", "HE AAC v2", "MPEG SURROUND"};
static const char *const s_apsz3dStructure[] = {
    "Frame Packing", "Field Alternative", "Line Alternative", "Side-by-side (Full)", "L + Depth",
    "L + Depth + Graphics + Graphics-depth", "Top-and-Bottom", "Reserved", "Side-by-side (Half)"};

#define INFOFRAME_NAME(table, value) InfoFrame_Name(table, ARRAY_SIZE(table), value, ARRAY_SIZE(table))
#define INFOFRAME_NAME_IN(table, value, limit) InfoFrame_Name(table, ARRAY_SIZE(table), value, limit)

// The name of a field's value: past the names "Reserved", past the
// field's u32Limit values "Invalid".
static const char *InfoFrame_Name(const char *const *ppszNames, u32 u32Count, u32 u32Value, u32 u32Limit)
{
    if (u32Value >= u32Limit)
        return "Invalid";
    return u32Value < u32Count ? ppszNames[u32Value] : "Reserved";
}

static void InfoFrame_Print(const InfoFrameLog_S *pstLog, const char *pszFmt, ...)
    __attribute__((format(printf, 2, 3)));
static void InfoFrame_Print(const InfoFrameLog_S *pstLog, const char *pszFmt, ...)
{
    char az[160];
    va_list ap;
    va_start(ap, pszFmt);
    vsnprintf(az, sizeof(az), pszFmt, ap);
    va_end(ap);
    if (pstLog->pszDevice)
        printf("%s %s: %s", pstLog->pszLevel, pstLog->pszDevice, az);
    else
        printf("%s %s", pstLog->pszLevel, az);
}

static const char *InfoFrame_TypeName(u8 u8Type)
{
    switch (u8Type) {
    case HDMI_INFOFRAME_TYPE_VENDOR: return "Vendor";
    case HDMI_INFOFRAME_TYPE_AVI: return "Auxiliary Video Information (AVI)";
    case HDMI_INFOFRAME_TYPE_SPD: return "Source Product Description (SPD)";
    case HDMI_INFOFRAME_TYPE_AUDIO: return "Audio";
    case HDMI_INFOFRAME_TYPE_DRM: return "Dynamic Range and Mastering";
    default: return "Invalid";
    }
}

static void InfoFrame_LogAvi(const InfoFrameLog_S *pstLog, const HdmiAviInfoFrame_S *pst)
{
    InfoFrame_Print(pstLog, "    colorspace: %s\n", INFOFRAME_NAME(s_apszColorspace, pst->enColorspace));
    InfoFrame_Print(pstLog, "    scan mode: %s\n", INFOFRAME_NAME(s_apszScanMode, pst->enScanMode));
    InfoFrame_Print(pstLog, "    colorimetry: %s\n", INFOFRAME_NAME(s_apszColorimetry, pst->enColorimetry));
    InfoFrame_Print(pstLog, "    picture aspect: %s\n", INFOFRAME_NAME(s_apszPictureAspect, pst->enPictureAspect));
    InfoFrame_Print(pstLog, "    active aspect: %s\n", INFOFRAME_NAME(s_apszActiveAspect, pst->enActiveAspect));
    InfoFrame_Print(pstLog, "    itc: %s\n", pst->bItc ? "IT Content" : "No Data");
    InfoFrame_Print(pstLog, "    extended colorimetry: %s\n",
                    INFOFRAME_NAME(s_apszExtColorimetry, pst->enExtendedColorimetry));
    InfoFrame_Print(pstLog, "    quantization range: %s\n",
                    INFOFRAME_NAME(s_apszQuantization, pst->enQuantizationRange));
    InfoFrame_Print(pstLog, "    nups: %s\n", INFOFRAME_NAME(s_apszNups, pst->enNups));
    InfoFrame_Print(pstLog, "    video code: %u\n", pst->u8VideoCode);
    InfoFrame_Print(pstLog, "    ycc quantization range: %s\n",
                    INFOFRAME_NAME(s_apszYccQuantization, pst->enYccQuantizationRange));
    InfoFrame_Print(pstLog, "    hdmi content type: %s\n", INFOFRAME_NAME(s_apszContentType, pst->enContentType));
    InfoFrame_Print(pstLog, "    pixel repeat: %u\n", pst->u8PixelRepeat);
    InfoFrame_Print(pstLog, "    bar top %u, bottom %u, left %u, right %u\n", pst->u16TopBar, pst->u16BottomBar,
                    pst->u16LeftBar, pst->u16RightBar);
}

static void InfoFrame_LogSpd(const InfoFrameLog_S *pstLog, const HdmiSpdInfoFrame_S *pst)
{
    InfoFrame_Print(pstLog, "    vendor: %.8s\n", pst->azVendor);
    InfoFrame_Print(pstLog, "    product: %.16s\n", pst->azProduct);
    InfoFrame_Print(pstLog, "    source device information: %s (0x%x)\n",
                    INFOFRAME_NAME_IN(s_apszSdi, pst->enSdi, 256), pst->enSdi);
}

static void InfoFrame_LogAudio(const InfoFrameLog_S *pstLog, const HdmiAudioInfoFrame_S *pst)
{
    if (pst->u8Channels)
        InfoFrame_Print(pstLog, "    channels: %u\n", pst->u8Channels);
    else
        InfoFrame_Print(pstLog, "    channels: Refer to stream header\n");
    InfoFrame_Print(pstLog, "    coding type: %s\n", INFOFRAME_NAME(s_apszCodingType, pst->enCodingType));
    InfoFrame_Print(pstLog, "    sample size: %s\n", INFOFRAME_NAME(s_apszSampleSize, pst->enSampleSize));
    InfoFrame_Print(pstLog, "    sample frequency: %s\n",
                    INFOFRAME_NAME(s_apszSampleFrequency, pst->enSampleFrequency));
    InfoFrame_Print(pstLog, "    coding type ext: %s\n", INFOFRAME_NAME_IN(s_apszCodingTypeExt, pst->enCodingTypeExt, 32));
    InfoFrame_Print(pstLog, "    channel allocation: 0x%x\n", pst->u8ChannelAllocation);
    InfoFrame_Print(pstLog, "    level shift value: %u dB\n", pst->u8LevelShiftValue);
    InfoFrame_Print(pstLog, "    downmix inhibit: %s\n", pst->bDownmixInhibit ? "Yes" : "No");
}

static void InfoFrame_LogVendor(const InfoFrameLog_S *pstLog, const HdmiVendorInfoFrame_S *pst)
{
    if (pst->u32Oui != HDMI_IEEE_OUI) {
        InfoFrame_Print(pstLog, "    not a HDMI vendor infoframe\n");
        return;
    }
    if (pst->u8Vic == 0 && pst->en3dStructure == HDMI_3D_STRUCTURE_NONE) {
        InfoFrame_Print(pstLog, "    empty frame\n");
        return;
    }
    if (pst->u8Vic)
        InfoFrame_Print(pstLog, "    HDMI VIC: %u\n", pst->u8Vic);
    if (pst->en3dStructure != HDMI_3D_STRUCTURE_NONE) {
        InfoFrame_Print(pstLog, "    3D structure: %s\n", INFOFRAME_NAME_IN(s_apsz3dStructure, pst->en3dStructure, 16));
        if (pst->en3dStructure >= HDMI_3D_STRUCTURE_SIDE_BY_SIDE_HALF)
            InfoFrame_Print(pstLog, "    3D extension data: %d\n", pst->u8S3dExtData);
    }
}

static void InfoFrame_LogDrm(const InfoFrameLog_S *pstLog, const HdmiDrmInfoFrame_S *pst)
{
    InfoFrame_Print(pstLog, "length: %d\n", pst->u8Length);
    InfoFrame_Print(pstLog, "metadata type: %d\n", pst->u8MetadataType);
    InfoFrame_Print(pstLog, "eotf: %d\n", pst->u8Eotf);
    for (s32 i = 0; i < 3; i++) {
        InfoFrame_Print(pstLog, "x[%d]: %d\n", i, pst->astDisplayPrimaries[i].u16X);
        InfoFrame_Print(pstLog, "y[%d]: %d\n", i, pst->astDisplayPrimaries[i].u16Y);
    }
    InfoFrame_Print(pstLog, "white point x: %d\n", pst->stWhitePoint.u16X);
    InfoFrame_Print(pstLog, "white point y: %d\n", pst->stWhitePoint.u16Y);
    InfoFrame_Print(pstLog, "max_display_mastering_luminance: %d\n", pst->u16MaxDisplayMasteringLuminance);
    InfoFrame_Print(pstLog, "min_display_mastering_luminance: %d\n", pst->u16MinDisplayMasteringLuminance);
    InfoFrame_Print(pstLog, "max_cll: %d\n", pst->u16MaxCll);
    InfoFrame_Print(pstLog, "max_fall: %d\n", pst->u16MaxFall);
}

void hdmi_infoframe_log(const char *pszLevel, const char *pszDevice, const HdmiInfoFrame_U *punFrame)
{
    const InfoFrameLog_S stLog = {pszLevel, pszDevice};
    InfoFrame_Print(&stLog, "HDMI infoframe: %s, version %u, length %u\n", InfoFrame_TypeName(punFrame->stAny.enType),
                    punFrame->stAny.u8Version, punFrame->stAny.u8Length);
    switch (punFrame->stAny.enType) {
    case HDMI_INFOFRAME_TYPE_AVI: InfoFrame_LogAvi(&stLog, &punFrame->stAvi); break;
    case HDMI_INFOFRAME_TYPE_SPD: InfoFrame_LogSpd(&stLog, &punFrame->stSpd); break;
    case HDMI_INFOFRAME_TYPE_AUDIO: InfoFrame_LogAudio(&stLog, &punFrame->stAudio); break;
    case HDMI_INFOFRAME_TYPE_VENDOR: InfoFrame_LogVendor(&stLog, &punFrame->stVendor); break;
    case HDMI_INFOFRAME_TYPE_DRM: InfoFrame_LogDrm(&stLog, &punFrame->stDrm); break;
    default: break;
    }
}
