// mvxtvup: the version-up tool. It takes no command-line options and reads no
// environment variables of its own; everything it needs is in its window and
// its one settings file.
#include <QApplication>
#include <QMessageBox>
#include <exception>
#include <memory>

#include "app/form.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "base/ini_profile.h"
#include "base/tool_lock.h"
#include "hid/platform_backend.h"

int main(int argc, char** argv) {
  // Qt would read options of its own from the command line; the tool has none.
  int qt_argc = argc > 0 ? 1 : 0;
  QApplication app(qt_argc, argv);
  // A second copy would claim the same unit and interleave its commands.
  // The window serves every port: it runs beside no other copy.
  mvx::ToolLock::Outcome lock_outcome;
  const auto lock = mvx::ToolLock::Acquire("", lock_outcome);
  if (lock_outcome == mvx::ToolLock::Outcome::Busy) {
    QMessageBox::warning(nullptr, QString::fromUtf8(mvx::kAppTitle),
                         QString::fromUtf8(mvx::kAlreadyRunning)
                             .replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    return 1;
  }
  mvx::QtPlatform platform;
  mvx::IniProfile settings;
  try {
    std::unique_ptr<mvx::IHidBackend> hid = mvx::CreatePlatformHidBackend();
    mvx::TForm1 form(mvx::FormServices{platform, platform, platform, settings, *hid});
    return mvx::RunMainWindow(app, platform, form);
  } catch (const std::exception& e) {
    QMessageBox::critical(nullptr, QString::fromUtf8(mvx::kAppTitle), QString::fromUtf8(e.what()));
    return 1;
  }
}
