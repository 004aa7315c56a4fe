// The modem search page against in-process modems on the virtual clock.
#include "wizard_fixture.h"

#include <functional>
#include <vector>

#include "tools/modemsim/simulated_ports.h"

namespace wizard_test {
namespace {

class Search : public WizardFixture {
protected:
    WindowId page() { return wiz().page10.handle(); }
    std::string status() { return ui().text(page(), IdcStatusLine); }
    std::vector<std::string> items() { return ui().listItems(page(), IdcModemList); }

    platform::ScopedVirtualClock clock_;
    modemsim::SimulatedPorts ports_;
};

TEST_F(Search, OutcomesByWhereTheModemsAre)
{
    struct Case {
        std::vector<int> modems;
        std::vector<std::string> items;
        std::vector<int32_t> data;
        const char* status;
        bool nextAfterSearch;
        const char* currentPort;
        bool portOpen;
    };
    const Case cases[] = {
        {{}, {}, {}, "No modem was found on COM1 ~ COM8", false, "", false},
        {{3}, {"Nelta 56K USB Modem on COM3"}, {3}, "Please select a modem from the list box", false, "", false},
        {{5, 2}, {"Nelta 56K USB Modem on COM2", "Nelta 56K USB Modem on COM5"}, {2, 5},
         "Please select a modem from the list box", false, "", false},
        {{8}, {"Nelta 56K USB Modem on COM8"}, {8}, "Please select a modem from the list box", true, "COM8", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::PrintToString(c.modems));
        modemsim::SimulatedPorts ports;
        for (int n : c.modems) {
            ports.add("COM" + std::to_string(n));
        }
        resetIdentity(CurrentModem);
        Wizard w;
        wizard_.reset();  // the fixture's sheet is not used here
        w.sheet.open();
        ui().dispatchPosted();
        ASSERT_TRUE(ui().pressWizardButton(w.sheet.handle(), WizardButton::Next));
        EXPECT_TRUE(backOnly(ui().wizardButtons(w.sheet.handle())));  // on activation
        ui().runFor(SearchDelayMs);
        const WindowId p = w.page10.handle();
        EXPECT_EQ(ui().listItems(p, IdcModemList), c.items);
        EXPECT_EQ(ui().listDataAll(p, IdcModemList), c.data);
        EXPECT_EQ(ui().text(p, IdcStatusLine), c.status);
        WizardButtonsView v = ui().wizardButtons(w.sheet.handle());
        EXPECT_TRUE(v.backEnabled);
        EXPECT_EQ(v.nextEnabled, c.nextAfterSearch);
        EXPECT_EQ(CurrentModem.portName, c.currentPort);
        EXPECT_EQ(CurrentModem.portHandle != NoPort, c.portOpen);
        EXPECT_EQ(platform::openDeviceCount(), c.portOpen ? 1 : 0);
        EXPECT_EQ(ui().waitCursorDepth(), 0);
        w.sheet.close();
        if (CurrentModem.portHandle != NoPort) {
            closePort(CurrentModem.portHandle);
            CurrentModem.portHandle = NoPort;
        }
    }
}

TEST_F(Search, SelectingAnEntryNamesItsPortAndEnablesNext)
{
    ports_.add("COM3");
    openAtSearch();
    EXPECT_TRUE(backOnly(buttons()));
    EXPECT_FALSE(press(WizardButton::Next));
    ASSERT_TRUE(ui().selectListItem(page(), IdcModemList, 0));
    EXPECT_EQ(status(), "You select modem on COM3");
    EXPECT_EQ(CurrentModem.portName, "COM3");
    EXPECT_EQ(CurrentModem.portHandle, NoPort);  // choosing does not open the port
    EXPECT_TRUE(backAndNext(buttons()));
    ASSERT_TRUE(press(WizardButton::Next));
    EXPECT_EQ(sheet().activeIndex(), 2);
}

TEST_F(Search, StatusLineThroughTheSearchIncludingKernelMode)
{
    modemsim::ModemSettings kernel;
    kernel.kernelMode = true;
    ports_.add("COM4", kernel);
    ports_.add("COM6");
    openAtSearch();
    std::vector<std::string> expected;
    for (int n = 1; n <= 8; ++n) {
        std::string port = "COM" + std::to_string(n);
        expected.push_back("Try to open " + port);
        if (n == 4) {
            expected.push_back("Found a Nelta modem on COM4");
            expected.push_back("Found a Nelta modem in Kernel mode on COM4");
        } else if (n == 6) {
            expected.push_back("Found a Nelta modem on COM6");
        } else {
            expected.push_back("No Nelta modem found on " + port);
        }
    }
    expected.push_back("Please select a modem from the list box");
    EXPECT_EQ(ui().textHistory(page(), IdcStatusLine), expected);
    EXPECT_EQ(items(), (std::vector<std::string>{"Nelta 56K USB Modem on COM4", "Nelta 56K USB Modem on COM6"}));
    EXPECT_EQ(ui().waitCursorDepth(), 0);
}

TEST_F(Search, OthersTypedPortAndEnterProbeWithoutAdvancing)
{
    ports_.add("COM12");
    openAtSearch();
    EXPECT_FALSE(ui().typeText(page(), IdcPortNumber, "1"));  // disabled until Others
    ASSERT_TRUE(ui().click(page(), IdcOthers));
    EXPECT_TRUE(ui().isChecked(page(), IdcOthers));
    EXPECT_TRUE(ui().isEnabled(page(), IdcComLabel));
    EXPECT_TRUE(ui().isEnabled(page(), IdcPortNumber));
    EXPECT_EQ(status(), "Input a port number, then press 'Enter' key.");
    EXPECT_TRUE(backOnly(buttons()));

    ASSERT_TRUE(ui().typeText(page(), IdcPortNumber, "1x2y34"));
    EXPECT_EQ(ui().text(page(), IdcPortNumber), "123");  // digits only, three at most
    ui().setText(page(), IdcPortNumber, "12");
    ASSERT_TRUE(ui().pressKey(page(), IdcPortNumber, platform::ui::Key::Enter));
    EXPECT_EQ(sheet().activeIndex(), 1);
    ui().runFor(TypedPortDelayMs);
    EXPECT_EQ(status(), "Try to open COM12");
    ui().runFor(ProbeMessageDelayMs);
    EXPECT_EQ(status(), "Found a Nelta modem on COM12");
    EXPECT_TRUE(backAndNext(buttons()));
    EXPECT_EQ(sheet().activeIndex(), 1);
    EXPECT_EQ(CurrentModem.portName, "COM12");
    EXPECT_NE(CurrentModem.portHandle, NoPort);

    // An empty box tries "COM", which fails; the port of the last probe is closed first.
    ui().setText(page(), IdcPortNumber, "");
    ASSERT_TRUE(ui().pressKey(page(), IdcPortNumber, platform::ui::Key::Enter));
    ui().runFor(TypedPortDelayMs + ProbeMessageDelayMs);
    EXPECT_EQ(status(), "No Nelta modem found on COM");
    EXPECT_TRUE(backOnly(buttons()));
    EXPECT_EQ(platform::openDeviceCount(), 0);
    EXPECT_EQ(sheet().activeIndex(), 1);
}

TEST_F(Search, BackFromTheSummaryStartsAFreshSearchClosingTheOpenPort)
{
    modemsim::SimulatedModem& com8 = ports_.add("COM8");
    openAtSearch();
    ASSERT_EQ(CurrentModem.portName, "COM8");
    ASSERT_TRUE(com8.isOpen());
    ASSERT_TRUE(press(WizardButton::Next));
    ASSERT_TRUE(press(WizardButton::Back));
    EXPECT_TRUE(backOnly(buttons()));
    ui().runFor(SearchDelayMs);
    EXPECT_EQ(com8.openCount(), 2);
    EXPECT_EQ(items(), std::vector<std::string>{"Nelta 56K USB Modem on COM8"});
    EXPECT_EQ(platform::openDeviceCount(), 1);
    EXPECT_TRUE(backAndNext(buttons()));
}

TEST_F(Search, LeavingBeforeTheTimersFireProbesNothing)
{
    modemsim::SimulatedModem& com3 = ports_.add("COM3");
    sheet().open();
    ui().dispatchPosted();
    ASSERT_TRUE(press(WizardButton::Next));
    ASSERT_TRUE(press(WizardButton::Back));  // before timer 26
    ui().runFor(1000);
    EXPECT_EQ(com3.openCount(), 0);
    WizardButtonsView v = buttons();
    EXPECT_TRUE(!v.backEnabled && v.nextEnabled);  // the welcome page's buttons untouched
}

TEST_F(Search, NavigationDuringTheSearchIsRefusedAndCancelEndsIt)
{
    ports_.add("COM1");
    modemsim::SimulatedModem& com8 = ports_.add("COM8");
    sheet().open();
    ui().dispatchPosted();
    ASSERT_TRUE(press(WizardButton::Next));
    // After COM1 a message; then, behind COM1's "Back and Next", a press of Next, then Help; then
    // Cancel. Next and Help are refused while the search runs, Cancel ends it.
    std::vector<bool> delivered;
    ui().queueInput([&] {
        ui().queueInput([&] {
            delivered.push_back(press(WizardButton::Next));
            ui().queueInput([&] { delivered.push_back(press(WizardButton::Help)); });
            ui().queueInput([&] { delivered.push_back(press(WizardButton::Cancel)); });
        });
    });
    ui().runFor(SearchDelayMs);
    EXPECT_EQ(delivered, (std::vector<bool>{true, true, true}));
    EXPECT_TRUE(ui().modalDialogs().empty());
    EXPECT_FALSE(sheet().isOpen());
    EXPECT_EQ(sheet().result(), platform::ui::SheetCancelled);
    EXPECT_EQ(com8.openCount(), 0);  // the search stopped before COM8
    // The search stopped after a port that answered nothing: no port is left open.
    EXPECT_EQ(CurrentModem.portHandle, NoPort);
    EXPECT_EQ(platform::openDeviceCount(), 0);
}

TEST_F(Search, CancelRightAfterAFoundModemLeavesItsPortToTheExitSteps)
{
    ports_.add("COM1");
    modemsim::SimulatedModem& com2 = ports_.add("COM2");
    sheet().open();
    ui().dispatchPosted();
    ASSERT_TRUE(press(WizardButton::Next));
    ui().queueInput([&] { press(WizardButton::Cancel); });
    ui().runFor(SearchDelayMs);
    EXPECT_FALSE(sheet().isOpen());
    EXPECT_EQ(com2.openCount(), 0);
    EXPECT_EQ(CurrentModem.portName, "COM1");
    EXPECT_EQ(platform::openDeviceCount(), 1);
    runExitSteps();
    EXPECT_EQ(platform::openDeviceCount(), 0);
}

// A silent port holds a probe for seconds; Cancel or the close box during it end the search
// within a second, not after the probe (or the drip of a hostile modem) has run its course.
TEST_F(Search, CancelOrCloseDuringASilentPortsProbeEndsTheSearchWithinASecond)
{
    for (bool closeBox : {false, true}) {
        SCOPED_TRACE(closeBox ? "close box" : "Cancel");
        modemsim::ModemSettings silent;
        silent.silent = true;
        ports_.add("COM1", silent);
        sheet().open();
        ui().dispatchPosted();
        ASSERT_TRUE(press(WizardButton::Next));
        ui().queueInput([&] {
            if (closeBox) {
                ui().closeWindow(sheet().handle());
            } else {
                press(WizardButton::Cancel);
            }
        });
        platform::Ticks start = platform::tickCount();
        ui().runFor(SearchDelayMs);
        EXPECT_LT(platform::elapsedSince(start), SearchDelayMs + 1000);
        EXPECT_FALSE(sheet().isOpen());
        EXPECT_EQ(sheet().result(), platform::ui::SheetCancelled);
        EXPECT_EQ(CurrentModem.portHandle, NoPort);
        EXPECT_EQ(platform::openDeviceCount(), 0);
        ports_.remove("COM1");
    }
}

TEST_F(Search, ClosingTheWindowDuringTheSearchEndsTheModalRun)
{
    ports_.add("COM2");
    ui().onModal = [this](WindowId) {
        if (sheet().activeIndex() == 0) {
            ui().queueInput([this] { ui().closeWindow(sheet().handle()); });
            return press(WizardButton::Next);
        }
        ui().runFor(SearchDelayMs);
        return sheet().isOpen();
    };
    EXPECT_EQ(sheet().runModal(), platform::ui::SheetCancelled);
    EXPECT_FALSE(sheet().isOpen());
    EXPECT_EQ(CurrentModem.portHandle, NoPort);  // COM1 answered nothing; COM2 never tried
    EXPECT_EQ(platform::openDeviceCount(), 0);
}

}  // namespace
}  // namespace wizard_test
