// `Tarvo32 history [--json] [--port COMn] [--serial S] [--since DATE] [--failed]`: the upgrade
// record read back, in the order the uploads ended (newest last), as a table or as the record's
// own JSON lines, then a count per outcome: the shift's pass/fail figures. A line that is not a
// record (a torn last line, anything else) is skipped and counted on stderr, never fatal.
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/commands.h"
#include "platform/ascii_case.h"
#include "platform/com_port_name.h"
#include "platform/console.h"
#include "platform/record_file.h"
#include "upload/upgrade_record.h"

namespace {

constexpr const char* UsageText =
    "Usage: Tarvo32 history [--json] [--port COMn] [--serial S] [--since DATE] [--failed]\n"
    "  --json        the records as JSON lines, then one object with the counts\n"
    "  --port COMn   only uploads on this port (COM3 or 3)\n"
    "  --serial S    only the modem with this USB serial\n"
    "  --since DATE  only uploads started at or after DATE, in UTC: 2026-12-09, 2026-12-09T14:05\n"
    "                or 2026-12-09T14:05:30\n"
    "  --failed      only uploads that did not succeed (failed or stopped)\n";

constexpr const char* TableHeading = "time (UTC)           port   serial           image                outcome    reason";
constexpr const char* TableRowFormat = "%-20s %-6s %-16s %-20s %-10s %s\n";
constexpr const char* NoValue = "-";

struct Filters {
    bool json = false;
    int port = 0;
    std::string serial;
    std::string since;  // normalised
    bool failedOnly = false;
};

int usageError(const std::string& message)
{
    std::fprintf(stderr, "Tarvo32: %s\n", message.c_str());
    std::fputs(UsageText, stderr);
    return UsageExitStatus;
}

// Reads the words; an empty result means they were good, else the usage error's text.
std::string readFilters(const Arguments& arguments, Filters& f)
{
    for (size_t i = 0; i < arguments.size(); ++i) {
        std::string word = arguments[i];
        std::string value;
        bool inlineValue = false;
        std::string::size_type equals = word.find('=');
        if (word.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = word.substr(equals + 1);
            word.resize(equals);
            inlineValue = true;
        }
        if (word == "--json" || word == "--failed") {
            if (inlineValue) {
                return word + " takes no value";
            }
            (word == "--json" ? f.json : f.failedOnly) = true;
            continue;
        }
        if (word != "--port" && word != "--serial" && word != "--since") {
            return word.compare(0, 1, "-") == 0 ? "unknown option '" + word + "'"
                                                : "unexpected argument '" + word + "'";
        }
        if (!inlineValue) {
            if (i + 1 >= arguments.size()) {
                return word + " needs a value";
            }
            value = arguments[++i];
        }
        if (word == "--port") {
            f.port = platform::parsePortArgument(value);
            if (f.port <= 0) {
                return "'" + value + "' is not a port";
            }
        } else if (word == "--serial") {
            if (value.empty()) {
                return "--serial needs a serial";
            }
            f.serial = value;
        } else if (!parseIsoTime(value, f.since)) {
            return "'" + value + "' is not a date (2026-12-09, 2026-12-09T14:05 or 2026-12-09T14:05:30, UTC)";
        }
    }
    return std::string();
}

bool passes(const UpgradeRecord& r, const Filters& f)
{
    if (f.port > 0 && !platform::equalsNoCase(r.port, platform::comPortName(f.port))) {
        return false;
    }
    if (!f.serial.empty() && !platform::equalsNoCase(r.serial, f.serial)) {
        return false;
    }
    std::string start;
    if (!f.since.empty() && (!parseIsoTime(r.start, start) || start < f.since)) {
        return false;
    }
    return !f.failedOnly || r.outcome != OutcomeSucceeded;
}

std::string shown(const std::string& text, bool terminal)
{
    if (text.empty()) {
        return NoValue;
    }
    return terminal ? terminalSafe(text) : text;
}

}  // namespace

void sayRecordWarning()
{
    std::string warning = takeRecordWarning();
    if (!warning.empty()) {
        std::fprintf(stderr, "Tarvo32: %s\n", warning.c_str());
        std::fflush(stderr);
    }
}

int commandHistory(const Arguments& arguments)
{
    Filters filters;
    std::string bad = readFilters(arguments, filters);
    if (!bad.empty()) {
        return usageError(bad);
    }
    std::string content;
    std::string why;
    platform::RecordRead read = platform::readRecordFile(content, &why);
    if (read == platform::RecordRead::Failed) {
        std::fprintf(stderr, "Tarvo32: cannot read the upgrade record: %s\n", why.c_str());
        return FailedExitStatus;
    }
    if (read == platform::RecordRead::Missing) {
        std::fprintf(stderr, "Tarvo32: no upgrade recorded yet (%s)\n", platform::recordFilePath().c_str());
    }

    // The three outcomes always, in this order; any other word a record holds after them.
    std::vector<std::string> order = {OutcomeSucceeded, OutcomeFailed, OutcomeStopped};
    std::map<std::string, int> counts;
    int unreadable = 0;
    const bool terminal = platform::stdoutIsTerminal();
    bool headed = false;
    size_t at = 0;
    while (at < content.size()) {
        std::string::size_type newline = content.find('\n', at);
        std::string line = content.substr(at, newline == std::string::npos ? std::string::npos : newline - at);
        at = newline == std::string::npos ? content.size() : newline + 1;
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (line.find_first_not_of(" \t") == std::string::npos) {
            continue;
        }
        UpgradeRecord record;
        if (!parseRecordLine(line, record)) {
            ++unreadable;
            continue;
        }
        if (!passes(record, filters)) {
            continue;
        }
        if (counts.find(record.outcome) == counts.end() &&
            std::find(order.begin(), order.end(), record.outcome) == order.end()) {
            order.push_back(record.outcome);
        }
        ++counts[record.outcome];
        if (filters.json) {
            std::printf("%s\n", line.c_str());
            continue;
        }
        if (!headed) {
            std::printf("%s\n", TableHeading);
            headed = true;
        }
        std::printf(TableRowFormat, shown(record.start, terminal).c_str(), shown(record.port, terminal).c_str(),
                    shown(record.serial, terminal).c_str(), shown(record.image, terminal).c_str(),
                    shown(record.outcome, terminal).c_str(), shown(record.reason, terminal).c_str());
    }

    if (filters.json) {
        std::string object = "{\"counts\":{";
        for (size_t i = 0; i < order.size(); ++i) {
            // Appended piece by piece: MinGW's g++ 12 warns falsely of an overlap for "x" + a temporary.
            object += i ? "," : "";
            object += jsonString(order[i]);
            object += ':';
            object += std::to_string(counts[order[i]]);
        }
        std::printf("%s},\"unreadable\":%d}\n", object.c_str(), unreadable);
    } else {
        std::string line;
        for (size_t i = 0; i < order.size(); ++i) {
            line += i ? ", " : "";
            line += std::to_string(counts[order[i]]);
            line += ' ';
            line += shown(order[i], terminal);
        }
        std::printf("%s\n", line.c_str());
    }
    if (unreadable > 0) {
        std::fprintf(stderr, "Tarvo32: %d line%s of %s skipped: not a record (a torn or foreign line)\n", unreadable,
                     unreadable == 1 ? "" : "s", platform::recordFilePath().c_str());
    }
    std::fflush(stdout);
    return SucceededExitStatus;
}
