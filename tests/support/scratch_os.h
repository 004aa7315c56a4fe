// What the scratch helpers (scratch.h) need from the host they run on: a fresh temporary folder,
// the process environment, a named pipe where the file system has them, and whether Windows is
// Wine. One file per host
// in linux/ and win32/, chosen by the build.
// Results: empty text or false when the host could not or cannot do it.
// Thread rule: test thread; the environment is process-wide.
#pragma once

#include <string>

namespace scratch {

// A fresh folder named after pattern, whose last six characters are "XXXXXX"; its path.
std::string makeTempFolder(std::string pattern);
void setEnvironment(const char* name, const std::string& value);
void unsetEnvironment(const char* name);
// A FIFO at path; false where the host has none (Windows keeps its pipes out of the folders).
bool makeFifo(const std::string& path);
// True when the Windows build runs under Wine rather than Windows (where a test holds Windows'
// own behaviour and Wine is known to differ); false on every other host.
bool runsUnderWine();

}  // namespace scratch
