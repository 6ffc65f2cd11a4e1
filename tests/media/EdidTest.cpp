#include "tests/media/EdidTest.h"

#include <cstdlib>

std::vector<u8> Edid_Hex(const std::string &hex)
{
    std::vector<u8> out;
    std::string digits;
    for (char c : hex)
        if (c != ' ' && c != '\n')
            digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2)
        out.push_back((u8)strtoul(digits.substr(i, 2).c_str(), nullptr, 16));
    return out;
}

void Edid_FixSums(std::vector<u8> &edid)
{
    for (size_t base = 0; base < 256; base += 128) {
        u8 u8Sum = 0;
        for (size_t i = base; i < base + 127; i++)
            u8Sum = (u8)(u8Sum + edid[i]);
        edid[base + 127] = (u8)-u8Sum;
    }
}

std::vector<u8> Edid_Tv4k(void)
{
    std::vector<u8> e = Edid_Hex(
        "00 FF FF FF FF FF FF 00 1E 6D 00 77 01 01 01 01 01 1D 01 03 80 3C 22 78 EA 3E 31 AE 50 47 AC 27"
        "0C 50 54 BF EF 80 71 40 81 80 81 C0 A9 C0 D1 C0 01 01 01 01 01 01"
        "08 E8 00 30 F2 70 5A 80 B0 58 8A 00 58 54 21 00 00 1E"      // 3840 x 2160 at 60 Hz, 594 MHz
        "04 74 00 30 F2 70 5A 80 B0 58 8A 00 58 54 21 00 00 1E"      // 3840 x 2160 at 30 Hz, 297 MHz
        "00 00 00 FD 00 18 4B 1E 87 3C 00 0A 20 20 20 20 20 20"
        "00 00 00 FC 00 4C 47 20 54 56 0A 20 20 20 20 20 20 20"
        "01 00"
        "02 03 54 F0"
        "49 61 60 5F 90 04 1F 13 3F C1"                              // video: VICs 97 96 95 16* 4 31 19 63 65*
        "29 0F 7F 07 15 07 50 57 07 00"                              // audio: LPCM 8 ch, AC-3, E-AC-3
        "83 5F 00 00"                                                // speakers: 7.1
        "6E 03 0C 00 10 00 B8 3C 20 00 80 01 02 03 04"               // HDMI, 300 MHz, latency, 3D
        "67 D8 5D C4 01 78 80 07"                                    // HDMI Forum
        "E3 05 C3 00"                                                // colorimetry
        "E3 06 0D 01"                                                // HDR static metadata
        "E3 0E 61 60"                                                // 4:2:0 video
        "E2 0F 03"                                                   // 4:2:0 capability map
        "EB 01 46 D0 00 44 4B 9F 60 92 A8 53"                        // vendor video (Dolby)
        "E5 01 8B 84 90 01"                                          // vendor video (HDR10+)
        "02 3A 80 18 71 38 2D 40 58 2C 45 00 58 54 21 00 00 1E"      // 1920 x 1080 at 60 Hz
        "04 74 00 30 F2 70 5A 80 B0 58 8A 00 58 54 21 00 00 1E"      // 3840 x 2160 at 30 Hz
        "00 00 00 00 00 00 00 00");
    e.resize(256);
    Edid_FixSums(e);
    return e;
}
