#include "hid/hid_device.h"

#include <algorithm>

#include "hid/device_properties.h"
#include "hid/hid_controller.h"
#include "hid/read_thread.h"
#include "hid/synchronizer.h"

namespace mvx {
namespace {

// The OS error of the calling thread's last failed device operation.
thread_local std::uint32_t t_last_error = 0;
// What an operation on a device that is not usable reports (an invalid handle).
constexpr std::uint32_t kInvalidHandleError = 9;

const HidProperty* FindProperty(const HidInterfaceInfo& info, DeviceProperty property) {
  for (const auto& p : info.Properties)
    if (p.Code == Code(property)) return &p;
  return nullptr;
}

}  // namespace

std::unique_ptr<THidPnPInfo> THidPnPInfo::FromInterface(const HidInterfaceInfo& info) {
  auto pnp = std::make_unique<THidPnPInfo>();
  pnp->Instance = info.Instance;
  pnp->Path = info.Path;
  pnp->Identity = info.Identity;
  pnp->Location = info.Location;
  pnp->SerialNumber = info.SerialNumber;
  auto number = [&](DeviceProperty code, std::uint32_t& field) {
    if (const HidProperty* p = FindProperty(info, code)) field = p->Number;
  };
  auto text = [&](DeviceProperty code, std::string& field) {
    if (const HidProperty* p = FindProperty(info, code)) field = p->Text;
  };
  auto list = [&](DeviceProperty code, std::vector<std::string>& field) {
    if (const HidProperty* p = FindProperty(info, code)) field = p->List;
  };
  using P = DeviceProperty;
  number(P::Capabilities, pnp->Capabilities);
  text(P::Class, pnp->Class);
  text(P::ClassGUID, pnp->ClassGUID);
  list(P::CompatibleIDs, pnp->CompatibleIDs);
  number(P::ConfigFlags, pnp->ConfigFlags);
  text(P::DeviceDesc, pnp->DeviceDesc);
  text(P::Driver, pnp->Driver);
  text(P::FriendlyName, pnp->FriendlyName);
  list(P::HardwareID, pnp->HardwareID);
  list(P::LowerFilters, pnp->LowerFilters);
  text(P::Mfg, pnp->Mfg);
  list(P::UpperFilters, pnp->UpperFilters);
  text(P::Address, pnp->Address);
  number(P::BusNumber, pnp->BusNumber);
  text(P::BusTypeGUID, pnp->BusTypeGUID);
  text(P::Characteristics, pnp->Characteristics);
  number(P::DevType, pnp->DevType);
  text(P::EnumeratorName, pnp->EnumeratorName);
  number(P::Exclusive, pnp->Exclusive);
  number(P::LegacyBusType, pnp->LegacyBusType);
  text(P::LocationInformation, pnp->LocationInformation);
  text(P::PhysicalDeviceObjectName, pnp->PhysicalDeviceObjectName);
  text(P::SecuritySDS, pnp->SecuritySDS);
  text(P::Service, pnp->Service);
  number(P::UINumber, pnp->UINumber);
  text(P::Property1E, pnp->Property1E);
  return pnp;
}

THidDevice::THidDevice(std::unique_ptr<THidPnPInfo> pnp, THidDeviceController* controller)
    : pnp_(std::move(pnp)),
      controller_(controller),
      backend_(&controller->Backend()),
      sync_(controller->Synchronizer()) {
  SetDataHandler(controller->OnDeviceData());
  DataErrorHandler = controller->OnDeviceDataError();
  UnplugHandler = controller->OnDeviceUnplug();
  info_handle_ = OpenShared();
  if (!info_handle_) {
    pnp_.reset();
    throw EControllerError("Device cannot be opened");
  }
  attributes_.Size = 12;
  if (!info_handle_->GetAttributes(attributes_)) {
    info_handle_.reset();
    pnp_.reset();
    throw EControllerError("Device cannot be identified");
  }
  CloseInfoHandle();
}

THidDevice::~THidDevice() {
  // Only releases: the controller decides what takes this device's place.
  SetDataHandler(nullptr);
  UnplugHandler = nullptr;
  CloseInfoHandle();
  CloseReadHandle();
  have_caps_ = false;
}

std::unique_ptr<IHidHandle> THidDevice::OpenShared() {
  auto handle = backend_->Open(pnp_->Path, HidOpenMode::ReadWrite);
  read_write_access_ = handle != nullptr;
  if (!handle) handle = backend_->Open(pnp_->Path, HidOpenMode::QueryOnly);
  if (!handle) t_last_error = backend_->LastError();
  return handle;
}

bool THidDevice::OpenInfoHandle() {
  if (IsUsable() && !info_handle_) info_handle_ = OpenShared();
  return info_handle_ != nullptr;
}

void THidDevice::CloseInfoHandle() {
  info_handle_.reset();
}

bool THidDevice::OpenReadHandle() {
  if (!IsUsable()) {
    t_last_error = kInvalidHandleError;
    return false;
  }
  std::lock_guard<std::mutex> lock(read_mutex_);
  if (!read_handle_) {
    std::unique_ptr<IHidHandle> handle = backend_->Open(pnp_->Path, HidOpenMode::ReadAsync);
    if (!handle) {
      t_last_error = backend_->LastError();
      return false;
    }
    read_handle_ = std::move(handle);
  }
  return true;
}

void THidDevice::CloseReadHandle() {
  std::shared_ptr<IHidHandle> handle;
  {
    std::lock_guard<std::mutex> lock(read_mutex_);
    handle = std::move(read_handle_);
  }
  // A read in progress on it returns at once; the thread drops its copy.
  if (handle) handle->Interrupt();
}

std::shared_ptr<IHidHandle> THidDevice::ReadHandle() {
  std::lock_guard<std::mutex> lock(read_mutex_);
  return read_handle_;
}

bool THidDevice::WriteReport(const std::uint8_t* buffer, std::size_t length, std::size_t& written) {
  written = 0;
  if (!OpenInfoHandle()) {
    if (!IsUsable()) t_last_error = kInvalidHandleError;
    return false;
  }
  if (!info_handle_->Write(buffer, length, written)) {
    t_last_error = backend_->LastError();
    return false;
  }
  return true;
}

bool THidDevice::BeginRead(std::uint8_t* buffer, std::size_t length) {
  if (!OpenReadHandle()) return false;
  auto handle = ReadHandle();
  if (!handle || !handle->BeginRead(buffer, length)) {
    t_last_error = handle ? backend_->LastError() : kInvalidHandleError;
    return false;
  }
  return true;
}

bool THidDevice::WaitRead(unsigned slice_ms) {
  auto handle = ReadHandle();
  if (!handle) return true;  // closed under the read: it completes with nothing
  return handle->WaitRead(slice_ms);
}

std::size_t THidDevice::FinishRead() {
  auto handle = ReadHandle();
  return handle ? handle->FinishRead() : 0;
}

bool THidDevice::CancelPending() {
  auto handle = ReadHandle();
  return handle ? handle->CancelRead() : false;
}

void THidDevice::InterruptRead() {
  if (auto handle = ReadHandle()) handle->Interrupt();
}

bool THidDevice::GetPreparsed() {
  if (!have_caps_ && OpenInfoHandle()) {
    HidCaps caps;
    if (info_handle_->GetCaps(caps)) {
      caps_ = caps;
      have_caps_ = true;
    }
    CloseInfoHandle();
  }
  return have_caps_;
}

void THidDevice::QueryCapabilities(HidCaps& caps) {
  caps = HidCaps{};
  if (GetPreparsed()) caps = caps_;
}

std::u16string THidDevice::GetProductText() {
  if (product_text_.empty() && OpenInfoHandle()) {
    std::u16string text;
    if (info_handle_->GetProductString(text, 254)) {
      const std::size_t zero = text.find(u'\0');
      if (zero != std::u16string::npos) text.resize(zero);
      if (text.size() > 254) text.resize(254);
      product_text_ = text;
    }
    CloseInfoHandle();
  }
  return product_text_;
}

void THidDevice::SetWaitSlice(int ms) {
  if (ms >= 10 && ms <= 10000) wait_slice_ = static_cast<unsigned>(ms);
}

void THidDevice::SetDataHandler(THidDataEvent handler) {
  if (!handler) StopReading();
  data_handler_ = std::move(handler);
  StartReading();
}

void THidDevice::StartReading() {
  if (data_handler_ && present_ && claimed_ && read_write_access_ && !read_thread_) {
    read_thread_ = std::make_unique<THidDeviceReadThread>(this);
    read_thread_->WaitUntilListening();
  }
}

void THidDevice::StopReading() {
  if (!read_thread_) return;
  read_thread_->Terminate();
  InterruptRead();
  THidDeviceReadThread* thread = read_thread_.get();
  sync_->WaitServing([thread] { return thread->Finished(); });
  read_thread_.reset();
}

void THidDevice::MarkUnplugged() {
  CloseInfoHandle();
  CloseReadHandle();
  present_ = false;
  if (UnplugHandler) UnplugHandler(this);
  UnplugHandler = nullptr;
}

std::uint32_t THidDevice::LastError() const {
  return t_last_error;
}

std::string THidDevice::ErrorMessage(std::uint32_t code) const {
  return backend_->ErrorMessage(code);
}

}  // namespace mvx
