// The production dialog on the headless backend, run modally as start-up runs it: what
// initialisation shows, the rows drawn from real uploads on in-process modems, the two
// buttons, the keys and the close box it ignores, the system-menu items, and device events that
// arrive as datagrams on the devnotify socket and reach the rows as posted messages.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <vector>

#include "app/startup.h"
#include "config/program_state.h"
#include "platform/serial_device.h"
#include "support/headless_backend.h"
#include "platform/clock.h"
#include "platform/device_notify.h"
#include "production/device_event_queue.h"
#include "production/production_dialog.h"
#include "production/usb_port_discovery.h"
#include "resources/icons.h"
#include "resources/texts.h"
#include "support/station_steps.h"
#include "tools/modemsim/simulated_ports.h"
#include "upload/upload_fixture.h"

namespace {

using namespace platform::ui;
using Clock = std::chrono::steady_clock;

constexpr const char* ModemKey = "0807060504030201";
constexpr const char* ModemInterface = "\\\\?\\NLUSBMDM#VID_4E2C&PID_7A01\\0807060504030201";

// The finder the dialog asks: ModemKey is the modem on COM3.
int32_t testFinder(const std::string& key, int32_t)
{
    return key == ModemKey ? 3 : 0;
}

// As the USB driver announces a modem.
bool sendDeviceEvent(const char* word, const std::string& name)
{
    return station_steps::sendDeviceDatagram(std::string(word) + " " + usbModemClass() + " " + name);
}

using station_steps::endSteppedWorker;
using station_steps::holdSteppedWorker;
using station_steps::waitUntil;

// What row k's controls show.
struct RowView {
    int32_t lamp = 0;
    std::vector<int32_t> steps;
    std::string percent;
    int bar = 0;
    bool operator==(const RowView&) const = default;
};

void PrintTo(const RowView& v, std::ostream* out)
{
    *out << "{lamp " << v.lamp << ", steps";
    for (int32_t s : v.steps) {
        *out << " " << s;
    }
    *out << ", \"" << v.percent << "\", bar " << v.bar << "}";
}

// Each production record's phase and whether its worker has ended, for failure messages.
std::string phases()
{
    std::string text;
    for (int k = 1; k <= 8; ++k) {
        text += " " + std::to_string(k) + ":" + std::to_string(uploadJobs[k].phase.load()) +
                (uploadJobs[k].threadEnded.load() != 0 ? "e" : "");
    }
    return text;
}

const std::vector<int32_t> NoSquare{IconStepPending, IconStepPending, IconStepPending};
const std::vector<int32_t> OneSquare{IconStepDone, IconStepPending, IconStepPending};
const std::vector<int32_t> ThreeSquares{IconStepDone, IconStepDone, IconStepDone};
const RowView IdleRow{IconLampIdle, NoSquare, "0%", 0};

class ProductionDialogTest : public upload_test::UploadFixture {
protected:
    void SetUp() override
    {
        UploadFixture::SetUp();  // OsFlavor and the configuration are put back afterwards
        OsFlavor = OsFlavorRecord{};
        OsFlavor.IsNT = 1;
        OsFlavor.IsWin98 = 1;
        FirmwareConfig.ComBase = 1;
        FirmwareConfig.Model_name = "Nelta 56K USB Modem";
        FirmwareConfig.Firmware_version = "1.05";
        backend_.emplace();
        ui_ = backend_->get();
    }
    void TearDown() override
    {
        killWorkers(0, UploadJobCount - 1);
        backend_.reset();
        UploadFixture::TearDown();
    }

    // Runs the dialog as start-up does; the script plays the operator once the dialog shows
    // (nothing more happens afterwards: the run then ends as if abandoned, with IdCancel).
    // Returns the dialog's result.
    int run(const std::function<void()>& script, ProductionDialog& dialog)
    {
        bool played = false;
        ui_->onModal = [&](WindowId window) {
            if (played) {
                return false;
            }
            played = true;
            window_ = window;
            script();
            return true;
        };
        int result = dialog.run();
        window_ = NoWindow;
        return result;
    }

    // The dialog asked to end (the modal loop returns once the script hands back).
    bool ended() const { return ui_->modalEnding(window_); }

    bool tick() { return ui_->fireTimer(window_, StationTimerId); }

    RowView row(int k) const
    {
        StationRowIds ids{};
        stationRowControls(k, &ids);
        return RowView{ui_->image(window_, ids.lamp),
                       {ui_->image(window_, ids.steps[0]), ui_->image(window_, ids.steps[1]),
                        ui_->image(window_, ids.steps[2])},
                       ui_->text(window_, ids.percent),
                       ui_->progressPos(window_, ids.bar)};
    }

    std::optional<ScopedHeadlessBackend> backend_;
    HeadlessBackend* ui_ = nullptr;
    WindowId window_ = NoWindow;
};

// The warning comes before the dialog shows; then the values, the labels for the port base, the
// icon, the system menu and the poll timer.
TEST_F(ProductionDialogTest, InitialisationForBothPortBases)
{
    struct Case {
        bool shifted;
        bool kernel;
        const char* version;
        const char* firstLabel;
        const char* lastLabel;
    };
    const Case cases[] = {
        {false, false, "1.05", "COM1:", "COM8:"},
        {true, true, "1.05 (Kernel included)", "COM11:", "COM18:"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.firstLabel);
        FirmwareConfig.SHIFT_COM_BASE = c.shifted;
        FirmwareConfig.ComBase = c.shifted ? 11 : 1;
        FirmwareConfig.Firmware_include_kernel = c.kernel;
        // The dialog's modal run (and so its showing) starts only once the warning is answered.
        const size_t modalsBefore = ui_->modalDialogs().size();
        size_t modalsAtWarning = 0;
        ui_->onMessageBox = [&](const HeadlessBackend::MessageBoxRecord&) {
            modalsAtWarning = ui_->modalDialogs().size();
        };
        ProductionDialog dialog;
        size_t boxesBefore = ui_->messageBoxes().size();
        run([&] {
            ASSERT_EQ(ui_->messageBoxes().size(), boxesBefore + 1);
            const HeadlessBackend::MessageBoxRecord& warning = ui_->messageBoxes().back();
            EXPECT_EQ(warning.text,
                      "You should not power off the modems while\nfirmware uploading is in progress, otherwize\n"
                      "you may damage the modems.");
            EXPECT_EQ(warning.caption, "Warning");
            EXPECT_EQ(warning.icon, MessageBoxIcon::Exclamation);
            EXPECT_EQ(warning.buttons, MessageBoxButtons::Ok);
            EXPECT_EQ(modalsAtWarning, modalsBefore);
            EXPECT_EQ(ui_->modalDialogs().size(), modalsBefore + 1);

            EXPECT_EQ(ui_->text(window_, IdcStationProduct), "Nelta 56K USB Modem");
            EXPECT_EQ(ui_->text(window_, IdcStationVersion), c.version);
            StationRowIds first{}, last{};
            stationRowControls(1, &first);
            stationRowControls(8, &last);
            EXPECT_EQ(ui_->text(window_, first.label), c.firstLabel);
            EXPECT_EQ(ui_->text(window_, last.label), c.lastLabel);
            for (int k = 1; k <= 8; ++k) {
                EXPECT_EQ(row(k), IdleRow) << k;
                EXPECT_EQ(uploadJobs[k].port.load(), FirmwareConfig.ComBase + k - 1);
                EXPECT_EQ(uploadJobs[k].keepRunning.load(), 1);
            }
            EXPECT_EQ(ui_->windowIcon(window_), IconApplication);
            using Item = HeadlessBackend::SystemMenuItem;
            EXPECT_EQ(ui_->systemMenu(window_),
                      (std::vector<Item>{{SystemMenuSeparator, ""}, {1000, "Shutdown"}, {16, "&About Tarvo..."}}));
            EXPECT_EQ(ui_->timerPeriod(window_, 27), 800u);
            EXPECT_TRUE(ui_->isEnabled(window_, IdcUpgradeFirmware));
            EXPECT_FALSE(dialog.listening());  // the NT family
            StationRowIds none{};
            EXPECT_FALSE(stationRowControls(0, &none));
            EXPECT_FALSE(stationRowControls(9, &none));
        }, dialog);
        ui_->onMessageBox = nullptr;
    }
}

// Start-up in production mode runs the dialog instead of the wizard, and nothing else.
TEST_F(ProductionDialogTest, StartUpRunsItInProductionMode)
{
    FirmwareConfig.For_internal_production = true;
    ui_->onModal = [](WindowId) { return false; };
    EXPECT_EQ(runStartedApplication(), 0);
    ASSERT_EQ(ui_->modalDialogs().size(), 1u);
    EXPECT_EQ(ui_->modalDialogs()[0].title, ProductionTitle);
    ASSERT_EQ(ui_->messageBoxes().size(), 1u);
    EXPECT_EQ(ui_->messageBoxes()[0].caption, ProductionWarningCaption);
    EXPECT_EQ(ui_->windowCount(), 0);
}

// OK and Cancel do nothing: Escape and the close box leave the dialog open, Enter presses
// "Upgrade firmware" (the default button) while it is enabled.
TEST_F(ProductionDialogTest, EscapeAndTheCloseBoxLeaveItOpen)
{
    ProductionDialog dialog;
    int result = run([&] {
        EXPECT_TRUE(ui_->pressKey(window_, IdcExitWhenAppropriate, Key::Escape));
        EXPECT_TRUE(ui_->closeWindow(window_));
        EXPECT_FALSE(ended());
        EXPECT_TRUE(dialog.station().idle());
        EXPECT_TRUE(ui_->pressKey(window_, StaticControlId, Key::Enter));
        EXPECT_FALSE(dialog.station().idle());  // eight workers, failing on ports that do not exist
        EXPECT_FALSE(ended());
    }, dialog);
    EXPECT_EQ(result, IdCancel);  // abandoned by the test, not ended by the dialog
}

// "Exit when appropriate" greys both buttons for good; the dialog ends on the first tick that
// finds no worker held, which is the tick after the one that collected the last worker.
TEST_F(ProductionDialogTest, ExitWhenAppropriateWaitsForTheWorkers)
{
    platform::ScopedVirtualClock clock;
    {
        ProductionDialog dialog;
        int result = run([&] {
            EXPECT_TRUE(ui_->click(window_, IdcExitWhenAppropriate));
            EXPECT_FALSE(ui_->isEnabled(window_, IdcUpgradeFirmware));
            EXPECT_FALSE(ui_->isEnabled(window_, IdcExitWhenAppropriate));
            EXPECT_FALSE(ended());
            ui_->runFor(StationPollPeriodMs);
            EXPECT_TRUE(ended());
            EXPECT_FALSE(ui_->timerActive(window_, StationTimerId));
        }, dialog);
        EXPECT_EQ(result, IdOk);
    }
    ProductionDialog dialog;
    int result = run([&] {
        holdSteppedWorker(2);
        holdSteppedWorker(5);
        EXPECT_TRUE(ui_->click(window_, IdcExitWhenAppropriate));
        EXPECT_FALSE(ui_->click(window_, IdcUpgradeFirmware));
        EXPECT_FALSE(ui_->click(window_, IdcExitWhenAppropriate));
        ui_->pressKey(window_, StaticControlId, Key::Enter);  // the default button is grey
        tick();
        EXPECT_FALSE(ended());
        EXPECT_EQ(row(2).lamp, IconLampBusyB);  // the rows go on
        endSteppedWorker(2, Failed);
        tick();  // collects row 2
        EXPECT_EQ(row(2).lamp, IconLampIdle);
        tick();
        EXPECT_FALSE(ended());
        uploadJobs[5].totalBytes.store(1000);
        uploadJobs[5].sentBytes.store(1000);
        endSteppedWorker(5, Succeeded);
        tick();  // collects row 5
        EXPECT_EQ(row(5), (RowView{IconLampDone, OneSquare, "100%", 100}));
        EXPECT_FALSE(ended());
        tick();
        EXPECT_TRUE(ended());
    }, dialog);
    EXPECT_EQ(result, IdOk);
}

// Real uploads on in-process modems at 115200 baud: COM1 succeeds, COM2 is pulled out after five
// blocks, the other ports have no modem. Row 1 blinks through its steps, its percentage only
// rises, "100%" stands before the lamp turns green; row 2 ends dark blue with the rest as shown.
TEST_F(ProductionDialogTest, RowsFollowRealUploads)
{
    auto image = writeFirmware(16 * 1024);
    modemsim::ModemSettings good;
    good.baud = 115200;
    modemsim::ModemSettings pulled = good;
    pulled.pullOutAfterBlocks = 5;
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM1", good);
    ports.add("COM2", pulled);
    upload_test::JoinWorkersOnExit joinWorkers;

    ProductionDialog dialog;
    std::vector<RowView> seen;
    run([&] {
        ASSERT_TRUE(ui_->click(window_, IdcUpgradeFirmware));
        auto limit = Clock::now() + std::chrono::seconds(30);
        while ((row(1).lamp != IconLampDone || dialog.station().busy(2)) && Clock::now() < limit) {
            tick();
            if (seen.empty() || seen.back().lamp != IconLampDone) {
                seen.push_back(row(1));
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(40));
        }
        RowView failed = row(2);
        EXPECT_EQ(failed.lamp, IconLampIdle) << phases();
        EXPECT_EQ(failed.steps, ThreeSquares);
        // What the last poll before the failure saw: at most 5 blocks of 128 bytes, 3 %.
        EXPECT_LE(std::atoi(failed.percent.c_str()), 3);
        EXPECT_EQ(failed.bar, std::atoi(failed.percent.c_str()));
        // The ports without a modem failed at once, saying why, rather than after four probes.
        EXPECT_FALSE(dialog.station().busy(3));
        EXPECT_EQ(row(3).lamp, IconLampIdle);
        EXPECT_EQ(uploadJobs[3].failReason.load(), ReasonPortNoEntry);
    }, dialog);

    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.back(), (RowView{IconLampDone, ThreeSquares, "100%", 100}));
    int lastSquares = 0;
    int lastPercent = 0;
    int hundredBeforeGreen = 0;
    bool sawTransfer = false;
    for (size_t i = 0; i + 1 < seen.size(); ++i) {
        const RowView& v = seen[i];
        ASSERT_TRUE(v.lamp == IconLampBusyA || v.lamp == IconLampBusyB) << i;
        if (i > 0) {
            EXPECT_NE(v.lamp, seen[i - 1].lamp) << "the lamp blinks from poll to poll, " << i;
        }
        int squares = static_cast<int>(std::count(v.steps.begin(), v.steps.end(), IconStepDone));
        EXPECT_GE(squares, lastSquares) << i;
        lastSquares = squares;
        int percent = std::atoi(v.percent.c_str());
        EXPECT_GE(percent, lastPercent) << i;
        EXPECT_EQ(v.bar, percent) << i;
        lastPercent = percent;
        sawTransfer = sawTransfer || (squares == 3 && percent > 0 && percent < 98);
        hundredBeforeGreen += v.percent == "100%" ? 1 : 0;
    }
    EXPECT_TRUE(sawTransfer);
    EXPECT_GT(hundredBeforeGreen, 0);
    ASSERT_EQ(modem.images().size(), 1u);
    EXPECT_EQ(modem.images()[0].trimmed(image.size()), image);
}

// A second "Upgrade firmware" starts only the rows whose worker is gone; "Shutdown" answered Yes
// while two workers still wait for their receivers stops and joins them, closing their ports.
TEST_F(ProductionDialogTest, SecondUpgradeSkipsBusyPortsAndShutdownJoinsWorkers)
{
    writeFirmware(4096);
    modemsim::ModemSettings holding;
    holding.noFirstNak = true;  // the worker waits 30 s for the receiver
    modemsim::ModemSettings gone;
    gone.pullOutAfterBlocks = 0;  // the worker fails as soon as the transfer starts
    modemsim::SimulatedPorts ports;
    ports.add("COM1", holding);
    ports.add("COM2", holding);
    for (int k = 3; k <= 8; ++k) {
        ports.add("COM" + std::to_string(k), gone);
    }
    upload_test::JoinWorkersOnExit joinWorkers;

    ProductionDialog dialog;
    Clock::time_point shutdownAt;
    int result = run([&] {
        ASSERT_TRUE(ui_->click(window_, IdcUpgradeFirmware));
        ASSERT_TRUE(waitUntil(
            [&] {
                for (int k = 3; k <= 8; ++k) {
                    if (uploadJobs[k].threadEnded.load() == 0) {
                        return false;
                    }
                }
                return uploadJobs[1].phase.load() == AwaitingReceiver && uploadJobs[2].phase.load() == AwaitingReceiver;
            },
            std::chrono::seconds(10)))
            << phases();
        tick();
        std::vector<int32_t> ids;
        for (int k = 1; k <= 8; ++k) {
            EXPECT_EQ(dialog.station().busy(k), k <= 2) << k;
            ids.push_back(uploadJobs[k].threadId);
        }
        ASSERT_TRUE(ui_->click(window_, IdcUpgradeFirmware));
        for (int k = 1; k <= 8; ++k) {
            EXPECT_TRUE(dialog.station().busy(k)) << k;
            EXPECT_EQ(uploadJobs[k].threadId != ids[k - 1], k > 2) << k;
        }

        ui_->queueMessageBoxAnswer(IdNo);
        ASSERT_TRUE(ui_->chooseSystemMenuItem(window_, SysCommandShutdown));
        const HeadlessBackend::MessageBoxRecord& question = ui_->messageBoxes().back();
        EXPECT_EQ(question.text, "Really want to shutdown?");
        EXPECT_EQ(question.caption, "Tarvo32");
        EXPECT_EQ(question.icon, MessageBoxIcon::Exclamation);
        EXPECT_EQ(question.buttons, MessageBoxButtons::YesNo);
        EXPECT_FALSE(ended());

        ui_->queueMessageBoxAnswer(IdYes);
        ASSERT_TRUE(ui_->chooseSystemMenuItem(window_, SysCommandShutdown));
        EXPECT_TRUE(ended());
        shutdownAt = Clock::now();
    }, dialog);
    EXPECT_EQ(result, IdOk);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - shutdownAt).count(), 1000);
    for (int k = 1; k <= 8; ++k) {
        EXPECT_EQ(uploadJobs[k].threadHandle, nullptr) << k;
        EXPECT_EQ(uploadJobs[k].phase.load(), Failed) << k;
    }
    EXPECT_EQ(platform::openDeviceCount(), 0);
    EXPECT_FALSE(ports.find("COM1")->isOpen());
}

TEST_F(ProductionDialogTest, AboutBoxFromTheSystemMenu)
{
    FirmwareConfig.Company_short_name = "Nelta";
    ProductionDialog dialog;
    run([&] {
        size_t before = ui_->modalDialogs().size();
        ASSERT_TRUE(ui_->chooseSystemMenuItem(window_, SysCommandAbout));
        ASSERT_EQ(ui_->modalDialogs().size(), before + 1);
        EXPECT_EQ(ui_->modalDialogs().back().title, "About Tarvo");
        EXPECT_EQ(ui_->modalDialogs().back().texts.at(IdcAboutVersion), "Nelta firmware upload wizard Version 2.5");
        EXPECT_FALSE(ended());
        EXPECT_FALSE(ui_->chooseSystemMenuItem(window_, 0xF060));  // no such item of ours
    }, dialog);
}

// On the 9x family a modem plugged in starts its row at once; pulled out mid-transfer, its worker
// ends Failed before the next block, the row holds what it showed for seven polls and is idle on
// the eighth. The socket goes with the dialog. On the NT family nothing is registered.
TEST_F(ProductionDialogTest, PluggedAndPulledModem)
{
    OsFlavor = OsFlavorRecord{};
    OsFlavor.IsWin9x = 1;
    OsFlavor.IsWin98 = 1;
    auto image = writeFirmware(64 * 1024);
    modemsim::ModemSettings settings;
    settings.baud = 115200;
    modemsim::SimulatedPorts ports;
    auto& modem = ports.add("COM3", settings);
    upload_test::JoinWorkersOnExit joinWorkers;
    const std::string socketPath = platform::deviceNotifySocketPath();

    ProductionDialog dialog(testFinder);
    run([&] {
        ASSERT_TRUE(dialog.listening());
        ASSERT_TRUE(std::filesystem::exists(socketPath));
        ASSERT_TRUE(sendDeviceEvent("arrival", ModemInterface));
        ASSERT_TRUE(waitUntil([&] { return ui_->postedPending() > 0; }, std::chrono::seconds(2)));
        ui_->dispatchPosted();
        ASSERT_TRUE(dialog.station().busy(3));
        EXPECT_FALSE(dialog.station().busy(1));
        UploadJob& job = uploadJobs[3];
        ASSERT_TRUE(waitUntil([&] { return job.sentBytes.load() >= 10 * modemsim::BlockDataSize; },
                              std::chrono::seconds(15)));
        tick();
        RowView transferring = row(3);
        EXPECT_EQ(transferring.steps, ThreeSquares);

        ASSERT_TRUE(sendDeviceEvent("removal", ModemInterface));
        ASSERT_TRUE(waitUntil([&] { return ui_->postedPending() > 0; }, std::chrono::seconds(2)));
        ui_->dispatchPosted();
        EXPECT_EQ(job.keepRunning.load(), 0);
        ASSERT_TRUE(waitUntil([&] { return job.threadEnded.load() != 0; }, std::chrono::milliseconds(500)));
        EXPECT_EQ(job.phase.load(), Failed);
        EXPECT_LT(job.sentBytes.load(), image.size());
        tick();  // collects the worker
        EXPECT_FALSE(dialog.station().busy(3));
        RowView held = row(3);
        for (int poll = 2; poll <= 7; ++poll) {
            tick();
            EXPECT_EQ(row(3), held) << poll;
        }
        tick();
        EXPECT_EQ(row(3), IdleRow);
        EXPECT_FALSE(modem.isOpen());
    }, dialog);
    EXPECT_FALSE(std::filesystem::exists(socketPath));

    OsFlavor = OsFlavorRecord{};
    OsFlavor.IsNT = 1;
    OsFlavor.IsWin98 = 1;
    ProductionDialog onNt(testFinder);
    run([&] {
        EXPECT_FALSE(onNt.listening());
        EXPECT_FALSE(std::filesystem::exists(socketPath));
        EXPECT_FALSE(sendDeviceEvent("arrival", ModemInterface));
        EXPECT_TRUE(onNt.station().idle());
    }, onNt);
}

// Another station listens on this machine: the dialog says so once, in a message box, and tries
// again on every tick; once the other has gone it listens, and a plugged modem starts its row.
TEST_F(ProductionDialogTest, FailedRegistrationIsToldOnceAndTriedAgainUntilItWorks)
{
    OsFlavor = OsFlavorRecord{};
    OsFlavor.IsWin9x = 1;
    OsFlavor.IsWin98 = 1;
    writeFirmware(4096);
    upload_test::JoinWorkersOnExit joinWorkers;
    platform::DeviceNotifyHandle other =
        platform::registerDeviceNotification(usbModemClass(), [](const platform::DeviceChange&) {}, nullptr);
    ASSERT_NE(other, 0u);

    ProductionDialog dialog(testFinder);
    const size_t boxesBefore = ui_->messageBoxes().size();
    run([&] {
        EXPECT_FALSE(dialog.listening());
        ASSERT_EQ(ui_->messageBoxes().size(), boxesBefore + 2);  // the warning, then this
        const HeadlessBackend::MessageBoxRecord& box = ui_->messageBoxes().back();
        EXPECT_EQ(box.text,
                  "Plugged-in USB modems start nothing for now: another station listens for USB modems on this "
                  "machine.\n\nThe station tries again every 0.8 s and listens as soon as it can.");
        EXPECT_EQ(box.icon, MessageBoxIcon::Exclamation);
        tick();
        tick();
        EXPECT_FALSE(dialog.listening());
        EXPECT_EQ(ui_->messageBoxes().size(), boxesBefore + 2);

        EXPECT_TRUE(platform::unregisterDeviceNotification(other));
        tick();
        ASSERT_TRUE(dialog.listening());
        EXPECT_EQ(ui_->messageBoxes().size(), boxesBefore + 2);
        ASSERT_TRUE(sendDeviceEvent("arrival", ModemInterface));
        ASSERT_TRUE(waitUntil([&] { return ui_->postedPending() > 0; }, std::chrono::seconds(2)));
        ui_->dispatchPosted();
        EXPECT_TRUE(dialog.station().busy(3));
    }, dialog);
}

// The finder of the flood: every call costs 20 ms of the virtual clock (a registry search) and
// finds nothing; it counts the polls of row 1 that happened meanwhile by the busy lamp's blink.
int floodPolls = 0;
int32_t floodBlink = 0;
int32_t slowFinder(const std::string&, int32_t)
{
    platform::sleepMs(20);
    if (uploadJobs[1].blink != floodBlink) {
        floodBlink = uploadJobs[1].blink;
        ++floodPolls;
    }
    return 0;
}

// A flood of datagrams: at most 256 events wait (the rest dropped), one message is posted for
// them, and while they are handled (posted messages come before timers) the rows are still
// polled about every 800 ms.
TEST_F(ProductionDialogTest, FloodOfDeviceEventsNeitherPilesUpNorStarvesThePoll)
{
    OsFlavor = OsFlavorRecord{};
    OsFlavor.IsWin9x = 1;
    OsFlavor.IsWin98 = 1;
    platform::ScopedVirtualClock clock;
    floodPolls = 0;
    floodBlink = 0;
    ProductionDialog dialog(slowFinder);
    run([&] {
        ASSERT_TRUE(dialog.listening());
        holdSteppedWorker(1);
        for (int i = 0; i < 400; ++i) {
            ASSERT_TRUE(sendDeviceEvent("arrival", "\\\\?\\X\\" + std::to_string(i)));
        }
        ASSERT_TRUE(waitUntil([&] { return dialog.deviceEventsWaiting() == DeviceEventQueueLimit; },
                              std::chrono::seconds(5)));
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(dialog.deviceEventsWaiting(), DeviceEventQueueLimit);
        EXPECT_EQ(ui_->postedPending(), 1);
        const platform::Ticks start = platform::tickCount();
        ui_->dispatchPosted();
        EXPECT_EQ(dialog.deviceEventsWaiting(), 0u);
        const uint32_t took = platform::elapsedSince(start);
        EXPECT_GE(took, 256u * 20);
        EXPECT_GE(floodPolls, static_cast<int>(took / StationPollPeriodMs) - 1) << took;
        endSteppedWorker(1, Failed);
    }, dialog);
}

}  // namespace

namespace {

// After a failure each row's reason, in the words stderr gives, is the tool tip of its lamp, label
// and bar; the written texts and the lamp stay as they were; a new start of the row clears it.
TEST_F(ProductionDialogTest, FailureReasonIsTheRowsToolTipUntilItStartsAgain)
{
    modemsim::ModemSettings waiting;
    waiting.noFirstNak = true;
    modemsim::SimulatedPorts ports;
    writeFirmware(1000);
    upload_test::JoinWorkersOnExit joinWorkers;
    ProductionDialog dialog;
    StationRowIds ids{};
    stationRowControls(2, &ids);
    auto tips = [&] {
        return std::vector<std::string>{ui_->toolTip(window_, ids.lamp), ui_->toolTip(window_, ids.label),
                                        ui_->toolTip(window_, ids.bar)};
    };
    run([&] {
        holdSteppedWorker(2);
        UploadJob& job = uploadJobs[2];
        job.totalBytes.store(1000);
        job.sentBytes.store(256);
        job.failDetail = FailureDetail{3, "", "NAK"};
        job.failReason.store(ReasonBlockRefused, std::memory_order_release);
        tick();
        EXPECT_EQ(tips(), std::vector<std::string>(3, ""));  // still running: no reason yet
        endSteppedWorker(2, Failed);
        tick();
        EXPECT_EQ(row(2).lamp, IconLampIdle);
        EXPECT_EQ(ui_->text(window_, ids.label), "COM2:");
        EXPECT_EQ(tips(), std::vector<std::string>(3, "block 3 refused four times (NAK)"));
        EXPECT_EQ(ui_->toolTip(window_, ids.percent), "");
        StationRowIds other{};
        stationRowControls(1, &other);
        EXPECT_EQ(ui_->toolTip(window_, other.lamp), "");
        tick();
        EXPECT_EQ(tips()[0], "block 3 refused four times (NAK)");  // it stays

        ports.add("COM2", waiting);
        ASSERT_TRUE(ui_->click(window_, IdcUpgradeFirmware));
        tick();
        EXPECT_TRUE(dialog.station().busy(2));
        EXPECT_EQ(tips(), std::vector<std::string>(3, ""));
    }, dialog);
}

}  // namespace
