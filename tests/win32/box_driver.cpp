#include "tests/win32/box_driver.h"

#include <algorithm>

#include "app/win32/dialogs.h"

namespace mvx::test {
namespace {

std::wstring TextOf(HWND window) {
  std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
  text.resize(
      static_cast<std::size_t>(GetWindowTextW(window, text.data(), static_cast<int>(text.size()))));
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = {};
  GetClassNameW(window, name, 64);
  return name;
}

std::wstring WithoutAmpersand(std::wstring text) {
  text.erase(std::remove(text.begin(), text.end(), L'&'), text.end());
  return text;
}

// The thread's open dialog window, if any.
HWND OpenDialog() {
  HWND found = nullptr;
  EnumThreadWindows(
      GetCurrentThreadId(),
      [](HWND window, LPARAM out) -> BOOL {
        if (IsWindowVisible(window) && ClassOf(window) == L"#32770") {
          *reinterpret_cast<HWND*>(out) = window;
          return FALSE;
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

BoxDriver::BoxDriver(Win32Platform& platform) : platform_(platform) {}

void BoxDriver::Answer(BoxSeen* seen, std::wstring button, int button_id, std::wstring type) {
  poll_ = platform_.CreateTimer([this, seen, button, button_id, type] {
    HWND dialog = OpenDialog();
    if (dialog == nullptr) return;
    poll_->Stop();
    seen->Shown = true;
    seen->Title = TextOf(dialog);
    HWND press = nullptr;
    for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
      const std::wstring kind = ClassOf(child);
      const std::wstring text = TextOf(child);
      if (kind == L"Button") {
        seen->Buttons.push_back(text);
        if ((!button.empty() && WithoutAmpersand(text) == WithoutAmpersand(button)) ||
            (button_id != 0 && GetDlgCtrlID(child) == button_id))
          press = child;
      } else if (kind == L"Static" && !text.empty() && seen->Text.empty()) {
        seen->Text = text;
      } else if (kind == L"Edit" && !type.empty()) {
        SetWindowTextW(child, type.c_str());
      }
    }
    if (press != nullptr)
      PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(press), BN_CLICKED),
                   reinterpret_cast<LPARAM>(press));
    else
      PostMessageW(dialog, WM_CLOSE, 0, 0);
    // The timer is not destroyed inside its own tick.
    done_.push_back(std::move(poll_));
  });
  poll_->Start(20);
}

}  // namespace mvx::test
