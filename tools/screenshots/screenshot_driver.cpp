#include "tools/screenshots/screenshot_driver.h"

#include <QApplication>
#include <QDir>
#include <QLinearGradient>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QTimer>

#include "platform/qt/dialog_view.h"
#include "platform/qt/qt_backend.h"
#include "platform/qt/qt_pictures.h"
#include "platform/qt/wizard_frame.h"

namespace screenshots {

using platform::qt::DialogView;
using platform::qt::QtBackend;
using platform::qt::WizardFrame;
using platform::ui::NoWindow;
using platform::ui::WindowId;
using platform::ui::WizardButton;

namespace {

constexpr int TickMs = 100;
// A page counts as settled when nothing on it changed for this long, or at the latest after
// the second time (the upload page changes every 800 ms until it ends).
constexpr qint64 SettledMs = 1200;
constexpr qint64 LongestWaitMs = 4000;
constexpr int MessageBoxCaptureDelayMs = 600;
constexpr int TitleBarHeightPx = 22;
constexpr int TitleIconPx = 16;
constexpr int TitleTextIndentPx = 24;
// The walk through a dialog with a window menu: its default button after this long, its picture
// this long after that (rows under way, done and failed, with the sample delivery and the
// simulated modems of scripts/screenshots.sh), the menu's picture once it has opened.
constexpr qint64 MenuDialogStartMs = 500;
constexpr qint64 MenuDialogPictureMs = 16000;
constexpr qint64 MenuOpenPictureMs = 400;

// Presses a button from an event of its own: the press may open a modal loop, and the ticker
// does not fire again while its own handler is still running.
void pressLater(QAbstractButton* button)
{
    QTimer::singleShot(0, button, [button] { button->click(); });
}

}  // namespace

ScreenshotDriver::ScreenshotDriver(QtBackend& backend, QString directory)
    : backend_(backend), directory_(std::move(directory)), ticker_(new QTimer(this))
{
    sinceActivity_.start();
    sincePageShown_.start();
    connect(ticker_, &QTimer::timeout, this, [this] { tick(); });
    ticker_->start(TickMs);
}

void ScreenshotDriver::pageShown(WindowId sheet, WindowId page)
{
    sheet_ = sheet;
    page_ = page;
    sincePageShown_.restart();
    if (pageNumbers_.find(page) == pageNumbers_.end()) {
        int number = static_cast<int>(pageNumbers_.size()) + 1;
        pageNumbers_[page] = number;
    }
}

void ScreenshotDriver::modalShown(WindowId window)
{
    if (backend_.systemMenu(window) != nullptr && menuDialog_ == NoWindow) {
        menuDialog_ = window;
        menuDialogStage_ = MenuDialogStage::Started;
        sinceStage_.start();
        return;
    }
    if (backend_.frame(window) == nullptr) {
        dialog_ = window;
        activity();
    }
}

void ScreenshotDriver::messageBoxShown(QMessageBox& box)
{
    int number = ++messageCount_;
    QTimer::singleShot(MessageBoxCaptureDelayMs, &box, [this, &box, number] {
        if (WizardFrame* frame = backend_.frame(sheet_)) {
            auto found = pageNumbers_.find(page_);
            if (found != pageNumbers_.end()) {
                save(*frame, QStringLiteral("page%1-end.png").arg(found->second));
            }
        }
        save(box, QStringLiteral("message%1.png").arg(number));
        if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
            ok->click();
        } else if (QAbstractButton* yes = box.button(QMessageBox::Yes)) {
            yes->click();
        }
    });
}

void ScreenshotDriver::menuDialogTick()
{
    QWidget* window = backend_.topLevel(menuDialog_);
    DialogView* view = backend_.view(menuDialog_);
    QMenu* menu = backend_.systemMenu(menuDialog_);
    if (window == nullptr || view == nullptr || menu == nullptr) {
        return;
    }
    switch (menuDialogStage_) {
    case MenuDialogStage::Started:
        if (sinceStage_.elapsed() >= MenuDialogStartMs && QApplication::activeModalWidget() == window) {
            if (auto* button = qobject_cast<QPushButton*>(view->control(view->enterCommand()))) {
                pressLater(button);
            }
            menuDialogStage_ = MenuDialogStage::Running;
            sinceStage_.restart();
        }
        break;
    case MenuDialogStage::Running:
        if (sinceStage_.elapsed() >= MenuDialogPictureMs) {
            save(*window, QStringLiteral("dialog.png"));
            backend_.openSystemMenu(menuDialog_);
            menuDialogStage_ = MenuDialogStage::MenuOpen;
            sinceStage_.restart();
        }
        break;
    case MenuDialogStage::MenuOpen:
        if (sinceStage_.elapsed() >= MenuOpenPictureMs) {
            // The menu is a window of its own: drawn onto the dialog's picture where it stands.
            QImage picture = withTitleBar(*window);
            QPainter painter(&picture);
            painter.drawPixmap(window->mapFromGlobal(menu->pos()) + QPoint(0, TitleBarHeightPx), menu->grab());
            painter.end();
            picture.save(QDir(directory_).filePath(QStringLiteral("dialog-menu.png")), "PNG");
            QAction* first = menu->actions().isEmpty() ? nullptr : menu->actions().front();
            menu->hide();
            if (first != nullptr) {
                QTimer::singleShot(0, first, [first] { first->trigger(); });
            }
            menuDialogStage_ = MenuDialogStage::Done;
        }
        break;
    case MenuDialogStage::Done:
        break;
    }
}

void ScreenshotDriver::tick()
{
    if (menuDialog_ != NoWindow) {
        menuDialogTick();
        return;
    }
    if (dialog_ != NoWindow) {
        QWidget* window = backend_.topLevel(dialog_);
        DialogView* view = backend_.view(dialog_);
        if (window == nullptr || view == nullptr) {
            dialog_ = NoWindow;
            return;
        }
        if (sinceActivity_.elapsed() < SettledMs) {
            return;
        }
        save(*window, QStringLiteral("about.png"));
        dialog_ = NoWindow;
        if (auto* ok = qobject_cast<QPushButton*>(view->control(platform::ui::IdOk))) {
            pressLater(ok);
        }
        return;
    }
    WizardFrame* frame = backend_.frame(sheet_);
    DialogView* page = backend_.view(page_);
    if (frame == nullptr || page == nullptr || backend_.activePage(sheet_) != page_ ||
        QApplication::activeModalWidget() != frame) {
        return;
    }
    bool settled = sinceActivity_.elapsed() >= SettledMs || sincePageShown_.elapsed() >= LongestWaitMs;
    if (!settled) {
        return;
    }
    if (captured_.count(page_) == 0) {
        auto* list = page->findChild<QListWidget*>();
        if (list != nullptr && list->count() > 0 && list->selectedItems().isEmpty() &&
            listChosen_.insert(page_).second) {
            // As the user's click: through the list's own signal, so the page is told.
            list->setCurrentRow(0);
            activity();
            return;
        }
        save(*frame, QStringLiteral("page%1.png").arg(pageNumbers_[page_]));
        captured_.insert(page_);
        activity();
        return;
    }
    if (!helpShown_) {
        helpShown_ = true;
        pressLater(frame->button(WizardButton::Help));
        return;
    }
    QPushButton* next = frame->button(WizardButton::Next);
    if (!next->isHidden() && next->isEnabled()) {
        pressLater(next);
        activity();
    }
}

QImage ScreenshotDriver::withTitleBar(QWidget& window)
{
    QPixmap body = window.grab();
    QImage image(body.width(), body.height() + TitleBarHeightPx, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, image.width(), 0);
    gradient.setColorAt(0, QColor(0, 0, 128));
    gradient.setColorAt(1, QColor(16, 132, 208));
    painter.fillRect(QRect(0, 0, image.width(), TitleBarHeightPx), gradient);
    painter.drawPixmap(QRect(4, (TitleBarHeightPx - TitleIconPx) / 2, TitleIconPx, TitleIconPx),
                       window.windowIcon().pixmap(TitleIconPx, TitleIconPx));
    QFont font = window.font();
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(TitleTextIndentPx, 0, image.width() - TitleTextIndentPx, TitleBarHeightPx),
                     Qt::AlignLeft | Qt::AlignVCenter, window.windowTitle());
    painter.drawPixmap(0, TitleBarHeightPx, body);
    return image;
}

void ScreenshotDriver::save(QWidget& window, const QString& name)
{
    withTitleBar(window).save(QDir(directory_).filePath(name), "PNG");
}

}  // namespace screenshots
