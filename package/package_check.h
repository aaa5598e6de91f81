// The package check with its extraction: one pass over the file that checks
// the header, XORs and digests the firmware image while it streams into a
// temporary file beside the image file, and puts that file in place only when
// the package is accepted. Memory use does not grow with the package.
#pragma once

#include <cstdint>
#include <string>

#include "base/errors.h"
#include "base/file_stream.h"
#include "package/package_header.h"

namespace mvx {

// A file the check could not read or write. The text is the operator's
// message; Path is the file's full path and Reason the system's description.
class EPackageFileError : public EAppError {
 public:
  enum class Kind { Open, Create };
  EPackageFileError(Kind kind, std::string path, std::string reason);
  Kind FileKind;
  std::string Path;
  std::string Reason;
};

// The image file a package check leaves in the working folder.
inline constexpr const char* kFirmwareFile = "_fwbin";

// The XOR of every byte.
std::uint8_t XorBytes(const std::uint8_t* data, std::size_t length);

// The file's full path, as the operator's messages name it.
std::string FullPath(const std::string& file_name);

struct PackageCheckResult {
  PackageVerdict Verdict = PackageVerdict::BadMagic;
  PackageHeader Header;
  std::int64_t FileSize = 0;
  std::int64_t ImageSize = 0;  // bytes extracted; on acceptance only
  std::string Digest;          // upper-case hexadecimal; on acceptance only
};

// Checks the package held open in package (read from its start) and, on
// acceptance, leaves its firmware image in firmware_file (a relative name is
// taken in the working directory) and returns its MD5. A rejection or an
// error leaves any earlier firmware_file as it was and no partial file
// behind. Throws EPackageFileError when the package cannot be read or the
// image file cannot be written (naming firmware_file, whatever temporary name
// failed).
PackageCheckResult CheckAndExtractPackage(TFileStream& package, const std::string& firmware_file,
                                          const PackageCheckSteps& steps);

}  // namespace mvx
