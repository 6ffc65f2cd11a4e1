#include "tests/upgrade/ImageBuild.h"

#include <cstring>
#include <fstream>

std::string Image_Build(const std::vector<ImageBuildPart_S> &parts, ImageInfo_S *pstInfo)
{
    ImageInfo_S stInfo;
    memset(&stInfo, 0, sizeof(stInfo));
    snprintf(stInfo.azModel, sizeof(stInfo.azModel), "%s", IMAGE_MODEL);
    snprintf(stInfo.azVersion, sizeof(stInfo.azVersion), "V1.0.1");
    std::string file;
    for (size_t i = 0; i < parts.size(); i++) {
        ImagePart_S &stPart = stInfo.astPart[i];
        snprintf(stPart.azName, sizeof(stPart.azName), "%s", parts[i].name.c_str());
        stPart.u32FileOffset = (u32)file.size();
        stPart.u32Len = (u32)parts[i].data.size();
        stPart.u32FlashAddr = parts[i].u32FlashAddr;
        stPart.u32Crc = getCrc32(0xFFFFFFFF, parts[i].data.data(), stPart.u32Len);
        file += parts[i].data;
    }
    Image_Seal(&stInfo);
    std::string head(IMAGE_HEAD_BLOCK, '\0');
    memcpy(&head[0], &stInfo, sizeof(stInfo));
    if (pstInfo != nullptr)
        *pstInfo = stInfo;
    return file + head;
}

std::string Image_Bytes(size_t len, u32 u32Seed)
{
    std::string s(len, '\0');
    for (size_t i = 0; i < len; i++) {
        u32Seed = u32Seed * 1103515245u + 12345u;
        s[i] = (char)(u32Seed >> 16);
    }
    return s;
}

void Image_WriteTo(const std::string &path, const std::string &image)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << image;
}
