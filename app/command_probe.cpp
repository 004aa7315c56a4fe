// Tarvo32 probe [--json] [PORT...]: identifies the modem on each port as the modem search does
// (probe, then the follow-up for its mode) and prints one line per port, in the order given, with
// the reason for each port not found on stderr. With --json each port is one JSON object on a
// line of its own: port, found, mode, flags and reason.
#include <cstdio>
#include <string>
#include <vector>

#include "app/commands.h"
#include "app/startup.h"
#include "link/modem_probe.h"
#include "platform/com_port_name.h"
#include "platform/serial_device.h"
#include "upload/json_line.h"
#include "upload/upload_reason.h"

namespace {

constexpr int FoundExitStatus = 0;
constexpr int NoneFoundExitStatus = 1;
constexpr int FirstDefaultPort = 1;
constexpr int LastDefaultPort = 8;

constexpr const char* JsonOption = "--json";
constexpr const char* ProbeUsageText =
    "Usage: Tarvo32 probe [--json] [PORT...]   (PORT as COM3 or 3; default COM1 to COM8)\n";

int usageError(const char* format, const std::string& word)
{
    std::fprintf(stderr, format, word.c_str());
    std::fputs(ProbeUsageText, stderr);
    return UsageExitStatus;
}

}  // namespace

std::string jsonString(const std::string& text) { return jsonQuoted(text); }

int commandProbe(const Arguments& arguments)
{
    std::vector<int> ports;
    bool json = false;
    for (const std::string& word : arguments) {
        if (word == JsonOption) {
            json = true;
            continue;
        }
        if (word.size() > 1 && word[0] == '-') {
            return usageError("Tarvo32: unknown option '%s'\n", word);
        }
        int port = platform::parsePortArgument(word);
        if (port <= 0) {
            return usageError("Tarvo32: '%s' is not a port\n", word);
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
    bool anyEntry = false;
    for (int number : ports) {
        std::string name = platform::comPortName(number);
        ModemIdentity identity;
        resetIdentity(identity);
        identity.portName = name;
        identity.speedCode = DefaultSpeedCode;
        ProbeReport report;
        SerialPort port = probePort(identity, DefaultSpeedCode, &report);
        std::string reason;
        const char* mode = nullptr;
        if (port == NoPort) {
            FailureDetail detail;
            UploadReason code = reasonForProbe(report, detail);
            anyEntry = anyEntry || code != ReasonPortNoEntry;
            reason = uploadReasonText(code, detail);
            if (!json) {
                std::printf("%s not-found\n", name.c_str());
            }
            std::fprintf(stderr, "%s: %s\n", name.c_str(), reason.c_str());
        } else {
            anyEntry = true;
            identity.flags = (identity.flags & IdentityKernelMode) ? kernelFollowUp(port, identity.flags)
                                                                   : ati1FollowUp(port, identity.flags);
            mode = (identity.flags & IdentityKernelMode) ? "kernel" : "normal";
            if (!json) {
                std::printf("%s found %s 0x%08X\n", name.c_str(), mode, static_cast<unsigned>(identity.flags));
            }
            // The next port's probe must not find this one still held.
            closePort(port);
            identity.portHandle = NoPort;
            anyFound = true;
        }
        if (json) {
            std::printf("{\"port\":%s,\"found\":%s,\"mode\":%s,\"flags\":%u,\"reason\":%s}\n",
                        jsonString(name).c_str(), mode ? "true" : "false",
                        mode ? jsonString(mode).c_str() : "null", static_cast<unsigned>(mode ? identity.flags : 0),
                        mode ? "null" : jsonString(reason).c_str());
        }
        std::fflush(stdout);
    }
    if (!anyEntry) {
        std::fprintf(stderr, "Tarvo32: none of these COM ports exists. %s\n", platform::portEntriesAdvice().c_str());
    }
    return anyFound ? FoundExitStatus : NoneFoundExitStatus;
}
