// Files read as data (the firmware images, Tarvo32.ini): opened for reading only, shared with
// other programs, and never waited for. Opening refuses anything that is not a regular file
// before it can block: a FIFO, a device (/dev/zero behind a link), a directory. The Windows build
// opens with CreateFileA (FILE_SHARE_READ | FILE_SHARE_WRITE) and checks GetFileType.
//
// Results: open gives FileOpenResult::Opened or the reason it did not; read a count (0 at the end
// or on a failure, which failed() then tells).
// Thread rule: one InputFile is used by one thread; different files from any thread.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class FileOpenResult {
    Opened,
    Missing,     // no such file (or a link to nothing)
    Denied,      // no permission to read it
    NotRegular,  // a directory, FIFO, socket or device
    Failed,      // any other failure of the open
};

class InputFile {
public:
    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    FileOpenResult open(const std::string& path);
    bool isOpen() const { return fd_ >= 0; }
    // Size in bytes when it was opened.
    uint64_t size() const { return size_; }
    // Up to n bytes from the current position; fewer only at the end of the file or when the
    // read failed.
    int read(void* buffer, int n);
    bool failed() const { return failed_; }
    // True when path names this very file, whatever the name (a link, another spelling).
    bool isSameFileAs(const std::string& path) const;
    void close();

private:
    int fd_ = -1;
    uint64_t size_ = 0;
    uint64_t device_ = 0;
    uint64_t inode_ = 0;
    bool failed_ = false;
};

}  // namespace platform
