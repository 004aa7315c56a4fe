// Device notifications over the local datagram socket $TARVO_HOST/devnotify: a listener thread
// per registration, woken out of poll() through a pipe when the owner unregisters.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

#include "platform/device_notify.h"
#include "platform/linux/listener_parts.h"
#include "platform/linux/host_paths.h"

namespace platform {

namespace {

constexpr const char* ArrivalWord = "arrival";
constexpr const char* RemovalWord = "removal";
constexpr mode_t SocketFileMode = S_IRUSR | S_IWUSR;  // 0600

struct Registration {
    int socket = -1;
    int wakeRead = -1;
    int wakeWrite = -1;
    std::string path;
    std::thread listener;
};

HandleTable<Registration> registrations;

bool sameTextIgnoringCase(const char* a, const std::string& b, size_t n)
{
    if (b.size() != n) {
        return false;
    }
    for (size_t i = 0; i < n; ++i) {
        char x = a[i];
        char y = b[i];
        if (x >= 'a' && x <= 'z') {
            x = static_cast<char>(x - 'a' + 'A');
        }
        if (y >= 'a' && y <= 'z') {
            y = static_cast<char>(y - 'a' + 'A');
        }
        if (x != y) {
            return false;
        }
    }
    return true;
}

void closeQuietly(int& fd)
{
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

void fail(DeviceNotifyFailure* why, DeviceNotifyError error, const std::string& text)
{
    if (why) {
        why->error = error;
        why->text = text;
    }
}

// Connecting to a datagram socket tells whether someone is bound to it: refused means the file
// is left over from a station that has gone.
enum class SocketFile { Missing, Stale, Live, NotASocket };

SocketFile probeSocketFile(const sockaddr_un& address)
{
    struct stat info {};
    if (lstat(address.sun_path, &info) != 0) {
        return SocketFile::Missing;
    }
    if (!S_ISSOCK(info.st_mode)) {
        return SocketFile::NotASocket;
    }
    int probe = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (probe < 0) {
        return SocketFile::Live;  // cannot tell: leave it alone
    }
    int rc = connect(probe, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    int error = errno;
    close(probe);
    if (rc == 0) {
        return SocketFile::Live;
    }
    return error == ECONNREFUSED || error == ENOENT ? SocketFile::Stale : SocketFile::Live;
}

void listenForEvents(Registration* registration, std::string classGuid, DeviceChangeHandler handler)
{
    std::vector<char> buffer(DeviceDatagramLimit + 1);
    while (waitForEvent(registration->socket, registration->wakeRead)) {
        // MSG_TRUNC gives the datagram's real length, so an oversized one is seen and dropped
        // rather than read as a shortened name.
        ssize_t size = recv(registration->socket, buffer.data(), buffer.size(), MSG_TRUNC | MSG_DONTWAIT);
        if (size < 0 || static_cast<size_t>(size) > DeviceDatagramLimit) {
            continue;
        }
        DeviceChange change;
        if (parseDeviceDatagram(buffer.data(), static_cast<size_t>(size), classGuid, &change)) {
            handler(change);
        }
    }
}

}  // namespace

std::string deviceNotifySocketPath()
{
    return hostDirectory() + "/" + DeviceNotifySocketName;
}

bool parseDeviceDatagram(const char* data, size_t size, const std::string& classGuid, DeviceChange* change)
{
    std::string text(data, size);
    // The name is a single-byte string: a zero byte ends it.
    size_t zero = text.find('\0');
    if (zero != std::string::npos) {
        text.resize(zero);
    }
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
        if (!text.empty() && text.back() == '\r') {
            text.pop_back();
        }
    }
    size_t firstBlank = text.find(' ');
    if (firstBlank == std::string::npos) {
        return false;
    }
    std::string word = text.substr(0, firstBlank);
    uint32_t event = 0;
    if (word == ArrivalWord) {
        event = DbtDeviceArrival;
    } else if (word == RemovalWord) {
        event = DbtDeviceRemoveComplete;
    } else {
        return false;
    }
    size_t guidStart = firstBlank + 1;
    if (guidStart >= text.size() || text[guidStart] != '{') {
        return false;
    }
    size_t guidEnd = text.find('}', guidStart);
    if (guidEnd == std::string::npos || guidEnd + 1 >= text.size() || text[guidEnd + 1] != ' ') {
        return false;
    }
    size_t guidLength = guidEnd + 1 - guidStart;
    change->otherClass = !sameTextIgnoringCase(text.data() + guidStart, classGuid, guidLength);
    change->event = event;
    change->deviceType = DbtDevtypDeviceInterface;
    change->name = text.substr(guidEnd + 2);
    return true;
}

DeviceNotifyHandle registerDeviceNotification(const std::string& classGuid, DeviceChangeHandler handler,
                                              DeviceNotifyFailure* why)
{
    fail(why, DeviceNotifyError::None, "");
    std::string path = deviceNotifySocketPath();
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        fail(why, DeviceNotifyError::Failed, path + ": path too long for a local socket");
        return 0;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

    switch (probeSocketFile(address)) {
    case SocketFile::Live:
        fail(why, DeviceNotifyError::InUse, path + ": another station is listening for devices there");
        return 0;
    case SocketFile::NotASocket:
        fail(why, DeviceNotifyError::Failed, path + ": exists and is not a socket");
        return 0;
    case SocketFile::Stale:
        unlink(address.sun_path);
        break;
    case SocketFile::Missing:
        break;
    }

    auto registration = std::make_unique<Registration>();
    registration->path = path;
    registration->socket = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    int wake[2] = {-1, -1};
    if (registration->socket < 0 || pipe2(wake, O_CLOEXEC) != 0) {
        fail(why, DeviceNotifyError::Failed, path + ": " + std::strerror(errno));
        closeQuietly(registration->socket);
        return 0;
    }
    registration->wakeRead = wake[0];
    registration->wakeWrite = wake[1];
    // The socket file takes the socket's own mode, less the umask: owner only from the start, so
    // no other user's datagram is ever taken, not even in the moment after bind. (Setting the
    // process's umask instead would race with files other threads create.)
    fchmod(registration->socket, SocketFileMode);
    if (bind(registration->socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        int error = errno;
        fail(why, error == EADDRINUSE ? DeviceNotifyError::InUse : DeviceNotifyError::Failed,
             path + ": " + std::strerror(error));
        closeQuietly(registration->socket);
        closeQuietly(registration->wakeRead);
        closeQuietly(registration->wakeWrite);
        return 0;
    }

    // Where the socket's mode does not carry over to the file, the file is narrowed at once.
    chmod(path.c_str(), SocketFileMode);

    Registration* raw = registration.get();
    try {
        raw->listener = std::thread(listenForEvents, raw, classGuid, std::move(handler));
    } catch (const std::exception&) {
        fail(why, DeviceNotifyError::Failed, path + ": no listener thread");
        unlink(path.c_str());
        closeQuietly(raw->socket);
        closeQuietly(raw->wakeRead);
        closeQuietly(raw->wakeWrite);
        return 0;
    }
    return registrations.add(std::move(registration));
}

bool unregisterDeviceNotification(DeviceNotifyHandle handle)
{
    std::unique_ptr<Registration> registration = registrations.take(handle);
    if (!registration) {
        return false;
    }
    // The file goes first, so a sender meanwhile gets a refusal rather than a lost event.
    unlink(registration->path.c_str());
    char byte = 1;
    [[maybe_unused]] ssize_t written = write(registration->wakeWrite, &byte, 1);
    if (registration->listener.joinable()) {
        registration->listener.join();
    }
    closeQuietly(registration->socket);
    closeQuietly(registration->wakeRead);
    closeQuietly(registration->wakeWrite);
    return true;
}

}  // namespace platform
