// The tick: one step per tick while the device is ready, the state logged once
// per change, the handler away while a step runs and back on every way out.
#include <gtest/gtest.h>

#include <stdexcept>

#include "tests/sequencer/machine.h"

namespace mvx {
namespace {

class TickTest : public ::testing::Test, protected Machine {};

TEST_F(TickTest, OneStepPerTickAndEachStateLoggedOnce) {
  Tick();
  Tick();
  Tick();
  EXPECT_EQ(bench.SentLines(), std::vector<std::string>{"RTC SET 818413200"});
  EXPECT_EQ(bench.NoteLines(), (std::vector<std::string>{"2 status", "3 status"}));
  // A state entered and left within one tick never shows.
  bench.Operator.Answers = {"OK"};
  Answer("OK");
  Answer("OK 1.0");
  Answer("OK 0 0 ABCDE01234");
  Tick();
  EXPECT_EQ(bench.NoteLines(), (std::vector<std::string>{"2 status", "3 status", "4 status",
                                                         "current version[1.0] updatetype[1]",
                                                         "41 status", "5 status"}));
}

TEST_F(TickTest, WithoutDeviceOnlyLogsAndSetsMenus) {
  form.DeviceReady = false;
  form.SequencerState = state::AwaitRestart;
  Tick();
  EXPECT_TRUE(bench.SentLines().empty());
  EXPECT_EQ(bench.NoteLines(), std::vector<std::string>{"14 status"});
  EXPECT_FALSE(form.OpenFile.Enabled());
  EXPECT_FALSE(form.File1.Enabled());
  form.SequencerState = state::Idle;
  Tick();
  EXPECT_FALSE(form.OpenFile.Enabled());
  EXPECT_TRUE(form.File1.Enabled());
  form.DeviceReady = true;
  Tick();
  EXPECT_TRUE(form.OpenFile.Enabled());
}

// While no step can run, ticks repeat themselves: the timer sleeps until an
// event (anything passing through the form's error handler) wakes it.
TEST_F(TickTest, TickWithoutAStepParksTheTimerUntilAnEvent) {
  form.Timer1.SetEnabled(true);
  Tick();
  EXPECT_FALSE(form.Timer1.Parked());  // a step ran
  form.DeviceReady = false;
  form.SequencerState = state::AwaitRestart;
  Tick();
  EXPECT_TRUE(form.Timer1.Parked());
  EXPECT_TRUE(form.Timer1.Enabled());
  EXPECT_TRUE(form.Timer1.HasHandler());
  form.Guarded([] {});
  EXPECT_FALSE(form.Timer1.Parked());
  form.DeviceReady = true;
  form.SequencerState = state::RequeryVersion;
  Tick();
  EXPECT_FALSE(form.Timer1.Parked());
}

TEST_F(TickTest, NoStepWhilePackageIsBeingChecked) {
  form.PackageCheckInProgress = true;
  Tick();
  EXPECT_TRUE(bench.SentLines().empty());
  form.PackageCheckInProgress = false;
  Tick();
  EXPECT_EQ(bench.SentLines().size(), 1u);
}

TEST_F(TickTest, HandlerIsAwayWhileAStepHoldsABox) {
  bool attached_during_box = true;
  std::size_t lines_before = 0;
  bench.Operator.WhileOpen = [&](const ScriptedOperator::Record&) {
    attached_during_box = form.Timer1.HasHandler();
    lines_before = bench.Recorded.Lines().Count();
    form.SequencerState = state::ClockReply;  // would log if the nested tick ran
    form.Timer1Timer();
    attached_during_box = attached_during_box || form.Timer1.HasHandler();
    EXPECT_EQ(bench.Recorded.Lines().Count(), lines_before);
    form.SequencerState = state::SerialReply;
  };
  Identify("1.0", "OK 0 0 ABCDE01234");
  EXPECT_FALSE(attached_during_box);
  EXPECT_TRUE(form.Timer1.HasHandler());
}

TEST_F(TickTest, ErrorInAStepIsShownAndTicksGoOn) {
  bool thrown = false;
  bench.Operator.WhileOpen = [&](const ScriptedOperator::Record&) {
    if (thrown) return;
    thrown = true;
    throw std::runtime_error("disk full");
  };
  Identify("1.0", "OK 0 0 ABCDE01234");
  EXPECT_EQ(Boxes(), std::vector<std::string>{"MessageBox[error]|MVXTVUP|disk full|OK"});
  EXPECT_TRUE(form.Timer1.HasHandler());
  EXPECT_FALSE(form.TickInProgress);
  EXPECT_EQ(form.SequencerState, state::SerialReply);
}

TEST_F(TickTest, StatesWithoutStepRunNothing) {
  for (int number :
       std::initializer_list<int>{state::Initial, state::Idle, state::AwaitRestart, 77}) {
    form.SequencerState = number;
    form.DispatchStep();
    EXPECT_TRUE(bench.SentLines().empty()) << number;
    EXPECT_TRUE(form.DeviceReady) << number;
  }
  EXPECT_EQ(FindState(77), nullptr);
  form.SequencerState = state::Closing;
  form.DispatchStep();
  EXPECT_FALSE(form.DeviceReady);
}

TEST_F(TickTest, StopSequencerEndsTheRun) {
  form.Timer1.SetEnabled(true);
  form.SequencerState = state::DownloadTransfer;
  form.StopSequencer();
  EXPECT_EQ(bench.NoteLines().back(), "Boot loader : Stopped");
  EXPECT_EQ(form.SequencerState, state::Idle);
  EXPECT_FALSE(form.DeviceReady);
  EXPECT_FALSE(form.Timer1.Enabled());
}

// The device did not come back within the watchdog's time: its version is
// asked for all the same, into the void when no device is found.
TEST_F(TickTest, RestartWatchdogAsksForTheVersion) {
  form.DeviceReady = false;
  form.SequencerState = state::AwaitRestart;
  form.Timer2.SetEnabled(true);
  form.Timer2Timer();
  EXPECT_FALSE(form.Timer2.Enabled());
  EXPECT_FALSE(form.DeviceReady);
  EXPECT_EQ(bench.SentLines(), std::vector<std::string>{"VER"});
  EXPECT_EQ(form.SequencerState, state::NewVersionReply);
}

TEST(StateTableTest, NumbersAreUnique) {
  const auto table = StateTable();
  for (std::size_t i = 0; i < table.size(); ++i)
    for (std::size_t k = i + 1; k < table.size(); ++k)
      EXPECT_NE(table[i].Number, table[k].Number) << table[i].Name << " " << table[k].Name;
  EXPECT_EQ(table.size(), 36u);
}

}  // namespace
}  // namespace mvx
