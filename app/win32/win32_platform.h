// The platform services of the core on the Win32 API: message boxes, task
// dialogs, an input box, the open dialog and the clipboard for the operator;
// Windows timers and calls posted to a message-only window for the GUI
// thread's loop; the local clock; and the main window as the form's view.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "base/deliveries.h"
#include "base/platform.h"
#include "base/windows_api.h"

namespace mvx {

// An open-dialog filter in the "label|pattern|label|pattern" form as the
// open-file dialog takes it: pairs of zero-terminated strings, an empty one
// last.
std::wstring ToWin32FileFilter(const std::string& filter);

// Sent to the main window before a repaint: what waits for the controls' next
// update (the progress bar's latest position) is shown first.
constexpr UINT kShowPendingMessage = WM_APP + 3;

// Create on the GUI thread, and keep it alive until every form and device
// using it is gone.
class Win32Platform : public IOperator, public IEventLoop, public IClock, public IFormView {
 public:
  Win32Platform();
  ~Win32Platform() override;
  Win32Platform(const Win32Platform&) = delete;
  Win32Platform& operator=(const Win32Platform&) = delete;

  // The main window: the owner of every box and what Repaint and Close act on.
  void SetWindow(HWND window) { window_ = window; }
  HWND Window() const { return window_; }

  // IOperator
  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  MsgAnswer WarningDialog(const std::string& text) override;
  void ErrorDialog(const std::string& text) override;
  std::string InputBox(const std::string& caption, const std::string& prompt) override;
  std::optional<std::string> OpenDialog(const std::string& filter) override;
  void SetClipboardText(const std::string& text) override;

  // IEventLoop
  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()> on_fire) override;
  void Post(std::function<void()> call) override;
  void PostNext(std::function<void()> call) override;
  std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) override;

  // IClock
  LocalTime Now() override;
  void Sleep(unsigned ms) override;

  // IFormView
  void Repaint() override;
  void Close() override;

  // Runs a call that the loop delivers, then what it asked to run next. The
  // form guards its own handlers; this is the last line, so that no exception
  // ever unwinds through the message loop: an escaped error is shown as the
  // form would show it.
  void Deliver(const std::function<void()>& call);

  // The thread's message loop, until WM_QUIT; its exit code. Keys that move
  // between the controls of navigation (Tab, Space on a check box) go to the
  // dialog manager first: the cross-type box beyond the visible strip is
  // reached that way.
  static int RunMessageLoop(HWND navigation = nullptr);
  // One message as that loop handles it.
  static void Dispatch(MSG& message, HWND navigation);

 private:
  friend class Win32Timer;
  static LRESULT CALLBACK MessageProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  void RunOnePosted();

  HWND messages_ = nullptr;  // message-only: posted calls and timers arrive here
  HWND window_ = nullptr;
  DWORD gui_thread_ = 0;
  std::mutex mutex_;
  std::deque<std::function<void()>> posted_;
  bool wake_posted_ = false;
  // Timers by their id; the handler runs on the GUI thread.
  std::map<UINT_PTR, std::function<void()>> timers_;
  std::set<UINT_PTR> zero_timers_;  // started with no interval
  UINT_PTR next_timer_id_ = 1;
  Deliveries deliveries_;
};

}  // namespace mvx
