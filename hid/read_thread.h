// TCustomThread: a platform thread with a name for debuggers, and
// THidDeviceReadThread: the loop that reads a claimed device's input reports
// one after the other and hands each to the GUI thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace mvx {

class THidDevice;

class TCustomThread {
 public:
  TCustomThread() = default;
  virtual ~TCustomThread();
  TCustomThread(const TCustomThread&) = delete;
  TCustomThread& operator=(const TCustomThread&) = delete;

  // The thread name, " {", the class name and "}"; the class name alone when
  // no name is set.
  virtual std::string DisplayName() const;
  virtual void SetThreadName(const std::string& name) { thread_name_ = name; }
  // Tells an attached debugger the name of a thread (-1: the calling thread).
  virtual void NameThreadForDebugging(const std::string& name, long thread_id = -1);
  virtual const char* ClassName() const = 0;

  const std::string& ThreadName() const { return thread_name_; }
  void Start();
  // Asks the thread to end and wakes it from a sleep.
  void Terminate();
  bool Terminated() const { return terminated_; }
  bool Finished() const { return finished_; }
  void Join();

 protected:
  virtual void Execute() = 0;
  // Runs on the thread after Execute has returned and Finished() holds.
  virtual void Finishing() {}
  // Sleeps ms, or less when Terminate is called meanwhile.
  void SleepUnlessTerminated(unsigned ms);

 private:
  std::mutex sleep_mutex_;
  std::condition_variable sleep_cv_;
  std::string thread_name_;
  std::thread thread_;
  std::atomic<bool> terminated_{false};
  std::atomic<bool> finished_{false};
};

class THidDeviceReadThread : public TCustomThread {
 public:
  // Sizes the report buffer once from the device's input report length and
  // starts running at once.
  explicit THidDeviceReadThread(THidDevice* device);
  ~THidDeviceReadThread() override;
  const char* ClassName() const override { return "THidDeviceReadThread"; }
  void Finishing() override;

  std::uint32_t NumBytesRead() const { return num_bytes_read_; }
  // Returns once the thread has made its first read attempt (or ended), so a
  // report the device sends right after the claim is not missed.
  void WaitUntilListening();

 protected:
  void Execute() override;

 private:
  // The read loop; read_pending tells whether a read is outstanding.
  void ReadReports(bool& read_pending);
  THidDevice* device_;
  std::vector<std::uint8_t> report_;
  void SetListening();

  std::atomic<std::uint32_t> num_bytes_read_{0};
  std::mutex listening_mutex_;
  std::condition_variable listening_cv_;
  bool listening_ = false;
  std::uint32_t last_error_ = 0;
};

}  // namespace mvx
