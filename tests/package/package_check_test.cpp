// The package checks on their own: every rejection cause, both magics, the
// modes and their confirmation, the header fields, and the order of the steps.
#include <gtest/gtest.h>

#include <optional>

#include "package/package_check.h"
#include "package_files.h"

namespace mvx {
namespace {

using testing::Bytes;
using testing::Package;
using testing::Put32;
using testing::ScratchFolder;

struct CheckRun {
  PackageCheckResult Result;
  std::vector<std::string> Steps;  // what the check told, in order
};

// Writes the bytes as a package, checks it, and answers a confirmation with
// access (nothing: the warning declined).
CheckRun Check(const Bytes& bytes, std::optional<std::string> access = std::nullopt) {
  testing::WriteBytes("p.tvu", bytes);
  const auto stream = TFileStream::OpenRead("p.tvu", nullptr);
  EXPECT_NE(stream, nullptr);
  CheckRun run;
  PackageCheckSteps steps;
  steps.VersionRead = [&](const PackageHeader& h) {
    run.Steps.push_back("version " + h.UpdateVersion);
  };
  steps.ModeChosen = [&](const PackageMode& m) {
    run.Steps.push_back("mode " + std::string(m.Text));
  };
  steps.AskAccess = [&](const PackageMode& m) {
    run.Steps.push_back("ask " + std::string(m.InputCaption));
    return access;
  };
  steps.SpecialCodeRead = [&](const PackageHeader& h) {
    run.Steps.push_back("special " + h.SpecialModelCode);
  };
  run.Result = CheckAndExtractPackage(*stream, "_fwbin", steps);
  return run;
}

Bytes WithByte(Bytes bytes, std::size_t offset, std::uint8_t value) {
  bytes[offset] = value;
  return bytes;
}

TEST(PackageCheckTest, VerdictForEachCause) {
  const Bytes image = {0x01, 0x02, 0x03};  // XOR 0
  const Bytes good = Package("201022", image);
  Bytes appended_zero = good;
  appended_zero.push_back(0);
  Bytes upper_check_bytes = good;
  Put32(upper_check_bytes, 60, 0x00010000);  // lowest byte right, the rest not
  Bytes negative_size = good;
  Put32(negative_size, 56, 0xFFFFFFFF);
  // 60 bytes that say they are 60: the check field beyond the end reads as 0.
  Bytes short_file(good.begin(), good.begin() + 60);
  Put32(short_file, 56, 60);
  Bytes short_63 = Package("201022", {});
  short_63.resize(63);
  Put32(short_63, 56, 63);

  struct Case {
    const char* name;
    Bytes bytes;
    PackageVerdict verdict;
  } cases[] = {
      {"Tavun", good, PackageVerdict::Accepted},
      {"Tavu2", Package("201022", image, "", "Tavu2"), PackageVerdict::Accepted},
      {"lower-case magic", WithByte(good, 0, 't'), PackageVerdict::BadMagic},
      {"upper-case magic", WithByte(WithByte(good, 3, 'U'), 4, 'N'), PackageVerdict::BadMagic},
      {"other fifth byte", WithByte(good, 4, 'x'), PackageVerdict::BadMagic},
      {"NUL fifth byte", WithByte(good, 4, 0), PackageVerdict::BadMagic},
      {"empty file", {}, PackageVerdict::BadMagic},
      {"four bytes", {'T', 'a', 'v', 'u'}, PackageVerdict::BadMagic},
      {"unknown type code", Package("202022", image), PackageVerdict::BadMode},
      {"type code in other case", Package("2O1022", image), PackageVerdict::BadMode},
      {"version of two characters", Package("20", image), PackageVerdict::BadMode},
      {"empty version", WithByte(good, 8, 0), PackageVerdict::BadMode},
      {"one zero byte appended", appended_zero, PackageVerdict::BadSize},
      {"one byte cut", Bytes(good.begin(), good.end() - 1), PackageVerdict::BadSize},
      {"size field -1", negative_size, PackageVerdict::BadSize},
      {"60 bytes claiming 60", short_file, PackageVerdict::BadSize},
      {"63 bytes claiming 63", short_63, PackageVerdict::BadSize},
      {"check field 1", WithByte(good, 60, 1), PackageVerdict::BadCheckValue},
      {"upper check bytes set", upper_check_bytes, PackageVerdict::BadCheckValue},
      {"image byte flipped", WithByte(good, 65, 0x03), PackageVerdict::BadCheckValue},
  };
  for (const Case& c : cases) {
    ScratchFolder folder;
    const CheckRun run = Check(c.bytes);
    EXPECT_EQ(run.Result.Verdict, c.verdict) << c.name;
    EXPECT_EQ(std::filesystem::exists("_fwbin"), c.verdict == PackageVerdict::Accepted) << c.name;
  }
}

TEST(PackageCheckTest, VerdictTexts) {
  EXPECT_EQ(VerdictText(PackageVerdict::BadMagic), "Invalid File.(01)");
  EXPECT_EQ(VerdictText(PackageVerdict::BadMode), "Invalid File.(02)");
  EXPECT_EQ(VerdictText(PackageVerdict::BadSize), "Invalid File.(03)");
  EXPECT_EQ(VerdictText(PackageVerdict::BadCheckValue), "Invalid File.(04)");
  EXPECT_EQ(VerdictText(PackageVerdict::Accepted), "accepted");
}

TEST(PackageCheckTest, ConfirmedModesNeedTheAccessValue) {
  struct Case {
    const char* version;
    std::optional<std::string> access;
    PackageVerdict verdict;
  } cases[] = {
      {"211001", "8264085", PackageVerdict::Accepted},
      {"211001", "8264086", PackageVerdict::BadMode},
      {"211001", "8264085 ", PackageVerdict::BadMode},
      {"211001", "", PackageVerdict::BadMode},            // input box cancelled
      {"211001", std::nullopt, PackageVerdict::BadMode},  // warning declined
      {"212001", "8264085", PackageVerdict::Accepted},
      {"212001", "9137", PackageVerdict::BadMode},
      {"212001", "", PackageVerdict::BadMode},
      {"212001", std::nullopt, PackageVerdict::BadMode},
  };
  for (const Case& c : cases) {
    ScratchFolder folder;
    const CheckRun run = Check(Package(c.version, {7, 7}), c.access);
    const std::string label = std::string(c.version) + " " + c.access.value_or("(declined)");
    EXPECT_EQ(run.Result.Verdict, c.verdict) << label;
    const bool mockup = std::string(c.version).starts_with("211");
    EXPECT_EQ(run.Steps.at(2), mockup ? "ask Mockup mode" : "ask Ping marker mode") << label;
  }
}

TEST(PackageCheckTest, StepsComeInTheOperatorsOrder) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<std::string> access;
    std::vector<std::string> steps;
  } cases[] = {
      {"normal",
       Package("201022", {1}, "SAR"),
       std::nullopt,
       {"version 201022", "mode Normal mode", "special SAR"}},
      {"mockup",
       Package("211005", {1}),
       "8264085",
       {"version 211005", "mode Mockup mode", "ask Mockup mode", "special "}},
      {"ping marker declined",
       Package("212005", {1}),
       std::nullopt,
       {"version 212005", "mode Ping marker mode", "ask Ping marker mode"}},
      {"unknown code: no mode, no question", Package("999005", {1}), "8264085", {"version 999005"}},
      {"bad magic: nothing", Package("201022", {1}, "", "Tavu2"), std::nullopt, {}},
      // The special code is read before the size is compared.
      {"bad size", Bytes(67, 0), std::nullopt, {}},
  };
  cases[4].bytes[4] = '3';
  cases[5].bytes = Package("201022", {1, 2, 3}, "KS");
  cases[5].bytes.push_back(0);
  cases[5].steps = {"version 201022", "mode Normal mode", "special KS"};
  for (const Case& c : cases) {
    ScratchFolder folder;
    EXPECT_EQ(Check(c.bytes, c.access).Steps, c.steps) << c.name;
  }
}

TEST(PackageCheckTest, HeaderFieldsStopAtNulAndAtTheirLength) {
  Bytes bytes = Package("201022", {0x10, 0x10}, "ABCDEF");
  for (std::size_t i = 20; i < 56; ++i) bytes[i] = 'X';  // the ignored area
  bytes[5] = bytes[6] = bytes[7] = 'Y';
  const PackageHeader h = ParsePackageHeader(bytes);
  EXPECT_EQ(h.Magic, "Tavun");
  EXPECT_EQ(h.UpdateVersion, "201022");
  EXPECT_EQ(h.UpdateTypeCode, "201");
  EXPECT_EQ(h.UpdateVersionNumber, "022");
  EXPECT_EQ(h.SpecialModelCode, "ABCDEF");
  EXPECT_EQ(h.DeclaredSize, 66);

  Bytes padded = Package("2110", {}, "S");
  padded[10] = 0;  // "21" then NUL: the rest of the field is not read
  padded[11] = '9';
  const PackageHeader p = ParsePackageHeader(padded);
  EXPECT_EQ(p.UpdateVersion, "21");
  EXPECT_EQ(p.UpdateTypeCode, "21");
  EXPECT_EQ(p.UpdateVersionNumber, "");
  EXPECT_EQ(p.SpecialModelCode, "S");

  // Bytes missing at the end of a short file read as zero.
  const PackageHeader s = ParsePackageHeader(Bytes{'T', 'a', 'v', 'u', 'n', 0, 0, 0, '2', '0'});
  EXPECT_EQ(s.UpdateVersion, "20");
  EXPECT_EQ(s.DeclaredSize, 0);
  EXPECT_EQ(s.CheckValue, 0u);
}

TEST(PackageCheckTest, HeaderOnlyPackageGivesEmptyImage) {
  ScratchFolder folder;
  const CheckRun run = Check(Package("201022", {}));
  ASSERT_EQ(run.Result.Verdict, PackageVerdict::Accepted);
  EXPECT_EQ(run.Result.ImageSize, 0);
  EXPECT_EQ(run.Result.Digest, "D41D8CD98F00B204E9800998ECF8427E");
  ASSERT_TRUE(std::filesystem::exists("_fwbin"));
  EXPECT_EQ(std::filesystem::file_size("_fwbin"), 0u);
}

// A size field of 2^31 equals the size of a file of 2^31 bytes only when it is
// read unsigned; read as a signed number it is negative and never matches.
TEST(PackageCheckTest, SizeFieldIsSigned) {
  ScratchFolder folder;
  Bytes header = Package("201022", {});
  Put32(header, 56, 0x80000000u);
  testing::WriteBytes("big.tvu", header);
  std::filesystem::resize_file("big.tvu", 0x80000000ull);  // sparse: image of zeros
  const auto stream = TFileStream::OpenRead("big.tvu", nullptr);
  ASSERT_NE(stream, nullptr);
  const PackageCheckResult result = CheckAndExtractPackage(*stream, "_fwbin", {});
  EXPECT_EQ(result.FileSize, 0x80000000ll);
  EXPECT_EQ(result.Header.DeclaredSize, INT32_MIN);
  EXPECT_EQ(result.Verdict, PackageVerdict::BadSize);
  EXPECT_FALSE(std::filesystem::exists("_fwbin"));
}

}  // namespace
}  // namespace mvx
