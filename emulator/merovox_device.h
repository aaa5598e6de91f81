// A model of the Merovox device's side of the HID command protocol. It takes
// output reports (report ID, command line, zero fill), answers with input
// reports (report ID 0, answer, zero fill to the input length) after the
// delays of its timing, keeps a small file system and its identity, leaves
// the bus to restart after an install and shows the faults it is given. It
// knows no HID backend: a host feeds it reports and carries its answers.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "emulator/device_config.h"
#include "emulator/scheduler.h"

namespace mvx::emu {

class MerovoxDevice {
 public:
  struct Host {
    // One input report, report ID first, InputReportLength bytes.
    std::function<void(const std::uint8_t* report, std::size_t length)> Input;
    // The device leaves the bus by itself (restart, removal fault) ...
    std::function<void()> LeaveBus;
    // ... and comes back after a restart, with its new identity.
    std::function<void()> ReturnToBus;

    // A cradle's host: before the device leaves or returns by itself,
    // on_bus_change (read when it happens, so it may be set later) is told
    // false or true; then leave or come_back runs.
    static Host OfCradle(std::function<void(const std::uint8_t*, std::size_t)> input,
                         std::function<void()> leave, std::function<void()> come_back,
                         const std::function<void(bool on_bus)>& on_bus_change);
  };

  MerovoxDevice(DeviceConfig config, IScheduler& scheduler);
  ~MerovoxDevice();
  MerovoxDevice(const MerovoxDevice&) = delete;
  MerovoxDevice& operator=(const MerovoxDevice&) = delete;

  void SetHost(Host host);

  // One output report as written: report ID first, then the command line.
  void Receive(const std::uint8_t* report, std::size_t length);
  // Whether the host's write of this report fails (a write fault): then the
  // device never gets the command, which counts as sent all the same.
  bool RefusesWrite(const std::uint8_t* report, std::size_t length);
  // The device was set into the cradle, or taken out: answers on their way
  // are dropped and transfers in progress forgotten.
  void Attached();
  void Removed();
  // The device sends bytes of its own accord, unasked, at once.
  void SendUnasked(std::string answer);

  // What the device is and holds now (thread-safe copies).
  DeviceIdentity Identity() const;
  std::map<std::string, StoredFile> Files() const;
  bool Restarting() const;
  // Names of the commands received, in order.
  std::vector<std::string> Commands() const;
  // How many commands of that name have been received.
  int CommandCount(const std::string& name) const;

 private:
  // One thing the device does after a command: send an answer or act.
  struct Step {
    std::uint32_t AtMs = 0;  // after the command
    std::string Answer;
    std::function<void()> Action;  // runs instead of sending, under the lock
  };
  using Reply = std::vector<Step>;
  struct Download;
  struct Upload;

  // The name of a command (its first word, or a packet's keyword) and, for
  // "GCMD", the name of its sub-command ("GCMD install").
  struct CommandNames {
    std::string Name, Sub;
    std::string_view Line;
  };
  static CommandNames NamesOf(const std::uint8_t* report, std::size_t length);
  Reply Dispatch(const std::string& name, std::string_view line);
  Reply TextAnswer(std::string text) const;
  Reply SetClock(std::string_view line);
  Reply SetSerial(std::string_view line);
  Reply Format(bool reset);
  Reply FileInfo(std::string_view name);
  Reply DeleteFile(std::string_view name);
  Reply DownloadStart(std::string_view line);
  Reply DownloadData(std::string_view line);
  Reply DownloadEnd(std::string_view line);
  std::string DownloadAck(char family, std::uint32_t code, std::uint32_t status) const;
  Reply Gcmd(std::string_view line);
  std::string GcmdAnswer(std::uint32_t result, std::uint32_t status,
                         const std::string& digest = {}) const;
  Reply UploadStart(std::string_view name);
  Reply UploadAck(std::string_view line);
  std::string NextUploadPacket();
  Reply Install(const std::string& file_name);

  const Fault* ActiveFault(FaultKind kind, const std::string& command) const;
  void ApplyAnswerFaults(const std::string& name, Reply& reply) const;
  const StoredFile* FindFile(std::string_view name) const;
  void Schedule(Reply reply);
  void Emit(const std::string& answer);
  void Flush(std::unique_lock<std::mutex>& lock);
  void Forget();

  // The lock and a liveness flag, shared with the calls the scheduler holds,
  // so a call that comes due after the model is gone does nothing.
  struct Guard {
    std::mutex Mutex;
    bool Alive = true;
  };

  IScheduler& scheduler_;
  std::shared_ptr<Guard> guard_ = std::make_shared<Guard>();
  Host host_;
  DeviceConfig config_;
  std::map<std::string, int> counts_;
  std::vector<std::string> commands_;
  std::unique_ptr<Download> download_;
  // The digest and size of the data of the last complete download.
  std::string received_digest_ = Md5Hex("");
  std::uint64_t received_size_ = 0;
  std::unique_ptr<Upload> upload_;
  bool restarting_ = false;
  // Answers scheduled before a removal or a restart carry an older epoch and
  // are dropped.
  std::uint64_t epoch_ = 0;
  // Reports and bus events made under the lock, delivered after it.
  std::vector<std::function<void()>> outbox_;
};

}  // namespace mvx::emu
