#include "tools/scenario/transcript.h"

#include <ostream>
#include <regex>

#include "base/hex.h"

namespace mvx::scenario {

std::string Escape(std::string_view bytes) {
  std::string out;
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else if (c >= 0x20 && c <= 0x7E) {
      out += ch;
    } else {
      out += "\\x";
      AppendHexByte(out, c);
    }
  }
  return out;
}

void Transcript::Add(std::string_view kind, std::string_view text) {
  std::string line(kind);
  if (!text.empty()) {
    line += ' ';
    line += text;
  }
  if (out_) *out_ << line << '\n';
  lines_.push_back(std::move(line));
  times_.push_back(Clock ? Clock() : 0);
}

namespace {

std::regex Pattern(const Expectation& e) {
  if (!e.Regex) return {};
  try {
    return std::regex(e.Text);
  } catch (const std::regex_error&) {
    throw ScenarioError("bad regular expression \"" + e.Text + "\"");
  }
}

bool Matches(const Expectation& e, const std::regex& pattern, const std::string& line) {
  return e.Regex ? std::regex_search(line, pattern) : line == e.Text;
}

}  // namespace

int FirstUnmet(const std::vector<Expectation>& expect, const std::vector<std::string>& lines) {
  std::size_t at = 0;
  for (std::size_t i = 0; i < expect.size(); ++i) {
    const std::regex pattern = Pattern(expect[i]);
    bool found = false;
    while (!found && at < lines.size()) found = Matches(expect[i], pattern, lines[at++]);
    if (!found) return static_cast<int>(i);
  }
  return -1;
}

int FirstPresent(const std::vector<Expectation>& never, const std::vector<std::string>& lines) {
  for (std::size_t i = 0; i < never.size(); ++i) {
    const std::regex pattern = Pattern(never[i]);
    for (const std::string& line : lines)
      if (Matches(never[i], pattern, line)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace mvx::scenario
