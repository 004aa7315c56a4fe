#include "config/ini_reader.h"

#include <algorithm>
#include <cstring>

#include "platform/file_reading.h"

namespace {

constexpr unsigned char Utf8Bom[] = {0xEF, 0xBB, 0xBF};

char asciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool profileFlag(const std::string& text)
{
    std::string upper(text);
    std::transform(upper.begin(), upper.end(), upper.begin(), asciiUpper);
    return upper.find("TRUE") != std::string::npos;
}

bool profileFileHasUtf8Mark(const std::string& path)
{
    platform::InputFile in;
    unsigned char head[sizeof Utf8Bom] = {};
    return in.open(path) == platform::FileOpenResult::Opened && in.read(head, sizeof head) == sizeof head &&
           std::memcmp(head, Utf8Bom, sizeof head) == 0;
}
