#include "tests/support/Files.h"

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
