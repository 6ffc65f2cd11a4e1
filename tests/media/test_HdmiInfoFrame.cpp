#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "media/HdmiInfoFrame.h"

typedef std::vector<u8> Bytes;

// Frames as sources send them (checksums included).
static const Bytes AVI_1080P_YUV422 = {0x82, 0x02, 0x0d, 0x83, 0x30, 0xa8, 0x04, 0x10, 0x00,
                                       0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
static const Bytes AVI_720P_BARS = {0x82, 0x02, 0x0d, 0xf7, 0x18, 0x28, 0x88, 0x04, 0x70,
                                    0x8a, 0x00, 0xaf, 0x03, 0x00, 0x00, 0x00, 0x00};
static const Bytes SPD_PC = {0x83, 0x01, 0x19, 0xf1, 0x4e, 0x56, 0x49, 0x44, 0x49, 0x41, 0x00, 0x00, 0x47, 0x65, 0x46,
                             0x6f, 0x72, 0x63, 0x65, 0x20, 0x47, 0x54, 0x58, 0x00, 0x00, 0x00, 0x00, 0x00, 0x09};
static const Bytes AUDIO_2CH = {0x84, 0x01, 0x0a, 0x70, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
static const Bytes AUDIO_8CH = {0x84, 0x01, 0x0a, 0x90, 0x17, 0x0f, 0x00, 0x13, 0xa8, 0x00, 0x00, 0x00, 0x00, 0x00};
static const Bytes VSIF_4K = {0x81, 0x01, 0x05, 0x49, 0x03, 0x0c, 0x00, 0x20, 0x01};
static const Bytes VSIF_3D_SBS = {0x81, 0x01, 0x06, 0x99, 0x03, 0x0c, 0x00, 0x40, 0x80, 0x10};
static const Bytes VSIF_3D_FP = {0x81, 0x01, 0x05, 0x2a, 0x03, 0x0c, 0x00, 0x40, 0x00};
static const Bytes VSIF_EMPTY = {0x81, 0x01, 0x04, 0x6b, 0x03, 0x0c, 0x00, 0x00};
static const Bytes DRM_HDR10 = {0x87, 0x01, 0x1a, 0x91, 0x02, 0x00, 0x34, 0x21, 0xaa, 0x9b, 0x96, 0x19, 0xfc, 0x08, 0x48,
                                0x8a, 0x08, 0x39, 0x13, 0x3d, 0x42, 0x40, 0xe8, 0x03, 0x32, 0x00, 0xe8, 0x03, 0x90, 0x01};

// The frame with one byte changed and the checksum made right again.
static Bytes Patched(Bytes b, size_t at, u8 u8Val)
{
    b[at] = u8Val;
    hdmi_infoframe_set_checksum(b.data(), (u32)b.size());
    return b;
}

struct InfoFrameTest : public testing::Test {
    HdmiInfoFrame_U un{};
    s32 Unpack(const Bytes &b) { return hdmi_infoframe_unpack(&un, b.data(), (u32)b.size()); }
    std::string Log()
    {
        testing::internal::CaptureStdout();
        hdmi_infoframe_log("[INFO]", "hdmirx", &un);
        return testing::internal::GetCapturedStdout();
    }
};

// The AVI fields of a 1080p YCbCr frame and of a 720p RGB frame with bars
// and a content type, and the log of the latter.
TEST_F(InfoFrameTest, AviFieldsAndLog)
{
    ASSERT_EQ(0, Unpack(AVI_1080P_YUV422));
    const HdmiAviInfoFrame_S &avi = un.stAvi;
    EXPECT_EQ(HDMI_INFOFRAME_TYPE_AVI, avi.enType);
    EXPECT_EQ(HDMI_COLORSPACE_YUV422, avi.enColorspace);
    EXPECT_EQ(HDMI_COLORIMETRY_ITU_709, avi.enColorimetry);
    EXPECT_EQ(HDMI_PICTURE_ASPECT_16_9, avi.enPictureAspect);
    EXPECT_EQ(HDMI_ACTIVE_ASPECT_PICTURE, avi.enActiveAspect);
    EXPECT_EQ(HDMI_QUANTIZATION_RANGE_LIMITED, avi.enQuantizationRange);
    EXPECT_EQ(16, avi.u8VideoCode);
    EXPECT_FALSE(avi.bItc);
    ASSERT_EQ(0, Unpack(Patched(AVI_1080P_YUV422, 4, 0x20)));          // no active format present
    EXPECT_EQ(HDMI_ACTIVE_ASPECT_NONE, un.stAvi.enActiveAspect);

    ASSERT_EQ(0, Unpack(AVI_720P_BARS));
    EXPECT_EQ(HDMI_COLORSPACE_RGB, un.stAvi.enColorspace);
    EXPECT_EQ(HDMI_QUANTIZATION_RANGE_FULL, un.stAvi.enQuantizationRange);
    EXPECT_EQ(HDMI_YCC_QUANTIZATION_RANGE_FULL, un.stAvi.enYccQuantizationRange);
    EXPECT_EQ(HDMI_CONTENT_TYPE_GAME, un.stAvi.enContentType);
    EXPECT_EQ(138, un.stAvi.u16TopBar);
    EXPECT_EQ(943, un.stAvi.u16BottomBar);
    std::string out = Log();
    EXPECT_NE(std::string::npos, out.find("[INFO] hdmirx: HDMI infoframe: Auxiliary Video Information (AVI), "
                                          "version 2, length 13\n"));
    EXPECT_NE(std::string::npos, out.find("    itc: IT Content\n"));
    EXPECT_NE(std::string::npos, out.find("    hdmi content type: Game\n"));
    EXPECT_NE(std::string::npos, out.find("    bar top 138, bottom 943, left 0, right 0\n"));
}

// Wrong version, length, size or checksum: refused, the record untouched.
TEST_F(InfoFrameTest, MalformedAviLeavesRecordAlone)
{
    ASSERT_EQ(0, Unpack(AVI_1080P_YUV422));
    HdmiInfoFrame_U before = un;
    Bytes avi3 = Patched(AVI_1080P_YUV422, 1, 3);
    Bytes len14 = Patched(AVI_1080P_YUV422, 2, 14);
    len14.push_back(0);
    hdmi_infoframe_set_checksum(len14.data(), (u32)len14.size());
    Bytes badsum = AVI_720P_BARS;
    badsum[3] ^= 1;
    Bytes shortbuf(AVI_720P_BARS.begin(), AVI_720P_BARS.end() - 1);
    for (const Bytes &b : {avi3, len14, badsum, shortbuf}) {
        EXPECT_EQ(-22, Unpack(b));
        EXPECT_EQ(0, memcmp(&before, &un, sizeof(un)));
    }
    EXPECT_EQ(-22, hdmi_infoframe_unpack(&un, AVI_1080P_YUV422.data(), 3));
}

TEST_F(InfoFrameTest, SpdAudioAndDrmFrames)
{
    ASSERT_EQ(0, Unpack(SPD_PC));
    EXPECT_STREQ("NVIDIA", un.stSpd.azVendor);
    EXPECT_STREQ("GeForce GTX", un.stSpd.azProduct);
    EXPECT_NE(std::string::npos, Log().find("    source device information: PC General (0x9)\n"));

    ASSERT_EQ(0, Unpack(AUDIO_2CH));
    EXPECT_EQ(2, un.stAudio.u8Channels);
    EXPECT_EQ(HDMI_AUDIO_CODING_TYPE_STREAM, un.stAudio.enCodingType);
    ASSERT_EQ(0, Unpack(AUDIO_8CH));
    EXPECT_EQ(8, un.stAudio.u8Channels);
    EXPECT_EQ(HDMI_AUDIO_CODING_TYPE_PCM, un.stAudio.enCodingType);
    EXPECT_EQ(HDMI_AUDIO_SAMPLE_FREQUENCY_48000, un.stAudio.enSampleFrequency);
    EXPECT_EQ(HDMI_AUDIO_SAMPLE_SIZE_24, un.stAudio.enSampleSize);
    EXPECT_EQ(0x13, un.stAudio.u8ChannelAllocation);
    EXPECT_EQ(5, un.stAudio.u8LevelShiftValue);
    EXPECT_TRUE(un.stAudio.bDownmixInhibit);
    EXPECT_NE(std::string::npos, Log().find("    sample frequency: 48 kHz\n"));

    ASSERT_EQ(0, Unpack(DRM_HDR10));
    EXPECT_EQ(2, un.stDrm.u8Eotf);
    EXPECT_EQ(8500, un.stDrm.astDisplayPrimaries[0].u16X);
    EXPECT_EQ(14600, un.stDrm.astDisplayPrimaries[2].u16Y);
    EXPECT_EQ(50, un.stDrm.u16MinDisplayMasteringLuminance);
    EXPECT_EQ(400, un.stDrm.u16MaxFall);
    EXPECT_NE(std::string::npos, Log().find("max_cll: 1000\n"));

    EXPECT_EQ(-22, Unpack(Bytes(DRM_HDR10.begin(), DRM_HDR10.end() - 1)));
    EXPECT_EQ(-22, Unpack(Patched(SPD_PC, 1, 2)));
    EXPECT_EQ(-22, Unpack(Patched(AUDIO_2CH, 2, 9)));
    EXPECT_EQ(-22, Unpack(Patched(AUDIO_2CH, 0, 0x85)));                // MPEG source: not kept
}

TEST_F(InfoFrameTest, VendorFramesByHdmiVideoFormat)
{
    ASSERT_EQ(0, Unpack(VSIF_4K));
    EXPECT_EQ(1, un.stVendor.u8Vic);
    EXPECT_EQ(HDMI_3D_STRUCTURE_NONE, un.stVendor.en3dStructure);
    EXPECT_NE(std::string::npos, Log().find("    HDMI VIC: 1\n"));
    ASSERT_EQ(0, Unpack(VSIF_3D_SBS));
    EXPECT_EQ(HDMI_3D_STRUCTURE_SIDE_BY_SIDE_HALF, un.stVendor.en3dStructure);
    EXPECT_EQ(1, un.stVendor.u8S3dExtData);
    EXPECT_EQ(0, un.stVendor.u8Vic);
    EXPECT_NE(std::string::npos, Log().find("    3D structure: Side-by-side (Half)\n"));
    ASSERT_EQ(0, Unpack(VSIF_3D_FP));
    EXPECT_EQ(HDMI_3D_STRUCTURE_FRAME_PACKING, un.stVendor.en3dStructure);
    Bytes padded = VSIF_3D_FP;                                          // a spare sixth byte is allowed
    padded[2] = 6;
    padded.push_back(0);
    hdmi_infoframe_set_checksum(padded.data(), (u32)padded.size());
    ASSERT_EQ(0, Unpack(padded));
    u8 au8Out[HDMI_INFOFRAME_MAX_SIZE];
    EXPECT_EQ(10, hdmi_infoframe_pack(&un, au8Out, sizeof(au8Out)));
    ASSERT_EQ(0, Unpack(VSIF_EMPTY));
    EXPECT_NE(std::string::npos, Log().find("    empty frame\n"));

    EXPECT_EQ(-22, Unpack(Patched(VSIF_4K, 4, 0x04)));                  // not the HDMI OUI
    EXPECT_EQ(-22, Unpack(Patched(VSIF_4K, 7, 0x60)));                  // video format 3
    EXPECT_EQ(-22, Unpack(Patched(VSIF_EMPTY, 7, 0x20)));               // a VIC needs length 5
    EXPECT_EQ(-22, Unpack(Patched(VSIF_4K, 8, 0x00)));                  // and is not 0
    EXPECT_EQ(-22, Unpack(Patched(VSIF_3D_FP, 8, 0x80)));               // side-by-side needs its extension
    Bytes longer = VSIF_4K;
    longer[2] = 7;
    longer.insert(longer.end(), {0, 0});
    hdmi_infoframe_set_checksum(longer.data(), (u32)longer.size());
    EXPECT_EQ(-22, Unpack(longer));
    EXPECT_EQ(-22, hdmi_infoframe_unpack(&un, VSIF_3D_SBS.data(), (u32)VSIF_3D_SBS.size() - 1));
}

// Packing a record and unpacking the bytes gives the record back, and the
// bytes are those sources send.
TEST_F(InfoFrameTest, PackGivesTheReceivedBytesBack)
{
    for (const Bytes &b : {AVI_1080P_YUV422, AVI_720P_BARS, SPD_PC, AUDIO_8CH, VSIF_4K, VSIF_3D_SBS, DRM_HDR10}) {
        ASSERT_EQ(0, Unpack(b));
        u8 au8Out[HDMI_INFOFRAME_MAX_SIZE];
        ASSERT_EQ((s32)b.size(), hdmi_infoframe_pack(&un, au8Out, sizeof(au8Out)));
        EXPECT_EQ(b, Bytes(au8Out, au8Out + b.size()));
        EXPECT_EQ(HDMI_INFOFRAME_ENOSPC, hdmi_infoframe_pack(&un, au8Out, (u32)b.size() - 1));
    }
}

TEST_F(InfoFrameTest, PackChecksTheHeader)
{
    u8 au8Out[HDMI_INFOFRAME_MAX_SIZE];
    HdmiVendorInfoFrame_S stVendor;
    hdmi_vendor_infoframe_init(&stVendor);
    stVendor.u8Vic = 3;
    EXPECT_EQ(-22, hdmi_vendor_infoframe_pack(&stVendor, au8Out, sizeof(au8Out)));   // length still 4
    stVendor.u8Length = 5;
    EXPECT_EQ(9, hdmi_vendor_infoframe_pack(&stVendor, au8Out, sizeof(au8Out)));
    EXPECT_EQ(0, hdmi_infoframe_unpack(&un, au8Out, 9));
    EXPECT_EQ(3, un.stVendor.u8Vic);

    HdmiAviInfoFrame_S stAvi;
    hdmi_avi_infoframe_init(&stAvi);
    stAvi.u8Version = 3;
    EXPECT_EQ(-22, hdmi_avi_infoframe_pack(&stAvi, au8Out, sizeof(au8Out)));
    HdmiSpdInfoFrame_S stSpd;
    hdmi_spd_infoframe_init(&stSpd, "a vendor name too long", "box");
    EXPECT_STREQ("a vendor", stSpd.azVendor);

    un.stAny.enType = (HdmiInfoFrameType_E)0x85;
    testing::internal::CaptureStdout();
    EXPECT_EQ(-22, hdmi_infoframe_pack(&un, au8Out, sizeof(au8Out)));
    EXPECT_EQ("[WARNING] Bad infoframe type 133\n", testing::internal::GetCapturedStdout());
}

// Values a field cannot hold print as "Invalid", unassigned ones as "Reserved".
TEST_F(InfoFrameTest, LogNamesReservedAndInvalidValues)
{
    hdmi_avi_infoframe_init(&un.stAvi);
    un.stAvi.enPictureAspect = (HdmiPictureAspect_E)3;
    un.stAvi.enActiveAspect = (HdmiActiveAspect_E)17;
    un.stAvi.enExtendedColorimetry = HDMI_EXTENDED_COLORIMETRY_BT2020;
    std::string out = Log();
    EXPECT_NE(std::string::npos, out.find("    picture aspect: Reserved\n"));
    EXPECT_NE(std::string::npos, out.find("    active aspect: Invalid\n"));
    EXPECT_NE(std::string::npos, out.find("    extended colorimetry: BT.2020\n"));
    hdmi_vendor_infoframe_init(&un.stVendor);
    un.stVendor.u32Oui = 0xC45DD8;
    EXPECT_NE(std::string::npos, Log().find("    not a HDMI vendor infoframe\n"));
}
