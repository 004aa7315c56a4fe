// The byte link under every COM port: a device that reads without blocking, writes until the
// bytes are accepted, purges both directions, waits for input in the OS and lowers DTR.
//
// Ports are opened by their Windows name ("COM3") through the port opener in force. The default
// opener maps COMn to $TARVO_HOST/ports/comN, a link to a tty device, and to nothing else: a COM
// port with no entry there does not exist. Tests install their own opener (an in-process modem).
// Open devices are held in a handle table; the link layer (link/serial_link.h) sees only the
// small integer handles, -1 meaning none.
//
// Results: counts >= 0, -1 for a failure that moved no byte.
// Thread rule: the handle table is safe from any thread; one device is used by one thread at a
// time (the search on the UI thread, or one upload worker).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace platform {

class PortDevice {
public:
    virtual ~PortDevice() = default;
    // Takes up to n bytes already received; 0 when none is waiting; -1 when the device failed
    // (gone) and nothing was read.
    virtual int read(uint8_t* buf, int n) = 0;
    // Writes n bytes, waiting while the device accepts them; returns the count accepted (fewer
    // when the device stalls for good), -1 when it failed and accepted nothing.
    virtual int write(const uint8_t* buf, int n) = 0;
    // Discards received bytes not yet read and bytes not yet sent.
    virtual void purge() = 0;
    // Blocks until a byte is waiting, the device is gone, or timeoutMs passed. True when a read
    // is worth trying now.
    virtual bool waitReadable(uint32_t timeoutMs) = 0;
    // Lowers DTR; a device without modem lines ignores it.
    virtual void lowerDtr() = 0;
};

using PortOpener = std::function<std::unique_ptr<PortDevice>(const std::string& portName, uint32_t baud)>;

// Installs the opener used by openDevice; an empty function restores the default (tty devices
// below $TARVO_HOST/ports).
void setPortOpener(PortOpener opener);

// Whether the OS has a port of that name, open or not: on Linux the entry below
// $TARVO_HOST/ports exists (a dangling link too), on Windows QueryDosDeviceA knows the name.
bool systemPortExists(const std::string& portName);
// Where the OS keeps the port, for messages: the entry's path on Linux, \\.\COMn on Windows;
// empty when the name is no port.
std::string systemPortLocation(const std::string& portName);

// The OS's own opener, the default: raw 8N1 at baud, exclusive; null when the port does not
// exist or cannot be had. On Linux COMn is the tty device $TARVO_HOST/ports/comN links to
// (platform/linux/serial_tty.cpp).
std::unique_ptr<PortDevice> openSystemPort(const std::string& portName, uint32_t baud);

// Why the latest open on this thread failed, as GetLastError tells it after CreateFileA.
enum class PortOpenError {
    None,
    NoEntry,    // the port does not exist: no entry maps it to a device
    NoDevice,   // its entry leads to no device (a USB modem pulled out)
    Busy,       // another program holds it
    Denied,     // no permission on the device
    NotSerial,  // the entry leads to something that is not a serial device
    Failed,     // the device refused its settings, or any other failure
};

// Opens a port through the opener in force; the handle, or -1 with lastPortOpenError() set (an
// opener that fails without saying why counts as NoEntry: it knows no such port).
int32_t openDevice(const std::string& portName, uint32_t baud);
PortOpenError lastPortOpenError();
// For openers: the reason of the open under way on this thread.
void setPortOpenError(PortOpenError error);

// True when the port has an entry (whether or not a device answers behind it): a cheap test
// that opens nothing. The default opener's entries are $TARVO_HOST/ports/comN; with another
// opener installed every name counts as present, the opener saying otherwise when opened.
bool portHasEntry(const std::string& portName);
// Where the entries of the default opener go, for a user who has none: a short sentence.
std::string portEntriesAdvice();
// The device of an open handle; null for -1 or a closed handle.
std::shared_ptr<PortDevice> deviceFor(int32_t handle);
// Removes the handle; the device closes when its last user lets go.
void closeDevice(int32_t handle);
// Number of handles open (tests check that nothing was left open).
int openDeviceCount();

}  // namespace platform
