// The one persisted setting: how start-up reads it, how every change of the
// check box writes it, and what a failed write shows.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "scripted/form_bench.h"
#include "tests/base/temp_dir.h"

namespace mvx {
namespace {

constexpr const char* kFormatWarning =
    "バージョンアップ後にフォーマットを実行するように設定されています\r\n\r\n"
    "設定はチェックボックスで変更でき次回起動時にも再現されます";

struct StartCase {
  std::optional<std::string> file;  // nothing: no settings file at all
  bool checked;
};

TEST(SettingsTest, StartUpChecksTheBoxOnlyForTrue) {
  const StartCase cases[] = {
      {std::nullopt, false},
      {"[Setting]\r\nCheckBoxFileFormat=True\r\n", true},
      {"[Setting]\nCheckBoxFileFormat=true\n", false},
      {"[Setting]\nCheckBoxFileFormat=TRUE\n", false},
      {"[Setting]\nCheckBoxFileFormat=False\n", false},
      {"[Setting]\nCheckBoxFileFormat=Truex\n", false},
      {"[Setting]\nCheckBoxFileFormat=1\n", false},
      {"[Setting]\nCheckBoxFileFormat=\n", false},
      // The profile functions trim blanks and one pair of quotes, and match
      // section and key names in any letter case.
      {"[Setting]\nCheckBoxFileFormat =  True  \n", true},
      {"[Setting]\nCheckBoxFileFormat=\"True\"\n", true},
      {"[setting]\ncheckboxfileformat=True\n", true},
      {"[Other]\nCheckBoxFileFormat=True\n[Setting]\nX=1\n", false},
      {"CheckBoxFileFormat=True\n", false},
      {"", false},
  };
  for (const auto& c : cases) {
    ScopedWorkDir dir;
    if (c.file) ScopedWorkDir::Write("mvxtvup_setting.ini", *c.file);
    FormBench bench;
    bench.Form.FormCreate();
    const std::string name = c.file ? *c.file : "(no file)";
    EXPECT_EQ(bench.Form.CheckBoxFileFormat.Checked(), c.checked) << name;
    if (c.checked) {
      // The warning comes before the window is shown, and "True" is written back.
      ASSERT_EQ(bench.Operator.Records.size(), 1u) << name;
      EXPECT_EQ(bench.Operator.Records[0].Kind, "MessageBox[warning]");
      EXPECT_EQ(bench.Operator.Records[0].Caption, "MVXTVUP v1.77");
      EXPECT_EQ(bench.Operator.Records[0].Text, kFormatWarning);
      EXPECT_EQ(
          bench.Settings.ReadString("./mvxtvup_setting.ini", "Setting", "CheckBoxFileFormat", ""),
          "True")
          << name;
    } else {
      EXPECT_TRUE(bench.Operator.Records.empty()) << name;
      // Reading alone never creates or changes the file.
      if (c.file)
        EXPECT_EQ(ScopedWorkDir::Read("mvxtvup_setting.ini"), *c.file);
      else
        EXPECT_FALSE(std::filesystem::exists("mvxtvup_setting.ini"));
    }
  }
}

TEST(SettingsTest, EveryChangeIsWrittenAndWarnsOnlyWhenChecked) {
  ScopedWorkDir dir;
  ScopedWorkDir::Write("mvxtvup_setting.ini",
                       "; kept\r\n[Other]\r\nA=1\r\n\r\n[Setting]\r\nCheckBoxFileFormat=False\r\n");
  FormBench bench;
  bench.Form.FormCreate();
  bench.Form.Guarded([&] { bench.Form.CheckBoxFileFormat.SetChecked(true); });
  EXPECT_EQ(ScopedWorkDir::Read("mvxtvup_setting.ini"),
            "; kept\r\n[Other]\r\nA=1\r\n\r\n[Setting]\r\nCheckBoxFileFormat=True\r\n");
  ASSERT_EQ(bench.Operator.Records.size(), 1u);
  EXPECT_EQ(bench.Operator.Records[0].Kind, "MessageBox[warning]");

  bench.Form.Guarded([&] { bench.Form.CheckBoxFileFormat.SetChecked(false); });
  EXPECT_EQ(ScopedWorkDir::Read("mvxtvup_setting.ini"),
            "; kept\r\n[Other]\r\nA=1\r\n\r\n[Setting]\r\nCheckBoxFileFormat=False\r\n");
  EXPECT_EQ(bench.Operator.Records.size(), 1u);
}

TEST(SettingsTest, TheFileFollowsTheWorkingDirectory) {
  ScopedWorkDir dir;
  FormBench bench;
  bench.Form.FormCreate();
  std::filesystem::create_directory("packages");
  std::filesystem::current_path("packages");
  bench.Form.Guarded([&] { bench.Form.CheckBoxFileFormat.SetChecked(true); });
  EXPECT_EQ(ScopedWorkDir::Read("mvxtvup_setting.ini"), "[Setting]\r\nCheckBoxFileFormat=True\r\n");
  EXPECT_FALSE(std::filesystem::exists(dir.Path() / "mvxtvup_setting.ini"));
}

TEST(SettingsTest, FailedWriteIsShownAfterTheWarningAndTheBoxKeepsItsState) {
#ifdef _WIN32
  const std::string kUnwritable = ".\\mvxtvup_setting.ini に書き込めません";
#else
  const std::string kUnwritable = "./mvxtvup_setting.ini に書き込めません";
#endif
  ScopedWorkDir dir;
  // A folder in the file's place: reading gives the default, writing fails.
  std::filesystem::create_directory("mvxtvup_setting.ini");
  FormBench bench;
  bench.Form.FormCreate();
  EXPECT_FALSE(bench.Form.CheckBoxFileFormat.Checked());

  bench.Form.Guarded([&] { bench.Form.CheckBoxFileFormat.SetChecked(true); });
  ASSERT_EQ(bench.Operator.Records.size(), 2u);
  EXPECT_EQ(bench.Operator.Records[0].Kind, "MessageBox[warning]");
  EXPECT_EQ(bench.Operator.Records[0].Caption, "MVXTVUP v1.77");
  EXPECT_EQ(bench.Operator.Records[1].Kind, "MessageBox[error]");
  EXPECT_EQ(bench.Operator.Records[1].Caption, "MVXTVUP");
  EXPECT_EQ(bench.Operator.Records[1].Text, kUnwritable);
  EXPECT_TRUE(bench.Form.CheckBoxFileFormat.Checked());

  bench.Form.Guarded([&] { bench.Form.CheckBoxFileFormat.SetChecked(false); });
  ASSERT_EQ(bench.Operator.Records.size(), 3u);
  EXPECT_EQ(bench.Operator.Records[2].Kind, "MessageBox[error]");
  EXPECT_EQ(bench.Operator.Records[2].Text, kUnwritable);
  EXPECT_FALSE(bench.Form.CheckBoxFileFormat.Checked());
}

struct WriteCase {
  const char* before;  // nullptr: no file
  const char* after;
};

TEST(IniProfileTest, WriteKeepsEveryOtherLine) {
  const WriteCase cases[] = {
      {nullptr, "[Setting]\r\nKey=v\r\n"},
      {"", "[Setting]\r\nKey=v\r\n"},
      {"[Setting]\r\nKey=old\r\n", "[Setting]\r\nKey=v\r\n"},
      {"[setting]\nKEY = old\nOther=1\n", "[setting]\r\nKey=v\r\nOther=1\r\n"},
      // A new key goes after the section's last entry, before blank lines.
      {"[Setting]\nA=1\n\n[Next]\nB=2\n", "[Setting]\r\nA=1\r\nKey=v\r\n\r\n[Next]\r\nB=2\r\n"},
      {"[Setting]\n[Next]\nKey=x\n", "[Setting]\r\nKey=v\r\n[Next]\r\nKey=x\r\n"},
      {"[Other]\nKey=x\n", "[Other]\r\nKey=x\r\n[Setting]\r\nKey=v\r\n"},
      {"; comment\nKey=top\n", "; comment\r\nKey=top\r\n[Setting]\r\nKey=v\r\n"},
  };
  for (const auto& c : cases) {
    ScopedWorkDir dir;
    if (c.before != nullptr) ScopedWorkDir::Write("s.ini", c.before);
    IniProfile ini;
    EXPECT_TRUE(ini.WriteString("./s.ini", "Setting", "Key", "v"));
    EXPECT_EQ(ScopedWorkDir::Read("s.ini"), c.after) << (c.before ? c.before : "(no file)");
    EXPECT_EQ(ini.ReadString("./s.ini", "Setting", "Key", "def"), "v");
  }
}

TEST(IniProfileTest, MissingFileOrFolderReadsDefaultAndFailsToWrite) {
  ScopedWorkDir dir;
  IniProfile ini;
  EXPECT_EQ(ini.ReadString("./none.ini", "Setting", "Key", "False"), "False");
  EXPECT_EQ(ini.ReadString("./no_folder/s.ini", "Setting", "Key", "False"), "False");
  EXPECT_FALSE(ini.WriteString("./no_folder/s.ini", "Setting", "Key", "v"));
  EXPECT_FALSE(std::filesystem::exists("no_folder"));
}

}  // namespace
}  // namespace mvx
