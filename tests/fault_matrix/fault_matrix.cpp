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
//
// Two families are built from the runs themselves: another device arriving
// at every point of the restart wait, and the unit swapped for the next one
// at every box that a unit's run shows under a set of setups (each setup is
// played once to find its boxes).
//
// The folder cases make the working folder read-only or full while the tool
// writes "_fwbin", "TVINFO.INI" or the settings file, and writable again
// before the sound device comes. Each runs in a child process with a mount
// namespace of its own; where none can be made they are counted as skipped.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <iostream>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "tools/scenario/fault_folder.h"
#include "tools/scenario/runner.h"
#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

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
  // The case makes the working folder fail: it needs a mount namespace.
  bool Folder = false;
  // Lines that must not appear in the unit's part of the run.
  std::vector<std::string> Absent;
  // Lines the sound device's run must show, in order.
  std::vector<std::string> NextExpect;
  // No command reaches a device before the first line that matches.
  std::string QuietUntil;
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
  auto upload_packet = [](int n, const std::string& packet) {
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

// ---- The restart wait and the boxes ------------------------------------------------

// An unrelated HID device, and a second Merovox in a cradle of its own; set in
// while the tool waits for the installed unit, taken out before the unit is.
emu::DeviceConfig Keyboard() {
  emu::DeviceConfig c;
  c.Identity.VendorId = 0x046D;
  c.Identity.ProductId = 0xC31C;
  c.Identity.Product = "Keyboard";
  return c;
}

emu::DeviceConfig SecondUnit(Kind type) {
  emu::DeviceConfig c =
      Device(type, "Merovox other", {"PCB000000055", "BAT000000055", "TV0500005555"});
  c.Identity.Version = type == Kind::Type2 ? "201030" : "100";
  return c;
}

Event AtState(int state, Action action, const std::string& device, std::uint64_t wait_ms = 0) {
  Event e;
  e.When = Trigger::AtState;
  e.State = state;
  e.Do = action;
  e.Device = device;
  e.WaitMs = wait_ms;
  return e;
}

// The restart wait runs from the install command (state 14, the unit still
// listed while it writes, then off the bus) to the answer of the unit back
// (states 16 and 21). At every point another device may arrive: it never
// counts as the unit's return, and the unit's run finishes with its own
// new version.
std::vector<Case> ArrivalsDuringTheRestartWait() {
  struct Point {
    int state;
    const char* phase;
    std::uint32_t install_ms;  // the unit stays listed this long after the install
    std::uint64_t after_ms;    // into the state
  };
  const Point points[] = {{14, "unit listed", 3000, 0},
                          {14, "unit off the bus", 500, 1000},
                          {16, "unit back", 500, 0},
                          {21, "unit back", 500, 0}};
  std::vector<Case> cases;
  for (const Kind type : {Kind::Type2, Kind::Type1}) {
    for (const Point& point : points) {
      for (const bool merovox : {false, true}) {
        // Once the unit is off the bus, a Merovox set in may be it coming
        // back: that one is told apart by its serial number (a file of its
        // own), not here.
        if (merovox && point.after_ms > 0) continue;
        Case c;
        c.Fault = merovox ? "second Merovox arrives" : "keyboard arrives";
        c.Where = "state " + std::to_string(point.state) + ", " + point.phase +
                  (type == Kind::Type1 ? " (type 1)" : "");
        c.Type = type;
        const std::string name = merovox ? "other" : "keyboard";
        c.Setup = [=](Scenario& s) {
          Unit(s).Timing.InstallMs = point.install_ms;
          s.Devices.push_back({name, merovox ? SecondUnit(type) : Keyboard()});
          if (point.after_ms > 0)
            s.Events.push_back(AtState(point.state, Action::Wait, "", point.after_ms));
          s.Events.push_back(AtState(point.state, Action::SetIn, name));
          s.Events.push_back(At(kUnitOutMs - 1000, Action::Remove, name));
        };
        c.Expect = {"^device " + name + " set in$",
                    "^box .*\\| Update finished\\..*Ver " +
                        std::string(type == Kind::Type2 ? "201040" : "120") + " \\|"};
        c.Absent = {"^log   Connect device : Merovox other$"};
        cases.push_back(c);
      }
    }
  }
  return cases;
}

// Setups under which a unit's run shows each kind of box a step opens.
struct BoxSetup {
  const char* name;
  Kind type;
  std::function<void(Scenario&)> setup;
};

std::vector<BoxSetup> BoxSetups() {
  auto model = [](const char* name) {
    return [name](Scenario& s) { Unit(s).Identity.Model = name; };
  };
  auto fault = [](emu::FaultKind kind, const char* command, std::int64_t value = 0) {
    return [=](Scenario& s) {
      emu::Fault f;
      f.Kind = kind;
      f.Command = command;
      f.Times = 0;
      f.Value = value;
      if (kind == emu::FaultKind::Answer) f.With = emu::Replacement::Garbage;
      AddFault(s, f);
    };
  };
  return {
      {"plain", Kind::Type2, [](Scenario&) {}},
      {"plain", Kind::Type1, [](Scenario&) {}},
      {"RX model", Kind::Type2, model("TV004 RX")},
      {"demo model", Kind::Type2, model("3T")},
      {"unknown model", Kind::Type2, model("TV009")},
      {"model mismatch", Kind::Type2, model("PX001 SDF")},
      {"serial range", Kind::Type2,
       [](Scenario& s) { Unit(s).Identity.Serial.Serial = "TV0405000001"; }},
      {"format fails", Kind::Type2, fault(emu::FaultKind::FormatSmallCount, "fres")},
      {"upload unknown", Kind::Type2, fault(emu::FaultKind::Answer, "UPLS")},
      {"old firmware", Kind::Type2, [](Scenario& s) { Unit(s).Identity.VersionAfterInstall = ""; }},
      {"install not written", Kind::Type2, fault(emu::FaultKind::WriteFails, "")},
      {"SSER NG", Kind::Type2,
       [](Scenario& s) {
         emu::Fault f;
         f.Kind = emu::FaultKind::Answer;
         f.Command = "SSER";
         f.Times = 0;
         AddFault(s, f);
       }},
  };
}

// Every box that a unit's run shows under each setup (found by playing the
// setup once) is a point where the operator may take the unit out and set the
// next one in before answering: the answer then steers nothing of the next
// unit's run, which starts clean and finishes.
std::vector<Case> SwapsAtEveryBox() {
  std::vector<Case> cases;
  for (const BoxSetup& b : BoxSetups()) {
    Scenario probe = Base(b.type);
    b.setup(probe);
    scenario::Runner runner(probe, nullptr);
    try {
      runner.Run();
    } catch (const std::exception& e) {
      Case c;
      c.Fault = "unit swapped at a box";
      c.Where = std::string(b.name) + ": the setup does not play";
      c.Setup = [](Scenario& s) { s.Devices.clear(); };
      cases.push_back(c);
      continue;
    }
    int box = 0;
    bool unit_in = false;
    for (const std::string& line : runner.Lines()) {
      if (line == "device unit set in") unit_in = true;
      if (line == "device next set in" || line == "device unit removed") break;
      if (line.rfind("box ", 0) != 0 || line.rfind("box Clipboard", 0) == 0) continue;
      ++box;
      if (!unit_in) continue;
      const std::size_t text_at = line.find(" | ", line.find(" | ") + 3) + 3;
      const std::string text =
          line.substr(text_at, std::min<std::size_t>(24, line.find(" | ", text_at) - text_at));
      Case c;
      c.Fault = "unit swapped at a box";
      c.Where = std::string(b.name) + (b.type == Kind::Type1 ? " (type 1)" : "") + ": " + text;
      c.Type = b.type;
      const auto setup = b.setup;
      c.Setup = [setup, box](Scenario& s) {
        setup(s);
        Event e;
        e.When = Trigger::AtBox;
        e.Box = box;
        for (auto [action, device, wait] :
             {std::tuple{Action::Remove, "unit", 0}, std::tuple{Action::Wait, "", 100},
              std::tuple{Action::SetIn, "next", 0}, std::tuple{Action::Wait, "", 200}}) {
          e.Do = action;
          e.Device = device;
          e.WaitMs = static_cast<std::uint64_t>(wait);
          s.Events.push_back(e);
        }
      };
      c.Expect = {"^device unit removed$"};
      cases.push_back(c);
    }
  }
  return cases;
}

// ---- Folder faults ----------------------------------------------------------------

constexpr std::uint64_t kFolderBackMs = 40'200;  // the unit is out, the next not yet in
constexpr std::uint64_t kOpenAgainMs = 40'500;
constexpr const char* kSettingsName = "mvxtvup_setting.ini";
// A second package of the same version whose image spans many blocks, so that
// a full folder stops its extraction part-way.
constexpr const char* kLargePackage = "fw040b.tvu";
constexpr std::uint32_t kLargeImage = 200'000;
constexpr std::uint64_t kPartWayFree = std::uint64_t{64} * 1024;

// A text as the transcript shows it, as a pattern that matches exactly it.
std::string Literal(const std::string& text) {
  std::string out;
  for (const char ch : mvx::scenario::Escape(text)) {
    if (std::strchr("\\^$.|?*+()[]{}", ch) != nullptr) out += '\\';
    out += ch;
  }
  return out;
}

std::string ErrorBox(const std::string& text) {
  return "^box MessageBox\\[error\\] \\| MVXTVUP \\| " + Literal(text) + " \\| OK$";
}

std::string SystemText(int error) {
  return std::generic_category().message(error);
}

Event Do(Action action, std::uint64_t ms = 0) {
  return At(ms, action, "");
}

Event FullFolder(std::uint64_t ms, std::uint64_t free_bytes) {
  Event e = Do(Action::FolderFull, ms);
  e.FreeBytes = free_bytes;
  return e;
}

Event OpenFile(std::uint64_t ms, const std::string& file) {
  Event e = Do(Action::Open, ms);
  e.File = file;
  return e;
}

void AddLargePackage(Scenario& s) {
  scenario::PackageSpec p = *s.Package;
  p.FileName = kLargePackage;
  p.ImageSize = kLargeImage;
  s.OtherPackages.push_back(p);
}

// The settings file the runner writes for the format setting.
constexpr const char* kSettingsText = "[Setting]\r\nCheckBoxFileFormat=True\r\n";

std::vector<Case> FolderFaults() {
  std::vector<Case> cases;
  auto add = [&](std::string fault, std::string where, std::function<void(Scenario&)> setup,
                 std::vector<std::string> expect) -> Case& {
    Case c;
    c.Fault = std::move(fault);
    c.Where = std::move(where);
    c.Folder = true;
    c.Setup = std::move(setup);
    c.Expect = std::move(expect);
    cases.push_back(std::move(c));
    return cases.back();
  };
  const std::string finished = "^box .*\\| Update finished\\.";
  const std::string cannot_create = "ファイル \"./_fwbin\". ";
  const std::string create_tail = " を作成できません";

  // File > Open with no package loaded: the unit, set in meanwhile, waits
  // without a run; once the folder is writable the package opened again
  // starts the run on the unit at once.
  for (const bool full : {false, true}) {
    const std::string error = full ? SystemText(ENOSPC) : SystemText(EROFS);
    Case& c = add(full ? "folder full" : "folder read-only",
                  full ? "_fwbin part-way, 1st open" : "_fwbin, 1st open",
                  [full](Scenario& s) {
                    AddLargePackage(s);
                    s.Events[0].File = kLargePackage;
                    s.Events.insert(s.Events.begin(), full ? FullFolder(0, kPartWayFree)
                                                           : Do(Action::FolderReadOnly));
                    s.Events.push_back(Do(Action::Snapshot, 4'000));
                    s.Events.push_back(Do(Action::FolderWritable, 4'500));
                    s.Events.push_back(OpenFile(5'000, kLargePackage));
                  },
                  {ErrorBox(cannot_create + error + create_tail), "^device unit set in$",
                   "^snapshot state 2$", "^snapshot label Label1 Normal mode$",
                   "^snapshot label LabelFilename Update filename$", "^snapshot package none$",
                   "^folder writable$", "^operator File > Open$", "^log <<file MD5:\\[",
                   "^log >>RTC SET ", "^log   source file size:200000$", finished});
    c.QuietUntil = "^folder writable$";
    c.NextExpect = {"^log   source file size:200000$"};
  }

  // File > Open over a loaded package: it stays loaded, its image untouched,
  // and the unit gets it; the package opened again once the folder is
  // writable goes to the next device.
  for (const bool full : {false, true}) {
    const std::string error = full ? SystemText(ENOSPC) : SystemText(EROFS);
    Case& c = add(
        full ? "folder full" : "folder read-only",
        full ? "_fwbin part-way, loaded" : "_fwbin, package loaded",
        [full](Scenario& s) {
          AddLargePackage(s);
          s.Events.push_back(full ? FullFolder(50, kPartWayFree) : Do(Action::FolderReadOnly, 50));
          s.Events.push_back(OpenFile(60, kLargePackage));
          s.Events.push_back(Do(Action::Snapshot, 80));
          s.Events.push_back(Do(Action::FolderWritable, 90));
          s.Events.push_back(OpenFile(kOpenAgainMs, kLargePackage));
        },
        {"^log <<file MD5:\\[", full ? "^folder full" : "^folder read-only$",
         "^operator File > Open$", ErrorBox(cannot_create + error + create_tail),
         "^snapshot label LabelUpdateVersion 201040$",
         "^snapshot label LabelFilename Update filename  fw040\\.tvu$",
         "^snapshot package \\./fw040\\.tvu [0-9A-F]{32}$", "^folder writable$", "^log >>RTC SET ",
         "^log   source file size:3000$", finished, "^operator File > Open$"});
    c.NextExpect = {"^log   source file size:200000$"};
  }

  // "TVINFO.INI" after the upload: the error ends the step that writes it;
  // the information packet that follows is verified and parsed from the
  // upload buffer, so the serial number is restored and the run finishes.
  struct InfoFault {
    const char* where;
    bool full;
    std::uint64_t free_bytes;
    std::size_t info_size;  // of the unit's information file
    const char* previous;   // the folder's earlier "TVINFO.INI", or none
  };
  const InfoFault info_faults[] = {
      {"TVINFO.INI, earlier file", false, 0, 1500, "ser TV0400000001\r\npcb P1\r\nbat B1\r\n"},
      {"TVINFO.INI part-way, earlier", true, 4096, 10'000, "ser TV0400000001\r\n"},
      {"TVINFO.INI, none before", true, 0, 1500, nullptr},
  };
  for (const InfoFault& f : info_faults) {
    const std::string error = f.full ? SystemText(ENOSPC) : SystemText(EROFS);
    const std::optional<std::string> previous =
        f.previous ? std::optional<std::string>(f.previous) : std::nullopt;
    std::vector<std::string> expect = {f.full ? "^folder full" : "^folder read-only$",
                                       "^log <<Upload : Started\\.",
                                       ErrorBox("Cannot write TVINFO.INI. " + error),
                                       "^log   Verify : OK\\.",
                                       "^log <<Upload : Done$",
                                       "^log >>SSER PCB000000001 BAT000000001 TV0400001234$",
                                       "^log >>CLEAR$",
                                       finished};
    if (previous)
      expect.insert(expect.begin() + 6,
                    "^snapshot file TVINFO\\.INI " + emu::Md5Hex(*previous) + "$");
    Case& c = add(
        f.full ? "folder full" : "folder read-only", f.where,
        [f, previous](Scenario& s) {
          Unit(s).Files["TVINFO.INI"].Content = InfoFile(f.info_size);
          if (previous) s.FolderFiles["TVINFO.INI"] = *previous;
          Event fault = f.full ? FullFolder(0, f.free_bytes) : Do(Action::FolderReadOnly);
          fault.When = Trigger::AtCommand;
          fault.Command = "UPLS";
          fault.WatchedDevice = "unit";
          s.Events.push_back(fault);
          Event snapshot = Do(Action::Snapshot);
          snapshot.When = Trigger::AtState;
          snapshot.State = 34;
          s.Events.push_back(snapshot);
          s.Events.push_back(Do(Action::FolderWritable, kFolderBackMs));
        },
        expect);
    c.Absent = {"^log   " + Literal("ファイル書込") + "$"};
    if (!previous) c.Absent.push_back("^snapshot file TVINFO\\.INI ");
  }

  // The settings file: the error after the warning box, the check box keeps
  // its new state and the run follows it.
  const std::string settings_error = "./mvxtvup_setting.ini に書き込めません";
  add("folder read-only", "settings file, start-up",
      [](Scenario& s) {
        Event fault = Do(Action::FolderReadOnly);
        fault.When = Trigger::AtStart;
        s.Events.insert(s.Events.begin(), fault);
        // Writable again before the package is opened.
        s.Events.insert(s.Events.begin() + 1, Do(Action::Snapshot));
        s.Events.insert(s.Events.begin() + 2, Do(Action::FolderWritable));
      },
      {"^folder read-only$", "^box MessageBox\\[warning\\] \\| MVXTVUP v1\\.77 \\| ",
       ErrorBox(settings_error), "^snapshot check CheckBoxFileFormat on$",
       "^snapshot file mvxtvup_setting\\.ini " + emu::Md5Hex(kSettingsText) + "$",
       "^folder writable$", "^log >>fmts", finished});
  // The operator unchecks the format box; in the second case the file ends
  // exactly at a block boundary, so that the longer "False" needs one block
  // more than the file had.
  std::string block_settings = kSettingsText;
  block_settings += "[Notes]\r\nText=";
  block_settings += std::string(4096 - block_settings.size() - 2, 'n') + "\r\n";
  struct SettingsFault {
    const char* where;
    bool full;
    std::string before;
  };
  const SettingsFault settings_faults[] = {
      {"settings file, box unchecked", false, kSettingsText},
      {"settings file ends at a block", true, block_settings},
  };
  for (const SettingsFault& f : settings_faults) {
    Case& c = add(
        f.full ? "folder full" : "folder read-only", f.where,
        [f](Scenario& s) {
          s.FolderFiles[kSettingsName] = f.before;
          s.Events.push_back(f.full ? FullFolder(40, 0) : Do(Action::FolderReadOnly, 40));
          Event uncheck = Do(Action::Format, 50);
          uncheck.Flag = false;
          s.Events.push_back(uncheck);
          s.Events.push_back(Do(Action::Snapshot, 60));
          s.Events.push_back(Do(Action::FolderWritable, 70));
        },
        {f.full ? "^folder full" : "^folder read-only$", "^operator unchecks CheckBoxFileFormat$",
         ErrorBox(settings_error), "^snapshot check CheckBoxFileFormat off$",
         "^snapshot file mvxtvup_setting\\.ini " + emu::Md5Hex(f.before) + "$", "^folder writable$",
         finished});
    c.Absent = {"^log >>fmts"};
  }
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

// Index of the last line before to that matches, or -1.
long FindLast(const std::vector<std::string>& lines, const std::string& pattern, std::size_t to) {
  const std::regex re(pattern);
  for (std::size_t i = std::min(to, lines.size()); i-- > 0;)
    if (std::regex_search(lines[i], re)) return static_cast<long>(i);
  return -1;
}

// The digest of the package accepted last before line to; empty when none.
std::string AcceptedDigest(const std::vector<std::string>& lines, std::size_t to) {
  const long at = FindLast(lines, "^log <<file MD5:\\[[0-9A-F]{32}\\]$", to);
  return at < 0 ? ""
                : lines[static_cast<std::size_t>(at)].substr(std::string("log <<file MD5:[").size(),
                                                             32);
}

// What the working folder may hold: the files the run began with, and each
// file the tool writes as one of its whole versions.
struct FolderRules {
  std::set<std::string> Packages;
  std::optional<std::string> InfoBefore;  // digest
  std::set<std::string> InfoWhole;        // digests
  std::optional<std::string> SettingsBefore;
  std::set<std::string> SettingsWhole;
};

FolderRules RulesFor(const Scenario& s, const std::vector<std::string>& lines) {
  FolderRules r;
  if (s.Package) r.Packages.insert(scenario::NameInWorkingFolder(*s.Package));
  for (const auto& p : s.OtherPackages) r.Packages.insert(scenario::NameInWorkingFolder(p));
  if (const auto it = s.FolderFiles.find("TVINFO.INI"); it != s.FolderFiles.end()) {
    r.InfoBefore = emu::Md5Hex(it->second);
    r.InfoWhole.insert(*r.InfoBefore);
  }
  // Any device's information file, as uploaded whole.
  const std::regex device_info("^end device \\S+ file TVINFO\\.INI [0-9]+ ([0-9A-F]{32})$");
  for (const std::string& line : lines) {
    std::smatch m;
    if (std::regex_match(line, m, device_info)) r.InfoWhole.insert(m[1]);
  }
  std::optional<std::string> settings;
  if (s.FormatAfterVersionup) settings = kSettingsText;
  if (const auto it = s.FolderFiles.find(kSettingsName); it != s.FolderFiles.end())
    settings = it->second;
  if (settings) {
    r.SettingsBefore = emu::Md5Hex(*settings);
    r.SettingsWhole.insert(*r.SettingsBefore);
    // The one value written over in place, to either state of the box.
    for (const auto& [from, to] :
         {std::pair{"=True\r\n", "=False\r\n"}, std::pair{"=False\r\n", "=True\r\n"}}) {
      std::string text = *settings;
      const std::size_t at = text.find(std::string("CheckBoxFileFormat") + from);
      if (at != std::string::npos) text.replace(at + 18, std::strlen(from), to);
      r.SettingsWhole.insert(emu::Md5Hex(text));
    }
  } else {
    for (const char* value : {"True", "False"})
      r.SettingsWhole.insert(
          emu::Md5Hex(std::string("[Setting]\r\nCheckBoxFileFormat=") + value + "\r\n"));
  }
  return r;
}

// Every snapshot of the working folder: nothing but the known files, "_fwbin"
// the image of the package accepted last (or absent before any), the loaded
// package that one, and "TVINFO.INI" and the settings file whole.
void CheckSnapshots(const FolderRules& r, const std::vector<std::string>& lines,
                    const std::function<void(const std::string&)>& broken) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("snapshot state ", 0) != 0) continue;
    const std::string accepted = AcceptedDigest(lines, i);
    std::map<std::string, std::string> files;
    for (std::size_t j = i + 1; j < lines.size() && lines[j].rfind("snapshot ", 0) == 0; ++j) {
      const std::string& line = lines[j];
      if (line.rfind("snapshot package ", 0) == 0) {
        const std::string package = line.substr(17);
        if (package != "none" &&
            (accepted.empty() || package.substr(package.size() - 32) != accepted))
          broken("the loaded package is not the one accepted last: " + package);
        if (package == "none" && !accepted.empty())
          broken("the accepted package is no longer loaded");
      }
      if (line.rfind("snapshot file ", 0) != 0) continue;
      const std::size_t blank = line.rfind(' ');
      files[line.substr(14, blank - 14)] = line.substr(blank + 1);
    }
    for (const auto& [name, digest] : files) {
      if (r.Packages.count(name)) continue;
      if (name == "_fwbin") {
        if (digest != accepted)
          broken("_fwbin is not the accepted package's image in a snapshot (" + digest + " / " +
                 accepted + ")");
      } else if (name == "TVINFO.INI") {
        if (!r.InfoWhole.count(digest)) broken("TVINFO.INI is torn in a snapshot (" + digest + ")");
      } else if (name == kSettingsName) {
        if (!r.SettingsWhole.count(digest))
          broken("the settings file is torn in a snapshot (" + digest + ")");
      } else {
        broken("a stray file " + name + " in a snapshot");
      }
    }
    if (!files.count("_fwbin") && !accepted.empty()) broken("_fwbin is gone in a snapshot");
    if (!files.count("TVINFO.INI") && r.InfoBefore) broken("TVINFO.INI is gone in a snapshot");
    if (!files.count(kSettingsName) && r.SettingsBefore)
      broken("the settings file is gone in a snapshot");
  }
}

Outcome Check(const Case& c, const Scenario& s, const std::vector<std::string>& lines) {
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
  for (const std::string& pattern : c.Absent)
    if (Find(lines, pattern, 0, split) >= 0) broken("the unit's part holds " + pattern);
  from = split;
  for (const std::string& pattern : c.NextExpect) {
    const long at = Find(lines, pattern, from);
    if (at < 0) {
      broken("missing in the next run " + pattern);
      break;
    }
    from = static_cast<std::size_t>(at) + 1;
  }
  if (!c.QuietUntil.empty()) {
    const long until = Find(lines, c.QuietUntil);
    const long command = Find(lines, "^log >>");
    if (until < 0 || (command >= 0 && command < until))
      broken("a command was sent before " + c.QuietUntil);
  }
  if (!c.Sent.empty()) {
    int sent = 0;
    for (std::size_t i = 0; i < split; ++i)
      if (lines[i].rfind("log >>" + c.Sent, 0) == 0) ++sent;
    if (sent < c.SentTimes) broken("the fault had no place: " + c.Sent + " was not sent");
  }
  // Nothing is sent while the unit writes its firmware: from the install
  // command until it leaves the bus to restart.
  const long updating = Find(lines, "^log   Updating\\.$", 0, split);
  if (updating >= 0) {
    const long leaves = Find(lines, "^device unit (leaves the bus|removed)$",
                             static_cast<std::size_t>(updating), split);
    const long sent = Find(lines, "^log >>", static_cast<std::size_t>(updating),
                           leaves < 0 ? split : static_cast<std::size_t>(leaves));
    if (sent >= 0) broken("sent to the installing unit: " + lines[static_cast<std::size_t>(sent)]);
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

  // "_fwbin" is the image of the package accepted last: its digest as the
  // check gave it.
  const std::string package_digest = AcceptedDigest(lines, lines.size());
  const std::string fwbin = After(lines, "end file _fwbin ");
  if (package_digest.empty() || fwbin != package_digest)
    broken("_fwbin is not the package's image (" + fwbin + " / " + package_digest + ")");

  // Nothing but the known files in the working folder: no temporary file,
  // no partial file; the settings file whole.
  const FolderRules rules = RulesFor(s, lines);
  for (const std::string& line : lines) {
    if (line.rfind("end file ", 0) != 0) continue;
    const std::string name = line.substr(9, line.find(' ', 9) - 9);
    if (name != "_fwbin" && name != "TVINFO.INI" && name != kSettingsName &&
        !rules.Packages.count(name))
      broken("a stray file " + name);
    if (name == kSettingsName && !rules.SettingsWhole.count(line.substr(line.rfind(' ') + 1)))
      broken("the settings file is torn");
  }
  CheckSnapshots(rules, lines, broken);
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
  // It begins clean: until its confirmation only the identification's
  // commands are sent, none of a step of the run before.
  if (clear >= 0) {
    const long confirmation = Find(lines, "^box .*\\| Confirmation \\|", clear);
    static const std::regex identification("^log >>(RTC SET |VER$|GSER$|KIND$|DETAIL$|LANGUAGE$)");
    for (std::size_t i = static_cast<std::size_t>(clear);
         i < (confirmation < 0 ? lines.size() : static_cast<std::size_t>(confirmation)); ++i)
      if (lines[i].rfind("log >>", 0) == 0 && !std::regex_search(lines[i], identification)) {
        broken("the next run began with " + lines[i]);
        break;
      }
  }
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
  for (auto* family : {&Removals, &RemovalsAtCommands, &AnswerFaults, &StatusFaults, &DeviceFaults,
                       &ArrivalsDuringTheRestartWait, &SwapsAtEveryBox, &FolderFaults})
    for (Case& c : (*family)()) all.push_back(std::move(c));
  return all;
}

Outcome RunCase(const Case& c, std::vector<std::string>& lines) {
  Scenario s = Base(c.Type);
  s.Answers = c.Answers;
  c.Setup(s);
  scenario::Runner runner(s, nullptr);
  Outcome o;
  try {
    runner.Run();
    o = Check(c, s, runner.Lines());
  } catch (const std::exception& e) {
    o.Summary = "run failed";
    o.Broken.push_back(e.what());
  }
  lines = runner.Lines();
  return o;
}

// Why folder cases cannot run here; empty while they can.
std::string no_namespace;

#ifndef _WIN32

void WriteAll(int fd, const std::string& text) {
  for (std::size_t done = 0; done < text.size();) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

std::string OneLine(std::string text) {
  for (char& ch : text)
    if (ch == '\n' || ch == '\r') ch = ' ';
  return text;
}

// A folder case runs in a child process: its mount namespace and mounts end
// with it, and a crash of the tool is the case's outcome, not the matrix's.
// The child reports its outcome and transcript a line each: "S" the
// summary, "B" a broken invariant, "L" a transcript line, "K" why it could
// make no mount namespace.
Outcome RunIsolated(const Case& c, std::vector<std::string>& lines) {
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) return {"run failed", {std::string("pipe: ") + std::strerror(errno)}};
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) {
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    return {"run failed", {std::string("fork: ") + std::strerror(errno)}};
  }
  if (child == 0) {
    close(pipe_fds[0]);
    std::string report;
    const std::string why = scenario::EnterPrivateMountNamespace();
    if (!why.empty()) {
      report = "K " + OneLine(why) + "\n";
    } else {
      std::vector<std::string> transcript;
      const Outcome o = RunCase(c, transcript);
      report = "S " + OneLine(o.Summary) + "\n";
      for (const std::string& b : o.Broken) report += "B " + OneLine(b) + "\n";
      for (const std::string& line : transcript) report += "L " + line + "\n";
    }
    WriteAll(pipe_fds[1], report);
    _exit(0);
  }
  close(pipe_fds[1]);
  std::string report;
  char buffer[65536];
  for (;;) {
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    report.append(buffer, static_cast<std::size_t>(n));
  }
  close(pipe_fds[0]);
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }

  Outcome o;
  std::size_t at = 0;
  while (at < report.size()) {
    const std::size_t end = report.find('\n', at);
    const std::string line = report.substr(at, end - at);
    at = end == std::string::npos ? report.size() : end + 1;
    if (line.size() < 2) continue;
    const std::string text = line.substr(2);
    switch (line[0]) {
      case 'S':
        o.Summary = text;
        break;
      case 'B':
        o.Broken.push_back(text);
        break;
      case 'L':
        lines.push_back(text);
        break;
      case 'K':
        no_namespace = text;
        break;
      default:
        break;
    }
  }
  if (WIFSIGNALED(status)) {
    o.Summary = "crashed";
    o.Broken.push_back("the run ended by signal " + std::to_string(WTERMSIG(status)));
  } else if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    o.Summary = "run failed";
    o.Broken.push_back("the run exited with status " + std::to_string(WEXITSTATUS(status)));
  } else if (o.Summary.empty() && no_namespace.empty()) {
    o.Summary = "run failed";
    o.Broken.push_back("the run reported nothing");
  }
  return o;
}

#else

Outcome RunIsolated(const Case&, std::vector<std::string>&) {
  no_namespace = scenario::EnterPrivateMountNamespace();
  return {};
}

#endif

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
  int run = 0, kept = 0, skipped = 0;
  std::printf("%-36s %-30s %-22s %s\n", "fault", "where", "outcome", "invariants");
  for (const Case& c : AllCases()) {
    if (!filter.empty() && c.Fault.find(filter) == std::string::npos &&
        c.Where.find(filter) == std::string::npos)
      continue;
    std::vector<std::string> lines;
    Outcome o;
    if (c.Folder && no_namespace.empty()) o = RunIsolated(c, lines);
    if (c.Folder && !no_namespace.empty()) {
      ++skipped;
      std::printf("%-36s %-30s %-22s %s\n", c.Fault.c_str(), c.Where.c_str(),
                  "skipped (no mount namespace)", "-");
      continue;
    }
    if (!c.Folder) o = RunCase(c, lines);
    ++run;
    if (o.Broken.empty()) ++kept;
    std::printf("%-36s %-30s %-22s %s\n", c.Fault.c_str(), c.Where.c_str(), o.Summary.c_str(),
                o.Broken.empty() ? "kept" : "BROKEN");
    for (const std::string& b : o.Broken) std::printf("    %s\n", b.c_str());
    if (verbose && !o.Broken.empty())
      for (const std::string& line : lines) std::printf("      | %s\n", line.c_str());
  }
  if (!no_namespace.empty()) std::printf("no mount namespace: %s\n", no_namespace.c_str());
  std::printf("fault matrix: %d cases, %d kept every invariant, %d broke one, %d skipped\n",
              run + skipped, kept, run - kept, skipped);
  return kept == run ? 0 : 1;
}
