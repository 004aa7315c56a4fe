// The Qt backend with the screenshot driver watching it: every call goes to the real QtBackend;
// the calls that show a page, a modal dialog or a message box, and those that change what a
// window shows, are also told to the driver (tools/screenshots/screenshot_driver.h), which
// waits for a window to settle before it takes its picture.
// Results: as the wrapped backend's.
// Thread rule: as the wrapped backend's (UI thread; postFromAnyThread from any thread).
#pragma once

#include <QString>

#include <memory>

#include "platform/qt/qt_backend.h"
#include "tools/screenshots/screenshot_driver.h"

namespace screenshots {

using namespace platform::ui;

class ScreenshotBackend : public Backend {
public:
    // The folder must exist.
    explicit ScreenshotBackend(const QString& directory);
    ~ScreenshotBackend() override;

    WindowId createDialog(const DialogTemplate& dialog, WindowId parent, WindowRole role,
                          WindowEvents* events) override
    {
        return qt_.createDialog(dialog, parent, role, events);
    }
    WindowId createSheet(WindowEvents* events) override { return qt_.createSheet(events); }
    void destroyWindow(WindowId window) override { qt_.destroyWindow(window); }
    void showSheetPage(WindowId sheet, WindowId page) override
    {
        qt_.showSheetPage(sheet, page);
        driver_->activity();
        driver_->pageShown(sheet, page);
    }
    void setWizardButtons(WindowId sheet, const WizardButtonsView& view) override
    {
        qt_.setWizardButtons(sheet, view);
        driver_->activity();
    }
    int runModal(WindowId window) override
    {
        driver_->modalShown(window);
        return qt_.runModal(window);
    }
    void endModal(WindowId window, int result) override { qt_.endModal(window, result); }
    PumpResult pumpOne() override { return qt_.pumpOne(); }
    void post(WindowId window, const PostedMessage& message) override { qt_.post(window, message); }
    void postFromAnyThread(WindowId window, const PostedMessage& message) override
    {
        qt_.postFromAnyThread(window, message);
    }
    void setTimer(WindowId window, int timerId, uint32_t periodMs) override { qt_.setTimer(window, timerId, periodMs); }
    void killTimer(WindowId window, int timerId) override { qt_.killTimer(window, timerId); }
    void setText(WindowId window, int controlId, const std::string& text) override
    {
        qt_.setText(window, controlId, text);
        driver_->activity();
    }
    std::string text(WindowId window, int controlId) override { return qt_.text(window, controlId); }
    void setEnabled(WindowId window, int controlId, bool enabled) override
    {
        qt_.setEnabled(window, controlId, enabled);
        driver_->activity();
    }
    bool isEnabled(WindowId window, int controlId) override { return qt_.isEnabled(window, controlId); }
    void setToolTip(WindowId window, int controlId, const std::string& text) override
    {
        qt_.setToolTip(window, controlId, text);
    }
    std::string toolTip(WindowId window, int controlId) override { return qt_.toolTip(window, controlId); }
    void setChecked(WindowId window, int controlId, bool checked) override
    {
        qt_.setChecked(window, controlId, checked);
        driver_->activity();
    }
    bool isChecked(WindowId window, int controlId) override { return qt_.isChecked(window, controlId); }
    void setImage(WindowId window, int controlId, int32_t imageId) override
    {
        qt_.setImage(window, controlId, imageId);
        driver_->activity();
    }
    void setProgressRange(WindowId window, int controlId, int low, int high) override
    {
        qt_.setProgressRange(window, controlId, low, high);
    }
    void setProgressPos(WindowId window, int controlId, int pos) override
    {
        qt_.setProgressPos(window, controlId, pos);
        driver_->activity();
    }
    int progressPos(WindowId window, int controlId) override { return qt_.progressPos(window, controlId); }
    void listReset(WindowId window, int controlId) override
    {
        qt_.listReset(window, controlId);
        driver_->activity();
    }
    int listAdd(WindowId window, int controlId, const std::string& text) override
    {
        int index = qt_.listAdd(window, controlId, text);
        driver_->activity();
        return index;
    }
    void listSetData(WindowId window, int controlId, int index, intptr_t data) override
    {
        qt_.listSetData(window, controlId, index, data);
    }
    intptr_t listData(WindowId window, int controlId, int index) override { return qt_.listData(window, controlId, index); }
    int listCount(WindowId window, int controlId) override { return qt_.listCount(window, controlId); }
    std::string listText(WindowId window, int controlId, int index) override
    {
        return qt_.listText(window, controlId, index);
    }
    int listSelection(WindowId window, int controlId) override { return qt_.listSelection(window, controlId); }
    void listSelect(WindowId window, int controlId, int index) override
    {
        qt_.listSelect(window, controlId, index);
        driver_->activity();
    }
    void setTextLimit(WindowId window, int controlId, int limit) override { qt_.setTextLimit(window, controlId, limit); }
    int editLineCount(WindowId window, int controlId) override { return qt_.editLineCount(window, controlId); }
    int editLineIndex(WindowId window, int controlId, int line) override
    {
        return qt_.editLineIndex(window, controlId, line);
    }
    int editLineLength(WindowId window, int controlId, int charIndex) override
    {
        return qt_.editLineLength(window, controlId, charIndex);
    }
    void editSetSelection(WindowId window, int controlId, int start, int end) override
    {
        qt_.editSetSelection(window, controlId, start, end);
    }
    void editReplaceSelection(WindowId window, int controlId, const std::string& text) override
    {
        qt_.editReplaceSelection(window, controlId, text);
        driver_->activity();
    }
    void setWindowIcon(WindowId window, int32_t imageId) override
    {
        qt_.setWindowIcon(window, imageId);
        driver_->activity();
    }
    void appendSystemMenuItem(WindowId window, uint32_t command, const std::string& text) override
    {
        qt_.appendSystemMenuItem(window, command, text);
    }
    int messageBox(WindowId owner, const std::string& text, const std::string& caption, MessageBoxIcon icon,
                   MessageBoxButtons buttons) override;
    void repaintNow(WindowId window) override { qt_.repaintNow(window); }
    void beginWaitCursor() override { qt_.beginWaitCursor(); }
    void endWaitCursor() override { qt_.endWaitCursor(); }

private:
    platform::qt::QtBackend qt_;
    std::unique_ptr<ScreenshotDriver> driver_;
};

}  // namespace screenshots
