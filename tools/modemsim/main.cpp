// modemsim: the simulated modem on a pseudo-terminal, linked as $TARVO_HOST/ports/comN so that
// Tarvo32 opens it as that COM port. Plays the modem model in real time until SIGINT or SIGTERM
// (or until the modem is pulled out), optionally paced at a line speed, and writes each image it
// receives to a file. Prints "ready COMn /dev/pts/N" once it listens.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "platform/linux/host_paths.h"
#include "platform/thread_priority.h"
#include "tools/modemsim/modem_model.h"

namespace {

using modemsim::Micros;
using modemsim::ModemModel;
using modemsim::ModemSettings;

constexpr int UsageExitStatus = 2;
constexpr int FailureExitStatus = 1;
constexpr uint32_t IdleRetryMs = 10;  // after a read error on the master, before polling again
constexpr size_t ChunkSize = 512;
constexpr uint32_t GoneLingerMs = 500;  // for the host to take our last bytes before the hang-up
constexpr uint32_t GoneSettleMs = 50;

constexpr const char* UsageText =
    "Usage: modemsim --port COMn [OPTIONS]\n"
    "\n"
    "A simulated modem on a pseudo-terminal linked as $TARVO_HOST/ports/comn.\n"
    "\n"
    "  --port COMn             the COM port to appear as (required)\n"
    "  --baud N                pace the line at N baud in both directions (default: instant)\n"
    "  --image-out PATH        write each received image: PATH.1, PATH.2, ... per file pass (a\n"
    "                          pass broken off as far as it got), and the latest complete one to\n"
    "                          PATH\n"
    "  --image-size N          trim PATH (the latest image) to N bytes, dropping the block filling\n"
    "  --ati9 TEXT             an ATI9 answer line (repeatable; replaces the default)\n"
    "  --ati1 TEXT             an ATI1 answer line (repeatable; replaces the default)\n"
    "  --atv TEXT              an ATV answer line (repeatable; replaces the default)\n"
    "  --kernel                kernel mode: KERNEL to ATI9 and ATI1\n"
    "  --kernel-ati1 TEXT      an ATI1 answer line in kernel mode (repeatable)\n"
    "  --echo                  echo from the start (ATE1 turns it on anyway)\n"
    "  --silent                answer nothing\n"
    "  --delay MS              wait MS before every answer\n"
    "  --delay-for CMD=MS      wait MS more before the answer to CMD (e.g. ATI9=250)\n"
    "  --error CMD=TIMES       answer ERROR to CMD the first TIMES times (e.g. ATBKOR=2)\n"
    "  --refuse-upload         answer ERROR to ATUPX and ATUPXK\n"
    "  --no-prompt             answer nothing to ATUPX and ATUPXK\n"
    "  --no-first-nak          never send the NAK that starts a transfer\n"
    "  --nak-block INDEX=TIMES NAK the INDEXth block of a file TIMES times\n"
    "  --late-ack INDEX[=MS]   acknowledge the INDEXth block MS late (default 2500)\n"
    "  --pull-out-after K      disappear after K acknowledged blocks\n"
    "  --give-up MS            leave upload mode after MS without a byte from the sender and\n"
    "                          come back in kernel mode, firmware half written (default 10000;\n"
    "                          the sender waits 3 s after the first NAK, so keep it above that)\n";

volatile sig_atomic_t stopRequested = 0;
int wakePipe[2] = {-1, -1};

void onSignal(int)
{
    stopRequested = 1;
    if (wakePipe[1] >= 0) {
        char byte = 1;
        [[maybe_unused]] ssize_t r = write(wakePipe[1], &byte, 1);
    }
}

Micros monotonicMicros()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<Micros>(ts.tv_sec) * 1000000u + static_cast<Micros>(ts.tv_nsec) / 1000u;
}

bool splitPair(const std::string& text, std::string& key, unsigned long& value, bool valueOptional)
{
    size_t eq = text.find('=');
    key = text.substr(0, eq);
    if (eq == std::string::npos) {
        return valueOptional && !key.empty();
    }
    char* end = nullptr;
    value = std::strtoul(text.c_str() + eq + 1, &end, 10);
    return !key.empty() && end && *end == '\0' && end != text.c_str() + eq + 1;
}

bool parseNumber(const char* text, unsigned long& value)
{
    char* end = nullptr;
    errno = 0;
    value = std::strtoul(text, &end, 10);
    return errno == 0 && end != text && *end == '\0';
}

std::string upper(std::string text)
{
    for (char& c : text) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return text;
}

struct Options {
    std::string port;
    std::string imageOut;
    long imageSize = -1;
    ModemSettings settings;
};

// Returns 0 on success, or the exit status to end with.
int parseOptions(int argc, char** argv, Options& options)
{
    bool ati9Given = false, ati1Given = false, atvGiven = false, kernelAti1Given = false;
    auto appendLine = [](std::vector<std::string>& lines, bool& given, const char* text) {
        if (!given) {
            lines.clear();
            given = true;
        }
        lines.emplace_back(text);
    };
    ModemSettings& s = options.settings;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&]() -> const char* { return i + 1 < argc ? argv[++i] : nullptr; };
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText, stdout);
            std::exit(0);
        }
        bool ok = true;
        unsigned long number = 0;
        std::string key;
        if (arg == "--echo") {
            s.echo = true;
        } else if (arg == "--kernel") {
            s.kernelMode = true;
        } else if (arg == "--silent") {
            s.silent = true;
        } else if (arg == "--refuse-upload") {
            s.refuseUpload = true;
        } else if (arg == "--no-prompt") {
            s.noPrompt = true;
        } else if (arg == "--no-first-nak") {
            s.noFirstNak = true;
        } else if (const char* v = nullptr; arg.rfind("--", 0) == 0 && (v = value()) != nullptr) {
            if (arg == "--port") {
                options.port = upper(v);
            } else if (arg == "--image-out") {
                options.imageOut = v;
            } else if (arg == "--image-size") {
                ok = parseNumber(v, number);
                options.imageSize = static_cast<long>(number);
            } else if (arg == "--baud") {
                ok = parseNumber(v, number);
                s.baud = static_cast<uint32_t>(number);
            } else if (arg == "--ati9") {
                appendLine(s.ati9Lines, ati9Given, v);
            } else if (arg == "--ati1") {
                appendLine(s.ati1Lines, ati1Given, v);
            } else if (arg == "--atv") {
                appendLine(s.atvLines, atvGiven, v);
            } else if (arg == "--kernel-ati1") {
                appendLine(s.kernelAti1Lines, kernelAti1Given, v);
            } else if (arg == "--delay") {
                ok = parseNumber(v, number);
                s.answerDelayMs = static_cast<uint32_t>(number);
            } else if (arg == "--delay-for") {
                ok = splitPair(v, key, number, false);
                s.answerDelayMsFor[upper(key)] = static_cast<uint32_t>(number);
            } else if (arg == "--error") {
                ok = splitPair(v, key, number, false);
                s.errorTimes[upper(key)] = static_cast<int>(number);
            } else if (arg == "--nak-block") {
                unsigned long index = 0, times = 0;
                ok = splitPair(v, key, times, false) && parseNumber(key.c_str(), index) && index > 0;
                s.nakBlockTimes[static_cast<uint32_t>(index)] = static_cast<int>(times);
            } else if (arg == "--late-ack") {
                unsigned long index = 0;
                number = modemsim::LateAckDefaultMs;
                ok = splitPair(v, key, number, true) && parseNumber(key.c_str(), index) && index > 0;
                s.lateAckBlock = static_cast<uint32_t>(index);
                s.lateAckMs = static_cast<uint32_t>(number);
            } else if (arg == "--pull-out-after") {
                ok = parseNumber(v, number);
                s.pullOutAfterBlocks = static_cast<int>(number);
            } else if (arg == "--give-up") {
                ok = parseNumber(v, number) && number > 0;
                s.giveUpMs = static_cast<uint32_t>(number);
            } else {
                ok = false;
            }
        } else {
            ok = false;
        }
        if (!ok) {
            std::fprintf(stderr, "modemsim: bad option or value: %s\n\n", arg.c_str());
            std::fputs(UsageText, stderr);
            return UsageExitStatus;
        }
    }
    if (options.port.empty()) {
        std::fputs(UsageText, stderr);
        return UsageExitStatus;
    }
    return 0;
}

bool makeDirectories(const std::string& path)
{
    for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        std::string part = path.substr(0, slash);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) {
            return false;
        }
        if (slash == std::string::npos) {
            return true;
        }
    }
}

bool writeFile(const std::string& path, const std::vector<uint8_t>& data)
{
    // Written beside and renamed, so a reader never sees half an image.
    std::string temporary = path + ".part";
    FILE* f = std::fopen(temporary.c_str(), "wb");
    if (!f) {
        return false;
    }
    bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
    ok = std::fclose(f) == 0 && ok;
    return ok && std::rename(temporary.c_str(), path.c_str()) == 0;
}

class ImageWriter {
public:
    ImageWriter(std::string path, long size) : path_(std::move(path)), size_(size) {}

    // Writes the passes ended since the last call: a complete one to PATH.n and PATH, one broken
    // off (a later pass has begun) to PATH.n only, as far as it got.
    void update(const ModemModel& model)
    {
        if (path_.empty()) {
            return;
        }
        const auto& images = model.images();
        while (written_ < images.size() && (images[written_].complete || written_ + 1 < images.size())) {
            const modemsim::ReceivedImage& image = images[written_];
            ++written_;
            writeFile(path_ + "." + std::to_string(written_), image.data);
            if (image.complete) {
                writeFile(path_, size_ >= 0 ? image.trimmed(static_cast<size_t>(size_)) : image.data);
            }
        }
    }

private:
    std::string path_;
    long size_;
    size_t written_ = 0;
};

struct Pty {
    int master = -1;
    int slave = -1;  // held open so the master never sees a hang-up between the host's opens
    std::string slaveName;
};

bool openPty(Pty& pty)
{
    pty.master = posix_openpt(O_RDWR | O_NOCTTY);
    if (pty.master < 0 || grantpt(pty.master) != 0 || unlockpt(pty.master) != 0) {
        return false;
    }
    const char* name = ptsname(pty.master);
    if (!name) {
        return false;
    }
    pty.slaveName = name;
    pty.slave = open(name, O_RDWR | O_NOCTTY);
    if (pty.slave < 0) {
        return false;
    }
    termios tio{};
    if (tcgetattr(pty.slave, &tio) != 0) {
        return false;
    }
    cfmakeraw(&tio);
    tcsetattr(pty.slave, TCSANOW, &tio);
    int flags = fcntl(pty.master, F_GETFL);
    fcntl(pty.master, F_SETFL, flags | O_NONBLOCK);
    return true;
}

// A link in ports/ that still leads to a device belongs to a modem that is running.
bool entryInUse(const std::string& entry)
{
    struct stat st {};
    if (lstat(entry.c_str(), &st) != 0) {
        return false;
    }
    return stat(entry.c_str(), &st) == 0;
}

void removeOwnLink(const std::string& entry, const std::string& target)
{
    char buffer[4096];
    ssize_t n = readlink(entry.c_str(), buffer, sizeof buffer - 1);
    if (n > 0 && std::string(buffer, static_cast<size_t>(n)) == target) {
        unlink(entry.c_str());
    }
}

// Closing the master hangs the line up, which throws away what the host has not read yet; a
// modem that is pulled out right after an ACK has still delivered that ACK.
void lingerUntilRead(const Pty& pty)
{
    // The pty hands written bytes to the other side asynchronously, so an empty queue right
    // after the write proves nothing: give it a moment first.
    Micros start = monotonicMicros();
    int waiting = 0;
    while (!stopRequested && monotonicMicros() - start < GoneLingerMs * 1000u &&
           (monotonicMicros() - start < GoneSettleMs * 1000u ||
            (ioctl(pty.slave, FIONREAD, &waiting) == 0 && waiting > 0))) {
        timespec pause{0, static_cast<long>(IdleRetryMs) * 1000000L};
        nanosleep(&pause, nullptr);
    }
}

// Plays the model until asked to stop or until the modem is pulled out.
void run(ModemModel& model, Pty& pty, ImageWriter& images)
{
    std::vector<uint8_t> pending;  // due bytes the master has not accepted yet
    uint8_t chunk[ChunkSize];
    while (!stopRequested) {
        Micros now = monotonicMicros();
        size_t n;
        while ((n = model.takeOutput(chunk, sizeof chunk, now)) > 0) {
            pending.insert(pending.end(), chunk, chunk + n);
        }
        if (!pending.empty()) {
            ssize_t w = write(pty.master, pending.data(), pending.size());
            if (w > 0) {
                pending.erase(pending.begin(), pending.begin() + w);
            }
        }
        images.update(model);
        if (model.gone(now) && pending.empty()) {
            lingerUntilRead(pty);
            return;
        }

        timespec timeout{};
        timespec* timeoutPtr = nullptr;
        Micros wait = 0;
        bool haveWait = false;
        if (!pending.empty()) {
            wait = IdleRetryMs * 1000u;
            haveWait = true;
        } else if (auto next = model.nextOutputAt(now)) {
            wait = *next > now ? *next - now : 0;
            haveWait = true;
        }
        if (haveWait) {
            timeout.tv_sec = static_cast<time_t>(wait / 1000000u);
            timeout.tv_nsec = static_cast<long>(wait % 1000000u) * 1000L;
            timeoutPtr = &timeout;
        }
        pollfd fds[2] = {{pty.master, POLLIN, 0}, {wakePipe[0], POLLIN, 0}};
        int r = ppoll(fds, 2, timeoutPtr, nullptr);
        if (r < 0) {
            continue;  // a signal: the loop test decides
        }
        if (fds[1].revents & POLLIN) {
            return;
        }
        if (fds[0].revents & POLLIN) {
            ssize_t got = read(pty.master, chunk, sizeof chunk);
            if (got > 0) {
                model.receive(chunk, static_cast<size_t>(got), monotonicMicros());
            } else if (got < 0 && errno != EAGAIN && errno != EINTR) {
                timespec pause{0, static_cast<long>(IdleRetryMs) * 1000000L};
                nanosleep(&pause, nullptr);
            }
        } else if (fds[0].revents & (POLLHUP | POLLERR)) {
            // Cannot happen while we hold the slave, but never spin on it.
            timespec pause{0, static_cast<long>(IdleRetryMs) * 1000000L};
            nanosleep(&pause, nullptr);
        }
    }
}

}  // namespace

int main(int argc, char** argv)
{
    Options options;
    if (int status = parseOptions(argc, argv, options)) {
        return status;
    }
    // A paced line puts each answer out at the moment its last bit would arrive: wake on time.
    platform::tightenCurrentThreadTimers();
    std::string entry = platform::portEntryPath(options.port);
    if (entry.empty()) {
        std::fprintf(stderr, "modemsim: '%s' is not a COM port name\n", options.port.c_str());
        return UsageExitStatus;
    }
    std::string directory = entry.substr(0, entry.rfind('/'));
    if (!makeDirectories(directory)) {
        std::fprintf(stderr, "modemsim: cannot create %s: %s\n", directory.c_str(), std::strerror(errno));
        return FailureExitStatus;
    }
    if (entryInUse(entry)) {
        std::fprintf(stderr, "modemsim: %s is in use (%s exists)\n", options.port.c_str(), entry.c_str());
        return FailureExitStatus;
    }
    Pty pty;
    if (!openPty(pty)) {
        std::fprintf(stderr, "modemsim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        return FailureExitStatus;
    }
    unlink(entry.c_str());  // a stale link of a modem that is gone
    if (symlink(pty.slaveName.c_str(), entry.c_str()) != 0) {
        std::fprintf(stderr, "modemsim: cannot link %s: %s\n", entry.c_str(), std::strerror(errno));
        return FailureExitStatus;
    }
    if (pipe(wakePipe) != 0) {
        removeOwnLink(entry, pty.slaveName);
        return FailureExitStatus;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    std::printf("ready %s %s\n", options.port.c_str(), pty.slaveName.c_str());
    std::fflush(stdout);

    ModemModel model(options.settings);
    ImageWriter images(options.imageOut, options.imageSize);
    run(model, pty, images);
    images.update(model);
    bool pulledOut = model.gone(monotonicMicros());

    removeOwnLink(entry, pty.slaveName);
    close(pty.slave);
    close(pty.master);
    if (pulledOut) {
        std::printf("gone %s\n", options.port.c_str());
        std::fflush(stdout);
    }
    return 0;
}
