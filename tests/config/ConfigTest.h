// Shared by the configuration store's tests.
#ifndef TESTS_CONFIG_CONFIGTEST_H
#define TESTS_CONFIG_CONFIGTEST_H

#include <string>

#include "core/Types.h"

// Lines as the INI writer forms them: a key in 30 columns with its value
// quoted in 15, a section name padded to 49.
std::string Pad(const std::string &s, size_t sizeWidth);
std::string Entry(const std::string &key, const std::string &val);
std::string Header(const std::string &name);

std::string ReadFile(const char *pszPath);
void WriteFile(const char *pszPath, const std::string &text);

#endif
