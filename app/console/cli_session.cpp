#include "app/console/cli_session.h"

#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <system_error>

#include "app/console/console_operator.h"
#include "app/console/demo_units.h"
#include "app/console/unit_watch.h"
#include "app/form.h"
#include "base/file_system.h"
#include "base/text.h"
#include "base/tool_lock.h"
#include "hid/sim/sim_backend.h"
#include "tools/demo/demo_session.h"

namespace mvx::cli {
namespace {

namespace fs = std::filesystem;
using SteadyClock = std::chrono::steady_clock;

// The settings file's one setting, the format after the version-up, comes
// from the command line; nothing is written back.
class OptionSettings : public ISettingsFile {
 public:
  explicit OptionSettings(bool format) : format_(format) {}
  std::string ReadString(const std::string&, const std::string&, const std::string& key,
                         const std::string& def) override {
    if (key == "CheckBoxFileFormat") return format_ ? "True" : "False";
    return def;
  }
  bool WriteString(const std::string&, const std::string&, const std::string&,
                   const std::string&) override {
    return true;
  }

 private:
  bool format_;
};

// A folder of this copy's own for the package's image and the device's
// information file, removed when the run ends.
class WorkFolder {
 public:
  WorkFolder() {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) return;
    std::random_device seed;
    for (int attempt = 0; attempt < 20 && path_.empty(); ++attempt) {
      const fs::path candidate = base / ("mvxtvup-cli-" + Format("%08x", seed()));
      if (fs::create_directory(candidate, error)) path_ = candidate;
    }
  }
  ~WorkFolder() {
    if (path_.empty()) return;
    std::error_code error;
    // The image is deleted from there by the window itself; the folder and
    // what the device's exchanges left in it go here.
    fs::current_path(path_.parent_path(), error);
    fs::remove_all(path_, error);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string Absolute(const std::string& path) {
  std::error_code error;
  const fs::path absolute = fs::absolute(Utf8Path(path), error);
  return error ? path : PathUtf8(absolute.lexically_normal());
}

}  // namespace

std::string DefaultRecordFile(const std::string& package, bool json) {
  const fs::path path = Utf8Path(package);
  return PathUtf8(path.parent_path() /
                  Utf8Path(PathUtf8(path.stem()) + (json ? "-record.jsonl" : "-record.csv")));
}

std::string DefaultLogDir(const std::string& record_file) {
  return PathUtf8(Utf8Path(record_file).parent_path() / "mvxtvup-logs");
}

int RunSession(const CliOptions& given, const SessionParts& parts) {
  CliOptions options = given;
  const auto& print = parts.Print;
  auto fail = [&](const std::string& text) {
    print("error: " + text);
    return kExitUsage;
  };
  if (options.Demo) {
    options.Units = *options.Demo;
    // At a terminal the demo asks as a real run would; in a script it
    // answers by itself.
    if (!parts.AskTerminal) options.Yes = true;
  }
  if (!options.Yes && !parts.AskTerminal)
    return fail("no terminal to answer the confirmations on: give --yes.");

  WorkFolder work;
  if (work.Path().empty()) return fail("no working folder can be made in the temporary folder.");

  // The package, and where the record and the logs go.
  std::string package = options.Package.empty() ? std::string() : Absolute(options.Package);
  std::string home_package = package;  // where the default record lies beside
  if (package.empty()) {
    const fs::path sample = work.Path() / "sample";
    std::error_code ignored;
    fs::create_directory(sample, ignored);
    package = demo::WriteSamplePackage(PathUtf8(sample));
    home_package = Absolute("sample.tvu");
  }
  std::error_code error;
  if (!fs::is_regular_file(Utf8Path(package), error))
    return fail("the package " + package + " cannot be read.");
  const std::string record_path =
      Absolute(options.RecordFile.empty() ? DefaultRecordFile(home_package, options.Json)
                                          : options.RecordFile);
  const std::string log_dir =
      Absolute(options.LogDir.empty() ? DefaultLogDir(record_path) : options.LogDir);
  if (std::FILE* probe = OpenFile(record_path, "ab")) {
    std::fclose(probe);
  } else {
    return fail("the record file " + record_path + " cannot be written.");
  }

  // One copy per cradle; a copy for any cradle excludes every other, and the
  // window excludes them all. Emulated units need no lock.
  std::unique_ptr<ToolLock> lock;
  if (!parts.DemoHid) {
    ToolLock::Outcome outcome;
    std::error_code lock_error;
    lock = ToolLock::AcquireIn(parts.LockFamily, options.Cradle, outcome, &lock_error);
    switch (outcome) {
      case ToolLock::Outcome::Held:
        break;
      case ToolLock::Outcome::Busy:
        return fail(options.Cradle.empty()
                        ? "MVXTVUP is running already (the window or another copy); a copy "
                          "without --cradle runs alone."
                        : "MVXTVUP is running already for every cradle (the window, or a copy "
                          "without --cradle).");
      case ToolLock::Outcome::CradleBusy:
        return fail("another copy serves the cradle " + options.Cradle + ".");
      case ToolLock::Outcome::Unavailable:
        return fail("the lock of the tool cannot be made: " + lock_error.message());
    }
  }

  // The copy's own copy of the package: its image and the device's files go
  // beside it, never beside another copy's.
  const std::string package_name = FileNamePart(package);
  const fs::path copy = work.Path() / Utf8Path(package_name);
  fs::copy_file(Utf8Path(package), copy, fs::copy_options::overwrite_existing, error);
  if (error)
    return fail("the package cannot be copied to " + PathUtf8(work.Path()) + ": " +
                error.message());

  ConsoleOperator console_operator(options);
  console_operator.Print = print;
  // While a question waits on the terminal, Ctrl+C is its answer (No), not
  // the loop's business.
  bool asking = false;
  OptionSettings settings(options.Format);
  TForm1 form(FormServices{console_operator, parts.Loop, parts.Loop, settings, parts.Hid});
  // A question is withdrawn once the unit it asks about is gone or another
  // run has begun: nobody answers for a unit that is no longer there.
  if (parts.AskTerminal)
    console_operator.AskTerminal = [&asking, &parts, &form, &print](const std::string& question) {
      const std::uint64_t run = form.RunNumber;
      const THidDevice* unit = form.CurrentDevice;
      const auto stands = [&] { return form.RunNumber == run && form.CurrentDevice == unit; };
      asking = true;
      std::optional<bool> answer = parts.AskTerminal(question, stands);
      asking = false;
      if (!stands()) {
        print("the question is withdrawn: its unit is gone");
        return std::optional<bool>();
      }
      return answer;
    };
  form.Cradle = options.Cradle;
  // Nobody is there to say No to a unit that has already been done.
  form.ReclaimEndedUnit = false;
  form.Guarded([&form] { form.FormCreate(); });

  if (options.CrossTypeCode) {
    console_operator.Context = Asking::CrossTypeUnlock;
    form.Guarded([&form] { form.CheckBoxSarSdfVersionup.SetChecked(true); });
    if (!form.CrossTypeEnabled) {
      form.Guarded([&form] { form.FormDestroy(); });
      return fail("the cross-type code was not accepted.");
    }
  }

  console_operator.Context = Asking::PackageCheck;
  console_operator.Package = PathUtf8(copy);
  form.Guarded([&form] { form.OpenFileClick(); });
  console_operator.Context = Asking::Run;
  if (form.PackagePath.empty()) {
    form.Guarded([&form] { form.FormDestroy(); });
    std::string why = OneLine(form.Label1.Caption());
    if (!console_operator.Refusal.empty()) why += " " + console_operator.Refusal;
    return fail("the package " + package_name + " is refused: " + why);
  }
  const std::string package_md5 = TForm1::DigestFile(package);
  print("package " + package_name + ", Ver " + form.UpdateVersion + ", MD5 " + package_md5);
  print("record " + record_path);

  UnitWatch watch(form,
                  WatchSettings{options.Cradle, package_name, package_md5, log_dir,
                                RecordFile(record_path, options.Json)},
                  print);
  console_operator.Coming = [&watch] { watch.BoxComing(); };
  console_operator.Seen = [&watch](const BoxSeen& box) { watch.BoxSeen(box); };

  bool stop = false, interrupted = false, no_unit = false;
  std::unique_ptr<DemoUnits> demo;
  if (parts.DemoHid) {
    demo =
        std::make_unique<DemoUnits>(parts.Loop, *parts.DemoHid, options.Cradle, form.UpdateVersion);
    demo->SetNextIn(300);
  }

  int presses = 0;
  int seen_interrupts = parts.Interrupts ? parts.Interrupts() : 0;
  SteadyClock::time_point waiting_since = SteadyClock::now();
  watch.UnitEnded = [&](const UnitRecord&) {
    waiting_since = SteadyClock::now();
    const bool more =
        options.Units == 0 || static_cast<std::uint32_t>(watch.Ended()) < options.Units;
    if (more && !interrupted) print("remove Merovox and set the next one");
    if (demo) {
      demo->TakeOut();
      if (more) demo->SetNextIn(300);
    }
  };
  form.Label1.OnChanged = [&] {
    const bool more =
        options.Units == 0 || static_cast<std::uint32_t>(watch.Ended()) < options.Units;
    if (form.Label1.Caption() == kCradlePrompt && !watch.Active() && more && !interrupted)
      print("waiting for Merovox in the cradle" +
            (options.Cradle.empty() ? std::string() : " " + options.Cradle));
  };
  form.Label1.OnChanged();
  auto abandon_run = [&form] {
    form.Timer1.SetEnabled(false);
    form.Timer2.SetEnabled(false);
    form.Guarded([&form] { form.CloseDevice(); });
  };
  auto on_interrupt = [&] {
    ++presses;
    interrupted = true;
    if (!watch.Active()) {
      print("interrupted");
      stop = true;
    } else if (!watch.Installing()) {
      print("interrupted: the version-up of this unit is stopped before its install");
      watch.Interrupt();
      abandon_run();
      stop = true;
    } else if (presses < 3) {
      print(presses == 1
                ? "interrupted: Merovox is installing its firmware; waiting for this unit to "
                  "finish (Ctrl+C twice more leaves it unfinished)"
                : "still waiting for this unit to finish (Ctrl+C once more leaves it unfinished)");
    } else {
      print("interrupted: the unit is left unfinished");
      watch.Interrupt();
      abandon_run();
      stop = true;
    }
  };

  const std::unique_ptr<ITimerSource> tick = parts.Loop.CreateTimer([&] {
    watch.Poll();
    if (asking) return;
    const int pressed = parts.Interrupts ? parts.Interrupts() : 0;
    while (!stop && seen_interrupts < pressed) {
      ++seen_interrupts;
      on_interrupt();
    }
    if (stop || watch.Active()) return;
    const bool all_done =
        options.Units != 0 && static_cast<std::uint32_t>(watch.Ended()) >= options.Units;
    if (interrupted || all_done) {
      stop = true;
    } else if (options.WaitSeconds &&
               SteadyClock::now() - waiting_since >= std::chrono::seconds(*options.WaitSeconds)) {
      print("no unit within " + std::to_string(*options.WaitSeconds) + " s");
      no_unit = true;
      stop = true;
    }
  });
  tick->Start(20);
  while (!stop) parts.Loop.RunFor(200, [&stop] { return stop; });
  tick->Stop();
  form.Label1.OnChanged = nullptr;

  form.Guarded([&form] { form.FormDestroy(); });
  if (interrupted) return kExitInterrupted;
  if (watch.Failed() > 0) return kExitUnitFailed;
  if (no_unit) return kExitNoUnit;
  return kExitFinished;
}

}  // namespace mvx::cli
