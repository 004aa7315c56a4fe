// The running executable's full path (GetModuleFileNameA with no module): the base of
// ProgramDirectory, and of the application's name that captions message boxes.
// On Linux it is read from /proc/self/exe.
// Results: the path, empty when it cannot be read.
// Thread rule: safe from any thread.
#pragma once

#include <string>

namespace platform {

std::string executablePath();

}  // namespace platform
