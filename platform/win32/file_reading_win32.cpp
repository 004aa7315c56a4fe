// Files read as data on Windows: CreateFileA shared for reading and writing, nothing but a disk
// file accepted (GetFileType), the handle then read through a C runtime descriptor so the class
// keeps one shape on every host. The volume serial number and file index stand for the Linux
// device and inode numbers.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include "platform/file_reading.h"

namespace platform {

namespace {

// The identity of an open file: the volume and the file's index on it.
bool identityOf(HANDLE h, uint64_t* size, uint64_t* volume, uint64_t* index)
{
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(h, &info)) {
        return false;
    }
    if (size) {
        *size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    }
    *volume = info.dwVolumeSerialNumber;
    *index = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

FileOpenResult reasonOf(DWORD error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_NETPATH: return FileOpenResult::Missing;
    case ERROR_ACCESS_DENIED: return FileOpenResult::Denied;
    case ERROR_PIPE_BUSY: return FileOpenResult::NotRegular;
    default: return FileOpenResult::Failed;
    }
}

}  // namespace

InputFile::~InputFile() { close(); }

FileOpenResult InputFile::open(const std::string& path)
{
    close();
    failed_ = false;
    if (path.empty()) {
        return FileOpenResult::Missing;
    }
    // A folder cannot be opened without backup semantics and would read as "access denied":
    // tell it apart first.
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return FileOpenResult::NotRegular;
    }
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return reasonOf(GetLastError());
    }
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return FileOpenResult::NotRegular;
    }
    uint64_t size = 0;
    uint64_t volume = 0;
    uint64_t index = 0;
    if (!identityOf(h, &size, &volume, &index)) {
        CloseHandle(h);
        return FileOpenResult::Failed;
    }
    int fd = _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDONLY | _O_BINARY);
    if (fd < 0) {
        CloseHandle(h);
        return FileOpenResult::Failed;
    }
    fd_ = fd;
    size_ = size;
    device_ = volume;
    inode_ = index;
    return FileOpenResult::Opened;
}

int InputFile::read(void* buffer, int n)
{
    if (fd_ < 0 || n <= 0) {
        return 0;
    }
    int done = 0;
    auto* out = static_cast<char*>(buffer);
    while (done < n) {
        int got = _read(fd_, out + done, static_cast<unsigned>(n - done));
        if (got > 0) {
            done += got;
            continue;
        }
        if (got < 0) {
            failed_ = true;
        }
        break;
    }
    return done;
}

bool InputFile::isSameFileAs(const std::string& path) const
{
    if (fd_ < 0 || path.empty()) {
        return false;
    }
    // Attributes only: opening this way never waits and needs no read permission.
    HANDLE h = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
                           FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        return false;
    }
    uint64_t volume = 0;
    uint64_t index = 0;
    const bool same = identityOf(h, nullptr, &volume, &index) && volume == device_ && index == inode_;
    CloseHandle(h);
    return same;
}

void InputFile::close()
{
    if (fd_ >= 0) {
        _close(fd_);  // closes the handle too
        fd_ = -1;
    }
    size_ = 0;
}

}  // namespace platform
