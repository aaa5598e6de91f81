// THidDeviceController: the one component through which the program sees HID
// devices. It keeps one THidDevice per present interface, scans again whenever
// the OS says devices changed, tells its client what left and what arrived,
// and hands devices out (claim) and takes them back (release).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/platform.h"
#include "hid/hid_backend.h"
#include "hid/hid_types.h"

namespace mvx {

class TSynchronizer;

class THidDeviceController {
 public:
  // Posts itself one first change notification (parameter -1), so the first
  // scan runs from the message loop and always ends in OnDeviceChange.
  THidDeviceController(IEventLoop& loop, IHidBackend& backend);
  ~THidDeviceController();
  THidDeviceController(const THidDeviceController&) = delete;
  THidDeviceController& operator=(const THidDeviceController&) = delete;

  // Scan and compare; raises EControllerError when a device cannot be built.
  void DeviceChange();
  // The change notification as the OS delivers it, with its parameter (-1
  // forces OnDeviceChange). A notification that arrives while one is handled
  // is dropped.
  void Notify(long parameter);
  // Errors of notifications that come from the message loop go here (the
  // application's error handler).
  std::function<void(const std::string&)> ErrorHandler;

  bool ClaimByIds(int vendor_id, int product_id, THidDevice*& device);
  bool ClaimByIndex(int index, bool allowed, THidDevice*& device);
  void Release(THidDevice*& device);
  // Destroys a listed device. One that is still present leaves a fresh,
  // unclaimed device for the same interface in its place, with its data and
  // unplug handlers and its wait slice; one that is gone leaves the list.
  void Destroy(THidDevice*& device);

  int Count() const { return static_cast<int>(list_.size()); }
  THidDevice* Device(int index) const { return list_[static_cast<std::size_t>(index)].get(); }

  int DevThreadSleepTime() const { return dev_thread_sleep_time_; }
  void SetDevThreadSleepTime(int ms);
  std::string Version() const { return "1.0.35"; }
  void SetVersion(const std::string&) {}

  THidPlugEvent OnArrival;
  THidPlugEvent OnRemoval;
  THidEnumerateEvent OnEnumerate;
  const TNotifyEvent& OnDeviceChange() const { return on_device_change_; }
  void SetOnDeviceChange(TNotifyEvent handler);
  const THidDataEvent& OnDeviceData() const { return on_device_data_; }
  void SetOnDeviceData(THidDataEvent handler);
  const THidDataErrorEvent& OnDeviceDataError() const { return on_device_data_error_; }
  void SetOnDeviceDataError(THidDataErrorEvent handler);
  const THidPlugEvent& OnDeviceUnplug() const { return on_device_unplug_; }
  void SetOnDeviceUnplug(THidPlugEvent handler);

  // The component is being loaded: setters store without scanning.
  bool Loading = false;

  IHidBackend& Backend() const { return backend_; }
  IEventLoop& Loop() const { return loop_; }
  const std::shared_ptr<TSynchronizer>& Synchronizer() const { return sync_; }

 private:
  friend class THidDevice;
  std::vector<std::unique_ptr<THidDevice>> ScanInterfaces();
  void NotifyGuarded(long parameter);
  // The device's place in the list; end() when it is not listed.
  std::vector<std::unique_ptr<THidDevice>>::iterator Find(const THidDevice* device);
  bool Listed(const THidDevice* device) { return Find(device) != list_.end(); }

  IEventLoop& loop_;
  IHidBackend& backend_;
  std::shared_ptr<TSynchronizer> sync_;
  std::shared_ptr<bool> alive_;  // posted calls check it: the controller may be gone
  std::unique_ptr<IWatch> watch_;
  std::vector<std::unique_ptr<THidDevice>> list_;
  bool destroying_ = false;
  bool in_change_ = false;
  long last_parameter_ = 0;
  int dev_thread_sleep_time_ = 100;
  TNotifyEvent on_device_change_;
  THidDataEvent on_device_data_;
  THidDataErrorEvent on_device_data_error_;
  THidPlugEvent on_device_unplug_;
};

}  // namespace mvx
