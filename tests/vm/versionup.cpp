// mvx-vm-versionup [--simulated | --gadget] [--latency MS] [--image-size BYTES]
// SCENARIO-FILE: plays a scenario through the kernel's HID stack. The tool's
// core runs on real time with the platform's own HID backend (hidraw and
// libudev); each device of the scenario is the emulator model behind
// /dev/uhid, or with --gadget a USB HID gadget (configfs f_hid on the first
// UDC, dummy_hcd's in the test machine) that the host's usbhid drives. The
// transcript is the scenario runner's, checked against the scenario's
// "expect" lines; the download's packet rate goes to standard error.
// --simulated plays the same on the simulated backend, for comparing rates.
//
// Of the scenario's events it plays "open", "set_in" and "remove" at a time
// or at a sequencer state; the run ends after run_ms, or once every event has
// happened and the tool has rested in state 1 for a second.
//
// Exit status: 0 when every expected line appeared in order, 1 when one did
// not, 2 when the scenario cannot be played here (no /dev/uhid, no HID
// backend, an event of another kind).
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "app/form.h"
#include "base/ini_profile.h"
#include "emulator/gadget/hidg_merovox.h"
#include "emulator/merovox_device.h"
#include "emulator/scheduler.h"
#include "emulator/sim_merovox.h"
#include "emulator/uhid/uhid_merovox.h"
#include "hid/platform_backend.h"
#include "hid/sim/sim_backend.h"
#include "package/package_builder.h"
#include "scripted/scripted_operator.h"
#include "tools/scenario/real_time_loop.h"
#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

namespace {

namespace fs = std::filesystem;
using namespace mvx;
using namespace mvx::scenario;
using Clock = std::chrono::steady_clock;

class PlayError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::map<std::string, std::string> Digests(const fs::path& folder) {
  std::map<std::string, std::string> out;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec))
    if (entry.is_regular_file())
      out[entry.path().filename().string()] = emu::Md5Hex(ReadFile(entry.path()));
  return out;
}

// The same made-up image the scenario runner builds, so the two transcripts
// name the same digests.
void BuildPackage(const PackageSpec& p, const std::string& path) {
  std::string image;
  if (p.ImageContent) {
    image = *p.ImageContent;
  } else {
    image.resize(p.ImageSize);
    for (std::size_t i = 0; i < image.size(); ++i)
      image[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  }
  WritePackageFile(path, PackageOptions{p.Version, p.SpecialCode, p.Magic},
                   std::span(reinterpret_cast<const std::uint8_t*>(image.data()), image.size()));
  if (!p.Patches.empty()) throw PlayError("package patches are not played here");
}

// The model on one bus or the other.
struct Device {
  Device(const DeviceSpec& spec, emu::IScheduler& scheduler)
      : Name(spec.Name), Model(spec.Config, scheduler) {}
  void SetIn() { Uhid ? Uhid->SetIn() : Hidg ? Hidg->SetIn() : Sim->SetIn(); }
  void Remove() { Uhid ? Uhid->Remove() : Hidg ? Hidg->Remove() : Sim->Remove(); }
  bool Present() const { return Uhid ? Uhid->OnBus() : Hidg ? Hidg->OnBus() : Sim->OnBus(); }

  std::string Name;
  emu::MerovoxDevice Model;
  std::unique_ptr<emu::UhidMerovox> Uhid;
  std::unique_ptr<emu::SimMerovox> Sim;
  std::unique_ptr<emu::HidgMerovox> Hidg;
  bool OnBus = false;  // as last reported
};

class Play {
 public:
  enum class Bus { Uhid, Gadget, Simulated };
  Play(const Scenario& s, std::ostream& out, Bus bus)
      : scenario_(s), transcript_(&out), bus_(bus) {}
  ~Play() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }

  void Run();
  const std::vector<std::string>& Lines() const { return transcript_.Lines(); }

 private:
  void Prepare();
  void Start();
  void Poll();
  bool Done();
  void Fire(const Event& e);
  void Finish();
  Device& Named(const std::string& name);
  std::string Text(std::string text) const {
    const std::string work = folder_.string();
    for (std::size_t at = text.find(work); at != std::string::npos; at = text.find(work, at + 1))
      text.replace(at, work.size(), ".");
    return Escape(text);
  }
  void NoteDownload(const std::string& line);

  const Scenario& scenario_;
  Transcript transcript_;
  const Bus bus_;
  fs::path previous_ = fs::current_path();
  fs::path folder_;
  std::string package_path_;
  std::map<std::string, std::string> before_;
  RealTimeLoop loop_;
  std::unique_ptr<IHidBackend> hid_;
  SimBackend* sim_ = nullptr;
  ScriptedOperator op_;
  IniProfile settings_;
  std::unique_ptr<TForm1> form_;
  TMemo::Subscription memo_listening_;
  // The devices go before their scheduler: a call still due then finds its
  // model gone and does nothing.
  std::unique_ptr<emu::ThreadScheduler> scheduler_;
  std::vector<std::unique_ptr<Device>> devices_;
  std::string label1_;
  int last_state_ = -1;
  std::map<int, int> state_entries_;
  std::vector<bool> fired_;
  std::uint64_t idle_since_ms_ = 0;
  // The download, from its start packet to "Download : Done".
  Clock::time_point download_start_;
  Clock::time_point download_end_;
  std::uint64_t download_packets_ = 0;
};

void Play::Prepare() {
  std::string name = (fs::temp_directory_path() / "mvx-vm-versionup-XXXXXX").string();
  if (!mkdtemp(name.data())) throw PlayError("cannot make a working folder in " + name);
  folder_ = name;
  fs::current_path(folder_);
  if (scenario_.Package) {
    const PackageSpec& p = *scenario_.Package;
    if (p.Path.empty()) {
      package_path_ = (folder_ / p.FileName).string();
      BuildPackage(p, package_path_);
    } else {
      package_path_ = (folder_ / fs::path(p.Path).filename()).string();
      fs::copy_file(p.Path, package_path_);
    }
  }
  if (scenario_.FormatAfterVersionup) {
    std::ofstream ini(folder_ / "mvxtvup_setting.ini", std::ios::binary);
    ini << "[Setting]\r\nCheckBoxFileFormat=True\r\n";
  }
  before_ = Digests(folder_);
  for (const Event& e : scenario_.Events) {
    const bool when = e.When == Trigger::AtMs || e.When == Trigger::AtState;
    const bool what = e.Do == Action::Open || e.Do == Action::SetIn || e.Do == Action::Remove;
    if (!when || !what)
      throw PlayError("only open, set_in and remove at a time or state play here");
  }
}

void Play::Start() {
  if (bus_ == Bus::Simulated) {
    auto sim = std::make_unique<SimBackend>(loop_);
    sim_ = sim.get();
    hid_ = std::move(sim);
  } else {
    hid_ = CreatePlatformHidBackend();
    if (!hid_->Available()) throw PlayError("the platform's HID backend is not available");
  }
  scheduler_ = std::make_unique<emu::ThreadScheduler>();
  for (const DeviceSpec& spec : scenario_.Devices) {
    auto d = std::make_unique<Device>(spec, *scheduler_);
    std::string error;
    if (bus_ == Bus::Simulated) {
      d->Sim = std::make_unique<emu::SimMerovox>(*sim_, d->Model);
    } else if (bus_ == Bus::Gadget) {
      d->Hidg = std::make_unique<emu::HidgMerovox>(d->Model);
      if (!d->Hidg->Open("/sys/kernel/config", "mvx-" + d->Name, "Merovox", {}, &error))
        throw PlayError(error);
    } else {
      d->Uhid = std::make_unique<emu::UhidMerovox>(d->Model);
      if (!d->Uhid->Open("/dev/uhid", &error)) throw PlayError(error);
    }
    devices_.push_back(std::move(d));
  }

  form_ = std::make_unique<TForm1>(FormServices{op_, loop_, loop_, settings_, *hid_});
  TForm1& f = *form_;
  memo_listening_ = f.Memo1.Listen({[this](std::string_view line) {
                                      // "yy/mm/dd hh:mm:ss zzz," is 22 characters; a text
                                      // control shows a line up to its first NUL byte.
                                      std::string text(line.size() >= 22 ? line.substr(22) : line);
                                      text = text.substr(0, text.find('\0'));
                                      NoteDownload(text);
                                      transcript_.Add("log", Text(text));
                                    },
                                    [this] { transcript_.Add("clear", ""); }});
  f.Label1.OnChanged = [this] {
    const std::string& caption = form_->Label1.Caption();
    if (caption == label1_) return;
    label1_ = caption;
    transcript_.Add("label1", Text(caption));
  };
  label1_ = f.Label1.Caption();
  op_.Answers.assign(scenario_.Answers.begin(), scenario_.Answers.end());
  op_.OnRecord = [this](const ScriptedOperator::Record& r) {
    transcript_.Add("box", Text(r.Kind) + " | " + Text(r.Caption) + " | " + Text(r.Text) + " | " +
                               Text(r.Answer));
  };

  fired_.assign(scenario_.Events.size(), false);
  for (std::size_t i = 0; i < scenario_.Events.size(); ++i) {
    if (scenario_.Events[i].When != Trigger::AtMs) continue;
    loop_.At(scenario_.Events[i].Ms, [this, i] {
      fired_[i] = true;
      Fire(scenario_.Events[i]);
    });
  }
  if (scenario_.FormatAfterVersionup) op_.Answers.push_front("OK");
  f.Guarded([&] { f.FormCreate(); });
}

void Play::NoteDownload(const std::string& line) {
  // Log lines begin with their direction marker.
  const std::string text = line.size() > 2 ? line.substr(2) : std::string();
  if (line.rfind(">>", 0) == 0 && (text.rfind("FCPS", 0) == 0 || text.rfind("ACPS", 0) == 0)) {
    download_start_ = Clock::now();
    download_packets_ = 0;
  } else if (line.rfind(">>", 0) == 0 &&
             (text.rfind("FCPD", 0) == 0 || text.rfind("ACPD", 0) == 0)) {
    ++download_packets_;
  } else if (text == "Download : Done") {
    download_end_ = Clock::now();
  }
}

void Play::Poll() {
  const int state = form_->SequencerState;
  if (state != last_state_) {
    last_state_ = state;
    const int entry = ++state_entries_[state];
    for (std::size_t i = 0; i < scenario_.Events.size(); ++i) {
      const Event& e = scenario_.Events[i];
      if (e.When == Trigger::AtState && e.State == state && e.Occurrence == entry && !fired_[i]) {
        fired_[i] = true;
        Fire(e);
      }
    }
  }
  for (auto& d : devices_) {
    const bool on_bus = d->Present();
    if (on_bus == d->OnBus) continue;
    d->OnBus = on_bus;
    transcript_.Add("device", d->Name + (on_bus ? " returns" : " leaves the bus"));
  }
}

bool Play::Done() {
  Poll();
  const bool all_fired = std::find(fired_.begin(), fired_.end(), false) == fired_.end();
  if (!all_fired || form_->SequencerState != 1) {
    idle_since_ms_ = 0;
    return false;
  }
  if (idle_since_ms_ == 0) idle_since_ms_ = loop_.NowMs();
  return loop_.NowMs() - idle_since_ms_ >= 1000;
}

void Play::Fire(const Event& e) {
  switch (e.Do) {
    case Action::SetIn: {
      Device& d = Named(e.Device);
      transcript_.Add("device", d.Name + " set in");
      d.SetIn();
      d.OnBus = d.Present();
      break;
    }
    case Action::Remove: {
      Device& d = Named(e.Device);
      transcript_.Add("device", d.Name + " removed");
      d.Remove();
      d.OnBus = false;
      break;
    }
    case Action::Open:
      transcript_.Add("operator", "File > Open");
      op_.Answers.push_front(e.File ? *e.File : package_path_);
      form_->Guarded([&] { form_->OpenFileClick(); });
      break;
    default:
      break;
  }
}

Device& Play::Named(const std::string& name) {
  for (auto& d : devices_)
    if (d->Name == name) return *d;
  throw PlayError("no device named \"" + name + "\"");
}

void Play::Finish() {
  TForm1& f = *form_;
  transcript_.Add("end", "state " + std::to_string(f.SequencerState));
  const std::pair<const char*, const TLabel*> labels[] = {
      {"Label1", &f.Label1},
      {"LabelCurrentVersion", &f.LabelCurrentVersion},
      {"LabelModelName", &f.LabelModelName},
      {"LabelSerialNumber", &f.LabelSerialNumber},
      {"LabelUpdateVersion", &f.LabelUpdateVersion},
      {"LabelFilename", &f.LabelFilename},
      {"LabelVersionupStatus", &f.LabelVersionupStatus},
      {"LabelFormatStatus", &f.LabelFormatStatus},
      {"LabelClipboardCopyMessage", &f.LabelClipboardCopyMessage}};
  for (const auto& [name, label] : labels)
    transcript_.Add("end", std::string("label ") + name + (label->Caption().empty() ? "" : " ") +
                               Text(label->Caption()));
  transcript_.Add("end", "progress " + std::to_string(f.ProgressBar1.Position()) + "/" +
                             std::to_string(f.ProgressBar1.Max()));
  for (const auto& [name, digest] : Digests(folder_)) {
    const auto it = before_.find(name);
    if (it == before_.end() || it->second != digest)
      transcript_.Add("end", "file " + Escape(name) + " " + digest);
  }
  for (const auto& d : devices_) {
    const emu::DeviceIdentity id = d->Model.Identity();
    transcript_.Add("end", "device " + d->Name + " version " + Escape(id.Version));
    transcript_.Add("end", "device " + d->Name + " serial " + Escape(id.Serial.Pcb) + " " +
                               Escape(id.Serial.Bat) + " " + Escape(id.Serial.Serial));
    for (const auto& [name, file] : d->Model.Files())
      transcript_.Add("end", "device " + d->Name + " file " + Escape(name) + " " +
                                 std::to_string(file.Size()) + " " + file.Digest());
  }
  f.Guarded([&] { f.FormDestroy(); });

  if (download_packets_ > 0 && download_end_ > download_start_) {
    const double seconds = std::chrono::duration<double>(download_end_ - download_start_).count();
    std::cerr << "download: " << download_packets_ << " data packets in " << seconds << " s, "
              << static_cast<long long>(download_packets_ / seconds) << " packets/s\n";
  }
  for (const auto& d : devices_) {
    if (d->Uhid) {
      const emu::UhidMerovox::Traffic t = d->Uhid->Counts();
      std::cerr << "device " << d->Name << ": " << t.Outputs << " output reports, " << t.Inputs
                << " input reports, created " << t.Creates << " times\n";
    } else if (d->Hidg) {
      const emu::HidgMerovox::Traffic t = d->Hidg->Counts();
      std::cerr << "device " << d->Name << ": " << t.Outputs << " output reports, " << t.Inputs
                << " input reports, bound " << t.Binds << " times, unbound " << t.Unbinds
                << " times\n";
    }
  }
}

void Play::Run() {
  Prepare();
  Start();
  const auto started = Clock::now();
  loop_.RunFor(scenario_.RunMs, [this] { return Done(); });
  std::cerr << "run: " << std::chrono::duration<double>(Clock::now() - started).count()
            << " s of real time\n";
  Finish();
}

}  // namespace

int main(int argc, char** argv) {
  std::optional<std::uint32_t> latency;
  std::optional<std::uint32_t> image_size;
  Play::Bus bus = Play::Bus::Uhid;
  int arg = 1;
  if (arg < argc && std::string(argv[arg]) == "--simulated") {
    bus = Play::Bus::Simulated;
    ++arg;
  } else if (arg < argc && std::string(argv[arg]) == "--gadget") {
    bus = Play::Bus::Gadget;
    ++arg;
  }
  for (; arg + 1 < argc && std::string(argv[arg]).rfind("--", 0) == 0; arg += 2) {
    const std::string name = argv[arg];
    const auto value = static_cast<std::uint32_t>(std::strtoul(argv[arg + 1], nullptr, 10));
    if (name == "--latency")
      latency = value;
    else if (name == "--image-size")
      image_size = value;
    else
      break;
  }
  if (arg != argc - 1) {
    std::cerr << "usage: mvx-vm-versionup [--simulated | --gadget] [--latency MS] "
                 "[--image-size BYTES] "
                 "SCENARIO-FILE\n";
    return 2;
  }
  const char* file = argv[arg];
  try {
    Scenario scenario = LoadScenario(file);
    if (latency)
      for (DeviceSpec& d : scenario.Devices) d.Config.Timing.LatencyMs = *latency;
    if (image_size && scenario.Package) scenario.Package->ImageSize = *image_size;
    Play play(scenario, std::cout, bus);
    play.Run();
    std::cout.flush();
    const int unmet = FirstUnmet(scenario.Expect, play.Lines());
    if (unmet < 0) return 0;
    const Expectation& e = scenario.Expect[static_cast<std::size_t>(unmet)];
    std::cerr << "expected " << (e.Regex ? "a line matching: " : "line not found: ") << e.Text
              << "\n";
    return 1;
  } catch (const std::exception& e) {
    std::cout.flush();
    std::cerr << file << ": " << e.what() << "\n";
    return 2;
  }
}
