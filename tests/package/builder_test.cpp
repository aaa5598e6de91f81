// The package builder: what it writes and what it refuses.
#include <gtest/gtest.h>

#include <stdexcept>

#include "package/package_check.h"
#include "package_files.h"

namespace mvx {
namespace {

using testing::Bytes;

TEST(PackageBuilderTest, HeaderLayout) {
  const Bytes package = BuildPackage({"212034", "KS", "Tavu2"}, Bytes{0x01, 0x02, 0x03, 0x10});
  ASSERT_EQ(package.size(), 68u);
  Bytes expected(64, 0);
  const std::string text(
      "Tavu2\0\0\0"
      "212034"
      "KS",
      16);
  std::copy(text.begin(), text.end(), expected.begin());
  expected[56] = 68;
  expected[60] = 0x10;
  EXPECT_EQ(Bytes(package.begin(), package.begin() + 64), expected);
  EXPECT_EQ(Bytes(package.begin() + 64, package.end()), (Bytes{0x01, 0x02, 0x03, 0x10}));
}

TEST(PackageBuilderTest, StreamedPackageEqualsPackageInMemory) {
  testing::ScratchFolder folder;
  const Bytes image = testing::SampleImage(300001);
  {
    PackageWriter writer("w.tvu", {"201022", "SAR", "Tavun"});
    writer.Append(std::span(image.data(), 1000));
    writer.Append(std::span(image.data() + 1000, image.size() - 1000));
    writer.Finish();
  }
  EXPECT_EQ(testing::ReadBytes("w.tvu"), BuildPackage({"201022", "SAR", "Tavun"}, image));
}

TEST(PackageBuilderTest, UnfinishedWriterLeavesNoFile) {
  testing::ScratchFolder folder;
  {
    PackageWriter writer("w.tvu", {"201022", "", "Tavun"});
    writer.Append(Bytes{1, 2, 3});
  }
  EXPECT_FALSE(std::filesystem::exists("w.tvu"));
}

TEST(PackageBuilderTest, RefusesWhatNoPackageCanHold) {
  const PackageOptions cases[] = {
      {"", "", "Tavun"},
      {"2010221", "", "Tavun"},
      {"201022", "SEVENXX", "Tavun"},
      {"201022", "", "TAVUN"},
      {"201022", "", "Tavu"},
      {std::string{'2', '0', '\0', '2', '2'}, "", "Tavun"},
  };
  for (const PackageOptions& o : cases)
    EXPECT_THROW(ValidatePackageOptions(o, 0), std::invalid_argument)
        << o.Version << " " << o.Magic;
  // The size field is signed: 2^31 - 1 is the largest package.
  EXPECT_NO_THROW(ValidatePackageOptions({"201022", "", "Tavun"}, 0x7FFFFFFFull - 64));
  EXPECT_THROW(ValidatePackageOptions({"201022", "", "Tavun"}, 0x7FFFFFFFull - 63),
               std::invalid_argument);
}

}  // namespace
}  // namespace mvx
