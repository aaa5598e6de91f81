// The Win32 shell under wine: the window the operator sees, the controls
// beyond it and the bindings both ways, the real boxes driven as an operator
// would, the loop that modal boxes keep running, the setting, and a package
// in a folder with a Japanese name.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <thread>

#include "app/win32/wide_text.h"
#include "app/win32/win32_platform.h"
#include "app/win32/win32_window.h"
// after windows.h
#include <commctrl.h>

#include "app/window_layout.h"
#include "base/file_system.h"
#include "base/ini_profile.h"
#include "package/package_builder.h"
#include "scripted/null_backend.h"
#include "scripted/scripted_operator.h"
#include "tests/base/temp_dir.h"
#include "tests/win32/box_driver.h"

namespace mvx {
namespace {

using test::BoxDriver;
using test::BoxSeen;

// The program's parts on the Win32 platform, without a HID library.
struct Program {
  explicit Program(IOperator* scripted = nullptr)
      : form(FormServices{scripted ? *scripted : platform, platform, platform, settings, hid}) {}
  Win32Platform platform;
  IniProfile settings;
  NullHidBackend hid;
  TForm1 form;
};

class WindowTest : public ::testing::Test {
 protected:
  WindowTest() : window(program.form), driver(program.platform) {
    program.platform.SetWindow(window.Handle());
    program.form.SetView(&program.platform);
    ShowWindow(window.Handle(), SW_SHOWNORMAL);
  }
  ~WindowTest() override { program.form.SetView(nullptr); }

  HWND Control(const char* name) {
    HWND control = window.Control(name);
    EXPECT_NE(control, nullptr) << name;
    return control;
  }
  // The control's rectangle in the main window's client coordinates.
  RECT Placed(const char* name) {
    RECT rect{};
    GetWindowRect(Control(name), &rect);
    MapWindowPoints(nullptr, window.Handle(), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
  }
  static std::wstring Text(HWND control) {
    wchar_t text[512] = {};
    GetWindowTextW(control, text, 512);
    return text;
  }
  std::wstring MenuText(HMENU menu, UINT position) {
    wchar_t text[64] = {};
    GetMenuStringW(menu, position, text, 64, MF_BYPOSITION);
    return text;
  }
  bool Grayed(HMENU menu, UINT item, UINT by) { return GetMenuState(menu, item, by) & MF_GRAYED; }
  // Runs the loop until done() holds or the limit passes.
  bool PumpUntil(const std::function<bool()>& done, int limit_ms = 5000) {
    const DWORD end = GetTickCount() + static_cast<DWORD>(limit_ms);
    MSG message;
    while (!done()) {
      if (GetTickCount() > end) return false;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
        Win32Platform::Dispatch(message, window.Handle());
      Sleep(1);
    }
    return true;
  }
  // A key pressed and released on the control that has the focus, through
  // the program's own loop.
  void Key(WPARAM key) {
    HWND focus = GetFocus() != nullptr ? GetFocus() : window.Handle();
    PostMessageW(focus, WM_KEYDOWN, key, 1);
    PostMessageW(focus, WM_KEYUP, key, 0xC0000001);
    PumpUntil([] {
      MSG message;
      return !PeekMessageW(&message, nullptr, WM_KEYFIRST, WM_KEYLAST, PM_NOREMOVE);
    });
  }
  void Menu(const char* name) {
    SendMessageW(window.Handle(), WM_COMMAND, MAKEWPARAM(Win32MainWindow::CommandOf(name), 0), 0);
  }

  ScopedWorkDir dir;
  Program program;
  Win32MainWindow window;
  BoxDriver driver;
};

TEST_F(WindowTest, TheStripTheOperatorSees) {
  EXPECT_EQ(Text(window.Handle()), L"MVXTVUP");
  RECT client{};
  GetClientRect(window.Handle(), &client);
  EXPECT_EQ(client.right - client.left, 280);
  EXPECT_EQ(client.bottom - client.top, 111);
  // A single fixed border, the system menu and minimize only.
  const LONG_PTR style = GetWindowLongPtrW(window.Handle(), GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);
  // Centred on the work area.
  RECT frame{}, work{};
  GetWindowRect(window.Handle(), &frame);
  SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);
  EXPECT_LE(std::abs((frame.left + frame.right) - (work.left + work.right)), 2);
  EXPECT_LE(std::abs((frame.top + frame.bottom) - (work.top + work.bottom)), 2);

  const RECT label1 = Placed("Label1");
  EXPECT_EQ(label1.left, 20);
  EXPECT_EQ(label1.top, 12);
  EXPECT_EQ(Text(Control("Label1")), L"Select File.");
  const RECT progress = Placed("ProgressBar1");
  EXPECT_EQ(progress.left, 20);
  EXPECT_EQ(progress.top, 52);
  EXPECT_EQ(progress.right - progress.left, 229);
  EXPECT_EQ(progress.bottom - progress.top, 25);

  // Both lines of the cradle prompt show, between the top and the progress bar.
  const int one_line = Placed("Label1").bottom - Placed("Label1").top;
  program.form.Label1.SetCaption(kCradlePrompt);
  EXPECT_EQ(Text(Control("Label1")),
            L"Please set Merovox to a cradle.\r\nMerovoxをクレードルにセットしてください。");
  EXPECT_GT(Placed("Label1").bottom - Placed("Label1").top, one_line);
  EXPECT_LE(Placed("Label1").bottom, 52);
  EXPECT_LE(Placed("Label1").right, 280);

  HMENU bar = window.Menu();
  ASSERT_EQ(GetMenuItemCount(bar), 2);
  EXPECT_EQ(MenuText(bar, 0), L"File");
  EXPECT_EQ(MenuText(bar, 1), L"Info");
  EXPECT_EQ(MenuText(GetSubMenu(bar, 0), 0), L"Open");
  EXPECT_EQ(MenuText(GetSubMenu(bar, 0), 1), L"Close");
  EXPECT_EQ(MenuText(GetSubMenu(bar, 1), 0), L"Version");
}

TEST_F(WindowTest, EveryOtherControlLiesBeyondTheStripAsTheLayoutSays) {
  for (const ControlPlace& place : kControlPlaces) {
    const std::string name(place.Name);
    if (name == "Label1" || name == "ProgressBar1" || name == "Memo1") continue;
    const RECT rect = Placed(name.c_str());
    EXPECT_EQ(rect.left, place.Left) << name;
    EXPECT_EQ(rect.top, place.Top) << name;
    EXPECT_TRUE(rect.left >= 280 || rect.top >= 111) << name;
    if (place.Width != 0) {
      EXPECT_EQ(rect.right - rect.left, place.Width) << name;
    }
  }
  // The log is the form's alone: no control shows it.
  EXPECT_EQ(window.Control("Memo1"), nullptr);
}

// The bar's own window procedure, counting the positions it is given.
WNDPROC bar_procedure = nullptr;
int bar_moves = 0;
LRESULT CALLBACK CountingBar(HWND bar, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == PBM_SETPOS) ++bar_moves;
  return CallWindowProcW(bar_procedure, bar, message, wparam, lparam);
}

TEST_F(WindowTest, TheProgressBarShowsTheLatestPositionInBatches) {
  HWND progress = Control("ProgressBar1");
  bar_procedure = reinterpret_cast<WNDPROC>(
      SetWindowLongPtrW(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CountingBar)));
  bar_moves = 0;
  // A download's burst of packets: the bar is given a position at most once
  // per 20 ms of it (and once more at its start).
  program.form.ProgressBar1.SetMax(5000);
  const DWORD start = GetTickCount();
  for (int position = 1; position <= 4000; ++position)
    program.form.ProgressBar1.SetPosition(position);
  const DWORD burst_ms = GetTickCount() - start;
  EXPECT_LE(bar_moves, static_cast<int>(burst_ms / 20 + 2)) << burst_ms << " ms";
  // The latest position shows with the batch's end, or at once before a repaint.
  EXPECT_TRUE(PumpUntil([&] { return SendMessageW(progress, PBM_GETPOS, 0, 0) == 4000; }));
  EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), 5000);
  program.form.ProgressBar1.SetPosition(17);
  program.form.ProgressBar1.SetPosition(0);
  program.platform.Repaint();
  EXPECT_EQ(SendMessageW(progress, PBM_GETPOS, 0, 0), 0);
  // Beyond an int the bar stops at its end instead of wrapping.
  program.form.ProgressBar1.SetMax(5'000'000'000LL);
  program.platform.Repaint();
  EXPECT_EQ(SendMessageW(progress, PBM_GETRANGE, FALSE, 0), INT_MAX);
  SetWindowLongPtrW(progress, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(bar_procedure));
}

TEST_F(WindowTest, FormChangesReachTheControlsAndTheMenus) {
  program.form.LabelSerialNumber.SetCaption("TV0400001234");
  EXPECT_EQ(Text(Control("LabelSerialNumber")), L"TV0400001234");
  program.form.CheckBoxSarSdfVersionup.SetChecked(false);
  EXPECT_EQ(SendMessageW(Control("CheckBoxSarSdfVersionup"), BM_GETCHECK, 0, 0), BST_UNCHECKED);

  HMENU bar = window.Menu();
  program.form.UpdateMenus(false);
  EXPECT_TRUE(Grayed(GetSubMenu(bar, 0), Win32MainWindow::CommandOf("OpenFile"), MF_BYCOMMAND));
  EXPECT_TRUE(Grayed(bar, 0, MF_BYPOSITION));  // File: the state is not Idle
  program.form.SequencerState = 1;
  program.form.UpdateMenus(true);
  EXPECT_FALSE(Grayed(GetSubMenu(bar, 0), Win32MainWindow::CommandOf("OpenFile"), MF_BYCOMMAND));
  EXPECT_FALSE(Grayed(bar, 0, MF_BYPOSITION));
  EXPECT_FALSE(Grayed(bar, 1, MF_BYPOSITION));
}

TEST_F(WindowTest, TheWarningAndErrorDialogsSpeakJapaneseOnEveryWindows) {
  BoxSeen seen;
  driver.Answer(&seen, L"いいえ(&N)");
  EXPECT_EQ(program.platform.WarningDialog("Will you continue writing?"), MsgAnswer::No);
  ASSERT_TRUE(seen.Shown);
  EXPECT_EQ(seen.Title, L"警告");
  EXPECT_EQ(seen.Text, L"Will you continue writing?");
  EXPECT_EQ(seen.Buttons, (std::vector<std::wstring>{L"はい(&Y)", L"いいえ(&N)"}));

  BoxSeen yes;
  driver.Answer(&yes, L"はい(&Y)");
  EXPECT_EQ(program.platform.WarningDialog("Again?"), MsgAnswer::Yes);
  EXPECT_TRUE(yes.Shown);

  BoxSeen closed;
  driver.Answer(&closed, L"");  // closed without a button: No
  EXPECT_EQ(program.platform.WarningDialog("Closed?"), MsgAnswer::No);
  EXPECT_TRUE(closed.Shown);

  BoxSeen error;
  driver.Answer(&error, L"OK");
  program.platform.ErrorDialog("ファイルを開けません");
  ASSERT_TRUE(error.Shown);
  EXPECT_EQ(error.Title, L"エラー");
  EXPECT_EQ(error.Text, L"ファイルを開けません");
  EXPECT_EQ(error.Buttons, std::vector<std::wstring>{L"OK"});
}

TEST_F(WindowTest, MessageBoxesAnswerWithTheButtonPressed) {
  struct Case {
    MsgButtons buttons;
    int press;
    MsgAnswer answer;
  };
  for (const Case& c : {Case{MsgButtons::YesNo, IDYES, MsgAnswer::Yes},
                        Case{MsgButtons::YesNo, IDNO, MsgAnswer::No},
                        Case{MsgButtons::OkCancel, IDCANCEL, MsgAnswer::Cancel},
                        Case{MsgButtons::OkCancel, IDOK, MsgAnswer::Ok}}) {
    BoxSeen seen;
    driver.Answer(&seen, L"", c.press);
    EXPECT_EQ(program.platform.MessageBox("Current Version 201022\r\nUpdate?", "Confirmation",
                                          c.buttons, MsgIcon::Question),
              c.answer);
    EXPECT_EQ(seen.Title, L"Confirmation");
    EXPECT_EQ(seen.Text, L"Current Version 201022\r\nUpdate?");
  }
}

TEST_F(WindowTest, InputBoxGivesTheTextOrNothingWhenCancelled) {
  BoxSeen seen;
  driver.Answer(&seen, L"OK", 0, L"コード123");
  EXPECT_EQ(program.platform.InputBox("SAR/SDF Versionup enable", "Input code"), "コード123");
  EXPECT_EQ(seen.Title, L"SAR/SDF Versionup enable");
  EXPECT_EQ(seen.Text, L"Input code");
  BoxSeen cancelled;
  driver.Answer(&cancelled, L"キャンセル", 0, L"typed");
  EXPECT_EQ(program.platform.InputBox("SAR/SDF Versionup enable", "Input code"), "");
}

TEST_F(WindowTest, AModalBoxKeepsTimersAndPostedCallsRunning) {
  int ticks = 0;
  bool posted = false;
  auto timer = program.platform.CreateTimer([&ticks] { ++ticks; });
  timer->Start(1);
  std::thread poster([&] {
    Sleep(50);
    program.platform.Post([&posted] { posted = true; });
  });
  // The box is answered only once, while it is open, the call posted from
  // another thread has run and the timer has ticked; a loop that held them
  // back would never close it (the test's time limit then fails it).
  BoxSeen seen;
  std::unique_ptr<ITimerSource> watch;
  watch = program.platform.CreateTimer([&] {
    if (!posted || ticks < 3) return;
    watch->Stop();
    driver.Answer(&seen, L"OK", IDOK);
  });
  watch->Start(10);
  program.platform.MessageBox("Waiting", "MVXTVUP", MsgButtons::Ok, MsgIcon::None);
  poster.join();
  EXPECT_TRUE(seen.Shown);
  EXPECT_TRUE(posted);
  EXPECT_GE(ticks, 3);
}

TEST_F(WindowTest, TheFormatSettingIsWrittenWhenTheOperatorTicksTheBox) {
  BoxSeen warning;
  driver.Answer(&warning, L"OK", IDOK);
  SendMessageW(Control("CheckBoxFileFormat"), BM_CLICK, 0, 0);
  EXPECT_TRUE(warning.Shown);
  EXPECT_EQ(warning.Title, L"MVXTVUP v1.77");
  EXPECT_TRUE(program.form.CheckBoxFileFormat.Checked());
  EXPECT_EQ(SendMessageW(Control("CheckBoxFileFormat"), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(
      program.settings.ReadString(".\\mvxtvup_setting.ini", "Setting", "CheckBoxFileFormat", ""),
      "True");
  SendMessageW(Control("CheckBoxFileFormat"), BM_CLICK, 0, 0);
  EXPECT_FALSE(program.form.CheckBoxFileFormat.Checked());
  EXPECT_EQ(
      program.settings.ReadString(".\\mvxtvup_setting.ini", "Setting", "CheckBoxFileFormat", ""),
      "False");
}

TEST_F(WindowTest, VersionBoxAndCloseFromTheMenu) {
  BoxSeen version;
  driver.Answer(&version, L"OK", IDOK);
  Menu("Version1");
  ASSERT_TRUE(version.Shown);
  EXPECT_EQ(version.Title, L"Version");
  EXPECT_EQ(version.Text,
            L"Merovox Update Tool\r\nVer 1.77\r\n\r\nMerovox Update Tool contributors");

  ScopedWorkDir::Write("_fwbin", "image");
  program.form.Timer1.SetEnabled(true);
  bool closed = false;
  window.OnClosed = [&closed] { closed = true; };
  Menu("Exit1");
  EXPECT_TRUE(PumpUntil([&closed] { return closed; }));
  EXPECT_FALSE(std::filesystem::exists("_fwbin"));
  EXPECT_FALSE(program.form.Timer1.Enabled());
}

TEST_F(WindowTest, TabReachesTheCrossTypeBoxAndSpaceUnlocksIt) {
  HWND cross_type = Control("CheckBoxSarSdfVersionup");
  SetFocus(window.Handle());
  // Around the tab stops: the cross-type box is one, the format box and the
  // close button are not.
  std::set<HWND> reached;
  for (int i = 0; i < 4; ++i) {
    Key(VK_TAB);
    reached.insert(GetFocus());
  }
  EXPECT_TRUE(reached.count(cross_type));
  EXPECT_FALSE(reached.count(Control("CheckBoxFileFormat")));
  EXPECT_FALSE(reached.count(Control("SpeedButton1")));
  ASSERT_EQ(GetFocus(), cross_type);

  // Space, then No: unchecked again, nothing unlocked.
  BoxSeen question;
  driver.Answer(&question, L"いいえ(&N)");
  Key(VK_SPACE);
  ASSERT_TRUE(question.Shown);
  EXPECT_EQ(question.Title, L"警告");
  EXPECT_FALSE(program.form.CrossTypeEnabled);
  EXPECT_EQ(SendMessageW(cross_type, BM_GETCHECK, 0, 0), BST_UNCHECKED);

  // Space, Yes and the access code: unlocked and checked.
  BoxSeen yes, code;
  driver.Answer(&yes, L"はい(&Y)");
  driver.Answer(&code, L"OK", 0, L"9137");
  Key(VK_SPACE);
  ASSERT_TRUE(yes.Shown);
  EXPECT_EQ(yes.Title, L"警告");
  ASSERT_TRUE(PumpUntil([&code] { return code.Shown; }));
  EXPECT_EQ(code.Title, L"SAR/SDF Versionup enable");
  EXPECT_TRUE(program.form.CrossTypeEnabled);
  EXPECT_EQ(SendMessageW(cross_type, BM_GETCHECK, 0, 0), BST_CHECKED);
}

TEST_F(WindowTest, LabelClicksCopyToTheClipboard) {
  program.form.LabelSerialNumber.SetCaption("TV0400001234");
  SendMessageW(window.Handle(), WM_COMMAND,
               MAKEWPARAM(GetDlgCtrlID(Control("LabelSerialNumber")), STN_CLICKED),
               reinterpret_cast<LPARAM>(Control("LabelSerialNumber")));
  std::wstring copied;
  if (OpenClipboard(window.Handle())) {
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
      copied = static_cast<const wchar_t*>(GlobalLock(data));
      GlobalUnlock(data);
    }
    CloseClipboard();
  }
  EXPECT_EQ(copied, L"TV0400001234");
  EXPECT_EQ(Text(Control("LabelClipboardCopyMessage")),
            L"シリアル番号[TV0400001234]をクリップボードにコピーしました");
}

TEST(Win32FilterTest, TheOpenDialogTakesThePackageFilterAsPairsOfStrings) {
  EXPECT_EQ(ToWin32FileFilter("tvu(*.tvu)|*.tvu"), std::wstring(L"tvu(*.tvu)\0*.tvu\0\0", 18));
  EXPECT_EQ(ToWin32FileFilter("パッケージ|*.tvu|All|*.*"),
            std::wstring(L"パッケージ\0*.tvu\0All\0*.*\0\0", 21));
}

TEST(Win32PackageTest, APackageInAFolderWithAJapaneseNameOpens) {
  ScopedWorkDir dir;
  const std::filesystem::path folder = dir.Path() / Utf8Path("更新データ");
  std::filesystem::create_directories(folder);
  const std::string package = PathUtf8(folder / Utf8Path("ファーム.tvu"));
  WritePackageFile(package, PackageOptions{"201099", "", "Tavun"},
                   std::vector<std::uint8_t>(3000, 0x5A));
  ScriptedOperator scripted;
  scripted.Answers = {package};
  Program program(&scripted);
  program.form.OpenFileClick();
  EXPECT_EQ(program.form.PackagePath, package);
  EXPECT_EQ(program.form.PackageFileName, "ファーム.tvu");
  EXPECT_TRUE(std::filesystem::exists(folder / "_fwbin"));
  EXPECT_EQ(std::filesystem::file_size(folder / "_fwbin"), 3000u);
}

}  // namespace
}  // namespace mvx
