// The INI reader on any file: whatever the bytes, a lookup gives a value no longer than the
// buffer or the default, and never crashes, hangs or grows without bound.
//
// Input: the file's bytes. The first byte also picks the buffer size, so short buffers are tried.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

#include "config/ini_reader.h"

namespace {

// The file lives in memory (a memfd, opened by its /proc name like any path): the disk would
// make every run wait.
int scratchDescriptor()
{
    static const int fd = memfd_create("tarvo-ini-fuzz", 0);
    return fd;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const int fd = scratchDescriptor();
    if (fd < 0 || ftruncate(fd, 0) != 0 || pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) {
        return 0;
    }
    const std::string path = "/proc/self/fd/" + std::to_string(fd);
    size_t bufferSize = size > 0 ? 1 + data[0] % ProfileBufferSize : ProfileBufferSize;
    struct Lookup {
        const char* section;
        const char* key;
    };
    for (Lookup l : {Lookup{"INFO", "Firmware_file"}, Lookup{"INFO", "Model_name"}, Lookup{"info", "k"},
                     Lookup{"AT_COMMAND_BEFORE_UPLOAD", "1"}, Lookup{" INFO ", " ATI1_key_string "}}) {
        std::string value = getPrivateProfileString(l.section, l.key, "default", path, bufferSize);
        if (value.size() >= bufferSize) {
            std::abort();  // a value never fills the whole buffer: its terminator needs a place
        }
    }
    profileFileReadable(path);
    profileFileHasUtf8Mark(path);
    return 0;
}
