// The station's logic without a window: the poll of a row against workers the test steps by hand
// (phase and byte counts written by the test, the end when the test says), the exit test, device
// events through a finder the test answers, and whole runs of real workers on in-process modems.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <thread>
#include <vector>

#include "config/program_state.h"
#include "platform/clock.h"
#include "platform/serial_device.h"
#include "production/station.h"
#include "production/usb_port_discovery.h"
#include "support/station_steps.h"
#include "resources/icons.h"
#include "tools/modemsim/simulated_ports.h"
#include "upload/upload_fixture.h"
#include "support/wait_until.h"

namespace {

using Clock = std::chrono::steady_clock;
using platform::DeviceChange;

using station_steps::endSteppedWorker;
using station_steps::holdSteppedWorker;
using station_steps::waitUntil;

// The finder the station asks: one device key bound to one port; every call is kept.
struct FinderCall {
    std::string key;
    int32_t direction;
};
std::vector<FinderCall> finderCalls;
std::string finderKey;
int32_t finderPort = 0;

int32_t testFinder(const std::string& key, int32_t direction)
{
    finderCalls.push_back({key, direction});
    return key == finderKey ? finderPort : 0;
}

void report(int row, int32_t phase, uint32_t sent, uint32_t total)
{
    uploadJobs[row].phase.store(phase);
    uploadJobs[row].totalBytes.store(total);
    uploadJobs[row].sentBytes.store(sent);
}

std::vector<int32_t> squares(const RowDisplay& display)
{
    return {display.steps.begin(), display.steps.end()};
}

const std::vector<int32_t> NoSquare{IconStepPending, IconStepPending, IconStepPending};
const std::vector<int32_t> OneSquare{IconStepDone, IconStepPending, IconStepPending};
const std::vector<int32_t> TwoSquares{IconStepDone, IconStepDone, IconStepPending};
const std::vector<int32_t> ThreeSquares{IconStepDone, IconStepDone, IconStepDone};

DeviceChange event(uint32_t code, const std::string& name)
{
    return DeviceChange{code, platform::DbtDevtypDeviceInterface, name};
}

constexpr const char* ModemKey = "0807060504030201";
constexpr const char* ModemInterface = "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\0807060504030201";

class StationTest : public upload_test::UploadFixture {
protected:
    void SetUp() override
    {
        UploadFixture::SetUp();
        savedOs_ = OsFlavor;
        OsFlavor = OsFlavorRecord{};
        OsFlavor.IsWin9x = 1;
        OsFlavor.IsWin98 = 1;
        FirmwareConfig.ComBase = 1;
        finderCalls.clear();
        finderKey = ModemKey;
        finderPort = 3;
        station_.prepare();
    }
    void TearDown() override
    {
        station_.stopListening();
        station_.stopAllWorkers();
        OsFlavor = savedOs_;
        UploadFixture::TearDown();
    }

    // One poll of the row, checked against what the row must show.
    void expectPoll(int row, int32_t lamp, const std::vector<int32_t>& steps, const char* text, int bar,
                    const char* where)
    {
        station_.pollRow(row);
        const RowDisplay& shown = station_.display(row);
        EXPECT_EQ(shown.lamp, lamp) << where;
        EXPECT_EQ(squares(shown), steps) << where;
        EXPECT_EQ(shown.percentText, text) << where;
        EXPECT_EQ(shown.bar, bar) << where;
    }

    ProductionStation station_{testFinder};
    OsFlavorRecord savedOs_;
};

// The row through a whole run: the lamp blinks cyan and red from poll to poll, the squares follow
// the phase, the percentage only rises, "100%" shows while the worker is still finishing, and
// the lamp turns green only once it has ended.
TEST_F(StationTest, RowFollowsASuccessfulRun)
{
    holdSteppedWorker(2);
    struct Step {
        int32_t phase;
        uint32_t sent;
        uint32_t total;
        bool ends;
        int32_t lamp;
        const std::vector<int32_t>& steps;
        const char* text;
        int bar;
    };
    const Step steps[] = {
        {Idle, 0, 0, false, IconLampBusyB, OneSquare, "0%", 0},
        {OpeningPort, 0, 0, false, IconLampBusyA, OneSquare, "0%", 0},
        {StartingUpload, 0, 1000, false, IconLampBusyB, OneSquare, "0%", 0},
        {AwaitingReceiver, 0, 1000, false, IconLampBusyA, TwoSquares, "0%", 0},
        {Transferring, 50, 1000, false, IconLampBusyB, ThreeSquares, " 4%", 4},
        {Transferring, 30, 1000, false, IconLampBusyA, ThreeSquares, " 4%", 4},  // a stale read
        {Transferring, 505, 1000, false, IconLampBusyB, ThreeSquares, "49%", 49},
        {Transferring, 1000, 1000, false, IconLampBusyA, ThreeSquares, "100%", 100},
        {Transferring, 1000, 1000, false, IconLampBusyB, ThreeSquares, "100%", 100},
        {Succeeded, 1000, 1000, true, IconLampDone, ThreeSquares, "100%", 100},
        {Succeeded, 1000, 1000, false, IconLampDone, ThreeSquares, "100%", 100},  // nothing held
    };
    int n = 0;
    for (const Step& s : steps) {
        report(2, s.phase, s.sent, s.total);
        if (s.ends) {
            endSteppedWorker(2, s.phase);
        }
        std::string where = "step " + std::to_string(n++);
        expectPoll(2, s.lamp, s.steps, s.text, s.bar, where.c_str());
    }
    EXPECT_FALSE(station_.busy(2));
    // The other rows stayed idle.
    EXPECT_EQ(station_.display(1), idleRowDisplay());
}

TEST_F(StationTest, FailureLeavesTheLampDarkBlueAndTheRestAsShown)
{
    holdSteppedWorker(4);
    report(4, Transferring, 300, 1000);
    expectPoll(4, IconLampBusyB, ThreeSquares, "29%", 29, "transferring");
    report(4, Failed, 300, 1000);
    expectPoll(4, IconLampBusyB, ThreeSquares, "29%", 29, "failed, worker still closing");
    endSteppedWorker(4, Failed);
    RowPoll poll = station_.pollRow(4);
    EXPECT_TRUE(poll.workerEnded);
    EXPECT_EQ(poll.phase, Failed);
    EXPECT_TRUE(poll.displayChanged);
    const RowDisplay& shown = station_.display(4);
    EXPECT_EQ(shown.lamp, IconLampIdle);
    EXPECT_EQ(squares(shown), ThreeSquares);
    EXPECT_EQ(shown.percentText, "29%");
    EXPECT_FALSE(station_.busy(4));
}

// The exit test comes before the poll and only the poll collects an ended worker: the station
// ends on the tick after the one that saw the last worker end.
TEST_F(StationTest, ExitWhenIdle)
{
    station_.requestExit();
    EXPECT_EQ(station_.tick(), TickOutcome::Ended);

    station_.prepare();
    EXPECT_FALSE(station_.exitPending());
    holdSteppedWorker(2);
    holdSteppedWorker(5);
    station_.requestExit();
    EXPECT_EQ(station_.tick(), TickOutcome::Polled);
    endSteppedWorker(2, Failed);
    EXPECT_EQ(station_.tick(), TickOutcome::Polled);
    EXPECT_TRUE(station_.lastPoll(2).workerEnded);
    EXPECT_EQ(station_.tick(), TickOutcome::Polled);  // row 5 still held
    EXPECT_FALSE(station_.lastPoll(2).workerEnded);
    // Ended "Succeeded" without a byte counted: collected all the same, and never shown green.
    endSteppedWorker(5, Succeeded);
    EXPECT_EQ(station_.tick(), TickOutcome::Polled);
    EXPECT_TRUE(station_.lastPoll(5).workerEnded);
    EXPECT_EQ(station_.display(5).lamp, IconLampIdle);
    EXPECT_EQ(station_.tick(), TickOutcome::Ended);

    // While the exit is pending a modem plugged in still starts its row, and the station waits
    // for that worker too.
    upload_test::JoinWorkersOnExit joinWorkers;
    EXPECT_EQ(station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface)).kind, DeviceAction::Started);
    EXPECT_EQ(station_.tick(), TickOutcome::Polled);
    station_.stopAllWorkers();
    EXPECT_EQ(station_.tick(), TickOutcome::Ended);
}

// A removal stops the row's worker; the row keeps what it showed for seven polls and is reset on
// the eighth, and on every poll after it until the modem comes back.
TEST_F(StationTest, RemovalHoldsTheRowForSevenPollsThenResetsIt)
{
    holdSteppedWorker(3);
    report(3, Transferring, 505, 1000);
    station_.pollRow(3);
    const RowDisplay shownAtRemoval = station_.display(3);

    DeviceAction action = station_.deviceChange(event(platform::DbtDeviceRemoveComplete, ModemInterface));
    EXPECT_EQ(action.kind, DeviceAction::Stopped);
    EXPECT_EQ(action.port, 3);
    EXPECT_EQ(uploadJobs[3].keepRunning.load(), 0);
    ASSERT_EQ(finderCalls.size(), 1u);
    EXPECT_EQ(finderCalls[0].key, ModemKey);
    EXPECT_EQ(finderCalls[0].direction, UsbRemoval);

    endSteppedWorker(3, Failed);
    for (int poll = 1; poll <= 7; ++poll) {
        RowPoll result = station_.pollRow(3);
        EXPECT_EQ(result.workerEnded, poll == 1) << poll;
        EXPECT_EQ(station_.display(3), shownAtRemoval) << poll;
    }
    station_.pollRow(3);
    EXPECT_EQ(station_.display(3), idleRowDisplay());
    station_.pollRow(3);
    EXPECT_EQ(station_.display(3), idleRowDisplay());
}

TEST_F(StationTest, DeviceKeyIsAtMostSixteenCharactersAfterTheLastBackslash)
{
    const std::string longTail(300, 'A');
    struct Case {
        std::string name;
        std::string key;
    };
    const Case cases[] = {
        {ModemInterface, ModemKey},
        {"0807060504030201", ModemKey},
        {"no-backslash-and-longer-than-sixteen", "no-backslash-and"},
        {"a\\b\\c", "c"},
        {"ends-with\\", ""},
        {"", ""},
        {"\\", ""},
        {"x\\" + longTail, std::string(16, 'A')},
        {std::string("x\\ab\0cd", 7), "ab"},
        {"\\\\?\\USB#\xff\xfe\\\x01\x7f", "\x01\x7f"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(deviceKeyOf(c.name), c.key) << c.name;
    }
}

TEST_F(StationTest, LabelsAndPortsForBothBases)
{
    FirmwareConfig.ComBase = 1;
    FirmwareConfig.SHIFT_COM_BASE = false;
    EXPECT_EQ(rowLabel(1), "COM1:");
    EXPECT_EQ(rowLabel(8), "COM8:");
    EXPECT_EQ(rowPort(3), 3);
    FirmwareConfig.ComBase = 11;
    FirmwareConfig.SHIFT_COM_BASE = true;
    EXPECT_EQ(rowLabel(1), "COM11:");
    EXPECT_EQ(rowLabel(8), "COM18:");
    EXPECT_EQ(rowPort(5), 15);
    EXPECT_EQ(rowLabel(9), "");
    EXPECT_EQ(rowPort(0), 0);

    FirmwareConfig.Firmware_from_DUDE_protocol = true;
    EXPECT_STREQ(usbModemClass(), "{5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15}");
    FirmwareConfig.Firmware_from_DUDE_protocol = false;
    EXPECT_STREQ(usbModemClass(), "{5C0A19E4-7D42-4B8F-A1C6-2E93D07B4F15}");
}

// On the NT family nothing is registered and device events start nothing; events that are no
// device interface or neither arrival nor removal do nothing on any family.
TEST_F(StationTest, DeviceEventsOnlyOnTheNinetyFiveFamily)
{
    OsFlavor = OsFlavorRecord{};
    OsFlavor.IsNT = 1;
    EXPECT_EQ(station_.listenForDevices([](const DeviceChange&) {}, nullptr), DeviceListening::NotNeeded);
    EXPECT_FALSE(station_.listening());
    EXPECT_FALSE(std::filesystem::exists(platform::deviceNotifySocketPath()));
    EXPECT_EQ(station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface)).kind, DeviceAction::None);
    EXPECT_TRUE(finderCalls.empty());
    EXPECT_TRUE(station_.idle());

    OsFlavor.IsNT = 0;
    OsFlavor.IsWin9x = 1;
    DeviceChange notInterface = event(platform::DbtDeviceArrival, ModemInterface);
    notInterface.deviceType = 3;
    EXPECT_EQ(station_.deviceChange(notInterface).kind, DeviceAction::None);
    EXPECT_EQ(station_.deviceChange(event(0x8001, ModemInterface)).kind, DeviceAction::None);
    EXPECT_TRUE(finderCalls.empty());
    // A modem the finder knows nothing of.
    EXPECT_EQ(station_.deviceChange(event(platform::DbtDeviceArrival, "\\\\?\\X\\1111")).kind, DeviceAction::None);
    EXPECT_TRUE(station_.idle());
}

// Real workers on in-process modems: a removal during the transfer ends the worker Failed before
// its next block, and an arrival of the same modem starts the row afresh.
TEST_F(StationTest, ArrivalStartsTheRowAndRemovalMidTransferFailsIt)
{
    auto image = writeFirmware(64 * 1024);
    modemsim::ModemSettings settings;
    settings.baud = 115200;
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM3", settings);
    upload_test::JoinWorkersOnExit joinWorkers;

    DeviceAction action = station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface));
    EXPECT_EQ(action.kind, DeviceAction::Started);
    EXPECT_EQ(action.port, 3);
    ASSERT_TRUE(station_.busy(3));
    EXPECT_EQ(finderCalls.back().direction, UsbArrival);
    UploadJob& job = uploadJobs[3];
    ASSERT_TRUE(waitUntil([&] { return job.sentBytes.load() >= 10 * modemsim::BlockDataSize; },
                          std::chrono::seconds(15)));
    station_.pollRow(3);
    EXPECT_EQ(squares(station_.display(3)), ThreeSquares);

    station_.deviceChange(event(platform::DbtDeviceRemoveComplete, ModemInterface));
    ASSERT_TRUE(waitUntil([&] { return job.threadEnded.load() != 0; }, std::chrono::milliseconds(500)));
    RowPoll poll = station_.pollRow(3);
    EXPECT_TRUE(poll.workerEnded);
    EXPECT_EQ(poll.phase, Failed);
    EXPECT_LT(poll.sentBytes, image.size());
    EXPECT_FALSE(modem.isOpen());
    for (int i = 0; i < 6; ++i) {
        station_.pollRow(3);
    }
    EXPECT_EQ(squares(station_.display(3)), ThreeSquares);
    station_.pollRow(3);
    EXPECT_EQ(station_.display(3), idleRowDisplay());

    // Plugged in again: keepRunning set again and a fresh run from the probe.
    EXPECT_EQ(station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface)).kind, DeviceAction::Started);
    EXPECT_EQ(job.keepRunning.load(), 1);
    EXPECT_TRUE(station_.busy(3));
}

// A second "Upgrade firmware" starts only the rows whose worker is gone; ending the station with
// workers running stops and joins them, leaving no port open.
TEST_F(StationTest, SecondStartSkipsBusyPortsAndEndingJoinsWorkers)
{
    writeFirmware(4096);
    modemsim::ModemSettings holding;
    holding.noFirstNak = true;  // the worker waits 30 s for the receiver
    modemsim::SimulatedPorts ports;
    ports.add("COM1", holding);
    ports.add("COM2", holding);
    upload_test::JoinWorkersOnExit joinWorkers;

    auto station = std::make_unique<ProductionStation>(testFinder);
    station->prepare();
    station->startAllPorts();
    std::vector<int32_t> ids;
    for (int row = 1; row <= 8; ++row) {
        ASSERT_TRUE(station->busy(row)) << row;
        ids.push_back(uploadJobs[row].threadId);
    }
    ASSERT_TRUE(waitUntil([&] { return uploadJobs[2].phase.load() == AwaitingReceiver; }, std::chrono::seconds(5)));

    // Row 2's modem is pulled; its worker ends and the poll collects it.
    uploadJobs[2].keepRunning.store(0);
    ASSERT_TRUE(waitUntil([&] { return uploadJobs[2].threadEnded.load() != 0; }, std::chrono::seconds(2)));
    EXPECT_TRUE(station->pollRow(2).workerEnded);
    uploadJobs[2].keepRunning.store(1);

    station->startAllPorts();
    for (int row = 1; row <= 8; ++row) {
        EXPECT_TRUE(station->busy(row)) << row;
        EXPECT_EQ(uploadJobs[row].threadId != ids[row - 1], row == 2) << row;
    }

    auto start = Clock::now();
    station.reset();
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 1000);
    for (int row = 1; row <= 8; ++row) {
        EXPECT_EQ(uploadJobs[row].threadHandle, nullptr);
        EXPECT_EQ(uploadJobs[row].phase.load(), Failed) << row;
    }
    EXPECT_EQ(platform::openDeviceCount(), 0);
    EXPECT_FALSE(ports.find("COM1")->isOpen());
}

// A whole run on the virtual clock through "Upgrade firmware" and the exit: the station serves
// one row (workers sharing a virtual clock would move each other's time-outs), whose image
// arrives and which ends green at "100%"; the rows not served are never started.
TEST_F(StationTest, WholeRunThroughTheStation)
{
    platform::ScopedVirtualClock clock;
    auto image = writeFirmware(5000);
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM4");
    upload_test::JoinWorkersOnExit joinWorkers;

    std::array<bool, StationRowCount + 1> served{};
    served[4] = true;
    station_.serveOnly(served);
    station_.startAllPorts();
    EXPECT_TRUE(station_.busy(4));
    station_.requestExit();
    int ticks = 0;
    bool collected = false;
    while (station_.tick() == TickOutcome::Polled) {
        collected = collected || station_.lastPoll(4).workerEnded;
        ASSERT_LT(++ticks, 20000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(collected);
    EXPECT_EQ(uploadJobs[4].phase.load(), Succeeded);
    EXPECT_EQ(station_.display(4).lamp, IconLampDone);
    EXPECT_EQ(station_.display(4).percentText, "100%");
    EXPECT_EQ(station_.display(4).bar, 100);
    ASSERT_EQ(modem.images().size(), 1u);
    EXPECT_EQ(modem.images()[0].trimmed(image.size()), image);
    for (int row : {1, 2, 3, 5, 6, 7, 8}) {
        EXPECT_EQ(uploadJobs[row].threadId, -1) << row;
        EXPECT_EQ(station_.display(row), idleRowDisplay()) << row;
    }
}

}  // namespace
