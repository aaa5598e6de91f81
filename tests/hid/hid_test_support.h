// What the HID tests share: a controller on the simulated backend whose events
// are written into one list, and a way to let the read threads' deliveries run.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "hid/hid_controller.h"
#include "hid/hid_device.h"
#include "hid/sim/sim_backend.h"
#include "scripted/virtual_loop.h"

namespace mvx::testing {

struct Delivery {
  THidDevice* device;
  std::uint8_t report_id;
  std::vector<std::uint8_t> data;
};

class ControllerHarness {
 public:
  ControllerHarness() : backend(loop) {}
  ~ControllerHarness() { controller.reset(); }

  // Builds the controller as the main window does (handlers set while loading)
  // and lets the loop deliver the first notification.
  void Start() {
    controller = std::make_unique<THidDeviceController>(loop, backend);
    controller->Loading = true;
    controller->OnArrival = [this](THidDevice* d) {
      Log("arrival", d);
      in_notification_seen.push_back(d->InNotification());
      if (on_arrival) on_arrival(d);
    };
    controller->OnRemoval = [this](THidDevice* d) {
      Log("removal", d);
      in_notification_seen.push_back(d->InNotification());
    };
    controller->SetOnDeviceChange([this](void* sender) {
      events.push_back(sender == controller.get() ? "change" : "change from a stranger");
    });
    controller->SetOnDeviceUnplug([this](THidDevice* d) { Log("unplug", d); });
    controller->SetOnDeviceData(
        [this](THidDevice* d, std::uint8_t id, const std::uint8_t* data, std::uint16_t size) {
          deliveries.push_back({d, id, std::vector<std::uint8_t>(data, data + size)});
        });
    controller->SetOnDeviceDataError(
        [this](THidDevice*, std::uint32_t code) { read_errors.push_back(code); });
    controller->ErrorHandler = [this](const std::string& text) { errors.push_back(text); };
    controller->Loading = false;
    loop.RunPending();
  }

  // Runs posted calls (notifications, deliveries) until done() holds or the
  // real-time limit passes.
  bool PumpUntil(const std::function<bool()>& done, int limit_ms = 5000) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(limit_ms);
    while (true) {
      loop.RunPending();
      if (done()) return true;
      if (std::chrono::steady_clock::now() > end) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

  void PumpFor(int ms) {
    PumpUntil([] { return false; }, ms);
  }

  // Waits until the device's read thread has begun its first read, so that
  // what the device sends next is read.
  bool WaitReader(int device_id) {
    return PumpUntil([&] { return backend.PendingReads(device_id) > 0; });
  }

  THidDevice* Device(int index) const {
    return index >= 0 && index < controller->Count() ? controller->Device(index) : nullptr;
  }

  VirtualLoop loop;
  SimBackend backend;
  std::unique_ptr<THidDeviceController> controller;
  std::vector<std::string> events;
  std::vector<bool> in_notification_seen;
  std::vector<Delivery> deliveries;
  std::vector<std::uint32_t> read_errors;
  std::vector<std::string> errors;
  std::function<void(THidDevice*)> on_arrival;

 private:
  void Log(const char* what, THidDevice* d) {
    events.push_back(std::string(what) + ":" + std::to_string(d->PnPInfo().Instance));
  }
};

inline std::string Ev(const char* what, std::uint32_t instance) {
  return std::string(what) + ":" + std::to_string(instance);
}

}  // namespace mvx::testing
