// The Win32 backend for the tests: made with the common controls registered, events settled by
// its own pump, keys typed as the keyboard would deliver them (WM_KEYDOWN posted to the control).
// Thread rule: the test's thread, which is the backend's UI thread.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <memory>

#include "platform/ui/backend.h"
#include "platform/win32/window/win32_backend.h"

namespace win32test {

// Enough turns of the pump for everything pending now and what it posts in turn.
constexpr int SettleRounds = 3;
constexpr DWORD SettleSleepMs = 1;

struct Win32Traits {
    static std::unique_ptr<platform::ui::Backend> make()
    {
        INITCOMMONCONTROLSEX controls{};
        controls.dwSize = sizeof(controls);
        controls.dwICC = ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES;
        InitCommonControlsEx(&controls);
        return std::make_unique<platform::win32ui::Win32Backend>();
    }
    static void settle(platform::ui::Backend& ui)
    {
        for (int round = 0; round < SettleRounds; ++round) {
            while (ui.pumpOne() == platform::ui::PumpResult::Dispatched) {
            }
            Sleep(SettleSleepMs);
        }
    }
    static void pressKey(platform::ui::Backend& ui, platform::ui::WindowId window, int controlId,
                         platform::ui::Key key)
    {
        auto& win = static_cast<platform::win32ui::Win32Backend&>(ui);
        HWND target = win.controlHandle(window, controlId);
        PostMessageA(target, WM_KEYDOWN, key == platform::ui::Key::Enter ? VK_RETURN : VK_ESCAPE, 0);
        settle(ui);
    }
};

}  // namespace win32test
