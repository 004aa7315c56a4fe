// Upload throughput and CPU cost: a 256 KiB image sent by the real workers to simulated modems
// paced at 115200 baud on the real clock, first one modem, then eight at once.
//
// The modems are either in-process models (default) or modemsim programs on pseudo-terminals
// (--modemsim PATH): then the measured CPU time is the sender's alone; in-process it includes the
// simulated modems' work too, so it is an upper bound.
//
// The limit for this sender, per 128-byte block: 132 bytes at 10 bits per byte on the wire,
// the 2 ms pause before the block and the ACK byte coming back.
//
// --peer-sx SX: side by side, one modemsim receiver takes the same image first from lrzsz's
// `sx -X` (whose limit has no pause: 133 bytes on the line per block), then from this sender,
// and each rate is reported as a share of its own limit.
#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <termios.h>
#include <sys/wait.h>
#include <signal.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "config/program_state.h"
#include "platform/com_port_name.h"
#include "bench/modem_program.h"
#include "config/firmware_config.h"
#include "tools/modemsim/simulated_ports.h"
#include "upload/upload_engine.h"
#include "upload/upload_workers.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr uint32_t ImageBytes = 256 * 1024;
constexpr uint32_t LineBaud = 115200;
constexpr double BitsPerByte = 10.0;
constexpr uint32_t WatchPeriodMs = 5;       // resolution of the transfer's start and end times
constexpr uint32_t ReadyWaitMs = 5000;      // for a modemsim program to report "ready"

double blockLimitSeconds()
{
    double wire = (BlockSize + 1) * BitsPerByte / LineBaud;  // the block out, its ACK back
    return wire + BlockPauseMs / 1000.0;
}

double limitBytesPerSecond() { return BlockDataSize / blockLimitSeconds(); }

// A sender without the pause: the block and its ACK on the line, nothing else.
double peerLimitBytesPerSecond() { return BlockDataSize / ((BlockSize + 1) * BitsPerByte / LineBaud); }

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// The calling thread's own CPU time: the bench's watch loop, apart from the workers it watches.
double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec + ts.tv_nsec / 1e9;
}

double secondsSince(SteadyClock::time_point start)
{
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

struct RunFigures {
    double transferSeconds = 0;  // from phase Transferring to the last byte acknowledged
    double runSeconds = 0;       // the whole run, probe and closing ping included
    bool succeeded = false;
};

std::vector<RunFigures> uploadAtOnce(int count);

// The receiver's side of the dialogue up to its first NAK, on the modem's pseudo-terminal: the
// NAK is left unread, for the sender started next. Gives the open descriptor, or -1.
int modemReadyToReceive(const std::string& entry)
{
    int fd = open(entry.c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        return -1;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    cfsetspeed(&tio, B115200);
    tcsetattr(fd, TCSANOW, &tio);
    const char command[] = "ATUPX\r";
    std::string seen;
    bool prompted = write(fd, command, sizeof command - 1) == static_cast<ssize_t>(sizeof command - 1);
    while (prompted && seen.find('?') == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        char buf[64];
        ssize_t n = poll(&p, 1, static_cast<int>(ReadyWaitMs)) > 0 ? read(fd, buf, sizeof buf) : -1;
        if (n <= 0) {
            prompted = false;
            break;
        }
        seen.append(buf, static_cast<size_t>(n));
    }
    pollfd p{fd, POLLIN, 0};
    if (!prompted || write(fd, "Y\r", 2) != 2 || poll(&p, 1, static_cast<int>(ReadyWaitMs)) <= 0) {
        close(fd);
        return -1;
    }
    return fd;
}

// lrzsz's `sx -X` sending the image to the modem behind the port: its transfer time, or 0.
double peerTransferSeconds(const std::string& sx, int port)
{
    std::string entry = std::string(getenv("TARVO_HOST")) + "/ports/com" + std::to_string(port);
    int fd = modemReadyToReceive(entry);
    if (fd < 0) {
        return 0;
    }
    int quiet = open("/dev/null", O_WRONLY);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fd, STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fd, STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, quiet, STDERR_FILENO);
    std::vector<char*> argv{const_cast<char*>(sx.c_str()), const_cast<char*>("-X"),
                            FirmwareConfig.FirmwarePath.data(), nullptr};
    pid_t pid = -1;
    auto start = SteadyClock::now();
    int status = -1;
    if (posix_spawn(&pid, sx.c_str(), &actions, nullptr, argv.data(), environ) == 0) {
        waitpid(pid, &status, 0);
    }
    double seconds = secondsSince(start);
    posix_spawn_file_actions_destroy(&actions);
    close(quiet);
    close(fd);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : 0;
}

bool reportSideBySide(const std::string& modemProgram, const std::string& sx)
{
    bench::ModemProgram modem(modemProgram, FirmwareConfig.ComBase, LineBaud);
    if (!modem.ready()) {
        std::fprintf(stderr, "upload_bench: %s did not get ready\n", modemProgram.c_str());
        return false;
    }
    double cpuBefore = cpuSeconds();
    double watchBefore = threadCpuSeconds();
    auto wallStart = SteadyClock::now();
    std::vector<RunFigures> figures = uploadAtOnce(1);
    double wall = secondsSince(wallStart);
    double cpu = cpuSeconds() - cpuBefore;
    double watch = threadCpuSeconds() - watchBefore;
    double sender = cpu - watch;
    double peerSeconds = peerTransferSeconds(sx, FirmwareConfig.ComBase);

    double ours = figures[0].transferSeconds > 0 ? ImageBytes / figures[0].transferSeconds : 0;
    double peer = peerSeconds > 0 ? ImageBytes / peerSeconds : 0;
    double oursShare = ours / limitBytesPerSecond();
    double peerShare = peer / peerLimitBytesPerSecond();
    std::printf("side by side, one modemsim receiver paced at %u baud, %u bytes each\n", LineBaud, ImageBytes);
    std::printf("  sx -X      %s transfer %6.2f s  %7.1f B/s  %5.1f %% of its limit (%.1f B/s, no pause)\n",
                peer > 0 ? "ok    " : "FAILED", peerSeconds, peer, 100.0 * peerShare, peerLimitBytesPerSecond());
    std::printf("  Tarvo32    %s transfer %6.2f s  %7.1f B/s  %5.1f %% of its limit (%.1f B/s, 2 ms pause)\n",
                figures[0].succeeded ? "ok    " : "FAILED", figures[0].transferSeconds, ours, 100.0 * oursShare,
                limitBytesPerSecond());
    std::printf("  Tarvo32 CPU %.3f s in %.2f s wall: %.2f %% (the whole run, probe and pauses included):\n"
                "    the sender's worker %.3f s, %.2f %%; this bench's watch loop %.3f s\n\n",
                cpu, wall, 100.0 * cpu / wall, sender, 100.0 * sender / wall, watch);
    return figures[0].succeeded && peer > 0 && oursShare >= peerShare && sender / wall < 0.005;
}

// Runs one upload per port at once and watches them.
std::vector<RunFigures> uploadAtOnce(int count)
{
    prepareProductionJobs();
    std::vector<RunFigures> figures(static_cast<size_t>(count));
    std::vector<SteadyClock::time_point> transferStart(figures.size());
    std::vector<bool> started(figures.size()), acknowledged(figures.size()), ended(figures.size());
    auto runStart = SteadyClock::now();
    for (int k = 1; k <= count; ++k) {
        startProductionUpload(FirmwareConfig.ComBase + k - 1);
    }
    int left = count;
    while (left > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(WatchPeriodMs));
        for (int i = 0; i < count; ++i) {
            UploadJob& job = uploadJobs[i + 1];
            if (ended[i]) {
                continue;
            }
            if (!started[i] && job.phase.load(std::memory_order_relaxed) == Transferring) {
                started[i] = true;
                transferStart[i] = SteadyClock::now();
            }
            uint32_t total = job.totalBytes.load(std::memory_order_relaxed);
            if (started[i] && !acknowledged[i] && total != 0 && job.sentBytes.load(std::memory_order_relaxed) == total) {
                acknowledged[i] = true;
                figures[i].transferSeconds = secondsSince(transferStart[i]);
            }
            if (job.threadEnded.load(std::memory_order_acquire) && workerEnded(job)) {
                ended[i] = true;
                --left;
                figures[i].runSeconds = secondsSince(runStart);
                figures[i].succeeded = job.phase.load(std::memory_order_relaxed) == Succeeded;
            }
        }
    }
    return figures;
}

bool report(const char* title, int count, const std::string& modemProgram)
{
    std::unique_ptr<modemsim::SimulatedPorts> inProcess;
    std::vector<std::unique_ptr<bench::ModemProgram>> programs;
    if (modemProgram.empty()) {
        inProcess = std::make_unique<modemsim::SimulatedPorts>();
        for (int k = 0; k < count; ++k) {
            modemsim::ModemSettings settings;
            settings.baud = LineBaud;
            inProcess->add(platform::comPortName(FirmwareConfig.ComBase + k), settings);
        }
    } else {
        for (int k = 0; k < count; ++k) {
            programs.push_back(std::make_unique<bench::ModemProgram>(modemProgram, FirmwareConfig.ComBase + k, LineBaud));
            if (!programs.back()->ready()) {
                std::fprintf(stderr, "upload_bench: %s did not get ready\n", modemProgram.c_str());
                return false;
            }
        }
    }

    double cpuBefore = cpuSeconds();
    auto wallStart = SteadyClock::now();
    std::vector<RunFigures> figures = uploadAtOnce(count);
    double wall = secondsSince(wallStart);
    double cpu = cpuSeconds() - cpuBefore;

    // A repeated block means the sender answered a stale byte; it would also run ahead of the
    // ACKs and so beat the limit, so it is counted.
    uint32_t duplicates = 0;
    if (inProcess) {
        for (int k = 0; k < count; ++k) {
            duplicates += inProcess->find(platform::comPortName(FirmwareConfig.ComBase + k))->counters().blocksDuplicate;
        }
    }
    double limit = limitBytesPerSecond();
    bool allOk = true;
    std::printf("%s (%d upload%s of %u bytes, %s modem%s)\n", title, count, count == 1 ? "" : "s", ImageBytes,
                modemProgram.empty() ? "in-process" : "modemsim", count == 1 ? "" : "s");
    for (int i = 0; i < count; ++i) {
        const RunFigures& f = figures[static_cast<size_t>(i)];
        double rate = f.transferSeconds > 0 ? ImageBytes / f.transferSeconds : 0;
        bool ok = f.succeeded && rate >= 0.97 * limit;
        allOk = allOk && ok;
        std::printf("  COM%-2d %-9s transfer %6.2f s  %7.1f B/s  %5.1f %% of the limit  run %6.2f s\n",
                    FirmwareConfig.ComBase + i, f.succeeded ? "succeeded" : "FAILED", f.transferSeconds, rate,
                    100.0 * rate / limit, f.runSeconds);
    }
    if (inProcess) {
        std::printf("  repeated blocks: %u\n", duplicates);
    }
    double cpuShare = 100.0 * cpu / count / wall;
    std::printf("  CPU %.3f s in %.2f s wall: %.3f s per upload, %.2f %% of wall time per upload\n\n", cpu, wall,
                cpu / count, cpuShare);
    return allOk && cpuShare < 2.0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string modemProgram;
    std::string sx;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--modemsim") == 0 && i + 1 < argc) {
            modemProgram = argv[++i];
        } else if (std::strcmp(argv[i], "--peer-sx") == 0 && i + 1 < argc) {
            sx = argv[++i];
        } else {
            std::fprintf(stderr, "usage: upload_bench [--modemsim PATH [--peer-sx SX]]\n");
            return 2;
        }
    }
    if (!sx.empty() && modemProgram.empty()) {
        std::fprintf(stderr, "upload_bench: --peer-sx needs --modemsim (a receiver on a pseudo-terminal)\n");
        return 2;
    }

    char pattern[] = "/tmp/tarvo-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("upload_bench: mkdtemp");
        return 1;
    }
    const std::string dir = pattern;
    std::filesystem::create_directories(dir + "/host/ports");
    setenv("TARVO_HOST", (dir + "/host").c_str(), 1);
    ProgramDirectory = dir + "/";
    FirmwareConfig = FirmwareConfigRecord{};
    FirmwareConfig.ATI9_key_string = "KOR";
    FirmwareConfig.ATI1_key_string = "NELTA";
    FirmwareConfig.FirmwarePath = dir + "/firmware.bin";
    FirmwareConfig.ComBase = 1;
    {
        std::ofstream ini(iniPath());
        ini << "[INFO]\n";
        std::ofstream image(FirmwareConfig.FirmwarePath, std::ios::binary);
        for (uint32_t i = 0; i < ImageBytes; ++i) {
            image.put(static_cast<char>((i * 131u + 7u) >> 3));
        }
    }

    std::printf("limit for this sender at %u baud: %.1f payload bytes/s (%.3f ms per block)\n\n", LineBaud,
                limitBytesPerSecond(), blockLimitSeconds() * 1000.0);
    bool ok = true;
    if (!sx.empty()) {
        ok = reportSideBySide(modemProgram, sx);
    } else {
        ok = report("one modem", 1, modemProgram);
        ok = report("one modem", 1, modemProgram) && ok;
        ok = report("eight modems at once", 8, modemProgram) && ok;
    }

    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
    std::printf("%s\n", ok ? "goal met" : "goal NOT met");
    return ok ? 0 : 1;
}
