// The main window on the Win32 API: the 280 x 111 strip under the menu that
// the operator sees (Label1 and ProgressBar1), and the labels, check boxes
// and button of the form beyond it as real child windows, each bound to the
// form's control. The log (Memo1) lies beyond the strip too: nothing ever
// shows it, so the window keeps its lines as text (Log) and no control lays
// them out.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "app/form.h"
#include "base/windows_api.h"

namespace mvx {

class Win32Platform;

class Win32MainWindow {
 public:
  // Builds the window from the form's controls; the form must outlive it.
  explicit Win32MainWindow(TForm1& form);
  ~Win32MainWindow();
  Win32MainWindow(const Win32MainWindow&) = delete;
  Win32MainWindow& operator=(const Win32MainWindow&) = delete;

  HWND Handle() const { return window_; }
  HMENU Menu() const { return menu_; }
  // The child window bound to the form's control of that name; nullptr when
  // none is.
  HWND Control(const std::string& name) const;
  // Memo1's lines since the last clear.
  const LineStore& Log() const { return log_.Lines(); }
  // The menu command of a menu item of the form.
  static UINT CommandOf(const std::string& name);

  // Told once the window has closed (the form's FormDestroy has run).
  std::function<void()> OnClosed;

 private:
  static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  LRESULT Handle(UINT message, WPARAM wparam, LPARAM lparam);
  void BuildMenu();
  void BuildControls();
  HWND AddLabel(TLabel& label, bool notify = false, HFONT font = nullptr);
  HWND AddCheckBox(TCheckBox& box);
  void Bind(TControl& control, std::function<void()> show);
  int Scaled(int pixels) const { return MulDiv(pixels, dpi_, 96); }
  void Command(WORD id, WORD code);
  void Closing();
  // The form moved ProgressBar1: the bar follows within the batch.
  void ProgressMoved();
  void ShowProgress();

  TForm1& form_;
  HWND window_ = nullptr;
  HMENU menu_ = nullptr;
  HFONT font_ = nullptr;         // Tahoma 12 pixels, Shift-JIS
  HFONT box_font_ = nullptr;     // the check boxes' 15 pixels
  HFONT status_font_ = nullptr;  // the status labels' bold 16 pixels
  int dpi_ = 96;
  HWND focus_ = nullptr;  // the control with the focus while a box is open
  HWND progress_ = nullptr;
  bool progress_waits_ = false;  // a position waits for the batch's timer
  std::chrono::steady_clock::time_point progress_shown_;
  std::map<std::string, HWND> controls_;
  std::map<WORD, std::function<void()>> commands_;  // child control id -> click
  std::vector<TControl*> bound_;
  MemoRecorder log_;
  bool destroyed_ = false;
};

struct RunHooks {
  std::function<void(Win32MainWindow&)> built;  // the window exists, FormCreate has not run
  std::function<void(Win32MainWindow&)> shown;  // the window is on screen
};

// The program's run: builds the window, runs FormCreate before it is shown,
// shows it, and runs the message loop until the window closes (which runs
// FormDestroy).
int RunMainWindow(Win32Platform& platform, TForm1& form, const RunHooks& hooks = {});

}  // namespace mvx
