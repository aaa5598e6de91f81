// THidDevice: one HID device interface that the controller found. It opens
// OS handles only when needed, writes output reports synchronously and, while a
// client holds it with a data handler set, runs one THidDeviceReadThread that
// hands each input report to the GUI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "hid/hid_backend.h"
#include "hid/hid_types.h"

namespace mvx {

class THidDeviceReadThread;
class TSynchronizer;

// What the enumeration knows of one interface: its instance, its path and the
// registry properties, read once.
struct THidPnPInfo {
  std::uint32_t Instance = 0;
  std::string Path;
  std::string Identity;
  std::string Location;
  std::string SerialNumber;
  std::uint32_t Capabilities = 0;
  std::string Class;
  std::string ClassGUID;
  std::vector<std::string> CompatibleIDs;
  std::uint32_t ConfigFlags = 0;
  std::string DeviceDesc;
  std::string Driver;
  std::string FriendlyName;
  std::vector<std::string> HardwareID;
  std::vector<std::string> LowerFilters;
  std::string Mfg;
  std::vector<std::string> UpperFilters;
  std::string Address;
  std::uint32_t BusNumber = 0;
  std::string BusTypeGUID;
  std::string Characteristics;
  std::uint32_t DevType = 0;
  std::string EnumeratorName;
  std::uint32_t Exclusive = 0;
  std::uint32_t LegacyBusType = 0;
  std::string LocationInformation;
  std::string PhysicalDeviceObjectName;
  std::string SecuritySDS;
  std::string Service;
  std::uint32_t UINumber = 0;
  std::string Property1E;

  static std::unique_ptr<THidPnPInfo> FromInterface(const HidInterfaceInfo& info);
};

class THidDevice {
 public:
  // Opens the interface (read/write, else query-only) and reads its
  // attributes. Raises EControllerError "Device cannot be opened" or "Device
  // cannot be identified".
  THidDevice(std::unique_ptr<THidPnPInfo> pnp, THidDeviceController* controller);
  ~THidDevice();
  THidDevice(const THidDevice&) = delete;
  THidDevice& operator=(const THidDevice&) = delete;

  const THidPnPInfo& PnPInfo() const { return *pnp_; }
  bool Present() const { return present_; }
  bool Claimed() const { return claimed_; }
  bool InNotification() const { return in_notification_; }
  bool ReadWriteAccess() const { return read_write_access_; }
  const HidAttributes& Attributes() const { return attributes_; }
  std::uint16_t VendorID() const { return attributes_.VendorID; }
  std::uint16_t ProductID() const { return attributes_.ProductID; }
  std::uint16_t VersionNumber() const { return attributes_.VersionNumber; }
  unsigned WaitSlice() const { return wait_slice_; }
  THidDeviceController* Controller() const { return controller_; }
  bool HasReadThread() const { return read_thread_ != nullptr; }

  bool IsUsable() const { return present_ && (claimed_ || in_notification_); }
  bool OpenInfoHandle();
  void CloseInfoHandle();
  bool OpenReadHandle();
  void CloseReadHandle();
  bool WriteReport(const std::uint8_t* buffer, std::size_t length, std::size_t& written);
  // Read thread only.
  bool BeginRead(std::uint8_t* buffer, std::size_t length);
  bool WaitRead(unsigned slice_ms);
  std::size_t FinishRead();
  bool CancelPending();
  void InterruptRead();

  // Capabilities fetched once (the preparsed data) and cached; false when
  // they could not be read.
  bool GetPreparsed();
  void QueryCapabilities(HidCaps& caps);
  std::u16string GetProductText();
  void SetWaitSlice(int ms);

  const THidDataEvent& DataHandler() const { return data_handler_; }
  void SetDataHandler(THidDataEvent handler);
  THidDataErrorEvent DataErrorHandler;
  THidPlugEvent UnplugHandler;
  // Why the read thread stopped, when it reported kReadThreadFailed. Written
  // by the read thread before it reports, read in the handler.
  const std::string& ReadFailure() const { return read_failure_; }
  void SetReadFailure(std::string text) { read_failure_ = std::move(text); }

  void StartReading();
  void StopReading();
  void MarkUnplugged();

  // The OS error code of the last failed operation on this thread.
  std::uint32_t LastError() const;
  std::string ErrorMessage(std::uint32_t code) const;
  IHidBackend& Backend() const { return *backend_; }
  TSynchronizer& Synchronizer() const { return *sync_; }

 private:
  friend class THidDeviceController;

  std::unique_ptr<IHidHandle> OpenShared();
  std::shared_ptr<IHidHandle> ReadHandle();

  std::unique_ptr<THidPnPInfo> pnp_;
  THidDeviceController* controller_;
  IHidBackend* backend_;
  std::shared_ptr<TSynchronizer> sync_;
  // Written by the GUI thread, read by the read thread too (IsUsable, when
  // it opens its handle).
  std::atomic<bool> present_{true};
  std::atomic<bool> claimed_{false};
  std::atomic<bool> in_notification_{false};
  bool read_write_access_ = false;
  std::unique_ptr<IHidHandle> info_handle_;
  // Opened and used by the read thread, closed by the GUI thread.
  std::mutex read_mutex_;
  std::shared_ptr<IHidHandle> read_handle_;
  HidAttributes attributes_;
  bool have_caps_ = false;
  HidCaps caps_;
  std::u16string product_text_;
  std::atomic<unsigned> wait_slice_{100};
  THidDataEvent data_handler_;
  std::unique_ptr<THidDeviceReadThread> read_thread_;
  std::string read_failure_;
};

}  // namespace mvx
