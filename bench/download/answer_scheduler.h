// The emulated device's time on a thread of its own, as a device in another
// process would have it, with every delay lengthened by a fixed number of
// microseconds: with the model's latency at 0 ms, each answer leaves that many
// microseconds after the command arrived. The thread sleeps until shortly
// before a call is due and spins the rest, so the delay holds to a few
// microseconds even on a busy machine; it records how late each answer really
// left.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "emulator/scheduler.h"

namespace mvx::bench {

class AnswerScheduler : public emu::IScheduler {
 public:
  explicit AnswerScheduler(std::chrono::microseconds extra);
  ~AnswerScheduler() override;
  AnswerScheduler(const AnswerScheduler&) = delete;
  AnswerScheduler& operator=(const AnswerScheduler&) = delete;

  void After(std::uint32_t delay_ms, std::function<void()> call) override;
  // Without extra delay an answer leaves at once, from the thread that sent
  // the command, as a device that answers within the same USB frame would
  // have it queued before the tool looks for it.
  bool DueAtOnce(std::uint32_t delay_ms) override;

  // The calls asked for without a delay of their own (the answers), and the
  // mean time from asking to running them.
  struct Answers {
    std::uint64_t Count = 0;
    double MeanDelayUs = 0;
  };
  Answers Measured() const;
  void ResetMeasure();

 private:
  using Clock = std::chrono::steady_clock;
  struct Call {
    std::function<void()> Run;
    Clock::time_point Asked;
    bool Answer = false;
  };
  void Loop();

  const std::chrono::microseconds extra_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
  bool running_ = false;  // the thread is running a call
  std::uint64_t sequence_ = 0;
  std::multimap<std::pair<Clock::time_point, std::uint64_t>, Call> agenda_;
  std::uint64_t answers_ = 0;
  double answer_delay_us_ = 0;
  std::thread thread_;
};

}  // namespace mvx::bench
