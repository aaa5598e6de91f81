// The soak: consecutive version-ups of one package by one main window onto
// emulated devices set in one after the other, a random fault in one run out
// of five. Prints the runs completed, the faults survived, the resident
// memory after the first runs and at the end, and the open descriptors and
// threads before the window exists and after it is gone. A program to run by
// hand, not a test.
//
//   bench_soak [RUNS] [SEED]      default 500 runs, seed 1
#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/form.h"
#include "base/ini_profile.h"
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"
#include "scripted/scripted_operator.h"
#include "scripted/virtual_loop.h"
#include "sequencer/state_table.h"

namespace {

namespace fs = std::filesystem;
using namespace mvx;

// A field of /proc/self/status in kB (or a count), 0 when absent.
long StatusField(const char* name) {
  std::ifstream in("/proc/self/status");
  std::string line;
  const std::string key = std::string(name) + ":";
  while (std::getline(in, line))
    if (line.rfind(key, 0) == 0) return std::strtol(line.c_str() + key.size(), nullptr, 10);
  return 0;
}

int OpenDescriptors() {
  int count = 0;
  if (DIR* dir = opendir("/proc/self/fd")) {
    while (const dirent* entry = readdir(dir))
      if (entry->d_name[0] != '.') ++count;
    closedir(dir);
  }
  return count - 1;  // the listing's own
}

// One emulated device with its own timers: they go with it, so no answer of a
// device that is gone can reach the window.
struct Unit {
  Unit(const emu::DeviceConfig& config, VirtualLoop& loop, SimBackend& sim)
      : Scheduler(std::make_unique<emu::LoopScheduler>(loop)),
        Model(std::make_unique<emu::MerovoxDevice>(config, *Scheduler)),
        Adapter(std::make_unique<emu::SimMerovox>(sim, *Model)) {}
  ~Unit() {
    Scheduler.reset();
    Adapter.reset();
    Model.reset();
  }
  std::unique_ptr<emu::LoopScheduler> Scheduler;
  std::unique_ptr<emu::MerovoxDevice> Model;
  std::unique_ptr<emu::SimMerovox> Adapter;
};

// A fault for one run, drawn from the kinds a device shows.
emu::Fault RandomFault(std::mt19937& random, std::string& name) {
  emu::Fault f;
  const char* commands[] = {"RTC", "VER", "GSER", "KIND", "DETAIL", "LANGUAGE", "SSER", "CLEAR"};
  switch (random() % 8) {
    case 0:
      f.Kind = emu::FaultKind::Answer;
      f.Command = commands[random() % std::size(commands)];
      f.With = random() % 2 ? emu::Replacement::NG : emu::Replacement::Garbage;
      name = "answer " + f.Command;
      break;
    case 1:
      f.Kind = emu::FaultKind::PacketStatus;
      f.Command = random() % 2 ? "FCPD" : "FCPS";
      f.Status = 1;
      name = "status " + f.Command;
      break;
    case 2:
      f.Kind = emu::FaultKind::WrongDigest;
      name = "wrong digest";
      break;
    case 3:
      f.Kind = emu::FaultKind::RemoveAt;
      f.Command = random() % 2 ? "FCPD" : "UPLR";
      name = "removed at " + f.Command;
      break;
    case 4:
      f.Kind = emu::FaultKind::UploadSkipPacket;
      name = "upload skip";
      break;
    case 5:
      f.Kind = emu::FaultKind::UploadDuplicateEnd;
      name = "duplicate end";
      break;
    case 6:
      f.Kind = emu::FaultKind::NoReturn;
      name = "no return";
      break;
    default:
      f.Kind = emu::FaultKind::UploadWrongSize;
      f.Value = 1;
      name = "wrong size";
      break;
  }
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 500;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::atoi(argv[2])) : 1;
  std::mt19937 random(seed);

  const fs::path folder = fs::temp_directory_path() / ("mvx_soak_" + std::to_string(getpid()));
  fs::create_directories(folder);
  const fs::path previous = fs::current_path();
  fs::current_path(folder);
  std::vector<std::uint8_t> image(3000);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
  const std::string package = (folder / "fw040.tvu").string();
  WritePackageFile(package, PackageOptions{"201040", "", "Tavun"}, image);

  const int fds_before = OpenDescriptors();
  const long threads_before = StatusField("Threads");
  long rss_early = 0, rss_end = 0, peak_early = 0, peak_end = 0;
  int completed = 0, faulty = 0, survived = 0, finished_boxes = 0;
  bool previous_faulty = false;
  std::vector<std::string> failures;
  {
    VirtualLoop loop;
    ScriptedOperator op;
    IniProfile settings;
    SimBackend sim(loop);
    loop.Busy = [&] { return sim.InFlight(); };
    TForm1 form(FormServices{op, loop, loop, settings, sim});
    op.OnRecord = [&](const ScriptedOperator::Record& r) {
      if (r.Text.rfind("Update finished.", 0) == 0) ++finished_boxes;
      // Only the recent boxes matter; the list must not grow for ever.
      if (op.Records.size() > 64) op.Records.erase(op.Records.begin(), op.Records.end() - 32);
    };
    form.Guarded([&] { form.FormCreate(); });
    op.Answers.push_front(package);
    form.Guarded([&] { form.OpenFileClick(); });
    loop.RunFor(100);

    for (int run = 0; run < runs; ++run) {
      emu::DeviceConfig config;
      config.Identity.Version = "201035";
      config.Identity.VersionAfterInstall = "201040";
      config.Identity.SerialAfterInstall = emu::SerialItems{"0", "0", "0"};
      config.Identity.Serial.Serial = "TV04" + std::to_string(10000000 + run);
      std::string fault_name;
      const bool with_fault = random() % 5 == 0;
      if (with_fault) config.Faults.push_back(RandomFault(random, fault_name));

      const int boxes_before = finished_boxes;
      Unit unit(config, loop, sim);
      unit.Adapter->SetIn();
      // A run takes a few seconds of virtual time; a faulty one may wait
      // for the restart watchdog (30 s).
      loop.RunFor(45'000, [&] { return form.SequencerState == state::Closing; });
      const bool done = finished_boxes > boxes_before && unit.Model->Identity().Version == "201040";
      unit.Adapter->Remove();
      loop.RunFor(500);
      // A sound run ends in state 99 and the removal brings the tool back to
      // state 1; a faulty one may leave it waiting in any state, and the next
      // device must start a clean run all the same.
      if (!with_fault && (!done || form.SequencerState != state::Idle))
        failures.push_back("run " + std::to_string(run) + " (no fault) did not finish, state " +
                           std::to_string(form.SequencerState));
      if (done) ++completed;
      if (with_fault) ++faulty;
      if (previous_faulty && !with_fault && done) ++survived;
      previous_faulty = with_fault;
      if (run == std::min(runs, 10) - 1) {
        rss_early = StatusField("VmRSS");
        peak_early = StatusField("VmHWM");
      }
    }
    rss_end = StatusField("VmRSS");
    peak_end = StatusField("VmHWM");
    form.Guarded([&] { form.FormDestroy(); });
  }
  const int fds_after = OpenDescriptors();
  const long threads_after = StatusField("Threads");
  fs::current_path(previous);
  std::error_code ignored;
  fs::remove_all(folder, ignored);

  std::printf(
      "soak: %d runs, %d completed, %d with a fault; %d faults survived (the next run, itself "
      "sound, finished); %zu failures\n",
      runs, completed, faulty, survived, failures.size());
  std::printf("rss after 10 runs: %ld kB (peak %ld kB); at the end: %ld kB (peak %ld kB)\n",
              rss_early, peak_early, rss_end, peak_end);
  std::printf("open descriptors: %d before, %d after; threads: %ld before, %ld after\n", fds_before,
              fds_after, threads_before, threads_after);
  for (const std::string& f : failures) std::printf("  %s\n", f.c_str());
  return failures.empty() && fds_after == fds_before && threads_after == threads_before ? 0 : 1;
}
