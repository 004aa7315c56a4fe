// The Windows folders and file calls as Windows gives them: each function is the Win32 call of
// the same name. Windows matches names and patterns without regard to case itself.
#include <algorithm>
#include <windows.h>

#include "platform/ascii_case.h"
#include "platform/windows_folders.h"

namespace platform {

namespace {

void fill(const WIN32_FIND_DATAA& found, FindData* data)
{
    if (data) {
        data->fileName = found.cFileName;
        data->directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }
}

constexpr DWORD ReadChunkBytes = 64 * 1024;

}  // namespace

uint32_t getWindowsDirectory(char* buffer, uint32_t bufferChars)
{
    return GetWindowsDirectoryA(buffer, bufferChars);
}

uint32_t getSystemDirectory(char* buffer, uint32_t bufferChars)
{
    return GetSystemDirectoryA(buffer, bufferChars);
}

FindHandle findFirstFile(const std::string& pattern, FindData* data)
{
    WIN32_FIND_DATAA found{};
    HANDLE h = FindFirstFileA(pattern.c_str(), &found);
    if (h == INVALID_HANDLE_VALUE) {
        return InvalidFindHandle;
    }
    fill(found, data);
    return reinterpret_cast<FindHandle>(h);
}

bool findNextFile(FindHandle handle, FindData* data)
{
    WIN32_FIND_DATAA found{};
    if (handle == InvalidFindHandle || !FindNextFileA(reinterpret_cast<HANDLE>(handle), &found)) {
        return false;
    }
    fill(found, data);
    return true;
}

bool findClose(FindHandle handle)
{
    return handle != InvalidFindHandle && FindClose(reinterpret_cast<HANDLE>(handle));
}

uint32_t getFileAttributes(const std::string& path)
{
    return GetFileAttributesA(path.c_str());
}

bool deleteFile(const std::string& path) { return DeleteFileA(path.c_str()) != FALSE; }

bool copyFile(const std::string& source, const std::string& target, bool failIfExists)
{
    return CopyFileA(source.c_str(), target.c_str(), failIfExists ? TRUE : FALSE) != FALSE;
}

uint32_t getCurrentDirectory(uint32_t bufferChars, char* buffer)
{
    return GetCurrentDirectoryA(bufferChars, buffer);
}

bool setCurrentDirectory(const std::string& path) { return SetCurrentDirectoryA(path.c_str()) != FALSE; }

bool readFileStart(const std::string& path, size_t maxBytes, std::string& bytes)
{
    bytes.clear();
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    bytes.resize(maxBytes);
    size_t got = 0;
    bool ok = true;
    while (got < maxBytes) {
        const DWORD want = static_cast<DWORD>(std::min<size_t>(maxBytes - got, ReadChunkBytes));
        DWORD n = 0;
        if (!ReadFile(h, bytes.data() + got, want, &n, nullptr)) {
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
        got += n;
    }
    CloseHandle(h);
    bytes.resize(got);
    return ok;
}

std::string hostPath(const std::string& path)
{
    std::string full(MaxPathChars, '\0');
    DWORD n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    if (n >= full.size()) {
        // Too long for MAX_PATH: n is the size needed, the terminating zero included.
        full.resize(n);
        n = GetFullPathNameA(path.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
    }
    if (n == 0 || n >= full.size()) {
        return std::string();
    }
    full.resize(n);
    return full;
}

bool liesInside(const std::string& path, const std::string& folder, bool /*followLast*/)
{
    // The Windows folders hold no links of their own on the systems this program serves: the
    // full paths tell.
    const std::string full = hostPath(path);
    std::string base = hostPath(folder);
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) {
        base.pop_back();
    }
    return !full.empty() && !base.empty() && full.size() > base.size() + 1 &&
           equalsNoCase(std::string_view(full).substr(0, base.size()), base) &&
           (full[base.size()] == '\\' || full[base.size()] == '/');
}

}  // namespace platform
