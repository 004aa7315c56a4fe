// The screenshot driver for the documentation: it drives the wizard by itself through the Qt
// backend's widgets and saves PNGs of what it shows into a folder: each page once it has
// settled (page1.png ...; a page's list gets its first entry selected first, as a user would),
// the About box (about.png, opened once through Help on the first page), and every message box
// (message1.png ..., together with the page under it, pageN-end.png), which it then answers OK.
// Next is pressed whenever it is enabled after a page's picture; the upload page moves on by
// itself. A dialog with a window menu of its own (the production-line dialog) gets its default
// button pressed ("Upgrade firmware"), its picture taken a while later (dialog.png), its window
// menu opened and pictured (dialog-menu.png), and the menu's first item chosen ("Shutdown"),
// whose Yes/No question is answered Yes. Window decorations are not part of a widget grab, so each picture gets a plain title
// bar with the window's caption drawn above it.
// Results: files only; nothing is reported, a picture that cannot be written is skipped.
// Thread rule: UI thread.
#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <map>
#include <set>

#include "platform/qt/qt_backend.h"
#include "platform/ui/backend.h"

class QMessageBox;
class QTimer;
class QWidget;

namespace screenshots {

class ScreenshotDriver : public QObject {
public:
    // The folder must exist.
    ScreenshotDriver(platform::qt::QtBackend& backend, QString directory);

    void pageShown(platform::ui::WindowId sheet, platform::ui::WindowId page);
    void modalShown(platform::ui::WindowId window);
    void messageBoxShown(QMessageBox& box);
    void activity() { sinceActivity_.restart(); }

    // A grab of a window with a drawn title bar above it.
    static QImage withTitleBar(QWidget& window);

private:
    void tick();
    void save(QWidget& window, const QString& name);

    platform::qt::QtBackend& backend_;
    QString directory_;
    QTimer* ticker_ = nullptr;
    QElapsedTimer sinceActivity_;
    QElapsedTimer sincePageShown_;
    platform::ui::WindowId sheet_ = platform::ui::NoWindow;
    platform::ui::WindowId page_ = platform::ui::NoWindow;
    platform::ui::WindowId dialog_ = platform::ui::NoWindow;  // a modal dialog being shown
    // A dialog with a window menu of its own, and how far its walk has come.
    enum class MenuDialogStage { Started, Running, MenuOpen, Done };
    void menuDialogTick();
    platform::ui::WindowId menuDialog_ = platform::ui::NoWindow;
    MenuDialogStage menuDialogStage_ = MenuDialogStage::Started;
    QElapsedTimer sinceStage_;
    std::map<platform::ui::WindowId, int> pageNumbers_;
    std::set<platform::ui::WindowId> captured_;
    std::set<platform::ui::WindowId> listChosen_;
    bool helpShown_ = false;
    int messageCount_ = 0;
};

}  // namespace screenshots
