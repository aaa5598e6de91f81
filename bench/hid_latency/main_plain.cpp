// The latency benchmark on a plain blocking message loop (a queue and a
// condition variable): the figure the core's own hand-over costs, for
// comparison with the Qt loop's.
//
//   bench_hid_latency_plain [reports]     (default 10000)
#include <cstdlib>
#include <deque>

#include "bench/hid_latency/latency.h"

namespace {

class BlockingLoop : public mvx::IEventLoop {
 public:
  std::unique_ptr<mvx::ITimerSource> CreateTimer(std::function<void()>) override {
    struct NoTimer : mvx::ITimerSource {
      void Start(unsigned) override {}
      void Stop() override {}
    };
    return std::make_unique<NoTimer>();
  }
  std::unique_ptr<mvx::IWatch> WatchFd(int, std::function<void()>) override {
    return std::make_unique<mvx::IWatch>();
  }
  void Post(std::function<void()> call) override {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      posted_.push_back(std::move(call));
    }
    cv_.notify_one();
  }
  void RunUntil(const std::function<bool()>& done) {
    while (!done()) {
      std::function<void()> call;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        cv_.wait_for(lock, std::chrono::milliseconds(10), [this] { return !posted_.empty(); });
        if (posted_.empty()) continue;
        call = std::move(posted_.front());
        posted_.pop_front();
      }
      call();
    }
  }

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void()>> posted_;
};

}  // namespace

int main(int argc, char** argv) {
  const int reports = argc > 1 ? std::atoi(argv[1]) : 10000;
  BlockingLoop loop;
  auto micros = mvx::bench::MeasureHidLatency(
      loop, [&](const std::function<bool()>& done) { loop.RunUntil(done); }, reports, 200);
  return mvx::bench::PrintLatency("plain", std::move(micros));
}
