// mvxtvup-demo.exe: the tool's window and core on the simulated HID backend
// with an emulated Merovox device, on Windows. It writes a sample package into
// a fresh folder, opens it as the operator would, sets the device into the
// cradle and runs a whole version-up, answering every box itself and printing
// the log; after "Update finished" it takes the device out and quits.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <exception>
#include <filesystem>
#include <random>
#include <string>

#include "app/form.h"
#include "app/win32/win32_platform.h"
#include "app/win32/win32_window.h"
#include "base/file_system.h"
#include "base/ini_profile.h"
#include "base/text.h"
#include "hid/sim/sim_backend.h"
#include "tools/demo/demo_session.h"

namespace mvx {
namespace {

using demo::Print;

// A fresh folder for the sample package, removed again at the end.
class ScratchFolder {
 public:
  ScratchFolder() {
    std::random_device random;
    path_ = std::filesystem::temp_directory_path() /
            Utf8Path(Format("mvxtvup-demo-%08x", static_cast<unsigned>(random())));
    std::filesystem::create_directories(path_);
  }
  ~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::current_path(path_.parent_path(), ignored);
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string Path() const { return PathUtf8(path_); }

 private:
  std::filesystem::path path_;
};

int Run(int argc, wchar_t** argv) {
  std::uint32_t cradle_after_ms = 800;
  for (int i = 1; i < argc; ++i) {
    if (std::wcscmp(argv[i], L"--help") == 0 || std::wcscmp(argv[i], L"-h") == 0) {
      Print(
          "usage: mvxtvup-demo [--cradle-after MS]\n"
          "Opens a sample update package in the tool's window on a simulated device,\n"
          "runs a whole version-up, prints the log and quits by itself.\n"
          "  --cradle-after MS  set the device in MS milliseconds after the start\n"
          "                     (default 800); the cradle prompt shows until then");
      return 0;
    }
    if (std::wcscmp(argv[i], L"--cradle-after") == 0 && i + 1 < argc) {
      cradle_after_ms = static_cast<std::uint32_t>(std::wcstoul(argv[++i], nullptr, 10));
      continue;
    }
    std::fprintf(stderr, "mvxtvup-demo: unknown argument (see --help)\n");
    return 2;
  }
  // The log's texts are UTF-8: a console shows them as such.
  SetConsoleOutputCP(CP_UTF8);

  ScratchFolder folder;
  const std::string package = demo::WriteSamplePackage(folder.Path());
  Print("[demo] sample package " + package);

  Win32Platform platform;
  demo::DemoOperator demo_operator(platform, package);
  IniProfile settings;
  SimBackend hid(platform);
  TForm1 form(FormServices{demo_operator, platform, platform, settings, hid});
  demo::DemoCradle cradle(platform, hid);
  HWND shown_window = nullptr;
  demo::DemoScript script(platform, form, demo_operator, cradle, [&shown_window] {
    if (shown_window != nullptr) PostMessageW(shown_window, WM_CLOSE, 0, 0);
  });

  script.CradleAfterMs = std::max<std::uint32_t>(cradle_after_ms, 400);

  RunHooks hooks;
  TMemo::Subscription echo;
  hooks.built = [&form, &echo](Win32MainWindow&) { echo = demo::EchoLogAndLabel(form); };
  hooks.shown = [&](Win32MainWindow& window) {
    shown_window = window.Handle();
    script.Start();
  };
  const int status = RunMainWindow(platform, form, hooks);
  const bool finished = script.Finished();
  Print(finished ? "[demo] done: Update finished" : "[demo] stopped before Update finished");
  return status != 0 ? status : (finished ? 0 : 1);
}

}  // namespace
}  // namespace mvx

int wmain(int argc, wchar_t** argv) {
  try {
    return mvx::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mvxtvup-demo: %s\n", e.what());
    return 1;
  }
}
