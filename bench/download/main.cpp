// Downloads a 16 MiB image to the emulated Merovox through the simulated HID
// backend, the tool's real main window core and the Qt shell's event loop
// (offscreen; the operator's answers are scripted): once with the
// device answering each packet at once and once 250 us after it arrived. After
// each download the device installs and stays away while the tool waits in
// state 14 with Timer1 running, and the benchmark measures what that waiting
// costs.
//
//   bench_download [MiB] [wait-window-seconds]     (defaults 16 and 5)
//
// Targets: at 250 us at least 0.95 of the rate the device's latency allows; at
// 0 us at least 20,000 packets per second; waiting in state 14 at most 1 % of
// a core.
#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "base/ini_profile.h"
#include "bench/download/answer_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"
#include "scripted/scripted_operator.h"
#include "sequencer/state_table.h"

namespace {

using namespace mvx;
using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

double CpuSeconds(int who) {
  rusage usage{};
  getrusage(who, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

long PeakRssMiB() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss / 1024;
}

double Since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// A package holding an image of the given size, in the working folder.
std::string MakePackage(std::uint64_t bytes) {
  const std::string path = (fs::current_path() / "bench.tvu").string();
  PackageWriter writer(path, PackageOptions{"201040", "", "Tavun"});
  std::vector<std::uint8_t> block(1 << 16);
  for (std::uint64_t done = 0; done < bytes;) {
    const std::size_t n =
        static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), bytes - done));
    for (std::size_t i = 0; i < n; ++i)
      block[i] = static_cast<std::uint8_t>(((done + i) * 7 + (done + i) / 251) & 0xFF);
    writer.Append(std::span(block.data(), n));
    done += n;
  }
  writer.Finish();
  return path;
}

// The shell's loop, counting the timer events it delivers, so the benchmark
// can tell how often the tool wakes while it waits.
class CountingLoop : public IEventLoop {
 public:
  explicit CountingLoop(IEventLoop& inner) : inner_(inner) {}
  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()> on_fire) override {
    return inner_.CreateTimer([this, on_fire = std::move(on_fire)] {
      ++events_;
      on_fire();
    });
  }
  void Post(std::function<void()> call) override { inner_.Post(std::move(call)); }
  void PostNext(std::function<void()> call) override { inner_.PostNext(std::move(call)); }
  std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) override {
    return inner_.WatchFd(fd, std::move(on_ready));
  }
  std::uint64_t TimerEvents() const { return events_; }

 private:
  IEventLoop& inner_;
  std::uint64_t events_ = 0;  // GUI thread only
};

struct Figures {
  bool Downloaded = false;
  long Packets = 0;  // the start packet, the data packets and the end packet
  double DownloadSeconds = 0;
  double DownloadCpu = 0;     // the whole process, the emulated device included
  double DownloadGuiCpu = 0;  // the GUI thread alone: the tool's steps, log and channel
  bench::AnswerScheduler::Answers Device;
  bool Waited = false;
  double WaitSeconds = 0;
  double WaitCpuProcess = 0;
  double WaitCpuGuiThread = 0;
  std::uint64_t WaitTimerEvents = 0;
};

// One version-up up to the wait for the restarted device.
Figures Run(QApplication& app, QtPlatform& platform, const std::string& package,
            std::chrono::microseconds latency, int window_s, bool with_window) {
  CountingLoop loop(platform);
  bench::AnswerScheduler scheduler(latency);
  SimBackend sim(loop);
  emu::DeviceConfig config;
  config.Identity.Product = "Merovox TV004";
  config.Identity.Version = "201035";
  config.Identity.VersionAfterInstall = "201040";
  // Every answer at the scheduler's fixed delay; the restart outlasts the
  // measuring window.
  config.Timing = {0, 50, 100, static_cast<std::uint32_t>(window_s + 3) * 1000, 1000};
  emu::MerovoxDevice device(config, scheduler);
  emu::SimMerovox cradle(sim, device);
  ScriptedOperator op;
  op.Answers = {package, "OK", "OK"};  // the open dialog, "File Ver", the confirmation
  IniProfile settings;
  TForm1 form(FormServices{op, loop, platform, settings, sim});

  Figures f;
  Clock::time_point start, wait_start;
  double cpu_start = 0, gui_cpu_start = 0, wait_cpu = 0, wait_gui_cpu = 0;
  std::uint64_t wait_events = 0;
  QTimer settle, window, give_up;
  settle.setSingleShot(true);
  window.setSingleShot(true);
  give_up.setSingleShot(true);
  QObject::connect(&settle, &QTimer::timeout, [&] {
    wait_start = Clock::now();
    wait_cpu = CpuSeconds(RUSAGE_SELF);
    wait_gui_cpu = CpuSeconds(RUSAGE_THREAD);
    wait_events = loop.TimerEvents();
    window.start(window_s * 1000);
  });
  QObject::connect(&window, &QTimer::timeout, [&] {
    f.Waited = form.SequencerState == state::AwaitRestart;
    f.WaitSeconds = Since(wait_start);
    f.WaitCpuProcess = CpuSeconds(RUSAGE_SELF) - wait_cpu;
    f.WaitCpuGuiThread = CpuSeconds(RUSAGE_THREAD) - wait_gui_cpu;
    f.WaitTimerEvents = loop.TimerEvents() - wait_events;
    app.quit();
  });
  QObject::connect(&give_up, &QTimer::timeout, [&] { app.quit(); });

  // With the main window the log also goes into its log control, as the
  // operator sees it.
  std::unique_ptr<MainWindow> shown;
  if (with_window) {
    shown = std::make_unique<MainWindow>(form);
    platform.SetWindow(shown.get());
    form.SetView(&platform);
    shown->show();
  }
  const auto to_window = form.Memo1.OnLineAdded;
  form.Memo1.OnLineAdded = [&](const std::string& line) {
    if (to_window) to_window(line);
    if (line.find("  source file size:") != std::string::npos) {
      start = Clock::now();
      cpu_start = CpuSeconds(RUSAGE_SELF);
      gui_cpu_start = CpuSeconds(RUSAGE_THREAD);
      scheduler.ResetMeasure();
    } else if (const auto at = line.find("  packet count:"); at != std::string::npos) {
      f.Packets = std::atol(line.c_str() + at + 15) + 1;
    } else if (EndsWith(line, ">>Download : Done")) {
      f.DownloadSeconds = Since(start);
      f.DownloadCpu = CpuSeconds(RUSAGE_SELF) - cpu_start;
      f.DownloadGuiCpu = CpuSeconds(RUSAGE_THREAD) - gui_cpu_start;
      f.Device = scheduler.Measured();
      f.Downloaded = true;
    } else if (EndsWith(line, "  14 status")) {
      settle.start(500);
    }
  };

  form.FormCreate();
  loop.Post([&] {
    form.Guarded([&] { form.OpenFileClick(); });
    cradle.SetIn();
  });
  give_up.start(600'000);
  app.exec();
  if (shown) {
    form.SetView(nullptr);
    platform.SetWindow(nullptr);
  }
  return f;
}

// What a bare 1 ms precise timer with an empty handler costs on this machine:
// the floor under any wait that keeps such a timer running.
double BareTimerCpuPercent(QApplication& app, int window_s, double& events_per_s) {
  QTimer tick, window;
  tick.setTimerType(Qt::PreciseTimer);
  window.setSingleShot(true);
  std::uint64_t events = 0;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++events; });
  const Clock::time_point start = Clock::now();
  const double cpu = CpuSeconds(RUSAGE_SELF);
  double percent = 0;
  QObject::connect(&window, &QTimer::timeout, [&] {
    const double seconds = Since(start);
    percent = 100.0 * (CpuSeconds(RUSAGE_SELF) - cpu) / seconds;
    events_per_s = static_cast<double>(events) / seconds;
    app.quit();
  });
  tick.start(1);
  window.start(window_s * 1000);
  app.exec();
  return percent;
}

void Report(const char* what, std::chrono::microseconds latency, std::uint64_t bytes,
            const Figures& f) {
  std::printf("%s (device answers %lld us after each packet):\n", what,
              static_cast<long long>(latency.count()));
  if (!f.Downloaded) {
    std::printf("  the download did not finish\n");
    return;
  }
  const double rate = static_cast<double>(f.Packets) / f.DownloadSeconds;
  std::printf("  %ld packets in %.3f s: %.0f packets/s, %.2f MB/s (%.2f MiB/s)\n", f.Packets,
              f.DownloadSeconds, rate, static_cast<double>(bytes) / 1e6 / f.DownloadSeconds,
              static_cast<double>(bytes) / 1048576.0 / f.DownloadSeconds);
  std::printf("  device's answers: %llu, %.1f us after their packet on average\n",
              static_cast<unsigned long long>(f.Device.Count), f.Device.MeanDelayUs);
  if (latency.count() > 0) {
    const double limit = 1e6 / static_cast<double>(latency.count());
    std::printf("  device-limited rate %.0f packets/s: ratio %.3f (target >= 0.95: %s)\n", limit,
                rate / limit, rate / limit >= 0.95 ? "met" : "NOT met");
    if (f.Device.MeanDelayUs > 0)
      std::printf("  rate its measured answer delay allows %.0f packets/s: ratio %.3f\n",
                  1e6 / f.Device.MeanDelayUs, rate * f.Device.MeanDelayUs / 1e6);
  } else {
    std::printf("  device-limited rate: none (answers at once); target >= 20000 packets/s: %s\n",
                rate >= 20000 ? "met" : "NOT met");
  }
  std::printf(
      "  CPU during the download: process %.0f %% of a core (device thread included), GUI thread "
      "%.1f us per packet\n",
      100.0 * f.DownloadCpu / f.DownloadSeconds,
      1e6 * f.DownloadGuiCpu / static_cast<double>(f.Packets));
  if (!f.Waited) {
    std::printf("  the wait in state 14 was not measured\n");
    return;
  }
  const double process = 100.0 * f.WaitCpuProcess / f.WaitSeconds;
  std::printf(
      "  waiting in state 14 for %.2f s, Timer1 enabled: %.0f timer events/s, CPU %.3f %% of a "
      "core (GUI thread %.3f %%) (target <= 1 %%: %s)\n",
      f.WaitSeconds, static_cast<double>(f.WaitTimerEvents) / f.WaitSeconds, process,
      100.0 * f.WaitCpuGuiThread / f.WaitSeconds, process <= 1.0 ? "met" : "NOT met");
}

}  // namespace

int main(int argc, char** argv) {
  // --window: the main window (offscreen) shows the log as the operator
  // sees it, so its cost is measured too.
  bool with_window = false;
  std::vector<const char*> numbers;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--window")
      with_window = true;
    else
      numbers.push_back(argv[i]);
  }
  const long mib = numbers.size() > 0 ? std::atol(numbers[0]) : 16;
  const int window_s = numbers.size() > 1 ? std::atoi(numbers[1]) : 5;
  if (mib <= 0 || window_s <= 0) {
    std::fprintf(stderr, "usage: bench_download [--window] [MiB] [wait-window-seconds]\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  QtPlatform platform;
  std::string folder = (fs::temp_directory_path() / "mvxtvup-bench-XXXXXX").string();
  if (!mkdtemp(folder.data())) {
    std::perror("mkdtemp");
    return 2;
  }
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  const std::uint64_t bytes = static_cast<std::uint64_t>(mib) << 20;
  int status = 0;
  try {
    const std::string package = MakePackage(bytes);
    std::printf(
        "download of a %ld MiB image (%llu bytes), simulated HID backend, Qt event loop%s\n", mib,
        static_cast<unsigned long long>(bytes), with_window ? ", main window showing the log" : "");
    for (const auto latency : {std::chrono::microseconds(0), std::chrono::microseconds(250)}) {
      const Figures f = Run(app, platform, package, latency, window_s, with_window);
      Report(latency.count() ? "slow device" : "fast device", latency, bytes, f);
      if (!f.Downloaded) status = 1;
    }
    double events = 0;
    const double bare = BareTimerCpuPercent(app, window_s, events);
    std::printf(
        "for comparison, a bare 1 ms Qt precise timer with an empty handler: %.0f timer events/s, "
        "CPU %.3f %% of a core\n",
        events, bare);
    std::printf("peak resident memory %ld MiB\n", PeakRssMiB());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_download: %s\n", e.what());
    status = 2;
  }
  fs::current_path(previous);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return status;
}
