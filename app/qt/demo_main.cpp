// mvxtvup-demo: the tool's window and core on the simulated HID backend. It
// writes a sample package into a fresh folder, opens it as the operator would
// and shows the window. Without a display it runs on Qt's offscreen platform,
// answers every box itself, prints the log and quits after a few seconds.
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
#include <string>
#include <vector>

#include "app/form.h"
#include "app/ini_profile.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"

namespace mvx {
namespace {

constexpr int kHeadlessRunMs = 3000;

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
// package; without a display every box is answered with its first button
// (an input box is cancelled) and printed instead of shown.
class DemoOperator : public IOperator {
 public:
  DemoOperator(QtPlatform& platform, std::string package, bool headless)
      : platform_(platform), package_(std::move(package)), headless_(headless) {}

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override {
    if (!headless_) return platform_.MessageBox(text, caption, buttons, icon);
    const MsgAnswer answer = buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
    Print("[box] " + caption + ": " + OneLine(text) +
          (answer == MsgAnswer::Yes ? " -> Yes" : " -> OK"));
    return answer;
  }
  MsgAnswer WarningDialog(const std::string& text) override {
    if (!headless_) return platform_.WarningDialog(text);
    Print("[box] 警告: " + OneLine(text) + " -> Yes");
    return MsgAnswer::Yes;
  }
  void ErrorDialog(const std::string& text) override {
    if (!headless_) return platform_.ErrorDialog(text);
    Print("[box] エラー: " + OneLine(text) + " -> OK");
  }
  std::string InputBox(const std::string& caption, const std::string& prompt) override {
    if (!headless_) return platform_.InputBox(caption, prompt);
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
  bool headless_;
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
  WritePackageFile(package, PackageOptions{"201022", "", "Tavun"}, image);
  Print("[demo] sample package " + package);

  QtPlatform platform;
  DemoOperator demo_operator(platform, package, headless);
  IniProfile settings;
  SimBackend hid(platform);
  TForm1 form(FormServices{demo_operator, platform, platform, settings, hid});

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
  hooks.shown = [&form, headless](MainWindow& window) {
    QTimer::singleShot(300, &window, [&form] { form.Guarded([&form] { form.OpenFileClick(); }); });
    if (headless) QTimer::singleShot(kHeadlessRunMs, &window, [&window] { window.close(); });
  };
  const int status = RunMainWindow(app, platform, form, hooks);
  if (headless) Print("[demo] done");
  return status;
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
