// An in-process HID "operating system" with virtual devices: the stand-in for
// hardware in tests, the scenario runner and the demo. A test plugs devices
// (any identity, report lengths and product string; exclusive or failing),
// unplugs them, and lets a device model answer the output reports the host
// writes with input reports of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/platform.h"
#include "hid/hid_backend.h"

namespace mvx {

// The device's side of a simulated device.
class ISimDeviceModel {
 public:
  virtual ~ISimDeviceModel() = default;
  // One output report written by the host: report ID first, exactly
  // OutputReportByteLength bytes. Called on the writing (GUI) thread before the
  // write returns; the model may call SendInput, Unplug or Plug from here.
  virtual void OnOutputReport(int device_id, const std::uint8_t* data, std::size_t length) = 0;
  // Asked first: a non-zero error code makes the host's write of this report
  // fail with it, and the report never reaches OnOutputReport.
  virtual std::uint32_t WriteError(int /*device_id*/, const std::uint8_t* /*data*/,
                                   std::size_t /*length*/) {
    return 0;
  }
};

struct SimDeviceConfig {
  std::uint16_t VendorID = 0x5E3A, ProductID = 0x0051, VersionNumber = 0x0100;
  std::u16string ProductString = u"Merovox";
  std::uint16_t InputReportByteLength = 1025,
                OutputReportByteLength = 1025;  // report-ID byte included
  bool Exclusive = false;                       // opens only query-only (ReadWriteAccess false)
  bool FailOpen = false;                        // no open at all: "Device cannot be opened"
  bool FailIdentify = false;                    // attributes fail: "Device cannot be identified"
  std::string Location;                         // the USB port it is set into
  std::string SerialNumber;                     // its USB serial number string
};

// Error codes are errno values (ENODEV for an unplugged device, EACCES for an
// exclusive one); ErrorMessage gives the system's text for them.
//
// Input reports wait in one queue per device. A report sent while no handle
// on the device is open is dropped, as the OS drops reports nobody listens
// for; closing a read handle (HidOpenMode::ReadAsync) discards what it left
// unread, as a handle's input buffer goes with it.
class SimBackend : public IHidBackend {
 public:
  // Change notifications are posted to loop.
  explicit SimBackend(IEventLoop& loop);
  ~SimBackend() override;
  SimBackend(const SimBackend&) = delete;
  SimBackend& operator=(const SimBackend&) = delete;

  // A new interface with a new identity each time; posts a change notification
  // to the watches that exist now.
  // The model (may be null) must outlive the device's handles.
  int Plug(const SimDeviceConfig& config, ISimDeviceModel* model);
  // Pending and later operations on the device fail with ENODEV; posts a
  // change notification. Unknown or already unplugged ids are ignored.
  void Unplug(int device_id);
  // Any thread: one input report for the host (report ID first; shorter data
  // is zero-padded to the input length, longer data cut to it).
  void SendInput(int device_id, const std::uint8_t* data, std::size_t length);
  // Writes to the device fail with this error code; 0 = writes succeed again.
  void SetWriteError(int device_id, std::uint32_t error);
  // False: the HID library is "missing" (no scans, no opens).
  void SetAvailable(bool available);
  // True while an input report is on its way: from SendInput until the read
  // thread, having delivered it, begins its next read (or the read is
  // interrupted or cancelled, or the device is closed or unplugged). A virtual-
  // clock loop waits on this (VirtualLoop::Busy) instead of moving the clock.
  // A queued report counts while a read is outstanding on the device, and
  // for half a second of real time otherwise (a read thread that was just
  // started has not begun its first read yet); so a report nobody will ever
  // read cannot stall the loop for good.
  bool InFlight() const;

  // What the backend knows of a plugged device, for tests.
  std::uint32_t InstanceOf(int device_id) const;
  std::string PathOf(int device_id) const;
  int OpenHandles(int device_id) const;   // handles on the device still open
  int PendingReads(int device_id) const;  // reads outstanding (a reader is waiting)
  int WritesSeen(int device_id) const;    // writes that reached the model

  // IHidBackend
  bool Available() override;
  std::vector<HidInterfaceInfo> Enumerate() override;
  std::unique_ptr<IHidHandle> Open(const std::string& path, HidOpenMode mode) override;
  std::unique_ptr<IWatch> WatchChanges(IEventLoop& loop, std::function<void()> on_change) override;
  std::uint32_t LastError() override;
  std::string ErrorMessage(std::uint32_t code) override;

  struct State;
  struct Device;

 private:
  void PostChange();

  IEventLoop& loop_;
  std::shared_ptr<State> state_;
};

}  // namespace mvx
