#include "app/win32/win32_platform.h"

#include <commdlg.h>

#include <algorithm>
#include <exception>

#include "app/form.h"
#include "app/win32/dialogs.h"
#include "app/win32/wide_text.h"
#include "base/calendar.h"

namespace mvx {
namespace {

constexpr const wchar_t* kMessageWindowClass = L"MvxTvupMessages";
// A posted call waits in the queue; one message runs one call.
constexpr UINT kRunPosted = WM_APP + 1;
// A timer started with no interval fires on every pass of the loop, as a
// message of its own (wparam: the timer's id), until it is stopped.
constexpr UINT kZeroTimer = WM_APP + 2;

UINT ToButtons(MsgButtons buttons) {
  switch (buttons) {
    case MsgButtons::OkCancel:
      return MB_OKCANCEL;
    case MsgButtons::YesNo:
      return MB_YESNO;
    case MsgButtons::Ok:
      break;
  }
  return MB_OK;
}

UINT ToIcon(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return MB_ICONINFORMATION;
    case MsgIcon::Warning:
      return MB_ICONWARNING;
    case MsgIcon::Error:
      return MB_ICONERROR;
    case MsgIcon::Question:
      return MB_ICONQUESTION;
    case MsgIcon::None:
      break;
  }
  return 0;
}

}  // namespace

std::wstring ToWin32FileFilter(const std::string& filter) {
  std::wstring out = Wide(filter);
  std::replace(out.begin(), out.end(), L'|', L'\0');
  // Two zeros end the list (a zero after the last pattern, then one more).
  out.push_back(L'\0');
  out.push_back(L'\0');
  return out;
}

class Win32Timer final : public ITimerSource {
 public:
  Win32Timer(Win32Platform& platform, std::function<void()> on_fire)
      : platform_(platform), id_(platform.next_timer_id_++) {
    platform_.timers_[id_] = std::move(on_fire);
  }
  ~Win32Timer() override {
    Stop();
    platform_.timers_.erase(id_);
  }
  Win32Timer(const Win32Timer&) = delete;
  Win32Timer& operator=(const Win32Timer&) = delete;

  // A Windows timer fires at the system's timer grain (10 to 16 ms) at the
  // most often; the sequencer's transfer does not wait for it, as each
  // answer runs the next step at once.
  void Start(unsigned interval_ms) override {
    Stop();
    if (interval_ms == 0) {
      platform_.zero_timers_.insert(id_);
      PostMessageW(platform_.messages_, kZeroTimer, id_, 0);
      return;
    }
    SetTimer(platform_.messages_, id_, std::max<unsigned>(interval_ms, USER_TIMER_MINIMUM),
             nullptr);
  }
  void Stop() override {
    KillTimer(platform_.messages_, id_);
    platform_.zero_timers_.erase(id_);
  }

 private:
  Win32Platform& platform_;
  UINT_PTR id_;
};

Win32Platform::Win32Platform()
    : gui_thread_(GetCurrentThreadId()), deliveries_([this](const std::string& text) {
        MessageBox(text, kAppTitle, MsgButtons::Ok, MsgIcon::Error);
      }) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = MessageProcedure;
  window_class.hInstance = instance;
  window_class.lpszClassName = kMessageWindowClass;
  RegisterClassExW(&window_class);  // already registered by an earlier platform: fine
  messages_ = CreateWindowExW(0, kMessageWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              instance, nullptr);
  if (messages_ == nullptr) throw std::runtime_error("The message window cannot be created.");
  SetWindowLongPtrW(messages_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
}

Win32Platform::~Win32Platform() {
  SetWindowLongPtrW(messages_, GWLP_USERDATA, 0);
  DestroyWindow(messages_);
}

LRESULT CALLBACK Win32Platform::MessageProcedure(HWND window, UINT message, WPARAM wparam,
                                                 LPARAM lparam) {
  auto* platform = reinterpret_cast<Win32Platform*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (platform != nullptr) {
    if (message == kRunPosted) {
      platform->RunOnePosted();
      return 0;
    }
    if (message == WM_TIMER || message == kZeroTimer) {
      if (message == kZeroTimer && platform->zero_timers_.count(wparam) == 0) return 0;
      const auto timer = platform->timers_.find(wparam);
      if (timer == platform->timers_.end()) return 0;
      // A copy: the handler may stop and destroy its own timer.
      const std::function<void()> fire = timer->second;
      platform->Deliver(fire);
      if (message == kZeroTimer && platform->zero_timers_.count(wparam) != 0)
        PostMessageW(window, kZeroTimer, wparam, 0);
      return 0;
    }
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void Win32Platform::RunOnePosted() {
  std::function<void()> call;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    wake_posted_ = false;
    if (posted_.empty()) return;
    call = std::move(posted_.front());
    posted_.pop_front();
    // The next call gets a message of its own before this one runs, so that
    // a box this call opens delivers it from its own loop.
    if (!posted_.empty()) wake_posted_ = PostMessageW(messages_, kRunPosted, 0, 0) != 0;
  }
  Deliver(call);
}

void Win32Platform::Deliver(const std::function<void()>& call) {
  deliveries_.Deliver(call);
}

void Win32Platform::Post(std::function<void()> call) {
  // To a window of the GUI thread, never to the thread alone: a modal box's
  // loop dispatches window messages but drops thread messages.
  std::lock_guard<std::mutex> lock(mutex_);
  posted_.push_back(std::move(call));
  if (!wake_posted_) wake_posted_ = PostMessageW(messages_, kRunPosted, 0, 0) != 0;
}

void Win32Platform::PostNext(std::function<void()> call) {
  // Outside a delivery (or off the GUI thread) there is nothing to run after.
  if (GetCurrentThreadId() == gui_thread_ && deliveries_.QueueNext(call)) return;
  Post(std::move(call));
}

std::unique_ptr<ITimerSource> Win32Platform::CreateTimer(std::function<void()> on_fire) {
  return std::make_unique<Win32Timer>(*this, std::move(on_fire));
}

std::unique_ptr<IWatch> Win32Platform::WatchFd(int, std::function<void()>) {
  // Windows has no descriptors to watch: its HID backend hears the system's
  // device-change broadcast through a window of its own.
  return nullptr;
}

MsgAnswer Win32Platform::MessageBox(const std::string& text, const std::string& caption,
                                    MsgButtons buttons, MsgIcon icon) {
  const HWND owner = window_ != nullptr && IsWindow(window_) ? window_ : nullptr;
  switch (MessageBoxW(owner, Wide(text).c_str(), Wide(caption).c_str(),
                      ToButtons(buttons) | ToIcon(icon))) {
    case IDYES:
      return MsgAnswer::Yes;
    case IDNO:
      return MsgAnswer::No;
    case IDCANCEL:
      return MsgAnswer::Cancel;
    default:
      break;
  }
  // OK, or closed without a button: the box's escape answer.
  if (buttons == MsgButtons::YesNo) return MsgAnswer::No;
  return MsgAnswer::Ok;
}

MsgAnswer Win32Platform::WarningDialog(const std::string& text) {
  DialogSpec spec;
  spec.Caption = L"警告";
  spec.Text = Wide(text);
  spec.Icon = IDI_WARNING;
  spec.Buttons = {{IDYES, L"はい(&Y)"}, {IDNO, L"いいえ(&N)"}};
  spec.DefaultId = IDYES;
  spec.EscapeId = IDNO;
  return ShowDialog(window_, spec) == IDYES ? MsgAnswer::Yes : MsgAnswer::No;
}

void Win32Platform::ErrorDialog(const std::string& text) {
  DialogSpec spec;
  spec.Caption = L"エラー";
  spec.Text = Wide(text);
  spec.Icon = IDI_ERROR;
  spec.Buttons = {{IDOK, L"OK"}};
  spec.DefaultId = IDOK;
  spec.EscapeId = IDOK;
  ShowDialog(window_, spec);
}

std::string Win32Platform::InputBox(const std::string& caption, const std::string& prompt) {
  DialogSpec spec;
  spec.Caption = Wide(caption);
  spec.Text = Wide(prompt);
  spec.Buttons = {{IDOK, L"OK"}, {IDCANCEL, L"キャンセル"}};
  spec.DefaultId = IDOK;
  spec.EscapeId = IDCANCEL;
  spec.WithEdit = true;
  std::wstring entered;
  if (ShowDialog(window_, spec, &entered) != IDOK) return {};
  return Narrow(entered);
}

std::optional<std::string> Win32Platform::OpenDialog(const std::string& filter) {
  const std::wstring filters = ToWin32FileFilter(filter);
  std::wstring path(32768, L'\0');
  OPENFILENAMEW dialog{};
  dialog.lStructSize = sizeof dialog;
  dialog.hwndOwner = window_;
  dialog.lpstrFilter = filters.c_str();
  dialog.nFilterIndex = 1;
  dialog.lpstrFile = path.data();
  dialog.nMaxFile = static_cast<DWORD>(path.size());
  // Without OFN_NOCHANGEDIR: the chosen file's folder becomes the working
  // directory, where "_fwbin" and the settings file are found afterwards.
  dialog.Flags = OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
  if (!GetOpenFileNameW(&dialog)) return std::nullopt;
  path.resize(path.find(L'\0'));
  return Narrow(path);
}

void Win32Platform::SetClipboardText(const std::string& text) {
  if (!OpenClipboard(window_)) return;
  EmptyClipboard();
  const std::wstring wide = Wide(text);
  const std::size_t bytes = (wide.size() + 1) * sizeof(wchar_t);
  if (HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes)) {
    if (void* target = GlobalLock(memory)) {
      std::copy_n(wide.c_str(), wide.size() + 1, static_cast<wchar_t*>(target));
      GlobalUnlock(memory);
      if (SetClipboardData(CF_UNICODETEXT, memory) == nullptr) GlobalFree(memory);
    } else {
      GlobalFree(memory);
    }
  }
  CloseClipboard();
}

LocalTime Win32Platform::Now() {
  return SystemLocalTime();
}

void Win32Platform::Sleep(unsigned ms) {
  ::Sleep(ms);
}

void Win32Platform::Repaint() {
  if (window_ == nullptr) return;
  SendMessageW(window_, kShowPendingMessage, 0, 0);
  RedrawWindow(window_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void Win32Platform::Close() {
  if (window_ != nullptr) PostMessageW(window_, WM_CLOSE, 0, 0);
}

void Win32Platform::Dispatch(MSG& message, HWND navigation) {
  if (navigation != nullptr && IsWindow(navigation) && IsDialogMessageW(navigation, &message))
    return;
  TranslateMessage(&message);
  DispatchMessageW(&message);
}

int Win32Platform::RunMessageLoop(HWND navigation) {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) Dispatch(message, navigation);
  return static_cast<int>(message.wParam);
}

}  // namespace mvx
