// The hidraw backend against the kernel. With /dev/uhid (root) the test makes
// a virtual vendor-defined device and runs identity, writes, reads, interrupt
// and removal through it; otherwise it checks whatever hidraw devices are
// present; with neither it reports itself skipped.
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <optional>
#include <thread>
#include <vector>

#include "hid/hid_controller.h"
#include "hid/linux/hidraw_backend.h"
#include "hid/linux/hidraw_util.h"
#include "scripted/virtual_loop.h"

namespace mvx {
namespace {

using Clock = std::chrono::steady_clock;

// A loop that watches file descriptors with poll, for the udev monitor.
class PollLoop : public IEventLoop {
 public:
  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()>) override {
    struct NoTimer : ITimerSource {
      void Start(unsigned) override {}
      void Stop() override {}
    };
    return std::make_unique<NoTimer>();
  }
  void Post(std::function<void()> call) override { posted_.push_back(std::move(call)); }
  std::unique_ptr<IWatch> WatchFd(int fd, std::function<void()> on_ready) override {
    struct Watch : IWatch {
      Watch(PollLoop& loop, int fd) : loop_(loop), fd_(fd) {}
      ~Watch() override {
        std::erase_if(loop_.watches_, [&](const auto& w) { return w.first == fd_; });
      }
      PollLoop& loop_;
      int fd_;
    };
    watches_.emplace_back(fd, std::move(on_ready));
    return std::make_unique<Watch>(*this, fd);
  }
  // Serves the watches and posted calls for up to ms.
  void Pump(int ms) {
    std::vector<pollfd> fds;
    for (const auto& w : watches_) fds.push_back({w.first, POLLIN, 0});
    if (::poll(fds.data(), fds.size(), ms) > 0) {
      auto watches = watches_;
      for (std::size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents & POLLIN) watches[i].second();
    }
    while (!posted_.empty()) {
      auto call = std::move(posted_.front());
      posted_.pop_front();
      call();
    }
  }

 private:
  std::vector<std::pair<int, std::function<void()>>> watches_;
  std::deque<std::function<void()>> posted_;
};

// A vendor-defined device with 64-byte input and output reports and no
// report IDs, as the kernel's uhid makes it.
class UhidDevice {
 public:
  static std::unique_ptr<UhidDevice> Create(const char* name, std::uint16_t vendor,
                                            std::uint16_t product, const char* phys = "",
                                            const char* uniq = "") {
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0) return nullptr;
    auto device = std::unique_ptr<UhidDevice>(new UhidDevice(fd));
    static const std::uint8_t kDescriptor[] = {
        0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
        0x95, 0x40, 0x09, 0x01, 0x81, 0x02, 0x95, 0x40, 0x09, 0x01, 0x91, 0x02, 0xC0};
    uhid_event ev{};
    ev.type = UHID_CREATE2;
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.name), name, sizeof ev.u.create2.name - 1);
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.phys), phys, sizeof ev.u.create2.phys - 1);
    std::strncpy(reinterpret_cast<char*>(ev.u.create2.uniq), uniq, sizeof ev.u.create2.uniq - 1);
    ev.u.create2.rd_size = sizeof kDescriptor;
    ev.u.create2.bus = 0x03;  // BUS_USB
    ev.u.create2.vendor = vendor;
    ev.u.create2.product = product;
    ev.u.create2.version = 0x0100;
    std::memcpy(ev.u.create2.rd_data, kDescriptor, sizeof kDescriptor);
    if (!device->Send(ev)) return nullptr;
    return device;
  }
  ~UhidDevice() {
    Destroy();
    ::close(fd_);
  }

  bool SendInput(const std::vector<std::uint8_t>& data) {
    uhid_event ev{};
    ev.type = UHID_INPUT2;
    ev.u.input2.size = static_cast<std::uint16_t>(data.size());
    std::memcpy(ev.u.input2.data, data.data(), data.size());
    return Send(ev);
  }
  // The next output report the host wrote, skipping the other events.
  std::optional<std::vector<std::uint8_t>> NextOutput(int limit_ms) {
    const auto end = Clock::now() + std::chrono::milliseconds(limit_ms);
    while (Clock::now() < end) {
      pollfd pfd{fd_, POLLIN, 0};
      if (::poll(&pfd, 1, 50) <= 0) continue;
      uhid_event ev{};
      if (::read(fd_, &ev, sizeof ev) <= 0) return std::nullopt;
      if (ev.type == UHID_OUTPUT)
        return std::vector<std::uint8_t>(ev.u.output.data, ev.u.output.data + ev.u.output.size);
    }
    return std::nullopt;
  }
  void Destroy() {
    if (destroyed_) return;
    destroyed_ = true;
    uhid_event ev{};
    ev.type = UHID_DESTROY;
    Send(ev);
  }

 private:
  explicit UhidDevice(int fd) : fd_(fd) {}
  bool Send(const uhid_event& ev) {
    return ::write(fd_, &ev, sizeof ev) == static_cast<ssize_t>(sizeof ev);
  }
  int fd_;
  bool destroyed_ = false;
};

std::optional<HidInterfaceInfo> FindByName(HidrawBackend& backend, const std::string& name,
                                           int limit_ms) {
  const auto end = Clock::now() + std::chrono::milliseconds(limit_ms);
  do {
    for (const HidInterfaceInfo& info : backend.Enumerate())
      for (const HidProperty& p : info.Properties)
        if (p.Code == 0 && p.Text == name) return info;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (Clock::now() < end);
  return std::nullopt;
}

TEST(HidrawBackendTest, UnknownPathsFailAsNoDevice) {
  HidrawBackend backend;
  ASSERT_TRUE(backend.Available());
  for (auto mode : {HidOpenMode::QueryOnly, HidOpenMode::ReadWrite, HidOpenMode::ReadAsync}) {
    EXPECT_EQ(backend.Open("/sys/devices/virtual/no-such-hidraw", mode), nullptr);
    EXPECT_EQ(backend.LastError(), static_cast<std::uint32_t>(ENODEV));
  }
  EXPECT_EQ(backend.ErrorMessage(EACCES), "Permission denied");
}

// A uhid device has no USB device above it: its port is the physical path
// its maker gave, and its serial number the unique string.
TEST(HidrawIntegrationTest, UhidDeviceIsLocatedByItsPhysicalPath) {
  const std::string pid = std::to_string(::getpid());
  const std::string name = "mvxtvup uhid port " + pid, phys = "mvx-cradle-" + pid,
                    uniq = "SN" + pid;
  auto uhid = UhidDevice::Create(name.c_str(), 0x5E3A, 0x7E58, phys.c_str(), uniq.c_str());
  if (!uhid) GTEST_SKIP() << "/dev/uhid cannot be opened (needs root and the uhid module)";
  auto bare = UhidDevice::Create((name + " bare").c_str(), 0x5E3A, 0x7E59);
  ASSERT_NE(bare, nullptr);
  HidrawBackend backend;
  const auto found = FindByName(backend, name, 5000);
  ASSERT_TRUE(found.has_value()) << "the uhid device never showed up as a hidraw node";
  EXPECT_EQ(found->Location, phys);
  EXPECT_EQ(found->SerialNumber, uniq);
  const auto unnamed = FindByName(backend, name + " bare", 5000);
  ASSERT_TRUE(unnamed.has_value());
  EXPECT_EQ(unnamed->Location, "");
  EXPECT_EQ(unnamed->SerialNumber, "");
}

TEST(HidrawIntegrationTest, VirtualDeviceThroughUhid) {
  const std::string name = "mvxtvup uhid test " + std::to_string(::getpid());
  auto uhid = UhidDevice::Create(name.c_str(), 0x5E3A, 0x7E57);
  if (!uhid) GTEST_SKIP() << "/dev/uhid cannot be opened (needs root and the uhid module)";
  HidrawBackend backend;
  PollLoop loop;
  int changes = 0;
  auto watch = backend.WatchChanges(loop, [&] { ++changes; });

  const auto found = FindByName(backend, name, 5000);
  ASSERT_TRUE(found.has_value()) << "the uhid device never showed up as a hidraw node";
  const auto sysname = hidraw::ParseHidSysname(found->Identity);
  ASSERT_TRUE(sysname.has_value()) << found->Identity;
  EXPECT_EQ(sysname->VendorID, 0x5E3A);
  EXPECT_EQ(sysname->ProductID, 0x7E57);
  EXPECT_NE(found->Instance, 0u);
  const auto again = FindByName(backend, name, 0);
  ASSERT_TRUE(again.has_value());
  EXPECT_EQ(again->Instance, found->Instance);

  // Identity and report lengths without opening the node.
  auto query = backend.Open(found->Path, HidOpenMode::QueryOnly);
  ASSERT_NE(query, nullptr);
  HidAttributes attributes;
  ASSERT_TRUE(query->GetAttributes(attributes));
  EXPECT_EQ(attributes.VendorID, 0x5E3A);
  EXPECT_EQ(attributes.ProductID, 0x7E57);
  HidCaps caps;
  ASSERT_TRUE(query->GetCaps(caps));
  EXPECT_EQ(caps.InputReportByteLength, 65);
  EXPECT_EQ(caps.OutputReportByteLength, 65);
  EXPECT_EQ(caps.UsagePage, 0xFF00);
  std::u16string product;
  ASSERT_TRUE(query->GetProductString(product, 254));
  EXPECT_EQ(product, hidraw::Utf8ToUtf16(name));

  auto writer = backend.Open(found->Path, HidOpenMode::ReadWrite);
  auto reader = backend.Open(found->Path, HidOpenMode::ReadAsync);
  if (!writer || !reader)
    GTEST_SKIP() << "the hidraw node cannot be opened: "
                 << backend.ErrorMessage(backend.LastError());

  // A write goes out with the report ID first.
  std::vector<std::uint8_t> command(65, 0);
  command[1] = 'V';
  command[2] = 'E';
  command[3] = 'R';
  std::size_t written = 0;
  ASSERT_TRUE(writer->Write(command.data(), command.size(), written));
  EXPECT_EQ(written, 65u);
  const auto output = uhid->NextOutput(2000);
  ASSERT_TRUE(output.has_value());
  EXPECT_NE(std::search(output->begin(), output->end(), command.begin() + 1, command.begin() + 4),
            output->end());

  // An unnumbered input report arrives with ID 0 first, padded to 65 bytes.
  std::vector<std::uint8_t> buffer(65, 0xEE);
  ASSERT_TRUE(reader->BeginRead(buffer.data(), buffer.size()));
  ASSERT_TRUE(uhid->SendInput({'O', 'K'}));
  bool completed = false;
  for (int i = 0; i < 20 && !completed; ++i) completed = reader->WaitRead(100);
  ASSERT_TRUE(completed);
  EXPECT_EQ(reader->FinishRead(), 65u);
  EXPECT_EQ(buffer[0], 0);
  EXPECT_EQ(buffer[1], 'O');
  EXPECT_EQ(buffer[2], 'K');
  EXPECT_TRUE(std::all_of(buffer.begin() + 3, buffer.end(), [](auto b) { return b == 0; }));

  // Interrupt wakes a waiting read.
  ASSERT_TRUE(reader->BeginRead(buffer.data(), buffer.size()));
  std::atomic<bool> woke{false};
  const auto start = Clock::now();
  std::thread waiter([&] { woke = !reader->WaitRead(10000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  reader->Interrupt();
  waiter.join();
  EXPECT_TRUE(woke);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));

  // Removal ends the pending read with an error; later reads fail at once.
  uhid->Destroy();
  completed = false;
  for (int i = 0; i < 20 && !completed; ++i) completed = reader->WaitRead(100);
  ASSERT_TRUE(completed);
  EXPECT_EQ(reader->FinishRead(), 0u);
  EXPECT_FALSE(reader->BeginRead(buffer.data(), buffer.size()));
  EXPECT_FALSE(writer->Write(command.data(), command.size(), written));
  const auto end = Clock::now() + std::chrono::seconds(5);
  while (FindByName(backend, name, 0) && Clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_FALSE(FindByName(backend, name, 0).has_value());
  EXPECT_EQ(backend.Open(found->Path, HidOpenMode::QueryOnly), nullptr);

  // With a udev daemon running, the monitor told of the arrival and removal.
  if (::access("/run/udev/control", F_OK) == 0) {
    for (int i = 0; i < 20 && changes == 0; ++i) loop.Pump(100);
    EXPECT_GT(changes, 0);
  }
}

// The devices of the machine the test runs on: every hidraw node is listed
// and identified without being opened, and a node this user may not open is
// query-only.
TEST(HidrawIntegrationTest, PresentDevicesAreIdentifiedWithoutOpening) {
  HidrawBackend backend;
  const auto list = backend.Enumerate();
  if (list.empty()) GTEST_SKIP() << "no hidraw device present";
  for (const HidInterfaceInfo& info : list) {
    SCOPED_TRACE(info.Path);
    EXPECT_TRUE(hidraw::ParseHidSysname(info.Identity).has_value()) << info.Identity;
    auto query = backend.Open(info.Path, HidOpenMode::QueryOnly);
    ASSERT_NE(query, nullptr);
    HidAttributes attributes;
    EXPECT_TRUE(query->GetAttributes(attributes));
    auto rw = backend.Open(info.Path, HidOpenMode::ReadWrite);
    if (!rw) {
      const auto error = backend.LastError();
      EXPECT_TRUE(error == EACCES || error == EBUSY || error == EPERM) << error;
    }
  }
  VirtualLoop loop;
  THidDeviceController controller(loop, backend);
  std::vector<std::string> errors;
  controller.ErrorHandler = [&](const std::string& text) { errors.push_back(text); };
  loop.RunPending();
  EXPECT_THAT(errors, ::testing::IsEmpty());
  EXPECT_EQ(controller.Count(), static_cast<int>(list.size()));
}

}  // namespace
}  // namespace mvx
