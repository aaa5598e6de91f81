// Downloads a 16 MiB image to the emulated Merovox through the simulated HID
// backend, the tool's real main window core and the Qt shell's event loop
// (offscreen; the operator's answers are scripted), with the device answering
// each packet at once and 250 us after it arrived. Each round runs the
// download's floor (the same mechanism with none of the tool's work, see
// floor.h) and the tool one after the other, so that both see the same
// machine; the report gives the medians of the rounds and the ratio tool /
// floor. After the first round's download the device installs and stays away
// while the tool waits in state 14, and the benchmark measures what that
// waiting costs.
//
//   bench_download [--window] [--rounds N] [--versionups N] [MiB] [wait-window-seconds]
//
// --window: the main window (offscreen) shows the log, so its cost counts.
// --floor-only, --tool-only: one of the two alone, for a profile.
// --versionups N: afterwards N whole version-ups of different devices, one
// after the other, by one main window, with the resident memory after each.
//
// Targets: tool / floor at least 0.95 at 0 us and at 250 us; the GUI thread's
// CPU per packet at most 1.2 times the floor's; the peak resident memory of a
// download at most 1.3 times the log's text plus 40 MiB; waiting in state 14
// at most 1 % of a core.
#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/qt/main_window.h"
#include "app/qt/qt_platform.h"
#include "base/ini_profile.h"
#include "base/text.h"
#include "bench/download/answer_scheduler.h"
#include "bench/download/floor.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"
#include "protocol/layouts.h"
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

// The resident memory, and its peak since the last reset, from the kernel.
long StatusKiB(const char* field) {
  std::FILE* status = std::fopen("/proc/self/status", "r");
  if (status == nullptr) return -1;
  char line[256];
  long kib = -1;
  const std::size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status) != nullptr)
    if (std::strncmp(line, field, length) == 0 && line[length] == ':')
      kib = std::atol(line + length + 1);
  std::fclose(status);
  return kib;
}

void ResetPeakRss() {
  if (std::FILE* refs = std::fopen("/proc/self/clear_refs", "w")) {
    std::fputs("5", refs);
    std::fclose(refs);
  }
}

double MiB(long kib) {
  return static_cast<double>(kib) / 1024.0;
}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

// The main window (offscreen) for a run with --window, taken down with the run.
class ShownWindow {
 public:
  ShownWindow(QtPlatform& platform, TForm1& form, bool show) : platform_(platform), form_(form) {
    if (!show) return;
    window_ = std::make_unique<MainWindow>(form);
    platform.SetWindow(window_.get());
    form.SetView(&platform);
    window_->show();
  }
  ~ShownWindow() {
    if (!window_) return;
    form_.SetView(nullptr);
    platform_.SetWindow(nullptr);
  }
  ShownWindow(const ShownWindow&) = delete;
  ShownWindow& operator=(const ShownWindow&) = delete;
  void ShowPending() const {
    if (window_) window_->ShowPending();
  }

 private:
  QtPlatform& platform_;
  TForm1& form_;
  std::unique_ptr<MainWindow> window_;
};

struct Figures {
  bool Downloaded = false;
  long Packets = 0;  // the start packet, the data packets and the end packet
  double DownloadSeconds = 0;
  double DownloadCpu = 0;     // the whole process, the emulated device included
  double DownloadGuiCpu = 0;  // the GUI thread alone: the tool's steps, log and channel
  bench::AnswerScheduler::Answers Device;
  long PeakRssKiB = 0;         // from the package's opening to the download's end
  std::uint64_t LogBytes = 0;  // the log's text at the download's end, a line break per line
  bool Waited = false;
  double WaitSeconds = 0;
  double WaitCpuProcess = 0;
  double WaitCpuGuiThread = 0;
  std::uint64_t WaitTimerEvents = 0;
};

// One version-up up to the end of the download, or with window_s > 0 up to
// window_s seconds into the wait for the restarted device.
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
  const ShownWindow shown(platform, form, with_window);
  std::uint64_t log_bytes = 0;
  auto listening = form.Memo1.Listen(
      {[&](std::string_view line) {
         log_bytes += line.size() + 1;
         // Only notes and sent lines matter here; a received line's hex dump
         // is not searched.
         const std::string_view marker = line.size() >= 24 ? line.substr(22, 2) : "";
         if (marker != "  " && marker != ">>") return;
         if (line.find("  source file size:") != std::string_view::npos) {
           start = Clock::now();
           cpu_start = CpuSeconds(RUSAGE_SELF);
           gui_cpu_start = CpuSeconds(RUSAGE_THREAD);
           scheduler.ResetMeasure();
         } else if (const auto at = line.find("  packet count:"); at != std::string_view::npos) {
           f.Packets = std::atol(std::string(line.substr(at + 15)).c_str()) + 1;
         } else if (line.ends_with(">>Download : Done")) {
           f.DownloadSeconds = Since(start);
           f.DownloadCpu = CpuSeconds(RUSAGE_SELF) - cpu_start;
           f.DownloadGuiCpu = CpuSeconds(RUSAGE_THREAD) - gui_cpu_start;
           f.Device = scheduler.Measured();
           f.Downloaded = true;
           shown.ShowPending();
           f.PeakRssKiB = StatusKiB("VmHWM");
           f.LogBytes = log_bytes;
           if (window_s == 0) app.quit();
         } else if (line.ends_with("  14 status") && window_s > 0) {
           settle.start(500);
         }
       },
       [&] { log_bytes = 0; }});

  ResetPeakRss();
  form.FormCreate();
  loop.Post([&] {
    form.Guarded([&] { form.OpenFileClick(); });
    cradle.SetIn();
  });
  give_up.start(600'000);
  app.exec();
  return f;
}

// Whole version-ups of different devices, one after the other, by one main
// window: the resident memory after each, which must stay flat (the log is
// cleared for each device).
std::vector<long> RunVersionups(QApplication& app, QtPlatform& platform, const std::string& package,
                                int count, bool with_window) {
  bench::AnswerScheduler scheduler(std::chrono::microseconds(0));
  SimBackend sim(platform);
  ScriptedOperator op;
  op.Answers = {package};  // every later box takes its first button
  IniProfile settings;
  TForm1 form(FormServices{op, platform, platform, settings, sim});
  const ShownWindow shown(platform, form, with_window);
  // Only the device in the cradle is kept: one that left takes its image with it.
  std::unique_ptr<emu::MerovoxDevice> device;
  std::unique_ptr<emu::SimMerovox> cradle;
  int set_in = 0;
  std::vector<long> rss;
  auto set_in_next = [&] {
    cradle.reset();
    device.reset();
    emu::DeviceConfig config;
    config.Identity.Product = "Merovox TV004";
    config.Identity.Version = "201035";
    config.Identity.VersionAfterInstall = "201040";
    config.Identity.Serial.Serial = Format("TV04%08d", ++set_in);
    config.Timing = {0, 50, 100, 300, 1000};
    device = std::make_unique<emu::MerovoxDevice>(config, scheduler);
    cradle = std::make_unique<emu::SimMerovox>(sim, *device);
    cradle->SetIn();
  };
  op.OnRecord = [&](const ScriptedOperator::Record& r) {
    if (r.Text.rfind("Update finished.", 0) != 0) return;
    shown.ShowPending();
    rss.push_back(StatusKiB("VmRSS"));
    QTimer::singleShot(0, &app, [&] {
      cradle->Remove();
      if (static_cast<int>(rss.size()) == count)
        QTimer::singleShot(200, &app, [&app] { app.quit(); });
      else
        QTimer::singleShot(200, &app, set_in_next);
    });
  };
  QTimer give_up;
  give_up.setSingleShot(true);
  QObject::connect(&give_up, &QTimer::timeout, [&] { app.quit(); });
  give_up.start(count * 60'000);
  form.FormCreate();
  platform.Post([&] {
    form.Guarded([&] { form.OpenFileClick(); });
    set_in_next();
  });
  app.exec();
  return rss;
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

const char* Verdict(bool met) {
  return met ? "met" : "NOT met";
}

// The rounds of one answer latency: the floor's and the tool's figures.
struct Rounds {
  std::vector<double> FloorRate, ToolRate, Ratio, FloorGuiUs, ToolGuiUs, ToolDelayUs;
  long PeakRssKiB = 0;
  std::uint64_t LogBytes = 0;
  int Failed = 0;
};

void Report(std::chrono::microseconds latency, const Rounds& r) {
  std::printf("device answers %lld us after each packet, %zu rounds (medians):\n",
              static_cast<long long>(latency.count()), r.ToolRate.size());
  if (r.ToolRate.empty()) {
    std::printf("  no download finished\n");
    return;
  }
  const double tool = Median(r.ToolRate), floor = Median(r.FloorRate);
  std::printf("  floor %.0f packets/s, tool %.0f packets/s (%.2f MiB/s)\n", floor, tool,
              tool * static_cast<double>(protocol::kBlockSize) / 1048576.0);
  const double ratio = Median(r.Ratio);
  std::string each;
  for (double x : r.Ratio) each += Format("%s%.2f", each.empty() ? "" : " ", x);
  std::printf("  tool / floor %.3f (round by round %s) (target >= 0.95: %s)\n", ratio, each.c_str(),
              Verdict(ratio >= 0.95));
  const double floor_gui = Median(r.FloorGuiUs), tool_gui = Median(r.ToolGuiUs);
  std::printf(
      "  GUI thread CPU per packet: floor %.1f us, tool %.1f us, ratio %.2f (target <= 1.2: %s)\n",
      floor_gui, tool_gui, tool_gui / floor_gui, Verdict(tool_gui <= 1.2 * floor_gui));
  if (latency.count() > 0) {
    const double limit = 1e6 / static_cast<double>(latency.count());
    std::printf(
        "  device-limited rate %.0f packets/s: tool %.3f of it; the device's answers left "
        "%.1f us after their packet\n",
        limit, tool / limit, Median(r.ToolDelayUs));
  }
  const double log_mib = static_cast<double>(r.LogBytes) / 1048576.0;
  std::printf(
      "  peak resident memory of a tool run %.1f MiB; the log's text %.1f MiB "
      "(target <= 1.3 x log + 40 MiB = %.1f MiB: %s)\n",
      MiB(r.PeakRssKiB), log_mib, 1.3 * log_mib + 40,
      Verdict(MiB(r.PeakRssKiB) <= 1.3 * log_mib + 40));
}

void ReportWait(const Figures& f) {
  if (!f.Waited) {
    std::printf("the wait in state 14 was not measured\n");
    return;
  }
  const double process = 100.0 * f.WaitCpuProcess / f.WaitSeconds;
  std::printf(
      "waiting in state 14 for %.2f s, Timer1 enabled: %.0f timer events/s, CPU %.3f %% of a "
      "core (GUI thread %.3f %%) (target <= 1 %%: %s)\n",
      f.WaitSeconds, static_cast<double>(f.WaitTimerEvents) / f.WaitSeconds, process,
      100.0 * f.WaitCpuGuiThread / f.WaitSeconds, Verdict(process <= 1.0));
}

}  // namespace

int main(int argc, char** argv) {
  bool with_window = false;
  int rounds = 5, versionups = 0;
  bool floor_only = false, tool_only = false;  // for profiles of one of the two
  std::vector<const char*> numbers;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--window")
      with_window = true;
    else if (arg == "--rounds" && i + 1 < argc)
      rounds = std::atoi(argv[++i]);
    else if (arg == "--floor-only")
      floor_only = true;
    else if (arg == "--tool-only")
      tool_only = true;
    else if (arg == "--versionups" && i + 1 < argc)
      versionups = std::atoi(argv[++i]);
    else
      numbers.push_back(argv[i]);
  }
  const long mib = numbers.size() > 0 ? std::atol(numbers[0]) : 16;
  const int window_s = numbers.size() > 1 ? std::atoi(numbers[1]) : 5;
  if (mib <= 0 || window_s <= 0 || rounds <= 0 || versionups < 0) {
    std::fprintf(stderr,
                 "usage: bench_download [--window] [--rounds N] [--versionups N] [MiB] "
                 "[wait-window-seconds]\n");
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
        "download of a %ld MiB image (%llu bytes), simulated HID backend, Qt event loop%s; "
        "floor and tool interleaved\n",
        mib, static_cast<unsigned long long>(bytes),
        with_window ? ", main window showing the log" : "");
    const long packets =
        static_cast<long>((bytes + protocol::kBlockSize - 1) / protocol::kBlockSize) + 2;
    Figures waited;
    for (const auto latency : {std::chrono::microseconds(0), std::chrono::microseconds(250)}) {
      Rounds r;
      for (int round = 0; round < rounds; ++round) {
        // Which goes first alternates, so neither always meets a warmer machine.
        bench::FloorFigures floor;
        Figures tool;
        const bool wait = latency.count() > 0 && round == 0;
        for (int turn = 0; turn < 2; ++turn) {
          if ((turn == 0) == (round % 2 == 0)) {
            if (!tool_only) floor = bench::RunFloor(app, platform, packets, latency);
          } else if (!floor_only) {
            tool = Run(app, platform, package, latency, wait ? window_s : 0, with_window);
          }
        }
        if (wait) waited = tool;
        if (floor_only || tool_only) continue;
        if (!floor.Done || !tool.Downloaded) {
          ++r.Failed;
          status = 1;
          continue;
        }
        const double floor_rate = static_cast<double>(floor.Packets) / floor.Seconds;
        const double tool_rate = static_cast<double>(tool.Packets) / tool.DownloadSeconds;
        r.FloorRate.push_back(floor_rate);
        r.ToolRate.push_back(tool_rate);
        r.Ratio.push_back(tool_rate / floor_rate);
        r.FloorGuiUs.push_back(1e6 * floor.GuiCpu / static_cast<double>(floor.Packets));
        r.ToolGuiUs.push_back(1e6 * tool.DownloadGuiCpu / static_cast<double>(tool.Packets));
        r.ToolDelayUs.push_back(tool.Device.MeanDelayUs);
        r.PeakRssKiB = std::max(r.PeakRssKiB, tool.PeakRssKiB);
        r.LogBytes = std::max(r.LogBytes, tool.LogBytes);
      }
      Report(latency, r);
      if (r.Failed) std::printf("  %d rounds did not finish\n", r.Failed);
    }
    ReportWait(waited);
    double events = 0;
    const double bare = BareTimerCpuPercent(app, window_s, events);
    std::printf(
        "for comparison, a bare 1 ms Qt precise timer with an empty handler: %.0f timer events/s, "
        "CPU %.3f %% of a core\n",
        events, bare);
    if (versionups > 0) {
      const std::vector<long> rss = RunVersionups(app, platform, package, versionups, with_window);
      std::string list;
      for (long kib : rss) list += Format(" %.1f", MiB(kib));
      std::printf(
          "%d whole version-ups of different devices by one window: %zu finished, resident "
          "memory after each (MiB):%s\n",
          versionups, rss.size(), list.c_str());
      if (static_cast<int>(rss.size()) != versionups) status = 1;
    }
    std::printf("peak resident memory of the whole benchmark %ld MiB\n", PeakRssMiB());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "bench_download: %s\n", e.what());
    status = 2;
  }
  fs::current_path(previous);
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return status;
}
