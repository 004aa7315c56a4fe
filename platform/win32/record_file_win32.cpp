// The record file beside the executable. Opening it for writing without FILE_SHARE_WRITE is the
// machine-wide lock: a second writer's CreateFileA fails with a sharing violation until the first
// has closed it, on every Windows from 95 on, and readers (sharing read and write) are never in
// the way. Plain kernel32 calls only, all of them exported by Windows 95.
#include <windows.h>

#include "platform/executable_path.h"
#include "platform/record_file.h"

namespace platform {

namespace {

constexpr DWORD ReadChunkBytes = 65536;

std::string errorText(const std::string& path, DWORD error)
{
    switch (error) {
    case ERROR_ACCESS_DENIED: return path + ": access denied";
    case ERROR_WRITE_PROTECT: return path + ": the disk is write-protected";
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return path + ": the disk is full";
    case ERROR_PATH_NOT_FOUND: return path + ": the folder does not exist";
    default: return path + ": Windows error " + std::to_string(error);
    }
}

bool busy(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

bool writeWhole(HANDLE file, const std::string& bytes)
{
    DWORD done = 0;
    while (done < bytes.size()) {
        DWORD written = 0;
        if (!WriteFile(file, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written, nullptr) ||
            written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

std::string recordFilePath()
{
    std::string exe = executablePath();
    std::string::size_type slash = exe.find_last_of("\\/");
    return (slash == std::string::npos ? std::string() : exe.substr(0, slash + 1)) + RecordFileName;
}

bool appendRecordLine(const std::string& line, std::string* why)
{
    const std::string path = recordFilePath();
    auto failed = [&](DWORD error) {
        if (why) {
            *why = errorText(path, error);
        }
        return false;
    };
    HANDLE file = INVALID_HANDLE_VALUE;
    const DWORD start = GetTickCount();
    for (;;) {
        file = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file != INVALID_HANDLE_VALUE) {
            break;
        }
        DWORD error = GetLastError();
        if (!busy(error)) {
            return failed(error);
        }
        if (GetTickCount() - start >= RecordLockWaitMs) {
            if (why) {
                *why = path + ": another program held it for more than " + std::to_string(RecordLockWaitMs / 1000) +
                       " s";
            }
            return false;
        }
        Sleep(RecordLockRetryMs);
    }
    std::string bytes;
    DWORD sizeHigh = 0;
    DWORD size = GetFileSize(file, &sizeHigh);
    if (size != 0 || sizeHigh != 0) {
        LONG lastHigh = static_cast<LONG>(sizeHigh);
        DWORD lastLow = size - 1;
        if (size == 0) {
            --lastHigh;  // the last byte lies just below a 4 GiB boundary
        }
        char last = '\n';
        DWORD got = 0;
        if (SetFilePointer(file, static_cast<LONG>(lastLow), &lastHigh, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
            ReadFile(file, &last, 1, &got, nullptr) && got == 1 && last != '\n') {
            bytes += '\n';  // the last append was torn: this one starts on a line of its own
        }
    }
    bytes += line;
    bytes += '\n';
    LONG endHigh = 0;
    bool ok = SetFilePointer(file, 0, &endHigh, FILE_END) != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
    ok = ok && writeWhole(file, bytes) && FlushFileBuffers(file);
    DWORD error = ok ? NO_ERROR : GetLastError();
    CloseHandle(file);
    return ok ? true : failed(error);
}

RecordRead readRecordFile(std::string& content, std::string* why)
{
    content.clear();
    const std::string path = recordFilePath();
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) {
            return RecordRead::Missing;
        }
        if (why) {
            *why = errorText(path, error);
        }
        return RecordRead::Failed;
    }
    char chunk[ReadChunkBytes];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file, chunk, sizeof chunk, &got, nullptr)) {
            DWORD error = GetLastError();
            CloseHandle(file);
            if (why) {
                *why = errorText(path, error);
            }
            return RecordRead::Failed;
        }
        if (got == 0) {
            break;
        }
        content.append(chunk, got);
    }
    CloseHandle(file);
    return RecordRead::Read;
}

}  // namespace platform
