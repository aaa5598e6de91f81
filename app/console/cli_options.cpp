#include "app/console/cli_options.h"

#include <charconv>
#include <functional>
#include <string_view>

namespace mvx::cli {

const char* const kUsage =
    "usage: mvxtvup-cli [options] PACKAGE.tvu\n"
    "       mvxtvup-cli --list\n"
    "       mvxtvup-cli --demo N [options] [PACKAGE.tvu]\n"
    "\n"
    "Checks the update package as File > Open does, then version-ups one Merovox\n"
    "after another as they are set into the cradle, prints each phase, and keeps\n"
    "a record of every unit.\n"
    "\n"
    "  --yes                 answer every confirmation Yes (without it they are\n"
    "                        asked on the terminal; with no terminal the program\n"
    "                        refuses to start)\n"
    "  --access-code CODE    the access code of a mockup or ping-marker package\n"
    "  --cross-type CODE     allow a version-up between types (TV004 -> TV004SAR);\n"
    "                        CODE is the window's check-box password\n"
    "  --format              format the file system after the version-up\n"
    "  --units N             end after N units (default 1; 0: never)\n"
    "  --wait SECONDS        give up when no unit is set in within SECONDS\n"
    "  --record FILE         append a record of each unit to FILE (default:\n"
    "                        PACKAGE-record.csv beside the package, or .jsonl)\n"
    "  --json                write the record as JSON lines instead of CSV\n"
    "  --log-dir DIR         each unit's log file (default: mvxtvup-logs beside\n"
    "                        the record)\n"
    "  --cradle LOCATION     serve only the USB port LOCATION (see --list); copies\n"
    "                        bound to different ports run side by side\n"
    "  --list                print the Merovox devices present and end\n"
    "  --demo N              run N emulated units on simulated devices (with a\n"
    "                        sample package when none is given)\n"
    "  --help                this text\n"
    "\n"
    "Exit status:\n"
    "  0    every unit finished\n"
    "  1    a unit did not finish (refused, failed, cancelled or taken out)\n"
    "  2    bad usage, a refused package, or another copy serves the cradle\n"
    "  3    no unit was set in within --wait SECONDS\n"
    "  130  interrupted by Ctrl+C\n"
    "When several apply, the first in this order wins: 130, 2, 1, 3, 0.\n";

namespace {

bool ParseCount(std::string_view text, std::uint32_t& out) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), out);
  return error == std::errc() && end == text.data() + text.size();
}

struct OptionRow {
  const char* Name;
  bool TakesValue;
  // Stores the value; false when it is not a valid value.
  std::function<bool(CliOptions&, const std::string&)> Store;
};

const OptionRow kOptionTable[] = {
    {"--yes", false, [](CliOptions& o, const std::string&) { return o.Yes = true; }},
    {"--access-code", true,
     [](CliOptions& o, const std::string& v) {
       o.AccessCode = v;
       return true;
     }},
    {"--cross-type", true,
     [](CliOptions& o, const std::string& v) {
       o.CrossTypeCode = v;
       return true;
     }},
    {"--format", false, [](CliOptions& o, const std::string&) { return o.Format = true; }},
    {"--units", true, [](CliOptions& o, const std::string& v) { return ParseCount(v, o.Units); }},
    {"--wait", true,
     [](CliOptions& o, const std::string& v) {
       std::uint32_t seconds = 0;
       if (!ParseCount(v, seconds)) return false;
       o.WaitSeconds = seconds;
       return true;
     }},
    {"--record", true,
     [](CliOptions& o, const std::string& v) {
       o.RecordFile = v;
       return !v.empty();
     }},
    {"--json", false, [](CliOptions& o, const std::string&) { return o.Json = true; }},
    {"--log-dir", true,
     [](CliOptions& o, const std::string& v) {
       o.LogDir = v;
       return !v.empty();
     }},
    {"--cradle", true,
     [](CliOptions& o, const std::string& v) {
       o.Cradle = v;
       return !v.empty();
     }},
    {"--list", false, [](CliOptions& o, const std::string&) { return o.List = true; }},
    {"--demo", true,
     [](CliOptions& o, const std::string& v) {
       std::uint32_t units = 0;
       if (!ParseCount(v, units) || units == 0) return false;
       o.Demo = units;
       return true;
     }},
    {"--help", false, [](CliOptions& o, const std::string&) { return o.Help = true; }},
};

const OptionRow* FindOption(std::string_view name) {
  for (const OptionRow& row : kOptionTable)
    if (name == row.Name) return &row;
  return nullptr;
}

}  // namespace

ParsedOptions ParseOptions(std::span<const std::string> args) {
  ParsedOptions parsed;
  CliOptions& options = parsed.Options;
  std::vector<std::string> packages;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h") {
      options.Help = true;
      continue;
    }
    if (arg.size() < 2 || arg.compare(0, 2, "--") != 0 || arg == "--") {
      if (arg == "--" && i + 1 < args.size()) {
        packages.insert(packages.end(), args.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                        args.end());
        break;
      }
      if (arg != "--") packages.push_back(arg);
      continue;
    }
    const std::size_t equals = arg.find('=');
    const std::string name = arg.substr(0, equals);
    const OptionRow* row = FindOption(name);
    if (row == nullptr) {
      parsed.Error = "unknown option " + name;
      return parsed;
    }
    std::string value;
    if (row->TakesValue) {
      if (equals != std::string::npos) {
        value = arg.substr(equals + 1);
      } else if (i + 1 < args.size()) {
        value = args[++i];
      } else {
        parsed.Error = name + " needs a value";
        return parsed;
      }
    } else if (equals != std::string::npos) {
      parsed.Error = name + " takes no value";
      return parsed;
    }
    if (!row->Store(options, value)) {
      parsed.Error = "bad value for " + name + ": '";
      parsed.Error += value + "'";
      return parsed;
    }
  }
  if (options.Help) return parsed;
  if (packages.size() > 1) {
    parsed.Error = "one package at a time, not " + std::to_string(packages.size());
    return parsed;
  }
  if (!packages.empty()) options.Package = packages.front();
  if (options.List) {
    if (!options.Package.empty() || options.Demo)
      parsed.Error = "--list takes no package and no --demo";
    return parsed;
  }
  if (options.Package.empty() && !options.Demo) parsed.Error = "no package given";
  return parsed;
}

}  // namespace mvx::cli
