#include "app/console/console_operator.h"

#include "base/text.h"

namespace mvx::cli {
namespace {

BoxKind KindOf(MsgIcon icon) {
  switch (icon) {
    case MsgIcon::Error:
      return BoxKind::Error;
    case MsgIcon::Warning:
      return BoxKind::Warning;
    default:
      return BoxKind::Information;
  }
}

}  // namespace

void ConsoleOperator::Show(const std::string& caption, const std::string& text,
                           const std::string& answer) {
  if (Print) Print("[box] " + caption + ": " + OneLine(text) + " -> " + answer);
}

bool ConsoleOperator::Confirm(const std::string& text) {
  switch (Context) {
    case Asking::PackageCheck:
      // The package's own warning before its access code: giving the code is
      // the answer.
      if (options_.AccessCode) return true;
      Refusal = "This package needs its access code: give --access-code CODE.";
      return false;
    case Asking::CrossTypeUnlock:
      return true;  // --cross-type asked for it
    case Asking::Run:
      break;
  }
  if (options_.Yes) return true;
  if (AskTerminal) {
    if (const std::optional<bool> answer = AskTerminal(OneLine(text))) return *answer;
  }
  Refusal = "A confirmation came and nobody could answer it: give --yes.";
  return false;
}

MsgAnswer ConsoleOperator::MessageBox(const std::string& text, const std::string& caption,
                                      MsgButtons buttons, MsgIcon icon) {
  if (Coming) Coming();
  MsgAnswer answer = MsgAnswer::Ok;
  BoxKind kind = KindOf(icon);
  if (buttons != MsgButtons::Ok) {
    kind = BoxKind::Confirmation;
    const bool yes = Confirm(text);
    answer = buttons == MsgButtons::YesNo ? (yes ? MsgAnswer::Yes : MsgAnswer::No)
                                          : (yes ? MsgAnswer::Ok : MsgAnswer::Cancel);
  }
  const char* shown = answer == MsgAnswer::Yes      ? "Yes"
                      : answer == MsgAnswer::No     ? "No"
                      : answer == MsgAnswer::Cancel ? "Cancel"
                                                    : "OK";
  Show(caption, text, shown);
  if (Seen) Seen({kind, text, answer});
  return answer;
}

MsgAnswer ConsoleOperator::WarningDialog(const std::string& text) {
  if (Coming) Coming();
  const MsgAnswer answer = Confirm(text) ? MsgAnswer::Yes : MsgAnswer::No;
  Show(kWarningDialogCaption, text, answer == MsgAnswer::Yes ? "Yes" : "No");
  if (Seen) Seen({BoxKind::Confirmation, text, answer});
  return answer;
}

void ConsoleOperator::ErrorDialog(const std::string& text) {
  if (Coming) Coming();
  Show(kErrorDialogCaption, text, "OK");
  if (Seen) Seen({BoxKind::Error, text, MsgAnswer::Ok});
}

std::string ConsoleOperator::InputBox(const std::string& caption, const std::string& prompt) {
  std::string answer;
  if (Context == Asking::PackageCheck && options_.AccessCode) answer = *options_.AccessCode;
  if (Context == Asking::CrossTypeUnlock && options_.CrossTypeCode)
    answer = *options_.CrossTypeCode;
  Show(caption, prompt, answer.empty() ? "cancelled" : "(given)");
  return answer;
}

std::optional<std::string> ConsoleOperator::OpenDialog(const std::string& filter) {
  if (Print) Print("[open] " + filter + " -> " + Package);
  return Package;
}

}  // namespace mvx::cli
