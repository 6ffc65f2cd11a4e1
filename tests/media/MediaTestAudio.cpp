#include "tests/media/MediaTestAudio.h"

#define TEST_AUDIO_HYSTERESIS 1000

u32 TestAudio_AdtsLen(const u8 *pu8, u32 u32Len)
{
    if (u32Len < 7 || pu8[0] != 0xFF || pu8[1] != 0xF1 || pu8[2] >> 6 != 1)
        return 0;
    return ((u32)(pu8[3] & 3) << 11) | ((u32)pu8[4] << 3) | (pu8[5] >> 5);
}

double TestAudio_Frequency(const s16 *ps16, u32 u32Count, u32 u32Step, u32 u32Rate)
{
    u32 u32Rises = 0, u32First = 0, u32Last = 0;
    int s32State = 0;   // -1 below -H, +1 above +H
    for (u32 i = 0; i < u32Count; i++) {
        s16 s16Val = ps16[i * u32Step];
        if (s16Val < -TEST_AUDIO_HYSTERESIS) {
            s32State = -1;
        } else if (s16Val > TEST_AUDIO_HYSTERESIS && s32State == -1) {
            s32State = 1;
            if (u32Rises++ == 0)
                u32First = i;
            u32Last = i;
        }
    }
    if (u32Rises < 2)
        return 0;
    return (double)(u32Rises - 1) * u32Rate / (u32Last - u32First);
}

double TestAudio_Frequency(const std::vector<s16> &samples, u32 u32Rate)
{
    return TestAudio_Frequency(samples.data(), (u32)samples.size(), 1, u32Rate);
}
