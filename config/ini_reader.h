// GetPrivateProfileStringA for this host: reads one value of a Windows INI file with the rules of
// the Win32 reader (names without regard to case, blanks and one pair of enclosing quotes
// dropped, absent key or file gives the default, present-but-empty gives empty, at most
// bufferSize - 1 characters). The file is read afresh on each call, as Windows does.
// Thread rule: safe from any thread.
#pragma once

#include <cstddef>
#include <string>

constexpr size_t ProfileBufferSize = 128;

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path,
                                    size_t bufferSize = ProfileBufferSize);

// The boolean rule of the configuration: set when the upper-cased text contains "TRUE".
bool profileFlag(const std::string& text);
