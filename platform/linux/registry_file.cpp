// The key store over $TARVO_HOST/registry.reg: handles name key paths, every call sees the file
// as it is now (read and parsed again only when it is another version of the file), every change
// is a locked read-modify-write replacing the file by rename, redone when the file changed
// meanwhile.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "platform/linux/host_paths.h"
#include "platform/linux/reg_text.h"
#include "platform/registry.h"
#include "platform/shown_text.h"

namespace platform {

namespace {

constexpr const char* StoreFileName = "registry.reg";
constexpr const char* LockFileSuffix = ".lock";        // registry.reg.lock: never renamed over
constexpr const char* TempFileSuffix = ".XXXXXX";      // registry.reg.XXXXXX, then renamed
constexpr size_t TempRandomChars = 6;                  // the X's mkstemp fills
constexpr const char* RootName = "HKEY_LOCAL_MACHINE";
constexpr mode_t NewStoreMode = 0644;
constexpr size_t ReadChunkBytes = 65536;
// A store is a text a person can edit; anything larger is not one (and a link to an endless
// device must not be read until memory runs out).
constexpr off_t MaxStoreBytes = 64 * 1024 * 1024;
constexpr const char* MaxStoreText = "64 MiB";
// A file that changes while it is read (a person's editor writing it in place) is read again
// this often before it counts as unreadable for this call.
constexpr int ReadAttempts = 8;
// A change is redone on the file as it is now when the file was replaced or edited between its
// reading and the rename; after this many tries the change fails rather than lose the edit.
constexpr int ChangeAttempts = 16;
// A temporary of a writer that was killed before its rename: removed by a later writer once it
// is this old (every live writer holds the lock while its temporary exists, so it is far younger).
constexpr time_t StaleTemporarySeconds = 60;
// File times come from a clock that advances in steps (a few milliseconds): a version read less
// than this after its time was set may still be rewritten with the same size and time, so it is
// not reused, and a writer compares its bytes before replacing it.
constexpr long ClockGrainNs = 20 * 1000 * 1000;
constexpr long NsPerSecond = 1000 * 1000 * 1000;
// The notice quotes at most this much of an unreadable line.
constexpr size_t NoticeQuoteBytes = 80;

using Path = std::vector<std::string>;

std::mutex handlesMutex;
std::map<RegKey, Path> openKeys;  // guarded by handlesMutex
RegKey nextHandle = 1;            // guarded by handlesMutex

std::mutex noticeMutex;
std::set<std::string> noticesGiven;  // guarded by noticeMutex: "file:line" already reported

// One version of the store file: the same file (device, inode) with the same size and times.
struct Version {
    bool present = false;  // false: there was no file
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    timespec modified{};
};

Version versionOf(const struct stat& st) { return Version{true, st.st_dev, st.st_ino, st.st_size, st.st_mtim}; }

bool sameTime(const timespec& a, const timespec& b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; }

bool sameVersion(const Version& a, const Version& b)
{
    if (!a.present || !b.present) {
        return a.present == b.present;
    }
    return a.device == b.device && a.inode == b.inode && a.size == b.size && sameTime(a.modified, b.modified);
}

// The store file as read once: its document, the index of its keys, and why the whole file is
// refused when it is not a store (reads then see nothing and writes fail).
struct Snapshot {
    std::string file;
    Version version;
    bool stable = true;  // false: the file changed while it was read; never reused
    bool racy = false;   // read within ClockGrainNs of its last change: its version may not tell
    std::string text;    // the bytes read
    std::string refusal;
    regtext::Document doc;
    regtext::KeyIndex index;
};
using SnapshotPtr = std::shared_ptr<const Snapshot>;

std::mutex cacheMutex;
SnapshotPtr cachedSnapshot;  // guarded by cacheMutex: the last version read

std::string storePath() { return hostDirectory() + "/" + StoreFileName; }

std::shared_ptr<Snapshot> refused(const std::string& file, const Version& version, const std::string& why)
{
    auto snapshot = std::make_shared<Snapshot>();
    snapshot->file = file;
    snapshot->version = version;
    snapshot->refusal = why;
    snapshot->doc.empty = false;
    snapshot->doc.unreadable.push_back({0, why});
    return snapshot;
}

// Why a file of this kind and size is no store, or empty when it may be one.
std::string kindRefusal(const struct stat& st)
{
    if (!S_ISREG(st.st_mode)) {
        return "it is not a regular file";
    }
    if (st.st_size > MaxStoreBytes) {
        return std::string("it is larger than ") + MaxStoreText;
    }
    return std::string();
}

// True when a file time lies at least ClockGrainNs before the moment of reading.
bool settledBefore(const timespec& fileTime, const timespec& readAt)
{
    const long long fileNs = static_cast<long long>(fileTime.tv_sec) * NsPerSecond + fileTime.tv_nsec;
    const long long readNs = static_cast<long long>(readAt.tv_sec) * NsPerSecond + readAt.tv_nsec;
    return readNs - fileNs >= ClockGrainNs;
}

// Reads the whole of an open regular file, at most MaxStoreBytes + 1 bytes; false on a read error.
bool readAll(int fd, std::string& text)
{
    text.clear();
    char buf[ReadChunkBytes];
    while (text.size() <= static_cast<size_t>(MaxStoreBytes)) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            return false;
        }
        if (n == 0) {
            break;
        }
        text.append(buf, static_cast<size_t>(n));
    }
    return true;
}

// The store file read and parsed now. Opening never waits (a FIFO put in its place would block
// an ordinary open) and nothing but a regular file of bounded size is read.
SnapshotPtr loadStore(const std::string& file)
{
    for (int attempt = 0;; ++attempt) {
        int fd = open(file.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == ENOENT) {
                auto none = std::make_shared<Snapshot>();
                none->file = file;
                return none;  // no file: an empty store
            }
            return refused(file, Version{}, std::strerror(errno));
        }
        struct stat before {};
        if (fstat(fd, &before) != 0) {
            int error = errno;
            close(fd);
            return refused(file, Version{}, std::strerror(error));
        }
        if (std::string why = kindRefusal(before); !why.empty()) {
            close(fd);
            return refused(file, versionOf(before), why);
        }
        timespec readAt {};
        clock_gettime(CLOCK_REALTIME, &readAt);
        std::string text;
        bool readOk = readAll(fd, text);
        int readError = errno;
        struct stat after {};
        bool statOk = fstat(fd, &after) == 0;
        close(fd);
        if (!readOk) {
            return refused(file, versionOf(before), std::strerror(readError));
        }
        if (text.size() > static_cast<size_t>(MaxStoreBytes)) {
            return refused(file, versionOf(before), std::string("it is larger than ") + MaxStoreText);
        }
        const bool stable = statOk && sameVersion(versionOf(before), versionOf(after)) &&
                            text.size() == static_cast<size_t>(before.st_size);
        if (!stable && attempt + 1 < ReadAttempts) {
            continue;  // written meanwhile: read the version it is now
        }
        if (!stable) {
            auto changing = refused(file, versionOf(before), "it kept changing while it was read");
            changing->stable = false;
            return changing;
        }
        if (text.empty()) {
            // What an in-place save (truncate, then write) leaves for a moment: taken for an empty
            // store, a writer would replace every key a person wrote with its one change.
            return refused(file, versionOf(before), "the file is empty, not a REGEDIT4 file");
        }
        auto snapshot = std::make_shared<Snapshot>();
        snapshot->file = file;
        snapshot->version = versionOf(before);
        snapshot->racy = !settledBefore(before.st_mtim, readAt);
        snapshot->doc = regtext::parse(text);
        snapshot->text = std::move(text);
        if (snapshot->doc.notRegedit4) {
            snapshot->refusal = "it does not begin as a REGEDIT4 file: line 1 is \"" +
                                shownText(snapshot->doc.unreadable.front().text, NoticeQuoteBytes) + "\"";
        }
        snapshot->index = regtext::indexKeys(snapshot->doc);
        return snapshot;
    }
}

// The store as it is now: the snapshot of the last read when the file is still that version,
// otherwise the file read again.
SnapshotPtr currentStore()
{
    const std::string file = storePath();
    struct stat st {};
    if (stat(file.c_str(), &st) == 0) {
        if (std::string why = kindRefusal(st); !why.empty()) {
            return refused(file, versionOf(st), why);  // not even opened
        }
        std::lock_guard<std::mutex> lock(cacheMutex);
        if (cachedSnapshot && cachedSnapshot->file == file && sameVersion(cachedSnapshot->version, versionOf(st))) {
            return cachedSnapshot;
        }
    }
    SnapshotPtr snapshot = loadStore(file);
    if (snapshot->version.present && snapshot->stable && !snapshot->racy && snapshot->refusal.empty()) {
        std::lock_guard<std::mutex> lock(cacheMutex);
        cachedSnapshot = snapshot;
    }
    return snapshot;
}

// The version of the file now, as the writer compares it with the one it read.
Version versionNow(const std::string& file)
{
    struct stat st {};
    if (stat(file.c_str(), &st) != 0) {
        return Version{};  // gone (or not reachable): not the version a present file was read as
    }
    return versionOf(st);
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

enum class Replaced { Done, Failed, FileChanged };

// True when the file at path is the version the snapshot was read from (for a racy one, also
// still its bytes).
bool isAsRead(const std::string& path, const Snapshot& read)
{
    if (!sameVersion(versionNow(path), read.version)) {
        return false;
    }
    if (!read.version.present || !read.racy) {
        return true;
    }
    SnapshotPtr now = loadStore(path);
    return sameVersion(now->version, read.version) && now->text == read.text;
}

bool renameUnsupported(int error) { return error == EINVAL || error == ENOSYS || error == ENOTSUP; }

// Puts the temporary in the store's place only while the store is still the version the
// document was read from. The check and the rename cannot be one step, so the rename exchanges
// the two names: the replaced file then lies at the temporary's name, where it is checked once
// more, and when a person's save reached it in between (by rename, or written in place) it is
// exchanged back and nothing of it is lost.
Replaced putInPlace(const std::string& temp, const Snapshot& read)
{
    const std::string& file = read.file;
    if (!isAsRead(file, read)) {
        return Replaced::FileChanged;
    }
    if (!read.version.present) {
        // No file was read: only while there is still none (a person may have made one).
        if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, file.c_str(), RENAME_NOREPLACE) == 0) {
            return Replaced::Done;
        }
        if (errno == EEXIST) {
            return Replaced::FileChanged;
        }
        return renameUnsupported(errno) && rename(temp.c_str(), file.c_str()) == 0 ? Replaced::Done
                                                                                  : Replaced::Failed;
    }
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, file.c_str(), RENAME_EXCHANGE) != 0) {
        if (errno == ENOENT) {
            return Replaced::FileChanged;  // removed meanwhile
        }
        return renameUnsupported(errno) && rename(temp.c_str(), file.c_str()) == 0 ? Replaced::Done
                                                                                  : Replaced::Failed;
    }
    if (isAsRead(temp, read)) {
        return Replaced::Done;  // the caller removes the old file, now at the temporary's name
    }
    if (renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, file.c_str(), RENAME_EXCHANGE) != 0) {
        rename(temp.c_str(), file.c_str());  // theirs back in place, ours dropped
    }
    return Replaced::FileChanged;
}

// Replaces the store by the document: a temporary file in the same folder, flushed, and put in
// the store's place only while the store is still the version the document was read from.
Replaced replaceStore(const Snapshot& read, const regtext::Document& doc)
{
    const std::string& file = read.file;
    std::string temp = file + TempFileSuffix;
    int fd = mkstemp(temp.data());
    if (fd < 0) {
        return Replaced::Failed;
    }
    struct stat old {};
    mode_t mode = stat(file.c_str(), &old) == 0 ? (old.st_mode & 07777) : NewStoreMode;
    bool ok = fchmod(fd, mode) == 0 && writeAll(fd, regtext::write(doc)) && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    Replaced replaced = ok ? putInPlace(temp, read) : Replaced::Failed;
    unlink(temp.c_str());  // the temporary, or after the exchange the file it replaced
    return replaced;
}

bool isTemporaryName(const std::string& name)
{
    const std::string stem = std::string(StoreFileName) + ".";
    if (name.size() != stem.size() + TempRandomChars || name.compare(0, stem.size(), stem) != 0) {
        return false;
    }
    for (size_t i = stem.size(); i < name.size(); ++i) {
        const char c = name[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'))) {
            return false;
        }
    }
    return true;
}

// Removes the temporaries writers killed before their rename left behind: only names of the
// writer's own pattern, only regular files (never through a link), only old ones.
void removeStaleTemporaries(const std::string& host)
{
    DIR* dir = opendir(host.c_str());
    if (!dir) {
        return;
    }
    const time_t now = time(nullptr);
    while (const dirent* entry = readdir(dir)) {
        const std::string name = entry->d_name;
        if (!isTemporaryName(name)) {
            continue;
        }
        struct stat st {};
        if (fstatat(dirfd(dir), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode) &&
            now - st.st_mtim.tv_sec >= StaleTemporarySeconds) {
            unlinkat(dirfd(dir), name.c_str(), 0);
        }
    }
    closedir(dir);
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
// change may run more than once (each time on the file as it is then).
template <typename Change>
int32_t changeStore(Change change)
{
    std::string host = hostDirectory();
    makeFolders(host);  // a fresh host folder; an existing one is left as it is
    std::string file = host + "/" + StoreFileName;
    std::string lockFile = file + LockFileSuffix;
    // The lock file is never followed as a link (O_CREAT through one would make a file wherever
    // it points) and never waited on when it is not a plain file.
    int lockFd = open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC,
                      NewStoreMode);
    if (lockFd < 0) {
        return RegAccessDenied;
    }
    struct stat lockStat {};
    if (fstat(lockFd, &lockStat) != 0 || !S_ISREG(lockStat.st_mode)) {
        close(lockFd);
        return RegAccessDenied;
    }
    int locked;
    do {
        locked = flock(lockFd, LOCK_EX);
    } while (locked != 0 && errno == EINTR);
    int32_t result = RegAccessDenied;
    if (locked == 0) {
        removeStaleTemporaries(host);
        for (int attempt = 0; attempt < ChangeAttempts; ++attempt) {
            SnapshotPtr snapshot = loadStore(file);
            if (!snapshot->doc.unreadable.empty()) {
                result = RegAccessDenied;
                break;
            }
            regtext::Document doc = snapshot->doc;
            result = change(doc);
            if (result != RegOk) {
                break;
            }
            Replaced replaced = replaceStore(*snapshot, doc);
            if (replaced != Replaced::FileChanged) {
                result = replaced == Replaced::Done ? RegOk : RegAccessDenied;
                break;
            }
            result = RegAccessDenied;  // edited meanwhile: redone on the edited file
        }
    }
    close(lockFd);  // releases the lock
    return result;
}

// A name the file can hold on one line of its own: no line break and no zero byte.
bool storableName(const std::string& name) { return name.find_first_of(std::string("\r\n\0", 3)) == std::string::npos; }

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
    SnapshotPtr store = currentStore();
    if (!regtext::findKey(store->index, path)) {
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
    if (!storableName(subKey) || subKey.find_first_of("[]") != std::string::npos) {
        return RegInvalidParameter;  // a header line could not hold it
    }
    if (!regtext::findKey(currentStore()->index, path)) {
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
    SnapshotPtr store = currentStore();
    const regtext::KeyIndex::Entry* entry = regtext::findKey(store->index, *path);
    if (!entry || index >= entry->subkeys.size()) {
        return RegNoMoreItems;
    }
    const std::string& found = entry->subkeys[index];
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
    SnapshotPtr store = currentStore();
    const regtext::Value* value = regtext::findValue(store->doc, store->index, *path, valueName);
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
    if ((!data && dataBytes) || !storableName(valueName)) {
        return RegInvalidParameter;  // a line feed in the name would leave a file no one can read
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
    SnapshotPtr store = currentStore();
    if (!regtext::findValue(store->doc, store->index, *path, valueName)) {
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
    if (!regtext::findKey(currentStore()->index, path)) {
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

bool regStoreWritable()
{
    const std::string host = hostDirectory();
    if (!currentStore()->doc.unreadable.empty()) {
        return false;
    }
    // The folder takes the temporary and the lock file; a missing one is made by the change.
    struct stat st {};
    return stat(host.c_str(), &st) != 0 || access(host.c_str(), W_OK | X_OK) == 0;
}

std::string regUnreadableNotice()
{
    SnapshotPtr store = currentStore();
    if (store->doc.unreadable.empty()) {
        return std::string();
    }
    const std::string& file = store->file;
    const regtext::UnreadableLine& bad = store->doc.unreadable.front();
    const std::string said = store->refusal.empty() ? std::to_string(bad.lineNumber) : store->refusal;
    std::lock_guard<std::mutex> lock(noticeMutex);
    if (!noticesGiven.insert(file + ":" + said).second) {
        return std::string();
    }
    if (!store->refusal.empty()) {
        return file + " is not used as the key store (" + store->refusal +
               "): the key store reads nothing from it and will not change it";
    }
    return file + ": line " + std::to_string(bad.lineNumber) + " could not be read (" +
           shownText(bad.text, NoticeQuoteBytes) + "); the key store reads the rest and will not change this file";
}

}  // namespace platform
