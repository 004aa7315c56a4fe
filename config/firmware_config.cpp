#include "config/firmware_config.h"


#include "config/ini_reader.h"
#include "config/program_state.h"

FirmwareConfigRecord FirmwareConfig;

namespace {

constexpr int ShiftedComBase = 11;
constexpr int PlainComBase = 1;

// One INFO key: its name, its default and the field it fills (text, or the flag its text gives).
struct InfoKey {
    const char* name;
    const char* defaultValue;
    std::string FirmwareConfigRecord::*text;
    bool FirmwareConfigRecord::*flag;
};

constexpr InfoKey textKey(const char* name, const char* defaultValue, std::string FirmwareConfigRecord::*field)
{
    return InfoKey{name, defaultValue, field, nullptr};
}

constexpr InfoKey flagKey(const char* name, const char* defaultValue, bool FirmwareConfigRecord::*field)
{
    return InfoKey{name, defaultValue, nullptr, field};
}

// Read, and printed, in this order.
constexpr InfoKey InfoKeys[] = {
    textKey("Company_name", "Nelta Technology Corporation", &FirmwareConfigRecord::Company_name),
    textKey("Company_short_name", "Nelta", &FirmwareConfigRecord::Company_short_name),
    textKey("Model_name", "Nelta 56K USB Modem", &FirmwareConfigRecord::Model_name),
    textKey("Firmware_fix_atbkor_file", "Tarvo32.ini", &FirmwareConfigRecord::Firmware_fix_atbkor_file),
    textKey("Firmware_file", "Tarvo32.ini", &FirmwareConfigRecord::Firmware_file),
    textKey("Firmware_version", "1.00", &FirmwareConfigRecord::Firmware_version),
    textKey("ATI1_key_string", "Nelta 56K USB", &FirmwareConfigRecord::ATI1_key_string),
    textKey("ATI9_key_string", "KOR", &FirmwareConfigRecord::ATI9_key_string),
    flagKey("Firmware_from_DUDE_protocol", "TRUE", &FirmwareConfigRecord::Firmware_from_DUDE_protocol),
    flagKey("Firmware_to_CDC_protocol", "TRUE", &FirmwareConfigRecord::Firmware_to_CDC_protocol),
    flagKey("Windows_ChgDrv_and_Reboot", "FALSE", &FirmwareConfigRecord::Windows_ChgDrv_and_Reboot),
    flagKey("Firmware_check_version", "FALSE", &FirmwareConfigRecord::Firmware_check_version),
    flagKey("Firmware_check_version_LE", "FALSE", &FirmwareConfigRecord::Firmware_check_version_LE),
    textKey("Firmware_check_version_VER", "0.00", &FirmwareConfigRecord::Firmware_check_version_VER),
    flagKey("Windows_Distinguish_win98", "FALSE", &FirmwareConfigRecord::Windows_Distinguish_win98),
    flagKey("Firmware_include_kernel", "FALSE", &FirmwareConfigRecord::Firmware_include_kernel),
    flagKey("For_internal_production", "FALSE", &FirmwareConfigRecord::For_internal_production),
    flagKey("SHIFT_COM_BASE", "FALSE", &FirmwareConfigRecord::SHIFT_COM_BASE),
};

}  // namespace

std::string iniPath() { return ProgramDirectory + IniFileName; }

FirmwareConfigRecord readFirmwareConfig(const std::string& iniFile, const std::string& programDirectory)
{
    FirmwareConfigRecord config;
    for (const InfoKey& key : InfoKeys) {
        std::string value = getPrivateProfileString(InfoSection, key.name, key.defaultValue, iniFile);
        if (key.text) {
            config.*key.text = std::move(value);
        } else {
            config.*key.flag = profileFlag(value);
        }
    }
    // Plain concatenation: a value that is itself an absolute path still lands below the
    // program's folder, as it always has for deliveries.
    config.FirmwarePath = programDirectory + config.Firmware_file;
    config.FixFilePath = programDirectory + config.Firmware_fix_atbkor_file;
    config.ComBase = config.SHIFT_COM_BASE ? ShiftedComBase : PlainComBase;
    return config;
}

void loadFirmwareConfig(const std::string& programDirectory)
{
    FirmwareConfig = readFirmwareConfig(programDirectory + IniFileName, programDirectory);
}

std::string readPreUploadCommandFrom(const std::string& iniFile, int index)
{
    return getPrivateProfileString(PreUploadSection, std::to_string(index), "", iniFile);
}

std::string readPreUploadCommand(int index) { return readPreUploadCommandFrom(iniPath(), index); }

bool iniFileUsable() { return profileFileReadable(iniPath()); }

std::string formatFirmwareConfig(const FirmwareConfigRecord& config)
{
    std::string out;
    auto line = [&out](const std::string& name, const std::string& value) {
        out += name;
        out += '=';
        out += value;
        out += '\n';
    };
    for (const InfoKey& key : InfoKeys) {
        line(key.name, key.text ? config.*key.text : std::string(config.*key.flag ? "1" : "0"));
    }
    line("FirmwarePath", config.FirmwarePath);
    line("FixFilePath", config.FixFilePath);
    line("ComBase", std::to_string(config.ComBase));
    return out;
}
