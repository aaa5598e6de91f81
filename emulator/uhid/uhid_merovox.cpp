#include "emulator/uhid/uhid_merovox.h"

#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>

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
  if (fd_ >= 0) ::close(fd_);
}

bool UhidMerovox::Open(const std::string& node, std::string* error) {
  const int fd = ::open(node.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) {
    if (error) *error = "cannot open " + node + ": " + std::strerror(errno);
    return false;
  }
  Attach(fd);
  return true;
}

void UhidMerovox::Attach(int fd) {
  fd_ = fd;
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

  auto ev = std::make_unique<uhid_event>();
  ev->type = UHID_CREATE2;
  uhid_create2_req& req = ev->u.create2;
  std::memcpy(req.name, identity.Product.data(),
              std::min(identity.Product.size(), sizeof req.name - 1));
  static constexpr char kPhys[] = "mvx-uhid-device";
  std::memcpy(req.phys, kPhys, sizeof kPhys);
  req.rd_size = static_cast<std::uint16_t>(descriptor.size());
  req.bus = kBusUsb;
  req.vendor = identity.VendorId;
  req.product = identity.ProductId;
  req.version = kDeviceVersion;
  std::memcpy(req.rd_data, descriptor.data(), descriptor.size());

  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (created_ || fd_ < 0) return;
    if (!Write(ev.get(), sizeof *ev)) return;
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
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    Write(&ev, sizeof ev);
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
  auto ev = std::make_unique<uhid_event>();
  ev->type = UHID_INPUT2;
  const std::size_t size = std::min<std::size_t>(length - 1, UHID_DATA_MAX);
  ev->u.input2.size = static_cast<std::uint16_t>(size);
  std::memcpy(ev->u.input2.data, report + 1, size);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!created_) return;
  // Only the fields up to the data's end are read by the kernel.
  const std::size_t used = offsetof(uhid_event, u.input2.data) + size;
  if (Write(ev.get(), used)) ++traffic_.Inputs;
}

void UhidMerovox::Serve() {
  auto ev = std::make_unique<uhid_event>();
  while (!stopping_) {
    pollfd pfd{fd_, POLLIN, 0};
    const int ready = ::poll(&pfd, 1, 100);
    if (ready < 0 && errno != EINTR) break;
    if (ready <= 0) continue;
    if (pfd.revents & (POLLERR | POLLNVAL)) break;
    const ssize_t got = ::read(fd_, ev.get(), sizeof *ev);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;
    HandleEvent(ev.get(), static_cast<std::size_t>(got));
  }
}

void UhidMerovox::HandleEvent(const void* event, std::size_t length) {
  const auto& ev = *static_cast<const uhid_event*>(event);
  if (length < sizeof ev.type) return;
  switch (ev.type) {
    case UHID_START: {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = created_;
      }
      Note("started");
      break;
    }
    case UHID_STOP: {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        started_ = false;
      }
      Note("stopped");
      break;
    }
    case UHID_OPEN:
      Note("opened");
      break;
    case UHID_CLOSE:
      Note("closed");
      break;
    case UHID_OUTPUT: {
      if (length < offsetof(uhid_event, u.output) + sizeof ev.u.output) return;
      // hidraw hands the report over as written: report ID 0 first.
      const std::size_t size = std::min<std::size_t>(ev.u.output.size, UHID_DATA_MAX);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!started_) return;
        ++traffic_.Outputs;
      }
      device_.Receive(ev.u.output.data, size);
      break;
    }
    case UHID_GET_REPORT: {
      // The device has no feature reports: refuse at once rather than let
      // the kernel wait for an answer.
      auto reply = std::make_unique<uhid_event>();
      reply->type = UHID_GET_REPORT_REPLY;
      reply->u.get_report_reply.id = ev.u.get_report.id;
      reply->u.get_report_reply.err = EIO;
      std::lock_guard<std::mutex> lock(mutex_);
      Write(reply.get(), sizeof *reply);
      break;
    }
    case UHID_SET_REPORT: {
      uhid_event reply{};
      reply.type = UHID_SET_REPORT_REPLY;
      reply.u.set_report_reply.id = ev.u.set_report.id;
      reply.u.set_report_reply.err = EIO;
      std::lock_guard<std::mutex> lock(mutex_);
      Write(&reply, sizeof reply);
      break;
    }
    default:
      break;
  }
}

bool UhidMerovox::Write(const void* event, std::size_t length) {
  for (;;) {
    const ssize_t put = ::write(fd_, event, length);
    if (put == static_cast<ssize_t>(length)) return true;
    if (put < 0 && errno == EINTR) continue;
    return false;
  }
}

void UhidMerovox::Note(std::string_view text) const {
  if (OnNote) OnNote(text);
}

}  // namespace mvx::emu
