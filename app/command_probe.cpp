// Tarvo32 probe [PORT...]: identifies the modem on each port as the modem search does (probe,
// then the follow-up for its mode) and prints one line per port, in the order given.
#include <cstdio>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/startup.h"
#include "link/modem_probe.h"
#include "platform/com_port_name.h"

namespace {

constexpr int FoundExitStatus = 0;
constexpr int NoneFoundExitStatus = 1;
constexpr int FirstDefaultPort = 1;
constexpr int LastDefaultPort = 8;

constexpr const char* ProbeUsageText = "Usage: Tarvo32 probe [PORT...]   (PORT as COM3 or 3; default COM1 to COM8)\n";

}  // namespace

int commandProbe(const Arguments& arguments)
{
    std::vector<int> ports;
    for (const std::string& word : arguments) {
        int port = platform::parsePortArgument(word);
        if (port <= 0) {
            std::fprintf(stderr, "Tarvo32: '%s' is not a port\n", word.c_str());
            std::fputs(ProbeUsageText, stderr);
            return UsageExitStatus;
        }
        ports.push_back(port);
    }
    if (ports.empty()) {
        for (int port = FirstDefaultPort; port <= LastDefaultPort; ++port) {
            ports.push_back(port);
        }
    }
    initialiseProgramState();

    bool anyFound = false;
    for (int number : ports) {
        std::string name = platform::comPortName(number);
        ModemIdentity identity;
        resetIdentity(identity);
        identity.portName = name;
        identity.speedCode = DefaultSpeedCode;
        SerialPort port = probePort(identity, DefaultSpeedCode);
        if (port == NoPort) {
            std::printf("%s not-found\n", name.c_str());
        } else {
            identity.flags = (identity.flags & IdentityKernelMode) ? kernelFollowUp(port, identity.flags)
                                                                   : ati1FollowUp(port, identity.flags);
            std::printf("%s found %s 0x%08X\n", name.c_str(), (identity.flags & IdentityKernelMode) ? "kernel" : "normal",
                        static_cast<unsigned>(identity.flags));
            // The next port's probe must not find this one still held.
            closePort(port);
            identity.portHandle = NoPort;
            anyFound = true;
        }
        std::fflush(stdout);
    }
    return anyFound ? FoundExitStatus : NoneFoundExitStatus;
}
