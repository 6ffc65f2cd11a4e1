#include "tests/support/Files.h"

#include <cstdio>
#include <fstream>
#include <sstream>

std::string File_Read(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void File_Write(const std::string &path, const std::string &text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string File_Calls(const std::string &path, size_t sizeFrom)
{
    const std::string text = File_Read(path);
    std::istringstream in(sizeFrom < text.size() ? text.substr(sizeFrom) : "");
    std::string line, calls;
    while (std::getline(in, line))
        calls += line.substr(line.find(' ') + 1) + ";";
    return calls;
}

std::string File_Hex(const u8 *pu8, size_t sizeLen)
{
    std::string hex;
    char az[3];
    for (size_t i = 0; i < sizeLen; i++) {
        snprintf(az, sizeof(az), "%02x", pu8[i]);
        hex += az;
    }
    return hex;
}

std::string File_Pattern(size_t sizeLen, u32 u32Seed)
{
    std::string s(sizeLen, '\0');
    for (char &c : s) {
        u32Seed = u32Seed * 1103515245u + 12345u;
        c = (char)(u32Seed >> 16);
    }
    return s;
}
