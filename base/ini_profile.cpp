#include "base/ini_profile.h"

#include <fstream>
#include <sstream>
#include <vector>

#include "base/file_system.h"
#include "base/text.h"

namespace mvx {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return ToUpperAscii(a) == ToUpperAscii(b);
}

std::vector<std::string> ReadLines(const std::string& file, bool* ok) {
  std::vector<std::string> lines;
  std::ifstream in(Utf8Path(file), std::ios::binary);
  *ok = static_cast<bool>(in);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// "[name]" → name; empty optional-like flag when the line is no section.
bool SectionName(const std::string& line, std::string* name) {
  const std::string t = Trim(line);
  if (t.size() < 2 || t.front() != '[') return false;
  const std::size_t close = t.find(']');
  if (close == std::string::npos) return false;
  *name = Trim(std::string_view(t).substr(1, close - 1));
  return true;
}

bool KeyValue(const std::string& line, std::string* key, std::string* value) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) return false;
  *key = Trim(std::string_view(line).substr(0, eq));
  *value = Trim(std::string_view(line).substr(eq + 1));
  return true;
}

}  // namespace

std::string IniProfile::ReadString(const std::string& file, const std::string& section,
                                   const std::string& key, const std::string& def) {
  bool ok = false;
  const auto lines = ReadLines(file, &ok);
  if (!ok) return def;
  bool in_section = false;
  for (const auto& line : lines) {
    std::string name;
    if (SectionName(line, &name)) {
      in_section = EqualsNoCase(name, section);
      continue;
    }
    std::string k, v;
    if (in_section && KeyValue(line, &k, &v) && EqualsNoCase(k, key)) {
      if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
      return v;
    }
  }
  return def;
}

bool IniProfile::WriteString(const std::string& file, const std::string& section,
                             const std::string& key, const std::string& value) {
  bool ok = false;
  auto lines = ReadLines(file, &ok);
  const std::string entry = key + "=" + value;
  bool in_section = false, done = false;
  std::size_t section_end = std::string::npos;  // index after the section's last line
  for (std::size_t i = 0; i < lines.size() && !done; ++i) {
    std::string name;
    if (SectionName(lines[i], &name)) {
      if (in_section) break;
      in_section = EqualsNoCase(name, section);
      if (in_section) section_end = i + 1;
      continue;
    }
    if (!in_section) continue;
    std::string k, v;
    if (KeyValue(lines[i], &k, &v) && EqualsNoCase(k, key)) {
      lines[i] = entry;
      done = true;
    } else if (!Trim(lines[i]).empty()) {
      section_end = i + 1;
    }
  }
  if (!done) {
    if (section_end == std::string::npos) {
      lines.push_back("[" + section + "]");
      lines.push_back(entry);
    } else {
      lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(section_end), entry);
    }
  }
  std::ostringstream text;
  for (const auto& line : lines) text << line << "\r\n";
  // A write that fails part-way (a full disk) leaves the earlier file whole.
  return !ReplaceFileContents(file, text.str());
}

}  // namespace mvx
