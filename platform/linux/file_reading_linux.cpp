#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/file_reading.h"

namespace platform {

InputFile::~InputFile() { close(); }

FileOpenResult InputFile::open(const std::string& path)
{
    close();
    failed_ = false;
    if (path.empty()) {
        return FileOpenResult::Missing;
    }
    // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer for good. The
    // flag is cleared again once the file is known to be a regular one.
    int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        switch (errno) {
        case ENOENT:
        case ENOTDIR: return FileOpenResult::Missing;
        case EACCES:
        case EPERM: return FileOpenResult::Denied;
        case ENXIO:  // a FIFO or socket with nobody on the other side
        case EISDIR: return FileOpenResult::NotRegular;
        default: return FileOpenResult::Failed;
        }
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        ::close(fd);
        return FileOpenResult::Failed;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return FileOpenResult::NotRegular;
    }
    int flags = fcntl(fd, F_GETFL);
    if (flags >= 0) {
        fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    }
    fd_ = fd;
    size_ = static_cast<uint64_t>(st.st_size);
    device_ = static_cast<uint64_t>(st.st_dev);
    inode_ = static_cast<uint64_t>(st.st_ino);
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
        ssize_t got = ::read(fd_, out + done, static_cast<size_t>(n - done));
        if (got > 0) {
            done += static_cast<int>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) {
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
    struct stat st {};
    // stat, not open: it never waits, whatever the name leads to.
    return fd_ >= 0 && !path.empty() && ::stat(path.c_str(), &st) == 0 &&
           static_cast<uint64_t>(st.st_dev) == device_ && static_cast<uint64_t>(st.st_ino) == inode_;
}

void InputFile::close()
{
    if (fd_ >= 0) {
        ::close(fd_);
        fd_ = -1;
    }
    size_ = 0;
}

}  // namespace platform
