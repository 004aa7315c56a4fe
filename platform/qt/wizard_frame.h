// The wizard frame: a page area sized for the pages' templates, a separator and the buttons
// Back, Next, Finish (in Next's place when shown), Cancel and Help. It draws what it is told
// (setButtons) and reports presses and its close box; what a press does is the window layer's.
// Results: none; the frame never acts on its own.
// Thread rule: UI thread.
#pragma once

#include <QDialog>

#include <functional>

#include "platform/qt/dialog_units.h"
#include "platform/ui/backend.h"

class QPushButton;

namespace platform::qt {

class WizardFrame : public QDialog {
public:
    using Press = std::function<void(platform::ui::WizardButton)>;
    using Close = std::function<void()>;

    WizardFrame(Press press, Close close);

    // The area the pages are placed in, at their own size.
    QWidget* pageArea() const { return pageArea_; }
    void setButtons(const platform::ui::WizardButtonsView& view);
    QPushButton* button(platform::ui::WizardButton which) const;
    // The enabled and visible one of Next and Finish, or null: what Enter presses.
    QPushButton* defaultButton() const;
    // One of the frame's own buttons.
    bool isButton(const QWidget* widget) const;

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    QPushButton* addButton(const char* text, platform::ui::WizardButton which);

    Press press_;
    Close close_;
    QWidget* pageArea_ = nullptr;
    QPushButton* back_ = nullptr;
    QPushButton* next_ = nullptr;
    QPushButton* finish_ = nullptr;
    QPushButton* cancel_ = nullptr;
    QPushButton* help_ = nullptr;
    platform::ui::WizardButtonsView view_;
};

}  // namespace platform::qt
