// The C runtime's own environment (_putenv_s), which getenv reads; and temporary folders made
// the way mkdtemp does, by trying names until CreateDirectoryA makes a new one.
#include <windows.h>

#include <cstdlib>
#include <random>

#include "support/scratch_os.h"

namespace scratch {

namespace {
constexpr int FolderNameTries = 100;
constexpr const char* NameCharacters = "abcdefghijklmnopqrstuvwxyz0123456789";
constexpr size_t NameCharacterCount = 36;
constexpr size_t TemplateSuffixLength = 6;
}  // namespace

std::string makeTempFolder(std::string pattern)
{
    if (pattern.size() < TemplateSuffixLength) {
        return std::string();
    }
    std::random_device seed;
    std::mt19937 pick(seed() ^ GetCurrentProcessId() ^ GetTickCount());
    for (int attempt = 0; attempt < FolderNameTries; ++attempt) {
        for (size_t i = pattern.size() - TemplateSuffixLength; i < pattern.size(); ++i) {
            pattern[i] = NameCharacters[pick() % NameCharacterCount];
        }
        if (CreateDirectoryA(pattern.c_str(), nullptr)) {
            return pattern;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) {
            return std::string();
        }
    }
    return std::string();
}

void setEnvironment(const char* name, const std::string& value) { _putenv_s(name, value.c_str()); }

// An empty value removes the variable from the C runtime's environment.
void unsetEnvironment(const char* name) { _putenv_s(name, ""); }

bool makeFifo(const std::string& /*path*/) { return false; }

bool runsUnderWine()
{
    // Wine's ntdll exports its version; Windows' does not.
    HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace scratch
