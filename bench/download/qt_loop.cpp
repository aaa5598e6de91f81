#include "bench/download/qt_loop.h"

#include <QMetaObject>
#include <QSocketNotifier>
#include <QTimer>
#include <chrono>
#include <ctime>
#include <thread>

namespace mvx::bench {
namespace {

class QtTimerSource : public ITimerSource {
 public:
  QtTimerSource(std::function<void()> on_fire, std::atomic<std::uint64_t>& events) {
    // The tool's 1 ms timer must not be rounded to coarse slots.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, [on_fire = std::move(on_fire), &events] {
      ++events;
      on_fire();
    });
  }
  void Start(unsigned interval_ms) override { timer_.start(static_cast<int>(interval_ms)); }
  void Stop() override { timer_.stop(); }

 private:
  QTimer timer_;
};

class QtWatch : public IWatch {
 public:
  QtWatch(int fd, std::function<void()> on_ready) : notifier_(fd, QSocketNotifier::Read) {
    QObject::connect(&notifier_, &QSocketNotifier::activated,
                     [on_ready = std::move(on_ready)] { on_ready(); });
  }

 private:
  QSocketNotifier notifier_;
};

}  // namespace

std::unique_ptr<ITimerSource> QtLoop::CreateTimer(std::function<void()> on_fire) {
  return std::make_unique<QtTimerSource>(std::move(on_fire), timer_events_);
}

void QtLoop::Post(std::function<void()> call) {
  QMetaObject::invokeMethod(&context_, std::move(call), Qt::QueuedConnection);
}

std::unique_ptr<IWatch> QtLoop::WatchFd(int fd, std::function<void()> on_ready) {
  return std::make_unique<QtWatch>(fd, std::move(on_ready));
}

LocalTime QtLoop::Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  std::tm tm{};
  localtime_r(&seconds, &tm);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,          tm.tm_hour,
                   tm.tm_min,         tm.tm_sec,     static_cast<int>(ms)};
}

void QtLoop::Sleep(unsigned ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

}  // namespace mvx::bench
