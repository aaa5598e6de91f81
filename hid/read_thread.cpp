#include "hid/read_thread.h"

#include <algorithm>
#include <chrono>

#include "hid/hid_device.h"
#include "hid/synchronizer.h"
#include "hid/thread_name.h"

namespace mvx {

TCustomThread::~TCustomThread() {
  Join();
}

std::string TCustomThread::DisplayName() const {
  if (thread_name_.empty()) return ClassName();
  return thread_name_ + " {" + ClassName() + "}";
}

void TCustomThread::NameThreadForDebugging(const std::string& name, long thread_id) {
  NameThreadForDebuggers(name, thread_id);
}

void TCustomThread::Start() {
  thread_ = std::thread([this] {
    // Execute handles its own failures; nothing may leave a thread.
    try {
      Execute();
    } catch (...) {
    }
    finished_ = true;
    Finishing();
  });
}

void TCustomThread::Terminate() {
  {
    std::lock_guard<std::mutex> lock(sleep_mutex_);
    terminated_ = true;
  }
  sleep_cv_.notify_all();
}

void TCustomThread::SleepUnlessTerminated(unsigned ms) {
  std::unique_lock<std::mutex> lock(sleep_mutex_);
  sleep_cv_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_.load(); });
}

void TCustomThread::Join() {
  if (thread_.joinable()) thread_.join();
}

THidDeviceReadThread::THidDeviceReadThread(THidDevice* device) : device_(device) {
  HidCaps caps;
  device_->QueryCapabilities(caps);
  report_.resize(caps.InputReportByteLength);
  Start();
}

THidDeviceReadThread::~THidDeviceReadThread() {
  Terminate();
  device_->InterruptRead();
  Join();
}

void THidDeviceReadThread::Finishing() {
  SetListening();
  device_->Synchronizer().Wake();
}

void THidDeviceReadThread::SetListening() {
  {
    std::lock_guard<std::mutex> lock(listening_mutex_);
    listening_ = true;
  }
  listening_cv_.notify_all();
}

void THidDeviceReadThread::WaitUntilListening() {
  std::unique_lock<std::mutex> lock(listening_mutex_);
  listening_cv_.wait_for(lock, std::chrono::seconds(2), [this] { return listening_; });
}

void THidDeviceReadThread::Execute() {
  NameThreadForDebugging(DisplayName());
  // Whether a read is outstanding: if so when the thread leaves, also by an
  // exception, it is cancelled.
  bool read_pending = false;
  std::string failure;
  try {
    ReadReports(read_pending);
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "unknown error";
  }
  if (read_pending) device_->CancelPending();
  // A thread that dies says so once: the device would otherwise stay claimed
  // and never deliver again, without a word.
  if (!failure.empty() && !Terminated()) {
    device_->SetReadFailure(failure);
    device_->Synchronizer().Synchronize([this] {
      if (device_->DataErrorHandler) device_->DataErrorHandler(device_, kReadThreadFailed);
    });
  }
}

void THidDeviceReadThread::ReadReports(bool& read_pending) {
  TSynchronizer& sync = device_->Synchronizer();
  while (!Terminated()) {
    read_pending = false;
    std::fill(report_.begin(), report_.end(), 0);
    const bool started = device_->BeginRead(report_.data(), report_.size());
    SetListening();
    if (!started) {
      last_error_ = device_->LastError();
      sync.Synchronize([this] {
        if (device_->DataErrorHandler) device_->DataErrorHandler(device_, last_error_);
      });
      SleepUnlessTerminated(device_->WaitSlice());
      continue;
    }
    read_pending = true;
    while (!Terminated()) {
      if (device_->WaitRead(device_->WaitSlice())) {
        read_pending = false;
        break;
      }
    }
    if (Terminated()) break;
    num_bytes_read_ = static_cast<std::uint32_t>(std::min(device_->FinishRead(), report_.size()));
    if (num_bytes_read_ > 0) {
      const auto size = static_cast<std::uint16_t>(num_bytes_read_ - 1);
      sync.Synchronize([this, size] {
        const THidDataEvent& handler = device_->DataHandler();
        if (handler) handler(device_, report_[0], report_.data() + 1, size);
      });
    }
  }
}

}  // namespace mvx
