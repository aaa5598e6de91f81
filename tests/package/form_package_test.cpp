// File > Open on the main window: the dialogs and their order, the fields and
// labels, the log, the restore after a rejection, file errors through the
// top-level handler, and the code page 932 refusal.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <unistd.h>
#endif

#include "package/md5.h"
#include "package_files.h"
#include "scripted/form_bench.h"

namespace mvx {
namespace {

using testing::Bytes;
using testing::Package;
using testing::ReadBytes;
using testing::ScratchFolder;
using testing::WriteBytes;

constexpr const char* kCradle =
    "Please set Merovox to a cradle.\r\nMerovoxをクレードルにセットしてください。";

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// "Kind|Caption|Text|Answer" for each box, in order.
std::vector<std::string> Boxes(const ScriptedOperator& op) {
  std::vector<std::string> out;
  for (const auto& r : op.Records)
    out.push_back(r.Kind + "|" + r.Caption + "|" + r.Text + "|" + r.Answer);
  return out;
}

std::string Open(const std::filesystem::path& p) {
  return "OpenDialog||tvu(*.tvu)|*.tvu|" + p.string();
}

// Chooses path in the open dialog, answering the boxes that follow with answers.
void OpenPackage(FormBench& bench, const std::filesystem::path& path,
                 std::vector<std::string> answers = {}) {
  bench.Operator.Answers.push_back(testing::Utf8(path));
  for (auto& a : answers) bench.Operator.Answers.push_back(a);
  bench.Form.Guarded([&] { bench.Form.OpenFileClick(); });
}

TEST(OpenFileTest, NormalPackageIsAccepted) {
  ScratchFolder scratch;
  const auto folder = scratch.Sub("packages");
  const Bytes image = {0x01, 0x02, 0x03};
  WriteBytes(folder / "update.tvu", Package("201022", image, "SAR"));

  FormBench bench;
  std::vector<std::string> seen_while_open;
  bench.Operator.WhileOpen = [&](const ScriptedOperator::Record& r) {
    if (r.Kind == "OpenDialog") return;
    seen_while_open.push_back(bench.Form.Label1.Caption() + "|" +
                              (bench.Form.PackageCheckInProgress ? "checking" : "idle") + "|" +
                              bench.Form.PackagePath);
  };
  OpenPackage(bench, folder / "update.tvu");

  EXPECT_EQ(Boxes(bench.Operator),
            (std::vector<std::string>{Open(folder / "update.tvu"),
                                      "MessageBox[information]|Infomation|File Ver 201022|OK"}));
  // The final box is still part of the check: the earlier (no) package holds.
  EXPECT_EQ(seen_while_open, (std::vector<std::string>{"Normal mode|checking|"}));
  EXPECT_FALSE(bench.Form.PackageCheckInProgress);

  TForm1& f = bench.Form;
  EXPECT_EQ(f.PackagePath, (folder / "update.tvu").string());
  EXPECT_EQ(f.PackageFileName, "update.tvu");
  EXPECT_EQ(f.UpdateVersion, "201022");
  EXPECT_EQ(f.UpdateTypeCode, "201");
  EXPECT_EQ(f.UpdateVersionNumber, "022");
  EXPECT_EQ(f.SpecialModelCode, "SAR");
  EXPECT_EQ(f.FirmwareDigest, "5289DF737DF57326FCDD22597AFB1FAC");
  EXPECT_EQ(f.FirmwareDigest, Upper(TForm1::DigestFile((folder / "_fwbin").string())));
  EXPECT_EQ(f.LabelUpdateVersion.Caption(), "201022 SAR");
  EXPECT_EQ(f.LabelFilename.Caption(), "Update filename  update.tvu");
  EXPECT_EQ(f.Label1.Caption(), kCradle);
  EXPECT_EQ(bench.ReceivedLines(),
            (std::vector<std::string>{"special_model_code:SAR is enable",
                                      "file MD5:[5289DF737DF57326FCDD22597AFB1FAC]"}));
  // The chosen file's folder became the working directory, and the image
  // stream is open on its "_fwbin" at position 0.
  EXPECT_EQ(std::filesystem::current_path(), folder);
  ASSERT_NE(f.FirmwareImage, nullptr);
  EXPECT_EQ(f.FirmwareImage->Position(), 0);
  EXPECT_EQ(f.FirmwareImage->Size(), 3);
  Bytes read(3);
  EXPECT_EQ(f.FirmwareImage->Read(read.data(), 3), 3);
  EXPECT_EQ(read, image);
  EXPECT_EQ(ReadBytes(folder / "_fwbin"), image);
  // No device: the sequence waits for one.
  EXPECT_EQ(f.SequencerState, 0);
  EXPECT_FALSE(f.Timer1.Enabled());
}

TEST(OpenFileTest, ConfirmationDialogsInOrder) {
  const std::string mockup_warning =
      "WarningDialog|警告|This file is for demo Merovox for promotion. Will you continue writing?|";
  const std::string ping_warning =
      "WarningDialog|警告|This file is for Ultrasonic Beacon Merovox. Will you continue writing?|";
  struct Case {
    const char* version;
    std::vector<std::string> answers;
    std::vector<std::string> boxes;  // after the open dialog
    std::string label;               // Label1 at the end
  } cases[] = {
      {"211010",
       {"Yes", "8264085"},
       {mockup_warning + "Yes", "InputBox|Mockup mode|password|8264085",
        "MessageBox[information]|Infomation|File Ver 211010|OK"},
       kCradle},
      {"211010",
       {"Yes", "1234567"},
       {mockup_warning + "Yes", "InputBox|Mockup mode|password|1234567"},
       "Invalid File.(02)"},
      {"211010",
       {"Yes", ""},
       {mockup_warning + "Yes", "InputBox|Mockup mode|password|"},
       "Invalid File.(02)"},
      {"211010", {"No"}, {mockup_warning + "No"}, "Invalid File.(02)"},
      {"212010",
       {"Yes", "8264085"},
       {ping_warning + "Yes", "InputBox|Ping marker mode|password|8264085",
        "MessageBox[information]|Infomation|File Ver 212010|OK"},
       kCradle},
      {"212010",
       {"Yes", "8264084"},
       {ping_warning + "Yes", "InputBox|Ping marker mode|password|8264084"},
       "Invalid File.(02)"},
      {"212010", {"No"}, {ping_warning + "No"}, "Invalid File.(02)"},
      {"213010", {}, {}, "Invalid File.(02)"},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch;
    WriteBytes(scratch.Path() / "p.tvu", Package(c.version, {5}));
    FormBench bench;
    std::vector<std::string> labels;
    bench.Operator.WhileOpen = [&](const ScriptedOperator::Record& r) {
      if (r.Kind != "OpenDialog") labels.push_back(bench.Form.Label1.Caption());
    };
    OpenPackage(bench, scratch.Path() / "p.tvu", c.answers);
    std::vector<std::string> expected = {Open(scratch.Path() / "p.tvu")};
    expected.insert(expected.end(), c.boxes.begin(), c.boxes.end());
    const std::string name =
        std::string(c.version) + " " + (c.answers.empty() ? "" : c.answers.back());
    EXPECT_EQ(Boxes(bench.Operator), expected) << name;
    EXPECT_EQ(bench.Form.Label1.Caption(), c.label) << name;
    // The mode text stays in Label1 while each dialog is open.
    const std::string mode = c.version[2] == '1' ? "Mockup mode" : "Ping marker mode";
    for (const auto& l : labels) EXPECT_EQ(l, mode) << name;
    EXPECT_EQ(bench.Form.PackagePath.empty(), c.label != kCradle) << name;
    EXPECT_EQ(std::filesystem::exists(scratch.Path() / "_fwbin"), c.label == kCradle) << name;
  }
}

TEST(OpenFileTest, RejectionsShowTheirCodeWithoutABox) {
  Bytes bad_magic = Package("201022", {1});
  bad_magic[4] = 'N';
  Bytes bad_size = Package("201022", {1});
  bad_size.push_back(0);
  Bytes bad_check = Package("201022", {1});
  bad_check[60] = 0;
  struct Case {
    Bytes bytes;
    std::string label;
    std::vector<std::string> received;
  } cases[] = {
      {bad_magic, "Invalid File.(01)", {}},
      {Package("20", {1}), "Invalid File.(02)", {}},
      {bad_size, "Invalid File.(03)", {"special_model_code: is enable"}},
      {bad_check, "Invalid File.(04)", {"special_model_code: is enable"}},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch;
    WriteBytes(scratch.Path() / "p.tvu", c.bytes);
    FormBench bench;
    OpenPackage(bench, scratch.Path() / "p.tvu");
    EXPECT_EQ(bench.Form.Label1.Caption(), c.label);
    EXPECT_EQ(bench.Operator.Records.size(), 1u) << c.label;  // the open dialog alone
    EXPECT_EQ(bench.ReceivedLines(), c.received) << c.label;
    EXPECT_TRUE(bench.Form.PackagePath.empty());
    EXPECT_EQ(bench.Form.FirmwareImage, nullptr);
    EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "_fwbin")) << c.label;
  }
}

TEST(OpenFileTest, CheckLineIsPaintedAtOnce) {
  struct PaintRecorder : IFormView {
    TForm1* form = nullptr;
    std::vector<std::string> painted;
    void Repaint() override { painted.push_back(form->Label1.Caption()); }
    void Close() override {}
  } view;
  ScratchFolder scratch;
  WriteBytes(scratch.Path() / "p.tvu", Package("201022", {}));
  FormBench bench;
  view.form = &bench.Form;
  bench.Form.SetView(&view);
  OpenPackage(bench, scratch.Path() / "p.tvu");
  EXPECT_EQ(view.painted, std::vector<std::string>{"File Check."});
}

TEST(OpenFileTest, ReadyDeviceStartsTheSequence) {
  ScratchFolder scratch;
  WriteBytes(scratch.Path() / "p.tvu", Package("201022", {1, 1}));
  FormBench bench;
  bench.Form.DeviceReady = true;
  bench.Form.SequencerState = 1;
  OpenPackage(bench, scratch.Path() / "p.tvu");
  EXPECT_EQ(bench.Form.SequencerState, 2);
  EXPECT_TRUE(bench.Form.Timer1.Enabled());
}

struct LoadedFields {
  std::string path, name, version, type, number, special, digest, label, filename;
  Bytes image;
  bool operator==(const LoadedFields&) const = default;
};

LoadedFields Fields(TForm1& f) {
  LoadedFields l{f.PackagePath,
                 f.PackageFileName,
                 f.UpdateVersion,
                 f.UpdateTypeCode,
                 f.UpdateVersionNumber,
                 f.SpecialModelCode,
                 f.FirmwareDigest,
                 f.LabelUpdateVersion.Caption(),
                 f.LabelFilename.Caption(),
                 {}};
  if (f.FirmwareImage) {
    l.image.resize(static_cast<std::size_t>(f.FirmwareImage->Size()));
    f.FirmwareImage->Seek(0);
    f.FirmwareImage->Read(l.image.data(), l.image.size());
    f.FirmwareImage->Seek(0);
  }
  return l;
}

// After any rejection or failure, the earlier package is loaded again as it
// was, its image stream reopened on its own "_fwbin".
TEST(OpenFileTest, RejectionRestoresTheEarlierPackage) {
  Bytes bad_check = Package("212099", {4, 4, 4}, "KS");
  bad_check[60] = 0x77;
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::string> answers;
    bool same_folder;
  } cases[] = {
      {"bad check, other folder", bad_check, {"Yes", "8264085"}, false},
      {"bad check, same folder", bad_check, {"Yes", "8264085"}, true},
      {"declined, same folder", Package("211077", {1}, "SDF"), {"No"}, true},
      {"unknown mode", Package("299077", {1}), {}, false},
  };
  for (const Case& c : cases) {
    ScratchFolder scratch;
    const auto first = scratch.Sub("first");
    const auto second = c.same_folder ? first : scratch.Sub("second");
    const Bytes image = testing::SampleImage(4000);
    WriteBytes(first / "good.tvu", Package("201031", image, "SAR"));
    WriteBytes(second / "bad.tvu", c.bytes);

    FormBench bench;
    OpenPackage(bench, first / "good.tvu");
    ASSERT_EQ(bench.Form.PackagePath, (first / "good.tvu").string()) << c.name;
    const LoadedFields before = Fields(bench.Form);
    ASSERT_EQ(before.image, image);

    OpenPackage(bench, second / "bad.tvu", c.answers);
    EXPECT_TRUE(bench.Form.Label1.Caption().starts_with("Invalid File.(0")) << c.name;
    EXPECT_EQ(Fields(bench.Form), before) << c.name;
    EXPECT_EQ(bench.Form.FirmwareImage->Path(), (first / "_fwbin").string()) << c.name;
    EXPECT_EQ(ReadBytes(first / "_fwbin"), image) << c.name;
    if (!c.same_folder) {
      EXPECT_FALSE(std::filesystem::exists(second / "_fwbin")) << c.name;
    }
    EXPECT_FALSE(bench.Form.PackageCheckInProgress);
  }
}

// A check that fails after its image replaced "_fwbin" (here: an error out
// of its last box) leaves the earlier package loaded only while that
// package's own image is still in its file; and at exit every image file the
// checks made is removed from its own folder, wherever the working folder is.
TEST(OpenFileTest, FailureAfterTheExtractionNeverPairsFieldsWithAnotherImage) {
  for (const bool same_folder : {true, false}) {
    ScratchFolder scratch;
    const auto first = scratch.Sub("first");
    const auto second = same_folder ? first : scratch.Sub("second");
    const Bytes image = testing::SampleImage(4000);
    WriteBytes(first / "good.tvu", Package("201031", image));
    WriteBytes(second / "next.tvu", Package("201032", testing::SampleImage(3000)));

    FormBench bench;
    OpenPackage(bench, first / "good.tvu");
    ASSERT_EQ(bench.Form.PackagePath, (first / "good.tvu").string());
    bench.Operator.WhileOpen = [](const ScriptedOperator::Record& r) {
      if (r.Text.starts_with("File Ver")) throw std::runtime_error("lost");
    };
    OpenPackage(bench, second / "next.tvu");
    bench.Operator.WhileOpen = nullptr;

    if (same_folder) {
      EXPECT_TRUE(bench.Form.PackagePath.empty());
      EXPECT_FALSE(bench.Form.FirmwareImage);
    } else {
      EXPECT_EQ(bench.Form.PackagePath, (first / "good.tvu").string());
      EXPECT_EQ(ReadBytes(first / "_fwbin"), image);
    }
    bench.Form.FormDestroy();
    EXPECT_FALSE(std::filesystem::exists(first / "_fwbin")) << same_folder;
    EXPECT_FALSE(std::filesystem::exists(second / "_fwbin")) << same_folder;
  }
}

TEST(OpenFileTest, CancelledDialogChangesNothing) {
  ScratchFolder scratch;
  WriteBytes(scratch.Path() / "p.tvu", Package("201022", {1}));
  FormBench bench;
  OpenPackage(bench, scratch.Path() / "p.tvu");
  const LoadedFields before = Fields(bench.Form);
  const std::string label = bench.Form.Label1.Caption();
  std::filesystem::current_path("/");
  const std::filesystem::path root = std::filesystem::current_path();  // a drive on Windows
  bench.Operator.Answers.push_back("");                                // cancel
  bench.Form.Guarded([&] { bench.Form.OpenFileClick(); });
  EXPECT_EQ(Fields(bench.Form), before);
  EXPECT_EQ(bench.Form.Label1.Caption(), label);
  EXPECT_EQ(std::filesystem::current_path(), root);
}

TEST(OpenFileTest, PackageThatCannotBeOpenedIsAnErrorBox) {
  ScratchFolder scratch;
  WriteBytes(scratch.Path() / "good.tvu", Package("201022", {1}));
  FormBench bench;
  OpenPackage(bench, scratch.Path() / "good.tvu");
  const LoadedFields before = Fields(bench.Form);
  bench.Operator.Records.clear();

  const auto missing = scratch.Path() / "gone.tvu";
  OpenPackage(bench, missing);
  ASSERT_EQ(bench.Operator.Records.size(), 2u);
  EXPECT_EQ(Boxes(bench.Operator)[1], "MessageBox[error]|MVXTVUP|ファイル \"" + missing.string() +
                                          "\". " + SystemErrorText(ENOENT) + " は開けません|OK");
  EXPECT_EQ(Fields(bench.Form), before);
}

#ifndef _WIN32
// A folder that takes no new file, whoever runs the test: the process's own
// descriptor folder. The package is reached through its descriptor there.
TEST(OpenFileTest, UnwritableFolderIsAnErrorBoxNamingTheImage) {
  ScratchFolder scratch;
  const Bytes image = {1, 2, 3, 4};
  WriteBytes(scratch.Path() / "good.tvu", Package("201022", image));
  WriteBytes(scratch.Path() / "other.tvu", Package("201044", {9}));
  FormBench bench;
  OpenPackage(bench, scratch.Path() / "good.tvu");
  const LoadedFields before = Fields(bench.Form);
  bench.Operator.Records.clear();

  const int fd = ::open((scratch.Path() / "other.tvu").c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  OpenPackage(bench, "/proc/self/fd/" + std::to_string(fd));
  const std::string image_path = (std::filesystem::current_path() / "_fwbin").string();
  ::close(fd);
  ASSERT_EQ(bench.Operator.Records.size(), 2u);  // the open dialog and the error
  const auto& error = bench.Operator.Records[1];
  EXPECT_EQ(error.Kind, "MessageBox[error]");
  EXPECT_EQ(error.Caption, "MVXTVUP");
  EXPECT_TRUE(error.Text.starts_with("ファイル \"" + image_path + "\". ")) << error.Text;
  EXPECT_TRUE(error.Text.ends_with(" を作成できません")) << error.Text;
  EXPECT_EQ(Fields(bench.Form), before);
  EXPECT_FALSE(bench.Form.PackageCheckInProgress);
}
#endif

TEST(OpenFileTest, NameOutsideCodePage932IsRefused) {
  ScratchFolder scratch;
  WriteBytes(scratch.Path() / "good.tvu", Package("201022", {1}));
  const std::string bad_name = "fw\xF0\x9F\x98\x80.tvu";
  WriteBytes(scratch.Path() / testing::Utf8Path(bad_name), Package("201099", {2}));
  FormBench bench;
  OpenPackage(bench, scratch.Path() / "good.tvu");
  const LoadedFields before = Fields(bench.Form);
  const TFileStream* stream = bench.Form.FirmwareImage.get();
#ifndef _WIN32
  std::filesystem::remove(scratch.Path() / "_fwbin");  // to see that none is written
#endif
  bench.Operator.Records.clear();

  OpenPackage(bench, scratch.Path() / testing::Utf8Path(bad_name));
  ASSERT_EQ(bench.Operator.Records.size(), 2u);
  const auto& box = bench.Operator.Records[1];
  EXPECT_EQ(box.Kind, "MessageBox[warning]");
  EXPECT_EQ(box.Caption, "MVXTVUP");
  EXPECT_NE(box.Text.find(bad_name), std::string::npos) << box.Text;
  EXPECT_EQ(bench.Form.FirmwareImage.get(), stream);
  EXPECT_EQ(Fields(bench.Form), before);
#ifdef _WIN32
  // Windows keeps the open image from being removed: it must be unchanged.
  EXPECT_EQ(ReadBytes(scratch.Path() / "_fwbin"), Bytes{1});
#else
  EXPECT_FALSE(std::filesystem::exists(scratch.Path() / "_fwbin"));
#endif

  // A Japanese name travels in code page 932 and is accepted.
  WriteBytes(scratch.Path() / testing::Utf8Path("更新.tvu"), Package("201099", {2}));
  OpenPackage(bench, scratch.Path() / testing::Utf8Path("更新.tvu"));
  EXPECT_EQ(bench.Form.PackageFileName, "更新.tvu");
}

}  // namespace
}  // namespace mvx
