#include "emulator/gadget/hidg_merovox.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include "base/hex.h"
#include "emulator/uhid/uhid_merovox.h"

namespace mvx::emu {

namespace fs = std::filesystem;

namespace {

// A configfs attribute takes its value in one write, opened as the shell's
// "echo value > attribute" opens it.
bool WriteAttribute(const std::string& path, std::string_view value, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0;
  if (ok) ok = ::write(fd, value.data(), value.size()) == static_cast<ssize_t>(value.size());
  const int saved = errno;
  if (fd >= 0) ::close(fd);
  if (!ok && error) *error = "cannot write " + path + ": " + std::strerror(saved);
  return ok;
}

std::string ReadAttribute(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

}  // namespace

HidgMerovox::HidgMerovox(MerovoxDevice& device) : device_(device) {
  device_.SetHost(MerovoxDevice::Host::OfCradle(
      [this](const std::uint8_t* report, std::size_t length) { SendInput(report, length); },
      [this] { Unbind(); }, [this] { Bind(); }, OnBusChange));
}

HidgMerovox::~HidgMerovox() {
  device_.SetHost({});
  Unbind();
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  CloseNode();
  TearDown();
}

bool HidgMerovox::Open(const std::string& configfs_root, const std::string& name,
                       const std::string& manufacturer, std::string udc, std::string* error) {
  const DeviceIdentity identity = device_.Identity();
  // f_hid has one report length for both directions; the report-ID byte is
  // not sent, as the device numbers no reports.
  const auto in = static_cast<std::uint16_t>(std::max<int>(identity.InputReportLength - 1, 1));
  const auto out = static_cast<std::uint16_t>(std::max<int>(identity.OutputReportLength - 1, 1));
  out_length_ = out;

  if (udc.empty()) {
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/sys/class/udc", ec)) {
      udc = entry.path().filename().string();
      break;
    }
    if (udc.empty()) {
      if (error) *error = "no USB device controller in /sys/class/udc";
      return false;
    }
  }
  udc_ = udc;

  gadget_ = configfs_root + "/usb_gadget/" + name;
  function_ = gadget_ + "/functions/hid.usb0";
  std::error_code ec;
  if (fs::exists(gadget_, ec)) {
    if (error) *error = gadget_ + " exists already";
    gadget_.clear();
    return false;
  }
  const std::string strings = gadget_ + "/strings/0x409";
  const std::string config = gadget_ + "/configs/c.1";
  if (::mkdir(gadget_.c_str(), 0755) != 0) {
    if (error) *error = "cannot make " + gadget_ + ": " + std::strerror(errno);
    gadget_.clear();
    return false;
  }
  // configfs makes the gadget's "strings", "functions" and "configs" itself.
  for (const std::string& dir : {strings, function_, config + "/strings/0x409"}) {
    fs::create_directories(dir, ec);
    if (ec) {
      if (error) *error = "cannot make " + dir + ": " + ec.message();
      TearDown();
      return false;
    }
  }
  const std::vector<std::uint8_t> descriptor = VendorReportDescriptor(in, out);
  const std::pair<std::string, std::string> attributes[] = {
      {gadget_ + "/idVendor", "0x" + HexWord(identity.VendorId, HexCase::Lower)},
      {gadget_ + "/idProduct", "0x" + HexWord(identity.ProductId, HexCase::Lower)},
      {gadget_ + "/bcdDevice", "0x0100"},
      {gadget_ + "/bcdUSB", "0x0200"},
      {strings + "/manufacturer", manufacturer},
      {strings + "/product", identity.Product},
      {strings + "/serialnumber", "0001"},
      {function_ + "/protocol", "0"},
      {function_ + "/subclass", "0"},
      {function_ + "/report_length", std::to_string(std::max(in, out))},
      {function_ + "/report_desc",
       std::string(reinterpret_cast<const char*>(descriptor.data()), descriptor.size())},
      {config + "/strings/0x409/configuration", "Merovox"},
      {config + "/MaxPower", "100"},
  };
  for (const auto& [path, value] : attributes) {
    if (!WriteAttribute(path, value, error)) {
      TearDown();
      return false;
    }
  }
  if (::symlink(function_.c_str(), (config + "/hid.usb0").c_str()) != 0) {
    if (error) *error = "cannot link the function into " + config + ": " + std::strerror(errno);
    TearDown();
    return false;
  }
  thread_ = std::thread([this] { Serve(); });
  return true;
}

void HidgMerovox::SetIn() {
  if (OnBus()) return;
  device_.Attached();
  Bind();
}

void HidgMerovox::Remove() {
  device_.Removed();
  Unbind();
}

bool HidgMerovox::OnBus() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return bound_;
}

HidgMerovox::Traffic HidgMerovox::Counts() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return traffic_;
}

void HidgMerovox::Bind() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (bound_ || gadget_.empty()) return;
    std::string error;
    if (!WriteAttribute(gadget_ + "/UDC", udc_, &error)) {
      Note(error);
      return;
    }
    bound_ = true;
    ++traffic_.Binds;
  }
  Note("bound to " + udc_);
}

// An empty name unbinds: the host sees the device unplugged.
void HidgMerovox::Unbind() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!bound_) return;
    bound_ = false;
    std::string error;
    if (!WriteAttribute(gadget_ + "/UDC", "\n", &error)) Note(error);
    ++traffic_.Unbinds;
  }
  Note("unbound");
}

void HidgMerovox::SendInput(const std::uint8_t* report, std::size_t length) {
  if (length < 2) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!bound_ || fd_ < 0) return;
  // The previous report must have gone to the host before the next is
  // taken; a host that never reads loses the report after a second.
  pollfd pfd{fd_, POLLOUT, 0};
  if (::poll(&pfd, 1, 1000) <= 0 || !(pfd.revents & POLLOUT)) {
    Note("input report dropped: the host does not read");
    return;
  }
  if (::write(fd_, report + 1, length - 1) == static_cast<ssize_t>(length - 1)) ++traffic_.Inputs;
}

// Only this thread opens and closes the node, so its poll never meets a
// descriptor closed under it.
void HidgMerovox::Serve() {
  std::vector<std::uint8_t> report(out_length_ + 1);
  while (!stopping_) {
    int fd;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!bound_ && fd_ >= 0) CloseNode();
      if (bound_ && fd_ < 0) OpenNode();
      fd = fd_;
    }
    if (fd < 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      continue;
    }
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 50) <= 0) continue;
    if (pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) {
      std::lock_guard<std::mutex> lock(mutex_);
      CloseNode();
      continue;
    }
    // The host's report without its ID byte; the model takes ID 0 first.
    std::fill(report.begin(), report.end(), std::uint8_t{0});
    const ssize_t got = ::read(fd, report.data() + 1, out_length_);
    if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (got <= 0) {
      std::lock_guard<std::mutex> lock(mutex_);
      CloseNode();
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!bound_) continue;
      ++traffic_.Outputs;
    }
    device_.Receive(report.data(), static_cast<std::size_t>(got) + 1);
  }
}

// The function's node is made when the gadget binds; its name comes from the
// character device number the function shows.
bool HidgMerovox::OpenNode() {
  const std::string number = ReadAttribute(function_ + "/dev");
  if (number.empty()) return false;
  std::string node;
  std::ifstream uevent("/sys/dev/char/" + number + "/uevent");
  for (std::string line; std::getline(uevent, line);)
    if (line.rfind("DEVNAME=", 0) == 0) node = "/dev/" + line.substr(8);
  if (node.empty()) return false;
  fd_ = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
  if (fd_ < 0) return false;
  Note("serving " + node);
  return true;
}

void HidgMerovox::CloseNode() {
  if (fd_ < 0) return;
  ::close(fd_);
  fd_ = -1;
}

void HidgMerovox::TearDown() {
  if (gadget_.empty()) return;
  const std::string config = gadget_ + "/configs/c.1";
  ::unlink((config + "/hid.usb0").c_str());
  for (const std::string& dir :
       {config + "/strings/0x409", config, function_, gadget_ + "/strings/0x409", gadget_})
    ::rmdir(dir.c_str());
  gadget_.clear();
}

void HidgMerovox::Note(std::string_view text) const {
  if (OnNote) OnNote(text);
}

}  // namespace mvx::emu
