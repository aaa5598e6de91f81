// The one-copy lock: a second holder is refused while the first lives, and
// the lock is free again once its holder is gone, also when a process dies
// holding it. The tool's lock on top of it: which copies run side by side,
// bound to a cradle or not, also when two start at the same moment.
#include "base/instance_lock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "base/tool_lock.h"
#ifdef _WIN32
#include <process.h>
#else
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace mvx {
namespace {

using Outcome = InstanceLock::Outcome;

std::string UniqueName(const char* what) {
#ifdef _WIN32
  return std::string(what) + "-test-" + std::to_string(_getpid());
#else
  return std::string(what) + "-test-" + std::to_string(getpid());
#endif
}

#ifndef _WIN32
void Kill(pid_t child) {
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
}

// A child process that takes a lock with take (true: held) and keeps it until
// it is killed; its pid once it has taken it, -1 when it could not.
pid_t HolderUntilKilled(const std::function<bool()>& take) {
  int ready[2];
  if (pipe(ready) != 0) return -1;
  const pid_t child = fork();
  if (child == 0) {
    const char held = take() ? 'y' : 'n';
    (void)!write(ready[1], &held, 1);
    pause();  // killed while it holds the lock
    _exit(0);
  }
  close(ready[1]);
  char held = 0;
  const bool told = child > 0 && read(ready[0], &held, 1) == 1;
  close(ready[0]);
  if (told && held == 'y') return child;
  if (child > 0) Kill(child);
  return -1;
}

#endif

TEST(InstanceLockTest, SecondHolderIsRefusedUntilTheFirstLetsGo) {
  const std::string name = UniqueName("pair");
  Outcome first_outcome, second_outcome, other_outcome;
  auto first = InstanceLock::Acquire(name, first_outcome);
  ASSERT_EQ(first_outcome, Outcome::Held);
  ASSERT_TRUE(first);
  EXPECT_FALSE(InstanceLock::Acquire(name, second_outcome));
  EXPECT_EQ(second_outcome, Outcome::Busy);
  // Another name is another lock (a cradle of its own).
  EXPECT_TRUE(InstanceLock::Acquire(name + "-other", other_outcome));
  EXPECT_EQ(other_outcome, Outcome::Held);
  first.reset();
  EXPECT_TRUE(InstanceLock::Acquire(name, second_outcome));
  EXPECT_EQ(second_outcome, Outcome::Held);
}

#ifndef _WIN32
TEST(InstanceLockTest, ProcessThatDiesHoldingItLeavesItFree) {
  const std::string name = UniqueName("died");
  std::unique_ptr<InstanceLock> kept;
  const pid_t child = HolderUntilKilled([&] {
    Outcome outcome;
    kept = InstanceLock::Acquire(name, outcome);
    return outcome == Outcome::Held;
  });
  ASSERT_GT(child, 0);
  Outcome outcome;
  EXPECT_FALSE(InstanceLock::Acquire(name, outcome));
  EXPECT_EQ(outcome, Outcome::Busy);
  Kill(child);
  EXPECT_TRUE(InstanceLock::Acquire(name, outcome));
  EXPECT_EQ(outcome, Outcome::Held);
}
#endif

using Tool = ToolLock::Outcome;

// A lock family of its own for each use, apart from a running tool's.
std::string Family(const std::string& what) {
  return UniqueName(what.c_str()) + "-";
}

struct PairCase {
  const char* name;
  std::string first, second;  // cradles; empty: the window or an unbound copy
  Tool second_outcome;
};

const PairCase kPairs[] = {
    {"unbound twice", "", "", Tool::Busy},
    {"other cradles", "1-2", "1-3", Tool::Held},
    {"same cradle", "1-2", "1-2", Tool::CradleBusy},
    {"bound beside the window", "", "1-2", Tool::Busy},
    {"window beside a bound copy", "1-2", "", Tool::Busy},
};

// The second copy starts while the first runs; a refused one starts once the
// first has ended.
TEST(ToolLockTest, SecondCopyBesideTheFirst) {
  for (const PairCase& c : kPairs) {
    const std::string family = Family(c.name);
    Tool first_outcome, second_outcome;
    auto first = ToolLock::AcquireIn(family, c.first, first_outcome, nullptr);
    ASSERT_EQ(first_outcome, Tool::Held) << c.name;
    auto second = ToolLock::AcquireIn(family, c.second, second_outcome, nullptr,
                                      std::chrono::milliseconds(100));
    EXPECT_EQ(second_outcome, c.second_outcome) << c.name;
    EXPECT_EQ(second != nullptr, c.second_outcome == Tool::Held) << c.name;
    if (second) continue;
    first.reset();
    second = ToolLock::AcquireIn(family, c.second, second_outcome, nullptr);
    EXPECT_EQ(second_outcome, Tool::Held) << c.name << ", after the first ended";
  }
}

// Both start at the same moment, many times over: never both through where
// one excludes the other, never both refused, and bound copies of different
// cradles always both run.
TEST(ToolLockTest, TwoStartingTogether) {
  for (const PairCase& c : kPairs) {
    for (int round = 0; round < 20; ++round) {
      const std::string family = Family(std::string(c.name) + std::to_string(round));
      // A bound copy refused by the window would wait out the whole start
      // wait; what it waits for is the same with a shorter one.
      const bool window = c.first.empty() || c.second.empty();
      const auto wait = window ? std::chrono::milliseconds(200) : ToolLock::kStartWait;
      std::atomic<int> ready{0};
      Tool outcomes[2];
      std::unique_ptr<ToolLock> locks[2];
      auto start = [&](int i, const std::string& cradle) {
        ++ready;
        while (ready.load() < 2) std::this_thread::yield();
        locks[i] = ToolLock::AcquireIn(family, cradle, outcomes[i], nullptr, wait);
      };
      std::thread other(start, 1, c.second);
      start(0, c.first);
      other.join();
      const int held = static_cast<int>(std::count(outcomes, outcomes + 2, Tool::Held));
      if (c.second_outcome == Tool::Held) {
        EXPECT_EQ(held, 2) << c.name << ", round " << round;
        continue;
      }
      ASSERT_EQ(held, 1) << c.name << ", round " << round;
      EXPECT_EQ(outcomes[0] == Tool::Held ? outcomes[1] : outcomes[0], c.second_outcome)
          << c.name << ", round " << round;
    }
  }
}

TEST(ToolLockTest, OddAndOverLongCradleNames) {
  const std::string long_path =
      "PCIROOT(0)#PCI(1400)#USBROOT(0)" + std::string(500, '#') + "USB(3)";
  const std::string names[] = {"1-2.3",
                               "PCIROOT(0)#PCI(1400)#USBROOT(0)#USB(2)#USB(3)",
                               "Port_#0003.Hub_#0001",
                               long_path,
                               long_path + "x",
                               "a#b",
                               "a_b",
                               std::string("a\0b\xE3\x83", 5),
                               std::string(ToolLock::kMaxCradleLockName, 'c')};
  std::vector<std::string> made;
  for (const std::string& cradle : names) {
    const std::string name = ToolLock::CradleLockName(cradle);
    EXPECT_LE(name.size(), ToolLock::kMaxCradleLockName) << cradle;
    EXPECT_TRUE(std::all_of(name.begin(), name.end(), [](char ch) {
      return std::isalnum(static_cast<unsigned char>(ch)) || ch == '.' || ch == '_' || ch == '-';
    })) << name;
    made.push_back(name);
  }
  EXPECT_EQ(made[0], "cradle-1-2.3");
  std::sort(made.begin(), made.end());
  EXPECT_EQ(std::unique(made.begin(), made.end()), made.end()) << "two cradles share a lock";

  // Such a cradle is served by one copy at a time, beside the one whose name
  // differs only at the end.
  const std::string family = Family("odd");
  Tool outcome;
  auto lock = ToolLock::AcquireIn(family, long_path, outcome, nullptr);
  EXPECT_EQ(outcome, Tool::Held);
  EXPECT_FALSE(ToolLock::AcquireIn(family, long_path, outcome, nullptr));
  EXPECT_EQ(outcome, Tool::CradleBusy);
  auto beside = ToolLock::AcquireIn(family, long_path + "x", outcome, nullptr);
  EXPECT_EQ(outcome, Tool::Held);
}

#ifndef _WIN32
TEST(ToolLockTest, BoundCopyThatDiesFreesItsCradleAndThePc) {
  const std::string family = Family("bound-died");
  std::unique_ptr<ToolLock> kept;
  const pid_t child = HolderUntilKilled([&] {
    Tool outcome;
    kept = ToolLock::AcquireIn(family, "1-2", outcome, nullptr);
    return outcome == Tool::Held;
  });
  ASSERT_GT(child, 0);
  Tool outcome;
  EXPECT_FALSE(ToolLock::AcquireIn(family, "1-2", outcome, nullptr));
  EXPECT_EQ(outcome, Tool::CradleBusy);
  EXPECT_FALSE(ToolLock::AcquireIn(family, "", outcome, nullptr));
  EXPECT_EQ(outcome, Tool::Busy);
  Kill(child);
  EXPECT_TRUE(ToolLock::AcquireIn(family, "1-2", outcome, nullptr));
  EXPECT_EQ(outcome, Tool::Held);
  EXPECT_TRUE(ToolLock::AcquireIn(family, "", outcome, nullptr));
  EXPECT_EQ(outcome, Tool::Held);
}
#endif

}  // namespace
}  // namespace mvx
