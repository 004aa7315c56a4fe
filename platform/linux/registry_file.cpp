// The key store over $TARVO_HOST/registry.reg: handles name key paths, every call reads the file
// anew, every change is a locked read-modify-write replacing the file by rename.
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/host.h"
#include "platform/linux/reg_text.h"
#include "platform/registry.h"

namespace platform {

namespace {

constexpr const char* StoreFileName = "/registry.reg";
constexpr const char* LockFileSuffix = ".lock";        // registry.reg.lock: never renamed over
constexpr const char* TempFileSuffix = ".XXXXXX";      // registry.reg.XXXXXX, then renamed
constexpr const char* RootName = "HKEY_LOCAL_MACHINE";
constexpr mode_t NewStoreMode = 0644;
constexpr size_t ReadChunkBytes = 65536;

using Path = std::vector<std::string>;

std::mutex handlesMutex;
std::map<RegKey, Path> openKeys;  // guarded by handlesMutex
RegKey nextHandle = 1;            // guarded by handlesMutex

std::mutex noticeMutex;
std::set<std::string> noticesGiven;  // guarded by noticeMutex: "file:line" already reported

std::string storePath() { return hostDirectory() + StoreFileName; }

// The store as it is now. A missing file is an empty store; a file that cannot be read at all
// counts as unreadable from its first line, so it is never replaced.
regtext::Document readStore()
{
    std::string file = storePath();
    int fd = open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) {
            return regtext::Document{};
        }
        regtext::Document doc;
        doc.empty = false;
        doc.unreadable.push_back({1, std::strerror(errno)});
        return doc;
    }
    std::string text;
    bool failed = false;
    while (true) {
        char buf[ReadChunkBytes];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            failed = true;
        }
        if (n <= 0) {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    close(fd);
    regtext::Document doc = regtext::parse(text);
    if (failed) {
        doc.unreadable.push_back({1, std::strerror(errno)});
    }
    return doc;
}

bool writeAll(int fd, const std::string& text)
{
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Replaces the store by the document: a temporary file in the same folder, flushed, renamed.
bool replaceStore(const std::string& file, const regtext::Document& doc)
{
    std::string temp = file + TempFileSuffix;
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        return false;
    }
    struct stat old {};
    mode_t mode = stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewStoreMode;
    bool ok = fchmod(fd, mode) == 0 && writeAll(fd, regtext::write(doc)) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    if (ok && rename(temp.c_str(), file.c_str()) == 0) {
        return true;
    }
    unlink(temp.c_str());
    return false;
}

void makeFolders(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        mkdir(path.substr(0, slash).c_str(), 0755);
        if (slash == std::string::npos) {
            return;
        }
    }
}

// A change to the store: under the exclusive lock, the file as it is now goes through change,
// which returns RegOk to have the result written, or another result to leave the file alone.
template <typename Change>
int32_t changeStore(Change change)
{
    std::string host = hostDirectory();
    makeFolders(host);  // a fresh host folder; an existing one is left as it is
    std::string file = host + StoreFileName;
    std::string lockFile = file + LockFileSuffix;
    int lockFd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, NewStoreMode);
    if (lockFd < 0) {
        return RegAccessDenied;
    }
    int locked;
    do {
        locked = flock(lockFd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    int32_t result = RegAccessDenied;
    if (locked == 0) {
        regtext::Document doc = readStore();
        if (doc.unreadable.empty()) {
            result = change(doc);
            if (result == RegOk && !replaceStore(file, doc)) {
                result = RegAccessDenied;
            }
        }
    }
    close(lockFd);  // releases the lock
    return result;
}

std::optional<Path> keyPath(RegKey key)
{
    if (key == HkeyLocalMachine) {
        return Path{RootName};
    }
    std::lock_guard<std::mutex> lock(handlesMutex);
    auto it = openKeys.find(key);
    if (it == openKeys.end()) {
        return std::nullopt;
    }
    return it->second;
}

Path below(Path path, const std::string& subKey)
{
    for (std::string& part : regtext::splitPath(subKey)) {
        path.push_back(std::move(part));
    }
    return path;
}

RegKey newHandle(const Path& path)
{
    std::lock_guard<std::mutex> lock(handlesMutex);
    while (nextHandle == 0 || nextHandle == HkeyLocalMachine || openKeys.count(nextHandle)) {
        ++nextHandle;
    }
    RegKey key = nextHandle++;
    openKeys[key] = path;
    return key;
}

}  // namespace

int32_t regOpenKeyEx(RegKey parent, const std::string& subKey, RegKey* result)
{
    std::optional<Path> base = keyPath(parent);
    if (!base || !result) {
        return base ? RegInvalidParameter : RegInvalidHandle;
    }
    Path path = below(*base, subKey);
    if (!regtext::keyExists(readStore(), path)) {
        return RegNotFound;
    }
    *result = newHandle(path);
    return RegOk;
}

int32_t regCreateKeyEx(RegKey parent, const std::string& subKey, RegKey* result)
{
    std::optional<Path> base = keyPath(parent);
    if (!base || !result) {
        return base ? RegInvalidParameter : RegInvalidHandle;
    }
    Path path = below(*base, subKey);
    if (!regtext::keyExists(readStore(), path)) {
        int32_t made = changeStore([&](regtext::Document& doc) {
            regtext::createKey(doc, path);
            return RegOk;
        });
        if (made != RegOk) {
            return made;
        }
    }
    *result = newHandle(path);
    return RegOk;
}

int32_t regEnumKeyEx(RegKey key, uint32_t index, char* name, uint32_t* nameChars)
{
    std::optional<Path> path = keyPath(key);
    if (!path) {
        return RegInvalidHandle;
    }
    if (!name || !nameChars) {
        return RegInvalidParameter;
    }
    std::vector<std::string> names = regtext::subkeyNames(readStore(), *path);
    if (index >= names.size()) {
        return RegNoMoreItems;
    }
    const std::string& found = names[index];
    if (found.size() + 1 > *nameChars) {
        return RegMoreData;
    }
    std::memcpy(name, found.c_str(), found.size() + 1);
    *nameChars = static_cast<uint32_t>(found.size());
    return RegOk;
}

int32_t regQueryValueEx(RegKey key, const std::string& valueName, uint32_t* type, uint8_t* data,
                        uint32_t* dataBytes)
{
    std::optional<Path> path = keyPath(key);
    if (!path) {
        return RegInvalidHandle;
    }
    if (data && !dataBytes) {
        return RegInvalidParameter;
    }
    regtext::Document doc = readStore();
    const regtext::Value* value = regtext::findValue(doc, *path, valueName);
    if (!value) {
        return RegNotFound;
    }
    if (type) {
        *type = value->type;
    }
    if (!dataBytes) {
        return RegOk;
    }
    uint32_t size = static_cast<uint32_t>(value->data.size());
    uint32_t room = *dataBytes;
    *dataBytes = size;
    if (!data) {
        return RegOk;
    }
    if (size > room) {
        return RegMoreData;
    }
    if (size) {
        std::memcpy(data, value->data.data(), size);
    }
    return RegOk;
}

int32_t regSetValueEx(RegKey key, const std::string& valueName, uint32_t type, const uint8_t* data,
                      uint32_t dataBytes)
{
    std::optional<Path> path = keyPath(key);
    if (!path) {
        return RegInvalidHandle;
    }
    if (!data && dataBytes) {
        return RegInvalidParameter;
    }
    regtext::Value value{valueName, type, std::vector<uint8_t>(data, data + dataBytes)};
    return changeStore([&](regtext::Document& doc) {
        if (!regtext::keyExists(doc, *path)) {
            return RegKeyDeleted;
        }
        regtext::setValue(doc, *path, value);
        return RegOk;
    });
}

int32_t regDeleteValue(RegKey key, const std::string& valueName)
{
    std::optional<Path> path = keyPath(key);
    if (!path) {
        return RegInvalidHandle;
    }
    if (!regtext::findValue(readStore(), *path, valueName)) {
        return RegNotFound;  // nothing to change: no lock, no rewrite
    }
    return changeStore([&](regtext::Document& doc) {
        return regtext::deleteValue(doc, *path, valueName) ? RegOk : RegNotFound;
    });
}

int32_t regDeleteKey(RegKey parent, const std::string& subKey)
{
    std::optional<Path> base = keyPath(parent);
    if (!base) {
        return RegInvalidHandle;
    }
    Path path = below(*base, subKey);
    if (path.size() == base->size()) {
        return RegInvalidParameter;  // the key deletes a key below it, never itself
    }
    if (!regtext::keyExists(readStore(), path)) {
        return RegNotFound;
    }
    return changeStore([&](regtext::Document& doc) {
        return regtext::deleteKey(doc, path) ? RegOk : RegNotFound;
    });
}

int32_t regCloseKey(RegKey key)
{
    if (key == HkeyLocalMachine) {
        return RegOk;
    }
    std::lock_guard<std::mutex> lock(handlesMutex);
    return openKeys.erase(key) ? RegOk : RegInvalidHandle;
}

std::string regUnreadableNotice()
{
    regtext::Document doc = readStore();
    if (doc.unreadable.empty()) {
        return std::string();
    }
    const regtext::UnreadableLine& bad = doc.unreadable.front();
    std::string file = storePath();
    std::lock_guard<std::mutex> lock(noticeMutex);
    if (!noticesGiven.insert(file + ":" + std::to_string(bad.lineNumber)).second) {
        return std::string();
    }
    return file + ": line " + std::to_string(bad.lineNumber) + " could not be read (" + bad.text +
           "); the key store reads the rest and will not change this file";
}

}  // namespace platform
