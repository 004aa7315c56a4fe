// The listing's name pattern, the same on every host: the Linux stand-in lists with it, and on
// Windows it is what FindFirstFileA does itself (the tests hold both to it).
#include "platform/ascii_case.h"
#include "platform/windows_folders.h"

namespace platform {

namespace {
constexpr const char* AllNamesPattern = "*.*";
}  // namespace

bool matchesPattern(const std::string& name, const std::string& pattern)
{
    if (pattern == AllNamesPattern) {
        return true;
    }
    // Iterative wildcard match: the last "*" seen may swallow one more character on a mismatch.
    size_t n = 0;
    size_t p = 0;
    size_t starP = std::string::npos;
    size_t starN = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || asciiLower(pattern[p]) == asciiLower(name[n]))) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starP = p++;
            starN = n;
        } else if (starP != std::string::npos) {
            p = starP + 1;
            n = ++starN;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*') {
        ++p;
    }
    return p == pattern.size();
}

}  // namespace platform
