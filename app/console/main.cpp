// mvxtvup-cli: the version-up tool for line stations and scripts. The same
// main window and steps as the window's, with the operator's boxes printed
// and answered from the options, a record line per unit, and exit statuses
// a script can act on (see --help).
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/console/cli_options.h"
#include "app/console/cli_session.h"
#include "app/console/device_list.h"
#include "app/console/terminal.h"
#include "base/codepage.h"
#include "base/real_time_loop.h"
#include "base/text.h"
#include "hid/platform_backend.h"
#include "hid/sim/sim_backend.h"

#ifdef _WIN32
#include "base/windows_api.h"
#endif

namespace mvx::cli {
namespace {

void PrintRaw(const std::string& text, std::FILE* to = stdout) {
  std::fwrite(text.data(), 1, text.size(), to);
  std::fflush(to);
}

// "hh:mm:ss [cradle] text"
std::function<void(const std::string&)> LinePrinter(RealTimeLoop& loop, const std::string& cradle) {
  return [&loop, cradle](const std::string& text) {
    const LocalTime t = loop.Now();
    PrintRaw(Format("%02d:%02d:%02d ", t.hour, t.minute, t.second) +
             (cradle.empty() ? std::string() : "[" + cradle + "] ") + text + "\n");
  };
}

// A yes/no question on the terminal; the loop runs on while it waits.
std::optional<bool> Ask(RealTimeLoop& loop, const std::string& question,
                        const std::function<bool()>& wanted) {
  const int interrupts = Interrupts();
  PrintRaw(question + " [y/n] ");
  for (;;) {
    bool at_end = false;
    std::optional<std::string> line;
    loop.RunFor(100, [&] {
      line = TypedLine(at_end);
      return line.has_value() || at_end || Interrupts() != interrupts || !wanted();
    });
    if (!wanted()) {
      PrintRaw("\n");
      return std::nullopt;
    }
    if (!line) line = TypedLine(at_end);
    if (line) {
      const std::string answer = ToUpperAscii(Trim(*line));
      if (answer == "Y" || answer == "YES") return true;
      if (answer == "N" || answer == "NO") return false;
      PrintRaw("y or n? ");
      continue;
    }
    if (at_end || Interrupts() != interrupts) {
      PrintRaw("\n");
      return std::nullopt;
    }
  }
}

int Run(const std::vector<std::string>& args) {
  const ParsedOptions parsed = ParseOptions(args);
  if (!parsed.Error.empty()) {
    PrintRaw("mvxtvup-cli: " + parsed.Error + " (see --help)\n", stderr);
    return kExitUsage;
  }
  const CliOptions& options = parsed.Options;
  if (options.Help) {
    PrintRaw(kUsage);
    return kExitFinished;
  }
  RealTimeLoop loop;
  if (options.List) {
    const std::unique_ptr<IHidBackend> hid = CreatePlatformHidBackend();
    const std::vector<ListedDevice> devices = ListDevices(*hid);
    for (const ListedDevice& device : devices) PrintRaw(DeviceLine(device) + "\n");
    if (devices.empty()) PrintRaw("no Merovox device present\n", stderr);
    return kExitFinished;
  }
  CatchInterrupts();
  std::unique_ptr<SimBackend> sim;
  std::unique_ptr<IHidBackend> platform;
  if (options.Demo) {
    sim = std::make_unique<SimBackend>(loop);
  } else {
    platform = CreatePlatformHidBackend();
  }
  IHidBackend& hid = sim ? static_cast<IHidBackend&>(*sim) : *platform;
  SessionParts parts{loop, hid,      LinePrinter(loop, options.Cradle), Interrupts, nullptr,
                     {},   sim.get()};
  if (StdinIsTerminal())
    parts.AskTerminal = [&loop](const std::string& question, const std::function<bool()>& wanted) {
      return Ask(loop, question, wanted);
    };
  return RunSession(options, parts);
}

}  // namespace
}  // namespace mvx::cli

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
  // The console shows UTF-8 as it is written.
  SetConsoleOutputCP(CP_UTF8);
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view arg(argv[i]);
    args.push_back(mvx::Utf16ToUtf8(std::u16string(arg.begin(), arg.end())));
  }
#else
int main(int argc, char** argv) {
  std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
#endif
  try {
    return mvx::cli::Run(args);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "mvxtvup-cli: %s\n", e.what());
    return mvx::cli::kExitUsage;
  }
}
