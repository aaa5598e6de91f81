// Time from an input report's arrival at the HID backend to the return of the
// data handler on the GUI thread: the read thread's wake-up, the synchronized
// hand-over to the GUI thread's loop and back. The simulated backend stands
// for the OS; the loop is whatever message loop the caller runs.
#pragma once

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/sim/sim_backend.h"

namespace mvx::bench {

using Clock = std::chrono::steady_clock;

// Runs the loop's events on the calling thread until done() holds.
using RunUntil = std::function<void(const std::function<bool()>& done)>;

// Sends reports one at a time, each when the handler has returned from the
// previous one, so every figure is one report's own latency, not a queue's.
inline std::vector<double> MeasureHidLatency(IEventLoop& loop, const RunUntil& run, int reports,
                                             int warm_up) {
  SimBackend backend(loop);
  SimDeviceConfig config;  // the Merovox device: 1025-byte reports
  const int id = backend.Plug(config, nullptr);
  THidDeviceController controller(loop, backend);
  const int total = warm_up + reports;
  std::vector<Clock::time_point> sent(static_cast<std::size_t>(total));
  std::vector<Clock::time_point> handled(static_cast<std::size_t>(total));
  std::mutex mutex;
  std::condition_variable cv;
  int done_count = 0;  // under mutex
  std::atomic<int> done_seen{0};
  controller.SetOnDeviceData(
      [&](THidDevice*, std::uint8_t, const std::uint8_t* data, std::uint16_t) {
        const int n = data[0] | (data[1] << 8) | (data[2] << 16);
        handled[static_cast<std::size_t>(n)] = Clock::now();
        {
          std::lock_guard<std::mutex> lock(mutex);
          done_count = n + 1;
        }
        done_seen = n + 1;
        cv.notify_all();
      });
  run([&] { return controller.Count() == 1; });
  THidDevice* device = nullptr;
  if (!controller.ClaimByIds(config.VendorID, config.ProductID, device)) return {};

  std::thread sender([&] {
    std::uint8_t report[4] = {0};
    for (int n = 0; n < total; ++n) {
      report[1] = static_cast<std::uint8_t>(n);
      report[2] = static_cast<std::uint8_t>(n >> 8);
      report[3] = static_cast<std::uint8_t>(n >> 16);
      sent[static_cast<std::size_t>(n)] = Clock::now();
      backend.SendInput(id, report, sizeof report);
      std::unique_lock<std::mutex> lock(mutex);
      cv.wait(lock, [&] { return done_count > n; });
    }
  });
  run([&] { return done_seen.load() == total; });
  sender.join();
  controller.Release(device);

  std::vector<double> micros;
  for (int n = warm_up; n < total; ++n) {
    const auto i = static_cast<std::size_t>(n);
    micros.push_back(std::chrono::duration<double, std::micro>(handled[i] - sent[i]).count());
  }
  return micros;
}

inline double Percentile(std::vector<double> sorted, double p) {
  if (sorted.empty()) return 0;
  const auto index = static_cast<std::size_t>(p * static_cast<double>(sorted.size() - 1) + 0.5);
  return sorted[std::min(index, sorted.size() - 1)];
}

inline int PrintLatency(const char* loop_name, std::vector<double> micros) {
  if (micros.empty()) {
    std::printf("%s: no measurement (the device could not be claimed)\n", loop_name);
    return 1;
  }
  std::sort(micros.begin(), micros.end());
  std::printf(
      "HID report latency, backend arrival to handler return (%s loop, simulated backend)\n"
      "  reports %zu  median %.1f us  p90 %.1f us  p99 %.1f us  max %.1f us\n",
      loop_name, micros.size(), Percentile(micros, 0.5), Percentile(micros, 0.9),
      Percentile(micros, 0.99), micros.back());
  return 0;
}

}  // namespace mvx::bench
