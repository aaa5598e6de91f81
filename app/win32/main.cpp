// mvxtvup.exe: the version-up tool on Windows. It takes no command-line
// options and reads no environment variables of its own; everything it needs
// is in its window and its one settings file.
#include <exception>
#include <memory>

#include "app/form.h"
#include "app/win32/wide_text.h"
#include "app/win32/win32_platform.h"
#include "app/win32/win32_window.h"
#include "base/ini_profile.h"
#include "base/tool_lock.h"
#include "hid/platform_backend.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  // A second copy would claim the same unit and interleave its commands.
  // The window serves every port: it runs beside no other copy.
  mvx::ToolLock::Outcome lock_outcome;
  const auto lock = mvx::ToolLock::Acquire("", lock_outcome);
  if (lock_outcome == mvx::ToolLock::Outcome::Busy) {
    MessageBoxW(nullptr, mvx::Wide(mvx::kAlreadyRunning).c_str(), mvx::Wide(mvx::kAppTitle).c_str(),
                MB_OK | MB_ICONWARNING);
    return 1;
  }
  try {
    mvx::Win32Platform platform;
    mvx::IniProfile settings;
    std::unique_ptr<mvx::IHidBackend> hid = mvx::CreatePlatformHidBackend();
    mvx::TForm1 form(mvx::FormServices{platform, platform, platform, settings, *hid});
    return mvx::RunMainWindow(platform, form);
  } catch (const std::exception& e) {
    MessageBoxW(nullptr, mvx::Wide(e.what()).c_str(), mvx::Wide(mvx::kAppTitle).c_str(),
                MB_OK | MB_ICONERROR);
    return 1;
  }
}
