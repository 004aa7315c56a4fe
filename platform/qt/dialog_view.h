// One window's client area built from its dialog template: the controls as Qt widgets placed in
// dialog units of the template's font, and their state by control id in the window layer's terms
// (texts as single-byte strings, "\r\n" line breaks in edit boxes, list items with item data).
// It reports the user's clicks and list selection changes through the callback it is given;
// changes made from code report nothing.
// Results: calls on an unknown control id are ignored; getters then return the value the
// window layer names for "unknown" (platform/ui/backend.h).
// Thread rule: UI thread.
#pragma once

#include <QWidget>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/qt/dialog_units.h"
#include "platform/ui/backend.h"
#include "platform/ui/dialog_template.h"

namespace platform::qt {

// The frame of every fixed-size window (dialogs, the wizard, message boxes): title, system menu
// and close box only. CustomizeWindowHint makes the window manager take exactly these; without it
// X11 window managers add their own maximise and minimise buttons.
inline constexpr Qt::WindowFlags FixedWindowFlags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                                    Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint;

class DialogView : public QWidget {
public:
    using Notify = std::function<void(int controlId, platform::ui::Notification code)>;

    DialogView(const platform::ui::DialogTemplate& dialog, Notify notify, QWidget* parent);

    // Names of the Qt properties that tie a control widget to its id (for key routing).
    static constexpr const char* ControlIdProperty = "tarvoControlId";

    DialogBaseUnits baseUnits() const { return base_; }
    QSize clientSize() const { return clientSize_; }
    QWidget* control(int controlId) const;
    // The push button with the default style, or -1.
    // What Enter sends (platform/ui/control_rules.h, enterCommandId).
    int enterCommand() const { return enterCommand_; }

    void setControlText(int id, const std::string& text);
    std::string controlText(int id) const;
    void setControlEnabled(int id, bool enabled);
    bool controlEnabled(int id) const;
    void setChecked(int id, bool checked);
    bool checked(int id) const;
    void setImage(int id, int32_t imageId);

    void setProgressRange(int id, int low, int high);
    void setProgressPos(int id, int pos);
    int progressPos(int id) const;

    void listReset(int id);
    int listAdd(int id, const std::string& text);
    void listSetData(int id, int index, intptr_t data);
    intptr_t listData(int id, int index) const;
    int listCount(int id) const;
    std::string listText(int id, int index) const;
    int listSelection(int id) const;
    void listSelect(int id, int index);

    void setTextLimit(int id, int limit);
    int editLineCount(int id) const;
    int editLineIndex(int id, int line) const;
    int editLineLength(int id, int charIndex) const;
    // The caret of an edit box as an index into its "\r\n" text.
    int caretOf(int id) const;
    void editSetSelection(int id, int start, int end);
    void editReplaceSelection(int id, const std::string& text);

private:
    struct Control {
        platform::ui::ControlKind kind = platform::ui::ControlKind::Text;
        uint32_t style = 0;
        QWidget* widget = nullptr;
        QObject* validator = nullptr;  // single-line edits: digits-only and the text limit
    };

    QWidget* createControl(const platform::ui::ControlTemplate& c);
    const Control* find(int id) const;
    const Control* findKind(int id, platform::ui::ControlKind kind) const;

    Notify notify_;
    DialogBaseUnits base_;
    QSize clientSize_;
    std::map<int, Control> controls_;
    int enterCommand_ = platform::ui::IdOk;
};

// Text conversions between the window layer's single-byte strings and Qt: Latin-1 both ways,
// so every byte comes back as it went in.
QString toQt(const std::string& text);
std::string fromQt(const QString& text);

}  // namespace platform::qt
