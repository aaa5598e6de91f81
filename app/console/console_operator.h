// The operator of the console program: every box the window would show is
// printed, and answered from the options (or, for a confirmation without
// --yes, by the person at the terminal) as an operator clicking would.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "app/console/cli_options.h"
#include "base/platform.h"

namespace mvx::cli {

// What the program is doing when a box comes: which options answer it.
enum class Asking { Run, PackageCheck, CrossTypeUnlock };

enum class BoxKind { Information, Warning, Error, Confirmation };

struct BoxSeen {
  BoxKind Kind;
  std::string Text;
  MsgAnswer Answer;
};

class ConsoleOperator : public IOperator {
 public:
  explicit ConsoleOperator(const CliOptions& options) : options_(options) {}

  Asking Context = Asking::Run;
  // The chosen package for the open dialog.
  std::string Package;
  // Prints one line.
  std::function<void(const std::string&)> Print;
  // Asks a yes/no question on the terminal, the loop running meanwhile;
  // nothing when no answer can come (interrupted, input closed).
  std::function<std::optional<bool>(const std::string&)> AskTerminal;
  // Told of every box before it is shown, and after it is answered.
  std::function<void()> Coming;
  std::function<void(const BoxSeen&)> Seen;
  // Set when a box needed an answer the options did not give.
  std::string Refusal;

  MsgAnswer MessageBox(const std::string& text, const std::string& caption, MsgButtons buttons,
                       MsgIcon icon) override;
  MsgAnswer WarningDialog(const std::string& text) override;
  void ErrorDialog(const std::string& text) override;
  std::string InputBox(const std::string& caption, const std::string& prompt) override;
  std::optional<std::string> OpenDialog(const std::string& filter) override;
  void SetClipboardText(const std::string&) override {}

 private:
  bool Confirm(const std::string& text);
  void Show(const std::string& caption, const std::string& text, const std::string& answer);
  const CliOptions& options_;
};

}  // namespace mvx::cli
