#include "bench/download/floor.h"

#include <sys/resource.h>

#include <QApplication>
#include <QTimer>
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "base/timer.h"
#include "hid/accepted_devices.h"
#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/sim/sim_backend.h"
#include "protocol/layouts.h"

namespace mvx::bench {
namespace {

using Clock = std::chrono::steady_clock;
constexpr std::size_t kReport = 1025;  // report ID and 1024 bytes

double ThreadCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_THREAD, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Keeps each packet's image bytes and answers it through the scheduler, as
// the emulated Merovox answers a data packet.
class EchoDevice : public ISimDeviceModel {
 public:
  EchoDevice(SimBackend& sim, AnswerScheduler& scheduler, std::size_t image_bytes)
      : sim_(sim), scheduler_(scheduler) {
    image_.reserve(image_bytes);
  }
  void OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) override {
    const std::size_t header = 1 + protocol::kBlockHeader;
    if (length > header)
      image_.insert(image_.end(), data + header,
                    data + std::min(length, header + protocol::kBlockSize));
    auto answer = [this, device_id] {
      std::uint8_t report[kReport] = {0, 'F', 'C', 'P', 'R', 2};
      sim_.SendInput(device_id, report, sizeof report);
    };
    if (scheduler_.DueAtOnce(0))
      answer();
    else
      scheduler_.After(0, answer);
  }

 private:
  SimBackend& sim_;
  AnswerScheduler& scheduler_;
  std::vector<std::uint8_t> image_;  // GUI thread, or the scheduler's at 0 us
};

}  // namespace

FloorFigures RunFloor(QApplication& app, QtPlatform& platform, long packets,
                      std::chrono::microseconds latency) {
  AnswerScheduler scheduler(latency);
  SimBackend sim(platform);
  EchoDevice model(sim, scheduler, static_cast<std::size_t>(packets) * protocol::kBlockSize);
  THidDeviceController controller(platform, sim);
  TTimer tick(platform, 1);
  THidDevice* device = nullptr;
  FloorFigures f;
  long sent = 0, answered = 0;
  bool answer_waiting = false;
  std::vector<std::uint8_t> image(static_cast<std::size_t>(packets) * protocol::kBlockSize);
  for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7);
  std::uint8_t out[kReport];
  std::uint8_t response[kReport];
  Clock::time_point start;
  double cpu_start = 0;

  auto write_next = [&] {
    std::memset(out, 0, sizeof out);
    std::memcpy(out + 1, "FCPD", 4);
    const auto index = static_cast<std::uint32_t>(sent);
    std::memcpy(out + 5, &index, 4);
    std::memcpy(out + 9, image.data() + static_cast<std::size_t>(sent) * protocol::kBlockSize,
                protocol::kBlockSize);
    ++sent;
    std::size_t written = 0;
    device->WriteReport(out, sizeof out, written);
  };
  std::function<void()> on_tick;
  on_tick = [&] {
    // The tick takes its handler away while it runs and gives it back
    // afterwards, as the sequencer's tick does: the 1 ms period starts anew
    // with every packet.
    tick.ClearOnTimer();
    const struct Reattach {
      TTimer& tick;
      std::function<void()>& handler;
      ~Reattach() { tick.SetOnTimer(handler); }
    } reattach{tick, on_tick};
    if (!answer_waiting) return;
    answer_waiting = false;
    if (++answered == packets) {
      f.Seconds = std::chrono::duration<double>(Clock::now() - start).count();
      f.GuiCpu = ThreadCpuSeconds() - cpu_start;
      f.Device = scheduler.Measured();
      f.Done = true;
      tick.SetEnabled(false);
      app.quit();
      return;
    }
    write_next();
  };
  tick.SetOnTimer(on_tick);
  // Calls the loop still holds when the run is over find the guard gone: they
  // would reach into this function's finished frame.
  auto alive = std::make_shared<bool>(true);
  const std::weak_ptr<bool> guard = alive;
  controller.SetOnDeviceData(
      [&, guard](THidDevice*, std::uint8_t, const std::uint8_t* data, std::uint16_t size) {
        if (guard.expired()) return;
        std::memcpy(response, data, std::min<std::size_t>(size, sizeof response));
        answer_waiting = std::memcmp(response, "FCPR", 4) == 0;
        platform.PostNext([&tick, guard] {
          if (!guard.expired()) tick.FireNow();
        });
      });
  controller.SetOnDeviceChange([&, guard](void*) {
    if (guard.expired() || device != nullptr) return;
    for (const AcceptedDevice& pair : kAcceptedDevices)
      if (controller.ClaimByIds(pair.VendorID, pair.ProductID, device)) break;
    if (device == nullptr) return;
    start = Clock::now();
    cpu_start = ThreadCpuSeconds();
    scheduler.ResetMeasure();
    tick.SetEnabled(true);
    write_next();
  });
  SimDeviceConfig config;
  config.VendorID = kAcceptedDevices[0].VendorID;
  config.ProductID = kAcceptedDevices[0].ProductID;
  QTimer give_up;
  give_up.setSingleShot(true);
  QObject::connect(&give_up, &QTimer::timeout, [&] { app.quit(); });
  give_up.start(600'000);
  sim.Plug(config, &model);
  app.exec();
  tick.SetEnabled(false);
  controller.Release(device);
  alive.reset();
  f.Packets = answered;
  return f;
}

}  // namespace mvx::bench
