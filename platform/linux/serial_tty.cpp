// COM ports on this host: $TARVO_HOST/ports/comN is a link to a tty device (a USB modem's
// /dev/ttyACM0, a pseudo-terminal of the modem simulator, ...). The device is opened raw, 8N1,
// non-blocking, and held exclusively: flock keeps out every other opener, root included, which
// TIOCEXCL alone does not.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/linux/host_paths.h"
#include "platform/serial_device.h"

namespace platform {

namespace {

// How long a write may make no progress before it gives up with what was accepted. A real port
// at 115200 baud drains a 4 KiB buffer in well under half a second; a device that takes nothing
// for this long has been pulled out or blocked by flow control for good.
constexpr uint32_t WriteStallMs = 2000;

// Input taken from the device per system call: a few lines of an answer, or an ACK and what
// follows it; more than the line delivers between two reads of a busy reader.
constexpr int ReadBufferBytes = 4096;

speed_t speedFor(uint32_t baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    default: return B115200;
    }
}

class TtyPort : public PortDevice {
public:
    TtyPort(int fd, bool exclusiveFlagSet) : fd_(fd), exclusiveFlagSet_(exclusiveFlagSet) {}

    ~TtyPort() override
    {
        // TIOCEXCL outlives the close on a pseudo-terminal: the next non-root open would get
        // EBUSY, so clear it before letting go.
        if (exclusiveFlagSet_) {
            ioctl(fd_, TIOCNXCL);
        }
        flock(fd_, LOCK_UN);
        ::close(fd_);
    }

    // Served from what the last system call brought in; only an empty buffer asks the device,
    // and then for everything waiting, so a flood costs a call per buffer, not per byte.
    int read(uint8_t* buf, int n) override
    {
        if (n <= 0) {
            return 0;
        }
        if (next_ == filled_) {
            int got = fill();
            if (got <= 0) {
                return got;
            }
        }
        int take = std::min(n, filled_ - next_);
        std::memcpy(buf, buffer_ + next_, static_cast<size_t>(take));
        next_ += take;
        return take;
    }

    int write(const uint8_t* buf, int n) override
    {
        if (gone_) {
            return -1;
        }
        int done = 0;
        Ticks stallStart = tickCount();
        while (done < n) {
            ssize_t put = ::write(fd_, buf + done, static_cast<size_t>(n - done));
            if (put > 0) {
                done += static_cast<int>(put);
                stallStart = tickCount();
                continue;
            }
            if (put < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
                gone_ = true;
                break;
            }
            uint32_t waited = tickCount() - stallStart;
            if (waited >= WriteStallMs) {
                break;
            }
            pollfd p{fd_, POLLOUT, 0};
            int r = ::poll(&p, 1, static_cast<int>(WriteStallMs - waited));
            if (r > 0 && (p.revents & (POLLERR | POLLNVAL))) {
                gone_ = true;
                break;
            }
        }
        return done > 0 ? done : -1;
    }

    void purge() override
    {
        tcflush(fd_, TCIOFLUSH);
        next_ = filled_ = 0;
    }

    bool waitReadable(uint32_t timeoutMs) override
    {
        if (next_ < filled_) {
            return true;
        }
        if (gone_) {
            // A device that has gone answers every read with a failure; a wait on it runs out
            // its time like a wait on silence, without spinning.
            sleepMs(timeoutMs);
            return false;
        }
        pollfd p{fd_, POLLIN, 0};
        int r;
        do {
            r = ::poll(&p, 1, static_cast<int>(timeoutMs));
        } while (r < 0 && errno == EINTR);
        if (r <= 0) {
            return false;
        }
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            // Bytes sent before the hang-up may still be waiting: the reads take them first and
            // then report the line gone.
            hungUp_ = true;
        }
        return true;
    }

    void lowerDtr() override
    {
        int dtr = TIOCM_DTR;
        // A pseudo-terminal has no modem lines and answers ENOTTY: nothing to lower there.
        ioctl(fd_, TIOCMBIC, &dtr);
    }

private:
    // The device's waiting bytes into the empty buffer: their count, 0 when none, -1 when gone.
    int fill()
    {
        next_ = filled_ = 0;
        if (gone_) {
            return -1;
        }
        ssize_t got = ::read(fd_, buffer_, sizeof buffer_);
        if (got > 0) {
            filled_ = static_cast<int>(got);
            return filled_;
        }
        if (got == 0) {
            // A raw line with no minimum count answers 0, not EAGAIN, when nothing is waiting;
            // after a hang-up the same 0 means the other side has gone.
            if (hungUp_) {
                gone_ = true;
                return -1;
            }
            return 0;
        }
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
            return 0;
        }
        // EIO: the other side of the line has gone (a USB modem pulled out, a hung-up pty).
        gone_ = true;
        return -1;
    }

    int fd_;
    bool exclusiveFlagSet_;
    uint8_t buffer_[ReadBufferBytes];
    int next_ = 0;    // first byte of buffer_ not yet served
    int filled_ = 0;  // bytes of buffer_ holding input
    bool gone_ = false;
    bool hungUp_ = false;
};

}  // namespace

namespace {

PortOpenError openErrorFor(int error)
{
    switch (error) {
    case ENOENT:
    case ENOTDIR:
    case ENXIO:
    case ENODEV: return PortOpenError::NoDevice;  // the entry is there, its device is not
    case EACCES:
    case EPERM: return PortOpenError::Denied;
    case EBUSY: return PortOpenError::Busy;
    case ENOTTY: return PortOpenError::NotSerial;
    default: return PortOpenError::Failed;
    }
}

// Closes a descriptor that will not become a port and says why.
std::unique_ptr<PortDevice> refuse(int fd, bool exclusiveFlagSet, PortOpenError why)
{
    if (exclusiveFlagSet) {
        ioctl(fd, TIOCNXCL);
    }
    ::close(fd);
    setPortOpenError(why);
    return nullptr;
}

}  // namespace

std::string systemPortLocation(const std::string& portName) { return portEntryPath(portName); }

bool systemPortExists(const std::string& portName)
{
    std::string entry = portEntryPath(portName);
    struct stat st {};
    return !entry.empty() && ::lstat(entry.c_str(), &st) == 0;
}

std::string portEntriesAdvice()
{
    return "COM ports are entries in " + hostDirectory() +
           "/ports: link comN there to the modem's serial device (README, \"Using a real modem\")";
}

std::unique_ptr<PortDevice> openSystemPort(const std::string& portName, uint32_t baud)
{
    if (!systemPortExists(portName)) {
        setPortOpenError(PortOpenError::NoEntry);
        return nullptr;
    }
    std::string entry = portEntryPath(portName);
    int fd = ::open(entry.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        setPortOpenError(openErrorFor(errno));
        return nullptr;
    }
    if (!isatty(fd)) {
        return refuse(fd, false, PortOpenError::NotSerial);
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        return refuse(fd, false, PortOpenError::Busy);
    }
    bool exclusiveFlagSet = ioctl(fd, TIOCEXCL) == 0;

    termios tio{};
    if (tcgetattr(fd, &tio) != 0) {
        return refuse(fd, exclusiveFlagSet, PortOpenError::Failed);
    }
    // Hardware flow control stays as the driver reports it; everything else is a raw 8N1 line.
    tcflag_t flowControl = tio.c_cflag & CRTSCTS;
    cfmakeraw(&tio);
    tio.c_cflag &= ~(CSTOPB | PARENB | CSIZE | CRTSCTS);
    tio.c_cflag |= CS8 | CREAD | CLOCAL | flowControl;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    cfsetispeed(&tio, speedFor(baud));
    cfsetospeed(&tio, speedFor(baud));
    if (tcsetattr(fd, TCSANOW, &tio) != 0) {
        return refuse(fd, exclusiveFlagSet, PortOpenError::Failed);
    }
    return std::make_unique<TtyPort>(fd, exclusiveFlagSet);
}

}  // namespace platform
