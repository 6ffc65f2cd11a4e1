#include "tests/config/ConfigTest.h"

#include <fstream>
#include <sstream>

std::string Pad(const std::string &s, size_t sizeWidth)
{
    return s.size() < sizeWidth ? s + std::string(sizeWidth - s.size(), ' ') : s;
}

std::string Entry(const std::string &key, const std::string &val)
{
    return Pad(key, 30) + " = \"" + Pad(val, 15) + "\"\n";
}

std::string Header(const std::string &name)
{
    return Pad("[" + name + "]", 49) + "\n";
}

std::string ReadFile(const char *pszPath)
{
    std::ifstream in(pszPath, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const char *pszPath, const std::string &text)
{
    std::ofstream(pszPath, std::ios::binary | std::ios::trunc) << text;
}
