// Writes update packages: for firmware engineers (tvutool build), the demo,
// the scenario runner and the tests.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <vector>

#include "package/package_header.h"

namespace mvx {

struct PackageOptions {
  std::string Version;           // 1 to 6 characters, such as "201022"
  std::string SpecialModelCode;  // 0 to 6 characters, such as "SAR"
  std::string Magic = "Tavun";   // "Tavun" or "Tavu2"
};

// Throws std::invalid_argument naming what is wrong with the options, or an
// image that makes the package larger than its size field can say.
void ValidatePackageOptions(const PackageOptions& options, std::uint64_t image_size);

// The 64-byte header of a package whose image has image_size bytes whose XOR
// is image_xor.
std::array<std::uint8_t, kPackageHeaderSize> BuildPackageHeader(const PackageOptions& options,
                                                                std::uint64_t image_size,
                                                                std::uint8_t image_xor);

// A whole package in memory.
std::vector<std::uint8_t> BuildPackage(const PackageOptions& options,
                                       std::span<const std::uint8_t> image);

// Streams a package of any size into a file: the image is appended in pieces
// and the header, which depends on all of it, is written last. A writer that
// is destroyed before Finish removes its file. File errors throw
// EPackageFileError (Create, naming the package file).
class PackageWriter {
 public:
  PackageWriter(const std::string& path, PackageOptions options);
  ~PackageWriter();
  PackageWriter(const PackageWriter&) = delete;
  PackageWriter& operator=(const PackageWriter&) = delete;

  void Append(std::span<const std::uint8_t> data);
  void Finish();

 private:
  [[noreturn]] void Fail(int error_number);

  std::string path_;
  PackageOptions options_;
  std::FILE* file_ = nullptr;
  std::uint64_t image_size_ = 0;
  std::uint8_t image_xor_ = 0;
  bool finished_ = false;
};

// Writes a package to path from an image held in memory.
void WritePackageFile(const std::string& path, const PackageOptions& options,
                      std::span<const std::uint8_t> image);

}  // namespace mvx
