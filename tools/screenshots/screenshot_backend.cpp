#include "tools/screenshots/screenshot_backend.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

namespace screenshots {

ScreenshotBackend::ScreenshotBackend(const QString& directory)
    : driver_(std::make_unique<ScreenshotDriver>(qt_, directory))
{
}

// The driver goes first: it watches the backend's widgets.
ScreenshotBackend::~ScreenshotBackend()
{
    driver_.reset();
}

int ScreenshotBackend::messageBox(WindowId owner, const std::string& text, const std::string& caption,
                                  MessageBoxIcon icon, MessageBoxButtons buttons)
{
    // The box exists only inside the backend's call; the first turn of its modal loop finds it.
    QTimer::singleShot(0, driver_.get(), [this] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            driver_->messageBoxShown(*box);
        }
    });
    return qt_.messageBox(owner, text, caption, icon, buttons);
}

}  // namespace screenshots
