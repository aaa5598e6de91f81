// The sequencer's tick, dispatch, abort and restart watchdog.
#include "app/form.h"
#include "app/text.h"

namespace mvx {

void TForm1::Timer1Timer() {
  // Detached while the step runs: no further tick may start, not even from the
  // nested loop of a modal box that the step opens.
  Timer1.ClearOnTimer();
  try {
    if (SequencerState != Timer1.Tag) {
      LogNote(Format("%d status", SequencerState));
      Timer1.Tag = SequencerState;
    }
    if (DeviceReady && !PackageCheckInProgress) DispatchStep();
    UpdateMenus(DeviceReady && SequencerState == 1);
  } catch (const std::exception& e) {
    ShowError(e.what());
  } catch (...) {
    ShowError("Unknown error");
  }
  Timer1.SetOnTimer([this] { Timer1Timer(); });
}

namespace {

using Step = void (TForm1::*)();

// The steps by state; a state without a step waits.
Step StepOf(int state) {
  switch (state) {
    case 99:
      return &TForm1::CloseDevice;
    default:
      return nullptr;
  }
}

}  // namespace

void TForm1::DispatchStep() {
  if (Step step = StepOf(SequencerState)) (this->*step)();
}

void TForm1::StopSequencer() {
  LogNote("Boot loader : Stopped");
  SequencerState = 1;
  DeviceReady = false;
  Timer1.SetEnabled(false);
  CloseDevice();
}

void TForm1::Timer2Timer() {
  Timer2.SetEnabled(false);
  if (!DeviceReady) SelectDevice();
  if (Step step = StepOf(16)) (this->*step)();
}

}  // namespace mvx
