// Shared by the configuration store's tests.
#ifndef TESTS_CONFIG_CONFIGTEST_H
#define TESTS_CONFIG_CONFIGTEST_H

#include <string>

#include "core/Types.h"

#define TEST_MAC "00:11:22:33:44:55"

// "/etc/app.ini" as a new box with TEST_MAC writes it.
extern const char g_azDefaultFile[];

// Lines as the INI writer forms them: a key in 30 columns with its value
// quoted in 15, a section name padded to 49.
std::string Pad(const std::string &s, size_t sizeWidth);
std::string Entry(const std::string &key, const std::string &val);
std::string Header(const std::string &name);

bool Contains(const std::string &s, const std::string &part);
std::string ReadFile(const char *pszPath);
void WriteFile(const char *pszPath, const std::string &text);
// An erased flash image with a block at the old-parameter offset.
void WriteFlash(const void *pvBlock, u32 u32Len);
std::string ReadFlash(u32 u32Len);

#endif
