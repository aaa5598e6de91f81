// The read thread and the synchronized delivery: reports reach the data
// handler on the GUI thread in order, padded, once each, and stopping a thread
// whose delivery is waiting neither deadlocks nor loses nor repeats a report.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/sim/sim_backend.h"
#include "hid_test_support.h"

namespace mvx {
namespace {

using testing::ControllerHarness;
using ::testing::Each;
using ::testing::ElementsAre;

// A message loop that runs posted calls only when told to, so a test can hold
// a read thread inside its delivery.
class ManualLoop : public IEventLoop {
 public:
  std::unique_ptr<ITimerSource> CreateTimer(std::function<void()>) override {
    struct NoTimer : ITimerSource {
      void Start(unsigned) override {}
      void Stop() override {}
    };
    return std::make_unique<NoTimer>();
  }
  std::unique_ptr<IWatch> WatchFd(int, std::function<void()>) override {
    return std::make_unique<IWatch>();
  }
  void Post(std::function<void()> call) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.push_back(std::move(call));
    }
    cv_.notify_all();
  }
  // Waits in real time until at least n calls are queued.
  bool WaitPosted(std::size_t n, int limit_ms = 5000) {
    std::unique_lock<std::mutex> lock(mutex_);
    return cv_.wait_for(lock, std::chrono::milliseconds(limit_ms),
                        [&] { return posted_.size() >= n; });
  }
  std::size_t Posted() {
    std::lock_guard<std::mutex> lock(mutex_);
    return posted_.size();
  }
  void RunPending() {
    while (true) {
      std::function<void()> call;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (posted_.empty()) return;
        call = std::move(posted_.front());
        posted_.pop_front();
      }
      call();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> posted_;
};

void WaitReader(SimBackend& backend, int id) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (backend.PendingReads(id) == 0 && std::chrono::steady_clock::now() < end)
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_GT(backend.PendingReads(id), 0);
}

std::vector<std::uint8_t> Numbered(std::uint32_t n) {
  return {0x00, 'N', static_cast<std::uint8_t>(n), static_cast<std::uint8_t>(n >> 8)};
}

std::uint32_t NumberOf(const std::vector<std::uint8_t>& data) {
  return data.at(1) | (static_cast<std::uint32_t>(data.at(2)) << 8);
}

TEST(HidDeliveryTest, ReportsArriveWithIdFirstAndPaddedToTheInputLength) {
  ControllerHarness h;
  SimDeviceConfig config;
  config.InputReportByteLength = 65;
  config.OutputReportByteLength = 65;
  const int id = h.backend.Plug(config, nullptr);
  h.Start();
  THidDevice* d = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, d));
  ASSERT_TRUE(h.WaitReader(id));

  const std::uint8_t short_report[] = {0x00, 'O', 'K'};
  const std::uint8_t numbered[] = {0x02, 0xAA};
  std::vector<std::uint8_t> full(65, 0);  // a whole report padded by the device
  full[1] = 'N';
  full[2] = 'G';
  for (const auto& [data, size] : {std::pair<const std::uint8_t*, std::size_t>{short_report, 3},
                                   {numbered, 2},
                                   {full.data(), full.size()}})
    h.backend.SendInput(id, data, size);
  ASSERT_TRUE(h.PumpUntil([&] { return h.deliveries.size() == 3; }));

  for (const auto& delivery : h.deliveries) {
    EXPECT_EQ(delivery.device, d);
    EXPECT_EQ(delivery.data.size(), 64u);
  }
  EXPECT_EQ(h.deliveries[0].report_id, 0);
  EXPECT_THAT(
      std::vector<std::uint8_t>(h.deliveries[0].data.begin(), h.deliveries[0].data.begin() + 3),
      ElementsAre('O', 'K', 0));
  EXPECT_THAT(
      std::vector<std::uint8_t>(h.deliveries[0].data.begin() + 2, h.deliveries[0].data.end()),
      Each(0));
  EXPECT_EQ(h.deliveries[1].report_id, 2);
  EXPECT_EQ(h.deliveries[1].data[0], 0xAA);
  EXPECT_EQ(h.deliveries[2].data[0], 'N');
  EXPECT_EQ(h.deliveries[2].data[1], 'G');
  h.controller->Release(d);
}

// A device that answers every command with the command's first byte
// incremented, as the Merovox device answers one line per line.
class AnsweringModel : public ISimDeviceModel {
 public:
  explicit AnsweringModel(SimBackend& backend) : backend_(backend) {}
  void OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) override {
    std::vector<std::uint8_t> answer(data, data + length);
    ++answer[1];
    backend_.SendInput(device_id, answer.data(), answer.size());
  }

 private:
  SimBackend& backend_;
};

TEST(HidDeliveryTest, AnAnswerToAWriteIsDeliveredOnTheGuiThread) {
  ControllerHarness h;
  AnsweringModel model(h.backend);
  h.backend.Plug(SimDeviceConfig{}, &model);
  h.Start();
  THidDevice* d = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, d));
  const auto gui = std::this_thread::get_id();
  std::thread::id handler_thread;
  h.controller->SetOnDeviceData(
      [&](THidDevice*, std::uint8_t, const std::uint8_t* data, std::uint16_t size) {
        handler_thread = std::this_thread::get_id();
        h.deliveries.push_back({d, 0, std::vector<std::uint8_t>(data, data + size)});
      });
  std::vector<std::uint8_t> command(1025, 0);
  std::size_t written = 0;
  for (std::uint8_t c : {'A', 'X'}) {
    command[1] = c;
    ASSERT_TRUE(d->WriteReport(command.data(), command.size(), written));
  }
  ASSERT_TRUE(h.PumpUntil([&] { return h.deliveries.size() == 2; }));
  EXPECT_EQ(handler_thread, gui);
  EXPECT_EQ(h.deliveries[0].data[0], 'B');
  EXPECT_EQ(h.deliveries[1].data[0], 'Y');
  h.controller->Release(d);
}

TEST(HidDeliveryTest, AnUnpluggedClaimedDeviceReportsOneReadErrorPerSliceUntilReleased) {
  ControllerHarness h;
  const int id = h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* d = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, d));
  constexpr int kSlice = 20;
  d->SetWaitSlice(kSlice);
  h.PumpFor(50);
  EXPECT_TRUE(h.read_errors.empty());  // a healthy device waits quietly

  const auto start = std::chrono::steady_clock::now();
  h.backend.Unplug(id);
  h.PumpFor(400);
  const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                           std::chrono::steady_clock::now() - start)
                           .count();
  const auto errors = static_cast<long>(h.read_errors.size());
  EXPECT_GE(errors, 2);
  EXPECT_LE(errors, elapsed / kSlice + 1);  // never more than one per slice
  // The device's own error until the scan marks it unplugged, an invalid
  // handle's after.
  EXPECT_THAT(h.read_errors, Each(::testing::Ne(0u)));

  h.controller->Release(d);
  const std::size_t after_release = h.read_errors.size();
  h.PumpFor(3 * kSlice);
  EXPECT_EQ(h.read_errors.size(), after_release);
  EXPECT_EQ(h.controller->Count(), 0);
}

// Stopping the read thread while its delivery waits for the GUI thread: the
// stop serves the waiting delivery (the handler still set), the thread ends,
// and the wake-up that was posted for the delivery finds nothing more to do.
struct StopCase {
  const char* name;
  bool release;  // Release instead of clearing the data handler
};

class StopWhileDeliveryWaits : public ::testing::TestWithParam<StopCase> {};

TEST_P(StopWhileDeliveryWaits, ServesItOnceAndLosesNothing) {
  ManualLoop loop;
  SimBackend backend(loop);
  const int id = backend.Plug(SimDeviceConfig{}, nullptr);
  THidDeviceController controller(loop, backend);
  std::vector<std::uint32_t> seen;
  THidDataEvent record = [&](THidDevice*, std::uint8_t, const std::uint8_t* data,
                             std::uint16_t size) {
    seen.push_back(NumberOf(std::vector<std::uint8_t>(data, data + size)));
  };
  controller.SetOnDeviceData(record);
  loop.RunPending();
  THidDevice* d = nullptr;
  ASSERT_TRUE(controller.ClaimByIds(0x5E3A, 0x0051, d));
  ASSERT_TRUE(d->HasReadThread());
  WaitReader(backend, id);

  for (std::uint32_t n = 1; n <= 3; ++n) {
    const auto report = Numbered(n);
    backend.SendInput(id, report.data(), report.size());
  }
  ASSERT_TRUE(loop.WaitPosted(1));  // the thread now waits inside its delivery
  EXPECT_TRUE(seen.empty());

  if (GetParam().release) {
    controller.Release(d);
    EXPECT_EQ(d, nullptr);
  } else {
    d->SetDataHandler(nullptr);
    EXPECT_FALSE(d->HasReadThread());
    EXPECT_FALSE(d->DataHandler());
  }
  EXPECT_THAT(seen, ElementsAre(1u));
  loop.RunPending();
  EXPECT_THAT(seen, ElementsAre(1u));

  if (GetParam().release) {
    // The released device's unread reports went with its handles.
    ASSERT_TRUE(controller.ClaimByIds(0x5E3A, 0x0051, d));
    WaitReader(backend, id);
    const auto report = Numbered(4);
    backend.SendInput(id, report.data(), report.size());
  } else {
    d->SetDataHandler(record);
  }
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (seen.size() < (GetParam().release ? 2u : 3u) && std::chrono::steady_clock::now() < end)
    loop.RunPending();
  if (GetParam().release)
    EXPECT_THAT(seen, ElementsAre(1u, 4u));
  else
    EXPECT_THAT(seen, ElementsAre(1u, 2u, 3u));
  controller.Release(d);
  EXPECT_FALSE(backend.InFlight());
}

INSTANTIATE_TEST_SUITE_P(HidDeliveryTest, StopWhileDeliveryWaits,
                         ::testing::Values(StopCase{"ClearHandler", false},
                                           StopCase{"Release", true}),
                         [](const auto& param_info) { return std::string(param_info.param.name); });

// Many reports while the handler is switched off and on again and again: the
// reports come in order, none twice, and only a read that completes at the
// very moment its thread is stopped may be dropped (one per stop at most).
TEST(HidDeliveryTest, RestartingTheThreadUnderLoadKeepsOrderWithoutRepeats) {
  ControllerHarness h;
  const int id = h.backend.Plug(SimDeviceConfig{}, nullptr);
  h.Start();
  THidDevice* d = nullptr;
  ASSERT_TRUE(h.controller->ClaimByIds(0x5E3A, 0x0051, d));
  const THidDataEvent handler = d->DataHandler();
  ASSERT_TRUE(h.WaitReader(id));

  constexpr std::uint32_t kReports = 600;
  std::thread device([&] {
    for (std::uint32_t n = 0; n < kReports; ++n) {
      const auto report = Numbered(n);
      h.backend.SendInput(id, report.data(), report.size());
      if (n % 50 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  int stops = 0;
  std::size_t next_stop = 40;
  const bool all = h.PumpUntil(
      [&] {
        if (h.deliveries.size() >= next_stop) {
          d->SetDataHandler(nullptr);
          ++stops;
          d->SetDataHandler(handler);
          next_stop += 40;
        }
        return !h.deliveries.empty() && NumberOf(h.deliveries.back().data) == kReports - 1;
      },
      20000);
  device.join();
  EXPECT_TRUE(all);
  // How many restarts fall into the run depends on how the loop batches the
  // deliveries on a loaded machine; a few are enough for the checks below.
  EXPECT_GE(stops, 2);

  std::vector<std::uint32_t> numbers;
  for (const auto& delivery : h.deliveries) numbers.push_back(NumberOf(delivery.data));
  EXPECT_TRUE(std::adjacent_find(numbers.begin(), numbers.end(),
                                 [](auto a, auto b) { return b <= a; }) == numbers.end());
  EXPECT_GE(numbers.size() + static_cast<std::size_t>(stops), kReports);
  h.controller->Release(d);
}

// A backend whose read handles break: the first wait on a read throws, as a
// driver or a backend fault would, while the read is still outstanding.
class BreakingReads : public IHidBackend {
 public:
  explicit BreakingReads(IHidBackend& real) : real_(real) {}
  std::atomic<int> cancels{0};

  bool Available() override { return real_.Available(); }
  std::vector<HidInterfaceInfo> Enumerate() override { return real_.Enumerate(); }
  std::unique_ptr<IHidHandle> Open(const std::string& path, HidOpenMode mode) override {
    auto handle = real_.Open(path, mode);
    if (!handle || mode != HidOpenMode::ReadAsync) return handle;
    return std::make_unique<Handle>(std::move(handle), cancels);
  }
  std::unique_ptr<IWatch> WatchChanges(IEventLoop& loop, std::function<void()> on_change) override {
    return real_.WatchChanges(loop, std::move(on_change));
  }
  std::uint32_t LastError() override { return real_.LastError(); }
  std::string ErrorMessage(std::uint32_t code) override { return real_.ErrorMessage(code); }

 private:
  struct Handle : IHidHandle {
    Handle(std::unique_ptr<IHidHandle> inner, std::atomic<int>& cancels)
        : inner_(std::move(inner)), cancels_(cancels) {}
    bool GetAttributes(HidAttributes& a) override { return inner_->GetAttributes(a); }
    bool GetCaps(HidCaps& caps) override { return inner_->GetCaps(caps); }
    bool GetProductString(std::u16string& t, std::size_t n) override {
      return inner_->GetProductString(t, n);
    }
    bool Write(const std::uint8_t* d, std::size_t n, std::size_t& w) override {
      return inner_->Write(d, n, w);
    }
    bool BeginRead(std::uint8_t* b, std::size_t n) override { return inner_->BeginRead(b, n); }
    bool WaitRead(unsigned) override { throw std::runtime_error("the read handle broke"); }
    std::size_t FinishRead() override { return inner_->FinishRead(); }
    bool CancelRead() override {
      ++cancels_;
      return inner_->CancelRead();
    }
    void Interrupt() override { inner_->Interrupt(); }
    std::unique_ptr<IHidHandle> inner_;
    std::atomic<int>& cancels_;
  };
  IHidBackend& real_;
};

TEST(HidDeliveryTest, AReadThreadThatDiesCancelsItsReadAndSaysSoOnce) {
  VirtualLoop loop;
  SimBackend sim(loop);
  BreakingReads backend(sim);
  sim.Plug(SimDeviceConfig{}, nullptr);
  THidDeviceController controller(loop, backend);
  std::vector<std::uint32_t> errors;
  controller.SetOnDeviceDataError([&](THidDevice*, std::uint32_t code) { errors.push_back(code); });
  controller.SetOnDeviceData([](THidDevice*, std::uint8_t, const std::uint8_t*, std::uint16_t) {});
  loop.RunPending();
  THidDevice* d = nullptr;
  ASSERT_TRUE(controller.ClaimByIds(0x5E3A, 0x0051, d));
  d->SetWaitSlice(10);

  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
  while (errors.empty() && std::chrono::steady_clock::now() < end) {
    loop.RunPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  for (int i = 0; i < 50; ++i) {  // a thread that went on would fail again
    loop.RunPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_THAT(errors, ElementsAre(kReadThreadFailed));
  EXPECT_EQ(d->ReadFailure(), "the read handle broke");
  EXPECT_EQ(backend.cancels.load(), 1);
  controller.Release(d);
  EXPECT_EQ(controller.Count(), 1);
}

}  // namespace
}  // namespace mvx
