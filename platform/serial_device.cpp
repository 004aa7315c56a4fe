#include "platform/serial_device.h"

#include <map>

#include "platform/threads.h"

namespace platform {

namespace {

Mutex tableMutex;
std::map<int32_t, std::shared_ptr<PortDevice>> openDevices;
int32_t nextHandle = 1;
PortOpener currentOpener;
thread_local PortOpenError openError = PortOpenError::None;

}  // namespace

void setPortOpener(PortOpener opener)
{
    std::lock_guard<Mutex> lock(tableMutex);
    currentOpener = std::move(opener);
}

int32_t openDevice(const std::string& portName, uint32_t baud)
{
    PortOpener opener;
    {
        std::lock_guard<Mutex> lock(tableMutex);
        opener = currentOpener;
    }
    openError = PortOpenError::None;
    std::unique_ptr<PortDevice> device = opener ? opener(portName, baud) : openSystemPort(portName, baud);
    if (!device) {
        if (openError == PortOpenError::None) {
            openError = PortOpenError::NoEntry;
        }
        return -1;
    }
    std::lock_guard<Mutex> lock(tableMutex);
    int32_t handle = nextHandle++;
    if (nextHandle <= 0) {
        nextHandle = 1;
    }
    openDevices[handle] = std::move(device);
    return handle;
}

PortOpenError lastPortOpenError() { return openError; }

void setPortOpenError(PortOpenError error) { openError = error; }

bool portHasEntry(const std::string& portName)
{
    {
        std::lock_guard<Mutex> lock(tableMutex);
        if (currentOpener) {
            return true;
        }
    }
    return systemPortExists(portName);
}

std::shared_ptr<PortDevice> deviceFor(int32_t handle)
{
    std::lock_guard<Mutex> lock(tableMutex);
    auto it = openDevices.find(handle);
    return it == openDevices.end() ? nullptr : it->second;
}

void closeDevice(int32_t handle)
{
    std::shared_ptr<PortDevice> device;
    {
        std::lock_guard<Mutex> lock(tableMutex);
        auto it = openDevices.find(handle);
        if (it == openDevices.end()) {
            return;
        }
        device = std::move(it->second);
        openDevices.erase(it);
    }
    // The device's destructor closes it, outside the lock.
}

int openDeviceCount()
{
    std::lock_guard<Mutex> lock(tableMutex);
    return static_cast<int>(openDevices.size());
}

}  // namespace platform
