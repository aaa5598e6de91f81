// The device file-system format after a version-up (states 44, 42, 43, 46, 47).
#include "app/form.h"
#include "base/text.h"
#include "deviceops/file_exchange.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

// Five attempts run on their own; after every five failures the operator
// decides whether to go on.
constexpr std::int32_t kAttemptsBeforeAsking = 5;
// A file system smaller than this did not come out of the format whole.
constexpr long long kFormattedMinimumBytes = 500000000;

}  // namespace

void TForm1::FormatBegin() {
  // Only firmware from sub-code "016" on can format; the comparison is by
  // characters, as the device's version texts are compared.
  if (!CheckBoxFileFormat.Checked() || NewVersionSubCode < std::string("016") || !FormatAllowed) {
    SequencerState = state::PostDetailBegin;
    return;
  }
  if (FormatAttempts >= kAttemptsBeforeAsking) {
    const std::optional<MsgAnswer> answer =
        RunBox("format error!.\r\nAre you retry?", "ERROR!", MsgButtons::OkCancel, MsgIcon::Error);
    // Another unit may be in the cradle by now: it is not formatted on this
    // run's word.
    if (!answer) return;
    if (*answer != MsgAnswer::Ok) {
      SequencerState = state::PostDetailBegin;
      return;
    }
    FormatAttempts = 0;
  }
  Services.Clock.Sleep(2000);
  Label1.SetCaption("FileSystem Format Start");
  SendCommand("fmts");
  LabelFormatStatus.SetCaption("Format ...");
  ++FormatAttempts;
  SequencerState = state::FormatStartReply;
}

void TForm1::FormatStartReply() {
  if (!TakeResponse()) return;
  SequencerState =
      StartsWith(ResponseText, "filecmd_job 8") ? state::FormatReadyReply : state::FormatBegin;
}

void TForm1::FormatReadyReply() {
  if (!TakeResponse()) return;
  if (!StartsWith(ResponseText, "OK")) {
    SequencerState = state::FormatBegin;
    return;
  }
  Services.Clock.Sleep(1000);
  SendCommand("fres");
  SequencerState = state::FormatResetReply;
}

void TForm1::FormatResetReply() {
  if (!TakeResponse()) return;
  SequencerState =
      StartsWith(ResponseText, "filecmd_job 16") ? state::FormatSizeReply : state::FormatBegin;
}

void TForm1::FormatSizeReply() {
  if (!TakeResponse()) return;
  if (!StartsWith(ResponseText, "OK") ||
      deviceops::FormatByteCount(ResponseText) < kFormattedMinimumBytes) {
    SequencerState = state::FormatBegin;
    return;
  }
  LabelFormatStatus.SetCaption("Format completed.");
  SequencerState = state::PostDetailBegin;
}

}  // namespace mvx
