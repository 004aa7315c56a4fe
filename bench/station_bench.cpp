// The station's throughput and CPU cost: `Tarvo32 production --json` upgrading modemsim programs
// paced at 115200 baud on pseudo-terminals, one port alone, then eight at once, then one alone
// again, all in one run of this program.
//
// Each port's payload rate is the slope of its acknowledged bytes over time during the transfer:
// a least-squares line through the (time read, sent) pairs of its progress objects strictly
// between the first byte and the last (one per poll, every 800 ms). The station's CPU time is
// the Tarvo32 process's own (wait4), its workers and polls together; the modems' is not in it.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bench/modem_program.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t ImageBytes = 256 * 1024;
constexpr uint32_t LineBaud = 115200;
constexpr int StationPorts = 8;
constexpr int MinimumSamples = 5;          // progress objects inside a transfer to fit a line
constexpr double RateToleranceShare = 0.01;  // every port within 1 % of the port alone
constexpr double CpuGoalShare = 0.005;       // station CPU below 0.5 % of wall time per port
constexpr int StationLimitSeconds = 300;

struct Sample {
    double t;
    double sent;
};

struct PortFigures {
    std::vector<Sample> samples;
    std::string outcome;
    double rate = 0;
};

struct RoundFigures {
    std::map<int, PortFigures> ports;
    double wallSeconds = 0;
    double cpuSeconds = 0;
    int status = -1;
};

double seconds(const timeval& tv) { return tv.tv_sec + tv.tv_usec / 1e6; }

// The number after "key": in a JSON line; -1 when absent.
double number(const std::string& line, const char* key)
{
    std::string pattern = std::string("\"") + key + "\":";
    size_t at = line.find(pattern);
    return at == std::string::npos ? -1 : std::strtod(line.c_str() + at + pattern.size(), nullptr);
}

std::string text(const std::string& line, const char* key)
{
    std::string pattern = std::string("\"") + key + "\":\"";
    size_t at = line.find(pattern);
    if (at == std::string::npos) {
        return "";
    }
    size_t start = at + pattern.size();
    return line.substr(start, line.find('"', start) - start);
}

double slope(const std::vector<Sample>& samples)
{
    double n = static_cast<double>(samples.size());
    double st = 0, ss = 0, stt = 0, sts = 0;
    for (const Sample& s : samples) {
        st += s.t;
        ss += s.sent;
        stt += s.t * s.t;
        sts += s.t * s.sent;
    }
    double d = n * stt - st * st;
    return d == 0 ? 0 : (n * sts - st * ss) / d;
}

// One `Tarvo32 production --json` over the ports, its stdout read line by line as it comes.
RoundFigures runStation(const std::string& tarvo, const std::vector<int>& ports)
{
    RoundFigures round;
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) {
        return round;
    }
    std::vector<std::string> args{tarvo, "production", "--json"};
    for (int port : ports) {
        args.push_back(std::to_string(port));
    }
    auto start = SteadyClock::now();
    pid_t pid = bench::spawnProgram(args, fds[1]);
    close(fds[1]);
    std::string pending;
    char buffer[4096];
    for (;;) {
        pollfd p{fds[0], POLLIN, 0};
        if (poll(&p, 1, StationLimitSeconds * 1000) <= 0) {
            kill(pid, SIGTERM);
            break;
        }
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n <= 0) {
            break;
        }
        double t = std::chrono::duration<double>(SteadyClock::now() - start).count();
        pending.append(buffer, static_cast<size_t>(n));
        size_t end;
        while ((end = pending.find('\n')) != std::string::npos) {
            std::string line = pending.substr(0, end);
            pending.erase(0, end + 1);
            int port = std::atoi(text(line, "port").c_str() + 3);
            PortFigures& figures = round.ports[port];
            if (text(line, "event") == "progress") {
                double sent = number(line, "sent");
                double total = number(line, "total");
                if (number(line, "phase") == 5 && sent > 0 && sent < total) {
                    figures.samples.push_back({t, sent});
                }
            } else {
                figures.outcome = text(line, "outcome");
            }
        }
    }
    close(fds[0]);
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    round.wallSeconds = std::chrono::duration<double>(SteadyClock::now() - start).count();
    round.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    round.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    for (auto& [port, figures] : round.ports) {
        figures.rate = figures.samples.size() >= MinimumSamples ? slope(figures.samples) : 0;
    }
    return round;
}

bool runRound(const char* title, const std::string& tarvo, const std::string& modemsim, int count, RoundFigures* out)
{
    std::vector<std::unique_ptr<bench::ModemProgram>> modems;
    std::vector<int> ports;
    for (int port = 1; port <= count; ++port) {
        modems.push_back(std::make_unique<bench::ModemProgram>(modemsim, port, LineBaud));
        if (!modems.back()->ready()) {
            std::fprintf(stderr, "station_bench: %s did not get ready\n", modemsim.c_str());
            return false;
        }
        ports.push_back(port);
    }
    *out = runStation(tarvo, ports);
    std::printf("%s: exit %d, %.1f s wall, station CPU %.3f s (%.3f %% of wall per port)\n", title, out->status,
                out->wallSeconds, out->cpuSeconds, 100.0 * out->cpuSeconds / out->wallSeconds / count);
    for (const auto& [port, figures] : out->ports) {
        std::printf("  COM%d %-9s %7.1f B/s (%zu samples)\n", port, figures.outcome.c_str(), figures.rate,
                    figures.samples.size());
    }
    return out->status == 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string binaryDir = std::filesystem::absolute(argv[0]).parent_path().parent_path().string();
    std::string tarvoBuilt = binaryDir + "/Tarvo32";
    std::string modemsim = binaryDir + "/modemsim";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--tarvo") == 0) {
            tarvoBuilt = argv[i + 1];
        } else if (std::strcmp(argv[i], "--modemsim") == 0) {
            modemsim = argv[i + 1];
        }
    }
    char pattern[] = "/tmp/tarvo-station-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("station_bench: mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    std::filesystem::create_directories(dir + "/host/ports");
    setenv("TARVO_HOST", (dir + "/host").c_str(), 1);
    // A delivery: the executable with its INI and image beside it.
    const std::string tarvo = dir + "/Tarvo32";
    std::filesystem::copy_file(tarvoBuilt, tarvo);
    {
        std::ofstream ini(dir + "/Tarvo32.ini", std::ios::binary);
        ini << "[INFO]\r\nModel_name=Nelta 56K USB\r\nFirmware_file=nelta.bin\r\n"
               "ATI9_key_string=KOR\r\nATI1_key_string=Nelta 56K\r\n";
        std::ofstream image(dir + "/nelta.bin", std::ios::binary);
        for (uint32_t i = 0; i < ImageBytes; ++i) {
            image.put(static_cast<char>((i * 131u + 7u) >> 3));
        }
    }

    RoundFigures before, eight, after;
    bool ran = runRound("one port alone", tarvo, modemsim, 1, &before);
    ran = runRound("eight ports at once", tarvo, modemsim, StationPorts, &eight) && ran;
    ran = runRound("one port alone again", tarvo, modemsim, 1, &after) && ran;

    double single = (before.ports[1].rate + after.ports[1].rate) / 2;
    bool ratesOk = single > 0;
    std::printf("\nsingle port (mean of both): %.1f B/s\n", single);
    for (const auto& [port, figures] : eight.ports) {
        double share = single > 0 ? figures.rate / single - 1 : 0;
        ratesOk = ratesOk && std::abs(share) <= RateToleranceShare;
        std::printf("  COM%d %+.2f %% against the single port\n", port, 100.0 * share);
    }
    double cpuShare = eight.cpuSeconds / eight.wallSeconds / StationPorts;
    bool cpuOk = cpuShare < CpuGoalShare;
    std::printf("station CPU with eight ports: %.3f %% of wall time per port\n", 100.0 * cpuShare);

    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    bool ok = ran && ratesOk && cpuOk;
    std::printf("%s\n", ok ? "goal met" : "goal NOT met");
    return ok ? 0 : 1;
}
