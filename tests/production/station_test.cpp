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
#include "upload/upload_engine.h"
#include "upload/upload_fixture.h"
#include "upload/upload_reason.h"
#include "upload/upload_workers.h"
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
    DeviceChange change;
    change.event = code;
    change.deviceType = platform::DbtDevtypDeviceInterface;
    change.name = name;
    return change;
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

    // The station serves that row alone (workers sharing a virtual clock would move each other's
    // time-outs).
    void serveOnlyRow(int row)
    {
        std::array<bool, StationRowCount + 1> served{};
        served[row] = true;
        station_.serveOnly(served);
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
    // A modem the finder knows nothing of: ignored, with the reason.
    DeviceAction unknown = station_.deviceChange(event(platform::DbtDeviceArrival, "\\\\?\\X\\1111"));
    EXPECT_EQ(unknown.kind, DeviceAction::Ignored);
    EXPECT_EQ(unknown.why, DeviceAction::NoPortFound);
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
    EXPECT_EQ(job.failReason.load(), ReasonPulledOut);
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

    serveOnlyRow(4);
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

// A modem plugged into a row whose pulled modem's worker is still winding down waits for that
// worker instead of being dropped, and starts as soon as it is collected; the pulled run's reason
// says the modem was pulled out. The old worker is never told to go on (keepRunning stays 0).
TEST_F(StationTest, ArrivalAfterAPullStartsOnceTheOldWorkerIsCollected)
{
    upload_test::JoinWorkersOnExit joinWorkers;
    holdSteppedWorker(3);
    report(3, Transferring, 500, 1000);
    EXPECT_EQ(station_.deviceChange(event(platform::DbtDeviceRemoveComplete, ModemInterface)).kind,
              DeviceAction::Stopped);
    EXPECT_EQ(uploadJobs[3].stopCause.load(), ReasonPulledOut);
    DeviceAction arrival = station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface));
    EXPECT_EQ(arrival.kind, DeviceAction::Waiting);
    EXPECT_EQ(arrival.port, 3);
    EXPECT_EQ(uploadJobs[3].keepRunning.load(), 0);
    EXPECT_TRUE(station_.arrivalWaiting(3));

    EXPECT_EQ(station_.tick(), TickOutcome::Polled);  // the old worker has not ended yet
    EXPECT_FALSE(station_.lastPoll(3).started);
    EXPECT_TRUE(station_.startWaitingArrivals().empty());

    endSteppedWorker(3, Failed);
    const int32_t oldId = uploadJobs[3].threadId;
    station_.tick();
    EXPECT_TRUE(station_.lastPoll(3).workerEnded);
    EXPECT_EQ(station_.startWaitingArrivals(), std::vector<int>{3});
    EXPECT_TRUE(station_.busy(3));
    EXPECT_NE(uploadJobs[3].threadId, oldId);
    EXPECT_EQ(uploadJobs[3].keepRunning.load(), 1);
    EXPECT_EQ(uploadJobs[3].stopCause.load(), ReasonStopped);  // a fresh run
    EXPECT_FALSE(station_.arrivalWaiting(3));

    // A worker that ended by itself (a failed run) and was not yet collected: the same.
    station_.stopAllWorkers();
    holdSteppedWorker(3);
    uploadJobs[3].keepRunning.store(1);
    endSteppedWorker(3, Failed);
    EXPECT_EQ(station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface)).kind, DeviceAction::Waiting);
    station_.tick();
    EXPECT_TRUE(station_.lastPoll(3).workerEnded);
    const int32_t endedId = uploadJobs[3].threadId;
    station_.tick();  // the tick starts what still waits (no port here: it may end at once)
    EXPECT_TRUE(station_.lastPoll(3).started);
    EXPECT_NE(uploadJobs[3].threadId, endedId);

    // A removal after the arrival drops what waited.
    station_.stopAllWorkers();
    holdSteppedWorker(3);
    uploadJobs[3].keepRunning.store(1);
    station_.deviceChange(event(platform::DbtDeviceRemoveComplete, ModemInterface));
    station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface));
    station_.deviceChange(event(platform::DbtDeviceRemoveComplete, ModemInterface));
    EXPECT_FALSE(station_.arrivalWaiting(3));
    endSteppedWorker(3, Failed);
    station_.tick();
    station_.tick();
    EXPECT_FALSE(station_.busy(3));
}

// Real workers: a plug storm on one port (a new modem each time, pulled out at once) that ends
// on an arrival leaves the modem present upgraded; no run cut short says a user stopped it.
TEST_F(StationTest, PlugStormEndingOnAnArrivalUpgradesThePresentModem)
{
    platform::ScopedVirtualClock clock;
    auto image = writeFirmware(3000);
    modemsim::SimulatedPorts ports;
    upload_test::JoinWorkersOnExit joinWorkers;
    serveOnlyRow(3);

    std::vector<int32_t> reasons;
    auto collect = [&] {
        if (station_.lastPoll(3).workerEnded && uploadJobs[3].phase.load() == Failed) {
            reasons.push_back(uploadJobs[3].failReason.load());
        }
    };
    for (int round = 0; round < 5; ++round) {
        ports.add("COM3");
        station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface));
        ports.remove("COM3");
        station_.deviceChange(event(platform::DbtDeviceRemoveComplete, ModemInterface));
        station_.tick();
        collect();
    }
    auto& present = ports.add("COM3");
    station_.deviceChange(event(platform::DbtDeviceArrival, ModemInterface));
    station_.requestExit();
    int ticks = 0;
    while (station_.tick() == TickOutcome::Polled) {
        collect();
        station_.startWaitingArrivals();
        ASSERT_LT(++ticks, 20000);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(uploadJobs[3].phase.load(), Succeeded);
    EXPECT_EQ(station_.display(3).lamp, IconLampDone);
    ASSERT_EQ(present.images().size(), 1u);
    EXPECT_EQ(present.images()[0].trimmed(image.size()), image);
    EXPECT_FALSE(reasons.empty());
    for (int32_t reason : reasons) {
        EXPECT_NE(reason, ReasonStopped) << uploadReasonText(reason, {});
    }
}

// Every arrival the station does not act on says why, in one line.
TEST_F(StationTest, IgnoredArrivalsSayWhy)
{
    auto arrive = [&](const std::string& name, bool otherClass = false) {
        DeviceChange change = event(platform::DbtDeviceArrival, name);
        change.otherClass = otherClass;
        return station_.deviceChange(change);
    };
    const std::string prefix = "Tarvo32: USB modem 0807060504030201 plugged in, ignored: ";

    FirmwareConfig.Firmware_from_DUDE_protocol = true;
    DeviceAction other = arrive(ModemInterface, true);
    EXPECT_EQ(other.kind, DeviceAction::Ignored);
    EXPECT_EQ(ignoredArrivalText(other),
              prefix + "a modem of another device class than this station's {5C0A19E3-7D42-4B8F-A1C6-2E93D07B4F15}");
    EXPECT_TRUE(finderCalls.empty());

    EXPECT_EQ(ignoredArrivalText(arrive("\\\\?\\X\\11\x1b[2J")),
              "Tarvo32: USB modem 11?[2J plugged in, ignored: no port of the station found for it (COM1 to COM8)");

    std::array<bool, StationRowCount + 1> served{};
    served[1] = true;
    station_.serveOnly(served);
    EXPECT_EQ(ignoredArrivalText(arrive(ModemInterface)), prefix + "COM3 is not one of the ports this station serves");

    served[3] = true;
    station_.serveOnly(served);
    holdSteppedWorker(3);
    DeviceAction busy = arrive(ModemInterface);
    EXPECT_EQ(busy.kind, DeviceAction::Ignored);
    EXPECT_EQ(ignoredArrivalText(busy), prefix + "COM3 is still busy with an upload");
    EXPECT_EQ(uploadJobs[3].keepRunning.load(), 1);

    // What the station acts on, and removals, print nothing.
    EXPECT_EQ(ignoredArrivalText(station_.deviceChange(event(platform::DbtDeviceRemoveComplete, "\\\\?\\X\\22"))), "");
    EXPECT_EQ(ignoredArrivalText(station_.deviceChange(event(platform::DbtDeviceRemoveComplete, ModemInterface))), "");

    platform::DeviceNotifyFailure inUse{platform::DeviceNotifyError::InUse, "/h/devnotify: taken"};
    EXPECT_EQ(deviceListeningFailureText(inUse), "another station listens for USB modems on this machine");
    platform::DeviceNotifyFailure failed{platform::DeviceNotifyError::Failed, "/h/devnotify: Permission denied"};
    EXPECT_EQ(deviceListeningFailureText(failed),
              "device events are not available (/h/devnotify: Permission denied)");
}

// A port that cannot hold a modem fails its row at once with the reason, not after four probes
// 5 s apart: an entry leading nowhere, one leading to a file that is no serial device. A port
// that opens keeps its probes (the in-process modem that keeps silent).
TEST_F(StationTest, PortWithoutAModemFailsAtOnce)
{
    writeFirmware(300);
    upload_test::JoinWorkersOnExit joinWorkers;
    std::filesystem::create_symlink(host().file("nowhere"), host().portEntry("com3"));
    const std::string plainFile = host().file("plain");
    upload_test::UploadFixture::writeFile(plainFile, "not a tty");
    std::filesystem::create_symlink(plainFile, host().portEntry("com4"));
    struct Case {
        int row;
        int32_t reason;
    };
    for (Case c : {Case{3, ReasonPortNoDevice}, Case{4, ReasonPortNotSerial}, Case{6, ReasonPortNoEntry}}) {
        auto start = Clock::now();
        ASSERT_TRUE(station_.startPortWorker(c.row));
        ASSERT_TRUE(waitUntil([&] { return uploadJobs[c.row].threadEnded.load() != 0; }, std::chrono::seconds(3)));
        EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count(), 1000)
            << c.row;
        station_.pollRow(c.row);
        EXPECT_EQ(uploadJobs[c.row].failReason.load(), c.reason) << c.row;
        EXPECT_EQ(station_.display(c.row).lamp, IconLampIdle) << c.row;
        EXPECT_FALSE(station_.busy(c.row));
    }

    platform::ScopedVirtualClock clock;
    modemsim::ModemSettings silent;
    silent.silent = true;
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM5", silent);
    ASSERT_TRUE(station_.startPortWorker(5));
    ASSERT_TRUE(waitUntil([&] { return uploadJobs[5].threadEnded.load() != 0; }, std::chrono::seconds(10)));
    EXPECT_EQ(modem.openCount(), ProbeAttempts);
    EXPECT_EQ(uploadJobs[5].failReason.load(), ReasonNoAnswer);
}

// The percentage and the bytes a row shows always agree: the bytes are those the percentage was
// computed from (or later ones giving the same), a stale read changes neither, "100%" stands
// for every byte; a failed row keeps both. Ending the station leaves every row's final state.
TEST_F(StationTest, PercentageAndBytesAgreeAndEndingShowsTheFinalState)
{
    auto agree = [&](int row, const char* where) {
        const RowDisplay& d = station_.display(row);
        if (d.percentText == "100%") {
            EXPECT_EQ(d.sentBytes, d.totalBytes) << where;
        } else {
            EXPECT_EQ(static_cast<int>(progressPercent(d.sentBytes, d.totalBytes)), d.bar) << where;
        }
    };
    holdSteppedWorker(2);
    report(2, StartingUpload, 0, 20480);
    station_.pollRow(2);
    agree(2, "preparing");
    report(2, Transferring, 2304, 20480);
    station_.pollRow(2);
    EXPECT_EQ(station_.display(2).percentText, "11%");
    EXPECT_EQ(station_.display(2).sentBytes, 2304u);
    report(2, Transferring, 2400, 20480);  // still 11 %
    station_.pollRow(2);
    EXPECT_EQ(station_.display(2).sentBytes, 2400u);
    report(2, Transferring, 1000, 20480);  // a stale read
    station_.pollRow(2);
    EXPECT_EQ(station_.display(2).sentBytes, 2400u);
    agree(2, "stale");
    // The run goes on unseen and fails: the row keeps what it showed, both halves.
    report(2, Transferring, 7680, 20480);
    endSteppedWorker(2, Failed);
    station_.pollRow(2);
    EXPECT_EQ(station_.display(2).lamp, IconLampIdle);
    EXPECT_EQ(station_.display(2).percentText, "11%");
    agree(2, "failed");

    // Ending with workers held: each row shows its final state at once.
    holdSteppedWorker(5);
    report(5, Transferring, 5000, 10000);
    station_.pollRow(5);
    holdSteppedWorker(6);
    report(6, Transferring, 10000, 10000);
    station_.pollRow(6);
    EXPECT_NE(station_.display(6).lamp, IconLampDone);
    uploadJobs[6].phase.store(Succeeded);
    station_.stopAllWorkers();
    EXPECT_EQ(station_.display(5).lamp, IconLampIdle);
    EXPECT_TRUE(station_.lastPoll(5).workerEnded);
    EXPECT_EQ(station_.lastPoll(5).sentBytes, 5000u);
    agree(5, "stopped");
    EXPECT_EQ(station_.display(6).lamp, IconLampDone);
    EXPECT_EQ(station_.display(6).percentText, "100%");
    agree(6, "succeeded");
}

}  // namespace
