#include <cstdlib>
#include <sys/stat.h>

#include "support/scratch_os.h"

namespace scratch {

std::string makeTempFolder(std::string pattern)
{
    return mkdtemp(pattern.data()) ? pattern : std::string();
}

void setEnvironment(const char* name, const std::string& value) { setenv(name, value.c_str(), 1); }

void unsetEnvironment(const char* name) { unsetenv(name); }

bool makeFifo(const std::string& path) { return mkfifo(path.c_str(), 0600) == 0; }

bool runsUnderWine() { return false; }

}  // namespace scratch
