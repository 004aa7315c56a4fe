// `Tarvo32 production` as a production line runs it: eight modemsim programs on pseudo-terminals
// at once (some misbehaving, one port without a modem), and --watch with USB modems announced
// through datagrams on $TARVO_HOST/devnotify and the registry entries their driver keeps.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/e2e_support.h"
#include "support/usbsim_support.h"
#include "support/wait_until.h"

namespace {

constexpr const char* DeliveryIni =
    "[INFO]\r\n"
    "Model_name=Nelta 56K USB\r\n"
    "Firmware_file=nelta.bin\r\n"
    "ATI9_key_string=KOR\r\n"
    "ATI1_key_string=Nelta 56K\r\n"
    "Firmware_from_DUDE_protocol=TRUE\r\n";

constexpr const char* ModemClass = "{5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15}";
constexpr const char* ModemInterface = "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\0807060504030201";

// A result line's unit: " start=TIME end=TIME" and " serial=S" when known.
const std::string IsoTimePattern = "\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\dZ";
const std::string TimesPattern = " start=" + IsoTimePattern + " end=" + IsoTimePattern;

// The result lines without their unit words, for comparing the rest.
std::string withoutUnit(const std::string& out)
{
    return std::regex_replace(out, std::regex(TimesPattern + "( serial=\\S+)?"), "");
}

std::vector<std::string> linesOf(const std::string& text)
{
    std::vector<std::string> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        lines.push_back(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return lines;
}

void appendTo(const std::string& path, const std::string& bytes)
{
    e2e::writeFile(path, e2e::readFile(path) + bytes);
}

std::string image(size_t size)
{
    return e2e::patternBytes(size, 4242);
}

// The modem's device instance and port enumerator child as its USB driver keeps them.
std::string registryFor(const std::string& portName)
{
    return "REGEDIT4\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Enum\\USB\\VID_4E2C&PID_7A01\\5&1A2B3C4D&0&1]\r\n"
           "\"Serial\"=hex:01,02,03,04,05,06,07,08\r\n"
           "\"Driver\"=\"MODEM\\\\0003\"\r\n\r\n"
           "[HKEY_LOCAL_MACHINE\\Enum\\NLPORTENUM\\56KUSB\\USB_VID_4E2C_PID_7A01_MODEM_0003]\r\n"
           "\"PortName\"=\"" + portName + "\"\r\n\r\n";
}

// Every progress line on stderr agrees with itself: its percentage is the one its bytes give
// (sent x 98 / total), or "100%" with every byte. Gives the number of lines checked.
int expectRowsAgree(const std::string& err)
{
    static const std::regex line(R"(^(COM\d+) +\S+ +step \d/3 +(\d+)% +(\d+) of (\d+) bytes$)");
    std::istringstream in(err);
    std::string text;
    int checked = 0;
    while (std::getline(in, text)) {
        std::smatch m;
        if (!std::regex_match(text, m, line)) {
            continue;
        }
        ++checked;
        uint64_t percent = std::stoull(m[2]);
        uint64_t sent = std::stoull(m[3]);
        uint64_t total = std::stoull(m[4]);
        if (percent == 100) {
            EXPECT_EQ(sent, total) << text;
        } else {
            EXPECT_EQ(percent, total == 0 ? 0 : sent * 98 / total) << text;
        }
    }
    return checked;
}

// The last progress line of a port on stderr.
std::string lastRowLine(const std::string& err, const std::string& port)
{
    size_t at = err.rfind("\n" + port + " ");
    if (at == std::string::npos) {
        return std::string();
    }
    return err.substr(at + 1, err.find('\n', at + 1) - at - 1);
}

class ProductionE2eTest : public ::testing::Test {
protected:
    e2e::Environment env(const std::string& winver = "") const
    {
        e2e::Environment vars{{"TARVO_HOST", host_.path()}};
        if (!winver.empty()) {
            vars.emplace_back("TARVO_WINVER", winver);
        }
        return vars;
    }

    bool sendEvent(const std::string& word, const std::string& name = ModemInterface) const
    {
        std::string datagram = word + " " + ModemClass + " " + name;
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::string path = host_.file("devnotify");
        std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
        ssize_t sent = sendto(fd, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&address),
                              sizeof address);
        close(fd);
        return sent == static_cast<ssize_t>(datagram.size());
    }

    static bool waitFor(const std::function<bool()>& done, int limitMs)
    {
        return test_support::waitUntil(done, std::chrono::milliseconds(limitMs), std::chrono::milliseconds(20));
    }

    e2e::TempDir host_;
    e2e::Delivery delivery_{DeliveryIni};
};

// Eight ports at once: four modems that take the image, three that fail in different ways (the
// upload command refused, pulled out mid-transfer, a block rejected every time), one port with
// no modem. Every delivered image is the file byte for byte.
TEST_F(ProductionE2eTest, EightPortsAtOnce)
{
    const std::string firmware = image(30000);
    delivery_.addFile("nelta.bin", firmware);
    const std::vector<int> good{1, 3, 5, 8};
    std::vector<std::unique_ptr<e2e::ModemSim>> modems;
    for (int port : good) {
        modems.push_back(std::make_unique<e2e::ModemSim>(
            host_.path(), "COM" + std::to_string(port),
            std::vector<std::string>{"--image-out", host_.file("image" + std::to_string(port)), "--image-size",
                                     std::to_string(firmware.size())}));
    }
    modems.push_back(std::make_unique<e2e::ModemSim>(host_.path(), "COM2", std::vector<std::string>{"--refuse-upload"}));
    modems.push_back(
        std::make_unique<e2e::ModemSim>(host_.path(), "COM4", std::vector<std::string>{"--pull-out-after", "40"}));
    modems.push_back(
        std::make_unique<e2e::ModemSim>(host_.path(), "COM7", std::vector<std::string>{"--nak-block", "5=4"}));
    for (auto& modem : modems) {
        ASSERT_TRUE(modem->ready());
    }

    e2e::RunResult result = e2e::run(delivery_.executable(), {"production"}, env(), 90000);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_TRUE(std::regex_search(result.out, std::regex("^COM1 Succeeded 30000" + TimesPattern + "\n")))
        << result.out;
    EXPECT_TRUE(std::regex_search(result.out, std::regex("\nCOM7 Failed" + TimesPattern + "\n"))) << result.out;
    EXPECT_EQ(withoutUnit(result.out),
              "COM1 Succeeded 30000\n"
              "COM2 Failed\n"
              "COM3 Succeeded 30000\n"
              "COM4 Failed\n"
              "COM5 Succeeded 30000\n"
              "COM6 absent\n"
              "COM7 Failed\n"
              "COM8 Succeeded 30000\n")
        << result.err;
    for (int port : good) {
        EXPECT_EQ(e2e::readFile(host_.file("image" + std::to_string(port))), firmware) << port;
    }
    // Plain lines on stderr (not a terminal): each row's steps, the green lamp after "100%".
    EXPECT_EQ(result.err.find('\r'), std::string::npos);
    EXPECT_NE(result.err.find("COM6 absent"), std::string::npos) << result.err;
    size_t full = result.err.find("COM1  busy      step 3/3 100%");
    size_t green = result.err.find("COM1  succeeded step 3/3 100%");
    EXPECT_NE(full, std::string::npos) << result.err;
    EXPECT_NE(green, std::string::npos) << result.err;
    EXPECT_LT(full, green);
    EXPECT_NE(result.err.find("COM7  failed"), std::string::npos) << result.err;
    EXPECT_GT(expectRowsAgree(result.err), 20) << result.err;
    EXPECT_EQ(lastRowLine(result.err, "COM4").find("COM4  failed"), 0u) << result.err;
    // Each failure says why, with its port, as Tarvo32 upgrade does; the broken-off transfers add
    // the advice to run the upgrade again.
    EXPECT_NE(result.err.find("COM7: block 5 refused four times (NAK)"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("COM4: the port was lost"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("COM4: The modem may be left without working firmware."), std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("COM2: "), std::string::npos) << result.err;
    EXPECT_EQ(result.err.find("COM1: "), std::string::npos) << result.err;

    // Every port that had a modem is on record, the port without one is not; history reads it
    // back with the shift's figures.
    std::vector<std::string> records = linesOf(e2e::readFile(host_.file("upgrades.jsonl")));
    EXPECT_EQ(records.size(), 7u);
    e2e::RunResult history = e2e::run(delivery_.executable(), {"history"}, env());
    EXPECT_EQ(history.status, 0) << history.err;
    EXPECT_NE(history.out.find("4 succeeded, 3 failed, 0 stopped\n"), std::string::npos) << history.out;
    EXPECT_EQ(history.out.find("COM6"), std::string::npos) << history.out;
    e2e::RunResult com7 = e2e::run(delivery_.executable(), {"history", "--port", "7", "--failed"}, env());
    EXPECT_NE(com7.out.find("block 5 refused four times (NAK)"), std::string::npos) << com7.out;
    EXPECT_NE(com7.out.find("nelta.bin"), std::string::npos) << com7.out;
    EXPECT_NE(com7.out.find("0 succeeded, 1 failed, 0 stopped\n"), std::string::npos) << com7.out;
    // A line torn by a power cut is skipped and counted; the records before and after it stay.
    appendTo(host_.file("upgrades.jsonl"), "{\"start\":\"2026-");
    e2e::RunResult failedJson = e2e::run(delivery_.executable(), {"history", "--json", "--failed"}, env());
    EXPECT_EQ(failedJson.status, 0) << failedJson.err;
    std::vector<std::string> failedLines = linesOf(failedJson.out);
    ASSERT_EQ(failedLines.size(), 4u) << failedJson.out;
    EXPECT_EQ(failedLines[3], "{\"counts\":{\"succeeded\":0,\"failed\":3,\"stopped\":0},\"unreadable\":1}");
    EXPECT_NE(failedJson.err.find("1 line of"), std::string::npos) << failedJson.err;
    e2e::RunResult bad = e2e::run(delivery_.executable(), {"history", "--since", "yesterday"}, env());
    EXPECT_EQ(bad.status, 2) << bad.err;

    // The ones still there answer again: --json on two ports, one of them without a modem,
    // succeeds since every port started succeeded.
    e2e::RunResult json = e2e::run(delivery_.executable(), {"production", "--json", "6", "COM1"}, env(), 60000);
    EXPECT_EQ(json.status, 0) << json.err;
    EXPECT_NE(json.out.find("{\"event\":\"progress\",\"port\":\"COM1\",\"phase\":5,"), std::string::npos) << json.out;
    EXPECT_NE(json.out.find("{\"event\":\"result\",\"port\":\"COM1\",\"outcome\":\"Succeeded\",\"sent\":30000,"
                            "\"total\":30000,\"seconds\":"),
              std::string::npos)
        << json.out;
    size_t com1Result = json.out.find("\"event\":\"result\",\"port\":\"COM1\"");
    size_t com6Result = json.out.find("{\"event\":\"result\",\"port\":\"COM6\",\"outcome\":\"absent\"");
    EXPECT_NE(com6Result, std::string::npos) << json.out;
    EXPECT_LT(com1Result, com6Result);
    EXPECT_EQ(json.out.find("\"port\":\"COM2\""), std::string::npos);
}

TEST_F(ProductionE2eTest, BadUsageAndNothingStarted)
{
    for (const auto& args : {std::vector<std::string>{"production", "COM9"}, {"production", "0"},
                             {"production", "LPT1"}, {"production", "--jsn"}}) {
        e2e::RunResult result = e2e::run(delivery_.executable(), args, env());
        EXPECT_EQ(result.status, 2) << args.back();
        EXPECT_EQ(result.out, "");
    }
    // With SHIFT_COM_BASE the station's ports are COM11 to COM18.
    e2e::Delivery shifted{std::string(DeliveryIni) + "SHIFT_COM_BASE=TRUE\r\n"};
    EXPECT_EQ(e2e::run(shifted.executable(), {"production", "COM3"}, env()).status, 2);
    e2e::RunResult none = e2e::run(shifted.executable(), {"production", "COM11", "18"}, env());
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.out, "COM11 absent\nCOM18 absent\n");
}

// --watch on Windows 98: a USB modem plugged in starts its port, pulled out mid-transfer its
// worker ends Failed; plugged in again it is upgraded. SIGTERM ends the station with exit 0 and
// the socket file gone. A second station on the same host is refused while the first listens.
TEST_F(ProductionE2eTest, WatchStartsOnArrivalAndStopsOnRemoval)
{
    const std::string firmware = image(64 * 1024);
    delivery_.addFile("nelta.bin", firmware);
    e2e::writeFile(host_.file("registry.reg"), registryFor("COM3"));

    e2e::Process station(delivery_.executable(), {"production", "--watch", "COM3", "COM4"}, env("win98"));
    ASSERT_TRUE(station.started());
    ASSERT_TRUE(station.waitForOutput("COM3 absent\nCOM4 absent\n", 5000)) << station.err();
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(host_.file("devnotify")); }, 5000));

    EXPECT_NE(station.err().find("Tarvo32 production: listening for USB modems\n"), std::string::npos) << station.err();
    EXPECT_NE(station.err().find("Ctrl-C or SIGTERM ends the station"), std::string::npos) << station.err();

    // A second station on the same host says why it cannot listen, and keeps trying.
    e2e::Process second(delivery_.executable(), {"production", "--watch", "COM5"}, env("win98"));
    ASSERT_TRUE(second.started());
    ASSERT_TRUE(waitFor([&] { return second.err().find("another station listens") != std::string::npos; }, 5000))
        << second.err();
    EXPECT_NE(second.err().find("trying again every 0.8 s"), std::string::npos) << second.err();
    EXPECT_TRUE(second.running());

    {
        // Plugged in: the modem appears on COM3, then the driver announces it.
        e2e::ModemSim modem(host_.path(), "COM3", {"--baud", "115200"});
        ASSERT_TRUE(modem.ready());
        ASSERT_TRUE(sendEvent("arrival"));
        ASSERT_TRUE(waitFor([&] { return station.err().find("COM3  busy      step 3/3") != std::string::npos; },
                            15000))
            << station.err();
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        ASSERT_TRUE(sendEvent("removal"));
        ASSERT_TRUE(station.waitForOutput("COM3 Failed start=", 3000)) << station.err();
    }
    {
        const std::string received = host_.file("received.bin");
        e2e::ModemSim modem(host_.path(), "COM3",
                            {"--image-out", received, "--image-size", std::to_string(firmware.size())});
        ASSERT_TRUE(modem.ready());
        ASSERT_TRUE(sendEvent("arrival"));
        ASSERT_TRUE(station.waitForOutput("COM3 Succeeded 65536 start=", 30000)) << station.err();
        EXPECT_EQ(e2e::readFile(received), firmware);
    }
    // An unknown modem and a malformed datagram change nothing; the unknown one is named.
    ASSERT_TRUE(sendEvent("arrival", "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\ffffffffffffffff"));
    ASSERT_TRUE(sendEvent("plugged"));
    ASSERT_TRUE(waitFor(
        [&] {
            return station.err().find("USB modem ffffffffffffffff plugged in, ignored: no port of the station found") !=
                   std::string::npos;
        },
        3000))
        << station.err();

    station.signal(SIGTERM);
    EXPECT_EQ(station.wait(5000), 0);
    EXPECT_EQ(withoutUnit(station.out()), "COM3 absent\nCOM4 absent\nCOM3 Failed\nCOM3 Succeeded 65536\n");
    // The modem came through a device event: its serial is in the results and on record.
    EXPECT_NE(station.out().find(" serial=0807060504030201\n"), std::string::npos) << station.out();
    e2e::RunResult unit = e2e::run(delivery_.executable(), {"history", "--serial", "0807060504030201", "--json"}, env());
    std::vector<std::string> unitLines = linesOf(unit.out);
    ASSERT_EQ(unitLines.size(), 3u) << unit.out;
    EXPECT_NE(unitLines[0].find("\"serial\":\"0807060504030201\""), std::string::npos) << unitLines[0];
    EXPECT_NE(unitLines[1].find("\"outcome\":\"succeeded\""), std::string::npos) << unitLines[1];
    // The removal's result says what happened.
    EXPECT_NE(station.err().find("COM3: the modem was pulled out"), std::string::npos) << station.err();
    EXPECT_EQ(station.err().find("stopped by the user"), std::string::npos) << station.err();

    // The first station gone, the second one listens.
    ASSERT_TRUE(waitFor([&] { return second.err().find("listening for USB modems now") != std::string::npos; }, 3000))
        << second.err();
    EXPECT_TRUE(std::filesystem::exists(host_.file("devnotify")));
    second.signal(SIGTERM);
    EXPECT_EQ(second.wait(5000), 0);
    EXPECT_FALSE(std::filesystem::exists(host_.file("devnotify")));
}

// --watch with usbsim playing the USB driver: modems plugged into three ports at once are
// upgraded, one pulled out mid-transfer ends Failed, plugged again it is upgraded; a modem that
// drops off by itself fails its row only.
TEST_F(ProductionE2eTest, WatchWithUsbsimPluggingAndPulling)
{
    const std::string firmware = image(48 * 1024);
    delivery_.addFile("nelta.bin", firmware);
    e2e::Process station(delivery_.executable(), {"production", "--watch"}, env("win98se"));
    ASSERT_TRUE(station.started());
    ASSERT_TRUE(station.waitForOutput("COM8 absent\n", 5000)) << station.err();
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(host_.file("devnotify")); }, 5000));

    e2e::UsbSim usb(host_.path());
    ASSERT_TRUE(usb.started());
    const std::string size = std::to_string(firmware.size());
    EXPECT_EQ(usb.command("plug COM3 serial=0807060504030201 --baud 115200").rfind("plugged COM3", 0), 0u);
    for (const char* port : {"COM1", "COM6"}) {
        std::string out = host_.file(std::string("image-") + port);
        EXPECT_EQ(usb.command(std::string("plug ") + port + " --image-out " + out + " --image-size " + size)
                      .rfind(std::string("plugged ") + port, 0),
                  0u)
            << usb.err();
    }
    EXPECT_EQ(usb.command("plug COM7 --pull-out-after 30").rfind("plugged COM7", 0), 0u);

    // COM3 is paced at the line speed: pulled out during its transfer, its worker fails at once.
    ASSERT_TRUE(waitFor([&] { return station.err().find("COM3  busy      step 3/3") != std::string::npos; }, 15000))
        << station.err();
    EXPECT_EQ(station.out().find("COM3 Failed"), std::string::npos);
    EXPECT_EQ(usb.command("pull COM3"), "pulled COM3");
    ASSERT_TRUE(station.waitForOutput("COM3 Failed start=", 3000)) << station.err();

    ASSERT_TRUE(station.waitForOutput("COM1 Succeeded 49152 start=", 30000)) << station.err();
    ASSERT_TRUE(station.waitForOutput("COM6 Succeeded 49152 start=", 10000)) << station.err();
    ASSERT_TRUE(station.waitForOutput("COM7 Failed start=", 10000)) << station.err();
    EXPECT_EQ(usb.nextLine(), "gone COM7");
    EXPECT_EQ(e2e::readFile(host_.file("image-COM1")), firmware);
    EXPECT_EQ(e2e::readFile(host_.file("image-COM6")), firmware);

    const std::string again = host_.file("image-again");
    std::string plugged = usb.command("plug COM3 serial=0807060504030201 --image-out " + again + " --image-size " + size);
    EXPECT_EQ(plugged.rfind("plugged COM3", 0), 0u) << plugged << "\n" << usb.err();
    ASSERT_TRUE(station.waitForOutput("COM3 Succeeded 49152 start=", 30000)) << station.err();
    EXPECT_EQ(e2e::readFile(again), firmware);

    station.signal(SIGTERM);
    EXPECT_EQ(station.wait(5000), 0);
    EXPECT_FALSE(std::filesystem::exists(host_.file("devnotify")));
}

// Ctrl-C stops every worker through keepRunning: without --watch the station fails (exit 1) and
// says which ports; with --watch on the NT family nothing listens and SIGINT ends it with 0.
TEST_F(ProductionE2eTest, InterruptStopsTheWorkers)
{
    delivery_.addFile("nelta.bin", image(256 * 1024));
    e2e::ModemSim modem1(host_.path(), "COM1", {"--baud", "115200"});
    e2e::ModemSim modem2(host_.path(), "COM2", {"--baud", "115200"});
    ASSERT_TRUE(modem1.ready() && modem2.ready());

    for (bool watch : {false, true}) {
        std::vector<std::string> args{"production", "1", "2"};
        if (watch) {
            args.push_back("--watch");
        }
        e2e::Process station(delivery_.executable(), args, env());
        ASSERT_TRUE(station.started());
        ASSERT_TRUE(waitFor([&] { return station.err().find("COM2  busy      step 3/3") != std::string::npos; },
                            15000))
            << station.err();
        auto interrupted = std::chrono::steady_clock::now();
        station.signal(SIGINT);
        EXPECT_EQ(station.wait(5000), watch ? 0 : 1);
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - interrupted)
                      .count(),
                  1500);
        EXPECT_EQ(withoutUnit(station.out()), "COM1 Failed\nCOM2 Failed\n") << watch;
        // The last table shows how the rows ended, not how they were when the signal came.
        EXPECT_EQ(lastRowLine(station.err(), "COM1").find("COM1  failed"), 0u) << station.err();
        EXPECT_EQ(lastRowLine(station.err(), "COM2").find("COM2  failed"), 0u) << station.err();
        expectRowsAgree(station.err());
        EXPECT_FALSE(std::filesystem::exists(host_.file("devnotify")));
        if (!watch) {
            // The modems leave upload mode after their idle time before the next round.
            std::this_thread::sleep_for(std::chrono::milliseconds(10500));
        }
    }
}

// Ports that cannot hold a modem fail at once with their reason: an entry leading nowhere, one
// leading to a file that is no serial device.
TEST_F(ProductionE2eTest, PortsWithoutAModemFailAtOnce)
{
    delivery_.addFile("nelta.bin", image(1000));
    std::filesystem::create_directories(host_.file("ports"));
    std::filesystem::create_symlink(host_.file("nowhere"), host_.file("ports/com2"));
    e2e::writeFile(host_.file("plain"), "not a tty");
    std::filesystem::create_symlink(host_.file("plain"), host_.file("ports/com3"));

    e2e::RunResult result = e2e::run(delivery_.executable(), {"production", "2", "3"}, env(), 20000);
    EXPECT_EQ(result.status, 1) << result.err;
    EXPECT_EQ(withoutUnit(result.out), "COM2 Failed\nCOM3 Failed\n") << result.err;
    EXPECT_NE(result.err.find("COM2: the port's device is not there"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("COM3: the port's entry is not a serial device"), std::string::npos) << result.err;
    // Collected on the first tick, ended on the next: far from four probes 5 s apart.
    EXPECT_LT(result.elapsedMs, 3000u) << result.err;
}

// usbsim pulls a modem and plugs one in again on the same port within 0.1 s, over and over,
// ending plugged in: every arrival is started once the pulled modem's worker is collected, the
// present modem ends upgraded, and no result says a user stopped anything.
TEST_F(ProductionE2eTest, PlugStormEndingPluggedInUpgradesThePresentModem)
{
    const std::string firmware = image(16 * 1024);
    delivery_.addFile("nelta.bin", firmware);
    e2e::Process station(delivery_.executable(), {"production", "--watch", "COM2"}, env("win98"));
    ASSERT_TRUE(station.started());
    ASSERT_TRUE(station.waitForOutput("COM2 absent\n", 5000)) << station.err();
    ASSERT_TRUE(waitFor([&] { return std::filesystem::exists(host_.file("devnotify")); }, 5000));

    e2e::UsbSim usb(host_.path());
    ASSERT_TRUE(usb.started());
    const std::string size = std::to_string(firmware.size());
    for (int round = 0; round < 3; ++round) {
        EXPECT_EQ(usb.command("plug COM2 serial=0807060504030201 --baud 115200").rfind("plugged COM2", 0), 0u)
            << usb.err();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(usb.command("pull COM2"), "pulled COM2");
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::string received = host_.file("received.bin");
    EXPECT_EQ(usb.command("plug COM2 serial=0807060504030201 --image-out " + received + " --image-size " + size)
                  .rfind("plugged COM2", 0),
              0u);
    ASSERT_TRUE(station.waitForOutput("COM2 Succeeded 16384 start=", 30000)) << station.err();
    EXPECT_EQ(e2e::readFile(received), firmware);
    station.signal(SIGTERM);
    EXPECT_EQ(station.wait(5000), 0);
    EXPECT_EQ(station.err().find("stopped by the user"), std::string::npos) << station.err();
    EXPECT_EQ(station.err().find("ignored"), std::string::npos) << station.err();
}

}  // namespace
