// The configuration's INI reading: GetPrivateProfileStringA through its seam
// (platform/profile_string.h, which states the reader's rules), and the rules the configuration
// adds on top of it, the same on every host.
//
// Results: values and flags; never an error.
// Thread rule: safe from any thread.
#pragma once

#include <string>

#include "platform/profile_string.h"

using platform::getPrivateProfileString;
using platform::profileFileReadable;
using platform::ProfileBufferSize;

// The boolean rule of the configuration: set when the upper-cased text contains "TRUE".
bool profileFlag(const std::string& text);

// True when the file begins with a UTF-8 byte-order mark, which the Win32 reader takes for text
// (a section header on the first line is then not recognised).
bool profileFileHasUtf8Mark(const std::string& path);
