// The fault matrix: one whole version-up on the emulator per fault, each
// checked against the invariants every fault must keep rather than against a
// transcript of its own. Prints the matrix as a table (fault, where, outcome,
// verdict) with its totals; exits 1 when any case broke an invariant.
//
//   mvxtvup-fault-matrix [--verbose] [FILTER]   FILTER: run only the cases
//                                                whose fault or place holds it
//
// Every case: the operator opens the package; the faulty unit is set in and
// runs into its fault (and, for a removal, is set in again); at 40 s it is
// taken out and a sound device is set in, which must start a clean run at
// state 2 and finish it; at 58 s that one is taken out too.
#include <cstdio>
#include <functional>
#include <iostream>
#include <regex>
#include <string>
#include <vector>

#include "tools/scenario/runner.h"
#include "tools/scenario/scenario.h"

namespace mvx::faults {
namespace {

using scenario::Action;
using scenario::Event;
using scenario::Scenario;
using scenario::Trigger;

constexpr std::uint64_t kUnitOutMs = 40'000;
constexpr std::uint64_t kNextInMs = 41'000;
constexpr std::uint64_t kNextOutMs = 58'000;
constexpr std::uint64_t kRunMs = 60'000;
constexpr std::uint64_t kSetInAgainMs = 20'000;

// Update type 2 (six-character versions, the F family, the digest check) or
// type 1 (three characters, the A family, verify and backup).
enum class Kind { Type2, Type1 };

struct Case {
  std::string Fault;
  std::string Where;
  Kind Type = Kind::Type2;
  std::function<void(Scenario&)> Setup;
  // Lines the tool's rules give for this fault, in order, in the faulty
  // unit's part of the run (regular expressions).
  std::vector<std::string> Expect;
  // The install must not have happened on the unit (its version unchanged).
  bool NotInstalled = false;
  // The command the fault acts on, and how often the tool must have sent it
  // to the unit for the fault to have happened at all.
  std::string Sent;
  int SentTimes = 1;
  // The unit's answer to the confirmations: the default takes the first
  // button of every box.
  std::vector<std::string> Answers;
};

emu::DeviceConfig Device(Kind type, const std::string& product, const emu::SerialItems& serial) {
  emu::DeviceConfig c;
  c.Identity.Product = product;
  c.Identity.Serial = serial;
  if (type == Kind::Type2) {
    c.Identity.Version = "201035";
    c.Identity.VersionAfterInstall = "201040";
    // A firmware that lost its serial number: the restore reads the
    // information file.
    c.Identity.SerialAfterInstall = emu::SerialItems{"0", "0", "0"};
  } else {
    c.Identity.Version = "110";
    c.Identity.VersionAfterInstall = "120";
    c.AltAckCodes = true;
    // An old copy of the package on the device: it is deleted first.
    c.Files["fw020.tvu"].Content = "an old copy";
  }
  return c;
}

// The unit's information file with its three items, padded with a comment
// line to the given size.
std::string InfoFile(std::size_t size) {
  std::string text = "ser TV0400001234\r\npcb PCB000000001\r\nbat BAT000000001\r\n; ";
  text.append(size > text.size() + 2 ? size - text.size() - 2 : 0, '-');
  return text + "\r\n";
}

Event At(std::uint64_t ms, Action action, const std::string& device) {
  Event e;
  e.When = Trigger::AtMs;
  e.Ms = ms;
  e.Do = action;
  e.Device = device;
  return e;
}

Scenario Base(Kind type) {
  Scenario s;
  s.Name = "fault matrix";
  scenario::PackageSpec p;
  p.Version = type == Kind::Type2 ? "201040" : "201020";
  p.FileName = type == Kind::Type2 ? "fw040.tvu" : "fw020.tvu";
  p.ImageSize = 3000;
  s.Package = p;
  s.FormatAfterVersionup = type == Kind::Type2;
  s.Devices.push_back(
      {"unit", Device(type, "Merovox unit", {"PCB000000001", "BAT000000001", "TV0400001234"})});
  // An information file longer than one packet: the upload has data packets.
  s.Devices[0].Config.Files["TVINFO.INI"].Content = InfoFile(1500);
  s.Devices.push_back(
      {"next", Device(type, "Merovox next", {"PCB000000077", "BAT000000088", "TV0500009999"})});
  Event open;
  open.Do = Action::Open;
  s.Events.push_back(open);
  s.Events.push_back(At(100, Action::SetIn, "unit"));
  s.Events.push_back(At(kUnitOutMs, Action::Remove, "unit"));
  s.Events.push_back(At(kNextInMs, Action::SetIn, "next"));
  s.Events.push_back(At(kNextOutMs, Action::Remove, "next"));
  s.RunMs = kRunMs;
  return s;
}

emu::DeviceConfig& Unit(Scenario& s) {
  return s.Devices[0].Config;
}

void AddFault(Scenario& s, const emu::Fault& fault) {
  Unit(s).Faults.push_back(fault);
}

// ---- The cases ----------------------------------------------------------------

const std::vector<int> kType2States = {2,  3,  4,  41, 39, 40, 50, 8,  9,  10, 20, 14, 16, 21, 32,
                                       33, 34, 35, 36, 37, 48, 38, 49, 44, 42, 43, 46, 47, 45, 99};
// The file information, the deletion, verify and backup belong to type 1.
const std::vector<int> kType1States = {5, 7, 12, 13};
// States after which the install has been sent.
bool AfterInstall(int state) {
  return state == 14 || state == 16 || state == 21 || (state >= 32 && state <= 38) || state == 42 ||
         state == 43 || state >= 44;
}

std::vector<Case> Removals() {
  std::vector<Case> cases;
  auto add = [&](Kind type, int state) {
    Case c;
    c.Fault = "removed, set in again";
    c.Where = "state " + std::to_string(state) + (type == Kind::Type1 ? " (type 1)" : "");
    c.Type = type;
    c.Setup = [state](Scenario& s) {
      Event e;
      e.When = Trigger::AtState;
      e.State = state;
      e.Do = Action::Remove;
      e.Device = "unit";
      s.Events.push_back(e);
      s.Events.push_back(At(kSetInAgainMs, Action::SetIn, "unit"));
    };
    // In states 14 and 99 the tool holds no device: nothing to disconnect.
    c.Expect = {"^device unit removed$"};
    if (state != 14 && state != 99) c.Expect.push_back("^log   Disconnect device\\.$");
    c.Expect.push_back("^device unit set in$");
    // Set in again before the install, the unit starts a new run at state 2
    // (its clock command); after it, the run resumes or is over.
    if (!AfterInstall(state) && state != 99)
      c.Expect.insert(c.Expect.end(), {"^clear$", "^log >>RTC SET "});
    cases.push_back(c);
  };
  for (int state : kType2States) add(Kind::Type2, state);
  for (int state : kType1States) add(Kind::Type1, state);
  return cases;
}

std::vector<Case> RemovalsAtCommands() {
  struct Place {
    const char* command;
    int occurrence;
    Kind type;
  };
  const Place places[] = {
      {"RTC", 1, Kind::Type2},   {"VER", 1, Kind::Type2},    {"GSER", 1, Kind::Type2},
      {"KIND", 1, Kind::Type2},  {"DETAIL", 1, Kind::Type2}, {"LANGUAGE", 1, Kind::Type2},
      {"FINS", 1, Kind::Type1},  {"DELS", 1, Kind::Type1},   {"FCPS", 1, Kind::Type2},
      {"FCPD", 1, Kind::Type2},  {"FCPD", 2, Kind::Type2},   {"FCPE", 1, Kind::Type2},
      {"ACPD", 1, Kind::Type1},  {"GCMD", 1, Kind::Type2},   {"GCMD", 2, Kind::Type2},
      {"GCMD", 1, Kind::Type1},  {"GCMD", 2, Kind::Type1},   {"VER", 2, Kind::Type2},
      {"GSER", 2, Kind::Type2},  {"UPLS", 1, Kind::Type2},   {"UPLR", 1, Kind::Type2},
      {"UPLR", 2, Kind::Type2},  {"UPLR", 3, Kind::Type2},   {"SSER", 1, Kind::Type2},
      {"CLEAR", 1, Kind::Type2}, {"fmts", 1, Kind::Type2},   {"fres", 1, Kind::Type2}};
  std::vector<Case> cases;
  for (const Place& place : places) {
    Case c;
    c.Fault = "removed before answering";
    c.Where = std::string(place.command) + " #" + std::to_string(place.occurrence) +
              (place.type == Kind::Type1 ? " (type 1)" : "");
    c.Type = place.type;
    c.Sent = place.command;
    c.SentTimes = place.occurrence;
    const std::string command = place.command;
    const int occurrence = place.occurrence;
    c.Setup = [command, occurrence](Scenario& s) {
      emu::Fault f;
      f.Kind = emu::FaultKind::RemoveAt;
      f.Command = command;
      f.First = occurrence;
      AddFault(s, f);
      s.Events.push_back(At(kSetInAgainMs, Action::SetIn, "unit"));
    };
    // At the install the tool has already let the device go.
    const bool install = command == "GCMD" && occurrence == 2;
    if (!install) c.Expect.push_back("^log   Disconnect device\\.$");
    c.Expect.push_back("^device unit set in$");
    cases.push_back(c);
  }
  return cases;
}

std::vector<Case> AnswerFaults() {
  struct Reply {
    const char* command;
    const char* truncated;  // the first bytes of the answer, its end lost
    Kind type;
  };
  const Reply replies[] = {{"RTC", "O", Kind::Type2},
                           {"VER", "OK 20", Kind::Type2},
                           {"GSER", "OK PCB0", Kind::Type2},
                           {"KIND", "OK T", Kind::Type2},
                           {"DETAIL", "OK T", Kind::Type2},
                           {"LANGUAGE", "OK J", Kind::Type2},
                           {"FINS", "FINS\\x00\\x00", Kind::Type1},
                           {"DELS", "DEL", Kind::Type1},
                           {"UPLS", "UPLS\\x00", Kind::Type2},
                           {"SSER", "O", Kind::Type2},
                           {"CLEAR", "Succ", Kind::Type2},
                           {"fmts", "filecm", Kind::Type2},
                           {"fres", "OK 12", Kind::Type2}};
  struct Answer {
    const char* name;
    emu::Replacement with;
  };
  const Answer answers[] = {{"NG", emu::Replacement::NG},
                            {"empty", emu::Replacement::Text},
                            {"garbage", emu::Replacement::Garbage},
                            {"truncated", emu::Replacement::Text}};
  std::vector<Case> cases;
  for (const Reply& reply : replies) {
    for (const Answer& answer : answers) {
      Case c;
      c.Fault = std::string(answer.name) + " answer";
      c.Where = std::string(reply.command) + (reply.type == Kind::Type1 ? " (type 1)" : "");
      c.Type = reply.type;
      c.Sent = reply.command;
      const std::string command = reply.command;
      const std::string text =
          std::string(answer.name) == "truncated" ? scenario::Unescape(reply.truncated) : "";
      const emu::Replacement with = answer.with;
      c.Setup = [command, text, with](Scenario& s) {
        emu::Fault f;
        f.Kind = emu::FaultKind::Answer;
        f.Command = command;
        f.With = with;
        f.Text = text;
        AddFault(s, f);
      };
      cases.push_back(c);
    }
  }
  return cases;
}

std::vector<Case> StatusFaults() {
  struct Exchange {
    const char* command;
    std::uint32_t result;  // GCMD: the answer concerned
    bool code;             // a wrong code instead of a non-zero status
    const char* expect;
    Kind type;
  };
  const Exchange exchanges[] = {
      {"FCPS", 0, false, "^log   Error : Failed to download data\\.$", Kind::Type2},
      {"FCPS", 0, true, "", Kind::Type2},
      {"FCPD", 0, false, "^log   Error : Failed to download data\\.$", Kind::Type2},
      {"FCPD", 0, true, "", Kind::Type2},
      {"FCPE", 0, false, "^log   Error : Failed to download data\\.$", Kind::Type2},
      {"FCPE", 0, true, "", Kind::Type2},
      {"GCMD", 2, false, "^log <<Error : Failed to backup system file\\.$", Kind::Type2},
      {"GCMD", 8, false, "^log <<Error : Failed to update firmware\\.$", Kind::Type2},
      {"GCMD", 8, true, "^log <<Error : Invalid command\\.$", Kind::Type2},
      {"ACPD", 0, false, "^log   Error : Failed to download data\\.$", Kind::Type1},
      {"GCMD", 1, false, "^log <<Error : Failed to verify\\.$", Kind::Type1},
      {"GCMD", 1, true, "^log <<Error : Invalid command\\.$", Kind::Type1},
      {"GCMD", 2, false, "^log <<Error : Failed to backup system file\\.$", Kind::Type1},
  };
  std::vector<Case> cases;
  for (const Exchange& x : exchanges) {
    Case c;
    c.Fault = x.code ? "wrong code" : "non-zero status";
    c.Where = std::string(x.command) +
              (x.result != 0 ? " result " + std::to_string(x.result) : "") +
              (x.type == Kind::Type1 ? " (type 1)" : "");
    c.Type = x.type;
    c.Sent = x.command;
    const std::string command = x.command;
    const std::uint32_t result = x.result;
    const bool code = x.code;
    c.Setup = [command, result, code](Scenario& s) {
      emu::Fault f;
      f.Kind = emu::FaultKind::PacketStatus;
      f.Command = command;
      f.Result = result;
      if (code)
        f.Code = 0x7777;
      else
        f.Status = 1;
      AddFault(s, f);
    };
    if (*x.expect != '\0') {
      c.Expect = {x.expect, "^log   Boot loader : Stopped$"};
      c.NotInstalled = true;
    }
    cases.push_back(c);
  }
  return cases;
}

std::vector<Case> DeviceFaults() {
  std::vector<Case> cases;
  auto add = [&](std::string fault, std::string where, Kind type,
                 std::function<void(Scenario&)> setup, std::vector<std::string> expect = {},
                 bool not_installed = false) -> Case& {
    Case c;
    c.Fault = std::move(fault);
    c.Where = std::move(where);
    c.Type = type;
    c.Setup = std::move(setup);
    c.Expect = std::move(expect);
    c.NotInstalled = not_installed;
    cases.push_back(std::move(c));
    return cases.back();
  };
  auto fault = [](emu::FaultKind kind, std::int64_t value = 0) {
    return [kind, value](Scenario& s) {
      emu::Fault f;
      f.Kind = kind;
      f.Value = value;
      AddFault(s, f);
    };
  };
  // The device's next upload packet, in place of its answer to the tool's
  // n-th "UPLR".
  auto upload_packet = [](int n, std::string packet) {
    return [n, packet](Scenario& s) {
      emu::Fault f;
      f.Kind = emu::FaultKind::Answer;
      f.Command = "UPLR";
      f.First = n;
      f.With = emu::Replacement::Text;
      f.Text = packet;
      AddFault(s, f);
    };
  };

  add("digest mismatch", "GCMD result 8", Kind::Type2, fault(emu::FaultKind::WrongDigest),
      {"^log <<Error : MD5 Digest UNMATCHED\\.$", "^log   Boot loader : Stopped$"}, true)
      .Sent = "GCMD";
  add("delete fails", "DELE (type 1)", Kind::Type1, fault(emu::FaultKind::DeleteFails),
      {"^log <<Error : Failed to delete file\\.$"}, true)
      .Sent = "DELS";
  add("FINS status 2", "FINS (type 1)", Kind::Type1, fault(emu::FaultKind::FinsStatus, 2)).Sent =
      "FINS";
  add("upload skips a packet", "UPLD 0", Kind::Type2, fault(emu::FaultKind::UploadSkipPacket, 0),
      {"^log <<Error : Invalid packet number\\.$", "^log   Read retry\\.$"});
  // Data packet 0 again where 1 belongs; the file has two data packets.
  add("upload repeats a packet", "UPLD 0 twice", Kind::Type2,
      [&](Scenario& s) {
        Unit(s).Files["TVINFO.INI"].Content = InfoFile(2500);
        upload_packet(3, std::string("UPLD\0\0\0\0", 8) + std::string(1016, 'r'))(s);
      },
      {"^log <<Error : Invalid packet number\\.$"});
  add("duplicate end packet", "UPLE", Kind::Type2, fault(emu::FaultKind::UploadDuplicateEnd),
      {"^log <<Upload : Done$"});
  add("wrong size", "UPLI +1", Kind::Type2, fault(emu::FaultKind::UploadWrongSize, 1),
      {"^log   Error : Verify NG\\.", "^log   Read retry\\.$"});
  add("wrong size", "UPLI -1", Kind::Type2, fault(emu::FaultKind::UploadWrongSize, -1),
      {"^log   Error : Verify NG\\.", "^log   Read retry\\.$"});
  add("oversized end count", "UPLE 5000", Kind::Type2,
      upload_packet(1, std::string("UPLE\x88\x13\0\0", 8) + std::string(1016, 'e')),
      {"^log <<Error : Failed to upload file\\.$"});
  add("information file over 1025 bytes", "TVINFO.INI 3000", Kind::Type2,
      [](Scenario& s) { Unit(s).Files["TVINFO.INI"].Content = InfoFile(3000); },
      {"^log <<Upload : Done$", "^log >>SSER PCB000000001 BAT000000001 TV0400001234$"});
  add("format byte count 0", "fres", Kind::Type2, fault(emu::FaultKind::FormatSmallCount, 0)).Sent =
      "fres";
  add("no return after the install", "install", Kind::Type2, fault(emu::FaultKind::NoReturn),
      {"^log   14 status$", "^log >>VER$", "^log   21 status$"});
  // The late return starts the run again; the operator cancels that one.
  add("return after the watchdog", "restart 31 s", Kind::Type2,
      [](Scenario& s) { Unit(s).Timing.RestartMs = 31'000; },
      {"^log   21 status$", "^device unit returns$", "^clear$", "^log >>RTC SET "})
      .Answers = {"OK", "OK", "Cancel"};
  add("return as another accepted device", "4B9D:6A00", Kind::Type2,
      [](Scenario& s) {
        emu::Fault f;
        f.Kind = emu::FaultKind::NoReturn;
        AddFault(s, f);
        emu::DeviceConfig other = Unit(s);
        other.Faults.clear();
        other.Identity.VendorId = 0x4B9D;
        other.Identity.ProductId = 0x6A00;
        other.Identity.Product = "Merovox other";
        other.Identity.Version = "201040";
        s.Devices.push_back({"other", other});
        // Set in while the tool waits for the restart: it is taken as the
        // restarted unit.
        s.Events.push_back(At(10'000, Action::SetIn, "other"));
        s.Events.push_back(At(30'000, Action::Remove, "other"));
      },
      {"^device other set in$", "^log   16 status$", "^log >>VER$"});
  return cases;
}

// ---- Running and checking ------------------------------------------------------

struct Outcome {
  std::string Summary;              // what the unit's run came to
  std::vector<std::string> Broken;  // invariants not kept
};

// Index of the first line at or after from that matches, or -1.
long Find(const std::vector<std::string>& lines, const std::string& pattern, std::size_t from = 0,
          std::size_t to = std::string::npos) {
  const std::regex re(pattern);
  for (std::size_t i = from; i < lines.size() && i < to; ++i)
    if (std::regex_search(lines[i], re)) return static_cast<long>(i);
  return -1;
}

std::string After(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) return line.substr(prefix.size());
  return {};
}

Outcome Check(const Case& c, const std::vector<std::string>& lines) {
  Outcome o;
  auto broken = [&](const std::string& what) { o.Broken.push_back(what); };
  const std::string after_version = c.Type == Kind::Type2 ? "201040" : "120";
  const std::string before_version = c.Type == Kind::Type2 ? "201035" : "110";

  const long next_in = Find(lines, "^device next set in$");
  if (next_in < 0) {
    broken("the sound device was never set in");
    return o;
  }
  const auto split = static_cast<std::size_t>(next_in);

  // What the unit's run came to.
  const bool finished = Find(lines, "^box .*\\| Update finished\\.", 0, split) >= 0;
  const bool stopped = Find(lines, "^log   Boot loader : Stopped$", 0, split) >= 0;
  const bool error_box = Find(lines, "^box ErrorDialog", 0, split) >= 0;
  o.Summary = finished ? "finished" : stopped ? "stopped" : "no finish";
  if (error_box) o.Summary += ", error box";

  // The faulty unit's part follows the tool's rules for the fault.
  std::size_t from = 0;
  for (const std::string& pattern : c.Expect) {
    const long at = Find(lines, pattern, from, split);
    if (at < 0) {
      broken("missing " + pattern);
      break;
    }
    from = static_cast<std::size_t>(at) + 1;
  }
  if (!c.Sent.empty()) {
    int sent = 0;
    for (std::size_t i = 0; i < split; ++i)
      if (lines[i].rfind("log >>" + c.Sent, 0) == 0) ++sent;
    if (sent < c.SentTimes) broken("the fault had no place: " + c.Sent + " was not sent");
  }
  const std::string unit_version = After(lines, "end device unit version ");
  if (c.NotInstalled && unit_version != before_version)
    broken("the unit was installed despite the fault (version " + unit_version + ")");
  // The final box never claims a version the unit does not have.
  const long box = Find(lines, "^box .*\\| Update finished\\.", 0, split);
  if (box >= 0) {
    const std::string& text = lines[static_cast<std::size_t>(box)];
    const std::size_t ver = text.rfind("Ver ");
    const std::string shown = text.substr(ver + 4, text.rfind(" | ") - ver - 4);
    if (shown != unit_version)
      broken("the final box shows " + shown + ", the unit has " + unit_version);
  }

  // "_fwbin" is the accepted package's image: its digest as the check gave it.
  const long digest_line = Find(lines, "^log <<file MD5:\\[[0-9A-F]{32}\\]$");
  const std::string package_digest = digest_line < 0
                                         ? ""
                                         : lines[static_cast<std::size_t>(digest_line)].substr(
                                               std::string("log <<file MD5:[").size(), 32);
  const std::string fwbin = After(lines, "end file _fwbin ");
  if (package_digest.empty() || fwbin != package_digest)
    broken("_fwbin is not the package's image (" + fwbin + " / " + package_digest + ")");

  // Nothing but the known files in the working folder: no temporary file,
  // no partial file.
  for (const std::string& line : lines) {
    if (line.rfind("end file ", 0) != 0) continue;
    const std::string name = line.substr(9, line.find(' ', 9) - 9);
    if (name != "_fwbin" && name != "TVINFO.INI" && name != "mvxtvup_setting.ini")
      broken("a stray file " + name);
  }
  // "TVINFO.INI" is whole: the sound device's upload came last, so it holds
  // exactly that device's file.
  const std::string info = After(lines, "end file TVINFO.INI ");
  const std::string next_info = After(lines, "end device next file TVINFO.INI ");
  const std::string next_info_digest =
      next_info.size() >= 32 ? next_info.substr(next_info.size() - 32) : "";
  if (info != next_info_digest)
    broken("TVINFO.INI is not the last upload's file (" + info + " / " + next_info_digest + ")");

  // The sound device set in afterwards starts a clean run and finishes it.
  const long clear = Find(lines, "^clear$", split);
  const long clock = Find(lines, "^log >>RTC SET ", split);
  const long done = Find(lines, "^box .*\\| Update finished\\.", split);
  if (clear < 0 || clock < 0 || clock < clear) broken("the next run did not start at state 2");
  if (done < 0) broken("the next run did not finish");
  if (After(lines, "end device next version ") != after_version)
    broken("the next device was not updated");
  // And its removal brings the tool back to waiting for the next one.
  if (Find(lines, "^end state 1$") < 0) broken("the tool did not end in state 1");
  if (Find(lines, "^end label Label1 Please set Merovox to a cradle\\.") < 0)
    broken("Label1 does not ask for the next device");
  return o;
}

std::vector<Case> AllCases() {
  std::vector<Case> all;
  for (auto* family : {&Removals, &RemovalsAtCommands, &AnswerFaults, &StatusFaults, &DeviceFaults})
    for (Case& c : (*family)()) all.push_back(std::move(c));
  return all;
}

}  // namespace
}  // namespace mvx::faults

int main(int argc, char** argv) {
  using namespace mvx::faults;
  bool verbose = false;
  std::string filter;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--verbose")
      verbose = true;
    else
      filter = arg;
  }
  int run = 0, kept = 0;
  std::printf("%-36s %-24s %-22s %s\n", "fault", "where", "outcome", "invariants");
  for (const Case& c : AllCases()) {
    if (!filter.empty() && c.Fault.find(filter) == std::string::npos &&
        c.Where.find(filter) == std::string::npos)
      continue;
    mvx::scenario::Scenario s = Base(c.Type);
    s.Answers = c.Answers;
    c.Setup(s);
    mvx::scenario::Runner runner(s, nullptr);
    Outcome o;
    try {
      runner.Run();
      o = Check(c, runner.Lines());
    } catch (const std::exception& e) {
      o.Summary = "run failed";
      o.Broken.push_back(e.what());
    }
    ++run;
    if (o.Broken.empty()) ++kept;
    std::printf("%-36s %-24s %-22s %s\n", c.Fault.c_str(), c.Where.c_str(), o.Summary.c_str(),
                o.Broken.empty() ? "kept" : "BROKEN");
    for (const std::string& b : o.Broken) std::printf("    %s\n", b.c_str());
    if (verbose && !o.Broken.empty())
      for (const std::string& line : runner.Lines()) std::printf("      | %s\n", line.c_str());
  }
  std::printf("fault matrix: %d cases, %d kept every invariant, %d broke one\n", run, kept,
              run - kept);
  return kept == run ? 0 : 1;
}
