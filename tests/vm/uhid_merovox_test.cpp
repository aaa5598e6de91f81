// The uhid adapter against a stand-in for the kernel: a sequenced-packet
// socket pair carries the same fixed-size events /dev/uhid does, so what the
// adapter creates, sends and answers can be read back on any machine. Each
// case runs twice: with the adapter on the kernel's end directly, and through
// the relay (a loopback TCP connection and the relay's pump in front of the
// kernel's end). The kernel itself is met in the VM test.
#include <arpa/inet.h>
#include <linux/uhid.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "emulator/merovox_device.h"
#include "emulator/scheduler.h"
#include "emulator/uhid/relay_frame.h"
#include "emulator/uhid/relay_pump.h"
#include "emulator/uhid/uhid_merovox.h"
#include "protocol/layouts.h"

namespace mvx::emu {
namespace {

using namespace std::chrono_literals;

// The kernel's end of the uhid node.
class FakeKernel {
 public:
  FakeKernel() {
    int fds[2];
    if (::socketpair(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0, fds) == 0) {
      kernel_ = fds[0];
      device_ = fds[1];
    }
  }
  ~FakeKernel() {
    if (kernel_ >= 0) ::close(kernel_);
  }
  // The adapter's end, handed over to it.
  int DeviceEnd() { return std::exchange(device_, -1); }

  // The next event of that type the adapter wrote, skipping others.
  std::unique_ptr<uhid_event> Next(std::uint32_t type, std::chrono::milliseconds limit = 3s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
      pollfd pfd{kernel_, POLLIN, 0};
      if (::poll(&pfd, 1, 20) <= 0) continue;
      auto ev = std::make_unique<uhid_event>();
      const ssize_t got = ::read(kernel_, ev.get(), sizeof *ev);
      if (got <= 0) return nullptr;
      if (ev->type == type) return ev;
    }
    return nullptr;
  }
  // Nothing of that type comes within the time given.
  bool Silent(std::uint32_t type, std::chrono::milliseconds limit) {
    return Next(type, limit) == nullptr;
  }

  void Send(std::uint32_t type) {
    uhid_event ev{};
    ev.type = type;
    Write(ev);
  }
  // An output report as hidraw passes it on: report ID 0, then the line.
  void Output(const std::string& line, std::size_t length = 1025) {
    auto ev = std::make_unique<uhid_event>();
    ev->type = UHID_OUTPUT;
    std::memcpy(ev->u.output.data + 1, line.data(), std::min(line.size(), length - 1));
    ev->u.output.size = static_cast<std::uint16_t>(length);
    ev->u.output.rtype = UHID_OUTPUT_REPORT;
    Write(*ev);
  }
  void Write(const uhid_event& ev) {
    ASSERT_EQ(::write(kernel_, &ev, sizeof ev), ssize_t(sizeof ev));
  }

 private:
  int kernel_ = -1;
  int device_ = -1;
};

std::string InputText(const uhid_event& ev) {
  const auto* data = reinterpret_cast<const char*>(ev.u.input2.data);
  return std::string(data, std::find(data, data + ev.u.input2.size, '\0'));
}

// The relay on loopback: one connection, pumped to node (taken over).
class LoopbackRelay {
 public:
  explicit LoopbackRelay(int node) {
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 1) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0)
      ADD_FAILURE() << "no loopback listener";
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this, node] {
      const int connection = ::accept(listener_, nullptr, nullptr);
      if (connection >= 0) {
        counts_ = PumpRelay(connection, node, stop_);
        ::close(connection);
      }
      ::close(node);
      ended_ = true;
    });
  }
  ~LoopbackRelay() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    thread_.join();
    ::close(listener_);
  }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  // Why the pump ended, once it has (waits up to limit).
  std::string End(std::chrono::milliseconds limit = 3s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!ended_ && std::chrono::steady_clock::now() < end) std::this_thread::sleep_for(5ms);
    return ended_ ? counts_.End : "still running";
  }

 private:
  int listener_ = -1;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::atomic<bool> ended_{false};
  RelayCounts counts_;
  std::thread thread_;
};

class UhidMerovoxTest : public ::testing::TestWithParam<bool> {
 protected:
  UhidMerovoxTest() {
    config.Identity.Product = "Merovox TV004";
    config.Timing.LatencyMs = 1;
    config.Timing.InstallMs = 10;
    config.Timing.RestartMs = 150;
  }
  void Start() {
    device = std::make_unique<MerovoxDevice>(config, scheduler);
    uhid = std::make_unique<UhidMerovox>(*device);
    if (!GetParam()) {
      uhid->Attach(kernel.DeviceEnd());
      return;
    }
    relay = std::make_unique<LoopbackRelay>(kernel.DeviceEnd());
    std::string error;
    std::unique_ptr<UhidChannel> channel = ConnectUhidRelay(relay->Address(), &error);
    ASSERT_NE(channel, nullptr) << error;
    uhid->Attach(std::move(channel));
  }
  // Set in and started by the kernel: ready for output reports.
  void SetInStarted() {
    uhid->SetIn();
    ASSERT_NE(kernel.Next(UHID_CREATE2), nullptr);
    kernel.Send(UHID_START);
    kernel.Send(UHID_OPEN);
  }

  DeviceConfig config;
  FakeKernel kernel;
  ThreadScheduler scheduler;
  std::unique_ptr<MerovoxDevice> device;
  std::unique_ptr<LoopbackRelay> relay;  // through the relay only
  std::unique_ptr<UhidMerovox> uhid;
};

INSTANTIATE_TEST_SUITE_P(DirectAndRelayed, UhidMerovoxTest, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& param) {
                           return param.param ? "Relayed" : "Direct";
                         });

TEST(VendorReportDescriptor, DeclaresBothReportsWithoutIds) {
  const std::vector<std::uint8_t> d = VendorReportDescriptor(1024, 1024);
  // Report Count 1024 before each main item, and no Report ID item anywhere.
  const std::vector<std::uint8_t> input = {0x96, 0x00, 0x04, 0x09, 0x01, 0x81, 0x02};
  const std::vector<std::uint8_t> output = {0x96, 0x00, 0x04, 0x09, 0x01, 0x91, 0x02};
  EXPECT_NE(std::search(d.begin(), d.end(), input.begin(), input.end()), d.end());
  EXPECT_NE(std::search(d.begin(), d.end(), output.begin(), output.end()), d.end());
  EXPECT_EQ(std::count(d.begin(), d.end(), 0x85), 0);
  EXPECT_EQ(d.front(), 0x06);  // a vendor-defined usage page
  EXPECT_EQ(d[2], 0xFF);
  EXPECT_EQ(d.back(), 0xC0);

  const std::vector<std::uint8_t> small = VendorReportDescriptor(64, 32);
  const std::vector<std::uint8_t> in64 = {0x96, 0x40, 0x00, 0x09, 0x01, 0x81, 0x02};
  const std::vector<std::uint8_t> out32 = {0x96, 0x20, 0x00, 0x09, 0x01, 0x91, 0x02};
  EXPECT_NE(std::search(small.begin(), small.end(), in64.begin(), in64.end()), small.end());
  EXPECT_NE(std::search(small.begin(), small.end(), out32.begin(), out32.end()), small.end());
}

TEST_P(UhidMerovoxTest, CreatesAUsbDeviceWithTheModelsIdentity) {
  Start();
  uhid->SetIn();
  const auto ev = kernel.Next(UHID_CREATE2);
  ASSERT_NE(ev, nullptr);
  const uhid_create2_req& req = ev->u.create2;
  EXPECT_EQ(req.bus, 0x03);
  EXPECT_EQ(req.vendor, 0x5E3Au);
  EXPECT_EQ(req.product, 0x0051u);
  EXPECT_STREQ(reinterpret_cast<const char*>(req.name), "Merovox TV004");
  const std::vector<std::uint8_t> expected = VendorReportDescriptor(1024, 1024);
  ASSERT_EQ(req.rd_size, expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), req.rd_data));
  EXPECT_TRUE(uhid->OnBus());

  // A second set-in while on the bus makes no second device.
  uhid->SetIn();
  EXPECT_TRUE(kernel.Silent(UHID_CREATE2, 100ms));
}

TEST_P(UhidMerovoxTest, AnswersOutputReportsWithInputReportsWithoutTheIdByte) {
  Start();
  SetInStarted();
  kernel.Output("VER");
  auto ev = kernel.Next(UHID_INPUT2);
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(ev->u.input2.size, 1024);
  EXPECT_EQ(InputText(*ev), "OK 201026\r\n");

  kernel.Output("KIND");
  ev = kernel.Next(UHID_INPUT2);
  ASSERT_NE(ev, nullptr);
  EXPECT_EQ(InputText(*ev), "OK TV004\r\n");
  EXPECT_EQ(device->Commands(), (std::vector<std::string>{"VER", "KIND"}));
  EXPECT_EQ(uhid->Counts().Outputs, 2u);
  EXPECT_EQ(uhid->Counts().Inputs, 2u);
}

TEST_P(UhidMerovoxTest, IgnoresOutputReportsOutsideTheKernelsStartAndStop) {
  Start();
  uhid->SetIn();
  ASSERT_NE(kernel.Next(UHID_CREATE2), nullptr);
  kernel.Output("VER");  // before the start
  EXPECT_TRUE(kernel.Silent(UHID_INPUT2, 150ms));
  kernel.Send(UHID_START);
  kernel.Send(UHID_STOP);
  kernel.Output("VER");  // after the stop
  EXPECT_TRUE(kernel.Silent(UHID_INPUT2, 150ms));
  EXPECT_TRUE(device->Commands().empty());

  kernel.Send(UHID_START);
  kernel.Output("VER");
  EXPECT_NE(kernel.Next(UHID_INPUT2), nullptr);
}

TEST_P(UhidMerovoxTest, RefusesFeatureReportRequestsAtOnce) {
  Start();
  SetInStarted();
  uhid_event get{};
  get.type = UHID_GET_REPORT;
  get.u.get_report.id = 41;
  kernel.Write(get);
  auto reply = kernel.Next(UHID_GET_REPORT_REPLY);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->u.get_report_reply.id, 41u);
  EXPECT_NE(reply->u.get_report_reply.err, 0);

  uhid_event set{};
  set.type = UHID_SET_REPORT;
  set.u.set_report.id = 42;
  kernel.Write(set);
  reply = kernel.Next(UHID_SET_REPORT_REPLY);
  ASSERT_NE(reply, nullptr);
  EXPECT_EQ(reply->u.set_report_reply.id, 42u);
  EXPECT_NE(reply->u.set_report_reply.err, 0);
}

TEST_P(UhidMerovoxTest, RestartDestroysTheDeviceAndCreatesItAgainWithTheNewVersion) {
  config.Identity.VersionAfterInstall = "201040";
  config.Files["fw040.tvu"] = StoredFile{"image", {}, {}};
  Start();
  // What the adapter tells of its own bus changes, and whether the device
  // was still on the bus then: each is told before the kernel hears of it.
  std::mutex mutex;
  std::vector<std::pair<bool, bool>> changes;
  uhid->OnBusChange = [&](bool on_bus) {
    const bool was_on_bus = uhid->OnBus();
    std::lock_guard<std::mutex> lock(mutex);
    changes.emplace_back(on_bus, was_on_bus);
  };
  SetInStarted();
  protocol::GcmdCommandPacket install;
  install.SubCommand = protocol::kGcmdInstall;
  install.FileName = "fw040.tvu";
  kernel.Output(install.Write());
  ASSERT_NE(kernel.Next(UHID_DESTROY), nullptr);
  EXPECT_FALSE(uhid->OnBus());
  // The kernel stops the old device; its late reports are not the new one's.
  kernel.Send(UHID_STOP);
  kernel.Output("VER");

  const auto created = kernel.Next(UHID_CREATE2);
  ASSERT_NE(created, nullptr);
  EXPECT_TRUE(uhid->OnBus());
  EXPECT_EQ(uhid->Counts().Creates, 2u);
  EXPECT_EQ(uhid->Counts().Destroys, 1u);
  kernel.Send(UHID_START);
  kernel.Output("VER");
  const auto answer = kernel.Next(UHID_INPUT2);
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(InputText(*answer), "OK 201040\r\n");
  EXPECT_EQ(device->CommandCount("VER"), 1);
  std::lock_guard<std::mutex> lock(mutex);
  EXPECT_EQ(changes, (std::vector<std::pair<bool, bool>>{{false, true}, {true, false}}));
}

TEST_P(UhidMerovoxTest, RemovalDropsAnswersOnTheirWayAndSetInCreatesAgain) {
  config.Timing.LatencyMs = 200;
  Start();
  // The operator's removal and setting in are no changes of the device's own.
  std::atomic<int> changes{0};
  uhid->OnBusChange = [&](bool) { ++changes; };
  SetInStarted();
  kernel.Output("VER");
  std::this_thread::sleep_for(20ms);
  uhid->Remove();
  ASSERT_NE(kernel.Next(UHID_DESTROY), nullptr);
  EXPECT_TRUE(kernel.Silent(UHID_INPUT2, 400ms));
  EXPECT_FALSE(uhid->OnBus());

  SetInStarted();
  kernel.Output("GSER");
  const auto answer = kernel.Next(UHID_INPUT2);
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(InputText(*answer), "OK PCB000000001 BAT000000001 TV0400001234\r\n");
  EXPECT_EQ(changes, 0);
}

class UhidRelayedTest : public UhidMerovoxTest {};
INSTANTIATE_TEST_SUITE_P(Relayed, UhidRelayedTest, ::testing::Values(true));

TEST_P(UhidRelayedTest, TheAdaptersEndClosingEndsTheRelaysPump) {
  Start();
  SetInStarted();
  uhid.reset();
  EXPECT_NE(kernel.Next(UHID_DESTROY), nullptr) << "the device leaves before the connection";
  EXPECT_EQ(relay->End(), "the connection closed");
}

TEST(RelayFrameReader, TakesFramesInAnyPiecesAndRefusesBadLengths) {
  auto framed = [](std::vector<std::uint8_t> body) {
    std::vector<std::uint8_t> out(kRelayHeaderSize);
    PutRelayHeader(out.data(), static_cast<std::uint32_t>(body.size()));
    out.insert(out.end(), body.begin(), body.end());
    return out;
  };
  std::vector<std::uint8_t> stream = framed({1, 2, 3});
  const std::vector<std::uint8_t> second = framed(std::vector<std::uint8_t>(4380, 7));
  stream.insert(stream.end(), second.begin(), second.end());
  for (const std::size_t piece : {std::size_t{1}, std::size_t{3}, std::size_t{5}, stream.size()}) {
    RelayFrameReader reader(4380);
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t at = 0; at < stream.size(); at += piece) {
      ASSERT_TRUE(reader.Feed(stream.data() + at, std::min(piece, stream.size() - at)));
      for (std::vector<std::uint8_t> f; reader.Next(f);) frames.push_back(f);
    }
    ASSERT_EQ(frames.size(), 2u) << "pieces of " << piece;
    EXPECT_EQ(frames[0], (std::vector<std::uint8_t>{1, 2, 3}));
    EXPECT_EQ(frames[1].size(), 4380u);
  }

  // A header beyond the limit or of nothing breaks the stream at once, before
  // any of its claimed bytes arrive; nothing after it is taken.
  for (const std::uint32_t bad : {0u, 4381u, 0xFFFFFFFFu}) {
    RelayFrameReader reader(4380);
    std::vector<std::uint8_t> bytes = framed({9});
    bytes.resize(bytes.size() + kRelayHeaderSize);
    PutRelayHeader(bytes.data() + bytes.size() - kRelayHeaderSize, bad);
    EXPECT_FALSE(reader.Feed(bytes.data(), bytes.size())) << bad;
    EXPECT_TRUE(reader.Broken());
    std::vector<std::uint8_t> f;
    EXPECT_FALSE(reader.Next(f));
    EXPECT_FALSE(reader.Feed(bytes.data(), kRelayHeaderSize + 1));
  }
}

TEST(UhidRelay, ABrokenStreamEndsThePumpAndReachesNoKernel) {
  int kernel_pair[2];
  int stream_pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_SEQPACKET, 0, kernel_pair), 0);
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, stream_pair), 0);
  std::uint8_t header[kRelayHeaderSize];
  PutRelayHeader(header, 1u << 20);
  ASSERT_EQ(::write(stream_pair[1], header, sizeof header), ssize_t(sizeof header));
  const std::atomic<bool> stop{false};
  const RelayCounts counts = PumpRelay(stream_pair[0], kernel_pair[0], stop);
  EXPECT_EQ(counts.End, "the connection sent a frame longer than an event");
  EXPECT_EQ(counts.ToKernel, 0u);
  pollfd pfd{kernel_pair[1], POLLIN, 0};
  EXPECT_EQ(::poll(&pfd, 1, 0), 0) << "nothing reached the kernel's end";
  for (const int fd : {kernel_pair[0], kernel_pair[1], stream_pair[0], stream_pair[1]}) ::close(fd);
}

TEST(UhidMerovoxOpen, ReportsANodeThatCannotBeOpened) {
  ThreadScheduler scheduler;
  MerovoxDevice device(DeviceConfig{}, scheduler);
  UhidMerovox uhid(device);
  std::string error;
  EXPECT_FALSE(uhid.Open("/nonexistent/uhid", &error));
  EXPECT_NE(error.find("/nonexistent/uhid"), std::string::npos);
  uhid.SetIn();
  EXPECT_FALSE(uhid.OnBus());

  error.clear();
  EXPECT_EQ(ConnectUhidRelay("127.0.0.1", &error), nullptr);
  EXPECT_NE(error.find("HOST:PORT"), std::string::npos) << error;
}

}  // namespace
}  // namespace mvx::emu
