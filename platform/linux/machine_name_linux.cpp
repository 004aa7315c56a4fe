// The machine's name: its host name.
#include "platform/machine_name.h"

#include <unistd.h>

namespace platform {

namespace {

constexpr size_t HostNameBytes = 256;  // above HOST_NAME_MAX (64) with room for the terminator

}  // namespace

std::string machineName()
{
    char name[HostNameBytes] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return std::string();
    }
    return name;
}

}  // namespace platform
