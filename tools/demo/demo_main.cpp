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
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"

namespace mvx {
namespace {

// The longest a demo may take before it gives up (a whole run takes a few
// seconds, most of them the device's restart).
constexpr int kDemoLimitMs = 60000;
constexpr const char* kSampleVersion = "201035";

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

// One line for the terminal: CR LF shown as " / ".
std::string OneLine(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += (text[i] == '\n' || text[i] == '\r') ? std::string(" / ") : std::string(1, text[i]);
  }
  return out;
}

// The operator of the demo: the open dialog is answered with the sample
// package, and every box with its first button (an input box is cancelled);
// each is printed instead of shown. Finished is told when the final report
// has been answered.
class DemoOperator : public IOperator {
 public:
  DemoOperator(QtPlatform& platform, std::string package)
      : platform_(platform), package_(std::move(package)) {}

  std::function<void()> Finished;

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override {
    const MsgAnswer answer = buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    Print("[box] " + caption + ": " + OneLine(text) +
          (answer == MsgAnswer::Yes ? " -> Yes" : " -> OK"));
    (void)icon;
    if (text.rfind("Update finished.", 0) == 0 && Finished) Finished();
    return answer;
  }
  MsgAnswer WarningDialog(const std::string& text) override {
    Print("[box] 警告: " + OneLine(text) + " -> Yes");
    return MsgAnswer::Yes;
  }
  void ErrorDialog(const std::string& text) override {
    Print("[box] エラー: " + OneLine(text) + " -> OK");
  }
  std::string InputBox(const std::string& caption, const std::string& prompt) override {
    Print("[box] " + caption + ": " + prompt + " -> cancelled");
    return {};
  }
  std::optional<std::string> OpenDialog(const std::string& filter) override {
    Print("[open] " + filter + " -> " + package_);
    // As the standard dialog does, the chosen file's folder becomes the
    // working directory.
    QDir::setCurrent(QFileInfo(QString::fromStdString(package_)).absolutePath());
    return package_;
  }
  void SetClipboardText(const std::string& text) override { platform_.SetClipboardText(text); }

 private:
  QtPlatform& platform_;
  std::string package_;
};

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

std::vector<std::uint8_t> SampleImage() {
  // 64 KiB of a simple pattern: enough packets for the progress bar to move.
  std::vector<std::uint8_t> image(64 * 1024);
  std::uint32_t x = 0x2545F491;
  for (auto& byte : image) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    byte = static_cast<std::uint8_t>(x);
  }
  return image;
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
  const std::string package = QDir(folder.path()).filePath("sample.tvu").toStdString();
  const std::vector<std::uint8_t> image = SampleImage();
  WritePackageFile(package, PackageOptions{kSampleVersion, "", "Tavun"}, image);
  Print("[demo] sample package " + package);

  QtPlatform platform;
  DemoOperator demo_operator(platform, package);
  IniProfile settings;
  SimBackend hid(platform);
  TForm1 form(FormServices{demo_operator, platform, platform, settings, hid});

  // The emulated device: a TV004 one version behind the package, answering on
  // the GUI thread's timers as a real device's answers arrive.
  emu::LoopScheduler scheduler(platform);
  emu::DeviceConfig device_config;
  device_config.Identity.Version = "201033";
  device_config.Identity.VersionAfterInstall = kSampleVersion;
  device_config.Timing.LatencyMs = 1;
  device_config.Timing.RestartMs = 2000;
  emu::MerovoxDevice device(device_config, scheduler);
  emu::SimMerovox cradle(hid, device);
  bool finished = false;

  RunHooks hooks;
  if (headless) {
    hooks.built = [&form](MainWindow&) {
      auto shown = form.Memo1.OnLineAdded;
      form.Memo1.OnLineAdded = [shown](const std::string& line) {
        if (shown) shown(line);
        Print(line);
      };
      auto label_shown = form.Label1.OnChanged;
      form.Label1.OnChanged = [label_shown, &form] {
        if (label_shown) label_shown();
        Print("[Label1] " + OneLine(form.Label1.Caption()));
      };
    };
  }
  hooks.shown = [&](MainWindow& window) {
    QTimer::singleShot(300, &window, [&form] { form.Guarded([&form] { form.OpenFileClick(); }); });
    QTimer::singleShot(800, &window, [&cradle] {
      Print("[demo] the device is set into the cradle");
      cradle.SetIn();
    });
    // After the final report the operator takes the device out.
    demo_operator.Finished = [&] {
      finished = true;
      QTimer::singleShot(500, &window, [&cradle] {
        Print("[demo] the device is taken out");
        cradle.Remove();
      });
      QTimer::singleShot(1500, &window, [&window] { window.close(); });
    };
    QTimer::singleShot(kDemoLimitMs, &window, [&window] {
      Print("[demo] the version-up did not finish in time");
      window.close();
    });
  };
  const int status = RunMainWindow(app, platform, form, hooks);
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
