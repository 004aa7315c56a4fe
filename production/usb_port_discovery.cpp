// USB modem port discovery: device key -> USB device instance (by its serial number) -> its
// driver entry -> the port enumerator's child -> "PortName".
#include "production/usb_port_discovery.h"

#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>

#include "config/firmware_config.h"
#include "platform/ascii_case.h"
#include "platform/registry.h"
#include "platform/shown_text.h"
#include "platform/threads.h"
#include "upload/upload_job.h"

namespace {

// Where the product's USB driver keeps its devices, for the two protocol families.
constexpr const char* DudeUsbDeviceKey = "Enum\\USB\\VID_4E2C&PID_7A01";
constexpr const char* OtherUsbDeviceKey = "Enum\\USB\\VID_4E2B&PID_7A02";
constexpr const char* DudePortEnumPrefix = "Enum\\NLPORTENUM\\56KUSB\\USB_VID_4E2C_PID_7A01_";
constexpr const char* OtherPortEnumPrefix = "Enum\\KVPORTENUM\\ACFCDC\\USB_VID_4E2B_PID_7A02_";

constexpr const char* SerialValue = "Serial";
constexpr const char* DriverValue = "Driver";
constexpr const char* PortNameValue = "PortName";

constexpr uint32_t ValueBufferBytes = 36;   // every value read; a longer one is a failed read
constexpr uint32_t SubkeyNameChars = 300;
constexpr int SerialBytes = 8;              // bytes 7..0 of "Serial" make the serial text
constexpr size_t PortNumberOffset = 3;      // "COM12": the number from the fourth character

constexpr const char* SkippedEntryFormat =
    "Tarvo32: skipped the USB device entry HKEY_LOCAL_MACHINE\\%s\\%s: %s\n";
constexpr const char* CannotOpenText = "it cannot be opened";
constexpr const char* NoSerialText = "no \"Serial\" value of at most 36 bytes";
constexpr const char* NoDriverText = "no \"Driver\" value of at most 36 bytes";

platform::Mutex skippedMutex;
std::set<std::string> skippedEntries;  // guarded by skippedMutex: entries already named

// A device instance that cannot be read is a stale entry (an old driver's, a hand edit's); it
// must not hide the instances listed after it. Each is named once per process on stderr.
void skipEntry(const char* usbPath, const char* name, const char* why)
{
    {
        std::lock_guard<platform::Mutex> lock(skippedMutex);
        if (!skippedEntries.insert(std::string(usbPath) + "\\" + name + "\n" + why).second) {
            return;
        }
    }
    std::fprintf(stderr, SkippedEntryFormat, usbPath, platform::shownText(name).c_str(), why);
}

// The value into a zero-filled buffer of ValueBufferBytes; false when it is missing or too long.
bool readValue(platform::RegKey key, const char* name, char (&buffer)[ValueBufferBytes + 1])
{
    for (char& c : buffer) {
        c = 0;
    }
    uint32_t size = ValueBufferBytes;
    return platform::regQueryValueEx(key, name, nullptr, reinterpret_cast<uint8_t*>(buffer), &size) == platform::RegOk;
}

std::string serialText(const char* serial)
{
    std::string text;
    for (int i = SerialBytes - 1; i >= 0; --i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", static_cast<unsigned char>(serial[i]));
        text += digits;
    }
    return text;
}

// The port named by PortName, or 0 when it is not one of the station's eight.
int32_t stationPort(const char* portName)
{
    std::string name(portName);
    // strtol rather than atoi: a number too long for an int is out of range, not undefined.
    long port = name.size() > PortNumberOffset ? std::strtol(name.c_str() + PortNumberOffset, nullptr, 10) : 0;
    long base = FirmwareConfig.ComBase;
    return (port < base || port >= base + ProductionPortCount) ? 0 : static_cast<int32_t>(port);
}

// The port the driver entry's port enumerator child names, or 0.
int32_t portOfDriver(const std::string& driver)
{
    std::string enumKey = FirmwareConfig.Firmware_from_DUDE_protocol ? DudePortEnumPrefix : OtherPortEnumPrefix;
    for (char c : driver) {
        enumKey += c == '\\' ? '_' : c;
    }
    platform::RegKey child = 0;
    if (platform::regOpenKeyEx(platform::HkeyLocalMachine, enumKey, &child) != platform::RegOk) {
        return 0;
    }
    char portName[ValueBufferBytes + 1];
    int32_t port = readValue(child, PortNameValue, portName) ? stationPort(portName) : 0;
    platform::regCloseKey(child);
    return port;
}

}  // namespace

int32_t findUsbModemPort(const std::string& deviceKey, int32_t direction)
{
    if (deviceKey.empty()) {
        return 0;
    }
    int32_t base = FirmwareConfig.ComBase;
    if (direction == UsbRemoval) {
        // A key bound by an earlier arrival answers without the registry, which the driver may
        // already have cleared.
        for (int k = FirstProductionJob; k <= LastProductionJob; ++k) {
            if (platform::equalsNoCase(deviceKey, uploadJobs[k].deviceKey)) {
                return base + k - 1;
            }
        }
    }

    platform::RegKey usbKey = 0;
    const char* usbPath = FirmwareConfig.Firmware_from_DUDE_protocol ? DudeUsbDeviceKey : OtherUsbDeviceKey;
    if (platform::regOpenKeyEx(platform::HkeyLocalMachine, usbPath, &usbKey) != platform::RegOk) {
        return 0;
    }
    int32_t port = 0;
    for (uint32_t index = 0;; ++index) {
        char name[SubkeyNameChars];
        uint32_t nameChars = SubkeyNameChars;
        if (platform::regEnumKeyEx(usbKey, index, name, &nameChars) != platform::RegOk) {
            break;
        }
        platform::RegKey instance = 0;
        if (platform::regOpenKeyEx(usbKey, name, &instance) != platform::RegOk) {
            skipEntry(usbPath, name, CannotOpenText);
            continue;
        }
        char serial[ValueBufferBytes + 1];
        if (!readValue(instance, SerialValue, serial)) {
            platform::regCloseKey(instance);
            skipEntry(usbPath, name, NoSerialText);
            continue;
        }
        if (!platform::equalsNoCase(deviceKey, serialText(serial))) {
            platform::regCloseKey(instance);
            continue;
        }
        char driver[ValueBufferBytes + 1];
        if (!readValue(instance, DriverValue, driver)) {
            platform::regCloseKey(instance);
            skipEntry(usbPath, name, NoDriverText);
            continue;
        }
        port = portOfDriver(driver);
        platform::regCloseKey(instance);
        if (port > 0) {
            // A modem plugged into another hub socket comes back on another port: its key
            // leaves the record it was bound to before, or its next removal would stop that
            // record's port, where another modem may be running by then.
            for (int k = FirstProductionJob; k <= LastProductionJob; ++k) {
                if (platform::equalsNoCase(deviceKey, uploadJobs[k].deviceKey)) {
                    uploadJobs[k].deviceKey.clear();
                }
            }
            uploadJobs[port - base + 1].deviceKey = deviceKey;
            break;
        }
    }
    platform::regCloseKey(usbKey);
    return port;
}
