#include "drivers/driver_change.h"

#include <algorithm>
#include <cstdio>

#include "config/program_state.h"
#include "config/firmware_config.h"
#include "platform/ascii_case.h"
#include "platform/shown_text.h"

using platform::HkeyLocalMachine;
using platform::RegKey;
using platform::RegOk;

namespace {

constexpr const char* KeyReportRoot = "HKEY_LOCAL_MACHINE\\";
constexpr const char* ListIndexFormat = "%04d";

// The delivery folders below ProgramDirectory.
constexpr const char* DelFileInf9x = "Win98\\DelFile\\Inf";
constexpr const char* DelFileSystem9x = "Win98\\DelFile\\System";
constexpr const char* DelFileInfNt = "Win2k\\DelFile\\Inf";
constexpr const char* DelFileSys32drvNt = "Win2k\\DelFile\\Sys32drv";
constexpr const char* CopyFile9xBase = "Win98\\CopyFile\\";
constexpr const char* CopyFileWin98 = "Win98";
constexpr const char* CopyFileWin98se = "Win98se";
constexpr const char* CopyFileWin98me = "Win98me";
constexpr const char* CopyFileInf9x = "\\Inf";
constexpr const char* CopyFileSystem9x = "\\System";
constexpr const char* CopyFileInfNt = "Win2k\\CopyFile\\Inf";
constexpr const char* CopyFileSys32drvNt = "Win2k\\CopyFile\\Sys32drv";

// Below the Windows folder.
constexpr const char* InfFolder = "\\INF";
constexpr const char* OtherFolder = "\\Other";
constexpr const char* SystemFolder9x = "\\System";
constexpr const char* DriversFolderNt = "\\System32\\Drivers";

constexpr const char* AllEntries = "\\*.*";
constexpr const char* AnyStart = "*";

constexpr unsigned char Utf16LeMark[] = {0xFF, 0xFE};

// Why a change did not take place, as the report gives it.
constexpr const char* StoreNotWritableText = "the registry file cannot be written";
constexpr const char* KeyNotDeletedText = "the key store refused the deletion";
constexpr const char* KeyNotOpenedText = "it cannot be opened";
constexpr const char* OutsideWindowsText = "its real place is outside the Windows folder";
constexpr const char* SourceOutsideText = "its source's real place is outside the program's folder";
constexpr const char* NotDeletedText = "it could not be deleted";
constexpr const char* NotCopiedText = "it could not be copied";
constexpr const char* NoTargetFolderText = "the folder to copy it to is missing";

char upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string upperCase(std::string s)
{
    std::transform(s.begin(), s.end(), s.begin(), upper);
    return s;
}

bool isDots(const std::string& name) { return name == "." || name == ".."; }

// A key path that names a key below the one it is joined to. An empty one (or one of nothing but
// backslashes) would name that key itself: HKEY_LOCAL_MACHINE, or the whole Class key, whose
// deletion would take every device of the machine with it.
bool keyPathIsSound(const std::string& path)
{
    return path.find_first_not_of('\\') != std::string::npos && !platform::hasControlCharacter(path);
}

// Listing order as the Linux folders give it: upper-cased, then byte order.
bool listedBefore(const std::string& a, const std::string& b)
{
    const std::string ua = upperCase(a);
    const std::string ub = upperCase(b);
    return ua != ub ? ua < ub : a < b;
}

// The text of value data: up to its terminating zero, or all of it without one.
std::string textOf(const uint8_t* data, uint32_t bytes)
{
    const uint8_t* end = std::find(data, data + bytes, 0);
    return std::string(reinterpret_cast<const char*>(data), static_cast<size_t>(end - data));
}

std::string folderPartOf(const std::string& path)
{
    size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

bool readFolder(uint32_t (*read)(char*, uint32_t), std::string& folder)
{
    char buffer[platform::MaxPathChars];
    uint32_t n = read(buffer, platform::MaxPathChars);
    if (n == 0 || n >= platform::MaxPathChars) {
        return false;
    }
    folder.assign(buffer, n);
    return true;
}

// The current folder, changed for one operation and put back when the operation ends, however
// it ends.
class CurrentFolderVisit {
public:
    CurrentFolderVisit()
    {
        uint32_t n = platform::getCurrentDirectory(platform::MaxPathChars, saved_);
        remembered_ = n > 0 && n < platform::MaxPathChars;
    }
    ~CurrentFolderVisit()
    {
        if (entered_) {
            platform::setCurrentDirectory(saved_);
        }
    }
    CurrentFolderVisit(const CurrentFolderVisit&) = delete;
    CurrentFolderVisit& operator=(const CurrentFolderVisit&) = delete;

    bool remembered() const { return remembered_; }
    bool enter(const std::string& folder)
    {
        entered_ = platform::setCurrentDirectory(folder) || entered_;
        return entered_;
    }

private:
    char saved_[platform::MaxPathChars] = {};
    bool remembered_ = false;
    bool entered_ = false;
};

}  // namespace

bool oemInfNamesOldDriver(const std::string& fileStart)
{
    std::string text;
    if (fileStart.size() >= 2 && static_cast<unsigned char>(fileStart[0]) == Utf16LeMark[0] &&
        static_cast<unsigned char>(fileStart[1]) == Utf16LeMark[1]) {
        // Setup information saved as Unicode: the ids are plain ASCII, one unit each.
        for (size_t i = 2; i + 1 < fileStart.size(); i += 2) {
            text.push_back(fileStart[i + 1] == 0 ? fileStart[i] : '?');
        }
    } else {
        text = fileStart;
    }
    text = upperCase(std::move(text));
    for (const char* id : OldDriverHardwareIds) {
        if (text.find(id) != std::string::npos) {
            return true;
        }
    }
    return false;
}

bool nameStaysInside(const std::string& name)
{
    if (name.empty() || name.front() == '\\' || name.front() == '/' ||
        name.find_first_of(":*?") != std::string::npos || platform::hasControlCharacter(name)) {
        return false;
    }
    size_t begin = 0;
    while (begin <= name.size()) {
        size_t end = name.find_first_of("\\/", begin);
        if (end == std::string::npos) {
            end = name.size();
        }
        // Windows drops trailing dots and blanks from a step, so ". ." or "..." may go up too.
        std::string step = name.substr(begin, end - begin);
        const bool onlyDotsAndBlanks = !step.empty() && step.find_first_not_of(". ") == std::string::npos;
        if (onlyDotsAndBlanks && std::count(step.begin(), step.end(), '.') >= 2) {
            return false;
        }
        begin = end + 1;
    }
    return true;
}

bool readWindowsFolder(std::string& folder) { return readFolder(platform::getWindowsDirectory, folder); }
bool readSystemFolder(std::string& folder) { return readFolder(platform::getSystemDirectory, folder); }

DriverChange::~DriverChange()
{
    if (uninstallKey != 0) {
        closeKey(uninstallKey);
        uninstallKey = 0;
    }
}

// --- Old driver removal ---

int DriverChange::UninstallOldDriver()
{
    if (!OsFlavor.IsWin9x) {
        return 1;
    }
    uninstallKeyPath = std::string(UninstallKeyRoot) +
                       (FirmwareConfig.Firmware_to_CDC_protocol ? UninstallKeyCdc : UninstallKeyOther);
    lastStatus = openKey(HkeyLocalMachine, uninstallKeyPath, &uninstallKey);
    if (lastStatus != RegOk) {
        uninstallKey = 0;
        return 0;
    }
    DeleteHardwareKeys();
    std::string windows;
    if (readWindowsFolder(windows)) {
        DeleteListedFiles(windows + InfFolder, InfFilePrefix);
        DeleteListedFiles(windows, PnfFilePrefix);
    }
    std::string system;
    if (readSystemFolder(system)) {
        DeleteListedFiles(system, SysFilePrefix);
        DeleteListedFiles(system, VxdFilePrefix);
    }
    closeKey(uninstallKey);
    uninstallKey = 0;
    deleteKey(HkeyLocalMachine, uninstallKeyPath);
    return 1;
}

void DriverChange::DeleteHardwareKeys()
{
    for (int index = 0; index < ListEntryLimit; ++index) {
        std::string path;
        if (!readListValue(HardwareKeyPrefix, index, path)) {
            return;
        }
        if (!keyPathIsSound(path)) {
            continue;
        }
        RegKey hardwareKey = 0;
        lastStatus = openKey(HkeyLocalMachine, path, &hardwareKey);
        if (lastStatus != RegOk) {
            if (lastStatus == platform::RegNotFound) {
                report(DriverChangeEvent::Kind::Missing, KeyReportRoot + path);
            } else {
                report(DriverChangeEvent::Kind::Failed, KeyReportRoot + path, {}, KeyNotOpenedText);
            }
            return;
        }
        DeleteDeviceInstances(hardwareKey);
        closeKey(hardwareKey);
        deleteKey(HkeyLocalMachine, path);
    }
}

int DriverChange::DeleteDeviceInstances(RegKey hardwareKey)
{
    // The names are taken first: deleting while enumerating by index would skip every other one.
    for (const std::string& name : subkeyNames(hardwareKey)) {
        RegKey instanceKey = 0;
        lastStatus = openKey(hardwareKey, name, &instanceKey);
        if (lastStatus != RegOk) {
            break;
        }
        DeleteDriverClassKey(instanceKey);
        closeKey(instanceKey);
        deleteKey(hardwareKey, name);
    }
    return 1;
}

int DriverChange::DeleteDriverClassKey(RegKey instanceKey)
{
    uint8_t data[RegistryBufferBytes];
    uint32_t bytes = sizeof data;
    if (platform::regQueryValueEx(instanceKey, DriverValueName, nullptr, data, &bytes) != RegOk) {
        return 0;
    }
    std::string classKey = textOf(data, bytes);
    if (!keyPathIsSound(classKey)) {
        return 0;
    }
    return deleteKey(HkeyLocalMachine, ClassKeyRoot + classKey) == RegOk ? 1 : 0;
}

int DriverChange::DeleteListedFiles(const std::string& folder, const std::string& prefix)
{
    for (int index = 0; index < ListEntryLimit; ++index) {
        std::string name;
        if (!readListValue(prefix, index, name)) {
            break;
        }
        if (!nameStaysInside(name)) {
            continue;
        }
        removeFile(folder + "\\" + name, true);
        if (prefix == InfFilePrefix) {
            DeleteOtherInfCopies(folder, name);
        }
    }
    return 1;
}

int DriverChange::DeleteOtherInfCopies(const std::string& folder, const std::string& fileName)
{
    CurrentFolderVisit visit;
    if (!visit.remembered() || !visit.enter(folder + OtherFolder)) {
        return 0;
    }
    for (const platform::FindData& entry : list(AnyStart + fileName)) {
        if (nameStaysInside(entry.fileName)) {
            removeFile(entry.fileName);
        }
    }
    return 1;
}

int DriverChange::DeleteOldDriverFiles()
{
    std::string windows;
    if (!readWindowsFolder(windows)) {
        return 0;
    }
    const std::string inf = windows + InfFolder;
    if (OsFlavor.IsWin9x) {
        DeleteSameNamedFiles(ProgramDirectory + DelFileInf9x, inf);
        DeleteOtherCopiesOfFolder(ProgramDirectory + DelFileInf9x, inf);
    }
    if (OsFlavor.IsNT) {
        DeleteSameNamedFiles(ProgramDirectory + DelFileInfNt, inf);
        DeleteOemInfFiles(inf);
    }
    if (OsFlavor.IsWin9x) {
        DeleteSameNamedFiles(ProgramDirectory + DelFileSystem9x, windows + SystemFolder9x);
    }
    if (OsFlavor.IsNT) {
        DeleteSameNamedFiles(ProgramDirectory + DelFileSys32drvNt, windows + DriversFolderNt);
    }
    return 1;
}

int DriverChange::DeleteSameNamedFiles(const std::string& deliveryFolder, const std::string& targetFolder)
{
    std::vector<platform::FindData> entries = list(deliveryFolder + AllEntries);
    if (entries.empty()) {
        return 0;
    }
    for (const platform::FindData& entry : entries) {
        if (!isDots(entry.fileName) && nameStaysInside(entry.fileName)) {
            removeFile(targetFolder + "\\" + entry.fileName);
        }
    }
    return 1;
}

int DriverChange::DeleteOtherCopiesOfFolder(const std::string& deliveryFolder, const std::string& infFolder)
{
    if (!OsFlavor.IsWin9x) {
        return 1;
    }
    std::vector<platform::FindData> entries = list(deliveryFolder + AllEntries);
    if (entries.empty()) {
        return 0;
    }
    for (const platform::FindData& entry : entries) {
        if (!entry.directory && nameStaysInside(entry.fileName)) {
            DeleteOtherInfCopies(infFolder, entry.fileName);
        }
    }
    return 1;
}

int DriverChange::DeleteOemInfFiles(const std::string& infFolder)
{
    if (!OsFlavor.IsNT) {
        return 1;
    }
    CurrentFolderVisit visit;
    if (!visit.remembered() || !visit.enter(infFolder)) {
        return 0;
    }
    for (const platform::FindData& entry : list(OemInfPattern)) {
        if (entry.directory || !nameStaysInside(entry.fileName)) {
            continue;
        }
        std::string start;
        if (!platform::readFileStart(entry.fileName, OemInfScanBytes, start) || !oemInfNamesOldDriver(start)) {
            continue;
        }
        const std::string& name = entry.fileName;
        const size_t extensionChars = std::string(OemPartnerExtension).size();
        removeFile(name);
        removeFile(name.substr(0, name.size() - std::min(name.size(), extensionChars)) + OemPartnerExtension);
    }
    return 1;
}

// --- New driver files ---

int DriverChange::InstallNewDriverFiles()
{
    std::string windows;
    if (!readWindowsFolder(windows)) {
        return 0;
    }
    std::string infSource;
    std::string systemSource;
    std::string systemTarget;
    if (OsFlavor.IsWin9x) {
        std::string edition = CopyFileWin98;
        if (FirmwareConfig.Windows_Distinguish_win98 && OsFlavor.IsWin98SE) {
            edition = CopyFileWin98se;
        } else if (FirmwareConfig.Windows_Distinguish_win98 && OsFlavor.IsWinMe) {
            edition = CopyFileWin98me;
        }
        infSource = ProgramDirectory + CopyFile9xBase + edition + CopyFileInf9x;
        systemSource = ProgramDirectory + CopyFile9xBase + edition + CopyFileSystem9x;
        systemTarget = windows + SystemFolder9x;
    } else {
        infSource = ProgramDirectory + CopyFileInfNt;
        systemSource = ProgramDirectory + CopyFileSys32drvNt;
        systemTarget = windows + DriversFolderNt;
    }
    CopyFolderFiles(infSource, windows + InfFolder);
    CopyFolderFiles(systemSource, systemTarget);
    return 1;
}

int DriverChange::CopyFolderFiles(const std::string& sourceFolder, const std::string& targetFolder)
{
    std::vector<platform::FindData> entries = list(sourceFolder + AllEntries);
    if (entries.empty()) {
        return 0;
    }
    for (const platform::FindData& entry : entries) {
        if (!isDots(entry.fileName) && nameStaysInside(entry.fileName)) {
            copyFile(sourceFolder + "\\" + entry.fileName, targetFolder + "\\" + entry.fileName);
        }
    }
    return 1;
}

// --- Changes and the looks that lead to them ---

std::string DriverChange::keyPath(RegKey parent, const std::string& subKey) const
{
    std::string base;
    if (parent != HkeyLocalMachine) {
        auto it = keyPaths_.find(parent);
        base = it == keyPaths_.end() ? std::string() : it->second;
    }
    if (base.empty() || subKey.empty()) {
        return base + subKey;
    }
    return base + "\\" + subKey;
}

bool DriverChange::keyDeleted(const std::string& path) const
{
    const std::string key = upperCase(path);
    for (const std::string& gone : deletedKeys_) {
        if (key == gone || (key.size() > gone.size() && key.compare(0, gone.size(), gone) == 0 &&
                            key[gone.size()] == '\\')) {
            return true;
        }
    }
    return false;
}

int32_t DriverChange::openKey(RegKey parent, const std::string& subKey, RegKey* result)
{
    const std::string path = keyPath(parent, subKey);
    if (dryRun_ && keyDeleted(path)) {
        *result = 0;
        return platform::RegNotFound;
    }
    int32_t status = platform::regOpenKeyEx(parent, subKey, result);
    if (status == RegOk) {
        keyPaths_[*result] = path;
    }
    return status;
}

void DriverChange::closeKey(RegKey key)
{
    platform::regCloseKey(key);
    keyPaths_.erase(key);
}

int32_t DriverChange::deleteKey(RegKey parent, const std::string& subKey)
{
    const std::string path = keyPath(parent, subKey);
    if (!dryRun_) {
        int32_t status = platform::regDeleteKey(parent, subKey);
        if (status == RegOk) {
            report(DriverChangeEvent::Kind::DeletedKey, KeyReportRoot + path);
        } else if (status != platform::RegNotFound) {
            report(DriverChangeEvent::Kind::Failed, KeyReportRoot + path, {},
                   status == platform::RegAccessDenied ? StoreNotWritableText : KeyNotDeletedText);
        }
        return status;
    }
    if (keyDeleted(path)) {
        return platform::RegNotFound;
    }
    RegKey probe = 0;
    int32_t status = platform::regOpenKeyEx(HkeyLocalMachine, path, &probe);
    if (status != RegOk) {
        return status;
    }
    platform::regCloseKey(probe);
    if (!platform::regStoreWritable()) {
        report(DriverChangeEvent::Kind::Failed, KeyReportRoot + path, {}, StoreNotWritableText);
        return platform::RegAccessDenied;
    }
    deletedKeys_.insert(upperCase(path));
    report(DriverChangeEvent::Kind::DeletedKey, KeyReportRoot + path);
    return RegOk;
}

std::vector<std::string> DriverChange::subkeyNames(RegKey key)
{
    std::vector<std::string> names;
    for (uint32_t index = 0;; ++index) {
        char name[RegistryBufferBytes];
        uint32_t chars = sizeof name;
        int32_t status = platform::regEnumKeyEx(key, index, name, &chars);
        if (status == platform::RegMoreData) {
            continue;  // a name longer than the buffer cannot be opened by it; the next may be
        }
        if (status != RegOk) {
            break;
        }
        std::string subKey(name, chars);
        if (!(dryRun_ && keyDeleted(keyPath(key, subKey)))) {
            names.push_back(subKey);
        }
    }
    return names;
}

bool DriverChange::readListValue(const std::string& prefix, int index, std::string& text)
{
    char digits[16];
    std::snprintf(digits, sizeof digits, ListIndexFormat, index);
    valueName = prefix + digits;
    uint8_t data[RegistryBufferBytes];
    uint32_t bytes = sizeof data;
    lastStatus = platform::regQueryValueEx(uninstallKey, valueName, &valueType, data, &bytes);
    if (lastStatus != RegOk) {
        return false;
    }
    text = textOf(data, bytes);
    return true;
}

std::vector<platform::FindData> DriverChange::list(const std::string& pattern)
{
    std::vector<platform::FindData> entries;
    platform::FindData entry;
    platform::FindHandle handle = platform::findFirstFile(pattern, &entry);
    if (handle == platform::InvalidFindHandle) {
        return entries;
    }
    const std::string folder = folderPartOf(pattern);
    do {
        if (!(dryRun_ && deletedFiles_.count(platform::hostPath(folder + entry.fileName)) != 0)) {
            entries.push_back(entry);
        }
    } while (platform::findNextFile(handle, &entry));
    platform::findClose(handle);
    return entries;
}

void DriverChange::removeFile(const std::string& path, bool listed)
{
    const std::string host = platform::hostPath(path);
    const uint32_t attributes = platform::getFileAttributes(path);
    if (attributes == platform::InvalidFileAttributes || (dryRun_ && deletedFiles_.count(host) != 0)) {
        if (listed) {
            report(DriverChangeEvent::Kind::Missing, host);
        }
        return;
    }
    if ((attributes & platform::FileAttributeDirectory) != 0) {
        return;  // a folder is never deleted as a file
    }
    std::string windows;
    if (!readWindowsFolder(windows) || !platform::liesInside(path, windows, false)) {
        report(DriverChangeEvent::Kind::Failed, host, {}, OutsideWindowsText);
        return;
    }
    if (dryRun_) {
        deletedFiles_.insert(host);
        report(DriverChangeEvent::Kind::DeletedFile, host);
        return;
    }
    if (platform::deleteFile(path)) {
        report(DriverChangeEvent::Kind::DeletedFile, host);
    } else {
        report(DriverChangeEvent::Kind::Failed, host, {}, NotDeletedText);
    }
}

bool DriverChange::existsThen(const std::string& hostFile) const
{
    if (std::find(copiedFiles_.begin(), copiedFiles_.end(), hostFile) != copiedFiles_.end()) {
        return true;
    }
    // Exactly this name on the disk (hostPath gives another spelling when only that one exists).
    return deletedFiles_.count(hostFile) == 0 && platform::hostPath(hostFile) == hostFile &&
           platform::getFileAttributes(hostFile) != platform::InvalidFileAttributes;
}

std::string DriverChange::dryRunTarget(const std::string& target) const
{
    // A real copy writes the exact name when it exists by then, else the first name in listing
    // order that equals it without regard to case (on the disk or made by an earlier copy), else
    // the name as the delivery spells it.
    const std::string folder = folderPartOf(target);
    const std::string name = target.substr(folder.size());
    // The Windows build's folder keeps its final backslash; the Linux host's path has none.
    std::string hostFolder = platform::hostPath(folder.empty() ? std::string(".") : folder);
    if (folderPartOf(hostFolder) != hostFolder) {
        hostFolder += "/";
    }
    const std::string exact = hostFolder + name;
    if (existsThen(exact)) {
        return exact;
    }
    std::string best;
    auto consider = [&](const std::string& candidate) {
        const std::string candidateName = candidate.substr(folderPartOf(candidate).size());
        if (folderPartOf(candidate) == hostFolder && platform::equalsNoCase(candidateName, name) &&
            existsThen(candidate) &&
            (best.empty() || listedBefore(candidateName, best.substr(folderPartOf(best).size())))) {
            best = candidate;
        }
    };
    consider(platform::hostPath(target));
    for (const std::string& copied : copiedFiles_) {
        consider(copied);
    }
    return best.empty() ? exact : best;
}

void DriverChange::copyFile(const std::string& source, const std::string& target)
{
    const std::string from = platform::hostPath(source);
    const std::string to = dryRun_ ? dryRunTarget(target) : platform::hostPath(target);
    const uint32_t sourceAttributes = platform::getFileAttributes(source);
    if (sourceAttributes == platform::InvalidFileAttributes ||
        (sourceAttributes & platform::FileAttributeDirectory) != 0 || (dryRun_ && deletedFiles_.count(from) != 0)) {
        return;  // a subfolder entry copies nothing
    }
    const uint32_t folderAttributes = platform::getFileAttributes(folderPartOf(target));
    if (folderAttributes == platform::InvalidFileAttributes ||
        (folderAttributes & platform::FileAttributeDirectory) == 0) {
        report(DriverChangeEvent::Kind::Failed, from, to, NoTargetFolderText);
        return;
    }
    if (!platform::liesInside(source, ProgramDirectory, true)) {
        report(DriverChangeEvent::Kind::Failed, from, to, SourceOutsideText);
        return;
    }
    std::string windows;
    if (!readWindowsFolder(windows) || !platform::liesInside(target, windows, false)) {
        report(DriverChangeEvent::Kind::Failed, from, to, OutsideWindowsText);
        return;
    }
    if (!dryRun_) {
        if (platform::copyFile(source, target, false)) {
            report(DriverChangeEvent::Kind::Copied, from, to);
        } else {
            report(DriverChangeEvent::Kind::Failed, from, to, NotCopiedText);
        }
        return;
    }
    const uint32_t targetAttributes = platform::getFileAttributes(to);
    if (targetAttributes != platform::InvalidFileAttributes && (targetAttributes & platform::FileAttributeDirectory) != 0) {
        report(DriverChangeEvent::Kind::Failed, from, to, NotCopiedText);
        return;
    }
    deletedFiles_.erase(to);
    if (std::find(copiedFiles_.begin(), copiedFiles_.end(), to) == copiedFiles_.end()) {
        copiedFiles_.push_back(to);
    }
    report(DriverChangeEvent::Kind::Copied, from, to);
}

void DriverChange::report(DriverChangeEvent::Kind kind, const std::string& path, const std::string& target,
                          const std::string& reason)
{
    if (report_) {
        report_(DriverChangeEvent{kind, path, target, reason});
    }
}
