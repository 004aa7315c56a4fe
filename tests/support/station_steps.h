// Helpers shared by the station's, the production dialog's and the device channel's tests:
// waiting for a condition on the real clock, production records held by workers the test steps
// by hand, and datagrams sent to the station's socket as the USB driver sends them.
// Thread rule: the test's thread.
#pragma once

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <string>

#include "platform/device_notify.h"
#include "platform/threads.h"
#include "wait_until.h"
#include "upload/upload_job.h"

namespace station_steps {

using test_support::waitUntil;

// Record `row` held by a thread that does nothing: the test writes what the worker would and
// says when it has ended.
inline void holdSteppedWorker(int row)
{
    uploadJobs[row].threadEnded.store(0);
    uploadJobs[row].threadHandle = new platform::Thread([] {});
}

inline void endSteppedWorker(int row, int32_t phase)
{
    uploadJobs[row].phase.store(phase);
    uploadJobs[row].threadEnded.store(1, std::memory_order_release);
}

// Sends one datagram to $TARVO_HOST/devnotify; false when nobody is bound there.
inline bool sendDeviceDatagram(const std::string& datagram)
{
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::string path = platform::deviceNotifySocketPath();
    if (fd < 0 || path.size() >= sizeof address.sun_path) {
        if (fd >= 0) {
            close(fd);
        }
        return false;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    ssize_t sent = sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
                          sizeof address);
    close(fd);
    return sent == static_cast<ssize_t>(datagram.size());
}

}  // namespace station_steps
