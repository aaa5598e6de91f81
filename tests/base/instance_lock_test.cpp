// The one-copy lock: a second holder is refused while the first lives, and
// the lock is free again once its holder is gone, also when a process dies
// holding it.
#include "base/instance_lock.h"

#include <gtest/gtest.h>

#include <string>
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace mvx {
namespace {

using Outcome = InstanceLock::Outcome;

std::string UniqueName(const char* what) {
#ifdef _WIN32
  return std::string(what) + "-test";
#else
  return std::string(what) + "-test-" + std::to_string(getpid());
#endif
}

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
  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    Outcome outcome;
    auto lock = InstanceLock::Acquire(name, outcome);
    const char held = outcome == Outcome::Held ? 'y' : 'n';
    (void)!write(ready[1], &held, 1);
    pause();  // killed while it holds the lock
    _exit(0);
  }
  close(ready[1]);
  char held = 0;
  ASSERT_EQ(read(ready[0], &held, 1), 1);
  close(ready[0]);
  EXPECT_EQ(held, 'y');
  Outcome outcome;
  EXPECT_FALSE(InstanceLock::Acquire(name, outcome));
  EXPECT_EQ(outcome, Outcome::Busy);
  kill(child, SIGKILL);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(InstanceLock::Acquire(name, outcome));
  EXPECT_EQ(outcome, Outcome::Held);
}
#endif

}  // namespace
}  // namespace mvx
