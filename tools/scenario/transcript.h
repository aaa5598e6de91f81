// The transcript of a scenario run: one event a line, each line beginning
// with its kind ("log", "clear", "box", "label1", "device", "end").
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

#include "tools/scenario/scenario.h"

namespace mvx::scenario {

// CR and LF as \r and \n, every other byte outside printable ASCII as \xNN.
std::string Escape(std::string_view bytes);

class Transcript {
 public:
  explicit Transcript(std::ostream* out) : out_(out) {}
  // The kind, a blank and the text (already escaped); the kind alone when
  // there is no text.
  void Add(std::string_view kind, std::string_view text);
  const std::vector<std::string>& Lines() const { return lines_; }
  // When each line came, by Clock (0 for all without one).
  const std::vector<std::uint64_t>& Times() const { return times_; }
  std::function<std::uint64_t()> Clock;

 private:
  std::ostream* out_;
  std::vector<std::string> lines_;
  std::vector<std::uint64_t> times_;
};

// The index of the first expectation not met, in order, by the lines (each
// matched whole, or searched as a regular expression); -1 when all are met.
// A pattern that is not a valid regular expression raises ScenarioError.
int FirstUnmet(const std::vector<Expectation>& expect, const std::vector<std::string>& lines);

// The index of the first of the lines that must not appear that one of the
// lines matches (whole, or by pattern); -1 when none appears.
int FirstPresent(const std::vector<Expectation>& never, const std::vector<std::string>& lines);

}  // namespace mvx::scenario
