#include "tools/scenario/scenario.h"

#include <cctype>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <regex>
#include <set>
#include <sstream>

namespace mvx::scenario {

using json = nlohmann::json;

namespace {

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
  throw ScenarioError(where + ": " + what);
}

// Every key of an object must be one of the known ones: a misspelt key is
// an error, not a silently ignored setting.
void OnlyKeys(const json& object, const std::string& where, const std::set<std::string>& known) {
  if (!object.is_object()) Fail(where, "must be an object");
  for (const auto& [key, value] : object.items())
    if (!known.count(key)) Fail(where, "unknown key \"" + key + "\"");
}

std::string String(const json& object, const char* key, const std::string& where,
                   const std::string& def = {}) {
  if (!object.contains(key)) return def;
  if (!object[key].is_string()) Fail(where + "." + key, "must be a string");
  return Unescape(object[key].get<std::string>());
}

std::uint64_t Number(const json& object, const char* key, const std::string& where,
                     std::uint64_t def = 0) {
  if (!object.contains(key)) return def;
  const json& v = object[key];
  if (v.is_number_unsigned()) return v.get<std::uint64_t>();
  if (v.is_number_integer() && v.get<std::int64_t>() >= 0) return v.get<std::uint64_t>();
  // IDs and codes read well in hexadecimal: "0x5E3A".
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    std::size_t used = 0;
    try {
      const std::uint64_t n = std::stoull(s, &used, 0);
      if (used == s.size()) return n;
    } catch (const std::exception&) {
    }
  }
  Fail(where + "." + key, "must be a non-negative number");
}

std::int64_t SignedNumber(const json& object, const char* key, const std::string& where) {
  if (!object.contains(key)) return 0;
  if (!object[key].is_number_integer()) Fail(where + "." + key, "must be an integer");
  return object[key].get<std::int64_t>();
}

bool Bool(const json& object, const char* key, const std::string& where, bool def) {
  if (!object.contains(key)) return def;
  if (!object[key].is_boolean()) Fail(where + "." + key, "must be true or false");
  return object[key].get<bool>();
}

int Int(const json& object, const char* key, const std::string& where, int def) {
  return static_cast<int>(Number(object, key, where, static_cast<std::uint64_t>(def)));
}

emu::SerialItems Serial(const json& v, const std::string& where) {
  if (!v.is_array() || v.size() != 3 || !v[0].is_string() || !v[1].is_string() || !v[2].is_string())
    Fail(where, "must be [pcb, bat, serial]");
  return {v[0].get<std::string>(), v[1].get<std::string>(), v[2].get<std::string>()};
}

std::string FromHex(const std::string& hex, const std::string& where) {
  if (hex.size() % 2) Fail(where, "odd number of hex digits");
  std::string bytes;
  for (std::size_t i = 0; i < hex.size(); i += 2) {
    try {
      std::size_t used = 0;
      const int b = std::stoi(hex.substr(i, 2), &used, 16);
      if (used != 2) throw std::invalid_argument("hex");
      bytes += static_cast<char>(b);
    } catch (const std::exception&) {
      Fail(where, "bad hex digits");
    }
  }
  return bytes;
}

emu::StoredFile File(const json& v, const std::string& where) {
  OnlyKeys(v, where, {"text", "hex", "size", "md5"});
  emu::StoredFile file;
  if (v.contains("text")) file.Content = String(v, "text", where);
  if (v.contains("hex")) file.Content = FromHex(String(v, "hex", where), where + ".hex");
  if (v.contains("md5")) {
    if (!v.contains("size")) Fail(where, "\"md5\" needs \"size\"");
    file.DeclaredSize = static_cast<std::uint32_t>(Number(v, "size", where));
    file.DeclaredDigest = String(v, "md5", where);
    for (char& c : file.DeclaredDigest) c = static_cast<char>(std::toupper(c));
  } else if (v.contains("size")) {
    // Content of that size, made up: a repeating pattern.
    const std::uint64_t size = Number(v, "size", where);
    file.Content.resize(size);
    for (std::uint64_t i = 0; i < size; ++i) file.Content[i] = static_cast<char>(i * 31 + 7);
  }
  return file;
}

emu::Fault ParseFault(const json& v, const std::string& where) {
  OnlyKeys(v, where,
           {"kind", "command", "first", "times", "with", "text", "answer", "status", "code",
            "result", "value", "return_ms"});
  static const std::pair<const char*, emu::FaultKind> kKinds[] = {
      {"answer", emu::FaultKind::Answer},
      {"status", emu::FaultKind::PacketStatus},
      {"wrong_digest", emu::FaultKind::WrongDigest},
      {"delete_fails", emu::FaultKind::DeleteFails},
      {"fins_status", emu::FaultKind::FinsStatus},
      {"upload_skip_packet", emu::FaultKind::UploadSkipPacket},
      {"upload_duplicate_end", emu::FaultKind::UploadDuplicateEnd},
      {"upload_wrong_size", emu::FaultKind::UploadWrongSize},
      {"format_small_count", emu::FaultKind::FormatSmallCount},
      {"remove_at", emu::FaultKind::RemoveAt},
      {"no_return", emu::FaultKind::NoReturn},
      {"write_fails", emu::FaultKind::WriteFails},
  };
  emu::Fault f;
  const std::string kind = String(v, "kind", where);
  bool found = false;
  for (const auto& [name, k] : kKinds)
    if (kind == name) {
      f.Kind = k;
      found = true;
    }
  if (!found) Fail(where + ".kind", "unknown fault \"" + kind + "\"");
  f.Command = String(v, "command", where);
  f.First = Int(v, "first", where, 1);
  f.Times = Int(v, "times", where, 1);
  const std::string with = String(v, "with", where, "NG");
  if (with == "NG") {
    f.With = emu::Replacement::NG;
  } else if (with == "garbage") {
    f.With = emu::Replacement::Garbage;
  } else if (with == "nothing") {
    f.With = emu::Replacement::Nothing;
  } else if (with == "text") {
    f.With = emu::Replacement::Text;
  } else {
    Fail(where + ".with", "must be NG, garbage, nothing or text");
  }
  f.Text = String(v, "text", where);
  f.AnswerIndex = Int(v, "answer", where, 0);
  if (v.contains("status")) f.Status = static_cast<std::uint32_t>(Number(v, "status", where));
  if (v.contains("code")) f.Code = static_cast<std::uint32_t>(Number(v, "code", where));
  f.Result = static_cast<std::uint32_t>(Number(v, "result", where));
  f.Value = SignedNumber(v, "value", where);
  if (v.contains("return_ms")) {
    if (f.Kind != emu::FaultKind::RemoveAt) Fail(where + ".return_ms", "only for remove_at");
    f.ReturnMs = static_cast<std::uint32_t>(Number(v, "return_ms", where));
  }
  return f;
}

DeviceSpec ParseDevice(const json& v, const std::string& where, std::vector<Event>& events) {
  OnlyKeys(v, where,
           {"name",
            "vendor_id",
            "product_id",
            "product",
            "input_length",
            "output_length",
            "version",
            "version_after_install",
            "model",
            "detail",
            "language",
            "serial",
            "serial_after_install",
            "files",
            "timing",
            "alt_ack_codes",
            "format_bytes",
            "upload_time_stamp",
            "faults",
            "set_in_ms"});
  DeviceSpec d;
  d.Name = String(v, "name", where);
  if (d.Name.empty()) Fail(where, "a device needs a \"name\"");
  emu::DeviceConfig& c = d.Config;
  emu::DeviceIdentity& id = c.Identity;
  id.VendorId = static_cast<std::uint16_t>(Number(v, "vendor_id", where, id.VendorId));
  id.ProductId = static_cast<std::uint16_t>(Number(v, "product_id", where, id.ProductId));
  id.Product = String(v, "product", where, id.Product);
  id.InputReportLength =
      static_cast<std::uint16_t>(Number(v, "input_length", where, id.InputReportLength));
  id.OutputReportLength =
      static_cast<std::uint16_t>(Number(v, "output_length", where, id.OutputReportLength));
  if (id.InputReportLength < 2 || id.OutputReportLength < 2)
    Fail(where, "report lengths must be at least 2");
  id.Version = String(v, "version", where, id.Version);
  id.VersionAfterInstall = String(v, "version_after_install", where);
  id.Model = String(v, "model", where, id.Model);
  id.Detail = String(v, "detail", where, id.Detail);
  id.Language = String(v, "language", where, id.Language);
  if (v.contains("serial")) id.Serial = Serial(v["serial"], where + ".serial");
  if (v.contains("serial_after_install"))
    id.SerialAfterInstall = Serial(v["serial_after_install"], where + ".serial_after_install");
  if (v.contains("files")) {
    if (!v["files"].is_object()) Fail(where + ".files", "must be an object");
    const std::string files_at = where + ".files.";
    for (const auto& [name, file] : v["files"].items()) c.Files[name] = File(file, files_at + name);
  }
  if (v.contains("timing")) {
    const json& t = v["timing"];
    const std::string tw = where + ".timing";
    OnlyKeys(t, tw, {"latency_ms", "backup_ms", "install_ms", "restart_ms", "format_ms"});
    auto ms = [&](const char* key, std::uint32_t def) {
      return static_cast<std::uint32_t>(Number(t, key, tw, def));
    };
    c.Timing.LatencyMs = ms("latency_ms", c.Timing.LatencyMs);
    c.Timing.BackupMs = ms("backup_ms", c.Timing.BackupMs);
    c.Timing.InstallMs = ms("install_ms", c.Timing.InstallMs);
    c.Timing.RestartMs = ms("restart_ms", c.Timing.RestartMs);
    c.Timing.FormatMs = ms("format_ms", c.Timing.FormatMs);
  }
  c.AltAckCodes = Bool(v, "alt_ack_codes", where, false);
  c.FormatBytes = Number(v, "format_bytes", where, c.FormatBytes);
  c.UploadTimeStamp = String(v, "upload_time_stamp", where, c.UploadTimeStamp);
  if (v.contains("faults")) {
    if (!v["faults"].is_array()) Fail(where + ".faults", "must be a list");
    for (std::size_t i = 0; i < v["faults"].size(); ++i)
      c.Faults.push_back(ParseFault(v["faults"][i], where + ".faults[" + std::to_string(i) + "]"));
  }
  if (v.contains("set_in_ms")) {
    Event e;
    e.When = Trigger::AtMs;
    e.Ms = Number(v, "set_in_ms", where);
    e.Do = Action::SetIn;
    e.Device = d.Name;
    events.push_back(e);
  }
  return d;
}

Event ParseEvent(const json& v, const std::string& where) {
  OnlyKeys(v, where,
           {"at_ms", "at_state", "at_command", "at_box", "of", "occurrence", "do", "device", "text",
            "at_start", "file", "check", "code", "yes", "ms", "free"});
  Event e;
  int triggers = 0;
  if (v.contains("at_ms")) {
    e.When = Trigger::AtMs;
    e.Ms = Number(v, "at_ms", where);
    ++triggers;
  }
  if (v.contains("at_state")) {
    e.When = Trigger::AtState;
    e.State = Int(v, "at_state", where, 0);
    ++triggers;
  }
  if (v.contains("at_command")) {
    e.When = Trigger::AtCommand;
    e.Command = String(v, "at_command", where);
    e.WatchedDevice = String(v, "of", where);
    if (e.WatchedDevice.empty()) Fail(where, "\"at_command\" needs \"of\": the device");
    ++triggers;
  }
  if (v.contains("at_box")) {
    e.When = Trigger::AtBox;
    // A number counts the boxes of the run; a text picks the box whose text
    // holds it (its occurrence-th such box).
    if (v["at_box"].is_string())
      e.BoxText = Unescape(v["at_box"].get<std::string>());
    else
      e.Box = Int(v, "at_box", where, 1);
    ++triggers;
  }
  if (v.contains("at_start")) {
    if (!Bool(v, "at_start", where, false)) Fail(where + ".at_start", "must be true");
    e.When = Trigger::AtStart;
    ++triggers;
  }
  if (triggers != 1)
    Fail(where, "needs exactly one of at_ms, at_state, at_command, at_box, at_start");
  e.Occurrence = Int(v, "occurrence", where, 1);

  static const std::pair<const char*, Action> kActions[] = {
      {"set_in", Action::SetIn},
      {"remove", Action::Remove},
      {"send", Action::Send},
      {"open", Action::Open},
      {"format", Action::Format},
      {"cross_type", Action::CrossType},
      {"wait", Action::Wait},
      {"folder_read_only", Action::FolderReadOnly},
      {"folder_full", Action::FolderFull},
      {"folder_writable", Action::FolderWritable},
      {"snapshot", Action::Snapshot},
  };
  const std::string action = String(v, "do", where);
  bool found = false;
  for (const auto& [name, a] : kActions)
    if (action == name) {
      e.Do = a;
      found = true;
    }
  if (!found) Fail(where + ".do", "unknown action \"" + action + "\"");
  e.Device = String(v, "device", where);
  if ((e.Do == Action::SetIn || e.Do == Action::Remove || e.Do == Action::Send) && e.Device.empty())
    Fail(where, "\"" + action + "\" needs \"device\"");
  e.Text = String(v, "text", where);
  if (v.contains("file")) e.File = String(v, "file", where);
  e.Flag = Bool(v, "check", where, Bool(v, "yes", where, true));
  if (e.Do == Action::CrossType) e.Text = String(v, "code", where);
  e.WaitMs = Number(v, "ms", where);
  e.FreeBytes = Number(v, "free", where);
  // Before the window exists there is nothing to do but prepare the folder.
  const bool folder_action = e.Do == Action::FolderReadOnly || e.Do == Action::FolderFull ||
                             e.Do == Action::FolderWritable || e.Do == Action::Snapshot;
  if (e.When == Trigger::AtStart && !folder_action)
    Fail(where, "\"at_start\" takes only folder actions and \"snapshot\"");
  return e;
}

}  // namespace

std::string Unescape(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\\' || i + 1 >= text.size()) {
      out += text[i];
      continue;
    }
    const char c = text[++i];
    if (c == 'r') {
      out += '\r';
    } else if (c == 'n') {
      out += '\n';
    } else if (c == 't') {
      out += '\t';
    } else if (c == 'x' && i + 2 < text.size() &&
               std::isxdigit(static_cast<unsigned char>(text[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(text[i + 2]))) {
      out += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
      i += 2;
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

// A list of lines, each a whole line or {"regex": pattern}.
std::vector<Expectation> Expectations(const json& root, const std::string& key) {
  std::vector<Expectation> out;
  if (!root.contains(key)) return out;
  if (!root[key].is_array()) Fail(key, "must be a list");
  for (const json& x : root[key]) {
    if (x.is_string()) {
      out.push_back({x.get<std::string>(), false});
    } else if (x.is_object() && x.size() == 1 && x.contains("regex") && x["regex"].is_string()) {
      const std::string pattern = x["regex"].get<std::string>();
      try {
        std::regex check(pattern);
      } catch (const std::regex_error&) {
        Fail(key, "bad regular expression \"" + pattern + "\"");
      }
      out.push_back({pattern, true});
    } else {
      Fail(key, "each entry is a line or {\"regex\": pattern}");
    }
  }
  return out;
}

PackageSpec ParsePackage(const json& p, const std::string& where, const std::string& folder) {
  OnlyKeys(p, where,
           {"path", "magic", "version", "special_code", "file_name", "image_size", "image_text",
            "patch"});
  PackageSpec spec;
  spec.Path = String(p, "path", where);
  if (!spec.Path.empty() && std::filesystem::path(spec.Path).is_relative())
    spec.Path = (std::filesystem::path(folder) / spec.Path).string();
  spec.Magic = String(p, "magic", where, spec.Magic);
  spec.Version = String(p, "version", where, spec.Version);
  spec.SpecialCode = String(p, "special_code", where);
  spec.FileName = String(p, "file_name", where, spec.FileName);
  if (spec.FileName.empty() || spec.FileName.find('/') != std::string::npos)
    Fail(where + ".file_name", "must be a plain file name");
  spec.ImageSize = static_cast<std::uint32_t>(Number(p, "image_size", where, 4000));
  if (p.contains("image_text")) spec.ImageContent = String(p, "image_text", where);
  if (p.contains("patch")) {
    if (!p["patch"].is_array()) Fail(where + ".patch", "must be a list");
    for (const json& x : p["patch"]) {
      OnlyKeys(x, where + ".patch", {"offset", "hex"});
      spec.Patches.push_back({Number(x, "offset", where + ".patch"),
                              FromHex(String(x, "hex", where + ".patch"), where + ".patch.hex")});
    }
  }
  return spec;
}

}  // namespace

Scenario ParseScenario(const std::string& json_text, const std::string& folder) {
  json root;
  try {
    root = json::parse(json_text);
  } catch (const json::parse_error& e) {
    throw ScenarioError(std::string("not JSON: ") + e.what());
  }
  OnlyKeys(root, "scenario",
           {"name", "package", "other_packages", "folder_files", "settings", "operator", "devices",
            "events", "run_ms", "expect", "never"});
  Scenario s;
  s.Folder = folder;
  s.Name = String(root, "name", "scenario");
  if (root.contains("package")) s.Package = ParsePackage(root["package"], "package", folder);
  if (root.contains("other_packages")) {
    const json& list = root["other_packages"];
    if (!list.is_array()) Fail("other_packages", "must be a list");
    std::set<std::string> names;
    if (s.Package) names.insert(NameInWorkingFolder(*s.Package));
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string where = "other_packages[" + std::to_string(i) + "]";
      s.OtherPackages.push_back(ParsePackage(list[i], where, folder));
      if (!names.insert(NameInWorkingFolder(s.OtherPackages.back())).second)
        Fail(where, "two packages named \"" + NameInWorkingFolder(s.OtherPackages.back()) + "\"");
    }
  }
  if (root.contains("folder_files")) {
    const json& files = root["folder_files"];
    if (!files.is_object()) Fail("folder_files", "must be an object");
    for (const auto& [name, file] : files.items()) {
      const std::string where = "folder_files." + name;
      if (name.empty() || name.find_first_of("/\\") != std::string::npos)
        Fail(where, "must be a plain file name");
      s.FolderFiles[name] = File(file, where).Content;
    }
  }
  if (root.contains("settings")) {
    OnlyKeys(root["settings"], "settings", {"format_after_versionup"});
    s.FormatAfterVersionup = Bool(root["settings"], "format_after_versionup", "settings", false);
  }
  if (root.contains("operator")) {
    const json& o = root["operator"];
    OnlyKeys(o, "operator", {"answers"});
    if (o.contains("answers")) {
      if (!o["answers"].is_array()) Fail("operator.answers", "must be a list of strings");
      for (const json& a : o["answers"]) {
        if (!a.is_string()) Fail("operator.answers", "must be a list of strings");
        s.Answers.push_back(Unescape(a.get<std::string>()));
      }
    }
  }
  std::set<std::string> names;
  if (root.contains("devices")) {
    if (!root["devices"].is_array()) Fail("devices", "must be a list");
    for (std::size_t i = 0; i < root["devices"].size(); ++i) {
      DeviceSpec d =
          ParseDevice(root["devices"][i], "devices[" + std::to_string(i) + "]", s.Events);
      if (!names.insert(d.Name).second) Fail("devices", "two devices named \"" + d.Name + "\"");
      s.Devices.push_back(std::move(d));
    }
  }
  if (root.contains("events")) {
    if (!root["events"].is_array()) Fail("events", "must be a list");
    for (std::size_t i = 0; i < root["events"].size(); ++i)
      s.Events.push_back(ParseEvent(root["events"][i], "events[" + std::to_string(i) + "]"));
  }
  for (const Event& e : s.Events) {
    for (const std::string& device : {e.Device, e.WatchedDevice})
      if (!device.empty() && !names.count(device))
        Fail("events", "no device named \"" + device + "\"");
    if (e.Do == Action::Open && !s.Package && !e.File)
      Fail("events", "\"open\" without a package or a \"file\"");
  }
  s.RunMs = Number(root, "run_ms", "scenario", s.RunMs);
  s.Expect = Expectations(root, "expect");
  s.Never = Expectations(root, "never");
  return s;
}

std::string NameInWorkingFolder(const PackageSpec& package) {
  return package.Path.empty() ? package.FileName
                              : std::filesystem::path(package.Path).filename().generic_string();
}

bool UsesFolderFaults(const Scenario& scenario) {
  for (const Event& e : scenario.Events)
    if (e.Do == Action::FolderReadOnly || e.Do == Action::FolderFull ||
        e.Do == Action::FolderWritable)
      return true;
  return false;
}

Scenario LoadScenario(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw ScenarioError("cannot read " + path);
  std::ostringstream text;
  text << in.rdbuf();
  if (in.bad()) throw ScenarioError("cannot read " + path);
  const std::filesystem::path folder =
      std::filesystem::absolute(std::filesystem::path(path)).parent_path();
  return ParseScenario(text.str(), folder.string());
}

}  // namespace mvx::scenario
