#include "tools/scenario/runner.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <span>
#include <sstream>

#include "emulator/loop_scheduler.h"
#include "emulator/merovox_device.h"
#include "emulator/sim_merovox.h"
#include "package/package_builder.h"
#include "scripted/form_bench.h"

namespace mvx::scenario {

namespace fs = std::filesystem;

namespace {

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// A folder of the run's own, made the working directory for the run and
// removed afterwards with everything the tool wrote into it.
class WorkFolder {
 public:
  WorkFolder() : previous_(fs::current_path()) {
    std::string name = (fs::temp_directory_path() / "mvxtvup-scenario-XXXXXX").string();
    if (!mkdtemp(name.data())) throw ScenarioError("cannot make a working folder in " + name);
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
  const fs::path& Path() const { return path_; }

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

const char* kLabelNames[] = {"Label1",
                             "LabelCurrentVersion",
                             "LabelModelName",
                             "LabelSerialNumber",
                             "LabelUpdateVersion",
                             "LabelFilename",
                             "LabelVersionupStatus",
                             "LabelFormatStatus",
                             "LabelClipboardCopyMessage"};

}  // namespace

// Everything of one run; members are destroyed in reverse order, so the
// devices go before the backend and the loop they use.
struct Runner::Session {
  struct Device {
    Device(const DeviceSpec& spec, emu::IScheduler& scheduler, SimBackend& sim)
        : Name(spec.Name), Model(spec.Config, scheduler), Adapter(sim, Model) {}
    std::string Name;
    emu::MerovoxDevice Model;
    emu::SimMerovox Adapter;
    bool OnBus = false;  // as last reported
  };

  Session(const Scenario& s, Transcript& t) : scenario(s), transcript(t) {}

  void Prepare();
  void Start();
  void Poll();
  void Fire(const Event& e);
  void Finish();
  Device& DeviceNamed(const std::string& name);
  void Guarded(const std::function<void()>& handler) { bench->Form.Guarded(handler); }
  // Escaped, with the run's working folder written as ".": the same
  // transcript every run.
  std::string Text(std::string text) const {
    const std::string work = folder.Path().string();
    for (std::size_t at = text.find(work); at != std::string::npos; at = text.find(work, at + 1))
      text.replace(at, work.size(), ".");
    return Escape(text);
  }

  const Scenario& scenario;
  Transcript& transcript;
  WorkFolder folder;
  std::string package_path;
  std::map<std::string, std::string> before;
  std::unique_ptr<FormBench> bench;
  std::unique_ptr<emu::LoopScheduler> scheduler;
  std::vector<std::unique_ptr<Device>> devices;
  std::string label1;
  int boxes = 0;
  int last_state = -1;
  std::map<int, int> state_entries;
  std::vector<bool> fired;
};

Runner::Runner(const Scenario& scenario, std::ostream* out)
    : scenario_(scenario), transcript_(out) {}

Runner::~Runner() = default;

void Runner::Run() {
  Session session(scenario_, transcript_);
  session.Prepare();
  session.Start();
  session.bench->Loop.RunFor(scenario_.RunMs, [&] {
    session.Poll();
    return false;
  });
  session.Finish();
}

// The package and the settings file go into the working folder before the
// window starts, as the operator's machine would hold them.
void Runner::Session::Prepare() {
  if (scenario.Package) {
    const PackageSpec& p = *scenario.Package;
    if (p.Path.empty()) {
      package_path = (folder.Path() / p.FileName).string();
      BuildPackage(p, package_path);
    } else {
      const fs::path source(p.Path);
      package_path = (folder.Path() / source.filename()).string();
      std::error_code ec;
      fs::copy_file(source, package_path, ec);
      if (ec) throw ScenarioError("package: cannot copy " + p.Path + ": " + ec.message());
    }
  }
  if (scenario.FormatAfterVersionup) {
    std::ofstream ini(folder.Path() / "mvxtvup_setting.ini", std::ios::binary);
    ini << "[Setting]\r\nCheckBoxFileFormat=True\r\n";
    if (!ini) throw ScenarioError("cannot write the settings file");
  }
  before = Digests(folder.Path());
}

void Runner::Session::Start() {
  bench = std::make_unique<FormBench>(FormBench::Devices::Simulated);
  TForm1& form = bench->Form;
  form.Memo1.OnLineAdded = [this](const std::string& line) {
    // A text control shows a line up to its first NUL byte.
    const std::string text = FormBench::WithoutStamp(line);
    transcript.Add("log", Text(text.substr(0, text.find('\0'))));
  };
  form.Memo1.OnCleared = [this] { transcript.Add("clear", ""); };
  form.Label1.OnChanged = [this] {
    const std::string& caption = bench->Form.Label1.Caption();
    if (caption == label1) return;
    label1 = caption;
    transcript.Add("label1", Text(caption));
  };
  label1 = form.Label1.Caption();

  ScriptedOperator& op = bench->Operator;
  op.Answers.assign(scenario.Answers.begin(), scenario.Answers.end());
  op.WhileOpen = [this](const ScriptedOperator::Record&) {
    const int box = ++boxes;
    for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
      const Event& e = scenario.Events[i];
      if (e.When == Trigger::AtBox && e.Box == box && !fired[i]) {
        fired[i] = true;
        Fire(e);
      }
    }
  };
  op.OnRecord = [this](const ScriptedOperator::Record& r) {
    transcript.Add("box", Text(r.Kind) + " | " + Text(r.Caption) + " | " + Text(r.Text) + " | " +
                              Text(r.Answer));
  };

  scheduler = std::make_unique<emu::LoopScheduler>(bench->Loop);
  for (const DeviceSpec& spec : scenario.Devices)
    devices.push_back(std::make_unique<Device>(spec, *scheduler, *bench->Sim));

  fired.assign(scenario.Events.size(), false);
  for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
    const Event& e = scenario.Events[i];
    if (e.When != Trigger::AtMs) continue;
    bench->Loop.At(e.Ms, [this, i] {
      fired[i] = true;
      Fire(scenario.Events[i]);
    });
  }

  // The settings file's "True" shows the format warning at start-up.
  if (scenario.FormatAfterVersionup) op.Answers.push_front("OK");
  Guarded([&] { form.FormCreate(); });
}

// After every event of the loop: state entries, commands the devices have
// received, devices that left or came back by themselves.
void Runner::Session::Poll() {
  const int state = bench->Form.SequencerState;
  if (state != last_state) {
    last_state = state;
    const int entry = ++state_entries[state];
    for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
      const Event& e = scenario.Events[i];
      if (e.When == Trigger::AtState && e.State == state && e.Occurrence == entry && !fired[i]) {
        fired[i] = true;
        Fire(e);
      }
    }
  }
  for (std::size_t i = 0; i < scenario.Events.size(); ++i) {
    const Event& e = scenario.Events[i];
    if (e.When != Trigger::AtCommand || fired[i]) continue;
    if (DeviceNamed(e.WatchedDevice).Model.CommandCount(e.Command) >= e.Occurrence) {
      fired[i] = true;
      Fire(e);
    }
  }
  for (auto& d : devices) {
    const bool on_bus = d->Adapter.OnBus();
    if (on_bus == d->OnBus) continue;
    d->OnBus = on_bus;
    transcript.Add("device", d->Name + (on_bus ? " returns" : " leaves the bus"));
  }
}

void Runner::Session::Fire(const Event& e) {
  TForm1& form = bench->Form;
  ScriptedOperator& op = bench->Operator;
  switch (e.Do) {
    case Action::SetIn: {
      Device& d = DeviceNamed(e.Device);
      transcript.Add("device", d.Name + " set in");
      d.Adapter.SetIn();
      d.OnBus = d.Adapter.OnBus();
      break;
    }
    case Action::Remove: {
      Device& d = DeviceNamed(e.Device);
      transcript.Add("device", d.Name + " removed");
      d.Adapter.Remove();
      d.OnBus = false;
      break;
    }
    case Action::Send:
      transcript.Add("device", e.Device + " sends " + Escape(e.Text));
      DeviceNamed(e.Device).Model.SendUnasked(e.Text);
      break;
    case Action::Open:
      transcript.Add("operator", "File > Open");
      op.Answers.push_front(e.File ? *e.File : package_path);
      Guarded([&] { form.OpenFileClick(); });
      break;
    case Action::Format:
      transcript.Add("operator",
                     std::string(e.Flag ? "checks" : "unchecks") + " CheckBoxFileFormat");
      if (e.Flag && !form.CheckBoxFileFormat.Checked()) op.Answers.push_front("OK");
      Guarded([&] { form.CheckBoxFileFormat.SetChecked(e.Flag); });
      break;
    case Action::CrossType:
      transcript.Add("operator", "checks CheckBoxSarSdfVersionup");
      Guarded([&] { form.CheckBoxSarSdfVersionup.SetChecked(false); });
      op.Answers.push_front(e.Text);
      op.Answers.push_front(e.Flag ? "Yes" : "No");
      Guarded([&] { form.CheckBoxSarSdfVersionup.SetChecked(true); });
      break;
    case Action::Wait:
      bench->Loop.RunFor(e.WaitMs, [this] {
        Poll();
        return false;
      });
      break;
  }
}

Runner::Session::Device& Runner::Session::DeviceNamed(const std::string& name) {
  for (auto& d : devices)
    if (d->Name == name) return *d;
  throw ScenarioError("no device named \"" + name + "\"");
}

// The final state, the labels, the files the tool wrote and what each
// device holds.
void Runner::Session::Finish() {
  TForm1& form = bench->Form;
  transcript.Add("end", "state " + std::to_string(form.SequencerState));
  const TLabel* labels[] = {&form.Label1,
                            &form.LabelCurrentVersion,
                            &form.LabelModelName,
                            &form.LabelSerialNumber,
                            &form.LabelUpdateVersion,
                            &form.LabelFilename,
                            &form.LabelVersionupStatus,
                            &form.LabelFormatStatus,
                            &form.LabelClipboardCopyMessage};
  for (std::size_t i = 0; i < std::size(labels); ++i)
    transcript.Add("end", std::string("label ") + kLabelNames[i] +
                              (labels[i]->Caption().empty() ? "" : " ") +
                              Text(labels[i]->Caption()));
  transcript.Add("end", "progress " + std::to_string(form.ProgressBar1.Position()) + "/" +
                            std::to_string(form.ProgressBar1.Max()));
  for (const auto& [name, digest] : Digests(folder.Path())) {
    const auto it = before.find(name);
    if (it == before.end() || it->second != digest)
      transcript.Add("end", "file " + Escape(name) + " " + digest);
  }
  for (const auto& d : devices) {
    const emu::DeviceIdentity id = d->Model.Identity();
    transcript.Add("end", "device " + d->Name + " version " + Escape(id.Version));
    transcript.Add("end", "device " + d->Name + " serial " + Escape(id.Serial.Pcb) + " " +
                              Escape(id.Serial.Bat) + " " + Escape(id.Serial.Serial));
    for (const auto& [name, file] : d->Model.Files())
      transcript.Add("end", "device " + d->Name + " file " + Escape(name) + " " +
                                std::to_string(file.Size()) + " " + file.Digest());
  }
  Guarded([&] { form.FormDestroy(); });
}

}  // namespace mvx::scenario
