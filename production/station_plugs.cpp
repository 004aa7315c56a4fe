// The station's rows and the host's device tree: modems of the product line plugged into the
// sockets that the rows' port entries lead to start their rows, and pulling them stops them. A
// port device change carries the port the device tree found; no registry search is needed.
#include <cstdio>

#include "config/firmware_config.h"
#include "production/station.h"
#include "upload/upload_workers.h"

namespace {

constexpr auto relaxed = std::memory_order_relaxed;

constexpr const char* IgnoredPrefix = "Tarvo32: ";

void sayIgnored(const platform::DeviceChange& change, const std::string& why)
{
    std::string serial = change.serial.empty() ? std::string() : " (serial " + change.serial + ")";
    std::fprintf(stderr, "%s%s%s ignored: %s\n", IgnoredPrefix, change.name.c_str(), serial.c_str(), why.c_str());
    std::fflush(stderr);
}

std::string usbIds(uint16_t vendor, uint16_t product)
{
    char text[16];
    std::snprintf(text, sizeof text, "%04x:%04x", vendor, product);
    return text;
}

bool isProductLine(uint16_t vendor, uint16_t product)
{
    bool dude = vendor == DudeUsbVendor && product == DudeUsbProduct;
    bool other = vendor == OtherUsbVendor && product == OtherUsbProduct;
    return dude || other;
}

// Why an arrival is not one of the station's modems; empty when it is.
std::string notOurs(const platform::DeviceChange& change)
{
    std::string wanted = usbIds(usbModemVendor(), usbModemProduct());
    if (change.usbVendor == 0 && change.usbProduct == 0) {
        return "not a USB device (this station takes USB " + wanted + ")";
    }
    if (change.usbVendor == usbModemVendor() && change.usbProduct == usbModemProduct()) {
        return std::string();
    }
    std::string ids = usbIds(change.usbVendor, change.usbProduct);
    if (isProductLine(change.usbVendor, change.usbProduct)) {
        return "USB " + ids + " is the product line's other brand; this station takes " + wanted +
               " (Firmware_from_DUDE_protocol in Tarvo32.ini)";
    }
    return "USB " + ids + " is not a modem of the product line (this station takes " + wanted + ")";
}

}  // namespace

uint16_t usbModemVendor()
{
    return FirmwareConfig.Firmware_from_DUDE_protocol ? DudeUsbVendor : OtherUsbVendor;
}

uint16_t usbModemProduct()
{
    return FirmwareConfig.Firmware_from_DUDE_protocol ? DudeUsbProduct : OtherUsbProduct;
}

PlugListening ProductionStation::listenForPlugs(platform::DeviceChangeHandler handler, std::string* why)
{
    if (plugHandle_ != 0) {
        return PlugListening::Listening;
    }
    platform::DeviceNotifyFailure failure;
    plugHandle_ = platform::registerPortNotification(std::move(handler), &failure);
    if (plugHandle_ != 0) {
        return PlugListening::Listening;
    }
    if (failure.error == platform::DeviceNotifyError::Unsupported) {
        return PlugListening::NotOnThisHost;
    }
    if (why) {
        *why = failure.text;
    }
    return PlugListening::Unheard;
}

DeviceAction ProductionStation::portDeviceChange(const platform::DeviceChange& change)
{
    DeviceAction action;
    bool arrival = change.event == platform::DbtDeviceArrival;
    if (!arrival && change.event != platform::DbtDeviceRemoveComplete) {
        return action;
    }
    // Only arrivals are explained: a device ignored when it came is ignored quietly when it goes.
    std::string why = notOurs(change);
    if (why.empty() && change.port == 0) {
        why = "no COM port's entry leads to it or to its links";
    } else if (why.empty() && productionJobIndex(change.port) < 0) {
        why = "its entry is COM" + std::to_string(change.port) + ", not one of the station's ports COM" +
              std::to_string(FirmwareConfig.ComBase) + " to COM" +
              std::to_string(FirmwareConfig.ComBase + ProductionPortCount - 1);
    } else if (why.empty() && !serves(change.port)) {
        why = "its entry is COM" + std::to_string(change.port) + ", which this station does not serve";
    }
    if (!why.empty()) {
        if (arrival) {
            sayIgnored(change, why);
        }
        return action;
    }
    action.key = change.serial;
    if (!arrival) {
        return removalOnPort(change.port, action);
    }
    // Bound like the driver's device key: the starter copies it to the run's record.
    uploadJobs[productionJobIndex(change.port)].deviceKey = change.serial;
    return arrivalOnPort(change.port, action);
}
