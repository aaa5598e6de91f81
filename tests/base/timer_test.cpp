// The component timer on the loop's timers: it runs only while enabled, with an
// interval and a handler, and every change restarts its period.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/timer.h"
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

// A parked timer stays enabled but gets no ticks from the loop until it is
// woken or changed; FireNow still gives one.
TEST(TimerTest, ParkedTimerSleepsUntilWokenOrChanged) {
  struct Case {
    const char* wake;
    std::function<void(TTimer&, int&)> act;
  };
  const Case cases[] = {
      {"Unpark", [](TTimer& t, int&) { t.Unpark(); }},
      {"enabled again", [](TTimer& t, int&) { t.SetEnabled(true); }},
      {"new interval", [](TTimer& t, int&) { t.SetInterval(2); }},
      {"handler attached again", [](TTimer& t, int& n) { t.SetOnTimer([&n] { ++n; }); }},
  };
  for (const Case& c : cases) {
    VirtualLoop loop;
    TTimer timer(loop, 1);
    int ticks = 0;
    timer.SetOnTimer([&] { ++ticks; });
    timer.SetEnabled(true);
    loop.RunFor(10);
    EXPECT_EQ(ticks, 10) << c.wake;
    timer.Park();
    EXPECT_TRUE(timer.Parked());
    EXPECT_TRUE(timer.Enabled());
    loop.RunFor(100);
    EXPECT_EQ(ticks, 10) << c.wake;
    timer.FireNow();
    EXPECT_EQ(ticks, 11) << c.wake;
    c.act(timer, ticks);
    EXPECT_FALSE(timer.Parked()) << c.wake;
    loop.RunFor(20);
    EXPECT_GE(ticks, 20) << c.wake;
  }
}

TEST(TimerTest, OnlyARunningTimerParks) {
  VirtualLoop loop;
  TTimer timer(loop, 1);
  int ticks = 0;
  timer.SetOnTimer([&] { ++ticks; });
  timer.Park();  // not enabled: nothing to park
  EXPECT_FALSE(timer.Parked());
  timer.SetEnabled(true);
  loop.RunFor(5);
  EXPECT_EQ(ticks, 5);
  // Disabled while parked, then enabled: it runs, as any enabled timer.
  timer.Park();
  timer.SetEnabled(false);
  timer.SetEnabled(true);
  loop.RunFor(5);
  EXPECT_EQ(ticks, 10);
}

// A call that the running call asks to run next comes before calls queued
// earlier; from elsewhere it is simply queued.
TEST(VirtualLoopTest, PostNextRunsRightAfterTheCurrentCall) {
  VirtualLoop loop;
  std::vector<std::string> order;
  loop.Post([&] {
    order.push_back("A");
    loop.Post([&] { order.push_back("C"); });
    loop.PostNext([&] {
      order.push_back("B1");
      loop.PostNext([&] { order.push_back("B2"); });
    });
  });
  loop.Post([&] { order.push_back("D"); });
  loop.PostNext([&] { order.push_back("E"); });  // not inside a call: queued
  loop.RunPending();
  EXPECT_EQ(order, (std::vector<std::string>{"A", "B1", "B2", "D", "E", "C"}));
}

}  // namespace
}  // namespace mvx
