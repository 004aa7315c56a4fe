// GetPrivateProfileStringA itself. A file counts as absent when it cannot be opened as a regular
// file for reading: Windows reads anything else it can open as text.
#include <windows.h>

#include <string>
#include <vector>

#include "platform/file_reading.h"
#include "platform/profile_string.h"

namespace platform {

std::string getPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue, const std::string& path,
                                    size_t bufferSize)
{
    if (bufferSize == 0) {
        return std::string();  // no room even for the terminating zero
    }
    std::vector<char> buffer(bufferSize, '\0');
    DWORD n = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(), buffer.data(),
                                       static_cast<DWORD>(buffer.size()), path.c_str());
    return std::string(buffer.data(), n < buffer.size() ? n : buffer.size() - 1);
}

bool profileFileReadable(const std::string& path)
{
    InputFile in;
    return in.open(path) == FileOpenResult::Opened;
}

}  // namespace platform
