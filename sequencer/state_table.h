// The sequencer's states: their fixed numbers (they appear in the log as
// "%d status"), their names and the step of the main window that each runs.
#pragma once

#include <span>

namespace mvx {

class TForm1;

// One row per state: number, name, step. The numbers and names never change;
// the step is an operation of the main window, or none for a state that only
// waits for something outside the machine (a device, the restart watchdog).
#define MVX_SEQUENCER_STATES(X)                        \
  X(0, Initial, nullptr)                               \
  X(1, Idle, nullptr)                                  \
  X(2, SetClock, &TForm1::SetClock)                    \
  X(3, ClockReply, &TForm1::ClockReply)                \
  X(4, VersionReply, &TForm1::VersionReply)            \
  X(41, SerialReply, &TForm1::SerialReply)             \
  X(39, KindReply, &TForm1::KindReply)                 \
  X(40, DetailReply, &TForm1::DetailReply)             \
  X(50, LanguageReply, &TForm1::LanguageReply)         \
  X(5, FileInfoReply, &TForm1::FileInfoReply)          \
  X(7, DeleteReply, &TForm1::DeleteReply)              \
  X(8, DownloadBegin, &TForm1::DownloadBegin)          \
  X(9, DownloadTransfer, &TForm1::DownloadTransfer)    \
  X(10, VerifyBegin, &TForm1::VerifyBegin)             \
  X(12, VerifyReply, &TForm1::VerifyReply)             \
  X(13, BackupReply, &TForm1::BackupReply)             \
  X(14, AwaitRestart, nullptr)                         \
  X(16, RequeryVersion, &TForm1::RequeryVersion)       \
  X(20, DigestReply, &TForm1::DigestReply)             \
  X(21, NewVersionReply, &TForm1::NewVersionReply)     \
  X(32, SerialInfoReply, &TForm1::SerialInfoReply)     \
  X(33, UploadTransfer, &TForm1::UploadTransfer)       \
  X(34, SetSerialReply, &TForm1::SetSerialReply)       \
  X(35, ClearReply, &TForm1::ClearReply)               \
  X(36, PostCheckBegin, &TForm1::PostCheckBegin)       \
  X(37, PostKindReply, &TForm1::PostKindReply)         \
  X(44, FormatBegin, &TForm1::FormatBegin)             \
  X(42, FormatStartReply, &TForm1::FormatStartReply)   \
  X(43, FormatReadyReply, &TForm1::FormatReadyReply)   \
  X(46, FormatResetReply, &TForm1::FormatResetReply)   \
  X(47, FormatSizeReply, &TForm1::FormatSizeReply)     \
  X(48, PostDetailBegin, &TForm1::PostDetailBegin)     \
  X(38, PostDetailReply, &TForm1::PostDetailReply)     \
  X(49, PostLanguageReply, &TForm1::PostLanguageReply) \
  X(45, Finished, &TForm1::Finished)                   \
  X(99, Closing, &TForm1::CloseDevice)

// The state numbers by name: SequencerState = state::KindReply.
namespace state {
#define MVX_STATE_CONSTANT(number, name, step) name = (number),
enum : int { MVX_SEQUENCER_STATES(MVX_STATE_CONSTANT) };
#undef MVX_STATE_CONSTANT
}  // namespace state

using StepFn = void (TForm1::*)();

struct StateRow {
  int Number;
  const char* Name;
  StepFn Step;  // nullptr: the state has no step
};

// Every state, in the order of the table above.
std::span<const StateRow> StateTable();
// The row of a state number, or nullptr for a number outside the table.
const StateRow* FindState(int number);

}  // namespace mvx
