// The Windows folders below $TARVO_HOST/windows, and the Win32 file calls over POSIX ones with
// Windows path rules: backslashes, relative paths from the current folder, names matched without
// regard to case.
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/ascii_case.h"
#include "platform/linux/host_paths.h"
#include "platform/windows_version.h"
#include "platform/windows_folders.h"

namespace platform {

namespace {

constexpr const char* WindowsFolderName = "windows";
constexpr const char* SystemFolder9x = "SYSTEM";
constexpr const char* SystemFolderNt = "SYSTEM32";
constexpr uint32_t Win9xPlatformId = 1;  // VER_PLATFORM_WIN32_WINDOWS
constexpr const char* CopySuffix = ".tarvo-copy-XXXXXX";  // the copy's name until it is complete
constexpr size_t CopyChunkBytes = 64 * 1024;

// The sort key of a listing: names upper-cased as NTFS orders them.
std::string upperCase(std::string s)
{
    for (char& c : s) {
        c = (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return s;
}

bool isSeparator(char c) { return c == '\\' || c == '/'; }

bool exists(const std::string& path)
{
    struct stat st{};
    return lstat(path.c_str(), &st) == 0;
}

bool isDirectory(const std::string& path)
{
    struct stat st{};
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::string currentFolder()
{
    std::string buffer(256, '\0');
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr) {
            buffer.resize(std::strlen(buffer.c_str()));
            return buffer;
        }
        if (errno != ERANGE) {
            return std::string();
        }
        buffer.resize(buffer.size() * 2);
    }
}

// Listing order: upper-cased (as NTFS lists), then byte order, so two names that differ only in
// case come out the same way every time.
bool listedBefore(const std::string& a, const std::string& upperA, const std::string& b, const std::string& upperB)
{
    return upperA != upperB ? upperA < upperB : a < b;
}

// The entry names of a host folder that match the listing pattern, "." and ".." left out, in listing order; empty when it cannot be read. Each name is upper-cased once, so a
// large folder costs its sort, not an allocation per comparison.
std::vector<std::string> entryNames(const std::string& folder, const std::string& pattern)
{
    std::vector<std::pair<std::string, std::string>> keyed;  // upper-cased, name
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    while (const dirent* entry = readdir(dir)) {
        std::string name = entry->d_name;
        if (name != "." && name != ".." && matchesPattern(name, pattern)) {
            keyed.emplace_back(upperCase(name), std::move(name));
        }
    }
    closedir(dir);
    std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) {
        return listedBefore(a.second, a.first, b.second, b.first);
    });
    std::vector<std::string> names;
    names.reserve(keyed.size());
    for (auto& [upper, name] : keyed) {
        names.push_back(std::move(name));
    }
    return names;
}

std::string foldedName(std::string_view name)
{
    std::string folded(name);
    for (char& c : folded) {
        c = platform::asciiLower(c);
    }
    return folded;
}

// A folder's names by their case-folded spelling, kept while the folder is the same version (the
// same folder, not changed since) and brought up to date by this process's own deletions and
// copies, so that matching the names of a large folder one after the other costs one listing,
// not one listing per name. Folder times advance in steps of a few milliseconds: a listing made
// within FolderTimeGrainNs of the folder's last change is used once and not kept, and a change
// another process makes within that time of one of ours is seen with the folder's next change.
constexpr long long FolderTimeGrainNs = 20LL * 1000 * 1000;
struct FolderNames {
    bool settled = true;  // false: listed too soon after a change to be kept
    dev_t device = 0;
    ino_t inode = 0;
    timespec modified{};
    std::unordered_map<std::string, std::vector<std::string>> byFolded;
};
constexpr size_t FolderNamesKept = 16;
std::mutex folderNamesLock;
std::map<std::string, FolderNames> folderNames;  // guarded by folderNamesLock; by host folder

bool sameFolderVersion(const FolderNames& names, const struct stat& st)
{
    return names.device == st.st_dev && names.inode == st.st_ino && names.modified.tv_sec == st.st_mtim.tv_sec &&
           names.modified.tv_nsec == st.st_mtim.tv_nsec;
}

void setFolderVersion(FolderNames& names, const struct stat& st)
{
    names.device = st.st_dev;
    names.inode = st.st_ino;
    names.modified = st.st_mtim;
}

// The entry of a host folder that a Windows name means: the exact name when it exists, else the
// first one in listing order equal to it without regard to case, else the name as written.
std::string entryFor(const std::string& folder, const std::string& name)
{
    std::string exact = folder + (folder == "/" ? "" : "/") + name;
    if (exists(exact)) {
        return name;
    }
    struct stat st {};
    if (stat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return name;
    }
    std::lock_guard<std::mutex> hold(folderNamesLock);
    auto it = folderNames.find(folder);
    if (it == folderNames.end() || !it->second.settled || !sameFolderVersion(it->second, st)) {
        if (it == folderNames.end() && folderNames.size() >= FolderNamesKept) {
            folderNames.clear();
        }
        FolderNames fresh;
        setFolderVersion(fresh, st);
        timespec now {};
        clock_gettime(CLOCK_REALTIME, &now);
        fresh.settled = (now.tv_sec - st.st_mtim.tv_sec) * 1000000000LL + (now.tv_nsec - st.st_mtim.tv_nsec) >=
                        FolderTimeGrainNs;
        if (DIR* dir = opendir(folder.c_str())) {
            while (const dirent* entry = readdir(dir)) {
                fresh.byFolded[foldedName(entry->d_name)].emplace_back(entry->d_name);
            }
            closedir(dir);
        }
        it = folderNames.insert_or_assign(folder, std::move(fresh)).first;
    }
    auto found = it->second.byFolded.find(foldedName(name));
    if (found == it->second.byFolded.end() || found->second.empty()) {
        return name;
    }
    const std::string upperName = upperCase(name);
    const std::string* best = &found->second.front();
    for (const std::string& candidate : found->second) {
        if (listedBefore(candidate, upperName, *best, upperName)) {
            best = &candidate;
        }
    }
    return *best;
}

// This process removed or added a name in a folder: the kept names follow, when they were
// up to date before.
void noteFolderChange(const std::string& folder, const std::string& name, bool added,
                      const struct stat& before)
{
    struct stat after {};
    std::lock_guard<std::mutex> hold(folderNamesLock);
    auto it = folderNames.find(folder);
    if (it == folderNames.end()) {
        return;
    }
    if (!sameFolderVersion(it->second, before) || stat(folder.c_str(), &after) != 0) {
        folderNames.erase(it);
        return;
    }
    std::vector<std::string>& names = it->second.byFolded[foldedName(name)];
    auto same = std::find(names.begin(), names.end(), name);
    if (added && same == names.end()) {
        names.push_back(name);
    } else if (!added && same != names.end()) {
        names.erase(same);
    }
    setFolderVersion(it->second, after);
}

// Splits at the last separator: the folder part (empty when there is none) and the last step.
void splitLast(const std::string& path, std::string& folder, std::string& last)
{
    size_t cut = path.find_last_of("\\/");
    if (cut == std::string::npos) {
        folder.clear();
        last = path;
    } else {
        folder = path.substr(0, cut + 1);
        last = path.substr(cut + 1);
    }
}

// Both calls fill a caller buffer the Win32 way.
uint32_t fillBuffer(const std::string& path, char* buffer, uint32_t bufferChars)
{
    if (path.empty()) {
        return 0;
    }
    const uint32_t needed = static_cast<uint32_t>(path.size()) + 1;
    if (buffer == nullptr || bufferChars < needed) {
        return needed;
    }
    std::memcpy(buffer, path.c_str(), needed);
    return needed - 1;
}

std::string windowsFolder()
{
    std::string folder = hostPath(hostDirectory() + "/" + WindowsFolderName);
    return isDirectory(folder) ? folder : std::string();
}

struct Listing {
    std::vector<FindData> entries;
    size_t next = 0;
};

std::mutex listingsLock;
std::map<FindHandle, Listing> listings;
FindHandle nextHandle = 1;

bool copyBytes(int from, int to)
{
    std::vector<char> chunk(CopyChunkBytes);
    for (;;) {
        ssize_t n = read(from, chunk.data(), chunk.size());
        if (n == 0) {
            return true;
        }
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        for (ssize_t done = 0; done < n;) {
            ssize_t w = write(to, chunk.data() + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                return false;
            }
            done += w;
        }
    }
}

}  // namespace

std::string hostPath(const std::string& path)
{
    std::string full = path;
    if (full.empty() || !isSeparator(full.front())) {
        // Without a current folder a relative path means nothing; "/" would be a wrong guess.
        const std::string current = currentFolder();
        if (current.empty()) {
            return std::string();
        }
        full = current + "/" + full;
    }
    std::vector<std::string> steps;
    size_t begin = 0;
    while (begin <= full.size()) {
        size_t end = begin;
        while (end < full.size() && !isSeparator(full[end])) {
            ++end;
        }
        std::string step = full.substr(begin, end - begin);
        if (step == "..") {
            if (!steps.empty()) {
                steps.pop_back();
            }
        } else if (!step.empty() && step != ".") {
            steps.push_back(step);
        }
        begin = end + 1;
    }
    std::string result = "/";
    bool found = true;
    for (const std::string& step : steps) {
        // Below a step that matched nothing nothing can match either.
        std::string name = found ? entryFor(result, step) : step;
        found = found && exists(result + (result == "/" ? "" : "/") + name);
        result += (result == "/" ? "" : "/") + name;
    }
    return result;
}

uint32_t getWindowsDirectory(char* buffer, uint32_t bufferChars)
{
    return fillBuffer(windowsFolder(), buffer, bufferChars);
}

uint32_t getSystemDirectory(char* buffer, uint32_t bufferChars)
{
    std::string windows = windowsFolder();
    if (windows.empty()) {
        return 0;
    }
    WindowsVersion version = windowsVersion();
    const bool win9x = version.ok && version.platformId == Win9xPlatformId;
    return fillBuffer(hostPath(windows + "/" + (win9x ? SystemFolder9x : SystemFolderNt)), buffer, bufferChars);
}

FindHandle findFirstFile(const std::string& pattern, FindData* data)
{
    std::string folderPart;
    std::string namePattern;
    splitLast(pattern, folderPart, namePattern);
    const std::string folder = hostPath(folderPart.empty() ? "." : folderPart);
    if (!isDirectory(folder)) {
        return InvalidFindHandle;
    }
    Listing listing;
    for (const char* dots : {".", ".."}) {
        if (matchesPattern(dots, namePattern)) {
            listing.entries.push_back(FindData{dots, true});
        }
    }
    for (const std::string& name : entryNames(folder, namePattern)) {
        listing.entries.push_back(FindData{name, isDirectory(folder + "/" + name)});
    }
    if (listing.entries.empty()) {
        return InvalidFindHandle;
    }
    if (data != nullptr) {
        *data = listing.entries.front();
    }
    listing.next = 1;
    std::lock_guard<std::mutex> hold(listingsLock);
    FindHandle handle = nextHandle++;
    listings.emplace(handle, std::move(listing));
    return handle;
}

bool findNextFile(FindHandle handle, FindData* data)
{
    std::lock_guard<std::mutex> hold(listingsLock);
    auto it = listings.find(handle);
    if (it == listings.end() || it->second.next >= it->second.entries.size()) {
        return false;
    }
    if (data != nullptr) {
        *data = it->second.entries[it->second.next];
    }
    ++it->second.next;
    return true;
}

bool findClose(FindHandle handle)
{
    std::lock_guard<std::mutex> hold(listingsLock);
    return listings.erase(handle) == 1;
}

uint32_t getFileAttributes(const std::string& path)
{
    // A link counts as what it leads to; one leading nowhere is still a file DeleteFileA takes.
    const std::string host = hostPath(path);
    if (!exists(host)) {
        return InvalidFileAttributes;
    }
    return isDirectory(host) ? FileAttributeDirectory : FileAttributeNormal;
}

bool deleteFile(const std::string& path)
{
    std::string host = hostPath(path);
    struct stat st{};
    // A link is deleted as itself; a folder is never a file.
    if (lstat(host.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) {
        return false;
    }
    std::string folder;
    std::string name;
    splitLast(host, folder, name);
    folder = folder.size() > 1 ? folder.substr(0, folder.size() - 1) : folder;
    struct stat before {};
    const bool known = stat(folder.c_str(), &before) == 0;
    if (unlink(host.c_str()) != 0) {
        return false;
    }
    if (known) {
        noteFolderChange(folder, name, false, before);
    }
    return true;
}

bool copyFile(const std::string& source, const std::string& target, bool failIfExists)
{
    const std::string from = hostPath(source);
    const std::string to = hostPath(target);
    struct stat sourceStat{};
    if (stat(from.c_str(), &sourceStat) != 0 || !S_ISREG(sourceStat.st_mode)) {
        return false;
    }
    std::string targetFolder;
    std::string targetName;
    splitLast(to, targetFolder, targetName);
    if (targetName.empty() || !isDirectory(targetFolder) || isDirectory(to) || (failIfExists && exists(to))) {
        return false;
    }
    int in = open(from.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        return false;
    }
    std::string temporary = to + CopySuffix;
    int out = mkostemp(temporary.data(), O_CLOEXEC);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = copyBytes(in, out) && fchmod(out, sourceStat.st_mode & 07777) == 0;
    close(in);
    ok = close(out) == 0 && ok;
    // Renaming replaces a link at the target rather than writing through it.
    const std::string folder = targetFolder.size() > 1 ? targetFolder.substr(0, targetFolder.size() - 1) : targetFolder;
    struct stat before {};
    const bool known = ok && stat(folder.c_str(), &before) == 0;
    ok = ok && rename(temporary.c_str(), to.c_str()) == 0;
    if (ok && known) {
        noteFolderChange(folder, targetName, true, before);
    }
    if (!ok) {
        unlink(temporary.c_str());
    }
    return ok;
}

uint32_t getCurrentDirectory(uint32_t bufferChars, char* buffer)
{
    return fillBuffer(currentFolder(), buffer, bufferChars);
}

bool setCurrentDirectory(const std::string& path)
{
    return chdir(hostPath(path).c_str()) == 0;
}

bool readFileStart(const std::string& path, size_t maxBytes, std::string& bytes)
{
    bytes.clear();
    int fd = open(hostPath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bytes.resize(maxBytes);
    size_t got = 0;
    bool ok = true;
    while (got < maxBytes) {
        ssize_t n = read(fd, bytes.data() + got, maxBytes - got);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            ok = n == 0;
            break;
        }
        got += static_cast<size_t>(n);
    }
    close(fd);
    bytes.resize(got);
    return ok;
}

bool liesInside(const std::string& path, const std::string& folder, bool followLast)
{
    auto real = [](const std::string& host) {
        char* resolved = realpath(host.c_str(), nullptr);
        std::string out = resolved ? resolved : "";
        std::free(resolved);
        return out;
    };
    const std::string base = real(hostPath(folder));
    const std::string host = hostPath(path);
    std::string full;
    if (followLast) {
        full = real(host);
    } else {
        std::string parent;
        std::string last;
        splitLast(host, parent, last);
        const std::string realParent = last.empty() || last == "." || last == ".." ? std::string() : real(parent);
        full = realParent.empty() ? std::string() : realParent + (realParent == "/" ? "" : "/") + last;
    }
    if (base.empty() || full.empty()) {
        return false;
    }
    return full.size() > base.size() + 1 && full.compare(0, base.size(), base) == 0 &&
           (base == "/" || full[base.size()] == '/');
}

}  // namespace platform
