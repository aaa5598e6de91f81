#include "package/package_builder.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <limits>
#include <stdexcept>
#include <utility>

#include "base/byte_order.h"
#include "base/file_stream.h"
#include "base/file_system.h"
#include "package/package_check.h"

namespace mvx {
namespace {

void PutText(std::array<std::uint8_t, kPackageHeaderSize>& header, std::size_t offset,
             const std::string& text) {
  std::memcpy(header.data() + offset, text.data(), text.size());
}

std::uint8_t XorOf(std::span<const std::uint8_t> data) {
  return XorBytes(data.data(), data.size());
}

}  // namespace

void ValidatePackageOptions(const PackageOptions& options, std::uint64_t image_size) {
  if (std::find(std::begin(kPackageMagics), std::end(kPackageMagics), options.Magic) ==
      std::end(kPackageMagics))
    throw std::invalid_argument("the magic must be \"Tavun\" or \"Tavu2\", not \"" + options.Magic +
                                "\"");
  if (options.Version.empty() || options.Version.size() > kVersionLength)
    throw std::invalid_argument("the version must have 1 to 6 characters");
  if (options.SpecialModelCode.size() > kSpecialCodeLength)
    throw std::invalid_argument("the special model code must have at most 6 characters");
  if (options.Version.find('\0') != std::string::npos ||
      options.SpecialModelCode.find('\0') != std::string::npos)
    throw std::invalid_argument("the version and the special model code cannot hold NUL bytes");
  // The size field is read as a signed 32-bit number.
  const std::uint64_t limit = static_cast<std::uint64_t>(std::numeric_limits<std::int32_t>::max());
  if (image_size > limit - kPackageHeaderSize)
    throw std::invalid_argument("the image is too large: a package holds at most " +
                                std::to_string(limit - kPackageHeaderSize) + " bytes");
}

std::array<std::uint8_t, kPackageHeaderSize> BuildPackageHeader(const PackageOptions& options,
                                                                std::uint64_t image_size,
                                                                std::uint8_t image_xor) {
  ValidatePackageOptions(options, image_size);
  std::array<std::uint8_t, kPackageHeaderSize> header{};
  PutText(header, kMagicOffset, options.Magic);
  PutText(header, kVersionOffset, options.Version);
  PutText(header, kSpecialCodeOffset, options.SpecialModelCode);
  StoreLE32(header.data() + kSizeOffset,
            static_cast<std::uint32_t>(image_size + kPackageHeaderSize));
  StoreLE32(header.data() + kCheckValueOffset, image_xor);
  return header;
}

std::vector<std::uint8_t> BuildPackage(const PackageOptions& options,
                                       std::span<const std::uint8_t> image) {
  const auto header = BuildPackageHeader(options, image.size(), XorOf(image));
  std::vector<std::uint8_t> package(header.size() + image.size());
  std::memcpy(package.data(), header.data(), header.size());
  if (!image.empty()) std::memcpy(package.data() + header.size(), image.data(), image.size());
  return package;
}

PackageWriter::PackageWriter(const std::string& path, PackageOptions options)
    : path_(path), options_(std::move(options)) {
  ValidatePackageOptions(options_, 0);
  file_ = OpenFile(path, "wb");
  if (file_ == nullptr) Fail(errno);
  // Room for the header, written when the image is complete.
  const std::array<std::uint8_t, kPackageHeaderSize> placeholder{};
  if (std::fwrite(placeholder.data(), 1, placeholder.size(), file_) != placeholder.size())
    Fail(errno);
}

PackageWriter::~PackageWriter() {
  if (file_ != nullptr) std::fclose(file_);
  if (!finished_) {
    std::error_code ignored;
    std::filesystem::remove(Utf8Path(path_), ignored);
  }
}

void PackageWriter::Fail(int error_number) {
  throw EPackageFileError(EPackageFileError::Kind::Create, FullPath(path_),
                          SystemErrorText(error_number != 0 ? error_number : EIO));
}

void PackageWriter::Append(std::span<const std::uint8_t> data) {
  if (data.empty()) return;
  image_size_ += data.size();
  ValidatePackageOptions(options_, image_size_);
  image_xor_ ^= XorOf(data);
  if (std::fwrite(data.data(), 1, data.size(), file_) != data.size()) Fail(errno);
}

void PackageWriter::Finish() {
  const auto header = BuildPackageHeader(options_, image_size_, image_xor_);
  if (std::fseek(file_, 0, SEEK_SET) != 0) Fail(errno);
  if (std::fwrite(header.data(), 1, header.size(), file_) != header.size()) Fail(errno);
  std::FILE* file = std::exchange(file_, nullptr);
  if (std::fclose(file) != 0) Fail(errno);
  finished_ = true;
}

void WritePackageFile(const std::string& path, const PackageOptions& options,
                      std::span<const std::uint8_t> image) {
  PackageWriter writer(path, options);
  writer.Append(image);
  writer.Finish();
}

}  // namespace mvx
