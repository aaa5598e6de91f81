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

BoxDriver::BoxDriver(Win32Platform& platform) : platform_(platform) {
  poll_ = platform_.CreateTimer([this] { Poll(); });
  poll_->Start(20);
}

void BoxDriver::Answer(BoxSeen* seen, std::wstring button, int button_id, std::wstring type) {
  pending_.push_back({seen, std::move(button), button_id, std::move(type)});
}

void BoxDriver::Poll() {
  if (pending_.empty()) return;
  HWND dialog = OpenDialog();
  if (dialog == nullptr) last_ = nullptr;
  if (dialog == nullptr || dialog == last_) return;
  const Pending answer = pending_.front();
  pending_.pop_front();
  last_ = dialog;
  BoxSeen* seen = answer.Seen;
  seen->Shown = true;
  seen->Title = TextOf(dialog);
  HWND press = nullptr;
  for (HWND child = GetWindow(dialog, GW_CHILD); child != nullptr;
       child = GetWindow(child, GW_HWNDNEXT)) {
    const std::wstring kind = ClassOf(child);
    const std::wstring text = TextOf(child);
    if (kind == L"Button") {
      seen->Buttons.push_back(text);
      if ((!answer.Button.empty() && WithoutAmpersand(text) == WithoutAmpersand(answer.Button)) ||
          (answer.ButtonId != 0 && GetDlgCtrlID(child) == answer.ButtonId))
        press = child;
    } else if (kind == L"Static" && !text.empty() && seen->Text.empty()) {
      seen->Text = text;
    } else if (kind == L"Edit" && !answer.Type.empty()) {
      SetWindowTextW(child, answer.Type.c_str());
    }
  }
  if (press != nullptr)
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(press), BN_CLICKED),
                 reinterpret_cast<LPARAM>(press));
  else
    PostMessageW(dialog, WM_CLOSE, 0, 0);
}

}  // namespace mvx::test
