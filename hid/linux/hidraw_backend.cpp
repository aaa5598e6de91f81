#include "hid/linux/hidraw_backend.h"

#include <fcntl.h>
#include <libudev.h>
#include <linux/hidraw.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <vector>

#include "base/hex.h"
#include "hid/device_properties.h"
#include "hid/linux/hidraw_util.h"
#include "hid/report_descriptor.h"

namespace mvx {
namespace {

thread_local std::uint32_t t_last_error = 0;

bool Fail(int code) {
  t_last_error = static_cast<std::uint32_t>(code);
  return false;
}

// The largest report hidraw hands out (HID_MAX_BUFFER_SIZE) and the largest
// report descriptor (HID_MAX_DESCRIPTOR_SIZE).
constexpr std::size_t kMaxReport = 16384;
constexpr std::size_t kMaxDescriptor = 4096;

std::string Text(const char* value) {
  return value != nullptr ? value : "";
}

std::vector<std::uint8_t> ReadFile(const std::string& path, std::size_t max) {
  std::ifstream file(path, std::ios::binary);
  std::vector<std::uint8_t> bytes;
  if (!file) return bytes;
  bytes.resize(max);
  file.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(max));
  bytes.resize(static_cast<std::size_t>(file.gcount()));
  return bytes;
}

const char* BusName(std::uint16_t bus) {
  switch (bus) {
    case 0x03:
      return "USB";
    case 0x05:
      return "BLUETOOTH";
    case 0x06:
      return "VIRTUAL";
    case 0x18:
      return "I2C";
    default:
      return "HID";
  }
}

// What udev and sysfs say about one hidraw node, read without opening it.
struct NodeInfo {
  std::string syspath;  // the hidraw node's, what Open takes
  std::string devnode;  // /dev/hidrawN
  dev_t devnum = 0;
  std::string identity;  // the HID parent's sysfs name
  bool identified = false;
  hidraw::HidId id;
  std::uint16_t version = 0;
  std::string hid_name, hid_phys, driver;
  std::string usb_product, usb_manufacturer;
  std::string location, serial;
  std::vector<std::uint8_t> descriptor;
  std::optional<ReportDescriptorInfo> reports;
};

NodeInfo ReadNode(udev_device* node) {
  NodeInfo info;
  info.syspath = Text(udev_device_get_syspath(node));
  info.devnode = Text(udev_device_get_devnode(node));
  info.devnum = udev_device_get_devnum(node);
  udev_device* hid = udev_device_get_parent_with_subsystem_devtype(node, "hid", nullptr);
  if (hid == nullptr) {
    info.identity = info.syspath;
    return info;
  }
  info.identity = Text(udev_device_get_sysname(hid));
  std::optional<hidraw::HidId> id;
  if (const char* hid_id = udev_device_get_property_value(hid, "HID_ID"))
    id = hidraw::ParseHidId(hid_id);
  if (!id) id = hidraw::ParseHidSysname(info.identity);
  if (id) {
    info.identified = true;
    info.id = *id;
  }
  info.hid_name = Text(udev_device_get_property_value(hid, "HID_NAME"));
  info.hid_phys = Text(udev_device_get_property_value(hid, "HID_PHYS"));
  info.driver = Text(udev_device_get_driver(hid));
  info.serial = hidraw::NameText(Text(udev_device_get_property_value(hid, "HID_UNIQ")));
  info.descriptor =
      ReadFile(Text(udev_device_get_syspath(hid)) + "/report_descriptor", kMaxDescriptor);
  if (!info.descriptor.empty())
    info.reports = ParseReportDescriptor(info.descriptor.data(), info.descriptor.size());
  std::string usb_device;
  if (udev_device* usb = udev_device_get_parent_with_subsystem_devtype(hid, "usb", "usb_device")) {
    usb_device = Text(udev_device_get_sysname(usb));
    info.usb_product = Text(udev_device_get_sysattr_value(usb, "product"));
    info.usb_manufacturer = Text(udev_device_get_sysattr_value(usb, "manufacturer"));
    if (auto bcd = hidraw::ParseHex16(Text(udev_device_get_sysattr_value(usb, "bcdDevice"))))
      info.version = *bcd;
  }
  info.location = hidraw::PortLocation(usb_device, info.hid_phys);
  return info;
}

// The registry-like properties Linux has, under the SPDRP_* codes of their
// Windows counterparts.
std::vector<HidProperty> Properties(const NodeInfo& info) {
  std::vector<HidProperty> list;
  auto text = [&](DeviceProperty property, const std::string& value) {
    if (value.empty()) return;
    HidProperty p;
    p.Code = Code(property);
    p.Text = value;
    list.push_back(std::move(p));
  };
  text(DeviceProperty::DeviceDesc, info.hid_name);
  if (info.identified) {
    HidProperty ids;
    ids.Code = Code(DeviceProperty::HardwareID);
    ids.Type = HidProperty::Kind::StringList;
    const std::string base =
        "HID\\VID_" + HexWord(info.id.VendorID) + "&PID_" + HexWord(info.id.ProductID);
    ids.List = {base + "&REV_" + HexWord(info.version), base};
    list.push_back(std::move(ids));
  }
  text(DeviceProperty::Service, info.driver);
  text(DeviceProperty::Class, "HIDClass");
  text(DeviceProperty::Mfg, info.usb_manufacturer);
  text(DeviceProperty::LocationInformation, info.hid_phys);
  text(DeviceProperty::PhysicalDeviceObjectName, info.devnode);
  if (info.identified) text(DeviceProperty::EnumeratorName, BusName(info.id.Bus));
  return list;
}

class HidrawHandle : public IHidHandle {
 public:
  HidrawHandle(NodeInfo info, HidOpenMode mode, int fd, int wake_fd)
      : info_(std::move(info)), mode_(mode), fd_(fd), wake_fd_(wake_fd) {
    if (!info_.reports && fd_ >= 0) ReadDescriptorFromNode();
    numbered_ = info_.reports && info_.reports->Numbered;
  }

  ~HidrawHandle() override {
    if (fd_ >= 0) ::close(fd_);
    if (wake_fd_ >= 0) ::close(wake_fd_);
  }

  bool GetAttributes(HidAttributes& attributes) override {
    if (!info_.identified) return Fail(ENODATA);
    attributes.Size = 12;
    attributes.VendorID = info_.id.VendorID;
    attributes.ProductID = info_.id.ProductID;
    attributes.VersionNumber = info_.version;
    return true;
  }

  bool GetCaps(HidCaps& caps) override {
    if (!info_.reports) return Fail(ENODATA);
    caps = HidCaps{};
    caps.UsagePage = info_.reports->UsagePage;
    caps.Usage = info_.reports->Usage;
    caps.InputReportByteLength = info_.reports->InputReportByteLength;
    caps.OutputReportByteLength = info_.reports->OutputReportByteLength;
    caps.FeatureReportByteLength = info_.reports->FeatureReportByteLength;
    return true;
  }

  // No hidraw request returns the product string: the USB device's own, else
  // the HID name (usbhid names a device "manufacturer product").
  bool GetProductString(std::u16string& text, std::size_t max_chars) override {
    const std::string& source = !info_.usb_product.empty() ? info_.usb_product : info_.hid_name;
    if (source.empty()) return Fail(ENODATA);
    text = hidraw::Utf8ToUtf16(source).substr(0, max_chars);
    return true;
  }

  // hidraw takes the report ID first, 0 for a device without numbered
  // reports: exactly the form the caller gives.
  bool Write(const std::uint8_t* data, std::size_t length, std::size_t& written) override {
    written = 0;
    if (mode_ != HidOpenMode::ReadWrite || fd_ < 0) return Fail(EBADF);
    if (data == nullptr || length == 0) return Fail(EINVAL);
    ssize_t n;
    do {
      n = ::write(fd_, data, length);
    } while (n < 0 && errno == EINTR);
    if (n < 0) return Fail(errno);
    written = static_cast<std::size_t>(n);
    return true;
  }

  bool BeginRead(std::uint8_t* buffer, std::size_t length) override {
    if (fd_ < 0 || mode_ == HidOpenMode::QueryOnly) return Fail(EBADF);
    if (gone_error_ != 0) return Fail(gone_error_);
    if (pending_) return Fail(EBUSY);
    pending_ = true;
    completed_ = false;
    error_ = 0;
    transferred_ = 0;
    buffer_ = buffer;
    length_ = length;
    return true;
  }

  bool WaitRead(unsigned slice_ms) override {
    pollfd fds[2] = {{pending_ ? fd_ : -1, POLLIN, 0}, {wake_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, static_cast<int>(std::min(slice_ms, 0x7FFFFFFFu)));
    if (ready <= 0) return false;  // the slice passed (or a signal came)
    if (fds[1].revents & POLLIN) {
      std::uint64_t count;
      [[maybe_unused]] const ssize_t drained = ::read(wake_fd_, &count, sizeof count);
      return false;
    }
    if (!pending_ || fds[0].revents == 0) return false;
    if (scratch_.empty()) scratch_.resize(kMaxReport);
    const ssize_t n = ::read(fd_, scratch_.data(), scratch_.size());
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) return false;
    pending_ = false;
    completed_ = true;
    if (n <= 0) {
      // A removed device ends the read with an error, and every later read
      // fails at once instead of finding the node readable again.
      error_ = n < 0 ? errno : EIO;
      gone_error_ = error_;
      return true;
    }
    transferred_ = hidraw::NormaliseInputReport(numbered_, scratch_.data(),
                                                static_cast<std::size_t>(n), buffer_, length_);
    return true;
  }

  std::size_t FinishRead() override {
    if (!completed_ || error_ != 0) {
      Fail(!completed_ ? EINPROGRESS : error_);
      return 0;
    }
    return transferred_;
  }

  bool CancelRead() override {
    pending_ = false;
    return true;
  }

  void Interrupt() override {
    if (wake_fd_ < 0) return;
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t n = ::write(wake_fd_, &one, sizeof one);
  }

 private:
  // sysfs did not give the descriptor: ask the open node.
  void ReadDescriptorFromNode() {
    int size = 0;
    if (::ioctl(fd_, HIDIOCGRDESCSIZE, &size) < 0 || size <= 0) return;
    hidraw_report_descriptor descriptor{};
    descriptor.size = static_cast<__u32>(std::min<int>(size, HID_MAX_DESCRIPTOR_SIZE));
    if (::ioctl(fd_, HIDIOCGRDESC, &descriptor) < 0) return;
    info_.reports = ParseReportDescriptor(descriptor.value, descriptor.size);
  }

  NodeInfo info_;
  HidOpenMode mode_;
  int fd_;
  int wake_fd_;
  bool numbered_ = false;
  // The read in progress; only the read thread touches it.
  bool pending_ = false;
  bool completed_ = false;
  int error_ = 0;
  int gone_error_ = 0;
  std::uint8_t* buffer_ = nullptr;
  std::size_t length_ = 0;
  std::size_t transferred_ = 0;
  std::vector<std::uint8_t> scratch_;
};

}  // namespace

// The udev context, shared by the handles' owner and the monitor: libudev
// objects must not be used by two threads at once, and the read thread opens
// its handle while the GUI thread may scan.
struct HidrawBackend::Shared {
  std::mutex mutex;
  udev* context = nullptr;
  std::map<std::string, std::uint32_t> instances;  // identity → Instance
  std::uint32_t next_instance = 1;

  ~Shared() {
    if (context != nullptr) udev_unref(context);
  }
};

namespace {

class MonitorWatch : public IWatch {
 public:
  MonitorWatch(std::shared_ptr<HidrawBackend::Shared> shared, udev_monitor* monitor)
      : shared_(std::move(shared)), monitor_(monitor) {}
  ~MonitorWatch() override {
    loop_watch_.reset();  // no more calls that use the monitor
    std::lock_guard<std::mutex> lock(shared_->mutex);
    udev_monitor_unref(monitor_);
  }
  void Watch(std::unique_ptr<IWatch> loop_watch) { loop_watch_ = std::move(loop_watch); }

 private:
  std::shared_ptr<HidrawBackend::Shared> shared_;
  udev_monitor* monitor_;
  std::unique_ptr<IWatch> loop_watch_;
};

class NoWatch : public IWatch {};

}  // namespace

HidrawBackend::HidrawBackend() : shared_(std::make_shared<Shared>()) {
  shared_->context = udev_new();
}

HidrawBackend::~HidrawBackend() = default;

bool HidrawBackend::Available() {
  return shared_->context != nullptr;
}

std::vector<HidInterfaceInfo> HidrawBackend::Enumerate() {
  std::vector<HidInterfaceInfo> list;
  std::lock_guard<std::mutex> lock(shared_->mutex);
  if (shared_->context == nullptr) return list;
  udev_enumerate* enumerate = udev_enumerate_new(shared_->context);
  if (enumerate == nullptr) return list;
  udev_enumerate_add_match_subsystem(enumerate, "hidraw");
  udev_enumerate_scan_devices(enumerate);
  std::set<std::string> seen;
  udev_list_entry* entry;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate)) {
    udev_device* node =
        udev_device_new_from_syspath(shared_->context, udev_list_entry_get_name(entry));
    if (node == nullptr) continue;
    const NodeInfo info = ReadNode(node);
    udev_device_unref(node);
    if (info.devnode.empty()) continue;
    auto [it, added] = shared_->instances.emplace(info.identity, shared_->next_instance);
    if (added) ++shared_->next_instance;
    seen.insert(info.identity);
    HidInterfaceInfo item;
    item.Identity = info.identity;
    item.Instance = it->second;
    item.Path = info.syspath;
    item.Location = info.location;
    item.SerialNumber = info.serial;
    item.Properties = Properties(info);
    list.push_back(std::move(item));
  }
  udev_enumerate_unref(enumerate);
  // A HID device's name is never given again, so what is gone can go.
  std::erase_if(shared_->instances, [&](const auto& kv) { return !seen.count(kv.first); });
  return list;
}

std::unique_ptr<IHidHandle> HidrawBackend::Open(const std::string& path, HidOpenMode mode) {
  NodeInfo info;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->context == nullptr) {
      Fail(ENOSYS);
      return nullptr;
    }
    udev_device* node = udev_device_new_from_syspath(shared_->context, path.c_str());
    if (node == nullptr) {
      Fail(ENODEV);
      return nullptr;
    }
    info = ReadNode(node);
    udev_device_unref(node);
  }
  if (info.devnode.empty()) {
    Fail(ENODEV);
    return nullptr;
  }
  // Linux has no query-only open: a query-only handle answers from what udev
  // and sysfs said.
  if (mode == HidOpenMode::QueryOnly)
    return std::make_unique<HidrawHandle>(std::move(info), mode, -1, -1);

  const int flags = mode == HidOpenMode::ReadWrite ? O_RDWR : (O_RDONLY | O_NONBLOCK);
  const int fd = ::open(info.devnode.c_str(), flags | O_CLOEXEC);
  if (fd < 0) {
    Fail(errno == ENOENT ? ENODEV : errno);
    return nullptr;
  }
  // The node name may already stand for another device.
  struct stat st {};
  if (::fstat(fd, &st) != 0 || st.st_rdev != info.devnum) {
    ::close(fd);
    Fail(ENODEV);
    return nullptr;
  }
  int wake_fd = -1;
  if (mode == HidOpenMode::ReadAsync) {
    wake_fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wake_fd < 0) {
      const int error = errno;
      ::close(fd);
      Fail(error);
      return nullptr;
    }
  }
  return std::make_unique<HidrawHandle>(std::move(info), mode, fd, wake_fd);
}

std::unique_ptr<IWatch> HidrawBackend::WatchChanges(IEventLoop& loop,
                                                    std::function<void()> on_change) {
  udev_monitor* monitor = nullptr;
  int fd = -1;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->context == nullptr) return std::make_unique<NoWatch>();
    // Without a running udev daemon nothing applies rules, and only the
    // kernel's own events come.
    const bool udevd = ::access("/run/udev/control", F_OK) == 0;
    monitor = udev_monitor_new_from_netlink(shared_->context, udevd ? "udev" : "kernel");
    if (monitor == nullptr) return std::make_unique<NoWatch>();
    udev_monitor_filter_add_match_subsystem_devtype(monitor, "hidraw", nullptr);
    if (udev_monitor_enable_receiving(monitor) < 0) {
      udev_monitor_unref(monitor);
      return std::make_unique<NoWatch>();
    }
    fd = udev_monitor_get_fd(monitor);
  }
  auto watch = std::make_unique<MonitorWatch>(shared_, monitor);
  std::weak_ptr<Shared> weak = shared_;
  watch->Watch(loop.WatchFd(fd, [weak, monitor, on_change = std::move(on_change)] {
    auto shared = weak.lock();
    if (!shared) return;
    bool changed = false;
    {
      std::lock_guard<std::mutex> lock(shared->mutex);
      // Drain every queued event: one scan answers them all.
      while (udev_device* device = udev_monitor_receive_device(monitor)) {
        const std::string action = Text(udev_device_get_action(device));
        if (action == "add" || action == "remove") changed = true;
        udev_device_unref(device);
      }
    }
    if (changed) on_change();
  }));
  return watch;
}

std::uint32_t HidrawBackend::LastError() {
  return t_last_error;
}

std::string HidrawBackend::ErrorMessage(std::uint32_t code) {
  return std::generic_category().message(static_cast<int>(code));
}

}  // namespace mvx
