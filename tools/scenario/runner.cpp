#include "tools/scenario/runner.h"

#include <cstdlib>
#ifdef _WIN32
#include <io.h>
#endif
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <span>
#include <sstream>

#include "app/form.h"
#include "base/ini_profile.h"
#include "base/real_time_loop.h"
#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/platform_backend.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"
#include "scripted/scripted_operator.h"
#include "scripted/virtual_loop.h"
#include "tools/scenario/download_rate.h"
#include "tools/scenario/fault_folder.h"
#include "tools/scenario/quiet_rule.h"

namespace mvx::scenario {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A folder of the run's own inside parent, made the working directory for the
// run and removed afterwards with everything the tool wrote into it.
class WorkFolder {
 public:
  explicit WorkFolder(const fs::path& parent) : previous_(fs::current_path()) {
    std::string name = (parent / "mvxtvup-scenario-XXXXXX").string();
#ifdef _WIN32
    std::error_code error;
    if (_mktemp_s(name.data(), name.size() + 1) != 0 || !fs::create_directory(name, error))
      throw ScenarioError("cannot make the working folder " + name +
                          (error ? ": " + error.message() : std::string()));
#else
    if (!mkdtemp(name.data())) throw ScenarioError("cannot make a working folder in " + name);
#endif
    path_ = name;
    fs::current_path(path_);
  }
  ~WorkFolder() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
  }
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;
  const fs::path& Path() const {
    return path_;
  }

 private:
  fs::path previous_;
  fs::path path_;
};

// The files of a folder, each with its MD5.
std::map<std::string, std::string> Digests(const fs::path& folder) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file())
      out[entry.path().filename().string()] = emu::Md5Hex(ReadFile(entry.path()));
  return out;
}

// A package built from the scenario's parameters, then patched.
void BuildPackage(const PackageSpec& p, const std::string& path) {
  std::string image;
  if (p.ImageContent) {
    image = *p.ImageContent;
  } else {
    image.resize(p.ImageSize);
    for (std::size_t i = 0; i < image.size(); ++i)
      image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  try {
    WritePackageFile(path, PackageOptions{p.Version, p.SpecialCode, p.Magic},
                     std::span(reinterpret_cast<const std::uint8_t*>(image.data()), image.size()));
  } catch (const std::exception& e) {
    throw ScenarioError(std::string("package: ") + e.what());
  }
  if (p.Patches.empty()) return;
  std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
  for (const PackageSpec::Patch& patch : p.Patches) {
    file.seekp(static_cast<std::streamoff>(patch.Offset));
    file.write(patch.Bytes.data(), static_cast<std::streamsize>(patch.Bytes.size()));
  }
  if (!file) throw ScenarioError("package: cannot patch " + path);
}

// The package in the working folder: built, or copied from its file.
std::string PlacePackage(const PackageSpec& p, const fs::path& folder) {
  // Forward slashes on every system, so the transcript is the same.
  std::string path = (folder / NameInWorkingFolder(p)).generic_string();
  if (p.Path.empty()) {
    BuildPackage(p, path);
  } else {
    std::error_code ec;
    fs::copy_file(p.Path, path, ec);
    if (ec) throw ScenarioError("package: cannot copy " + p.Path + ": " + ec.message());
  }
  return path;
}

const char* kLabelNames[] = {"Label1",
                             "LabelCurrentVersion",
                             "LabelModelName",
                             "LabelSerialNumber",
                             "LabelUpdateVersion",
                             "LabelFilename",
                             "LabelVersionupStatus",
                             "LabelFormatStatus",
                             "LabelClipboardCopyMessage"};

// What the run needs of its message loop, on virtual or on real time.
class RunLoop {
 public:
  virtual ~RunLoop() = default;
  virtual IEventLoop& Loop() = 0;
  virtual IClock& Clock() = 0;
  virtual std::uint64_t NowMs() const = 0;
  virtual void At(std::uint64_t ms, std::function<void()> call) = 0;
  virtual void RunFor(std::uint64_t ms, const std::function<bool()>& stop) = 0;
};

template <class L>
class RunLoopOf : public RunLoop {
 public:
  IEventLoop& Loop() override { return loop; }
  IClock& Clock() override { return loop; }
  std::uint64_t NowMs() const override { return loop.NowMs(); }
  void At(std::uint64_t ms, std::function<void()> call) override { loop.At(ms, std::move(call)); }
  void RunFor(std::uint64_t ms, const std::function<bool()>& stop) override {
    loop.RunFor(ms, stop);
  }
  L loop;
};

// "yy/mm/dd hh:mm:ss zzz," is 22 characters.
std::string WithoutStamp(const std::string& line) {
  return line.size() >= 22 ? line.substr(22) : line;
}

// The model on the simulated backend.
class SimCradle : public Cradle {
 public:
  SimCradle(SimBackend& sim, emu::MerovoxDevice& model, BusChange on_bus_change)
      : adapter_(sim, model) {
    adapter_.OnBusChange = std::move(on_bus_change);
  }
  void SetIn() override { adapter_.SetIn(); }
  void Remove() override { adapter_.Remove(); }
  bool OnBus() const override { return adapter_.OnBus(); }

 private:
  emu::SimMerovox adapter_;
};

// The devices' scheduler, closed when the run is taken down: the calls it
// still holds are dropped and so is every later request, while a device's
// own thread (a kernel device's reader handing its model what the host
// wrote last) may still ask. Closing waits for a call that is running.
class ClosableScheduler : public emu::IScheduler {
 public:
  explicit ClosableScheduler(std::unique_ptr<emu::IScheduler> inner) : inner_(std::move(inner)) {}
  ~ClosableScheduler() override { Close(); }
  void After(std::uint32_t delay_ms, std::function<void()> call) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (inner_) inner_->After(delay_ms, std::move(call));
  }
  bool DueAtOnce(std::uint32_t delay_ms) override {
    std::lock_guard<std::mutex> lock(mutex_);
    return inner_ && inner_->DueAtOnce(delay_ms);
  }
  void Close() {
    std::unique_ptr<emu::IScheduler> inner;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      inner = std::move(inner_);
    }
    // A thread scheduler's thread ends here, outside the lock: a call it is
    // running may still ask for another.
    inner.reset();
  }

 private:
  std::mutex mutex_;
  std::unique_ptr<emu::IScheduler> inner_;
};

// The margin over the virtual run's longest silence before a run on real
// time ends (quiet_rule.h): what the real kernel and the scheduler may add.
constexpr std::uint64_t kQuietMarginMs = 1500;
// How long a device made or destroyed through a kernel may take to reach the
// tool's list.
constexpr std::uint64_t kSeenBoundMs = 10'000;

// How long a run on real time may go on beyond run_ms for events not yet
// played.
constexpr std::uint64_t kRealTimeGraceMs = 60000;

}  // namespace

// Everything of one run. It is taken down in this order: the device
// scheduler is closed (no answer is on its way any more), the devices leave
// their cradles, then the members go in reverse order: the devices' models,
// the window, the backend and the loop they use, and last the working folder.
struct Runner::Session {
  struct Device {
    Device(const DeviceSpec& spec, emu::IScheduler& scheduler)
        : Name(spec.Name), Model(spec.Config, scheduler) {}
    std::string Name;
    emu::MerovoxDevice Model;
    std::unique_ptr<Cradle> Bus;
  };

  Session(const Scenario& s, Transcript& t, const Options& o)
      : scenario(s),
        transcript(t),
        options(o),
        real_time(o.RealTime || o.Kernel),
        fault_folder(UsesFolderFaults(s) ? std::make_unique<FaultFolder>() : nullptr),
        folder(fault_folder ? fault_folder->Root() : fs::temp_directory_path()) {}
  ~Session() {
    if (scheduler) scheduler->Close();
    for (auto& d : devices) d->Bus.reset();
  }

  void Prepare();
  void Start();
  void Poll();
  void Fire(const Event& e);
  void FolderFault(const Event& e);
  void Picture(const std::string& kind, bool every_file);
  void Finish();
  void Report();
  Device& DeviceNamed(const std::string& name);
  // The devices the tool's controller lists as present.
  int PresentDevices() const {
    int count = 0;
    for (int i = 0; i < form->HidCtrl1->Count(); ++i)
      if (form->HidCtrl1->Device(i)->Present()) ++count;
    return count;
  }
  // Through a kernel a device is made or destroyed at once but announced
  // later (udev, wine's HID stack): the next scripted event waits until the
  // tool has seen the change, or for a generous bound, so that a loaded
  // machine keeps the file's order.
  void AwaitTheToolSees(const std::function<bool()>& seen) {
    if (!options.Kernel || seen()) return;
    loop->RunFor(kSeenBoundMs, [this, &seen] {
      Poll();
      return seen() || !scenario_error.empty() || !skip_reason.empty();
    });
  }
  void Guarded(const std::function<void()>& handler) { form->Guarded(handler); }
  // Runs the loop for ms; stops early when the run cannot go on as asked,
  // or when the quiet rule says a run on real time has ended.
  void RunFor(std::uint64_t ms, const QuietRule* quiet = nullptr) {
    loop->RunFor(ms, [this, quiet] {
      Poll();
      if (!scenario_error.empty() || !skip_reason.empty()) return true;
      if (!quiet) return false;
      const auto& times = transcript.Times();
      return MayEnd(*quiet, AllAwaitedPlayed(), loop->NowMs(), times.empty() ? 0 : times.back());
    });
  }
  // Escaped, with the run's working folder written as ".": the same
  // transcript every run.
  std::string Text(std::string text) const {
    for (const std::string& work : {folder.Path().string(), folder.Path().generic_string()})
      for (std::size_t at = text.find(work); at != std::string::npos; at = text.find(work, at + 1))
        text.replace(at, work.size(), ".");
    return Escape(text);
  }

  const Scenario& scenario;
  Transcript& transcript;
  const Options& options;
  const bool real_time;
  // The file system the working folder lies on, when the scenario makes it
  // fail; it outlives the folder.
  std::unique_ptr<FaultFolder> fault_folder;
  WorkFolder folder;
  // A folder action the file system refused: the run cannot show what the
  // scenario asks for.
  std::string scenario_error;
  // Something the scenario asks that this system cannot play (a device the
  // kernel refused): the run is skipped.
  std::string skip_reason;
  std::string package_path;
  std::map<std::string, std::string> before;
  std::unique_ptr<RunLoop> loop;
  ScriptedOperator op;
  IniProfile settings;
  std::unique_ptr<IHidBackend> hid;
  SimBackend* sim = nullptr;  // hid, when simulated
  std::unique_ptr<TForm1> form;
  TMemo::Subscription memo_listening;
  std::vector<std::unique_ptr<Device>> devices;
  std::unique_ptr<ClosableScheduler> scheduler;
  std::string label1;
  int boxes = 0;
  std::map<std::string, int> boxes_with_text;
  int last_state = -1;
  std::map<int, int> state_entries;
  std::vector<bool> fired;
  std::vector<std::uint64_t> fired_at;  // loop ms, kNotPlayed until fired
  // On real time, when the virtual run played each event. The run waits only
  // for the events played there: a guard that never fired (an event for a
  // command the file never reaches) does not hold it to its run_ms. An event
  // at a time keeps its place among them (held until the events played
  // before it have played, then as far after them as on the virtual clock):
  // a slow kernel or wine must not let the file's reinsertion overtake the
  // removal it follows.
  std::vector<std::uint64_t> virtual_at;
  std::vector<bool> held;
  std::vector<bool> ever_held;
  bool AllAwaitedPlayed() const {
    for (std::size_t i = 0; i < fired.size(); ++i)
      if (!fired[i] && (virtual_at.empty() || virtual_at[i] != kNotPlayed)) return false;
    return true;
  }
  // Events at a time whose action is still going on (waiting for the tool),
  // and when each event's action was over.
  std::vector<bool> playing;
  std::vector<std::uint64_t> settled_at;
  void Played(std::size_t i) {
    fired[i] = true;
    fired_at[i] = settled_at[i] = loop->NowMs();
  }
  void FireAtTime(std::size_t i);
  DownloadRate download;
};

Runner::Runner(const Scenario& scenario, std::ostream* out, Options options)
    : scenario_(scenario), transcript_(out), options_(options) {}

Runner::~Runner() = default;

void Runner::Run() {
  // On real time, the same file on the virtual clock first: when its last
  // line comes tells when the real run may end.
  std::optional<QuietRule> quiet;
  std::vector<std::uint64_t> virtual_at;
  if (options_.RealTime || options_.Kernel) {
    Runner twin(scenario_, nullptr);
    twin.Run();
    quiet = QuietRuleOf(twin.Lines(), twin.Times(), kQuietMarginMs);
    virtual_at = twin.PlayedAt();
    if (options_.Report)
      *options_.Report << "run: on the virtual clock the last line at " << quiet->LastLineMs
                       << " ms; the real run ends after a silence of " << quiet->QuietMs
                       << " ms from then on\n";
  }
  Session session(scenario_, transcript_, options_);
  session.virtual_at = std::move(virtual_at);
  session.Prepare();
  session.Start();
  session.RunFor(scenario_.RunMs, quiet ? &*quiet : nullptr);
  // A slow path (wine's HID stack under load) may not have let the file's
  // events play within run_ms: a real run ends only once they have, or
  // after a generous bound.
  if (quiet && session.scenario_error.empty() && session.skip_reason.empty() &&
      !session.AllAwaitedPlayed())
    session.RunFor(kRealTimeGraceMs, &*quiet);
  played_at_ = session.fired_at;
  if (quiet && options_.Report)
    *options_.Report << "run: ended after " << session.loop->NowMs() << " ms of real time\n";
  if (!session.skip_reason.empty()) throw ScenarioSkipped(session.skip_reason);
  if (!session.scenario_error.empty()) throw ScenarioError(session.scenario_error);
  session.Finish();
  session.Report();
}

// The package and the settings file go into the working folder before the
// window starts, as the operator's machine would hold them.
void Runner::Session::Prepare() {
  if (scenario.Package) package_path = PlacePackage(*scenario.Package, folder.Path());
  for (const PackageSpec& p : scenario.OtherPackages) PlacePackage(p, folder.Path());
  if (scenario.FormatAfterVersionup) {
    std::ofstream ini(folder.Path() / "mvxtvup_setting.ini", std::ios::binary);
    ini << "[Setting]\r\nCheckBoxFileFormat=True\r\n";
    if (!ini) throw ScenarioError("cannot write the settings file");
  }
  for (const auto& [name, content] : scenario.FolderFiles) {
    std::ofstream file(folder.Path() / name, std::ios::binary);
    file << content;
    if (!file) throw ScenarioError("cannot write " + name + " into the working folder");
  }
  before = Digests(folder.Path());
}

void Runner::Session::Start() {
  // On virtual time the device's answers come from the loop's own timers and
  // the clock waits while one is on its way to the window; on real time the
  // device runs on a thread of its own, as it would in another process.
  if (real_time) {
    loop = std::make_unique<RunLoopOf<RealTimeLoop>>();
    scheduler = std::make_unique<ClosableScheduler>(std::make_unique<emu::ThreadScheduler>());
  } else {
    auto virtual_loop = std::make_unique<RunLoopOf<VirtualLoop>>();
    virtual_loop->loop.Busy = [this] { return sim->InFlight(); };
    loop = std::move(virtual_loop);
    scheduler =
        std::make_unique<ClosableScheduler>(std::make_unique<emu::LoopScheduler>(loop->Loop()));
  }
  transcript.Clock = [this] { return loop->NowMs(); };
  if (options.Kernel) {
    hid = CreatePlatformHidBackend();
    if (!hid->Available()) throw ScenarioSkipped("the platform's HID backend is not available");
  } else {
    auto backend = std::make_unique<SimBackend>(loop->Loop());
    sim = backend.get();
    hid = std::move(backend);
  }
  form = std::make_unique<TForm1>(FormServices{op, loop->Loop(), loop->Clock(), settings, *hid});
  TForm1& f = *form;
  memo_listening = f.Memo1.Listen({[this](std::string_view line) {
                                     // A text control shows a line up to its first NUL byte.
                                     std::string text = WithoutStamp(std::string(line));
                                     text = text.substr(0, text.find('\0'));
                                     if (real_time) download.Line(text, loop->NowMs());
                                     transcript.Add("log", Text(text));
                                   },
                                   [this] { transcript.Add("clear", ""); }});
  f.Label1.OnChanged = [this] {
    const std::string& caption = form->Label1.Caption();
    if (caption == label1) return;
    label1 = caption;
    transcript.Add("label1", Text(caption));
  };
  label1 = f.Label1.Caption();

  op.Answers.assign(scenario.Answers.begin(), scenario.Answers.end());
  op.WhileOpen = [this](const ScriptedOperator::Record& r) {
    const int box = ++boxes;
    // How many boxes so far held each text that an event looks for.
    std::set<std::string> texts;
    for (const Event& e : scenario.Events)
      if (e.When == Trigger::AtBox && !e.BoxText.empty()) texts.insert(e.BoxText);
    for (const std::string& text : texts)
      if (r.Text.find(text) != std::string::npos) ++boxes_with_text[text];
    for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
      const Event& e = scenario.Events[i];
      if (e.When != Trigger::AtBox || fired[i]) continue;
      const bool due = e.BoxText.empty() ? e.Box == box
                                         : r.Text.find(e.BoxText) != std::string::npos &&
                                               boxes_with_text[e.BoxText] == e.Occurrence;
      if (!due) continue;
      Played(i);
      Fire(e);
    }
  };
  op.OnRecord = [this](const ScriptedOperator::Record& r) {
    transcript.Add("box", Text(r.Kind) + " | " + Text(r.Caption) + " | " + Text(r.Text) + " | " +
                              Text(r.Answer));
  };

  for (const DeviceSpec& spec : scenario.Devices) {
    devices.push_back(std::make_unique<Device>(spec, *scheduler));
    Device& d = *devices.back();
    // Posted before the backend (or the kernel) tells the tool of the
    // change, so the line comes before the tool's reaction on either clock.
    BusChange on_bus_change = [this, name = spec.Name](bool on_bus) {
      loop->Loop().Post([this, name, on_bus] {
        transcript.Add("device", name + (on_bus ? " returns" : " leaves the bus"));
      });
    };
    if (options.Kernel)
      d.Bus = MakeKernelCradle(*options.Kernel, d.Model, d.Name, std::move(on_bus_change));
    else
      d.Bus = std::make_unique<SimCradle>(*sim, d.Model, std::move(on_bus_change));
  }

  fired.assign(scenario.Events.size(), false);
  fired_at.assign(scenario.Events.size(), kNotPlayed);
  playing.assign(scenario.Events.size(), false);
  settled_at.assign(scenario.Events.size(), kNotPlayed);
  held.assign(scenario.Events.size(), false);
  ever_held.assign(scenario.Events.size(), false);
  for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
    const Event& e = scenario.Events[i];
    if (e.When != Trigger::AtMs) continue;
    loop->At(e.Ms, [this, i] { FireAtTime(i); });
  }

  for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
    if (scenario.Events[i].When != Trigger::AtStart) continue;
    Played(i);
    Fire(scenario.Events[i]);
  }

  // The settings file's "True" shows the format warning at start-up.
  if (scenario.FormatAfterVersionup) op.Answers.push_front("OK");
  Guarded([&] { f.FormCreate(); });
}

// After every event of the loop: state entries and commands the devices have
// received.
void Runner::Session::Poll() {
  const int state = form->SequencerState;
  if (state != last_state) {
    last_state = state;
    const int entry = ++state_entries[state];
    for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
      const Event& e = scenario.Events[i];
      if (e.When == Trigger::AtState && e.State == state && e.Occurrence == entry && !fired[i]) {
        Played(i);
        Fire(e);
      }
    }
  }
  for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
    const Event& e = scenario.Events[i];
    if (e.When != Trigger::AtCommand || fired[i]) continue;
    if (DeviceNamed(e.WatchedDevice).Model.CommandCount(e.Command) >= e.Occurrence) {
      Played(i);
      Fire(e);
    }
  }
  for (std::size_t i = 0; i < held.size(); ++i)
    if (held[i]) FireAtTime(i);
}

void Runner::Session::FireAtTime(std::size_t i) {
  if (fired[i]) return;
  held[i] = false;
  const std::uint64_t at = virtual_at.empty() ? kNotPlayed : virtual_at[i];
  if (at != kNotPlayed) {
    std::uint64_t due = 0;
    for (std::size_t j = 0; j < virtual_at.size(); ++j) {
      if (virtual_at[j] == kNotPlayed || virtual_at[j] >= at) continue;
      if (!fired[j] || playing[j]) {
        // Poll tries again once that event has played.
        if (options.Report && !ever_held[i])
          *options.Report << "run: event " << i + 1 << " (at " << scenario.Events[i].Ms
                          << " ms) held at " << loop->NowMs()
                          << " ms for the events the virtual run played before it\n";
        ever_held[i] = true;
        held[i] = true;
        return;
      }
      due = std::max(due, settled_at[j] + (at - virtual_at[j]));
    }
    if (due > loop->NowMs()) {
      loop->At(due, [this, i] { FireAtTime(i); });
      return;
    }
  }
  Played(i);
  // A device made through a kernel is waited for until the tool has seen it:
  // the events after it keep their distance from that moment.
  playing[i] = true;
  Fire(scenario.Events[i]);
  playing[i] = false;
  settled_at[i] = loop->NowMs();
}

void Runner::Session::Fire(const Event& e) {
  switch (e.Do) {
    case Action::SetIn: {
      Device& d = DeviceNamed(e.Device);
      transcript.Add("device", d.Name + " set in");
      const bool was_on_bus = d.Bus->OnBus();
      const int listed = PresentDevices();
      d.Bus->SetIn();
      // A kernel device can be refused: the gadget's one controller taken by
      // another device on the bus, a descriptor the kernel rejects.
      if (options.Kernel && !d.Bus->OnBus() && skip_reason.empty())
        skip_reason = "the kernel did not take device \"" + d.Name + "\" into the cradle";
      if (!was_on_bus) AwaitTheToolSees([this, listed] { return PresentDevices() > listed; });
      break;
    }
    case Action::Remove: {
      Device& d = DeviceNamed(e.Device);
      transcript.Add("device", d.Name + " removed");
      const bool was_on_bus = d.Bus->OnBus();
      const int listed = PresentDevices();
      d.Bus->Remove();
      if (was_on_bus) AwaitTheToolSees([this, listed] { return PresentDevices() < listed; });
      break;
    }
    case Action::Send:
      transcript.Add("device", e.Device + " sends " + Escape(e.Text));
      DeviceNamed(e.Device).Model.SendUnasked(e.Text);
      break;
    case Action::Open: {
      transcript.Add("operator", "File > Open");
      // A relative file is one in the working folder, wherever the tool's
      // working directory is.
      std::string file = e.File ? *e.File : package_path;
      if (!file.empty() && fs::path(file).is_relative())
        file = (folder.Path() / file).generic_string();
      op.Answers.push_front(file);
      Guarded([&] { form->OpenFileClick(); });
      break;
    }
    case Action::Format:
      transcript.Add("operator",
                     std::string(e.Flag ? "checks" : "unchecks") + " CheckBoxFileFormat");
      if (e.Flag && !form->CheckBoxFileFormat.Checked()) op.Answers.push_front("OK");
      Guarded([&] { form->CheckBoxFileFormat.SetChecked(e.Flag); });
      break;
    case Action::CrossType:
      transcript.Add("operator", "checks CheckBoxSarSdfVersionup");
      Guarded([&] { form->CheckBoxSarSdfVersionup.SetChecked(false); });
      op.Answers.push_front(e.Text);
      op.Answers.push_front(e.Flag ? "Yes" : "No");
      Guarded([&] { form->CheckBoxSarSdfVersionup.SetChecked(true); });
      break;
    case Action::Wait:
      RunFor(e.WaitMs);
      break;
    case Action::FolderReadOnly:
    case Action::FolderFull:
    case Action::FolderWritable:
      FolderFault(e);
      break;
    case Action::Snapshot:
      Picture("snapshot", true);
      break;
  }
}

void Runner::Session::FolderFault(const Event& e) {
  try {
    if (!fault_folder) throw ScenarioError("the working folder cannot fail in this run");
    if (e.Do == Action::FolderReadOnly) {
      transcript.Add("folder", "read-only");
      fault_folder->ReadOnly();
    } else if (e.Do == Action::FolderFull) {
      transcript.Add("folder", "full, " + std::to_string(e.FreeBytes) + " bytes free");
      fault_folder->Full(e.FreeBytes);
    } else {
      transcript.Add("folder", "writable");
      fault_folder->Writable();
    }
  } catch (const ScenarioError& error) {
    // Raised again once the loop has stopped: inside a box it would reach
    // the tool's own error handler instead.
    if (scenario_error.empty()) scenario_error = error.what();
  }
}

Runner::Session::Device& Runner::Session::DeviceNamed(const std::string& name) {
  for (auto& d : devices)
    if (d->Name == name) return *d;
  throw ScenarioError("no device named \"" + name + "\"");
}

// The state, the labels and the files of the working folder: every one, or
// those the tool wrote or changed since the run began. A snapshot shows the
// format check box and the loaded package too.
void Runner::Session::Picture(const std::string& kind, bool every_file) {
  TForm1& f = *form;
  transcript.Add(kind, "state " + std::to_string(f.SequencerState));
  const TLabel* labels[] = {&f.Label1,
                            &f.LabelCurrentVersion,
                            &f.LabelModelName,
                            &f.LabelSerialNumber,
                            &f.LabelUpdateVersion,
                            &f.LabelFilename,
                            &f.LabelVersionupStatus,
                            &f.LabelFormatStatus,
                            &f.LabelClipboardCopyMessage};
  for (std::size_t i = 0; i < std::size(labels); ++i)
    transcript.Add(kind, std::string("label ") + kLabelNames[i] +
                             (labels[i]->Caption().empty() ? "" : " ") +
                             Text(labels[i]->Caption()));
  transcript.Add(kind, "progress " + std::to_string(f.ProgressBar1.Position()) + "/" +
                           std::to_string(f.ProgressBar1.Max()));
  if (every_file) {
    transcript.Add(kind, std::string("check CheckBoxFileFormat ") +
                             (f.CheckBoxFileFormat.Checked() ? "on" : "off"));
    transcript.Add(
        kind, "package " + (f.PackagePath.empty() ? std::string("none")
                                                  : Text(f.PackagePath) + " " + f.FirmwareDigest));
  }
  for (const auto& [name, digest] : Digests(folder.Path())) {
    const auto it = before.find(name);
    if (every_file || it == before.end() || it->second != digest)
      transcript.Add(kind, "file " + Escape(name) + " " + digest);
  }
}

// The final picture and what each device holds.
void Runner::Session::Finish() {
  TForm1& f = *form;
  Picture("end", false);
  for (const auto& d : devices) {
    const emu::DeviceIdentity id = d->Model.Identity();
    transcript.Add("end", "device " + d->Name + " version " + Escape(id.Version));
    transcript.Add("end", "device " + d->Name + " serial " + Escape(id.Serial.Pcb) + " " +
                              Escape(id.Serial.Bat) + " " + Escape(id.Serial.Serial));
    for (const auto& [name, file] : d->Model.Files())
      transcript.Add("end", "device " + d->Name + " file " + Escape(name) + " " +
                                std::to_string(file.Size()) + " " + file.Digest());
  }
  Guarded([&] { f.FormDestroy(); });
}

// On real time: the download's packet rate, and what each kernel device saw.
void Runner::Session::Report() {
  if (!options.Report || !real_time) return;
  std::ostream& out = *options.Report;
  const std::string rate = download.Summary();
  if (!rate.empty()) out << "download: " << rate << "\n";
  for (const auto& d : devices) {
    const std::string traffic = d->Bus ? d->Bus->Traffic() : std::string();
    if (!traffic.empty()) out << "device " << d->Name << ": " << traffic << "\n";
  }
}

}  // namespace mvx::scenario
