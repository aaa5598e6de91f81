#include "hid/sim/sim_backend.h"

#include "base/hex.h"
#include "hid/device_properties.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <system_error>
#include <vector>

namespace mvx {
namespace {

// Like the OS's own last-error value: per thread, set by every failed call.
thread_local std::uint32_t t_last_error = 0;

// How long a report nobody is reading yet still counts as in flight: enough
// for a read thread that was just started to open its handle and read.
constexpr std::chrono::milliseconds kReaderStartGrace{500};

bool Fail(std::uint32_t code) {
  t_last_error = code;
  return false;
}

// The registry properties an enumeration on Windows would find for a
// vendor-defined HID interface; the codes are the SPDRP_* values.
std::vector<HidProperty> SimProperties(const SimDeviceConfig& config) {
  const std::string ids = "VID_" + HexWord(config.VendorID) + "&PID_" + HexWord(config.ProductID);
  auto text = [](DeviceProperty code, std::string value) {
    HidProperty p;
    p.Code = Code(code);
    p.Type = HidProperty::Kind::String;
    p.Text = std::move(value);
    return p;
  };
  auto number = [](DeviceProperty code, std::uint32_t value) {
    HidProperty p;
    p.Code = Code(code);
    p.Type = HidProperty::Kind::Number;
    p.Number = value;
    return p;
  };
  HidProperty hardware;
  hardware.Code = Code(DeviceProperty::HardwareID);
  hardware.Type = HidProperty::Kind::StringList;
  hardware.List = {"HID\\" + ids + "&REV_" + HexWord(config.VersionNumber), "HID\\" + ids};
  HidProperty compatible;
  compatible.Code = Code(DeviceProperty::CompatibleIDs);
  compatible.Type = HidProperty::Kind::StringList;
  compatible.List = {"HID_DEVICE_UP:FF00_U:0001", "HID_DEVICE"};
  using P = DeviceProperty;
  return {text(P::DeviceDesc, "HID-compliant vendor-defined device"),
          hardware,
          compatible,
          text(P::Class, "HIDClass"),
          text(P::ClassGUID, "{745a17a0-74d3-11d0-b6fe-00a0c90f57da}"),
          text(P::Mfg, "(Standard system devices)"),
          number(P::Capabilities, 0xA0),
          text(P::EnumeratorName, "HID")};
}

}  // namespace

struct SimBackend::Device {
  int id = 0;
  SimDeviceConfig config;
  ISimDeviceModel* model = nullptr;
  std::uint32_t instance = 0;
  std::string identity;
  std::string path;
  bool present = true;
  std::uint32_t write_error = 0;
  struct Input {
    std::vector<std::uint8_t> report;
    std::chrono::steady_clock::time_point queued;
  };
  std::deque<Input> inputs;
  std::condition_variable input_cv;
  int open_handles = 0;
  int holding = 0;        // handles whose completed read is being delivered
  int pending_reads = 0;  // handles with a read outstanding
  int writes_seen = 0;
};

struct SimBackend::State {
  struct Watcher {
    std::function<void()> on_change;
    bool alive = true;
  };

  mutable std::mutex mutex;
  std::map<int, std::shared_ptr<Device>> devices;  // by id, so in plug order
  std::vector<std::shared_ptr<Watcher>> watchers;
  int next_id = 0;
  bool available = true;

  std::shared_ptr<Device> Find(int id) const {
    auto it = devices.find(id);
    return it == devices.end() ? nullptr : it->second;
  }
  // An unplugged device is forgotten once its last handle has closed, so a
  // long run of devices set in one after the other keeps no trace of them.
  void ForgetIfGone(const std::shared_ptr<Device>& device) {
    if (!device->present && device->open_handles == 0) devices.erase(device->id);
  }
};

namespace {

class SimWatch : public IWatch {
 public:
  SimWatch(std::shared_ptr<SimBackend::State> state,
           std::shared_ptr<SimBackend::State::Watcher> watcher)
      : state_(std::move(state)), watcher_(std::move(watcher)) {}
  ~SimWatch() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    watcher_->alive = false;
    auto& list = state_->watchers;
    list.erase(std::remove(list.begin(), list.end(), watcher_), list.end());
  }

 private:
  std::shared_ptr<SimBackend::State> state_;
  std::shared_ptr<SimBackend::State::Watcher> watcher_;
};

class SimHandle : public IHidHandle {
 public:
  SimHandle(std::shared_ptr<SimBackend::State> state, std::shared_ptr<SimBackend::Device> device,
            HidOpenMode mode)
      : state_(std::move(state)), device_(std::move(device)), mode_(mode) {}

  ~SimHandle() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ReleaseHolding();
    SetPending(false);
    --device_->open_handles;
    // A reader that goes away takes the reports it has not read with it.
    if (mode_ == HidOpenMode::ReadAsync) device_->inputs.clear();
    state_->ForgetIfGone(device_);
  }

  bool GetAttributes(HidAttributes& attributes) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!device_->present) return Fail(ENODEV);
    if (device_->config.FailIdentify) return Fail(EIO);
    attributes.Size = 12;
    attributes.VendorID = device_->config.VendorID;
    attributes.ProductID = device_->config.ProductID;
    attributes.VersionNumber = device_->config.VersionNumber;
    return true;
  }

  bool GetCaps(HidCaps& caps) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!device_->present) return Fail(ENODEV);
    caps = HidCaps{};
    caps.UsagePage = 0xFF00;
    caps.Usage = 0x0001;
    caps.InputReportByteLength = device_->config.InputReportByteLength;
    caps.OutputReportByteLength = device_->config.OutputReportByteLength;
    caps.NumberLinkCollectionNodes = 1;
    caps.NumberInputValueCaps = 1;
    caps.NumberOutputValueCaps = 1;
    return true;
  }

  bool GetProductString(std::u16string& text, std::size_t max_chars) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!device_->present) return Fail(ENODEV);
    text = device_->config.ProductString.substr(0, max_chars);
    return true;
  }

  bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
    written = 0;
    ISimDeviceModel* model = nullptr;
    int id = 0;
    {
      std::lock_guard<std::mutex> lock(state_->mutex);
      if (mode_ != HidOpenMode::ReadWrite) return Fail(EBADF);
      if (!device_->present) return Fail(ENODEV);
      if (device_->write_error != 0) return Fail(device_->write_error);
      if (data == nullptr || length != device_->config.OutputReportByteLength) return Fail(EINVAL);
      ++device_->writes_seen;
      model = device_->model;
      id = device_->id;
    }
    // Without the lock: the model answers through SendInput (or unplugs).
    if (model != nullptr) {
      if (const std::uint32_t error = model->WriteError(id, data, length)) return Fail(error);
      model->OnOutputReport(id, data, length);
    }
    written = length;
    return true;
  }

  bool BeginRead(std::uint8_t* buffer, std::size_t length) override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ReleaseHolding();
    if (mode_ == HidOpenMode::QueryOnly) return Fail(EBADF);
    if (!device_->present) return Fail(ENODEV);
    if (pending_) return Fail(EBUSY);
    SetPending(true);
    completed_ = false;
    failed_ = false;
    transferred_ = 0;
    buffer_ = buffer;
    length_ = length;
    return true;
  }

  bool WaitRead(unsigned slice_ms) override {
    std::unique_lock<std::mutex> lock(state_->mutex);
    SimBackend::Device& d = *device_;
    d.input_cv.wait_for(lock, std::chrono::milliseconds(slice_ms), [&] {
      return interrupted_ || (pending_ && (!d.present || !d.inputs.empty()));
    });
    if (interrupted_) {
      interrupted_ = false;
      return false;
    }
    if (!pending_) return false;
    if (!d.present) {
      // The removal completes the outstanding read with an error.
      SetPending(false);
      completed_ = true;
      failed_ = true;
      return true;
    }
    if (d.inputs.empty()) return false;
    const std::vector<std::uint8_t>& report = d.inputs.front().report;
    const std::size_t n = std::min(report.size(), length_);
    if (n > 0) std::memcpy(buffer_, report.data(), n);
    d.inputs.pop_front();
    SetPending(false);
    completed_ = true;
    transferred_ = n;
    holding_ = true;
    ++d.holding;
    return true;
  }

  std::size_t FinishRead() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    if (!completed_ || failed_) {
      Fail(!completed_ ? EINPROGRESS : ENODEV);
      return 0;
    }
    return transferred_;
  }

  bool CancelRead() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    ReleaseHolding();
    SetPending(false);
    return true;
  }

  void Interrupt() override {
    std::lock_guard<std::mutex> lock(state_->mutex);
    // Whoever interrupts a reader stops it from reading on, so a report it
    // delivered is no longer on its way.
    ReleaseHolding();
    interrupted_ = true;
    device_->input_cv.notify_all();
  }

 private:
  void SetPending(bool pending) {
    if (pending == pending_) return;
    pending_ = pending;
    device_->pending_reads += pending ? 1 : -1;
  }

  void ReleaseHolding() {
    if (!holding_) return;
    holding_ = false;
    --device_->holding;
  }

  std::shared_ptr<SimBackend::State> state_;
  std::shared_ptr<SimBackend::Device> device_;
  HidOpenMode mode_;
  // The one outstanding read; all under the state's mutex.
  bool pending_ = false;
  bool completed_ = false;
  bool failed_ = false;
  bool interrupted_ = false;
  bool holding_ = false;
  std::uint8_t* buffer_ = nullptr;
  std::size_t length_ = 0;
  std::size_t transferred_ = 0;
};

}  // namespace

SimBackend::SimBackend(IEventLoop& loop) : loop_(loop), state_(std::make_shared<State>()) {}

SimBackend::~SimBackend() = default;

int SimBackend::Plug(const SimDeviceConfig& config, ISimDeviceModel* model) {
  int id;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto device = std::make_shared<Device>();
    id = ++state_->next_id;
    device->id = id;
    device->config = config;
    device->model = model;
    device->instance = 100 + static_cast<std::uint32_t>(id);
    const std::string ids = "VID_" + HexWord(config.VendorID) + "&PID_" + HexWord(config.ProductID);
    device->identity = "SIM\\" + ids + "\\" + std::to_string(id);
    device->path = "\\\\?\\sim#vid_" + HexWord(config.VendorID, HexCase::Lower) + "&pid_" +
                   HexWord(config.ProductID, HexCase::Lower) + "#" + std::to_string(id) +
                   "#{4d1e55b2-f16f-11cf-88cb-001111000030}";
    state_->devices.emplace(id, std::move(device));
  }
  PostChange();
  return id;
}

void SimBackend::Unplug(int device_id) {
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    auto device = state_->Find(device_id);
    if (!device || !device->present) return;
    device->present = false;
    device->inputs.clear();
    device->input_cv.notify_all();
    state_->ForgetIfGone(device);
  }
  PostChange();
}

void SimBackend::SendInput(int device_id, const std::uint8_t* data, std::size_t length) {
  std::unique_lock<std::mutex> lock(state_->mutex);
  auto device = state_->Find(device_id);
  if (!device || !device->present || device->open_handles == 0) return;
  std::vector<std::uint8_t> report(device->config.InputReportByteLength, 0);
  if (data != nullptr) std::memcpy(report.data(), data, std::min(length, report.size()));
  device->inputs.push_back({std::move(report), std::chrono::steady_clock::now()});
  // Woken after the unlock, the reader finds the mutex free instead of
  // sleeping on it once more. The shared pointer keeps the device's condition
  // variable alive meanwhile.
  lock.unlock();
  device->input_cv.notify_all();
}

void SimBackend::SetWriteError(int device_id, std::uint32_t error) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  if (auto device = state_->Find(device_id)) device->write_error = error;
}

void SimBackend::SetAvailable(bool available) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  state_->available = available;
}

bool SimBackend::InFlight() const {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(state_->mutex);
  for (const auto& [id, device] : state_->devices) {
    if (!device->present) continue;
    if (device->holding > 0) return true;
    if (device->inputs.empty()) continue;
    // Waiting reports are on their way while a read is outstanding, and for a
    // grace time while the read thread that is to read them is starting.
    if (device->pending_reads > 0 || now - device->inputs.front().queued < kReaderStartGrace)
      return true;
  }
  return false;
}

std::uint32_t SimBackend::InstanceOf(int device_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto device = state_->Find(device_id);
  return device ? device->instance : 0;
}

std::string SimBackend::PathOf(int device_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto device = state_->Find(device_id);
  return device ? device->path : std::string();
}

int SimBackend::OpenHandles(int device_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto device = state_->Find(device_id);
  return device ? device->open_handles : 0;
}

int SimBackend::PendingReads(int device_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto device = state_->Find(device_id);
  return device ? device->pending_reads : 0;
}

int SimBackend::WritesSeen(int device_id) const {
  std::lock_guard<std::mutex> lock(state_->mutex);
  auto device = state_->Find(device_id);
  return device ? device->writes_seen : 0;
}

bool SimBackend::Available() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  return state_->available;
}

std::vector<HidInterfaceInfo> SimBackend::Enumerate() {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::vector<HidInterfaceInfo> list;
  if (!state_->available) return list;
  for (const auto& [id, device] : state_->devices) {
    if (!device->present) continue;
    HidInterfaceInfo info;
    info.Identity = device->identity;
    info.Instance = device->instance;
    info.Path = device->path;
    info.Location = device->config.Location;
    info.SerialNumber = device->config.SerialNumber;
    info.Properties = SimProperties(device->config);
    list.push_back(std::move(info));
  }
  return list;
}

std::unique_ptr<IHidHandle> SimBackend::Open(const std::string& path, HidOpenMode mode) {
  std::lock_guard<std::mutex> lock(state_->mutex);
  std::shared_ptr<Device> device;
  for (const auto& [id, d] : state_->devices)
    if (d->path == path) device = d;
  std::uint32_t error = 0;
  if (!state_->available)
    error = ENOSYS;
  else if (!device)
    error = ENOENT;
  else if (!device->present)
    error = ENODEV;
  else if (device->config.FailOpen)
    error = EIO;
  else if (device->config.Exclusive && mode != HidOpenMode::QueryOnly)
    error = EACCES;
  if (error != 0) {
    Fail(error);
    return nullptr;
  }
  ++device->open_handles;
  return std::make_unique<SimHandle>(state_, device, mode);
}

std::unique_ptr<IWatch> SimBackend::WatchChanges(IEventLoop&, std::function<void()> on_change) {
  auto watcher = std::make_shared<State::Watcher>();
  watcher->on_change = std::move(on_change);
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    state_->watchers.push_back(watcher);
  }
  return std::make_unique<SimWatch>(state_, std::move(watcher));
}

std::uint32_t SimBackend::LastError() {
  return t_last_error;
}

std::string SimBackend::ErrorMessage(std::uint32_t code) {
  return std::generic_category().message(static_cast<int>(code));
}

void SimBackend::PostChange() {
  // Only those watching when the change happened hear of it, as a broadcast
  // reaches only the windows that exist when it is sent.
  std::vector<std::shared_ptr<State::Watcher>> watchers;
  {
    std::lock_guard<std::mutex> lock(state_->mutex);
    watchers = state_->watchers;
  }
  if (watchers.empty()) return;
  std::weak_ptr<State> weak = state_;
  loop_.Post([weak, watchers] {
    auto state = weak.lock();
    if (!state) return;
    for (const auto& watcher : watchers) {
      {
        // A watch destroyed meanwhile (perhaps by an earlier watcher's
        // handler) is not called.
        std::lock_guard<std::mutex> lock(state->mutex);
        if (!watcher->alive) continue;
      }
      watcher->on_change();
    }
  });
}

}  // namespace mvx
