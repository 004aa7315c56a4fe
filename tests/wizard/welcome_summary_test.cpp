// The welcome and summary pages, the sheet's page order, titles and Help.
#include "wizard_fixture.h"

#include "resources/icons.h"
#include "resources/texts.h"
#include "tools/modemsim/simulated_ports.h"

namespace wizard_test {
namespace {

using Welcome = WizardFixture;

TEST_F(Welcome, TextNamesTheModelAndVersion)
{
    struct Case {
        const char* model;
        const char* version;
        const char* expected;
    };
    const Case cases[] = {
        {"Nelta 56K USB Modem", "1.00",
         "This program will upgrade the firmware of your\n\n\"Nelta 56K USB Modem\" \n\nto version 1.00."},
        {"", "1.00", "This program will upgrade the firmware of your\n\n\"\" \n\nto version 1.00."},
        {"100% %s Modem", "2.1", "This program will upgrade the firmware of your\n\n\"100% %s Modem\" \n\nto version 2.1."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.model);
        FirmwareConfig.Model_name = c.model;
        FirmwareConfig.Firmware_version = c.version;
        Wizard w;
        w.sheet.open();
        EXPECT_EQ(ui().text(w.page00.handle(), IdcWelcomeText), c.expected);
        w.sheet.close();
    }
}

TEST_F(Welcome, NextOnlyOnEveryVisitAndTitlesFollowThePages)
{
    sheet().open();
    ui().dispatchPosted();
    EXPECT_EQ(ui().windowTitle(sheet().handle()), "Firmware upload wizard (page 1 of 5)");
    WizardButtonsView v = buttons();
    EXPECT_TRUE(!v.backEnabled && v.nextEnabled);

    ASSERT_TRUE(press(WizardButton::Next));
    EXPECT_EQ(ui().windowTitle(sheet().handle()), "Firmware upload wizard (page 2 of 5)");
    // What the welcome page posts on leaving is overtaken by the search page's own requests.
    EXPECT_TRUE(backOnly(buttons()));
    ui().runFor(SearchDelayMs);

    ASSERT_TRUE(press(WizardButton::Back));
    EXPECT_EQ(sheet().activeIndex(), 0);
    v = buttons();
    EXPECT_TRUE(!v.backEnabled && v.nextEnabled);
    EXPECT_EQ(ui().text(wiz().page00.handle(), IdcWelcomeText),
              welcomeText("Nelta 56K USB Modem", "1.00"));
}

TEST_F(Welcome, HelpShowsTheAboutBoxAndLeavesThePageAsItWas)
{
    platform::ScopedVirtualClock clock;
    modemsim::SimulatedPorts ports;
    ports.add("COM3");
    openAtSearch();
    const WindowId page = wiz().page10.handle();
    const auto itemsBefore = ui().listItems(page, IdcModemList);
    const auto statusBefore = ui().text(page, IdcStatusLine);
    const auto buttonsBefore = buttons();

    ASSERT_TRUE(press(WizardButton::Help));
    ASSERT_EQ(ui().modalDialogs().size(), 1u);
    const auto& about = ui().modalDialogs()[0];
    EXPECT_EQ(about.title, "About Tarvo");
    EXPECT_EQ(about.texts.at(IdcAboutVersion), "Nelta firmware upload wizard Version 2.5");
    EXPECT_EQ(about.texts.at(IdcAboutCompany), "Nelta Technology Corporation");
    EXPECT_FALSE(about.texts.at(IdcAboutNotice).empty());
    EXPECT_EQ(about.images[0], IconApplication);
    EXPECT_FALSE(ui().exists(about.window));

    EXPECT_EQ(sheet().activeIndex(), 1);
    EXPECT_EQ(ui().shownPage(sheet().handle()), page);
    EXPECT_EQ(ui().listItems(page, IdcModemList), itemsBefore);
    EXPECT_EQ(ui().text(page, IdcStatusLine), statusBefore);
    EXPECT_EQ(buttons(), buttonsBefore);
}

using Summary = WizardFixture;

TEST_F(Summary, TextByteForByteFilledAfterTheDelayAndRebuiltOnEachVisit)
{
    platform::ScopedVirtualClock clock;
    modemsim::SimulatedPorts ports;
    ports.add("COM2");
    ports.add("COM5");
    openAtSearch();
    const WindowId search = wiz().page10.handle();
    ASSERT_TRUE(ui().selectListItem(search, IdcModemList, 0));
    ASSERT_TRUE(press(WizardButton::Next));
    const WindowId summary = wiz().page30.handle();
    EXPECT_TRUE(backAndNext(buttons()));
    EXPECT_EQ(buttons().finishVisible, false);
    // Not while it is being activated: 100 ms later.
    EXPECT_EQ(text(wiz().page30, IdcSummaryBox), "");
    ui().runFor(SummaryDelayMs);
    const std::string expected =
        "You should NOT power off the modem while\r\n"
        "firmware uploading is in progress, otherwize\r\n"
        "you may damage your modem.\r\n"
        "\r\nF/W version :  1.00"
        "\r\nCOM port    :  COM2\r\n\r\n"
        "Press \"Next\" to start, or press \"Cancel\" to exit.\r\n";
    EXPECT_EQ(ui().text(summary, IdcSummaryBox), expected);
    EXPECT_FALSE(ui().typeText(summary, IdcSummaryBox, "x"));
    EXPECT_FALSE(ui().timerActive(summary, SummaryTimerId));

    // Back: a fresh search, another choice, and exactly one summary naming it.
    ASSERT_TRUE(press(WizardButton::Back));
    ui().runFor(SearchDelayMs);
    ASSERT_TRUE(ui().selectListItem(search, IdcModemList, 1));
    ASSERT_TRUE(press(WizardButton::Next));
    ui().runFor(SummaryDelayMs);
    std::string second = expected;
    second.replace(second.find("COM2"), 4, "COM5");
    EXPECT_EQ(ui().text(summary, IdcSummaryBox), second);
}

TEST_F(Summary, EmptyVersionAndPortLeaveTheLabelsAlone)
{
    EXPECT_EQ(summaryText("", ""),
              "You should NOT power off the modem while\r\nfirmware uploading is in progress, otherwize\r\n"
              "you may damage your modem.\r\n\r\nF/W version :  \r\nCOM port    :  \r\n\r\n"
              "Press \"Next\" to start, or press \"Cancel\" to exit.\r\n");
}

// A bare dialog holding one multi-line edit box, for the log box's own rules.
class EditHost : public platform::ui::Dialog {
public:
    EditHost() : Dialog(page30Template()) { createWindow(platform::ui::NoWindow, platform::ui::WindowRole::ModalDialog); }
    ~EditHost() override { destroyWindow(); }
};

TEST_F(Summary, LogBoxDropsItsOldestLineAtTheLimit)
{
    EditHost host;
    LogEditBox box(host, IdcSummaryBox);
    box.maxLineCount = 3;
    box.append("one", 1);
    box.append("two", 1);
    EXPECT_EQ(box.text(), "one\r\ntwo\r\n");
    box.append("three", 1);  // three lines ("", the last, included): the first goes
    EXPECT_EQ(box.text(), "two\r\nthree\r\n");
    box.append("four", 0);
    box.append("+", 0);
    EXPECT_EQ(box.text(), "three\r\nfour+");
    box.clear();
    EXPECT_EQ(box.text(), "");
    const std::string longText(5000, 'x');
    box.append(longText, 1);
    EXPECT_EQ(box.text(), longText + "\r\n");
}

}  // namespace
}  // namespace wizard_test
