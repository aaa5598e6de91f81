#include "app/win32/win32_window.h"

#include <commctrl.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <exception>

#include "app/win32/wide_text.h"
#include "app/win32/win32_platform.h"
#include "app/window_layout.h"

namespace mvx {
namespace {

constexpr const wchar_t* kWindowClass = L"MvxTvupMainWindow";
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr WORD kFirstControlId = 1000;
constexpr WORD kIconId = 1;  // the program's icon in its resources
// How long a new position may wait for the progress bar: smooth to the eye,
// long enough to gather many packets.
constexpr auto kProgressBatch = std::chrono::milliseconds(20);
constexpr UINT_PTR kProgressTimer = 1;

struct MenuCommand {
  const char* Name;
  UINT Id;
  void (TForm1::*Handler)();
};
constexpr MenuCommand kMenuCommands[] = {
    {"OpenFile", 101, &TForm1::OpenFileClick},
    {"Exit1", 102, &TForm1::Exit1Click},
    {"Version1", 103, &TForm1::Version1Click},
};

int ToProgressValue(long long value) {
  return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// The system's dots per inch: the layout is in pixels at 96.
int SystemDpi() {
  using GetDpiForSystemFunction = UINT(WINAPI*)();
  const auto get_dpi = reinterpret_cast<GetDpiForSystemFunction>(reinterpret_cast<void (*)()>(
      GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForSystem")));
  if (get_dpi != nullptr) return static_cast<int>(get_dpi());
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? dpi : 96;
}

HFONT MakeFont(int pixels, int weight) {
  // Tahoma with the Shift-JIS character set: Windows links the Japanese
  // glyphs in from its own Japanese font.
  return CreateFontW(-pixels, 0, 0, 0, weight, FALSE, FALSE, FALSE, SHIFTJIS_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

// The size a text takes in the control's font, for labels sized to their text.
SIZE TextSize(HWND control, const std::wstring& text) {
  HDC dc = GetDC(control);
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
  RECT rect{0, 0, 0, 0};
  DrawTextW(dc, text.empty() ? L" " : text.c_str(),
            text.empty() ? 1 : static_cast<int>(text.size()), &rect,
            DT_CALCRECT | DT_NOPREFIX | DT_LEFT);
  SelectObject(dc, old);
  ReleaseDC(control, dc);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

void ShowEscapedError(HWND owner, const char* what) {
  MessageBoxW(owner, Wide(what).c_str(), Wide(kAppTitle).c_str(), MB_OK | MB_ICONERROR);
}

}  // namespace

UINT Win32MainWindow::CommandOf(const std::string& name) {
  for (const MenuCommand& command : kMenuCommands)
    if (name == command.Name) return command.Id;
  return 0;
}

Win32MainWindow::Win32MainWindow(TForm1& form) : form_(form), dpi_(SystemDpi()), log_(form.Memo1) {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&controls);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = Procedure;
  window_class.hInstance = instance;
  window_class.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(kIconId));
  window_class.hIconSm = window_class.hIcon;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  window_class.lpszClassName = kWindowClass;
  RegisterClassExW(&window_class);  // already registered by an earlier window: fine

  font_ = MakeFont(Scaled(12), FW_NORMAL);
  box_font_ = MakeFont(Scaled(15), FW_NORMAL);
  status_font_ = MakeFont(Scaled(16), FW_BOLD);
  // WS_EX_CONTROLPARENT: Tab moves between the tab stops among its controls.
  window_ = CreateWindowExW(WS_EX_CONTROLPARENT, kWindowClass, Wide(kAppTitle).c_str(), kStyle,
                            CW_USEDEFAULT, CW_USEDEFAULT, Scaled(kStripWidth), Scaled(kStripHeight),
                            nullptr, nullptr, instance, this);
  if (window_ == nullptr) throw std::runtime_error("The main window cannot be created.");
  BuildMenu();
  BuildControls();

  // The client area is exactly the strip: the frame and the menu bar around it.
  RECT frame{0, 0, Scaled(kStripWidth), Scaled(kStripHeight)};
  AdjustWindowRectEx(&frame, kStyle, TRUE, 0);
  int width = frame.right - frame.left, height = frame.bottom - frame.top;
  SetWindowPos(window_, nullptr, 0, 0, width, height, SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  // A menu bar that takes more than one line (a large font) is made up for.
  RECT client{};
  GetClientRect(window_, &client);
  height += Scaled(kStripHeight) - (client.bottom - client.top);
  RECT work{};
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  SetWindowPos(window_, nullptr, work.left + (work.right - work.left - width) / 2,
               work.top + (work.bottom - work.top - height) / 2, width, height,
               SWP_NOZORDER | SWP_NOACTIVATE);
}

Win32MainWindow::~Win32MainWindow() {
  for (TControl* control : bound_) control->OnChanged = nullptr;
  if (window_ != nullptr) {
    SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    DestroyWindow(window_);
  }
  for (HFONT font : {font_, box_font_, status_font_})
    if (font != nullptr) DeleteObject(font);
}

HWND Win32MainWindow::Control(const std::string& name) const {
  const auto found = controls_.find(name);
  return found == controls_.end() ? nullptr : found->second;
}

void Win32MainWindow::Bind(TControl& control, std::function<void()> show) {
  show();
  control.OnChanged = std::move(show);
  bound_.push_back(&control);
}

void Win32MainWindow::BuildMenu() {
  menu_ = CreateMenu();
  auto add_menu = [this](TMenuItem& item, std::initializer_list<TMenuItem*> entries) {
    HMENU popup = CreatePopupMenu();
    for (TMenuItem* entry : entries) {
      const UINT id = CommandOf(entry->Name);
      AppendMenuW(popup, MF_STRING, id, Wide(entry->Caption).c_str());
      Bind(*entry, [popup, id, entry] {
        EnableMenuItem(popup, id, MF_BYCOMMAND | (entry->Enabled() ? MF_ENABLED : MF_GRAYED));
      });
    }
    const UINT position = static_cast<UINT>(GetMenuItemCount(menu_));
    AppendMenuW(menu_, MF_POPUP, reinterpret_cast<UINT_PTR>(popup), Wide(item.Caption).c_str());
    Bind(item, [this, position, &item] {
      EnableMenuItem(menu_, position, MF_BYPOSITION | (item.Enabled() ? MF_ENABLED : MF_GRAYED));
      DrawMenuBar(window_);
    });
  };
  add_menu(form_.File1, {&form_.OpenFile, &form_.Exit1});
  add_menu(form_.Info1, {&form_.Version1});
  SetMenu(window_, menu_);
}

HWND Win32MainWindow::AddLabel(TLabel& label, bool notify, HFONT font) {
  const ControlPlace place = PlaceOf(label.Name);
  const auto id = static_cast<WORD>(kFirstControlId + controls_.size());
  HWND control = CreateWindowExW(
      0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX | (notify ? SS_NOTIFY : 0),
      Scaled(place.Left), Scaled(place.Top), 0, 0, window_,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : font_), FALSE);
  controls_[label.Name] = control;
  Bind(label, [control, &label] {
    const std::wstring text = Wide(label.Caption());
    SetWindowTextW(control, text.c_str());
    const SIZE size = TextSize(control, text);
    SetWindowPos(control, nullptr, 0, 0, size.cx, size.cy,
                 SWP_NOZORDER | SWP_NOMOVE | SWP_NOACTIVATE);
  });
  return control;
}

HWND Win32MainWindow::AddCheckBox(TCheckBox& box) {
  const ControlPlace place = PlaceOf(box.Name);
  const auto id = static_cast<WORD>(kFirstControlId + controls_.size());
  HWND control = CreateWindowExW(
      0, L"BUTTON", Wide(box.Caption).c_str(),
      WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | (box.TabStop ? WS_TABSTOP : 0), Scaled(place.Left),
      Scaled(place.Top), Scaled(place.Width), Scaled(place.Height), window_,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(box_font_), FALSE);
  controls_[box.Name] = control;
  Bind(box, [control, &box] {
    SendMessageW(control, BM_SETCHECK, box.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  });
  // Only the operator's toggles reach the form, which runs the box's click
  // handler; the form's own changes come back through Bind.
  commands_[id] = [this, control, &box] {
    const bool checked = SendMessageW(control, BM_GETCHECK, 0, 0) == BST_CHECKED;
    form_.Guarded([&box, checked] { box.SetChecked(checked); });
    SendMessageW(control, BM_SETCHECK, box.Checked() ? BST_CHECKED : BST_UNCHECKED, 0);
  };
  return control;
}

void Win32MainWindow::BuildControls() {
  TForm1& f = form_;

  // The strip the operator sees.
  AddLabel(f.Label1);
  const ControlPlace bar = PlaceOf(f.ProgressBar1.Name);
  HWND progress = CreateWindowExW(0, PROGRESS_CLASSW, L"", WS_CHILD | WS_VISIBLE, Scaled(bar.Left),
                                  Scaled(bar.Top), Scaled(bar.Width), Scaled(bar.Height), window_,
                                  nullptr, GetModuleHandleW(nullptr), nullptr);
  controls_[f.ProgressBar1.Name] = progress;
  progress_ = progress;
  // The download moves the bar with every packet, thousands of times a
  // second, and each move costs the bar a redraw; the bar shows the latest
  // position at most every 20 ms, and at once before a repaint.
  ShowProgress();
  Bind(f.ProgressBar1, [this] { ProgressMoved(); });

  // Everything below lies beyond the strip's edges.
  AddLabel(f.Label3);
  HWND current_version = AddLabel(f.LabelCurrentVersion, true);
  commands_[static_cast<WORD>(GetDlgCtrlID(current_version))] = [this] {
    form_.Guarded([this] { form_.LabelCurrentVersionClick(); });
  };
  AddLabel(f.LabelFilename);
  AddLabel(f.Label2);
  AddLabel(f.LabelModelName);
  AddLabel(f.Label4);
  AddLabel(f.LabelUpdateVersion);
  AddLabel(f.Label5);
  HWND serial = AddLabel(f.LabelSerialNumber, true);
  commands_[static_cast<WORD>(GetDlgCtrlID(serial))] = [this] {
    form_.Guarded([this] { form_.LabelSerialNumberClick(); });
  };
  AddLabel(f.LabelClipboardCopyMessage);
  AddCheckBox(f.CheckBoxFileFormat);
  AddCheckBox(f.CheckBoxSarSdfVersionup);
  AddLabel(f.LabelVersionupStatus, false, status_font_);
  AddLabel(f.LabelFormatStatus, false, status_font_);
  AddLabel(f.Label6);

  const ControlPlace close = PlaceOf("SpeedButton1");
  const auto id = static_cast<WORD>(kFirstControlId + controls_.size());
  HWND button = CreateWindowExW(
      0, L"BUTTON", L"Close", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, Scaled(close.Left),
      Scaled(close.Top), Scaled(close.Width), Scaled(close.Height), window_,
      reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  SendMessageW(button, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
  controls_["SpeedButton1"] = button;
  commands_[id] = [this] { form_.Guarded([this] { form_.SpeedButton1Click(); }); };
}

void Win32MainWindow::ProgressMoved() {
  if (progress_waits_) return;
  // A loop busy with posted calls may hold the timer back: a position older
  // than the batch is shown without it.
  if (std::chrono::steady_clock::now() - progress_shown_ >= kProgressBatch) {
    ShowProgress();
    return;
  }
  progress_waits_ =
      SetTimer(window_, kProgressTimer, static_cast<UINT>(kProgressBatch.count()), nullptr) != 0;
  if (!progress_waits_) ShowProgress();
}

void Win32MainWindow::ShowProgress() {
  if (progress_waits_) KillTimer(window_, kProgressTimer);
  progress_waits_ = false;
  progress_shown_ = std::chrono::steady_clock::now();
  SendMessageW(progress_, PBM_SETRANGE32, 0, ToProgressValue(form_.ProgressBar1.Max()));
  SendMessageW(progress_, PBM_SETPOS,
               static_cast<WPARAM>(ToProgressValue(form_.ProgressBar1.Position())), 0);
}

void Win32MainWindow::Command(WORD id, WORD code) {
  for (const MenuCommand& command : kMenuCommands) {
    if (command.Id == id && code == 0) {
      form_.Guarded([this, &command] { (form_.*command.Handler)(); });
      return;
    }
  }
  if (code != BN_CLICKED && code != STN_CLICKED) return;
  const auto found = commands_.find(id);
  if (found != commands_.end()) {
    const std::function<void()> click = found->second;
    click();
  }
}

void Win32MainWindow::Closing() {
  if (destroyed_) return;
  destroyed_ = true;
  // Closing ends the program whatever a version-up is doing: no tick may
  // run on a form whose image is already closed.
  form_.Timer1.SetEnabled(false);
  form_.Timer2.SetEnabled(false);
  form_.Guarded([this] { form_.FormDestroy(); });
}

LRESULT Win32MainWindow::Handle(UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_COMMAND:
      Command(LOWORD(wparam), lparam == 0 ? 0 : HIWORD(wparam));
      return 0;
    case WM_TIMER:
      if (wparam == kProgressTimer) ShowProgress();
      return 0;
    case kShowPendingMessage:
      if (progress_waits_) ShowProgress();
      return 0;
    case WM_CTLCOLORSTATIC: {
      auto* control = reinterpret_cast<HWND>(lparam);
      auto* dc = reinterpret_cast<HDC>(wparam);
      SetBkMode(dc, TRANSPARENT);
      if (control == Control(form_.LabelClipboardCopyMessage.Name))
        SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
      else if (control == Control(form_.LabelVersionupStatus.Name) ||
               control == Control(form_.LabelFormatStatus.Name))
        SetTextColor(dc, RGB(0x00, 0x80, 0x00));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ACTIVATE:
      // The control that had the focus gets it back when a box closes, as in
      // a dialog: the operator's Tab and Space go on where they were.
      if (LOWORD(wparam) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus != nullptr && IsChild(window_, focus)) focus_ = focus;
      } else if (focus_ != nullptr && IsWindow(focus_)) {
        SetFocus(focus_);
        return 0;
      }
      return DefWindowProcW(window_, message, wparam, lparam);
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window_, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left, suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_CLOSE:
      Closing();
      DestroyWindow(window_);
      return 0;
    case WM_DESTROY:
      if (progress_waits_) KillTimer(window_, kProgressTimer);
      progress_waits_ = false;
      Closing();
      window_ = nullptr;
      if (OnClosed) OnClosed();
      return 0;
    default:
      return DefWindowProcW(window_, message, wparam, lparam);
  }
}

LRESULT CALLBACK Win32MainWindow::Procedure(HWND window, UINT message, WPARAM wparam,
                                            LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self =
        static_cast<Win32MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lparam)->lpCreateParams);
    self->window_ = window;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
  }
  auto* self = reinterpret_cast<Win32MainWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  // The form guards its handlers; nothing may unwind through the system's
  // message dispatch all the same.
  try {
    return self->Handle(message, wparam, lparam);
  } catch (const std::exception& e) {
    ShowEscapedError(window, e.what());
  } catch (...) {
    ShowEscapedError(window, "Unknown error");
  }
  return 0;
}

int RunMainWindow(Win32Platform& platform, TForm1& form, const RunHooks& hooks) {
  Win32MainWindow window(form);
  window.OnClosed = [] { PostQuitMessage(0); };
  platform.SetWindow(window.Handle());
  form.SetView(&platform);
  if (hooks.built) hooks.built(window);
  form.Guarded([&form] { form.FormCreate(); });
  ShowWindow(window.Handle(), SW_SHOWNORMAL);
  UpdateWindow(window.Handle());
  if (hooks.shown) hooks.shown(window);
  const int status = Win32Platform::RunMessageLoop(window.Handle());
  form.SetView(nullptr);
  platform.SetWindow(nullptr);
  return status;
}

}  // namespace mvx
