// GetComputerNameA: the machine's NetBIOS name.
#include <windows.h>

#include "platform/machine_name.h"

namespace platform {

std::string machineName()
{
    char name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = sizeof name;
    if (!GetComputerNameA(name, &size)) {
        return std::string();
    }
    return std::string(name, size);
}

}  // namespace platform
