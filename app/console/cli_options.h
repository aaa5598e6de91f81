// What mvxtvup-cli is told on its command line, and the exit statuses it
// ends with.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace mvx::cli {

// The exit statuses, in the order they win when more than one applies.
inline constexpr int kExitFinished = 0;       // every unit finished
inline constexpr int kExitUnitFailed = 1;     // a unit did not finish
inline constexpr int kExitUsage = 2;          // bad usage, a refused package, no lock
inline constexpr int kExitNoUnit = 3;         // no unit within --wait SECONDS
inline constexpr int kExitInterrupted = 130;  // Ctrl+C

struct CliOptions {
  std::string Package;                       // empty only with --list, or --demo (which makes one)
  bool Yes = false;                          // confirmations answered Yes
  std::optional<std::string> AccessCode;     // mockup and ping-marker packages
  std::optional<std::string> CrossTypeCode;  // the cross-type unlock
  bool Format = false;                       // format the file system afterwards
  std::uint32_t Units = 1;                   // 0: forever
  std::optional<std::uint32_t> WaitSeconds;  // for each next unit
  std::string RecordFile;                    // empty: beside the package
  bool Json = false;
  std::string LogDir;  // empty: beside the record
  bool List = false;
  std::string Cradle;                 // empty: any port
  std::optional<std::uint32_t> Demo;  // emulated units
  bool Help = false;
};

struct ParsedOptions {
  CliOptions Options;
  std::string Error;  // empty: the options are good
};

// args without the program name.
ParsedOptions ParseOptions(std::span<const std::string> args);

// The text of --help.
extern const char* const kUsage;

}  // namespace mvx::cli
