// The streaming extraction: what lands on disk, what never does, the digest,
// and the file errors.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <csignal>

#include "package/md5.h"
#include "package/package_check.h"
#include "package_files.h"

namespace mvx {
namespace {

using testing::Bytes;
using testing::Listing;
using testing::Package;
using testing::ReadBytes;
using testing::SampleImage;
using testing::ScratchFolder;
using testing::WriteBytes;

PackageCheckResult CheckFile(const std::string& path, const std::string& firmware = "_fwbin") {
  std::string error;
  const auto stream = TFileStream::OpenRead(path, &error);
  if (!stream) throw std::runtime_error(error);
  return CheckAndExtractPackage(*stream, firmware, {});
}

TEST(ExtractionTest, AcceptedImageLandsWholeWithItsDigest) {
  // Several blocks of the stream and a ragged end.
  for (const std::size_t size : {std::size_t{1}, std::size_t{3}, std::size_t{600001}}) {
    ScratchFolder folder;
    const Bytes image = SampleImage(size);
    WriteBytes("p.tvu", Package("201022", image));
    const PackageCheckResult result = CheckFile("p.tvu");
    ASSERT_EQ(result.Verdict, PackageVerdict::Accepted) << size;
    EXPECT_EQ(result.ImageSize, static_cast<std::int64_t>(size));
    EXPECT_EQ(ReadBytes("_fwbin"), image) << size;
    const std::string digest = DigestFileHex("_fwbin");
    ASSERT_EQ(digest.size(), 32u);
    std::string upper = digest;
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(result.Digest, upper) << size;
    // Nothing but the package and its image.
    EXPECT_EQ(Listing(folder.Path()), (std::set<std::string>{"_fwbin", "p.tvu"}));
  }
}

TEST(ExtractionTest, KnownDigest) {
  ScratchFolder folder;
  WriteBytes("p.tvu", Package("201022", testing::ToBytes("abc")));
  EXPECT_EQ(CheckFile("p.tvu").Digest, "900150983CD24FB0D6963F7D28E17F72");
}

TEST(ExtractionTest, RejectionLeavesEarlierImageAndNoOtherFile) {
  Bytes bad_check = Package("201022", SampleImage(700000));
  bad_check[60] ^= 0x55;
  Bytes bad_size = Package("201022", SampleImage(700000));
  bad_size.push_back(0);
  const Bytes cases[] = {bad_check, bad_size, Package("299022", {1})};
  for (const Bytes& bytes : cases) {
    ScratchFolder folder;
    const Bytes earlier = testing::ToBytes("the earlier image");
    WriteBytes("_fwbin", earlier);
    WriteBytes("p.tvu", bytes);
    EXPECT_NE(CheckFile("p.tvu").Verdict, PackageVerdict::Accepted);
    EXPECT_EQ(ReadBytes("_fwbin"), earlier);
    EXPECT_EQ(Listing(folder.Path()), (std::set<std::string>{"_fwbin", "p.tvu"}));
  }
}

TEST(ExtractionTest, AcceptanceReplacesEarlierImage) {
  ScratchFolder folder;
  WriteBytes("_fwbin", SampleImage(5000));
  const Bytes image = {9, 8, 7};
  WriteBytes("p.tvu", Package("201022", image));
  ASSERT_EQ(CheckFile("p.tvu").Verdict, PackageVerdict::Accepted);
  EXPECT_EQ(ReadBytes("_fwbin"), image);
}

#ifndef _WIN32
// The file-size limit makes a write fail part-way, as a full disk would.
TEST(ExtractionTest, WriteFailureLeavesNoPartialImage) {
  ScratchFolder folder;
  const Bytes earlier = testing::ToBytes("the earlier image");
  WriteBytes("_fwbin", earlier);
  WriteBytes("p.tvu", Package("201022", SampleImage(2 << 20)));
  const std::string expected_path = (folder.Path() / "_fwbin").string();

  rlimit saved{};
  getrlimit(RLIMIT_FSIZE, &saved);
  const auto previous_handler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = 300000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  bool thrown = false;
  try {
    CheckFile("p.tvu");
  } catch (const EPackageFileError& e) {
    thrown = true;
    EXPECT_EQ(e.FileKind, EPackageFileError::Kind::Create);
    EXPECT_EQ(e.Path, expected_path);
    EXPECT_EQ(std::string(e.what()), "ファイル \"" + expected_path + "\". " +
                                         SystemErrorText(EFBIG) + " を作成できません");
  }
  setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous_handler);
  EXPECT_TRUE(thrown);
  EXPECT_EQ(ReadBytes("_fwbin"), earlier);
  EXPECT_EQ(Listing(folder.Path()), (std::set<std::string>{"_fwbin", "p.tvu"}));
}
#endif

TEST(ExtractionTest, ImageFileThatCannotBeCreatedNamesIt) {
  ScratchFolder folder;
  WriteBytes("p.tvu", Package("201022", {1}));
  const std::string expected_path = (folder.Path() / "missing" / "_fwbin").string();
  try {
    CheckFile("p.tvu", "missing/_fwbin");
    ADD_FAILURE() << "no error";
  } catch (const EPackageFileError& e) {
    EXPECT_EQ(e.FileKind, EPackageFileError::Kind::Create);
    EXPECT_EQ(std::string(e.what()), "ファイル \"" + expected_path + "\". " +
                                         SystemErrorText(ENOENT) + " を作成できません");
  }
  EXPECT_EQ(Listing(folder.Path()), (std::set<std::string>{"p.tvu"}));
}

TEST(ExtractionTest, UnreadablePackageIsAnOpenError) {
  ScratchFolder folder;
  std::filesystem::create_directory("dir.tvu");
  std::string error;
  const auto stream = TFileStream::OpenRead("dir.tvu", &error);
  if (!stream) GTEST_SKIP() << "this system refuses to open a folder: " << error;
  try {
    CheckAndExtractPackage(*stream, "_fwbin", {});
    ADD_FAILURE() << "no error";
  } catch (const EPackageFileError& e) {
    EXPECT_EQ(e.FileKind, EPackageFileError::Kind::Open);
    EXPECT_EQ(e.Path, (folder.Path() / "dir.tvu").string());
    EXPECT_TRUE(std::string(e.what()).ends_with(" は開けません")) << e.what();
  }
  EXPECT_FALSE(std::filesystem::exists("_fwbin"));
}

TEST(DigestFileTest, KnownDigestsAndFailures) {
  ScratchFolder folder;
  WriteBytes("empty", {});
  EXPECT_EQ(DigestFileHex("empty"), "d41d8cd98f00b204e9800998ecf8427e");
  // More than one 8192-byte block.
  WriteBytes("million", Bytes(1000000, 'a'));
  EXPECT_EQ(DigestFileHex("million"), "7707d6ae4e027c70eea2a935c2296f21");
  EXPECT_EQ(DigestFileHex("no such file"), "");
  std::filesystem::create_directory("folder");
  EXPECT_EQ(DigestFileHex("folder"), "");
}

}  // namespace
}  // namespace mvx
