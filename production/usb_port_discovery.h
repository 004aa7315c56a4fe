// USB modem port discovery: from the device key of a USB modem's arrival or removal notice to
// the COM port the product's driver gave it, through the device tree the Windows 9x family keeps
// below HKEY_LOCAL_MACHINE\Enum, binding the key to that port's uploadJobs record so a later
// removal finds the port without the registry. A device instance that cannot be read (it will
// not open, or has no "Serial" or "Driver" value that fits) is a stale entry: it is skipped, named
// once per process on stderr, and the search goes on with the next instance.
// Results: a port from ComBase to ComBase + 7, or 0 when none was found.
// Thread rule: UI thread only (reads and writes uploadJobs' deviceKey fields).
#pragma once

#include <cstdint>
#include <string>

constexpr int32_t UsbRemoval = 0;  // direction of a removal notice
constexpr int32_t UsbArrival = 1;  // direction of an arrival notice

int32_t findUsbModemPort(const std::string& deviceKey, int32_t direction);
