// The scenario file, the transcript's rules and the runner in-process.
#include <gtest/gtest.h>

#include <algorithm>

#include "tools/scenario/fault_folder.h"
#include "tools/scenario/runner.h"
#include "tools/scenario/scenario.h"
#include "tools/scenario/transcript.h"

namespace mvx::scenario {
namespace {

TEST(Transcript, EscapesLineBreaksAndBytesOutsidePrintableAscii) {
  EXPECT_EQ(Escape(std::string("OK\r\n", 4)), "OK\\r\\n");
  EXPECT_EQ(Escape(std::string("a\0\x7F~ \x1B", 6)), "a\\x00\\x7F~ \\x1B");
  EXPECT_EQ(Escape("\xE3\x81\x82"), "\\xE3\\x81\\x82");
  EXPECT_EQ(Unescape("OK\\r\\n\\x00\\x4b\\q"), std::string("OK\r\n\0Kq", 7));
}

TEST(Transcript, ExpectationsMatchInOrderWholeOrByPattern) {
  const std::vector<std::string> lines = {"log >>VER", "log <<OK", "label1 Verify.", "end state 1"};
  struct Case {
    std::vector<Expectation> expect;
    int unmet;
  } cases[] = {
      {{}, -1},
      {{{"log >>VER", false}, {"end state 1", false}}, -1},
      {{{"^label1 Ver", true}, {"state [0-9]$", true}}, -1},
      {{{"log <<OK", false}, {"log >>VER", false}}, 1},   // out of order
      {{{"log >>VE", false}}, 0},                         // a line is matched whole
      {{{"log >>VER", false}, {"log >>VER", false}}, 1},  // each line serves once
  };
  for (const Case& c : cases) EXPECT_EQ(FirstUnmet(c.expect, lines), c.unmet);
}

TEST(Transcript, NeverLinesAreLookedForEverywhere) {
  const std::vector<std::string> lines = {"log >>VER", "log <<OK", "label1 Verify.", "end state 1"};
  struct Case {
    std::vector<Expectation> never;
    int present;
  } cases[] = {
      {{}, -1},
      {{{"log >>GSER", false}, {"^box ", true}}, -1},
      {{{"log >>VE", false}}, -1},                       // matched whole
      {{{"log >>GSER", false}, {"state 1$", true}}, 1},  // the last line counts too
      {{{"^log <<", true}, {"log >>VER", false}}, 0},    // the first that appears is named
  };
  for (const Case& c : cases) EXPECT_EQ(FirstPresent(c.never, lines), c.present);
}

TEST(ScenarioFile, ReadsDevicesFaultsAndEvents) {
  const Scenario s = ParseScenario(R"({
    "package": {"version": "201033", "special_code": "SAR", "image_size": 2032},
    "settings": {"format_after_versionup": true},
    "operator": {"answers": ["OK", "Yes"]},
    "devices": [{
      "name": "unit", "vendor_id": "0x4B9D", "product_id": 27136, "version": "201026",
      "serial": ["P", "B", "TV0400001234"],
      "files": {"old.tvu": {"size": 10, "md5": "00112233445566778899aabbccddeeff"},
                "note.txt": {"text": "a\\r\\n"}},
      "timing": {"restart_ms": 31000},
      "faults": [{"kind": "status", "command": "FCPD", "first": 3, "status": 1, "code": "0x1003"},
                 {"kind": "answer", "command": "KIND", "with": "garbage", "times": 0}],
      "set_in_ms": 50
    }],
    "events": [{"at_state": 99, "occurrence": 2, "do": "remove", "device": "unit"},
               {"at_box": 1, "do": "wait", "ms": 250}],
    "run_ms": 90000,
    "expect": ["end state 1", {"regex": "^box "}]
  })",
                                   "/tmp");
  ASSERT_TRUE(s.Package);
  EXPECT_EQ(s.Package->SpecialCode, "SAR");
  EXPECT_TRUE(s.FormatAfterVersionup);
  EXPECT_EQ(s.Answers, (std::vector<std::string>{"OK", "Yes"}));
  ASSERT_EQ(s.Devices.size(), 1u);
  const emu::DeviceConfig& c = s.Devices[0].Config;
  EXPECT_EQ(c.Identity.VendorId, 0x4B9D);
  EXPECT_EQ(c.Identity.ProductId, 0x6A00);
  EXPECT_EQ(c.Identity.Serial.Serial, "TV0400001234");
  EXPECT_EQ(c.Files.at("old.tvu").Digest(), "00112233445566778899AABBCCDDEEFF");
  EXPECT_EQ(c.Files.at("old.tvu").Size(), 10u);
  EXPECT_EQ(c.Files.at("note.txt").Content, "a\r\n");
  EXPECT_EQ(c.Timing.RestartMs, 31000u);
  EXPECT_EQ(c.Timing.LatencyMs, emu::DeviceTiming{}.LatencyMs);
  ASSERT_EQ(c.Faults.size(), 2u);
  EXPECT_EQ(c.Faults[0].Kind, emu::FaultKind::PacketStatus);
  EXPECT_EQ(c.Faults[0].First, 3);
  EXPECT_EQ(c.Faults[0].Code, 0x1003u);
  EXPECT_EQ(c.Faults[1].With, emu::Replacement::Garbage);
  EXPECT_EQ(c.Faults[1].Times, 0);
  // The device's set-in time comes first as an event of its own.
  ASSERT_EQ(s.Events.size(), 3u);
  EXPECT_EQ(s.Events[0].Do, Action::SetIn);
  EXPECT_EQ(s.Events[0].Ms, 50u);
  EXPECT_EQ(s.Events[1].When, Trigger::AtState);
  EXPECT_EQ(s.Events[1].Occurrence, 2);
  EXPECT_EQ(s.Events[2].WaitMs, 250u);
  EXPECT_EQ(s.Expect.size(), 2u);
  EXPECT_TRUE(s.Expect[1].Regex);
}

TEST(ScenarioFile, ReadsFolderFilesOtherPackagesAndFolderActions) {
  const Scenario s = ParseScenario(R"({
    "package": {"file_name": "a.tvu"},
    "other_packages": [{"file_name": "b.tvu", "image_size": 200000}, {"path": "old/c.tvu"}],
    "folder_files": {"TVINFO.INI": {"text": "ser X\\r\\n"}, "blob": {"hex": "00FF"}},
    "events": [{"at_start": true, "do": "folder_read_only"},
               {"at_ms": 0, "do": "snapshot"},
               {"at_ms": 0, "do": "folder_writable"},
               {"at_command": "UPLS", "of": "unit", "do": "folder_full", "free": 4096},
               {"at_ms": 5, "do": "open", "file": "b.tvu"}],
    "devices": [{"name": "unit"}]
  })",
                                   "/scenarios");
  ASSERT_EQ(s.OtherPackages.size(), 2u);
  EXPECT_EQ(s.OtherPackages[0].ImageSize, 200000u);
  EXPECT_EQ(NameInWorkingFolder(s.OtherPackages[0]), "b.tvu");
  EXPECT_EQ(NameInWorkingFolder(s.OtherPackages[1]), "c.tvu");
  EXPECT_EQ(s.FolderFiles.at("TVINFO.INI"), "ser X\r\n");
  EXPECT_EQ(s.FolderFiles.at("blob"), std::string("\0\xFF", 2));
  ASSERT_EQ(s.Events.size(), 5u);
  EXPECT_EQ(s.Events[0].When, Trigger::AtStart);
  EXPECT_EQ(s.Events[0].Do, Action::FolderReadOnly);
  EXPECT_EQ(s.Events[1].Do, Action::Snapshot);
  EXPECT_EQ(s.Events[3].Do, Action::FolderFull);
  EXPECT_EQ(s.Events[3].FreeBytes, 4096u);
  EXPECT_TRUE(UsesFolderFaults(s));

  // A snapshot alone looks at the folder and needs no file system of its own.
  EXPECT_FALSE(UsesFolderFaults(
      ParseScenario(R"({"events": [{"at_start": true, "do": "snapshot"}]})", "/tmp")));
}

TEST(ScenarioFile, UnusableFilesAreRefusedWithTheirReason) {
  struct Case {
    const char* json;
    const char* reason;
  } cases[] = {
      {"{", "not JSON"},
      {"[]", "must be an object"},
      {R"({"devices": [{"name": "a", "colour": "red"}]})", "devices[0]: unknown key \"colour\""},
      {R"({"devices": [{"product": "x"}]})", "needs a \"name\""},
      {R"({"devices": [{"name": "a"}, {"name": "a"}]})", "two devices named"},
      {R"({"devices": [{"name": "a", "faults": [{"kind": "melt"}]}]})", "unknown fault"},
      {R"({"devices": [{"name": "a", "vendor_id": "0xZZ"}]})", "vendor_id: must be"},
      {R"({"events": [{"at_ms": 1, "do": "remove", "device": "b"}]})", "no device named \"b\""},
      {R"({"events": [{"at_ms": 1, "at_box": 2, "do": "wait"}]})", "exactly one of"},
      {R"({"events": [{"at_ms": 1, "do": "open"}]})", "without a package"},
      {R"({"events": [{"at_ms": 1, "do": "dance"}]})", "unknown action"},
      {R"({"expect": [{"regex": "("}]})", "bad regular expression"},
      {R"({"never": [{"regex": "["}]})", "never: bad regular expression"},
      {R"({"never": "log >>VER"})", "never: must be a list"},
      {R"({"package": {"file_name": "a/b.tvu"}})", "plain file name"},
      {R"({"other_packages": [{"file_name": "a/b.tvu"}]})", "other_packages[0].file_name"},
      {R"({"package": {}, "other_packages": [{}]})", "two packages named \"update.tvu\""},
      {R"({"folder_files": {"../x": {"text": "a"}}})", "folder_files.../x: must be a plain"},
      {R"({"events": [{"at_start": true, "do": "open"}]})", "takes only folder actions"},
      {R"({"events": [{"at_start": false, "do": "snapshot"}]})", "at_start: must be true"},
      {R"({"events": [{"at_ms": 1, "do": "folder_full", "free": -1}]})", "free: must be"},
  };
  for (const Case& c : cases) {
    try {
      ParseScenario(c.json, "/tmp");
      ADD_FAILURE() << "accepted: " << c.json;
    } catch (const ScenarioError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos)
          << c.json << " gave: " << e.what();
    }
  }
  EXPECT_THROW(LoadScenario("/nonexistent/scenario.json"), ScenarioError);
}

// Folder faults mount a file system: never in the namespace every other
// process sees.
TEST(Runner, FolderFaultsNeedAMountNamespaceOfTheirOwn) {
  ASSERT_FALSE(InPrivateMountNamespace());
  const Scenario s = ParseScenario(
      R"({"events": [{"at_ms": 0, "do": "folder_read_only"}], "run_ms": 10})", "/tmp");
  Runner runner(s, nullptr);
  try {
    runner.Run();
    ADD_FAILURE() << "a folder fault ran outside a mount namespace of its own";
  } catch (const ScenarioError& e) {
    EXPECT_NE(std::string(e.what()).find("mount namespace"), std::string::npos) << e.what();
  }
}

// A snapshot shows the state, the labels, the loaded package and every file
// of the working folder, those it began with included.
TEST(Runner, SnapshotShowsEveryFileOfTheFolder) {
  const Scenario s = ParseScenario(R"({
    "package": {"file_name": "a.tvu", "image_size": 16},
    "folder_files": {"TVINFO.INI": {"text": "abc"}},
    "events": [{"at_start": true, "do": "snapshot"},
               {"at_ms": 0, "do": "open"},
               {"at_ms": 1, "do": "snapshot"}],
    "run_ms": 10
  })",
                                   "/tmp");
  Runner runner(s, nullptr);
  runner.Run();
  const std::vector<std::string>& lines = runner.Lines();
  const auto first = std::find(lines.begin(), lines.end(), "snapshot package none");
  ASSERT_NE(first, lines.end());
  EXPECT_EQ(*(first - 1), "snapshot check CheckBoxFileFormat off");
  // MD5 of "abc".
  EXPECT_NE(
      std::find(first, lines.end(), "snapshot file TVINFO.INI 900150983CD24FB0D6963F7D28E17F72"),
      lines.end());
  const auto loaded = std::find_if(first, lines.end(), [](const std::string& line) {
    return line.rfind("snapshot package ./a.tvu ", 0) == 0;
  });
  ASSERT_NE(loaded, lines.end());
  const std::string digest = loaded->substr(loaded->size() - 32);
  EXPECT_NE(std::find(loaded, lines.end(), "snapshot file _fwbin " + digest), lines.end());
}

// The operator acts while a box is open: time passes and the device's
// answer arrives before the box is answered.
TEST(Runner, DeviceEventsArriveWhileABoxIsOpen) {
  for (bool real_time : {false, true}) {
    SCOPED_TRACE(real_time ? "real time" : "virtual time");
    const Scenario s = ParseScenario(R"({
    "devices": [{"name": "unit", "set_in_ms": 10}],
    "events": [
      {"at_ms": 100, "do": "cross_type", "code": "9137"},
      {"at_box": 1, "do": "send", "device": "unit", "text": "OK hello\r\n"},
      {"at_box": 1, "do": "wait", "ms": 40}
    ],
    "run_ms": 300
  })",
                                     "/tmp");
    Runner::Options options;
    options.RealTime = real_time;
    Runner runner(s, nullptr, options);
    runner.Run();
    const auto& lines = runner.Lines();
    const auto sent = std::find(lines.begin(), lines.end(), "device unit sends OK hello\\r\\n");
    const auto received =
        std::find(lines.begin(), lines.end(), "log <<4F,4B,20,68,65,6C,6C,6F,0D,0A-OK hello");
    const auto box = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
      return l.rfind("box WarningDialog", 0) == 0;
    });
    ASSERT_NE(sent, lines.end());
    ASSERT_NE(received, lines.end());
    ASSERT_NE(box, lines.end());
    EXPECT_LT(sent, received);
    EXPECT_LT(received, box);
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "box InputBox | SAR/SDF Versionup enable | "
                        "Password | 9137"),
              lines.end());
  }
}

TEST(Runner, SameScenarioSameTranscript) {
  const Scenario s = ParseScenario(R"({
    "devices": [{"name": "unit", "set_in_ms": 10}],
    "events": [{"at_ms": 200, "do": "remove", "device": "unit"},
               {"at_state": 2, "occurrence": 1, "do": "send", "device": "unit", "text": "NG\r\n"}],
    "run_ms": 400
  })",
                                   "/tmp");
  Runner first(s, nullptr);
  first.Run();
  Runner second(s, nullptr);
  second.Run();
  EXPECT_EQ(first.Lines(), second.Lines());
  EXPECT_NE(std::find(first.Lines().begin(), first.Lines().end(), "log <<4E,47,0D,0A-NG"),
            first.Lines().end());
}

}  // namespace
}  // namespace mvx::scenario

namespace mvx::scenario {
namespace {

// A device taken out right after it received a command: the answer on its
// way is lost and the tool sees a disconnect.
TEST(Runner, RemovalAtACommand) {
  const Scenario s = ParseScenario(R"({
    "package": {"version": "201040", "image_size": 100},
    "devices": [{"name": "unit", "set_in_ms": 10}],
    "events": [{"at_ms": 0, "do": "open"},
               {"at_command": "GSER", "of": "unit", "do": "remove", "device": "unit"}],
    "run_ms": 500
  })",
                                   "/tmp");
  Runner runner(s, nullptr);
  runner.Run();
  const auto& lines = runner.Lines();
  const auto sent = std::find(lines.begin(), lines.end(), "log >>GSER");
  ASSERT_NE(sent, lines.end());
  ASSERT_NE(sent + 1, lines.end());
  EXPECT_EQ(*(sent + 1), "device unit removed");
  EXPECT_NE(std::find(sent, lines.end(), "log   Disconnect device."), lines.end());
  EXPECT_EQ(std::count_if(sent, lines.end(),
                          [](const std::string& l) { return l.rfind("log <<", 0) == 0; }),
            0);
}

}  // namespace
}  // namespace mvx::scenario
