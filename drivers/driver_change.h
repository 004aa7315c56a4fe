// The driver change without a window: the old USB modem driver taken off the machine (its
// registry entries and files) and the new driver files copied in. The driver-change page
// (drivers/page55.h) and `Tarvo32 drivers` run the same three steps: UninstallOldDriver,
// DeleteOldDriverFiles, InstallNewDriverFiles.
//
// What is deleted is exactly what the old driver names: the keys and files listed in its
// uninstall key (9x family only), the files named like the entries of the DelFile delivery
// folders in the Windows INF and system folders, their copies in INF\Other (9x), and on the NT
// family the OEM INF files that name the product's USB hardware id. The new files are the
// entries of the CopyFile delivery folders for the running family and edition. Inputs:
// OsFlavor, ProgramDirectory, FirmwareConfig (Firmware_to_CDC_protocol,
// Windows_Distinguish_win98), the Windows folders (platform/windows_folders.h) and the key store
// (platform/registry.h).
//
// A name from the uninstall key or from a delivery folder that would lead outside its folder
// (absolute, with a drive letter or a ".." step), that holds a wildcard or a control character is
// passed over; the rest of its list goes on. Further steps inside the folder ("INF\mdm.PNF") are
// kept. Before each deletion and copy the path is resolved with its folder links followed, and a
// file whose real place is outside the Windows folder (a copy's source: outside the program's
// folder) is refused.
//
// Every change that took place is reported, in order, to the change report (for the command
// line), and so is every change that failed or was refused, and every name of the uninstall
// key's lists that led to no key or file. A dry run reports what would change and changes
// nothing: it remembers what it would have deleted and copied, so it reports each change once,
// in the order and under the names a real run uses; key deletions a store that cannot be written
// would refuse are reported as failures.
//
// Results: the operations return non-zero for success and 0 for failure as each comment says;
// the page ignores them, as nothing here is shown to the user there.
// Thread rule: one thread (the UI thread, or the command line's). DeleteOtherInfCopies and
// DeleteOemInfFiles change the process's current folder, which every thread of the process
// shares, for their length and restore it however they end. No other thread of ours runs
// meanwhile: the wizard's upload worker has ended before its page moves on to the driver
// change, the production station (with its workers and device listener) never runs in the same
// process as the wizard, and the command line has no other thread. The window system's own
// threads open no relative paths of ours.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/windows_folders.h"

// Where the old driver's uninstall key lies below HKEY_LOCAL_MACHINE.
constexpr const char* UninstallKeyRoot = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr const char* UninstallKeyCdc = "REREDUZUVOR";     // Firmware_to_CDC_protocol set
constexpr const char* UninstallKeyOther = "NL773056KUSB";  // Firmware_to_CDC_protocol clear
// The value lists of the uninstall key: prefix + index as "%04d".
constexpr const char* HardwareKeyPrefix = "DEL_HKR_";
constexpr const char* InfFilePrefix = "DEL_INF_";
constexpr const char* PnfFilePrefix = "DEL_PNF_";
constexpr const char* SysFilePrefix = "DEL_SYS_";
constexpr const char* VxdFilePrefix = "DEL_VXD_";
constexpr int ListEntryLimit = 100;         // indexes 0000 to 0099
constexpr uint32_t RegistryBufferBytes = 300;  // value data and subkey names
// A device instance's class key: ClassKeyRoot + its "Driver" value.
constexpr const char* DriverValueName = "Driver";
constexpr const char* ClassKeyRoot = "System\\CurrentControlSet\\Services\\Class\\";

// The OEM INF scan (NT family): a copy of the old driver's setup information names one of the
// product's USB hardware ids in its first 64 KiB.
constexpr const char* OemInfPattern = "oem*.inf";
constexpr const char* OemPartnerExtension = "PNF";  // replaces the last three characters
constexpr size_t OemInfScanBytes = 64 * 1024;
constexpr const char* OldDriverHardwareIds[] = {"VID_4E2C&PID_7A01", "VID_4E2B&PID_7A02"};

// True when an OEM INF file's first bytes name one of the old driver's hardware ids, without
// regard to case (an INF written as UTF-16 with its byte-order mark is read as such).
bool oemInfNamesOldDriver(const std::string& fileStart);

// True when a name from a list or a delivery folder stays inside the folder it is joined to:
// not empty, not absolute, no drive letter or other colon, no "..", no wildcard, no control
// character.
bool nameStaysInside(const std::string& name);

// One change, as the command line prints it.
struct DriverChangeEvent {
    enum class Kind {
        DeletedKey,
        DeletedFile,
        Copied,
        Failed,   // a deletion or copy that did not take place (reason says why)
        Missing,  // a name of the uninstall key's lists that leads to no key or file
    };
    Kind kind = Kind::DeletedKey;
    std::string path;    // HKEY_LOCAL_MACHINE\... for a key; the host path of a file or source
    std::string target;  // Copied and a failed copy: the host path written
    std::string reason;  // Failed: why, in words
};
using DriverChangeReport = std::function<void(const DriverChangeEvent&)>;

class DriverChange {
public:
    DriverChange() = default;
    virtual ~DriverChange();
    DriverChange(const DriverChange&) = delete;
    DriverChange& operator=(const DriverChange&) = delete;

    void setChangeReport(DriverChangeReport report) { report_ = std::move(report); }
    void setDryRun(bool dryRun) { dryRun_ = dryRun; }

    // --- Old driver removal ---
    // 9x family: follows the uninstall key and deletes it. 1 when not 9x or when it ran; 0 when
    // the uninstall key cannot be opened.
    int UninstallOldDriver();
    // The DelFile delivery folders' names deleted from the Windows folders. 0 when the Windows
    // folder cannot be read; 1 otherwise.
    int DeleteOldDriverFiles();
    // Walks DEL_HKR_ while each hardware key opens.
    void DeleteHardwareKeys();
    // Deletes each device-instance subkey with its class key; 1.
    int DeleteDeviceInstances(platform::RegKey hardwareKey);
    // 1 when the class key named by "Driver" was deleted; 0 otherwise.
    int DeleteDriverClassKey(platform::RegKey instanceKey);
    // Deletes folder\<data> for each value of the prefix's list; 1.
    int DeleteListedFiles(const std::string& folder, const std::string& prefix);
    // Deletes folder\Other\*<fileName>. 0 when the current folder cannot be read or Other cannot
    // be entered; 1 otherwise.
    int DeleteOtherInfCopies(const std::string& folder, const std::string& fileName);
    // Deletes targetFolder\<entry> per delivery folder entry. 0 when the delivery folder yields
    // no entry; 1 otherwise.
    int DeleteSameNamedFiles(const std::string& deliveryFolder, const std::string& targetFolder);
    // 9x only: the Other copies of each file entry's name. 0 when the delivery folder yields no
    // entry; 1 otherwise.
    int DeleteOtherCopiesOfFolder(const std::string& deliveryFolder, const std::string& infFolder);
    // NT only: the old driver's OEM INF files with their PNF partners. 0 when the current folder
    // cannot be read or the INF folder cannot be entered; 1 otherwise.
    int DeleteOemInfFiles(const std::string& infFolder);

    // --- New driver files ---
    // The CopyFile folders of the family and edition into the Windows folders, INF files first.
    // 0 when the Windows folder cannot be read; 1 otherwise.
    int InstallNewDriverFiles();
    // Copies each entry of the source folder into the target folder, replacing. 0 when the
    // source folder yields no entry; 1 otherwise.
    int CopyFolderFiles(const std::string& sourceFolder, const std::string& targetFolder);

    // --- Working state of the removal, in this order ---
    std::string uninstallKeyPath;  // UninstallKeyRoot + the uninstall key's name
    platform::RegKey uninstallKey = 0;  // open only inside UninstallOldDriver; 0 none
    int32_t lastStatus = 0;  // result of the last registry open or read, 0 success
    uint32_t valueType = 0;  // type of the last value read; kept, never tested
    std::string valueName;   // the list value being read, such as DEL_INF_0003

private:
    // Every change and every look at what a change touches goes through these, so a dry run
    // can stand in for the change and the report sees each one.
    int32_t openKey(platform::RegKey parent, const std::string& subKey, platform::RegKey* result);
    void closeKey(platform::RegKey key);
    int32_t deleteKey(platform::RegKey parent, const std::string& subKey);
    std::string keyPath(platform::RegKey parent, const std::string& subKey) const;
    bool keyDeleted(const std::string& path) const;
    std::vector<std::string> subkeyNames(platform::RegKey key);
    // A list value's text; false when it is missing or does not fit.
    bool readListValue(const std::string& prefix, int index, std::string& text);

    std::vector<platform::FindData> list(const std::string& pattern);
    // listed: the name comes from the uninstall key, so a missing file is reported.
    void removeFile(const std::string& path, bool listed = false);
    void copyFile(const std::string& source, const std::string& target);
    // Dry run: the host path a copy to target would write, as the disk will be by then.
    std::string dryRunTarget(const std::string& target) const;
    bool existsThen(const std::string& hostFile) const;
    void report(DriverChangeEvent::Kind kind, const std::string& path, const std::string& target = {},
                const std::string& reason = {});

    DriverChangeReport report_;
    bool dryRun_ = false;
    std::map<platform::RegKey, std::string> keyPaths_;  // open keys' paths below HKLM
    std::set<std::string> deletedKeys_;   // dry run: upper-cased paths
    std::set<std::string> deletedFiles_;  // dry run: host paths
    std::vector<std::string> copiedFiles_;  // dry run: host paths written, in order
};

// The Windows folder or the system folder as a caller reads it into its 260-character buffer;
// false when it cannot be read (or does not fit).
bool readWindowsFolder(std::string& folder);
bool readSystemFolder(std::string& folder);
