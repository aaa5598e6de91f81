// The package check and extraction on any file. The first input byte chooses
// fix-ups that let the rest reach the deep checks (a size field equal to the
// length, a check value that makes the XOR zero, the right access value);
// the rest is the package.
//
// Properties: an accepted package has a known magic and mode, a size field
// equal to its length and a zero XOR, and leaves exactly its image in
// "_fwbin" with that image's digest; a package that passes all those rules is
// accepted; a rejection leaves the earlier "_fwbin" as it was; no temporary
// file is ever left behind.
#include <openssl/evp.h>

#include <cstring>

#include "fuzz/fuzz_support.h"
#include "package/package_check.h"

namespace {

using mvx::fuzz::Bytes;

constexpr std::string_view kPackageFile = "package.tvu";
constexpr std::string_view kEarlierImage = "the image of an earlier package";

void PutLittleEndian32(std::string& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4 && offset + i < bytes.size(); ++i)
    bytes[offset + i] = static_cast<char>(value >> (8 * i));
}

std::uint8_t NaiveXor(std::string_view bytes) {
  std::uint8_t x = 0;
  for (char c : bytes) x ^= static_cast<std::uint8_t>(c);
  return x;
}

std::string Md5Upper(std::string_view bytes) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  MVX_FUZZ_CHECK(EVP_Digest(bytes.data(), bytes.size(), digest, &length, EVP_md5(), nullptr) == 1);
  std::string hex;
  for (unsigned i = 0; i < length; ++i) {
    hex += "0123456789ABCDEF"[digest[i] >> 4];
    hex += "0123456789ABCDEF"[digest[i] & 15];
  }
  return hex;
}

std::string HeaderText(std::string_view package, std::size_t offset, std::size_t length) {
  std::string text;
  for (std::size_t i = offset; i < offset + length && i < package.size() && package[i] != 0; ++i)
    text += package[i];
  return text;
}

// The package rules, read straight off the bytes.
bool FollowsTheRules(std::string_view package, bool access_given) {
  if (package.size() < mvx::kPackageHeaderSize) return false;
  const std::string_view magic = package.substr(0, 5);
  if (magic != "Tavun" && magic != "Tavu2") return false;
  const std::string type = HeaderText(package, 8, 6).substr(0, 3);
  if (type != "201" && !((type == "211" || type == "212") && access_given)) return false;
  std::uint32_t size = 0, check = 0;
  std::memcpy(&size, package.data() + 56, 4);
  std::memcpy(&check, package.data() + 60, 4);
  if (size != package.size()) return false;
  return check == NaiveXor(package.substr(mvx::kPackageHeaderSize));
}

mvx::fuzz::WorkDir* work_dir = nullptr;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static mvx::fuzz::WorkDir dir("package", argc, argv);
  work_dir = &dir;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Bytes in(data, size);
  const std::uint8_t fixups = in.U8();
  std::string package(in.Rest());
  if ((fixups & 1) != 0) PutLittleEndian32(package, 56, static_cast<std::uint32_t>(package.size()));
  if ((fixups & 2) != 0 && package.size() >= mvx::kPackageHeaderSize)
    PutLittleEndian32(package, 60, NaiveXor(std::string_view(package).substr(64)));
  const bool access_given = (fixups & 4) != 0;

  mvx::fuzz::WriteFile(std::string(kPackageFile), package);
  // After a rejection "_fwbin" still holds the earlier image (checked below):
  // it is written again only after an acceptance replaced it.
  static bool earlier_image_in_place = false;
  if (!earlier_image_in_place) mvx::fuzz::WriteFile(mvx::kFirmwareFile, kEarlierImage);

  // Header fields never run past their places.
  const mvx::PackageHeader header = mvx::ParsePackageHeader(
      {reinterpret_cast<const std::uint8_t*>(package.data()), package.size()});
  MVX_FUZZ_CHECK(header.Magic.size() == 5);
  MVX_FUZZ_CHECK(header.UpdateVersion.size() <= 6);
  MVX_FUZZ_CHECK(header.UpdateVersion.find('\0') == std::string::npos);
  MVX_FUZZ_CHECK(header.UpdateTypeCode.size() <= 3);
  MVX_FUZZ_CHECK(header.UpdateVersionNumber.size() <= 3);
  MVX_FUZZ_CHECK(header.SpecialModelCode.size() <= 6);
  MVX_FUZZ_CHECK(header.SpecialModelCode.find('\0') == std::string::npos);

  std::string error;
  auto stream = mvx::TFileStream::OpenRead(std::string(kPackageFile), &error);
  MVX_FUZZ_CHECK(stream != nullptr);
  mvx::PackageCheckSteps steps;
  int questions = 0;
  steps.AskAccess = [&](const mvx::PackageMode&) -> std::optional<std::string> {
    ++questions;
    return access_given ? std::optional<std::string>(mvx::kPackageAccessValue)
                        : std::optional<std::string>("0000000");
  };
  const mvx::PackageCheckResult result =
      mvx::CheckAndExtractPackage(*stream, mvx::kFirmwareFile, steps);
  stream.reset();

  MVX_FUZZ_CHECK(result.FileSize == static_cast<std::int64_t>(package.size()));
  MVX_FUZZ_CHECK(questions <= 1);
  std::string image;
  MVX_FUZZ_CHECK(mvx::fuzz::ReadFile(mvx::kFirmwareFile, image));
  const bool accepted = result.Verdict == mvx::PackageVerdict::Accepted;
  earlier_image_in_place = !accepted;
  MVX_FUZZ_CHECK(accepted == FollowsTheRules(package, access_given));
  if (accepted) {
    MVX_FUZZ_CHECK(package.size() >= mvx::kPackageHeaderSize);
    MVX_FUZZ_CHECK(static_cast<std::int64_t>(result.Header.DeclaredSize) == result.FileSize);
    MVX_FUZZ_CHECK(result.Header.CheckValue <= 0xFF);
    MVX_FUZZ_CHECK((result.Header.CheckValue ^ NaiveXor(image)) == 0);
    MVX_FUZZ_CHECK(mvx::FindPackageMode(result.Header.UpdateTypeCode) != nullptr);
    MVX_FUZZ_CHECK(image == std::string_view(package).substr(mvx::kPackageHeaderSize));
    MVX_FUZZ_CHECK(result.ImageSize == static_cast<std::int64_t>(image.size()));
    MVX_FUZZ_CHECK(result.Digest == Md5Upper(image));
  } else {
    MVX_FUZZ_CHECK(image == kEarlierImage);
    MVX_FUZZ_CHECK(result.Digest.empty());
  }
  // Only the package and the image: no temporary file survives a check.
  const std::vector<std::string> expected = {mvx::kFirmwareFile, std::string(kPackageFile)};
  MVX_FUZZ_CHECK(work_dir->Names() == expected);
  return 0;
}
