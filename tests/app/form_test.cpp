// The main window's own behaviour: the log writer, the cross-type unlock, the
// label-click copies, the menu rule, the Version box, the top-level error
// handler and shut-down.
#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "scripted/form_bench.h"
#include "tests/base/temp_dir.h"

namespace mvx {
namespace {

// ---- Log ------------------------------------------------------------------

struct StampCase {
  LocalTime start;
  std::uint64_t later_ms;
  const char* stamp;
};

TEST(LogTest, TimeStampFormat) {
  const StampCase cases[] = {
      {{2026, 12, 8, 9, 0, 0, 0}, 0, "26/12/08 09:00:00 000,"},
      {{2026, 12, 8, 9, 5, 7, 45}, 0, "26/12/08 09:05:07 045,"},
      {{2000, 1, 2, 23, 59, 59, 999}, 0, "00/01/02 23:59:59 999,"},
      {{2105, 7, 30, 13, 4, 9, 5}, 0, "05/07/30 13:04:09 005,"},
      // The clock moves on: 1 ms after the last millisecond of a year.
      {{2009, 12, 31, 23, 59, 59, 999}, 1, "10/01/01 00:00:00 000,"},
  };
  for (const auto& c : cases) {
    FormBench bench;
    bench.Loop.Start = c.start;
    bench.Loop.Sleep(static_cast<unsigned>(c.later_ms));
    bench.Form.WriteLog("x", kLogReceived);
    ASSERT_EQ(bench.Recorded.Lines().Count(), 1u);
    EXPECT_EQ(bench.Recorded.Lines().Line(0), std::string(c.stamp) + "<<x");
  }
}

struct LineCase {
  std::string text;
  int direction;
  std::vector<std::string> lines;  // without the 22-character time stamp on the first
};

TEST(LogTest, MarkerTrimmingAndLineBreaks) {
  const LineCase cases[] = {
      {"VER", kLogSent, {">>VER"}},
      {"OK", kLogReceived, {"<<OK"}},
      {"note", kLogNote, {"  note"}},
      {"note", 2, {"  note"}},
      {"note", 99, {"  note"}},
      // Trailing blanks and CR LF go; leading blanks stay.
      {"  OK \r\n  ", 0, {"<<  OK"}},
      {"OK\r\n", 0, {"<<OK"}},
      {"\t x\t\n", 1, {">>\t x"}},
      {"", 0, {"<<"}},
      {" \r\n", -1, {"  "}},
      // An embedded break makes more than one line of the log.
      {"line1\r\nline2", 0, {"<<line1", "line2"}},
      {"a\nb\rc", -1, {"  a", "b", "c"}},
      {"a\n\nb", 1, {">>a", "", "b"}},
      // The log shows a text up to its first NUL byte; control bytes before it
      // at the end are trimmed like blanks.
      {std::string("ACPD\x01"
                   "A\0\x05",
                   8),
       1,
       {">>ACPD\x01"
        "A"}},
      {std::string("ACPR\x01\x02\0", 7), 0, {"<<ACPR"}},
  };
  for (const auto& c : cases) {
    FormBench bench;
    bench.Form.WriteLog(c.text, c.direction);
    const std::vector<std::string> lines = bench.Recorded.Lines().Copy();
    ASSERT_EQ(lines.size(), c.lines.size()) << c.text;
    EXPECT_EQ(lines[0].substr(0, 22), "26/12/08 09:00:00 000,") << c.text;
    EXPECT_EQ(lines[0].substr(22), c.lines[0]) << c.text;
    for (std::size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(lines[i], c.lines[i]) << c.text;
  }
}

TEST(LogTest, NoteIsDirectionMinusOneAndTheLogGrowsUntilCleared) {
  FormBench bench;
  std::vector<std::string> shown;
  int cleared = 0;
  auto listening = bench.Form.Memo1.Listen(
      {[&](std::string_view line) { shown.emplace_back(line); }, [&] { ++cleared; }});
  for (int i = 0; i < 5000; ++i) bench.Form.LogNote("2 status");
  EXPECT_EQ(bench.Recorded.Lines().Count(), 5000u);
  EXPECT_EQ(shown.size(), 5000u);
  EXPECT_EQ(FormBench::WithoutStamp(shown.back()), "  2 status");
  bench.Form.Memo1.Clear();
  EXPECT_EQ(bench.Recorded.Lines().Count(), 0u);
  EXPECT_EQ(cleared, 1);
  // A listener that stopped listening hears nothing more.
  listening.Cancel();
  bench.Form.LogNote("after");
  EXPECT_EQ(shown.size(), 5000u);
  EXPECT_EQ(bench.Recorded.Lines().Count(), 1u);
}

// ---- Cross-type unlock ----------------------------------------------------

constexpr const char* kCrossTypeQuestion =
    "異なるタイプ間のバージョンアップを許可しますか？\r\n\r\n例) TV004 → TV004SAR";

struct UnlockCase {
  std::vector<std::string> answers;
  bool enabled;
  bool asked_code;
};

TEST(UnlockTest, AccessCode) {
  const UnlockCase cases[] = {
      {{"Yes", "9137"}, true, true},   {{"Yes", "9136"}, false, true},
      {{"Yes", " 9137"}, false, true}, {{"Yes", "91370"}, false, true},
      {{"Yes", ""}, false, true},  // the input box cancelled
      {{"No"}, false, false},
  };
  for (const auto& c : cases) {
    FormBench bench;
    const std::string name = c.answers.size() > 1 ? c.answers[1] : c.answers[0];
    bench.Operator.Answers.assign(c.answers.begin(), c.answers.end());
    int changes = 0;
    bench.Form.CheckBoxSarSdfVersionup.OnChanged = [&] { ++changes; };
    bench.Form.Guarded([&] { bench.Form.CheckBoxSarSdfVersionup.SetChecked(true); });

    EXPECT_EQ(bench.Form.CrossTypeEnabled, c.enabled) << name;
    EXPECT_EQ(bench.Form.CheckBoxSarSdfVersionup.Checked(), c.enabled) << name;
    // Checked, then unchecked again when refused; the uncheck asks nothing.
    EXPECT_EQ(changes, c.enabled ? 1 : 2) << name;
    const auto& records = bench.Operator.Records;
    ASSERT_EQ(records.size(), c.asked_code ? 2u : 1u) << name;
    EXPECT_EQ(records[0].Kind, "WarningDialog");
    EXPECT_EQ(records[0].Caption, "警告");
    EXPECT_EQ(records[0].Text, kCrossTypeQuestion);
    if (c.asked_code) {
      EXPECT_EQ(records[1].Kind, "InputBox");
      EXPECT_EQ(records[1].Caption, "SAR/SDF Versionup enable");
      EXPECT_EQ(records[1].Text, "Password");
    }
  }
}

TEST(UnlockTest, EveryChangeResetsTheUnlock) {
  FormBench bench;
  bench.Operator.Answers = {"Yes", "9137"};
  bench.Form.CheckBoxSarSdfVersionup.SetChecked(true);
  ASSERT_TRUE(bench.Form.CrossTypeEnabled);
  bench.Form.CheckBoxSarSdfVersionup.SetChecked(false);
  EXPECT_FALSE(bench.Form.CrossTypeEnabled);
  EXPECT_EQ(bench.Operator.Records.size(), 2u);

  // Unlocked again, then a second attempt with a wrong code locks it.
  bench.Operator.Answers = {"Yes", "9137"};
  bench.Form.CheckBoxSarSdfVersionup.SetChecked(true);
  EXPECT_TRUE(bench.Form.CrossTypeEnabled);
  bench.Form.CheckBoxSarSdfVersionup.SetChecked(false);
  bench.Operator.Answers = {"Yes", "0000"};
  bench.Form.CheckBoxSarSdfVersionup.SetChecked(true);
  EXPECT_FALSE(bench.Form.CrossTypeEnabled);
  EXPECT_FALSE(bench.Form.CheckBoxSarSdfVersionup.Checked());
}

// ---- Label clicks ---------------------------------------------------------

TEST(LabelClickTest, CopiesTheCaptionAndSaysSo) {
  struct Case {
    TLabel TForm1::*label;
    void (TForm1::*click)();
    const char* caption;  // nullptr: the label's initial text
    std::string copied;
    std::string message;
  };
  const Case cases[] = {
      {&TForm1::LabelSerialNumber, &TForm1::LabelSerialNumberClick, nullptr, "------------",
       "シリアル番号[------------]をクリップボードにコピーしました"},
      {&TForm1::LabelSerialNumber, &TForm1::LabelSerialNumberClick, "A1234567", "A1234567",
       "シリアル番号[A1234567]をクリップボードにコピーしました"},
      {&TForm1::LabelCurrentVersion, &TForm1::LabelCurrentVersionClick, nullptr, "------",
       "現バージョン[------]をクリップボードにコピーしました"},
      {&TForm1::LabelCurrentVersion, &TForm1::LabelCurrentVersionClick, "201022 KS", "201022 KS",
       "現バージョン[201022 KS]をクリップボードにコピーしました"},
      {&TForm1::LabelCurrentVersion, &TForm1::LabelCurrentVersionClick, "", "",
       "現バージョン[]をクリップボードにコピーしました"},
  };
  for (const auto& c : cases) {
    FormBench bench;
    EXPECT_EQ(bench.Form.LabelClipboardCopyMessage.Caption(), "##########");
    if (c.caption != nullptr) (bench.Form.*c.label).SetCaption(c.caption);
    (bench.Form.*c.click)();
    EXPECT_EQ(bench.Operator.Clipboard, c.copied);
    EXPECT_EQ(bench.Form.LabelClipboardCopyMessage.Caption(), c.message);
    ASSERT_EQ(bench.Operator.Records.size(), 1u);
    EXPECT_EQ(bench.Operator.Records[0].Kind, "Clipboard");
  }
}

// ---- Menus ----------------------------------------------------------------

TEST(MenuTest, UpdateMenusRule) {
  struct Case {
    int state;
    bool allow_open;
    bool open, file, info;
  };
  const Case cases[] = {
      {1, true, true, true, true},   {1, false, false, true, true},
      {0, true, true, false, false}, {2, false, false, false, false},
      {9, true, true, false, false}, {99, false, false, false, false},
  };
  for (const auto& c : cases) {
    FormBench bench;
    // Before the first tick every item is enabled.
    for (const TMenuItem* item : {&bench.Form.File1, &bench.Form.OpenFile, &bench.Form.Exit1,
                                  &bench.Form.Info1, &bench.Form.Version1})
      EXPECT_TRUE(item->Enabled()) << item->Name;
    int changes = 0;
    bench.Form.OpenFile.OnChanged = [&] { ++changes; };
    bench.Form.SequencerState = c.state;
    bench.Form.UpdateMenus(c.allow_open);
    EXPECT_EQ(bench.Form.OpenFile.Enabled(), c.open) << c.state;
    EXPECT_EQ(bench.Form.File1.Enabled(), c.file) << c.state;
    EXPECT_EQ(bench.Form.Info1.Enabled(), c.info) << c.state;
    // Close and Version follow their submenus and are never changed alone.
    EXPECT_TRUE(bench.Form.Exit1.Enabled());
    EXPECT_TRUE(bench.Form.Version1.Enabled());
    // A widget is told only about a real change.
    EXPECT_EQ(changes, c.open ? 0 : 1);
    bench.Form.UpdateMenus(c.allow_open);
    EXPECT_EQ(changes, c.open ? 0 : 1);
  }
}

TEST(MenuTest, VersionBox) {
  FormBench bench;
  bench.Form.Version1Click();
  ASSERT_EQ(bench.Operator.Records.size(), 1u);
  EXPECT_EQ(bench.Operator.Records[0].Kind, "MessageBox[information]");
  EXPECT_EQ(bench.Operator.Records[0].Caption, "Version");
  EXPECT_EQ(bench.Operator.Records[0].Text,
            "Merovox Update Tool\r\nVer 1.77\r\n\r\nMerovox Update Tool contributors");
}

class RecordingView : public IFormView {
 public:
  void Repaint() override { ++repaints; }
  void Close() override { ++closes; }
  int repaints = 0, closes = 0;
};

TEST(MenuTest, CloseAndTheCloseButtonCloseTheWindow) {
  FormBench bench;
  bench.Form.Exit1Click();  // no view yet: nothing to close, no crash
  RecordingView view;
  bench.Form.SetView(&view);
  bench.Form.Exit1Click();
  bench.Form.SpeedButton1Click();
  EXPECT_EQ(view.closes, 2);
  EXPECT_TRUE(bench.Operator.Records.empty());  // no confirmation
}

// ---- Top-level error handler and shut-down ---------------------------------

TEST(GuardedTest, EscapedErrorIsShownAndTheRestIsSkipped) {
  FormBench bench;
  bool after = false;
  bench.Form.Guarded([&] {
    throw std::runtime_error("ファイル \"/x/a.tvu\". No such file or directory は開けません");
    after = true;
  });
  bench.Form.Guarded([] { throw 42; });
  EXPECT_FALSE(after);
  ASSERT_EQ(bench.Operator.Records.size(), 2u);
  EXPECT_EQ(bench.Operator.Records[0].Kind, "MessageBox[error]");
  EXPECT_EQ(bench.Operator.Records[0].Caption, "MVXTVUP");
  EXPECT_EQ(bench.Operator.Records[0].Text,
            "ファイル \"/x/a.tvu\". No such file or directory は開けません");
  EXPECT_EQ(bench.Operator.Records[1].Text, "Unknown error");
}

TEST(ShutDownTest, FormDestroyDeletesTheImageFile) {
  ScopedWorkDir dir;
  FormBench bench;
  bench.Form.FormCreate();
  EXPECT_EQ(bench.Form.SequencerState, 0);
  EXPECT_TRUE(bench.Form.PackagePath.empty());
  EXPECT_TRUE(bench.Form.InfoUploadBuffer.empty());
  // The image a package check made in its folder; the working folder has
  // moved on since (a later open elsewhere) and holds a "_fwbin" the tool
  // never made.
  std::filesystem::create_directory("made");
  ScopedWorkDir::Write("made/_fwbin", "image");
  bench.Form.FirmwareFilesMade.push_back(std::filesystem::absolute("made/_fwbin").string());
  ScopedWorkDir::Write("_fwbin", "someone else's");
  ScopedWorkDir::Write("keep.tvu", "package");
  bench.Form.FormDestroy();
  EXPECT_FALSE(std::filesystem::exists("made/_fwbin"));
  EXPECT_TRUE(std::filesystem::exists("_fwbin"));
  EXPECT_TRUE(std::filesystem::exists("keep.tvu"));
  // Without an image file there is nothing to delete and nothing to report.
  bench.Form.FormDestroy();
  EXPECT_TRUE(bench.Operator.Records.empty());
}

}  // namespace
}  // namespace mvx
