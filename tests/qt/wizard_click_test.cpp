// One real run of the program through the Qt backend: the wizard of a delivery against modemsim
// on COM3, driven by the screenshot build of the program (tools/screenshots), which clicks the real buttons (Help and the
// About box's OK on the first page, the list entry on the search page, Next on every page) and
// answers the message boxes. The modem must end up with the firmware image, byte for byte.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>

#include "support/e2e_support.h"

namespace {

constexpr const char* DeliveryIni =
    "[INFO]\n"
    "Company_name=Nelta Technology Corporation\n"
    "Company_short_name=Nelta\n"
    "Model_name=Nelta 56K USB Modem\n"
    "Firmware_file=image.bin\n"
    "Firmware_version=1.20\n"
    "ATI1_key_string=Nelta 56K USB\n"
    "ATI9_key_string=KOR\n";

constexpr uint32_t WizardRunLimitMs = 90000;

std::string imageBytes()
{
    std::string image;
    for (int i = 0; i < 3000; ++i) {
        image.push_back(static_cast<char>((i * 7 + 3) & 0xFF));
    }
    return image;
}

TEST(WizardThroughQt, UpgradesTheModemOnComThreeByClicks)
{
    e2e::TempDir host;
    e2e::TempDir work;
    std::string runtime = work.file("runtime");
    std::string shots = work.file("shots");
    ASSERT_EQ(mkdir(runtime.c_str(), 0700), 0);
    e2e::Delivery delivery(DeliveryIni, e2e::screenshotExecutable());
    std::string image = imageBytes();
    delivery.addFile("image.bin", image);
    std::string received = work.file("received.bin");
    e2e::ModemSim modem(host.path(), "COM3",
                        {"--image-out", received, "--image-size", std::to_string(image.size())});
    ASSERT_TRUE(modem.ready());

    e2e::RunResult run = e2e::run(delivery.executable(), {},
                                  {{"TARVO_HOST", host.path()},
                                   {"QT_QPA_PLATFORM", "offscreen"},
                                   {"XDG_RUNTIME_DIR", runtime},
                                   {"TARVO_SCREENSHOT_DIR", shots}},
                                  WizardRunLimitMs);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(e2e::readFile(received), image);
    // Every page was shown, the About box opened from Help, and the success message came.
    for (const char* picture : {"page1.png", "page2.png", "page3.png", "page4.png", "about.png",
                                "message1.png"}) {
        struct stat info {};
        EXPECT_EQ(stat((shots + "/" + picture).c_str(), &info), 0) << picture;
    }
}

TEST(WizardThroughQt, SaysSoWithoutADisplay)
{
    e2e::TempDir host;
    e2e::Delivery delivery(DeliveryIni);
    e2e::RunResult run = e2e::run("/usr/bin/env",
                                  {"-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "-u", "QT_QPA_PLATFORM",
                                   delivery.executable()},
                                  {{"TARVO_HOST", host.path()}});
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find("no display"), std::string::npos) << run.err;
}

}  // namespace
