// Dialog templates built in memory: a platform::ui::DialogTemplate turned into the DLGTEMPLATE /
// DLGITEMTEMPLATE bytes that CreateDialogIndirectParamA and a PSP_DLGINDIRECT property page take,
// so every control keeps its id, position and size in dialog units and the window its font
// (DS_SETFONT). Control kinds become the system's classes (STATIC, BUTTON, EDIT, LISTBOX,
// msctls_progress32) with the style flags mapped to theirs; pictures are set after creation
// (win32_pictures.h), as the bytes cannot carry the program's own picture data.
// Thread rule: pure functions, safe anywhere.
#pragma once

#include <windows.h>

#include <cstdint>
#include <vector>

#include "platform/ui/dialog_template.h"

namespace platform::win32ui {

// How the window made from the template sits on the screen.
enum class TemplateRole {
    Dialog,  // a modal dialog of its own, with caption and close box
    Page,    // a child page inside a property sheet
};

// The system's class, style and extended style for one control of a template.
struct ControlClass {
    const wchar_t* className = L"STATIC";
    DWORD style = 0;
    DWORD exStyle = 0;
};
ControlClass controlClass(const platform::ui::ControlTemplate& control);

// The window style of the dialog or page itself.
DWORD dialogStyle(TemplateRole role);

// The template as the dialog manager reads it; DWORD aligned, to be passed as LPCDLGTEMPLATE.
// Kept in WORDs so that the alignment holds.
std::vector<WORD> buildDialogTemplate(const platform::ui::DialogTemplate& dialog, TemplateRole role);

}  // namespace platform::win32ui
