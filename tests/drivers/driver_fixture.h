// Set-up shared by the driver-change tests: a temporary host (TARVO_HOST) with a Windows folder
// and a registry.reg written as the old driver's installer leaves it, a delivery folder as
// ProgramDirectory, the Windows version in TARVO_WINVER and OsFlavor alike, and the changes
// collected as the command line prints them. Everything is put back on tear-down.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "config/firmware_config.h"
#include "config/program_state.h"
#include "drivers/driver_change.h"
#include "platform/linux/host_paths.h"
#include "platform/registry.h"
#include "support/scratch.h"

namespace driver_test {

constexpr const char* UninstallKey9x = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NL773056KUSB";
constexpr const char* HardwareKey = "Enum\\USB\\VID_4E2C&PID_7A01";
constexpr const char* ClassKeys = "System\\CurrentControlSet\\Services\\Class\\";

// What the old driver's installer leaves on a Windows 98 machine: its uninstall key with the
// lists, one hardware key with three device instances and their class keys, and keys of other
// devices that must stay.
constexpr const char* OldDriverRegistry =
    "[HKEY_LOCAL_MACHINE\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NL773056KUSB]\r\n"
    "\"DisplayName\"=\"USB Modem Driver\"\r\n"
    "\"DEL_HKR_0000\"=\"Enum\\\\USB\\\\VID_4E2C&PID_7A01\"\r\n"
    "\"DEL_INF_0000\"=\"mdmx.inf\"\r\n"
    "\"DEL_INF_0001\"=\"nlusbprt.inf\"\r\n"
    "\"DEL_PNF_0000\"=\"mdm.PNF\"\r\n"
    "\"DEL_PNF_0001\"=\"INF\\\\nlusb.PNF\"\r\n"
    "\"DEL_SYS_0000\"=\"nlusbmdm.sys\"\r\n"
    "\"DEL_SYS_0001\"=\"gone.sys\"\r\n"
    "\"DEL_SYS_0002\"=\"nlccport.sys\"\r\n"
    "\"DEL_VXD_0000\"=\"nlusbprt.vxd\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01]\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\5&1A2B&0&1]\r\n"
    "\"DeviceDesc\"=\"USB Modem\"\r\n"
    "\"Driver\"=\"Modem\\\\0003\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\5&1A2B&0&2]\r\n"
    "\"Driver\"=\"Modem\\\\0004\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\5&1A2B&0&3]\r\n"
    "\"Driver\"=\"Ports\\\\0001\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_0000&PID_0001\\1]\r\n"
    "\"Driver\"=\"Modem\\\\0000\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0000]\r\n"
    "\"DriverDesc\"=\"Another modem\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0003]\r\n"
    "\"DriverDesc\"=\"USB Modem\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0003\\Init]\r\n"
    "\"1\"=\"AT\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Modem\\0004]\r\n"
    "\"DriverDesc\"=\"USB Modem\"\r\n"
    "\r\n"
    "[HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\Services\\Class\\Ports\\0001]\r\n"
    "\"DriverDesc\"=\"USB Modem Port\"\r\n"
    "\r\n";

inline std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Every file below a folder with its bytes, for "nothing changed" checks.
inline std::string treeOf(const std::string& folder)
{
    std::vector<std::string> lines;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        lines.push_back(entry.path().string() + (entry.is_directory() ? "/" : "=" + readBytes(entry.path().string())));
    }
    std::sort(lines.begin(), lines.end());
    std::string all;
    for (const std::string& l : lines) {
        all += l + "\n";
    }
    return all;
}

inline std::string changeLine(const DriverChangeEvent& e)
{
    switch (e.kind) {
    case DriverChangeEvent::Kind::DeletedKey: return "deleted key " + e.path;
    case DriverChangeEvent::Kind::DeletedFile: return "deleted file " + e.path;
    case DriverChangeEvent::Kind::Copied: return "copied " + e.path + " -> " + e.target;
    case DriverChangeEvent::Kind::Failed:
        return "failed " + e.path + (e.target.empty() ? "" : " -> " + e.target) + ": " + e.reason;
    case DriverChangeEvent::Kind::Missing: return "missing " + e.path;
    }
    return std::string();
}

class DriverFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        savedConfig_ = FirmwareConfig;
        savedProgramDirectory_ = ProgramDirectory;
        savedOs_ = OsFlavor;
        savedReboot_ = RebootRequested;
        FirmwareConfig = FirmwareConfigRecord{};
        ProgramDirectory = dir.file("delivery/");
        std::filesystem::create_directories(ProgramDirectory);
        std::filesystem::create_directories(windowsFile("INF/Other"));
        std::filesystem::create_directories(windowsFile("SYSTEM"));
        useWindows("win98");
    }

    void TearDown() override
    {
        FirmwareConfig = savedConfig_;
        ProgramDirectory = savedProgramDirectory_;
        OsFlavor = savedOs_;
        RebootRequested = savedReboot_;
    }

    // TARVO_WINVER and OsFlavor for one Windows version name.
    void useWindows(const std::string& name)
    {
        winver_.reset();
        winver_.emplace("TARVO_WINVER", name);
        OsFlavor = detectOsFlavor(platform::windowsVersionFrom(name));
    }

    std::string hostDir() const { return dir.file("host"); }
    std::string windowsFile(const std::string& relative) const { return dir.file("host/windows/" + relative); }
    std::string deliveryFile(const std::string& relative) const { return dir.file("delivery/" + relative); }
    std::string registryFile() const { return dir.file("host/registry.reg"); }

    void writeRegistry(const std::string& body) const { dir.write("host/registry.reg", "REGEDIT4\r\n\r\n" + body); }
    std::string writeWindowsFile(const std::string& relative, const std::string& bytes = "old") const
    {
        return dir.write("host/windows/" + relative, bytes);
    }
    std::string writeDeliveryFile(const std::string& relative, const std::string& bytes = "new") const
    {
        return dir.write("delivery/" + relative, bytes);
    }
    static bool exists(const std::string& path) { return std::filesystem::exists(path); }

    static bool keyExists(const std::string& path)
    {
        platform::RegKey key = 0;
        if (platform::regOpenKeyEx(platform::HkeyLocalMachine, path, &key) != platform::RegOk) {
            return false;
        }
        platform::regCloseKey(key);
        return true;
    }

    // A change object whose report collects the lines the command line would print.
    void watch(DriverChange& change)
    {
        change.setChangeReport([this](const DriverChangeEvent& e) { changes.push_back(changeLine(e)); });
    }

    // The page's three steps, as a dry run or a real one: the lines they report.
    std::vector<std::string> runAllSteps(bool dryRun)
    {
        changes.clear();
        DriverChange change;
        change.setDryRun(dryRun);
        watch(change);
        change.UninstallOldDriver();
        change.DeleteOldDriverFiles();
        change.InstallNewDriverFiles();
        return changes;
    }

    scratch::TempDir dir;
    scratch::ScopedEnv host{"TARVO_HOST", dir.file("host")};
    std::vector<std::string> changes;

private:
    std::optional<scratch::ScopedEnv> winver_;
    FirmwareConfigRecord savedConfig_;
    std::string savedProgramDirectory_;
    OsFlavorRecord savedOs_;
    int savedReboot_ = 0;
};

}  // namespace driver_test
