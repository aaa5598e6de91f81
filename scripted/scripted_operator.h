// An operator who answers from a script given in advance and records every box
// and dialog, for tests and the scenario runner.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "base/platform.h"

namespace mvx {

class ScriptedOperator : public IOperator {
 public:
  // One recorded interaction: kind ("MessageBox", "WarningDialog",
  // "ErrorDialog", "InputBox", "OpenDialog", "Clipboard"), caption, text and
  // the answer given.
  struct Record {
    std::string Kind, Caption, Text, Answer;
  };

  // Answers in order: "OK", "Cancel", "Yes", "No" for boxes and dialogs; the
  // text itself for input boxes; the path (or "" to cancel) for the open
  // dialog. With no answer left a box takes its first button, an input box
  // and the open dialog are cancelled.
  std::deque<std::string> Answers;
  std::vector<Record> Records;
  std::string Clipboard;
  // Called while a box is open, before it is answered (the scenario can let
  // time pass or move devices meanwhile).
  std::function<void(const Record&)> WhileOpen;
  // Called after each interaction has been answered.
  std::function<void(const Record&)> OnRecord;

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  MsgAnswer WarningDialog(const std::string& text) override;
  void ErrorDialog(const std::string& text) override;
  std::string InputBox(const std::string& caption, const std::string& prompt) override;
  std::optional<std::string> OpenDialog(const std::string& filter) override;
  void SetClipboardText(const std::string& text) override;

  static const char* IconName(MsgIcon icon);

 private:
  std::string Next(const std::string& fallback);
  void Finish(Record record);
};

}  // namespace mvx
