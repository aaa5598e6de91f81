// The component timer on the loop's timers: it runs only while enabled, with an
// interval and a handler, and every change restarts its period.
#include <gtest/gtest.h>

#include "app/timer.h"
#include "scripted/virtual_loop.h"

namespace mvx {
namespace {

TEST(TimerTest, RunsOnlyWhenEnabledWithIntervalAndHandler) {
  struct Case {
    unsigned interval;
    bool enabled;
    bool handler;
    int ticks_in_100ms;
  };
  const Case cases[] = {
      {10, true, true, 10}, {10, false, true, 0}, {10, true, false, 0},
      {0, true, true, 0},   {1, true, true, 100}, {30000, true, true, 0},
  };
  for (const auto& c : cases) {
    VirtualLoop loop;
    TTimer timer(loop, c.interval);
    int ticks = 0;
    if (c.handler) timer.SetOnTimer([&] { ++ticks; });
    timer.SetEnabled(c.enabled);
    loop.RunFor(100);
    EXPECT_EQ(ticks, c.ticks_in_100ms) << c.interval << c.enabled << c.handler;
  }
}

TEST(TimerTest, ChangesRestartThePeriod) {
  VirtualLoop loop;
  TTimer timer(loop, 30000);
  int ticks = 0;
  timer.SetOnTimer([&] { ++ticks; });
  timer.SetEnabled(true);
  loop.RunFor(20000);
  timer.SetInterval(25000);  // a new period from now
  loop.RunFor(20000);
  EXPECT_EQ(ticks, 0);
  loop.RunFor(5000);
  EXPECT_EQ(ticks, 1);
  // Disabling and enabling again starts the whole period anew.
  loop.RunFor(20000);
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  loop.RunFor(20000);
  EXPECT_EQ(ticks, 1);
  loop.RunFor(5000);
  EXPECT_EQ(ticks, 2);
}

TEST(TimerTest, HandlerDetachedWhileItRunsGetsNoNestedTick) {
  VirtualLoop loop;
  TTimer timer(loop, 1);
  int ticks = 0, nested = 0;
  bool running = false;
  std::function<void()> handler = [&] {
    if (running) ++nested;
    running = true;
    ++ticks;
    timer.ClearOnTimer();
    timer.FireNow();  // a tick from a nested loop finds no handler
    loop.RunFor(5);   // time passes inside the step (a modal box is open)
    timer.SetOnTimer(handler);
    running = false;
  };
  timer.SetOnTimer(handler);
  timer.SetEnabled(true);
  loop.RunFor(50);
  EXPECT_GT(ticks, 3);
  EXPECT_EQ(nested, 0);
}

TEST(TimerTest, FireNowOnlyWhileRunning) {
  VirtualLoop loop;
  TTimer timer(loop, 1);
  int ticks = 0;
  timer.FireNow();
  timer.SetOnTimer([&] { ++ticks; });
  timer.FireNow();  // not enabled
  timer.SetEnabled(true);
  timer.FireNow();
  timer.SetInterval(0);
  timer.FireNow();
  EXPECT_EQ(ticks, 1);
  EXPECT_EQ(timer.Tag, 0);
}

}  // namespace
}  // namespace mvx
