// mvxtvup-demo: the tool's window and core on the simulated HID backend with an
// emulated Merovox device. It writes a sample package into a fresh folder,
// opens it as the operator would, sets the device into the cradle and runs a
// whole version-up, answering every box itself; after "Update finished" it
// takes the device out and quits. Without a display it runs on Qt's offscreen
// platform and prints the log.
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <functional>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "base/ini_profile.h"
#include "hid/sim/sim_backend.h"
#include "tools/demo/demo_session.h"

namespace mvx {
namespace {

using demo::Print;

// Qt's offscreen platform says on every fixed-size window that it cannot pass
// size hints on; that is no news to whoever watches the demo's log.
void QuietOffscreenNotes(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && text.contains(QStringLiteral("propagateSizeHints"))) return;
  std::fprintf(stderr, "%s\n", qFormatLogMessage(type, context, text).toLocal8Bit().constData());
}

bool Headless() {
  const QByteArray platform = qgetenv("QT_QPA_PLATFORM");
  if (platform == "offscreen" || platform == "minimal") return true;
#if defined(__linux__)
  if (platform.isEmpty() && qEnvironmentVariableIsEmpty("DISPLAY") &&
      qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
    return true;
#endif
  return false;
}

int Run(int argc, char** argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      Print(
          "usage: mvxtvup-demo\n"
          "Opens a sample update package in the tool's window on simulated devices.\n"
          "Without a display it runs offscreen, prints the log and quits by itself.");
      return 0;
    }
    std::fprintf(stderr, "mvxtvup-demo: unknown argument '%s' (see --help)\n", argv[i]);
    return 2;
  }

  const bool headless = Headless();
  if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
    qputenv("QT_QPA_PLATFORM", "offscreen");
  if (headless) qInstallMessageHandler(QuietOffscreenNotes);
  int qt_argc = 1;
  QApplication app(qt_argc, argv);

  QTemporaryDir folder(QDir::tempPath() + QStringLiteral("/mvxtvup-demo-XXXXXX"));
  if (!folder.isValid()) {
    std::fprintf(stderr, "mvxtvup-demo: cannot create a temporary folder: %s\n",
                 folder.errorString().toLocal8Bit().constData());
    return 1;
  }
  const std::string package = demo::WriteSamplePackage(folder.path().toStdString());
  Print("[demo] sample package " + package);

  QtPlatform platform;
  demo::DemoOperator demo_operator(platform, package);
  IniProfile settings;
  SimBackend hid(platform);
  TForm1 form(FormServices{demo_operator, platform, platform, settings, hid});
  demo::DemoCradle cradle(platform, hid);
  MainWindow* shown_window = nullptr;
  demo::DemoScript script(platform, form, demo_operator, cradle, [&shown_window] {
    if (shown_window != nullptr) shown_window->close();
  });

  RunHooks hooks;
  TMemo::Subscription echo;
  if (headless) hooks.built = [&form, &echo](MainWindow&) { echo = demo::EchoLogAndLabel(form); };
  hooks.shown = [&](MainWindow& window) {
    shown_window = &window;
    script.Start();
  };
  const int status = RunMainWindow(app, platform, form, hooks);
  const bool finished = script.Finished();
  Print(finished ? "[demo] done: Update finished" : "[demo] stopped before Update finished");
  return status != 0 ? status : (finished ? 0 : 1);
}

}  // namespace
}  // namespace mvx

int main(int argc, char** argv) {
  try {
    return mvx::Run(argc, argv);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mvxtvup-demo: %s\n", e.what());
    return 1;
  }
}
