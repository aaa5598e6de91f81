// bench_win32_grain: what the Win32 loop's timers do to a version-up on this
// Windows (or wine). Prints the grain of a 1 ms timer, the download rate of a
// whole version-up in the real window against the emulated device, and the
// CPU the process uses while it waits in state 14 for the device's restart.
//   bench_win32_grain [image KiB, default 1024]
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/form.h"
#include "app/win32/win32_platform.h"
#include "app/win32/win32_window.h"
#include "base/file_system.h"
#include "base/ini_profile.h"
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"
#include "scripted/scripted_operator.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

double Seconds() {
  LARGE_INTEGER now, frequency;
  QueryPerformanceCounter(&now);
  QueryPerformanceFrequency(&frequency);
  return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

double ProcessCpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto value = [](FILETIME t) {
    return static_cast<double>((static_cast<unsigned long long>(t.dwHighDateTime) << 32) |
                               t.dwLowDateTime) /
           1e7;
  };
  return value(kernel) + value(user);
}

// Runs the thread's messages until done() holds or limit seconds pass.
bool PumpUntil(const std::function<bool()>& done, double limit) {
  const double end = Seconds() + limit;
  MSG message;
  while (!done()) {
    if (Seconds() > end) return false;
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) return false;
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

void TimerGrain(Win32Platform& platform) {
  std::vector<double> at;
  auto timer = platform.CreateTimer([&at] { at.push_back(Seconds()); });
  timer->Start(1);
  PumpUntil([&at] { return at.size() >= 101; }, 10);
  timer->Stop();
  double longest = 0;
  for (std::size_t i = 1; i < at.size(); ++i) longest = std::max(longest, at[i] - at[i - 1]);
  const double mean = at.size() > 1 ? (at.back() - at.front()) / double(at.size() - 1) : 0;
  std::printf("timer asked for 1 ms: mean interval %.2f ms, longest %.2f ms (%zu ticks)\n",
              mean * 1e3, longest * 1e3, at.size());
}

int Run(int argc, char** argv) {
  const std::size_t kib = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 1024;
  const auto folder = std::filesystem::temp_directory_path() / "mvxtvup-grain";
  std::filesystem::create_directories(folder);
  const std::string package = PathUtf8(folder / "grain.tvu");
  std::vector<std::uint8_t> image(kib * 1024);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  WritePackageFile(package, PackageOptions{"201035", "", "Tavun"}, image);

  Win32Platform platform;
  TimerGrain(platform);

  ScriptedOperator scripted;
  scripted.Answers = {package};
  IniProfile settings;
  SimBackend hid(platform);
  TForm1 form(FormServices{scripted, platform, platform, settings, hid});
  emu::LoopScheduler scheduler(platform);
  emu::DeviceConfig config;
  config.Identity.Version = "201033";
  config.Identity.VersionAfterInstall = "201035";
  config.Timing.LatencyMs = 0;
  config.Timing.RestartMs = 6000;
  emu::MerovoxDevice device(config, scheduler);
  emu::SimMerovox cradle(hid, device);

  Win32MainWindow window(form);
  platform.SetWindow(window.Handle());
  form.SetView(&platform);
  form.Guarded([&form] { form.FormCreate(); });
  ShowWindow(window.Handle(), SW_SHOWNORMAL);
  form.Guarded([&form] { form.OpenFileClick(); });
  cradle.SetIn();

  const double start = Seconds();
  if (!PumpUntil([&] { return form.SequencerState == state::DownloadTransfer; }, 60)) {
    std::printf("the download did not start\n");
    return 1;
  }
  const double download_start = Seconds();
  if (!PumpUntil([&] { return form.SequencerState == state::AwaitRestart; }, 600)) {
    std::printf("the install was not reached\n");
    return 1;
  }
  const double download_end = Seconds();
  const double packets = static_cast<double>(form.DownloadPacketCount);
  std::printf("download of %zu KiB: %.0f packets in %.2f s = %.0f packets/s (to state 9: %.2f s)\n",
              kib, packets, download_end - download_start,
              packets / (download_end - download_start), download_start - start);

  // The wait for the restart: Timer1 parks, nothing should run.
  PumpUntil([] { return false; }, 0.5);
  const double cpu_before = ProcessCpuSeconds(), wall_before = Seconds();
  PumpUntil([&] { return form.SequencerState != state::AwaitRestart; }, 4);
  const double waited = Seconds() - wall_before;
  std::printf("waiting in state 14: %.2f%% of a core over %.2f s\n",
              100.0 * (ProcessCpuSeconds() - cpu_before) / waited, waited);

  const bool finished = PumpUntil(
      [&] {
        for (const auto& r : scripted.Records)
          if (r.Text.rfind("Update finished.", 0) == 0) return true;
        return false;
      },
      60);
  std::printf("whole version-up: %.2f s, %s\n", Seconds() - start,
              finished ? "Update finished" : "not finished");
  form.SetView(nullptr);
  return finished ? 0 : 1;
}

}  // namespace
}  // namespace mvx

int main(int argc, char** argv) {
  return mvx::Run(argc, argv);
}
