// The tick, the dispatch, the abort and the restart watchdog.
#include "app/form.h"
#include "base/text.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

// Runs the step that the state table gives for a state; nothing for a state
// without a step or outside the table.
void RunStepOf(TForm1& form, int number) {
  const StateRow* row = FindState(number);
  if (row != nullptr && row->Step != nullptr) (form.*(row->Step))();
}

}  // namespace

void TForm1::Timer1Timer() {
  // A call that reaches the tick while another tick is still inside its step
  // (through the nested loop of a box the step holds open) must neither run
  // a step nor attach the handler the running tick has taken away.
  if (TickInProgress) return;
  TickInProgress = true;
  // No further tick may start while this one runs, also not from the nested
  // loop of a box that a step opens.
  Timer1.ClearOnTimer();
  struct Reattach {
    TForm1& form;
    bool idle = false;
    ~Reattach() {
      form.TickInProgress = false;
      form.Timer1.SetOnTimer([f = &form] { f->Timer1Timer(); });
      // A tick that ran no step (no device ready, as while the restarted
      // device is awaited) is repeated unchanged by every further tick until
      // an event changes the state, the device or the package; every event
      // wakes the timer again.
      if (idle) form.Timer1.Park();
    }
  } reattach{*this};
  Guarded([this, &reattach] {
    if (SequencerState != Timer1.Tag) {
      LogNote(Format("%d status", SequencerState));
      Timer1.Tag = SequencerState;
    }
    // A package whose check still has its dialogs open is not yet a package
    // to install.
    const bool step = DeviceReady && !PackageCheckInProgress;
    if (step) DispatchStep();
    UpdateMenus(DeviceReady ? SequencerState == state::Idle : false);
    reattach.idle = !step;
  });
}

void TForm1::DispatchStep() {
  RunStepOf(*this, SequencerState);
}

void TForm1::StopSequencer() {
  LogNote("Boot loader : Stopped");
  SequencerState = state::Idle;
  DeviceReady = false;
  Timer1.SetEnabled(false);
  CloseDevice();
}

void TForm1::Timer2Timer() {
  Timer2.SetEnabled(false);
  // A unit still listed has not restarted yet, or did so unseen: it is asked
  // itself, never another device in its place.
  if (InstallingUnitListed && !DeviceReady) {
    if (ClaimListed(InstalledUnit)) {
      RunStepOf(*this, state::RequeryVersion);
      return;
    }
    InstallingUnitListed = false;
  }
  if (!DeviceReady) SelectDevice(RestartBystanders);
  // Whether or not a device came back, the version is asked for: without a
  // device the line only reaches the log and the machine waits in the next
  // state for a device change.
  RunStepOf(*this, state::RequeryVersion);
}

}  // namespace mvx
