// How long the tool itself takes per exchange: from a response's arrival (its
// "<<" log line) to the next command's write (the ">>" line that follows), over
// a whole version-up against an emulated device that answers at once, on the
// real Qt event loop with the 1 ms sequencer timer. Prints the median and the
// 99th percentile.
#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "app/form.h"
#include "app/qt/qt_platform.h"
#include "base/ini_profile.h"
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"
#include "scripted/scripted_operator.h"

namespace {

using Clock = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  using namespace mvx;

  const auto folder = std::filesystem::temp_directory_path() / "mvx-exchange-bench";
  std::filesystem::create_directories(folder);
  const std::string package = (folder / "bench.tvu").string();
  std::vector<std::uint8_t> image(4 * 1024 * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 131);
  WritePackageFile(package, PackageOptions{"201035", "", "Tavun"}, image);

  QtPlatform platform;
  ScriptedOperator op;
  op.Answers = {package};  // the open dialog; every box then takes its first button
  IniProfile settings;
  SimBackend hid(platform);
  TForm1 form(FormServices{op, platform, platform, settings, hid});

  emu::LoopScheduler scheduler(platform);
  emu::DeviceConfig config;
  config.Identity.Version = "201033";
  config.Identity.VersionAfterInstall = "201035";
  config.Timing = {0, 0, 0, 100, 0};
  emu::MerovoxDevice device(config, scheduler);
  emu::SimMerovox cradle(hid, device);

  std::vector<double> exchange_us;
  Clock::time_point last_received{};
  bool waiting = false;
  bool finished = false;
  auto listening = form.Memo1.Listen(
      {[&](std::string_view line) {
         if (line.size() < 24) return;
         const std::string_view marker = line.substr(22, 2);
         const Clock::time_point now = Clock::now();
         if (marker == "<<" && line.find('-') != std::string_view::npos) {
           last_received = now;
           waiting = true;
         } else if (marker == ">>" && waiting) {
           exchange_us.push_back(
               std::chrono::duration<double, std::micro>(now - last_received).count());
           waiting = false;
         }
       },
       nullptr});
  op.OnRecord = [&](const ScriptedOperator::Record& r) {
    if (r.Text.rfind("Update finished.", 0) == 0) {
      finished = true;
      QTimer::singleShot(0, &app, &QApplication::quit);
    }
  };

  const Clock::time_point start = Clock::now();
  QTimer::singleShot(0, &app, [&] {
    form.Guarded([&] { form.OpenFileClick(); });
    cradle.SetIn();
  });
  QTimer::singleShot(120000, &app, &QApplication::quit);
  app.exec();
  const double seconds = std::chrono::duration<double>(Clock::now() - start).count();

  std::printf("version-up finished: %s in %.2f s (4 MiB image, device answering at once)\n",
              finished ? "yes" : "no", seconds);
  std::printf("exchanges measured: %zu\n", exchange_us.size());
  std::printf(
      "tool time per exchange: median %.1f us, p99 %.1f us, max %.1f us\n",
      Percentile(exchange_us, 0.5), Percentile(exchange_us, 0.99),
      exchange_us.empty() ? 0.0 : *std::max_element(exchange_us.begin(), exchange_us.end()));
  std::filesystem::remove_all(folder);
  return finished ? 0 : 1;
}
