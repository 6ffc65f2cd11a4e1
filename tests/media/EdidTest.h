// EDIDs shared by the EDID and source-layer tests.
#ifndef TESTS_MEDIA_EDIDTEST_H
#define TESTS_MEDIA_EDIDTEST_H

#include <string>
#include <vector>

#include "core/Types.h"

// A 4K television's EDID: 594 and 297 MHz timings, VICs up to 2160p60,
// multichannel and compressed audio, an HDMI block with latency and 3D
// fields, HDMI Forum, colorimetry, HDR, 4:2:0 and two vendor video blocks,
// and two timings in the extension.
std::vector<u8> Edid_Tv4k(void);

// Bytes from hex text; blanks are skipped.
std::vector<u8> Edid_Hex(const std::string &hex);

// Both checksum bytes made right.
void Edid_FixSums(std::vector<u8> &edid);

#endif
