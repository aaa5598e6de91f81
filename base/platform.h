// The small interfaces through which the core reaches the outside world: the
// operator's dialogs and clipboard, the GUI thread's timers and message loop,
// the local clock and the settings file. Each shell (Qt, Win32) implements
// them with the platform's own windows and timers; tests and the scenario
// runner implement them with scripted fakes and a virtual clock.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace mvx {

// ---- The operator ---------------------------------------------------------

enum class MsgButtons { Ok, OkCancel, YesNo };
// Warning is also the exclamation icon and Error the stop icon: the platform
// draws them alike.
enum class MsgIcon { None, Information, Warning, Error, Question };
enum class MsgAnswer { Ok, Cancel, Yes, No };

// How the framework's two message dialogs look, decided here once: every
// shell and every stand-in draws them so.
inline constexpr const char* kWarningDialogCaption = "警告";
inline constexpr const char* kWarningDialogYes = "はい(&Y)";
inline constexpr const char* kWarningDialogNo = "いいえ(&N)";
inline constexpr const char* kErrorDialogCaption = "エラー";

// Every text is UTF-8. Each call is modal: it returns when the operator has
// answered, and timers, posted calls and device events go on being delivered
// while it waits.
class IOperator {
 public:
  virtual ~IOperator() = default;
  // A plain system message box with the caption, buttons and icon given.
  virtual MsgAnswer MessageBox(const std::string& text, const std::string& caption,
                               MsgButtons buttons, MsgIcon icon) = 0;
  // The framework's warning-type message dialog: its caption, the warning
  // icon and its two buttons (above). Answers Yes or No (No when closed).
  virtual MsgAnswer WarningDialog(const std::string& text) = 0;
  // The framework's error-type message dialog: its caption (above), the error
  // icon and "OK".
  virtual void ErrorDialog(const std::string& text) = 0;
  // Caption, prompt and an empty default; empty text when cancelled.
  virtual std::string InputBox(const std::string& caption, const std::string& prompt) = 0;
  // The open-file dialog with a filter such as "tvu(*.tvu)|*.tvu"; the chosen
  // file's full path, or nothing when cancelled.
  virtual std::optional<std::string> OpenDialog(const std::string& filter) = 0;
  // Empties the clipboard, then puts the text on it.
  virtual void SetClipboardText(const std::string& text) = 0;
};

// ---- The GUI thread's message loop and timers -----------------------------

// One platform timer. The loop calls the handler given at creation on the GUI
// thread every interval while the timer is started.
class ITimerSource {
 public:
  virtual ~ITimerSource() = default;
  virtual void Start(unsigned interval_ms) = 0;  // (re)starts the period
  virtual void Stop() = 0;
};

// A native event source watched from the GUI thread (a file descriptor on
// Linux). Destroying the watch stops it.
class IWatch {
 public:
  virtual ~IWatch() = default;
};

class IEventLoop {
 public:
  virtual ~IEventLoop() = default;
  virtual std::unique_ptr<ITimerSource> CreateTimer(std::function<void()> on_fire) = 0;
  // Thread-safe: queues a call to run on the GUI thread.
  virtual void Post(std::function<void()> call) = 0;
  // GUI thread, from inside a call the loop is running: runs call as soon as
  // that call returns, ahead of everything queued meanwhile, without another
  // pass of the loop. A loop without that shortcut simply queues it.
  virtual void PostNext(std::function<void()> call) { Post(std::move(call)); }
  // Calls on_ready on the GUI thread whenever fd becomes readable.
  virtual std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) = 0;
};

// ---- The clock ------------------------------------------------------------

// A local date and time, broken down.
struct LocalTime {
  int year = 2001, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;
  virtual LocalTime Now() = 0;
  // Blocks the calling (GUI) thread; nothing else runs meanwhile.
  virtual void Sleep(unsigned ms) = 0;
};

// ---- The settings file (private-profile functions) ------------------------

class ISettingsFile {
 public:
  virtual ~ISettingsFile() = default;
  // The value of key in section of the INI file, or def when the file, the
  // section or the key is missing or unreadable.
  virtual std::string ReadString(const std::string& file, const std::string& section,
                                 const std::string& key, const std::string& def) = 0;
  // Writes the value, creating the file when missing; false when it fails.
  virtual bool WriteString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
};

// ---- What the main window reports to whatever shows it --------------------

class IFormView {
 public:
  virtual ~IFormView() = default;
  // Draw the window now, inside a handler that blocks the loop.
  virtual void Repaint() = 0;
  // Close the main window; the program ends.
  virtual void Close() = 0;
};

}  // namespace mvx
