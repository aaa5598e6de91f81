// The backend's device handles on a named pipe, which takes the same
// CreateFile, WriteFile and ReadFileEx calls as a HID interface: overlapped
// reads with their completion, interruption and cancellation, and the core's
// read thread on top of them.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/windows/win_hid_backend.h"
#include "tests/windows/win_test_support.h"

namespace mvx {
namespace {

using wintest::PipeServer;
using wintest::Report;
using Clock = std::chrono::steady_clock;

// Far more than any wake-up takes: a wait that lasts this long was not woken.
constexpr unsigned kLongSliceMs = 10000;
constexpr auto kWokenWithin = std::chrono::seconds(5);

// Waits in slices, as the read thread does, for at most five seconds.
bool Completes(IHidHandle& handle) {
  for (int i = 0; i < 50; ++i)
    if (handle.WaitRead(100)) return true;
  return false;
}

class WinHandleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Valid());
    ASSERT_TRUE(backend_.Available());
  }
  std::unique_ptr<IHidHandle> Open(HidOpenMode mode) {
    auto handle = backend_.Open(server_.Name(), mode);
    EXPECT_NE(handle, nullptr) << backend_.ErrorMessage(backend_.LastError());
    return handle;
  }

  PipeServer server_;
  WinHidBackend backend_;
};

TEST_F(WinHandleTest, WritesOneReportSynchronously) {
  auto handle = Open(HidOpenMode::ReadWrite);
  ASSERT_NE(handle, nullptr);
  const auto report = Report("VER", 65);
  std::size_t written = 0;
  ASSERT_TRUE(handle->Write(report.data(), report.size(), written));
  EXPECT_EQ(written, 65u);
  EXPECT_EQ(server_.Receive(), report);
}

TEST_F(WinHandleTest, HidQueriesOnAnotherKindOfFileFailWithTheSystemsError) {
  auto handle = Open(HidOpenMode::QueryOnly);
  ASSERT_NE(handle, nullptr);
  HidAttributes attributes;
  EXPECT_FALSE(handle->GetAttributes(attributes));
  EXPECT_NE(backend_.LastError(), 0u);
  HidCaps caps;
  caps.InputReportByteLength = 99;
  EXPECT_FALSE(handle->GetCaps(caps));
  EXPECT_EQ(caps.InputReportByteLength, 0);
  std::u16string text = u"old";
  EXPECT_FALSE(handle->GetProductString(text, 254));
  EXPECT_TRUE(text.empty());
}

TEST_F(WinHandleTest, OpeningAMissingPathReportsTheSystemsError) {
  EXPECT_EQ(backend_.Open("\\\\?\\hid#vid_0f0f&pid_ffff#missing", HidOpenMode::ReadWrite), nullptr);
  const std::uint32_t code = backend_.LastError();
  EXPECT_NE(code, 0u);
  EXPECT_FALSE(backend_.ErrorMessage(code).empty());
}

TEST_F(WinHandleTest, AReadCompletesWithTheReportAndItsLength) {
  auto handle = Open(HidOpenMode::ReadAsync);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> buffer(65, 0xEE);
  ASSERT_TRUE(handle->BeginRead(buffer.data(), buffer.size()));
  EXPECT_FALSE(handle->WaitRead(10));  // nothing sent yet
  EXPECT_EQ(handle->FinishRead(), 0u);
  const auto report = Report("OK\n", 65);
  ASSERT_TRUE(server_.Send(report));
  ASSERT_TRUE(Completes(*handle));
  EXPECT_EQ(handle->FinishRead(), 65u);
  EXPECT_EQ(buffer, report);

  // The next read starts afresh.
  ASSERT_TRUE(handle->BeginRead(buffer.data(), buffer.size()));
  ASSERT_TRUE(server_.Send(Report("NG\n", 65)));
  ASSERT_TRUE(Completes(*handle));
  EXPECT_EQ(handle->FinishRead(), 65u);
  EXPECT_EQ(buffer[1], 'N');
}

TEST_F(WinHandleTest, InterruptWakesAWaitFromAnotherThread) {
  auto handle = Open(HidOpenMode::ReadAsync);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> buffer(65);
  ASSERT_TRUE(handle->BeginRead(buffer.data(), buffer.size()));
  std::thread gui([&] {
    Sleep(50);
    handle->Interrupt();
  });
  const auto start = Clock::now();
  EXPECT_FALSE(handle->WaitRead(kLongSliceMs));
  EXPECT_LT(Clock::now() - start, kWokenWithin);
  gui.join();

  // An interrupt that comes before the wait is not lost.
  handle->Interrupt();
  const auto again = Clock::now();
  EXPECT_FALSE(handle->WaitRead(kLongSliceMs));
  EXPECT_LT(Clock::now() - again, kWokenWithin);
  EXPECT_TRUE(handle->CancelRead());
}

TEST_F(WinHandleTest, ACancelledReadIsOverAndTheNextOneWorks) {
  auto handle = Open(HidOpenMode::ReadAsync);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> buffer(65);
  ASSERT_TRUE(handle->BeginRead(buffer.data(), buffer.size()));
  EXPECT_TRUE(handle->CancelRead());
  EXPECT_EQ(handle->FinishRead(), 0u);
  // A read still pending would refuse a new one.
  ASSERT_TRUE(handle->BeginRead(buffer.data(), buffer.size()));
  ASSERT_TRUE(server_.Send(Report("OK", 65)));
  ASSERT_TRUE(Completes(*handle));
  EXPECT_EQ(handle->FinishRead(), 65u);
}

TEST_F(WinHandleTest, AHandleClosedElsewhereMidReadLeavesTheCompletionSafe) {
  auto handle = Open(HidOpenMode::ReadAsync);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> buffer(65);
  ASSERT_TRUE(handle->BeginRead(buffer.data(), buffer.size()));
  // The GUI thread drops the handle of an unplugged device while this
  // thread's read is pending.
  std::thread gui([&] { handle.reset(); });
  gui.join();
  // The read ends with the handle; its completion routine runs on this
  // thread's next alertable wait, on memory that is still there.
  EXPECT_EQ(SleepEx(5000, TRUE), static_cast<DWORD>(WAIT_IO_COMPLETION));
}

TEST_F(WinHandleTest, AGoneDeviceEndsThePendingReadWithNothingAndRefusesTheNext) {
  auto handle = Open(HidOpenMode::ReadAsync);
  ASSERT_NE(handle, nullptr);
  std::vector<std::uint8_t> buffer(65);
  ASSERT_TRUE(handle->BeginRead(buffer.data(), buffer.size()));
  server_.Disconnect();
  ASSERT_TRUE(Completes(*handle));
  EXPECT_EQ(handle->FinishRead(), 0u);
  EXPECT_FALSE(handle->BeginRead(buffer.data(), buffer.size()));
  EXPECT_NE(backend_.LastError(), 0u);
}

// ---- The core's device and read thread over the Windows handles ------------

// Lists one interface whose reads go through the Windows backend to the
// pipe; identity, capabilities and writes are answered by a stand-in, since a pipe
// knows no HID requests.
class PipeDeviceBackend : public IHidBackend {
 public:
  PipeDeviceBackend(WinHidBackend& windows, std::string path)
      : windows_(windows), path_(std::move(path)) {}

  bool Available() override { return windows_.Available(); }
  std::vector<HidInterfaceInfo> Enumerate() override {
    HidInterfaceInfo info;
    info.Identity = "1";
    info.Instance = 1;
    info.Path = path_;
    return {info};
  }
  std::unique_ptr<IHidHandle> Open(const std::string& path, HidOpenMode mode) override {
    if (mode == HidOpenMode::ReadAsync) return windows_.Open(path, mode);
    return std::make_unique<wintest::AnswerHandle>();
  }
  std::unique_ptr<IWatch> WatchChanges(IEventLoop& loop, std::function<void()> f) override {
    return windows_.WatchChanges(loop, std::move(f));
  }
  std::uint32_t LastError() override { return windows_.LastError(); }
  std::string ErrorMessage(std::uint32_t code) override { return windows_.ErrorMessage(code); }

 private:
  WinHidBackend& windows_;
  std::string path_;
};

class WinReadThreadTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(server_.Valid());
    controller_.Loading = true;
    controller_.SetOnDeviceData(
        [this](THidDevice*, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
          reports_.push_back({id, std::string(reinterpret_cast<const char*>(data), size)});
        });
    controller_.SetOnDeviceDataError(
        [this](THidDevice*, std::uint32_t code) { errors_.push_back(code); });
    controller_.Loading = false;
    ASSERT_TRUE(wintest::PumpUntil(loop_, [&] { return controller_.Count() == 1; }));
    ASSERT_TRUE(controller_.ClaimByIds(0x0F0F, 0x0001, device_));
    ASSERT_TRUE(device_->HasReadThread());
  }
  void TearDown() override { controller_.Release(device_); }

  struct Received {
    std::uint8_t id;
    std::string data;
  };

  PipeServer server_;
  WinHidBackend windows_;
  PipeDeviceBackend backend_{windows_, server_.Name()};
  VirtualLoop loop_;
  THidDeviceController controller_{loop_, backend_};
  THidDevice* device_ = nullptr;
  std::vector<Received> reports_;
  std::vector<std::uint32_t> errors_;
};

TEST_F(WinReadThreadTest, DeliversEachReportOnTheGuiThreadWithoutItsId) {
  ASSERT_TRUE(server_.Send(Report("OK\n", 65)));
  ASSERT_TRUE(server_.Send(Report("NG\n", 65)));
  ASSERT_TRUE(wintest::PumpUntil(loop_, [&] { return reports_.size() == 2; }));
  EXPECT_EQ(reports_[0].id, 0);
  EXPECT_EQ(reports_[0].data.size(), 64u);
  EXPECT_EQ(reports_[0].data.substr(0, 3), "OK\n");
  EXPECT_EQ(reports_[1].data.substr(0, 3), "NG\n");
  EXPECT_TRUE(errors_.empty());
}

TEST_F(WinReadThreadTest, ReleaseWakesAReadThreadInALongWait) {
  device_->SetWaitSlice(static_cast<int>(kLongSliceMs));
  Sleep(300);  // the thread's current slice of 100 ms is over: it is in the long one
  const auto start = Clock::now();
  controller_.Release(device_);
  EXPECT_LT(Clock::now() - start, kWokenWithin);
  EXPECT_EQ(device_, nullptr);
  ASSERT_EQ(controller_.Count(), 1);
  EXPECT_FALSE(controller_.Device(0)->HasReadThread());
  EXPECT_FALSE(controller_.Device(0)->Claimed());
}

TEST_F(WinReadThreadTest, AGoneDeviceIsReportedWithTheSystemsErrorCode) {
  server_.Disconnect();
  ASSERT_TRUE(wintest::PumpUntil(loop_, [&] { return !errors_.empty(); }));
  EXPECT_EQ(errors_[0], static_cast<std::uint32_t>(ERROR_PIPE_NOT_CONNECTED));
  EXPECT_TRUE(reports_.empty());
}

}  // namespace
}  // namespace mvx
