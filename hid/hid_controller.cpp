#include "hid/hid_controller.h"

#include <algorithm>

#include "hid/hid_device.h"
#include "hid/synchronizer.h"

namespace mvx {

THidDeviceController::THidDeviceController(IEventLoop& loop, IHidBackend& backend)
    : loop_(loop),
      backend_(backend),
      sync_(std::make_shared<TSynchronizer>(loop)),
      alive_(std::make_shared<bool>(true)) {
  if (!backend_.Available()) return;
  std::weak_ptr<bool> alive = alive_;
  watch_ = backend_.WatchChanges(loop_, [this, alive] {
    if (alive.lock()) NotifyGuarded(0);
  });
  // The first scan runs when the loop first delivers this, after the owner is
  // fully built, and always ends in OnDeviceChange.
  loop_.Post([this, alive] {
    if (alive.lock()) NotifyGuarded(-1);
  });
}

THidDeviceController::~THidDeviceController() {
  destroying_ = true;
  alive_.reset();
  on_device_change_ = nullptr;
  on_device_unplug_ = nullptr;
  OnEnumerate = nullptr;
  watch_.reset();
  std::vector<std::unique_ptr<THidDevice>> devices;
  devices.swap(list_);
  for (std::unique_ptr<THidDevice>& device : devices) {
    device->controller_ = nullptr;
    if (device->Claimed()) {
      device->MarkUnplugged();
      // Its holder keeps the object and destroys it when it lets go.
      static_cast<void>(device.release());
    }
  }
}

void THidDeviceController::NotifyGuarded(long parameter) {
  try {
    Notify(parameter);
  } catch (const std::exception& e) {
    if (ErrorHandler) ErrorHandler(e.what());
  }
}

void THidDeviceController::Notify(long parameter) {
  if (destroying_ || in_change_) return;
  last_parameter_ = parameter;
  in_change_ = true;
  try {
    DeviceChange();
  } catch (...) {
    in_change_ = false;
    throw;
  }
  in_change_ = false;
}

std::vector<std::unique_ptr<THidDevice>> THidDeviceController::ScanInterfaces() {
  std::vector<std::unique_ptr<THidDevice>> found;
  if (!backend_.Available()) return found;
  for (const HidInterfaceInfo& info : backend_.Enumerate())
    found.push_back(std::make_unique<THidDevice>(THidPnPInfo::FromInterface(info), this));
  return found;
}

std::vector<std::unique_ptr<THidDevice>>::iterator THidDeviceController::Find(
    const THidDevice* device) {
  return std::find_if(list_.begin(), list_.end(),
                      [device](const auto& listed) { return listed.get() == device; });
}

void THidDeviceController::DeviceChange() {
  bool changed = last_parameter_ == -1;
  std::vector<std::unique_ptr<THidDevice>> fresh = ScanInterfaces();
  // The backend's identity, not the instance number alone: a DevInst freed by
  // a removal can come back naming the device that arrives in its place.
  auto same = [](const THidDevice& a, const THidDevice& b) {
    return a.PnPInfo().Identity == b.PnPInfo().Identity;
  };
  auto found_again = [&](const THidDevice* device) {
    return std::any_of(fresh.begin(), fresh.end(),
                       [&](const auto& f) { return same(*f, *device); });
  };

  // Removal, last entry first. Handlers may release devices meanwhile, so
  // work on a snapshot and skip what has left the list.
  std::vector<THidDevice*> snapshot;
  for (const auto& listed : list_) snapshot.push_back(listed.get());
  for (auto it = snapshot.rbegin(); it != snapshot.rend(); ++it) {
    THidDevice* device = *it;
    if (!Listed(device)) continue;
    if (device->Present() && found_again(device)) continue;
    device->MarkUnplugged();
    if (OnRemoval) {
      device->in_notification_ = true;
      OnRemoval(device);
      if (Listed(device)) device->in_notification_ = false;
    }
    if (Listed(device) && !device->Claimed()) Destroy(device);
    changed = true;
  }

  // Duplicates of listed, present devices are dropped; the rest arrive.
  for (auto& device : fresh) {
    const bool duplicate = std::any_of(list_.begin(), list_.end(), [&](const auto& d) {
      return d->Present() && same(*d, *device);
    });
    if (duplicate) {
      device->controller_ = nullptr;
      device.reset();
      continue;
    }
    THidDevice* arrived = device.get();
    list_.push_back(std::move(device));
    changed = true;
    if (OnArrival) {
      arrived->in_notification_ = true;
      OnArrival(arrived);
      if (Listed(arrived)) arrived->in_notification_ = false;
    }
  }

  if (changed && on_device_change_) on_device_change_(this);
}

bool THidDeviceController::ClaimByIds(int vendor_id, int product_id, THidDevice*& device) {
  device = nullptr;
  for (int i = 0; i < Count(); ++i) {
    const THidDevice* d = Device(i);
    const bool eligible =
        d->VendorID() == static_cast<std::uint16_t>(vendor_id) &&
        (product_id == -1 || d->ProductID() == static_cast<std::uint16_t>(product_id));
    if (ClaimByIndex(i, eligible, device)) return true;
  }
  return false;
}

bool THidDeviceController::ClaimByIndex(int index, bool allowed, THidDevice*& device) {
  if (!allowed || index < 0 || index >= Count()) return false;
  THidDevice* d = Device(index);
  if (d->Claimed()) return false;
  device = d;
  d->claimed_ = true;
  d->StartReading();
  return true;
}

void THidDeviceController::Release(THidDevice*& device) {
  if (device == nullptr) return;
  device->StopReading();
  device->CloseInfoHandle();
  device->CloseReadHandle();
  if (device->Present()) {
    device->claimed_ = false;
    device = nullptr;
    return;
  }
  if (device->controller_ == nullptr) {
    delete device;  // the controller is gone and left it to its holder
    device = nullptr;
    return;
  }
  Destroy(device);
}

void THidDeviceController::Destroy(THidDevice*& device) {
  THidDevice* target = device;
  device = nullptr;
  if (!Listed(target)) return;
  const THidDataEvent data_handler = target->DataHandler();
  const THidPlugEvent unplug_handler = target->UnplugHandler;
  const auto wait_slice = static_cast<int>(target->WaitSlice());
  // Its read thread ends first, while the device is still listed: a delivery
  // the thread is waiting to make runs its handlers on a whole list, and may
  // even release the device itself.
  target->StopReading();
  const auto place = Find(target);
  if (place == list_.end()) return;
  std::unique_ptr<THidDevice> old = std::move(*place);
  const bool present = old->Present();
  std::unique_ptr<THidPnPInfo> pnp = std::move(old->pnp_);
  // Closes its handles; nothing runs meanwhile, so the empty place in the
  // list is never seen.
  old.reset();
  if (present) {
    try {
      auto fresh = std::make_unique<THidDevice>(std::move(pnp), this);
      fresh->SetDataHandler(data_handler);
      fresh->UnplugHandler = unplug_handler;
      fresh->SetWaitSlice(wait_slice);
      *Find(nullptr) = std::move(fresh);
      return;
    } catch (const EControllerError&) {
      // The interface cannot be opened again: it leaves the list.
    }
  }
  list_.erase(Find(nullptr));
}

void THidDeviceController::SetDevThreadSleepTime(int ms) {
  if (ms == dev_thread_sleep_time_) return;
  for (const auto& d : list_)
    if (static_cast<int>(d->WaitSlice()) == dev_thread_sleep_time_) d->SetWaitSlice(ms);
  dev_thread_sleep_time_ = ms;
}

void THidDeviceController::SetOnDeviceChange(TNotifyEvent handler) {
  if (handler == on_device_change_) return;
  on_device_change_ = std::move(handler);
  if (!Loading) DeviceChange();
}

void THidDeviceController::SetOnDeviceData(THidDataEvent handler) {
  if (handler == on_device_data_) return;
  for (const auto& d : list_)
    if (d->DataHandler() == on_device_data_) d->SetDataHandler(handler);
  on_device_data_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceDataError(THidDataErrorEvent handler) {
  if (handler == on_device_data_error_) return;
  for (const auto& d : list_)
    if (d->DataErrorHandler == on_device_data_error_) d->DataErrorHandler = handler;
  on_device_data_error_ = std::move(handler);
}

void THidDeviceController::SetOnDeviceUnplug(THidPlugEvent handler) {
  if (handler == on_device_unplug_) return;
  for (const auto& d : list_)
    if (d->UnplugHandler == on_device_unplug_) d->UnplugHandler = handler;
  on_device_unplug_ = std::move(handler);
}

}  // namespace mvx
