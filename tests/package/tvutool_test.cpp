// tvutool as firmware engineers and other checks run it: its fixed result
// lines, its exit statuses and its errors.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>

#include "package_files.h"

namespace mvx {
namespace {

using testing::Bytes;
using testing::Package;
using testing::ScratchFolder;
using testing::WriteBytes;

struct ToolRun {
  int status = -1;
  std::string out;  // standard output and standard error together
};

// Runs tvutool with the arguments in the working directory (or in folder).
ToolRun Tool(const std::string& args, const std::string& folder = "") {
  const std::string cd = folder.empty() ? "" : "cd '" + folder + "' && ";
  const std::string command = cd + "'" TVUTOOL "' " + args + " 2>&1";
  ToolRun run;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

bool Has(const std::string& text, const std::string& line) {
  return text.find(line) != std::string::npos;
}

TEST(TvutoolTest, BuildThenCheckAccepts) {
  ScratchFolder folder;
  WriteBytes("image.bin", testing::ToBytes("abc"));
  const ToolRun build =
      Tool("build --version 212034 --special SAR --magic Tavu2 image.bin out.tvu");
  ASSERT_EQ(build.status, 0) << build.out;
  EXPECT_EQ(testing::ReadBytes("out.tvu"),
            Package("212034", testing::ToBytes("abc"), "SAR", "Tavu2"));

  const ToolRun check = Tool("check out.tvu");
  EXPECT_EQ(check.status, 0) << check.out;
  EXPECT_TRUE(Has(check.out, "\nresult: accepted\n")) << check.out;
  EXPECT_TRUE(Has(check.out, "\nmd5: 900150983CD24FB0D6963F7D28E17F72\n")) << check.out;
  EXPECT_EQ(testing::ReadBytes("_fwbin"), testing::ToBytes("abc"));
}

TEST(TvutoolTest, RejectionsPrintTheWindowsVerdict) {
  Bytes bad_check = Package("201022", {1, 2});
  bad_check[60] = 0;
  Bytes bad_magic = Package("201022", {1});
  bad_magic[0] = 't';
  Bytes cut = Package("201022", {1});
  cut.pop_back();
  struct Case {
    Bytes bytes;
    const char* result;
  } cases[] = {
      {bad_magic, "result: Invalid File.(01)\n"},
      {Package("200022", {1}), "result: Invalid File.(02)\n"},
      {cut, "result: Invalid File.(03)\n"},
      {bad_check, "result: Invalid File.(04)\n"},
  };
  for (const Case& c : cases) {
    ScratchFolder folder;
    WriteBytes("p.tvu", c.bytes);
    const ToolRun run = Tool("check p.tvu");
    EXPECT_EQ(run.status, 1) << run.out;
    EXPECT_TRUE(Has(run.out, c.result)) << run.out;
    EXPECT_FALSE(Has(run.out, "md5: ")) << run.out;
    EXPECT_FALSE(std::filesystem::exists("_fwbin"));
  }
}

TEST(TvutoolTest, FileErrorsExitWithTwo) {
  ScratchFolder folder;
  const ToolRun missing = Tool("check missing.tvu");
  EXPECT_EQ(missing.status, 2);
  EXPECT_TRUE(Has(missing.out, "No such file or directory")) << missing.out;

  // /proc takes no new file, whoever runs the test.
  WriteBytes("p.tvu", Package("201022", {1}));
  const ToolRun unwritable = Tool("check '" + (folder.Path() / "p.tvu").string() + "'", "/proc");
  EXPECT_EQ(unwritable.status, 2) << unwritable.out;
  EXPECT_TRUE(Has(unwritable.out, "/proc/_fwbin")) << unwritable.out;
}

TEST(TvutoolTest, WrongArgumentsAreExplained) {
  ScratchFolder folder;
  WriteBytes("image.bin", {1});
  struct Case {
    const char* args;
    const char* says;
  } cases[] = {
      {"", "no command given"},
      {"frobnicate", "unknown command frobnicate"},
      {"build image.bin out.tvu", "build needs --version"},
      {"build --version 20102 image.bin out.tvu", "six printable ASCII characters"},
      {"build --version 201022 --magic TAVUN image.bin out.tvu", "Tavun or Tavu2"},
      {"build --version 201022 --special SEVENXX image.bin out.tvu", "at most 6 characters"},
      {"build --version 201022 --colour red image.bin out.tvu", "unknown option --colour"},
      {"build --version 201022 image.bin", "build needs IMAGE and OUT.tvu"},
      {"build --version", "--version needs a value"},
      {"build --version 201022 missing.bin out.tvu", "cannot open missing.bin"},
      {"build --version 201022 image.bin image.bin", "the same file"},
      {"check", "check needs exactly one PACKAGE"},
  };
  for (const Case& c : cases) {
    const ToolRun run = Tool(c.args);
    EXPECT_EQ(run.status, 2) << c.args << "\n" << run.out;
    EXPECT_TRUE(Has(run.out, c.says)) << c.args << "\n" << run.out;
    EXPECT_FALSE(std::filesystem::exists("out.tvu")) << c.args;
  }
  EXPECT_EQ(testing::ReadBytes("image.bin"), Bytes{1});

  const ToolRun help = Tool("--help");
  EXPECT_EQ(help.status, 0);
  EXPECT_TRUE(Has(help.out, "usage: tvutool build --version VVVVVV")) << help.out;
}

}  // namespace
}  // namespace mvx
