// HDMI infoframes (CEA-861 / HDMI 1.4 AVI, SPD, audio, HDMI vendor-specific
// and CEA-861.3 Dynamic Range and Mastering): records, unpacking of received
// frames, checks, packing and logging. A frame is a 3-byte header (type,
// version, length), a checksum byte and `length` payload bytes.
#ifndef MEDIA_HDMIINFOFRAME_H
#define MEDIA_HDMIINFOFRAME_H

#include "core/Types.h"

#define HDMI_INFOFRAME_HEADER_SIZE  4       // header and checksum
#define HDMI_AVI_INFOFRAME_SIZE     13
#define HDMI_SPD_INFOFRAME_SIZE     25
#define HDMI_AUDIO_INFOFRAME_SIZE   10
#define HDMI_DRM_INFOFRAME_SIZE     26
#define HDMI_INFOFRAME_MAX_SIZE     (HDMI_INFOFRAME_HEADER_SIZE + HDMI_DRM_INFOFRAME_SIZE)
#define HDMI_IEEE_OUI               0x000C03
#define HDMI_INFOFRAME_EINVAL       (-22)
#define HDMI_INFOFRAME_ENOSPC       (-28)

enum HdmiInfoFrameType_E : u8 {
    HDMI_INFOFRAME_TYPE_VENDOR = 0x81, HDMI_INFOFRAME_TYPE_AVI = 0x82, HDMI_INFOFRAME_TYPE_SPD = 0x83,
    HDMI_INFOFRAME_TYPE_AUDIO = 0x84, HDMI_INFOFRAME_TYPE_DRM = 0x87,
};
enum HdmiColorspace_E : u8 { HDMI_COLORSPACE_RGB, HDMI_COLORSPACE_YUV422, HDMI_COLORSPACE_YUV444,
                             HDMI_COLORSPACE_YUV420, HDMI_COLORSPACE_IDO_DEFINED = 7 };
enum HdmiScanMode_E : u8 { HDMI_SCAN_MODE_NONE, HDMI_SCAN_MODE_OVERSCAN, HDMI_SCAN_MODE_UNDERSCAN };
enum HdmiColorimetry_E : u8 { HDMI_COLORIMETRY_NONE, HDMI_COLORIMETRY_ITU_601, HDMI_COLORIMETRY_ITU_709,
                              HDMI_COLORIMETRY_EXTENDED };
enum HdmiPictureAspect_E : u8 { HDMI_PICTURE_ASPECT_NONE, HDMI_PICTURE_ASPECT_4_3, HDMI_PICTURE_ASPECT_16_9 };
enum HdmiActiveAspect_E : u8 { HDMI_ACTIVE_ASPECT_NONE, HDMI_ACTIVE_ASPECT_PICTURE = 8 };
enum HdmiExtendedColorimetry_E : u8 { HDMI_EXTENDED_COLORIMETRY_XV_YCC_601, HDMI_EXTENDED_COLORIMETRY_XV_YCC_709,
                                      HDMI_EXTENDED_COLORIMETRY_S_YCC_601, HDMI_EXTENDED_COLORIMETRY_OPYCC_601,
                                      HDMI_EXTENDED_COLORIMETRY_OPRGB, HDMI_EXTENDED_COLORIMETRY_BT2020_CONST_LUM,
                                      HDMI_EXTENDED_COLORIMETRY_BT2020 };
enum HdmiQuantizationRange_E : u8 { HDMI_QUANTIZATION_RANGE_DEFAULT, HDMI_QUANTIZATION_RANGE_LIMITED,
                                    HDMI_QUANTIZATION_RANGE_FULL };
enum HdmiNups_E : u8 { HDMI_NUPS_UNKNOWN, HDMI_NUPS_HORIZONTAL, HDMI_NUPS_VERTICAL, HDMI_NUPS_BOTH };
enum HdmiYccQuantizationRange_E : u8 { HDMI_YCC_QUANTIZATION_RANGE_LIMITED, HDMI_YCC_QUANTIZATION_RANGE_FULL };
enum HdmiContentType_E : u8 { HDMI_CONTENT_TYPE_GRAPHICS, HDMI_CONTENT_TYPE_PHOTO, HDMI_CONTENT_TYPE_CINEMA,
                              HDMI_CONTENT_TYPE_GAME };
enum HdmiAudioCodingType_E : u8 { HDMI_AUDIO_CODING_TYPE_STREAM, HDMI_AUDIO_CODING_TYPE_PCM };
enum HdmiAudioSampleSize_E : u8 { HDMI_AUDIO_SAMPLE_SIZE_STREAM, HDMI_AUDIO_SAMPLE_SIZE_16,
                                  HDMI_AUDIO_SAMPLE_SIZE_20, HDMI_AUDIO_SAMPLE_SIZE_24 };
enum HdmiAudioSampleFrequency_E : u8 { HDMI_AUDIO_SAMPLE_FREQUENCY_STREAM, HDMI_AUDIO_SAMPLE_FREQUENCY_32000,
                                       HDMI_AUDIO_SAMPLE_FREQUENCY_44100, HDMI_AUDIO_SAMPLE_FREQUENCY_48000 };
enum HdmiAudioCodingTypeExt_E : u8 { HDMI_AUDIO_CODING_TYPE_EXT_CT, HDMI_AUDIO_CODING_TYPE_EXT_HE_AAC = 4 };
enum HdmiSpdSdi_E : u8 { HDMI_SPD_SDI_UNKNOWN, HDMI_SPD_SDI_DSTB, HDMI_SPD_SDI_DVDP, HDMI_SPD_SDI_PC = 9 };
enum Hdmi3dStructure_E : u8 { HDMI_3D_STRUCTURE_FRAME_PACKING, HDMI_3D_STRUCTURE_TOP_AND_BOTTOM = 6,
                              HDMI_3D_STRUCTURE_SIDE_BY_SIDE_HALF = 8, HDMI_3D_STRUCTURE_NONE = 0xFF };

struct HdmiInfoFrameHeader_S {          // first fields of every record
    HdmiInfoFrameType_E enType;
    u8 u8Version;
    u8 u8Length;                        // payload bytes
};

struct HdmiAviInfoFrame_S {
    HdmiInfoFrameType_E enType;
    u8 u8Version;
    u8 u8Length;
    HdmiColorspace_E enColorspace;
    HdmiScanMode_E enScanMode;
    HdmiColorimetry_E enColorimetry;
    HdmiPictureAspect_E enPictureAspect;
    HdmiActiveAspect_E enActiveAspect;
    bool bItc;
    HdmiExtendedColorimetry_E enExtendedColorimetry;
    HdmiQuantizationRange_E enQuantizationRange;
    HdmiNups_E enNups;
    u8 u8VideoCode;
    HdmiYccQuantizationRange_E enYccQuantizationRange;
    HdmiContentType_E enContentType;
    u8 u8PixelRepeat;
    u16 u16TopBar, u16BottomBar, u16LeftBar, u16RightBar;   // lines and pixels
};

struct HdmiSpdInfoFrame_S {
    HdmiInfoFrameType_E enType;
    u8 u8Version;
    u8 u8Length;
    char azVendor[9];                   // up to 8 characters
    char azProduct[17];                 // up to 16 characters
    HdmiSpdSdi_E enSdi;
};

struct HdmiAudioInfoFrame_S {
    HdmiInfoFrameType_E enType;
    u8 u8Version;
    u8 u8Length;
    u8 u8Channels;                      // 0: refer to stream header
    HdmiAudioCodingType_E enCodingType;
    HdmiAudioSampleSize_E enSampleSize;
    HdmiAudioSampleFrequency_E enSampleFrequency;
    HdmiAudioCodingTypeExt_E enCodingTypeExt;
    u8 u8ChannelAllocation;
    u8 u8LevelShiftValue;               // dB
    bool bDownmixInhibit;
};

struct HdmiVendorInfoFrame_S {
    HdmiInfoFrameType_E enType;
    u8 u8Version;
    u8 u8Length;
    u32 u32Oui;
    u8 u8Vic;                           // HDMI VIC, 0: none
    Hdmi3dStructure_E en3dStructure;    // HDMI_3D_STRUCTURE_NONE: no 3D
    u8 u8S3dExtData;                    // side-by-side (half) subsampling
};

struct HdmiDrmInfoFrame_S {
    HdmiInfoFrameType_E enType;
    u8 u8Version;
    u8 u8Length;
    u8 u8Eotf;
    u8 u8MetadataType;
    struct { u16 u16X, u16Y; } astDisplayPrimaries[3];     // 0.00002 units
    struct { u16 u16X, u16Y; } stWhitePoint;
    u16 u16MaxDisplayMasteringLuminance;                   // cd/m2
    u16 u16MinDisplayMasteringLuminance;                   // 0.0001 cd/m2
    u16 u16MaxCll;
    u16 u16MaxFall;
};

union HdmiInfoFrame_U {
    HdmiInfoFrameHeader_S stAny;
    HdmiAviInfoFrame_S stAvi;
    HdmiSpdInfoFrame_S stSpd;
    HdmiAudioInfoFrame_S stAudio;
    HdmiVendorInfoFrame_S stVendor;
    HdmiDrmInfoFrame_S stDrm;
};

// Checksum byte that makes all u32Size bytes sum to 0; set it in pu8Buf[3].
u8   hdmi_infoframe_checksum(const u8 *pu8Buf, u32 u32Size);
void hdmi_infoframe_set_checksum(u8 *pu8Buf, u32 u32Size);

// Unpacks a received frame of u32Size bytes. 0, or -22 for a frame that is
// short, of unknown type, version or length, or whose checksum is wrong;
// the record is then left unchanged.
s32 hdmi_infoframe_unpack(HdmiInfoFrame_U *punFrame, const u8 *pu8Buf, u32 u32Size);

// Record initialisers (type, version, length, defaults).
void hdmi_avi_infoframe_init(HdmiAviInfoFrame_S *pstFrame);
void hdmi_spd_infoframe_init(HdmiSpdInfoFrame_S *pstFrame, const char *pszVendor, const char *pszProduct);
void hdmi_audio_infoframe_init(HdmiAudioInfoFrame_S *pstFrame);
void hdmi_vendor_infoframe_init(HdmiVendorInfoFrame_S *pstFrame);
void hdmi_drm_infoframe_init(HdmiDrmInfoFrame_S *pstFrame);

// Check: 0, or -22 when the header does not fit the type (the vendor
// length follows from its fields). Pack: bytes written, -22 or -28 (too
// small a buffer). pack_only skips the check.
s32 hdmi_infoframe_check(HdmiInfoFrame_U *punFrame);
s32 hdmi_infoframe_pack_only(const HdmiInfoFrame_U *punFrame, u8 *pu8Buf, u32 u32Size);
s32 hdmi_infoframe_pack(HdmiInfoFrame_U *punFrame, u8 *pu8Buf, u32 u32Size);
s32 hdmi_avi_infoframe_pack(HdmiAviInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size);
s32 hdmi_spd_infoframe_pack(HdmiSpdInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size);
s32 hdmi_audio_infoframe_pack(HdmiAudioInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size);
s32 hdmi_vendor_infoframe_pack(HdmiVendorInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size);
s32 hdmi_drm_infoframe_pack(HdmiDrmInfoFrame_S *pstFrame, u8 *pu8Buf, u32 u32Size);

// Prints the record on standard output, each line behind the level text
// and the device name (may be null).
void hdmi_infoframe_log(const char *pszLevel, const char *pszDevice, const HdmiInfoFrame_U *punFrame);

#endif
