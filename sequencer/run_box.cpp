// The boxes a step opens, and the ends of a run that the steps share.
#include "app/form.h"
#include "sequencer/state_table.h"

namespace mvx {
namespace {

// How often something sent again (a command, an upload) is tried before the
// run gives up on it.
constexpr std::int32_t kTries = 3;

// What a run is while a box is open: the unit it holds and its number.
class RunStamp {
 public:
  explicit RunStamp(const TForm1& form)
      : form_(form), run_(form.RunNumber), device_(form.CurrentDevice) {}
  bool Stands() const { return form_.RunNumber == run_ && form_.CurrentDevice == device_; }

 private:
  const TForm1& form_;
  std::uint64_t run_;
  const THidDevice* device_;
};

}  // namespace

std::optional<MsgAnswer> TForm1::RunBox(const std::string& text, const std::string& caption,
                                        MsgButtons buttons, MsgIcon icon) {
  const RunStamp run(*this);
  const MsgAnswer answer = Services.Operator.MessageBox(text, caption, buttons, icon);
  if (!run.Stands()) return std::nullopt;
  return answer;
}

std::optional<MsgAnswer> TForm1::RunWarningDialog(const std::string& text) {
  const RunStamp run(*this);
  const MsgAnswer answer = Services.Operator.WarningDialog(text);
  if (!run.Stands()) return std::nullopt;
  return answer;
}

bool TForm1::RunErrorDialog(const std::string& text) {
  const RunStamp run(*this);
  Services.Operator.ErrorDialog(text);
  return run.Stands();
}

void TForm1::EndRun() {
  CloseDevice();
  Label1.SetCaption(kRemovePrompt);
  SequencerState = state::Closing;
}

void TForm1::EndRunWithError(const std::string& log_line, const std::string& text) {
  LogNote(log_line);
  Label1.SetCaption(text);
  if (!RunBox(text, "ERROR!", MsgButtons::Ok, MsgIcon::Error)) return;
  CloseDevice();
  SequencerState = state::Closing;
}

bool TForm1::TryAgain(std::int32_t& tries, const std::string& what, const std::string& text) {
  if (++tries <= kTries) return true;
  EndRunWithError("Error : " + what + " failed " + std::to_string(kTries) + " times.", text);
  return false;
}

}  // namespace mvx
