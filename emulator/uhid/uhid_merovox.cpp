#include "emulator/uhid/uhid_merovox.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <memory>

#include "emulator/uhid/uhid_event.h"

#ifdef __linux__
#include <linux/uhid.h>

// The events as declared for other systems are the kernel's own.
namespace {
using Event = mvx::emu::uhid::Event;
static_assert(sizeof(Event) == sizeof(uhid_event));
static_assert(mvx::emu::uhid::kDataMax == UHID_DATA_MAX);
static_assert(mvx::emu::uhid::kCreate2 == UHID_CREATE2 && mvx::emu::uhid::kInput2 == UHID_INPUT2 &&
              mvx::emu::uhid::kOutput == UHID_OUTPUT && mvx::emu::uhid::kDestroy == UHID_DESTROY &&
              mvx::emu::uhid::kStart == UHID_START && mvx::emu::uhid::kClose == UHID_CLOSE &&
              mvx::emu::uhid::kGetReport == UHID_GET_REPORT &&
              mvx::emu::uhid::kSetReportReply == UHID_SET_REPORT_REPLY &&
              mvx::emu::uhid::kGetReportReply == UHID_GET_REPORT_REPLY &&
              mvx::emu::uhid::kOutputReport == UHID_OUTPUT_REPORT);
static_assert(offsetof(Event, U.Create.Descriptor) == offsetof(uhid_event, u.create2.rd_data));
static_assert(offsetof(Event, U.Create.Vendor) == offsetof(uhid_event, u.create2.vendor));
static_assert(offsetof(Event, U.Input.Data) == offsetof(uhid_event, u.input2.data));
static_assert(offsetof(Event, U.Out.Size) == offsetof(uhid_event, u.output.size));
static_assert(offsetof(Event, U.GetReply.Error) == offsetof(uhid_event, u.get_report_reply.err));
static_assert(offsetof(Event, U.Set.Data) == offsetof(uhid_event, u.set_report.data));
}  // namespace
#endif

namespace mvx::emu {

namespace {

constexpr std::uint16_t kBusUsb = 0x03;
constexpr std::uint32_t kDeviceVersion = 0x0100;

void PutCount(std::vector<std::uint8_t>& d, std::uint16_t count) {
  d.insert(d.end(),
           {0x96, static_cast<std::uint8_t>(count & 0xFF), static_cast<std::uint8_t>(count >> 8)});
}

}  // namespace

std::vector<std::uint8_t> VendorReportDescriptor(std::uint16_t input_bytes,
                                                 std::uint16_t output_bytes) {
  std::vector<std::uint8_t> d = {
      0x06, 0x00, 0xFF,  // Usage Page (vendor defined 0xFF00)
      0x09, 0x01,        // Usage (1)
      0xA1, 0x01,        // Collection (Application)
      0x15, 0x00,        //   Logical Minimum (0)
      0x26, 0xFF, 0x00,  //   Logical Maximum (255)
      0x75, 0x08,        //   Report Size (8)
  };
  PutCount(d, input_bytes);
  d.insert(d.end(), {0x09, 0x01, 0x81, 0x02});  // Usage (1), Input (Data, Var, Abs)
  PutCount(d, output_bytes);
  d.insert(d.end(), {0x09, 0x01, 0x91, 0x02});  // Usage (1), Output (Data, Var, Abs)
  d.push_back(0xC0);                            // End Collection
  return d;
}

UhidMerovox::UhidMerovox(MerovoxDevice& device) : device_(device) {
  device_.SetHost(MerovoxDevice::Host::OfCradle(
      [this](const std::uint8_t* report, std::size_t length) { SendInput(report, length); },
      [this] { DestroyNow(); }, [this] { CreateNow(); }, OnBusChange));
}

UhidMerovox::~UhidMerovox() {
  device_.SetHost({});
  DestroyNow();
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
}

bool UhidMerovox::Open(const std::string& node, std::string* error) {
  std::unique_ptr<UhidChannel> channel = OpenUhidNode(node, error);
  if (!channel) return false;
  Attach(std::move(channel));
  return true;
}

void UhidMerovox::Attach(std::unique_ptr<UhidChannel> channel) {
  channel_ = std::move(channel);
  thread_ = std::thread([this] { Serve(); });
}

void UhidMerovox::SetIn() {
  if (OnBus()) return;
  device_.Attached();
  CreateNow();
}

void UhidMerovox::Remove() {
  device_.Removed();
  DestroyNow();
}

bool UhidMerovox::OnBus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return created_;
}

UhidMerovox::Traffic UhidMerovox::Counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return traffic_;
}

void UhidMerovox::CreateNow() {
  const DeviceIdentity identity = device_.Identity();
  // The lengths the host sees exclude the report-ID byte, as the device
  // numbers no reports.
  const auto in = static_cast<std::uint16_t>(std::max<int>(identity.InputReportLength - 1, 1));
  const auto out = static_cast<std::uint16_t>(std::max<int>(identity.OutputReportLength - 1, 1));
  const std::vector<std::uint8_t> descriptor = VendorReportDescriptor(in, out);

  auto ev = std::make_unique<uhid::Event>();
  std::memset(ev.get(), 0, sizeof *ev);
  ev->Type = uhid::kCreate2;
  uhid::Create2& req = ev->U.Create;
  std::memcpy(req.Name, identity.Product.data(),
              std::min(identity.Product.size(), sizeof req.Name - 1));
  static constexpr char kPhys[] = "mvx-uhid-device";
  std::memcpy(req.Phys, kPhys, sizeof kPhys);
  req.DescriptorSize = static_cast<std::uint16_t>(descriptor.size());
  req.Bus = kBusUsb;
  req.Vendor = identity.VendorId;
  req.Product = identity.ProductId;
  req.Version = kDeviceVersion;
  std::memcpy(req.Descriptor, descriptor.data(), descriptor.size());

  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (created_ || !channel_) return;
    if (!channel_->Write(ev.get(), sizeof *ev)) return;
    created_ = true;
    started_ = false;
    ++traffic_.Creates;
  }
  Note("created");
}

void UhidMerovox::DestroyNow() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!created_) return;
    const std::uint32_t destroy = uhid::kDestroy;
    channel_->Write(&destroy, sizeof destroy);
    created_ = false;
    started_ = false;
    ++traffic_.Destroys;
  }
  Note("destroyed");
}

// The model's report carries the report ID first; a device without numbered
// reports sends only the data.
void UhidMerovox::SendInput(const std::uint8_t* report, std::size_t length) {
  if (length < 2) return;
  auto ev = std::make_unique<uhid::Event>();
  ev->Type = uhid::kInput2;
  const std::size_t size = std::min<std::size_t>(length - 1, uhid::kDataMax);
  ev->U.Input.Size = static_cast<std::uint16_t>(size);
  std::memcpy(ev->U.Input.Data, report + 1, size);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!created_) return;
  // Only the fields up to the data's end are read by the kernel.
  if (channel_->Write(ev.get(), uhid::InputEventSize(size))) ++traffic_.Inputs;
}

void UhidMerovox::Serve() {
  auto ev = std::make_unique<uhid::Event>();
  while (!stopping_) {
    const long got = channel_->Read(ev.get(), sizeof *ev, 100);
    if (got < 0) break;
    if (got > 0) HandleEvent(ev.get(), static_cast<std::size_t>(got));
  }
}

void UhidMerovox::HandleEvent(uhid::Event* ev, std::size_t length) {
  if (length < uhid::kTypeSize) return;
  // What the channel did not carry reads as zero.
  if (length < sizeof *ev)
    std::memset(reinterpret_cast<std::uint8_t*>(ev) + length, 0, sizeof *ev - length);
  switch (ev->Type) {
    case uhid::kStart: {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = created_;
      }
      Note("started");
      break;
    }
    case uhid::kStop: {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = false;
      }
      Note("stopped");
      break;
    }
    case uhid::kOpen:
      Note("opened");
      break;
    case uhid::kClose:
      Note("closed");
      break;
    case uhid::kOutput: {
      if (length < offsetof(uhid::Event, U) + sizeof(uhid::Output)) return;
      // hidraw hands the report over as written: report ID 0 first.
      const std::size_t size = std::min<std::size_t>(ev->U.Out.Size, uhid::kDataMax);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_) return;
        ++traffic_.Outputs;
      }
      device_.Receive(ev->U.Out.Data, size);
      break;
    }
    case uhid::kGetReport:
    case uhid::kSetReport: {
      // The device has no feature reports: refuse at once rather than let
      // the kernel wait for an answer.
      const bool get = ev->Type == uhid::kGetReport;
      const std::uint32_t id = get ? ev->U.Get.Id : ev->U.Set.Id;
      std::memset(ev, 0, sizeof *ev);
      if (get) {
        ev->Type = uhid::kGetReportReply;
        ev->U.GetReply.Id = id;
        ev->U.GetReply.Error = EIO;
      } else {
        ev->Type = uhid::kSetReportReply;
        ev->U.SetReply.Id = id;
        ev->U.SetReply.Error = EIO;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      channel_->Write(ev, sizeof *ev);
      break;
    }
    default:
      break;
  }
}

void UhidMerovox::Note(std::string_view text) const {
  if (OnNote) OnNote(text);
}

}  // namespace mvx::emu
