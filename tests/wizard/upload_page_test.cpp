// The upload progress page: the poll against a worker the test steps by hand (phase and byte
// counts written by the test, the thread ended when the test says), and whole runs against the
// real worker and an in-process modem on the real clock.
#include "wizard_fixture.h"
#include "platform/threads.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>
#include <vector>

#include "drivers/page55.h"
#include "resources/icons.h"
#include "resources/texts.h"
#include "tools/modemsim/simulated_ports.h"

namespace wizard_test {
namespace {

// Stands in for the upload worker: a thread that only waits to be let go (or stopped), so the
// test alone decides what record 0 shows on each tick and when the worker has ended.
class SteppedWorker {
public:
    ~SteppedWorker() { killWorkers(0, 0); }

    CPage45::UploadStarter starter()
    {
        return [this](int port) {
            ++starts;
            UploadJob& job = uploadJobs[0];
            job.port.store(port);
            job.keepRunning.store(1);
            job.threadEnded.store(0);
            job.threadHandle = new platform::Thread([this, &job] {
                while (!release_.load() && job.keepRunning.load() != 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(1));
                }
                job.threadEnded.store(1, std::memory_order_release);
            });
        };
    }

    // The worker writes its last phase and returns.
    void end(int32_t phase)
    {
        uploadJobs[0].phase.store(phase);
        release_.store(true);
        while (uploadJobs[0].threadEnded.load() == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }

    int starts = 0;

private:
    std::atomic<bool> release_{false};
};

class UploadPage : public WizardFixture {
protected:
    // Goes to the upload page with CurrentModem naming `port`; the start timer has not fired.
    void openAtUpload(const std::string& port)
    {
        sheet().open();
        sheet().pressButton(platform::ui::SheetButton::Next);
        sheet().pressButton(platform::ui::SheetButton::Next);
        CurrentModem.portName = port;
        sheet().pressButton(platform::ui::SheetButton::Next);
        ui().dispatchPosted();
        ASSERT_EQ(sheet().activeIndex(), 3);
    }

    WindowId page() { return wiz().page45.handle(); }
    bool tick() { return ui().fireTimer(page(), PollTimerId); }
    std::vector<int32_t> squares()
    {
        return {ui().image(page(), IdcStep1), ui().image(page(), IdcStep2), ui().image(page(), IdcStep3)};
    }

    platform::ScopedVirtualClock clock_;
};

const int32_t D = IconStepDone;
const int32_t P = IconStepPending;

TEST_F(UploadPage, InitialisationShowsTheProductAndStartsOnlyForAPortNumber)
{
    FirmwareConfig.Firmware_include_kernel = true;
    SteppedWorker worker;
    wiz().page45.setUploadStarter(worker.starter());
    openAtUpload("COM3");
    EXPECT_EQ(ui().text(page(), IdcProductValue), "Nelta 56K USB Modem");
    EXPECT_EQ(ui().text(page(), IdcVersionValue), "1.00 (Kernel included)");
    EXPECT_EQ(ui().image(page(), IdcStatusLamp), IconLampIdle);
    EXPECT_EQ(squares(), (std::vector<int32_t>{P, P, P}));
    EXPECT_EQ(ui().text(page(), IdcPercent), "0%");
    WizardButtonsView v = buttons();
    EXPECT_TRUE(!v.backEnabled && !v.nextEnabled);
    ui().runFor(StartUploadDelayMs);
    EXPECT_EQ(worker.starts, 1);
    EXPECT_EQ(uploadJobs[0].port.load(), 3);
    EXPECT_EQ(ui().timerPeriod(page(), PollTimerId), PollPeriodMs);
    EXPECT_FALSE(ui().timerActive(page(), StartUploadTimerId));
}

TEST_F(UploadPage, NoNumberInThePortNameStartsNoUpload)
{
    SteppedWorker worker;
    wiz().page45.setUploadStarter(worker.starter());
    openAtUpload("COM");
    ui().runFor(5000);
    EXPECT_EQ(worker.starts, 0);
    EXPECT_FALSE(ui().timerActive(page(), PollTimerId));
    EXPECT_EQ(ui().image(page(), IdcStatusLamp), IconLampIdle);
    EXPECT_TRUE(sheet().isOpen());
}

TEST_F(UploadPage, PollFollowsTheRecordAndSuccessFinishesTheWizard)
{
    SteppedWorker worker;
    wiz().page45.setUploadStarter(worker.starter());
    openAtUpload("COM3");
    ui().runFor(StartUploadDelayMs);
    UploadJob& job = uploadJobs[0];

    struct Tick {
        int32_t phase;
        uint32_t total;
        uint32_t sent;
        int32_t lamp;
        std::vector<int32_t> steps;
        const char* percent;
        int bar;
    };
    const Tick ticks[] = {
        {OpeningPort, 0, 0, IconLampBusyB, {D, P, P}, "0%", 0},
        {AwaitingReceiver, 0, 0, IconLampBusyA, {D, D, P}, "0%", 0},
        {Transferring, 1000, 50, IconLampBusyB, {D, D, D}, " 4%", 4},
        {Transferring, 1000, 505, IconLampBusyA, {D, D, D}, "49%", 49},
        {Transferring, 1000, 300, IconLampBusyB, {D, D, D}, "49%", 49},  // a stale read
        {Transferring, 1000, 999, IconLampBusyA, {D, D, D}, "97%", 97},
        // Every byte acknowledged while the worker still closes down: 99 %, no green yet.
        {Transferring, 1000, 1000, IconLampBusyB, {D, D, D}, "99%", 99},
    };
    for (const Tick& t : ticks) {
        SCOPED_TRACE(t.sent);
        job.phase.store(t.phase);
        job.totalBytes.store(t.total);
        job.sentBytes.store(t.sent);
        ASSERT_TRUE(tick());
        EXPECT_EQ(ui().image(page(), IdcStatusLamp), t.lamp);
        EXPECT_EQ(squares(), t.steps);
        EXPECT_EQ(ui().text(page(), IdcPercent), t.percent);
        EXPECT_EQ(ui().progressPos(page(), IdcProgressBar), t.bar);
    }

    worker.end(Succeeded);
    ASSERT_TRUE(tick());  // sees the worker ended
    EXPECT_EQ(ui().image(page(), IdcStatusLamp), IconLampDone);
    EXPECT_EQ(ui().text(page(), IdcPercent), "99%");
    EXPECT_EQ(job.threadHandle, nullptr);
    ASSERT_TRUE(tick());  // finds no worker: finished
    EXPECT_TRUE(ui().messageBoxes().empty());
    EXPECT_TRUE(wiz().page45.finished());

    std::string percentAtMessage;
    int barAtMessage = -1;
    ui().onMessageBox = [&](const HeadlessBackend::MessageBoxRecord&) {
        percentAtMessage = ui().text(page(), IdcPercent);
        barAtMessage = ui().progressPos(page(), IdcProgressBar);
    };
    ASSERT_TRUE(tick());  // the outcome
    ASSERT_EQ(ui().messageBoxes().size(), 1u);
    EXPECT_EQ(ui().messageBoxes()[0].text, "Upload successfully");
    EXPECT_EQ(ui().messageBoxes()[0].icon, platform::ui::MessageBoxIcon::Information);
    EXPECT_EQ(ui().messageBoxes()[0].caption, platform::ui::applicationName());
    EXPECT_EQ(percentAtMessage, "100%");
    EXPECT_EQ(barAtMessage, 100);
    EXPECT_FALSE(sheet().isOpen());
    EXPECT_EQ(sheet().result(), platform::ui::SheetFinished);
}

TEST_F(UploadPage, FailureDarkensTheLampAndReportsTwoTicksLater)
{
    SteppedWorker worker;
    wiz().page45.setUploadStarter(worker.starter());
    openAtUpload("COM3");
    ui().runFor(StartUploadDelayMs);
    uploadJobs[0].phase.store(Transferring);
    uploadJobs[0].totalBytes.store(1000);
    uploadJobs[0].sentBytes.store(200);
    ui().runFor(PollPeriodMs);
    worker.end(Failed);
    ui().runFor(PollPeriodMs);
    EXPECT_EQ(ui().image(page(), IdcStatusLamp), IconLampIdle);
    EXPECT_EQ(ui().text(page(), IdcPercent), "19%");
    ui().runFor(PollPeriodMs);
    EXPECT_TRUE(ui().messageBoxes().empty());
    ui().runFor(PollPeriodMs);
    ASSERT_EQ(ui().messageBoxes().size(), 1u);
    EXPECT_EQ(ui().messageBoxes()[0].text,
              "The wizard failed to upload your modem. \nPlease power reset your modem and try again.");
    EXPECT_EQ(ui().messageBoxes()[0].icon, platform::ui::MessageBoxIcon::Stop);
    EXPECT_FALSE(sheet().isOpen());
    EXPECT_EQ(sheet().result(), platform::ui::SheetFinished);
}

TEST_F(UploadPage, AWorkerEndingWithNothingAcknowledgedIsStillCollected)
{
    // An empty image: the run succeeds with totalBytes 0, so no "all acknowledged" tick ever
    // looks at the worker; the page must notice its end all the same.
    SteppedWorker worker;
    wiz().page45.setUploadStarter(worker.starter());
    openAtUpload("COM3");
    ui().runFor(StartUploadDelayMs);
    worker.end(Succeeded);
    ui().runFor(3 * PollPeriodMs);
    ASSERT_EQ(ui().messageBoxes().size(), 1u);
    EXPECT_EQ(ui().messageBoxes()[0].text, "Upload successfully");
    EXPECT_FALSE(sheet().isOpen());
}

TEST_F(UploadPage, DriverChangeBranchWithoutItsPageFinishes)
{
    struct Case {
        bool changeDriver;
        int win9x;
        std::vector<const char*> messages;
    };
    const Case cases[] = {
        {true, 1, {"Upload successfully", "Please remove your modem from the USB port,\nand then press 'OK' to continue."}},
        {true, 0, {"Upload successfully"}},
        {false, 1, {"Upload successfully"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.changeDriver * 10 + c.win9x);
        FirmwareConfig.Windows_ChgDrv_and_Reboot = c.changeDriver;
        OsFlavor.IsWin9x = c.win9x;
        OsFlavor.IsNT = 1 - c.win9x;
        platform::ui::ScopedHeadlessBackend backend;
        HeadlessBackend& ui = *backend;
        clearWizardJob();
        Wizard w;
        SteppedWorker worker;
        w.page45.setUploadStarter(worker.starter());
        w.sheet.open();
        w.sheet.pressButton(platform::ui::SheetButton::Next);
        w.sheet.pressButton(platform::ui::SheetButton::Next);
        CurrentModem.portName = "COM2";
        w.sheet.pressButton(platform::ui::SheetButton::Next);
        ui.runFor(StartUploadDelayMs);
        worker.end(Succeeded);
        ui.runFor(3 * PollPeriodMs);
        ASSERT_EQ(ui.messageBoxes().size(), c.messages.size());
        for (size_t i = 0; i < c.messages.size(); ++i) {
            EXPECT_EQ(ui.messageBoxes()[i].text, c.messages[i]);
        }
        if (c.messages.size() > 1) {
            EXPECT_EQ(ui.messageBoxes()[1].icon, platform::ui::MessageBoxIcon::Exclamation);
        }
        EXPECT_FALSE(w.sheet.isOpen());  // finished by itself in every case
        wizard_.reset();
    }
}

TEST_F(UploadPage, OnThe9xFamilyTheDriverChangeFollowsTheSuccess)
{
    FirmwareConfig.Windows_ChgDrv_and_Reboot = true;
    OsFlavor = OsFlavorRecord{};
    OsFlavor.IsWin9x = 1;
    OsFlavor.IsWin98SE = 1;
    CPage55 page55;
    sheet().addPage(&page55);
    SteppedWorker worker;
    wiz().page45.setUploadStarter(worker.starter());
    ui().onMessageBox = [this](const HeadlessBackend::MessageBoxRecord&) {
        EXPECT_EQ(sheet().activeIndex(), 3) << "still on the upload page while a message is up";
    };
    openAtUpload("COM2");
    ui().runFor(StartUploadDelayMs);
    worker.end(Succeeded);
    ui().runFor(3 * PollPeriodMs);
    ASSERT_EQ(ui().messageBoxes().size(), 2u);
    EXPECT_EQ(ui().messageBoxes()[1].text, RemoveModemText);
    EXPECT_TRUE(sheet().isOpen());
    EXPECT_EQ(sheet().activeIndex(), 4);
    EXPECT_EQ(ui().windowTitle(sheet().handle()), "Firmware upload wizard (page 5 of 5)");
    EXPECT_TRUE(ui().timerActive(page55.handle(), DriverStepsTimerId));
    const WizardButtonsView b = buttons();
    EXPECT_FALSE(b.backEnabled || b.nextEnabled || b.finishEnabled);
    sheet().close();
}

TEST_F(UploadPage, CancelWhileTheWorkerRunsStopsIt)
{
    SteppedWorker worker;
    wiz().page45.setUploadStarter(worker.starter());
    openAtUpload("COM3");
    ui().runFor(StartUploadDelayMs + PollPeriodMs);
    ASSERT_NE(uploadJobs[0].threadHandle, nullptr);
    EXPECT_TRUE(press(WizardButton::Cancel));
    EXPECT_FALSE(sheet().isOpen());
    EXPECT_EQ(uploadJobs[0].threadHandle, nullptr);
    EXPECT_EQ(uploadJobs[0].keepRunning.load(), 0);
}

// Whole runs: the real worker against an in-process modem, on the real clock.
class RealUpload : public WizardFixture {
protected:
    void SetUp() override
    {
        WizardFixture::SetUp();
        image_.resize(ImageSize);
        for (size_t i = 0; i < image_.size(); ++i) {
            image_[i] = static_cast<uint8_t>(i * 7 + 3);
        }
        FirmwareConfig.FirmwarePath = dir_ + "/firmware.bin";
        std::ofstream(FirmwareConfig.FirmwarePath, std::ios::binary)
            .write(reinterpret_cast<const char*>(image_.data()), static_cast<std::streamsize>(image_.size()));
    }

    // From the welcome page to the upload page with the modem of COM3 chosen.
    void goToUpload()
    {
        sheet().open();
        ui().dispatchPosted();
        ASSERT_TRUE(press(WizardButton::Next));
        ui().runFor(SearchDelayMs);
        ASSERT_TRUE(ui().selectListItem(wiz().page10.handle(), IdcModemList, 0));
        ASSERT_TRUE(press(WizardButton::Next));
        ASSERT_TRUE(press(WizardButton::Next));
        ASSERT_EQ(sheet().activeIndex(), 3);
    }

    static constexpr size_t ImageSize = 3000;
    static constexpr uint32_t RunLimitMs = 60000;
    std::vector<uint8_t> image_;
};

TEST_F(RealUpload, SucceedsFinishesByItselfAndLeavesNothingOpen)
{
    modemsim::SimulatedPorts ports;
    modemsim::SimulatedModem& modem = ports.add("COM3");
    goToUpload();
    const WindowId page = wiz().page45.handle();
    std::vector<std::string> shown;
    ui().onMessageBox = [&](const HeadlessBackend::MessageBoxRecord&) { shown = ui().textHistory(page, IdcPercent); };
    const auto started = std::chrono::steady_clock::now();
    while (sheet().isOpen() && std::chrono::steady_clock::now() - started < std::chrono::milliseconds(RunLimitMs)) {
        ui().runFor(PollPeriodMs);
    }
    ASSERT_FALSE(sheet().isOpen());
    EXPECT_EQ(sheet().result(), platform::ui::SheetFinished);
    ASSERT_FALSE(ui().messageBoxes().empty());
    EXPECT_EQ(ui().messageBoxes().back().text, "Upload successfully");
    ASSERT_EQ(modem.images().size(), 1u);
    EXPECT_EQ(modem.images()[0].trimmed(ImageSize), image_);
    EXPECT_EQ(uploadJobs[0].threadHandle, nullptr);
    EXPECT_EQ(platform::openDeviceCount(), 0);

    // The percentage only ever rose, and 100 % came last.
    ASSERT_FALSE(shown.empty());
    EXPECT_EQ(shown.back(), "100%");
    int last = 0;
    for (const std::string& s : shown) {
        int value = std::stoi(s);
        if (s != "0%") {
            EXPECT_GE(value, last) << s;
            last = value;
        }
    }
}

TEST_F(RealUpload, CancelDuringTheUploadStopsTheWorkerAndClosesThePort)
{
    modemsim::SimulatedPorts ports;
    modemsim::ModemSettings paced;
    paced.baud = 115200;
    ports.add("COM3", paced);
    goToUpload();
    ui().runFor(StartUploadDelayMs + 2 * PollPeriodMs);
    ASSERT_NE(uploadJobs[0].threadHandle, nullptr);
    const auto before = std::chrono::steady_clock::now();
    EXPECT_TRUE(press(WizardButton::Cancel));
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(2000));
    EXPECT_FALSE(sheet().isOpen());
    EXPECT_EQ(uploadJobs[0].threadHandle, nullptr);
    EXPECT_EQ(platform::openDeviceCount(), 0);
    EXPECT_TRUE(ui().messageBoxes().empty());
}

}  // namespace
}  // namespace wizard_test
