#include "platform/qt/dialog_view.h"

#include <QAbstractButton>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QKeyEvent>
#include <QListWidget>
#include <QPainter>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QValidator>

#include <algorithm>

#include "platform/qt/qt_pictures.h"
#include "platform/ui/control_rules.h"

namespace platform::qt {

using platform::ui::ControlKind;
using platform::ui::ControlTemplate;
using platform::ui::DialogTemplate;
using platform::ui::Notification;

namespace {

constexpr int IconSidePx = 32;  // icon controls take the icon's size, whatever the template says
constexpr int ProgressDefaultHigh = 100;
using platform::ui::EditLineBreak;
using platform::ui::EditLineBreakLength;
// Text one pixel inside the edge, so "100%" still fits the percentage field.
constexpr int SunkenEdgePx = 1;
constexpr int SunkenTextInsetPx = 2;
constexpr const char* SunkenProperty = "tarvoSunken";
const QColor SunkenShadow(128, 128, 128);
const QColor SunkenHighlight(255, 255, 255);

// A static text; with the sunken style it draws a one-pixel edge as the system does (shadow
// top and left, highlight bottom and right). The styles' own panels come out in the light
// colour of a light dialog, where they all but disappear.
class StaticText : public QLabel {
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLabel::paintEvent(event);
        if (!property(SunkenProperty).toBool()) {
            return;
        }
        QPainter painter(this);
        int right = width() - 1, bottom = height() - 1;
        painter.setPen(SunkenShadow);
        painter.drawLine(0, 0, right, 0);
        painter.drawLine(0, 0, 0, bottom);
        painter.setPen(SunkenHighlight);
        painter.drawLine(0, bottom, right, bottom);
        painter.drawLine(right, 0, right, bottom);
    }
};

// A single-selection list box as the system's: the arrow, page and Home/End keys select the
// item they land on, also when they cannot move (the only item, or already at the end), so a
// list of one can be chosen from the keyboard.
class ListBox : public QListWidget {
public:
    using QListWidget::QListWidget;

protected:
    void keyPressEvent(QKeyEvent* event) override
    {
        QListWidget::keyPressEvent(event);
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_Home:
        case Qt::Key_End:
            break;
        default:
            return;
        }
        if (!selectedItems().isEmpty() || count() == 0) {
            return;
        }
        QListWidgetItem* item = currentItem() != nullptr ? currentItem() : this->item(0);
        setCurrentItem(item, QItemSelectionModel::ClearAndSelect);
    }
};

bool has(uint32_t style, uint32_t flag)
{
    return (style & flag) != 0;
}

// Typing into an edit box: the digits-only style and the text limit apply to what the user
// types; text set from code is taken as it is.
class EditValidator : public QValidator {
public:
    EditValidator(bool digitsOnly, QObject* parent) : QValidator(parent), digitsOnly_(digitsOnly) {}
    void setLimit(int limit) { limit_ = limit; }

    State validate(QString& input, int&) const override
    {
        if (digitsOnly_ && std::any_of(input.begin(), input.end(), [](QChar c) {
                return c < QLatin1Char('0') || c > QLatin1Char('9');
            })) {
            return Invalid;
        }
        if (limit_ > 0 && input.size() > limit_) {
            return Invalid;
        }
        return Acceptable;
    }

private:
    bool digitsOnly_;
    int limit_ = 0;
};

// Multi-line edits keep "\r\n" between lines in the window layer and "\n" in Qt.
QString windowsToQtLines(const std::string& text)
{
    QString q = toQt(text);
    q.replace(QLatin1String(EditLineBreak), QLatin1String("\n"));
    return q;
}

std::string qtToWindowsLines(const QString& text)
{
    QString q = text;
    q.replace(QLatin1String("\n"), QLatin1String(EditLineBreak));
    return fromQt(q);
}

// A character index of the "\r\n" text to a position in the Qt document and back.
int windowsToQtIndex(const std::string& text, int index)
{
    int qt = 0;
    for (int i = 0; i < index && i < static_cast<int>(text.size()); ++i) {
        if (text.compare(static_cast<size_t>(i), EditLineBreakLength, EditLineBreak) == 0) {
            ++i;  // the pair is one position in Qt
        }
        ++qt;
    }
    return qt;
}

int qtToWindowsIndex(const std::string& text, int qtIndex)
{
    int i = 0;
    for (int qt = 0; qt < qtIndex && i < static_cast<int>(text.size()); ++qt) {
        i += text.compare(static_cast<size_t>(i), EditLineBreakLength, EditLineBreak) == 0
                 ? EditLineBreakLength
                 : 1;
    }
    return i;
}

}  // namespace

QString toQt(const std::string& text)
{
    return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

std::string fromQt(const QString& text)
{
    QByteArray bytes = text.toLatin1();
    return std::string(bytes.constData(), static_cast<size_t>(bytes.size()));
}

DialogView::DialogView(const DialogTemplate& dialog, Notify notify, QWidget* parent)
    : QWidget(parent), notify_(std::move(notify)), enterCommand_(platform::ui::enterCommandId(dialog))
{
    setFont(dialogFont(toQt(dialog.fontName), dialog.fontPoints));
    base_ = baseUnitsOf(font());
    clientSize_ = QSize(dialogXToPixels(dialog.cx, base_), dialogYToPixels(dialog.cy, base_));
    resize(clientSize_);
    std::vector<QWidget*> frames;
    for (const ControlTemplate& c : dialog.controls) {
        QWidget* w = createControl(c);
        if (w == nullptr) {
            continue;
        }
        if (c.kind == ControlKind::GroupBox || c.kind == ControlKind::Picture) {
            frames.push_back(w);
        }
        if (has(c.style, platform::ui::StyleDisabled)) {
            w->setEnabled(false);
        }
        w->setProperty(ControlIdProperty, c.id);
        if (c.id != platform::ui::StaticControlId) {
            // The validator is a child of its edit box (null for every other kind).
            QObject* validator = w->findChild<EditValidator*>(QString(), Qt::FindDirectChildrenOnly);
            controls_[c.id] = Control{c.kind, c.style, w, validator};
        }
    }
    // Frames and pictures go to the bottom so they never take the clicks of the controls drawn
    // inside them, whatever their place in the template.
    for (QWidget* w : frames) {
        w->lower();
    }
}

QWidget* DialogView::createControl(const ControlTemplate& c)
{
    QRect rect = dialogRectToPixels(c.x, c.y, c.cx, c.cy, base_);
    QWidget* w = nullptr;
    const int id = c.id;
    switch (c.kind) {
    case ControlKind::Text: {
        auto* label = new StaticText(this);
        label->setTextFormat(Qt::PlainText);  // model names from the INI are text, never markup
        label->setWordWrap(true);
        Qt::Alignment horizontal = has(c.style, platform::ui::StyleRightAlign) ? Qt::AlignRight
                                   : has(c.style, platform::ui::StyleCenter) ? Qt::AlignHCenter
                                                                              : Qt::AlignLeft;
        label->setAlignment(horizontal | Qt::AlignTop);
        if (has(c.style, platform::ui::StyleSunken) || has(c.style, platform::ui::StyleBorder)) {
            label->setContentsMargins(SunkenTextInsetPx, SunkenEdgePx, SunkenTextInsetPx, SunkenEdgePx);
            label->setProperty(SunkenProperty, true);
            // These are one-line fields barely taller than the font: wrapping would only push
            // a long text out of sight.
            label->setWordWrap(false);
        }
        label->setText(toQt(c.text));
        w = label;
        break;
    }
    case ControlKind::GroupBox:
        w = new QGroupBox(toQt(c.text), this);
        break;
    case ControlKind::Picture:
    case ControlKind::Icon: {
        auto* label = new QLabel(this);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        QPixmap pixmap = picturePixmap(c.image);
        label->setPixmap(pixmap);
        // As the system's picture controls do: an icon control takes the icon's size, a bitmap
        // control the bitmap's.
        if (c.kind == ControlKind::Icon) {
            rect.setSize(QSize(IconSidePx, IconSidePx));
        } else if (!pixmap.isNull()) {
            rect.setSize(pixmap.size());
        }
        w = label;
        break;
    }
    case ControlKind::ListBox: {
        auto* list = new ListBox(this);
        list->setSelectionMode(QAbstractItemView::SingleSelection);
        list->setFrameShape(has(c.style, platform::ui::StyleBorder) ? QFrame::StyledPanel
                                                                     : QFrame::NoFrame);
        list->setVerticalScrollBarPolicy(has(c.style, platform::ui::StyleVScroll)
                                             ? Qt::ScrollBarAsNeeded
                                             : Qt::ScrollBarAlwaysOff);
        list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        if (has(c.style, platform::ui::StyleNotify)) {
            // Only the user's changes are reported: code changes the list with signals blocked.
            connect(list, &QListWidget::itemSelectionChanged, this,
                    [this, id] { notify_(id, Notification::SelectionChanged); });
        }
        w = list;
        break;
    }
    case ControlKind::Edit:
        if (has(c.style, platform::ui::StyleMultiline)) {
            auto* edit = new QPlainTextEdit(this);
            edit->setReadOnly(has(c.style, platform::ui::StyleReadOnly));
            edit->setFrameShape(has(c.style, platform::ui::StyleBorder) ? QFrame::StyledPanel
                                                                         : QFrame::NoFrame);
            edit->setVerticalScrollBarPolicy(has(c.style, platform::ui::StyleVScroll)
                                                 ? Qt::ScrollBarAsNeeded
                                                 : Qt::ScrollBarAlwaysOff);
            edit->setHorizontalScrollBarPolicy(has(c.style, platform::ui::StyleHScroll)
                                                   ? Qt::ScrollBarAsNeeded
                                                   : Qt::ScrollBarAlwaysOff);
            // Horizontal auto-scroll on a multi-line box means its lines are never wrapped.
            edit->setLineWrapMode(has(c.style, platform::ui::StyleAutoHScroll)
                                      ? QPlainTextEdit::NoWrap
                                      : QPlainTextEdit::WidgetWidth);
            edit->setPlainText(windowsToQtLines(c.text));
            edit->setTabChangesFocus(true);
            w = edit;
        } else {
            auto* edit = new QLineEdit(toQt(c.text), this);
            edit->setFrame(has(c.style, platform::ui::StyleBorder));
            edit->setReadOnly(has(c.style, platform::ui::StyleReadOnly));
            auto* validator = new EditValidator(has(c.style, platform::ui::StyleDigitsOnly), edit);
            validator->setLimit(c.textLimit);
            edit->setValidator(validator);
            w = edit;
        }
        break;
    case ControlKind::RadioButton: {
        auto* radio = new QRadioButton(toQt(c.text), this);
        connect(radio, &QAbstractButton::clicked, this, [this, id] {
            notify_(id, Notification::Clicked);
        });
        w = radio;
        break;
    }
    case ControlKind::PushButton: {
        auto* button = new QPushButton(toQt(c.text), this);
        // Enter is routed by the backend (default button, pre-translate hook); Qt's own
        // default-button logic would press a button behind the page's back.
        button->setAutoDefault(false);
        connect(button, &QAbstractButton::clicked, this, [this, id] {
            notify_(id, Notification::Clicked);
        });
        w = button;
        break;
    }
    case ControlKind::ProgressBar: {
        auto* bar = new QProgressBar(this);
        bar->setRange(0, ProgressDefaultHigh);
        bar->setValue(0);
        bar->setTextVisible(false);
        w = bar;
        break;
    }
    }
    if (w != nullptr) {
        w->setGeometry(rect);
        if (!has(c.style, platform::ui::StyleTabStop) && c.kind != ControlKind::Edit &&
            c.kind != ControlKind::ListBox && c.kind != ControlKind::PushButton &&
            c.kind != ControlKind::RadioButton) {
            w->setFocusPolicy(Qt::NoFocus);
        }
    }
    return w;
}

QWidget* DialogView::control(int controlId) const
{
    const Control* c = find(controlId);
    return c != nullptr ? c->widget : nullptr;
}

const DialogView::Control* DialogView::find(int id) const
{
    auto found = controls_.find(id);
    return found == controls_.end() ? nullptr : &found->second;
}

const DialogView::Control* DialogView::findKind(int id, ControlKind kind) const
{
    const Control* c = find(id);
    return c != nullptr && c->kind == kind ? c : nullptr;
}

void DialogView::setControlText(int id, const std::string& text)
{
    const Control* c = find(id);
    if (c == nullptr) {
        return;
    }
    if (auto* label = qobject_cast<QLabel*>(c->widget)) {
        label->setText(toQt(text));
    } else if (auto* line = qobject_cast<QLineEdit*>(c->widget)) {
        line->setText(toQt(text));
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(c->widget)) {
        plain->setPlainText(windowsToQtLines(text));
    } else if (auto* group = qobject_cast<QGroupBox*>(c->widget)) {
        group->setTitle(toQt(text));
    } else if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
        button->setText(toQt(text));
    }
}

std::string DialogView::controlText(int id) const
{
    const Control* c = find(id);
    if (c == nullptr) {
        return std::string();
    }
    if (auto* label = qobject_cast<QLabel*>(c->widget)) {
        return fromQt(label->text());
    }
    if (auto* line = qobject_cast<QLineEdit*>(c->widget)) {
        return fromQt(line->text());
    }
    if (auto* plain = qobject_cast<QPlainTextEdit*>(c->widget)) {
        return qtToWindowsLines(plain->toPlainText());
    }
    if (auto* group = qobject_cast<QGroupBox*>(c->widget)) {
        return fromQt(group->title());
    }
    if (auto* button = qobject_cast<QAbstractButton*>(c->widget)) {
        return fromQt(button->text());
    }
    return std::string();
}

void DialogView::setControlEnabled(int id, bool enabled)
{
    if (const Control* c = find(id)) {
        c->widget->setEnabled(enabled);
    }
}

bool DialogView::controlEnabled(int id) const
{
    const Control* c = find(id);
    return c != nullptr && c->widget->isEnabled();
}

void DialogView::setChecked(int id, bool checked)
{
    const Control* c = findKind(id, ControlKind::RadioButton);
    if (c == nullptr) {
        return;
    }
    auto* radio = static_cast<QRadioButton*>(c->widget);
    // Qt refuses to uncheck the checked button of an exclusive group; the system's radio
    // buttons can be unchecked from code, so the exclusivity is lifted for the change.
    QSignalBlocker block(radio);
    bool exclusive = radio->autoExclusive();
    radio->setAutoExclusive(false);
    radio->setChecked(checked);
    radio->setAutoExclusive(exclusive);
}

bool DialogView::checked(int id) const
{
    const Control* c = findKind(id, ControlKind::RadioButton);
    return c != nullptr && static_cast<QRadioButton*>(c->widget)->isChecked();
}

void DialogView::setImage(int id, int32_t imageId)
{
    const Control* c = find(id);
    if (c == nullptr || (c->kind != ControlKind::Icon && c->kind != ControlKind::Picture)) {
        return;
    }
    static_cast<QLabel*>(c->widget)->setPixmap(picturePixmap(imageId));
}

void DialogView::setProgressRange(int id, int low, int high)
{
    if (const Control* c = findKind(id, ControlKind::ProgressBar)) {
        static_cast<QProgressBar*>(c->widget)->setRange(low, high);
    }
}

void DialogView::setProgressPos(int id, int pos)
{
    if (const Control* c = findKind(id, ControlKind::ProgressBar)) {
        auto* bar = static_cast<QProgressBar*>(c->widget);
        // The system clamps a position outside the range; Qt would ignore it.
        bar->setValue(std::clamp(pos, bar->minimum(), bar->maximum()));
    }
}

int DialogView::progressPos(int id) const
{
    const Control* c = findKind(id, ControlKind::ProgressBar);
    return c != nullptr ? static_cast<QProgressBar*>(c->widget)->value() : 0;
}

void DialogView::listReset(int id)
{
    if (const Control* c = findKind(id, ControlKind::ListBox)) {
        auto* list = static_cast<QListWidget*>(c->widget);
        QSignalBlocker block(list);
        list->clear();
    }
}

int DialogView::listAdd(int id, const std::string& text)
{
    const Control* c = findKind(id, ControlKind::ListBox);
    if (c == nullptr) {
        return -1;
    }
    auto* list = static_cast<QListWidget*>(c->widget);
    QSignalBlocker block(list);
    QString item = toQt(text);
    int index = list->count();
    if (has(c->style, platform::ui::StyleSorted)) {
        index = platform::ui::sortedInsertIndex(
            index, [list](int i) { return fromQt(list->item(i)->text()); }, text);
    }
    auto* entry = new QListWidgetItem(item);
    entry->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(0));
    list->insertItem(index, entry);
    return index;
}

void DialogView::listSetData(int id, int index, intptr_t data)
{
    const Control* c = findKind(id, ControlKind::ListBox);
    if (c == nullptr) {
        return;
    }
    if (QListWidgetItem* item = static_cast<QListWidget*>(c->widget)->item(index)) {
        item->setData(Qt::UserRole, QVariant::fromValue<qlonglong>(data));
    }
}

intptr_t DialogView::listData(int id, int index) const
{
    const Control* c = findKind(id, ControlKind::ListBox);
    if (c == nullptr) {
        return -1;
    }
    QListWidgetItem* item = static_cast<QListWidget*>(c->widget)->item(index);
    return item != nullptr ? static_cast<intptr_t>(item->data(Qt::UserRole).toLongLong()) : -1;
}

int DialogView::listCount(int id) const
{
    const Control* c = findKind(id, ControlKind::ListBox);
    return c != nullptr ? static_cast<QListWidget*>(c->widget)->count() : -1;
}

std::string DialogView::listText(int id, int index) const
{
    const Control* c = findKind(id, ControlKind::ListBox);
    if (c == nullptr) {
        return std::string();
    }
    QListWidgetItem* item = static_cast<QListWidget*>(c->widget)->item(index);
    return item != nullptr ? fromQt(item->text()) : std::string();
}

int DialogView::listSelection(int id) const
{
    const Control* c = findKind(id, ControlKind::ListBox);
    if (c == nullptr) {
        return -1;
    }
    auto* list = static_cast<QListWidget*>(c->widget);
    QList<QListWidgetItem*> selected = list->selectedItems();
    return selected.isEmpty() ? -1 : list->row(selected.front());
}

void DialogView::listSelect(int id, int index)
{
    const Control* c = findKind(id, ControlKind::ListBox);
    if (c == nullptr) {
        return;
    }
    auto* list = static_cast<QListWidget*>(c->widget);
    QSignalBlocker block(list);
    if (index < 0 || index >= list->count()) {
        list->clearSelection();
        list->setCurrentRow(-1);
        return;
    }
    list->setCurrentRow(index);
    list->item(index)->setSelected(true);
}

void DialogView::setTextLimit(int id, int limit)
{
    const Control* c = findKind(id, ControlKind::Edit);
    if (c == nullptr) {
        return;
    }
    if (c->validator != nullptr) {
        static_cast<EditValidator*>(c->validator)->setLimit(limit);
    }
}

int DialogView::editLineCount(int id) const
{
    if (findKind(id, ControlKind::Edit) == nullptr) {
        return -1;
    }
    return static_cast<int>(platform::ui::editLineStarts(controlText(id)).size());
}

int DialogView::caretOf(int id) const
{
    auto* plain = qobject_cast<QPlainTextEdit*>(find(id)->widget);
    return plain != nullptr ? qtToWindowsIndex(controlText(id), plain->textCursor().position()) : 0;
}

int DialogView::editLineIndex(int id, int line) const
{
    if (findKind(id, ControlKind::Edit) == nullptr) {
        return -1;
    }
    return platform::ui::editLineIndexIn(controlText(id), line, line < 0 ? caretOf(id) : 0);
}

int DialogView::editLineLength(int id, int charIndex) const
{
    if (findKind(id, ControlKind::Edit) == nullptr) {
        return 0;
    }
    return platform::ui::editLineLengthIn(controlText(id), charIndex, charIndex < 0 ? caretOf(id) : 0);
}

void DialogView::editSetSelection(int id, int start, int end)
{
    const Control* c = findKind(id, ControlKind::Edit);
    if (c == nullptr) {
        return;
    }
    std::string text = controlText(id);
    int size = static_cast<int>(text.size());
    int from = std::clamp(start, 0, size);
    int to = end < 0 ? size : std::clamp(end, 0, size);
    if (auto* line = qobject_cast<QLineEdit*>(c->widget)) {
        line->setSelection(from, to - from);
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(c->widget)) {
        QTextCursor cursor(plain->document());
        cursor.setPosition(windowsToQtIndex(text, from));
        cursor.setPosition(windowsToQtIndex(text, to), QTextCursor::KeepAnchor);
        plain->setTextCursor(cursor);
    }
}

void DialogView::editReplaceSelection(int id, const std::string& text)
{
    const Control* c = findKind(id, ControlKind::Edit);
    if (c == nullptr) {
        return;
    }
    if (auto* line = qobject_cast<QLineEdit*>(c->widget)) {
        // insert() would run the validator over code's text; the text is put together here.
        QString present = line->text();
        int from = line->hasSelectedText() ? line->selectionStart() : line->cursorPosition();
        int length = line->hasSelectedText() ? static_cast<int>(line->selectedText().size()) : 0;
        QString inserted = toQt(text);
        line->setText(present.left(from) + inserted + present.mid(from + length));
        line->setCursorPosition(from + static_cast<int>(inserted.size()));
    } else if (auto* plain = qobject_cast<QPlainTextEdit*>(c->widget)) {
        QTextCursor cursor = plain->textCursor();
        cursor.insertText(windowsToQtLines(text));
        plain->setTextCursor(cursor);
    }
}

}  // namespace platform::qt
