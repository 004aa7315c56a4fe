// The Windows folders and the file calls the driver change makes on them: GetWindowsDirectoryA,
// GetSystemDirectoryA, FindFirstFileA / FindNextFileA / FindClose, DeleteFileA, CopyFileA,
// GetCurrentDirectoryA / SetCurrentDirectoryA, GetFileAttributesA, and reading the start of a file.
//
// On Linux the Windows folder is $TARVO_HOST/windows and the system folder its SYSTEM subfolder
// on the 9x family or SYSTEM32 on the NT family (the family TARVO_WINVER names); with no windows
// folder both calls fail. Both return host paths, so the code joins Windows path steps to them
// with backslashes, as it would on Windows. A path becomes a host path only where it touches the
// disk: backslashes and slashes both separate steps, a relative path starts at the current
// folder, and every step is matched without regard to case (an exact match first), so a delivery
// copied from a Windows medium as WIN98/DELFILE/INF serves for Win98\DelFile\Inf. Listing
// patterns take "*" (any run) and "?" (one character), also without regard to case; "*.*"
// matches every name, with or without a dot. A listing yields "." and ".." as Windows does, then
// the other entries in upper-cased name order.
//
// The current folder is the process's own (chdir): a change is seen by every thread.
//
// Results: the directory calls return the path's length, 0 on failure, or the size needed (with
// the terminating zero) when the buffer is too small; the others true / a handle for success.
// Thread rule: safe from any thread; a find handle is used by one thread at a time.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

constexpr uint32_t MaxPathChars = 260;  // MAX_PATH: the buffer every caller reads a folder into

uint32_t getWindowsDirectory(char* buffer, uint32_t bufferChars);
uint32_t getSystemDirectory(char* buffer, uint32_t bufferChars);

// One entry of a listing (WIN32_FIND_DATAA's cFileName and FILE_ATTRIBUTE_DIRECTORY).
struct FindData {
    std::string fileName;
    bool directory = false;
};

using FindHandle = intptr_t;
constexpr FindHandle InvalidFindHandle = -1;  // INVALID_HANDLE_VALUE

// Lists the folder of a pattern ("C:\x\*.*", "oem*.inf" in the current folder): the first
// matching entry, or InvalidFindHandle when the folder cannot be read or nothing matches.
FindHandle findFirstFile(const std::string& pattern, FindData* data);
// The next matching entry; false after the last.
bool findNextFile(FindHandle handle, FindData* data);
bool findClose(FindHandle handle);

// GetFileAttributesA: the attributes of a file or folder, InvalidFileAttributes when there is
// nothing at the path. Only the directory bit is kept apart; everything else is a plain file.
constexpr uint32_t FileAttributeDirectory = 0x10;  // FILE_ATTRIBUTE_DIRECTORY
constexpr uint32_t FileAttributeNormal = 0x80;     // FILE_ATTRIBUTE_NORMAL
constexpr uint32_t InvalidFileAttributes = 0xFFFFFFFFu;
uint32_t getFileAttributes(const std::string& path);

// Deletes one file (never a folder).
bool deleteFile(const std::string& path);
// Copies one file's bytes and permissions. failIfExists false replaces a target file; the
// target's folder must exist (none is made), and a folder is never copied. The target is
// written beside itself and renamed over the old one, so a failed copy leaves it as it was.
bool copyFile(const std::string& source, const std::string& target, bool failIfExists);

uint32_t getCurrentDirectory(uint32_t bufferChars, char* buffer);
bool setCurrentDirectory(const std::string& path);

// Up to maxBytes from the start of a file into bytes; false when it cannot be read.
bool readFileStart(const std::string& path, size_t maxBytes, std::string& bytes);

// The host path a Windows path stands for (absolute, steps matched as above; steps that match
// nothing keep their spelling); empty for a relative path when the current folder cannot be
// read. For messages that say which file was touched.
std::string hostPath(const std::string& path);

// True when the file a path names really lies inside the folder (the folder itself excluded):
// both resolved with every link in their folders followed, the path's last step followed only
// when followLast is set (a deletion or a replacing copy touches a link itself, a copy's source is
// read through it). False when either cannot be resolved. The driver change asks this before
// each deletion and copy, so a folder link cannot lead it outside the Windows folders.
bool liesInside(const std::string& path, const std::string& folder, bool followLast);

// A pattern match as the listing does it: "*" and "?", without regard to case, "*.*" for all.
bool matchesPattern(const std::string& name, const std::string& pattern);

}  // namespace platform
