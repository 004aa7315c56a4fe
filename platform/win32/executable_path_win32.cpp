// GetModuleFileNameA with no module: the running executable's path.
#include <windows.h>

#include "platform/executable_path.h"

namespace platform {

namespace {

constexpr DWORD FirstPathBufferChars = MAX_PATH;
constexpr DWORD LargestPathBufferChars = 32768;  // the longest path the NT family has

}  // namespace

std::string executablePath()
{
    for (DWORD size = FirstPathBufferChars; size <= LargestPathBufferChars; size *= 2) {
        std::string buffer(size, '\0');
        DWORD n = GetModuleFileNameA(nullptr, buffer.data(), size);
        if (n == 0) {
            return std::string();
        }
        // A full buffer means the path may be cut (the NT family then sets
        // ERROR_INSUFFICIENT_BUFFER, the 9x family says nothing): try a larger one.
        if (n < size - 1) {
            buffer.resize(n);
            return buffer;
        }
    }
    return std::string();
}

}  // namespace platform
