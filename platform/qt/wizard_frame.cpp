#include "platform/qt/wizard_frame.h"

#include <QCloseEvent>
#include <QFrame>
#include <QPushButton>

#include <optional>

#include "platform/qt/dialog_view.h"
#include "platform/ui/control_rules.h"
#include "platform/ui/dialog_template.h"

namespace platform::qt {

using platform::ui::WizardButton;

namespace {

// The frame's own layout, in dialog units of the page font, after the system's wizard frames:
// a margin round the page, a separator, a row of 50 x 14 buttons at the bottom right with Back
// and Next side by side and a gap before Cancel and before Help.
constexpr int MarginDu = 7;
constexpr int ButtonWidthDu = 50;
constexpr int ButtonHeightDu = 14;
constexpr int ButtonGapDu = 6;

constexpr const char* BackText = "< &Back";
constexpr const char* NextText = "&Next >";
constexpr const char* FinishText = "Finish";
constexpr const char* CancelText = "Cancel";
constexpr const char* HelpText = "&Help";

}  // namespace

WizardFrame::WizardFrame(Press press, Close close)
    : QDialog(nullptr), press_(std::move(press)), close_(std::move(close))
{
    using platform::ui::PageHeightDu;
    using platform::ui::PageWidthDu;
    setFont(dialogFont(QString::fromLatin1(platform::ui::DialogFontName),
                       platform::ui::DialogFontPoints));
    DialogBaseUnits base = baseUnitsOf(font());
    auto x = [&](int du) { return dialogXToPixels(du, base); };
    auto y = [&](int du) { return dialogYToPixels(du, base); };

    pageArea_ = new QWidget(this);
    pageArea_->setGeometry(x(MarginDu), y(MarginDu), x(PageWidthDu), y(PageHeightDu));

    int separatorY = y(MarginDu + PageHeightDu + MarginDu);
    int width = x(MarginDu + PageWidthDu + MarginDu);
    auto* separator = new QFrame(this);
    separator->setFrameStyle(QFrame::HLine | QFrame::Sunken);
    separator->setGeometry(x(MarginDu), separatorY - 1, width - 2 * x(MarginDu), 2);

    int buttonsY = separatorY + y(MarginDu);
    back_ = addButton(BackText, WizardButton::Back);
    next_ = addButton(NextText, WizardButton::Next);
    finish_ = addButton(FinishText, WizardButton::Finish);
    cancel_ = addButton(CancelText, WizardButton::Cancel);
    help_ = addButton(HelpText, WizardButton::Help);
    int right = width - x(MarginDu);
    int w = x(ButtonWidthDu), h = y(ButtonHeightDu), gap = x(ButtonGapDu);
    help_->setGeometry(right - w, buttonsY, w, h);
    cancel_->setGeometry(right - 2 * w - gap, buttonsY, w, h);
    next_->setGeometry(right - 3 * w - 2 * gap, buttonsY, w, h);
    finish_->setGeometry(next_->geometry());
    back_->setGeometry(right - 4 * w - 2 * gap, buttonsY, w, h);
    finish_->hide();

    setFixedSize(width, buttonsY + h + y(MarginDu));
    // A frame window: close box and title, no help or resize decorations.
    setWindowFlags(FixedWindowFlags);
}

QPushButton* WizardFrame::addButton(const char* text, WizardButton which)
{
    auto* button = new QPushButton(QString::fromLatin1(text), this);
    // Enter is handled by the backend (a page may consume it first); Qt's automatic default
    // would press Next behind the page's back.
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, which] { press_(which); });
    return button;
}

void WizardFrame::setButtons(const platform::ui::WizardButtonsView& view)
{
    view_ = view;
    back_->setVisible(view.backVisible);
    back_->setEnabled(view.backEnabled);
    next_->setVisible(view.nextVisible && !view.finishVisible);
    next_->setEnabled(view.nextEnabled);
    finish_->setVisible(view.finishVisible);
    finish_->setEnabled(view.finishEnabled);
    finish_->setText(toQt(view.finishText));
    // Drawn as the default button, the one Enter presses; the pressing itself stays with the
    // backend's key routing.
    QPushButton* pressedByEnter = defaultButton();
    next_->setDefault(pressedByEnter == next_);
    finish_->setDefault(pressedByEnter == finish_);
}

bool WizardFrame::isButton(const QWidget* widget) const
{
    return widget != nullptr && (widget == back_ || widget == next_ || widget == finish_ ||
                                 widget == cancel_ || widget == help_);
}

QPushButton* WizardFrame::button(WizardButton which) const
{
    switch (which) {
    case WizardButton::Back: return back_;
    case WizardButton::Next: return next_;
    case WizardButton::Finish: return finish_;
    case WizardButton::Cancel: return cancel_;
    case WizardButton::Help: return help_;
    }
    return nullptr;
}

QPushButton* WizardFrame::defaultButton() const
{
    std::optional<platform::ui::WizardButton> pressed = platform::ui::enterWizardButton(view_);
    return pressed ? button(*pressed) : nullptr;
}

void WizardFrame::closeEvent(QCloseEvent* event)
{
    // The window stays until the window layer destroys it; the close box is only a request.
    event->ignore();
    close_();
}

void WizardFrame::reject()
{
    // QDialog's own Escape handling: the same request as the close box.
    close_();
}

}  // namespace platform::qt
