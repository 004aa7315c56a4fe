#include "support/e2e_support.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

extern char** environ;

namespace e2e {

namespace {

constexpr uint32_t StopLimitMs = 10000;
constexpr int SignalStatusBase = 128;
constexpr const char* ReadyWord = "ready ";

uint32_t millisecondsSince(std::chrono::steady_clock::time_point start)
{
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count());
}

}  // namespace

std::string patternBytes(size_t size, uint32_t seed)
{
    std::string bytes(size, '\0');
    uint32_t x = seed;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = static_cast<char>(x >> 16);
    }
    return bytes;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

Delivery::Delivery(const std::string& iniText, const std::string& program)
{
    std::error_code error;
    std::filesystem::copy_file(program, executable(), error);
    addFile("Tarvo32.ini", iniText);
}

Process::Process(const std::string& program, const std::vector<std::string>& args, const Environment& env)
    : outPath_(files_.file("stdout")), errPath_(files_.file("stderr"))
{
    std::map<std::string, std::string> variables;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        size_t eq = entry.find('=');
        variables[entry.substr(0, eq)] = eq == std::string::npos ? "" : entry.substr(eq + 1);
    }
    for (const auto& [name, value] : env) {
        variables[name] = value;
    }
    std::vector<std::string> envStrings;
    for (const auto& [name, value] : variables) {
        envStrings.push_back(name + "=" + value);
    }
    std::vector<char*> envp;
    for (std::string& s : envStrings) {
        envp.push_back(s.data());
    }
    envp.push_back(nullptr);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& s : argStrings) {
        argv.push_back(s.data());
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), envp.data()) == 0) {
        pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

Process::~Process()
{
    if (started() && !ended_) {
        ::kill(pid_, SIGKILL);
        int status = 0;
        waitpid(pid_, &status, 0);
    }
}

void Process::signal(int sig)
{
    if (started() && !ended_) {
        ::kill(pid_, sig);
    }
}

bool Process::running()
{
    if (!started() || ended_) {
        return false;
    }
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
        ended_ = true;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : SignalStatusBase + WTERMSIG(status);
        return false;
    }
    return true;
}

int Process::wait(uint32_t limitMs)
{
    if (!started()) {
        return -1;
    }
    auto start = std::chrono::steady_clock::now();
    while (running()) {
        if (millisecondsSince(start) >= limitMs) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            waitpid(pid_, &status, 0);
            ended_ = true;
            status_ = -1;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(OutputPollMs));
    }
    return status_;
}

bool Process::waitForOutput(const std::string& text, uint32_t limitMs)
{
    auto start = std::chrono::steady_clock::now();
    for (;;) {
        if (out().find(text) != std::string::npos) {
            return true;
        }
        if (!running() || millisecondsSince(start) >= limitMs) {
            return out().find(text) != std::string::npos;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(OutputPollMs));
    }
}

RunResult run(const std::string& program, const std::vector<std::string>& args, const Environment& env, uint32_t limitMs)
{
    auto start = std::chrono::steady_clock::now();
    Process process(program, args, env);
    RunResult result;
    result.status = process.wait(limitMs);
    result.elapsedMs = millisecondsSince(start);
    result.out = process.out();
    result.err = process.err();
    return result;
}

std::string tarvoExecutable() { return std::string(TARVO_BINARY_DIR) + "/Tarvo32"; }
std::string modemsimExecutable() { return std::string(TARVO_BINARY_DIR) + "/modemsim"; }
std::string screenshotExecutable() { return std::string(TARVO_BINARY_DIR) + "/screenshots/Tarvo32"; }

ModemSim::ModemSim(const std::string& hostDir, const std::string& port, const std::vector<std::string>& options)
    : process_(modemsimExecutable(), [&] {
          std::vector<std::string> args{"--port", port};
          args.insert(args.end(), options.begin(), options.end());
          return args;
      }(), Environment{{"TARVO_HOST", hostDir}})
{
    std::string readyLine = ReadyWord + port + " ";
    if (!process_.waitForOutput(readyLine, ModemReadyLimitMs)) {
        return;
    }
    std::string out = process_.out();
    size_t at = out.find(readyLine) + readyLine.size();
    device_ = out.substr(at, out.find('\n', at) - at);
    ready_ = true;
}

int ModemSim::stop()
{
    process_.signal(SIGTERM);
    return process_.wait(StopLimitMs);
}

}  // namespace e2e
