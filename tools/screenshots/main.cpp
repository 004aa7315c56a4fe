// The program built for the documentation's screenshots: Tarvo32 itself, drawn by the Qt backend
// with the screenshot driver walking through every page (tools/screenshots/screenshot_driver.h).
// It is built as screenshots/Tarvo32 in the build folder and run from a delivery folder like the
// program; the pictures go to the folder TARVO_SCREENSHOT_DIR names (made when missing).
// scripts/screenshots.sh runs it against a simulated modem.
#include <QDir>
#include <QString>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "app/commands.h"
#include "platform/qt/qt_backend.h"
#include "platform/ui/backend.h"
#include "resources/icons/pictures.h"
#include "tools/screenshots/screenshot_backend.h"

namespace {

constexpr const char* DirectoryVariable = "TARVO_SCREENSHOT_DIR";

}  // namespace

int main(int argc, char** argv)
{
    const char* directory = std::getenv(DirectoryVariable);
    if (directory == nullptr || *directory == '\0' || !QDir().mkpath(QString::fromLocal8Bit(directory))) {
        std::fprintf(stderr, "Tarvo32 (screenshots): %s must name a folder for the pictures\n", DirectoryVariable);
        return 2;
    }
    resources::installPictures();
    if (!platform::qt::installBackend(argc, argv)) {
        return 1;
    }
    QString folder = QString::fromLocal8Bit(directory);
    platform::ui::setBackendFactory([folder] { return std::make_unique<screenshots::ScreenshotBackend>(folder); });
    return runApplication();
}
