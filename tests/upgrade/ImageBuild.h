// Upgrade images for tests, in the layout the upgrade reads.
#ifndef TESTS_UPGRADE_IMAGEBUILD_H
#define TESTS_UPGRADE_IMAGEBUILD_H

#include <string>
#include <vector>

#include "core/Types.h"
#include "upgrade/Flash.h"
#include "upgrade/Image.h"

struct ImageBuildPart_S {
    std::string name;
    std::string data;
    u32 u32FlashAddr;
};

// The parts' data one after the other, then the 64 KiB header block.
// pstInfo (when given) receives the header as written.
std::string Image_Build(const std::vector<ImageBuildPart_S> &parts, ImageInfo_S *pstInfo = nullptr);
// Random-looking bytes that differ per seed.
std::string Image_Bytes(size_t len, u32 u32Seed);
void Image_WriteTo(const std::string &path, const std::string &image);

#endif
