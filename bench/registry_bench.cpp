// What the key store and the driver change cost on large hosts, in this program's own process:
// - a modem's arrival found by findUsbModemPort while the registry remembers 5000 earlier USB
//   modem instances (the plugged one listed last), first on a freshly written file (read and
//   parsed once), then again on the same file;
// - `Tarvo32 drivers`' DelFile step with 5000 names in Win98\DelFile\Inf (in capitals) against
//   an INF folder of 5000 files (in small letters, and some Other copies), as a real run.
// Goal: the arrival under 50 ms; neither grows with the square of the count.
// Usage: registry_bench [instances [names]] (default 5000 5000).
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <string>

#include "config/firmware_config.h"
#include "config/program_state.h"
#include "drivers/driver_change.h"
#include "platform/linux/host_paths.h"
#include "production/usb_port_discovery.h"
#include "upload/upload_job.h"

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int DefaultInstances = 5000;
constexpr int DefaultNames = 5000;
constexpr double ArrivalGoalMs = 50.0;

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void writeFile(const std::string& path, const std::string& text)
{
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Instance i: serial bytes little-endian of i * 10, its driver Modem\i, its port COM1..8.
std::string registryText(int instances)
{
    std::string text = "REGEDIT4\r\n\r\n";
    char line[256];
    for (int i = 1; i <= instances; ++i) {
        const unsigned long long serial = static_cast<unsigned long long>(i) * 10;
        std::snprintf(line, sizeof line,
                      "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\7&%08X&0&1]\r\n"
                      "\"Serial\"=hex:%02llx,%02llx,%02llx,00,00,00,00,00\r\n\"Driver\"=\"Modem\\\\%04d\"\r\n\r\n",
                      static_cast<unsigned>(i), serial & 0xff, (serial >> 8) & 0xff, (serial >> 16) & 0xff, i);
        text += line;
    }
    for (int i = 1; i <= instances; ++i) {
        std::snprintf(line, sizeof line,
                      "[HKEY_LOCAL_MACHINE\\Enum\\NLPORTENUM\\56KUSB\\USB_VID_4E2C_PID_7A01_Modem_%04d]\r\n"
                      "\"PortName\"=\"COM%d\"\r\n\r\n", i, 1 + i % 8);
        text += line;
    }
    return text;
}

double millisecondsOf(const std::function<void()>& run, double* cpuMs)
{
    const double cpu0 = cpuSeconds();
    const auto t0 = SteadyClock::now();
    run();
    const double wall = std::chrono::duration<double, std::milli>(SteadyClock::now() - t0).count();
    *cpuMs = (cpuSeconds() - cpu0) * 1000;
    return wall;
}

}  // namespace

int main(int argc, char** argv)
{
    // registry_bench [instances [names]]: other counts, to see how the cost grows.
    const int RememberedInstances = argc > 1 ? std::atoi(argv[1]) : DefaultInstances;
    const int DelFileNames = argc > 2 ? std::atoi(argv[2]) : DefaultNames;
    char pluggedKey[17];  // the serial text of the last instance
    std::snprintf(pluggedKey, sizeof pluggedKey, "%016llx", static_cast<unsigned long long>(RememberedInstances) * 10);
    char pattern[] = "/tmp/registry-bench-XXXXXX";
    if (!mkdtemp(pattern)) {
        std::perror("registry_bench: mkdtemp");
        return 1;
    }
    const std::string top = pattern;
    setenv("TARVO_HOST", (top + "/host").c_str(), 1);
    setenv("TARVO_WINVER", "win98", 1);
    OsFlavor = detectOsFlavor(platform::windowsVersionFrom("win98"));
    FirmwareConfig.Firmware_from_DUDE_protocol = true;
    FirmwareConfig.ComBase = 1;
    bool ok = true;

    writeFile(top + "/host/registry.reg", registryText(RememberedInstances));
    usleep(50 * 1000);  // the file's time settled, as it is a moment after the simulator wrote it
    int32_t port = 0;
    double cpu = 0;
    const double first = millisecondsOf([&] { port = findUsbModemPort(pluggedKey, UsbArrival); }, &cpu);
    std::printf("arrival, %d remembered instances, fresh file: %.1f ms wall, %.1f ms CPU (port COM%d)\n",
                RememberedInstances, first, cpu, port);
    uploadJobs[port].deviceKey.clear();
    const double again = millisecondsOf([&] { port = findUsbModemPort(pluggedKey, UsbArrival); }, &cpu);
    std::printf("arrival, same file again: %.1f ms wall, %.1f ms CPU\n", again, cpu);
    ok = ok && port != 0 && first < ArrivalGoalMs;

    const std::string windows = top + "/host/windows";
    ProgramDirectory = top + "/delivery/";
    for (int i = 0; i < DelFileNames; ++i) {
        // The delivery spells the names in capitals, as copied from a Windows medium.
        char name[64];
        char spelled[64];
        std::snprintf(name, sizeof name, "old%05d.inf", i);
        std::snprintf(spelled, sizeof spelled, "OLD%05d.INF", i);
        writeFile(ProgramDirectory + "Win98/DelFile/Inf/" + spelled, "");
        writeFile(windows + "/INF/" + name, "old");
        if (i % 10 == 0) {
            writeFile(windows + "/INF/Other/Vendor" + std::string(name), "old");
        }
    }
    std::filesystem::create_directories(windows + "/SYSTEM");
    int deleted = 0;
    DriverChange change;
    change.setChangeReport([&](const DriverChangeEvent& e) { deleted += e.kind == DriverChangeEvent::Kind::DeletedFile; });
    const double delFiles = millisecondsOf([&] { change.DeleteOldDriverFiles(); }, &cpu);
    std::printf("DelFile step, %d names against %d INF files: %.0f ms wall, %.0f ms CPU, %d files deleted\n",
                DelFileNames, DelFileNames, delFiles, cpu, deleted);
    ok = ok && deleted == DelFileNames + DelFileNames / 10;

    if (!getenv("REGISTRY_BENCH_KEEP")) std::filesystem::remove_all(top);
    std::printf("%s\n", ok ? "goal met" : "GOAL MISSED");
    std::fflush(stdout);
    return ok ? 0 : 1;
}
