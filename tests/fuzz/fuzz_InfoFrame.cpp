// Infoframe unpacking on arbitrary received bytes. A frame that unpacks
// must pack again and unpack to the same record.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "media/HdmiInfoFrame.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    (void)!freopen("/dev/null", "w", stdout);   // the log's lines are not the point; else they print
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *pu8Data, size_t size)
{
    HdmiInfoFrame_U unFrame = {};
    if (hdmi_infoframe_unpack(&unFrame, pu8Data, (u32)size) < 0)
        return 0;
    hdmi_infoframe_log("[INFO]", "fuzz", &unFrame);
    u8 au8Packed[HDMI_INFOFRAME_MAX_SIZE];
    s32 s32Len = hdmi_infoframe_pack(&unFrame, au8Packed, sizeof(au8Packed));
    if (s32Len != unFrame.stAny.u8Length + HDMI_INFOFRAME_HEADER_SIZE)
        __builtin_trap();
    HdmiInfoFrame_U unAgain = {};
    if (hdmi_infoframe_unpack(&unAgain, au8Packed, (u32)s32Len) < 0)
        __builtin_trap();
    if (unFrame.stAny.enType != HDMI_INFOFRAME_TYPE_SPD && memcmp(&unFrame, &unAgain, sizeof(unFrame)) != 0)
        __builtin_trap();   // SPD texts end at their first zero byte once packed
    return 0;
}
