// The record file in the host folder, appended under flock on a lock file beside it. Both are
// opened with O_NOFOLLOW: a link planted in their place is refused, never written through.
#include "platform/record_file.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/linux/host_paths.h"

namespace platform {

namespace {

constexpr const char* LockFileName = "upgrades.lock";
constexpr mode_t RecordFileMode = 0644;
constexpr size_t ReadChunkBytes = 65536;

std::string errorText(int error) { return std::strerror(error); }

// A descriptor closed with its owner.
class Fd {
public:
    explicit Fd(int fd = -1) : fd_(fd) {}
    ~Fd()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

std::string lockFilePath() { return hostDirectory() + "/" + LockFileName; }

// flock in steps, so a writer that hangs costs an upload's end at most RecordLockWaitMs.
bool takeLock(int fd, int how)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(RecordLockWaitMs);
    for (;;) {
        if (flock(fd, how | LOCK_NB) == 0) {
            return true;
        }
        if (errno != EWOULDBLOCK && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            errno = EWOULDBLOCK;
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(RecordLockRetryMs));
    }
}

bool writeWhole(int fd, const std::string& bytes)
{
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// A new file's name is on the disk only once its folder is.
void syncFolder(const std::string& folder)
{
    Fd dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (dir.get() >= 0) {
        fsync(dir.get());
    }
}

}  // namespace

std::string recordFilePath() { return hostDirectory() + "/" + RecordFileName; }

bool appendRecordLine(const std::string& line, std::string* why)
{
    const std::string folder = hostDirectory();
    const std::string path = recordFilePath();
    auto failed = [&](const std::string& what) {
        if (why) {
            *why = what;
        }
        return false;
    };
    std::error_code ignored;
    std::filesystem::create_directories(folder, ignored);

    Fd lock(::open(lockFilePath().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, RecordFileMode));
    if (lock.get() < 0) {
        return failed(lockFilePath() + ": " + errorText(errno));
    }
    if (!takeLock(lock.get(), LOCK_EX)) {
        return failed(errno == EWOULDBLOCK ? lockFilePath() + ": another program held the lock for more than " +
                                                 std::to_string(RecordLockWaitMs / 1000) + " s"
                                           : lockFilePath() + ": " + errorText(errno));
    }
    Fd file(::open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, RecordFileMode));
    if (file.get() < 0) {
        return failed(path + ": " + errorText(errno));
    }
    struct stat info {};
    if (fstat(file.get(), &info) != 0) {
        return failed(path + ": " + errorText(errno));
    }
    if (!S_ISREG(info.st_mode)) {
        return failed(path + ": not a regular file");
    }
    std::string bytes;
    bytes.reserve(line.size() + 2);
    if (info.st_size > 0) {
        char last = '\n';
        if (pread(file.get(), &last, 1, info.st_size - 1) == 1 && last != '\n') {
            bytes += '\n';  // the last append was torn: this one starts on a line of its own
        }
    }
    bytes += line;
    bytes += '\n';
    if (!writeWhole(file.get(), bytes)) {
        return failed(path + ": " + errorText(errno));
    }
    if (fsync(file.get()) != 0) {
        return failed(path + ": " + errorText(errno));
    }
    if (info.st_size == 0) {
        syncFolder(folder);
    }
    return true;
}

RecordRead readRecordFile(std::string& content, std::string* why)
{
    content.clear();
    const std::string path = recordFilePath();
    // Read under the shared lock where there is one, so an append under way is not half read;
    // a reader that cannot lock (a read-only folder) still reads.
    Fd lock(::open(lockFilePath().c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (lock.get() >= 0) {
        takeLock(lock.get(), LOCK_SH);
    }
    Fd file(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno == ENOENT) {
            return RecordRead::Missing;
        }
        if (why) {
            *why = path + ": " + errorText(errno);
        }
        return RecordRead::Failed;
    }
    char chunk[ReadChunkBytes];
    for (;;) {
        ssize_t n = ::read(file.get(), chunk, sizeof chunk);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            if (why) {
                *why = path + ": " + errorText(errno);
            }
            return RecordRead::Failed;
        }
        if (n == 0) {
            return RecordRead::Read;
        }
        content.append(chunk, static_cast<size_t>(n));
    }
}

}  // namespace platform
