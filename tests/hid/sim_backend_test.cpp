// The simulated backend on its own: what tests and the emulator rely on when
// they stand in for the OS.
#include "hid/sim/sim_backend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <thread>
#include <vector>

#include "scripted/virtual_loop.h"

namespace mvx {
namespace {

// Echoes every output report back as an input report with the first payload
// byte incremented.
class EchoModel : public ISimDeviceModel {
 public:
  explicit EchoModel(SimBackend& backend) : backend_(backend) {}
  void OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) override {
    seen.emplace_back(data, data + length);
    std::vector<std::uint8_t> answer(data, data + length);
    if (answer.size() > 1) ++answer[1];
    backend_.SendInput(device_id, answer.data(), answer.size());
  }
  std::vector<std::vector<std::uint8_t>> seen;

 private:
  SimBackend& backend_;
};

SimDeviceConfig SmallReports() {
  SimDeviceConfig config;
  config.InputReportByteLength = 9;
  config.OutputReportByteLength = 9;
  return config;
}

TEST(SimBackendTest, EnumeratesPresentDevicesWithFreshIdentities) {
  VirtualLoop loop;
  SimBackend backend(loop);
  const int a = backend.Plug(SimDeviceConfig{}, nullptr);
  const int b = backend.Plug(SimDeviceConfig{}, nullptr);
  const std::uint32_t instance_a = backend.InstanceOf(a);
  backend.Unplug(a);
  const int c = backend.Plug(SimDeviceConfig{}, nullptr);

  auto list = backend.Enumerate();
  ASSERT_EQ(list.size(), 2u);
  EXPECT_EQ(list[0].Instance, backend.InstanceOf(b));
  EXPECT_EQ(list[1].Instance, backend.InstanceOf(c));
  EXPECT_NE(list[0].Identity, list[1].Identity);
  EXPECT_NE(list[0].Path, list[1].Path);
  EXPECT_NE(instance_a, backend.InstanceOf(c));

  backend.SetAvailable(false);
  EXPECT_FALSE(backend.Available());
  EXPECT_TRUE(backend.Enumerate().empty());
}

TEST(SimBackendTest, OpenModesAndErrors) {
  VirtualLoop loop;
  SimBackend backend(loop);
  SimDeviceConfig exclusive;
  exclusive.Exclusive = true;
  SimDeviceConfig failing;
  failing.FailOpen = true;
  SimDeviceConfig unidentified;
  unidentified.FailIdentify = true;
  const int ex = backend.Plug(exclusive, nullptr);
  const int fo = backend.Plug(failing, nullptr);
  const int fi = backend.Plug(unidentified, nullptr);

  EXPECT_EQ(backend.Open(backend.PathOf(ex), HidOpenMode::ReadWrite), nullptr);
  EXPECT_EQ(backend.LastError(), static_cast<std::uint32_t>(EACCES));
  EXPECT_EQ(backend.Open(backend.PathOf(ex), HidOpenMode::ReadAsync), nullptr);
  auto query = backend.Open(backend.PathOf(ex), HidOpenMode::QueryOnly);
  ASSERT_NE(query, nullptr);
  HidAttributes attributes;
  EXPECT_TRUE(query->GetAttributes(attributes));
  EXPECT_EQ(attributes.VendorID, 0x5E3A);
  std::uint8_t report[1025] = {};
  std::size_t written = 99;
  EXPECT_FALSE(query->Write(report, sizeof report, written));
  EXPECT_EQ(written, 0u);

  for (auto mode : {HidOpenMode::ReadWrite, HidOpenMode::QueryOnly})
    EXPECT_EQ(backend.Open(backend.PathOf(fo), mode), nullptr);

  auto handle = backend.Open(backend.PathOf(fi), HidOpenMode::ReadWrite);
  ASSERT_NE(handle, nullptr);
  EXPECT_FALSE(handle->GetAttributes(attributes));
  EXPECT_NE(backend.LastError(), 0u);

  EXPECT_EQ(backend.Open("no such path", HidOpenMode::QueryOnly), nullptr);
  EXPECT_EQ(backend.ErrorMessage(ENODEV), "No such device");
}

TEST(SimBackendTest, WriteReachesModelAndAnswerIsReadPadded) {
  VirtualLoop loop;
  SimBackend backend(loop);
  EchoModel model(backend);
  const int id = backend.Plug(SmallReports(), &model);
  auto writer = backend.Open(backend.PathOf(id), HidOpenMode::ReadWrite);
  auto reader = backend.Open(backend.PathOf(id), HidOpenMode::ReadAsync);
  ASSERT_TRUE(writer && reader);

  std::size_t written = 0;
  const std::uint8_t out[9] = {0, 'V', 'E', 'R'};
  EXPECT_FALSE(writer->Write(out, 8, written));  // not a whole output report
  EXPECT_EQ(backend.LastError(), static_cast<std::uint32_t>(EINVAL));
  ASSERT_TRUE(writer->Write(out, 9, written));
  EXPECT_EQ(written, 9u);
  ASSERT_EQ(model.seen.size(), 1u);
  EXPECT_EQ(model.seen[0], std::vector<std::uint8_t>(out, out + 9));
  EXPECT_TRUE(backend.InFlight());

  // A short unsolicited report arrives after the answer and is padded.
  const std::uint8_t short_report[2] = {0, 'X'};
  backend.SendInput(id, short_report, 2);

  std::uint8_t buffer[9];
  std::fill(std::begin(buffer), std::end(buffer), 0xEE);
  ASSERT_TRUE(reader->BeginRead(buffer, sizeof buffer));
  ASSERT_TRUE(reader->WaitRead(1000));
  EXPECT_EQ(reader->FinishRead(), 9u);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 9),
            (std::vector<std::uint8_t>{0, 'W', 'E', 'R', 0, 0, 0, 0, 0}));
  ASSERT_TRUE(reader->BeginRead(buffer, sizeof buffer));
  ASSERT_TRUE(reader->WaitRead(1000));
  EXPECT_EQ(reader->FinishRead(), 9u);
  EXPECT_EQ(std::vector<std::uint8_t>(buffer, buffer + 9),
            (std::vector<std::uint8_t>{0, 'X', 0, 0, 0, 0, 0, 0, 0}));
  // Delivered, but still on its way until the reader reads on.
  EXPECT_TRUE(backend.InFlight());
  ASSERT_TRUE(reader->BeginRead(buffer, sizeof buffer));
  EXPECT_FALSE(backend.InFlight());
  EXPECT_FALSE(reader->WaitRead(10));  // nothing more arrived

  backend.SetWriteError(id, EPIPE);
  EXPECT_FALSE(writer->Write(out, 9, written));
  EXPECT_EQ(backend.LastError(), static_cast<std::uint32_t>(EPIPE));
  backend.SetWriteError(id, 0);
  EXPECT_TRUE(writer->Write(out, 9, written));
  EXPECT_EQ(backend.WritesSeen(id), 2);  // failed writes never reach the model
}

TEST(SimBackendTest, ReportsNobodyCanReadAreDroppedOrStopCountingAsInFlight) {
  VirtualLoop loop;
  SimBackend backend(loop);
  const int id = backend.Plug(SmallReports(), nullptr);
  const std::uint8_t report[1] = {0};
  backend.SendInput(id, report, 1);  // no handle: dropped
  EXPECT_FALSE(backend.InFlight());

  // Queued while only the writer's handle is open (the read thread is still
  // starting): in flight for a while, then no longer.
  auto writer = backend.Open(backend.PathOf(id), HidOpenMode::ReadWrite);
  backend.SendInput(id, report, 1);
  EXPECT_TRUE(backend.InFlight());
  writer.reset();
  const auto start = std::chrono::steady_clock::now();
  while (backend.InFlight() && std::chrono::steady_clock::now() - start < std::chrono::seconds(5))
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_FALSE(backend.InFlight());

  // Kept for the reader that opens later, with every handle closed meanwhile.
  auto reader = backend.Open(backend.PathOf(id), HidOpenMode::ReadAsync);
  std::uint8_t buffer[9];
  ASSERT_TRUE(reader->BeginRead(buffer, sizeof buffer));
  EXPECT_TRUE(backend.InFlight());  // a read is outstanding
  ASSERT_TRUE(reader->WaitRead(0));
  EXPECT_EQ(reader->FinishRead(), 9u);

  // A closed reader takes what it left unread with it.
  backend.SendInput(id, report, 1);
  reader.reset();
  reader = backend.Open(backend.PathOf(id), HidOpenMode::ReadAsync);
  ASSERT_TRUE(reader->BeginRead(buffer, sizeof buffer));
  EXPECT_FALSE(reader->WaitRead(10));
  EXPECT_FALSE(backend.InFlight());
  reader->CancelRead();
  reader.reset();
  EXPECT_EQ(backend.OpenHandles(id), 0);
}

TEST(SimBackendTest, InterruptWakesAWaitingReadWithoutConsumingAReport) {
  VirtualLoop loop;
  SimBackend backend(loop);
  const int id = backend.Plug(SmallReports(), nullptr);
  auto reader = backend.Open(backend.PathOf(id), HidOpenMode::ReadAsync);
  std::uint8_t buffer[9];
  ASSERT_TRUE(reader->BeginRead(buffer, sizeof buffer));

  bool result = true;
  std::thread waiter([&] { result = reader->WaitRead(60000); });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  reader->Interrupt();
  waiter.join();
  EXPECT_FALSE(result);

  // An interrupt that comes before the wait still ends it at once.
  const std::uint8_t report[1] = {0};
  backend.SendInput(id, report, 1);
  reader->Interrupt();
  EXPECT_FALSE(reader->WaitRead(60000));
  EXPECT_TRUE(reader->WaitRead(0));  // the report is still there
  EXPECT_EQ(reader->FinishRead(), 9u);
}

TEST(SimBackendTest, UnplugFailsThePendingReadAndEveryLaterOperation) {
  VirtualLoop loop;
  SimBackend backend(loop);
  const int id = backend.Plug(SmallReports(), nullptr);
  auto reader = backend.Open(backend.PathOf(id), HidOpenMode::ReadAsync);
  auto writer = backend.Open(backend.PathOf(id), HidOpenMode::ReadWrite);
  std::uint8_t buffer[9];
  ASSERT_TRUE(reader->BeginRead(buffer, sizeof buffer));

  bool completed = false;
  std::size_t bytes = 99;
  std::uint32_t error = 0;
  std::thread waiter([&] {
    completed = reader->WaitRead(60000);
    bytes = reader->FinishRead();
    error = backend.LastError();
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  backend.Unplug(id);
  waiter.join();
  EXPECT_TRUE(completed);
  EXPECT_EQ(bytes, 0u);
  EXPECT_EQ(error, static_cast<std::uint32_t>(ENODEV));

  EXPECT_FALSE(reader->BeginRead(buffer, sizeof buffer));
  EXPECT_EQ(backend.LastError(), static_cast<std::uint32_t>(ENODEV));
  std::size_t written = 0;
  EXPECT_FALSE(writer->Write(buffer, sizeof buffer, written));
  HidAttributes attributes;
  EXPECT_FALSE(writer->GetAttributes(attributes));
  const std::string path = backend.PathOf(id);
  EXPECT_EQ(backend.Open(path, HidOpenMode::QueryOnly), nullptr);
  EXPECT_TRUE(backend.Enumerate().empty());

  // Kept while a handle is open, forgotten once the last one closes: devices
  // set in one after the other leave nothing behind.
  EXPECT_EQ(backend.OpenHandles(id), 2);
  reader.reset();
  EXPECT_EQ(backend.PathOf(id), path);
  writer.reset();
  EXPECT_EQ(backend.PathOf(id), "");
  EXPECT_EQ(backend.Open(path, HidOpenMode::QueryOnly), nullptr);
  EXPECT_EQ(backend.LastError(), static_cast<std::uint32_t>(ENOENT));
}

TEST(SimBackendTest, ChangeNotificationsArePostedToLiveWatches) {
  VirtualLoop loop;
  SimBackend backend(loop);
  int calls = 0;
  auto watch = backend.WatchChanges(loop, [&] { ++calls; });
  const int id = backend.Plug(SimDeviceConfig{}, nullptr);
  EXPECT_EQ(calls, 0);  // posted, not called from Plug
  loop.RunPending();
  EXPECT_EQ(calls, 1);
  backend.Unplug(id);
  backend.Unplug(id);  // already gone: nothing more
  loop.RunPending();
  EXPECT_EQ(calls, 2);
  backend.Plug(SimDeviceConfig{}, nullptr);
  watch.reset();
  loop.RunPending();
  EXPECT_EQ(calls, 2);
}

}  // namespace
}  // namespace mvx
