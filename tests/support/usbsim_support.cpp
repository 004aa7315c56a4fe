#include "support/usbsim_support.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace e2e {

namespace {

constexpr uint32_t FinishLimitMs = 10000;
constexpr uint32_t ReapPollMs = 10;

uint64_t nowMs()
{
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

std::string usbsimExecutable() { return std::string(TARVO_BINARY_DIR) + "/usbsim"; }

UsbSim::UsbSim(const std::string& hostDir) : errPath_(files_.file("err"))
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) {
        return;
    }
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        close(toChild[0]);
        close(toChild[1]);
        return;
    }
    std::string program = usbsimExecutable();
    pid_ = fork();
    if (pid_ == 0) {
        int err = open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        dup2(err, STDERR_FILENO);
        setenv("TARVO_HOST", hostDir.c_str(), 1);
        execl(program.c_str(), program.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    close(toChild[0]);
    close(fromChild[1]);
    in_ = toChild[1];
    out_ = fromChild[0];
}

UsbSim::~UsbSim() { finish(); }

std::string UsbSim::nextLine(uint32_t limitMs)
{
    if (!unprompted_.empty()) {
        std::string line = unprompted_.front();
        unprompted_.pop_front();
        return line;
    }
    return readLine(limitMs);
}

std::string UsbSim::readLine(uint32_t limitMs)
{
    uint64_t deadline = nowMs() + limitMs;
    while (pending_.find('\n') == std::string::npos) {
        uint64_t now = nowMs();
        pollfd p{out_, POLLIN, 0};
        if (out_ < 0 || now >= deadline || poll(&p, 1, static_cast<int>(deadline - now)) <= 0) {
            return std::string();
        }
        char buffer[512];
        ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            return std::string();
        }
        pending_.append(buffer, static_cast<size_t>(n));
    }
    size_t eol = pending_.find('\n');
    std::string line = pending_.substr(0, eol);
    pending_.erase(0, eol + 1);
    return line;
}

std::string UsbSim::command(const std::string& line, uint32_t limitMs)
{
    std::string text = line + "\n";
    if (in_ < 0 || write(in_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        return std::string();
    }
    // A modem that went by itself ("gone COM7") may say so before the answer: keep it for
    // nextLine.
    uint64_t deadline = nowMs() + limitMs;
    for (;;) {
        uint64_t now = nowMs();
        std::string answer = readLine(now >= deadline ? 0 : static_cast<uint32_t>(deadline - now));
        if (answer.rfind(GoneLinePrefix, 0) != 0) {
            return answer;
        }
        unprompted_.push_back(answer);
    }
}

int UsbSim::finish(int sig)
{
    if (pid_ <= 0) {
        return -1;
    }
    if (sig) {
        kill(pid_, sig);
    } else if (in_ >= 0) {
        [[maybe_unused]] ssize_t w = write(in_, "quit\n", 5);
    }
    if (in_ >= 0) {
        close(in_);
        in_ = -1;
    }
    int status = 0;
    uint64_t deadline = nowMs() + FinishLimitMs;
    pid_t done = 0;
    while ((done = waitpid(pid_, &status, WNOHANG)) == 0 && nowMs() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(ReapPollMs));
    }
    if (done == 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, &status, 0);
        status = -1;
    } else {
        status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    pid_ = -1;
    if (out_ >= 0) {
        close(out_);
        out_ = -1;
    }
    return status;
}

DevNotifyListener::DevNotifyListener(const std::string& hostDir) : path_(hostDir + "/devnotify")
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path_.size() >= sizeof address.sun_path) {
        return;
    }
    std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
    fd_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd_);
        fd_ = -1;
    }
}

DevNotifyListener::~DevNotifyListener()
{
    if (fd_ >= 0) {
        close(fd_);
        unlink(path_.c_str());
    }
}

std::string DevNotifyListener::next(uint32_t limitMs)
{
    pollfd p{fd_, POLLIN, 0};
    if (fd_ < 0 || poll(&p, 1, static_cast<int>(limitMs)) <= 0) {
        return std::string();
    }
    char buffer[1024];
    ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace e2e
