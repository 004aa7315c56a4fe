// GetModuleFileNameA on this host: the running executable's path from /proc.
#include <unistd.h>

#include "platform/executable_path.h"

namespace platform {

namespace {

constexpr const char* SelfExecutable = "/proc/self/exe";

}  // namespace

std::string executablePath()
{
    std::string buffer(256, '\0');
    for (;;) {
        ssize_t n = readlink(SelfExecutable, buffer.data(), buffer.size());
        if (n < 0) {
            return std::string();
        }
        if (static_cast<size_t>(n) < buffer.size()) {
            buffer.resize(static_cast<size_t>(n));
            return buffer;
        }
        // Possibly cut: a full path is worth more than the 256 bytes Windows would give.
        buffer.resize(buffer.size() * 2);
    }
}

}  // namespace platform
