#include "scripted/scripted_operator.h"

namespace mvx {

const char* ScriptedOperator::IconName(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Information:
      return "information";
    case MsgIcon::Warning:
      return "warning";
    case MsgIcon::Error:
      return "error";
    case MsgIcon::Question:
      return "question";
    case MsgIcon::None:
      break;
  }
  return "none";
}

std::string ScriptedOperator::Next(const std::string& fallback) {
  if (Answers.empty()) return fallback;
  std::string answer = Answers.front();
  Answers.pop_front();
  return answer;
}

void ScriptedOperator::Finish(Record record) {
  Records.push_back(record);
  if (OnRecord) OnRecord(Records.back());
}

static MsgAnswer ParseAnswer(const std::string& answer, MsgButtons buttons) {
  if (answer == "Yes") return MsgAnswer::Yes;
  if (answer == "No") return MsgAnswer::No;
  if (answer == "Cancel") return MsgAnswer::Cancel;
  if (answer == "OK") return MsgAnswer::Ok;
  return buttons == MsgButtons::YesNo ? MsgAnswer::Yes : MsgAnswer::Ok;
}

static const char* AnswerName(MsgAnswer a) {
  switch (a) {
    case MsgAnswer::Ok:
      return "OK";
    case MsgAnswer::Cancel:
      return "Cancel";
    case MsgAnswer::Yes:
      return "Yes";
    case MsgAnswer::No:
      return "No";
  }
  return "?";
}

MsgAnswer ScriptedOperator::MessageBox(const std::string& text, const std::string& caption,
                                       MsgButtons buttons, MsgIcon icon) {
  Record r{"MessageBox", caption, text, ""};
  r.Kind += std::string("[") + IconName(icon) + "]";
  if (WhileOpen) WhileOpen(r);
  const MsgAnswer a = ParseAnswer(Next(buttons == MsgButtons::YesNo ? "Yes" : "OK"), buttons);
  r.Answer = AnswerName(a);
  Finish(r);
  return a;
}

MsgAnswer ScriptedOperator::WarningDialog(const std::string& text) {
  Record r{"WarningDialog", kWarningDialogCaption, text, ""};
  if (WhileOpen) WhileOpen(r);
  const std::string answer = Next("Yes");
  const MsgAnswer a = answer == "Yes" ? MsgAnswer::Yes : MsgAnswer::No;
  r.Answer = AnswerName(a);
  Finish(r);
  return a;
}

void ScriptedOperator::ErrorDialog(const std::string& text) {
  Record r{"ErrorDialog", kErrorDialogCaption, text, ""};
  if (WhileOpen) WhileOpen(r);
  Next("OK");
  r.Answer = "OK";
  Finish(r);
}

std::string ScriptedOperator::InputBox(const std::string& caption, const std::string& prompt) {
  Record r{"InputBox", caption, prompt, ""};
  if (WhileOpen) WhileOpen(r);
  r.Answer = Next("");
  Finish(r);
  return r.Answer;
}

std::optional<std::string> ScriptedOperator::OpenDialog(const std::string& filter) {
  Record r{"OpenDialog", "", filter, ""};
  if (WhileOpen) WhileOpen(r);
  r.Answer = Next("");
  Finish(r);
  if (r.Answer.empty()) return std::nullopt;
  return r.Answer;
}

void ScriptedOperator::SetClipboardText(const std::string& text) {
  Clipboard = text;
  Finish({"Clipboard", "", text, ""});
}

}  // namespace mvx
