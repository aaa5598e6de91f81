// The hidden window that hears the system's device-change broadcasts.
#include "hid/windows/win_hid_api.h"
// after windows.h
#include <dbt.h>

namespace mvx::win {
namespace {

class ChangeWindow : public IWatch {
 public:
  explicit ChangeWindow(std::function<void()> on_change) : on_change_(std::move(on_change)) {}
  ~ChangeWindow() override {
    if (window_ != nullptr) {
      SetWindowLongPtrA(window_, GWLP_USERDATA, 0);
      DestroyWindow(window_);
    }
  }
  ChangeWindow(const ChangeWindow&) = delete;
  ChangeWindow& operator=(const ChangeWindow&) = delete;

  bool Create();

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

  std::function<void()> on_change_;
  HWND window_ = nullptr;
};

bool ChangeWindow::Create() {
  HINSTANCE instance = GetModuleHandleA(nullptr);
  WNDCLASSEXA window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = Procedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kChangeWindowClass;
  if (RegisterClassExA(&window_class) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return false;
  // A top-level window that is never shown: a message-only window would not
  // receive the broadcast.
  window_ = CreateWindowExA(0, kChangeWindowClass, "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr,
                            instance, nullptr);
  if (window_ == nullptr) return false;
  SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return true;
}

LRESULT CALLBACK ChangeWindow::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const LRESULT result = DefWindowProcA(window, message, wparam, lparam);
  // Arrivals and removals of single interfaces also come as WM_DEVICECHANGE;
  // a rescan follows only the change of the device tree.
  if (message != WM_DEVICECHANGE || wparam != DBT_DEVNODES_CHANGED) return result;
  auto* self = reinterpret_cast<ChangeWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self == nullptr || !self->on_change_) return result;
  // The broadcaster need not wait for the scan and whatever its handlers show.
  if (InSendMessage()) ReplyMessage(result);
  try {
    self->on_change_();
  } catch (...) {
    // Nothing may unwind through the system's message dispatch; the
    // controller reports its own errors.
  }
  return result;
}

}  // namespace

std::unique_ptr<IWatch> CreateChangeWindow(std::function<void()> on_change) {
  auto window = std::make_unique<ChangeWindow>(std::move(on_change));
  if (!window->Create()) {
    SetLastBackendError(GetLastError());
    return nullptr;
  }
  return window;
}

}  // namespace mvx::win
