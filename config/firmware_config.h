// The delivery's configuration: the INFO section of Tarvo32.ini beside the executable, read once
// at start-up into the one global FirmwareConfig, plus the derived paths and port base. Also the
// reader of the section AT_COMMAND_BEFORE_UPLOAD, which the upload engine reads anew each upload.
// Results: nothing here fails; a missing file or key gives the defaults.
// Thread rule: loadFirmwareConfig runs once on the UI thread before any worker exists; afterwards
// FirmwareConfig is read-only and safe from any thread.
#pragma once

#include <string>
#include <vector>

struct FirmwareConfigRecord {
    std::string Company_name;
    std::string Company_short_name;
    std::string Model_name;
    std::string Firmware_fix_atbkor_file;
    std::string Firmware_file;
    std::string Firmware_version;
    std::string ATI1_key_string;
    std::string ATI9_key_string;
    bool Firmware_from_DUDE_protocol = false;
    bool Firmware_to_CDC_protocol = false;
    bool Windows_ChgDrv_and_Reboot = false;
    bool Firmware_check_version = false;
    bool Firmware_check_version_LE = false;
    std::string Firmware_check_version_VER;
    bool Windows_Distinguish_win98 = false;
    bool Firmware_include_kernel = false;
    bool For_internal_production = false;
    bool SHIFT_COM_BASE = false;

    // Derived.
    std::string FirmwarePath;
    std::string FixFilePath;
    int ComBase = 1;
};

extern FirmwareConfigRecord FirmwareConfig;

constexpr const char* IniFileName = "Tarvo32.ini";
constexpr const char* InfoSection = "INFO";
constexpr const char* PreUploadSection = "AT_COMMAND_BEFORE_UPLOAD";

// ProgramDirectory + "Tarvo32.ini".
std::string iniPath();

// True when Tarvo32.ini exists and the reader can use it; otherwise every field is a default.
bool iniFileUsable();

// Reads every INFO key of programDirectory + "Tarvo32.ini" in table order into FirmwareConfig and
// computes the derived fields (paths based on programDirectory). Cannot fail: a missing file or
// key gives the defaults.
void loadFirmwareConfig(const std::string& programDirectory);

// The same reading from any INI file, with the derived paths based on programDirectory.
FirmwareConfigRecord readFirmwareConfig(const std::string& iniFile, const std::string& programDirectory);

// Pre-upload AT commands: keys "1" to "999" of AT_COMMAND_BEFORE_UPLOAD, raw as written (empty
// when the key is absent or empty, which ends the list). Read anew on every call, from the upload
// engine's worker thread, so the section may change between uploads.
constexpr int PreUploadFirstKey = 1;
constexpr int PreUploadLastKey = 999;
std::string readPreUploadCommand(int index);                               // from iniPath()
std::string readPreUploadCommandFrom(const std::string& iniFile, int index);

// Writes one "Name=value" line per field in key-table order, then FirmwarePath, FixFilePath,
// ComBase; booleans as 1 or 0.
std::string formatFirmwareConfig(const FirmwareConfigRecord& config);
