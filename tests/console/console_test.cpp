// The console program's parts on simulated devices: its options, its record
// file, a whole session of units that finish, fail and are taken out, and two
// copies bound to two cradles of one bus.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "app/console/cli_options.h"
#include "app/console/cli_session.h"
#include "app/console/console_operator.h"
#include "app/console/unit_record.h"
#include "app/console/unit_watch.h"
#include "base/file_system.h"
#include "base/ini_profile.h"
#include "base/real_time_loop.h"
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/sim/sim_backend.h"
#include "tests/base/temp_dir.h"
#include "tools/demo/demo_session.h"

namespace mvx::cli {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Lines(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

TEST(CliOptions, CombinationsAndTheirErrors) {
  struct Row {
    std::vector<std::string> Args;
    std::string Error;  // a part of the error; empty: accepted
  };
  const Row rows[] = {
      {{"p.tvu"}, ""},
      {{"--yes", "--units=0", "--wait", "30", "--cradle", "1-2", "p.tvu"}, ""},
      {{"--demo", "3"}, ""},
      {{"--list"}, ""},
      {{}, "no package"},
      {{"a.tvu", "b.tvu"}, "one package"},
      {{"--units", "x", "p.tvu"}, "bad value for --units"},
      {{"--units", "-1", "p.tvu"}, "bad value for --units"},
      {{"--demo", "0"}, "bad value for --demo"},
      {{"--wait"}, "--wait needs a value"},
      {{"--yes=no", "p.tvu"}, "--yes takes no value"},
      {{"--record", "", "p.tvu"}, "bad value for --record"},
      {{"--list", "p.tvu"}, "--list takes no package"},
      {{"--frobnicate", "p.tvu"}, "unknown option --frobnicate"},
  };
  for (const Row& row : rows) {
    const ParsedOptions parsed = ParseOptions(row.Args);
    if (row.Error.empty())
      EXPECT_EQ(parsed.Error, "") << row.Args.size();
    else
      EXPECT_NE(parsed.Error.find(row.Error), std::string::npos) << parsed.Error;
  }
  const ParsedOptions full = ParseOptions(
      std::vector<std::string>{"--access-code", "A-1", "--format", "--json", "--", "-x.tvu"});
  EXPECT_EQ(full.Options.AccessCode, "A-1");
  EXPECT_TRUE(full.Options.Format && full.Options.Json);
  EXPECT_EQ(full.Options.Package, "-x.tvu");
}

UnitRecord SampleRecord() {
  UnitRecord r;
  r.Start = std::chrono::system_clock::time_point(std::chrono::milliseconds(1'765'000'000'123));
  r.End = r.Start + std::chrono::milliseconds(42'150);
  r.Serial = "TV0400001234";
  r.Model = "TV004";
  r.Package = "fw, \"new\".tvu";
  r.UpdateType = 2;
  r.Result = "model:TV004 Error : Model Mismatch.\r\nモデルが違います";
  return r;
}

TEST(UnitRecordLines, CsvAndJsonKeepEveryTextOnOneLine) {
  const UnitRecord r = SampleRecord();
  const std::string csv = CsvLine(r);
  EXPECT_EQ(csv.find('\n'), csv.size() - 1);
  EXPECT_NE(csv.find(",\"fw, \"\"new\"\".tvu\","), std::string::npos) << csv;
  EXPECT_NE(csv.find("Model Mismatch. / モデルが違います"), std::string::npos) << csv;
  EXPECT_NE(csv.find(",42.1,"), std::string::npos) << csv;
  EXPECT_EQ(CsvHeader().substr(0, 3), "\xEF\xBB\xBF");

  const std::string json = JsonLine(r);
  EXPECT_EQ(json.find('\n'), json.size() - 1);
  EXPECT_NE(json.find("\"package\":\"fw, \\\"new\\\".tvu\""), std::string::npos) << json;
  EXPECT_NE(json.find("\"update_type\":2"), std::string::npos) << json;
  EXPECT_NE(json.find("\"finished\":false"), std::string::npos) << json;

  EXPECT_TRUE(std::regex_match(IsoLocalTime(r.Start),
                               std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.123[+-]\d\d:\d\d)")))
      << IsoLocalTime(r.Start);
}

TEST(UnitRecordFile, AppendsWholeLinesFromManyWritersAndMendsATornEnd) {
  ScopedWorkDir dir;
  const std::string path = (dir.Path() / "record.csv").string();
  // A crash left half a line behind: the next record begins a line of its own.
  ScopedWorkDir::Write(path, CsvHeader() + "2026-12-10T00:00:00,half");
  const RecordFile file(path, false);
  std::vector<std::thread> writers;
  writers.reserve(4);
  for (int w = 0; w < 4; ++w)
    writers.emplace_back([&file, w] {
      UnitRecord r = SampleRecord();
      for (int i = 0; i < 25; ++i) {
        r.Serial = "TV04W" + std::to_string(w) + "N" + std::to_string(i);
        EXPECT_FALSE(file.Append(r));
      }
    });
  for (std::thread& t : writers) t.join();
  std::set<std::string> expected;
  for (int w = 0; w < 4; ++w)
    for (int i = 0; i < 25; ++i) {
      UnitRecord r = SampleRecord();
      r.Serial = "TV04W" + std::to_string(w) + "N" + std::to_string(i);
      const std::string line = CsvLine(r);
      expected.insert(line.substr(0, line.size() - 1));  // as getline leaves it
    }
  const std::vector<std::string> lines = Lines(path);
  ASSERT_EQ(lines.size(), 102u);
  EXPECT_EQ(lines[1], "2026-12-10T00:00:00,half");
  EXPECT_EQ(std::set<std::string>(lines.begin() + 2, lines.end()), expected);
  // Nowhere to write: an error, not a crash.
  EXPECT_TRUE(
      RecordFile((dir.Path() / "no" / "such" / "r.csv").string(), true).Append(SampleRecord()));
}

emu::DeviceConfig Unit(const std::string& serial, const std::string& after) {
  emu::DeviceConfig config;
  config.Identity.Version = "201033";
  config.Identity.VersionAfterInstall = after;
  config.Identity.Serial.Serial = serial;
  config.Timing.LatencyMs = 1;
  config.Timing.BackupMs = 20;
  config.Timing.InstallMs = 50;
  config.Timing.RestartMs = 300;
  return config;
}

// Units set into a cradle one after another: the next as soon as the
// previous one's result is printed and it is taken out.
class UnitQueue {
 public:
  UnitQueue(IEventLoop& loop, SimBackend& sim, std::string location)
      : scheduler_(loop), sim_(sim), location_(std::move(location)) {}
  void Add(emu::DeviceConfig config) { configs_.push_back(std::move(config)); }
  void Next(std::uint32_t after_ms) {
    scheduler_.After(after_ms, [this] {
      if (cradle_) cradle_->Remove();
      if (index_ >= configs_.size()) return;
      devices_.push_back(std::make_unique<emu::MerovoxDevice>(configs_[index_++], scheduler_));
      cradle_ = std::make_unique<emu::SimMerovox>(sim_, *devices_.back(), location_);
      if (OnBusChange) cradle_->OnBusChange = OnBusChange;
      cradle_->SetIn();
    });
  }
  void TakeOut() {
    scheduler_.After(0, [this] {
      if (cradle_) cradle_->Remove();
    });
  }
  std::function<void(bool)> OnBusChange;

 private:
  emu::LoopScheduler scheduler_;
  SimBackend& sim_;
  std::string location_;
  std::vector<emu::DeviceConfig> configs_;
  std::size_t index_ = 0;
  std::vector<std::unique_ptr<emu::MerovoxDevice>> devices_;
  std::unique_ptr<emu::SimMerovox> cradle_;
};

TEST(CliSession, RecordsUnitsThatFinishFailAndAreTakenOut) {
  ScopedWorkDir dir;
  const std::string package = demo::WriteSamplePackage(dir.Path().string());
  RealTimeLoop loop;
  SimBackend sim(loop);
  UnitQueue queue(loop, sim, "");
  queue.Add(Unit("TV0400000001", demo::kSampleVersion));
  emu::DeviceConfig unknown = Unit("TV0400000002", demo::kSampleVersion);
  unknown.Identity.Model = "TV999";
  queue.Add(unknown);
  emu::DeviceConfig loose = Unit("TV0400000003", demo::kSampleVersion);
  emu::Fault takeout;
  takeout.Kind = emu::FaultKind::RemoveAt;
  takeout.Command = "FCPD";
  takeout.First = 2;
  loose.Faults.push_back(takeout);
  queue.Add(loose);
  emu::DeviceConfig undeletable = Unit("TV0400000004", demo::kSampleVersion);
  emu::Fault no_delete;
  no_delete.Kind = emu::FaultKind::DeleteFails;
  undeletable.Faults.push_back(no_delete);
  // A type 1 unit (three-character version) asks for the file first and
  // deletes the older copy it holds.
  undeletable.Identity.Version = "120";
  undeletable.Files["sample.tvu"].Content = "an older image";
  queue.Add(undeletable);

  CliOptions options;
  options.Package = package;
  options.Yes = true;
  options.Units = 4;
  options.WaitSeconds = 20;
  std::vector<std::string> printed;
  SessionParts parts{loop,
                     sim,
                     [&](const std::string& line) {
                       printed.push_back(line);
                       if (line.rfind("result:", 0) == 0) queue.Next(100);
                     },
                     nullptr,
                     nullptr,
                     "console-test-",
                     nullptr};
  queue.Next(100);
  EXPECT_EQ(RunSession(options, parts), kExitUnitFailed);

  const std::vector<std::string> lines = Lines(DefaultRecordFile(package, false));
  ASSERT_EQ(lines.size(), 5u);
  const std::regex row(
      R"(^[^,]+,[^,]+,,(TV04\d+),[^,]*,[^,]*,([^,]*),(\d+),(\d*),sample.tvu,[0-9a-f]{32},(\d),no,(.+),[0-9.]+,(.+\.log)\r$)");
  // serial, model, version before and after, update type, result
  const std::string expected[][6] = {
      {"TV0400000001", "TV004", "201033", "201035", "2", "finished"},
      {"TV0400000002", "TV999", "201033", "", "2", "model[TV999] Error : Unknown Model."},
      {"TV0400000003", "TV004", "201033", "", "2", "Merovox was taken out during the transfer."},
      // A run that ends without a box says what its log said last.
      {"TV0400000004", "", "120", "", "1", "Ended: Error : Failed to delete file."}};
  for (int i = 0; i < 4; ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_match(lines[i + 1], m, row)) << lines[i + 1];
    for (int field = 0; field < 6; ++field)
      EXPECT_EQ(m[field + 1], expected[i][field]) << lines[i + 1];
    // The unit's own log holds its lines, and only its lines.
    const std::vector<std::string> log = Lines(m[7].str());
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.front().find("2 status"), std::string::npos) << log.front();
  }
}

TEST(CliSession, AQuestionLeftOpenWhileItsUnitIsSwappedIsWithdrawn) {
  ScopedWorkDir dir;
  const std::string package = demo::WriteSamplePackage(dir.Path().string());
  RealTimeLoop loop;
  SimBackend sim(loop);
  UnitQueue queue(loop, sim, "");
  queue.Add(Unit("TV0400000001", demo::kSampleVersion));
  queue.Add(Unit("TV0400000002", demo::kSampleVersion));
  CliOptions options;
  options.Package = package;
  options.Units = 2;
  options.WaitSeconds = 20;
  std::vector<std::string> printed;
  int asked = 0;
  SessionParts parts{loop,
                     sim,
                     [&](const std::string& line) {
                       printed.push_back(line);
                       if (line.rfind("result:", 0) == 0) queue.Next(200);
                     },
                     nullptr,
                     [&](const std::string&, const std::function<bool()>& wanted) {
                       if (++asked > 1) return std::optional<bool>(true);
                       // The operator takes the unit out instead of answering,
                       // and types Yes only after that.
                       queue.TakeOut();
                       loop.RunFor(5000, [&] { return !wanted(); });
                       EXPECT_FALSE(wanted());
                       return std::optional<bool>(true);
                     },
                     "console-test-",
                     nullptr};
  queue.Next(100);
  EXPECT_EQ(RunSession(options, parts), kExitUnitFailed);
  EXPECT_EQ(asked, 2);
  EXPECT_NE(
      std::find(printed.begin(), printed.end(), "the question is withdrawn: its unit is gone"),
      printed.end());
  const std::vector<std::string> lines = Lines(DefaultRecordFile(package, false));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NE(lines[1].find(",TV0400000001,"), std::string::npos) << lines[1];
  EXPECT_NE(lines[1].find(",Merovox was taken out during the identifying.,"), std::string::npos)
      << lines[1];
  EXPECT_NE(lines[2].find(",TV0400000002,"), std::string::npos) << lines[2];
  EXPECT_NE(lines[2].find(",finished,"), std::string::npos) << lines[2];
}

// One copy of the window's steps bound to a cradle, as mvxtvup-cli makes it.
struct BoundCopy {
  BoundCopy(RealTimeLoop& loop, SimBackend& sim, const fs::path& folder, const std::string& cradle,
            const std::string& record)
      : console(options),
        form(FormServices{console, loop, loop, settings, sim}),
        watch(form,
              WatchSettings{cradle, "sample.tvu", "-", (folder / "logs").string(),
                            RecordFile(record, false)},
              [](const std::string&) {}) {
    options.Yes = true;
    form.Cradle = cradle;
    form.ReclaimEndedUnit = false;
    console.Package = demo::WriteSamplePackage(folder.string());
    console.Coming = [this] { watch.BoxComing(); };
    console.Seen = [this](const BoxSeen& box) { watch.BoxSeen(box); };
    form.Guarded([this] { form.FormCreate(); });
    form.Guarded([this] { form.OpenFileClick(); });
    console.Context = Asking::Run;
  }
  ~BoundCopy() {
    form.Guarded([this] { form.FormDestroy(); });
  }
  CliOptions options;
  ConsoleOperator console;
  IniProfile settings;
  TForm1 form;
  UnitWatch watch;
};

TEST(CliSession, CopiesBoundToTwoCradlesTakeOnlyTheirOwnUnits) {
  ScopedWorkDir dir;
  const std::string record = (dir.Path() / "record.csv").string();
  RealTimeLoop loop;
  SimBackend sim(loop);
  fs::create_directories(dir.Path() / "a");
  fs::create_directories(dir.Path() / "b");
  BoundCopy a(loop, sim, dir.Path() / "a", "1-1", record);
  BoundCopy b(loop, sim, dir.Path() / "b", "1-2", record);
  UnitQueue in_a(loop, sim, "1-1"), in_b(loop, sim, "1-2");
  for (const char* serial : {"TV0400000101", "TV0400000102"})
    in_a.Add(Unit(serial, demo::kSampleVersion));
  for (const char* serial : {"TV0400000201", "TV0400000202"})
    in_b.Add(Unit(serial, demo::kSampleVersion));
  // B's first unit is set in while A's unit restarts: off A's bus, it is
  // never taken for A's unit coming back.
  bool b_started = false;
  in_a.OnBusChange = [&](bool on_bus) {
    if (!on_bus && !b_started) loop.Post([&] { b_started = true, in_b.Next(0); });
  };
  a.watch.UnitEnded = [&](const UnitRecord&) { in_a.Next(50); };
  b.watch.UnitEnded = [&](const UnitRecord&) { in_b.Next(50); };
  in_a.Next(50);
  const std::unique_ptr<ITimerSource> tick = loop.CreateTimer([&] {
    a.watch.Poll();
    b.watch.Poll();
  });
  tick->Start(20);
  loop.RunFor(30000, [&] { return a.watch.Ended() >= 2 && b.watch.Ended() >= 2; });

  EXPECT_EQ(a.watch.Ended(), 2);
  EXPECT_EQ(b.watch.Ended(), 2);
  EXPECT_EQ(a.watch.Failed() + b.watch.Failed(), 0);
  const std::vector<std::string> lines = Lines(record);
  ASSERT_EQ(lines.size(), 5u);
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::smatch m;
    ASSERT_TRUE(std::regex_search(lines[i], m, std::regex(",1-(\\d),(TV04\\d+),"))) << lines[i];
    // The serial numbers of cradle N's units are TV040000N0..
    EXPECT_EQ(m[1].str(), m[2].str().substr(9, 1)) << "another cradle's unit: " << lines[i];
    EXPECT_NE(lines[i].find(",finished,"), std::string::npos) << lines[i];
  }
}

}  // namespace
}  // namespace mvx::cli
