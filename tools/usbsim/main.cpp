// usbsim: plugs and pulls simulated USB modems as the product's USB modem driver would. Reads
// commands on stdin, one per line, and answers each with one line on stdout:
//
//   plug COMn [serial=HEX16] [--sister] [modemsim switches...]
//        -> "plugged COMn SERIAL /dev/pts/N" or "failed plug COMn: reason"
//   pull COMn [--forget]   -> "pulled COMn" or "failed pull COMn: reason"
//   list                   -> "plugged: COM3 COM5" (the modems in, in port order)
//   sleep MS               -> "slept MS" (commands after it wait; scripts pace themselves)
//   quit (or end of input, SIGINT, SIGTERM): every modem still in is pulled, then it exits 0.
//
// Plug starts modemsim (found beside this program) on a pseudo-terminal linked as
// $TARVO_HOST/ports/comn, writes the entries the driver keeps in the key store (the USB device
// instance with its "Serial" bytes and "Driver" value, the port enumerator's child with its
// "PortName"), and sends the arrival to the device-notification socket $TARVO_HOST/devnotify.
// Pull ends that modemsim at once, so the port's pseudo-terminal hangs up under whoever has it
// open (the next read or write fails, as with a modem pulled out mid-transfer) and its entry in
// ports/ goes; then it sends the removal. The registry entries stay, as the 9x family keeps a
// device's entries when it is unplugged, unless --forget is given. A modem that vanishes by
// itself (modemsim's --pull-out-after) is announced as "gone COMn" with its removal sent.
//
// Datagrams, one event each, ASCII: "arrival {GUID} NAME" or "removal {GUID} NAME", NAME being
// \\?\NLUSBMDM#VID_4E2C&PID_7A01\ followed by the 16-digit serial text (the sister brand:
// \\?\KVUSBMDM#VID_4E2B&PID_7A02\...). When nobody listens, usbsim says so on stderr and goes on.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "platform/executable_path.h"
#include "platform/linux/host_paths.h"
#include "platform/registry.h"

namespace {

constexpr int UsageExitStatus = 2;
constexpr uint32_t ModemReadyLimitMs = 5000;  // modemsim's "ready" line after its start
constexpr uint32_t ModemStopLimitMs = 2000;   // after SIGTERM, before SIGKILL
constexpr uint32_t ReapPollMs = 5;
constexpr size_t SerialBytes = 8;
constexpr size_t SerialDigits = 2 * SerialBytes;
constexpr int MaxPortNumber = 255;

// The product's USB modem, in its two brands: where the driver keeps its entries, the device
// interface class it announces, and the start of its interface names.
struct Brand {
    const char* usbDeviceKey;
    const char* portEnumPrefix;
    const char* interfaceClass;
    const char* interfacePrefix;
};
constexpr Brand DudeBrand = {"Enum\\USB\\VID_4E2C&PID_7A01", "Enum\\NLPORTENUM\\56KUSB\\USB_VID_4E2C_PID_7A01_",
                             "{5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15}", "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\"};
constexpr Brand SisterBrand = {"Enum\\USB\\VID_4E2B&PID_7A02", "Enum\\KVPORTENUM\\ACFCDC\\USB_VID_4E2B_PID_7A02_",
                               "{5C0A19E4-7D42-4B8F-A1C6-2E93D07B4F15}", "\\\\?\\KVUSBMDM#VID_4E2B&PID_7A02\\"};
// The driver entry of the modem on COMn: its class key below the modem class, one per port.
constexpr const char* DriverEntryFormat = "MODEM\\%04d";

constexpr const char* SerialValue = "Serial";
constexpr const char* DriverValue = "Driver";
constexpr const char* PortNameValue = "PortName";
constexpr const char* NotifySocketName = "/devnotify";
constexpr const char* ModemsimName = "modemsim";

constexpr const char* UsageText =
    "Usage: usbsim [--modemsim PATH]\n"
    "\n"
    "Plugs and pulls simulated USB modems under $TARVO_HOST. Commands on stdin, one per line:\n"
    "  plug COMn [serial=HEX16] [--sister] [modemsim switches...]\n"
    "                         a modem on COMn (serial default: the port number in 16 digits;\n"
    "                         --sister: the VID_4E2B&PID_7A02 brand); switches go to modemsim\n"
    "  pull COMn [--forget]   pull it out (--forget: its registry entries go too)\n"
    "  list                   the ports with a modem in\n"
    "  sleep MS               wait before the next command\n"
    "  quit                   pull every modem and end (also at end of input)\n"
    "Each command answers one line on stdout. Events go to $TARVO_HOST/devnotify as datagrams:\n"
    "  arrival {GUID} \\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\SERIAL   (removal {GUID} ... on a pull)\n";

struct Modem {
    int port = 0;
    std::string serial;  // 16 hex digits: bytes 7..0 of the "Serial" value
    const Brand* brand = &DudeBrand;
    pid_t pid = -1;
    int out = -1;        // modemsim's stdout
    std::string device;  // its pseudo-terminal
};

volatile sig_atomic_t quitRequested = 0;
int wakePipe[2] = {-1, -1};

void onSignal(int)
{
    quitRequested = 1;
    char byte = 1;
    [[maybe_unused]] ssize_t r = write(wakePipe[1], &byte, 1);
}

uint64_t nowMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

bool isDigit(char c) { return c >= '0' && c <= '9'; }
bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

std::string portName(int port) { return "COM" + std::to_string(port); }

// "COM3", "com3" or "3"; 0 when it is none of these.
int parsePort(std::string text)
{
    if (text.size() > 3 && (text.compare(0, 3, "COM") == 0 || text.compare(0, 3, "com") == 0)) {
        text = text.substr(3);
    }
    if (text.empty() || text.size() > 3 || !std::all_of(text.begin(), text.end(), isDigit)) {
        return 0;
    }
    int port = std::stoi(text);
    return port >= 1 && port <= MaxPortNumber ? port : 0;
}

bool isSerialText(const std::string& s)
{
    return s.size() == SerialDigits && std::all_of(s.begin(), s.end(), isHexDigit);
}

// The words of a command line: blanks separate, double quotes group.
std::vector<std::string> splitWords(const std::string& line)
{
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;
    bool quoted = false;
    for (char c : line) {
        if (c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if (!quoted && (c == ' ' || c == '\t' || c == '\r')) {
            if (inWord) {
                words.push_back(word);
            }
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord) {
        words.push_back(word);
    }
    return words;
}

void sendEvent(const char* kind, const Modem& m)
{
    std::string path = platform::hostDirectory() + NotifySocketName;
    std::string datagram = std::string(kind) + " " + m.brand->interfaceClass + " " + m.brand->interfacePrefix + m.serial;
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) {
        std::fprintf(stderr, "usbsim: %s is too long a socket path; the %s of %s was not sent\n", path.c_str(), kind,
                     portName(m.port).c_str());
        return;
    }
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
                         sizeof address) < 0) {
        std::fprintf(stderr, "usbsim: nobody listens on %s (%s); the %s of %s was not delivered\n", path.c_str(),
                     std::strerror(errno), kind, portName(m.port).c_str());
    }
    if (fd >= 0) {
        close(fd);
    }
}

std::string driverEntry(int port)
{
    char text[32];
    std::snprintf(text, sizeof text, DriverEntryFormat, port);
    return text;
}

std::string underscored(std::string text)
{
    std::replace(text.begin(), text.end(), '\\', '_');
    return text;
}

int32_t setText(platform::RegKey key, const char* name, const std::string& text)
{
    return platform::regSetValueEx(key, name, platform::RegTypeSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                                   static_cast<uint32_t>(text.size() + 1));
}

// The driver's entries for a modem; the reason when the key store refuses them.
std::string writeEntries(const Modem& m)
{
    uint8_t serial[SerialBytes];
    for (size_t i = 0; i < SerialBytes; ++i) {
        // The text is bytes 7..0, two digits each: byte i is the pair counted from the end.
        serial[i] = static_cast<uint8_t>(std::stoul(m.serial.substr(SerialDigits - 2 - 2 * i, 2), nullptr, 16));
    }
    std::string driver = driverEntry(m.port);
    platform::RegKey instance = 0;
    platform::RegKey child = 0;
    int32_t result = platform::regCreateKeyEx(platform::HkeyLocalMachine,
                                              std::string(m.brand->usbDeviceKey) + "\\" + m.serial, &instance);
    if (result == platform::RegOk) {
        result = platform::regSetValueEx(instance, SerialValue, platform::RegTypeBinary, serial, SerialBytes);
    }
    if (result == platform::RegOk) {
        result = setText(instance, DriverValue, driver);
    }
    if (result == platform::RegOk) {
        result = platform::regCreateKeyEx(platform::HkeyLocalMachine, m.brand->portEnumPrefix + underscored(driver),
                                          &child);
    }
    if (result == platform::RegOk) {
        result = setText(child, PortNameValue, portName(m.port));
    }
    platform::regCloseKey(instance);
    platform::regCloseKey(child);
    if (result == platform::RegOk) {
        return std::string();
    }
    std::string notice = platform::regUnreadableNotice();
    return "the key store refused the entries (error " + std::to_string(result) + ")" +
           (notice.empty() ? std::string() : ": " + notice);
}

void forgetEntries(const Modem& m)
{
    platform::regDeleteKey(platform::HkeyLocalMachine, std::string(m.brand->usbDeviceKey) + "\\" + m.serial);
    platform::regDeleteKey(platform::HkeyLocalMachine, m.brand->portEnumPrefix + underscored(driverEntry(m.port)));
}

// Ends a modemsim: SIGTERM (it hangs its line up and removes its link at once), SIGKILL if it
// does not end in time, and the link removed in any case.
void stopModemsim(Modem& m)
{
    if (m.pid > 0) {
        kill(m.pid, SIGTERM);
        uint64_t deadline = nowMs() + ModemStopLimitMs;
        while (waitpid(m.pid, nullptr, WNOHANG) == 0) {
            if (nowMs() >= deadline) {
                kill(m.pid, SIGKILL);
                waitpid(m.pid, nullptr, 0);
                break;
            }
            usleep(ReapPollMs * 1000);
        }
        m.pid = -1;
    }
    if (m.out >= 0) {
        close(m.out);
        m.out = -1;
    }
    std::string entry = platform::portEntryPath(portName(m.port));
    char target[4096];
    ssize_t n = readlink(entry.c_str(), target, sizeof target - 1);
    if (n > 0 && std::string(target, static_cast<size_t>(n)) == m.device) {
        unlink(entry.c_str());
    }
}

// Starts modemsim on the modem's port and waits for its ready line; the reason when it fails.
std::string startModemsim(Modem& m, const std::string& modemsim, const std::vector<std::string>& switches)
{
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) {
        return std::strerror(errno);
    }
    std::vector<std::string> args = {modemsim, "--port", portName(m.port)};
    args.insert(args.end(), switches.begin(), switches.end());
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        close(null);
        dup2(pipeFds[1], STDOUT_FILENO);
        std::vector<char*> argv;
        for (std::string& a : args) {
            argv.push_back(a.data());
        }
        argv.push_back(nullptr);
        signal(SIGINT, SIG_IGN);  // a Ctrl-C at the terminal is usbsim's to handle
        execv(modemsim.c_str(), argv.data());
        std::fprintf(stderr, "usbsim: cannot run %s: %s\n", modemsim.c_str(), std::strerror(errno));
        _exit(127);
    }
    close(pipeFds[1]);
    if (pid < 0) {
        close(pipeFds[0]);
        return std::strerror(errno);
    }
    m.pid = pid;
    m.out = pipeFds[0];

    std::string ready = "ready " + portName(m.port) + " ";
    std::string text;
    uint64_t deadline = nowMs() + ModemReadyLimitMs;
    while (text.find('\n') == std::string::npos) {
        uint64_t now = nowMs();
        pollfd p{m.out, POLLIN, 0};
        if (now >= deadline || poll(&p, 1, static_cast<int>(deadline - now)) <= 0) {
            stopModemsim(m);
            return "modemsim did not get ready";
        }
        char buffer[256];
        ssize_t n = read(m.out, buffer, sizeof buffer);
        if (n <= 0) {
            stopModemsim(m);
            return "modemsim ended at once (see its message above)";
        }
        text.append(buffer, static_cast<size_t>(n));
    }
    if (text.rfind(ready, 0) != 0) {
        stopModemsim(m);
        return "modemsim answered " + text.substr(0, text.find('\n'));
    }
    m.device = text.substr(ready.size(), text.find('\n') - ready.size());
    return std::string();
}

class Simulator {
public:
    explicit Simulator(std::string modemsim) : modemsim_(std::move(modemsim)) {}

    // One command; false for quit.
    bool command(const std::string& line, uint64_t* sleepUntil)
    {
        std::vector<std::string> words = splitWords(line);
        if (words.empty() || words[0].front() == '#') {
            return true;
        }
        const std::string& verb = words[0];
        if (verb == "quit" || verb == "exit") {
            return false;
        }
        if (verb == "plug" || verb == "pull") {
            int port = words.size() > 1 ? parsePort(words[1]) : 0;
            std::string name = port ? portName(port) : (words.size() > 1 ? words[1] : std::string("?"));
            std::string reason = port ? (verb == "plug" ? plug(port, words) : pull(port, words)) : "no such COM port";
            if (!reason.empty()) {
                answer("failed " + verb + " " + name + ": " + reason);
            }
        } else if (verb == "list") {
            std::string text = "plugged:";
            for (const auto& [port, modem] : modems_) {
                text += ' ';
                text += portName(port);
            }
            answer(text);
        } else if (verb == "sleep" && words.size() == 2 && !words[1].empty() &&
                   std::all_of(words[1].begin(), words[1].end(), isDigit)) {
            *sleepUntil = nowMs() + std::stoull(words[1]);
            sleepAnswer_ = "slept " + words[1];
        } else {
            answer("failed " + verb + ": unknown command (plug, pull, list, sleep, quit)");
        }
        return true;
    }

    void sleptEnough()
    {
        if (!sleepAnswer_.empty()) {
            answer(sleepAnswer_);
            sleepAnswer_.clear();
        }
    }

    // The pollable outputs of the running modemsims.
    void addPollFds(std::vector<pollfd>& fds) const
    {
        for (const auto& [port, modem] : modems_) {
            fds.push_back({modem.out, POLLIN, 0});
        }
    }

    // A modemsim output is readable: its lines are dropped; its end means the modem vanished.
    void serviceOutput(int fd)
    {
        for (auto it = modems_.begin(); it != modems_.end(); ++it) {
            if (it->second.out != fd) {
                continue;
            }
            char buffer[256];
            ssize_t n = read(fd, buffer, sizeof buffer);
            if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
                Modem m = it->second;
                modems_.erase(it);
                stopModemsim(m);
                sendEvent("removal", m);
                answer("gone " + portName(m.port));
            }
            return;
        }
    }

    void pullAll()
    {
        while (!modems_.empty()) {
            pull(modems_.begin()->first, {});
        }
    }

private:
    static void answer(const std::string& line)
    {
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    }

    std::string plug(int port, const std::vector<std::string>& words)
    {
        if (modems_.count(port)) {
            return "a modem is in already";
        }
        Modem m;
        m.port = port;
        char defaultSerial[SerialDigits + 1];
        std::snprintf(defaultSerial, sizeof defaultSerial, "%016x", port);
        m.serial = defaultSerial;
        std::vector<std::string> switches;
        for (size_t i = 2; i < words.size(); ++i) {
            const std::string& w = words[i];
            if (w.rfind("serial=", 0) == 0) {
                m.serial = w.substr(7);
                if (!isSerialText(m.serial)) {
                    return "serial must be 16 hex digits";
                }
            } else if (w == "--sister") {
                m.brand = &SisterBrand;
            } else if (w == "--port") {
                return "the port is given by the command";
            } else {
                switches.push_back(w);
            }
        }
        for (const auto& [other, modem] : modems_) {
            if (modem.serial == m.serial) {
                return "serial " + m.serial + " is in on " + portName(other) + " already";
            }
        }
        std::string reason = startModemsim(m, modemsim_, switches);
        if (!reason.empty()) {
            return reason;
        }
        reason = writeEntries(m);
        if (!reason.empty()) {
            stopModemsim(m);
            return reason;
        }
        modems_[port] = m;
        sendEvent("arrival", m);
        answer("plugged " + portName(port) + " " + m.serial + " " + m.device);
        return std::string();
    }

    std::string pull(int port, const std::vector<std::string>& words)
    {
        auto it = modems_.find(port);
        if (it == modems_.end()) {
            return "no modem is in";
        }
        bool forget = std::find(words.begin(), words.end(), "--forget") != words.end();
        Modem m = it->second;
        modems_.erase(it);
        stopModemsim(m);
        sendEvent("removal", m);
        if (forget) {
            forgetEntries(m);
        }
        answer("pulled " + portName(port));
        return std::string();
    }

    std::string modemsim_;
    std::map<int, Modem> modems_;
    std::string sleepAnswer_;
};

std::string besideThisProgram(const char* name)
{
    std::string self = platform::executablePath();
    return self.substr(0, self.rfind('/') + 1) + name;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string modemsim = besideThisProgram(ModemsimName);
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::fputs(UsageText, stdout);
            return 0;
        }
        if (arg == "--modemsim" && i + 1 < argc) {
            modemsim = argv[++i];
        } else {
            std::fprintf(stderr, "usbsim: bad option: %s\n\n%s", arg.c_str(), UsageText);
            return UsageExitStatus;
        }
    }
    if (pipe2(wakePipe, O_CLOEXEC) != 0) {
        std::perror("usbsim");
        return 1;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    Simulator simulator(modemsim);
    std::string input;
    bool inputEnded = false;
    uint64_t sleepUntil = 0;
    while (!quitRequested) {
        // Commands already read run first, unless a sleep holds them back.
        bool sleeping = sleepUntil > nowMs();
        if (!sleeping) {
            simulator.sleptEnough();
            size_t eol = input.find('\n');
            if (eol != std::string::npos) {
                std::string line = input.substr(0, eol);
                input.erase(0, eol + 1);
                if (!simulator.command(line, &sleepUntil)) {
                    break;
                }
                continue;
            }
            if (inputEnded) {
                if (!input.empty()) {
                    input += '\n';  // a last line without its line end
                    continue;
                }
                break;
            }
        }
        std::vector<pollfd> fds = {{wakePipe[0], POLLIN, 0}};
        if (!sleeping && !inputEnded) {
            fds.push_back({STDIN_FILENO, POLLIN, 0});
        }
        size_t firstModem = fds.size();
        simulator.addPollFds(fds);
        int timeout = sleeping ? static_cast<int>(sleepUntil - nowMs()) : -1;
        if (poll(fds.data(), fds.size(), timeout) < 0) {
            continue;
        }
        for (size_t i = firstModem; i < fds.size(); ++i) {
            if (fds[i].revents) {
                simulator.serviceOutput(fds[i].fd);
            }
        }
        if (!sleeping && !inputEnded && fds[1].revents) {
            char buffer[4096];
            ssize_t n = read(STDIN_FILENO, buffer, sizeof buffer);
            if (n > 0) {
                input.append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                inputEnded = true;
            }
        }
    }
    simulator.pullAll();
    return 0;
}
